#include "WebCard.h"

#include "TextCodec.h"

#include <QIODevice>

namespace intake {

namespace {

// Spaces and NULs are both filler in the record's fields.
QStringView trimFiller(QStringView text) {
    qsizetype b = 0;
    qsizetype e = text.size();
    while (b < e && (text.at(b) == u' ' || text.at(b) == QChar::Null))
        ++b;
    while (e > b && (text.at(e - 1) == u' ' || text.at(e - 1) == QChar::Null))
        --e;
    return text.mid(b, e - b);
}

// A character no text of a card holds: a control character, or what the decoder gives for a byte
// that is no Windows-1252 character.
bool isNotText(QChar c) {
    return c.category() == QChar::Other_Control || c == QChar::ReplacementCharacter;
}

qsizetype firstNotText(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (isNotText(text.at(i)))
            return i;
    }
    return -1;
}

qsizetype firstNotPrintable(QStringView text) {
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (!text.at(i).isPrint() || text.at(i) == QChar::ReplacementCharacter)
            return i;
    }
    return -1;
}

WebRecord refused(RecordError error, int at) {
    WebRecord record;
    record.error = error;
    record.errorAt = at;
    return record;
}

QString byteText(char byte) {
    const auto b = static_cast<unsigned char>(byte);
    QString text = QStringLiteral("0x%1").arg(b, 2, 16, QLatin1Char('0'));
    if (b > 0x20 && b < 0x7f)
        text += QStringLiteral(" «%1»").arg(QChar(char16_t(b)));
    return text;
}

const store::CardField* fieldAt(int offset) {
    for (const store::CardField& f : store::cardFields()) {
        if (f.webOffset >= 0 && offset >= f.webOffset && offset < f.webOffset + f.webWidth)
            return &f;
    }
    return nullptr;
}

} // namespace

bool carriedByRecord(store::Field field) {
    return store::cardField(field).webOffset >= 0;
}

bool isFillerByte(char byte) {
    return byte == '\r' || byte == '\n' || byte == ' ' || byte == '\0';
}

WebRecord readRecord(QByteArrayView bytes) {
    if (bytes.size() < kRecordSize)
        return refused(RecordError::TooShort, -1);
    // Random bytes almost never repeat one byte at nineteen places; a shifted or foreign record
    // does not either.
    for (int at : kSeparatorOffsets) {
        if (bytes[at] != bytes[kSeparatorOffsets[0]])
            return refused(RecordError::Separators, at);
    }

    WebRecord record;
    for (const store::CardField& f : store::cardFields()) {
        if (f.webOffset < 0)
            continue;
        const QString text = store::fromWindows1252(bytes.sliced(f.webOffset, f.webWidth));
        switch (f.field) {
        case store::Codigo: {
            const QStringView code = trimFiller(text);
            if (code.isEmpty())
                return refused(RecordError::EmptyCode, f.webOffset);
            if (const qsizetype i = firstNotPrintable(code); i >= 0)
                return refused(RecordError::CodeNotPrintable,
                               f.webOffset + static_cast<int>(code.data() - text.data() + i));
            record.card[f.field] = code.toString();
            break;
        }
        case store::Sexo: {
            const QStringView word = trimFiller(text);
            if (const qsizetype i = firstNotText(word); i >= 0)
                return refused(RecordError::ValueNotText,
                               f.webOffset + static_cast<int>(word.data() - text.data() + i));
            // Only the exact word counts as male; "macho", "Hembra" and blanks are all female.
            record.card[f.field] = word == u"Macho" ? QStringLiteral("M") : QStringLiteral("H");
            break;
        }
        default: {
            QString value = text;
            value.replace(QChar::Null, u' ');
            if (const qsizetype i = firstNotText(value); i >= 0)
                return refused(RecordError::ValueNotText, f.webOffset + static_cast<int>(i));
            record.card[f.field] = value;
            break;
        }
        }
    }
    return record;
}

QString refusalReason(QByteArrayView record, const WebRecord& read, qint64 start) {
    const qint64 at = start + read.errorAt;
    const store::CardField* field = read.errorAt >= 0 ? fieldAt(read.errorAt) : nullptr;
    const QString fieldName = field ? field->gridHeader.toString() : QString();
    switch (read.error) {
    case RecordError::None:
        break;
    case RecordError::TooShort:
        return QStringLiteral("tiene %1 bytes y una ficha completa tiene %2")
            .arg(record.size())
            .arg(kRecordSize);
    case RecordError::Separators:
        return QStringLiteral("no tiene la forma de una ficha web: el separador del byte %1 es %2 "
                              "y el del byte %3 es %4")
            .arg(at)
            .arg(byteText(record[read.errorAt]))
            .arg(start + kSeparatorOffsets[0])
            .arg(byteText(record[kSeparatorOffsets[0]]));
    case RecordError::ValueNotText:
        return QStringLiteral("el campo %1 tiene en el byte %2 un carácter que no es texto (%3)")
            .arg(fieldName)
            .arg(at)
            .arg(byteText(record[read.errorAt]));
    case RecordError::EmptyCode:
        return QStringLiteral("no trae código de microchip");
    case RecordError::CodeNotPrintable:
        return QStringLiteral("el código de microchip tiene en el byte %1 un carácter que no se "
                              "puede mostrar (%2)")
            .arg(at)
            .arg(byteText(record[read.errorAt]));
    }
    return QString();
}

int WebFile::failed() const {
    for (size_t i = 0; i < records.size(); ++i) {
        if (!records[i].ok())
            return static_cast<int>(i);
    }
    return -1;
}

WebFile readWebFile(QByteArrayView bytes) {
    WebFile file;
    if (bytes.size() > kMaxFileBytes) {
        file.tooLarge = true;
        return file;
    }
    // The records end where the last byte that is not filler lies; filler after it is ignored.
    qsizetype end = bytes.size();
    while (end > 0 && isFillerByte(bytes[end - 1]))
        --end;
    for (qsizetype at = 0; at < end; at += kRecordSize) {
        if (bytes.size() - at < kRecordSize) {
            file.incompleteBytes = bytes.size() - at;
            break;
        }
        const QByteArrayView record = bytes.sliced(at, kRecordSize);
        file.records.push_back(readRecord(record));
        if (!file.records.back().ok()) {
            file.failedRecord = record.toByteArray();
            break;
        }
    }
    return file;
}

WebFile readWebFile(QIODevice& device) {
    // One read more than the limit tells a file that is too large without reading it all.
    QByteArray bytes;
    bytes.reserve(64 * 1024);
    char buffer[64 * 1024];
    for (;;) {
        const qint64 n = device.read(buffer, sizeof buffer);
        if (n < 0) {
            WebFile file;
            file.readError = device.errorString();
            return file;
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
        if (bytes.size() > kMaxFileBytes) {
            WebFile file;
            file.tooLarge = true;
            return file;
        }
    }
    return readWebFile(bytes);
}

} // namespace intake
