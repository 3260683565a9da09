#pragma once

#include "CardPrintLayout.h"
#include "Status.h"

#include <QString>
#include <QStringList>

namespace output {

// The offset file holds, in quoted comma-separated form, the vertical position of the printed
// layout in twips and optionally a horizontal shift in twips: "2800" or "2800","-60".
inline const QByteArray kDefaultOffsetFileContent = QByteArrayLiteral("\"2800\"\r\n");

// The items of the first line of a sequential text file: each one unquoted, or taken up to the
// next comma and trimmed of blanks.
QStringList offsetFileItems(const QString& line);

// The number a text begins with, after leading blanks; 0 when it does not begin with one.
double leadingNumber(QStringView text);

// Reads the offsets from the file at `path`, creating it with the default content when it is
// missing. A file that cannot be created or read, or holds nothing, is a failure whose message
// says so; the offsets are then left untouched.
store::Status readOffsetFile(const QString& path, PrintOffsets* offsets);

} // namespace output
