#include "ChunkReader.h"

#include "PgLink.h"

#include <QDir>
#include <QFile>
#include <QStringBuilder>

#include <sqlite3.h>

#include <vector>

namespace store {

std::unique_ptr<ChunkReader> ChunkReader::open(const Registry& registry, Status* status) {
    if (registry.isServer()) {
        std::unique_ptr<ChunkReader> reader(new ChunkReader(registry, nullptr));
        SqlReason reason;
        reader->server_ = PgLink::connect(registry.location(), &reason);
        if (!reader->server_) {
            *status = Status::failure(
                reason.kind,
                QStringLiteral("No se pudieron leer las tarjetas del registro %1: %2.")
                    .arg(registry.quoted(), reason.reason),
                reason.detail);
            return nullptr;
        }
        *status = Status();
        return reader;
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(registry.location().toUtf8().constData(), &db,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    std::unique_ptr<ChunkReader> reader(new ChunkReader(registry, db));
    if (rc != SQLITE_OK) {
        *status = reader->failure(db ? QString::fromUtf8(sqlite3_errmsg(db))
                                     : QStringLiteral("sin memoria"));
        return nullptr;
    }
    // A save of the window holds the file for a moment; wait for it rather than fail.
    sqlite3_busy_timeout(db, 5000);
    *status = Status();
    return reader;
}

ChunkReader::ChunkReader(Registry registry, sqlite3* db)
    : registry_(std::move(registry)), db_(db) {}

ChunkReader::~ChunkReader() {
    sqlite3_finalize(stmt_);
    sqlite3_close(db_);
}

Status ChunkReader::failure(const QString& detail) const {
    return Status::failure(ErrorKind::Io,
                           QStringLiteral("No se pudieron leer las tarjetas del registro %1: %2.")
                               .arg(registry_.quoted(), detail));
}

Status ChunkReader::readServer(RowId after, int limit, std::span<const Field> fields,
                               const Visit& visit, RowId* last, int* visited) {
    // Each chunk is one statement, its own snapshot: a save of the window never waits for it.
    QString sql = QStringLiteral("SELECT id");
    for (Field f : fields)
        sql += u", \"" % cardField(f).name.toString() % u'"';
    sql += QStringLiteral(" FROM \"Clientes\" WHERE id > $1 ORDER BY id LIMIT $2");
    const QByteArray params[] = {QByteArray::number(after), QByteArray::number(limit)};
    SqlReason reason;
    const bool ok = server_->query(
        sql, params,
        [&](PgLink::Row row) {
            *last = row[0].toLongLong();
            ++*visited;
            visit(*last, row.subspan(1));
        },
        &reason,
        [&](int rows, PgLink::Row lastRow) {
            // A full chunk: the server reads the next one while this one is taken in. Its rows
            // are a moment older than they would be otherwise, as if this chunk had been read a
            // moment later; the saves made meanwhile are applied to the result either way.
            if (rows == limit) {
                const QByteArray next[] = {
                    QByteArray::number(QByteArrayView(lastRow[0]).toLongLong()),
                    QByteArray::number(limit)};
                (void)server_->sendAhead(sql, next);
            }
        });
    if (!ok)
        return Status::failure(
            reason.kind,
            QStringLiteral("No se pudieron leer las tarjetas del registro %1: %2.")
                .arg(registry_.quoted(), reason.reason),
            reason.detail);
    return Status();
}

Status ChunkReader::read(RowId after, int limit, std::span<const Field> fields, const Visit& visit,
                         RowId* last, int* visited) {
    *visited = 0;
    if (server_)
        return readServer(after, limit, fields, visit, last, visited);
    if (!stmt_ || !std::equal(fields.begin(), fields.end(), prepared_.begin(), prepared_.end())) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
        QString sql = QStringLiteral("SELECT id");
        for (Field f : fields)
            sql += u", " % cardField(f).name.toString();
        sql += QStringLiteral(" FROM Clientes WHERE id > ?1 ORDER BY id LIMIT ?2");
        const QByteArray utf8 = sql.toUtf8();
        if (sqlite3_prepare_v2(db_, utf8.constData(), int(utf8.size()), &stmt_, nullptr) !=
            SQLITE_OK)
            return failure(QString::fromUtf8(sqlite3_errmsg(db_)));
        prepared_.assign(fields.begin(), fields.end());
    }
    sqlite3_bind_int64(stmt_, 1, after);
    sqlite3_bind_int(stmt_, 2, limit);
    std::vector<QByteArrayView> values(fields.size());
    int rc;
    while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
        for (size_t i = 0; i < fields.size(); ++i) {
            const int column = int(i) + 1;
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
            if (!text && sqlite3_column_type(stmt_, column) != SQLITE_NULL) {
                sqlite3_reset(stmt_);
                return failure(QStringLiteral("sin memoria"));
            }
            values[i] =
                text ? QByteArrayView(text, sqlite3_column_bytes(stmt_, column)) : QByteArrayView();
        }
        *last = sqlite3_column_int64(stmt_, 0);
        ++*visited;
        visit(*last, values);
    }
    // Resetting ends the read transaction: a writer can go ahead before the next chunk.
    sqlite3_reset(stmt_);
    if (rc != SQLITE_DONE)
        return failure(QString::fromUtf8(sqlite3_errmsg(db_)));
    return Status();
}

} // namespace store
