#pragma once

#include "StoreEngine.h"

#include <map>
#include <memory>
#include <mutex>

namespace store {

class PgLink;

// The card store kept in a PostgreSQL database: the store's Qt connection for the writes and
// the reads of a few cards, and a libpq connection of its own for the whole-table reads.
class ServerEngine final : public StoreEngine {
public:
    explicit ServerEngine(CardStore& store);
    ~ServerEngine() override;

    Status open(const OpenOptions& options) override;
    StoreThread::Stoppers workOn(const StoreThread& thread) override;
    void close() override;
    bool lost() const override;
    Status reconnect() override;
    QString beginWrite() const override;
    QString beginSnapshot() const override;
    QString lockRow() const override;
    QString returningId() const override;
    RowId insertedId(QSqlQuery& insert) const override;
    bool ensureChangeLog(QSqlError* error) override;

    qint64 recordCount(Status* status) const override;
    QString countSql() const override;
    void keepCount(qint64 count) const override;
    void countFollowed(qint64 count, qint64 position) const override;
    void noteOwnWrite(CardStore::Change change) const override;

    bool valuesFromStore() const override { return valueIndexes_; }
    Status valuesStartingWith(Field field, const QString& typed, int limit,
                              QStringList* values) const override;
    Status makeValueIndexes() override;
    Status rowIds(Order order, qint64 limit, std::vector<RowId>* ids) const override;
    Status readChunk(std::span<const RowId> ids,
                     std::unordered_map<RowId, Card>* found) const override;
    Status forEachRawCard(Order order, std::span<const Field> fields,
                          const std::function<bool(RowId, const RawCard&)>& visit) const override;

    QSqlQuery& prepared(QSqlQuery& local, const QString& sql, bool* ok) const override;
    SqlReason explain(const QSqlError& error) const override;

    bool searchPresent(Status* status) const override;
    Status searchBuild(const std::function<void(qint64, qint64)>& progress) override;
    Status searchFind(const QString& typed, std::vector<RowId>* ids) const override;
    Status searchFindFirst(const QString& typed, size_t limit, std::vector<RowId>* ids,
                           bool* whole) const override;
    Status searchSameOwner(RowId id, const Card& card, std::vector<RowId>* ids) const override;
    QString deletedFilterSql() const override;

    // The libpq connection for whole-table reads, made again when it was lost; null with
    // `status` set when the server cannot be reached.
    PgLink* bulk(Status* status, const QString& doing) const;

private:
    // Opens the store's Qt connection and sets up its session.
    Status openSession() const;

    // Whether the indexes of the type-ahead fields exist; made where missing while few cards.
    Status checkValueIndexes(bool evenIfLarge);
    bool valueIndexes_ = false;
    // Whether table ConteoTarjetas and its triggers keep the number of cards.
    bool countKept_ = false;

    int busyTimeoutMs_ = 3000;
    mutable std::unique_ptr<PgLink> bulk_;
    // Held on the store's thread while a connection is made or dropped, so that the stoppers,
    // which reach the connections from the waiting thread, never see one half made or freed.
    mutable std::mutex handles_;
    // The last count and the position of the registry's writes when it was taken (-1: not
    // counted): the change log's end, or the value of the sequence every write advances.
    mutable qint64 count_ = -1;
    mutable qint64 countVersion_ = -1;
    // The statements kept prepared, by their text; few, one per kind of query.
    mutable std::map<QString, QSqlQuery> prepared_;
};

} // namespace store
