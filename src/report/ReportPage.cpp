#include "ReportPage.h"

#include "ReportChart.h"

#include <QDir>
#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QLocale>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPdfWriter>
#include <QStringBuilder>

#include <algorithm>

namespace report {

namespace {

class Page {
public:
    Page(QPainter& painter, double dpi) : p_(painter), dpi_(dpi) {}
    qreal pt(qreal points) const { return points * dpi_ / 72.0; }
    QFont font(qreal points, bool bold = false) const {
        QFont f(QStringLiteral("Arial"));
        f.setPixelSize(std::max(1, int(pt(points))));
        f.setBold(bold);
        return f;
    }
    void text(const QRectF& box, int flags, const QString& text, const QFont& font) {
        p_.setFont(font);
        p_.drawText(box, flags, text);
    }
    void picture(const QRectF& box, const QImage& image, Qt::Alignment side) {
        if (image.isNull())
            return;
        QSizeF size = image.size();
        size.scale(box.size(), Qt::KeepAspectRatio);
        const qreal left = side == Qt::AlignRight ? box.right() - size.width() : box.left();
        p_.drawImage(QRectF(QPointF(left, box.top()), size), image);
    }
    QPainter& painter() { return p_; }

private:
    QPainter& p_;
    double dpi_;
};

} // namespace

void paintReportPage(QPainter& painter, const QRectF& area, double dpi, const ReportResult& result,
                     const PageContext& context) {
    Page page(painter, dpi);
    painter.save();
    painter.setPen(Qt::black);
    const qreal left = area.left();
    const qreal width = area.width();
    qreal y = area.top();

    // Header: banner, title and logo, the range and the grouping.
    const qreal headerHeight = page.pt(54);
    page.picture(QRectF(left, y, page.pt(110), headerHeight), context.pictures.banner,
                 Qt::AlignLeft);
    page.picture(QRectF(left + width - page.pt(110), y, page.pt(110), headerHeight),
                 context.pictures.logo, Qt::AlignRight);
    page.text(QRectF(left, y, width, page.pt(24)), Qt::AlignHCenter | Qt::AlignTop,
              QStringLiteral("Informe de implantaciones"), page.font(16, true));
    page.text(QRectF(left, y + page.pt(24), width, page.pt(14)), Qt::AlignHCenter | Qt::AlignTop,
              QStringLiteral("Fecha de atención: ") % result.range.describe(), page.font(10));
    page.text(QRectF(left, y + page.pt(38), width, page.pt(14)), Qt::AlignHCenter | Qt::AlignTop,
              QStringLiteral("Agrupado por ") % groupingTitle(result.by).toLower(), page.font(10));
    y += headerHeight + page.pt(8);

    // The footer, as the listing's: where the cards are, when it was printed, the page.
    const qreal footerHeight = page.pt(14);
    const qreal footerTop = area.bottom() - footerHeight;
    const QLocale chile(QLocale::Spanish, QLocale::Chile);
    page.text(QRectF(left, footerTop, width * 0.75, footerHeight), Qt::AlignLeft | Qt::AlignVCenter,
              QStringLiteral("Registro ") % context.registryName % QStringLiteral(" · ") %
                  chile.toString(context.printedAt, QStringLiteral("dd/MM/yyyy HH:mm")),
              page.font(8));
    page.text(QRectF(left, footerTop, width, footerHeight), Qt::AlignRight | Qt::AlignVCenter,
              QStringLiteral("Pagina 1 de 1"), page.font(8));
    painter.drawLine(QPointF(left, footerTop - page.pt(2)),
                     QPointF(left + width, footerTop - page.pt(2)));

    // The chart.
    const qreal chartHeight = std::min(page.pt(250), (footerTop - y) * 0.45);
    ReportChart::paint(painter, QRectF(left, y, width, chartHeight), chartBars(result),
                       QStringLiteral("Tarjetas por ") % groupingTitle(result.by).toLower());
    y += chartHeight + page.pt(10);

    // The table: a header, the groups, the total and the cards without a date.
    const qreal row = page.pt(12);
    const qreal tableBottom = footerTop - page.pt(8);
    const int fixedRows = 3; // header, total, without a date
    const int fits = std::max(1, int((tableBottom - y) / row) - fixedRows);
    std::vector<ReportRow> rows = result.rows;
    const int columns = int(rows.size()) > fits ? 2 : 1;
    const size_t capacity = size_t(fits) * size_t(columns);
    if (rows.size() > capacity) {
        ReportRow rest{QStringLiteral("Otros (%1 grupos)").arg(rows.size() - capacity + 1), 0};
        for (size_t i = capacity - 1; i < rows.size(); ++i)
            rest.count += rows[i].count;
        rows.resize(capacity - 1);
        rows.push_back(rest);
    }
    const qreal gap = page.pt(12);
    const qreal columnWidth = (width - gap * (columns - 1)) / columns;
    const QFont regular = page.font(9);
    const QFont bold = page.font(9, true);
    const auto line = [&](qreal x, qreal top, const QString& label, const QString& count,
                          const QString& share, const QFont& font) {
        const qreal numbers = page.pt(60);
        page.text(QRectF(x + page.pt(2), top, columnWidth - 2 * numbers - page.pt(4), row),
                  Qt::AlignLeft | Qt::AlignVCenter,
                  QFontMetricsF(font, painter.device())
                      .elidedText(label, Qt::ElideRight, columnWidth - 2 * numbers - page.pt(6)),
                  font);
        page.text(QRectF(x + columnWidth - 2 * numbers, top, numbers - page.pt(4), row),
                  Qt::AlignRight | Qt::AlignVCenter, count, font);
        page.text(QRectF(x + columnWidth - numbers, top, numbers - page.pt(2), row),
                  Qt::AlignRight | Qt::AlignVCenter, share, font);
    };
    const size_t perColumn = (rows.size() + size_t(columns) - 1) / size_t(columns);
    for (int c = 0; c < columns; ++c) {
        const qreal x = left + c * (columnWidth + gap);
        line(x, y, groupingTitle(result.by), QStringLiteral("Tarjetas"), QStringLiteral("%"), bold);
        painter.drawLine(QPointF(x, y + row), QPointF(x + columnWidth, y + row));
        for (size_t i = 0; i < perColumn; ++i) {
            const size_t at = size_t(c) * perColumn + i;
            if (at >= rows.size())
                break;
            line(x, y + row * qreal(i + 1), rows[at].label, QString::number(rows[at].count),
                 shareText(rows[at].count, result.total), regular);
        }
    }
    y += row * qreal(perColumn + 1);
    painter.drawLine(QPointF(left, y), QPointF(left + columnWidth, y));
    line(left, y, QStringLiteral("Total"), QString::number(result.total),
         result.total > 0 ? shareText(result.total, result.total) : QString(), bold);
    line(left, y + row, QStringLiteral("Sin fecha o con fecha ilegible (no incluidas)"),
         QString::number(result.undated), QString(), regular);
    painter.restore();
}

bool printReport(QPagedPaintDevice* device, const ReportResult& result, const PageContext& context,
                 QString* error) {
    QPainter painter;
    if (!painter.begin(device)) {
        *error = QStringLiteral("No se pudo comenzar a imprimir el informe de implantaciones.");
        return false;
    }
    const int dpi = device->logicalDpiY();
    const QRect area = device->pageLayout().paintRectPixels(dpi);
    // The painter starts at the corner of the printable area.
    paintReportPage(painter, QRectF(QPointF(0, 0), QSizeF(area.size())), dpi, result, context);
    painter.end();
    return true;
}

bool writeReportPdf(const QString& path, const QPageSize& paper, const ReportResult& result,
                    const PageContext& context, QString* error) {
    {
        QPdfWriter pdf(path);
        pdf.setPageSize(paper);
        pdf.setPageMargins(QMarginsF(15, 15, 15, 15), QPageLayout::Millimeter);
        pdf.setResolution(300);
        pdf.setTitle(QStringLiteral("Informe de implantaciones"));
        pdf.setCreator(QStringLiteral("tarjetas"));
        if (!printReport(&pdf, result, context, error)) {
            *error = QStringLiteral("No se pudo crear el archivo %1.")
                         .arg(QDir::toNativeSeparators(path));
            return false;
        }
    }
    // QPdfWriter says nothing when the file could not be written: look at it.
    if (QFileInfo(path).size() == 0) {
        *error = QStringLiteral("No se pudo escribir el archivo %1.")
                     .arg(QDir::toNativeSeparators(path));
        return false;
    }
    return true;
}

} // namespace report
