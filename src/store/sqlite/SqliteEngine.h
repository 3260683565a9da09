#pragma once

#include "StoreEngine.h"

#include <memory>

struct sqlite3;
class QSqlError;

namespace store {

class BusyWait;

// The engine's reason for an error of SQLite, without what only an open store can tell.
SqlReason explainFileError(const QSqlError& error);

// The card store kept in one SQLite file (DAT.db).
class SqliteEngine final : public StoreEngine {
public:
    explicit SqliteEngine(CardStore& store);
    ~SqliteEngine() override;

    Status open(const OpenOptions& options) override;
    // Leaves the count in the file for the next start (see keptCount()).
    void close() override;
    StoreThread::Stoppers workOn(const StoreThread& thread) override;
    QString beginWrite() const override;
    QString beginSnapshot() const override;
    QString lockRow() const override;
    QString returningId() const override;
    RowId insertedId(QSqlQuery& insert) const override;
    bool ensureChangeLog(QSqlError* error) override;

    qint64 recordCount(Status* status) const override;
    void keepCount(qint64 count) const override;
    void countFollowed(qint64 count, qint64 position) const override;
    void noteOwnWrite(CardStore::Change change) const override;

    Status rowIds(Order order, qint64 limit, std::vector<RowId>* ids) const override;
    Status idsEvery(qint64 stride, RowId upTo, std::vector<RowId>* ids) const override;
    // Every id is read at once from the smallest index, faster than any piece of the table.
    RowId samplePieceIds() const override { return 0; }
    Status readChunk(std::span<const RowId> ids,
                     std::unordered_map<RowId, Card>* found) const override;
    Status forEachRawCard(Order order, std::span<const Field> fields,
                          const std::function<bool(RowId, const RawCard&)>& visit) const override;

    QSqlQuery& prepared(QSqlQuery& local, const QString& sql, bool* ok) const override;
    SqlReason explain(const QSqlError& error) const override;

    bool searchPresent(Status* status) const override;
    Status searchBuild(const std::function<void(qint64, qint64)>& progress) override;
    Status searchFind(const QString& typed, std::vector<RowId>* ids) const override;
    Status searchSameOwner(RowId id, const Card& card, std::vector<RowId>* ids) const override;
    QString deletedFilterSql() const override;

private:
    sqlite3* handle() const;
    // The count this program left in the file at its last close, while it is still true: a
    // million cards take milliseconds to count, on a processor the start-up needs.
    bool keptCount(sqlite3* db) const;

    std::unique_ptr<BusyWait> busyWait_;
    // The last count, and the file's data version and this connection's change total when it
    // was taken (-1: not counted).
    mutable qint64 count_ = -1;
    mutable qint64 countVersion_ = -1;
    mutable qint64 countChanges_ = -1;
};

} // namespace store
