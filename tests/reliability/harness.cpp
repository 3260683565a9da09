// Crash and concurrency harness for the program's save paths.
//
//   reliability_harness crash --kills N [--seed S]   SIGKILLs a child at random moments N times
//   reliability_harness sync [--seed S]              SIGKILLs it before and after every sync of
//                                                    every kind of write (needs the sync shim)
//   reliability_harness concurrent --seconds T       two children edit one DAT.db at once
//   reliability_harness merge --kills N [--seed S]   SIGKILLs the merge of another registry
//   reliability_harness outage --restarts N --stalls M [--stall-seconds S]
//                                                    two children on one server while it is
//                                                    restarted N times (fast and immediate) and
//                                                    its sessions are stopped M times for S s
//
// With TARJETAS_TEST_ENGINE=postgresql, crash and concurrent run on a fresh schema of the
// TARJETAS_TEST_PG server instead of DAT.db.
//
// A child runs the save paths in a loop and reports on its standard output, one JSON line each,
// an operation before it starts ("B", with the cards it will leave) and after the call returned
// ("A" saved, "R" refused with the message shown). The driver keeps the acknowledged operations
// and, after every kill, checks the store and the files against them.

#include "History.h"
#include "MergeKills.h"
#include "Program.h"
#include "TestRegistry.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <dlfcn.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <optional>

using namespace reliability;
using store::Codigo;

namespace {

qint64 monotonicNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

QJsonObject line(std::initializer_list<std::pair<const char*, QJsonValue>> fields) {
    QJsonObject o;
    for (const auto& [key, value] : fields)
        o.insert(QLatin1String(key), value);
    return o;
}

QJsonValue word(const char* text) {
    return QJsonValue(QLatin1String(text));
}

void emitLine(const QJsonObject& o) {
    const QByteArray line = QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
    for (qsizetype at = 0; at < line.size();) {
        const ssize_t n = ::write(1, line.constData() + at, size_t(line.size() - at));
        if (n <= 0)
            _exit(3);
        at += n;
    }
}

QString arg(const QStringList& args, const char* name, const QString& fallback = {}) {
    const qsizetype i = args.indexOf(QString::fromLatin1(name));
    return i >= 0 && i + 1 < args.size() ? args[i + 1] : fallback;
}

const QStringList kKinds{QStringLiteral("add"),    QStringLiteral("copy"),
                         QStringLiteral("edit"),   QStringLiteral("delete"),
                         QStringLiteral("intake"), QStringLiteral("import"),
                         QStringLiteral("export")};
constexpr int kBusyTimeoutMs = 3000;
constexpr int kSkipped = 77; // CTest's SKIP_RETURN_CODE for the harness

// ---------------------------------------------------------------- the child

using Effects = std::vector<std::pair<QString, std::optional<Card>>>;

class Child {
public:
    explicit Child(const QStringList& args)
        : name_(arg(args, "--name", QStringLiteral("K"))), gen_(arg(args, "--seed").toULongLong()),
          p_(arg(args, "--dir"), QDateTime::fromSecsSinceEpoch(arg(args, "--clock").toLongLong()),
             kBusyTimeoutMs, arg(args, "--server")) {}

    int run(const QStringList& args) {
        if (!p_.cards) {
            emitLine(line({{"t", word("F")}, {"m", p_.openStatus.message()}}));
            return 2;
        }
        if (arg(args, "--mode") == u"concurrent")
            return concurrent(arg(args, "--seconds").toInt());
        // A web file left by a killed child is taken in at start, as the program does.
        QFile web(p_.folders.dataFile(store::kWebCardFileName));
        if (web.exists() && web.open(QIODevice::ReadOnly))
            intake(web.readAll());
        const QString armed = arg(args, "--arm");
        if (!armed.isEmpty())
            return syncSweepStep(armed, arg(args, "--n").toInt(), arg(args, "--after") == u"1");
        for (int i = 0; i < 100000; ++i)
            step(pick());
        return 0;
    }

private:
    // Reports the operation, runs it, reports its outcome.
    bool op(const QString& kind, bool atomic, const Effects& fx,
            const std::function<QString()>& body, QJsonObject b = {}) {
        QJsonArray effects;
        for (const auto& [code, card] : fx)
            effects.append(QJsonArray{code, toJson(card ? &*card : nullptr)});
        b.insert(QStringLiteral("t"), QStringLiteral("B"));
        b.insert(QStringLiteral("k"), kind);
        b.insert(QStringLiteral("a"), atomic);
        b.insert(QStringLiteral("fx"), effects);
        const qint64 start = monotonicNs();
        b.insert(QStringLiteral("ns"), start);
        emitLine(b);
        const QString refusal = body();
        const qint64 end = monotonicNs();
        emitLine(line({{"t", word(refusal.isEmpty() ? "A" : "R")},
                       {"m", refusal},
                       {"ns", end},
                       {"ms", double(end - start) / 1e6}}));
        return refusal.isEmpty();
    }

    Cards stored() {
        Cards cards;
        QString error;
        if (!readAll(*p_.cards, &cards, &error)) {
            emitLine(line({{"t", word("F")}, {"m", error}}));
            _exit(2);
        }
        return cards;
    }
    QString newCode() { return QStringLiteral("%1-%2").arg(name_).arg(++serial_); }
    const Card& anyOf(const Cards& cards) {
        return std::next(cards.begin(), gen_.below(int(cards.size())))->second;
    }

    QString pick() {
        const int r = gen_.below(100);
        return r < 30   ? QStringLiteral("add")
               : r < 40 ? QStringLiteral("copy")
               : r < 62 ? QStringLiteral("edit")
               : r < 80 ? QStringLiteral("delete")
               : r < 90 ? QStringLiteral("intake")
               : r < 95 ? QStringLiteral("import")
                        : QStringLiteral("export");
    }

    void intake(const QByteArray& file) {
        Effects fx;
        for (const Card& c : Program::webEffects(file, stored()))
            fx.emplace_back(c[Codigo], c);
        const int records = int(fx.size());
        op(QStringLiteral("intake"), false, fx, [&] { return p_.intake(records); });
    }

    void step(QString kind) {
        const Cards now = stored();
        // Keep the store small so that every check compares it whole.
        if (now.size() > 120 && gen_.below(2))
            kind = QStringLiteral("delete");
        // An empty store has no card to act on, and its export is refused for want of data.
        if (now.empty() && kind != u"add" && kind != u"intake" && kind != u"import")
            kind = QStringLiteral("add");
        // The program refuses --import-mdb on a server registry: the DAT.MDB import is the file's.
        if (kind == u"import" && !p_.folders.serverUri.isEmpty())
            kind = QStringLiteral("add");
        if (kind == u"add") {
            const Card c = gen_.typed(newCode());
            op(kind, true, {{c[Codigo], c}}, [&] { return p_.add(c); });
        } else if (kind == u"copy") {
            const Card c = gen_.typed(newCode());
            op(kind, true, {{c[Codigo], c}}, [&] { return p_.copy(anyOf(now), c); });
        } else if (kind == u"edit") {
            const Card& shown = anyOf(now);
            const Card c = gen_.typed(shown[Codigo]);
            op(kind, true, {{c[Codigo], c}}, [&] { return p_.edit(shown, c); });
        } else if (kind == u"delete") {
            const Card& shown = anyOf(now);
            op(kind, true, {{shown[Codigo], std::nullopt}}, [&] { return p_.remove(shown); });
        } else if (kind == u"intake") {
            std::vector<Card> web;
            for (int i = 1 + gen_.below(2); i > 0; --i)
                web.push_back(gen_.typed(!now.empty() && gen_.below(3) == 0 ? anyOf(now)[Codigo]
                                                                            : newCode()));
            const QByteArray bytes = Program::webFile(web);
            if (web.front()[Codigo] == web.back()[Codigo] && web.size() > 1)
                return; // one code twice: what lands depends on the order, not worth a case
            if (!p_.dropWebFile(bytes)) {
                emitLine(
                    line({{"t", word("F")}, {"m", QStringLiteral("cannot write the web file")}}));
                _exit(2);
            }
            intake(bytes);
        } else if (kind == u"import") {
            std::vector<Card> rows;
            Effects fx;
            for (int i = 1 + gen_.below(3); i > 0; --i) {
                rows.push_back(gen_.typed(newCode()));
                fx.emplace_back(rows.back()[Codigo], rows.back());
            }
            op(kind, true, fx, [&] { return p_.import(rows); });
        } else {
            const auto exportKind =
                gen_.below(2) ? output::ExportKind::Complete : output::ExportKind::WithoutOwner;
            // The file is named by the clock of the command, which advances a second first.
            const QString file = output::exportFileName(exportKind, p_.clock.now().addSecs(1));
            op(
                kind, true, {},
                [&] {
                    QString path;
                    return p_.exportCsv(exportKind, &path);
                },
                line({{"file", file}, {"lines", qint64(now.size()) + 1}}));
        }
    }

    // One operation of the kind with the sync shim armed: the shim stops the child at the Nth
    // sync, before or after it, for the driver to kill it there.
    int syncSweepStep(const QString& kind, int n, bool after) {
        using Arm = void (*)(int, int);
        using Count = int (*)();
        const auto arm = reinterpret_cast<Arm>(dlsym(RTLD_DEFAULT, "tarjetas_sync_arm"));
        const auto count = reinterpret_cast<Count>(dlsym(RTLD_DEFAULT, "tarjetas_sync_count"));
        if (!arm || !count) {
            emitLine(
                line({{"t", word("F")}, {"m", QStringLiteral("the sync shim is not preloaded")}}));
            return 2;
        }
        if (stored().empty())
            step(QStringLiteral("add"));
        if (kind == u"intake") {
            // The file arrives before the write under test starts.
            const QByteArray bytes =
                Program::webFile({gen_.typed(newCode()), gen_.typed(anyOf(stored())[Codigo])});
            if (!p_.dropWebFile(bytes))
                return 2;
            arm(n, after);
            intake(bytes);
        } else {
            arm(n, after);
            step(kind);
        }
        emitLine(line({{"t", word("Y")}, {"syncs", count()}}));
        return 0;
    }

    // Adds, edits and deletes codes of a small pool shared with another child, from a view of
    // the store that is a few commands old, as a window's would be.
    int concurrent(int seconds) {
        const qint64 end = monotonicNs() + qint64(seconds) * 1000000000;
        Cards view;
        for (int i = 0; monotonicNs() < end; ++i) {
            if (i % 3 == 0) {
                // While a server is away the window keeps what it showed and says why; the
                // commands go on from that view and are refused until it is back.
                Cards now;
                QString error;
                if (readAll(*p_.cards, &now, &error))
                    view = std::move(now);
                else if (!error.contains(u"servidor"))
                    stored(); // reports the failure and ends
                else
                    QThread::msleep(100);
            }
            const int r = gen_.below(100);
            if (r < 35 || view.empty()) {
                const Card c = gen_.typed(QStringLiteral("P%1").arg(gen_.below(10)));
                op(QStringLiteral("add"), true, {{c[Codigo], c}}, [&] { return p_.add(c); });
            } else if (r < 70) {
                const Card shown = anyOf(view);
                const Card c = gen_.typed(shown[Codigo]);
                op(QStringLiteral("edit"), true, {{c[Codigo], c}},
                   [&] { return p_.edit(shown, c); });
            } else {
                const Card shown = anyOf(view);
                op(QStringLiteral("delete"), true, {{shown[Codigo], std::nullopt}},
                   [&] { return p_.remove(shown); });
            }
        }
        return 0;
    }

    QString name_;
    Generator gen_;
    Program p_;
    int serial_ = 0;
};

// ---------------------------------------------------------------- the driver

struct Op {
    QString kind;
    bool atomic = true;
    Effects fx;
    QString file; // an export's final name
    qint64 lines = 0;
    qint64 begun = 0, ended = 0;
    bool acked = false;
    QString refusal;
    double ms = 0;
};

// A started child and what it reported.
class Run {
public:
    Run(const QStringList& args, bool shim) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (shim) {
            env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(TARJETAS_SYNC_SHIM));
            // The sanitizer runtime wants to come first among the preloaded libraries.
            env.insert(QStringLiteral("ASAN_OPTIONS"),
                       env.value(QStringLiteral("ASAN_OPTIONS")) +
                           QStringLiteral(":verify_asan_link_order=0"));
        }
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QCoreApplication::applicationFilePath(),
                QStringList{QStringLiteral("child")} + args);
        p.waitForStarted();
    }
    // Reads what the child wrote, waiting up to `ms` for something; false once it has ended.
    bool pump(int ms) {
        if (p.state() == QProcess::NotRunning)
            return false;
        p.waitForReadyRead(ms);
        parse(p.readAllStandardOutput());
        return p.state() != QProcess::NotRunning;
    }
    void kill() {
        p.kill();
        finish();
    }
    void finish() {
        p.waitForFinished(60000);
        parse(p.readAllStandardOutput());
    }
    int acked() const {
        return int(std::count_if(ops.begin(), ops.end(), [](const Op& o) { return o.acked; }));
    }

    QProcess p;
    std::vector<Op> ops;
    bool stopped = false; // the shim stopped the child at the armed sync
    int syncs = -1;
    QStringList failures;

private:
    void parse(const QByteArray& bytes) {
        buffer_ += bytes;
        for (qsizetype nl; (nl = buffer_.indexOf('\n')) >= 0; buffer_.remove(0, nl + 1)) {
            const QByteArray line = buffer_.left(nl);
            if (line == "S") {
                stopped = true;
                continue;
            }
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            const QString t = o.value(QStringLiteral("t")).toString();
            if (t == u"B") {
                Op op;
                op.kind = o.value(QStringLiteral("k")).toString();
                op.atomic = o.value(QStringLiteral("a")).toBool();
                op.file = o.value(QStringLiteral("file")).toString();
                op.lines = o.value(QStringLiteral("lines")).toInteger();
                op.begun = o.value(QStringLiteral("ns")).toInteger();
                for (const QJsonValue& e : o.value(QStringLiteral("fx")).toArray()) {
                    const QJsonArray pair = e.toArray();
                    std::optional<Card> card;
                    if (pair.at(1).isArray())
                        card = cardFromJson(pair.at(1).toArray());
                    op.fx.emplace_back(pair.at(0).toString(), card);
                }
                ops.push_back(op);
            } else if ((t == u"A" || t == u"R") && !ops.empty()) {
                Op& op = ops.back();
                op.acked = t == u"A";
                op.refusal = o.value(QStringLiteral("m")).toString();
                op.ended = o.value(QStringLiteral("ns")).toInteger();
                op.ms = o.value(QStringLiteral("ms")).toDouble();
            } else if (t == u"Y") {
                syncs = o.value(QStringLiteral("syncs")).toInt();
            } else if (t == u"F") {
                failures.append(o.value(QStringLiteral("m")).toString());
            }
        }
    }
    QByteArray buffer_;
};

bool ended(const Op& op) {
    return op.acked || !op.refusal.isEmpty();
}

// The history of a card must be one unbroken chain: each row written over the values the row
// before it left (an add over no card, a change or delete over the card as stored), ending at the
// card stored now. A write recorded that never reached the card, or one that wrote over values it
// never read, breaks it.
void checkHistory(store::CardStore& cards, const QString& code, const Card* stored,
                  QStringList* failures) {
    std::vector<store::HistoryEntry> entries;
    if (const store::Status s = store::History(cards).forCode(code, 1000000, &entries); !s) {
        failures->append(
            QStringLiteral("the history of %1 cannot be read: %2").arg(code, s.message()));
        return;
    }
    std::optional<Card> state;
    const auto held = [](const auto& values) {
        return std::any_of(values.begin(), values.end(), [](const auto& v) { return bool(v); });
    };
    for (auto e = entries.rbegin(); e != entries.rend(); ++e) {
        const bool over = held(e->before);
        if (over != state.has_value()) {
            failures->append(QStringLiteral("history of %1: row %2 (%3) is written over %4")
                                 .arg(code)
                                 .arg(e->id)
                                 .arg(e->what, state
                                                   ? QStringLiteral("no card, yet one is stored")
                                                   : QStringLiteral("a card that is not stored")));
            return;
        }
        for (int i = 0; over && i < store::kFieldCount; ++i) {
            const Field f = static_cast<Field>(i);
            if (e->before[f] &&
                (e->before[f]->isNull() != (*state)[f].isNull() || *e->before[f] != (*state)[f])) {
                failures->append(QStringLiteral("history of %1: row %2 (%3) holds as before "
                                                "another %4 than the card had")
                                     .arg(code)
                                     .arg(e->id)
                                     .arg(e->what, store::cardFields()[i].name.toString()));
                return;
            }
        }
        if (!held(e->after)) {
            state.reset();
            continue;
        }
        Card next = state.value_or(Card());
        for (int i = 0; i < store::kFieldCount; ++i)
            if (e->after[i])
                next[static_cast<Field>(i)] = *e->after[i];
        state = next;
    }
    if (state.has_value() != (stored != nullptr) || (stored && !sameCard(*state, *stored)))
        failures->append(QStringLiteral("history of %1 does not end at the stored card").arg(code));
}

// What the driver knows: the cards every acknowledged operation left, and the exports named.
class Driver {
public:
    // `serverUri`: the children's registry is that PostgreSQL database instead of DAT.db.
    Driver(quint64 seed, const QString& serverUri)
        : gen_(seed), dir_(QDir::tempPath() + QStringLiteral("/tarjetas-crash-XXXXXX")),
          serverUri_(serverUri) {
        // The children's sessions carry a name of their own, so that a check can wait for the
        // server to end the session of a killed child (and its transaction) before it reads.
        if (!serverUri_.isEmpty())
            childServerUri_ = serverUri_ + QStringLiteral("&application_name=tarjetas_crash_%1")
                                               .arg(QCoreApplication::applicationPid());
        dir_.setAutoRemove(!qEnvironmentVariableIsSet("TARJETAS_KEEP"));
        // The program's folders are there before it starts, as the executable's folder always
        // is: a kill before the first child made them must not read as a lost store.
        const store::Folders folders = foldersIn(dir_.path());
        for (const QString& folder : {folders.appDir, folders.dataDir, folders.exportDir})
            QDir().mkpath(folder);
    }

    QStringList childArgs() {
        ++runs_;
        return {QStringLiteral("--dir"),    dir_.path(),
                QStringLiteral("--name"),   QStringLiteral("K%1").arg(runs_),
                QStringLiteral("--seed"),   QString::number(gen_.rng()),
                QStringLiteral("--clock"),  QString::number(1900000000LL + qint64(runs_) * 1000000),
                QStringLiteral("--server"), childServerUri_};
    }

    // One child killed at a random moment: a random time after its start, or a moment after
    // it announced or finished its k-th operation (inside or just after a transaction).
    void randomKill() {
        Run run(childArgs(), false);
        const int how = gen_.below(3);
        const int k = 1 + gen_.below(8);
        QElapsedTimer t;
        t.start();
        const int after = gen_.below(300);
        while (run.pump(5) && t.elapsed() < 20000) {
            if ((how == 0 && t.elapsed() >= after) || (how == 1 && int(run.ops.size()) >= k) ||
                (how == 2 && run.acked() >= k))
                break;
        }
        if (how != 0)
            QThread::usleep(gen_.below(how == 1 ? 4000 : 1500));
        if (run.p.state() == QProcess::NotRunning)
            failures_.append(QStringLiteral("run %1: the child ended by itself").arg(runs_));
        run.kill();
        check(run);
    }

    // For each kind of write, kills the child right before and right after its Nth sync, for
    // every N the write makes.
    void syncSweep() {
        for (const QString& kind : kKinds) {
            int syncs = 0;
            for (int after = 0; after < 2; ++after) {
                for (int n = 1; n < 40; ++n) {
                    Run run(childArgs() + QStringList{QStringLiteral("--arm"), kind,
                                                      QStringLiteral("--n"), QString::number(n),
                                                      QStringLiteral("--after"),
                                                      QString::number(after)},
                            true);
                    QElapsedTimer t;
                    t.start();
                    while (!run.stopped && run.pump(20) && t.elapsed() < 30000) {
                    }
                    if (run.stopped) {
                        run.kill();
                        check(run);
                        continue;
                    }
                    run.finish();
                    check(run, false);
                    if (run.syncs < 0)
                        failures_.append(QStringLiteral("%1: the child did not finish").arg(kind));
                    syncs = std::max(syncs, run.syncs);
                    break;
                }
            }
            printf("  %-7s %d syncs per write\n", qPrintable(kind), syncs);
            fflush(stdout);
            if (syncs == 0 && kind != u"export")
                failures_.append(QStringLiteral("%1 made no sync: is the shim working?").arg(kind));
        }
    }

    // After a kill (or a finished run): the store is sound and holds exactly what was
    // acknowledged, with the operation in flight either whole or absent.
    void check(Run& run, bool killed = true) {
        kills_ += killed;
        const int before = int(failures_.size());
        const auto fail = [&](const QString& what) {
            failures_.append(QStringLiteral("run %1: %2").arg(runs_).arg(what));
        };
        for (const QString& f : run.failures)
            fail(QStringLiteral("child failed: ") + f);
        const Op* inFlight = nullptr;
        for (const Op& op : run.ops) {
            if (!op.refusal.isEmpty())
                fail(QStringLiteral("%1 refused: %2").arg(op.kind, op.refusal));
            if (op.acked) {
                ++acked_;
                for (const auto& [code, card] : op.fx)
                    card ? void(model_[code] = *card) : void(model_.erase(code));
            } else if (!ended(op)) {
                inFlight = &op;
            }
            if (!op.file.isEmpty())
                exports_[op.file] = op.lines;
        }

        store::Status status;
        auto cards = store::CardStore::open(
            serverUri_.isEmpty()
                ? store::Registry::file(foldersIn(dir_.path()).appFile(store::kDatabaseFileName))
                : store::Registry::server(serverUri_),
            &status);
        Cards found;
        QString error;
        if (!cards) {
            fail(QStringLiteral("the store does not open: ") + status.message());
        } else if (!serverUri_.isEmpty() && !childSessionEnded(*cards)) {
            fail(QStringLiteral("the server kept the killed child's session for 10 s"));
        } else if (const QString ok = integrity(*cards); ok != u"ok") {
            fail(QStringLiteral("integrity_check: ") + ok);
        } else if (!readAll(*cards, &found, &error)) {
            fail(error);
        } else {
            QStringList codes, broken;
            for (const auto& m : {model_, found})
                for (const auto& [code, card] : m)
                    codes.append(code);
            if (inFlight)
                for (const auto& [code, card] : inFlight->fx)
                    codes.append(code);
            codes.removeDuplicates();
            for (const QString& code : codes) {
                const auto f = found.find(code);
                checkHistory(*cards, code, f == found.end() ? nullptr : &f->second, &broken);
            }
            for (const QString& b : broken)
                fail(b);
        }
        cards.reset();

        std::map<QString, const std::optional<Card>*> flying;
        if (inFlight)
            for (const auto& [code, card] : inFlight->fx)
                flying[code] = &card;
        const auto same = [](const Card* a, const Card* b) {
            return a && b ? sameCard(*a, *b) : a == b;
        };
        int landed = 0, notLanded = 0;
        QStringList codes;
        for (const auto& m : {model_, found})
            for (const auto& [code, card] : m)
                codes.append(code);
        for (const auto& [code, card] : flying)
            codes.append(code);
        codes.removeDuplicates();
        for (const QString& code : codes) {
            const auto m = model_.find(code);
            const auto f = found.find(code);
            const Card* expected = m == model_.end() ? nullptr : &m->second;
            const Card* got = f == found.end() ? nullptr : &f->second;
            const bool asBefore = same(got, expected);
            const auto fly = flying.find(code);
            if (fly == flying.end()) {
                if (!asBefore)
                    fail(QStringLiteral("card %1 is %2, acknowledged %3")
                             .arg(code,
                                  got ? QStringLiteral("stored differently")
                                      : QStringLiteral("missing"),
                                  expected ? QStringLiteral("as saved")
                                           : QStringLiteral("as deleted")));
                continue;
            }
            const bool asAfter = same(got, *fly->second ? &**fly->second : nullptr);
            if (!asBefore && !asAfter)
                fail(QStringLiteral("card %1 of the %2 in flight is half-written")
                         .arg(code, inFlight->kind));
            landed += asAfter && !asBefore;
            notLanded += asBefore && !asAfter;
        }
        if (inFlight && inFlight->atomic && landed > 0 && notLanded > 0)
            fail(QStringLiteral("the %1 in flight landed in part").arg(inFlight->kind));
        const store::Folders folders = foldersIn(dir_.path());
        if (inFlight && inFlight->kind == u"intake" && notLanded > 0 &&
            !QFileInfo::exists(folders.dataFile(store::kWebCardFileName)))
            fail(QStringLiteral("CLIENTE.TLV is gone but its cards are not stored"));
        if (!QDir(folders.dataDir).entryList({QStringLiteral("*.rechazado")}).isEmpty())
            fail(QStringLiteral("a sound web file was set aside"));
        inFlightLanded_ += landed > 0;
        inFlightLost_ += inFlight && landed == 0;
        checkExports(folders.exportDir, fail);

        if (int(failures_.size()) == before) {
            survived_ += killed;
            found_ += run.acked();
        }
        model_ = found; // the next child starts from what is stored
    }

    // A killed child's session ends when the server notices: a statement it was running (a
    // COMMIT among them) still finishes, and only then is what it left final.
    bool childSessionEnded(const store::CardStore& cards) const {
        QSqlQuery q(cards.database());
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            if (!q.exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE "
                                       "application_name = 'tarjetas_crash_%1'")
                            .arg(QCoreApplication::applicationPid())) ||
                !q.next())
                return false;
            if (q.value(0).toLongLong() == 0)
                return true;
            q.finish();
            QThread::msleep(5);
        }
        return false;
    }

    template <typename Fail> void checkExports(const QString& dir, const Fail& fail) {
        for (const QFileInfo& f : QDir(dir).entryInfoList(QDir::Files)) {
            if (!f.fileName().endsWith(u".CSV")) {
                ++leftovers_; // a temporary file of a killed export, never under the final name
            } else if (!exports_.contains(f.fileName())) {
                fail(QStringLiteral("unexpected export ") + f.fileName());
            } else {
                QFile file(f.filePath());
                file.open(QIODevice::ReadOnly);
                const QByteArray bytes = file.readAll();
                const auto kind = f.fileName().contains(u"Completos")
                                      ? output::ExportKind::Complete
                                      : output::ExportKind::WithoutOwner;
                if (!bytes.startsWith(output::csvHeader(kind)) || !bytes.endsWith("\r\n") ||
                    bytes.count("\r\n") != exports_[f.fileName()])
                    fail(QStringLiteral("export %1 is truncated (%2 bytes)")
                             .arg(f.fileName())
                             .arg(bytes.size()));
                ++exportsChecked_;
            }
            QFile::remove(f.filePath());
        }
    }

    int report() const {
        printf("kills: %d made, %d survived (store and files checked after each; %d runs)\n",
               kills_, survived_, runs_);
        printf("operations: %d acknowledged, %d found as acknowledged\n", acked_, found_);
        printf("in flight at a kill: %d landed whole, %d absent; %d exports checked, %d "
               "temporary files left by killed exports\n",
               inFlightLanded_, inFlightLost_, exportsChecked_, leftovers_);
        for (const QString& f : failures_.mid(0, 20))
            printf("FAIL %s\n", qPrintable(f));
        return failures_.isEmpty() ? 0 : 1;
    }

    Generator gen_;
    QTemporaryDir dir_;
    Cards model_;
    std::map<QString, qint64> exports_;
    QString serverUri_, childServerUri_;
    QStringList failures_;
    int runs_ = 0, kills_ = 0, survived_ = 0, acked_ = 0, found_ = 0;
    int inFlightLanded_ = 0, inFlightLost_ = 0, exportsChecked_ = 0, leftovers_ = 0;
};

// What the outage run does to the server under the two children: restarts (alternately fast and
// immediate) and stalls of the children's sessions (SIGSTOP, then SIGCONT after a while), each
// after a few seconds of normal work, and what each left to check: both children must save
// again after every event, without being restarted.
class Outage {
public:
    enum Event { FastRestart, ImmediateRestart, Stall };

    Outage(const QString& serverUri, int restarts, int stalls, int stallSeconds)
        : stallMs_(stallSeconds * 1000) {
        // The test cluster listens on a socket in its own folder, beside its data.
        const QString host = QUrl::fromPercentEncoding(
            serverUri.section(u'@', 1).section(u'/', 0, 0).section(u'?', 0, 0).toUtf8());
        data_ = host + QStringLiteral("/data");
        for (const QString& dir : QDir(QStringLiteral("/usr/lib/postgresql")).entryList(QDir::Dirs))
            if (QFile::exists(QStringLiteral("/usr/lib/postgresql/%1/bin/pg_ctl").arg(dir)))
                pgCtl_ = QStringLiteral("/usr/lib/postgresql/%1/bin/pg_ctl").arg(dir);
        for (int i = 0; i < std::max(restarts, stalls); ++i) {
            if (i < restarts)
                plan_.push_back(i % 2 == 0 ? Event::FastRestart : Event::ImmediateRestart);
            if (i < stalls)
                plan_.push_back(Event::Stall);
        }
        clock_.start();
    }
    bool usable(QString* why) const {
        *why = !QFile::exists(data_ + QStringLiteral("/PG_VERSION"))
                   ? QStringLiteral("the test server's data folder is not at ") + data_
               : pgCtl_.isEmpty() ? QStringLiteral("pg_ctl was not found")
                                  : QString();
        return why->isEmpty();
    }
    // The seconds the children must run for the whole plan.
    int seconds() const {
        // A restart takes a few seconds on a loaded machine; the children go on a while after
        // the last event, so that each can be seen saving again.
        int ms = 0;
        for (Event e : plan_)
            ms += kWorkMs + (e == Event::Stall ? stallMs_ + 2000 : 6000);
        return ms / 1000 + 15;
    }
    // Runs the next event once its time came; false when the plan is done.
    bool tick() {
        if (next_ >= plan_.size())
            return false;
        if (clock_.elapsed() < due_)
            return true;
        const Event e = plan_[next_++];
        const qint64 start = monotonicNs();
        if (e == Event::Stall)
            stall();
        else
            restart(e == Event::FastRestart ? "fast" : "immediate");
        done_.push_back({e, start, monotonicNs()});
        due_ = clock_.elapsed() + kWorkMs;
        return true;
    }
    struct Done {
        Event event;
        qint64 begun, ended;
    };
    const std::vector<Done>& done() const { return done_; }
    // Whether an operation waited through an event (its time is then the event's).
    bool overlaps(qint64 begun, qint64 ended) const {
        return std::any_of(done_.begin(), done_.end(),
                           [&](const Done& d) { return begun <= d.ended && ended >= d.begun; });
    }
    QStringList failures;
    static constexpr int kWorkMs = 2500;

private:
    int run(QStringList command) {
        if (geteuid() == 0)
            command = QStringList{QStringLiteral("-u"), QStringLiteral("postgres"),
                                  QStringLiteral("--")} +
                      command;
        const QString program = geteuid() == 0 ? QStringLiteral("runuser") : command.takeFirst();
        return QProcess::execute(program, command);
    }
    void restart(const char* mode) {
        // The server's output goes to its log: it must not hold this run's output open.
        if (run({pgCtl_, QStringLiteral("-D"), data_, QStringLiteral("-l"),
                 data_ + QStringLiteral("/../server.log"), QStringLiteral("-m"),
                 QString::fromLatin1(mode), QStringLiteral("-w"), QStringLiteral("-t"),
                 QStringLiteral("60"), QStringLiteral("restart")}) != 0)
            failures.append(
                QStringLiteral("pg_ctl restart -m %1 failed").arg(QLatin1StringView(mode)));
    }
    // The children's sessions, found by the name their connections carry.
    void stall() {
        QStringList pids;
        {
            QSqlDatabase db = store::addRegistryConnection(
                store::Registry::server(test_registry::serverUri()), QStringLiteral("outage"));
            QSqlQuery q(db);
            if (db.open() &&
                q.exec(QStringLiteral("SELECT pid FROM pg_stat_activity WHERE application_name "
                                      "LIKE 'tarjetas_outage_%1_%%'")
                           .arg(QCoreApplication::applicationPid())))
                while (q.next())
                    pids.append(q.value(0).toString());
            q.finish();
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("outage"));
        if (pids.isEmpty()) {
            failures.append(QStringLiteral("no session of the children to stall"));
            return;
        }
        QProcess::execute(QStringLiteral("kill"), QStringList{QStringLiteral("-STOP")} + pids);
        stalled_ = pids;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < stallMs_) {
            if (pump_)
                pump_();
            QThread::msleep(20);
        }
        QProcess::execute(QStringLiteral("kill"), QStringList{QStringLiteral("-CONT")} + pids);
    }

public:
    std::function<void()> pump_; // reads the children's reports while a stall lasts

private:
    QString data_, pgCtl_;
    int stallMs_;
    std::vector<Event> plan_;
    size_t next_ = 0;
    qint64 due_ = kWorkMs;
    QElapsedTimer clock_;
    std::vector<Done> done_;
    QStringList stalled_;
};

// Two children on one store. Every operation ends, either saved or refused with its message,
// within the busy timeout and a second; the store ends as the acknowledged operations left it,
// and its history tells every acknowledged write. `serverUri`: the store is that PostgreSQL
// database, where writes to other cards never wait and a card another child is writing is
// waited for, so that no write is ever refused as busy.
int concurrent(int seconds, quint64 seed, const QString& serverUri, Outage* outage = nullptr) {
    QTemporaryDir dir;
    {
        // Creates the store before both start.
        const Program first(dir.path(), QDateTime::currentDateTime(), kBusyTimeoutMs, serverUri);
        if (!first.cards) {
            printf("FAIL the store does not open: %s\n", qPrintable(first.openStatus.message()));
            return 1;
        }
    }
    std::vector<std::unique_ptr<Run>> runs;
    for (int i = 0; i < 2; ++i) {
        // Under an outage each child's sessions carry a name, so that they can be stopped.
        const QString uri = outage ? serverUri + (serverUri.contains(u'?') ? u'&' : u'?') +
                                         QStringLiteral("application_name=tarjetas_outage_%1_%2")
                                             .arg(QCoreApplication::applicationPid())
                                             .arg(i)
                                   : serverUri;
        runs.push_back(std::make_unique<Run>(
            QStringList{
                QStringLiteral("--mode"), QStringLiteral("concurrent"), QStringLiteral("--dir"),
                dir.path(), QStringLiteral("--seed"), QString::number(seed + quint64(i)),
                QStringLiteral("--seconds"), QString::number(seconds), QStringLiteral("--clock"),
                QString::number(1900000000LL + i * 1000000), QStringLiteral("--server"), uri},
            false));
    }
    if (outage)
        outage->pump_ = [&] {
            for (auto& r : runs)
                r->pump(0);
        };
    for (bool running = true; running;) {
        running = false;
        for (auto& r : runs)
            running = r->pump(50) || running;
        if (outage)
            outage->tick();
    }
    QStringList failures;
    std::map<QString, int> refusals;
    int acked = 0;
    double longest = 0;
    std::map<QString, std::vector<const Op*>> byCode;
    std::map<QString, std::vector<std::pair<int, const Op*>>> everyOp; // for a failure's account
    for (auto& r : runs) {
        r->finish();
        for (const Op& op : r->ops)
            if (!op.fx.empty())
                everyOp[op.fx.front().first].emplace_back(int(&r - runs.data()), &op);
        failures += r->failures;
        if (r->p.exitCode() != 0)
            failures.append(QStringLiteral("a child ended with status %1").arg(r->p.exitCode()));
        for (const Op& op : r->ops) {
            longest = std::max(longest, op.ms);
            if (!ended(op))
                failures.append(QStringLiteral("a %1 never came back").arg(op.kind));
            else if (op.acked) {
                ++acked;
                byCode[op.fx.front().first].push_back(&op);
            } else if (serverUri.isEmpty() &&
                       op.refusal.contains(u"otro programa tiene el archivo ocupado"))
                ++refusals[QStringLiteral("ocupado")];
            else if (op.refusal == u"Codigo Repetido\r\nReintente..." ||
                     op.refusal == u" ! Registro No Encontrado !" ||
                     op.refusal == u" ! Item No Encontrado !")
                ++refusals[op.refusal.simplified()];
            else if (op.refusal.startsWith(u"Otro programa modificó esta tarjeta"))
                // The window showed an older version and its user answered No to overwriting.
                ++refusals[QStringLiteral("modificada por otro programa")];
            else if (outage && op.refusal.contains(u"servidor"))
                ++refusals[QStringLiteral("sin servidor")];
            else if (outage && op.refusal.contains(u"ocupado") &&
                     outage->overlaps(op.begun, op.ended))
                // A stopped session holds its row locks until it goes on.
                ++refusals[QStringLiteral("ocupado durante una detención")];
            else
                failures.append(QStringLiteral("%1 refused with an unexpected message: %2")
                                    .arg(op.kind, op.refusal));
            if (op.ms > kBusyTimeoutMs + 1000 && !(outage && outage->overlaps(op.begun, op.ended)))
                failures.append(QStringLiteral("a %1 waited %2 ms").arg(op.kind).arg(op.ms));
        }
    }
    if (outage) {
        failures += outage->failures;
        // Each child saved again after every event, before the next one (or the end).
        const auto& done = outage->done();
        for (size_t e = 0; e < done.size(); ++e) {
            const qint64 until =
                e + 1 < done.size() ? done[e + 1].begun : std::numeric_limits<qint64>::max();
            for (size_t c = 0; c < runs.size(); ++c)
                if (std::none_of(runs[c]->ops.begin(), runs[c]->ops.end(), [&](const Op& op) {
                        return op.acked && op.begun > done[e].ended && op.ended < until;
                    }))
                    failures.append(
                        QStringLiteral("child %1 saved nothing after event %2").arg(c).arg(e + 1));
        }
        printf("%zu events on the server (restarts and stalls)\n", done.size());
    }
    Program program(dir.path(), QDateTime::currentDateTime(), kBusyTimeoutMs, serverUri);
    Cards found;
    QString error;
    if (!program.cards)
        error = program.openStatus.message();
    else if (const QString sound = integrity(*program.cards); sound != u"ok")
        error = sound;
    if (!error.isEmpty() || !readAll(*program.cards, &found, &error))
        failures.append(QStringLiteral("the store is not sound: ") + error);
    // The last write to a code is one no other acknowledged write to it began after it ended;
    // the stored card must be what one of those left.
    for (int k = 0; k < 10; ++k) {
        const QString code = QStringLiteral("P%1").arg(k);
        const auto f = found.find(code);
        const std::vector<const Op*>& ops = byCode[code];
        bool matched = ops.empty() && f == found.end();
        for (const Op* op : ops) {
            const bool last = std::none_of(ops.begin(), ops.end(),
                                           [&](const Op* o) { return o->begun > op->ended; });
            const std::optional<Card>& left = op->fx.front().second;
            if (last && (left ? f != found.end() && sameCard(*left, f->second) : f == found.end()))
                matched = true;
        }
        if (!matched) {
            failures.append(
                QStringLiteral("card %1 is not what the last acknowledged write left").arg(code));
            // The operations on the code, in the order they began, and what is stored.
            const auto digest = [](const Card* c) {
                if (!c)
                    return QStringLiteral("(none)");
                QCryptographicHash h(QCryptographicHash::Sha1);
                for (const QString& v : *c)
                    h.addData((v.isNull() ? QStringLiteral("<null>") : v + u'|').toUtf8());
                return QString::fromLatin1(h.result().toHex().left(8));
            };
            auto ops = everyOp[code];
            std::sort(ops.begin(), ops.end(), [](const auto& a, const auto& b) {
                return a.second->begun < b.second->begun;
            });
            const qint64 t0 = ops.empty() ? 0 : ops.front().second->begun;
            for (const auto& [child, op] : ops)
                failures.append(
                    QStringLiteral("  child %1 %2 %3..%4 ms %5 %6")
                        .arg(child)
                        .arg(op->kind)
                        .arg((op->begun - t0) / 1000000)
                        .arg((op->ended - t0) / 1000000)
                        .arg(op->acked ? QStringLiteral("acknowledged")
                                       : QStringLiteral("refused: ") + op->refusal)
                        .arg(digest(op->fx.front().second ? &*op->fx.front().second : nullptr)));
            failures.append(
                QStringLiteral("  stored %1").arg(digest(f == found.end() ? nullptr : &f->second)));
        }
    }
    for (int k = 0; k < 10 && program.cards; ++k) {
        const QString code = QStringLiteral("P%1").arg(k);
        const auto f = found.find(code);
        checkHistory(*program.cards, code, f == found.end() ? nullptr : &f->second, &failures);
    }
    if (found.size() > 10)
        failures.append(QStringLiteral("cards outside the pool were stored"));
    printf("two programs on %s, %d s: %d operations acknowledged, refused:",
           serverUri.isEmpty() ? "one DAT.db" : "one PostgreSQL database", seconds, acked);
    for (const auto& [why, n] : refusals)
        printf(" %s %d,", qPrintable(why), n);
    printf(" longest operation %.0f ms, %zu cards at the end\n", longest, found.size());
    for (const QString& f : failures.mid(0, 200))
        printf("FAIL %s\n", qPrintable(f));
    return failures.isEmpty() ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString mode = args.value(0);
    const quint64 seed =
        arg(args, "--seed", QString::number(QDateTime::currentMSecsSinceEpoch())).toULongLong();
    if (mode == u"child")
        return Child(args).run(args);
    if (mode == u"merge-child")
        return merge_kills::child(arg(args, "--here"), arg(args, "--other"));
    if (mode != u"crash" && mode != u"sync" && mode != u"concurrent" && mode != u"merge" &&
        mode != u"outage") {
        fprintf(stderr,
                "usage: %s crash --kills N | sync | concurrent --seconds T | merge --kills N "
                "| outage --restarts N --stalls M [--stall-seconds S] [--seed S]\n",
                argv[0]);
        return 2;
    }
    // With TARJETAS_TEST_ENGINE=postgresql the children's registry is a fresh schema of its own
    // on the TARJETAS_TEST_PG server.
    QString server;
    if (test_registry::onServer()) {
        if (test_registry::serverUri().isEmpty()) {
            printf("SKIP TARJETAS_TEST_PG is not set: no PostgreSQL server for this run "
                   "(tools/test.sh starts one).\n");
            return kSkipped;
        }
        if (mode == u"merge") {
            printf("seed %llu\n", static_cast<unsigned long long>(seed));
            return merge_kills::run(arg(args, "--kills", QStringLiteral("10")).toInt(), seed, true);
        }
        if (mode == u"sync") {
            printf("SKIP the sync sweep is about the file's syncs; a server makes its own.\n");
            return kSkipped;
        }
        QTemporaryDir names; // a path no other run uses names the schema
        server = test_registry::registryAt(names.filePath(QStringLiteral("DAT.db"))).location();
    } else if (mode == u"outage") {
        printf("SKIP the outage run restarts a server (TARJETAS_TEST_ENGINE=postgresql).\n");
        return kSkipped;
    }
    if (mode == u"concurrent")
        return concurrent(arg(args, "--seconds", QStringLiteral("10")).toInt(), seed, server);
    if (mode == u"merge") {
        printf("seed %llu\n", static_cast<unsigned long long>(seed));
        return merge_kills::run(arg(args, "--kills", QStringLiteral("10")).toInt(), seed, false);
    }
    if (mode == u"outage") {
        Outage outage(test_registry::serverUri(),
                      arg(args, "--restarts", QStringLiteral("20")).toInt(),
                      arg(args, "--stalls", QStringLiteral("10")).toInt(),
                      arg(args, "--stall-seconds", QStringLiteral("10")).toInt());
        QString why;
        if (!outage.usable(&why)) {
            printf("SKIP %s\n", qPrintable(why));
            return kSkipped;
        }
        printf("seed %llu\n", static_cast<unsigned long long>(seed));
        return concurrent(outage.seconds(), seed, server, &outage);
    }
    printf("seed %llu\n", static_cast<unsigned long long>(seed));
    Driver driver(seed, server);
    if (mode == u"sync")
        driver.syncSweep();
    for (int i = arg(args, "--kills", QStringLiteral("0")).toInt(); i > 0; --i)
        driver.randomKill();
    return driver.report();
}
