// Another program writes the same registry while the window is open: the whole main window,
// offscreen, with a second connection adding, changing and deleting cards between the window's
// own clicks, and the event loop running as it would for a user. On a server registry the second
// connection is the other workstation, and the window hears it through the server's notices.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "ChangeLog.h"
#include "ChangeWatch.h"
#include "Commands.h"
#include "History.h"
#include "MainWindow.h"
#include "Startup.h"
#include "StoreFollower.h"
#include "TypeAheadIndex.h"
#include "TypeAheadList.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using app::MainWindow;
using namespace store;
using Answer = MessageLayer::Answer;

namespace {

constexpr int kWithinMs = 2000; // what a user may wait for another program's write to show

const QString kA = QStringLiteral("152000000000001");
const QString kB = QStringLiteral("152000000000002");
const QString kC = QStringLiteral("152000000000003");
const QString kNew = QStringLiteral("152000000000009");

} // namespace

class TestWindowWatch : public QObject {
    Q_OBJECT

    FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders;
    ScriptedMessages messages;
    std::unique_ptr<MainWindow> w;
    std::unique_ptr<CardStore> other; // the other program

    void start() {
        w.reset();
        other.reset();
        folders = std::make_unique<AppFolders>();
        folders->copyRealMasterIni();
        folders->addCards({makeCard(kA), makeCard(kB), makeCard(kC)});
        Status status;
        other = CardStore::open(folders->registry(), &status);
        QVERIFY2(other, qPrintable(status.message()));
        app::StartupHooks hooks;
        hooks.webIntake = [](MainWindow&) {
            return false;
        };
        w = app::startUp(folders->folders, messages, clock, std::move(hooks));
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        messages.clear();
    }
    app::Commands* commands() const { return w->findChild<app::Commands*>(); }
    void click(const char* button) {
        auto* b = w->findChild<QPushButton*>(QLatin1StringView(button));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    void type(Field f, const QString& text) {
        QLineEdit* box = w->textBox(f);
        QVERIFY(box);
        box->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }
    QStringList gridCodes() const {
        QStringList codes;
        for (int r = 1; r < w->gridRows(); ++r)
            codes.append(w->grid()->cellText(r, 1));
        return codes;
    }
    QString label27() const { return w->findChild<QLabel*>(QStringLiteral("Label27"))->text(); }
    RowId idOf(const QString& code) const {
        RowId id = kNoRow;
        return other->findCode(code, &id) ? id : kNoRow;
    }
    void editElsewhere(const QString& code, Field f, const QString& value) {
        auto edit = other->openTable();
        QVERIFY(edit->setBookmark(idOf(code)));
        QVERIFY(edit->edit());
        edit->setField(f, value);
        QVERIFY(edit->update());
    }
    void removeElsewhere(const QString& code) {
        const RowId id = idOf(code);
        QVERIFY(id != kNoRow);
        QVERIFY(other->removeCard(id));
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }
    void init() { start(); }
    void cleanup() {
        QCOMPARE(messages.unanswered, 0);
        w.reset();
    }

    void addEditAndDeleteElsewhereShowWithoutRestart() {
        QVERIFY(commands()->changeWatch());
        w->setGridCurrentRow(2);
        QCOMPARE(w->fieldText(Codigo), kB);

        // Entering a card: what is typed stays, the grid waits, the lists follow at once.
        click("cmdAgregar");
        type(NombreAnimal, QStringLiteral("Pelusa"));
        type(Propietario, QStringLiteral("zam"));
        auto* list = w->findChild<browse::TypeAheadList*>(QStringLiteral("lstPropietario"));
        QVERIFY(list && !list->isVisible());

        Card added = makeCard(kNew);
        added[Propietario] = QStringLiteral("Zamorano Nuevo");
        RowId addedId = kNoRow;
        QVERIFY(other->insertCard(added, &addedId));
        auto edit = other->openTable();
        QVERIFY(edit->setBookmark(idOf(kB)));
        QVERIFY(edit->edit());
        edit->setField(Telefono1, QStringLiteral("+56 9 1111 2222"));
        QVERIFY(edit->update());
        removeElsewhere(kA);

        QTRY_VERIFY_WITH_TIMEOUT(list->isVisible(), kWithinMs);
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->text(0), QStringLiteral("Zamorano Nuevo"));
        QCOMPARE(w->fieldText(NombreAnimal), QStringLiteral("Pelusa"));
        QCOMPARE(w->fieldText(Propietario), QStringLiteral("zam"));
        QCOMPARE(gridCodes(), QStringList({kA, kB, kC}));

        // Back in browse mode the grid, its count and the card shown follow; the current row
        // stays on its card.
        click("cmdSalir");
        QTRY_COMPARE_WITH_TIMEOUT(gridCodes(), QStringList({kB, kC, kNew}), kWithinMs);
        QCOMPARE(w->gridCurrentRow(), 1);
        QCOMPARE(w->fieldText(Codigo), kB);
        QCOMPARE(w->fieldText(Telefono1), QStringLiteral("+56 9 1111 2222"));
        QCOMPARE(w->grid()->cellText(3, int(Propietario) + 1), QStringLiteral("Zamorano Nuevo"));
        QCOMPARE(label27(), QStringLiteral("1 de 3 Mascotas registradas"));

        // The window's own save is not taken for another program's write.
        click("cmdAgregar");
        type(Codigo, QStringLiteral("152000000000010"));
        for (Field f : {Lugar, FichaClinica, Implantador, NombreAnimal, Especie, Raza})
            w->setFieldText(f, QStringLiteral("x"));
        click("cmdAgregar");
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(gridCodes().size(), 4);
        QVERIFY(!commands()->changeWatch()->check());
        QVERIFY(!commands()->storeFollower()->gridPending());

        // A grid showing one search result keeps showing only that card.
        click("cmdBuscar");
        type(Codigo, kC);
        click("btnBuscarOK");
        QCOMPARE(gridCodes(), QStringList({kC}));
        Card more = makeCard(QStringLiteral("152000000000011"));
        QVERIFY(other->insertCard(more, &addedId));
        QTest::qWait(1200);
        QCOMPARE(gridCodes(), QStringList({kC}));
        QCOMPARE(label27(), QStringLiteral("1 de 1 Mascotas registradas"));
        QCOMPARE(messages.texts(), QStringList());
    }

    // Both save the same card: the notice of the other's save, heard while the user types, must
    // not pass for what the user's edit started from.
    void sameCardSavedElsewhereWhileEditingAsksOnSave() {
        QCOMPARE(w->fieldText(Codigo), kA);
        click("cmdEditar");
        type(NombreAnimal, QStringLiteral("Firulais"));
        auto edit = other->openTable();
        QVERIFY(edit->setBookmark(idOf(kA)));
        QVERIFY(edit->edit());
        edit->setField(Telefono1, QStringLiteral("+56 9 3333 4444"));
        QVERIFY(edit->update());
        QTRY_VERIFY_WITH_TIMEOUT(commands()->storeFollower()->gridPending(), kWithinMs);
        QCOMPARE(w->fieldText(NombreAnimal), QStringLiteral("Firulais"));

        messages.queue(Answer::No);
        click("cmdEditar");
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY2(messages.boxes[0].text.contains(QStringLiteral("Cambió: Telefono.")),
                 qPrintable(messages.boxes[0].text));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        QCOMPARE(w->fieldText(NombreAnimal), QStringLiteral("Firulais"));
        Card stored;
        QVERIFY(other->readCard(idOf(kA), &stored));
        QCOMPARE(stored[NombreAnimal], QStringLiteral("nombre_animal-") + kA);
        QCOMPARE(stored[Telefono1], QStringLiteral("+56 9 3333 4444"));

        // Yes: the user's card is stored, and the grid follows again once browsing.
        messages.clear();
        messages.queue(Answer::Yes);
        click("cmdEditar");
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
        QVERIFY(other->readCard(idOf(kA), &stored));
        QCOMPARE(stored[NombreAnimal], QStringLiteral("Firulais"));
        QTRY_COMPARE_WITH_TIMEOUT(w->grid()->cellText(1, int(NombreAnimal) + 1),
                                  QStringLiteral("Firulais"), kWithinMs);
        QCOMPARE(gridCodes(), QStringList({kA, kB, kC}));
    }

    void shownCardDeletedElsewhereThenEditOrDelete() {
        QCOMPARE(w->fieldText(Codigo), kA);

        // Editing when the other program deletes the card: told so on save, the typing kept.
        click("cmdEditar");
        type(NombreAnimal, QStringLiteral("Rex"));
        removeElsewhere(kA);
        QTest::qWait(1200);
        QCOMPARE(w->fieldText(NombreAnimal), QStringLiteral("Rex"));
        click("cmdEditar");
        QCOMPARE(messages.texts(), QStringList({QStringLiteral(" ! Registro No Encontrado !")}));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        QCOMPARE(w->fieldText(NombreAnimal), QStringLiteral("Rex"));
        QCOMPARE(idOf(kA), kNoRow);

        // Cancelled: the grid drops the card and shows the one that took its row.
        click("cmdSalir");
        QTRY_COMPARE_WITH_TIMEOUT(gridCodes(), QStringList({kB, kC}), kWithinMs);
        QCOMPARE(w->fieldText(Codigo), kB);
        QCOMPARE(label27(), QStringLiteral("1 de 2 Mascotas registradas"));

        // Deleted elsewhere just before Eliminar: told so, nothing else deleted.
        messages.clear();
        removeElsewhere(kB);
        messages.queue(Answer::Yes);
        click("cmdEliminar");
        QCOMPARE(messages.texts(), QStringList({QStringLiteral("Seguro Elimina?"),
                                                QStringLiteral(" ! Item No Encontrado !")}));
        QVERIFY(idOf(kC) != kNoRow);
        QTRY_COMPARE_WITH_TIMEOUT(gridCodes(), QStringList({kC}), kWithinMs);
        QCOMPARE(w->fieldText(Codigo), kC);

        // The last card deleted elsewhere: an empty grid, and the commands on a card off.
        removeElsewhere(kC);
        QTRY_COMPARE_WITH_TIMEOUT(w->gridRows(), 1, kWithinMs);
        QVERIFY(!w->buttonEnabled(QStringLiteral("cmdEliminar")));
        QVERIFY(!w->buttonEnabled(QStringLiteral("cmdEditar")));
        QCOMPARE(messages.texts().size(), 2);
    }

    // Following card by card: the window's own save, named again by the store's change log, is
    // listed once; a type-ahead value changed away and back is offered as stored; a burst of
    // more cards than the log keeps is followed by reading everything again.
    void followsEachWriteOnceAndEverythingAfterABurst() {
        browse::TypeAheadIndex* index = commands()->typeAhead();
        QVERIFY(index->waitForBackground(10000));
        const auto offered = [index](const QString& typed) {
            QStringList values;
            if (!index->matches(Propietario, typed, &values))
                values = QStringList{QStringLiteral("(error)")};
            return values;
        };
        const QString own = QStringLiteral("152000000000010");
        click("cmdAgregar");
        type(Codigo, own);
        for (Field f : {Lugar, FichaClinica, Implantador, NombreAnimal, Especie, Raza})
            w->setFieldText(f, QStringLiteral("x"));
        click("cmdAgregar");
        QCOMPARE(messages.texts(), QStringList());

        const QString away = QStringLiteral("Zúñiga Tercero");
        const QString before = makeCard(kC)[Propietario];
        editElsewhere(kC, Propietario, away);
        QTRY_COMPARE_WITH_TIMEOUT(offered(QStringLiteral("zúñ")), QStringList{away}, kWithinMs);
        QTRY_COMPARE_WITH_TIMEOUT(w->grid()->cellText(3, int(Propietario) + 1), away, kWithinMs);
        QCOMPARE(gridCodes(), QStringList({kA, kB, kC, own}));
        QVERIFY(label27().endsWith(QStringLiteral(" de 4 Mascotas registradas")));
        QCOMPARE(offered(before), QStringList());
        editElsewhere(kC, Propietario, before);
        QTRY_COMPARE_WITH_TIMEOUT(offered(QStringLiteral("zúñ")), QStringList(), kWithinMs);
        QCOMPARE(offered(before), QStringList{before});
        QTRY_COMPARE_WITH_TIMEOUT(w->grid()->cellText(3, int(Propietario) + 1), before, kWithinMs);

        std::vector<Card> burst;
        for (qint64 i = 0; i <= kChangeLogKept; ++i)
            burst.push_back(makeCard(QStringLiteral("1529%1").arg(i, 11, 10, QChar(u'0'))));
        QVERIFY(other->insertCards(burst, WriteReason::Importacion));
        const int rows = 4 + int(burst.size()) + 1;
        QTRY_COMPARE_WITH_TIMEOUT(w->gridRows(), rows, 10000);
        QCOMPARE(w->grid()->cellText(rows - 1, 1), burst.back()[Codigo]);
        QVERIFY(label27().endsWith(QStringLiteral(" de %1 Mascotas registradas").arg(rows - 1)));
        QTRY_VERIFY_WITH_TIMEOUT(index->waitForBackground(0), 20000);
        QCOMPARE(offered(burst.back()[Propietario]), QStringList{burst.back()[Propietario]});
        QCOMPARE(messages.texts(), QStringList());
    }
};

QTEST_MAIN(TestWindowWatch)
#include "test_window_watch.moc"
