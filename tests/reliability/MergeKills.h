#pragma once

// The merge of another registry killed at random moments: the registry holds either every card
// the merge writes with its history rows, or none of them, and the next merge completes it; one
// more changes nothing.
//
//   reliability_harness merge --kills N [--seed S]

#include "CardStore.h"
#include "Merge.h"
#include "TestRegistry.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <random>

namespace merge_kills {

using store::Card;

inline Card campaignCard(const QString& code, const QString& owner) {
    Card c;
    for (const store::CardField& f : store::cardFields())
        c[f.field] = f.name.toString() + u'-' + code;
    c[store::Codigo] = code;
    c[store::Propietario] = owner;
    return c;
}

inline constexpr int kHere = 1000, kNew = 300, kChanged = 100;

inline store::Registry registryOf(const QString& location) {
    return location.startsWith(u"postgresql:") ? store::Registry::server(location)
                                               : store::Registry::file(location);
}

// The child: merges `other` into `here`, taking the other's card in every conflict.
inline int child(const QString& here, const QString& other) {
    store::Status s;
    auto cards = store::CardStore::open(registryOf(here), &s);
    merge::MergePlan plan;
    if (cards)
        s = merge::planMerge(*cards, other, &plan);
    for (merge::Conflict& c : plan.conflicts)
        c.choice = merge::Choice::TakeOther;
    std::vector<merge::MergeOutcome> outcomes;
    if (s)
        s = merge::applyMerge(*cards, plan, &outcomes);
    printf("%s\n", s ? "merged" : qPrintable(s.message()));
    fflush(stdout);
    return s ? 0 : 1;
}

struct State {
    std::vector<Card> cards;
    qint64 historyRows = -1;
    bool operator==(const State&) const = default;
};

inline State read(const QString& here) {
    State state;
    store::Status s;
    auto cards = store::CardStore::open(registryOf(here), &s);
    if (!cards)
        return state;
    (void)cards->forEachCard(store::Order::Stored, [&](store::RowId, const Card& c) {
        state.cards.push_back(c);
        return true;
    });
    QSqlQuery q(cards->database());
    if (q.exec(QStringLiteral("SELECT count(*) FROM \"Historial\"")) && q.next())
        state.historyRows = q.value(0).toLongLong();
    return state;
}

// A registry of kHere cards at `here` (a file, or a fresh schema named after the path).
inline QString makeHere(const QString& path, bool server) {
    const store::Registry r =
        server ? test_registry::registryAt(path) : store::Registry::file(path);
    store::Status s;
    auto cards = store::CardStore::open(r, &s);
    std::vector<Card> all;
    for (int i = 0; i < kHere; ++i)
        all.push_back(campaignCard(QStringLiteral("H%1").arg(i, 5, 10, QLatin1Char('0')),
                                   QStringLiteral("Ana")));
    if (!cards || !cards->insertCards(all, store::WriteReason::Importacion))
        return {};
    return r.location();
}

// The children's sessions carry this name on a server, so that the harness can tell when a killed
// one has ended.
inline QString childSessionName() {
    return QStringLiteral("tarjetas_merge_%1").arg(QCoreApplication::applicationPid());
}

// A killed child's session ends when the server notices: a COMMIT it had sent may still finish,
// and only then is what it left final.
inline void waitForChildSession() {
    {
        QSqlDatabase db = store::addRegistryConnection(
            store::Registry::server(test_registry::serverUri()), QStringLiteral("merge_kills"));
        if (db.open()) {
            QSqlQuery q(db);
            QElapsedTimer t;
            t.start();
            while (t.elapsed() < 10000 &&
                   q.exec(QStringLiteral("SELECT count(*) FROM pg_stat_activity WHERE "
                                         "application_name = '%1'")
                              .arg(childSessionName())) &&
                   q.next() && q.value(0).toLongLong() > 0) {
                q.finish();
                QThread::msleep(5);
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("merge_kills"));
}

inline int run(int kills, quint64 seed, bool server) {
    QTemporaryDir dir;
    std::mt19937_64 gen(seed);
    const QString other = dir.filePath(QStringLiteral("campo.db"));
    {
        store::Status s;
        auto cards = store::CardStore::open(other, &s);
        std::vector<Card> all;
        for (int i = 0; i < kChanged; ++i)
            all.push_back(campaignCard(QStringLiteral("H%1").arg(i * 7, 5, 10, QLatin1Char('0')),
                                       QStringLiteral("Luis")));
        for (int i = 0; i < kNew; ++i)
            all.push_back(campaignCard(QStringLiteral("N%1").arg(i, 5, 10, QLatin1Char('0')),
                                       QStringLiteral("Eva")));
        if (!cards || !cards->insertCards(all, store::WriteReason::Alta)) {
            printf("FAIL the other registry could not be made\n");
            return 1;
        }
    }
    const auto merged = [&](const QString& here, qint64 killAfterUs, bool* ended) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PGAPPNAME"), childSessionName());
        p.setProcessEnvironment(environment);
        p.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("merge-child"), QStringLiteral("--here"), here,
                 QStringLiteral("--other"), other});
        p.waitForStarted();
        if (killAfterUs >= 0) {
            QThread::usleep(quint64(killAfterUs));
            p.kill();
        }
        p.waitForFinished(60000);
        if (server && killAfterUs >= 0)
            waitForChildSession();
        *ended = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    };

    // One whole merge first: what the registry holds before and after, and how long it takes.
    const QString first = makeHere(dir.filePath(QStringLiteral("primero.db")), server);
    const State before = read(first);
    QElapsedTimer timer;
    timer.start();
    bool ended = false;
    const QString said = merged(first, -1, &ended);
    const qint64 wholeUs = timer.nsecsElapsed() / 1000;
    const State after = read(first);
    if (!ended || before.cards.size() != size_t(kHere) ||
        after.cards.size() != size_t(kHere + kNew) ||
        after.historyRows != before.historyRows + kNew + kChanged) {
        printf("FAIL the whole merge: %s\n", qPrintable(said));
        return 1;
    }

    int none = 0, all = 0, failures = 0;
    for (int k = 0; k < kills; ++k) {
        const QString here = makeHere(dir.filePath(QStringLiteral("run%1.db").arg(k)), server);
        const qint64 at = std::uniform_int_distribution<qint64>(0, wholeUs * 6 / 5)(gen);
        merged(here, at, &ended);
        const State killed = read(here);
        if (killed == before)
            ++none;
        else if (killed == after)
            ++all;
        else {
            ++failures;
            printf("FAIL kill %d after %lld us: %zu cards, %lld history rows\n", k,
                   static_cast<long long>(at), killed.cards.size(),
                   static_cast<long long>(killed.historyRows));
        }
        // The next merge completes it; one more changes nothing.
        for (int again = 0; again < 2; ++again) {
            const QString more = merged(here, -1, &ended);
            if (!ended || read(here) != after) {
                ++failures;
                printf("FAIL merge %d after kill %d: %s\n", again + 1, k, qPrintable(more));
            }
        }
        if (!server) {
            QFile::remove(here);
        }
    }
    printf("merge of %d new and %d changed cards into %d on %s, killed %d times (whole merge %lld "
           "ms): nothing written %d, everything written %d, %d failures\n",
           kNew, kChanged, kHere, server ? "a PostgreSQL database" : "DAT.db", kills,
           static_cast<long long>(wholeUs / 1000), none, all, failures);
    return failures ? 1 : 0;
}

} // namespace merge_kills
