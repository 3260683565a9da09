// bench_tarjetas: the real main window, offscreen, over generated registries of several sizes.
//
//   bench_tarjetas [--sizes 1000,100000,1000000] [--quick] [--history-cards N] [--cache DIR]
//                  [--base-datos URI [--server-only]] [--informe] [--ventana] [--exporta]
//
// One more child (bench_tarjetas --retenido) times the window against a registry another program
// holds, and with --base-datos against a server that does not answer (see runHeld()).
// Prints one JSON object per size (and one for the listing at 10,000 cards, and one for the
// history dialogs over N cards with ten changes each, 100,000 unless told). Each size runs in a
// child process of its own (bench_tarjetas --size N), so that its peak resident memory is its own.
// The registries are generated once into the cache folder and copied for each run, because the
// add, edit and delete measures write to the copy.
//
// With --base-datos (a libpq URI of a PostgreSQL database the benchmark may write into), each size
// runs a second time over a registry on that server: the generated cards are copied once into a
// schema of their own (bench_N_SEED), which the runs then use; the export is compared with psql's
// \copy writing the same columns. --server-only leaves out the runs over DAT.db. --informe measures
// of each size only the implant report. --ventana measures of each size only the start-up, the
// grid, the type-ahead, the searches and the "Buscar por" bar, then the start-up from outside.
// --exporta measures of each size only the start-up, the type-ahead and the export.
#include "Registry.h"
#include "ScriptedMessages.h"
#include "TypeAheadList.h"

#include "CardGrid.h"
#include "CardStore.h"
#include "ChangeWatch.h"
#include "Commands.h"
#include "CopyToServer.h"
#include "CsvExport.h"
#include "FreeSearch.h"
#include "History.h"
#include "HistoryDialogs.h"
#include "Listing.h"
#include "MainWindow.h"
#include "Merge.h"
#include "PgLink.h"
#include "ReportWindow.h"
#include "SearchIndex.h"
#include "Startup.h"
#include "StoreThread.h"
#include "TypeAheadIndex.h"
#include "TypeAheadLists.h"

#include <QAbstractScrollArea>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <signal.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <random>

namespace {

constexpr unsigned kSeed = 20240611;
constexpr qint64 kListingCards = 10'000;

struct Options {
    QList<qint64> sizes{1'000, 100'000, 1'000'000};
    bool quick = false;
    QString cache;
    qint64 childSize = -1; // running one size in this process
    bool childListing = false;
    qint64 historyCards = 100'000; // the history dialogs over this many cards, ten changes each
    bool childHistory = false;
    QString server;           // --base-datos: a PostgreSQL database for the server runs
    bool serverOnly = false;  // no runs over DAT.db
    bool childServer = false; // this child runs its size over the server
    bool reportOnly = false;  // --informe: of each size only the implant report
    bool windowOnly = false;  // --ventana: start-up, grid, type-ahead and searches only
    bool exportOnly = false;  // --exporta: start-up, type-ahead and export only
    qint64 childMerge = -1;   // merging a field campaign's registry into this many cards
    bool childHeld = false;   // this child times the window against a held registry
};

double ms(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// Median and 95th percentile (nearest rank) of a set of timings, in milliseconds.
QJsonObject stats(std::vector<double> v) {
    QJsonObject o;
    if (v.empty())
        return o;
    std::sort(v.begin(), v.end());
    const auto at = [&](double q) {
        const size_t rank = size_t(std::ceil(q * double(v.size())));
        return v[std::min(v.size() - 1, rank == 0 ? 0 : rank - 1)];
    };
    const auto round3 = [](double x) {
        return std::round(x * 1000) / 1000;
    };
    o[QStringLiteral("median")] =
        round3(v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2);
    o[QStringLiteral("p95")] = round3(at(0.95));
    o[QStringLiteral("max")] = round3(v.back());
    o[QStringLiteral("n")] = qint64(v.size());
    return o;
}

double median(const QJsonObject& o) {
    return o.value(QStringLiteral("median")).toDouble();
}

double peakRssMb() {
    // The peak of this process's own memory (VmHWM). getrusage's figure also counts the parent's
    // memory when it forked this run, which after copying millions of cards to a server is more
    // than the program under test ever holds.
    QFile f(QStringLiteral("/proc/self/status"));
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                return std::round(line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0 *
                                  10) /
                       10; // kilobytes
        }
    }
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return std::round(double(usage.ru_maxrss) / 1024.0 * 10) / 10; // kilobytes on Linux
}

double currentRssMb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? std::round(parts[1].toDouble() * 4096 / 1048576 * 10) / 10 : 0;
}

QString registryPath(const Options& o, qint64 cards) {
    // The schema version in the name: a registry of an earlier version lacks the search index,
    // and every start-up over a copy of it would first build that index.
    return QDir(o.cache).filePath(QStringLiteral("registro-%1-%2-v2.db").arg(cards).arg(kSeed));
}

bool ensureRegistry(const Options& o, qint64 cards) {
    const QString path = registryPath(o, cards);
    if (QFileInfo(path).isFile())
        return true;
    QDir().mkpath(o.cache);
    QElapsedTimer t;
    t.start();
    QString error;
    const QString partial = path + QStringLiteral(".parcial");
    if (!bench::writeRegistry(cards, kSeed, partial, QStringLiteral(TARJETAS_MASTER_INI), &error) ||
        !QFile::rename(partial, path)) {
        std::fprintf(stderr, "no se pudo generar %s: %s\n", qUtf8Printable(path),
                     qUtf8Printable(error));
        return false;
    }
    std::fprintf(stderr, "generadas %lld tarjetas en %.1f s: %s\n", static_cast<long long>(cards),
                 ms(t) / 1000, qUtf8Printable(path));
    return true;
}

// The URI of one schema of the benchmark's database: the server takes it as the search path, so
// the program's unqualified names reach that schema's tables.
QString schemaUri(const QString& uri, const QString& schema) {
    return uri + (uri.contains(u'?') ? u'&' : u'?') + QStringLiteral("options=-csearch_path%3D") +
           schema;
}

QString serverSchema(qint64 cards) {
    return QStringLiteral("bench_%1_%2").arg(cards).arg(kSeed);
}

std::unique_ptr<store::PgLink> serverLink(const QString& uri) {
    store::SqlReason reason;
    auto link = store::PgLink::connect(uri, &reason);
    if (!link)
        std::fprintf(stderr, "no se pudo conectar con %s: %s %s\n", qUtf8Printable(uri),
                     qUtf8Printable(reason.reason), qUtf8Printable(reason.detail));
    return link;
}

bool serverExec(const QString& uri, const QStringList& statements) {
    auto link = serverLink(uri);
    if (!link)
        return false;
    // No notice of a schema that is not there to drop, nor of what a drop took with it.
    store::SqlReason ignored;
    (void)link->exec(QStringLiteral("SET client_min_messages = warning"), &ignored);
    for (const QString& sql : statements) {
        store::SqlReason reason;
        if (!link->exec(sql, &reason)) {
            std::fprintf(stderr, "%s: %s %s\n", qUtf8Printable(sql), qUtf8Printable(reason.reason),
                         qUtf8Printable(reason.detail));
            return false;
        }
    }
    return true;
}

// The cards in a schema's table Clientes; -1 when the schema or its table is missing.
qint64 serverCount(const QString& uri, const QString& schema) {
    auto link = serverLink(uri);
    if (!link)
        return -1;
    const QString table = u'"' + schema + QStringLiteral("\".\"Clientes\"");
    bool exists = false;
    qint64 count = -1;
    store::SqlReason reason;
    (void)link->query(
        QStringLiteral("SELECT to_regclass($1) IS NOT NULL"), std::array{table.toUtf8()},
        [&](store::PgLink::Row row) { exists = row[0] == "t"; }, &reason);
    if (exists)
        (void)link->query(
            QStringLiteral("SELECT count(*) FROM ") + table, {},
            [&](store::PgLink::Row row) { count = row[0].toLongLong(); }, &reason);
    return count;
}

// The generated cards of one size on the server, copied once from the generated DAT.db through
// the program's own copy to a server. The copy is one transaction, so an interrupted one leaves no
// cards; the runs add and delete as many cards as they add, and edit colours; a schema found with
// another number of cards is made again. (The schema keeps its name: the search index's triggers
// name the schema they were made in.)
// The indexes of the type-ahead values, which a registry opened with many cards does not make on
// its own: made once after the copy, as the registry's administrator would.
bool ensureValueIndexes(const QString& uri) {
    QElapsedTimer t;
    t.start();
    store::Status status;
    auto cards = store::CardStore::open(store::Registry::server(uri), &status);
    if (cards)
        status = cards->makeValueIndexes();
    if (!status) {
        std::fprintf(stderr, "no se pudieron hacer los índices de valores: %s\n",
                     qUtf8Printable(status.message()));
        return false;
    }
    if (ms(t) > 1000)
        std::fprintf(stderr, "índices de valores hechos en %.1f s\n", ms(t) / 1000);
    return true;
}

bool ensureServerRegistry(const Options& o, qint64 cards) {
    const QString schema = serverSchema(cards);
    const qint64 present = serverCount(o.server, schema);
    if (present == cards)
        return ensureValueIndexes(schemaUri(o.server, schema));
    if (!ensureRegistry(o, cards))
        return false;
    QElapsedTimer t;
    t.start();
    if (!serverExec(o.server, {QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(schema),
                               QStringLiteral("CREATE SCHEMA %1").arg(schema)}))
        return false;
    qint64 copied = 0;
    const store::Status status =
        store::copyToServer(registryPath(o, cards), schemaUri(o.server, schema), &copied);
    if (!status) {
        std::fprintf(stderr, "no se pudo copiar al servidor: %s\n",
                     qUtf8Printable(status.message()));
        return false;
    }
    const double copyMs = ms(t);
    // What autovacuum does on its own a little after a bulk load: statistics and the visibility
    // map, without which the grid's ids are read from the heap rather than the index.
    if (!serverExec(schemaUri(o.server, schema), {QStringLiteral("VACUUM ANALYZE \"Clientes\"")}))
        return false;
    std::fprintf(stderr, "copiadas %lld tarjetas al servidor en %.1f s (%.1f s con VACUUM): %s\n",
                 static_cast<long long>(copied), copyMs / 1000, ms(t) / 1000,
                 qUtf8Printable(schema));
    return ensureValueIndexes(schemaUri(o.server, schema));
}

// Temporary application and data folders; the application folder holds the master INI and,
// unless empty, a copy of the generated registry.
struct Folders {
    QTemporaryDir root;
    store::Folders folders;
    explicit Folders(const QString& registry) {
        folders.appDir = root.filePath(QStringLiteral("app"));
        folders.dataDir = root.filePath(QStringLiteral("datos"));
        folders.exportDir = root.path();
        QDir().mkpath(folders.appDir);
        QFile::copy(QStringLiteral(TARJETAS_MASTER_INI), folders.appFile(store::kIniFileName));
        if (!registry.isEmpty())
            QFile::copy(registry, folders.appFile(store::kDatabaseFileName));
    }
};

// Builds the window through the program's own start-up, shows it and lets it paint; the time
// runs until the first card is in the fields and the window has been painted.
std::unique_ptr<app::MainWindow> start(const store::Folders& folders, ScriptedMessages& messages,
                                       const store::Clock& clock, double* elapsed) {
    QElapsedTimer t;
    t.start();
    // The day's backup copy would run between the measured keystrokes; backup_registry times it.
    app::StartupHooks hooks;
    hooks.dailyBackup = false;
    auto window = app::startUp(folders, messages, clock, std::move(hooks));
    if (!window)
        return nullptr;
    window->show();
    QCoreApplication::processEvents();
    *elapsed = ms(t);
    return window;
}

QPushButton* button(app::MainWindow& w, const char* name) {
    return w.findChild<QPushButton*>(QLatin1StringView(name));
}

// Stored values of a field at random cards, for prefixes a user would type.
QStringList sampleValues(const store::CardStore& cards, store::Field field, int wanted,
                         qint64 count, std::mt19937& rng) {
    QStringList values;
    // A window's store uses its connection on its own thread only.
    (void)cards.call(
        [&] {
            QSqlQuery q(cards.database());
            // Quoted names: PostgreSQL folds unquoted ones to lower case.
            q.prepare(QStringLiteral("SELECT \"") + store::cardField(field).name.toString() +
                      QStringLiteral("\" FROM \"Clientes\" WHERE id = ?"));
            std::uniform_int_distribution<qint64> pick(1, std::max<qint64>(1, count));
            for (int tries = 0; values.size() < wanted && tries < wanted * 20; ++tries) {
                q.addBindValue(pick(rng));
                if (q.exec() && q.next()) {
                    const QString v = q.value(0).toString().trimmed();
                    if (!v.isEmpty())
                        values.append(v);
                }
            }
            return store::Status();
        },
        store::StoreThread::Kind::Scan);
    return values;
}

// The implant report for the year 2023 by month (and by implanter) opened from the window: from
// the command until the window shows the counted chart and table, with the longest pause of the
// window's event loop meanwhile. The first count of a run builds the index of the dates where the
// registry lacks it, and is reported apart.
void measureReport(app::MainWindow& w, int reps, QJsonObject* out) {
    auto* action = w.findChild<QAction*>(QStringLiteral("actInforme"));
    if (!action) {
        (*out)[QStringLiteral("error")] = QStringLiteral("sin la orden del informe");
        return;
    }
    QElapsedTimer t;
    t.start();
    action->trigger();
    auto* r = w.findChild<report::ReportWindow*>();
    if (!r || !QTest::qWaitFor([&] { return !r->busy(); }, 600'000)) {
        (*out)[QStringLiteral("error")] = QStringLiteral("el informe no terminó");
        return;
    }
    (*out)[QStringLiteral("report_first_ms")] = ms(t);
    const report::DateRange year{QDate(2023, 1, 1), QDate(2023, 12, 31)};
    const auto once = [&](report::Grouping by, double* pause) {
        // Another range first, and the grouping chosen over it, so that only the year is timed.
        r->setRange({QDate(2022, 1, 1), QDate(2022, 1, 31)});
        (void)QTest::qWaitFor([&] { return !r->busy(); }, 600'000);
        r->setGrouping(by);
        (void)QTest::qWaitFor([&] { return !r->busy(); }, 600'000);
        // The longest the event loop goes without turning while the report is counted.
        QElapsedTimer beat;
        double longest = 0;
        QTimer ticker;
        ticker.setInterval(0);
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            longest = std::max(longest, double(beat.nsecsElapsed()) / 1e6);
            beat.restart();
        });
        t.start();
        beat.start();
        ticker.start();
        r->setRange(year);
        (void)QTest::qWaitFor([&] { return !r->busy(); }, 600'000);
        const double elapsed = ms(t);
        ticker.stop();
        r->repaint();
        *pause = longest;
        return elapsed;
    };
    std::vector<double> byMonth, byImplanter, pauses;
    qint64 total = -1;
    for (int i = 0; i < reps; ++i) {
        double pause = 0;
        byMonth.push_back(once(report::Grouping::Month, &pause));
        pauses.push_back(pause);
        total = r->result().total;
        byImplanter.push_back(once(report::Grouping::Implanter, &pause));
        pauses.push_back(pause);
        if (r->result().total != total)
            (*out)[QStringLiteral("error")] = QStringLiteral("el informe contó distinto");
    }
    (*out)[QStringLiteral("report_year_cards")] = total;
    (*out)[QStringLiteral("report_year_by_month_ms")] = stats(byMonth);
    (*out)[QStringLiteral("report_year_by_implanter_ms")] = stats(byImplanter);
    (*out)[QStringLiteral("report_longest_pause_ms")] = stats(pauses);
    r->close();
}

// The complete export, timed beside the floor sqlite3 (or on a server psql's \copy, as CSV)
// writing the same columns.
void measureExport(store::CardStore& store, const Folders& f, bool server, int reps,
                   QJsonObject* out) {
    QStringList columns;
    for (const store::CardField& cf : store::cardFields()) {
        if (cf.exports & output::exportFlag(output::ExportKind::Complete))
            columns.append(cf.name.toString());
    }
    std::vector<double> exports, floors;
    const QString csv = f.root.filePath(QStringLiteral("export.csv"));
    const QString floorFile = f.root.filePath(QStringLiteral("floor.csv"));
    QStringList quoted;
    for (const QString& c : columns)
        quoted.append(u'"' + c + u'"');
    for (int i = 0; i < std::max(2, reps / 2); ++i) {
        QFile file(csv);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QString error;
        QElapsedTimer t;
        t.start();
        if (!output::writeCsv(store, output::ExportKind::Complete, &file, &error))
            (*out)[QStringLiteral("error")] = error;
        file.close();
        exports.push_back(ms(t));

        QProcess floor;
        t.start();
        if (server) {
            floor.start(QStringLiteral("psql"),
                        {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-v"),
                         QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-d"), store.path(),
                         QStringLiteral("-c"),
                         QStringLiteral("\\copy (SELECT ") + quoted.join(u',') +
                             QStringLiteral(" FROM \"Clientes\" ORDER BY id) TO '") + floorFile +
                             QStringLiteral("' WITH (FORMAT csv, DELIMITER ';')")});
        } else {
            floor.setStandardOutputFile(floorFile);
            floor.start(QStringLiteral("sqlite3"),
                        {QStringLiteral("-separator"), QStringLiteral(";"), store.path(),
                         QStringLiteral("SELECT ") + columns.join(u',') +
                             QStringLiteral(" FROM Clientes ORDER BY id")});
        }
        floor.waitForFinished(-1);
        floors.push_back(ms(t));
        if (floor.exitCode() != 0 || QFileInfo(floorFile).size() == 0)
            (*out)[QStringLiteral("error")] =
                QString(QStringLiteral("el piso de la exportación falló: ") +
                        QString::fromLocal8Bit(floor.readAllStandardError()).trimmed());
    }
    const QString floorName = server ? QStringLiteral("psql_copy") : QStringLiteral("sqlite3");
    (*out)[QStringLiteral("export_ms")] = stats(exports);
    (*out)[QStringLiteral("export_bytes")] = QFileInfo(csv).size();
    (*out)[floorName + QStringLiteral("_ms")] = stats(floors);
    (*out)[QStringLiteral("export_vs_") + floorName] =
        std::round(median(stats(exports)) / median(stats(floors)) * 100) / 100;
}

QJsonObject runSize(const Options& o, qint64 cards) {
    const int reps = o.quick ? 3 : 7;
    const int prefixes = o.quick ? 40 : 200;
    const int searches = o.quick ? 10 : 50;
    const int writes = o.quick ? 50 : 100;
    store::FixedClock clock(QDateTime(QDate(2024, 6, 15), QTime(10, 30)));
    ScriptedMessages messages;
    QJsonObject out;
    out[QStringLiteral("cards")] = cards;
    const bool server = o.childServer;
    out[QStringLiteral("engine")] =
        server ? QStringLiteral("postgresql") : QStringLiteral("sqlite");

    // Start-up over an empty registry, the reference for the start-up at this size.
    std::vector<double> emptyTimes;
    {
        Folders empty{QString()};
        const QString emptySchema =
            QStringLiteral("bench_vacio_%1").arg(QCoreApplication::applicationPid());
        if (server) {
            (void)serverExec(o.server,
                             {QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(emptySchema),
                              QStringLiteral("CREATE SCHEMA %1").arg(emptySchema)});
            empty.folders.serverUri = schemaUri(o.server, emptySchema);
        }
        for (int i = 0; i <= reps; ++i) {
            double t = 0;
            auto w = start(empty.folders, messages, clock, &t);
            if (i > 0) // the first run creates the empty store
                emptyTimes.push_back(t);
        }
        if (server)
            (void)serverExec(o.server,
                             {QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(emptySchema)});
    }
    Folders f{server ? QString() : registryPath(o, cards)};
    if (server)
        f.folders.serverUri = schemaUri(o.server, serverSchema(cards));
    if (o.reportOnly) {
        double started = 0;
        auto window = start(f.folders, messages, clock, &started);
        if (!window || !window->cardStore()) {
            out[QStringLiteral("error")] = QStringLiteral("la ventana no abrió el registro");
            return out;
        }
        measureReport(*window, reps, &out);
        return out;
    }
    std::vector<double> startTimes;
    std::unique_ptr<app::MainWindow> w;
    for (int i = 0; i < reps; ++i) {
        w.reset();
        double t = 0;
        w = start(f.folders, messages, clock, &t);
        startTimes.push_back(t);
    }
    if (!w || !w->cardStore()) {
        // A registry out of reach (a server not running): nothing to measure.
        out[QStringLiteral("error")] = QStringLiteral("la ventana no abrió el registro");
        return out;
    }
    const QString firstCode = w->fieldText(store::Codigo);
    // The type-ahead values are read in the background from the first turn of the event loop: a
    // keystroke meanwhile, and how long after the window was painted the read is done.
    QElapsedTimer sinceShown;
    sinceShown.start();
    browse::TypeAheadIndex* typeAhead = w->findChild<app::Commands*>()->typeAhead();
    {
        button(*w, "cmdAgregar")->click();
        auto* box = w->findChild<QLineEdit*>(QStringLiteral("Text12"));
        QElapsedTimer t;
        t.start();
        QTest::sendKeyEvent(QTest::Click, box, Qt::Key_M, QStringLiteral("M"), Qt::NoModifier);
        QCoreApplication::processEvents();
        out[QStringLiteral("typeahead_keystroke_while_reading_ms")] =
            std::round(ms(t) * 1000) / 1000;
        out[QStringLiteral("typeahead_read_pending_at_keystroke")] = typeAhead->pending();
        box->setText(QString());
        button(*w, "cmdSalir")->click();
    }
    while (typeAhead->pending() && ms(sinceShown) < 300'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    out[QStringLiteral("typeahead_ready_after_startup_ms")] = std::round(ms(sinceShown));
    // The peak so far at each stage, to tell which stage sets the peak.
    QJsonObject peaks;
    peaks[QStringLiteral("index_read")] = peakRssMb();
    // What a user who types one letter into each of the ten boxes makes the program hold.
    {
        button(*w, "cmdAgregar")->click();
        for (const browse::TypeAheadPair& pair : browse::typeAheadPairs()) {
            auto* box = w->findChild<QLineEdit*>(pair.box);
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key_A, QStringLiteral("a"), Qt::NoModifier);
            QCoreApplication::processEvents();
            box->setText(QString());
        }
        button(*w, "cmdSalir")->click();
        QCoreApplication::processEvents();
        out[QStringLiteral("peak_rss_after_one_key_in_each_box_mb")] = peakRssMb();
    }
    out[QStringLiteral("empty_startup_ms")] = stats(emptyTimes);
    out[QStringLiteral("startup_ms")] = stats(startTimes);
    out[QStringLiteral("startup_vs_empty")] =
        std::round(median(stats(startTimes)) / median(stats(emptyTimes)) * 100) / 100;
    out[QStringLiteral("rss_after_startup_mb")] = currentRssMb();
    if (firstCode.isEmpty() || w->gridRows() != cards + 1)
        out[QStringLiteral("error")] = QStringLiteral("la ventana no mostró la primera tarjeta");

    // The grid paged down a screenful at a time from the first card, each key timed until the
    // card is loaded and the window has painted; then the scroll bar dragged to the middle (a
    // jump far from every row read so far) and to the end, and a page up from there.
    {
        browse::CardGrid* grid = w->grid();
        grid->setFocus(Qt::OtherFocusReason);
        std::vector<double> down, jumps, up;
        for (int i = 0; i < 40; ++i) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(grid, Qt::Key_PageDown);
            QCoreApplication::processEvents();
            down.push_back(ms(t));
        }
        // The window left alone for three seconds first, as a user reads the first card: the
        // rows a far jump starts from are sampled behind it by then, at ten million cards on a
        // server too.
        QTest::qWait(3000);
        QScrollBar* bar = grid->verticalScrollBar();
        for (const int to : {bar->maximum() / 2, bar->maximum() / 3, bar->maximum()}) {
            QElapsedTimer t;
            t.start();
            bar->setValue(to);
            QCoreApplication::processEvents();
            jumps.push_back(ms(t));
        }
        grid->setCurrentRow(grid->rows() - 1);
        QCoreApplication::processEvents();
        for (int i = 0; i < 20; ++i) {
            QElapsedTimer t;
            t.start();
            QTest::keyClick(grid, Qt::Key_PageUp);
            QCoreApplication::processEvents();
            up.push_back(ms(t));
        }
        out[QStringLiteral("grid_page_down_ms")] = stats(down);
        out[QStringLiteral("grid_page_up_from_end_ms")] = stats(up);
        out[QStringLiteral("grid_scroll_jump_ms")] = stats(jumps);
        grid->setCurrentRow(1);
        QCoreApplication::processEvents();
    }
    peaks[QStringLiteral("grid")] = peakRssMb();

    store::CardStore& store = *w->cardStore();
    std::mt19937 rng(kSeed);

    // Type-ahead: one keystroke in entry mode, from the prefix less its last letter to the
    // prefix, timed until the list is rebuilt and painted.
    button(*w, "cmdAgregar")->click();
    std::vector<double> keyTimes;
    std::vector<double> firstTimes;
    QJsonObject byField;
    qint64 longest = 0;
    for (const browse::TypeAheadPair& pair : browse::typeAheadPairs()) {
        auto* box = w->findChild<QLineEdit*>(pair.box);
        auto* list = w->findChild<browse::TypeAheadList*>(pair.list);
        const QStringList values = sampleValues(store, pair.field, prefixes, cards, rng);
        std::vector<double> fieldTimes;
        bool first = true;
        for (const QString& v : values) {
            const QString prefix = v.left(1 + int(rng() % 3));
            box->setText(prefix.chopped(1));
            QCoreApplication::processEvents();
            QElapsedTimer t;
            t.start();
            const QString letter = prefix.right(1);
            QTest::sendKeyEvent(QTest::Click, box, Qt::Key(letter.toUpper()[0].unicode()), letter,
                                Qt::NoModifier);
            QCoreApplication::processEvents();
            const double e = ms(t);
            longest = std::max<qint64>(longest, list->count());
            (first ? firstTimes : fieldTimes).push_back(e);
            first = false;
        }
        box->setText(QString());
        byField[pair.box + u':' + store::cardField(pair.field).name.toString()] =
            stats(fieldTimes)[QStringLiteral("p95")];
        keyTimes.insert(keyTimes.end(), fieldTimes.begin(), fieldTimes.end());
    }
    button(*w, "cmdSalir")->click(); // "&Cancela": back to browse mode
    out[QStringLiteral("typeahead_ms")] = stats(keyTimes);
    out[QStringLiteral("typeahead_first_keystroke_ms")] = stats(firstTimes);
    out[QStringLiteral("typeahead_p95_by_field_ms")] = byField;
    out[QStringLiteral("typeahead_longest_list")] = longest;
    peaks[QStringLiteral("typeahead")] = peakRssMb();
    if (o.exportOnly) {
        measureExport(*w->cardStore(), f, server, reps, &out);
        peaks[QStringLiteral("export")] = peakRssMb();
        out[QStringLiteral("peak_rss_mb_by_stage")] = peaks;
        return out;
    }

    // Search by one code, found and not found, then the empty search that lists every card.
    auto* codeBox = w->findChild<QLineEdit*>(QStringLiteral("Text3"));
    const QStringList codes = sampleValues(store, store::Codigo, searches, cards, rng);
    double lastCommand = 0; // the command alone, before the window repaints
    const auto search = [&](const QString& code) {
        button(*w, "cmdBuscar")->click();
        codeBox->setText(code);
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        button(*w, "btnBuscarOK")->click();
        lastCommand = ms(t);
        QCoreApplication::processEvents();
        const double e = ms(t);
        if (button(*w, "btnBuscarFin")->isVisible())
            button(*w, "btnBuscarFin")->click();
        return e;
    };
    std::vector<double> hit, hitCommand, miss, all;
    for (const QString& code : codes) {
        hit.push_back(search(code));
        hitCommand.push_back(lastCommand);
        if (w->gridRows() != 2 || w->fieldText(store::Codigo) != code)
            out[QStringLiteral("error")] = QStringLiteral("búsqueda sin la tarjeta buscada");
        miss.push_back(search(QStringLiteral("000000") + code.right(9)));
    }
    for (int i = 0; i < std::max(3, reps / 2); ++i)
        all.push_back(search(QString()));
    if (w->gridRows() != cards + 1)
        out[QStringLiteral("error")] = QStringLiteral("la búsqueda vacía no listó todo");
    out[QStringLiteral("search_hit_ms")] = stats(hit);
    out[QStringLiteral("search_hit_before_repaint_ms")] = stats(hitCommand);
    out[QStringLiteral("search_miss_ms")] = stats(miss);
    out[QStringLiteral("search_empty_ms")] = stats(all);
    peaks[QStringLiteral("search")] = peakRssMb();

    // The "Buscar por" bar: the text put in the box, then Enter, timed until the grid lists the
    // cards found, the first is loaded and the window has painted; Esc lists every card again.
    // On a server the same, through its own search index.
    {
        browse::FreeSearch* free = w->findChild<app::Commands*>()->freeSearch();
        QLineEdit* bar = free->bar();
        // The most common word of the owners' names, the slowest word to look up.
        QHash<QString, qint64> counts;
        (void)store.forEachRawCard(
            store::Order::Stored, [&](store::RowId, const store::RawCard& c) {
                for (const QString& word : store::searchWords(c.text(store::Propietario)))
                    ++counts[store::foldedName(word)];
                return true;
            });
        QString common;
        for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
            if (common.isEmpty() || it.value() > counts.value(common))
                common = it.key();
        }
        QStringList surnames;
        for (const QString& owner : sampleValues(store, store::Propietario, searches, cards, rng))
            surnames.append(owner.section(u' ', -1));
        const struct {
            const char* name;
            QStringList texts;
        } kinds[] = {
            {"surname", surnames},
            {"rut", sampleValues(store, store::Rut, searches, cards, rng)},
            {"phone", sampleValues(store, store::Cel, searches, cards, rng)},
            {"most_common_word", QStringList(searches, common)},
        };
        QJsonObject found;
        std::vector<double> escTimes;
        // When the window first paints the cards found with the first one loaded: on a server
        // the first ones are painted while the rest are read.
        struct FirstPaint : QObject {
            app::MainWindow* window = nullptr;
            QElapsedTimer* clock = nullptr;
            int before = 0;
            double at = -1;
            bool eventFilter(QObject* obj, QEvent* e) override {
                if (e->type() == QEvent::Paint && clock && at < 0 && obj->isWidgetType() &&
                    static_cast<QWidget*>(obj)->window() == window &&
                    window->gridRows() != before && window->gridRows() > 1 &&
                    window->shownCardId() == window->grid()->rowId(1))
                    at = ms(*clock);
                return false;
            }
        } firstPaint;
        firstPaint.window = w.get();
        qApp->installEventFilter(&firstPaint);
        for (const auto& kind : kinds) {
            std::vector<double> times, firstTimes;
            qint64 most = 0;
            for (const QString& text : kind.texts) {
                free->open();
                bar->setText(text);
                QCoreApplication::processEvents();
                QElapsedTimer t;
                firstPaint.before = w->gridRows();
                firstPaint.at = -1;
                firstPaint.clock = &t;
                t.start();
                QTest::keyClick(bar, Qt::Key_Return);
                QCoreApplication::processEvents();
                times.push_back(ms(t));
                firstPaint.clock = nullptr;
                firstTimes.push_back(firstPaint.at >= 0 ? firstPaint.at : times.back());
                most = std::max<qint64>(most, w->gridRows() - 1);
                if (w->gridRows() < 2)
                    out[QStringLiteral("error")] =
                        QString(QStringLiteral("Buscar por no encontró ") + text);
                t.restart();
                QTest::keyClick(w->grid(), Qt::Key_Escape);
                QCoreApplication::processEvents();
                escTimes.push_back(ms(t));
            }
            out[QStringLiteral("free_search_%1_ms").arg(QLatin1StringView(kind.name))] =
                stats(times);
            out[QStringLiteral("free_search_%1_first_shown_ms").arg(QLatin1StringView(kind.name))] =
                stats(firstTimes);
            found[QLatin1StringView(kind.name)] = most;
        }
        qApp->removeEventFilter(&firstPaint);
        out[QStringLiteral("free_search_most_common_word")] = common;
        out[QStringLiteral("free_search_most_cards_found")] = found;
        out[QStringLiteral("free_search_esc_all_cards_ms")] = stats(escTimes);
        if (w->gridRows() != cards + 1)
            out[QStringLiteral("error")] = QStringLiteral("Esc no listó todas las tarjetas");
    }
    peaks[QStringLiteral("free_search")] = peakRssMb();
    if (o.windowOnly) {
        out[QStringLiteral("peak_rss_mb_by_stage")] = peaks;
        return out;
    }

    // Add, edit and delete through the window's buttons, each durably committed.
    std::vector<double> adds, edits, deletes;
    // Until the store has committed the write and the type-ahead index has followed it (the
    // listeners run in that order); what a save takes beyond that is the window's.
    std::vector<double> addsStored, editsStored, deletesStored;
    QElapsedTimer clickClock;
    double storedAt = 0;
    const int listener =
        store.addChangeListener([&](store::CardStore::Change, store::RowId, const store::Card*) {
            storedAt = ms(clickClock);
        });
    const auto timedClick = [&](const char* name) {
        // A click of the user's begins a command with its own time for the store; a click
        // made by the program is no mouse press, so it says so itself.
        if (store::StoreThread* thread = w->cardStore()->storeThread())
            thread->newCommand();
        clickClock.start();
        storedAt = 0;
        button(*w, name)->click();
        QCoreApplication::processEvents();
        return ms(clickClock);
    };
    for (int i = 0; i < writes; ++i) {
        button(*w, "cmdAgregar")->click();
        w->setFieldText(store::Codigo, QStringLiteral("152000000%1").arg(100000 + i));
        w->setFieldText(store::Lugar, QStringLiteral("Operativo Municipal Ñuñoa"));
        w->setFieldText(store::FichaClinica, QString::number(5000 + i));
        w->setFieldText(store::Implantador, QStringLiteral("Dra. Camila Fuentes"));
        w->setFieldText(store::NombreAnimal, QStringLiteral("Ñoño"));
        w->setFieldText(store::Especie, QStringLiteral("Canino"));
        w->setFieldText(store::Raza, QStringLiteral("Mestizo"));
        w->setFieldText(store::Propietario, QStringLiteral("Begoña Núñez Peña"));
        adds.push_back(timedClick("cmdAgregar"));
        addsStored.push_back(storedAt);
    }
    std::uniform_int_distribution<int> row(1, int(cards));
    for (int i = 0; i < writes; ++i) {
        w->setGridCurrentRow(row(rng));
        button(*w, "cmdEditar")->click();
        w->setFieldText(store::Color, QStringLiteral("Atigrado %1").arg(i));
        // A stored card may lack a value the save requires (a Null clinical record number).
        for (store::Field required : {store::FichaClinica, store::Raza}) {
            if (w->fieldText(required).isEmpty())
                w->setFieldText(required, QStringLiteral("1"));
        }
        edits.push_back(timedClick("cmdEditar"));
        editsStored.push_back(storedAt);
    }
    for (int i = 0; i < writes; ++i) {
        w->setGridCurrentRow(w->gridRows() - 1); // the cards added above
        messages.queue(store::MessageLayer::Answer::Yes);
        deletes.push_back(timedClick("cmdEliminar"));
        deletesStored.push_back(storedAt);
    }
    if (store.recordCount() != cards || w->gridRows() != cards + 1)
        out[QStringLiteral("error")] =
            QStringLiteral("agregar y eliminar no dejaron el registro: %1 tarjetas, %2 filas, %3")
                .arg(store.recordCount())
                .arg(w->gridRows() - 1)
                .arg(messages.texts().join(u'|'));
    out[QStringLiteral("add_ms")] = stats(adds);
    out[QStringLiteral("edit_ms")] = stats(edits);
    out[QStringLiteral("delete_ms")] = stats(deletes);
    out[QStringLiteral("add_stored_ms")] = stats(addsStored);
    out[QStringLiteral("edit_stored_ms")] = stats(editsStored);
    out[QStringLiteral("delete_stored_ms")] = stats(deletesStored);
    store.removeChangeListener(listener);
    peaks[QStringLiteral("saves")] = peakRssMb();

    // Another program writes the same file: what the window's thread spends on finding it (a look
    // at the file's data version, with and without a change) and on following it (grid, count
    // and card shown read again, the type-ahead read started), and when the type-ahead values
    // read again in the background have taken over.
    {
        store::ChangeWatch* watch = w->findChild<app::Commands*>()->changeWatch();
        store::Status opened;
        auto other = store::CardStore::open(store.registry(), &opened);
        // A server's notices come through the event loop: the change is told once the window has
        // followed it (its own handler was connected first).
        int told = 0;
        if (watch)
            QObject::connect(watch, &store::ChangeWatch::changedElsewhere, w.get(),
                             [&told] { ++told; });
        std::vector<double> looks, follows, listsReady;
        if (!watch || !other) {
            out[QStringLiteral("error")] = QStringLiteral("sin vigilancia del registro");
        } else {
            QElapsedTimer t;
            for (int i = 0; i < 1000; ++i) {
                t.start();
                watch->check();
                looks.push_back(ms(t) * 1000); // microseconds
            }
            w->setGridCurrentRow(int(cards / 2));
            const int changes = o.quick ? 6 : 15;
            store::RowId addedId = store::kNoRow;
            for (int i = 0; i < changes; ++i) {
                store::Status written;
                switch (i % 3) {
                case 0: { // an edit of the card shown
                    auto cursor = other->openTable();
                    written = cursor->setBookmark(w->shownCardId());
                    if (written)
                        written = cursor->edit();
                    cursor->setField(store::Color, QStringLiteral("Overo %1").arg(i));
                    if (written)
                        written = cursor->update();
                    break;
                }
                case 1: {
                    store::Card card;
                    card[store::Codigo] = QStringLiteral("152999999%1").arg(100000 + i);
                    card[store::Propietario] = QStringLiteral("Begoña Otra %1").arg(i);
                    written = other->insertCard(card, &addedId);
                    break;
                }
                default:
                    written = other->removeCard(addedId);
                    break;
                }
                if (!written)
                    out[QStringLiteral("error")] = written.message();
                t.start();
                if (server) {
                    // From the commit until the notice was heard and the window followed it.
                    const int before = told;
                    while (told == before && ms(t) < 5'000)
                        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                    if (told == before)
                        out[QStringLiteral("error")] = QStringLiteral("cambio no visto");
                } else if (!watch->check()) {
                    out[QStringLiteral("error")] = QStringLiteral("cambio no visto");
                }
                follows.push_back(ms(t));
                while (typeAhead->pending() && ms(t) < 300'000)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                listsReady.push_back(ms(t));
            }
            if (w->gridRows() != cards + 1 || store.recordCount() != cards)
                out[QStringLiteral("error")] =
                    QStringLiteral("la ventana no siguió los cambios de otro programa: %1 filas, "
                                   "%2 tarjetas guardadas, %3 esperadas")
                        .arg(w->gridRows() - 1)
                        .arg(store.recordCount())
                        .arg(cards);
        }
        out[QStringLiteral("external_look_us")] = stats(looks);
        out[QStringLiteral("external_change_window_ms")] = stats(follows);
        out[QStringLiteral("external_change_lists_ready_ms")] = stats(listsReady);
        peaks[QStringLiteral("external_changes")] = peakRssMb();
    }

    measureReport(*w, reps, &out);
    peaks[QStringLiteral("report")] = peakRssMb();

    measureExport(*w->cardStore(), f, server, reps, &out);
    peaks[QStringLiteral("export")] = peakRssMb();
    out[QStringLiteral("peak_rss_mb_by_stage")] = peaks;
    w.reset();
    out[QStringLiteral("peak_rss_mb")] = peakRssMb();

    // The first start over a registry of the earlier version: the window's, which shows the
    // cards at once and fills the search index behind them, and the index built in one
    // transaction. Timed on copies without the index.
    if (!server) {
        w.reset();
        QTemporaryDir dir;
        const QString copy = dir.filePath(QStringLiteral("DAT.db"));
        QFile::copy(registryPath(o, cards), copy);
        const qint64 withIndex = QFileInfo(copy).size();
        store::Status status;
        {
            auto cards = store::CardStore::open(copy, &status);
            QSqlQuery q(cards->database());
            for (const char* sql :
                 {"DROP TRIGGER BusquedaTarjetasAlta", "DROP TRIGGER BusquedaTarjetasCambio",
                  "DROP TRIGGER BusquedaTarjetasBaja", "DROP TABLE BusquedaTarjetas", "VACUUM"})
                q.exec(QLatin1StringView(sql));
        }
        const qint64 without = QFileInfo(copy).size();
        {
            // The window works on a copy of its own; the build below on this one.
            Folders again{copy};
            double shown = 0;
            auto fresh = start(again.folders, messages, clock, &shown);
            browse::FreeSearch* search =
                fresh ? fresh->findChild<app::Commands*>()->freeSearch() : nullptr;
            if (search) {
                out[QStringLiteral("startup_without_search_index_ms")] = std::round(shown);
                QElapsedTimer ready;
                ready.start();
                while (search->preparing() && ready.elapsed() < 600000)
                    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
                out[QStringLiteral("search_index_ready_behind_window_ms")] =
                    search->preparing() ? -1.0 : std::round(ms(ready) + shown);
            }
        }
        auto old = store::CardStore::open(copy, &status);
        QElapsedTimer t;
        t.start();
        status = store::SearchIndex::build(*old, {});
        out[QStringLiteral("search_index_build_ms")] = std::round(ms(t));
        if (!status)
            out[QStringLiteral("error")] = status.message();
        out[QStringLiteral("search_index_mb")] =
            std::round(double(withIndex - without) / 1048576.0 * 10) / 10;
    }
    if (messages.unanswered)
        out[QStringLiteral("unanswered_questions")] = messages.unanswered;
    return out;
}

// The listing at 10,000 cards: from the click to the first page painted in the preview, and the
// longest the main window's event loop went without running meanwhile.
QJsonObject runListing(const Options& o) {
    store::FixedClock clock(QDateTime(QDate(2024, 6, 15), QTime(10, 30)));
    ScriptedMessages messages;
    Folders f{registryPath(o, kListingCards)};
    double startup = 0;
    auto w = start(f.folders, messages, clock, &startup);
    QJsonObject out;
    out[QStringLiteral("cards")] = kListingCards;
    std::vector<double> firstPage, stalls;
    for (int i = 0; i < (o.quick ? 2 : 5); ++i) {
        QElapsedTimer t, tick;
        bool painted = false;
        double longestStall = 0;
        struct Watch : QObject {
            QWidget* main;
            bool* painted;
            bool eventFilter(QObject* obj, QEvent* e) override {
                if (e->type() == QEvent::Paint) {
                    auto* wid = qobject_cast<QWidget*>(obj);
                    if (wid && wid->window() != main && wid->parentWidget() &&
                        qobject_cast<QAbstractScrollArea*>(wid->parentWidget()))
                        *painted = true;
                }
                return false;
            }
        } watch;
        watch.main = w.get();
        watch.painted = &painted;
        qApp->installEventFilter(&watch);
        QTimer pulse;
        pulse.setInterval(5);
        QObject::connect(&pulse, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, ms(tick));
            tick.start();
        });
        t.start();
        tick.start();
        pulse.start();
        button(*w, "cmdListado")->click();
        longestStall = std::max(longestStall, ms(tick));
        tick.start();
        while (!painted && ms(t) < 120'000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        firstPage.push_back(ms(t));
        stalls.push_back(longestStall);
        pulse.stop();
        qApp->removeEventFilter(&watch);
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top != w.get() && top->isVisible())
                top->close();
        }
        QCoreApplication::processEvents();
    }
    out[QStringLiteral("listing_first_page_ms")] = stats(firstPage);
    out[QStringLiteral("listing_longest_stall_ms")] = stats(stalls);

    // Printing every page from the preview (into a PDF file instead of a printer), with the
    // longest pause of the event loop meanwhile; and a second click on the listing button.
    button(*w, "cmdListado")->click();
    QCoreApplication::processEvents();
    button(*w, "cmdListado")->click();
    QCoreApplication::processEvents();
    const QList<output::ListingPreview*> previews = w->findChildren<output::ListingPreview*>();
    out[QStringLiteral("listing_previews_after_two_clicks")] = qint64(previews.size());
    if (!previews.isEmpty()) {
        output::ListingPreview* preview = previews.first();
        preview->printer()->setOutputFormat(QPrinter::PdfFormat);
        preview->printer()->setOutputFileName(f.root.filePath(QStringLiteral("listado.pdf")));
        double longestStall = 0;
        QElapsedTimer t, tick;
        QTimer pulse;
        pulse.setInterval(5);
        QObject::connect(&pulse, &QTimer::timeout, [&] {
            longestStall = std::max(longestStall, ms(tick));
            tick.start();
        });
        pulse.start();
        t.start();
        tick.start();
        const bool printed = preview->printAll();
        const double e = ms(t);
        longestStall = std::max(longestStall, ms(tick));
        pulse.stop();
        out[QStringLiteral("listing_print_ms")] = std::round(e);
        out[QStringLiteral("listing_print_pages")] = preview->pageCount();
        out[QStringLiteral("listing_print_longest_stall_ms")] = std::round(longestStall * 10) / 10;
        if (!printed)
            out[QStringLiteral("error")] = messages.texts().join(u'|');
        preview->close();
        QCoreApplication::processEvents();
    }
    return out;
}

// The window against a registry it must wait for: DAT.db locked for reading and writing by another
// program (or, on a server, table Clientes locked by another session), and a server that does not
// answer at all (the window's server process stopped). OK on a typed card and a code search are
// each timed from the click until the window has refused, with the longest the event loop went
// without running meanwhile (a timer of 5 ms tells).
constexpr qint64 kHeldCards = 1'000;

QJsonObject runHeld(const Options& o) {
    const bool server = o.childServer;
    const int reps = o.quick ? 1 : 3;
    store::FixedClock clock(QDateTime(QDate(2024, 6, 15), QTime(10, 30)));
    ScriptedMessages messages;
    QJsonObject out;
    out[QStringLiteral("cards")] = kHeldCards;
    out[QStringLiteral("engine")] =
        server ? QStringLiteral("postgresql") : QStringLiteral("sqlite");
    Folders f{server ? QString() : registryPath(o, kHeldCards)};
    if (server)
        f.folders.serverUri = schemaUri(o.server, serverSchema(kHeldCards));
    double startup = 0;
    auto w = start(f.folders, messages, clock, &startup);
    if (!w)
        return {{QStringLiteral("error"), messages.texts().join(u'|')}};
    const QString code = w->fieldText(store::Codigo);

    // The click's time until it returns, and the longest pause of the event loop meanwhile.
    const auto watched = [](QPushButton* b, double* longestStall) {
        QElapsedTimer t, tick;
        QTimer pulse;
        pulse.setInterval(5);
        *longestStall = 0;
        QObject::connect(&pulse, &QTimer::timeout, [&] {
            *longestStall = std::max(*longestStall, ms(tick));
            tick.start();
        });
        pulse.start();
        t.start();
        tick.start();
        // A click as the window system delivers it (press and release), so that it begins a
        // command of its own with its whole time, as a user's click does.
        const QPointF at = QPointF(b->rect().center());
        QMouseEvent press(QEvent::MouseButtonPress, at, b->mapToGlobal(at), Qt::LeftButton,
                          Qt::LeftButton, Qt::NoModifier);
        QMouseEvent up(QEvent::MouseButtonRelease, at, b->mapToGlobal(at), Qt::LeftButton,
                       Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(b, &press);
        QApplication::sendEvent(b, &up);
        *longestStall = std::max(*longestStall, ms(tick));
        return ms(t);
    };
    // Holding the registry as another program would; `stop` instead stops the window's own
    // server process, whose connection is then lost (the window is started again afterwards).
    std::unique_ptr<store::PgLink> holder;
    qint64 stopped = -1;
    const auto hold = [&](bool stop) {
        if (stop) {
            (void)w->cardStore()->call([&] {
                QSqlQuery q(w->cardStore()->database());
                if (q.exec(QStringLiteral("SELECT pg_backend_pid()")) && q.next())
                    stopped = q.value(0).toLongLong();
                return store::Status();
            });
            if (stopped > 0)
                ::kill(pid_t(stopped), SIGSTOP);
        } else if (server) {
            holder = serverLink(f.folders.serverUri);
            if (holder) {
                store::SqlReason reason;
                (void)holder->exec(QStringLiteral("BEGIN"), &reason);
                (void)holder->exec(
                    QStringLiteral("LOCK TABLE \"Clientes\" IN ACCESS EXCLUSIVE MODE"), &reason);
            }
        } else {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("retenido"));
            db.setDatabaseName(f.folders.appFile(store::kDatabaseFileName));
            if (db.open())
                QSqlQuery(db).exec(QStringLiteral("BEGIN EXCLUSIVE"));
        }
    };
    const auto release = [&](bool stop) {
        if (stop) {
            if (stopped > 0)
                ::kill(pid_t(stopped), SIGCONT);
            stopped = -1;
            // The connection was cut: a new window, as after a restart of the program.
            w.reset();
            w = start(f.folders, messages, clock, &startup);
        } else if (server) {
            holder.reset();
        } else {
            {
                QSqlDatabase db = QSqlDatabase::database(QStringLiteral("retenido"));
                QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
                db.close();
            }
            QSqlDatabase::removeDatabase(QStringLiteral("retenido"));
        }
        QCoreApplication::processEvents();
    };

    for (const bool stop : {false, true}) {
        if (stop && !server)
            continue;
        const QString kind = stop ? QStringLiteral("stalled_server") : QStringLiteral("held");
        std::vector<double> saveTimes, saveStalls, searchTimes, searchStalls;
        int refused = 0;
        for (int i = 0; i < reps && w; ++i) {
            // OK on a typed card.
            button(*w, "cmdEditar")->click();
            w->setFieldText(store::NombreAnimal, QStringLiteral("Retenido %1").arg(i));
            messages.clear();
            hold(stop);
            double stall = 0;
            saveTimes.push_back(watched(button(*w, "cmdEditar"), &stall));
            saveStalls.push_back(stall);
            refused += messages.boxes.empty() ? 0 : 1;
            release(stop);
            if (w && w->buttonCaption(QStringLiteral("cmdEditar")) == u"&OK")
                button(*w, "cmdSalir")->click();

            // A code search.
            if (!w)
                break;
            button(*w, "cmdBuscar")->click();
            w->findChild<QLineEdit*>(QStringLiteral("Text3"))->setText(code);
            QCoreApplication::processEvents();
            messages.clear();
            hold(stop);
            searchTimes.push_back(watched(button(*w, "btnBuscarOK"), &stall));
            searchStalls.push_back(stall);
            refused += messages.boxes.empty() ? 0 : 1;
            release(stop);
            if (w && button(*w, "btnBuscarFin")->isVisible())
                button(*w, "btnBuscarFin")->click();
        }
        out[kind + QStringLiteral("_save_refused_ms")] = stats(saveTimes);
        out[kind + QStringLiteral("_save_longest_stall_ms")] = stats(saveStalls);
        out[kind + QStringLiteral("_search_refused_ms")] = stats(searchTimes);
        out[kind + QStringLiteral("_search_longest_stall_ms")] = stats(searchStalls);
        out[kind + QStringLiteral("_refusals")] = refused;
    }
    return out;
}

// Fills the history of a registry as ten changes per card would have: an add with the whole
// card, nine edits of one field, and one card in a hundred deleted (the card removed, its
// history row holding it whole). Written by SQL in one transaction, far faster than the saves.
bool fillHistory(const QString& path, QString* error) {
    store::Status status;
    auto cards = store::CardStore::open(path, &status); // makes table Historial
    if (!cards) {
        *error = status.message();
        return false;
    }
    QStringList pairs;
    for (const store::CardField& f : store::cardFields())
        pairs.append(QStringLiteral("'%1', %1").arg(f.name.toString()));
    const QString whole = QStringLiteral("json_object(") + pairs.join(u", ") + u')';
    const QString columns = QStringLiteral("INSERT INTO Historial (cuando, usuario, equipo, "
                                           "accion, codigo, tarjeta, antes, despues) ");
    const QStringList statements = {
        QStringLiteral("BEGIN IMMEDIATE"),
        columns +
            QStringLiteral("SELECT strftime('%Y-%m-%dT%H:%M:%fZ', '2020-01-01', '+' || id "
                           "|| ' seconds'), 'recepcion', 'meson', 'alta', Codigo, id, NULL, ") +
            whole + QStringLiteral(" FROM Clientes ORDER BY id"),
        columns + QStringLiteral(
                      "WITH RECURSIVE k(n) AS (SELECT 1 UNION ALL SELECT n + 1 FROM k WHERE n < 9) "
                      "SELECT strftime('%Y-%m-%dT%H:%M:%fZ', '2021-01-01', '+' || (k.n * 10000000 "
                      "+ id) || ' seconds'), 'recepcion', 'meson', 'modificación', Codigo, id, "
                      "json_object('telefono1', telefono1), json_object('telefono1', telefono1 || "
                      "'-' || k.n) FROM k, Clientes ORDER BY k.n, id"),
        columns +
            QStringLiteral("SELECT strftime('%Y-%m-%dT%H:%M:%fZ', '2024-01-01', '+' || id "
                           "|| ' seconds'), 'recepcion', 'meson', 'baja', Codigo, id, ") +
            whole + QStringLiteral(", NULL FROM Clientes WHERE id % 100 = 0 ORDER BY id"),
        QStringLiteral("DELETE FROM Clientes WHERE id % 100 = 0"),
        QStringLiteral("COMMIT"),
    };
    QSqlQuery q(cards->database());
    for (const QString& sql : statements) {
        if (!q.exec(sql)) {
            *error = q.lastError().text();
            return false;
        }
    }
    return true;
}

QString historyRegistryPath(const Options& o, qint64 cards) {
    return QDir(o.cache).filePath(QStringLiteral("historial-%1-%2.db").arg(cards).arg(kSeed));
}

bool ensureHistoryRegistry(const Options& o, qint64 cards) {
    const QString path = historyRegistryPath(o, cards);
    if (QFileInfo(path).isFile())
        return true;
    if (!ensureRegistry(o, cards))
        return false;
    QElapsedTimer t;
    t.start();
    const QString partial = path + QStringLiteral(".parcial");
    QFile::remove(partial);
    QString error;
    if (!QFile::copy(registryPath(o, cards), partial) || !fillHistory(partial, &error) ||
        !QFile::rename(partial, path)) {
        std::fprintf(stderr, "no se pudo generar %s: %s\n", qUtf8Printable(path),
                     qUtf8Printable(error));
        return false;
    }
    std::fprintf(stderr, "historial de %lld tarjetas generado en %.1f s: %s\n",
                 static_cast<long long>(cards), ms(t) / 1000, qUtf8Printable(path));
    return true;
}

// Both history dialogs opened from the grid's context menu, until shown and painted, and the
// search among the deleted cards.
QJsonObject runHistory(const Options& o) {
    const qint64 cards = o.historyCards;
    const int opens = o.quick ? 20 : 60;
    store::FixedClock clock(QDateTime(QDate(2024, 6, 15), QTime(10, 30)));
    ScriptedMessages messages;
    QJsonObject out;
    out[QStringLiteral("history_cards")] = cards;
    if (!ensureHistoryRegistry(o, cards)) {
        out[QStringLiteral("error")] = QStringLiteral("no se pudo generar el historial");
        return out;
    }
    Folders f{historyRegistryPath(o, cards)};
    double started = 0;
    auto w = start(f.folders, messages, clock, &started);
    if (!w) {
        out[QStringLiteral("error")] = messages.texts().join(u'|');
        return out;
    }
    {
        qint64 rows = -1;
        (void)w->cardStore()->call([&] {
            QSqlQuery q(w->cardStore()->database());
            if (q.exec(QStringLiteral("SELECT count(*) FROM Historial")) && q.next())
                rows = q.value(0).toLongLong();
            return store::Status();
        });
        out[QStringLiteral("history_rows")] = rows;
        out[QStringLiteral("file_mb")] = std::round(
            double(QFileInfo(f.folders.appFile(store::kDatabaseFileName)).size()) / 1048576);
    }
    const auto openDialog = [&](const char* action, const QString& name) {
        QElapsedTimer t;
        t.start();
        w->findChild<QAction*>(QLatin1StringView(action))->trigger();
        QCoreApplication::processEvents();
        const double e = ms(t);
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (top->objectName() == name && top->isVisible()) {
                top->close();
                QCoreApplication::processEvents();
                return e;
            }
        }
        out[QStringLiteral("error")] = QString(QStringLiteral("no se abrió ") + name);
        return e;
    };
    std::mt19937 rng(kSeed);
    std::uniform_int_distribution<int> pickRow(1, std::max(1, w->gridRows() - 1));
    std::vector<double> history, deleted, search;
    for (int i = 0; i < opens; ++i) {
        w->setGridCurrentRow(pickRow(rng));
        QCoreApplication::processEvents();
        history.push_back(openDialog("actHistorial", QStringLiteral("CardHistoryDialog")));
    }
    for (int i = 0; i < std::max(5, opens / 4); ++i)
        deleted.push_back(openDialog("actEliminadas", QStringLiteral("DeletedCardsDialog")));
    // Owners' surnames and code prefixes typed into the open list of deleted cards.
    const QStringList owners =
        sampleValues(*w->cardStore(), store::Propietario, opens / 2, cards, rng);
    const QStringList codes = sampleValues(*w->cardStore(), store::Codigo, opens / 2, cards, rng);
    w->findChild<QAction*>(QStringLiteral("actEliminadas"))->trigger();
    QCoreApplication::processEvents();
    auto* dialog = w->findChild<browse::DeletedCardsDialog*>();
    auto* box =
        dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("txtBuscarEliminada")) : nullptr;
    if (box) {
        QStringList typed;
        for (const QString& owner : owners)
            typed.append(owner.section(u' ', -1));
        for (const QString& code : codes)
            typed.append(code.left(8));
        for (const QString& text : typed) {
            box->setText(text);
            QElapsedTimer t;
            t.start();
            (void)dialog->reload();
            QCoreApplication::processEvents();
            search.push_back(ms(t));
        }
        dialog->close();
    }
    out[QStringLiteral("card_history_open_ms")] = stats(history);
    out[QStringLiteral("deleted_cards_open_ms")] = stats(deleted);
    out[QStringLiteral("deleted_cards_search_ms")] = stats(search);
    out[QStringLiteral("peak_rss_mb")] = peakRssMb();
    return out;
}

QString machine() {
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : info.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromUtf8(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    qint64 memKb = 0;
    QFile mem(QStringLiteral("/proc/meminfo"));
    if (mem.open(QIODevice::ReadOnly))
        memKb = mem.readLine().simplified().split(' ').value(1).toLongLong();
    return QStringLiteral("%1 x %2, %3 GB")
        .arg(QThread::idealThreadCount())
        .arg(cpu)
        .arg(double(memKb) / 1048576.0, 0, 'f', 1);
}

// Start-up as a user meets it: the program itself started as a process on an X server of its
// own (Xvfb), timed from the start of the process until it says that the window with the first
// card is painted.
QJsonObject startupFromOutside(const Options& o) {
    QJsonObject out;
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"),
               {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                QStringLiteral("0"), QStringLiteral("1280x1024x24"), QStringLiteral("-nolisten"),
                QStringLiteral("tcp")});
    if (!xvfb.waitForReadyRead(20'000)) {
        out[QStringLiteral("error")] = QStringLiteral("Xvfb no arrancó");
        return out;
    }
    const QString display = u':' + QString::fromLatin1(xvfb.readAllStandardOutput()).trimmed();
    const int reps = o.quick ? 3 : 7;
    double smallest = 0;
    double empty = 0;
    // Each size over DAT.db, then over the server when one is given (keys "N_postgresql"); first
    // an empty DAT.db (key "vacio"), the reference of every size.
    QList<std::pair<qint64, bool>> runs;
    if (!o.serverOnly)
        runs.append({0, false});
    for (bool server : {false, true}) {
        if ((server && o.server.isEmpty()) || (!server && o.serverOnly))
            continue;
        for (qint64 n : o.sizes)
            runs.append({n, server});
    }
    for (const auto& [n, server] : runs) {
        QTemporaryDir root;
        const QString appDir = root.filePath(QStringLiteral("app"));
        QDir().mkpath(appDir);
        // A portable program: the executable with the master INI and DAT.db beside it.
        const QString program = QDir(appDir).filePath(QStringLiteral("tarjetas"));
        QFile::copy(QStringLiteral(TARJETAS_PROGRAM), program);
        QFile::setPermissions(program, QFile::permissions(QStringLiteral(TARJETAS_PROGRAM)));
        QFile::copy(QStringLiteral(TARJETAS_MASTER_INI),
                    QDir(appDir).filePath(store::kIniFileName));
        QStringList args{QStringLiteral("--data-dir"), root.filePath(QStringLiteral("datos"))};
        if (server)
            args << QStringLiteral("--base-datos") << schemaUri(o.server, serverSchema(n));
        else if (n > 0)
            QFile::copy(registryPath(o, n), QDir(appDir).filePath(store::kDatabaseFileName));
        std::vector<double> times;
        // Without a registry the first start makes the empty DAT.db: not timed.
        for (int i = n > 0 ? 0 : -1; i < reps; ++i) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("DISPLAY"), display);
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
            env.insert(QStringLiteral("TARJETAS_START_PROBE"), QStringLiteral("1"));
            env.insert(QStringLiteral("HOME"), root.path());
            p.setProcessEnvironment(env);
            QElapsedTimer t;
            t.start();
            p.start(program, args);
            QByteArray said;
            while (!said.contains("pintada") && p.state() != QProcess::NotRunning &&
                   ms(t) < 120'000) {
                p.waitForReadyRead(100);
                said += p.readAllStandardOutput();
            }
            const double e = ms(t);
            p.waitForFinished(30'000);
            if (said.contains("pintada") && i >= 0)
                times.push_back(e);
        }
        const QJsonObject st = stats(times);
        const QString key =
            n == 0 ? QStringLiteral("vacio")
                   : QString::number(n) + (server ? QStringLiteral("_postgresql") : QString());
        out[key] = st;
        if (n == 0) {
            empty = times.empty() ? 0 : median(st);
            continue;
        }
        if (empty > 0 && !times.empty())
            out[QStringLiteral("ratio_%1_vs_vacio").arg(key)] =
                std::round(median(st) / empty * 100) / 100;
        if (!times.empty() && smallest == 0)
            smallest = median(st);
        else if (!times.empty())
            out[QStringLiteral("ratio_%1_vs_%2").arg(key).arg(o.sizes.first())] =
                std::round(median(st) / smallest * 100) / 100;
    }
    xvfb.kill();
    xvfb.waitForFinished();
    return out;
}

// A field campaign's registry merged into a registry of `cards` cards: 9,000 new cards and 1,000
// of the registry's own with another owner and telephone, each conflict taking the other's card,
// in one transaction; then the same file again, which writes nothing. The registry is a copy of
// the generated one (a schema of its own on a server), so the cached one stays as it was.
QJsonObject runMerge(const Options& o, qint64 cards) {
    constexpr int kNew = 9'000, kChanged = 1'000;
    QJsonObject r{{QStringLiteral("merge_into_cards"), cards},
                  {QStringLiteral("engine"),
                   o.childServer ? QStringLiteral("postgresql") : QStringLiteral("sqlite")}};
    QTemporaryDir dir(QDir(o.cache).filePath(QStringLiteral("combinar-XXXXXX")));
    store::Registry registry = store::Registry::file(dir.filePath(QStringLiteral("DAT.db")));
    if (o.childServer) {
        const QString schema = QStringLiteral("bench_combinar_%1").arg(cards);
        const QString uri = schemaUri(o.server, schema);
        qint64 copied = 0;
        if (!serverExec(o.server, {QStringLiteral("DROP SCHEMA IF EXISTS %1 CASCADE").arg(schema),
                                   QStringLiteral("CREATE SCHEMA %1").arg(schema)}) ||
            !store::copyToServer(registryPath(o, cards), uri, &copied) ||
            !serverExec(uri, {QStringLiteral("VACUUM ANALYZE \"Clientes\"")}))
            return r;
        registry = store::Registry::server(uri);
    } else if (!QFile::copy(registryPath(o, cards), registry.location())) {
        return r;
    }
    store::Status status;
    auto here = store::CardStore::open(registry, &status);
    if (!here) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(status.message()));
        return r;
    }
    // The changed cards spread over the whole registry.
    std::vector<store::RowId> ids;
    (void)here->rowIds(store::Order::Stored, &ids);
    std::vector<store::RowId> picked;
    for (int i = 0; i < kChanged && !ids.empty(); ++i)
        picked.push_back(ids[size_t(i) * ids.size() / kChanged]);
    std::vector<std::pair<store::RowId, store::Card>> read;
    (void)here->readCards(picked, &read);
    std::vector<store::Card> campaign;
    for (int i = 0; i < kNew; ++i) {
        store::Card c = read.empty() ? store::Card() : read[size_t(i) % read.size()].second;
        c[store::Codigo] = QStringLiteral("9990000%1").arg(i, 8, 10, QLatin1Char('0'));
        campaign.push_back(c);
    }
    for (auto& [id, card] : read) {
        card[store::Propietario] = QStringLiteral("Dueño en terreno %1").arg(id);
        card[store::Telefono1] = QStringLiteral("+56 9 %1").arg(id % 100000000);
        campaign.push_back(card);
    }
    const QString otherPath = dir.filePath(QStringLiteral("operativo.db"));
    {
        auto other = store::CardStore::open(otherPath, &status);
        if (!other || !other->insertCards(campaign, store::WriteReason::Alta))
            return r;
    }
    // The processor time of this process beside the wall time: the machine is shared.
    const auto cpuMs = [] {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
               (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
    };
    const auto mergeOnce = [&](QJsonObject* figures) {
        QElapsedTimer t;
        t.start();
        const double cpu0 = cpuMs();
        merge::MergePlan plan;
        if (const store::Status s = merge::planMerge(*here, otherPath, &plan); !s) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(s.message()));
            return false;
        }
        const double planMs = ms(t);
        for (merge::Conflict& c : plan.conflicts)
            c.choice = merge::Choice::TakeOther;
        std::vector<merge::MergeOutcome> outcomes;
        if (const store::Status s = merge::applyMerge(*here, plan, &outcomes); !s) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(s.message()));
            return false;
        }
        figures->insert(QStringLiteral("compare_ms"), planMs);
        figures->insert(QStringLiteral("write_ms"), ms(t) - planMs);
        figures->insert(QStringLiteral("total_ms"), ms(t));
        figures->insert(QStringLiteral("cpu_ms"), cpuMs() - cpu0);
        figures->insert(QStringLiteral("new"), qint64(plan.added.size()));
        figures->insert(QStringLiteral("conflicts"), qint64(plan.conflicts.size()));
        return true;
    };
    // The machine's load beside the figures: the machine is shared.
    const auto load = [] {
        QFile f(QStringLiteral("/proc/loadavg"));
        return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readAll().trimmed()) : QString();
    };
    r.insert(QStringLiteral("loadavg_before"), load());
    // The backup copy made before a merge into a file, measured apart from the merge.
    if (!o.childServer) {
        store::Folders folders;
        folders.appDir = dir.path();
        folders.dataDir = dir.filePath(QStringLiteral("datos"));
        folders.exportDir = dir.path();
        QElapsedTimer t;
        t.start();
        if (const store::Status s =
                merge::backupBeforeMerge(folders, registry, QDate::currentDate());
            !s) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(s.message()));
            return r;
        }
        r.insert(QStringLiteral("backup_copy_ms"), ms(t));
    }
    QJsonObject first, again;
    if (!mergeOnce(&first) || !mergeOnce(&again))
        return r;
    r.insert(QStringLiteral("loadavg_after"), load());
    r.insert(QStringLiteral("merge_10000"), first);
    r.insert(QStringLiteral("merge_again"), again);
    r.insert(QStringLiteral("cards_after"), here->recordCount());
    if (o.childServer)
        (void)serverExec(
            o.server,
            {QStringLiteral("DROP SCHEMA IF EXISTS bench_combinar_%1 CASCADE").arg(cards)});
    return r;
}

int runChildren(const Options& o, const QString& self) {
    std::printf("{\"machine\": %s}\n", QJsonDocument(QJsonArray{machine()})
                                           .toJson(QJsonDocument::Compact)
                                           .mid(1)
                                           .chopped(1)
                                           .constData());
    std::fflush(stdout);
    const auto child = [&](const QStringList& args) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(self,
                args + (o.quick ? QStringList{QStringLiteral("--quick")} : QStringList{}) +
                    (o.reportOnly ? QStringList{QStringLiteral("--informe")} : QStringList{}) +
                    (o.windowOnly ? QStringList{QStringLiteral("--ventana")} : QStringList{}) +
                    (o.exportOnly ? QStringList{QStringLiteral("--exporta")} : QStringList{}) +
                    QStringList{QStringLiteral("--cache"), o.cache});
        p.waitForFinished(-1);
        std::fputs(p.readAllStandardOutput().constData(), stdout);
        std::fflush(stdout);
        return p.exitCode() == 0 && p.exitStatus() == QProcess::NormalExit;
    };
    // The machine's load with each run: other builds share its two cores.
    const auto load = [] {
        QFile f(QStringLiteral("/proc/loadavg"));
        const QByteArray text = f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
        std::printf("{\"loadavg\": \"%s\"}\n", text.constData());
        std::fflush(stdout);
    };
    bool ok = true;
    for (qint64 n : o.sizes) {
        if (!ensureRegistry(o, n))
            return 1;
        if (!o.serverOnly) {
            load();
            ok = child({QStringLiteral("--size"), QString::number(n)}) && ok;
            if (!o.windowOnly && !o.exportOnly)
                ok = child({QStringLiteral("--merge"), QString::number(n)}) && ok;
        }
        if (!o.server.isEmpty()) {
            if (!ensureServerRegistry(o, n))
                return 1;
            load();
            ok = child({QStringLiteral("--size"), QString::number(n),
                        QStringLiteral("--base-datos"), o.server}) &&
                 ok;
            if (!o.windowOnly && !o.exportOnly)
                ok = child({QStringLiteral("--merge"), QString::number(n),
                            QStringLiteral("--base-datos"), o.server}) &&
                     ok;
        }
    }
    load();
    if (o.reportOnly || o.exportOnly)
        return ok ? 0 : 1;
    if (o.serverOnly || o.windowOnly) {
        const QJsonObject outside{
            {QStringLiteral("startup_from_outside_ms"), startupFromOutside(o)}};
        std::printf("%s\n", QJsonDocument(outside).toJson(QJsonDocument::Compact).constData());
        return ok ? 0 : 1;
    }
    if (!ensureRegistry(o, kListingCards))
        return 1;
    ok = child({QStringLiteral("--listing")}) && ok;
    if (!ensureRegistry(o, kHeldCards))
        return 1;
    ok = child({QStringLiteral("--retenido")}) && ok;
    if (!o.server.isEmpty() && ensureServerRegistry(o, kHeldCards))
        ok = child({QStringLiteral("--retenido"), QStringLiteral("--base-datos"), o.server}) && ok;
    if (o.historyCards > 0) {
        if (!ensureHistoryRegistry(o, o.historyCards))
            return 1;
        ok = child({QStringLiteral("--history"), QString::number(o.historyCards)}) && ok;
    }
    const QJsonObject outside{{QStringLiteral("startup_from_outside_ms"), startupFromOutside(o)}};
    std::printf("%s\n", QJsonDocument(outside).toJson(QJsonDocument::Compact).constData());
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Chile));
    Options o;
    o.cache = QDir(QStandardPaths::writableLocation(QStandardPaths::TempLocation))
                  .filePath(QStringLiteral("tarjetas-bench"));
    const QStringList args = QCoreApplication::arguments();
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        const QString next = i + 1 < args.size() ? args[i + 1] : QString();
        if (a == u"--quick") {
            o.quick = true;
        } else if (a == u"--sizes" && !next.isEmpty()) {
            o.sizes.clear();
            for (const QString& s : next.split(u',')) {
                const QString digits = QString(s).remove(u'_');
                if (digits.toLongLong() > 0)
                    o.sizes.append(digits.toLongLong());
            }
            ++i;
        } else if (a == u"--size" && !next.isEmpty()) {
            o.childSize = next.toLongLong();
            ++i;
        } else if (a == u"--merge" && !next.isEmpty()) {
            o.childMerge = next.toLongLong();
            ++i;
        } else if (a == u"--listing") {
            o.childListing = true;
        } else if (a == u"--retenido") {
            o.childHeld = true;
        } else if (a == u"--history" && !next.isEmpty()) {
            o.childHistory = true;
            o.historyCards = next.toLongLong();
            ++i;
        } else if (a == u"--history-cards" && !next.isEmpty()) {
            o.historyCards = next.toLongLong();
            ++i;
        } else if (a == u"--cache" && !next.isEmpty()) {
            o.cache = next;
            ++i;
        } else if (a == u"--base-datos" && !next.isEmpty()) {
            o.server = next;
            ++i;
        } else if (a == u"--server-only") {
            o.serverOnly = true;
        } else if (a == u"--informe") {
            o.reportOnly = true;
        } else if (a == u"--ventana") {
            o.windowOnly = true;
        } else if (a == u"--exporta") {
            o.exportOnly = true;
        } else {
            std::fprintf(stderr, "uso: bench_tarjetas [--sizes 1000,100000,1000000] [--quick] "
                                 "[--history-cards N] [--cache CARPETA] "
                                 "[--base-datos URI [--server-only]] [--informe] [--ventana] "
                                 "[--exporta]\n");
            return 2;
        }
    }
    if (o.serverOnly && o.server.isEmpty()) {
        std::fprintf(stderr, "--server-only necesita --base-datos URI\n");
        return 2;
    }
    o.childServer = (o.childSize > 0 || o.childMerge > 0 || o.childHeld) && !o.server.isEmpty();
    if (o.childMerge > 0) {
        if (!ensureRegistry(o, o.childMerge))
            return 1;
        const QJsonObject result = runMerge(o, o.childMerge);
        std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
        return result.contains(QStringLiteral("merge_10000")) ? 0 : 1;
    }
    if (o.childListing || o.childHistory || o.childHeld || o.childSize > 0) {
        const QJsonObject result = o.childHeld      ? runHeld(o)
                                   : o.childHistory ? runHistory(o)
                                   : o.childListing ? runListing(o)
                                                    : runSize(o, o.childSize);
        std::printf("%s\n", QJsonDocument(result).toJson(QJsonDocument::Compact).constData());
        return 0;
    }
    return runChildren(o, QCoreApplication::applicationFilePath());
}
