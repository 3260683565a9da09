// The history of a card and the undo of a delete through the whole main window, offscreen: the
// grid's context menu actions, the dialogs' own controls, the store read back afterwards.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "HistoryDialogs.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QAction>
#include <QApplication>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>

using app::MainWindow;
using namespace store;
using Answer = MessageLayer::Answer;

class TestWindowHistory : public QObject {
    Q_OBJECT

    FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders;
    ScriptedMessages messages;
    std::unique_ptr<MainWindow> w;

    void start(const std::vector<Card>& cards) {
        folders = std::make_unique<AppFolders>();
        folders->copyRealMasterIni();
        folders->addCards(cards);
        messages.clear();
        app::StartupHooks hooks;
        hooks.webIntake = [](MainWindow&) {
            return false;
        };
        hooks.dailyBackup = false;
        w = app::startUp(folders->folders, messages, clock, std::move(hooks));
        QVERIFY(w);
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
    }
    void click(QWidget* b) { QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center()); }
    void click(const QString& button) { click(w->findChild<QPushButton*>(button)); }
    void trigger(const QString& action) {
        QAction* a = w->findChild<QAction*>(action);
        QVERIFY(a && w->grid()->actions().contains(a));
        a->trigger();
    }
    template <typename T> T* dialog(const QString& name) {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == name && top->isVisible())
                return qobject_cast<T*>(top);
        }
        return nullptr;
    }

private slots:
    void deleteRestoreAndHistoryOfAnEdit() {
        start({makeCard(QStringLiteral("152000000000001")),
               makeCard(QStringLiteral("152000000000002")),
               makeCard(QStringLiteral("152000000000003"))});
        w->setGridCurrentRow(2);
        messages.queue(Answer::Yes);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(w->gridRows(), 3);

        // The deleted card is listed, found by its owner; Restaurar puts it back in its place.
        trigger(QStringLiteral("actEliminadas"));
        auto* deleted = dialog<browse::DeletedCardsDialog>(QStringLiteral("DeletedCardsDialog"));
        QVERIFY(deleted);
        auto* list = deleted->findChild<QTableWidget*>(QStringLiteral("tblEliminadas"));
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(list->item(0, 1)->text(), QStringLiteral("152000000000002"));
        auto* filter = deleted->findChild<QLineEdit*>(QStringLiteral("txtBuscarEliminada"));
        QTest::keyClicks(filter, QStringLiteral("nadie"));
        QTRY_COMPARE(list->rowCount(), 0);
        filter->clear();
        QTest::keyClicks(filter, QStringLiteral("PROPIETARIO-152000000000002"));
        QTRY_COMPARE(list->rowCount(), 1);
        click(deleted->findChild<QPushButton*>(QStringLiteral("btnRestaurar")));
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Seguro Elimina?")});
        QTRY_VERIFY(!dialog<QDialog>(QStringLiteral("DeletedCardsDialog")));
        QCOMPARE(w->gridRows(), 4);
        QCOMPARE(w->gridCurrentRow(), 2);
        QCOMPARE(w->gridCurrentCode(), QStringLiteral("152000000000002"));
        QCOMPARE(w->fieldText(Propietario), QStringLiteral("propietario-152000000000002"));

        // Restoring it again is refused with a message, the grid unchanged.
        trigger(QStringLiteral("actEliminadas"));
        deleted = dialog<browse::DeletedCardsDialog>(QStringLiteral("DeletedCardsDialog"));
        QVERIFY(deleted);
        messages.clear();
        click(deleted->findChild<QPushButton*>(QStringLiteral("btnRestaurar")));
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY(messages.boxes[0].text.startsWith(
            QStringLiteral("Ya existe una tarjeta con el código 152000000000002")));
        QCOMPARE(w->gridRows(), 4);
        deleted->close();

        // An edit through the window: its history lists it first, the changed field marked.
        click(QStringLiteral("cmdEditar"));
        auto* owner = w->findChild<QLineEdit*>(cardField(Propietario).control.toString());
        owner->setFocus();
        owner->selectAll();
        QTest::keyClicks(owner, QStringLiteral("Ana Rojas"));
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(w->fieldText(Propietario), QStringLiteral("Ana Rojas"));

        trigger(QStringLiteral("actHistorial"));
        auto* history = dialog<browse::CardHistoryDialog>(QStringLiteral("CardHistoryDialog"));
        QVERIFY(history);
        auto* changes = history->findChild<QTableWidget*>(QStringLiteral("tblCambios"));
        QCOMPARE(changes->rowCount(), 4); // alta, baja, restauración, modificación
        const QStringList expected = {QStringLiteral("modificación"),
                                      QStringLiteral("restauración"), QStringLiteral("baja"),
                                      QStringLiteral("alta")};
        for (int r = 0; r < 4; ++r)
            QCOMPARE(changes->item(r, 1)->text(), expected[r]);
        // The save composes the whole address again, which changes it too.
        QCOMPARE(changes->item(0, 4)->text(), QStringLiteral("Propietario, Dirección completa"));
        auto* fields = history->findChild<QTableWidget*>(QStringLiteral("tblCampos"));
        QCOMPARE(fields->rowCount(), 2);
        QCOMPARE(fields->item(0, 1)->text(), QStringLiteral("propietario-152000000000002"));
        QCOMPARE(fields->item(0, 2)->text(), QStringLiteral("Ana Rojas"));
        QVERIFY(fields->item(0, 0)->font().bold());

        // A restore holds the whole card, every field of it new.
        changes->setCurrentCell(1, 0);
        QCOMPARE(fields->rowCount(), kFieldCount);
        int marked = 0;
        for (int r = 0; r < fields->rowCount(); ++r)
            marked += fields->item(r, 0)->font().bold() ? 1 : 0;
        QCOMPARE(marked, kFieldCount);
        history->close();
    }

    // A search by name through to a delete and its restore, on a grid longer than the window:
    // the grid shows its current card wherever it stands, and every way back lists every card.
    void searchDeleteAndRestoreInALongGrid() {
        std::vector<Card> cards;
        for (int i = 1; i <= 300; ++i)
            cards.push_back(makeCard(QStringLiteral("152000000000%1").arg(i, 3, 10, QChar(u'0'))));
        cards[249][Propietario] = QStringLiteral("MARÍA Ortúzar");
        start(cards);
        // Whether the grid's current row is this one, in view and highlighted.
        const auto showsCurrent = [this](int row) {
            browse::CardGrid* grid = w->grid();
            return w->gridCurrentRow() == row && grid->view().currentShown &&
                   grid->viewport()->rect().contains(grid->visualRect(grid->currentIndex())) &&
                   grid->selectionModel()->isRowSelected(row - grid->topRow(), {});
        };
        const auto label = [this] {
            return w->findChild<QLabel*>(QStringLiteral("Label27"))->text();
        };
        auto* bar = w->findChild<QLineEdit*>(QStringLiteral("txtBuscarPor"));
        const auto search = [&](const QString& text) {
            w->findChild<QAction*>(QStringLiteral("actBuscarPor"))->trigger();
            QTest::keyClicks(bar, text);
        };

        search(QStringLiteral("ortuzar"));
        QTRY_COMPARE(w->gridRows(), 2);
        QTest::keyClick(bar, Qt::Key_Escape);
        QCOMPARE(w->gridRows(), 301);
        QVERIFY(showsCurrent(250));

        // Nothing found says so, with the registry's total.
        search(QStringLiteral("nadie"));
        QTRY_COMPARE(w->gridRows(), 1);
        QCOMPARE(label(), QStringLiteral("Ninguna tarjeta coincide con «nadie» (300 Mascotas "
                                         "registradas)"));
        QTest::keyClick(bar, Qt::Key_Escape);
        QCOMPARE(w->gridRows(), 301);

        // The only card found, deleted: Esc lists every card again.
        search(QStringLiteral("maria"));
        QTest::keyClick(bar, Qt::Key_Return);
        QCOMPARE(w->gridRows(), 2);
        messages.queue(Answer::Yes);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(w->gridRows(), 1);
        QWidget* focus = QApplication::focusWidget();
        QTest::keyClick(focus ? focus : w.get(), Qt::Key_Escape);
        QCOMPARE(w->gridRows(), 300);

        // Found among the deleted cards as the main search finds names; Enter in the box only
        // searches; the restored card shown in its place.
        trigger(QStringLiteral("actEliminadas"));
        auto* deleted = dialog<browse::DeletedCardsDialog>(QStringLiteral("DeletedCardsDialog"));
        QVERIFY(deleted);
        auto* filter = deleted->findChild<QLineEdit*>(QStringLiteral("txtBuscarEliminada"));
        QTest::keyClicks(filter, QStringLiteral("maria ortuzar"));
        QTest::keyClick(filter, Qt::Key_Return);
        QVERIFY(deleted->isVisible());
        auto* list = deleted->findChild<QTableWidget*>(QStringLiteral("tblEliminadas"));
        QCOMPARE(list->rowCount(), 1);
        QCOMPARE(deleted->findChild<QLabel*>(QStringLiteral("lblEliminadas"))->text(),
                 QStringLiteral("1 tarjeta eliminada."));
        click(deleted->findChild<QPushButton*>(QStringLiteral("btnRestaurar")));
        QTRY_VERIFY(!dialog<QDialog>(QStringLiteral("DeletedCardsDialog")));
        QCOMPARE(w->gridRows(), 301);
        QVERIFY(showsCurrent(250));
        QCOMPARE(w->fieldText(Propietario), QStringLiteral("MARÍA Ortúzar"));
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Seguro Elimina?")});
    }
};

QTEST_MAIN(TestWindowHistory)
#include "test_window_history.moc"
