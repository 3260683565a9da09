// The change log kept by triggers on Clientes, on both engines, and the store's look at it.

#include "ChangeLog.h"

#include "CardStore.h"

#include <QSqlQuery>
#include <QStringBuilder>

namespace store {

namespace {

const QString kTrim =
    QStringLiteral("DELETE FROM \"RegistroCambios\" WHERE orden <= (SELECT max(orden) FROM "
                   "\"RegistroCambios\") - %1;")
        .arg(kChangeLogKept);

const char* const kFileTriggers[] = {"RegistroCambiosAntesAlta", "RegistroCambiosAlta",
                                     "RegistroCambiosAntesCambio", "RegistroCambiosCambio",
                                     "RegistroCambiosBaja"};

QStringList fileStatements() {
    const QString log = QStringLiteral("INSERT INTO RegistroCambios (tarjeta) ");
    return {
        // AUTOINCREMENT: an order number is never given twice, even after the rows before it
        // were dropped.
        QStringLiteral("CREATE TABLE RegistroCambios (orden INTEGER PRIMARY KEY AUTOINCREMENT, "
                       "tarjeta INTEGER)"),
        // INSERT OR REPLACE and UPDATE OR REPLACE delete the cards in their way without running
        // the delete trigger: those cards are noted before the write.
        QStringLiteral("CREATE TRIGGER RegistroCambiosAntesAlta BEFORE INSERT ON Clientes BEGIN ") %
            log %
            QStringLiteral("SELECT id FROM Clientes WHERE Codigo = new.Codigo OR id = new.id; END"),
        QStringLiteral("CREATE TRIGGER RegistroCambiosAlta AFTER INSERT ON Clientes BEGIN ") % log %
            QStringLiteral("VALUES (new.id); ") % kTrim % QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER RegistroCambiosAntesCambio BEFORE UPDATE OF id, Codigo ON "
                       "Clientes BEGIN ") %
            log %
            QStringLiteral("SELECT id FROM Clientes WHERE (Codigo = new.Codigo OR id = new.id) "
                           "AND id <> old.id; END"),
        QStringLiteral("CREATE TRIGGER RegistroCambiosCambio AFTER UPDATE ON Clientes BEGIN ") %
            log % QStringLiteral("VALUES (new.id); ") % log %
            QStringLiteral("SELECT old.id WHERE old.id <> new.id; ") % kTrim %
            QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER RegistroCambiosBaja AFTER DELETE ON Clientes BEGIN ") % log %
            QStringLiteral("VALUES (old.id); ") % kTrim % QStringLiteral(" END"),
    };
}

} // namespace

namespace ChangeLog {

bool presentIn(const QSqlDatabase& db, bool* present, QSqlError* error) {
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE (type = 'table' AND name = "
                             "'RegistroCambios') OR (type = 'trigger' AND tbl_name = 'Clientes' "
                             "AND name IN (?, ?, ?, ?, ?))"));
    for (const char* name : kFileTriggers)
        q.addBindValue(QString::fromLatin1(name));
    if (!q.exec() || !q.next()) {
        *error = q.lastError();
        return false;
    }
    *present = q.value(0).toInt() == 1 + int(std::size(kFileTriggers));
    return true;
}

bool createIn(const QSqlDatabase& db, QSqlError* error) {
    QSqlQuery q(db);
    QStringList statements;
    for (const char* name : kFileTriggers)
        statements.append(QStringLiteral("DROP TRIGGER IF EXISTS ") + QLatin1StringView(name));
    statements.append(QStringLiteral("DROP TABLE IF EXISTS RegistroCambios"));
    statements += fileStatements();
    for (const QString& sql : statements) {
        if (!q.exec(sql)) {
            *error = q.lastError();
            return false;
        }
    }
    return true;
}

QStringList serverStatements() {
    // Run once, in the transaction that creates the schema or brings it to this version.
    // Order numbers follow the order in which writes commit: a write takes a lock before its
    // first row, held to its end, so a look never passes over a write that commits later with
    // a smaller number. The lock is the registry's own: registries in other schemas of the same
    // database write at the same time. A statement of more cards than the log keeps leaves a row
    // without a card, which tells a look to read everything again.
    const QString logFrom = QStringLiteral(
        "IF (SELECT count(*) FROM %1) > %2 THEN INSERT INTO \"RegistroCambios\" (tarjeta) VALUES "
        "(NULL); ELSE INSERT INTO \"RegistroCambios\" (tarjeta) SELECT id FROM %1; END IF; ");
    const auto function = [&](const char* name, const QString& body) -> QString {
        return QStringLiteral("CREATE OR REPLACE FUNCTION \"%1\"() RETURNS trigger LANGUAGE "
                              "plpgsql AS $$ BEGIN ")
                   .arg(QLatin1StringView(name)) %
               body % kTrim % QStringLiteral(" RETURN NULL; END $$");
    };
    const QString nuevas = logFrom.arg(QStringLiteral("nuevas")).arg(kChangeLogKept);
    const QString viejas = logFrom.arg(QStringLiteral("viejas")).arg(kChangeLogKept);
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"RegistroCambios\" (orden bigint GENERATED "
                       "ALWAYS AS IDENTITY PRIMARY KEY, tarjeta bigint)"),
        QStringLiteral("CREATE OR REPLACE FUNCTION \"RegistroCambios_turno\"() RETURNS trigger "
                       "LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_advisory_xact_lock(20261210, "
                       "hashtext(TG_TABLE_SCHEMA)); "
                       "RETURN NULL; END $$"),
        function("RegistroCambios_alta", nuevas),
        function("RegistroCambios_cambio", nuevas + viejas),
        function("RegistroCambios_baja", viejas),
        function("RegistroCambios_vaciado",
                 QStringLiteral("INSERT INTO \"RegistroCambios\" (tarjeta) VALUES (NULL); ")),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_turno\" BEFORE INSERT OR UPDATE OR DELETE "
                       "OR TRUNCATE ON \"Clientes\" FOR EACH STATEMENT EXECUTE FUNCTION "
                       "\"RegistroCambios_turno\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_alta\" AFTER INSERT ON \"Clientes\" "
                       "REFERENCING NEW TABLE AS nuevas FOR EACH STATEMENT EXECUTE FUNCTION "
                       "\"RegistroCambios_alta\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_cambio\" AFTER UPDATE ON \"Clientes\" "
                       "REFERENCING OLD TABLE AS viejas NEW TABLE AS nuevas FOR EACH STATEMENT "
                       "EXECUTE FUNCTION \"RegistroCambios_cambio\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_baja\" AFTER DELETE ON \"Clientes\" "
                       "REFERENCING OLD TABLE AS viejas FOR EACH STATEMENT EXECUTE FUNCTION "
                       "\"RegistroCambios_baja\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_vaciado\" AFTER TRUNCATE ON \"Clientes\" "
                       "FOR EACH STATEMENT EXECUTE FUNCTION \"RegistroCambios_vaciado\"()"),
    };
}

} // namespace ChangeLog

Status CardStore::changesSince(qint64 since, bool withCount, Changes* changes) const {
    if (handOver())
        return call([&] { return changesSince(since, withCount, changes); });
    *changes = Changes();
    const QString doing = QStringLiteral("leer los cambios del registro");
    QSqlDatabase db = database();
    QSqlQuery q(db);
    // One moment for the log's end, the cards written and the count.
    if (!q.exec(server() ? QStringLiteral("BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY")
                         : QStringLiteral("BEGIN")))
        return failure(q.lastError(), doing);
    const auto body = [&]() -> Status {
        if (!q.exec(QStringLiteral("SELECT coalesce(max(orden), 0) FROM \"RegistroCambios\"")) ||
            !q.next())
            return failure(q.lastError(), doing);
        const qint64 end = q.value(0).toLongLong();
        q.finish();
        changes->position = end;
        // Rows are dropped only more than kChangeLogKept behind the newest, so every write after
        // `since` is still there when `since` is that close. A log that ends before `since` was
        // made again (the file replaced, the table emptied): nothing can be told from it.
        changes->complete = since >= 0 && since <= end && since >= end - kChangeLogKept;
        if (changes->complete && since < end) {
            q.prepare(QStringLiteral("SELECT DISTINCT tarjeta FROM \"RegistroCambios\" WHERE "
                                     "orden > ? ORDER BY tarjeta"));
            q.addBindValue(since);
            if (!q.exec())
                return failure(q.lastError(), doing);
            while (q.next()) {
                if (q.value(0).isNull())
                    changes->complete = false; // more cards than the log keeps
                else
                    changes->ids.push_back(q.value(0).toLongLong());
            }
            q.finish();
            if (!changes->complete)
                changes->ids.clear();
        }
        if (withCount) {
            if (!q.exec(QStringLiteral("SELECT count(*) FROM \"Clientes\"")) || !q.next())
                return failure(q.lastError(), doing);
            changes->count = q.value(0).toLongLong();
            q.finish();
            if (!server())
                keepCount(changes->count);
        }
        return Status();
    };
    const Status result = body();
    q.finish();
    if (!q.exec(result ? QStringLiteral("COMMIT") : QStringLiteral("ROLLBACK")) && result)
        return failure(q.lastError(), doing);
    if (!result)
        *changes = Changes();
    return result;
}

void CardStore::countFollowed(qint64 count, qint64 position) const {
    if (handOver()) {
        (void)call([&] {
            countFollowed(count, position);
            return Status();
        });
        return;
    }
    if (server() || count < 0 || position < 0)
        return; // a server's count is taken again as soon as its write sequence moved
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("BEGIN")))
        return;
    if (q.exec(QStringLiteral("SELECT coalesce(max(orden), 0) FROM \"RegistroCambios\"")) &&
        q.next() && q.value(0).toLongLong() == position) {
        q.finish();
        keepCount(count);
    }
    q.finish();
    q.exec(QStringLiteral("COMMIT"));
}

} // namespace store
