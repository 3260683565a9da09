#include "CardStore.h"
#include "Clock.h"
#include "Listing.h"
#include "ScriptedMessages.h"
#include "TestRegistry.h"

#include <QApplication>
#include <QPainter>
#include <QPrintPreviewWidget>
#include <QPrinter>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using store::Card;
using store::Field;

namespace {

const QDateTime kPrintedAt(QDate(2026, 12, 6), QTime(9, 5, 7));

Card numberedCard(int i) {
    Card c;
    c[Field::Codigo] = QStringLiteral("9000000000%1").arg(i, 5, 10, QLatin1Char('0'));
    c[Field::NombreAnimal] = QStringLiteral("Ñandú%1").arg(i);
    c[Field::Sexo] = i % 2 ? QStringLiteral("M") : QStringLiteral("H");
    c[Field::Especie] = QStringLiteral("Canino");
    c[Field::Propietario] = QStringLiteral("Dueño%1").arg(i);
    c[Field::DireccionCompleta] = QStringLiteral("Pasaje%1 12 B").arg(i);
    return c;
}

// Runs a poppler tool and gives its standard output.
QString runTool(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of each page of the PDF.
QStringList pdfPages(const QString& pdf) {
    QStringList pages =
        runTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}).split(u'\f');
    if (!pages.isEmpty() && pages.last().trimmed().isEmpty())
        pages.removeLast();
    return pages;
}

// The page, counted from 1, on which card i (from 0) of the listing falls on letter paper: three
// blocks below the two headers of the first page, four on every other page.
int pageOfCard(int i) {
    return i < 3 ? 1 : 2 + (i - 3) / 4;
}

} // namespace

class TestListing : public QObject {
    Q_OBJECT

    QTemporaryDir tmp_;
    std::unique_ptr<store::CardStore> store_;
    output::ListingPictures pictures_;

    void openStore(int cards) {
        store_.reset();
        const QString path = tmp_.filePath(QStringLiteral("DAT-%1.db").arg(cards));
        QFile::remove(path);
        store::Status st;
        store_ = store::CardStore::open(test_registry::registryAt(path), &st);
        QVERIFY2(store_, qPrintable(st.message()));
        // On a server the registry of the same name outlives the file: start it empty too.
        if (test_registry::onServer())
            QVERIFY(QSqlQuery(store_->database())
                        .exec(QStringLiteral("TRUNCATE \"Clientes\" RESTART IDENTITY")));
        for (int i = 0; i < cards; ++i) {
            store::RowId id;
            st = store_->insertCard(numberedCard(i), &id);
            QVERIFY2(st.ok(), qPrintable(st.message()));
        }
    }
    QString render(const QString& name) {
        const QString pdf = tmp_.filePath(name);
        QString error;
        if (!output::renderListingPdf(*store_, pictures_, kPrintedAt, pdf, &error))
            qWarning() << error;
        return pdf;
    }

private slots:
    void initTestCase() {
        SKIP_WITHOUT_TEST_SERVER();
        QVERIFY(tmp_.isValid());
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty(),
                 "pdftotext (poppler-utils) is needed");
        QImage banner(549, 237, QImage::Format_RGB32);
        banner.fill(QColor(30, 90, 160));
        QImage logo(200, 200, QImage::Format_RGB32);
        logo.fill(QColor(200, 40, 40));
        pictures_ = {banner, logo};
    }

    void pagesCarryHeadersFootersAndEveryCard_data() {
        QTest::addColumn<int>("cards");
        QTest::addColumn<int>("pages");
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("7") << 7 << 2;
        QTest::newRow("40") << 40 << 11;
    }
    void pagesCarryHeadersFootersAndEveryCard() {
        QFETCH(int, cards);
        QFETCH(int, pages);
        openStore(cards);
        const QStringList text = pdfPages(render(QStringLiteral("listing-%1.pdf").arg(cards)));
        QCOMPARE(text.size(), pages);

        const QString date = QStringLiteral("domingo, 6 de diciembre de 2026");
        static const QRegularExpression footer(QStringLiteral("Pagina\\s+(\\d+)\\s+de\\s+(\\d+)"));
        for (int p = 0; p < pages; ++p) {
            const QString& page = text[p];
            // The report header repeats the title on the first page.
            QCOMPARE(page.count(QStringLiteral("Listado de Clientes")), p == 0 ? 2 : 1);
            QVERIFY2(page.contains(date), qPrintable(page));
            const QRegularExpressionMatch m = footer.match(page);
            QVERIFY2(m.hasMatch(), qPrintable(page));
            QCOMPARE(m.captured(1).toInt(), p + 1);
            QCOMPARE(m.captured(2).toInt(), pages);
        }
        for (int i = 0; i < cards; ++i) {
            const Card c = numberedCard(i);
            const QString& page = text[pageOfCard(i) - 1];
            for (Field f :
                 {Field::Codigo, Field::NombreAnimal, Field::Propietario, Field::DireccionCompleta})
                QVERIFY2(page.contains(c[f]), qPrintable(c[f]));
        }
    }

    // Labels and values at their places: one inch of margin plus the position in the block.
    void placesWordsAtTheirPositions() {
        openStore(1);
        const QString pdf = render(QStringLiteral("places.pdf"));
        const QString html = runTool(QStringLiteral("pdftotext"),
                                     {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        const auto box = [&](const QString& word) {
            static const QRegularExpression re(
                QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\"[^>]*>([^<]*)</word>"));
            for (auto it = re.globalMatch(html); it.hasNext();) {
                const auto m = it.next();
                if (m.captured(3) == word)
                    return QPointF(m.captured(1).toDouble(), m.captured(2).toDouble());
            }
            return QPointF(-1, -1);
        };
        // Twips from the paper's corner: margin, report header and page header above the block.
        const auto near = [&](const QString& word, int leftTwips, int topTwips, double slack) {
            const QPointF at = box(word);
            return qAbs(at.x() - (1440 + leftTwips) / 20.0) < slack &&
                   qAbs(at.y() - (1440 + topTwips) / 20.0) < slack;
        };
        const int block = 1560 + 1350;
        QVERIFY(near(QStringLiteral("Microchip"), 90, block + 240, 2));
        QVERIFY(near(numberedCard(0)[Field::Codigo], 1290, block + 240, 4));
        QVERIFY(near(QStringLiteral("Pasaje0"), 8220, block + 1230, 4));
        // The footer: the bottom margin's edge less the footer's height, plus the label's top.
        QVERIFY(near(QStringLiteral("Pagina"), 9300, 12240 - 2 * 1440 - 315 + 75, 2));
    }

    // Each listing reads the store afresh: a card changed since the last one shows its new values.
    void readsTheStoreAfresh() {
        openStore(2);
        QVERIFY(pdfPages(render(QStringLiteral("before.pdf")))
                    .join(u' ')
                    .contains(QStringLiteral("Ñandú1")));
        auto cursor = store_->openTable();
        cursor->setIndex(store::kPrimaryKey);
        QVERIFY(cursor->seek(numberedCard(1)[Field::Codigo]).ok());
        QVERIFY(!cursor->noMatch());
        QVERIFY(cursor->edit().ok());
        cursor->setField(Field::NombreAnimal, QStringLiteral("Renombrado"));
        QVERIFY(cursor->update().ok());
        const QString after = pdfPages(render(QStringLiteral("after.pdf"))).join(u' ');
        QVERIFY(after.contains(QStringLiteral("Renombrado")));
        QVERIFY(!after.contains(QStringLiteral("Ñandú1")));
    }

    void onePagePaintedAloneIsThatPageOfThePrintout() {
        // The preview reads only the cards of the page it shows: each page must come out as the
        // same page of the whole printout.
        openStore(14);
        const QStringList all = pdfPages(render(QStringLiteral("all.pdf")));
        QCOMPARE(all.size(), 4);
        for (int page : {1, 2, 4}) {
            const QString pdf = tmp_.filePath(QStringLiteral("page-%1.pdf").arg(page));
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            output::setUpListingPrinter(&printer);
            const int dpi = printer.resolution();
            const int usable =
                int(qint64(printer.pageLayout().paintRectPixels(dpi).height()) * 1440 / dpi);
            output::ListingReport report(store_->registry(), pictures_, kPrintedAt);
            QPainter painter(&printer);
            int pages = 0;
            QString error;
            QVERIFY2(report.paintPage(painter, dpi, usable, page, &pages, &error),
                     qPrintable(error));
            painter.end();
            QCOMPARE(pages, 4);
            QCOMPARE(pdfPages(pdf), QStringList{all[page - 1]});
        }
    }

    void printingTellsEachPageAndStopsWhenAsked() {
        openStore(14); // four pages
        for (const int stopAt : {0, 3}) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(tmp_.filePath(QStringLiteral("progreso-%1.pdf").arg(stopAt)));
            output::setUpListingPrinter(&printer);
            output::ListingReport report(store_->registry(), pictures_, kPrintedAt);
            std::vector<std::pair<int, int>> told;
            QString error;
            const bool printed = report.print(&printer, &error, [&](int page, int pages) {
                told.emplace_back(page, pages);
                return page != stopAt;
            });
            if (stopAt == 0) {
                QVERIFY2(printed, qPrintable(error));
                QCOMPARE(told, (std::vector<std::pair<int, int>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
                QCOMPARE(report.pagesPrinted(), 4);
            } else {
                // Stopped before the third page: no failure to report, nothing counted printed.
                QVERIFY(!printed);
                QVERIFY(report.canceled());
                QVERIFY(!report.printerFailed());
                QVERIFY2(error.isEmpty(), qPrintable(error));
                QCOMPARE(told.size(), size_t(3));
                QCOMPARE(report.pagesPrinted(), 0);
            }
        }
    }

    void previewIsModelessLandscapeAndReportsFailures() {
        openStore(7);
        store::FixedClock clock(kPrintedAt);
        ScriptedMessages messages;
        QPointer<output::ListingPreview> dialog =
            output::showListingPreview(*store_, pictures_, clock, messages, nullptr);
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QCOMPARE(dialog->printer()->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(dialog->pageCount(), 2);
        QCOMPARE(dialog->currentPage(), 1);
        QVERIFY(!dialog->pageImage().isNull());
        QVERIFY(messages.boxes.empty());

        // A store that has gone away is reported, and the preview stays usable.
        if (test_registry::onServer()) {
            dialog->close();
            return; // a database does not go away as a file does
        }
        QVERIFY(QFile::remove(store_->path()));
        dialog->refresh();
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY2(
            messages.boxes[0].text.contains(QStringLiteral("No se pudieron leer las tarjetas")),
            qPrintable(messages.boxes[0].text));
        dialog->close();
        QTRY_VERIFY(dialog.isNull());
    }

    // The preview stands on the roomier side of the window, never over it, and gives up (a
    // null place: the toolkit's own) when neither side has room for a useful page.
    void previewStandsBesideTheWindow() {
        const QRect screen(0, 0, 1600, 1000);
        const QSize preferred(1000, 720);
        QCOMPARE(output::previewBeside({0, 0, 740, 507}, screen, preferred),
                 QRect(740, 0, 860, 720));
        QCOMPARE(output::previewBeside({900, 400, 600, 500}, screen, preferred),
                 QRect(0, 280, 900, 720));
        QCOMPARE(output::previewBeside({100, 50, 300, 500}, QRect(0, 30, 1600, 600), preferred),
                 QRect(400, 30, 1000, 600));
        QCOMPARE(output::previewBeside({0, 0, 740, 507}, QRect(0, 0, 1366, 768), preferred),
                 QRect(740, 0, 626, 720));
        QVERIFY(
            output::previewBeside({300, 0, 740, 507}, QRect(0, 0, 1280, 720), preferred).isNull());
    }
};

QTEST_MAIN(TestListing)
#include "test_listing.moc"
