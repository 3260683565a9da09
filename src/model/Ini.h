#pragma once

#include <QString>
#include <QStringList>

#include <vector>

namespace store {

// A profile (INI) file read the way the Windows profile-string service reads it: section and key
// names matched without regard to case, values stripped of surrounding blanks and of one pair of
// surrounding quotes, lines starting with ';' ignored, the first occurrence of a section or key
// winning.
class IniFile {
public:
    IniFile() = default;
    static IniFile load(const QString& path); // a missing or unreadable file reads as empty
    static IniFile fromBytes(QByteArrayView bytes);
    // The file's text: UTF-16 (little or big endian) when it starts with that byte-order mark,
    // otherwise UTF-8 when the bytes are valid UTF-8 (a mark is dropped), else Windows-1252.
    static QString decode(QByteArrayView bytes);

    // The raw stripped value, empty when absent.
    QString value(const QString& section, const QString& key) const;

private:
    struct Entry {
        QString key;
        QString value;
    };
    struct Section {
        QString name;
        std::vector<Entry> entries;
    };
    std::vector<Section> sections_;
};

// One configuration value: trimmed, empty for every kind of absence, at most 254 characters.
QString LeeIni(const QString& file, const QString& section, const QString& key);
QString LeeIni(const IniFile& ini, const QString& section, const QString& key);

// The items of a list value: each item ends with '|' and is trimmed of spaces; order and
// duplicates are kept; "||" gives an empty item; characters after the last '|' are dropped.
QStringList splitItemList(const QString& value);

// The breed list: the items of keys "RAZA 1", "RAZA 2", … in key order, up to the first key
// whose value is empty after trimming.
QStringList readBreedList(const IniFile& ini, const QString& section);

inline const QString kIniFileName = QStringLiteral("Clientes Tolvane.INI");
inline const QString kIniSectionVersion = QStringLiteral("VERSION");
inline const QString kIniSectionLists = QStringLiteral("CLIENTES TOLVANE");

} // namespace store
