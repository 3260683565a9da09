#pragma once

#include "CardFields.h"

#include <QByteArrayView>
#include <QString>

#include <array>
#include <vector>

class QIODevice;

namespace intake {

// The web card record: fixed-width Windows-1252 text fields with one-byte separators, ending in
// a two-byte field. Where each card field lies is in the card field table (webOffset, webWidth).
inline constexpr qsizetype kRecordSize = 641;

// The offsets of the nineteen separators: one after each field but the last. A record has the
// shape of a web card only when all nineteen hold one and the same byte.
inline constexpr std::array<int, 19> kSeparatorOffsets{
    10, 41, 67, 118, 169, 180, 201, 232, 243, 259, 310, 321, 372, 423, 474, 490, 521, 572, 588};

// A web card file is a few records; anything larger is no web card file and is not read.
inline constexpr qint64 kMaxFileBytes = 10 * 1024 * 1024;

enum class RecordError {
    None,
    TooShort,         // fewer than kRecordSize bytes
    Separators,       // the separator bytes are not all one and the same byte
    ValueNotText,     // a value holds a control character or a byte that is no character
    EmptyCode,        // the microchip code is empty once its spaces and NULs are trimmed
    CodeNotPrintable, // the microchip code holds a character that cannot be shown
};

// One record as the intake stores it. The fields the record carries hold their text at full
// width, filler included, with NUL filler turned into spaces; `Codigo` is trimmed of spaces and
// NULs, and `sexo` is "M" when the sex word so trimmed is exactly "Macho" and "H" otherwise.
// Fields the record lacks stay null. A record that fails its shape has no card.
struct WebRecord {
    store::Card card;
    RecordError error = RecordError::None;
    int errorAt = -1; // offset in the record of the byte that failed, -1 when none
    bool ok() const { return error == RecordError::None; }
};

// Reads the record at the start of `bytes`; bytes past the first record are ignored.
WebRecord readRecord(QByteArrayView bytes);

// Why a record was refused, in words for the user; `start` is the record's offset in its file,
// so that the bytes named are the file's own.
QString refusalReason(QByteArrayView record, const WebRecord& read, qint64 start);

// Whether the web record carries this card field.
bool carriedByRecord(store::Field field);

// Carriage returns, line feeds, spaces and NULs after the last record are filler, not data.
bool isFillerByte(char byte);

// A whole web card file. Records are read in file order while a byte that is not filler
// remains; reading stops after the first record that fails its shape.
struct WebFile {
    std::vector<WebRecord> records;
    QByteArray failedRecord;    // the bytes of the record that failed, when one did
    qint64 incompleteBytes = 0; // the bytes of a last record cut short (for a short file, all)
    bool tooLarge = false;      // more than kMaxFileBytes: not read at all
    QString readError;          // why the device could not be read to its end; empty when it was

    // The index of the record that failed its shape, or -1.
    int failed() const;
    // Every record has the shape of a web card and nothing else is in the file but filler.
    bool accepted() const {
        return readError.isEmpty() && !tooLarge && incompleteBytes == 0 && failed() < 0 &&
               !records.empty();
    }
};

WebFile readWebFile(QByteArrayView bytes);
// Reads `device`, already open for reading, to its end; more than kMaxFileBytes is not read.
WebFile readWebFile(QIODevice& device);

} // namespace intake
