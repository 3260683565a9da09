#include "Listing.h"

#include "PgLink.h"

#include "CardFields.h"
#include "CardStore.h"
#include "Clock.h"
#include "Messages.h"

#include <QAtomicInteger>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringBuilder>
#include <QVBoxLayout>

#include <QShortcut>
#include <QTemporaryFile>

#include <algorithm>
#include <array>
#include <filesystem>

namespace output {

namespace {

constexpr int kTwipsPerInch = 1440;
const QColor kValueBackground(255, 255, 192);
const QColor kBarFill(128, 64, 0);
const QColor kBarEdge(255, 128, 0);

// Font sizes in twips (points times 20).
constexpr int kRegularTwips = 165; // 8.25 points
constexpr int kTitleTwips = 525;   // 26.25 points
constexpr int kCodeTwips = 195;    // 9.75 points

struct Box {
    int left, top, width, height;
};

// One labelled value of the detail block.
struct DetailItem {
    QStringView label;
    Box labelBox;
    store::Field field;
    Box valueBox;
};

constexpr int kLabelHeight = 240;
constexpr int kValuePadding = 15; // one screen pixel, between a box's edge and its text
constexpr int kValueHeight = 255;

constexpr DetailItem item(int top, QStringView label, int labelLeft, int labelWidth,
                          store::Field field, int valueLeft, int valueWidth, int valueTop = -1,
                          int valueHeight = kValueHeight) {
    return {label,
            {labelLeft, top, labelWidth, kLabelHeight},
            field,
            {valueLeft, valueTop < 0 ? top : valueTop, valueWidth, valueHeight}};
}

using F = store::Field;
constexpr std::array<DetailItem, 20> kDetail{{
    item(240, u"Microchip", 90, 990, F::Codigo, 1290, 1620, -1, 285),
    item(240, u"Nombre Animal", 3765, 1230, F::NombreAnimal, 5025, 2925),
    item(240, u"Sexo", 8235, 420, F::Sexo, 8700, 405),
    item(240, u"Estado Reproductivo", 9450, 1635, F::EReproductivo, 10980, 1605),
    item(480, u"Fecha Atencion", 90, 1230, F::FechaAtencion, 1290, 1260),
    item(480, u"Especie", 3765, 1230, F::Especie, 5025, 1260),
    item(480, u"Raza", 6915, 420, F::Raza, 7380, 2100),
    item(480, u"Fecha Nacimiento", 10065, 1530, F::FechaNacimiento, 11400, 1320),
    item(720, u"Ficha Clinica", 90, 990, F::FichaClinica, 1290, 2040),
    item(720, u"Color", 3765, 1245, F::Color, 5025, 2955),
    item(720, u"Implantador:", 8265, 1245, F::Implantador, 9255, 3480),
    item(975, u"Tamaño:", 90, 990, F::Tamano, 1290, 2040, 960),
    item(975, u"Grupo Fam:", 3765, 1230, F::GrupoFam, 5010, 2415, 990),
    item(975, u"Celular:", 7485, 660, F::Cel, 8235, 2430),
    item(1230, u"Propietario", 90, 990, F::Propietario, 1290, 2760),
    item(1230, u"Telefono", 4305, 990, F::Telefono1, 5025, 1755),
    item(1230, u"Direccion", 7470, 990, F::DireccionCompleta, 8220, 4635),
    item(1470, u"e-mail", 90, 1230, F::Email, 1290, 2805),
    item(1470, u"Contacto", 4305, 990, F::Contacto, 5025, 2235),
    item(1470, u"Telefono Contacto", 7470, 1230, F::Telefono2, 8220, 1650),
}};

// The report and page headers differ only in their offsets.
struct HeaderLayout {
    Box banner, logo, title, date, time;
};
constexpr HeaderLayout kReportHeader{{855, 270, 2745, 1185},
                                     {10350, 210, 2355, 1155},
                                     {4200, 105, 5625, 645},
                                     {6150, 750, 3900, 240},
                                     {6150, 1005, 2805, 240}};
constexpr HeaderLayout kPageHeader{{810, 165, 2745, 1185},
                                   {10305, 105, 2355, 1155},
                                   {4155, 0, 5625, 645},
                                   {6105, 645, 3900, 240},
                                   {6105, 900, 2805, 240}};

const QString kTitle = QStringLiteral("Listado de Clientes");

// Pixels per inch at which the header pictures are kept: plenty for paper, and small enough
// that a preview of thousands of pages shares one copy of each.
constexpr int kPictureDpi = 300;

QString quoted(const QString& path) {
    return u'"' % QDir::toNativeSeparators(path) % u'"';
}

// The picture scaled once to fit its box, keeping its proportions.
QImage fitted(const QImage& picture, const Box& box) {
    if (picture.isNull())
        return {};
    const QSize target(box.width * kPictureDpi / kTwipsPerInch,
                       box.height * kPictureDpi / kTwipsPerInch);
    return picture.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// Why a file could not be made in this folder, in a few Spanish words.
QString folderProblem(const QString& folder, const QFile& file) {
    const QFileInfo info(folder);
    if (!info.exists())
        return QStringLiteral("la carpeta %1 no existe").arg(quoted(folder));
    if (!info.isDir())
        return QStringLiteral("%1 no es una carpeta").arg(quoted(folder));
    if (!info.isWritable())
        return QStringLiteral("no hay permiso para escribir en la carpeta %1").arg(quoted(folder));
    return file.errorString();
}

// A font of the report with the measures the painter needs, taken once.
struct ReportFont {
    QFont font;
    qreal ascent = 0;
    qreal maxWidth = 0;
    QFontMetricsF metrics{QFont()};
};

// Paints in twips from the corner of the area inside the margins. Texts are placed by their
// baseline rather than laid out in a rectangle, and a value is clipped only when it does not fit:
// a preview of thousands of pages records every call.
class Painter {
public:
    Painter(QPainter& painter, int resolution) : p_(painter), dpi_(resolution) {
        regular_ = font(kRegularTwips, false);
        title_ = font(kTitleTwips, true);
        code_ = font(kCodeTwips, true);
    }

    QRect rect(const Box& b, int dy) const {
        return QRect(px(b.left), px(b.top + dy), px(b.width), px(b.height));
    }

    // A label: its text from the top left corner of its box.
    void text(const Box& b, int dy, const QString& text, const ReportFont& font) {
        use(font);
        p_.drawText(QPointF(px(b.left), px(b.top + dy) + font.ascent), text);
    }

    // The width of a text in twips.
    int width(const QString& text, const ReportFont& font) const {
        return int(std::ceil(font.metrics.horizontalAdvance(text) * kTwipsPerInch / dpi_));
    }

    void centred(const Box& b, int dy, const QString& text, const ReportFont& font) {
        use(font);
        const qreal width = font.metrics.horizontalAdvance(text);
        p_.drawText(QPointF(px(b.left) + (px(b.width) - width) / 2, px(b.top + dy) + font.ascent),
                    text);
    }

    // A value box: light yellow, its text clipped to the box like the report's text boxes. The
    // microchip code is never clipped: a fifteen-digit code in bold fills its box to the last
    // twip, and the empty space to its right takes the rest.
    void value(const Box& b, int dy, const QString& text, const ReportFont& font, bool clip) {
        const QRect r = rect(b, dy);
        p_.fillRect(r, kValueBackground);
        if (text.isEmpty())
            return;
        use(font);
        const QPointF at(r.left() + px(kValuePadding), r.top() + font.ascent);
        const qreal room = r.width() - px(kValuePadding);
        const bool fits = !clip || text.size() * font.maxWidth <= room ||
                          font.metrics.horizontalAdvance(text) <= room;
        if (fits) {
            p_.drawText(at, text);
            return;
        }
        p_.save();
        p_.setClipRect(r);
        p_.drawText(at, text);
        p_.restore();
    }

    void picture(const Box& b, int dy, const QImage& image) {
        if (image.isNull())
            return;
        const QRect r = rect(b, dy);
        QSize size = image.size().scaled(r.size(), Qt::KeepAspectRatio);
        const QRect target(r.x() + (r.width() - size.width()) / 2,
                           r.y() + (r.height() - size.height()) / 2, size.width(), size.height());
        p_.drawImage(target, image);
    }

    void bar(int dy) {
        p_.setPen(QPen(kBarEdge, px(15)));
        p_.setBrush(kBarFill);
        p_.drawRect(rect({60, 60, 12780, 135}, dy));
        p_.setPen(Qt::black);
        p_.setBrush(Qt::NoBrush);
    }

    int px(int twips) const { return int(qint64(twips) * dpi_ / kTwipsPerInch); }

    const ReportFont& regular() const { return regular_; }
    const ReportFont& titleFont() const { return title_; }
    const ReportFont& code() const { return code_; }

private:
    ReportFont font(int twips, bool bold) const {
        ReportFont f;
        f.font = QFont(QStringLiteral("Arial"));
        f.font.setPixelSize(std::max(1, px(twips)));
        f.font.setBold(bold);
        f.metrics = QFontMetricsF(f.font, p_.device());
        f.ascent = f.metrics.ascent();
        f.maxWidth = f.metrics.maxWidth();
        return f;
    }

    // The painter records a font change only when the font really changes.
    void use(const ReportFont& font) {
        if (current_ != &font) {
            p_.setFont(font.font);
            current_ = &font;
        }
    }

    QPainter& p_;
    int dpi_;
    ReportFont regular_, title_, code_;
    const ReportFont* current_ = nullptr;
};

QAtomicInteger<int> connectionCounter;

// A read-only connection of the listing's own to the registry, closed when it goes.
class ListingConnection {
public:
    explicit ListingConnection(const store::Registry& registry)
        : name_(
              QStringLiteral("tarjetas-listing-%1").arg(connectionCounter.fetchAndAddRelaxed(1))) {
        store::addRegistryConnection(registry, name_, true);
    }
    ~ListingConnection() {
        {
            QSqlDatabase db = database();
            if (db.isOpen()) {
                db.rollback();
                db.close();
            }
        }
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlDatabase database() const { return QSqlDatabase::database(name_, false); }

private:
    QString name_;
};

// The Spanish reason, then the engine's own words as the last line for support.
QString sqlDetail(const QSqlError& e, const store::Registry& registry) {
    const store::SqlReason r = store::CardStore::explain(e, registry.engine());
    return r.reason + u'.' + store::Status::detailLine(r.detail);
}

} // namespace

int ListingPagination::pageCount(qint64 cards) const {
    if (cards <= firstPageCards)
        return 1;
    const qint64 rest = cards - firstPageCards;
    return int(1 + (rest + otherPageCards - 1) / otherPageCards);
}

ListingPagination paginate(int usableHeightTwips, const ListingGeometry& g) {
    ListingPagination p;
    const int below = usableHeightTwips - g.pageHeader - g.pageFooter;
    // A page too small for a block still takes one, so that the listing always ends.
    p.firstPageCards = std::max(0, (below - g.reportHeader) / g.detail);
    p.otherPageCards = std::max(1, below / g.detail);
    return p;
}

void setUpListingPrinter(QPrinter* printer) {
    printer->setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Landscape,
                                       QMarginsF(1, 1, 1, 1), QPageLayout::Inch));
    printer->setDocName(kTitle);
}

ListingReport::ListingReport(store::Registry registry, ListingPictures pictures,
                             QDateTime printedAt)
    : registry_(std::move(registry)), pictures_(std::move(pictures)),
      printedAt_(std::move(printedAt)) {}

bool ListingReport::print(QPrinter* printer, QString* error, const Progress& progress) {
    pagesPrinted_ = 0;
    printerFailed_ = false;
    canceled_ = false;
    const QString target = printer->outputFileName();
    if (target.isEmpty())
        return printPages(printer, error, progress);

    // Printed to a file: the pages go to a temporary file beside it, which takes the chosen name
    // only once the last page is written. A cancelled or failed listing leaves nothing under
    // that name, and a file already there keeps its contents.
    const QFileInfo info(target);
    QString partialPath;
    {
        // Only the name is wanted: QTemporaryFile keeps its handle open until it is destroyed,
        // and on Windows an open file can be neither renamed nor removed.
        QTemporaryFile partial(info.absolutePath() % QStringLiteral("/.") % info.fileName() %
                               QStringLiteral(".XXXXXX.parcial"));
        partial.setAutoRemove(false);
        if (!partial.open()) {
            printerFailed_ = true;
            *error = QStringLiteral("No se pudo crear el archivo %1: %2.")
                         .arg(quoted(target), folderProblem(info.absolutePath(), partial));
            return false;
        }
        partialPath = partial.fileName();
    }
    printer->setOutputFileName(partialPath);
    bool printed = printPages(printer, error, progress);
    printer->setOutputFileName(target);
    if (printed) {
        std::error_code failure;
        // Replaces a file of that name in one step, also where QFile::rename would refuse.
        std::filesystem::rename(std::filesystem::path(partialPath.toStdU16String()),
                                std::filesystem::path(target.toStdU16String()), failure);
        if (failure) {
            printed = false;
            pagesPrinted_ = 0;
            printerFailed_ = true;
            *error = QStringLiteral("No se pudo guardar el listado como %1: %2.")
                         .arg(quoted(target), QString::fromLocal8Bit(failure.message()));
        }
    }
    if (!printed)
        QFile::remove(partialPath);
    return printed;
}

bool ListingReport::printPages(QPrinter* printer, QString* error, const Progress& progress) {
    int total = 0;
    int current = 0;
    // Asked before each page; a "stop" aborts the job, so that no half listing is printed.
    const auto goOn = [&] {
        ++current;
        if (!progress || progress(current, total))
            return true;
        canceled_ = true;
        printer->abort();
        return false;
    };
    const int dpi = printer->resolution();
    const QRect paintRect = printer->pageLayout().paintRectPixels(dpi);
    const int usable = int(qint64(paintRect.height()) * kTwipsPerInch / dpi);
    QPainter painter;
    const auto begin = [&] {
        if (!goOn())
            return false;
        if (painter.begin(printer))
            return true;
        printerFailed_ = true;
        *error = QStringLiteral("No se pudo empezar la impresión del listado: la impresora no "
                                "está disponible.");
        return false;
    };
    const auto newPage = [&] {
        return goOn() && printer->newPage();
    };
    const int pages = paint(painter, dpi, usable, 1, 0, begin, newPage, error, &total);
    if (pages < 0) {
        if (canceled_) {
            printerFailed_ = false;
            error->clear();
        }
        return false;
    }
    if (!painter.end()) {
        printerFailed_ = true;
        *error = QStringLiteral("No se pudo terminar la impresión del listado.");
        return false;
    }
    pagesPrinted_ = pages;
    return true;
}

bool ListingReport::paintPage(QPainter& painter, int resolution, int usableHeightTwips, int page,
                              int* pageCount, QString* error) {
    printerFailed_ = false;
    const int painted = paint(
        painter, resolution, usableHeightTwips, page, 1, [] { return true; }, [] { return true; },
        error, pageCount);
    return painted >= 0;
}

int ListingReport::paint(QPainter& painter, int dpi, int usable, int firstPage, int onlyPages,
                         const std::function<bool()>& begin, const std::function<bool()>& newPage,
                         QString* error, int* pageCount) {
    const auto readFailure = [&](const QString& detail) {
        *error = QStringLiteral("No se pudieron leer las tarjetas del registro %1 para el listado: "
                                "%2")
                     .arg(registry_.quoted(), detail);
        return -1;
    };
    if (!registry_.isServer() && !QFileInfo(registry_.location()).isFile())
        return readFailure(QStringLiteral("el archivo no existe"));

    // The count and the walk see the same cards: one read transaction on a connection of the
    // listing's own, which no write of the window can interleave with (on a server, a
    // repeatable-read snapshot).
    ListingConnection connection(registry_);
    QSqlDatabase db = connection.database();
    if (!db.open())
        return readFailure(sqlDetail(db.lastError(), registry_));
    if (!db.transaction())
        return readFailure(sqlDetail(db.lastError(), registry_));
    if (registry_.isServer()) {
        QSqlQuery snapshot(db);
        if (!snapshot.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ")))
            return readFailure(sqlDetail(snapshot.lastError(), registry_));
    }
    // A server registry keeps its count in a table: count(*) would read every card again for
    // each page shown, most of a second at ten million.
    QSqlQuery count(db);
    bool kept = false;
    if (registry_.isServer()) {
        if (!count.exec(QStringLiteral("SELECT to_regclass('\"ConteoTarjetas\"') IS NOT NULL")) ||
            !count.next())
            return readFailure(sqlDetail(count.lastError(), registry_));
        kept = count.value(0).toBool();
        count.finish();
    }
    if (!count.exec(kept ? QStringLiteral("SELECT tarjetas FROM \"ConteoTarjetas\"")
                         : QStringLiteral("SELECT count(*) FROM \"Clientes\"")) ||
        !count.next())
        return readFailure(sqlDetail(count.lastError(), registry_));
    const qint64 cards = count.value(0).toLongLong();
    count.finish();

    const ListingGeometry geometry;
    const ListingPagination pagination = paginate(usable, geometry);
    const int pages = pagination.pageCount(cards);
    if (pageCount)
        *pageCount = pages;
    firstPage = std::clamp(firstPage, 1, pages);
    const int lastPage = onlyPages > 0 ? std::min(pages, firstPage + onlyPages - 1) : pages;
    // The cards before the first page painted are skipped by the store, not read.
    const qint64 skipped = firstPage == 1 ? 0
                                          : pagination.firstPageCards +
                                                qint64(firstPage - 2) * pagination.otherPageCards;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral("SELECT ") % store::CardStore::columnList() %
                   (registry_.isServer()
                        ? QStringLiteral(" FROM \"Clientes\" ORDER BY id OFFSET ?")
                        : QStringLiteral(" FROM \"Clientes\" ORDER BY id LIMIT -1 OFFSET ?"))))
        return readFailure(sqlDetail(q.lastError(), registry_));
    q.addBindValue(skipped);
    if (!q.exec())
        return readFailure(sqlDetail(q.lastError(), registry_));

    if (!begin())
        return -1;
    Painter paint(painter, dpi);

    const QLocale chile(QLocale::Spanish, QLocale::Chile);
    const QString date = chile.toString(printedAt_.date(), QLocale::LongFormat);
    const QString time = chile.toString(printedAt_.time(), QLocale::LongFormat);
    const ListingPictures report{fitted(pictures_.banner, kReportHeader.banner),
                                 fitted(pictures_.logo, kReportHeader.logo)};
    const ListingPictures page{fitted(pictures_.banner, kPageHeader.banner),
                               fitted(pictures_.logo, kPageHeader.logo)};

    const auto header = [&](const HeaderLayout& h, const ListingPictures& pics, int dy) {
        paint.picture(h.banner, dy, pics.banner);
        paint.picture(h.logo, dy, pics.logo);
        paint.centred(h.title, dy, kTitle, paint.titleFont());
        paint.text(h.date, dy, date, paint.regular());
        paint.text(h.time, dy, time, paint.regular());
    };
    const int footerTop = usable - geometry.pageFooter;
    const auto footer = [&](int number) {
        paint.text({9300, 75, 540, 240}, footerTop, QStringLiteral("Pagina"), paint.regular());
        const QString shown = QString::number(number);
        paint.text({9870, 60, 465, 240}, footerTop, shown, paint.regular());
        // A page number of four or five digits pushes "de" and the page count to the right
        // rather than running into them.
        const int space = paint.width(QStringLiteral(" "), paint.regular());
        const int of = std::max(10155, 9870 + paint.width(shown, paint.regular()) + space);
        paint.text({of, 75, 330, 225}, footerTop, QStringLiteral("de"), paint.regular());
        paint.text({of + 330, 75, 495, 240}, footerTop, QString::number(pages), paint.regular());
    };
    const auto detail = [&](const store::Card& card, int dy) {
        paint.bar(dy);
        for (const DetailItem& d : kDetail) {
            paint.text(d.labelBox, dy, d.label.toString(), paint.regular());
            const bool code = d.field == store::Codigo;
            paint.value(d.valueBox, dy, card[d.field], code ? paint.code() : paint.regular(),
                        !code);
        }
    };

    int pageNumber = firstPage;
    int y = 0;
    int room = 0;
    if (firstPage == 1) {
        header(kReportHeader, report, 0);
        header(kPageHeader, page, geometry.reportHeader);
        y = geometry.reportHeader + geometry.pageHeader;
        room = pagination.firstPageCards;
    } else {
        header(kPageHeader, page, 0);
        y = geometry.pageHeader;
        room = pagination.otherPageCards;
    }
    qint64 painted = skipped;
    // Only as many cards as counted: the transaction keeps the two in step, and the footers
    // already promise that many pages.
    while (painted < cards && q.next()) {
        if (room == 0) {
            footer(pageNumber);
            if (pageNumber == lastPage)
                return pageNumber - firstPage + 1;
            if (!newPage()) {
                painter.end();
                printerFailed_ = true;
                *error = QStringLiteral("No se pudo terminar la impresión del listado.");
                return -1;
            }
            ++pageNumber;
            header(kPageHeader, page, 0);
            y = geometry.pageHeader;
            room = pagination.otherPageCards;
        }
        detail(store::CardStore::cardFromQuery(q, 0), y);
        y += geometry.detail;
        --room;
        ++painted;
    }
    if (q.lastError().isValid()) {
        painter.end();
        return readFailure(sqlDetail(q.lastError(), registry_));
    }
    footer(pageNumber);
    return pageNumber - firstPage + 1;
}

bool renderListingPdf(const store::CardStore& store, const ListingPictures& pictures,
                      const QDateTime& printedAt, const QString& pdfPath, QString* error) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(pdfPath);
    setUpListingPrinter(&printer);
    ListingReport report(store.registry(), pictures, printedAt);
    if (!report.print(&printer, error)) {
        if (report.printerFailed())
            *error = QStringLiteral("No se pudo escribir el archivo %1.").arg(quoted(pdfPath));
        return false;
    }
    return true;
}

QRect previewBeside(const QRect& window, const QRect& available, const QSize& preferred,
                    int minimumWidth) {
    const int rightRoom = available.x() + available.width() - (window.x() + window.width());
    const int leftRoom = window.x() - available.x();
    const bool right = rightRoom >= leftRoom;
    const int room = right ? rightRoom : leftRoom;
    if (room < minimumWidth)
        return {};
    const int width = std::min(room, preferred.width());
    const int height = std::min(available.height(), preferred.height());
    const int top =
        std::clamp(window.y(), available.y(), available.y() + available.height() - height);
    const int left = right ? window.x() + window.width() : window.x() - width;
    return {left, top, width, height};
}

ListingPreview::ListingPreview(store::Registry registry, ListingPictures pictures,
                               QDateTime printedAt, store::MessageLayer& messages, QWidget* parent)
    : QDialog(parent), report_(std::move(registry), std::move(pictures), std::move(printedAt)),
      messages_(messages), printer_(std::make_unique<QPrinter>(QPrinter::HighResolution)) {
    setUpListingPrinter(printer_.get());
    setWindowTitle(kTitle);
    setModal(false);

    auto* bar = new QHBoxLayout;
    // The page buttons show arrows; a screen reader and the tool tip say what they do.
    const auto addButton = [&](const QString& caption, const QString& name, const QString& said,
                               auto slot) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setAutoDefault(false);
        if (!said.isEmpty()) {
            b->setAccessibleName(said);
            b->setToolTip(said);
        }
        connect(b, &QPushButton::clicked, this, slot);
        bar->addWidget(b);
        controls_.push_back(b);
        return b;
    };
    const auto first = [this] {
        showPage(1);
    };
    const auto previous = [this] {
        showPage(page_ - 1);
    };
    const auto next = [this] {
        showPage(page_ + 1);
    };
    const auto last = [this] {
        showPage(pages_);
    };
    addButton(QStringLiteral("|<"), QStringLiteral("primeraPagina"),
              QStringLiteral("Primera página"), first);
    addButton(QStringLiteral("<"), QStringLiteral("paginaAnterior"),
              QStringLiteral("Página anterior"), previous);
    pageBox_ = new QSpinBox(this);
    pageBox_->setObjectName(QStringLiteral("pagina"));
    pageBox_->setAccessibleName(QStringLiteral("Página"));
    pageBox_->setKeyboardTracking(false);
    bar->addWidget(pageBox_);
    controls_.push_back(pageBox_);
    ofPages_ = new QLabel(this);
    bar->addWidget(ofPages_);
    addButton(QStringLiteral(">"), QStringLiteral("paginaSiguiente"),
              QStringLiteral("Página siguiente"), next);
    addButton(QStringLiteral(">|"), QStringLiteral("ultimaPagina"), QStringLiteral("Última página"),
              last);
    bar->addStretch();
    addButton(QStringLiteral("&Imprimir…"), QStringLiteral("imprimir"), QString(),
              [this] { print(); });
    addButton(QStringLiteral("C&errar"), QStringLiteral("cerrar"), QString(), [this] { close(); });
    connect(pageBox_, &QSpinBox::valueChanged, this, [this](int page) {
        if (page != page_)
            showPage(page);
    });
    // The paging keys of any viewer, wherever the focus is in the preview; the page box and the
    // scrolled page would otherwise take PageDown and PageUp for themselves.
    const auto pageKey = [this](QKeySequence key, auto slot) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, this, [this, slot] {
            if (!printing_)
                slot();
        });
    };
    pageKey(QKeySequence(Qt::Key_PageDown), next);
    pageKey(QKeySequence(Qt::Key_PageUp), previous);
    pageKey(QKeySequence(Qt::CTRL | Qt::Key_Home), first);
    pageKey(QKeySequence(Qt::CTRL | Qt::Key_End), last);
    // The page box keeps Ctrl+Home and Ctrl+End as text keys, which mean nothing in a number.
    pageBox_->installEventFilter(this);

    view_ = new QLabel(this);
    view_->setObjectName(QStringLiteral("paginaListado"));
    view_->setAlignment(Qt::AlignCenter);
    view_->setAccessibleName(QStringLiteral("Página del listado"));
    scroll_ = new QScrollArea(this);
    controls_.push_back(scroll_);
    auto* scroll = scroll_;
    scroll->setWidget(view_);
    scroll->setWidgetResizable(true);
    scroll->setBackgroundRole(QPalette::Dark);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(scroll, 1);
}

ListingPreview::~ListingPreview() = default;

bool ListingPreview::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pageBox_ && event->type() == QEvent::KeyPress && !printing_) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() == Qt::ControlModifier &&
            (key->key() == Qt::Key_Home || key->key() == Qt::Key_End)) {
            showPage(key->key() == Qt::Key_Home ? 1 : pages_);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ListingPreview::keyPressEvent(QKeyEvent* event) {
    // Enter on a focused button presses it, as Space does: the buttons are not the dialog's
    // default, so that Enter in the page box only goes to the page typed.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget());
            button && button->isEnabled() && !printing_) {
            event->accept();
            button->click();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

void ListingPreview::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (pages_ > 0 && isVisible())
        refresh();
}

void ListingPreview::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The view has its size only now: lay the page out again to its width.
    if (pages_ > 0)
        QMetaObject::invokeMethod(
            this, [this] { refresh(); }, Qt::QueuedConnection);
}

void ListingPreview::showPage(int page) {
    // The page on paper at the screen's resolution, laid out for the printer's printable area
    // so that the preview breaks pages exactly where the printout does.
    const int printerDpi = printer_->resolution();
    const QPageLayout layout = printer_->pageLayout();
    const int usable =
        int(qint64(layout.paintRectPixels(printerDpi).height()) * kTwipsPerInch / printerDpi);
    // The page as wide as the view, so that a whole line of the listing reads without scrolling
    // sideways; the screen's resolution until the view has a size.
    int dpi = std::max(72, logicalDpiY());
    const double paperInches = layout.fullRect(QPageLayout::Inch).width();
    if (scroll_ && isVisible() && paperInches > 0 && scroll_->viewport()->isVisible()) {
        const int room = scroll_->viewport()->width() - 2 * scroll_->frameWidth();
        if (room > 200)
            dpi = std::clamp(int(room / paperInches), 36, 300);
    }
    const QRect paper = layout.fullRectPixels(dpi);
    const QRect area = layout.paintRectPixels(dpi);
    QImage image(paper.size(), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.translate(area.topLeft());
    int pages = pages_;
    QString error;
    const bool ok = report_.paintPage(painter, dpi, usable, std::max(1, page), &pages, &error);
    painter.end();
    if (!ok) {
        messages_.notice(error);
        return;
    }
    pages_ = pages;
    page_ = std::clamp(page, 1, pages_);
    image_ = std::move(image);
    view_->setPixmap(QPixmap::fromImage(image_));
    const QSignalBlocker blocker(pageBox_);
    pageBox_->setRange(1, pages_);
    pageBox_->setValue(page_);
    ofPages_->setText(QStringLiteral("de %1").arg(pages_));
    view_->setAccessibleName(QStringLiteral("Página %1 de %2 del listado").arg(page_).arg(pages_));
    emit pageShown(page_);
}

void ListingPreview::print() {
    QPrintDialog dialog(printer_.get(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    printAll();
}

bool ListingPreview::printAll() {
    // Page by page, with the event loop running between pages: the progress dialog's Cancel is
    // heard, and the main window stays usable with its keys. The dialog is therefore not modal
    // (a modal one would block the main window too, the preview's parent); the preview's own
    // controls wait instead.
    QProgressDialog progress(QStringLiteral("Imprimiendo el listado…"), QStringLiteral("Cancelar"),
                             0, std::max(1, pages_), this);
    progress.setObjectName(QStringLiteral("progresoListado"));
    progress.setWindowTitle(kTitle);
    progress.setWindowModality(Qt::NonModal);
    progress.setAutoReset(false);
    progress.setAutoClose(false);
    progress.setMinimumDuration(0);
    printing_ = true;
    for (QWidget* control : controls_)
        control->setEnabled(false);
    const QString toFile = printer_->outputFileName();
    QString error;
    const bool printed = report_.print(printer_.get(), &error, [&](int page, int pages) {
        progress.setMaximum(std::max(1, pages));
        progress.setLabelText(
            QStringLiteral("Imprimiendo la página %1 de %2").arg(page).arg(pages));
        progress.setValue(page - 1);
        QCoreApplication::processEvents();
        return !progress.wasCanceled();
    });
    printing_ = false;
    for (QWidget* control : controls_)
        control->setEnabled(true);
    progress.close();
    if (!printed) {
        // Said either way. A file is left as it was. A print job cannot be taken back on every
        // system (the toolkit's PDF-based printing hands the pages painted so far to the print
        // queue even when stopped): the user is told where to look rather than told that
        // nothing came out.
        const QString nothing =
            toFile.isEmpty()
                ? QStringLiteral("Revise la cola de la impresora: puede haber recibido las páginas "
                                 "anteriores.")
                : QStringLiteral("No se guardó el listado en el archivo %1.").arg(quoted(toFile));
        messages_.notice(
            report_.canceled()
                ? QString(QStringLiteral("Se canceló la impresión del listado. ") % nothing)
                : QString(error % QStringLiteral("\n\n") % nothing));
    }
    return printed;
}

void ListingPreview::reject() {
    // Esc while the pages are being printed: the progress dialog's Cancel stops the print.
    if (!printing_)
        QDialog::reject();
}

void ListingPreview::closeEvent(QCloseEvent* event) {
    // Closing while the pages are being printed would pull the report from under the printing.
    if (printing_) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

ListingPreview* showListingPreview(const store::CardStore& store, ListingPictures pictures,
                                   const store::Clock& clock, store::MessageLayer& messages,
                                   QWidget* parent) {
    auto* preview =
        new ListingPreview(store.registry(), std::move(pictures), clock.now(), messages, parent);
    preview->setAttribute(Qt::WA_DeleteOnClose);
    preview->resize(1000, 720);
    // A dialog opens centred over its parent and would hide the main window, which stays in use
    // while the preview is open. Beside it only where the preview's buttons fit; otherwise over
    // it, but always inside the screen, so that "Cerrar" and the page are never cut off.
    if (parent && parent->isVisible() && parent->screen()) {
        const QRect frame = parent->frameGeometry();
        const QSize decoration = frame.size() - parent->geometry().size();
        const QRect available = parent->screen()->availableGeometry();
        const int narrowest = preview->minimumSizeHint().width() + decoration.width();
        QRect place =
            previewBeside(frame, available, preview->size() + decoration, std::max(480, narrowest));
        if (place.isNull()) {
            place = QRect(QPoint(), (preview->size() + decoration).boundedTo(available.size()));
            place.moveCenter(frame.center());
            place.moveLeft(std::clamp(place.left(), available.left(),
                                      available.left() + available.width() - place.width()));
            place.moveTop(std::clamp(place.top(), available.top(),
                                     available.top() + available.height() - place.height()));
        }
        preview->move(place.topLeft());
        preview->resize(place.size() - decoration);
    }
    preview->showPage(1);
    preview->show();
    return preview;
}

} // namespace output
