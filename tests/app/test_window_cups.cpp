// The card printed from the real main window's "Imprimir Tarjeta" onto the system's default
// printer: a private CUPS queue that saves each job, read back with pdftotext. Reported as
// skipped where cupsd cannot be started.
#include "AppFixture.h"
#include "PrivateCups.h"
#include "ScriptedMessages.h"
#include "output_pdf_words.h"
#include "output_print_fixture.h"

#include "CardGrid.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QApplication>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QTest>

using Answer = store::MessageLayer::Answer;

class TestWindowCups : public QObject {
    Q_OBJECT

public:
    PrivateCups cups;

private slots:
    void initTestCase() {
        if (!cups.skipReason().isEmpty())
            QSKIP(qPrintable(cups.skipReason()));
    }

    void cleanupTestCase() { cups.stop(); }

    void cardFromTheWindowReachesThePrinter() {
        QCOMPARE(QPrinterInfo::defaultPrinter().printerName(), PrivateCups::queue());
        AppFolders f;
        f.writeMasterIni("[VERSION]\nPIE=" + kFooter.toUtf8() + "\n");
        f.addCards({makeCard(QStringLiteral("111000000000001")), filledCard()});
        ScriptedMessages messages;
        const store::FixedClock clock{QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7))};
        // No printer hook: the window prints on the default printer as the program does.
        std::unique_ptr<app::MainWindow> w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        w->show();
        QTest::keyClick(w->grid(), Qt::Key_Down);
        QCOMPARE(w->gridCurrentCode(), QStringLiteral("982000123456789"));

        messages.queue(Answer::Yes);
        w->findChild<QPushButton*>(QStringLiteral("cmdImprimir"))->click();
        QCOMPARE(messages.texts(), QStringList({QStringLiteral("Impresion Completa ?"),
                                                QStringLiteral("Tarjeta Enviada a la Impresora")}));

        const QString job = cups.waitForJob(1);
        QVERIFY2(!job.isEmpty(), "the print system saved no job within 30 seconds");
        // $TARJETAS_KEEP_PRINTS keeps a copy of the job, to look at the printed card.
        if (const QString kept = qEnvironmentVariable("TARJETAS_KEEP_PRINTS"); !kept.isEmpty()) {
            QFile::remove(kept + QStringLiteral("/window-job.pdf"));
            QFile::copy(job, kept + QStringLiteral("/window-job.pdf"));
        }
        QString error;
        const std::vector<PdfWord> words = pdfWords(job, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));

        // Where the default printer's printable area starts, and the items that fall on its
        // paper; the first two blocks always do.
        const QPageLayout layout = QPrinter(QPrinter::HighResolution).pageLayout();
        const QPointF origin = layout.paintRectPoints().topLeft();
        std::vector<Expected> onPaper;
        for (const Expected& e : sheet(true)) {
            if (origin.y() + (2800 + e.row) / 20.0 + 12 < layout.fullRectPoints().height())
                onPaper.push_back(e);
        }
        QVERIFY(onPaper.size() >= 44);
        verifyPositions(words, onPaper, 2800, origin);
    }
};

int main(int argc, char** argv) {
    TestWindowCups test;
    // Qt's CUPS support reads the server once, so it runs before the application exists.
    test.cups.start();
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_window_cups.moc"
