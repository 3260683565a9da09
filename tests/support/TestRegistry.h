#pragma once

#include "PgLink.h"
#include "Registry.h"

#include <QCryptographicHash>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

// The engine a test executable runs its stores on. CTest registers the executables whose tests
// hold for both engines twice, the second time with TARJETAS_TEST_ENGINE=postgresql; the server
// comes from TARJETAS_TEST_PG (a libpq URI, which tools/test.sh sets after starting a cluster of
// its own).
namespace test_registry {

inline bool onServer() {
    return qEnvironmentVariable("TARJETAS_TEST_ENGINE") == u"postgresql";
}

inline QString serverUri() {
    return qEnvironmentVariable("TARJETAS_TEST_PG");
}

// For initTestCase: skips the whole class when it should run on a server but none is given.
#define SKIP_WITHOUT_TEST_SERVER()                                                                 \
    do {                                                                                           \
        if (test_registry::onServer() && test_registry::serverUri().isEmpty())                     \
            QSKIP("TARJETAS_TEST_PG is not set: no PostgreSQL server for this run "                \
                  "(tools/test.sh starts one).");                                                  \
    } while (false)

// Inside a test: skips a case that is about the SQLite file itself.
#define SKIP_ON_SERVER(why)                                                                        \
    do {                                                                                           \
        if (test_registry::onServer())                                                             \
            QSKIP(why);                                                                            \
    } while (false)

// The registry a test uses where it would use the file `path`: that file, or on a server an empty
// schema of its own named after the path, so that the same path is the same registry within a
// test, and tests running at the same time never share cards.
inline store::Registry registryAt(const QString& path) {
    if (!onServer() || serverUri().isEmpty()) // without a server the class is skipped
        return store::Registry::file(path);
    const QString schema =
        QStringLiteral("t_") +
        QString::fromLatin1(
            QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Md5).toHex().left(20));
    {
        QSqlDatabase db =
            store::addRegistryConnection(store::Registry::server(serverUri()), schema);
        if (!db.open())
            qFatal("test server: %s", qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        q.exec(QStringLiteral("SET client_min_messages = warning")); // no notice when it exists
        if (!q.exec(QStringLiteral("CREATE SCHEMA IF NOT EXISTS ") + schema))
            qFatal("test server: %s", qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(schema);
    const QString base = serverUri();
    const QString uri = base + (base.contains(u'?') ? u'&' : u'?') +
                        QStringLiteral("options=-csearch_path%3D") + schema;
    return store::Registry::server(uri);
}

// Takes the write lock another program would hold on the store behind `q`'s connection: SQLite's
// write lock on the file, or an exclusive lock of table Clientes on a server. ROLLBACK lets go.
inline bool holdWriteLock(QSqlQuery& q) {
    if (!onServer())
        return q.exec(QStringLiteral("BEGIN IMMEDIATE"));
    return q.exec(QStringLiteral("BEGIN")) &&
           q.exec(QStringLiteral("LOCK TABLE \"Clientes\" IN EXCLUSIVE MODE"));
}

} // namespace test_registry
