// Adding, copying, editing and deleting cards through the whole main window, offscreen: real
// buttons clicked, real widgets typed into, the SQLite file read back through a connection of
// the test's own.
#include "AppFixture.h"
#include "ScriptedMessages.h"
#include "TypeAheadList.h"

#include "CardGrid.h"
#include "DatePicker.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "Startup.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>

using app::MainWindow;
using namespace store;
using Answer = MessageLayer::Answer;

namespace {

const QString kToday = QStringLiteral("15/06/2024");
const QString kDuplicate = QStringLiteral("Codigo Repetido\r\nReintente...");

const QStringList kCommandButtons = {QStringLiteral("cmdListado"),  QStringLiteral("cmdImprimir"),
                                     QStringLiteral("Command1"),    QStringLiteral("cmdExcel"),
                                     QStringLiteral("cmdBuscar"),   QStringLiteral("cmdAgregar"),
                                     QStringLiteral("cmdEditar"),   QStringLiteral("cmdCopiar"),
                                     QStringLiteral("cmdEliminar"), QStringLiteral("cmdSalir")};

// What a copy keeps of the card it starts from; every other field with a control is emptied
// (the dates go to today).
const QList<Field> kKeptOnCopy = {Lugar,     Sexo,     GrupoFam,  Propietario, Rut,
                                  Telefono1, Cel,      Direccion, NumeroDepto, BlockDepto,
                                  Email,     Contacto, Telefono2, Implantador};

// A card with values longer than the boxes let anyone type, which every load and save must keep
// whole.
Card longCard(const QString& code) {
    Card c = makeCard(code, QStringLiteral("H"));
    c[Lugar] = QStringLiteral("Clínica Veterinaria del Parque, sucursal Providencia, box 3");
    c[Propietario] = QStringLiteral("María José de las Mercedes Fuenzalida Errázuriz-Larraín");
    c[Direccion] = QStringLiteral("Avenida Libertador Bernardo O'Higgins ");
    c[DireccionCompleta] = composeAddress(c[Direccion], c[NumeroDepto], c[BlockDepto]);
    return c;
}

// Every stored card, in stored order, read by a connection of the test's own.
std::vector<Card> storedCards(const store::Registry& registry) {
    std::vector<Card> cards;
    Status status;
    auto reader = CardStore::open(registry, &status);
    if (!reader)
        qFatal("cannot open %s", qPrintable(status.message()));
    status = reader->forEachCard(Order::Stored, [&](RowId, const Card& card) {
        cards.push_back(card);
        return true;
    });
    if (!status)
        qFatal("%s", qPrintable(status.message()));
    return cards;
}

// A second program holding the write lock of the store until released.
class WriteLock {
public:
    explicit WriteLock(const store::Registry& registry) {
        Status status;
        other_ = CardStore::open(registry, &status);
        QVERIFY2(other_, qPrintable(status.message()));
        QSqlQuery q(other_->database());
        QVERIFY2(test_registry::holdWriteLock(q), qPrintable(q.lastError().text()));
    }
    ~WriteLock() {
        if (other_)
            QSqlQuery(other_->database()).exec(QStringLiteral("ROLLBACK"));
    }

private:
    std::unique_ptr<CardStore> other_;
};

// QTest::keyClicks handles Latin-1 letters only as ASCII: accented letters go as key events
// carrying their text, as a keyboard layout sends them.
void typeKeys(QWidget* target, const QString& text) {
    for (const QChar ch : text) {
        if (ch.unicode() < 0x80)
            QTest::keyClick(target, char(ch.unicode()));
        else
            QTest::sendKeyEvent(QTest::Click, target, Qt::Key_unknown, QString(ch), Qt::NoModifier);
    }
}

} // namespace

class TestWindowEditing : public QObject {
    Q_OBJECT

    FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders;
    ScriptedMessages messages;
    std::unique_ptr<MainWindow> w;

    // The window over these cards, shown and active so that focus and shortcuts work.
    void start(const std::vector<Card>& cards, bool codeOrder = false) {
        folders = std::make_unique<AppFolders>();
        folders->copyRealMasterIni();
        folders->addCards(cards);
        messages.clear();
        app::StartupHooks hooks;
        hooks.webIntake = [codeOrder](MainWindow&) {
            return codeOrder;
        };
        w = app::startUp(folders->folders, messages, clock, std::move(hooks));
        QVERIFY(w);
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QCOMPARE(messages.texts(), QStringList());
    }
    std::vector<Card> stored() const { return storedCards(folders->registry()); }
    template <typename T = QWidget> T* child(const QString& name) const {
        T* c = w->findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    QWidget* control(Field f) const { return child(cardField(f).control.toString()); }
    void click(const QString& button) {
        auto* b = child<QPushButton>(button);
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    // Types into the control as a user would: focus it, then the keys.
    void type(Field f, const QString& text) {
        QWidget* target = control(f);
        if (auto* combo = qobject_cast<QComboBox*>(target))
            target = combo->lineEdit();
        target->setFocus(Qt::MouseFocusReason);
        typeKeys(target, text);
    }
    // Empties the control with the keyboard (select all, then delete).
    void erase(Field f) {
        QWidget* target = control(f);
        if (auto* combo = qobject_cast<QComboBox*>(target))
            target = combo->lineEdit();
        target->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(target, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(target, Qt::Key_Backspace);
    }
    QString focusName() const {
        QWidget* f = QApplication::focusWidget();
        while (f && f->parentWidget() && f->objectName().isEmpty())
            f = f->parentWidget(); // the line edit inside a combo or date picker
        return f ? f->objectName() : QString();
    }
    QStringList enabledButtons() const {
        QStringList names;
        for (const QString& b : kCommandButtons)
            if (w->buttonEnabled(b))
                names.append(b);
        return names;
    }
    // The 24 grid cells of a row, joined as the grid row text would be.
    QString gridRow(int row) const {
        QStringList cells;
        for (int c = 1; c <= kGridFieldCount; ++c)
            cells.append(w->grid()->cellText(row, c));
        return cells.join(u'\t');
    }
    static QString rowText(const Card& c) {
        QStringList cells;
        for (int i = 0; i < kGridFieldCount; ++i)
            cells.append(c[Field(i)]);
        return cells.join(u'\t');
    }
    QList<QString> formValues() const {
        QList<QString> values;
        for (const CardField& f : cardFields())
            if (f.kind != ControlKind::None)
                values.append(w->fieldText(f.field));
        return values;
    }
    void verifyBrowseMode() {
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&Agregar"));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdCopiar")), QStringLiteral("&Copiar"));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdSalir")), QStringLiteral("&Salir"));
        for (const CardField& f : cardFields())
            if (f.kind != ControlKind::None)
                QVERIFY2(!w->fieldEnabled(f.field), qPrintable(f.control.toString()));
        QVERIFY(!child<QRadioButton>(QStringLiteral("Option2"))->isEnabled());
    }
    // Entry mode as the first click of `own` leaves it.
    void verifyEntryMode(const QString& own) {
        QCOMPARE(w->buttonCaption(own), QStringLiteral("&OK"));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdSalir")), QStringLiteral("&Cancela"));
        QCOMPARE(enabledButtons(), QStringList({own, QStringLiteral("cmdSalir")}));
        QVERIFY(!w->gridEnabled());
        QVERIFY(w->enEdicion());
        for (const CardField& f : cardFields())
            if (f.kind != ControlKind::None)
                QCOMPARE(w->fieldEnabled(f.field), !(own == u"cmdEditar" && f.field == Codigo));
        QVERIFY(child<QRadioButton>(QStringLiteral("Option2"))->isEnabled());
    }
    // Fills the required fields of a new card by typing.
    void typeRequired(const QString& code) {
        type(Codigo, code);
        type(Lugar, QStringLiteral("Hospital Veterinario"));
        type(FichaClinica, QStringLiteral("F-77"));
        type(Implantador, QStringLiteral("Dra. Soto"));
        type(NombreAnimal, QStringLiteral("Firulais"));
        type(Especie, QStringLiteral("Canino"));
        type(Raza, QStringLiteral("Quiltro"));
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void cleanup() {
        if (w)
            QCOMPARE(messages.unanswered, 0);
        w.reset();
        folders.reset();
    }

    void addRefusesEmptyFieldsThenStoresTypedCard() {
        // Rows in code order: the new card still goes last.
        start({makeCard(QStringLiteral("300000000000003")),
               makeCard(QStringLiteral("100000000000001"), QStringLiteral("H"))},
              true);
        QCOMPARE(w->grid()->cellText(1, 1), QStringLiteral("100000000000001"));

        click(QStringLiteral("cmdAgregar"));
        verifyEntryMode(QStringLiteral("cmdAgregar"));
        QCOMPARE(focusName(), QStringLiteral("Text3"));
        for (const CardField& f : cardFields()) {
            if (f.kind == ControlKind::Text || f.kind == ControlKind::Combo)
                QCOMPARE(w->fieldText(f.field), QString());
        }
        for (const char* picker : {"DTPicker1", "DTPicker2"}) {
            auto* p = child<app::DatePicker>(QLatin1StringView(picker));
            QCOMPARE(p->date(), clock.today());
            QVERIFY(!p->showsNoDate());
        }
        QVERIFY(child<QRadioButton>(QStringLiteral("Option1"))->isChecked());
        QVERIFY(!child<QRadioButton>(QStringLiteral("Option2"))->isChecked());
        // The combos keep their lists of choices.
        QVERIFY(w->comboBox(Especie)->count() > 0);

        // Each click on "&OK" reports the first empty required field and focuses it.
        const struct {
            Field field;
            const char* message;
            const char* typed;
        } steps[] = {
            {Codigo, "Ingrese Codigo Microchip", " "}, // one blank is a code
            {Lugar, "Ingrese Lugar", "Hospital Veterinario"},
            {FichaClinica, "Ingrese Nro Ficha", "F-77"},
            {Implantador, "Ingrese Implantador", "Dra. Soto"},
            {NombreAnimal, "Ingrese Nombre Animnal", "Firulais"},
            {Especie, "Ingrese Especie", "Felino"},
            {Raza, "Ingrese Raza", "Siamés"},
        };
        for (const auto& s : steps) {
            messages.clear();
            click(QStringLiteral("cmdAgregar"));
            QCOMPARE(messages.texts(), QStringList{QString::fromUtf8(s.message)});
            QCOMPARE(messages.boxes[0].kind, ScriptedMessages::Kind::Notice);
            QCOMPARE(focusName(), cardField(s.field).control.toString());
            QCOMPARE(w->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&OK"));
            type(s.field, QString::fromUtf8(s.typed));
        }
        QCOMPARE(stored().size(), size_t(2));

        // The rest of the card, typed; "Hembra" picked with the mouse.
        type(Direccion, QStringLiteral("Los Aromos 12 ")); // trailing blank, no number or block
        type(Propietario, QStringLiteral("Zacarías Pérez"));
        type(Rut, QStringLiteral("12.345.678-5")); // doubtful until its last digit
        type(Color, QStringLiteral("Atigrado"));
        type(Tamano, QStringLiteral("Mediano"));
        auto* option2 = child<QRadioButton>(QStringLiteral("Option2"));
        QTest::mouseClick(option2, Qt::LeftButton, {}, QPoint(4, option2->height() / 2));
        QVERIFY(option2->isChecked());
        QVERIFY(!child<QRadioButton>(QStringLiteral("Option1"))->isChecked());
        auto* birth = child<app::DatePicker>(QStringLiteral("DTPicker2"));
        birth->setFocus(Qt::MouseFocusReason);
        birth->setCursorPosition(8); // in the year
        QTest::keyClick(birth, Qt::Key_Down);
        QCOMPARE(w->fieldText(FechaNacimiento), QStringLiteral("15/06/2023"));

        messages.clear();
        click(QStringLiteral("cmdAgregar"));
        QCOMPARE(messages.texts(), QStringList());
        verifyBrowseMode();
        QVERIFY(!w->enEdicion());
        QVERIFY(w->gridEnabled());
        QCOMPARE(enabledButtons().size(), 10);

        const std::vector<Card> cards = stored();
        QCOMPARE(cards.size(), size_t(3));
        const Card& c = cards.back();
        QCOMPARE(c[Codigo], QStringLiteral(" "));
        QCOMPARE(c[FechaAtencion], kToday);
        QCOMPARE(c[FechaNacimiento], QStringLiteral("15/06/2023"));
        QCOMPARE(c[Lugar], QStringLiteral("Hospital Veterinario"));
        QCOMPARE(c[Especie], QStringLiteral("Felino"));
        QCOMPARE(c[Raza], QStringLiteral("Siamés"));
        QCOMPARE(c[Tamano], QStringLiteral("Mediano"));
        QCOMPARE(c[EReproductivo], QString(QLatin1StringView("")));
        QCOMPARE(c[Sexo], QStringLiteral("H"));
        QCOMPARE(c[Direccion], QStringLiteral("Los Aromos 12 "));
        QCOMPARE(c[DireccionCompleta], QStringLiteral("Los Aromos 12  "));
        QVERIFY(!c[Email].isNull()); // an empty box stores empty text, not Null
        QCOMPARE(c[Email], QString(QLatin1StringView("")));

        // The new card is the last grid row, current, and shown in the fields.
        QCOMPARE(w->gridRows(), 4);
        QCOMPARE(w->gridCurrentRow(), 3);
        QCOMPARE(gridRow(3), rowText(c));
        QCOMPARE(w->fieldText(Propietario), QStringLiteral("Zacarías Pérez"));
        QCOMPARE(w->fieldText(Sexo), QStringLiteral("H"));
        // The hints shown while typing leave the boxes as readable as the others.
        for (Field f : {Codigo, Rut})
            QCOMPARE(control(f)->palette().color(QPalette::Disabled, QPalette::Text),
                     w->palette().color(QPalette::Disabled, QPalette::Text));
        QCOMPARE(control(Rut)->font(), w->font());
        QCOMPARE(control(Codigo)->font().family(), QStringLiteral("Arial Narrow"));
        QCOMPARE(control(Codigo)->font().pointSize(), 12);

        // The type-ahead index has the new owner: the next add offers it.
        click(QStringLiteral("cmdAgregar"));
        type(Propietario, QStringLiteral("zac"));
        auto* list = child<browse::TypeAheadList>(QStringLiteral("lstPropietario"));
        QVERIFY(list->isVisible());
        QCOMPARE(list->count(), 1);
        QCOMPARE(list->text(0), QStringLiteral("Zacarías Pérez"));
        click(QStringLiteral("cmdSalir"));
        QVERIFY(!list->isVisible());
        QCOMPARE(stored().size(), size_t(3));
    }

    void cancelRestoresEveryFieldFromTheTable() {
        const Card card = longCard(QStringLiteral("98765432109876543210"));
        start({makeCard(QStringLiteral("152000000000001")), card});
        QTest::keyClick(w->grid(), Qt::Key_Down);
        const QList<QString> shown = formValues();
        QCOMPARE(w->fieldText(Lugar), card[Lugar]); // shown whole despite the entry limit

        for (const QString& command : {QStringLiteral("cmdAgregar"), QStringLiteral("cmdEditar")}) {
            click(command);
            type(Lugar, QStringLiteral("xx"));
            type(Propietario, QStringLiteral("yy"));
            type(Raza, QStringLiteral("zz"));
            child<QRadioButton>(QStringLiteral("Option1"))->click();
            child<app::DatePicker>(QStringLiteral("DTPicker1"))->setDate(QDate(2001, 1, 1));
            click(QStringLiteral("cmdSalir"));
            verifyBrowseMode();
            QCOMPARE(formValues(), shown);
            QCOMPARE(w->gridCurrentRow(), 2);
        }
        QCOMPARE(stored()[1], card);
        QCOMPARE(messages.texts(), QStringList());

        // Saving an edit finds the card by its whole 20-character code and keeps the long
        // values it did not touch.
        click(QStringLiteral("cmdEditar"));
        erase(Color);
        type(Color, QStringLiteral("Gris"));
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(messages.texts(), QStringList());
        Card expected = card;
        expected[Color] = QStringLiteral("Gris");
        QCOMPARE(stored()[1], expected);
        QCOMPARE(gridRow(2), rowText(expected));
    }

    void copyKeepsExactlyTheOwnerFields() {
        const Card source = longCard(QStringLiteral("152000000000001")); // sex "H"
        start({source, makeCard(QStringLiteral("152000000000002"))});

        click(QStringLiteral("cmdCopiar"));
        verifyEntryMode(QStringLiteral("cmdCopiar"));
        QCOMPARE(focusName(), QStringLiteral("Text3"));
        for (const CardField& f : cardFields()) {
            if (f.kind == ControlKind::None)
                continue;
            if (f.kind == ControlKind::Date)
                QCOMPARE(w->fieldText(f.field), kToday);
            else if (kKeptOnCopy.contains(f.field))
                QCOMPARE(w->fieldText(f.field), source[f.field]);
            else
                QCOMPARE(w->fieldText(f.field), QString());
        }
        QVERIFY(child<QRadioButton>(QStringLiteral("Option2"))->isChecked());
        QVERIFY(!child<QRadioButton>(QStringLiteral("Option1"))->isChecked());

        // The copied card's own code is refused, selected and focused; nothing is added.
        type(Codigo, source[Codigo]);
        type(FichaClinica, QStringLiteral("F-2"));
        type(NombreAnimal, QStringLiteral("Michi"));
        type(Especie, QStringLiteral("Felino"));
        type(Raza, QStringLiteral("Persa"));
        click(QStringLiteral("cmdCopiar"));
        QCOMPARE(messages.texts(), QStringList{kDuplicate});
        QCOMPARE(focusName(), QStringLiteral("Text3"));
        QCOMPARE(child<QLineEdit>(QStringLiteral("Text3"))->selectedText(), source[Codigo]);
        QCOMPARE(stored().size(), size_t(2));
        QCOMPARE(w->gridRows(), 3);
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdCopiar")), QStringLiteral("&OK"));

        // Typing over the selection gives the new code; the second animal is stored.
        QTest::keyClicks(child(QStringLiteral("Text3")), QStringLiteral("152000000000003"));
        messages.clear();
        click(QStringLiteral("cmdCopiar"));
        QCOMPARE(messages.texts(), QStringList());
        verifyBrowseMode();
        const std::vector<Card> cards = stored();
        QCOMPARE(cards.size(), size_t(3));
        const Card& copy = cards.back();
        QCOMPARE(copy[Codigo], QStringLiteral("152000000000003"));
        for (Field f : kKeptOnCopy)
            QCOMPARE(copy[f], source[f]); // the long values whole
        QCOMPARE(copy[DireccionCompleta], source[DireccionCompleta]);
        QCOMPARE(copy[NombreAnimal], QStringLiteral("Michi"));
        QCOMPARE(copy[Color], QString(QLatin1StringView("")));
        QCOMPARE(copy[FechaNacimiento], kToday);
        QCOMPARE(w->gridCurrentRow(), 3);
        QCOMPARE(gridRow(3), rowText(copy));
    }

    void editFromTheGridRewritesTheRowInPlace() {
        Card noBirth = makeCard(QStringLiteral("152000000000002"));
        noBirth[FechaNacimiento] = QStringLiteral(""); // as a web card may bring it
        start({makeCard(QStringLiteral("152000000000001")), noBirth,
               makeCard(QStringLiteral("152000000000003"))});
        w->grid()->setFocus();
        QTest::keyClick(w->grid(), Qt::Key_Down);
        QVERIFY(child<app::DatePicker>(QStringLiteral("DTPicker2"))->showsNoDate());
        const QList<QString> before = formValues();

        // Enter on the grid starts the edit: nothing changes but the locks.
        QTest::keyClick(w->grid(), Qt::Key_Return);
        verifyEntryMode(QStringLiteral("cmdEditar"));
        QCOMPARE(focusName(), QStringLiteral("DTPicker1"));
        QCOMPARE(formValues(), before);

        erase(NombreAnimal);
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Ingrese Nombre Animal")});
        QCOMPARE(focusName(), QStringLiteral("Text5"));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));

        type(NombreAnimal, QStringLiteral("Cachupín"));
        erase(Direccion);
        type(Direccion, QStringLiteral("  Pasaje Uno "));
        erase(Propietario);
        type(Propietario, QStringLiteral("Ximena Ureta"));
        // The sex pair by the keyboard, as a radio group: each arrow chooses the option it moves
        // to (the card had "M"), and Enter goes on with the choice the ring shows.
        child<QRadioButton>(QStringLiteral("Option1"))->setFocus(Qt::TabFocusReason);
        const struct {
            Qt::Key key;
            const char* focus;
            const char16_t* sex;
        } arrows[] = {{Qt::Key_Right, "Option2", u"H"},
                      {Qt::Key_Left, "Option1", u"M"},
                      {Qt::Key_Down, "Option2", u"H"},
                      {Qt::Key_Up, "Option1", u"M"},
                      {Qt::Key_Right, "Option2", u"H"}};
        for (const auto& a : arrows) {
            QTest::keyClick(QApplication::focusWidget(), a.key);
            QCOMPARE(focusName(), QLatin1StringView(a.focus));
            QCOMPARE(w->fieldText(Sexo), QString::fromUtf16(a.sex));
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QVERIFY(!w->fieldHasFocus(Sexo));
        QCOMPARE(w->fieldText(Sexo), QStringLiteral("H"));
        messages.clear();
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(messages.texts(), QStringList());
        verifyBrowseMode();
        QVERIFY(!w->enEdicion());

        const std::vector<Card> cards = stored();
        QCOMPARE(cards.size(), size_t(3));
        const Card& c = cards[1];
        QCOMPARE(c[Codigo], noBirth[Codigo]);
        QCOMPARE(c[NombreAnimal], QStringLiteral("Cachupín"));
        QCOMPARE(c[FechaNacimiento], QString(QLatin1StringView(""))); // not today's date
        QCOMPARE(c[FechaAtencion], noBirth[FechaAtencion]);
        QCOMPARE(c[Sexo], QStringLiteral("H"));
        QCOMPARE(c[DireccionCompleta], QStringLiteral("Pasaje Uno numero_depto-152000000000002 "
                                                      "block_depto-152000000000002"));
        QCOMPARE(c[Lugar], noBirth[Lugar]);
        QCOMPARE(cards[0], makeCard(QStringLiteral("152000000000001")));

        QCOMPARE(w->gridRows(), 4);
        QCOMPARE(w->gridCurrentRow(), 2);
        QCOMPARE(gridRow(2), rowText(c));
        QCOMPARE(w->grid()->cellText(3, 1), QStringLiteral("152000000000003"));

        // The index follows the edit: the new owner is offered, the old one no longer.
        click(QStringLiteral("cmdAgregar"));
        type(Propietario, QStringLiteral("xim"));
        auto* list = child<browse::TypeAheadList>(QStringLiteral("lstPropietario"));
        QVERIFY(list->isVisible());
        QCOMPARE(list->text(0), QStringLiteral("Ximena Ureta"));
        erase(Propietario);
        type(Propietario, QStringLiteral("propietario-152000000000002"));
        QVERIFY(!list->isVisible());
        click(QStringLiteral("cmdSalir"));
    }

    void deleteMiddleOnlyAndRefusals() {
        start({makeCard(QStringLiteral("152000000000001")),
               makeCard(QStringLiteral("152000000000002")),
               makeCard(QStringLiteral("152000000000003"))});
        QTest::keyClick(w->grid(), Qt::Key_Down);

        // No: nothing deleted.
        messages.queue(Answer::No);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(messages.boxes[0].kind, ScriptedMessages::Kind::YesNo);
        QCOMPARE(messages.boxes[0].text, QStringLiteral("Seguro Elimina?"));
        QCOMPARE(messages.boxes[0].title, QStringLiteral("Elimina Registro ?"));
        QCOMPARE(messages.boxes[0].defaultAnswer, Answer::Yes);
        QCOMPARE(stored().size(), size_t(3));
        QCOMPARE(w->gridRows(), 4);
        QCOMPARE(w->gridCurrentRow(), 2);

        // Yes on the middle card: a neighbour becomes current and is shown.
        messages.clear();
        messages.queue(Answer::Yes);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(messages.texts(), QStringList{QStringLiteral("Seguro Elimina?")});
        std::vector<Card> cards = stored();
        QCOMPARE(cards.size(), size_t(2));
        QCOMPARE(cards[0][Codigo], QStringLiteral("152000000000001"));
        QCOMPARE(cards[1][Codigo], QStringLiteral("152000000000003"));
        QCOMPARE(w->gridRows(), 3);
        QVERIFY(w->gridCurrentRow() >= 1);
        QCOMPARE(w->fieldText(Codigo), w->gridCurrentCode());
        QCOMPARE(w->fieldText(Propietario), QStringLiteral("propietario-") + w->gridCurrentCode());
        verifyBrowseMode();

        // A card another program deleted meanwhile: not found, the grid keeps its row.
        w->setGridCurrentRow(1);
        QVERIFY(w->cardStore()->removeCard(1));
        messages.clear();
        messages.queue(Answer::Yes);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(messages.texts(), QStringList({QStringLiteral("Seguro Elimina?"),
                                                QStringLiteral(" ! Item No Encontrado !")}));
        QCOMPARE(w->gridRows(), 3);

        // A locked file: told so, the card and its row stay.
        w->setGridCurrentRow(2);
        {
            WriteLock lock(folders->registry());
            messages.clear();
            messages.queue(Answer::Yes);
            click(QStringLiteral("cmdEliminar"));
            QCOMPARE(messages.boxes.size(), size_t(2));
            QVERIFY(!messages.boxes[1].text.isEmpty());
        }
        QCOMPARE(stored().size(), size_t(1));
        QCOMPARE(w->gridRows(), 3);
        QVERIFY(w->isEnabled());

        // The only card: the grid keeps its header only, few buttons stay.
        start({makeCard(QStringLiteral("152000000000001"))});
        messages.queue(Answer::Yes);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(stored().size(), size_t(0));
        QCOMPARE(w->gridRows(), 1);
        QCOMPARE(enabledButtons(),
                 QStringList({QStringLiteral("cmdExcel"), QStringLiteral("cmdAgregar"),
                              QStringLiteral("cmdSalir")}));
        QVERIFY(!w->gridEnabled());
    }

    // The keyboard alone: Alt accelerators, Enter moving on like Tab, Tab out of a date picker,
    // Space on an option; each command button reachable by a letter of its own.
    void keyboardAlone() {
        start({makeCard(QStringLiteral("152000000000001"))});
        int prints = 0;
        w->setCommandHandler(QStringLiteral("cmdImprimir"), [&] { ++prints; });
        const auto key = [](Qt::Key k, Qt::KeyboardModifiers m = Qt::NoModifier) {
            QWidget* focus = QApplication::focusWidget();
            QVERIFY(focus && focus->isEnabled());
            QTest::keyClick(focus, k, m);
            if (m & Qt::AltModifier)
                QTest::qWait(250); // an accelerator clicks its button after a short press
        };
        const auto typeHere = [](const QString& text) {
            typeKeys(QApplication::focusWidget(), text);
        };

        key(Qt::Key_A, Qt::AltModifier);
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&OK"));
        QCOMPARE(focusName(), QStringLiteral("Text3"));
        typeHere(QStringLiteral("152000000000002"));
        key(Qt::Key_Return);
        QCOMPARE(focusName(), QStringLiteral("DTPicker1"));
        key(Qt::Key_Tab);
        QCOMPARE(focusName(), QStringLiteral("Text2"));
        for (const char* value : {"Clinica Sur", "F-9", "Dr. Vera", "Rex"}) {
            typeHere(QString::fromLatin1(value));
            key(Qt::Key_Return);
        }
        QCOMPARE(focusName(), QStringLiteral("DTPicker2"));
        key(Qt::Key_Tab);
        typeHere(QStringLiteral("Canino"));
        key(Qt::Key_Return);
        typeHere(QStringLiteral("Quiltro"));
        key(Qt::Key_Return);
        key(Qt::Key_Return); // past the colour
        QCOMPARE(focusName(), QStringLiteral("Option1"));
        key(Qt::Key_Tab);
        key(Qt::Key_Space);
        QCOMPARE(w->fieldText(Sexo), QStringLiteral("H"));
        key(Qt::Key_O, Qt::AltModifier);
        QCOMPARE(messages.texts(), QStringList());
        verifyBrowseMode();
        QCOMPARE(focusName(), QStringLiteral("VSFlexGrid1")); // the keyboard goes on there
        const Card saved = stored().back();
        QCOMPARE(saved[Codigo], QStringLiteral("152000000000002"));
        QCOMPARE(saved[Implantador], QStringLiteral("Dr. Vera"));
        QCOMPARE(saved[NombreAnimal], QStringLiteral("Rex"));
        QCOMPARE(saved[Raza], QStringLiteral("Quiltro"));
        QCOMPARE(saved[Sexo], QStringLiteral("H"));

        // Edit, then "&Cancela"; copy, then "&Cancela" (the disabled "&Copiar" does not
        // compete for Alt+C).
        key(Qt::Key_E, Qt::AltModifier);
        QCOMPARE(focusName(), QStringLiteral("DTPicker1"));
        key(Qt::Key_C, Qt::AltModifier);
        verifyBrowseMode();
        QCOMPARE(focusName(), QStringLiteral("VSFlexGrid1"));
        key(Qt::Key_C, Qt::AltModifier);
        verifyEntryMode(QStringLiteral("cmdCopiar"));
        key(Qt::Key_C, Qt::AltModifier);
        verifyBrowseMode();
        QCOMPARE(stored().size(), size_t(2));

        // Alt+I belongs to both "&Imprimir Tarjeta" and "El&iminar": it moves the focus between
        // the two and neither prints nor asks to delete.
        key(Qt::Key_I, Qt::AltModifier);
        const QString first = focusName();
        QVERIFY(first == QStringLiteral("cmdImprimir") || first == QStringLiteral("cmdEliminar"));
        key(Qt::Key_I, Qt::AltModifier);
        QVERIFY(focusName() != first);
        QCOMPARE(prints, 0);
        QCOMPARE(messages.texts(), QStringList());
    }

    // The real message boxes over the real window: what the user sees and where the focus goes
    // once the box is closed.
    void messageBoxesAsShown() {
        folders = std::make_unique<AppFolders>();
        folders->copyRealMasterIni();
        folders->addCards({makeCard(QStringLiteral("152000000000001"))});
        app::MessageBoxes boxes;
        w = app::startUp(folders->folders, boxes, clock);
        QVERIFY(w);
        boxes.setParent(w.get());
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));

        struct Seen {
            QString text, title;
            QMessageBox::Icon icon = QMessageBox::Warning;
            QMessageBox::StandardButtons buttons;
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
        };
        // Clicks the button of the next box shown, noting what the box showed.
        const auto answerNext = [](QTimer& poll, Seen& seen, QMessageBox::StandardButton press) {
            QObject::connect(&poll, &QTimer::timeout, [&poll, &seen, press] {
                auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
                if (!box)
                    return;
                poll.stop();
                seen = {box->text(), box->windowTitle(), box->icon(), box->standardButtons(),
                        box->defaultButton() ? box->standardButton(box->defaultButton())
                                             : QMessageBox::NoButton};
                if (QAbstractButton* b = box->button(press))
                    b->click();
                else
                    box->reject();
            });
            poll.start(10);
        };

        QTimer poll;
        Seen question;
        answerNext(poll, question, QMessageBox::No);
        click(QStringLiteral("cmdEliminar"));
        QCOMPARE(question.text, QStringLiteral("Seguro Elimina?"));
        QCOMPARE(question.title, QStringLiteral("Elimina Registro ?"));
        QCOMPARE(question.icon, QMessageBox::NoIcon);
        QCOMPARE(question.buttons, QMessageBox::Yes | QMessageBox::No);
        QCOMPARE(question.defaultButton, QMessageBox::Yes);
        QCOMPARE(stored().size(), size_t(1));

        click(QStringLiteral("cmdAgregar"));
        QTimer poll2;
        Seen refusal;
        answerNext(poll2, refusal, QMessageBox::Ok);
        click(QStringLiteral("cmdAgregar"));
        QCOMPARE(refusal.text, QStringLiteral("Ingrese Codigo Microchip"));
        QCOMPARE(refusal.title, kDefaultTitle);
        QCOMPARE(refusal.icon, QMessageBox::NoIcon);
        QCOMPARE(refusal.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
        // The window's focus, which it has again once active (offscreen, it is not reactivated).
        QCOMPARE(w->focusWidget(), control(Codigo));
        click(QStringLiteral("cmdSalir"));
        w.reset(); // before the boxes it shows through
    }

    // A search, ended by a card found or by "x", then Editar and Eliminar: each acts on the card
    // the fields show, whatever the code box held during the search, and no other card changes.
    void editAndDeleteAfterASearchActOnTheShownCard() {
        const QString a = QStringLiteral("152000000000003"), b = QStringLiteral("152000000000002");
        const struct {
            const char* path;
            QString typed; // into the code box after "Buscar"
            bool ok;       // "Ok" clicked before "x"
            QString shown; // the card on screen afterwards
        } paths[] = {
            {"found", b, true, b},
            {"not found, then x", QStringLiteral("999"), true, a},
            {"x at once", QString(), false, a},
            {"x after typing another card's code", b, false, a},
        };
        for (const auto& p : paths) {
            const std::vector<Card> cards = {makeCard(QStringLiteral("152000000000001")),
                                             makeCard(b), makeCard(a)};
            w.reset();
            start(cards);
            w->setGridCurrentRow(3); // card a
            click(QStringLiteral("cmdBuscar"));
            type(Codigo, p.typed);
            if (p.ok)
                click(QStringLiteral("btnBuscarOK"));
            if (!p.ok || p.shown != p.typed)
                click(QStringLiteral("btnBuscarFin"));

            // One card on screen: the code box agrees with the other fields and the grid.
            QVERIFY2(w->gridRows() > 1, p.path);
            QCOMPARE(w->gridCurrentCode(), p.shown);
            QCOMPARE(w->fieldText(Codigo), p.shown);
            QCOMPARE(w->fieldText(Propietario), QStringLiteral("propietario-") + p.shown);
            QVERIFY2(w->buttonEnabled(QStringLiteral("cmdEditar")), p.path);
            const auto at =
                size_t(std::find_if(cards.begin(), cards.end(),
                                    [&](const Card& c) { return c[Codigo] == p.shown; }) -
                       cards.begin());

            click(QStringLiteral("cmdEditar"));
            erase(Color);
            type(Color, QStringLiteral("Editado"));
            click(QStringLiteral("cmdEditar"));
            std::vector<Card> expected = cards;
            expected[at][Color] = QStringLiteral("Editado");
            expected[at][DireccionCompleta] = composeAddress(
                expected[at][Direccion], expected[at][NumeroDepto], expected[at][BlockDepto]);
            QVERIFY2(stored() == expected, p.path);
            QCOMPARE(w->gridCurrentCode(), p.shown);
            QCOMPARE(gridRow(w->gridCurrentRow()), rowText(expected[at]));

            messages.queue(Answer::Yes);
            click(QStringLiteral("cmdEliminar"));
            expected.erase(expected.begin() + std::ptrdiff_t(at));
            QVERIFY2(stored() == expected, p.path);
            // The grid lists stored cards only, the deleted one no longer.
            for (int row = 1; row < w->gridRows(); ++row) {
                const QString code = w->grid()->cellText(row, 1);
                QVERIFY2(code != p.shown, p.path);
                QVERIFY2(std::any_of(expected.begin(), expected.end(),
                                     [&](const Card& c) { return c[Codigo] == code; }),
                         p.path);
            }
            // An empty grid leaves nothing to edit or delete.
            if (w->gridRows() < 2) {
                QVERIFY(!w->buttonEnabled(QStringLiteral("cmdEditar")));
                QVERIFY(!w->buttonEnabled(QStringLiteral("cmdEliminar")));
                QVERIFY(!w->buttonEnabled(QStringLiteral("cmdImprimir")));
            }
        }
    }

    // A card holding values no box lets anyone type (a tab, a line break, a bar, a long breed)
    // edited with pasted text and saved with the keypad's Enter; then a new card typed and the
    // window closed half-way.
    void oddValuesPastedTextAndClosingWhileTyping() {
        Card odd = makeCard(QStringLiteral("152000000000001"));
        odd[Email] = QStringLiteral("ana\t@correo.cl");
        odd[Contacto] = QStringLiteral("Luis | Rosa\nPérez");
        odd[Raza] = QStringLiteral("Retriever de pelo liso cruzado con ovejero alemán de trabajo");
        start({odd, makeCard(QStringLiteral("152000000000002"))});
        QLineEdit* breed = w->comboBox(Raza)->lineEdit();
        QCOMPARE(breed->cursorPosition(), 0); // its start shows, as in the text boxes

        click(QStringLiteral("cmdEditar"));
        erase(Color);
        QApplication::clipboard()->setText(QStringLiteral("Gris\tOscuro\r\n"));
        QTest::keyClick(control(Color), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->fieldText(Color), QStringLiteral("Gris Oscuro"));
        QApplication::clipboard()->setText(QStringLiteral("\t152000000000007\n"));
        click(QStringLiteral("cmdSalir"));
        click(QStringLiteral("cmdAgregar"));
        control(Codigo)->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(control(Codigo), Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(w->fieldText(Codigo), QStringLiteral("152000000000007"));
        click(QStringLiteral("cmdSalir"));

        click(QStringLiteral("cmdEditar"));
        erase(Color);
        QApplication::clipboard()->setText(QStringLiteral("Gris\tOscuro"));
        QTest::keyClick(control(Color), Qt::Key_V, Qt::ControlModifier);
        auto* ok = child<QPushButton>(QStringLiteral("cmdEditar"));
        ok->setFocus(Qt::TabFocusReason);
        QTest::keyClick(ok, Qt::Key_Enter, Qt::KeypadModifier);
        QCOMPARE(messages.texts(), QStringList());
        verifyBrowseMode();
        Card expected = odd;
        expected[Color] = QStringLiteral("Gris Oscuro");
        expected[DireccionCompleta] =
            composeAddress(odd[Direccion], odd[NumeroDepto], odd[BlockDepto]);
        QCOMPARE(stored()[0], expected);
        // The rewritten row: every value in its own column.
        for (int i = 0; i < kGridFieldCount; ++i)
            QCOMPARE(w->grid()->cellText(1, i + 1), expected[Field(i)]);
        QCOMPARE(breed->cursorPosition(), 0);

        // A new card: the emptied combos give their first item on the first Down.
        click(QStringLiteral("cmdAgregar"));
        for (Field f : {EReproductivo, Tamano}) {
            QComboBox* combo = w->comboBox(f);
            QVERIFY(combo->count() > 1);
            combo->lineEdit()->setFocus(Qt::MouseFocusReason);
            QTest::keyClick(combo->lineEdit(), Qt::Key_Down);
            QCOMPARE(combo->currentText(), combo->itemText(0));
        }
        // Closing the window now asks first; No keeps the window and every value typed.
        type(Codigo, QStringLiteral("152000000000009"));
        const QList<QString> typed = formValues();
        messages.clear();
        messages.queue(Answer::No);
        QVERIFY(!w->close());
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(messages.boxes[0].kind, ScriptedMessages::Kind::YesNo);
        QCOMPARE(messages.boxes[0].text, QStringLiteral("¿Descartar los datos ingresados?"));
        QCOMPARE(messages.boxes[0].defaultAnswer, Answer::No);
        QVERIFY(w->isVisible());
        verifyEntryMode(QStringLiteral("cmdAgregar"));
        QCOMPARE(formValues(), typed);
        messages.queue(Answer::Yes);
        QVERIFY(w->close());
        QCOMPARE(stored().size(), size_t(2));

        // In browse mode the window closes without a word.
        start({odd});
        QVERIFY(w->close());
        QCOMPARE(messages.texts(), QStringList());
    }

    void saveRefusedByLockedFileKeepsTypedValues() {
        start({makeCard(QStringLiteral("152000000000001"))});
        click(QStringLiteral("cmdAgregar"));
        typeRequired(QStringLiteral("152000000000009"));
        type(Propietario, QStringLiteral("Ana Rojas"));
        const QList<QString> typed = formValues();
        {
            WriteLock lock(folders->registry());
            click(QStringLiteral("cmdAgregar"));
            QCOMPARE(messages.boxes.size(), size_t(1));
            QVERIFY2(messages.boxes[0].text.contains(QStringLiteral("no se guardó")),
                     qPrintable(messages.boxes[0].text));
            verifyEntryMode(QStringLiteral("cmdAgregar"));
            QCOMPARE(formValues(), typed);
            QCOMPARE(w->gridRows(), 2);
        }
        QCOMPARE(stored().size(), size_t(1));

        // Once the other program lets go, the same click stores the card.
        messages.clear();
        click(QStringLiteral("cmdAgregar"));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(stored().size(), size_t(2));
        QCOMPARE(stored()[1][Propietario], QStringLiteral("Ana Rojas"));
        QCOMPARE(w->gridRows(), 3);

        // An edit refused the same way keeps its typed values too.
        click(QStringLiteral("cmdEditar"));
        erase(Color);
        type(Color, QStringLiteral("Negro"));
        const QList<QString> edited = formValues();
        {
            WriteLock lock(folders->registry());
            messages.clear();
            click(QStringLiteral("cmdEditar"));
            QCOMPARE(messages.boxes.size(), size_t(1));
            verifyEntryMode(QStringLiteral("cmdEditar"));
            QCOMPARE(formValues(), edited);
        }
        QCOMPARE(stored()[1][Color], QString(QLatin1StringView("")));
    }
};

QTEST_MAIN(TestWindowEditing)
#include "test_window_editing.moc"
