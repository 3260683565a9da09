// The window while another program or workstation holds the registry: OK on a typed card is
// refused in time with the typed values kept, and the window keeps painting meanwhile (a timer of
// the test measures how long the event loop stood still).
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "MainWindow.h"
#include "Startup.h"
#include "StoreThread.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTest>
#include <QThread>
#include <QTimer>

#ifndef Q_OS_WIN
#include <signal.h>
#endif

using app::MainWindow;
using namespace store;
using Answer = MessageLayer::Answer;

namespace {

// What the window did during one command: how long it took, the longest time the event loop
// did not turn, and whether the waiting notice was seen with the buttons off.
struct Watched {
    qint64 tookMs = 0;
    qint64 longestStallMs = 0;
    bool sawNotice = false;
    bool sawButtonsOff = false;
};

} // namespace

class TestWindowWait : public QObject {
    Q_OBJECT

    FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    AppFolders folders;
    ScriptedMessages messages;
    std::unique_ptr<MainWindow> w;
    const QString code = QStringLiteral("152000000000001");

    QPushButton* button(const char* name) const {
        return w->findChild<QPushButton*>(QLatin1StringView(name));
    }
    Watched clickWatched(const char* name) {
        QPushButton* b = button(name);
        Watched seen;
        QElapsedTimer took, sinceTick;
        QTimer tick;
        tick.setInterval(10);
        connect(&tick, &QTimer::timeout, this, [&] {
            seen.longestStallMs = std::max(seen.longestStallMs, sinceTick.restart());
            const QLabel* notice = w->findChild<QLabel*>(QStringLiteral("lblEsperandoRegistro"));
            seen.sawNotice |= notice && notice->isVisible();
            seen.sawButtonsOff |= !button("cmdSalir")->isEnabled();
        });
        tick.start();
        took.start();
        sinceTick.start();
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
        seen.longestStallMs = std::max(seen.longestStallMs, sinceTick.elapsed());
        seen.tookMs = took.elapsed();
        return seen;
    }
    void typeName(const QString& text) {
        QLineEdit* box = w->textBox(NombreAnimal);
        box->setFocus(Qt::MouseFocusReason);
        QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(box, text);
    }
    QString storedName() {
        Status status;
        auto other = CardStore::open(folders.registry(), &status);
        RowId id = kNoRow;
        Card card;
        if (!other || !other->findCode(code, &id) || !other->readCard(id, &card))
            return QStringLiteral("?");
        return card[NombreAnimal];
    }
    // A refused OK: in time, painting all along, told once, still entering with the name typed.
    void checkRefused(const Watched& seen) {
        qInfo("refused after %lld ms, longest stall %lld ms", seen.tookMs, seen.longestStallMs);
        QVERIFY2(seen.tookMs < 4500, qPrintable(QString::number(seen.tookMs)));
        QVERIFY2(seen.longestStallMs < 400, qPrintable(QString::number(seen.longestStallMs)));
        QVERIFY(seen.sawNotice);
        QVERIFY(seen.sawButtonsOff);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&OK"));
        QCOMPARE(w->fieldText(NombreAnimal), QStringLiteral("Firulais"));
        QVERIFY(button("cmdSalir")->isEnabled());
        QVERIFY(!w->findChild<QLabel*>(QStringLiteral("lblEsperandoRegistro"))->isVisible());
    }

private slots:
    void initTestCase() {
        SKIP_WITHOUT_TEST_SERVER();
        folders.copyRealMasterIni();
        folders.addCards({makeCard(code)});
        app::StartupHooks hooks;
        hooks.webIntake = [](MainWindow&) {
            return false;
        };
        w = app::startUp(folders.folders, messages, clock, std::move(hooks));
        QVERIFY(w);
        w->show();
        QCOMPARE(w->fieldText(Codigo), code);
    }
    void cleanup() { QCOMPARE(messages.unanswered, 0); }

    // Another program holds the registry past the command's time: the file locked for writing
    // and reading alike, or the table locked on the server.
    void okIsRefusedInTimeWhileAnotherProgramHoldsTheRegistry() {
        const QString holder = QStringLiteral("holder");
        {
            QSqlDatabase db = addRegistryConnection(folders.registry(), holder);
            QVERIFY(db.open());
            QSqlQuery q(db);
            QVERIFY(test_registry::onServer() ? test_registry::holdWriteLock(q)
                                              : q.exec(QStringLiteral("BEGIN EXCLUSIVE")));

            QTest::mouseClick(button("cmdEditar"), Qt::LeftButton);
            typeName(QStringLiteral("Firulais"));
            messages.clear();
            checkRefused(clickWatched("cmdEditar"));

            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(holder);

        // Once the other program lets go, the same OK stores what was typed.
        messages.clear();
        QTest::mouseClick(button("cmdEditar"), Qt::LeftButton);
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEditar")), QStringLiteral("&Editar"));
        QCOMPARE(storedName(), QStringLiteral("Firulais"));
    }

    // Work that timers start one after another, as a window following a busy registry does,
    // each its own command: together longer than one command's budget, none is cut short.
    void timersWorkIsNotAddedUp() {
        StoreThread* thread = w->cardStore()->storeThread();
        QVERIFY(thread);
        std::vector<StoreThread::Outcome> outcomes;
        for (int i = 0; i < 5; ++i) {
            QTimer::singleShot(
                0, this, [&] { outcomes.push_back(thread->run([] { QThread::msleep(900); })); });
            QTRY_COMPARE_WITH_TIMEOUT(outcomes.size(), size_t(i + 1), 3000);
        }
        for (const StoreThread::Outcome outcome : outcomes)
            QVERIFY(outcome == StoreThread::Outcome::Done);
    }

    // A server that does not answer at all (its process for this connection stopped, as a hung
    // server or a cut network looks): refused in time as well, although the connection never
    // answers the cancel.
    void okIsRefusedInTimeWhenTheServerStopsAnswering() {
        if (!test_registry::onServer())
            QSKIP("About a server.");
#ifdef Q_OS_WIN
        QSKIP("Stopping the server's process takes a signal of the server's own system.");
#else
        qint64 backend = -1;
        CardStore* cards = w->cardStore();
        QVERIFY(cards->call([&] {
            QSqlQuery q(cards->database());
            if (q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next())
                backend = q.value(0).toLongLong();
            return Status();
        }));
        QVERIFY(backend > 0);

        QTest::mouseClick(button("cmdEditar"), Qt::LeftButton);
        typeName(QStringLiteral("Firulais"));
        messages.clear();
        QCOMPARE(::kill(pid_t(backend), SIGSTOP), 0);
        const Watched seen = clickWatched("cmdEditar");
        ::kill(pid_t(backend), SIGCONT);
        checkRefused(seen);
#endif
    }
};

QTEST_MAIN(TestWindowWait)
#include "test_window_wait.moc"
