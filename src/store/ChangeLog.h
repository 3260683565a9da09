#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QStringList>

namespace store {

// Table RegistroCambios: one row per card added, changed or deleted, with an ever-growing order
// number, written by triggers on Clientes so that every program's writes are in it. A window that
// noted where the log stood reads only the cards written since, instead of the whole table. Only
// the latest writes are kept: the triggers drop rows more than kChangeLogKept behind the newest,
// and a look from further back is told that the log no longer reaches it.
inline constexpr qint64 kChangeLogKept = 10000;

namespace ChangeLog {

// The statement the triggers end with: drops the rows more than kChangeLogKept behind the newest.
QString trimSql();

// The file's table and triggers (sqlite/FileChangeLog.cpp).
// True when the file has the table and its triggers.
bool presentIn(const QSqlDatabase& db, bool* present, QSqlError* error);
// Creates the table and its triggers inside the caller's transaction; whatever an older attempt
// left is made again.
bool createIn(const QSqlDatabase& db, QSqlError* error);
// The same on a server, as statements (server/ServerChangeLog.cpp) for the schema's transaction.
QStringList serverStatements();

} // namespace ChangeLog

} // namespace store
