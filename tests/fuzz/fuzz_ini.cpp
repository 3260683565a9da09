// libFuzzer target for the configuration file reader: any bytes must be read without a fault;
// every value read is trimmed and at most 254 characters; names match without regard to case;
// and the same text saved as UTF-16 (either byte order, with its mark) reads the same values.
#include "Ini.h"

#include <QStringList>

#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "configuration reader: %s\n", what);
        std::abort();
    }
}

QByteArray utf16(const QString& text, bool littleEndian) {
    QByteArray bytes(littleEndian ? "\xff\xfe" : "\xfe\xff");
    for (QChar c : text) {
        const char high = static_cast<char>(c.unicode() >> 8);
        const char low = static_cast<char>(c.unicode() & 0xff);
        bytes.append(littleEndian ? low : high).append(littleEndian ? high : low);
    }
    return bytes;
}

bool isAscii(const QString& s) {
    for (QChar c : s) {
        if (c.unicode() > 0x7f)
            return false;
    }
    return true;
}

// The section and key names the text mentions, found by a scan far simpler than the reader:
// what stands between '[' and ']', and what stands before '=' on the lines after it.
std::vector<std::pair<QString, QString>> namesIn(const QString& text) {
    std::vector<std::pair<QString, QString>> names;
    QString section;
    for (const QString& raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.startsWith(u'[')) {
            section = line.mid(1, line.indexOf(u']') - 1).trimmed();
        } else if (line.contains(u'=')) {
            names.emplace_back(section, line.left(line.indexOf(u'=')).trimmed());
        }
        if (names.size() >= 64)
            break;
    }
    names.emplace_back(store::kIniSectionVersion, QStringLiteral("PIE"));
    names.emplace_back(store::kIniSectionLists, QStringLiteral("TAMAÑO"));
    return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const store::IniFile ini = store::IniFile::fromBytes(bytes);
    const QString text = store::IniFile::decode(bytes);
    const store::IniFile little = store::IniFile::fromBytes(utf16(text, true));
    const store::IniFile big = store::IniFile::fromBytes(utf16(text, false));

    for (const auto& [section, key] : namesIn(text)) {
        const QString value = ini.value(section, key);
        require(little.value(section, key) == value, "UTF-16 LE reads the same value");
        require(big.value(section, key) == value, "UTF-16 BE reads the same value");
        if (isAscii(section) && isAscii(key))
            require(ini.value(section.toLower(), key.toUpper()) == value,
                    "names match without regard to case");
        const QString read = store::LeeIni(ini, section, key);
        require(read.size() <= 254, "a value is at most 254 characters");
        require(read.isEmpty() || (read.front() != u' ' && read.back() != u' '),
                "a value is trimmed of spaces");
        const QStringList items = store::splitItemList(read);
        require(items.size() == read.count(u'|'), "one item per bar");
    }
    const QStringList breeds = store::readBreedList(ini, store::kIniSectionLists);
    for (const QString& breed : breeds)
        require(breed.isEmpty() || (breed.front() != u' ' && breed.back() != u' '),
                "breeds are trimmed");
    return 0;
}
