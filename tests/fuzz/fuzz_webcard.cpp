// libFuzzer target for the web card reader: any bytes must be read without a fault, the byte and
// the device readers must agree, and every record read must have the shape the store expects.
#include "WebCard.h"

#include <QBuffer>

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "web card reader: %s\n", what);
        std::abort();
    }
}

void checkRecord(const intake::WebRecord& record) {
    if (record.error == intake::RecordError::TooShort)
        return;
    const QString& code = record.card[store::Codigo];
    require(record.ok() == !code.isEmpty(), "a record is refused exactly when its code is empty");
    require(code.isEmpty() || (code.front() != u' ' && code.back() != u' '),
            "the code is trimmed of spaces");
    require(code.size() <= store::cardField(store::Codigo).webWidth, "the code fits its field");
    const QString& sexo = record.card[store::Sexo];
    require(sexo == u"M" || sexo == u"H", "sexo is M or H");
    for (const store::CardField& f : store::cardFields()) {
        if (f.webOffset < 0) {
            require(record.card.isNull(f.field), "a field the record lacks stays null");
        } else if (f.field != store::Codigo && f.field != store::Sexo) {
            require(record.card[f.field].size() == f.webWidth, "one character per byte");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const intake::WebRecord first = intake::readRecord(bytes);
    require((first.error == intake::RecordError::TooShort) == (bytes.size() < intake::kRecordSize),
            "only a short buffer is too short");
    checkRecord(first);

    const intake::WebFile fromBytes = intake::readWebFile(bytes);
    require(static_cast<qsizetype>(fromBytes.records.size()) == bytes.size() / intake::kRecordSize,
            "every whole record is read");
    require(fromBytes.trailingBytes == bytes.size() % intake::kRecordSize,
            "the bytes after the last whole record are counted");
    require(fromBytes.readError.isEmpty(), "a buffer never fails to read");
    for (const intake::WebRecord& r : fromBytes.records) {
        require(r.error != intake::RecordError::TooShort, "a whole record is never too short");
        checkRecord(r);
    }
    if (!fromBytes.records.empty())
        require(fromBytes.records.front().card == first.card, "the first record reads the same");

    QByteArray copy = bytes.toByteArray();
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    const intake::WebFile fromDevice = intake::readWebFile(device);
    require(fromDevice.records.size() == fromBytes.records.size(), "device: same record count");
    require(fromDevice.trailingBytes == fromBytes.trailingBytes, "device: same trailing bytes");
    require(fromDevice.readError.isEmpty(), "device: no read error");
    for (size_t i = 0; i < fromBytes.records.size(); ++i) {
        require(fromDevice.records[i].card == fromBytes.records[i].card, "device: same card");
        require(fromDevice.records[i].error == fromBytes.records[i].error, "device: same error");
    }
    return 0;
}
