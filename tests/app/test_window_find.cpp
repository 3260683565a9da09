// Finding cards in the whole main window, offscreen: the search by microchip code, the type-ahead
// lists of the entry fields and Enter moving on as Tab, with the window's own controls.
#include "AppFixture.h"
#include "Commands.h"
#include "ScriptedMessages.h"
#include "TypeAheadList.h"

#include "CardGrid.h"
#include "MainWindow.h"
#include "Startup.h"
#include "TabOrder.h"

#include <QApplication>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

using app::MainWindow;

namespace {

const QString kLong = QStringLiteral("98765432109876543210"); // 20 characters, from a web card

// Stored order: the owners and places that the lists offer, and codes of every kind.
std::vector<store::Card> registry() {
    const struct {
        const char* code;
        const char16_t* owner;
        const char16_t* place;
    } rows[] = {
        {"152000000000001", u"José Pérez", u"Temuco"},
        {"152000000000002", u"JOSÉ PÉREZ", u"Talca"},
        {"152000000000003", u"Joaquín Soto", u"Tomé"},
        {"ABC123", u"Juana Rojas", u"Osorno"},
        {"98765432109876543210", u"MUÑOZ Ana", u"Osorno"},
        {"152000000000006", u"Jaime Díaz", u"Osorno"},
    };
    std::vector<store::Card> cards;
    for (const auto& r : rows) {
        store::Card c = makeCard(QLatin1StringView(r.code));
        c[store::Propietario] = QString::fromUtf16(r.owner);
        c[store::Lugar] = QString::fromUtf16(r.place);
        cards.push_back(c);
    }
    return cards;
}

} // namespace

class TestWindowFind : public QObject {
    Q_OBJECT

    store::FixedClock clock_{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders_;
    ScriptedMessages messages_;
    std::unique_ptr<MainWindow> w_;

    void startWith(const std::vector<store::Card>& cards) {
        w_.reset();
        folders_ = std::make_unique<AppFolders>();
        folders_->copyRealMasterIni();
        folders_->addCards(cards);
        messages_.clear();
        w_ = app::startUp(folders_->folders, messages_, clock_);
        QVERIFY(w_);
        w_->show();
        w_->activateWindow(); // with no window manager to do it
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        QCOMPARE(messages_.texts(), QStringList());
        // The lists' values are read after the window is up; a server takes longer than a file
        // to answer, and these tests are about the lists, not about typing during the read.
        if (auto* commands = w_->findChild<app::Commands*>(); commands && commands->typeAhead())
            QVERIFY(commands->typeAhead()->waitForBackground(5000));
    }

    template <class W = QWidget> W* get(const QString& name) const {
        W* found = w_->findChild<W*>(name);
        if (!found)
            qWarning("no control %s", qPrintable(name));
        return found;
    }
    void click(const QString& button) {
        QTest::mouseClick(get<QPushButton>(button), Qt::LeftButton);
    }
    // The control of the tab order that holds the focus (a combo or picker may hand it inward).
    static QString focusedControl() {
        for (QWidget* f = QApplication::focusWidget(); f; f = f->parentWidget()) {
            if (browse::tabOrder().contains(f->objectName()))
                return f->objectName();
        }
        return QString();
    }
    static void key(Qt::Key k) { QTest::keyClick(QApplication::focusWidget(), k); }
    // Types key by key into the box that holds the focus, accented letters included.
    static void typeHere(const QString& text) {
        for (QChar ch : text)
            QTest::sendKeyEvent(QTest::Click, QApplication::focusWidget(), Qt::Key_unknown,
                                QString(ch), Qt::NoModifier);
    }
    void focusAndType(const QString& box, const QString& text) {
        get(box)->setFocus(Qt::MouseFocusReason);
        QCOMPARE(focusedControl(), box);
        typeHere(text);
    }
    QStringList entries(const QString& list) const {
        QStringList out;
        for (int i = 0; i < get<browse::TypeAheadList>(list)->count(); ++i)
            out.append(get<browse::TypeAheadList>(list)->text(i));
        return out;
    }
    QStringList visibleLists() const {
        QStringList out;
        for (browse::TypeAheadList* l : w_->findChildren<browse::TypeAheadList*>()) {
            if (l->isVisible())
                out.append(l->objectName());
        }
        return out;
    }
    QStringList enabledCommands() const {
        QStringList names;
        for (const QString& n : browse::tabOrder().mid(38)) {
            if (w_->buttonEnabled(n))
                names.append(n);
        }
        return names;
    }
    QString label27() const { return get<QLabel>(QStringLiteral("Label27"))->text(); }
    // The control of the window drawn at the centre of `name`.
    QString drawnOver(const QString& name) const {
        const QWidget* c = get(name);
        QWidget* top = w_->childAt(c->geometry().center());
        while (top && top->parentWidget() != w_.get())
            top = top->parentWidget();
        return top ? top->objectName() : QString();
    }
    void openSearch() {
        click(QStringLiteral("cmdBuscar"));
        QCOMPARE(focusedControl(), QStringLiteral("Text3"));
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void cleanup() {
        w_.reset();
        folders_.reset();
    }

    // On a server registry "Buscar por" works as on the file (its own test runs on both engines):
    // Ctrl+F opens the bar without a box.
    void searchBarOpensOnAServer() {
        if (!test_registry::onServer())
            QSKIP("the file's search has tests of its own");
        startWith(registry());
        QTest::keyClick(w_.get(), Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(messages_.texts(), QStringList());
        auto* bar = w_->findChild<QLineEdit*>(QStringLiteral("txtBuscarPor"));
        QVERIFY(bar && bar->isVisible());
    }

    // --- search by microchip code ---------------------------------------------------------

    void searchModeCoversTheEntryAreaAndKeepsTheCodeUsable() {
        startWith(registry());
        w_->setGridCurrentRow(2);
        openSearch();

        QCOMPARE(enabledCommands(), QStringList());
        QCOMPARE(w_->buttonCaption(QStringLiteral("btnBuscarOK")), QStringLiteral("Ok"));
        QCOMPARE(w_->buttonCaption(QStringLiteral("btnBuscarFin")), QStringLiteral("x"));
        auto* text3 = get<QLineEdit>(QStringLiteral("Text3"));
        QCOMPARE(text3->text(), QString());
        QVERIFY(text3->isEnabled());
        const auto twipsRect = [this](int l, int t, int wd, int h) {
            return QRect(w_->twips(l), w_->twips(t), w_->twips(wd), w_->twips(h));
        };
        QCOMPARE(get(QStringLiteral("Frame1"))->geometry(), twipsRect(100, 1440, 7500, 2895));
        QCOMPARE(get(QStringLiteral("Frame2"))->geometry(), twipsRect(7320, 2160, 3735, 2175));

        // Every entry control and its caption lies under a frame; the code, its two buttons
        // and the grid stay in sight.
        QStringList uncovered;
        for (const store::CardField& f : store::cardFields()) {
            const QString control = f.control.toString();
            if (f.field == store::Codigo || control.isEmpty())
                continue;
            for (const QString& name :
                 f.field == store::Sexo
                     ? QStringList{QStringLiteral("Option1"), QStringLiteral("Option2")}
                     : QStringList{control}) {
                if (!drawnOver(name).startsWith(u"Frame"))
                    uncovered.append(name + u'>' + drawnOver(name));
            }
        }
        for (const char* label : {"Label1",  "Label2",  "Label7",  "Label24", "Label16", "Label10",
                                  "Label9",  "Label8",  "Label14", "Label13", "Label12", "Label4",
                                  "Label28", "Label3",  "Label17", "Label19", "Label18", "Label20",
                                  "Label25", "Label26", "Label11", "Label21", "Label22"}) {
            if (!drawnOver(QLatin1StringView(label)).startsWith(u"Frame"))
                uncovered.append(QLatin1StringView(label));
        }
        QCOMPARE(uncovered, QStringList());
        for (const char* name : {"Text3", "btnBuscarOK", "btnBuscarFin", "VSFlexGrid1"})
            QCOMPARE(drawnOver(QLatin1StringView(name)), QLatin1StringView(name));

        // "x" right away: nothing rebuilt, the card shown before stays, the commands come back.
        QSignalSpy resets(w_->grid()->cardModel(), &QAbstractItemModel::modelReset);
        QSignalSpy removed(w_->grid()->cardModel(), &QAbstractItemModel::rowsRemoved);
        const QString owner = w_->fieldText(store::Propietario);
        click(QStringLiteral("btnBuscarFin"));
        QCOMPARE(resets.count() + removed.count(), 0);
        QCOMPARE(w_->gridRows(), 7);
        QCOMPARE(w_->gridCurrentRow(), 2);
        QCOMPARE(label27(), QStringLiteral("2 de 6 Mascotas registradas"));
        QCOMPARE(w_->fieldText(store::Propietario), owner);
        QCOMPARE(text3->text(), registry()[1][store::Codigo]); // the shown card's code again
        QVERIFY(!text3->isEnabled());
        QCOMPARE(enabledCommands().size(), 10);
        for (const char* name : {"Frame1", "Frame2", "btnBuscarOK", "btnBuscarFin"})
            QVERIFY2(!get(QLatin1StringView(name))->isVisible(), name);
        QCOMPARE(messages_.texts(), QStringList());
    }

    void searchByKeyboardFindsOrSaysNotFound() {
        startWith(registry());
        w_->setGridCurrentRow(3);
        const QString shownOwner = w_->fieldText(store::Propietario);
        openSearch();

        // Another letter case is another code: not found, still searching, grid header only.
        typeHere(QStringLiteral("abc123"));
        key(Qt::Key_Return);
        QCOMPARE(focusedControl(), QStringLiteral("btnBuscarOK"));
        key(Qt::Key_Return);
        QCOMPARE(messages_.texts(), QStringList{QStringLiteral("CODIGO NO ENCONTRADO")});
        QCOMPARE(messages_.boxes[0].kind, ScriptedMessages::Kind::Notice);
        QCOMPARE(w_->gridRows(), 1);
        QCOMPARE(focusedControl(), QStringLiteral("Text3"));
        QCOMPARE(w_->fieldText(store::Codigo), QStringLiteral("abc123"));
        QCOMPARE(w_->fieldText(store::Propietario), shownOwner);
        QCOMPARE(label27(), QStringLiteral("3 de 6 Mascotas registradas"));
        QCOMPARE(enabledCommands(), QStringList());
        QVERIFY(get(QStringLiteral("btnBuscarOK"))->isVisible());

        // The whole 20-character code of a web card, typed with spaces around it, is found.
        messages_.clear();
        get<QLineEdit>(QStringLiteral("Text3"))->selectAll();
        typeHere(QStringLiteral("  ") + kLong + QStringLiteral(" "));
        QCOMPARE(w_->fieldText(store::Codigo), QStringLiteral("  ") + kLong + u' ');
        key(Qt::Key_Return);
        key(Qt::Key_Return);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridRows(), 2);
        QCOMPARE(w_->gridCurrentRow(), 1);
        QCOMPARE(w_->gridCurrentCode(), kLong);
        QCOMPARE(w_->fieldText(store::Codigo), kLong);
        QCOMPARE(w_->fieldText(store::Propietario), QStringLiteral("MUÑOZ Ana"));
        QCOMPARE(label27(), QStringLiteral("1 de 1 Mascotas registradas"));
        QCOMPARE(enabledCommands().size(), 10);
        QVERIFY(!get(QStringLiteral("Frame1"))->isVisible());
        QVERIFY(!get(QStringLiteral("btnBuscarOK"))->isVisible());
        QVERIFY(!w_->fieldEnabled(store::Codigo));
        // Back to typing codes of the entry limit once the search is closed.
        click(QStringLiteral("cmdAgregar"));
        typeHere(kLong);
        QCOMPARE(w_->fieldText(store::Codigo), kLong.left(15));
        click(QStringLiteral("cmdSalir"));

        // Blank text: every card again, in stored order, the first loaded.
        openSearch();
        typeHere(QStringLiteral("   "));
        click(QStringLiteral("btnBuscarOK"));
        QCOMPARE(w_->gridRows(), 7);
        const std::vector<store::Card> cards = registry();
        for (int row = 1; row <= 6; ++row)
            QCOMPARE(w_->grid()->cellText(row, 1), cards[size_t(row - 1)][store::Codigo]);
        QCOMPARE(w_->gridCurrentRow(), 1);
        QCOMPARE(w_->fieldText(store::Propietario), QStringLiteral("José Pérez"));
        QCOMPARE(label27(), QStringLiteral("1 de 6 Mascotas registradas"));
        QCOMPARE(messages_.texts(), QStringList());
    }

    // --- type-ahead lists -----------------------------------------------------------------

    void ownersOfferedWhileAddingACard() {
        startWith(registry());
        // Browse mode: the program writing the fields shows no list.
        w_->setGridCurrentRow(3);
        w_->setFieldText(store::Propietario, QStringLiteral("J"));
        QCOMPARE(visibleLists(), QStringList());

        click(QStringLiteral("cmdAgregar"));
        QCOMPARE(focusedControl(), QStringLiteral("Text3"));
        auto* list = get<browse::TypeAheadList>(QStringLiteral("lstPropietario"));
        auto* box = get<QLineEdit>(QStringLiteral("Text12"));
        focusAndType(QStringLiteral("Text12"), QStringLiteral("j"));
        // One entry per owner whatever its letter case, the case of the first card met.
        QCOMPARE(entries(QStringLiteral("lstPropietario")),
                 (QStringList{QStringLiteral("José Pérez"), QStringLiteral("Joaquín Soto"),
                              QStringLiteral("Juana Rojas"), QStringLiteral("Jaime Díaz")}));
        QCOMPARE(visibleLists(), QStringList{QStringLiteral("lstPropietario")});
        QCOMPARE(list->height(), w_->twips(4 * 200));
        QVERIFY2(!list->verticalScrollBar()->isVisible(), "four entries fit without scrolling");
        QVERIFY(list->rowRect(3).bottom() < list->viewport()->height());
        // Under the box, over the fields below it.
        QVERIFY(qAbs(list->y() - box->geometry().bottom()) <= 2);
        QCOMPARE(w_->childAt(list->geometry().center())->parentWidget(), list);
        QVERIFY(list->geometry().intersects(get(QStringLiteral("Text16"))->geometry()));

        const int fourRows = list->rowRect(0).height();
        typeHere(QStringLiteral("o"));
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->height(), w_->twips(2 * 300));
        // Fewer entries in more room: rows of the style's own height again.
        QCOMPARE(list->rowRect(1).height(), list->sizeHintForRow(1));
#ifndef Q_OS_WIN
        // The Windows style's own rows are no taller than the four squeezed ones.
        QVERIFY(list->sizeHintForRow(1) > fourRows);
#else
        QVERIFY(list->sizeHintForRow(1) >= fourRows);
#endif
        typeHere(QStringLiteral("s"));
        QCOMPARE(entries(QStringLiteral("lstPropietario")),
                 QStringList{QStringLiteral("José Pérez")});
        QCOMPARE(list->height(), w_->twips(300));
        // A value equal to the text is offered; one letter more finds nothing.
        box->selectAll();
        typeHere(QStringLiteral("JOSÉ PÉREZ"));
        QCOMPARE(entries(QStringLiteral("lstPropietario")),
                 QStringList{QStringLiteral("José Pérez")});
        typeHere(QStringLiteral("Z"));
        QVERIFY(!list->isVisible());
        // Accented capitals found from small letters; spaces alone hide the list.
        box->selectAll();
        typeHere(QStringLiteral("muñ"));
        QCOMPARE(entries(QStringLiteral("lstPropietario")),
                 QStringList{QStringLiteral("MUÑOZ Ana")});
        box->selectAll();
        typeHere(QStringLiteral("  "));
        QVERIFY(!list->isVisible());

        // Down selects the first entry; Enter takes it and moves on to the R.U.T.
        box->selectAll();
        typeHere(QStringLiteral("jo"));
        key(Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), list);
        QCOMPARE(list->currentRow(), 0);
        QVERIFY(list->isRowSelected(list->currentRow()));
        key(Qt::Key_Return);
        QCOMPARE(box->text(), QStringLiteral("José Pérez"));
        QCOMPARE(visibleLists(), QStringList());
        QCOMPARE(focusedControl(), QStringLiteral("Text13"));

        // Three places: 300 twips each. Enter in the list with nothing selected empties the box.
        focusAndType(QStringLiteral("Text2"), QStringLiteral("t"));
        auto* places = get<browse::TypeAheadList>(QStringLiteral("lstLugar"));
        QCOMPARE(entries(QStringLiteral("lstLugar")),
                 (QStringList{QStringLiteral("Temuco"), QStringLiteral("Talca"),
                              QStringLiteral("Tomé")}));
        QCOMPARE(places->height(), w_->twips(900));
        places->setFocus();
        places->clearSelection();
        key(Qt::Key_Return);
        QCOMPARE(w_->fieldText(store::Lugar), QString());
        QVERIFY(!places->isVisible());
        QCOMPARE(focusedControl(), QStringLiteral("Text4"));
    }

    void listsHideOnFocusAndOutsideEntryMode() {
        startWith(registry());
        click(QStringLiteral("cmdAgregar"));
        auto* list = get<browse::TypeAheadList>(QStringLiteral("lstPropietario"));
        // Focus moving to another field, by mouse, to a date picker or to an option: hidden.
        for (const char* next : {"Text4", "DTPicker1", "Option1", "cmbRaza"}) {
            focusAndType(QStringLiteral("Text12"), QStringLiteral("j"));
            QVERIFY(list->isVisible());
            QWidget* target = get(QLatin1StringView(next));
            if (qobject_cast<QLineEdit*>(target))
                QTest::mouseClick(target, Qt::LeftButton);
            else
                target->setFocus(Qt::TabFocusReason);
            QCOMPARE(focusedControl(), QLatin1StringView(next));
            QVERIFY2(!list->isVisible(), next);
            get<QLineEdit>(QStringLiteral("Text12"))->clear();
        }
        // The number and flat boxes leave an open list alone.
        focusAndType(QStringLiteral("Text12"), QStringLiteral("j"));
        get(QStringLiteral("Text6"))->setFocus(Qt::MouseFocusReason);
        QVERIFY(list->isVisible());

        // A cancel keeps the entry flag set, yet loading other cards into the fields in browse
        // mode shows no list, and the disabled boxes take no typing.
        click(QStringLiteral("cmdSalir"));
        QVERIFY(w_->enEdicion());
        QCOMPARE(visibleLists(), QStringList());
        w_->setGridCurrentRow(4);
        QCOMPARE(visibleLists(), QStringList());
        QTest::keyClicks(get(QStringLiteral("Text12")), QStringLiteral("j"));
        QCOMPARE(visibleLists(), QStringList());

        // Copying keeps the owner's data without offering lists for them until typed into.
        click(QStringLiteral("cmdCopiar"));
        QCOMPARE(w_->fieldText(store::Propietario), QStringLiteral("Juana Rojas"));
        QCOMPARE(visibleLists(), QStringList());
        get<QLineEdit>(QStringLiteral("Text12"))->setFocus(Qt::MouseFocusReason);
        key(Qt::Key_End);
        key(Qt::Key_Backspace);
        QCOMPARE(visibleLists(), QStringList{QStringLiteral("lstPropietario")});
    }

    void offersFollowCardsAddedAndDeleted() {
        startWith(registry());
        click(QStringLiteral("cmdAgregar"));
        w_->setFieldText(store::Codigo, QStringLiteral("152999999999999"));
        for (store::Field f :
             {store::Lugar, store::FichaClinica, store::NombreAnimal, store::Propietario,
              store::Rut, store::Implantador, store::Especie, store::Raza})
            w_->setFieldText(f, QStringLiteral("Ñandú Quiroga"));
        click(QStringLiteral("cmdAgregar"));
        QCOMPARE(messages_.texts().join(u'|'), QString());
        QCOMPARE(w_->gridRows(), 8);

        click(QStringLiteral("cmdAgregar"));
        focusAndType(QStringLiteral("Text12"), QStringLiteral("ñan"));
        QCOMPARE(entries(QStringLiteral("lstPropietario")),
                 QStringList{QStringLiteral("Ñandú Quiroga")});
        click(QStringLiteral("cmdSalir"));

        w_->setGridCurrentRow(7);
        messages_.queue(store::MessageLayer::Answer::Yes);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(w_->gridRows(), 7);
        click(QStringLiteral("cmdAgregar"));
        focusAndType(QStringLiteral("Text12"), QStringLiteral("ñan"));
        QCOMPARE(visibleLists(), QStringList());
    }

    void longListsStayInsideTheWindowAndScroll() {
        std::vector<store::Card> cards;
        for (int i = 0; i < 170; ++i) {
            store::Card c =
                makeCard(QStringLiteral("1520000001%1").arg(i, 5, 10, QLatin1Char('0')));
            c[store::Telefono2] = QStringLiteral("+56 9 %1").arg(i, 4, 10, QLatin1Char('0'));
            cards.push_back(c);
        }
        startWith(cards);
        click(QStringLiteral("cmdAgregar"));
        focusAndType(QStringLiteral("Text19"), QStringLiteral("+56"));
        auto* list = get<browse::TypeAheadList>(QStringLiteral("lstTelefono2"));
        QCOMPARE(list->count(), 170);
        QVERIFY(list->isVisible());
        QVERIFY(list->height() > w_->twips(1000));
        QVERIFY(list->geometry().bottom() < w_->height());
        QVERIFY(list->verticalScrollBar()->maximum() > 0);

        // Enter in the last box: the grid is off while entering, so the focus goes on to OK.
        key(Qt::Key_Return);
        QVERIFY(!list->isVisible());
        QCOMPARE(focusedControl(), QStringLiteral("cmdAgregar"));
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&OK"));

        // The narrow mobile list widens to whole values rather than cutting them, inside the
        // window's right edge, and over the fields it crosses.
        focusAndType(QStringLiteral("Text15"), QStringLiteral("cel-1520"));
        auto* cel = get<browse::TypeAheadList>(QStringLiteral("lstCel"));
        QCOMPARE(cel->count(), 170);
        const int widest = cel->fontMetrics().horizontalAdvance(cel->text(0));
        QVERIFY(cel->width() > w_->twips(1215));
        QVERIFY(cel->geometry().right() < w_->width());
        QVERIFY(!cel->horizontalScrollBar()->isVisible());
        QVERIFY(cel->rowRect(169).width() > widest);
        QVERIFY(cel->viewport()->width() > widest);
        QCOMPARE(w_->childAt(cel->geometry().center())->parentWidget(), cel);
    }

    // --- Enter as Tab ---------------------------------------------------------------------

    void keyboardAloneThroughTheWholeForm() {
        startWith(registry());
        click(QStringLiteral("cmdAgregar"));
        const QStringList expected = {QStringLiteral("Text3"),
                                      QStringLiteral("DTPicker1"),
                                      QStringLiteral("Text2"),
                                      QStringLiteral("Text4"),
                                      QStringLiteral("Text1"),
                                      QStringLiteral("Text5"),
                                      QStringLiteral("DTPicker2"),
                                      QStringLiteral("cmbEspecie"),
                                      QStringLiteral("cmbRaza"),
                                      QStringLiteral("Text9"),
                                      QStringLiteral("Option1"),
                                      QStringLiteral("Option2"),
                                      QStringLiteral("cmbEstadoReproductivo"),
                                      QStringLiteral("cmbTamano"),
                                      QStringLiteral("Text10"),
                                      QStringLiteral("Text12"),
                                      QStringLiteral("Text13"),
                                      QStringLiteral("Text14"),
                                      QStringLiteral("Text15"),
                                      QStringLiteral("Text16"),
                                      QStringLiteral("Text6"),
                                      QStringLiteral("Text7"),
                                      QStringLiteral("Text17"),
                                      QStringLiteral("Text18"),
                                      QStringLiteral("Text19")};
        // Enter, and Tab where a control keeps its own Enter; then the real Tab key all along.
        for (bool enter : {true, false}) {
            get(QStringLiteral("Text3"))->setFocus(Qt::MouseFocusReason);
            QStringList visited = {focusedControl()};
            while (visited.size() < expected.size()) {
                const QString at = visited.last();
                const bool own = at.startsWith(u"DTPicker") || at == u"Text6" || at == u"Text7";
                if (enter && own) {
                    // Their own Enter: the focus stays.
                    key(Qt::Key_Return);
                    QCOMPARE(focusedControl(), at);
                }
                key(enter && !own ? Qt::Key_Return : Qt::Key_Tab);
                visited.append(focusedControl());
            }
            QCOMPARE(visited, expected);
        }
        // Enter swallowed: nothing typed into the boxes, no option picked by it.
        QCOMPARE(w_->fieldText(store::Codigo), QString());
        QCOMPARE(w_->fieldText(store::Sexo), QStringLiteral("M"));
        QCOMPARE(messages_.texts(), QStringList());

        // Enter in the address with its list showing hides it and goes to the number; taking
        // the value from the list instead goes to the e-mail.
        focusAndType(QStringLiteral("Text16"), QStringLiteral("d"));
        auto* list = get<browse::TypeAheadList>(QStringLiteral("lstDomicilio"));
        QVERIFY(list->isVisible());
        key(Qt::Key_Return);
        QVERIFY(!list->isVisible());
        QCOMPARE(focusedControl(), QStringLiteral("Text6"));
        get<QLineEdit>(QStringLiteral("Text16"))->clear();
        focusAndType(QStringLiteral("Text16"), QStringLiteral("d"));
        key(Qt::Key_Down);
        key(Qt::Key_Return);
        QCOMPARE(focusedControl(), QStringLiteral("Text17"));

        // With the search open, Enter in the code goes to "Ok" and Enter there runs it; the
        // keypad's Enter, with which a chip code typed on the keypad ends, does the same.
        click(QStringLiteral("cmdSalir"));
        for (const Qt::KeyboardModifiers keys : {Qt::NoModifier, Qt::KeypadModifier}) {
            openSearch();
            typeHere(QStringLiteral("152000000000003"));
            const Qt::Key enterKey = keys ? Qt::Key_Enter : Qt::Key_Return;
            QTest::keyClick(QApplication::focusWidget(), enterKey, keys);
            QCOMPARE(focusedControl(), QStringLiteral("btnBuscarOK"));
            QTest::keyClick(QApplication::focusWidget(), enterKey, keys);
            QCOMPARE(w_->gridCurrentCode(), QStringLiteral("152000000000003"));
            QVERIFY(!get(QStringLiteral("btnBuscarOK"))->isVisible());
        }
    }
};

QTEST_MAIN(TestWindowFind)
#include "test_window_find.moc"
