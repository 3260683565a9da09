#pragma once

#include "ReportPage.h"

class QTextStream;

namespace store {
class Clock;
struct Folders;
} // namespace store

namespace report {

// The report written without a window: the registry the run works on counted for the range and
// grouping, written as PDF or CSV by the name's extension (both checked before, on the command
// line). Says where it went and returns 0, or tells the failure on `err` and returns 1.
int runReportCommand(const store::Folders& folders, const DateRange& range, Grouping by,
                     const QString& outputPath, PageContext page, const store::Clock& clock,
                     QTextStream& out, QTextStream& err);

} // namespace report
