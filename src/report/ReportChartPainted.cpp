// The chart drawn with a painter, for builds without Qt Charts.
#include "ReportChart.h"

#include <QPainter>

#include <algorithm>

namespace report {

struct ReportChart::Impl {};

ReportChart::ReportChart(QWidget* parent) : QWidget(parent), impl_(std::make_unique<Impl>()) {
    setMinimumSize(320, 220);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
}

ReportChart::~ReportChart() = default;

void ReportChart::setResult(const ReportResult& result) {
    bars_ = chartBars(result);
    title_ = QStringLiteral("Tarjetas por ") + groupingTitle(result.by).toLower();
    update();
}

void ReportChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paint(painter, QRectF(rect()), bars_, title_);
}

void ReportChart::paint(QPainter& painter, const QRectF& target, const std::vector<Bar>& bars,
                        const QString& title) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF fm(painter.font(), painter.device());
    const qreal line = fm.height();
    painter.setPen(Qt::black);
    painter.drawText(QRectF(target.left(), target.top(), target.width(), line * 1.5),
                     Qt::AlignCenter, title);
    qint64 highest = 1;
    for (const Bar& bar : bars)
        highest = std::max(highest, bar.count);
    const QRectF area(target.left() + fm.horizontalAdvance(QString::number(highest)) + line,
                      target.top() + line * 2.5,
                      target.width() - fm.horizontalAdvance(QString::number(highest)) - line * 2,
                      target.height() - line * 5);
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.bottomLeft(), area.topLeft());
    painter.drawText(
        QRectF(target.left(), area.top() - line / 2, area.left() - target.left() - 4, line),
        Qt::AlignRight | Qt::AlignVCenter, QString::number(highest));
    if (!bars.empty()) {
        const qreal slot = area.width() / qreal(bars.size());
        const bool numbers = slot > fm.horizontalAdvance(QStringLiteral("0000"));
        for (size_t i = 0; i < bars.size(); ++i) {
            const qreal h = area.height() * qreal(bars[i].count) / qreal(highest);
            const QRectF bar(area.left() + slot * qreal(i) + slot * 0.15, area.bottom() - h,
                             slot * 0.7, h);
            painter.fillRect(bar, QColor(0x2e, 0x6d, 0xa4));
            if (numbers)
                painter.drawText(QRectF(bar.left() - slot * 0.15, bar.top() - line, slot, line),
                                 Qt::AlignCenter, QString::number(bars[i].count));
            painter.drawText(
                QRectF(area.left() + slot * qreal(i), area.bottom() + 2, slot, line * 2),
                Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, bars[i].label);
        }
    }
    painter.restore();
}

} // namespace report
