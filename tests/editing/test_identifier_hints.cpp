#include "IdentifierHints.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPalette>
#include <QTest>
#include <QVBoxLayout>
#include <QWidget>

#include <memory>

using editing::IdentifierHints;

// Two boxes named and limited like the window's code and R.U.T. fields, with an entry flag.
struct Form {
    QWidget window;
    QLineEdit* code = new QLineEdit(&window);
    QLineEdit* rut = new QLineEdit(&window);
    bool entering = true;

    Form() {
        code->setObjectName(QStringLiteral("Text3"));
        code->setMaxLength(15);
        rut->setObjectName(QStringLiteral("Text13"));
        rut->setMaxLength(15);
        auto* layout = new QVBoxLayout(&window);
        layout->addWidget(code);
        layout->addWidget(rut);
    }
    std::unique_ptr<IdentifierHints> attach() {
        return std::make_unique<IdentifierHints>(code, rut, [this] { return entering; });
    }
    void show() {
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

static bool hasWarningIcon(const QLineEdit* box) {
    return !box->actions().isEmpty();
}

static bool hasRedFrame(const QLineEdit* box) {
    const auto* frame = box->findChild<QWidget*>(QLatin1StringView(IdentifierHints::kFrameName));
    return frame && frame->isVisible() && frame->geometry() == box->rect();
}

static void type(QLineEdit* box, const QString& text) {
    box->setFocus();
    QTest::keyClicks(box, text);
}

static void erase(QLineEdit* box) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
}

class TestIdentifierHints : public QObject {
    Q_OBJECT
private slots:
    void rutMarkFollowsTyping() {
        Form form;
        form.rut->setToolTip(QStringLiteral("propio"));
        form.show();
        auto hints = form.attach();

        type(form.rut, QStringLiteral("12.345.678-4"));
        QVERIFY(IdentifierHints::isMarked(form.rut));
        QVERIFY(hasWarningIcon(form.rut));
        QCOMPARE(form.rut->toolTip(),
                 QStringLiteral("R.U.T. no válido\nEl dígito verificador debería ser 5"));
        QCOMPARE(form.rut->actions().first()->toolTip(), form.rut->toolTip());
        QVERIFY(hasRedFrame(form.rut));

        QTest::keyClick(form.rut, Qt::Key_Backspace);
        type(form.rut, QStringLiteral("5"));
        QVERIFY(!IdentifierHints::isMarked(form.rut));
        QVERIFY(!hasWarningIcon(form.rut));
        QVERIFY(!hasRedFrame(form.rut));
        QCOMPARE(form.rut->toolTip(), QStringLiteral("R.U.T. válido"));
        // A hint never rewrites what was typed, and never opens a box.
        QCOMPARE(form.rut->text(), QStringLiteral("12.345.678-5"));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);

        type(form.rut, QStringLiteral("x"));
        QVERIFY(IdentifierHints::isMarked(form.rut));
        erase(form.rut);
        QVERIFY(!IdentifierHints::isMarked(form.rut));
        QVERIFY(!hasWarningIcon(form.rut));
        QCOMPARE(form.rut->toolTip(), QStringLiteral("propio"));
        QVERIFY(!IdentifierHints::isMarked(form.code));
    }

    void codeShowsItsKind() {
        Form form;
        form.show();
        auto hints = form.attach();

        type(form.code, QStringLiteral("15209810012345"));
        QVERIFY(IdentifierHints::isMarked(form.code));
        QVERIFY(form.code->toolTip().contains(QStringLiteral("formato no reconocido")));
        type(form.code, QStringLiteral("6"));
        QVERIFY(!IdentifierHints::isMarked(form.code));
        QVERIFY(!hasWarningIcon(form.code));
        QCOMPARE(form.code->toolTip(),
                 QStringLiteral("Código ISO 11784 de 15 dígitos, país: Chile (152)"));

        erase(form.code);
        type(form.code, QStringLiteral("123456789012345"));
        QVERIFY(IdentifierHints::isMarked(form.code));
        QVERIFY(form.code->toolTip().contains(QStringLiteral("código de país desconocido")));

        erase(form.code);
        type(form.code, QStringLiteral("0a1b2c3d4e"));
        QVERIFY(!IdentifierHints::isMarked(form.code));
        QVERIFY(form.code->toolTip().contains(QStringLiteral("125 kHz")));
        QCOMPARE(form.code->text(), QStringLiteral("0a1b2c3d4e"));
        QVERIFY(!IdentifierHints::isMarked(form.rut));
        QVERIFY(form.rut->toolTip().isEmpty());
    }

    // Loading a card in browse mode shows nothing; entering it (the fields enabled in the same
    // handler that sets the flag, in either order) checks what is already in the boxes, and
    // leaving it clears the marks.
    void followsTheEntryFlag() {
        Form form;
        form.entering = false;
        form.code->setEnabled(false);
        form.rut->setEnabled(false);
        form.show();
        auto hints = form.attach();

        form.rut->setText(QStringLiteral("12.345.678-4"));
        form.code->setText(QStringLiteral("12345"));
        QVERIFY(!IdentifierHints::isMarked(form.rut));
        QVERIFY(!IdentifierHints::isMarked(form.code));
        QVERIFY(form.rut->toolTip().isEmpty());

        form.code->setEnabled(true);
        form.rut->setEnabled(true);
        form.entering = true;
        QTRY_VERIFY(IdentifierHints::isMarked(form.rut));
        QVERIFY(IdentifierHints::isMarked(form.code));

        form.entering = false;
        form.code->setEnabled(false);
        form.rut->setEnabled(false);
        QTRY_VERIFY(!IdentifierHints::isMarked(form.rut));
        QVERIFY(!IdentifierHints::isMarked(form.code));
        QVERIFY(form.code->toolTip().isEmpty());

        // The flag may also change with the boxes left as they are: refresh() re-checks.
        form.entering = true;
        hints->refresh();
        QVERIFY(IdentifierHints::isMarked(form.rut));
    }

    // The window gives its disabled fields a readable text colour through its palette; a box
    // that was marked once must still inherit it.
    void unmarkedBoxInheritsTheWindowPaletteAgain() {
        Form form;
        QPalette pal = form.window.palette();
        const QColor readable(0x55, 0x55, 0x55);
        pal.setColor(QPalette::Disabled, QPalette::Text, readable);
        form.window.setPalette(pal);
        form.show();
        auto hints = form.attach();

        type(form.rut, QStringLiteral("1-1"));
        QVERIFY(IdentifierHints::isMarked(form.rut));
        erase(form.rut);
        type(form.rut, QStringLiteral("1-9"));
        QVERIFY(!IdentifierHints::isMarked(form.rut));
        form.entering = false;
        form.rut->setEnabled(false);
        QTRY_VERIFY(form.rut->toolTip().isEmpty());
        QCOMPARE(form.rut->palette().color(QPalette::Disabled, QPalette::Text), readable);

        // A colour the window sets later reaches the box too.
        const QColor darker(0x33, 0x33, 0x33);
        pal.setColor(QPalette::Disabled, QPalette::Text, darker);
        form.window.setPalette(pal);
        QCOMPARE(form.rut->palette().color(QPalette::Disabled, QPalette::Text), darker);
    }

    // The mark leaves the box's own look alone: its style sheet, and the font and palette it
    // inherits from the window (the readable text of a disabled box in browse mode).
    void keepsTheBoxOwnLook() {
        Form form;
        QFont font(QStringLiteral("Arial"));
        font.setPointSize(8);
        form.window.setFont(font);
        QPalette palette = form.window.palette();
        palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x55, 0x55, 0x55));
        form.window.setPalette(palette);
        const QString own = QStringLiteral("QLineEdit { color: blue; }");
        form.code->setStyleSheet(own);
        form.rut->setToolTip(QStringLiteral("propio"));
        form.show();
        auto hints = form.attach();

        type(form.rut, QStringLiteral("1-1"));
        type(form.code, QStringLiteral("12345"));
        QVERIFY(IdentifierHints::isMarked(form.rut));
        QVERIFY(IdentifierHints::isMarked(form.code));
        form.rut->resize(form.rut->width() + 20, form.rut->height());
        QVERIFY(hasRedFrame(form.rut));
        QCOMPARE(form.code->styleSheet(), own);
        form.entering = false;
        form.rut->setEnabled(false);
        QTRY_VERIFY(!IdentifierHints::isMarked(form.rut));
        QCOMPARE(form.rut->font(), font);
        QCOMPARE(form.rut->palette().color(QPalette::Disabled, QPalette::Text),
                 QColor(0x55, 0x55, 0x55));
        QCOMPARE(form.rut->toolTip(), QStringLiteral("propio"));

        hints.reset();
        QVERIFY(!IdentifierHints::isMarked(form.code));
        QVERIFY(!hasWarningIcon(form.code));
        QVERIFY(!hasRedFrame(form.code));
        QCOMPARE(form.code->styleSheet(), own);
        QCOMPARE(form.rut->text(), QStringLiteral("1-1"));
    }
};

QTEST_MAIN(TestIdentifierHints)
#include "test_identifier_hints.moc"
