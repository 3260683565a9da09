#include "CodeSearch.h"
#include "ScriptedMessages.h"
#include "TestRegistry.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <map>

using namespace store;

namespace {

// The main window as the search sees it: buttons, the code field, the grid's rows by id.
class FakeForm : public EntryForm {
public:
    QString fieldText(Field f) const override { return text.value(f); }
    void setFieldText(Field f, const QString& t) override { text[f] = t; }
    void setFieldDate(Field, const QDate&) override {}
    void setFieldEnabled(Field f, bool on) override { enabled[f] = on; }
    bool fieldEnabled(Field f) const override { return enabled.value(f); }
    void focusField(Field f) override { focus = f; }
    void selectFieldText(Field) override {}
    bool fieldHasFocus(Field f) const override { return focus == f; }
    QString buttonCaption(const QString&) const override { return {}; }
    void setButtonCaption(const QString&, const QString&) override {}
    void setButtonEnabled(const QString& b, bool on) override { buttons[b] = on; }
    bool buttonEnabled(const QString& b) const override { return buttons.at(b); }
    int gridRows() const override { return int(rows.size()) + 1; }
    int gridCurrentRow() const override { return current; }
    void setGridCurrentRow(int row) override {
        // As the grid: a row past the last card leaves no row current.
        current = row >= 1 && row <= int(rows.size()) ? row : 0;
        loads.push_back(row);
    }
    QString gridCurrentCode() const override { return {}; }
    void gridAppendCard(const Card&, RowId) override {}
    void gridReplaceCard(int, const Card&) override {}
    void gridRemoveRow(int) override {}
    void setGridEnabled(bool) override {}
    bool gridEnabled() const override { return true; }
    void gridShowRows(std::vector<RowId> ids) override {
        rows = std::move(ids);
        current = 0;
    }
    void setSearchControlsVisible(bool on) override { searchControls = on; }
    bool enEdicion() const override { return false; }
    void setEnEdicion(bool) override {}
    void modoConsulta() override {}
    void cargaTarjeta() override { loads.push_back(current); }
    RowId shownCardId() const override {
        return current > 0 ? rows.at(size_t(current - 1)) : kNoRow;
    }
    void ocultaListas() override {}

    QHash<int, QString> text;
    QHash<int, bool> enabled;
    std::map<QString, bool> buttons;
    std::optional<Field> focus;
    std::vector<RowId> rows;
    int current = 0;
    std::vector<int> loads; // grid row current at each card load
    bool searchControls = false;
};

} // namespace

class TestFindSearch : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<CardStore> store_;
    std::vector<RowId> ids_; // in stored order
    FakeForm form_;
    ScriptedMessages messages_;
    int fills_ = 0;

    void fill(const QStringList& codes) {
        store_.reset();
        // A registry of its own each time: on a server, a schema of its own.
        const QString path = dir_.filePath(QStringLiteral("DAT%1.db").arg(++fills_));
        Status s;
        store_ = CardStore::open(test_registry::registryAt(path), &s);
        QVERIFY2(s.ok(), qPrintable(s.message()));
        ids_.clear();
        for (const QString& code : codes) {
            Card c;
            c[Codigo] = code;
            RowId id;
            QVERIFY(store_->insertCard(c, &id).ok());
            ids_.push_back(id);
        }
    }
    bool allButtons(bool on) const {
        for (const QString& b : browse::commandButtons())
            if (form_.buttons.at(b) != on)
                return false;
        return true;
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void init() {
        QVERIFY(dir_.isValid());
        form_ = FakeForm();
        form_.rows = {7, 8, 9};
        messages_.clear();
        // Stored order differs from code order on purpose.
        fill({QStringLiteral("900000000000003"), QStringLiteral("152000000000001"),
              QStringLiteral("ABC123"), QStringLiteral("900000000000002")});
    }
    void cleanup() { store_.reset(); }

    void openingDisablesCommandsAndFocusesTheEmptiedCode() {
        form_.text[Codigo] = QStringLiteral("old");
        browse::CodeSearch(*store_, form_, messages_).open();
        QVERIFY(allButtons(false));
        QVERIFY(form_.searchControls);
        QCOMPARE(form_.text[Codigo], QString());
        QVERIFY(form_.enabled[Codigo]);
        QCOMPARE(form_.focus, Codigo);
    }

    void blankTextListsEveryCardInStoredOrderAndLoadsTheFirst() {
        for (const QString& typed : {QString(), QStringLiteral("   ")}) {
            browse::CodeSearch search(*store_, form_, messages_);
            search.open();
            form_.text[Codigo] = typed;
            form_.loads.clear();
            search.run();
            QCOMPARE(form_.rows, ids_);
            QCOMPARE(form_.loads, (std::vector<int>{0, 1})); // CargaTarjeta, then row 1
            QVERIFY(allButtons(true));
            QVERIFY(!form_.searchControls);
            QVERIFY(!form_.enabled[Codigo]);
            QVERIFY(messages_.boxes.empty());
        }
    }

    void codeMatchesExactlyAfterTrimmingSpaces() {
        browse::CodeSearch search(*store_, form_, messages_);
        search.open();
        form_.text[Codigo] = QStringLiteral("  abc123 ");
        search.run();
        QCOMPARE(messages_.texts(), QStringList{QStringLiteral("CODIGO NO ENCONTRADO")});
        QVERIFY(form_.rows.empty()); // header only
        QCOMPARE(form_.focus, Codigo);
        QVERIFY(allButtons(false)); // still searching
        QVERIFY(form_.searchControls);

        form_.text[Codigo] = QStringLiteral("  ABC123 ");
        search.run();
        QCOMPARE(form_.rows, std::vector<RowId>{ids_[2]});
        QCOMPARE(form_.current, 1);
        QVERIFY(allButtons(true));
        QCOMPARE(messages_.boxes.size(), size_t(1));
    }

    void closingRightAfterOpeningKeepsTheGrid() {
        form_.current = 2;
        browse::CodeSearch search(*store_, form_, messages_);
        search.open();
        search.close();
        QCOMPARE(form_.rows, (std::vector<RowId>{7, 8, 9}));
        QVERIFY(allButtons(true));
        QVERIFY(!form_.enabled[Codigo]);
        QVERIFY(!form_.searchControls);
        // The card of the current row is loaded again, so that the code box shows its code.
        QCOMPARE(form_.loads, std::vector<int>{2});
    }

    void emptyTableFindsNothingAndKeepsCardCommandsOff() {
        fill({});
        browse::CodeSearch search(*store_, form_, messages_);
        for (const QString& typed : {QString(), QStringLiteral("152000000000001")}) {
            search.open();
            form_.text[Codigo] = typed;
            search.run();
            QCOMPARE(messages_.texts().value(messages_.texts().size() - 1),
                     QStringLiteral("CODIGO NO ENCONTRADO"));
            QVERIFY(form_.rows.empty());
        }
        search.close();
        QVERIFY(form_.buttons.at(QStringLiteral("cmdAgregar")));
        QVERIFY(form_.buttons.at(QStringLiteral("cmdExcel")));
        QVERIFY(form_.buttons.at(QStringLiteral("cmdSalir")));
        for (const QString& b : browse::recordButtons())
            QVERIFY2(!form_.buttons.at(b), qPrintable(b));
    }

    void unreadableStoreIsReportedNotTakenForNotFound() {
        QSqlQuery q(store_->database());
        QVERIFY(q.exec(QStringLiteral("DROP TABLE \"Clientes\"")));
        browse::CodeSearch search(*store_, form_, messages_);
        search.open();
        form_.text[Codigo] = QStringLiteral("ABC123");
        search.run();
        QCOMPARE(messages_.boxes.size(), size_t(1));
        QVERIFY(messages_.texts().first() != QStringLiteral("CODIGO NO ENCONTRADO"));
        QVERIFY(!messages_.texts().first().isEmpty());
        QCOMPARE(form_.rows, (std::vector<RowId>{7, 8, 9}));
        QVERIFY(allButtons(false));
    }
};

QTEST_GUILESS_MAIN(TestFindSearch)
#include "test_find_search.moc"
