#pragma once

#include "Registry.h"
#include "Status.h"

#include <QByteArray>
#include <QDate>
#include <QString>

#include <optional>
#include <vector>

namespace report {

// How the cards of the report are grouped.
enum class Grouping { Month, Week, Implanter, Place, Species, SexAndState };

// The word of the command line (mes, semana, implantador, lugar, especie, sexo) and back.
QString groupingWord(Grouping by);
std::optional<Grouping> groupingFromWord(const QString& word);
// What the window and the page call it: "Mes", "Semana", "Implantador", …
QString groupingTitle(Grouping by);

// The dates of attention counted, both ends included; a null end leaves that side open.
struct DateRange {
    QDate from;
    QDate to;
    bool contains(const QDate& date) const {
        return (from.isNull() || date >= from) && (to.isNull() || date <= to);
    }
    // "01/03/2026 al 31/03/2026", "desde …", "hasta …", or "todas las fechas".
    QString describe() const;
};

// The quick choices of the window, as of `today`.
DateRange thisMonth(const QDate& today);
DateRange lastMonth(const QDate& today);
DateRange thisYear(const QDate& today);

struct ReportRow {
    QString label; // the group as shown: a month, a week, or the most frequent spelling
    qint64 count = 0;
};

// What the report counted: one row per group, the cards in the range, and the cards whose date of
// attention is empty or no date at all, which fall in no range and are counted apart.
struct ReportResult {
    DateRange range;
    Grouping by = Grouping::Month;
    std::vector<ReportRow> rows;
    qint64 total = 0;
    qint64 undated = 0;
};

// The share of a row in the total, "12,5 %".
QString shareText(qint64 count, qint64 total);

// Counts the cards of the registry through a read-only connection of its own, so that it may run
// on any thread. The counting runs in the database: the dates as stored are grouped there, read
// with the program's own date reader (each distinct text once), and for a grouping by a field the
// cards of the dates in range are grouped there by that field. Text values count together after
// trimming, collapsing inner blanks and case folding, shown in their most frequent spelling; an
// empty value is its own group. `today` settles two-digit years as the date reader does.
store::Status computeReport(const store::Registry& registry, const DateRange& range, Grouping by,
                            const QDate& today, ReportResult* result);

// The table as CSV: a header, one line per group, the total and the cards without a date, in
// Windows-1252 with ';' between values and every value formula-safe.
QByteArray reportCsv(const ReportResult& result);

} // namespace report
