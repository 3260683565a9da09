// The grid over more cards than it reads at a time: the whole main window, offscreen, with the
// grid reading four rows at a time, so that paging down and up, a jump far away, a card added or
// deleted, and another workstation's writes all cross what it has read, on a file as on a server
// registry: the grid reads its rows a page at a time by id.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "History.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

using app::MainWindow;
using namespace store;
using Answer = MessageLayer::Answer;

namespace {

constexpr int kCards = 600;
constexpr int kFound = 417; // the card "Buscar por" finds, by its owner

QString codeOf(int i) {
    return QStringLiteral("9000000%1").arg(i, 8, 10, QLatin1Char('0'));
}

} // namespace

class TestWindowPaged : public QObject {
    Q_OBJECT

    FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders;
    ScriptedMessages messages;
    std::unique_ptr<MainWindow> w;
    std::unique_ptr<CardStore> other; // another workstation
    QStringList codes;                // the codes of the rows, as the grid should list them

    void start() {
        w.reset();
        other.reset();
        folders = std::make_unique<AppFolders>();
        folders->copyRealMasterIni();
        std::vector<Card> cards;
        codes.clear();
        for (int i = 1; i <= kCards; ++i) {
            cards.push_back(makeCard(codeOf(i)));
            codes.append(codeOf(i));
        }
        cards[kFound - 1][Propietario] = QStringLiteral("Zoila Quintanilla");
        Status status;
        other = CardStore::open(folders->registry(), &status);
        QVERIFY2(other, qPrintable(status.message()));
        QVERIFY(other->insertCards(cards, WriteReason::Importacion));
        app::StartupHooks hooks;
        hooks.webIntake = [](MainWindow&) {
            return false;
        };
        w = app::startUp(folders->folders, messages, clock, std::move(hooks));
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        // Four rows read at a time, and every card listed again that way.
        w->grid()->cardModel()->setPageRows(4);
        // The sample of rows to jump from read behind the window in pieces of 50 ids.
        w->grid()->cardModel()->setSamplePieceIds(50);
        int row = 0;
        QVERIFY(w->gridShowStored(*w->cardStore(), kNoRow, &row));
        w->setGridCurrentRow(1);
        QVERIFY(w->gridListsStored());
        messages.clear();
    }
    void click(const char* button) {
        auto* b = w->findChild<QPushButton*>(QLatin1StringView(button));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    QString label27() const { return w->findChild<QLabel*>(QStringLiteral("Label27"))->text(); }
    // The current row, the card in the fields, the label and the rows either side.
    void expectAt(int row) {
        const int rows = int(codes.size());
        QCOMPARE(w->gridRows(), rows + 1);
        QCOMPARE(w->gridCurrentRow(), row);
        QCOMPARE(w->fieldText(Codigo), codes[row - 1]);
        QCOMPARE(label27(), QStringLiteral("%1 de %2 Mascotas registradas").arg(row).arg(rows));
        for (int r = std::max(1, row - 5); r <= std::min(rows, row + 5); ++r)
            QCOMPARE(w->grid()->cellText(r, 1), codes[r - 1]);
    }
    // The scroll bar dragged far from every row read: the rows shown are the right ones.
    void expectJumps() {
        QScrollBar* bar = w->grid()->verticalScrollBar();
        for (const int to : {bar->maximum() / 2, bar->maximum() / 5, bar->maximum()}) {
            bar->setValue(to);
            QApplication::processEvents();
            const int top = w->grid()->topRow();
            QVERIFY(top > 0);
            for (int r = top; r < std::min(int(codes.size()) + 1, top + 10); ++r)
                QCOMPARE(w->grid()->cellText(r, 1), codes[r - 1]);
        }
    }
    RowId idOf(const QString& code) const {
        RowId id = kNoRow;
        return other->findCode(code, &id) ? id : kNoRow;
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }
    void init() { start(); }
    void cleanup() {
        QCOMPARE(messages.unanswered, 0);
        w.reset();
        other.reset();
    }

    void pagesDownToTheEndAndBackUp() {
        w->grid()->setFocus();
        expectAt(1);
        int last = 1;
        while (w->gridCurrentRow() < kCards) {
            QTest::keyClick(w->grid(), Qt::Key_PageDown);
            QVERIFY(w->gridCurrentRow() > last);
            last = w->gridCurrentRow();
            expectAt(last);
        }
        while (w->gridCurrentRow() > 1) {
            QTest::keyClick(w->grid(), Qt::Key_PageUp);
            QVERIFY(w->gridCurrentRow() < last);
            last = w->gridCurrentRow();
            expectAt(last);
        }
        expectJumps();
        w->setGridCurrentRow(333);
        expectAt(333);
        QCOMPARE(messages.texts(), QStringList());
    }

    void jumpsFromTheRowsSampledAhead() {
        // A moment after the listing, the rows a jump starts from are read behind the window;
        // a card deleted elsewhere afterwards moves them.
        QTRY_VERIFY_WITH_TIMEOUT(w->grid()->cardModel()->rowsSampled(), 5000);
        QVERIFY(other->removeCard(idOf(codeOf(300))));
        codes.removeAt(299);
        QTRY_COMPARE_WITH_TIMEOUT(w->gridRows(), int(codes.size()) + 1, 5000);
        expectJumps();
        QCOMPARE(messages.texts(), QStringList());
    }

    void searchesComeBackToTheRightRow() {
        // "Buscar por" finds one card far down; Esc lists every card with that one current.
        w->setGridCurrentRow(12);
        w->grid()->setFocus();
        QTest::keyClick(w->grid(), Qt::Key_F, Qt::ControlModifier);
        auto* bar = w->findChild<QLineEdit*>(QStringLiteral("txtBuscarPor"));
        QVERIFY(bar && bar->isVisible());
        for (const QChar ch : QStringLiteral("quintanilla"))
            QTest::sendKeyEvent(QTest::Click, bar, Qt::Key_unknown, QString(ch), Qt::NoModifier);
        QTRY_COMPARE(w->gridRows(), 2);
        QCOMPARE(w->fieldText(Codigo), codes[kFound - 1]);
        QTest::keyClick(bar, Qt::Key_Escape);
        expectAt(kFound);

        // A code not found empties the grid; closing the search lists every card again, on the
        // row shown before.
        w->setGridCurrentRow(250);
        click("cmdBuscar");
        w->setFieldText(Codigo, QStringLiteral("000000000000000"));
        click("btnBuscarOK");
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("CODIGO NO ENCONTRADO")});
        messages.clear();
        QCOMPARE(w->gridRows(), 1);
        click("btnBuscarFin");
        expectAt(250);
        // The empty code lists every card from the first.
        click("cmdBuscar");
        w->setFieldText(Codigo, QString());
        click("btnBuscarOK");
        expectAt(1);
        QCOMPARE(messages.texts(), QStringList());
    }

    void aWordOfManyCardsListsThemAll() {
        // Every owner but one has the word "propietario": a server lists the first cards found
        // while it reads the rest, and the listing ends whole, in stored order.
        QTest::keyClick(w->grid(), Qt::Key_F, Qt::ControlModifier);
        auto* bar = w->findChild<QLineEdit*>(QStringLiteral("txtBuscarPor"));
        bar->setText(QStringLiteral("Propietario"));
        QTest::keyClick(bar, Qt::Key_Return);
        codes.removeAt(kFound - 1);
        QVERIFY(w->grid()->hasFocus());
        expectAt(1);
        w->setGridCurrentRow(int(codes.size()));
        expectAt(int(codes.size()));
        QTest::keyClick(w->grid(), Qt::Key_Escape);
        codes.insert(kFound - 1, codeOf(kFound));
        expectAt(kCards);
        QCOMPARE(messages.texts(), QStringList());
    }

    void addsAndDeletesAtTheRightRows() {
        w->setGridCurrentRow(kCards - 2);
        click("cmdAgregar");
        const QString added = QStringLiteral("900000099999999");
        w->setFieldText(Codigo, added);
        for (const Field f : {Lugar, FichaClinica, Implantador, NombreAnimal, Especie, Raza})
            w->setFieldText(f, QStringLiteral("x"));
        click("cmdAgregar");
        QCOMPARE(messages.texts(), QStringList());
        codes.append(added);
        expectAt(kCards + 1);
        w->setGridCurrentRow(1);
        w->setGridCurrentRow(kCards + 1);
        expectAt(kCards + 1);

        // A card in the middle deleted: the next one takes its row, the rows below move up.
        w->setGridCurrentRow(300);
        messages.queue(Answer::Yes);
        click("cmdEliminar");
        messages.clear();
        codes.removeAt(299);
        expectAt(300);
        w->setGridCurrentRow(int(codes.size()));
        expectAt(int(codes.size()));
        w->setGridCurrentRow(290);
        expectAt(290);
        QVERIFY(idOf(codeOf(300)) == kNoRow);
    }

    void followsAnotherWorkstationWhileScrolled() {
        w->setGridCurrentRow(200);
        w->grid()->setFocus();
        // A card added elsewhere joins the end; the current row stays on its card.
        RowId id = kNoRow;
        const QString added = QStringLiteral("900000088888888");
        QVERIFY(other->insertCard(makeCard(added), &id));
        codes.append(added);
        QTRY_COMPARE_WITH_TIMEOUT(w->gridRows(), int(codes.size()) + 1, 5000);
        expectAt(200);
        QCOMPARE(w->grid()->cellText(int(codes.size()), 1), added);

        // Deleted elsewhere: one above the current row, one far below it (never read), and the
        // card shown, whose row the next card then takes.
        QVERIFY(other->removeCard(idOf(codeOf(50))));
        QVERIFY(other->removeCard(idOf(codeOf(551))));
        codes.removeAt(550);
        codes.removeAt(49);
        QTRY_COMPARE_WITH_TIMEOUT(w->gridRows(), int(codes.size()) + 1, 5000);
        expectAt(199);
        w->setGridCurrentRow(545);
        expectAt(545);
        QVERIFY(other->removeCard(idOf(codes[544])));
        codes.removeAt(544);
        QTRY_COMPARE_WITH_TIMEOUT(w->gridRows(), int(codes.size()) + 1, 5000);
        expectAt(545);
        w->setGridCurrentRow(int(codes.size()));
        expectAt(int(codes.size()));
        QCOMPARE(messages.texts(), QStringList());
    }
};

QTEST_MAIN(TestWindowPaged)
#include "test_window_paged.moc"
