#pragma once

#include "PrintSurface.h"

#include <QPageSize>
#include <QPainter>
#include <QString>

#include <memory>

class QPrinter;

namespace output {

// Prints on a QPrinter through a QPainter. Positions are twips from the top-left corner of the
// printable area; the top of each text item lies at its Y, so the baseline is drawn one font
// ascent lower.
class PainterSurface : public PrintSurface {
public:
    // Begins a document on the printer; null with `status` set when the printer refuses.
    static std::unique_ptr<PainterSurface> begin(std::unique_ptr<QPrinter> printer,
                                                 store::Status* status);
    ~PainterSurface() override;

    void setFont(const PrintFont& font) override;
    void setPosition(double xTwips, double yTwips) override;
    void printText(const QString& text) override;
    store::Status endDocument() override;

    QPrinter& printer() { return *printer_; }

private:
    explicit PainterSurface(std::unique_ptr<QPrinter> printer);
    QString printerLabel() const;

    std::unique_ptr<QPrinter> printer_;
    QPainter painter_;
    double unitsPerTwipX_ = 1;
    double unitsPerTwipY_ = 1;
    double ascent_ = 0;
    double x_ = 0;
    double y_ = 0;
};

// The system's default printer with its default paper and orientation.
class DefaultPrinterTarget : public PrintTarget {
public:
    std::unique_ptr<PrintSurface> open(store::Status* status) override;
};

// A PDF file with no margins, so that the printable area starts at the paper's corner.
class PdfFileTarget : public PrintTarget {
public:
    PdfFileTarget(QString fileName, QPageSize pageSize);
    std::unique_ptr<PrintSurface> open(store::Status* status) override;

private:
    QString fileName_;
    QPageSize pageSize_;
};

} // namespace output
