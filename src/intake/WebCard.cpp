#include "WebCard.h"

#include "TextCodec.h"

#include <QIODevice>

namespace intake {

bool carriedByRecord(store::Field field) {
    return store::cardField(field).webOffset >= 0;
}

WebRecord readRecord(QByteArrayView bytes) {
    WebRecord record;
    if (bytes.size() < kRecordSize) {
        record.error = RecordError::TooShort;
        return record;
    }
    for (const store::CardField& f : store::cardFields()) {
        if (f.webOffset < 0)
            continue;
        const QString text = store::fromWindows1252(bytes.sliced(f.webOffset, f.webWidth));
        switch (f.field) {
        case store::Codigo:
            record.card[f.field] = store::trimSpaces(text);
            break;
        case store::Sexo:
            // Only the exact word counts as male; "macho", "Hembra" and blanks are all female.
            record.card[f.field] =
                store::trimSpaces(text) == u"Macho" ? QStringLiteral("M") : QStringLiteral("H");
            break;
        default:
            record.card[f.field] = text;
            break;
        }
    }
    if (record.card[store::Codigo].isEmpty())
        record.error = RecordError::EmptyCode;
    return record;
}

WebFile readWebFile(QByteArrayView bytes) {
    WebFile file;
    qsizetype at = 0;
    for (; bytes.size() - at >= kRecordSize; at += kRecordSize)
        file.records.push_back(readRecord(bytes.sliced(at, kRecordSize)));
    file.trailingBytes = bytes.size() - at;
    return file;
}

WebFile readWebFile(QIODevice& device) {
    WebFile file;
    QByteArray buffer(kRecordSize, '\0');
    for (;;) {
        // A device may hand over less than asked before its end, so fill the record in turns.
        qsizetype got = 0;
        while (got < kRecordSize) {
            const qint64 n = device.read(buffer.data() + got, kRecordSize - got);
            if (n < 0) {
                file.readError = device.errorString();
                file.trailingBytes += got;
                return file;
            }
            if (n == 0)
                break;
            got += n;
        }
        if (got < kRecordSize) {
            file.trailingBytes = got;
            return file;
        }
        file.records.push_back(readRecord(buffer));
    }
}

} // namespace intake
