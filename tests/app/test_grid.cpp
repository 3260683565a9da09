// The card grid over a store of more rows than one page of its cache.
#include "Browse.h"
#include "CardGrid.h"
#include "StoreFollower.h"

#include <QHeaderView>
#include <QScrollBar>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

class TestGrid : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    std::unique_ptr<store::CardStore> cards;
    static constexpr int kCards = 1000; // about four pages

    static QString codeOf(int i) {
        return QStringLiteral("152%1").arg(i, 12, 10, QLatin1Char('0'));
    }

private slots:
    void initTestCase() {
        store::Status status;
        cards = store::CardStore::open(dir.filePath(QStringLiteral("DAT.db")), &status);
        QVERIFY2(cards, qPrintable(status.message()));
        // Written in descending code order, so that stored order and code order differ; one
        // transaction, since a commit per card waits for the disk each time.
        QSqlDatabase db = cards->database();
        QVERIFY(db.transaction());
        QSqlQuery insert(db);
        QVERIFY(insert.prepare(
            QStringLiteral("INSERT INTO Clientes (Codigo, nombre_animal, rut) VALUES (?, ?, ?)")));
        for (int i = kCards; i >= 1; --i) {
            insert.bindValue(0, codeOf(i));
            insert.bindValue(1, QStringLiteral("Ñoño %1").arg(i));
            insert.bindValue(2, i % 7 == 0 ? QVariant() : QVariant(QStringLiteral("%1-K").arg(i)));
            QVERIFY(insert.exec());
        }
        QVERIFY(db.commit());
    }

    void rowsComeFromTheStoreInPages() {
        browse::CardGrid grid;
        grid.setStore(cards.get());
        grid.llenaGrilla();
        QCOMPARE(grid.rows(), 1);
        QVERIFY(browse::fillGrid(grid, *cards, store::Order::Stored));
        QCOMPARE(grid.rows(), kCards + 1);
        QCOMPARE(grid.currentRow(), 1);
        QCOMPARE(grid.currentCellText(), codeOf(kCards));
        // Every row, across every page and back, holds its own card.
        for (int row : {kCards, 1, 257, 256, 600, kCards - 1, 2}) {
            const int i = kCards + 1 - row;
            QCOMPARE(grid.cellText(row, 1), codeOf(i));
            QCOMPARE(grid.cellText(row, 5), QStringLiteral("Ñoño %1").arg(i));
            QCOMPARE(grid.cellText(row, 15),
                     i % 7 == 0 ? QString() : QStringLiteral("%1-K").arg(i));
            QCOMPARE(grid.cellText(row, 0), QString());
        }
        QVERIFY(grid.cardModel()->rowId(10) != store::kNoRow);

        // Code order is what the index visits.
        grid.llenaGrilla();
        QVERIFY(browse::fillGrid(grid, *cards, store::Order::ByCode));
        QCOMPARE(grid.cellText(1, 1), codeOf(1));
        QCOMPARE(grid.cellText(kCards, 1), codeOf(kCards));
    }

    void rowsAppendedReplacedAndRemoved() {
        browse::CardGrid grid;
        grid.setStore(cards.get());
        grid.llenaGrilla();
        QVERIFY(browse::fillGrid(grid, *cards, store::Order::Stored));

        store::Card added;
        added[store::Codigo] = QStringLiteral("999000000000001");
        added[store::Implantador] = QStringLiteral("Dra. Peña");
        grid.appendCard(added);
        QCOMPARE(grid.rows(), kCards + 2);
        QCOMPARE(grid.cellText(kCards + 1, 1), QStringLiteral("999000000000001"));
        QCOMPARE(grid.cellText(kCards + 1, 24), QStringLiteral("Dra. Peña"));
        QCOMPARE(grid.cardModel()->rowId(kCards), store::kNoRow);

        // A stored row rewritten shows the new values; the rows around it keep theirs.
        store::Card edited = added;
        edited[store::Codigo] = QStringLiteral("EDITADO");
        grid.replaceCard(300, edited);
        QCOMPARE(grid.cellText(300, 1), QStringLiteral("EDITADO"));
        QCOMPARE(grid.cellText(299, 1), codeOf(kCards + 1 - 299));
        QCOMPARE(grid.cellText(301, 1), codeOf(kCards + 1 - 301));

        // Removing a row moves the rows below up, across the pages already read.
        QCOMPARE(grid.cellText(600, 1), codeOf(kCards + 1 - 600));
        grid.setCurrentRow(2);
        grid.removeRow(2);
        QCOMPARE(grid.rows(), kCards + 1);
        QCOMPARE(grid.cellText(2, 1), codeOf(kCards - 2));
        QCOMPARE(grid.cellText(599, 1), codeOf(kCards + 1 - 600));
        QCOMPARE(grid.cellText(299, 1), QStringLiteral("EDITADO"));
        QCOMPARE(grid.currentRow(), 2);
        QCOMPARE(grid.cellText(kCards, 1), QStringLiteral("999000000000001"));

        // Removing the last row leaves the new last row current.
        grid.setCurrentRow(kCards);
        grid.removeRow(kCards);
        QCOMPARE(grid.currentRow(), kCards - 1);

        // Rows come from the card's values: a tab, a line break or a bar stays in its column.
        grid.llenaGrilla();
        store::Card odd;
        odd[store::Codigo] = QStringLiteral("x\ta");
        odd[store::Lugar] = QStringLiteral("uno\ndos|tres");
        odd[store::Implantador] = QStringLiteral("\t\t");
        grid.appendCard(odd, 41);
        QCOMPARE(grid.cellText(1, 0), QString());
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("x\ta"));
        QCOMPARE(grid.cellText(1, 2), QString());
        QCOMPARE(grid.cellText(1, 3), QStringLiteral("uno\ndos|tres"));
        QCOMPARE(grid.cellText(1, 24), QStringLiteral("\t\t"));
        QCOMPARE(grid.rowId(1), 41);
        grid.replaceCard(1, added);
        QCOMPARE(grid.cellText(1, 1), QStringLiteral("999000000000001"));
        QCOMPARE(grid.rowId(1), 41); // a rewritten row still knows its card
        QCOMPARE(grid.rows(), 2);
        QCOMPARE(grid.cellText(0, 1), QStringLiteral("Codigo"));
    }

    // The view holds only the rows in sight; the scroll bar, the keys, a click and the jump by
    // typing still reach every row, and the row each one makes current is the one shown.
    void movesOverEveryRowWithOnlyTheRowsInSight() {
        browse::CardGrid grid;
        grid.setStore(cards.get());
        grid.llenaGrilla();
        QVERIFY(browse::fillGrid(grid, *cards, store::Order::Stored));
        grid.resize(600, 300);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QVERIFY(grid.model()->rowCount() < 100);
        // Whether the current row is in sight, highlighted, with its own values.
        const auto shownCurrent = [&grid] {
            const QModelIndex index = grid.currentIndex();
            return grid.view().currentShown && index.isValid() &&
                   grid.selectionModel()->isRowSelected(index.row(), {}) &&
                   grid.topRow() + index.row() == grid.currentRow() &&
                   index.data().toString() == grid.cellText(grid.currentRow(), index.column());
        };
        const int sight = grid.viewport()->height() / grid.verticalHeader()->defaultSectionSize();

        grid.verticalScrollBar()->setValue(500);
        QCOMPARE(grid.topRow(), 501);
        QCOMPARE(grid.model()->index(0, 1).data().toString(), grid.cellText(501, 1));
        QCOMPARE(grid.currentRow(), 1); // scrolled away from, still current
        QVERIFY(!grid.view().currentShown);
        QTest::keyClick(&grid, Qt::Key_Down);
        QCOMPARE(grid.currentRow(), 2);
        QVERIFY(shownCurrent());
        QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
        QCOMPARE(grid.currentRow(), kCards);
        QCOMPARE(grid.topRow(), kCards - sight + 1);
        QVERIFY(shownCurrent());
        QTest::keyClick(&grid, Qt::Key_PageUp);
        QCOMPARE(grid.currentRow(), kCards - sight);
        QVERIFY(shownCurrent());

        // Typed far from the rows in sight: the code of stored row 600.
        QTest::keyClick(&grid, Qt::Key_Home, Qt::ControlModifier);
        QCOMPARE(grid.currentRow(), 1);
        QTest::keyClicks(&grid, codeOf(kCards + 1 - 600));
        QCOMPARE(grid.currentRow(), 600);
        QVERIFY(shownCurrent());
        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {},
                          grid.visualRect(grid.model()->index(2, 1)).center());
        QCOMPARE(grid.currentRow(), grid.topRow() + 2);
        QVERIFY(shownCurrent());
    }

    // The rows after another program wrote: what the grid listed stays in its order without the
    // cards gone; a grid of every card gets the new ones at its end in stored order.
    void rowsFollowingTheStore_data() {
        using Ids = std::vector<store::RowId>;
        QTest::addColumn<Ids>("shown");
        QTest::addColumn<Ids>("stored"); // in code order, as the index gives them
        QTest::addColumn<bool>("listsAll");
        QTest::addColumn<Ids>("rows");
        QTest::newRow("deleted and added") << Ids{1, 2, 3} << Ids{5, 3, 1} << true << Ids{1, 3, 5};
        QTest::newRow("code order kept")
            << Ids{3, 1, 2} << Ids{4, 2, 3, 1} << true << Ids{3, 1, 2, 4};
        QTest::newRow("search result") << Ids{2} << Ids{1, 2, 9} << false << Ids{2};
        QTest::newRow("search result gone") << Ids{2} << Ids{1, 9} << false << Ids{};
        QTest::newRow("new ids below the grid's")
            << Ids{7, 8} << Ids{8, 2, 7} << true << Ids{7, 8, 2};
        QTest::newRow("sparse ids")
            << Ids{5, 4'000'000'000'000, 6} << Ids{6, 4'000'000'000'000, 3'000'000'000'000, 5}
            << true << Ids{5, 4'000'000'000'000, 6, 3'000'000'000'000};
        QTest::newRow("store emptied") << Ids{1, 2} << Ids{} << true << Ids{};
    }
    void rowsFollowingTheStore() {
        using Ids = std::vector<store::RowId>;
        QFETCH(Ids, shown);
        QFETCH(Ids, stored);
        QFETCH(bool, listsAll);
        QFETCH(Ids, rows);
        QCOMPARE(browse::followedRows(shown, stored, listsAll), rows);
    }

    void positionText() {
        QCOMPARE(browse::positionText(4, 120), QStringLiteral("4 de 120 Mascotas registradas"));
    }
};

QTEST_MAIN(TestGrid)
#include "test_grid.moc"
