#pragma once

#include "Status.h"

#include <QByteArrayView>
#include <QSqlDatabase>
#include <QString>

#include <functional>
#include <memory>
#include <span>
#include <vector>

struct pg_conn;
struct pg_result;

namespace store {

class Registry;
struct SqlReason;

// How long a server may keep a command waiting. A command is refused within 4 s of waiting on a
// lock or the network: the connection is given up when the server does not answer it within
// kConnectTimeoutS (libpq's shortest is 2 s), a statement the server keeps running longer than
// kStatementTimeoutMs is cancelled by the server, and TCP keepalives and an unacknowledged-data
// timeout drop a connection to a server that vanished (a cut network, a machine switched off)
// within about 3 s, where the system's defaults wait two hours.
inline constexpr int kConnectTimeoutS = 3;
inline constexpr int kStatementTimeoutMs = 3500;
// libpq's options for those, added to a registry's URI where it does not name them itself.
std::vector<std::pair<QString, QString>> connectionDefaults();

// The user's words for a PostgreSQL failure, from its SQLSTATE (or, for a connection that could
// not be made, from libpq's text): server unreachable, authentication refused, database missing,
// duplicate code, lock or serialization conflicts, lost connection, …
SqlReason explainServerError(const QString& sqlstate, const QString& text);

// Opens a Qt SQL connection named `name` to the registry (QSQLITE or QPSQL), applying the options
// of a libpq URI one by one, since Qt's driver takes them separately. The caller removes it.
QSqlDatabase addRegistryConnection(const Registry& registry, const QString& name,
                                   bool readOnly = false, int busyTimeoutMs = 3000);

// A libpq connection of its own to a PostgreSQL registry, for whole-table reads that must not
// build a QVariant per value: binary COPY straight out of the server, and chunked queries.
class PgLink {
public:
    static std::unique_ptr<PgLink> connect(const QString& uri, SqlReason* failure);
    // Whether the server accepts connections now, asked without logging in; as long as a
    // connection attempt at most (kConnectTimeoutS) when it does not answer.
    static bool answers(const QString& uri);
    ~PgLink();
    PgLink(const PgLink&) = delete;
    PgLink& operator=(const PgLink&) = delete;

    // One row of a COPY: each column's bytes, a null view (data() == nullptr) for Null.
    using Row = std::span<const QByteArrayView>;
    // Runs `COPY (select) TO STDOUT (FORMAT binary)` and visits every row; visit returns false to
    // stop (the connection is then reset, which drops the rest). Columns are as the server sends
    // them in binary: text as UTF-8, bigint as eight big-endian bytes. A row of any other number
    // of columns than `columns` is a failure.
    bool copyOut(const QString& select, int columns, const std::function<bool(Row)>& visit,
                 SqlReason* failure);
    // `text` as a quoted SQL literal, for statements that take no parameters (a COPY); empty
    // when it is no valid UTF-8.
    QByteArray literal(QByteArrayView text) const;
    // A query with text parameters and results; visit sees each row's values as above. `arrived`,
    // when given, is told the number of rows and the last row once they are all here, before the
    // first visit, so that a walk can ask for its next part while this one is taken in.
    bool query(const QString& sql, std::span<const QByteArray> params,
               const std::function<void(Row)>& visit, SqlReason* failure,
               const std::function<void(int, Row)>& arrived = {});
    // Sends a query without waiting for its rows: the next query() of the same text and
    // parameters takes them instead of asking again, and any other statement first waits for
    // them and drops them. False when it could not be sent (the next query() then asks again).
    bool sendAhead(const QString& sql, std::span<const QByteArray> params);
    // A statement without rows.
    bool exec(const QString& sql, SqlReason* failure);

    pg_conn* handle() const { return conn_; }
    static qint64 bigint(QByteArrayView bytes); // a binary bigint column

private:
    explicit PgLink(pg_conn* conn) : conn_(conn) {}
    SqlReason lastFailure(const pg_result* result) const;
    bool ensureOpen(SqlReason* failure);
    void dropAhead();

    pg_conn* conn_;
    // The query sent ahead whose rows are still to be taken, if any.
    bool ahead_ = false;
    QByteArray aheadSql_;
    std::vector<QByteArray> aheadParams_;
};

} // namespace store
