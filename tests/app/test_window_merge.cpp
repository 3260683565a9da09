// A field campaign's registry merged into the window's one, twice: the grid's context menu, the
// file chooser, the comparison dialog and its choices, then the store and its history read back
// card by card.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "Backup.h"
#include "CardGrid.h"
#include "History.h"
#include "MainWindow.h"
#include "MergeDialog.h"
#include "Startup.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTest>

#include <memory>

using app::MainWindow;
using namespace store;

class TestWindowMerge : public QObject {
    Q_OBJECT

    FixedClock clock{QDateTime(QDate(2026, 12, 9), QTime(18, 30))};
    std::unique_ptr<AppFolders> folders;
    ScriptedMessages messages;
    std::unique_ptr<MainWindow> w;

    template <typename T> T* top(const QString& name = {}) {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* t = qobject_cast<T*>(widget);
                t && t->isVisible() && (name.isEmpty() || t->objectName() == name))
                return t;
        }
        return nullptr;
    }

    // Opens the merge through the grid's context menu and chooses `path` in its file chooser.
    merge::MergeDialog* openMerge(const QString& path) {
        messages.queueFile(path);
        QAction* action = w->findChild<QAction*>(QStringLiteral("actCombinar"));
        if (!action || !w->grid()->actions().contains(action))
            return nullptr;
        action->trigger();
        if (messages.choosers != QStringList{merge::kMergeTitle})
            return nullptr;
        for (int waited = 0; !top<merge::MergeDialog>() && waited < 10000; waited += 20)
            QTest::qWait(20);
        return top<merge::MergeDialog>();
    }

    qint64 historyRows() {
        // The window's store works on a thread of its own: its connection is used there.
        qint64 rows = -1;
        (void)w->cardStore()->call([&] {
            QSqlQuery q(w->cardStore()->database());
            if (q.exec(QStringLiteral("SELECT count(*) FROM \"Historial\"")) && q.next())
                rows = q.value(0).toLongLong();
            return Status();
        });
        return rows;
    }

    std::vector<Card> stored() {
        std::vector<Card> cards;
        (void)w->cardStore()->forEachCard(Order::Stored, [&](RowId, const Card& c) {
            cards.push_back(c);
            return true;
        });
        return cards;
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void newEqualChangedAndDeletedThereMergedTwice() {
        // This registry, and the laptop's: A equal; B, G and H changed there; C deleted there;
        // F and E added there.
        const QString A = QStringLiteral("152000000000001"), B = QStringLiteral("152000000000002"),
                      C = QStringLiteral("152000000000003"), D = QStringLiteral("152000000000004"),
                      G = QStringLiteral("152000000000007"), H = QStringLiteral("152000000000008"),
                      E = QStringLiteral("152000000000005"), F = QStringLiteral("152000000000006");
        folders = std::make_unique<AppFolders>();
        folders->copyRealMasterIni();
        folders->addCards(
            {makeCard(A), makeCard(B), makeCard(C), makeCard(D), makeCard(G), makeCard(H)});
        const QString laptop = folders->root.filePath(QStringLiteral("operativo.db"));
        Card b = makeCard(B), g = makeCard(G), h = makeCard(H);
        b[Propietario] = QStringLiteral("Luis Soto");
        g[Telefono1] = QStringLiteral("+56 9 1234 5678");
        g[Email] = QStringLiteral("");
        h[Raza] = QStringLiteral("Quiltro");
        {
            Status s;
            auto other = CardStore::open(laptop, &s);
            QVERIFY2(other, qPrintable(s.message()));
            for (const Card& c : {makeCard(A), b, makeCard(C), g, h, makeCard(F), makeCard(E)}) {
                RowId id;
                QVERIFY(other->insertCard(c, &id));
            }
            RowId c = kNoRow;
            QVERIFY(other->findCode(C, &c) && other->removeCard(c));
        }

        messages.clear();
        app::StartupHooks hooks;
        hooks.webIntake = [](MainWindow&) {
            return false;
        };
        hooks.dailyBackup = false;
        w = app::startUp(folders->folders, messages, clock, std::move(hooks));
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCOMPARE(w->gridRows(), 7); // and the empty row of a new card
        const qint64 rowsBefore = historyRows();

        merge::MergeDialog* dialog = openMerge(laptop);
        QVERIFY(dialog);
        QVERIFY(
            dialog->findChild<QLabel*>(QStringLiteral("lblCuentas"))
                ->text()
                .contains(QStringLiteral("nuevas 2, iguales 1, distintas 3, eliminadas allí 1")));
        auto* list = dialog->findChild<QTableWidget*>(QStringLiteral("tblConflictos"));
        auto* fields = dialog->findChild<QTableWidget*>(QStringLiteral("tblComparacion"));
        auto* choice = dialog->findChild<QComboBox*>(QStringLiteral("cboDecision"));
        QCOMPARE(list->rowCount(), 4);
        QCOMPARE(list->item(0, 0)->text(), B);
        QCOMPARE(list->item(3, 0)->text(), C);
        QCOMPARE(list->item(3, 1)->text(), QStringLiteral("eliminada allí"));
        // Nothing is written while the dialog is open.
        QCOMPARE(historyRows(), rowsBefore);

        // B side by side: only its owner differs, the laptop's value the newer one.
        QCOMPARE(fields->rowCount(), 1);
        QCOMPARE(fields->item(0, 0)->text(), QStringLiteral("propietario"));
        QCOMPARE(fields->item(0, 1)->text(), makeCard(B)[Propietario]);
        QCOMPARE(fields->item(0, 2)->text(), QStringLiteral("Luis Soto"));
        QVERIFY(fields->horizontalHeaderItem(2)->text().contains(QStringLiteral("más reciente")));

        // B: the other's card, chosen with the keyboard. G: the other's non-empty fields. H:
        // kept (the default). C: deleted here too.
        list->setFocus();
        list->setCurrentCell(0, 0);
        choice->setFocus();
        QTest::keyClick(choice, Qt::Key_Down);
        QCOMPARE(list->item(0, 3)->text(), QStringLiteral("Tomar la del otro registro"));
        list->setCurrentCell(1, 0);
        QCOMPARE(list->item(1, 0)->text(), G);
        QCOMPARE(choice->currentIndex(), 0);
        choice->setCurrentIndex(2);
        list->setCurrentCell(3, 0);
        QCOMPARE(fields->rowCount(), kFieldCount); // the card as it stands here
        choice->setCurrentIndex(1);
        QCOMPARE(list->item(3, 3)->text(), QStringLiteral("Eliminarla también aquí"));
        QCOMPARE(list->item(0, 3)->text(), QStringLiteral("Tomar la del otro registro"));
        QCOMPARE(list->item(2, 3)->text(), QStringLiteral("Mantener la de este registro"));

        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnCombinar")),
                          Qt::LeftButton);
        QTRY_VERIFY(!top<merge::MergeDialog>());
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY2(messages.boxes[0].text.startsWith(QStringLiteral("Se combinaron las tarjetas")),
                 qPrintable(messages.boxes[0].text));
        QVERIFY(messages.boxes[0].text.contains(QStringLiteral("2 agregadas, 3 cambiadas")));

        // The store card by card, in stored order, and one history row for each card written.
        Card gMerged = makeCard(G);
        gMerged[Telefono1] = g[Telefono1];
        const std::vector<Card> expected = {makeCard(A), b,           makeCard(D), gMerged,
                                            makeCard(H), makeCard(F), makeCard(E)};
        QCOMPARE(stored(), expected);
        QCOMPARE(w->gridRows(), 8);
        QCOMPARE(w->gridCurrentCode(), A); // a card shown again, as at start-up
        QCOMPARE(w->fieldText(Codigo), A);
        QCOMPARE(historyRows(), rowsBefore + 5);
        for (const QString& code : {B, C, E, F, G}) {
            std::vector<HistoryEntry> rows;
            QVERIFY(History(*w->cardStore()).forCode(code, 1, &rows));
            QCOMPARE(rows.front().what, QStringLiteral("combinación"));
            QCOMPARE(rows.front().source, QStringLiteral("operativo.db"));
        }
        if (!w->cardStore()->registry().isServer())
            QVERIFY(QFileInfo::exists(dailyBackupPath(folders->folders, clock.today())));
        QVERIFY(QFileInfo::exists(
            folders->folders.exportFile(QStringLiteral("Combinación 2026-12-09 18.30.csv"))));

        // The same file again: G (its e-mail empty there) and H are still distinct, each kept by
        // default; nothing is written.
        messages.clear();
        dialog = openMerge(laptop);
        QVERIFY(dialog);
        QVERIFY(
            dialog->findChild<QLabel*>(QStringLiteral("lblCuentas"))
                ->text()
                .contains(QStringLiteral("nuevas 0, iguales 4, distintas 2, eliminadas allí 0")));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnCombinar")),
                          Qt::LeftButton);
        QTRY_VERIFY(!top<merge::MergeDialog>());
        QCOMPARE(stored(), expected);
        QCOMPARE(historyRows(), rowsBefore + 5);
    }
};

QTEST_MAIN(TestWindowMerge)
#include "test_window_merge.moc"
