#include "Ini.h"

#include "CardFields.h"
#include "TextCodec.h"

#include <QFile>
#include <QStringDecoder>

#include <utility>

namespace store {

namespace {

constexpr qsizetype kMaxValueLength = 254; // the 255-character buffer less its NUL

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}

QStringView stripBlanks(QStringView s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && isBlank(s.at(b)))
        ++b;
    while (e > b && isBlank(s.at(e - 1)))
        --e;
    return s.mid(b, e - b);
}

} // namespace

IniFile IniFile::load(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return IniFile();
    return fromBytes(file.readAll());
}

QString IniFile::decode(QByteArrayView bytes) {
    // Notepad's "Unicode" is UTF-16 with a byte-order mark; read as bytes it would be text with
    // a NUL between letters, in which no section or key is ever found.
    const auto startsWith = [bytes](const char* mark) {
        return bytes.size() >= 2 && bytes[0] == mark[0] && bytes[1] == mark[1];
    };
    for (const auto& [mark, encoding] : {std::pair{"\xff\xfe", QStringConverter::Utf16LE},
                                         std::pair{"\xfe\xff", QStringConverter::Utf16BE}}) {
        if (startsWith(mark)) {
            // The mark is taken off here, so a second one is text, as in the other encodings.
            QStringDecoder decoder(encoding, QStringDecoder::Flag::Stateless |
                                                 QStringDecoder::Flag::ConvertInitialBom);
            return decoder.decode(bytes.sliced(2));
        }
    }
    return decodeUtf8OrWindows1252(bytes);
}

IniFile IniFile::fromBytes(QByteArrayView bytes) {
    IniFile ini;
    const QString text = decode(bytes);
    Section* section = nullptr;
    for (QStringView line : QStringView(text).split(u'\n')) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QStringView stripped = stripBlanks(line);
        if (stripped.isEmpty() || stripped.startsWith(u';'))
            continue;
        if (stripped.startsWith(u'[')) {
            const qsizetype close = stripped.indexOf(u']');
            const QString name =
                stripBlanks(stripped.mid(1, close < 0 ? -1 : close - 1)).toString();
            section = nullptr;
            for (Section& s : ini.sections_) {
                if (s.name.compare(name, Qt::CaseInsensitive) == 0)
                    section = &s;
            }
            if (!section) {
                ini.sections_.push_back(Section{name, {}});
                section = &ini.sections_.back();
            }
            continue;
        }
        const qsizetype eq = stripped.indexOf(u'=');
        if (!section || eq < 0)
            continue;
        Entry entry{stripBlanks(stripped.left(eq)).toString(),
                    stripBlanks(stripped.mid(eq + 1)).toString()};
        const QString& v = entry.value;
        if (v.size() >= 2 && (v.front() == u'"' || v.front() == u'\'') && v.back() == v.front())
            entry.value = v.mid(1, v.size() - 2);
        section->entries.push_back(std::move(entry));
    }
    return ini;
}

QString IniFile::value(const QString& section, const QString& key) const {
    for (const Section& s : sections_) {
        if (s.name.compare(section, Qt::CaseInsensitive) != 0)
            continue;
        for (const Entry& e : s.entries) {
            if (e.key.compare(key, Qt::CaseInsensitive) == 0)
                return e.value;
        }
        return QString();
    }
    return QString();
}

QString LeeIni(const IniFile& ini, const QString& section, const QString& key) {
    const QString raw = ini.value(section, key);
    if (raw.isEmpty())
        return QString();
    return trimSpaces(QStringView(raw).left(kMaxValueLength));
}

QString LeeIni(const QString& file, const QString& section, const QString& key) {
    return LeeIni(IniFile::load(file), section, key);
}

QStringList splitItemList(const QString& value) {
    QStringList items;
    qsizetype start = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value.at(i) == u'|') {
            items.append(trimSpaces(QStringView(value).mid(start, i - start)));
            start = i + 1;
        }
    }
    return items;
}

QStringList readBreedList(const IniFile& ini, const QString& section) {
    QStringList breeds;
    for (int n = 1;; ++n) {
        const QString value = LeeIni(ini, section, QStringLiteral("RAZA %1").arg(n));
        if (trimSpaces(value).isEmpty())
            break;
        breeds.append(splitItemList(value));
    }
    return breeds;
}

} // namespace store
