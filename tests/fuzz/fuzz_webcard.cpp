// libFuzzer target for the web card reader: any bytes must be read without a fault, the byte and
// the device readers must agree, and a file is accepted (its cards stored) only when every
// record in it has the shape of a web card: all nineteen separators one and the same byte, a
// printable code, values that are text, and nothing but filler after the last record.
#include "WebCard.h"

#include <QBuffer>

#include <cstdio>
#include <cstdlib>
#include <set>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "web card reader: %s\n", what);
        std::abort();
    }
}

// The separator offsets worked out from the field table rather than taken from the reader: one
// byte after each field the record carries and after the unused field at 119, none after the last.
std::set<int> separatorOffsets() {
    std::set<int> offsets{119 + 50};
    for (const store::CardField& f : store::cardFields()) {
        if (f.webOffset >= 0)
            offsets.insert(f.webOffset + f.webWidth);
    }
    offsets.erase(static_cast<int>(intake::kRecordSize) - 2);
    return offsets;
}

bool separatorsMatch(QByteArrayView record) {
    static const std::set<int> offsets = separatorOffsets();
    require(offsets.size() == 19, "nineteen separators");
    for (int at : offsets) {
        if (record[at] != record[*offsets.begin()])
            return false;
    }
    return true;
}

void checkRecord(QByteArrayView bytes, const intake::WebRecord& record) {
    if (record.error == intake::RecordError::TooShort)
        return;
    if (!record.ok()) {
        require(record.errorAt >= 0 && record.errorAt < intake::kRecordSize,
                "a refused record names a byte of the record");
        require(!intake::refusalReason(bytes, record, 0).isEmpty(), "a refusal says why");
        for (const QString& value : record.card)
            require(value.isNull(), "a refused record yields no card");
        return;
    }
    require(separatorsMatch(bytes), "a record is taken only when its separators match");
    const QString& code = record.card[store::Codigo];
    require(!code.isEmpty(), "a taken record has a code");
    require(code.front() != u' ' && code.back() != u' ' && code.front() != QChar::Null &&
                code.back() != QChar::Null,
            "the code is trimmed of filler");
    for (QChar c : code)
        require(c.isPrint() && c != QChar::ReplacementCharacter, "the code is printable");
    require(code.size() <= store::cardField(store::Codigo).webWidth, "the code fits its field");
    const QString& sexo = record.card[store::Sexo];
    require(sexo == u"M" || sexo == u"H", "sexo is M or H");
    for (const store::CardField& f : store::cardFields()) {
        if (f.webOffset < 0) {
            require(record.card.isNull(f.field), "a field the record lacks stays null");
        } else if (f.field != store::Codigo && f.field != store::Sexo) {
            const QString& value = record.card[f.field];
            require(value.size() == f.webWidth, "one character per byte");
            for (QChar c : value)
                require(c.category() != QChar::Other_Control && c != QChar::ReplacementCharacter,
                        "a value holds text only, NUL filler turned into spaces");
        }
    }
}

bool onlyFiller(QByteArrayView bytes) {
    for (char b : bytes) {
        if (b != '\r' && b != '\n' && b != ' ' && b != '\0')
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const intake::WebRecord first = intake::readRecord(bytes);
    require((first.error == intake::RecordError::TooShort) == (bytes.size() < intake::kRecordSize),
            "only a short buffer is too short");
    checkRecord(bytes, first);

    const intake::WebFile fromBytes = intake::readWebFile(bytes);
    require(fromBytes.readError.isEmpty() && !fromBytes.tooLarge, "a small buffer always reads");
    for (size_t i = 0; i < fromBytes.records.size(); ++i) {
        const intake::WebRecord& r = fromBytes.records[i];
        require(r.error != intake::RecordError::TooShort, "a whole record is never too short");
        const QByteArrayView raw =
            bytes.sliced(static_cast<qsizetype>(i) * intake::kRecordSize, intake::kRecordSize);
        checkRecord(raw, r);
        if (!r.ok())
            require(i + 1 == fromBytes.records.size() && fromBytes.failedRecord == raw,
                    "reading stops at the refused record and keeps its bytes");
    }
    if (!fromBytes.records.empty()) {
        require(fromBytes.records.front().card == first.card, "the first record reads the same");
        require(fromBytes.records.front().error == first.error, "the first record fails the same");
    }

    // What the intake would store: every record of an accepted file, and nothing else.
    if (fromBytes.accepted()) {
        const qsizetype covered =
            static_cast<qsizetype>(fromBytes.records.size()) * intake::kRecordSize;
        require(covered <= bytes.size() && onlyFiller(bytes.sliced(covered)),
                "an accepted file has nothing but filler after its records");
        for (size_t i = 0; i < fromBytes.records.size(); ++i)
            require(separatorsMatch(bytes.sliced(static_cast<qsizetype>(i) * intake::kRecordSize,
                                                 intake::kRecordSize)),
                    "random bytes never yield a stored card unless every separator matches");
    } else if (fromBytes.failed() < 0 && fromBytes.incompleteBytes == 0) {
        require(fromBytes.records.empty() && onlyFiller(bytes),
                "a file is refused without a reason only when it holds nothing but filler");
    }

    QByteArray copy = bytes.toByteArray();
    QBuffer device(&copy);
    device.open(QIODevice::ReadOnly);
    const intake::WebFile fromDevice = intake::readWebFile(device);
    require(fromDevice.records.size() == fromBytes.records.size(), "device: same record count");
    require(fromDevice.incompleteBytes == fromBytes.incompleteBytes, "device: same incomplete");
    require(fromDevice.readError.isEmpty() && !fromDevice.tooLarge, "device: no read error");
    require(fromDevice.accepted() == fromBytes.accepted(), "device: same decision");
    for (size_t i = 0; i < fromBytes.records.size(); ++i) {
        require(fromDevice.records[i].card == fromBytes.records[i].card, "device: same card");
        require(fromDevice.records[i].error == fromBytes.records[i].error, "device: same error");
    }
    return 0;
}
