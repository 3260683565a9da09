#include "PrintSurfacePainter.h"

#include "PrintQueueCheck.h"

#include <QDir>
#include <QFontMetricsF>
#include <QMarginsF>
#include <QPrinter>
#include <QPrinterInfo>

namespace output {

namespace {

constexpr double kTwipsPerInch = 1440.0;

const QString kNotPrinted = QStringLiteral(" La tarjeta no se imprimió.");

store::Status printerFailure(const QString& text) {
    return store::Status::failure(store::ErrorKind::Io, text + kNotPrinted);
}

} // namespace

PainterSurface::PainterSurface(std::unique_ptr<QPrinter> printer) : printer_(std::move(printer)) {}

PainterSurface::~PainterSurface() {
    // A document left open is abandoned rather than sent half printed.
    if (painter_.isActive()) {
        printer_->abort();
        painter_.end();
    }
}

std::unique_ptr<PainterSurface> PainterSurface::begin(std::unique_ptr<QPrinter> printer,
                                                      store::Status* status) {
    std::unique_ptr<PainterSurface> surface(new PainterSurface(std::move(printer)));
    if (!surface->painter_.begin(surface->printer_.get())) {
        *status = printerFailure(
            QStringLiteral("No se pudo comenzar a imprimir en %1.").arg(surface->printerLabel()));
        return nullptr;
    }
    surface->unitsPerTwipX_ = surface->printer_->logicalDpiX() / kTwipsPerInch;
    surface->unitsPerTwipY_ = surface->printer_->logicalDpiY() / kTwipsPerInch;
    surface->setFont(kValueFont);
    return surface;
}

QString PainterSurface::printerLabel() const {
    if (printer_->outputFormat() == QPrinter::PdfFormat)
        return QStringLiteral("el archivo \"%1\"")
            .arg(QDir::toNativeSeparators(printer_->outputFileName()));
    return QStringLiteral("la impresora \"%1\"").arg(printer_->printerName());
}

void PainterSurface::setFont(const PrintFont& font) {
    QFont f(font.family.toString());
    f.setPointSize(font.points);
    f.setBold(font.bold);
    painter_.setFont(f);
    ascent_ = QFontMetricsF(painter_.font(), painter_.device()).ascent();
}

void PainterSurface::setPosition(double xTwips, double yTwips) {
    x_ = xTwips;
    y_ = yTwips;
}

void PainterSurface::printText(const QString& text) {
    painter_.drawText(QPointF(x_ * unitsPerTwipX_, y_ * unitsPerTwipY_ + ascent_), text);
}

store::Status PainterSurface::endDocument() {
    const bool ended = painter_.end();
    if (!ended || printer_->printerState() == QPrinter::Error)
        return printerFailure(
            QStringLiteral("No se pudo enviar la tarjeta a %1.").arg(printerLabel()));
    if (printer_->outputFormat() == QPrinter::NativeFormat) {
        if (const QString reason = queue::refusalOfLastJob(); !reason.isEmpty())
            return printerFailure(
                QStringLiteral("La tarjeta fue rechazada por %1: %2.").arg(printerLabel(), reason));
    }
    return {};
}

std::unique_ptr<PrintSurface> DefaultPrinterTarget::open(store::Status* status) {
    // Without a printer QPrinter quietly becomes a PDF writer with no file: say so instead.
    if (QPrinterInfo::defaultPrinter().isNull()) {
        *status = printerFailure(QStringLiteral(
            "No hay una impresora predeterminada instalada o disponible en este equipo."));
        return nullptr;
    }
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    if (const QString reason = queue::refusalBeforePrinting(printer->printerName());
        !reason.isEmpty()) {
        *status = printerFailure(
            QStringLiteral("La impresora \"%1\" %2.").arg(printer->printerName(), reason));
        return nullptr;
    }
    printer->setDocName(QStringLiteral("Tarjeta de identificación"));
    return PainterSurface::begin(std::move(printer), status);
}

PdfFileTarget::PdfFileTarget(QString fileName, QPageSize pageSize)
    : fileName_(std::move(fileName)), pageSize_(std::move(pageSize)) {}

std::unique_ptr<PrintSurface> PdfFileTarget::open(store::Status* status) {
    auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer->setOutputFormat(QPrinter::PdfFormat);
    printer->setOutputFileName(fileName_);
    printer->setPageSize(pageSize_);
    printer->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    printer->setDocName(QStringLiteral("Tarjeta de identificación"));
    return PainterSurface::begin(std::move(printer), status);
}

} // namespace output
