// The change log kept by triggers on Clientes, on both engines, and the store's look at it. The
// triggers are each engine's own (sqlite/FileChangeLog.cpp, server/ServerChangeLog.cpp).

#include "ChangeLog.h"

#include "CardStore.h"
#include "StoreEngine.h"

#include <QSqlQuery>
#include <QStringBuilder>

namespace store {

QString ChangeLog::trimSql() {
    return QStringLiteral("DELETE FROM \"RegistroCambios\" WHERE orden <= (SELECT max(orden) FROM "
                          "\"RegistroCambios\") - %1;")
        .arg(kChangeLogKept);
}

Status CardStore::changesSince(qint64 since, bool withCount, Changes* changes) const {
    return withConnection([&] { return readChanges(since, withCount, changes); });
}

Status CardStore::readChanges(qint64 since, bool withCount, Changes* changes) const {
    *changes = Changes();
    const QString doing = QStringLiteral("leer los cambios del registro");
    QSqlDatabase db = database();
    QSqlQuery q(db);
    // One moment for the log's end, the cards written and the count.
    if (!q.exec(engine_->beginSnapshot()))
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
            if (!q.exec(engine_->countSql()) || !q.next())
                return failure(q.lastError(), doing);
            changes->count = q.value(0).toLongLong();
            q.finish();
            engine_->keepCount(changes->count);
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
    engine_->countFollowed(count, position);
}

} // namespace store
