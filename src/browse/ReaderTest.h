#pragma once

#include "ChipScanner.h"

#include <QString>

#include <vector>

class QWidget;

namespace browse {

// One key of a reader's scan as the test dialog saw it.
struct TimedKey {
    QString text;  // the character typed; "\r" for Enter, "\t" for Tab
    qint64 at = 0; // milliseconds
};

// What a scan tells about a reader: the code, what it sent around it, its pace, and the
// settings that recognise it with room to spare.
struct ReaderMeasure {
    QString code;
    QString prefix;
    QString suffix;
    QString end;          // "Enter", "Tab" or empty when the reader sends neither
    qint64 medianGap = 0; // between the keys of the code, ms
    qint64 slowestGap = 0;
    ReaderSettings proposed;
    QString advice; // what to change on the reader, in Spanish; empty when nothing
};

// Reads the keys of one scan: the longest run of letters and digits is the code, what comes
// before and after it (Enter and Tab apart) the prefix and suffix. The proposed interval is half
// as long again as the slowest one measured, at least the default.
ReaderMeasure measureScan(const std::vector<TimedKey>& keys);

// The "Probar lector…" dialog: measures a scan read into it and offers its settings, for this
// session and as lines of the configuration file `iniPath`. Not modal; deletes itself on close.
void testReader(ChipScanner& scanner, const QString& iniPath, QWidget* parent);

} // namespace browse
