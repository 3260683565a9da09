// The card printed end to end through the print system: a private cupsd with a raw queue whose
// backend saves each job into a folder is made the default printer, the print command runs
// with the real default-printer target, and the saved job is read back with pdftotext.
// Where cupsd cannot be started the tests are reported as skipped.

#include "CardPrintCommand.h"
#include "PrintSurfacePainter.h"
#include "PrivateCups.h"
#include "ScriptedMessages.h"
#include "output_pdf_words.h"
#include "output_print_fixture.h"

#include <QDir>
#include <QFile>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <functional>

using output::PrintKind;
using output::PrintOutcome;
using Answer = store::MessageLayer::Answer;

namespace {

const QString kQueue = PrivateCups::queue();

// Opens the default printer like the program does and remembers where its printable area
// starts on the paper and how tall the paper is, in points.
class ObservedPrinterTarget : public output::PrintTarget {
public:
    std::unique_ptr<output::PrintSurface> open(store::Status* status) override {
        std::unique_ptr<output::PrintSurface> surface = inner_.open(status);
        if (auto* painter = dynamic_cast<output::PainterSurface*>(surface.get())) {
            const QPageLayout layout = painter->printer().pageLayout();
            origin = layout.paintRectPoints().topLeft();
            paperHeight = layout.fullRectPoints().height();
            printerName = painter->printer().printerName();
        }
        if (afterOpening)
            afterOpening();
        return surface;
    }
    std::function<bool()> afterOpening;
    QPointF origin;
    double paperHeight = 0;
    QString printerName;

private:
    output::DefaultPrinterTarget inner_;
};

} // namespace

// The private server is started from main(), before the application object exists.
class TestOutputCups : public QObject {
    Q_OBJECT

public:
    PrivateCups cups;

private slots:
    void initTestCase() {
        if (!cups.skipReason().isEmpty())
            QSKIP(qPrintable(cups.skipReason()));
    }

    void cleanupTestCase() { cups.stop(); }

    void cardReachesThePrinterAtItsPositions() {
        QCOMPARE(QPrinterInfo::defaultPrinter().printerName(), kQueue);
        PrintFixture fx;
        fx.add(filledCard());
        ScriptedMessages messages;
        messages.queue(Answer::Yes);
        ObservedPrinterTarget target;

        const PrintOutcome outcome =
            output::printCardCommand(*fx.cards, QStringLiteral("982000123456789"), fx.folders,
                                     kFooter, messages, target, PrintKind::ThreeBlocks);
        QVERIFY2(outcome == PrintOutcome::Printed, qPrintable(messages.texts().join(u'\n')));
        QCOMPARE(messages.boxes.back().text, QStringLiteral("Tarjeta Enviada a la Impresora"));
        QCOMPARE(target.printerName, kQueue);

        const QString job = cups.waitForJob(1);
        QVERIFY2(!job.isEmpty(), "the print system saved no job within 30 seconds");
        QFile file(job);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(8);
        QVERIFY2(head.startsWith("%PDF"),
                 qPrintable(QStringLiteral("the job is not PDF: ") + QString::fromLatin1(head)));
        const QString kept = qEnvironmentVariable("TARJETAS_KEEP_PRINTS");
        if (!kept.isEmpty()) {
            QFile::remove(kept + QStringLiteral("/cups-job.pdf"));
            QFile::copy(job, kept + QStringLiteral("/cups-job.pdf"));
        }

        QString error;
        const std::vector<PdfWord> words = pdfWords(job, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // The items that fall on this printer's paper; the first two blocks always do.
        std::vector<Expected> onPaper;
        for (const Expected& e : sheet(true)) {
            if (target.origin.y() + (2800 + e.row) / 20.0 + 12 < target.paperHeight)
                onPaper.push_back(e);
        }
        QVERIFY(onPaper.size() >= 44);
        verifyPositions(words, onPaper, 2800, target.origin);
    }

    // The queue refuses jobs from the start, or starts refusing while the card is being drawn
    // (after the check made before printing).
    void refusedJobIsReported_data() {
        QTest::addColumn<bool>("beforeOpening");
        QTest::newRow("refusing before printing") << true;
        QTest::newRow("refusing the finished document") << false;
    }
    void refusedJobIsReported() {
        QFETCH(bool, beforeOpening);
        const QString reject =
            QStandardPaths::findExecutable(QStringLiteral("cupsreject"), PrivateCups::sbin());
        const QString accept =
            QStandardPaths::findExecutable(QStringLiteral("cupsaccept"), PrivateCups::sbin());
        QVERIFY2(!reject.isEmpty() && !accept.isEmpty(), "cupsreject or cupsaccept is missing");
        QString output;
        const auto refuse = [&] {
            return PrivateCups::runClient(reject, {kQueue}, &output);
        };
        PrintFixture fx;
        fx.add(filledCard());
        ScriptedMessages messages;
        messages.queue(Answer::Yes);
        ObservedPrinterTarget target;
        if (beforeOpening)
            QVERIFY2(refuse(), qPrintable(output));
        else
            target.afterOpening = refuse;
        const int jobsBefore = cups.jobsSaved();

        const PrintOutcome outcome =
            output::printCardCommand(*fx.cards, QStringLiteral("982000123456789"), fx.folders,
                                     kFooter, messages, target, PrintKind::ThreeBlocks);
        PrivateCups::runClient(accept, {kQueue}, &output);
        QCOMPARE(outcome, PrintOutcome::Failed);
        const QString said = messages.boxes.back().text;
        QVERIFY2(said.contains(kQueue) && said.contains(QStringLiteral("no se imprimió")),
                 qPrintable(said));
        QVERIFY(!messages.texts().contains(QStringLiteral("Tarjeta Enviada a la Impresora")));
        QTest::qWait(1000);
        QCOMPARE(cups.jobsSaved(), jobsBefore);
    }
};

int main(int argc, char** argv) {
    TestOutputCups test;
    test.cups.start();
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_output_cups.moc"
