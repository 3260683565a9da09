#pragma once

#include "ImplantReport.h"
#include "Listing.h"

#include <QDateTime>
#include <QPageSize>
#include <QString>

class QPainter;
class QPagedPaintDevice;

namespace report {

// What the page shows besides the counts.
struct PageContext {
    output::ListingPictures pictures; // the banner left of the title, the practice's logo right
    QDateTime printedAt;
    QString registryName; // as the footer names it
};

// Paints the report on one page: the pictures and title, the range, the chart, the table with
// every group (two columns when they are many; past what fits, the smallest together), the total
// and the cards without a date, and the footer as the listing has it. `page` is the printable
// area in the painter's pixels, at `dpi` pixels per inch.
void paintReportPage(QPainter& painter, const QRectF& page, double dpi, const ReportResult& result,
                     const PageContext& context);

// Paints the page on a printer or PDF writer already set up; false with a Spanish reason when
// painting could not start.
bool printReport(QPagedPaintDevice* device, const ReportResult& result, const PageContext& context,
                 QString* error);

// Writes the page to a PDF file on paper of this size; false with a Spanish reason.
bool writeReportPdf(const QString& path, const QPageSize& paper, const ReportResult& result,
                    const PageContext& context, QString* error);

} // namespace report
