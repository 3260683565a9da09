#pragma once

#include "ImplantReport.h"

#include <QWidget>

#include <memory>
#include <vector>

class QPainter;

namespace report {

// One bar: its short label under the axis and its count.
struct Bar {
    QString label;
    qint64 count = 0;
};

// The bars of a result: one per period, or for a grouping by a field the largest groups with the
// rest together as "Otros", so that the labels stay readable.
std::vector<Bar> chartBars(const ReportResult& result);

// The bar chart of the report, shown in the window and painted on the page. Everything about how
// the bars are drawn lives behind this class: built with Qt Charts, or, where that module is not
// available, drawn with a painter (see ReportChart*.cpp, chosen by the build).
class ReportChart : public QWidget {
    Q_OBJECT
public:
    explicit ReportChart(QWidget* parent = nullptr);
    ~ReportChart() override;

    void setResult(const ReportResult& result);
    const std::vector<Bar>& bars() const { return bars_; }

    // The same chart painted into `target` of a painter already begun (a printed page).
    static void paint(QPainter& painter, const QRectF& target, const std::vector<Bar>& bars,
                      const QString& title);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::vector<Bar> bars_;
    QString title_;
};

} // namespace report
