#pragma once

#include "CardFields.h"

#include <QByteArrayView>
#include <QString>

#include <vector>

class QIODevice;

namespace intake {

// The web card record: fixed-width Windows-1252 text fields with one-byte separators, ending in
// a two-byte field. Where each card field lies is in the card field table (webOffset, webWidth).
inline constexpr qsizetype kRecordSize = 641;

enum class RecordError {
    None,
    TooShort,  // fewer than kRecordSize bytes
    EmptyCode, // the microchip code is empty once its spaces are trimmed
};

// One record as the intake stores it. The fields the record carries hold their text at full
// width, filler included, except `Codigo`, trimmed of spaces, and `sexo`, "M" when the sex word
// trimmed of spaces is exactly "Macho" and "H" otherwise. Fields the record lacks stay null.
struct WebRecord {
    store::Card card;
    RecordError error = RecordError::None;
    bool ok() const { return error == RecordError::None; }
};

// Reads the record at the start of `bytes`; bytes past the first record are ignored.
WebRecord readRecord(QByteArrayView bytes);

// Whether the web record carries this card field.
bool carriedByRecord(store::Field field);

// A whole web card file: every whole record in file order and what was left over.
struct WebFile {
    std::vector<WebRecord> records;
    qint64 trailingBytes = 0; // bytes after the last whole record (for a short file, all of them)
    QString readError;        // why the device could not be read to its end; empty when it was
    bool complete() const { return readError.isEmpty() && trailingBytes == 0; }
};

WebFile readWebFile(QByteArrayView bytes);
// Reads `device`, already open for reading, to its end.
WebFile readWebFile(QIODevice& device);

} // namespace intake
