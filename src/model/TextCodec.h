#pragma once

#include <QByteArray>
#include <QString>

namespace store {

// Windows-1252 bytes to text; every byte gives one character.
QString fromWindows1252(QByteArrayView bytes);
// Text to Windows-1252 bytes; a character with no Windows-1252 byte becomes '?'.
QByteArray toWindows1252(QStringView text);
// UTF-8 when the bytes are valid UTF-8, otherwise Windows-1252 (configuration files).
QString decodeUtf8OrWindows1252(QByteArrayView bytes);

} // namespace store
