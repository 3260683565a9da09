// Dates typed into the real date boxes of the whole main window, offscreen, and read back from
// the SQLite file by a connection of the test's own.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "DatePicker.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QToolButton>

using app::DatePicker;
using app::MainWindow;
using namespace store;

namespace {

const QString kCode = QStringLiteral("152000000000001");
const QString kKeptNote =
    QStringLiteral("\n\nLa tarjeta no se guardó; los datos ingresados siguen en pantalla.");

} // namespace

class TestWindowDates : public QObject {
    Q_OBJECT

    FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders;
    ScriptedMessages messages;
    std::unique_ptr<MainWindow> w;

    void start(const Card& card) {
        w.reset();
        folders = std::make_unique<AppFolders>();
        folders->copyRealMasterIni();
        folders->addCards({card});
        messages.clear();
        w = app::startUp(folders->folders, messages, clock);
        QVERIFY(w);
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QCOMPARE(messages.texts(), QStringList());
    }
    // The column of the only stored card, read straight from DAT.db.
    QString stored(Field f) const {
        QString value;
        const QString name = QStringLiteral("test-dates-reader");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(folders->folders.appFile(kDatabaseFileName));
            if (!db.open())
                qFatal("cannot open the store");
            QSqlQuery q(db);
            q.prepare(QStringLiteral("SELECT %1 FROM Clientes WHERE Codigo = ?")
                          .arg(cardField(f).name.toString()));
            q.addBindValue(kCode);
            if (!q.exec() || !q.next())
                qFatal("%s", qPrintable(q.lastError().text()));
            value = q.value(0).toString();
        }
        QSqlDatabase::removeDatabase(name);
        return value;
    }
    template <typename T = QWidget> T* child(const QString& name) const {
        T* c = w->findChild<T*>(name);
        if (!c)
            qFatal("no control %s", qPrintable(name));
        return c;
    }
    DatePicker* box(Field f) const { return child<DatePicker>(cardField(f).control.toString()); }
    void click(const QString& button) {
        auto* b = child<QPushButton>(button);
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    void clickText(QWidget* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }

private slots:
    // Every form typed key by key into the box, reached the four ways a receptionist reaches it:
    // straight after Editar (which focuses the attention date), by a click on its text, by Tab
    // and by Enter from the name before it. Each save stores exactly the date typed.
    void everyFormTypedIsStoredAsTyped() {
        start(makeCard(kCode));
        const struct {
            const char* typed;
            const char* stored;
        } forms[] = {
            {"15/03/2020", "15/03/2020"}, {"5/3/2019", "05/03/2019"},
            {"07/4/2018", "07/04/2018"},  {"8/09/2017", "08/09/2017"},
            {"16-03-2016", "16/03/2016"}, {"6-3-2015", "06/03/2015"},
            {"17.03.2014", "17/03/2014"}, {"8.3.2013", "08/03/2013"},
            {"18032012", "18/03/2012"},   {"19/03/11", "19/03/2011"},
            {"1/2/98", "01/02/1998"},     {"01/02/2003", "01/02/2003"},
        };
        enum class Way { AfterEditar, Click, Tab, Enter };
        for (const Way way : {Way::AfterEditar, Way::Click, Way::Tab, Way::Enter}) {
            const Field field = way == Way::AfterEditar ? FechaAtencion : FechaNacimiento;
            DatePicker* target = box(field);
            for (const auto& form : forms) {
                const QString typed = QString::fromLatin1(form.typed);
                const QString where = QStringLiteral("%1 typed, way %2").arg(typed).arg(int(way));
                click(QStringLiteral("cmdEditar"));
                auto* name = child<QLineEdit>(QStringLiteral("Text5"));
                switch (way) {
                case Way::AfterEditar:
                    break;
                case Way::Click:
                    clickText(target);
                    break;
                case Way::Tab:
                case Way::Enter:
                    clickText(name);
                    QTest::keyClick(name, way == Way::Tab ? Qt::Key_Tab : Qt::Key_Return);
                    break;
                }
                QVERIFY2(QApplication::focusWidget() == target, qPrintable(where));
                QTest::keyClicks(QApplication::focusWidget(), typed);
                QCOMPARE(target->text(), typed);
                click(QStringLiteral("cmdEditar"));
                QVERIFY2(messages.texts().isEmpty(), qPrintable(where));
                QVERIFY2(!w->enEdicion(), qPrintable(where));
                QVERIFY2(stored(field) == QLatin1StringView(form.stored),
                         qPrintable(where + QStringLiteral(" stored ") + stored(field)));
            }
        }
    }

    // A text that is no date is marked, and OK names the field, keeps the entry mode and every
    // typed value, and stores nothing until the date is mended.
    void okRefusesTextThatIsNoDate() {
        start(makeCard(kCode));
        click(QStringLiteral("cmdEditar"));
        DatePicker* birth = box(FechaNacimiento);
        auto* place = child<QLineEdit>(QStringLiteral("Text2"));
        clickText(place);
        QTest::keyClicks(place, QStringLiteral(" norte"));
        const QString typedPlace = place->text();

        clickText(birth);
        QTest::keyClicks(birth, QStringLiteral("31/0"));
        QVERIFY(!birth->isMarked()); // not while the date is being typed
        QTest::keyClick(birth, Qt::Key_A, Qt::ControlModifier);
        for (const char* bad : {"31/02/2020", "1/13/2020", "abc"}) {
            // After a refusal the box has the focus with its text selected: typing replaces it.
            QTest::keyClicks(birth, QString::fromLatin1(bad));
            messages.clear();
            click(QStringLiteral("cmdEditar"));
            QCOMPARE(
                messages.texts(),
                QStringList{
                    QStringLiteral("La fecha de nacimiento no es una fecha válida (dd/mm/aaaa).") +
                    kKeptNote});
            QVERIFY(w->enEdicion());
            QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
            QCOMPARE(QApplication::focusWidget(), birth);
            QVERIFY(birth->isMarked());
            QVERIFY(birth->property(DatePicker::kMarkProperty).toBool());
            QCOMPARE(birth->text(), QString::fromLatin1(bad));
            QCOMPARE(birth->selectedText(), birth->text());
            QCOMPARE(place->text(), typedPlace);
            QCOMPARE(stored(FechaNacimiento), QStringLiteral("17/11/2018"));
            QCOMPARE(stored(Lugar), makeCard(kCode)[Lugar]);
        }
        // The attention date is named as such.
        DatePicker* attention = box(FechaAtencion);
        clickText(attention);
        QTest::keyClicks(attention, QStringLiteral("5/3"));
        messages.clear();
        click(QStringLiteral("cmdEditar"));
        QVERIFY(messages.texts().value(0).startsWith(
            QStringLiteral("La fecha de atención no es una fecha válida")));
        QTest::keyClicks(attention, QStringLiteral("5/3/2021"));
        QVERIFY(!attention->isMarked());

        // Mended, the mark goes as soon as the text is a date, and OK saves.
        clickText(birth);
        QTest::keyClicks(birth, QStringLiteral("28/02/2020"));
        QVERIFY(!birth->isMarked());
        messages.clear();
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(messages.texts(), QStringList());
        QVERIFY(!w->enEdicion());
        QCOMPARE(stored(FechaNacimiento), QStringLiteral("28/02/2020"));
        QCOMPARE(stored(FechaAtencion), QStringLiteral("05/03/2021"));
        QCOMPARE(stored(Lugar), typedPlace);
    }

    // Alt+Down and F4 open the calendar, Enter there picks a day and Escape closes it; Up and
    // Down step the day of a box just entered, and the part under the cursor once typed into.
    void keyboardOpensTheCalendarAndStepsTheDate() {
        Card card = makeCard(kCode);
        card[FechaNacimiento] = QStringLiteral("desconocida");
        start(card);
        click(QStringLiteral("cmdEditar"));
        DatePicker* attention = box(FechaAtencion); // 05/03/2020, focused by Editar
        QCOMPARE(QApplication::focusWidget(), attention);

        QTest::keyClick(attention, Qt::Key_Down, Qt::AltModifier);
        QVERIFY(attention->calendarVisible());
        QCOMPARE(attention->text(), QStringLiteral("05/03/2020"));
        QCOMPARE(attention->calendar()->selectedDate(), QDate(2020, 3, 5));
        QWidget* inCalendar = QApplication::focusWidget();
        QVERIFY(attention->calendar()->isAncestorOf(inCalendar));
        QTest::keyClick(inCalendar, Qt::Key_Right);
        QTest::keyClick(inCalendar, Qt::Key_Return);
        QVERIFY(!attention->calendarVisible());
        QCOMPARE(attention->text(), QStringLiteral("06/03/2020"));

        QTest::keyClick(attention, Qt::Key_F4);
        QVERIFY(attention->calendarVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QVERIFY(!attention->calendarVisible());
        QCOMPARE(attention->text(), QStringLiteral("06/03/2020"));
        auto* button = attention->findChild<QToolButton*>();
        QTest::mouseClick(button, Qt::LeftButton, {}, button->rect().center());
        QVERIFY(attention->calendarVisible());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);

        attention->setFocus(Qt::TabFocusReason);
        QTest::keyClick(attention, Qt::Key_Up);
        QCOMPARE(attention->text(), QStringLiteral("07/03/2020"));
        QTest::keyClick(attention, Qt::Key_Down);
        QTest::keyClick(attention, Qt::Key_Down);
        QCOMPARE(attention->text(), QStringLiteral("05/03/2020"));
        attention->setCursorPosition(4); // in the month
        QTest::keyClick(attention, Qt::Key_Up);
        QCOMPARE(attention->text(), QStringLiteral("05/04/2020"));

        // A stored text that is no date shows "no date"; the arrows start from today, and a box
        // emptied again gives the stored text back.
        DatePicker* birth = box(FechaNacimiento);
        QVERIFY(birth->showsNoDate());
        QCOMPARE(birth->text(), QString());
        clickText(birth);
        QTest::keyClick(birth, Qt::Key_Down);
        QCOMPARE(birth->text(), QStringLiteral("15/06/2024"));
        QTest::keyClick(birth, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(birth, Qt::Key_Backspace);
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(stored(FechaAtencion), QStringLiteral("05/04/2020"));
        QCOMPARE(stored(FechaNacimiento), QStringLiteral("desconocida"));
    }
};

QTEST_MAIN(TestWindowDates)
#include "test_window_dates.moc"
