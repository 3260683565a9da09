#include "ReportChart.h"

#include <QLocale>
#include <QStringBuilder>

namespace report {

namespace {

// More bars than this for a grouping by a field: the smallest ones go together.
constexpr size_t kMostFieldBars = 15;
constexpr qsizetype kLabelChars = 14;

QString elided(const QString& text) {
    return text.size() <= kLabelChars ? text : text.left(kLabelChars - 1) % u'…';
}

} // namespace

std::vector<Bar> chartBars(const ReportResult& result) {
    std::vector<Bar> bars;
    const bool periods = result.by == Grouping::Month || result.by == Grouping::Week;
    for (const ReportRow& row : result.rows) {
        if (!periods && bars.size() == kMostFieldBars) {
            bars.push_back({QStringLiteral("Otros"), 0});
            for (size_t i = kMostFieldBars; i < result.rows.size(); ++i)
                bars.back().count += result.rows[i].count;
            break;
        }
        QString label = row.label;
        if (result.by == Grouping::Month) {
            // "Marzo 2026" -> "mar 26"
            const qsizetype space = label.lastIndexOf(u' ');
            label = label.left(3).toLower() % u' ' % label.right(2);
            if (space < 0)
                label = row.label;
        } else if (result.by == Grouping::Week) {
            // "Semana 5 de 2026 (…)" -> "S5"
            label = u'S' % label.section(u' ', 1, 1);
        }
        bars.push_back({elided(label), row.count});
    }
    return bars;
}

} // namespace report
