#pragma once

#include "CardFields.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <span>

class QIODevice;

namespace store {
class CardStore;
class Clock;
class MessageLayer;
struct Folders;
} // namespace store

namespace output {

// The two kinds of export: every exported column, or without the owner, address and contact
// columns but with the implanter.
enum class ExportKind { Complete, WithoutOwner };

store::ExportFlag exportFlag(ExportKind kind);

// "6.12.2026 9.5.7": day, month, four-digit year, one blank, hour, minute, second, no zeros
// in front of any number.
QString exportTimeStamp(const QDateTime& at);
// "Exporta Datos Completos_<stamp>.CSV" or "Exporta Datos Sin Propietario_<stamp>.CSV".
QString exportFileName(ExportKind kind, const QDateTime& at);

// The header row of the kind, Windows-1252 bytes ending in CR LF.
QByteArray csvHeader(ExportKind kind);
// One data line of the kind for this card, Windows-1252 bytes ending in CR LF. Null reads as an
// empty value; sexo becomes its sex word; a value holding ';', '"', CR or LF is written in double
// quotes with inner quotes doubled so that it never shifts the columns after it. A value that a
// spreadsheet would run as a formula (starting, after any leading blanks, with '=', '@', a tab or
// CR, or a sign not followed by a plain number or telephone) gets a leading apostrophe, so that it
// opens as text.
QByteArray csvLine(const store::Card& card, ExportKind kind);
// Any other table's line under the same rules: the values in Windows-1252 separated by ';',
// quoted or guarded against formulas as above, ending in CR LF.
QByteArray csvRow(std::span<const QString> values);

// Writes the header row and every card of the store in stored order to `device` (already open
// for writing) in one forward-only pass. On failure returns false and sets `error` to a Spanish
// reason.
bool writeCsv(const store::CardStore& store, ExportKind kind, QIODevice* device, QString* error);

// The export command of the window: asks which kind, writes the time-stamped file into the
// export folder through a temporary file that is renamed into place only when complete, and says
// where it went. Every failure is reported through `messages`; nothing is left half-written.
// Returns the full name of the file written, or an empty text when nothing was written.
QString exportCommand(store::CardStore& store, const store::Folders& folders,
                      const store::Clock& clock, store::MessageLayer& messages);

} // namespace output
