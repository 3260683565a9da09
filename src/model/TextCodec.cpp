#include "TextCodec.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>

namespace store {

namespace {

// What Windows-1252 puts at 0x80-0x9F, where Latin-1 has control characters; the five bytes
// Windows-1252 leaves undefined keep their Latin-1 meaning, as ICU's converter does. Qt without
// ICU (the Windows build) knows no Windows-1252 of its own.
constexpr std::array<char16_t, 32> kHighControls{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char byteFor(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return static_cast<char>(c);
    for (size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c)
            return static_cast<char>(0x80 + i);
    }
    return '?';
}

} // namespace

QString fromWindows1252(QByteArrayView bytes) {
    QStringDecoder decoder("windows-1252");
    if (decoder.isValid())
        return decoder.decode(bytes);
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        *out++ = (u >= 0x80 && u < 0xA0) ? QChar(kHighControls[u - 0x80]) : QChar(char16_t(u));
    }
    return text;
}

QByteArray toWindows1252(QStringView text) {
    QStringEncoder encoder("windows-1252");
    QByteArray out;
    if (encoder.isValid()) {
        out = encoder.encode(text);
        // The encoder writes 0x1A (SUB) for what it cannot encode; a real 0x1A in the text
        // would be a control character no card holds, so both become '?'.
        out.replace('\x1a', '?');
        return out;
    }
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        // A character outside the basic plane is one '?', not two.
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        const char b = byteFor(text[i].unicode());
        out.append(b == '\x1a' ? '?' : b);
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
