// The card printed through the real painter into a PDF file, read back with pdftotext: every
// value lands within half a point of its position, in Liberation Sans (what "Arial" resolves to).

#include "CardPrintCommand.h"
#include "PrintSurfacePainter.h"
#include "ScriptedMessages.h"
#include "output_pdf_words.h"
#include "output_print_fixture.h"

#include <QPrinterInfo>
#include <QStandardPaths>
#include <QTest>

using output::PrintKind;
using output::PrintOutcome;
using Answer = store::MessageLayer::Answer;

class TestOutputPdf : public QObject {
    Q_OBJECT

private:
    // Keeps a copy of each PDF in $TARJETAS_KEEP_PRINTS, to look at the printed card.
    void keep(const QString& pdf, const QString& name) {
        const QString dir = qEnvironmentVariable("TARJETAS_KEEP_PRINTS");
        if (!dir.isEmpty()) {
            QFile::remove(dir + u'/' + name);
            QFile::copy(pdf, dir + u'/' + name);
        }
    }

    std::vector<PdfWord> printToPdf(PrintKind kind, Answer answer, const QPageSize& paper,
                                    const QString& name) {
        PrintFixture fx;
        fx.add(filledCard());
        const QString pdf = fx.dir.filePath(name);
        output::PdfFileTarget target(pdf, paper);
        ScriptedMessages messages;
        messages.queue(answer);
        const PrintOutcome outcome =
            output::printCardCommand(*fx.cards, QStringLiteral("982000123456789"), fx.folders,
                                     kFooter, messages, target, kind);
        if (outcome != PrintOutcome::Printed)
            qWarning() << messages.texts();
        [&] {
            QCOMPARE(outcome, PrintOutcome::Printed);
        }();
        keep(pdf, name);
        // "Arial" resolves to Liberation Sans, regular for the values and bold for the footer.
        const QString fonts = pdfFonts(pdf);
        [&] {
            QVERIFY2(fonts.contains(QStringLiteral("LiberationSans ")), qPrintable(fonts));
            QVERIFY2(fonts.contains(QStringLiteral("LiberationSans-Bold ")), qPrintable(fonts));
        }();
        QString error;
        std::vector<PdfWord> words = pdfWords(pdf, &error);
        if (!error.isEmpty())
            qWarning() << error;
        return words;
    }

private slots:
    void initTestCase() {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QFAIL("pdftotext (poppler-utils) is needed to read the printed card back");
    }

    void threeBlocksOnALongSheet() {
        // Legal paper is long enough for the third block at the default offset.
        const auto words = printToPdf(PrintKind::ThreeBlocks, Answer::Yes,
                                      QPageSize(QPageSize::Legal), QStringLiteral("sheet.pdf"));
        if (QTest::currentTestFailed())
            return;
        verifyPositions(words, sheet(true), 2800);
    }

    void quickBlock() {
        const auto words = printToPdf(PrintKind::Quick, Answer::Yes, QPageSize(QPageSize::A4),
                                      QStringLiteral("quick.pdf"));
        if (QTest::currentTestFailed())
            return;
        verifyPositions(words, kQuickBlock, 2800);
    }

    void noDefaultPrinterIsReported() {
        if (!QPrinterInfo::defaultPrinter().isNull())
            QSKIP("this machine has a default printer");
        output::DefaultPrinterTarget target;
        store::Status status;
        QVERIFY(!target.open(&status));
        QVERIFY(!status.ok());
        QVERIFY2(status.message().contains(QStringLiteral("impresora")),
                 qPrintable(status.message()));
    }
};

QTEST_MAIN(TestOutputPdf)
#include "test_output_pdf.moc"
