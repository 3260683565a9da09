#pragma once

#include "CardStore.h"
#include "Status.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <span>
#include <unordered_map>
#include <vector>

class QSqlError;

namespace store {

// What differs between the two places the cards may be kept, the SQLite file and the PostgreSQL
// server, behind one interface: CardStore runs the engine-independent logic (the writes and their
// history, the cursor, the change listeners) and asks its engine for the rest. Each engine lives
// in its own folder with its search index, its change log triggers and its bulk reads.
class StoreEngine {
public:
    explicit StoreEngine(CardStore& store) : store_(store) {}
    virtual ~StoreEngine() = default;
    StoreEngine(const StoreEngine&) = delete;
    StoreEngine& operator=(const StoreEngine&) = delete;

    // Opens the store's connection and makes or checks the schema.
    virtual Status open(const OpenOptions& options) = 0;
    // Lets go of everything that uses the connection, before it is closed.
    virtual void close() {}
    // The store's connection works on `thread` from now on: how its work is stopped when the
    // command's time is up, and the engine's own waits for locks end with that time too.
    virtual StoreThread::Stoppers workOn(const StoreThread& thread) = 0;
    // Whether the connection was lost (a server restarted, a network cut), and making it again.
    // A file is never lost this way.
    virtual bool lost() const { return false; }
    virtual Status reconnect() { return Status(); }

    // The statement that opens a write transaction, and the one that opens a read of one moment.
    virtual QString beginWrite() const = 0;
    virtual QString beginSnapshot() const = 0;
    // Appended to a SELECT of one row inside a write: locks the row until the transaction ends.
    virtual QString lockRow() const = 0;
    // Appended to an INSERT so that the new id comes back as a row, and how it is read.
    virtual QString returningId() const = 0;
    virtual RowId insertedId(QSqlQuery& insert) const = 0;
    // Inside a write transaction, before the first write: makes the change log where the engine
    // makes it at the first write. False with `error` set when it cannot.
    virtual bool ensureChangeLog(QSqlError* error) = 0;

    // The count kept between commands (see CardStore::recordCount).
    virtual qint64 recordCount(Status* status) const = 0;
    // The statement that reads the number of stored cards.
    virtual QString countSql() const { return QStringLiteral("SELECT count(*) FROM \"Clientes\""); }
    // The count read inside a read of the change log, kept as this moment's where it can be.
    virtual void keepCount(qint64 count) const = 0;
    // The count taken by a follower up to a log position (see CardStore::countFollowed).
    virtual void countFollowed(qint64 count, qint64 position) const = 0;
    // The store's own committed write, for the count.
    virtual void noteOwnWrite(CardStore::Change change) const = 0;

    // The distinct stored values of a field that begin with `typed`, letters compared without
    // regard to case, asked of the engine's own indexes (see CardStore::valuesStartingWith);
    // valuesFromStore() tells whether it has them.
    virtual bool valuesFromStore() const { return false; }
    virtual Status valuesStartingWith(Field, const QString&, int, QStringList*) const {
        return Status::failure(ErrorKind::Other,
                               QStringLiteral("El registro no busca valores por su comienzo."));
    }
    // Makes the indexes valuesStartingWith uses, however large the registry.
    virtual Status makeValueIndexes() { return Status(); }

    // Bulk reads.
    virtual Status rowIds(Order order, qint64 limit, std::vector<RowId>* ids) const = 0;
    // The ids at every stride-th place of stored order (see CardStore::idsEvery): here, one
    // numbered walk over the primary key.
    virtual Status idsEvery(qint64 stride, RowId upTo, std::vector<RowId>* ids) const;
    // The same over the ids in (after, upTo] only (see CardStore::idsEveryPiece).
    virtual Status idsEveryPiece(qint64 stride, RowId after, RowId upTo, qint64 before,
                                 std::vector<RowId>* ids, qint64* rows) const;
    // How many ids apart the pieces of a sample taken behind the window are, so that work the
    // user asks for meanwhile waits for one piece at most; 0 takes it whole, in one read.
    virtual RowId samplePieceIds() const { return 1'000'000; }
    // One chunk of at most kReadChunk ids: the cards found, by id.
    virtual Status readChunk(std::span<const RowId> ids,
                             std::unordered_map<RowId, Card>* found) const = 0;
    // Reads only `fields`; the others read as Null.
    virtual Status
    forEachRawCard(Order order, std::span<const Field> fields,
                   const std::function<bool(RowId, const RawCard&)>& visit) const = 0;

    // `sql` prepared in a query for reuse (see CardStore::prepared).
    virtual QSqlQuery& prepared(QSqlQuery& local, const QString& sql, bool* ok) const = 0;
    // The Spanish reason of an engine error, told with what the engine knows of its registry.
    virtual SqlReason explain(const QSqlError& error) const = 0;

    // The free-text search index (see SearchIndex.h).
    virtual bool searchPresent(Status* status) const = 0;
    virtual Status searchBuild(const std::function<void(qint64, qint64)>& progress) = 0;
    // The ids found, each once, ascending.
    virtual Status searchFind(const QString& typed, std::vector<RowId>* ids) const = 0;
    // The first `limit` of those ids, when the engine tells them sooner than all of them;
    // `*whole` says whether they are all. A `limit` of 0, or an engine that answers whole at
    // once, gives every id.
    virtual Status searchFindFirst(const QString& typed, size_t limit, std::vector<RowId>* ids,
                                   bool* whole) const {
        (void)limit;
        *whole = true;
        return searchFind(typed, ids);
    }
    // The ids of the cards of the owner of `card` (id `id`), ascending, `id` among them.
    virtual Status searchSameOwner(RowId id, const Card& card, std::vector<RowId>* ids) const = 0;

    // The SQL of history's deleted-card filter: code by its start or owner anywhere in the name,
    // with three text parameters (the typed text each time).
    virtual QString deletedFilterSql() const = 0;

    static constexpr size_t kReadChunk = 256;

protected:
    QSqlDatabase database() const { return store_.database(); }
    Status failure(const QSqlError& error, const QString& doing) const {
        return store_.failure(error, doing);
    }
    Status failure(const SqlReason& reason, const QString& doing) const {
        return store_.failure(reason, doing);
    }
    Status runWrite(const std::function<Status()>& body, const QString& doing) {
        return store_.runWrite(body, doing);
    }
    const Registry& registry() const { return store_.registry(); }
    const QString& connectionName() const { return store_.connection_; }
    bool& historyReady() { return store_.historyReady_; }
    bool& changeLogReady() { return store_.changeLogReady_; }
    bool changeLogReady() const { return store_.changeLogReady_; }

    CardStore& store_;
};

} // namespace store
