// The R.U.T. and microchip hints in the real main window, while cards are added, copied and
// browsed.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "IdentifierHints.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QAction>
#include <QLineEdit>
#include <QTest>

using app::MainWindow;
using editing::IdentifierHints;

namespace {

bool marked(const QLineEdit* box) {
    return IdentifierHints::isMarked(box) && !box->actions().isEmpty();
}

bool unmarked(const QLineEdit* box) {
    return !IdentifierHints::isMarked(box) && box->actions().isEmpty();
}

void typeInto(QLineEdit* box, const QString& text) {
    box->setFocus();
    QTest::keyClicks(box, text);
}

} // namespace

class TestWindowHints : public QObject {
    Q_OBJECT

    store::FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};

private slots:
    void rutAndChipHintsWhileACardIsEntered() {
        AppFolders f;
        f.copyRealMasterIni();
        // The stored card's R.U.T. is no valid one: browsing it shows no mark.
        f.addCards({makeCard(QStringLiteral("152000000000001"))});
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QLineEdit* rut = w->textBox(store::Rut);
        QLineEdit* code = w->textBox(store::Codigo);
        QCOMPARE(rut->objectName(), QStringLiteral("Text13"));
        QCOMPARE(rut->text(), QStringLiteral("rut-152000000000001"));
        QVERIFY(unmarked(rut) && unmarked(code));
        const QString browseToolTip = rut->toolTip();

        // A new card: empty boxes, no mark.
        w->runCommand(QStringLiteral("cmdAgregar"));
        QVERIFY(w->enEdicion());
        QTRY_VERIFY(unmarked(rut));
        QVERIFY(unmarked(code));

        typeInto(code, QStringLiteral("1520000"));
        QVERIFY(marked(code));
        QVERIFY2(code->toolTip().contains(QStringLiteral("7 dígitos")),
                 qPrintable(code->toolTip()));
        typeInto(code, QStringLiteral("00000777"));
        QVERIFY(unmarked(code));
        QCOMPARE(code->toolTip(),
                 QStringLiteral("Código ISO 11784 de 15 dígitos, país: Chile (152)"));

        typeInto(rut, QStringLiteral("12.345.678-9"));
        QVERIFY(marked(rut));
        QCOMPARE(rut->toolTip(),
                 QStringLiteral("R.U.T. no válido\nEl dígito verificador debería ser 5"));
        QCOMPARE(rut->actions().constFirst()->toolTip(), rut->toolTip());
        QTest::keyClick(rut, Qt::Key_Backspace);
        QVERIFY(marked(rut)); // "12.345.678-": the hyphen is ignored, 8 is no verifier of 1234567
        typeInto(rut, QStringLiteral("5"));
        QVERIFY(unmarked(rut));
        QCOMPARE(rut->toolTip(), QStringLiteral("R.U.T. válido"));
        QTest::keyClick(rut, Qt::Key_Backspace);
        typeInto(rut, QStringLiteral("9"));
        QVERIFY(marked(rut));

        // The save stores what was typed, exactly, and asks nothing about it.
        for (store::Field field : {store::Lugar, store::FichaClinica, store::Implantador,
                                   store::NombreAnimal, store::Especie, store::Raza})
            w->setFieldText(field, QStringLiteral("x"));
        w->runCommand(QStringLiteral("cmdAgregar"));
        QCOMPARE(messages.texts(), QStringList());
        QVERIFY(!w->enEdicion());
        store::RowId id = store::kNoRow;
        store::Card saved;
        QVERIFY(w->cardStore()->findCode(QStringLiteral("152000000000777"), &id));
        QVERIFY(id != store::kNoRow);
        QVERIFY(w->cardStore()->readCard(id, &saved));
        QCOMPARE(saved[store::Rut], QStringLiteral("12.345.678-9"));

        // Back in browse mode on the saved card: its wrong R.U.T. is shown without a mark, and
        // the box's own tool-tip is back.
        QCOMPARE(rut->text(), QStringLiteral("12.345.678-9"));
        QTRY_VERIFY(unmarked(rut));
        QCOMPARE(rut->toolTip(), browseToolTip);

        // A copy keeps the owner's R.U.T.: marked as soon as entry starts, without typing. The
        // cancel returns to browse mode with the entry flag still set, and the mark goes.
        w->runCommand(QStringLiteral("cmdCopiar"));
        QVERIFY(w->enEdicion());
        QTRY_VERIFY(marked(rut));
        typeInto(code, QStringLiteral("12345"));
        QVERIFY(marked(code));
        w->runCommand(QStringLiteral("cmdSalir"));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdSalir")), QStringLiteral("&Salir"));
        QVERIFY(w->enEdicion());
        QTRY_VERIFY(unmarked(rut));
        QVERIFY(unmarked(code));
        QCOMPARE(rut->toolTip(), browseToolTip);
        // Both boxes were marked: they show browse mode's readable disabled text again.
        for (const QLineEdit* box : {rut, code})
            QCOMPARE(box->palette().color(QPalette::Disabled, QPalette::Text),
                     w->palette().color(QPalette::Disabled, QPalette::Text));

        // Browsing another card, and the search's code box, stay unmarked too.
        QTest::keyClick(w->grid(), Qt::Key_Up);
        QCOMPARE(rut->text(), QStringLiteral("rut-152000000000001"));
        QVERIFY(unmarked(rut));
        w->runCommand(QStringLiteral("cmdBuscar"));
        QVERIFY(code->isEnabled());
        typeInto(code, QStringLiteral("12345"));
        QTest::qWait(20);
        QVERIFY(unmarked(code));
        w->runCommand(QStringLiteral("btnBuscarFin"));
        QCOMPARE(messages.texts(), QStringList());
    }
};

QTEST_MAIN(TestWindowHints)
#include "test_window_hints.moc"
