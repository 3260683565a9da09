// The main window on a server that is restarted under it (pg_ctl restart -m fast and -m
// immediate), offscreen: saves, grid moves, the code search and Ctrl+F work again without
// restarting the program, the line under the grid tells the outage meanwhile, a save made while
// the server is down is refused with its message and stored once, and another workstation's
// writes made meanwhile reach the grid.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "CardGrid.h"
#include "MainWindow.h"
#include "Startup.h"
#include "StoreThread.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include <csignal>

#include <unistd.h>

using app::MainWindow;
using namespace store;

namespace {

// The test cluster's folder holds its socket and its data (tools/pg_cluster.sh).
QString clusterFolder() {
    const QString uri = test_registry::serverUri();
    return QUrl::fromPercentEncoding(
        uri.section(u'@', 1).section(u'/', 0, 0).section(u'?', 0, 0).toUtf8());
}

QString dataFolder() {
    return clusterFolder() + QStringLiteral("/data");
}

QString pgCtl() {
    QString found;
    for (const QString& dir : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs))
        if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/pg_ctl").arg(dir)))
            found = QStringLiteral("/usr/lib/postgresql/%1/bin/pg_ctl").arg(dir);
    return found;
}

// Runs pg_ctl on the test cluster as the account that owns it.
bool pgCtlRun(QStringList args) {
    args = QStringList{pgCtl(),
                       QStringLiteral("-D"),
                       dataFolder(),
                       QStringLiteral("-w"),
                       QStringLiteral("-t"),
                       QStringLiteral("60")} +
           args;
    if (geteuid() == 0)
        return QProcess::execute(QStringLiteral("runuser"),
                                 QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                             QStringLiteral("--")} +
                                     args) == 0;
    const QString program = args.takeFirst();
    return QProcess::execute(program, args) == 0;
}

// Starts the stopped test cluster as tools/pg_cluster.sh does; true when it runs (or ran).
bool startServer() {
    if (pgCtlRun({QStringLiteral("status")}))
        return true;
    return pgCtlRun({QStringLiteral("start"), QStringLiteral("-l"),
                     clusterFolder() + QStringLiteral("/server.log"), QStringLiteral("-o"),
                     QStringLiteral("-c listen_addresses='' -c unix_socket_directories='") +
                         clusterFolder() + QStringLiteral("' -c max_connections=200")});
}

} // namespace

class TestWindowOutage : public QObject {
    Q_OBJECT

    FixedClock clock_{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};
    AppFolders folders_;
    ScriptedMessages messages_;
    std::unique_ptr<MainWindow> w_;

    void click(const char* button) {
        auto* b = w_->findChild<QPushButton*>(QLatin1StringView(button));
        QVERIFY(b);
        QTest::mouseClick(b, Qt::LeftButton, {}, b->rect().center());
    }
    QString footer() const { return w_->findChild<QLabel*>(QStringLiteral("lblRegistro"))->text(); }
    Card stored(const QString& code) const {
        Status status;
        auto s = CardStore::open(folders_.registry(), &status);
        RowId id = kNoRow;
        Card card;
        if (!s || !s->findCode(code, &id) || id == kNoRow || !s->readCard(id, &card))
            return Card();
        return card;
    }
    int storedCount() const {
        Status status;
        auto s = CardStore::open(folders_.registry(), &status);
        return s ? int(s->recordCount()) : -1;
    }
    // Adds a card through the window, its required fields typed.
    void add(const QString& code) {
        click("cmdAgregar");
        const Card c = makeCard(code);
        for (Field f : {Codigo, Lugar, FichaClinica, Implantador, NombreAnimal, Especie, Raza})
            w_->setFieldText(f, c[f]);
        click("cmdAgregar");
    }

private slots:
    void initTestCase() {
        if (!test_registry::onServer())
            QSKIP("About a server registry; a file has no connection to lose.");
        SKIP_WITHOUT_TEST_SERVER();
        if (!QFile::exists(dataFolder() + QStringLiteral("/PG_VERSION")) || pgCtl().isEmpty())
            QSKIP("The test server's folder or pg_ctl is not at hand to restart it.");
        folders_.copyRealMasterIni();
        folders_.addCards({makeCard(QStringLiteral("152000000000001")),
                           makeCard(QStringLiteral("152000000000002")),
                           makeCard(QStringLiteral("152000000000003"))});
        app::StartupHooks hooks;
        hooks.webIntake = [](MainWindow&) {
            return false;
        };
        w_ = app::startUp(folders_.folders, messages_, clock_, std::move(hooks));
        QVERIFY(w_);
        w_->show();
        w_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w_.get()));
        QCOMPARE(messages_.texts(), QStringList());
    }
    void cleanup() { QCOMPARE(messages_.unanswered, 0); }

    void everyCommandWorksAgainAfterARestart_data() {
        QTest::addColumn<QString>("mode");
        QTest::newRow("fast") << QStringLiteral("fast");
        QTest::newRow("immediate") << QStringLiteral("immediate");
    }
    void everyCommandWorksAgainAfterARestart() {
        QFETCH(QString, mode);
        const int before = storedCount();
        // The server's output goes to its log: it must not hold the test's output open.
        QVERIFY(pgCtlRun({QStringLiteral("-l"), clusterFolder() + QStringLiteral("/server.log"),
                          QStringLiteral("-m"), mode, QStringLiteral("restart")}));
        messages_.clear();

        // A grid move over every stored card, and a save: the edit is stored once.
        {
            Status status;
            auto s = CardStore::open(folders_.registry(), &status);
            std::vector<RowId> ids;
            QVERIFY(s && s->rowIds(Order::Stored, &ids));
            w_->gridShowRows(ids);
        }
        w_->setGridCurrentRow(2);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000002"));
        click("cmdEditar");
        w_->setFieldText(NombreAnimal, QStringLiteral("Tras ") + mode);
        click("cmdEditar");
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(stored(QStringLiteral("152000000000002"))[NombreAnimal],
                 QStringLiteral("Tras ") + mode);

        // An add.
        const QString code =
            mode == u"fast" ? QStringLiteral("152000000000010") : QStringLiteral("152000000000011");
        add(code);
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(storedCount(), before + 1);

        // Ctrl+F finds the card edited, and the code search another one.
        w_->grid()->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F, Qt::ControlModifier);
        auto* bar = w_->findChild<QLineEdit*>(QStringLiteral("txtBuscarPor"));
        QVERIFY(bar && bar->isVisible());
        QTest::keyClicks(bar, QStringLiteral("Tras ") + mode);
        QTRY_COMPARE(w_->gridRows(), 2);
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000002"));
        QTest::keyClick(bar, Qt::Key_Escape);
        click("cmdBuscar");
        w_->setFieldText(Codigo, QStringLiteral("152000000000003"));
        click("btnBuscarOK");
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(w_->fieldText(Codigo), QStringLiteral("152000000000003"));
        click("btnBuscarFin");
        QVERIFY2(!footer().contains(u"Sin conexión"), qPrintable(footer()));
    }

    // While the server is down the footer says so and a save is refused once with its message;
    // when it is back the window reconnects by itself, stores nothing twice, and shows what
    // another workstation wrote meanwhile.
    void anOutageIsToldAndOverByItself() {
        // Every card listed in stored order, as after start-up.
        int row = 0;
        QVERIFY(w_->gridShowStored(*w_->cardStore(), kNoRow, &row));
        QVERIFY(pgCtlRun({QStringLiteral("-m"), QStringLiteral("fast"), QStringLiteral("stop")}));
        // Started again whatever happens below: the other tests share the server.
        const auto startAgain = qScopeGuard([] { (void)startServer(); });
        QTRY_VERIFY_WITH_TIMEOUT(footer().contains(u"Sin conexión con el servidor; reintentando"),
                                 5000);
        messages_.clear();
        const int rows = w_->gridRows();
        QVERIFY(rows > 1);
        // Every card listed again while the server is gone (the window following a write it was
        // told of): refused, and the grid keeps what it listed.
        QVERIFY(!w_->gridShowStored(*w_->cardStore(), kNoRow, nullptr));
        QCOMPARE(w_->gridRows(), rows);
        add(QStringLiteral("152000000000020"));
        QCOMPARE(messages_.boxes.size(), size_t(1));
        QVERIFY2(messages_.boxes[0].text.contains(u"servidor"),
                 qPrintable(messages_.boxes[0].text));
        QCOMPARE(w_->buttonCaption(QStringLiteral("cmdAgregar")), QStringLiteral("&OK"));
        click("cmdSalir");
        messages_.clear();

        QVERIFY(startServer());
        {
            Status status;
            auto other = CardStore::open(folders_.registry(), &status);
            QVERIFY(other);
            QVERIFY(other->insertCard(makeCard(QStringLiteral("152000000000021")), nullptr));
        }
        QTRY_VERIFY_WITH_TIMEOUT(!footer().contains(u"Sin conexión"), 8000);
        QTRY_COMPARE_WITH_TIMEOUT(w_->gridRows(), rows + 1, 5000);
        QCOMPARE(stored(QStringLiteral("152000000000020")), Card());
        add(QStringLiteral("152000000000020"));
        QCOMPARE(messages_.texts(), QStringList());
        QCOMPARE(stored(QStringLiteral("152000000000020"))[Codigo],
                 QStringLiteral("152000000000020"));
    }

    // The connection is lost and the server takes connections but does not answer them (it is
    // stalled): trying again every few seconds must not hold the window while a connection
    // attempt waits for its timeout.
    void aServerThatDoesNotAnswerNeverHoldsTheWindow() {
        QFile pidFile(dataFolder() + QStringLiteral("/postmaster.pid"));
        QVERIFY(pidFile.open(QIODevice::ReadOnly));
        const pid_t postmaster = pid_t(pidFile.readLine().trimmed().toLongLong());
        QVERIFY(postmaster > 0);
        {
            Status status;
            auto other = CardStore::open(folders_.registry(), &status);
            QVERIFY(other);
            QVERIFY(other->call([&] {
                QSqlQuery q(other->database());
                return q.exec(QStringLiteral("SELECT pg_terminate_backend(pid) FROM "
                                             "pg_stat_activity WHERE pid <> pg_backend_pid() AND "
                                             "datname = current_database()"))
                           ? Status()
                           : Status::failure(ErrorKind::Other, q.lastError().text());
            }));
        }
        QVERIFY(::kill(postmaster, SIGSTOP) == 0);
        const auto resume = qScopeGuard([postmaster] { ::kill(postmaster, SIGCONT); });
        // The longest stretch the window waited for its store meanwhile.
        const StoreThread* thread = w_->cardStore()->storeThread();
        QVERIFY(thread);
        QElapsedTimer waiting;
        qint64 longest = 0;
        QTimer sample;
        connect(&sample, &QTimer::timeout, this, [&] {
            if (!thread->busy())
                waiting.invalidate();
            else if (!waiting.isValid())
                waiting.start();
            else
                longest = std::max(longest, waiting.elapsed());
        });
        sample.start(20);
        QTRY_VERIFY_WITH_TIMEOUT(footer().contains(u"Sin conexión con el servidor; reintentando"),
                                 5000);
        QTest::qWait(4500); // two tries at least
        QVERIFY2(longest < 1500, qPrintable(QString::number(longest)));
        ::kill(postmaster, SIGCONT);
        QTRY_VERIFY_WITH_TIMEOUT(!footer().contains(u"Sin conexión"), 10000);
        add(QStringLiteral("152000000000030"));
        QCOMPARE(messages_.texts(), QStringList());
    }
};

QTEST_MAIN(TestWindowOutage)
#include "test_window_outage.moc"
