// A chip reader in the whole main window, offscreen: its scans, at any pace from a USB reader's to
// a slow Bluetooth one's, jump to the card or offer to add one, wherever the focus is, while the
// same keys typed by hand keep doing what they did.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "ChipScanner.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
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

    void start(const QByteArray& moreIni = {}) {
        folders_ = std::make_unique<AppFolders>();
        folders_->copyRealMasterIni();
        if (!moreIni.isEmpty()) {
            QFile ini(folders_->appIni());
            QVERIFY(ini.open(QIODevice::Append));
            ini.write(moreIni);
        }
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
    // A reader's scan: its first keys at their own gaps, the rest `gapMs` apart, then `end` (no
    // key when 0) at the same pace.
    void scan(const QString& keys, qint64 gapMs, const QList<int>& firstGaps = {},
              int end = Qt::Key_Return) {
        for (qsizetype i = 0; i < keys.size(); ++i) {
            now_ += i < firstGaps.size() ? firstGaps[i] : gapMs;
            QTest::keyClick(focused(), keys[i].toLatin1());
        }
        if (end) {
            now_ += gapMs;
            QTest::keyClick(focused(), Qt::Key(end));
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

        // A whole code at a person's pace: the grid's jump-to-row finds its row, Enter edits.
        for (QChar c : kCodes[2]) {
            now_ += 180 + (c.digitValue() % 4) * 70;
            QTest::keyClick(focused(), c.toLatin1());
        }
        now_ += 450;
        QTest::keyClick(focused(), Qt::Key_Return);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridRows(), 5);
        QCOMPARE(w_->gridCurrentCode(), kCodes[2]);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        click(QStringLiteral("cmdSalir"));

        // Fast but too short for a code: nothing scanned, the grid moved as the keys asked, and
        // the Enter that came as soon as a reader's goes nowhere.
        QTest::qWait(QApplication::keyboardInputInterval() + 50); // a fresh keyboard search
        w_->grid()->setFocus(Qt::MouseFocusReason);
        typeTimed(QStringLiteral("ABC12"), 4);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridCurrentCode(), kCodes[3]);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
        now_ += 400;
        QTest::keyClick(focused(), Qt::Key_Return);
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

    // One scan of a stored code, at a reader's pace, wherever the focus is: the card alone in
    // the grid and shown, nothing asked, never opened for editing, nothing typed anywhere.
    void readerScans_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<QList<int>>("firstGaps");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<int>("end");
        const int enter = Qt::Key_Return;
        for (int gap : {5, 30, 60, 90, 120})
            QTest::addRow("grid, %d ms", gap) << "grid" << gap << QList<int>() << "" << enter;
        QTest::newRow("grid, slow first keys")
            << "grid" << 8 << QList<int>{0, 90, 90, 90, 110} << "" << enter;
        QTest::newRow("grid, first keys cut off by a pause")
            << "grid" << 8 << QList<int>{0, 90, 90, 90, 600} << "" << enter;
        QTest::newRow("grid, prefix") << "grid" << 30 << QList<int>() << "%" << enter;
        QTest::newRow("grid, Tab") << "grid" << 90 << QList<int>() << "" << int(Qt::Key_Tab);
        QTest::newRow("button, 120 ms") << "cmdEliminar" << 120 << QList<int>() << "" << enter;
        for (int gap : {5, 60, 120})
            QTest::addRow("search box, %d ms", gap)
                << "search" << gap << QList<int>() << "" << enter;
        QTest::newRow("search box, Tab")
            << "search" << 30 << QList<int>() << "" << int(Qt::Key_Tab);
    }
    void readerScans() {
        QFETCH(QString, focus);
        QFETCH(int, gapMs);
        QFETCH(QList<int>, firstGaps);
        QFETCH(QString, prefix);
        QFETCH(int, end);
        start();
        auto* scanner = w_->findChild<browse::ChipScanner*>();
        browse::ReaderSettings settings;
        settings.prefix = prefix;
        scanner->setSettings(settings);
        w_->setGridCurrentRow(3);
        if (focus == u"grid") {
            w_->grid()->setFocus(Qt::MouseFocusReason);
        } else if (focus == u"search") {
            w_->grid()->setFocus(Qt::MouseFocusReason);
            w_->findChild<QAction*>(QStringLiteral("actBuscarPor"))->trigger();
            auto* bar = get<QLineEdit>(QStringLiteral("txtBuscarPor"));
            QCOMPARE(focused(), bar);
            for (QChar c : QStringLiteral("ABC")) {
                now_ += 260;
                QTest::keyClick(bar, c.toLatin1());
            }
            QTRY_COMPARE(w_->gridRows(), 2);
            now_ += 1000;
        } else {
            get(focus)->setFocus(Qt::TabFocusReason);
        }
        QWidget* const before = focused();

        scan(prefix + kCodes[1], gapMs, firstGaps, end);

        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridRows(), 2);
        QCOMPARE(w_->gridCurrentCode(), kCodes[1]);
        QCOMPARE(w_->fieldText(store::Codigo), kCodes[1]);
        QCOMPARE(label27(), QStringLiteral("1 de 1 Mascotas registradas"));
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
        QVERIFY(w_->buttonEnabled(QStringLiteral("cmdBuscar")));
        auto* bar = get<QLineEdit>(QStringLiteral("txtBuscarPor"));
        QVERIFY(!bar->isVisible());
        QCOMPARE(bar->text(), QString());
        if (focus != u"search")
            QCOMPARE(focused(), before); // ready for the next scan

        // The next scan, at once, finds the next card the same way.
        scan(prefix + kCodes[2], gapMs, {}, end);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridCurrentCode(), kCodes[2]);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
    }

    // A slow reader's keys reach the grid's jump-to-row before the run is known to be a scan:
    // for a code not stored the grid is back on its row when the question comes.
    void slowScanOfAnUnknownCodeLeavesTheGridOnItsRow() {
        start();
        w_->setGridCurrentRow(2);
        w_->grid()->setFocus(Qt::MouseFocusReason);
        messages_.queue(Answer::No);
        scan(QStringLiteral("985000000000099"), 90);
        QCOMPARE(messages_.texts(),
                 QStringList{QStringLiteral("Agregar una tarjeta con este código?")});
        QCOMPARE(w_->gridRows(), 5);
        QCOMPARE(w_->gridCurrentRow(), 2);
        QCOMPARE(w_->fieldText(store::Codigo), kCodes[1]);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
    }

    // A scan cut short is offered as the stored card it ends; a code of no identifier's shape is
    // never offered for a new card without saying so.
    void cutScansAreNotNewCards() {
        start();
        w_->setGridCurrentRow(3);
        w_->grid()->setFocus(Qt::MouseFocusReason);
        messages_.queue(Answer::Yes);
        scan(QStringLiteral("000000000001"), 8);
        QCOMPARE(messages_.texts().size(), 1);
        QVERIFY2(messages_.texts()[0].endsWith(QStringLiteral("¿Es la tarjeta 152000000000001?")),
                 qPrintable(messages_.texts()[0]));
        QCOMPARE(w_->gridRows(), 2);
        QCOMPARE(w_->gridCurrentCode(), kCodes[0]);

        messages_.clear();
        messages_.queue(Answer::No);
        scan(QStringLiteral("1234567890123"), 8);
        QCOMPARE(messages_.texts().size(), 1);
        QVERIFY2(messages_.texts()[0].contains(QStringLiteral("no tiene la forma de un "
                                                              "identificador")),
                 qPrintable(messages_.texts()[0]));
        QCOMPARE(messages_.boxes[0].kind, ScriptedMessages::Kind::YesNo);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&Agregar"));
        QCOMPARE(w_->cardStore()->recordCount(), qint64(kCodes.size()));
    }

    // While a card is edited, a scan types nothing into the field with the focus and saves
    // nothing: it is told, and the card stays as it was.
    void scanWhileEditing_data() {
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("end");
        for (int gap : {5, 60, 120})
            QTest::addRow("%d ms", gap) << gap << int(Qt::Key_Return);
        QTest::newRow("Tab") << 30 << int(Qt::Key_Tab);
    }
    void scanWhileEditing() {
        QFETCH(int, gapMs);
        QFETCH(int, end);
        start();
        w_->setGridCurrentRow(1);
        const store::Card was = stored(kCodes[0]);
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        auto* field = qobject_cast<QLineEdit*>(focused());
        QVERIFY(field);
        const QString text = field->text();
        now_ += 1000;

        scan(kCodes[2], gapMs, {}, end);
        QCOMPARE(messages_.texts().size(), 1);
        QVERIFY2(
            messages_.texts()[0].startsWith(QStringLiteral("Se leyó el microchip ") + kCodes[2]),
            qPrintable(messages_.texts()[0]));
        QCOMPARE(field->text(), text);
        QCOMPARE(focused(), field);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        click(QStringLiteral("cmdEditar"));
        QCOMPARE(messages_.texts().size(), 1);
        const store::Card saved = stored(kCodes[0]);
        for (const store::CardField& f : store::cardFields())
            QVERIFY2(!saved[f.field].contains(kCodes[2]), qPrintable(f.name.toString()));
        QCOMPARE(saved[store::FechaAtencion], was[store::FechaAtencion]);
        QCOMPARE(saved[store::Codigo], kCodes[0]);
    }

    // The reader's settings come from the configuration file, within their limits.
    void readerSettingsFromTheConfiguration() {
        start();
        auto* scanner = w_->findChild<browse::ChipScanner*>();
        QCOMPARE(scanner->settings().slowestKeyMs, 150);
        QCOMPARE(scanner->settings().prefix, QString());
        QCOMPARE(scanner->settings().suffix, QString());
        cleanup();
        start("\r\n[LECTOR]\r\nINTERVALO MAXIMO = 400\r\nPREFIJO=\"~\"\r\nSUFIJO=#\r\n");
        scanner = w_->findChild<browse::ChipScanner*>();
        QCOMPARE(scanner->settings().slowestKeyMs, 250);
        QCOMPARE(scanner->settings().prefix, QStringLiteral("~"));
        QCOMPARE(scanner->settings().suffix, QStringLiteral("#"));
        // A reader with that suffix and no Enter.
        w_->setGridCurrentRow(3);
        w_->grid()->setFocus(Qt::MouseFocusReason);
        scan(QStringLiteral("~") + kCodes[1] + u'#', 240, {}, 0);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridCurrentCode(), kCodes[1]);
        QCOMPARE(w_->gridRows(), 2);
        // One that also sends Enter after the suffix: the Enter edits nothing.
        scan(QStringLiteral("~") + kCodes[2] + u'#', 240);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridCurrentCode(), kCodes[2]);
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
    }

    // "Probar lector…" measures a scan and proposes the settings that recognise it.
    void readerTestProposesSettings() {
        start();
        auto* scanner = w_->findChild<browse::ChipScanner*>();
        QAction* probe = nullptr;
        for (QAction* a : w_->grid()->actions())
            if (a->objectName() == u"actProbarLector")
                probe = a;
        QVERIFY(probe);
        probe->trigger();
        QDialog* dialog = nullptr;
        QTRY_VERIFY((dialog = w_->findChild<QDialog*>(QStringLiteral("dlgProbarLector"))));
        auto* box = dialog->findChild<QLineEdit*>(QStringLiteral("txtLecturaPrueba"));
        QVERIFY(box);
        quint64 at = 7000000;
        const auto send = [&](int key, const QString& text, quint64 gap) {
            at += gap;
            QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier, text);
            event.setTimestamp(at);
            QApplication::sendEvent(box, &event);
        };
        send(Qt::Key_Percent, QStringLiteral("%"), 0);
        for (QChar c : kCodes[0])
            send(Qt::Key_0 + c.digitValue(), QString(c), c == u'5' ? 160 : 110);
        send(Qt::Key_Tab, QStringLiteral("\t"), 110);
        const QString lines =
            dialog->findChild<QPlainTextEdit*>(QStringLiteral("txtAjustesLector"))->toPlainText();
        QCOMPARE(lines, QStringLiteral("[LECTOR]\nINTERVALO MAXIMO=240\nPREFIJO=%\nSUFIJO=\n"));
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("btnUsarAjustes")),
                          Qt::LeftButton);
        QCOMPARE(scanner->settings().slowestKeyMs, 240);
        QCOMPARE(scanner->settings().prefix, QStringLiteral("%"));
        dialog->close();
        // The keys go to the window once it is active again, as the window system makes it
        // after the dialog closes (the store's waits may have let the dialog become active).
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));

        // Now a scan with that prefix, at that pace, is recognised.
        w_->setGridCurrentRow(3);
        w_->grid()->setFocus(Qt::MouseFocusReason);
        scan(QStringLiteral("%") + kCodes[1], 200);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->gridCurrentCode(), kCodes[1]);
        QCOMPARE(w_->gridRows(), 2);
    }
};

QTEST_MAIN(TestWindowScanner)
#include "test_window_scanner.moc"
