#include "ReportChart.h"

#include <QLocale>
#include <QStringBuilder>

namespace report {

namespace {

// More bars than this for a grouping by a field: the smallest ones go together.
constexpr size_t kMostFieldBars = 15;

} // namespace

std::vector<Bar> chartBars(const ReportResult& result) {
    // Every label differs from the others: a chart axis takes each category once, and two
    // groups shown under one label would lose a bar. The axis shortens what does not fit.
    std::vector<Bar> bars;
    const bool periods = result.by == Grouping::Month || result.by == Grouping::Week;
    for (const ReportRow& row : result.rows) {
        if (!periods && bars.size() == kMostFieldBars) {
            const size_t rest = result.rows.size() - kMostFieldBars;
            bars.push_back({QStringLiteral("Otros (%1 grupos)").arg(rest), 0});
            for (size_t i = kMostFieldBars; i < result.rows.size(); ++i)
                bars.back().count += result.rows[i].count;
            break;
        }
        QString label = row.label;
        if (result.by == Grouping::Month) {
            // "Marzo 2026" -> "mar 26"
            if (label.lastIndexOf(u' ') > 0)
                label = label.left(3).toLower() % u' ' % label.right(2);
        } else if (result.by == Grouping::Week) {
            // "Semana 5 de 2026 (…)" -> "S5-26"
            label = u'S' % label.section(u' ', 1, 1) % u'-' % label.section(u' ', 3, 3).right(2);
        }
        bars.push_back({label, row.count});
    }
    return bars;
}

} // namespace report
