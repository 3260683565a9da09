// The fast paths of the whole window over a generated registry of a few thousand cards, against
// a plain walk over the table: the grid after start-up, search, add and delete; the card count
// kept by the store; the export's bytes.
#include "../../bench/Registry.h"
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "CsvExport.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QBuffer>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlQuery>
#include <QTest>

using app::MainWindow;
using store::Field;

class TestWindowScale : public QObject {
    Q_OBJECT

    static constexpr int kCards = 2500;
    AppFolders f_;
    store::FixedClock clock_{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    ScriptedMessages messages_;
    std::unique_ptr<MainWindow> w_;

    // Every stored card in stored order, read plainly.
    std::vector<store::Card> walk() {
        std::vector<store::Card> cards;
        store::Status status;
        auto s = store::CardStore::open(f_.folders.appFile(store::kDatabaseFileName), &status);
        const store::Status read =
            s->forEachCard(store::Order::Stored, [&](store::RowId, const store::Card& c) {
                cards.push_back(c);
                return true;
            });
        if (!read)
            qWarning("%s", qPrintable(read.message()));
        return cards;
    }

    // The grid's rows as row texts, for comparing with the walk.
    QStringList gridRows() const {
        QStringList rows;
        const browse::CardGrid& grid = *w_->grid();
        for (int r = 1; r < grid.rows(); ++r) {
            QString row;
            for (int c = 1; c <= store::kGridFieldCount; ++c)
                row += u'\t' + grid.cellText(r, c);
            rows.append(row);
        }
        return rows;
    }
    static QStringList rowsOf(const std::vector<store::Card>& cards) {
        QStringList rows;
        for (const store::Card& c : cards) {
            QString row; // Null shows as empty text
            for (int i = 0; i < store::kGridFieldCount; ++i)
                row += u'\t' + (c[Field(i)].isNull() ? QStringLiteral("") : c[Field(i)]);
            rows.append(row);
        }
        return rows;
    }

    void click(const char* name) {
        auto* b = w_->findChild<QPushButton*>(QLatin1StringView(name));
        QVERIFY(b);
        b->click();
    }
    void search(const QString& code) {
        click("cmdBuscar");
        w_->textBox(store::Codigo)->setText(code);
        click("btnBuscarOK");
    }

private slots:
    void initTestCase() {
        f_.copyRealMasterIni();
        QString error;
        QVERIFY2(bench::writeRegistry(kCards, 7, f_.folders.appFile(store::kDatabaseFileName),
                                      f_.appIni(), &error),
                 qPrintable(error));
        w_ = app::startUp(f_.folders, messages_, clock_);
        QVERIFY(w_);
    }

    void gridAfterStartUpAndSearches() {
        const std::vector<store::Card> cards = walk();
        QCOMPARE(int(cards.size()), kCards);
        QCOMPARE(gridRows(), rowsOf(cards));
        QCOMPARE(w_->fieldText(store::Codigo), cards.front()[store::Codigo]);

        // A code found lists its one card; one not found lists none and says so; the empty
        // search lists every card again in stored order.
        const store::Card& middle = cards[kCards / 2];
        search(middle[store::Codigo]);
        QCOMPARE(gridRows(), rowsOf({middle}));
        QCOMPARE(w_->fieldText(store::Propietario), middle[store::Propietario]);
        search(QStringLiteral("000000000000000"));
        QCOMPARE(messages_.texts(), QStringList{QStringLiteral("CODIGO NO ENCONTRADO")});
        QCOMPARE(w_->gridRows(), 1);
        w_->textBox(store::Codigo)->setText(QString()); // the search is still open
        click("btnBuscarOK");
        QCOMPARE(gridRows(), rowsOf(cards));
        messages_.clear();

        // Typing in the grid jumps to the next row whose code begins with what was typed, among
        // the rows a page cache holds (8 pages of 4 here): comparing every row would read every
        // card of a large registry.
        browse::CardGridModel* model = w_->grid()->cardModel();
        model->setPageRows(4);
        const auto firstRowOf = [&](int from, int to) -> std::pair<QString, int> {
            for (int i = from; i < to; ++i) {
                const QString prefix = cards[size_t(i)][store::Codigo].left(4);
                bool earlier = false;
                for (int j = 0; j < i && !earlier; ++j)
                    earlier = cards[size_t(j)][store::Codigo].startsWith(prefix);
                if (!earlier)
                    return {prefix, i};
            }
            return {};
        };
        const auto [near, nearRow] = firstRowOf(1, 32);
        const auto [far, farRow] = firstRowOf(40, kCards);
        QVERIFY(nearRow > 0 && farRow >= 40);
        const auto jump = [&](const QString& typed) {
            const QModelIndexList found =
                model->match(model->index(0, store::Codigo + 1), Qt::DisplayRole, typed, 1,
                             Qt::MatchStartsWith | Qt::MatchWrap);
            return found.isEmpty() ? -1 : found.front().row();
        };
        QCOMPARE(jump(near), nearRow);
        QCOMPARE(jump(far), -1);
        model->setPageRows(browse::CardGridModel::kPageRows);
        QCOMPARE(jump(far), farRow);
    }

    void gridAndCountAfterAddAndDelete() {
        click("cmdAgregar");
        const QString code = QStringLiteral("152000000000001");
        w_->setFieldText(store::Codigo, code);
        w_->setFieldText(store::Lugar, QStringLiteral("Operativo Municipal Ñuñoa"));
        w_->setFieldText(store::FichaClinica, QStringLiteral("77"));
        w_->setFieldText(store::Implantador, QStringLiteral("Dr. Rodrigo Peña"));
        w_->setFieldText(store::NombreAnimal, QStringLiteral("Ñoño"));
        w_->setFieldText(store::Especie, QStringLiteral("Canino"));
        w_->setFieldText(store::Raza, QStringLiteral("Mestizo"));
        click("cmdAgregar");
        QCOMPARE(messages_.texts(), QStringList());
        std::vector<store::Card> cards = walk();
        QCOMPARE(int(cards.size()), kCards + 1);
        QCOMPARE(cards.back()[store::Codigo], code);
        QCOMPARE(gridRows(), rowsOf(cards));
        QCOMPARE(w_->cardStore()->recordCount(), qint64(kCards + 1));

        // Delete a card in the middle.
        w_->setGridCurrentRow(100);
        const QString gone = w_->fieldText(store::Codigo);
        messages_.queue(store::MessageLayer::Answer::Yes);
        click("cmdEliminar");
        cards = walk();
        QCOMPARE(int(cards.size()), kCards);
        QVERIFY(std::none_of(cards.begin(), cards.end(),
                             [&](const store::Card& c) { return c[store::Codigo] == gone; }));
        QCOMPARE(gridRows(), rowsOf(cards));
        QCOMPARE(w_->cardStore()->recordCount(), qint64(kCards));
    }

    void countFollowsOtherProgramsAndRawWrites() {
        store::CardStore& mine = *w_->cardStore();
        const qint64 before = mine.recordCount();
        // The user looks further down, away from the current card.
        browse::CardGrid* grid = w_->grid();
        grid->setCurrentRow(3);
        grid->verticalScrollBar()->setValue(300);
        const int top = grid->topRow();
        {
            // Another program adds two cards: the count kept must not be trusted.
            store::Status status;
            auto other = store::CardStore::open(mine.path(), &status);
            QVERIFY(other);
            store::RowId id;
            QVERIFY(other->insertCard(makeCard(QStringLiteral("OTRO1")), &id).ok());
            QVERIFY(other->insertCard(makeCard(QStringLiteral("OTRO2")), &id).ok());
        }
        QCOMPARE(mine.recordCount(), before + 2);
        // A statement on the store's own connection (on its thread), past its write operations.
        bool deleted = false;
        (void)mine.call([&] {
            QSqlQuery q(mine.database());
            deleted = q.exec(QStringLiteral("DELETE FROM Clientes WHERE Codigo = 'OTRO1'"));
            return store::Status();
        });
        QVERIFY(deleted);
        QCOMPARE(mine.recordCount(), before + 1);
        QCOMPARE(qint64(walk().size()), before + 1);
        // The window follows both writes on its own; until it has, a test after this one would
        // see its grid listed again under it.
        QTRY_COMPARE(grid->rows() - 1, int(before + 1));
        QCOMPARE(gridRows(), rowsOf(walk()));
        // The view stayed where the user had it; the current card too.
        QCOMPARE(grid->topRow(), top);
        QCOMPARE(grid->currentRow(), 3);
    }

    void exportBytesAreThoseOfTheWalk() {
        for (auto kind : {output::ExportKind::Complete, output::ExportKind::WithoutOwner}) {
            QByteArray expected = output::csvHeader(kind);
            for (const store::Card& c : walk())
                expected += output::csvLine(c, kind);
            QBuffer buffer;
            QVERIFY(buffer.open(QIODevice::WriteOnly));
            QString error;
            QVERIFY2(output::writeCsv(*w_->cardStore(), kind, &buffer, &error), qPrintable(error));
            QCOMPARE(buffer.data().size(), expected.size());
            QVERIFY(buffer.data() == expected);
        }
    }

    // A paint never reads the store: the read waits for it in an event loop, and the window
    // repainted from there would be painted inside the grid's paint. Rows not read yet paint
    // blank, are read right after and painted again; a scroll reads its rows before painting.
    void gridReadsNoRowWhilePainting() {
        browse::CardGrid* grid = w_->grid();
        browse::CardGridModel* model = grid->cardModel();
        model->setPageRows(4);
        QWidget* rows = grid->viewport();
        grid->verticalScrollBar()->setValue(600);
        const QImage scrolled = rows->grab().toImage();
        model->invalidateCache();
        const QImage unread = rows->grab().toImage();
        // The rows are read after the paint, on the next turns of the event loop (later ones
        // when the store is busy with work a timer started, such as the search index's check).
        QTRY_VERIFY(rows->grab().toImage() == scrolled);
        model->setPageRows(browse::CardGridModel::kPageRows);
        QVERIFY(unread != scrolled);
        const std::vector<store::Card> cards = walk();
        const int top = grid->topRow();
        QCOMPARE(top, 601);
        QCOMPARE(grid->cellText(top, store::Codigo + 1), cards[size_t(top - 1)][store::Codigo]);
    }

    void cleanupTestCase() { w_.reset(); }
};

QTEST_MAIN(TestWindowScale)
#include "test_window_scale.moc"
