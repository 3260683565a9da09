// The implant report opened from the real main window: range and grouping changed through its
// controls, printed to PDF and exported, the numbers read back from the files.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "MainWindow.h"
#include "ReportWindow.h"
#include "Startup.h"
#include "TextCodec.h"

#include <QAction>
#include <QComboBox>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

namespace {

store::Card card(const QString& code, const QString& date, const QString& implanter) {
    store::Card c = makeCard(code);
    c[store::FechaAtencion] = date;
    c[store::Implantador] = implanter;
    return c;
}

#ifndef Q_OS_WIN
QString pdfText(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Whether a line of the text holds these words with only blanks between them.
bool hasLine(const QString& text, const QStringList& words) {
    QStringList escaped;
    for (const QString& w : words)
        escaped << QRegularExpression::escape(w);
    return text.contains(QRegularExpression(escaped.join(QStringLiteral("\\s+"))));
}
#endif

} // namespace

class TestWindowReport : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void rangeGroupingPrintAndExport() {
        AppFolders f;
        f.copyRealMasterIni();
        // March 2026 (this month): 4 by Dra. Pérez in three spellings, 2 by Dr. Soto; February:
        // 2 by Dr. Soto; 2025: one; and two cards without a readable date.
        f.addCards(
            {card(QStringLiteral("100"), QStringLiteral("02/03/2026"),
                  QStringLiteral("Dra. Pérez")),
             card(QStringLiteral("101"), QStringLiteral("2/3/2026"), QStringLiteral("Dra. Pérez")),
             card(QStringLiteral("102"), QStringLiteral("2026-03-10"),
                  QStringLiteral(" DRA. PÉREZ")),
             card(QStringLiteral("103"), QStringLiteral("15/03/2026"),
                  QStringLiteral("dra.  pérez ")),
             card(QStringLiteral("104"), QStringLiteral("14/03/2026"), QStringLiteral("Dr. Soto")),
             card(QStringLiteral("105"), QStringLiteral("01/03/2026"), QStringLiteral("DR. SOTO")),
             card(QStringLiteral("106"), QStringLiteral("20/02/2026"), QStringLiteral("Dr. Soto")),
             card(QStringLiteral("107"), QStringLiteral("28.02.2026"), QStringLiteral("Dr. Soto")),
             card(QStringLiteral("108"), QStringLiteral("31/12/2025"), QStringLiteral("Dr. Soto")),
             card(QStringLiteral("109"), QString(), QStringLiteral("Dr. Soto")),
             card(QStringLiteral("110"), QStringLiteral("31/02/2026"),
                  QStringLiteral("Dr. Soto"))});
        ScriptedMessages messages;
        const store::FixedClock clock(QDateTime(QDate(2026, 3, 20), QTime(10, 30)));
        app::StartupHooks hooks;
        hooks.dailyBackup = false;
        std::unique_ptr<app::MainWindow> w =
            app::startUp(f.folders, messages, clock, std::move(hooks));
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));

        // In the grid's context menu, and on Ctrl+Shift+I.
        auto* action = w->findChild<QAction*>(QStringLiteral("actInforme"));
        QVERIFY(action && w->grid()->actions().contains(action));
        w->grid()->setFocus();
        QTest::keyClick(w.get(), Qt::Key_I, Qt::ControlModifier | Qt::ShiftModifier);
        report::ReportWindow* r = nullptr;
        QTRY_VERIFY((r = w->findChild<report::ReportWindow*>()) != nullptr);
        QTRY_VERIFY(r->isVisible() && !r->busy());
        auto* table = r->findChild<QTableWidget*>(QStringLiteral("tblInforme"));

        // This month by month: March alone, the two undated cards apart.
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(table->item(0, 0)->text(), QStringLiteral("Marzo 2026"));
        QCOMPARE(table->item(0, 1)->text(), QStringLiteral("6"));
        QCOMPARE(table->item(2, 1)->text(), QStringLiteral("2"));

        // "Este año" from the keyboard, then by implanter.
        auto* period = r->findChild<QComboBox*>(QStringLiteral("cmbPeriodo"));
        period->setFocus();
        QTest::keyClick(period, Qt::Key_Down);
        QTest::keyClick(period, Qt::Key_Down);
        QCOMPARE(period->currentText(), QStringLiteral("Este año"));
        auto* grouping = r->findChild<QComboBox*>(QStringLiteral("cmbAgrupar"));
        grouping->setFocus();
        QTest::keyClick(grouping, Qt::Key_Down);
        QTest::keyClick(grouping, Qt::Key_Down);
        QCOMPARE(grouping->currentText(), QStringLiteral("Implantador"));
        QTRY_VERIFY(!r->busy() && r->result().by == report::Grouping::Implanter);
        QCOMPARE(r->result().range.from, QDate(2026, 1, 1));
        QCOMPARE(table->rowCount(), 4);

        // Printed to a PDF: the range, each implanter in its most frequent spelling with its
        // count and share, the total and the undated cards.
        const QString pdf = f.root.filePath(QStringLiteral("informe.pdf"));
        r->setPrinterChooser([&](QPrinter* printer) {
            printer->setOutputFormat(QPrinter::PdfFormat);
            printer->setOutputFileName(pdf);
            return true;
        });
        r->findChild<QPushButton*>(QStringLiteral("btnImprimirInforme"))->click();
#ifdef Q_OS_WIN
        // Reading the PDF back needs poppler's pdftotext, a Linux tool: here only its start.
        QFile printed(pdf);
        QVERIFY(printed.open(QIODevice::ReadOnly));
        QCOMPARE(printed.read(5), QByteArray("%PDF-"));
#else
        const QString text = pdfText(pdf);
        QVERIFY2(text.contains(QStringLiteral("01/01/2026 al 31/12/2026")), qPrintable(text));
        QVERIFY2(hasLine(text, {QStringLiteral("Dra. Pérez"), QStringLiteral("4"),
                                QStringLiteral("50,0 %")}),
                 qPrintable(text));
        QVERIFY2(hasLine(text, {QStringLiteral("Dr. Soto"), QStringLiteral("4"),
                                QStringLiteral("50,0 %")}),
                 qPrintable(text));
        QVERIFY2(hasLine(text, {QStringLiteral("Total"), QStringLiteral("8")}), qPrintable(text));
        QVERIFY2(hasLine(text, {QStringLiteral("(no incluidas)"), QStringLiteral("2")}),
                 qPrintable(text));
        QVERIFY(!text.contains(QStringLiteral("DRA.")));
#endif

        // Exported as CSV, in Windows-1252.
        const QString csv = f.root.filePath(QStringLiteral("informe.csv"));
        r->setCsvPathChooser([&] { return csv; });
        r->findChild<QPushButton*>(QStringLiteral("btnExportarInforme"))->click();
        QFile file(csv);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QString exported = store::fromWindows1252(file.readAll());
        QVERIFY2(exported.contains(QStringLiteral("Dra. Pérez;4;50,0 %\r\n")),
                 qPrintable(exported));
        QVERIFY(exported.contains(QStringLiteral("Total 01/01/2026 al 31/12/2026;8;")));
        QVERIFY2(messages.boxes.empty(), qPrintable(messages.texts().join(u'\n')));
    }
};

QTEST_MAIN(TestWindowReport)
#include "test_window_report.moc"
