#include "TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

namespace store {

QString fromWindows1252(QByteArrayView bytes) {
    QStringDecoder decoder("windows-1252");
    if (!decoder.isValid()) {
        // Without ICU only Latin-1 is known; it differs from Windows-1252 in 0x80-0x9F only.
        return QString::fromLatin1(bytes);
    }
    return decoder.decode(bytes);
}

QByteArray toWindows1252(QStringView text) {
    QStringEncoder encoder("windows-1252");
    QByteArray out;
    if (encoder.isValid()) {
        out = encoder.encode(text);
        // The encoder writes 0x1A (SUB) for what it cannot encode; a real 0x1A in the text
        // would be a control character no card holds, so both become '?'.
        out.replace('\x1a', '?');
    } else {
        out = text.toLatin1();
    }
    return out;
}

QString decodeUtf8OrWindows1252(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (!utf8.hasError())
        return text;
    return fromWindows1252(bytes);
}

} // namespace store
