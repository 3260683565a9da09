// The file's change log: table RegistroCambios and the triggers on Clientes that fill it.

#include "ChangeLog.h"

#include <QSqlQuery>
#include <QStringBuilder>

namespace store {

namespace {

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
            QStringLiteral("VALUES (new.id); ") % ChangeLog::trimSql() % QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER RegistroCambiosAntesCambio BEFORE UPDATE OF id, Codigo ON "
                       "Clientes BEGIN ") %
            log %
            QStringLiteral("SELECT id FROM Clientes WHERE (Codigo = new.Codigo OR id = new.id) "
                           "AND id <> old.id; END"),
        QStringLiteral("CREATE TRIGGER RegistroCambiosCambio AFTER UPDATE ON Clientes BEGIN ") %
            log % QStringLiteral("VALUES (new.id); ") % log %
            QStringLiteral("SELECT old.id WHERE old.id <> new.id; ") % ChangeLog::trimSql() %
            QStringLiteral(" END"),
        QStringLiteral("CREATE TRIGGER RegistroCambiosBaja AFTER DELETE ON Clientes BEGIN ") % log %
            QStringLiteral("VALUES (old.id); ") % ChangeLog::trimSql() % QStringLiteral(" END"),
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
    // The count kept beside the log's order numbers, which begin again.
    statements.append(QStringLiteral("DROP TABLE IF EXISTS ConteoTarjetas"));
    statements += fileStatements();
    for (const QString& sql : statements) {
        if (!q.exec(sql)) {
            *error = q.lastError();
            return false;
        }
    }
    return true;
}
} // namespace ChangeLog

} // namespace store
