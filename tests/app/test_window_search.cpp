// The "Buscar por…" bar in the whole main window, offscreen: Ctrl+F, typing, the grid following,
// Enter, Esc, and the commands afterwards acting on the card the fields show.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "History.h"
#include "MainWindow.h"
#include "SearchIndex.h"
#include "Startup.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>

using app::MainWindow;
using namespace store;
using Answer = MessageLayer::Answer;
using namespace Qt::StringLiterals;

namespace {

std::vector<Card> registry() {
    const struct {
        const char* code;
        const char16_t* owner;
        const char* rut;
    } rows[] = {
        {"152000000000001", u"Ana Rojas", "7.654.321-K"},
        {"152000000000002", u"José Muñoz", "12.345.678-5"},
        {"152000000000003", u"Pedro Díaz", ""},
        {"152000000000004", u"J. MUNOZ", "12345678-5"},
        {"152000000000005", u"Eva Paz", "5.555.555-5"},
    };
    std::vector<Card> cards;
    for (const auto& r : rows) {
        Card c = makeCard(QLatin1StringView(r.code));
        c[Propietario] = QString::fromUtf16(r.owner);
        c[Rut] = QLatin1StringView(r.rut);
        cards.push_back(c);
    }
    return cards;
}

} // namespace

class TestWindowSearch : public QObject {
    Q_OBJECT

    FixedClock clock_{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders_;
    ScriptedMessages messages_;
    std::unique_ptr<MainWindow> w_;

    template <class W = QWidget> W* get(const QString& name) const {
        W* found = w_->findChild<W*>(name);
        if (!found)
            qWarning("no control %s", qPrintable(name));
        return found;
    }
    QLineEdit* bar() const { return get<QLineEdit>(QStringLiteral("txtBuscarPor")); }
    QString label27() const { return get<QLabel>(QStringLiteral("Label27"))->text(); }
    void click(const char* button) {
        QTest::mouseClick(get<QPushButton>(QLatin1StringView(button)), Qt::LeftButton);
    }
    void ctrlF() { QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier); }
    // Typed as a person types, at an uneven pace: keys that come at a chip reader's steady pace
    // and end in Enter are taken as a scanned code (a slow machine spaces a test's keys that way).
    void type(const QString& text) {
        for (qsizetype i = 0; i < text.size(); ++i) {
            QTest::sendKeyEvent(QTest::Click, bar(), Qt::Key_unknown, QString(text[i]),
                                Qt::NoModifier);
            if (i % 2 == 1)
                QThread::msleep(60);
        }
    }
    std::map<QString, Card> stored() const {
        std::map<QString, Card> cards;
        Status status;
        auto s = CardStore::open(folders_->registry(), &status);
        (void)s->forEachCard(Order::Stored, [&](RowId, const Card& c) {
            cards[c[Codigo]] = c;
            return true;
        });
        return cards;
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void init() {
        folders_ = std::make_unique<AppFolders>();
        folders_->copyRealMasterIni();
        folders_->addCards(registry());
        messages_.clear();
        w_ = app::startUp(folders_->folders, messages_, clock_);
        QVERIFY(w_);
        w_->show();
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        QCOMPARE(messages_.texts(), QStringList());
    }
    void cleanup() {
        w_.reset();
        folders_.reset();
    }

    void findEditEscDelete() {
        w_->setGridCurrentRow(3);
        w_->grid()->setFocus();
        ctrlF();
        QVERIFY(bar()->isVisible());
        QVERIFY(bar()->hasFocus());
        // Over the grid, clear of every field of the card.
        QVERIFY(w_->grid()->geometry().contains(bar()->geometry()));
        for (const CardField& f : cardFields()) {
            if (QWidget* control = f.control.isEmpty() ? nullptr : get(f.control.toString()))
                QVERIFY2(!control->geometry().intersects(bar()->geometry()),
                         qPrintable(f.control.toString()));
        }

        // Both Muñoz cards, by name without accents in any order, then by R.U.T.
        type(QStringLiteral("munoz jose"));
        QTRY_COMPARE(w_->gridRows(), 2);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000002"));
        QCOMPARE(label27(), QStringLiteral("1 de 1 Mascotas registradas"));
        bar()->selectAll();
        type(QStringLiteral("123456785"));
        QTest::keyClick(bar(), Qt::Key_Return); // at once, without waiting
        QCOMPARE(w_->gridRows(), 3);
        QCOMPARE(w_->gridCurrentRow(), 1);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000002"));
        QCOMPARE(label27(), QStringLiteral("1 de 2 Mascotas registradas"));
        QVERIFY(w_->grid()->hasFocus());

        // The second card found is edited: only that card changes.
        w_->setGridCurrentRow(2);
        click("cmdEditar");
        QVERIFY(!bar()->isVisible());
        w_->setFieldText(NombreAnimal, QStringLiteral("Cachupín"));
        click("cmdEditar");
        QCOMPARE(messages_.texts(), QStringList());
        std::map<QString, Card> cards = stored();
        QCOMPARE(cards[QStringLiteral("152000000000004")][NombreAnimal],
                 QStringLiteral("Cachupín"));
        for (const Card& c : registry()) {
            if (c[Codigo] != u"152000000000004")
                QCOMPARE(cards[c[Codigo]][NombreAnimal], c[NombreAnimal]);
        }

        // Esc in the grid: every card again, the edited one still shown.
        QTest::keyClick(w_->grid(), Qt::Key_Escape);
        QCOMPARE(w_->gridRows(), 6);
        QCOMPARE(w_->gridCurrentRow(), 4);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000004"));
        QCOMPARE(label27(), QStringLiteral("4 de 5 Mascotas registradas"));

        // An emptied text brings back the card shown before the search; Esc then keeps the card
        // the last search showed, and Eliminar deletes that one.
        ctrlF();
        type(QStringLiteral("paz"));
        QTRY_COMPARE(w_->gridRows(), 2);
        bar()->clear();
        QTRY_COMPARE(w_->gridRows(), 6);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000004"));
        type(QStringLiteral("rojas"));
        QTRY_COMPARE(w_->gridRows(), 2);
        QTest::keyClick(bar(), Qt::Key_Escape);
        QVERIFY(!bar()->isVisible());
        QCOMPARE(w_->gridRows(), 6);
        QCOMPARE(w_->gridCurrentRow(), 1);
        messages_.queue(Answer::Yes);
        click("cmdEliminar");
        cards = stored();
        QCOMPARE(cards.size(), size_t(4));
        QVERIFY(!cards.count(QStringLiteral("152000000000001")));

        // Nothing found: no card shown, the commands on a card off; then the code search works
        // as ever over what the bar left.
        ctrlF();
        type(QStringLiteral("zz"));
        QTRY_COMPARE(w_->gridRows(), 1);
        QCOMPARE(w_->shownCardId(), kNoRow);
        QVERIFY(!w_->buttonEnabled(QStringLiteral("cmdEditar")));
        click("cmdBuscar");
        QVERIFY(!bar()->isVisible());
        w_->setFieldText(Codigo, QStringLiteral("152000000000005"));
        click("btnBuscarOK");
        QCOMPARE(w_->gridRows(), 2);
        QCOMPARE(w_->fieldText(Propietario), QStringLiteral("Eva Paz"));
        QVERIFY(w_->buttonEnabled(QStringLiteral("cmdEditar")));
        QCOMPARE(messages_.texts(), QStringList{QStringLiteral("Seguro Elimina?")});
    }

    void ownerCards() {
        w_->setGridCurrentRow(4); // J. MUNOZ, the R.U.T. of José Muñoz written another way
        get<QAction>(QStringLiteral("actMismoPropietario"))->trigger();
        QCOMPARE(w_->gridRows(), 3);
        QCOMPARE(w_->gridCurrentRow(), 2);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000004"));
        QCOMPARE(label27(), QStringLiteral("2 de 2 Mascotas registradas"));
        QTest::keyClick(w_->grid(), Qt::Key_Escape);
        QCOMPARE(w_->gridRows(), 6);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000004"));
    }

    // A registry whose search index was begun but not filled (an earlier start ended halfway)
    // opens at once; while another program holds the file the fill waits, the footer says the
    // search is being prepared, and what is typed in the bar is searched once the index is whole.
    void searchTypedWhileIndexFills() {
        if (test_registry::onServer())
            QSKIP("a server's index is built whole");
        w_.reset();
        {
            Status opened;
            auto cards = CardStore::open(folders_->registry(), &opened);
            QVERIFY(cards);
            QSqlQuery q(cards->database());
            QVERIFY(q.exec(QStringLiteral("DROP TABLE BusquedaTarjetas")));
            QVERIFY(SearchIndex::begin(*cards));
        }
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), u"otro"_s);
        other.setDatabaseName(folders_->registry().location());
        QVERIFY(other.open());
        QVERIFY(QSqlQuery(other).exec(QStringLiteral("BEGIN IMMEDIATE")));
        w_ = app::startUp(folders_->folders, messages_, clock_);
        QVERIFY(w_);
        w_->show();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        const auto footer = [this] {
            return get<QLabel>(QStringLiteral("lblRegistro"))->text();
        };
        QTRY_VERIFY(footer().endsWith(u" — Preparando la búsqueda por propietario, R.U.T., "
                                      u"teléfono y mascota: 0 %"));
        w_->grid()->setFocus();
        ctrlF();
        QCOMPARE(bar()->placeholderText(),
                 QStringLiteral("Preparando la búsqueda (0 %): escriba y se buscará al terminar"));
        type(QStringLiteral("munoz"));
        QTRY_COMPARE(
            label27(),
            QStringLiteral("Preparando la búsqueda (0 %): se buscará «munoz» al terminar"));
        QCOMPARE(w_->gridRows(), 6);

        QVERIFY(QSqlQuery(other).exec(QStringLiteral("COMMIT")));
        other.close();
        other = QSqlDatabase();
        QSqlDatabase::removeDatabase(u"otro"_s);
        QTRY_COMPARE(w_->gridRows(), 3);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000002"));
        QVERIFY(!footer().contains(u"Preparando"));
        QCOMPARE(messages_.texts(), QStringList());
    }

    // An entry another program deleted round the triggers is put back by the check a moment
    // after the window is up: the search then finds the card again.
    void indexMendedOnceTheWindowIsUp() {
        if (test_registry::onServer())
            QSKIP("a server's index is not checked at start");
        w_.reset();
        {
            Status opened;
            auto cards = CardStore::open(folders_->registry(), &opened);
            QVERIFY(cards);
            QVERIFY(QSqlQuery(cards->database())
                        .exec(QStringLiteral("DELETE FROM BusquedaTarjetas WHERE rowid = (SELECT "
                                             "id FROM Clientes WHERE Codigo = "
                                             "'152000000000002')")));
        }
        w_ = app::startUp(folders_->folders, messages_, clock_);
        QVERIFY(w_);
        w_->show();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        QTest::qWait(1500);
        w_->grid()->setFocus();
        ctrlF();
        type(QStringLiteral("munoz"));
        QTRY_COMPARE(w_->gridRows(), 3);
        QCOMPARE(messages_.texts(), QStringList());
    }

    // Cards written while a search is listed, by this window and by another program, are all
    // in the listing Esc brings back (a listing of every card is kept between searches), with
    // the card shown current; editing then writes that card.
    void escAfterWrites() {
        for (int round = 0; round < 2; ++round) {
            ctrlF();
            type(QStringLiteral("munoz"));
            QTest::keyClick(bar(), Qt::Key_Return);
            QCOMPARE(w_->gridRows(), 3);
            Status opened;
            auto other = CardStore::open(folders_->registry(), &opened);
            QVERIFY(other);
            Card added = makeCard(QStringLiteral("15200000000010%1").arg(round));
            added[Propietario] = QStringLiteral("Luis Muñoz");
            QVERIFY(other->insertCards(std::span(&added, 1), WriteReason::Alta));
            std::vector<RowId> ids;
            QVERIFY(other->rowIds(Order::Stored, &ids));
            QVERIFY(other->removeCard(ids.front()));
            other.reset();
            // This window deletes the first card found, and the second is shown.
            messages_.queue(Answer::Yes);
            click("cmdEliminar");
            const QString shown = w_->fieldText(Codigo);
            QTest::keyClick(w_->grid(), Qt::Key_Escape);

            QStringList listed, codes;
            for (int row = 1; row < w_->gridRows(); ++row)
                listed.append(w_->grid()->cellText(row, Codigo + 1));
            for (const auto& [code, card] : stored())
                codes.append(code);
            QCOMPARE(listed, codes); // stored order is the order added, as is code order here
            QCOMPARE(w_->fieldText(Codigo), shown);
            QCOMPARE(w_->grid()->cellText(w_->gridCurrentRow(), Codigo + 1), shown);
        }
        QCOMPARE(w_->gridRows(), 4);
        click("cmdEditar");
        w_->setFieldText(NombreAnimal, QStringLiteral("Firulais"));
        const QString shown = w_->fieldText(Codigo);
        click("cmdEditar");
        QCOMPARE(stored()[shown][NombreAnimal], QStringLiteral("Firulais"));
        QCOMPARE(messages_.texts(), (QStringList{QStringLiteral("Seguro Elimina?"),
                                                 QStringLiteral("Seguro Elimina?")}));
    }
};

QTEST_MAIN(TestWindowSearch)
#include "test_window_search.moc"
