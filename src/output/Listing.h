#pragma once

#include "Registry.h"

#include <QDateTime>
#include <QDialog>
#include <QImage>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QKeyEvent;
class QLabel;
class QPainter;
class QPrinter;
class QScrollArea;
class QSpinBox;
class QWidget;

namespace store {
class CardStore;
class Clock;
class MessageLayer;
} // namespace store

namespace output {

// The two pictures of the report and page headers: the program's banner left of the title and
// the customer's logo right of it. A null image leaves its place empty.
struct ListingPictures {
    QImage banner;
    QImage logo;
};

// Page geometry of the listing, in twips (1/1440 inch) from the corner of the area inside the
// margins.
struct ListingGeometry {
    int reportHeader = 1560;
    int pageHeader = 1350;
    int detail = 1785;
    int pageFooter = 315;
    int reportWidth = 12915;
};

// How the cards of the listing fall onto pages of a given usable height.
struct ListingPagination {
    int firstPageCards = 0; // below the report header and the page header
    int otherPageCards = 0; // below the page header
    int pageCount(qint64 cards) const;
};
ListingPagination paginate(int usableHeightTwips, const ListingGeometry& geometry = {});

// Landscape letter paper with one-inch margins on all four sides.
void setUpListingPrinter(QPrinter* printer);

// The listing "Listado de Clientes": every card of the registry, in stored order,
// one block per card, under the report header on the first page and the page header and footer
// on every page. The cards are read afresh, through a connection of the listing's own, each time
// the listing is printed, in one forward-only pass.
class ListingReport {
public:
    ListingReport(store::Registry registry, ListingPictures pictures, QDateTime printedAt);

    // Told before each page is printed (1-based) with the number of pages; false stops the print.
    using Progress = std::function<bool(int page, int pages)>;
    // Paints every page onto the printer, which is already set up (see setUpListingPrinter).
    // On failure returns false with a Spanish reason in `error`; when `progress` stopped it, the
    // job is aborted and `error` is empty (see canceled()). A printer set to print to a file
    // writes a temporary file beside it that takes the file's name only when every page is
    // written: a stopped or failed print leaves no file, or the one there before untouched.
    bool print(QPrinter* printer, QString* error, const Progress& progress = {});
    // Paints one page (1-based; clamped to the pages there are) onto a painter already begun,
    // at `resolution` pixels per inch, for a printable area `usableHeightTwips` high: only the
    // cards of that page are read. Sets `pageCount` to the pages of the whole listing.
    bool paintPage(QPainter& painter, int resolution, int usableHeightTwips, int page,
                   int* pageCount, QString* error);
    // Pages painted by the last print.
    int pagesPrinted() const { return pagesPrinted_; }
    // Whether the last print failed because painting on the printer could not start.
    bool printerFailed() const { return printerFailed_; }
    // Whether the last print was stopped through its progress.
    bool canceled() const { return canceled_; }

private:
    bool printPages(QPrinter* printer, QString* error, const Progress& progress);
    // Paints from `firstPage` on, `onlyPages` pages (0: to the end); returns the pages painted,
    // or -1 with `error` set.
    int paint(QPainter& painter, int dpi, int usable, int firstPage, int onlyPages,
              const std::function<bool()>& begin, const std::function<bool()>& newPage,
              QString* error, int* pageCount = nullptr);

    store::Registry registry_;
    ListingPictures pictures_;
    QDateTime printedAt_;
    int pagesPrinted_ = 0;
    bool printerFailed_ = false;
    bool canceled_ = false;
};

// Renders the listing of the store to a PDF file.
bool renderListingPdf(const store::CardStore& store, const ListingPictures& pictures,
                      const QDateTime& printedAt, const QString& pdfPath, QString* error);

// Where the preview goes so that it stands beside the window instead of over it: on the side of
// `window` with more room on the `available` screen area, as wide as that room allows up to
// `preferred`, when that side has at least `minimumWidth`; a null rectangle when neither side has.
QRect previewBeside(const QRect& window, const QRect& available, const QSize& preferred,
                    int minimumWidth = 480);

// The modeless preview of the listing, one page at a time: only the page shown is read and laid
// out, so the first page of a listing of thousands of pages shows at once and the main window
// stays usable. The pages come from the same painting as the printout, on landscape letter paper
// (see setUpListingPrinter); "Imprimir" prints every page after the printer dialog.
class ListingPreview : public QDialog {
    Q_OBJECT
public:
    ListingPreview(store::Registry registry, ListingPictures pictures, QDateTime printedAt,
                   store::MessageLayer& messages, QWidget* parent = nullptr);
    ~ListingPreview() override;

    QPrinter* printer() const { return printer_.get(); }
    int pageCount() const { return pages_; }
    int currentPage() const { return page_; }
    // The page shown, as painted; null before the first page is laid out.
    const QImage& pageImage() const { return image_; }

    // Shows this page (clamped), read afresh from the store.
    void showPage(int page);
    // Reads the shown page and the page count again.
    void refresh() { showPage(page_); }
    // Prints every page on printer() as it is set up, with a progress dialog (page N of M) whose
    // Cancel stops the print; the main window stays usable meanwhile, keys included. A failure
    // or a cancel is reported, saying that nothing was printed.
    bool printAll();

signals:
    void pageShown(int page);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void reject() override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void print();

    ListingReport report_;
    store::MessageLayer& messages_;
    std::unique_ptr<QPrinter> printer_;
    QLabel* view_ = nullptr;
    QSpinBox* pageBox_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QLabel* ofPages_ = nullptr;
    std::vector<QWidget*> controls_; // what waits while the pages are printed
    QImage image_;
    int page_ = 1;
    int pages_ = 0;
    bool printing_ = false;
};

// The listing command of the window: opens the listing in a modeless, landscape preview beside
// `parent`, from which the user prints. The preview reads the store each time it lays out a
// page, so a card saved a moment ago shows its new values. A failure to read the store is
// reported through `messages`. The preview deletes itself when closed; it only keeps the store's
// file name, so it may outlive the store object.
ListingPreview* showListingPreview(const store::CardStore& store, ListingPictures pictures,
                                   const store::Clock& clock, store::MessageLayer& messages,
                                   QWidget* parent);

} // namespace output
