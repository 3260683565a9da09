// A USB chip reader in the whole main window, offscreen: its fast bursts jump to the card or offer
// to add one, while the same keys typed by hand keep doing what they did.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "ChipScanner.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>

using app::MainWindow;
using Answer = store::MessageLayer::Answer;

namespace {

const QStringList kCodes{QStringLiteral("152000000000001"), QStringLiteral("900111222333444"),
                         QStringLiteral("985000000000007"), QStringLiteral("ABC123")};

} // namespace

class TestWindowScanner : public QObject {
    Q_OBJECT

    store::FixedClock clock_{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    std::unique_ptr<AppFolders> folders_;
    ScriptedMessages messages_;
    std::unique_ptr<MainWindow> w_;
    qint64 now_ = 1000; // the reader's clock, in milliseconds

    void start() {
        folders_ = std::make_unique<AppFolders>();
        folders_->copyRealMasterIni();
        std::vector<store::Card> cards;
        for (const QString& code : kCodes)
            cards.push_back(makeCard(code));
        folders_->addCards(cards);
        messages_.clear();
        w_ = app::startUp(folders_->folders, messages_, clock_);
        QVERIFY(w_);
        w_->show();
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        auto* scanner = w_->findChild<browse::ChipScanner*>();
        QVERIFY(scanner);
        scanner->setClock([this] { return now_; });
        QCOMPARE(messages_.texts(), QStringList());
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
    QWidget* focused() const {
        QWidget* f = QApplication::focusWidget();
        return f ? f : w_.get();
    }
    QString label27() const { return get<QLabel>(QStringLiteral("Label27"))->text(); }

    // Keys `gapMs` apart on the reader's clock, as QTest sends them (no timestamp), then Enter.
    void typeTimed(const QString& keys, qint64 gapMs, bool enter = true) {
        for (QChar c : keys) {
            now_ += gapMs;
            QTest::keyClick(focused(), c.toLatin1());
        }
        if (enter) {
            now_ += gapMs;
            QTest::keyClick(focused(), Qt::Key_Return);
        }
    }
    // The same as a real keyboard sends them: with the window system's timestamps, and to the
    // window, which hands them to the widget with the focus.
    void typeStamped(const QString& keys, quint64 gapMs) {
        quint64 at = 5000000;
        const auto send = [&](int key, const QString& text) {
            for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
                QKeyEvent event(type, key, Qt::NoModifier, text);
                event.setTimestamp(at);
                QApplication::sendEvent(w_->windowHandle(), &event);
            }
            at += gapMs;
        };
        for (QChar c : keys)
            send(c.isDigit() ? Qt::Key_0 + c.digitValue()
                             : Qt::Key_A + (c.toUpper().unicode() - 'A'),
                 QString(c));
        send(Qt::Key_Return, QStringLiteral("\r"));
    }
    store::Card stored(const QString& code) const {
        store::RowId id = store::kNoRow;
        store::Card card;
        if (!w_->cardStore()->findCode(code, &id) || id == store::kNoRow ||
            !w_->cardStore()->readCard(id, &card))
            qWarning("card %s not read", qPrintable(code));
        return card;
    }

private slots:
    void cleanup() {
        w_.reset();
        folders_.reset();
    }

    void storedCodeShowsTheCardToEdit() {
        start();
        w_->setGridCurrentRow(3);
        w_->grid()->setFocus(Qt::MouseFocusReason);
        typeTimed(kCodes[1], 4);

        // As "Buscar", the code and "Ok": the card alone in the grid, shown, the search closed.
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridRows(), 2);
        QCOMPARE(w_->gridCurrentRow(), 1);
        QCOMPARE(w_->gridCurrentCode(), kCodes[1]);
        QCOMPARE(w_->fieldText(store::Propietario), stored(kCodes[1])[store::Propietario]);
        QCOMPARE(label27(), QStringLiteral("1 de 1 Mascotas registradas"));
        QVERIFY(!get(QStringLiteral("btnBuscarFin"))->isVisible());
        QVERIFY(!w_->fieldEnabled(store::Codigo));
        QVERIFY(w_->buttonEnabled(QStringLiteral("cmdBuscar")));
        QCOMPARE(focused(), w_->grid()); // ready for the next scan

        click(QStringLiteral("cmdEditar"));
        auto* owner = get<QLineEdit>(QStringLiteral("Text12"));
        owner->setFocus();
        owner->selectAll();
        QTest::keyClicks(owner, QStringLiteral("Nueva Duena"));
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(stored(kCodes[1])[store::Propietario], QStringLiteral("Nueva Duena"));
        QCOMPARE(stored(kCodes[2])[store::Propietario], makeCard(kCodes[2])[store::Propietario]);
    }

    void unknownCodeOffersToAddIt() {
        start();
        w_->setGridCurrentRow(2);
        // On a button, Enter would click it: the reader's Enter must not.
        auto* remove = get<QPushButton>(QStringLiteral("cmdEliminar"));
        remove->setFocus(Qt::TabFocusReason);
        const QString code = QStringLiteral("968000001234567");

        messages_.queue(Answer::No);
        typeStamped(code, 3);
        QCOMPARE(messages_.texts(),
                 QStringList{QStringLiteral("Agregar una tarjeta con este código?")});
        QCOMPARE(messages_.boxes[0].kind, ScriptedMessages::Kind::YesNo);
        QCOMPARE(w_->gridRows(), 5);
        QCOMPARE(w_->gridCurrentRow(), 2);
        QCOMPARE(w_->fieldText(store::Codigo), kCodes[1]);
        QCOMPARE(label27(), QStringLiteral("2 de 4 Mascotas registradas"));
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&Agregar"));
        QCOMPARE(focused(), remove);

        messages_.clear();
        messages_.queue(Answer::Yes);
        typeTimed(code, 7);
        QCOMPARE(messages_.texts(),
                 QStringList{QStringLiteral("Agregar una tarjeta con este código?")});
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&OK"));
        QCOMPARE(w_->fieldText(store::Codigo), code);
        QCOMPARE(focused(), get(QStringLiteral("Text3")));
        QCOMPARE(messages_.unanswered, 0);
    }

    void keysTypedByHandKeepTheirMeaning() {
        start();
        w_->setGridCurrentRow(1);
        w_->grid()->setFocus(Qt::MouseFocusReason);

        // A whole code at human speed: the grid's keyboard search finds its row, Enter edits.
        typeTimed(kCodes[2], 120);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridRows(), 5);
        QCOMPARE(w_->gridCurrentCode(), kCodes[2]);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        click(QStringLiteral("cmdSalir"));

        // Fast but too short for a code: nothing scanned, Enter edits the row the keys found.
        QTest::qWait(QApplication::keyboardInputInterval() + 50); // a fresh keyboard search
        w_->grid()->setFocus(Qt::MouseFocusReason);
        typeTimed(kCodes[3], 4);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridCurrentCode(), kCodes[3]);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        click(QStringLiteral("cmdSalir"));

        // The start of a burst is held back, then goes to the grid when no more keys come.
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
        w_->setGridCurrentRow(1);
        w_->grid()->setFocus(Qt::MouseFocusReason);
        typeTimed(QStringLiteral("90011"), 4, false);
        QCOMPARE(w_->gridCurrentRow(), 1);
        QTRY_COMPARE(w_->gridCurrentCode(), kCodes[1]);
        QCOMPARE(messages_.texts(), QStringList());
    }
};

QTEST_MAIN(TestWindowScanner)
#include "test_window_scanner.moc"
