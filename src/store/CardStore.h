#pragma once

#include "CardFields.h"
#include "Registry.h"
#include "Status.h"
#include "StoreThread.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace store {

using RowId = qint64;
inline constexpr RowId kNoRow = -1;

// Sorts ids ascending and drops repeats. Ids mostly lie close together (a registry's are handed
// out one after another): then a mark per possible id, read back in order, sorts a million in a
// few milliseconds where a comparison sort takes some seventy.
void sortUniqueIds(std::vector<RowId>* ids);

// Stored order is ascending id, the order in which cards were added; code order is what a
// cursor with the index "PrimaryKey" selected visits.
enum class Order { Stored, ByCode };

inline const QString kPrimaryKey = QStringLiteral("PrimaryKey");

struct OpenOptions {
    int busyTimeoutMs = 3000; // how long an operation waits for another program holding the file
};

class TableCursor;
class StoreEngine;
class History;
enum class WriteReason;

// A failure of the database engine in the user's words: its kind, the reason in Spanish, and
// the engine's own text for support.
struct SqlReason {
    ErrorKind kind = ErrorKind::Other;
    QString reason;
    QString detail;
};

// One stored card as UTF-8 bytes straight from the store, valid only while it is being visited.
class RawCard {
public:
    QByteArrayView utf8(Field f) const { return values_[f]; }
    bool isNull(Field f) const { return nulls_[f]; }
    QString text(Field f) const; // as Card holds it: null QString for Null

private:
    friend class SqliteEngine;
    friend class ServerEngine;
    std::array<QByteArrayView, kFieldCount> values_;
    std::array<bool, kFieldCount> nulls_ = [] {
        std::array<bool, kFieldCount> all;
        all.fill(true);
        return all;
    }();
};

// The card store: table Clientes in one SQLite file, or in a PostgreSQL database. A missing file,
// or a database without the table, gets the schema. Every write is one committed transaction;
// every failure comes back as a Status whose message names the registry.
class CardStore {
public:
    static std::unique_ptr<CardStore> open(const QString& path, Status* status,
                                           const OpenOptions& options = {});
    static std::unique_ptr<CardStore> open(const Registry& registry, Status* status,
                                           const OpenOptions& options = {});
    ~CardStore();
    CardStore(const CardStore&) = delete;
    CardStore& operator=(const CardStore&) = delete;

    // The file's path (for a server registry, its URI); messages use registry().describe().
    const QString& path() const { return registry_.location(); }
    const Registry& registry() const { return registry_; }

    // A table-type cursor over Clientes, independent of every other cursor of this store.
    std::unique_ptr<TableCursor> openTable();

    // Exact number of cards; -1 with status set when the store cannot be read. The count is
    // kept between calls and taken again only when another connection wrote to the file, so
    // asking after every command costs no walk over a large table.
    qint64 recordCount(Status* status = nullptr) const;
    // Begins that count on the store's thread without waiting for it, so that it is ready by the
    // time it is asked for (at start-up, once the window is built). Without a thread of its own,
    // or when the registry is held, it does nothing: the count is then taken when asked.
    void countAhead() const;

    // Bulk access for views and scans over many cards; these do not move any cursor.
    Status rowIds(Order order, std::vector<RowId>* ids) const;
    // The first `limit` of them (all when negative).
    Status rowIds(Order order, qint64 limit, std::vector<RowId>* ids) const;
    // The cards with these ids, in the same order; a card no longer stored is left out.
    Status readCards(std::span<const RowId> ids, std::vector<std::pair<RowId, Card>>* cards) const;
    Status readCard(RowId id, Card* card) const;

    // Paging through stored order without reading every id, for windows over a registry too
    // large to list whole. Up to `limit` ids ascending of the cards after id `from` and up to
    // id `upTo`, the first `skip` of them passed over; with `backwards`, the cards before id
    // `from`, descending.
    Status idsFrom(RowId from, bool backwards, RowId upTo, qint64 skip, qint64 limit,
                   std::vector<RowId>* ids) const;
    // The ids at every `stride`-th place of stored order up to id `upTo`: places stride - 1,
    // 2 × stride - 1, …, counted from 0. One read of every id (on a file from its smallest
    // index, on a server numbered along the primary key), for placing rows far apart without
    // walking to each.
    Status idsEvery(qint64 stride, RowId upTo, std::vector<RowId>* ids) const;
    // One piece of that read: the rows with ids in (after, upTo], numbered on after the
    // `before` rows of the pieces read before it; appends the ids at every stride-th row and
    // sets `rows` to the rows of the piece.
    Status idsEveryPiece(qint64 stride, RowId after, RowId upTo, qint64 before,
                         std::vector<RowId>* ids, qint64* rows) const;
    // How many ids apart those pieces are taken; 0: the read is taken whole.
    RowId samplePieceIds() const;
    // How many cards have an id strictly between `after` and `before`.
    Status countBetween(RowId after, RowId before, qint64* count) const;
    // The largest id stored; kNoRow when the registry is empty.
    Status lastId(RowId* id) const;

    // The type-ahead values asked of the store itself, for a registry too large to hold them in
    // the window (a server with an index per offered field): up to `limit` distinct stored
    // values of `field` that begin with `typed` (spaces count), letters compared without regard
    // to case, each once in the letter case of its first card and in the order of their first
    // cards; past `limit`, the first in byte order of their lower case. valuesFromStore() tells
    // whether the store answers this way.
    bool valuesFromStore() const;
    Status valuesStartingWith(Field field, const QString& typed, int limit,
                              QStringList* values) const;
    // Makes the indexes those lookups use where they are missing: a registry opened with few
    // cards gets them at once, a large one only when asked (this takes minutes at millions of
    // cards, and the window keeps its own values until then).
    Status makeValueIndexes();
    // The id of the card with exactly this code (binary comparison), or kNoRow.
    Status findCode(const QString& code, RowId* id) const;
    // Walks every card in the given order with one forward-only query; visit returns false to
    // stop early. The store must not be written from inside visit.
    Status forEachCard(Order order, const std::function<bool(RowId, const Card&)>& visit) const;
    // The same walk without building text: each field as the stored UTF-8 bytes, valid only
    // during the call. For scans over a whole large registry (export, indexes).
    Status forEachRawCard(Order order,
                          const std::function<bool(RowId, const RawCard&)>& visit) const;
    // The same walk reading only `fields` (each once); the others read as Null. A walk that
    // needs a few fields reads much less.
    Status forEachRawCard(Order order, std::span<const Field> fields,
                          const std::function<bool(RowId, const RawCard&)>& visit) const;

    // Writes outside a cursor: each is one committed transaction, and each leaves one row per
    // card in table Historial, written in that same transaction (see History.h). A single card
    // added is an "alta"; a batch says why it is written.
    Status insertCard(const Card& card, RowId* id);
    // Adds all the cards in this order as one transaction: either every card is stored or none.
    Status insertCards(std::span<const Card> cards, WriteReason reason);
    // Stores the cards in this order as one transaction, either all or none, each matched by its
    // code: a card whose code is stored is written over that card, except for the fields in
    // `keepOnUpdate`, which keep their stored values; any other card is added. `updated`, when
    // given, tells for each card whether it was written over a stored one.
    Status storeCardsByCode(std::span<const Card> cards, std::span<const Field> keepOnUpdate,
                            std::vector<bool>* updated, WriteReason reason);
    // With `expectedCode`, a card at that id with another code counts as gone (NotFound): the
    // card meant was deleted and its id given to another one meanwhile. With `seen`, the card as
    // the caller last read it: when the stored card, read once its row is locked, differs from
    // it, nothing is deleted and the delete fails as Changed with the stored card in `*seen`.
    Status removeCard(RowId id, const QString* expectedCode = nullptr, Card* seen = nullptr);

    // Cards from another registry merged into this one (see MergeWrite below): all the writes as
    // one transaction, either all or none. Each checks first that the card stored under its code
    // is still the one the merge was decided on (`expected`), and the whole merge is refused
    // (Busy) when another program changed it meanwhile. Every card written gets a history row of
    // reason "combinación" naming `source`. `progress`, when given, is called every few cards
    // with the number done; returning false cancels the merge, which then writes nothing.
    struct MergeWrite;
    Status mergeCards(std::span<const MergeWrite> writes, const QString& source,
                      const std::function<bool(qint64 done)>& progress = {});

    // The cards written since an earlier look, by this program or any other, as of one moment.
    // Table RegistroCambios (see ChangeLog.h) is filled by triggers on Clientes and keeps only the
    // latest writes: a look from further back, or one the log cannot answer, is not `complete`,
    // and the caller must read what it follows afresh.
    struct Changes {
        qint64 position = -1;   // where the log stands: the `since` of the next look
        bool complete = false;  // `ids` names every card added, changed or deleted since
        std::vector<RowId> ids; // ascending, each once; a card may be named without a change
        qint64 count = -1;      // the cards stored at that moment, when asked for
    };
    // `since` < 0 asks only where the log stands (and the count).
    Status changesSince(qint64 since, bool withCount, Changes* changes) const;
    // The caller followed every card written up to log position `position` and knows how many
    // cards that leaves: kept as the count while the log still ends there, so that the next
    // recordCount() does not count a large table again.
    void countFollowed(qint64 count, qint64 position) const;

    // Listeners told after every committed write made through this store (its cursors included),
    // so that indexes kept beside the store stay in step. `card` is the card as stored (null for
    // Removed and Reset); Reset means many cards changed at once and indexes must be rebuilt.
    enum class Change { Added, Changed, Removed, Reset };
    using ChangeListener = std::function<void(Change change, RowId id, const Card* card)>;
    int addChangeListener(ChangeListener listener);
    void removeChangeListener(int handle);

    // A server connection that was lost (the server restarted, the network was cut) is made
    // again at the next command: a read is made once more on the new connection when its first
    // statement finds the old one gone; a write is begun again only when nothing of it was sent,
    // otherwise refused with its message, so that it is never stored twice.
    // connectionLost() tells whether it is lost now, reconnect() tries at once (a window does
    // every few seconds while it is lost), and reconnections() counts the times it was made
    // again, so that what belonged to the old session (listening for other workstations'
    // writes) is renewed and followers catch up. A file is never lost this way.
    bool connectionLost() const;
    Status reconnect() const;
    int reconnections() const { return reconnections_; }
    // Runs a read of the caller's own (search, history) the same way.
    Status withConnection(const std::function<Status()>& read) const;

    // The connection, for subsystems that keep their own indexes or run their own queries.
    // Once the store works on its own thread, they use it only inside call().
    QSqlDatabase database() const;

    // From here on the connection works on a thread of its own (see StoreThread.h): every call
    // that reaches the database hands its work over and waits with the caller's event loop
    // turning, under one time budget per user command. For a window's store; without it every
    // call runs on the caller's thread, as tools and tests use the store.
    void workOnOwnThread();
    // The store's thread, or null while it works on the caller's.
    StoreThread* storeThread() const { return thread_.get(); }
    // Runs `work`, which uses the connection, on the store's thread when it has one, and turns
    // work stopped for running out of time into a failure that says so.
    Status call(const std::function<Status()>& work,
                StoreThread::Kind kind = StoreThread::Kind::Command) const;
    // True on the caller's side of a store that works on its own thread: a member that reaches
    // the database hands its work over with call() (and runs it directly once there).
    bool handOver() const;
    // What differs between the file and the server (StoreEngine.h).
    const StoreEngine& engine() const { return *engine_; }
    StoreEngine& engine() { return *engine_; }

    // The Spanish reason of an engine error (not a database, damaged, locked, read-only, disk
    // full, …), with the engine's own words kept apart.
    static SqlReason explain(const class QSqlError& error,
                             Registry::Engine engine = Registry::Engine::SQLite);
    // "No se pudo <doing>", or "No se pudieron <doing>" when its object is plural.
    static QString couldNot(const QString& doing);

    // Column list "\"Codigo\", \"fecha_atencion\", …" in record order, for queries that read
    // whole cards. The names are quoted: PostgreSQL would fold them to lower case otherwise.
    static const QString& columnList();
    // Builds a Card from a query whose columns from `first` on are the 25 fields in record order.
    static Card cardFromQuery(const class QSqlQuery& query, int first);

private:
    friend class TableCursor;
    friend class StoreEngine;
    friend class History;
    friend class ServerSearch;
    friend class SearchIndex;
    class Writes;
    CardStore(Registry registry, QString connection);
    bool server() const { return registry_.isServer(); }
    Status failure(const struct SqlReason& reason, const QString& doing) const;
    Status failure(const class QSqlError& error, const QString& doing) const;
    // `kind`: a write of many cards is a scan, timed from its last sign of progress.
    Status runWrite(const std::function<Status()>& body, const QString& doing,
                    StoreThread::Kind kind = StoreThread::Kind::Command);
    // Adds a card inside a transaction runWrite opened, at `wantedId` when given.
    Status addInTransaction(const Card& card, WriteReason reason, RowId wantedId, RowId* id,
                            const QString& doing);
    void notify(Change change, RowId id, const Card* card) const;
    Status readOne(RowId id, Card* card) const;
    Status findOne(const QString& code, RowId* id) const;
    Status readChanges(qint64 since, bool withCount, Changes* changes) const;
    // `sql` prepared in a query for reuse. On a server the statement is prepared once per
    // connection and kept, since preparing and releasing it are a round trip each and a save
    // makes dozens of statements; on a file `local` is prepared, unless it already holds `sql`.
    // False when it cannot be prepared, the error then being in the query returned. The caller
    // calls finish() when done, so that no result is kept between uses.
    QSqlQuery& prepared(QSqlQuery& local, const QString& sql, bool* ok) const;

    Registry registry_;
    QString connection_;
    std::unique_ptr<StoreEngine> engine_;
    // The store's own thread, the connection kept for use there (a lookup by name only works on
    // the thread the driver belongs to), and the writes made there, told to the listeners on
    // the caller's thread once the work is done.
    void deliverNotices() const;
    std::unique_ptr<StoreThread> thread_;
    QSqlDatabase db_;
    struct Notice {
        Change change;
        RowId id;
        std::optional<Card> card;
    };
    mutable std::vector<Notice> notices_;
    std::vector<std::pair<int, ChangeListener>> listeners_;
    int nextListener_ = 1;
    bool historyReady_ = false;   // table Historial is known to exist
    bool changeLogReady_ = false; // table RegistroCambios and its triggers are known to exist
    mutable int reconnections_ = 0;
};

// One write of a merge: `card` stored over the card with its code, or added when no card has it;
// with `remove`, the card with that code deleted. `expected` is the card stored under the code
// when the merge was decided (none for a card to add).
struct CardStore::MergeWrite {
    Card card;
    std::optional<Card> expected;
    bool remove = false;
};

// A table-type cursor with the behaviour the window relies on: an index selected by name, an
// equality seek with NoMatch, a copy buffer for AddNew and Edit written by field name, Update
// and Delete as committed transactions, LastModified and Bookmark, and a walk with
// MoveFirst/MoveNext/EOF in stored order, or in code order once "PrimaryKey" is selected.
class TableCursor {
public:
    explicit TableCursor(CardStore* store);

    void setIndex(const QString& name); // "PrimaryKey" or empty for stored order
    const QString& index() const { return index_; }

    // Seek with "=": positions on the card with exactly this code or sets noMatch().
    Status seek(const QString& code);
    bool noMatch() const { return noMatch_; }

    // Optimistic locking is the only mode SQLite offers: rows are locked during Update only.
    void setLockEdits(bool lock) { lockEdits_ = lock; }
    bool lockEdits() const { return lockEdits_; }

    void addNew();
    Status edit(); // fails without a current row
    void cancelUpdate();
    bool editing() const { return mode_ != Mode::None; }

    // Field write into the copy buffer; a null QString writes Null. Unknown names are refused.
    Status setField(const QString& name, const QString& value);
    void setField(Field field, const QString& value);

    // Field read from the copy buffer while editing, otherwise from the current row. Null and
    // "no current row" read as empty text.
    QString field(const QString& name) const;
    const QString& field(Field field) const;
    bool isNull(Field field) const;
    const Card& current() const;
    bool hasCurrent() const { return currentId_ != kNoRow; }

    Status update();
    // Update of an edit that refuses (Changed) when the stored card, read once its row is locked
    // inside the write, is no longer the card the edit began from: another program changed it
    // meanwhile. The copy buffer and the mode stay; the card the edit began from becomes the
    // card as stored now (current() once the edit is cancelled), so that a second call writes
    // over it.
    Status updateUnlessChanged();
    Status remove(); // deletes the current card; afterwards there is no current row
    // A delete that refuses (Changed) when the stored card, read once its row is locked inside
    // the write, is no longer current(): another program changed it meanwhile. current() then
    // becomes the card as stored now, so that a second call deletes it.
    Status removeUnlessChanged();

    RowId lastModified() const { return lastModified_; }
    RowId bookmark() const { return currentId_; }
    Status setBookmark(RowId id);

    Status moveFirst();
    Status moveNext();
    bool eof() const { return eof_; }

    qint64 recordCount(Status* status = nullptr) const { return store_->recordCount(status); }
    void close();

private:
    enum class Mode { None, Add, Edit };
    Status write(bool unlessChanged);
    Status loadBatch();
    Status readRestOfWalk();

    CardStore* store_;
    QString index_;
    bool noMatch_ = false;
    bool lockEdits_ = true;
    bool eof_ = true;
    Mode mode_ = Mode::None;
    RowId currentId_ = kNoRow;
    RowId lastModified_ = kNoRow;
    Card current_;
    Card buffer_;
    std::array<bool, kFieldCount> dirty_{};
    // The walk: the ids in walk order taken at MoveFirst, and a batch of cards read ahead.
    std::vector<RowId> walkIds_;
    size_t walkPos_ = 0;
    Order walkOrder_ = Order::Stored;
    bool walkComplete_ = true; // false while only the first batch's ids are known
    std::vector<std::pair<RowId, Card>> batch_;
    size_t batchPos_ = 0;
};

} // namespace store
