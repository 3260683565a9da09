// The chart drawn by Qt Charts.
#include "ReportChart.h"

#include <QBarCategoryAxis>
#include <QBarSeries>
#include <QBarSet>
#include <QChart>
#include <QChartView>
#include <QGraphicsScene>
#include <QPainter>
#include <QVBoxLayout>
#include <QValueAxis>

#include <algorithm>

namespace report {

namespace {

QChart* buildChart(const std::vector<Bar>& bars, const QString& title) {
    auto* chart = new QChart;
    chart->setTitle(title);
    chart->legend()->hide();
    chart->setAnimationOptions(QChart::NoAnimation);
    chart->setBackgroundRoundness(0);
    auto* set = new QBarSet(QStringLiteral("Tarjetas"));
    set->setColor(QColor(0x2e, 0x6d, 0xa4));
    set->setLabelColor(Qt::black);
    QStringList labels;
    qint64 highest = 0;
    for (const Bar& bar : bars) {
        *set << double(bar.count);
        labels << bar.label;
        highest = std::max(highest, bar.count);
    }
    auto* series = new QBarSeries;
    series->append(set);
    series->setLabelsVisible(bars.size() <= 31);
    series->setLabelsPosition(QAbstractBarSeries::LabelsOutsideEnd);
    chart->addSeries(series);
    auto* x = new QBarCategoryAxis;
    x->append(labels);
    if (bars.size() > 8)
        x->setLabelsAngle(-60);
    chart->addAxis(x, Qt::AlignBottom);
    series->attachAxis(x);
    auto* y = new QValueAxis;
    y->setLabelFormat(QStringLiteral("%d"));
    // Room above the highest bar for its number; whole numbers on the axis.
    const qint64 top = std::max<qint64>(4, highest + highest / 8 + 1);
    y->setRange(0, double(top));
    y->setTickCount(5);
    y->applyNiceNumbers();
    chart->addAxis(y, Qt::AlignLeft);
    series->attachAxis(y);
    return chart;
}

} // namespace

struct ReportChart::Impl {
    QChartView* view = nullptr;
};

ReportChart::ReportChart(QWidget* parent) : QWidget(parent), impl_(std::make_unique<Impl>()) {
    impl_->view = new QChartView(buildChart({}, QString()), this);
    impl_->view->setRenderHint(QPainter::Antialiasing);
    impl_->view->setObjectName(QStringLiteral("reportChartView"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(impl_->view);
}

ReportChart::~ReportChart() = default;

void ReportChart::setResult(const ReportResult& result) {
    bars_ = chartBars(result);
    title_ = QStringLiteral("Tarjetas por ") + groupingTitle(result.by).toLower();
    QChart* old = impl_->view->chart();
    impl_->view->setChart(buildChart(bars_, title_));
    delete old;
}

void ReportChart::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
}

void ReportChart::paint(QPainter& painter, const QRectF& target, const std::vector<Bar>& bars,
                        const QString& title) {
    // Laid out at the size it has on the page, in the painter's own units, so that its texts
    // keep their size in print.
    QGraphicsScene scene;
    QChart* chart = buildChart(bars, title);
    scene.addItem(chart);
    const qreal scale = std::max(1.0, target.width() / 720.0);
    const QSizeF size = target.size() / scale;
    chart->setGeometry(QRectF(QPointF(0, 0), size));
    scene.setSceneRect(QRectF(QPointF(0, 0), size));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    scene.render(&painter, target, scene.sceneRect());
    painter.restore();
}

} // namespace report
