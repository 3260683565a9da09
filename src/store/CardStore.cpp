#include "CardStore.h"

#include "History.h"
#include "PgLink.h"
#include "ServerEngine.h"
#include "SqliteEngine.h"

#include <QCoreApplication>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringBuilder>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <bit>
#include <limits>
#include <map>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace store {

void sortUniqueIds(std::vector<RowId>* ids) {
    if (ids->size() < 2)
        return;
    if (std::is_sorted(ids->begin(), ids->end())) {
        ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
        return;
    }
    const auto [low, high] = std::minmax_element(ids->begin(), ids->end());
    const quint64 first = quint64(*low);
    const quint64 span = quint64(*high) - first;
    if (span / 64 > ids->size()) {
        std::sort(ids->begin(), ids->end());
        ids->erase(std::unique(ids->begin(), ids->end()), ids->end());
        return;
    }
    std::vector<quint64> marks(size_t(span / 64 + 1), 0);
    for (const RowId id : *ids) {
        const quint64 at = quint64(id) - first;
        marks[size_t(at / 64)] |= quint64(1) << (at % 64);
    }
    auto out = ids->begin();
    for (size_t word = 0; word < marks.size(); ++word) {
        for (quint64 bits = marks[word]; bits != 0; bits &= bits - 1)
            *out++ = RowId(first + word * 64 + quint64(std::countr_zero(bits)));
    }
    ids->erase(out, ids->end());
}

namespace {

constexpr size_t kBatchSize = StoreEngine::kReadChunk;

std::atomic<int> connectionCounter{0};

QVariant bindable(const QString& value) {
    // A null QString is bound as SQL NULL, an empty one as ''.
    return value.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(value);
}

QString quotedName(Field f) {
    return u'"' % cardField(f).name.toString() % u'"';
}

} // namespace

QString RawCard::text(Field f) const {
    if (nulls_[f])
        return QString();
    return values_[f].isEmpty() ? QStringLiteral("") : QString::fromUtf8(values_[f]);
}

const QString& CardStore::columnList() {
    static const QString list = [] {
        QStringList names;
        for (const CardField& f : cardFields())
            names.append(quotedName(f.field));
        return names.join(QStringLiteral(", "));
    }();
    return list;
}

Card CardStore::cardFromQuery(const QSqlQuery& query, int first) {
    Card card;
    for (int i = 0; i < kFieldCount; ++i) {
        if (query.isNull(first + i))
            continue;
        QString v = query.value(first + i).toString();
        if (v.isNull())
            v = QStringLiteral(""); // a stored empty text stays distinct from Null
        card[static_cast<Field>(i)] = std::move(v);
    }
    return card;
}

CardStore::CardStore(Registry registry, QString connection)
    : registry_(std::move(registry)), connection_(std::move(connection)) {}

CardStore::~CardStore() {
    if (thread_) {
        // The connection is closed where it works, and its driver given back to this thread so
        // that the connection can be removed here.
        QThread* home = QThread::currentThread();
        (void)call([&] {
            if (engine_)
                engine_->close();
            db_.close();
            if (QSqlDriver* driver = db_.driver())
                driver->moveToThread(home);
            return Status();
        });
        thread_.reset();
        db_ = QSqlDatabase();
    }
    if (engine_)
        engine_->close(); // it may keep statements on the connection closed below
    {
        QSqlDatabase db = QSqlDatabase::database(connection_, false);
        if (db.isOpen())
            db.close();
    }
    QSqlDatabase::removeDatabase(connection_);
}

QSqlDatabase CardStore::database() const {
    return thread_ ? db_ : QSqlDatabase::database(connection_, false);
}

void CardStore::workOnOwnThread() {
    if (thread_ || !QCoreApplication::instance())
        return;
    db_ = QSqlDatabase::database(connection_, false);
    thread_ = std::make_unique<StoreThread>();
    if (QSqlDriver* driver = db_.driver())
        driver->moveToThread(thread_->thread());
    thread_->setStoppers(engine_->workOn(*thread_));
}

bool CardStore::handOver() const {
    return thread_ && !thread_->onStoreThread();
}

Status CardStore::call(const std::function<Status()>& work, StoreThread::Kind kind) const {
    if (!handOver())
        return work();
    Status result;
    const StoreThread::Outcome outcome = thread_->run([&] { result = work(); }, kind);
    deliverNotices();
    // Work stopped for its time fails with whatever the engine says of an interruption; a wait
    // for a lock that gave up by itself already says why.
    if (outcome == StoreThread::Outcome::Interrupted && !result.ok() &&
        result.kind() != ErrorKind::Busy) {
        result = Status::failure(
            server() ? ErrorKind::Unreachable : ErrorKind::Busy,
            QStringLiteral("El registro %1 no respondió en %2 segundos: otro programa u otro "
                           "puesto lo tiene ocupado, o el servidor no contesta. Lo escrito en la "
                           "ventana se conserva; inténtelo de nuevo en un momento.")
                .arg(registry_.quoted())
                .arg(StoreThread::kCommandBudgetMs / 1000),
            result.detail());
    }
    return result;
}

void CardStore::deliverNotices() const {
    std::vector<Notice> notices = std::move(notices_);
    notices_.clear();
    for (const Notice& n : notices) {
        for (const auto& listener : listeners_)
            listener.second(n.change, n.id, n.card ? &*n.card : nullptr);
    }
}

QSqlQuery& CardStore::prepared(QSqlQuery& local, const QString& sql, bool* ok) const {
    return engine_->prepared(local, sql, ok);
}

SqlReason CardStore::explain(const QSqlError& error, Registry::Engine engine) {
    if (engine == Registry::Engine::PostgreSQL)
        return explainServerError(error.nativeErrorCode(), error.databaseText().isEmpty()
                                                               ? error.text()
                                                               : error.databaseText());
    return explainFileError(error);
}

QString CardStore::couldNot(const QString& doing) {
    // "No se pudo guardar la tarjeta", "No se pudieron leer las tarjetas": the verb agrees with
    // a plural object.
    const bool plural =
        doing.contains(QStringLiteral(" las ")) || doing.contains(QStringLiteral(" los "));
    return (plural ? QStringLiteral("No se pudieron ") : QStringLiteral("No se pudo ")) + doing;
}

Status CardStore::failure(const QSqlError& error, const QString& doing) const {
    return failure(engine_->explain(error), doing);
}

Status CardStore::failure(const SqlReason& r, const QString& doing) const {
    return Status::failure(r.kind,
                           QStringLiteral("%1 en el registro %2: %3.")
                               .arg(couldNot(doing), registry_.quoted(), r.reason),
                           r.detail);
}

std::unique_ptr<CardStore> CardStore::open(const QString& path, Status* status,
                                           const OpenOptions& options) {
    return open(Registry::file(path), status, options);
}

std::unique_ptr<CardStore> CardStore::open(const Registry& registry, Status* status,
                                           const OpenOptions& options) {
    const QString connection =
        QStringLiteral("tarjetas-store-%1").arg(connectionCounter.fetch_add(1));
    std::unique_ptr<CardStore> store(new CardStore(registry, connection));
    if (registry.isServer())
        store->engine_ = std::make_unique<ServerEngine>(*store);
    else
        store->engine_ = std::make_unique<SqliteEngine>(*store);
    *status = store->engine_->open(options);
    if (!*status)
        return nullptr;
    return store;
}

bool CardStore::connectionLost() const {
    if (handOver()) {
        bool lost = false;
        (void)call(
            [&] {
                lost = connectionLost();
                return Status();
            },
            StoreThread::Kind::Look);
        return lost;
    }
    return engine_->lost();
}

Status CardStore::reconnect() const {
    if (handOver())
        return call([&] { return reconnect(); });
    // Work stopped for its time is refused as it stands: a new connection and a second try
    // would answer after the time the user was promised. The next command reconnects.
    if (thread_ && thread_->stopped())
        return Status::failure(
            ErrorKind::Unreachable,
            QStringLiteral("El registro %1 no respondió a tiempo.").arg(registry_.quoted()));
    Status s = engine_->reconnect();
    if (s)
        ++reconnections_;
    return s;
}

Status CardStore::withConnection(const std::function<Status()>& read) const {
    if (handOver())
        return call([&] { return withConnection(read); });
    if (engine_->lost()) {
        if (Status s = reconnect(); !s)
            return s;
    }
    Status s = read();
    // A connection lost since the last command (the server restarted) shows at its first
    // statement: the read is made once more on a new connection.
    if (s.kind() == ErrorKind::Unreachable && reconnect())
        s = read();
    return s;
}

Status CardStore::runWrite(const std::function<Status()>& body, const QString& doing,
                           StoreThread::Kind kind) {
    if (handOver())
        return call([&] { return runWrite(body, doing, kind); }, kind);
    if (engine_->lost()) {
        if (Status s = reconnect(); !s)
            return s;
    }
    QSqlDatabase db = database();
    QSqlQuery q(db);
    if (!q.exec(engine_->beginWrite())) {
        // Nothing of the write was sent yet: on a connection found lost, it is begun again on
        // a new one. Once under way, a write is never sent twice: a failure is told instead.
        Status s = failure(q.lastError(), doing);
        if (s.kind() != ErrorKind::Unreachable || !reconnect())
            return s;
        db = database();
        q = QSqlQuery(db);
        if (!q.exec(engine_->beginWrite()))
            return failure(q.lastError(), doing);
    }
    Status result;
    QSqlError error;
    if (!historyReady_ && !History::createTable(db, server(), &error))
        result = failure(error, doing);
    else if (!engine_->ensureChangeLog(&error))
        result = failure(error, doing);
    else
        result = body();
    if (result.ok()) {
        if (q.exec(QStringLiteral("COMMIT"))) {
            historyReady_ = true;
            changeLogReady_ = true;
            return result;
        }
        result = failure(q.lastError(), doing);
    }
    QSqlQuery rollback(db);
    rollback.exec(QStringLiteral("ROLLBACK"));
    return result;
}

qint64 CardStore::recordCount(Status* status) const {
    qint64 count = -1;
    Status s = withConnection([&] {
        Status counted;
        count = engine_->recordCount(&counted);
        return counted;
    });
    if (status)
        *status = s;
    return s ? count : -1;
}

void CardStore::countAhead() const {
    if (!thread_)
        return;
    // The count is kept by the engine with what it needs to tell whether it is still true.
    thread_->post([this] {
        Status ignored;
        (void)engine_->recordCount(&ignored);
    });
}

Status CardStore::rowIds(Order order, std::vector<RowId>* ids) const {
    return rowIds(order, -1, ids);
}

Status CardStore::rowIds(Order order, qint64 limit, std::vector<RowId>* ids) const {
    return withConnection([&] {
        ids->clear();
        return engine_->rowIds(order, limit, ids);
    });
}

Status CardStore::readCards(std::span<const RowId> ids,
                            std::vector<std::pair<RowId, Card>>* cards) const {
    cards->clear();
    if (ids.empty())
        return Status();
    std::unordered_map<RowId, Card> found;
    if (Status s = withConnection([&] {
            found.clear();
            found.reserve(ids.size());
            for (size_t start = 0; start < ids.size(); start += kBatchSize) {
                const size_t n = std::min(kBatchSize, ids.size() - start);
                if (Status s = engine_->readChunk(ids.subspan(start, n), &found); !s)
                    return s;
            }
            return Status();
        });
        !s)
        return s;
    cards->reserve(found.size());
    for (RowId id : ids) {
        auto it = found.find(id);
        if (it != found.end())
            cards->emplace_back(id, it->second);
    }
    return Status();
}

Status CardStore::readCard(RowId id, Card* card) const {
    return withConnection([&] { return readOne(id, card); });
}

Status CardStore::idsFrom(RowId from, bool backwards, RowId upTo, qint64 skip, qint64 limit,
                          std::vector<RowId>* ids) const {
    ids->clear();
    if (limit <= 0)
        return Status();
    return withConnection([&] {
        ids->clear();
        QSqlQuery local(database());
        local.setForwardOnly(true);
        bool ok = false;
        // Both walk the primary key from `from` on: the cost is the rows passed over and read,
        // not the size of the registry.
        QSqlQuery& q = prepared(
            local,
            backwards ? QStringLiteral("SELECT id FROM \"Clientes\" WHERE id < ? AND id <= ? "
                                       "ORDER BY id DESC LIMIT ? OFFSET ?")
                      : QStringLiteral("SELECT id FROM \"Clientes\" WHERE id > ? AND id <= ? "
                                       "ORDER BY id LIMIT ? OFFSET ?"),
            &ok);
        if (ok) {
            q.bindValue(0, from);
            q.bindValue(1, upTo);
            q.bindValue(2, limit);
            q.bindValue(3, std::max<qint64>(skip, 0));
        }
        if (!ok || !q.exec())
            return failure(q.lastError(), QStringLiteral("leer las tarjetas"));
        while (q.next())
            ids->push_back(q.value(0).toLongLong());
        q.finish();
        return Status();
    });
}

Status CardStore::idsEvery(qint64 stride, RowId upTo, std::vector<RowId>* ids) const {
    ids->clear();
    if (stride <= 0)
        return Status();
    return withConnection([&] {
        ids->clear();
        return engine_->idsEvery(stride, upTo, ids);
    });
}

Status CardStore::idsEveryPiece(qint64 stride, RowId after, RowId upTo, qint64 before,
                                std::vector<RowId>* ids, qint64* rows) const {
    *rows = 0;
    if (stride <= 0)
        return Status();
    return withConnection([&] {
        const size_t kept = ids->size();
        *rows = 0;
        const Status status = engine_->idsEveryPiece(stride, after, upTo, before, ids, rows);
        if (!status)
            ids->resize(kept);
        return status;
    });
}

RowId CardStore::samplePieceIds() const {
    return engine_->samplePieceIds();
}

Status StoreEngine::idsEveryPiece(qint64 stride, RowId after, RowId upTo, qint64 before,
                                  std::vector<RowId>* ids, qint64* rows) const {
    // The piece's last row comes too, whatever its number: it tells how many rows the piece has.
    QSqlQuery q(database());
    q.setForwardOnly(true);
    if (!q.prepare(QStringLiteral(
            "SELECT id, n FROM (SELECT id, row_number() OVER (ORDER BY id) AS n FROM "
            "\"Clientes\" WHERE id > ? AND id <= ?) s WHERE (n + ?) % ? = 0 OR id = (SELECT "
            "max(id) FROM \"Clientes\" WHERE id > ? AND id <= ?) ORDER BY id")))
        return failure(q.lastError(), QStringLiteral("leer las tarjetas"));
    for (const qint64 value : {after, upTo, before, stride, after, upTo})
        q.addBindValue(value);
    if (!q.exec())
        return failure(q.lastError(), QStringLiteral("leer las tarjetas"));
    while (q.next()) {
        const qint64 n = q.value(1).toLongLong();
        if ((n + before) % stride == 0)
            ids->push_back(q.value(0).toLongLong());
        *rows = n;
    }
    return Status();
}

Status StoreEngine::idsEvery(qint64 stride, RowId upTo, std::vector<RowId>* ids) const {
    // One piece from the first card.
    qint64 rows = 0;
    return idsEveryPiece(stride, std::numeric_limits<RowId>::min(), upTo, 0, ids, &rows);
}

Status CardStore::countBetween(RowId after, RowId before, qint64* count) const {
    *count = 0;
    if (before <= after + 1)
        return Status();
    return withConnection([&] {
        QSqlQuery local(database());
        bool ok = false;
        QSqlQuery& q = prepared(
            local, QStringLiteral("SELECT count(*) FROM \"Clientes\" WHERE id > ? AND id < ?"),
            &ok);
        if (ok) {
            q.bindValue(0, after);
            q.bindValue(1, before);
        }
        if (!ok || !q.exec() || !q.next())
            return failure(q.lastError(), QStringLiteral("contar las tarjetas"));
        *count = q.value(0).toLongLong();
        q.finish();
        return Status();
    });
}

Status CardStore::lastId(RowId* id) const {
    *id = kNoRow;
    return withConnection([&] {
        QSqlQuery q(database());
        if (!q.exec(QStringLiteral("SELECT max(id) FROM \"Clientes\"")))
            return failure(q.lastError(), QStringLiteral("leer las tarjetas"));
        if (q.next() && !q.value(0).isNull())
            *id = q.value(0).toLongLong();
        return Status();
    });
}

bool CardStore::valuesFromStore() const {
    return engine_->valuesFromStore();
}

Status CardStore::valuesStartingWith(Field field, const QString& typed, int limit,
                                     QStringList* values) const {
    return withConnection([&] {
        values->clear();
        return engine_->valuesStartingWith(field, typed, limit, values);
    });
}

Status CardStore::makeValueIndexes() {
    return engine_->makeValueIndexes();
}

Status CardStore::readOne(RowId id, Card* card) const {
    QSqlQuery local(database());
    bool ok = false;
    QSqlQuery& q = prepared(local,
                            QStringLiteral("SELECT ") % columnList() %
                                QStringLiteral(" FROM \"Clientes\" WHERE id = ?"),
                            &ok);
    if (ok)
        q.bindValue(0, id);
    if (!ok || !q.exec())
        return failure(q.lastError(), QStringLiteral("leer la tarjeta"));
    const bool found = q.next();
    if (found)
        *card = cardFromQuery(q, 0);
    q.finish();
    if (!found)
        return Status::failure(
            ErrorKind::NotFound,
            QStringLiteral("La tarjeta ya no está en el registro %1.").arg(registry_.quoted()));
    return Status();
}

Status CardStore::findCode(const QString& code, RowId* id) const {
    return withConnection([&] { return findOne(code, id); });
}

Status CardStore::findOne(const QString& code, RowId* id) const {
    *id = kNoRow;
    QSqlQuery local(database());
    bool ok = false;
    QSqlQuery& q =
        prepared(local, QStringLiteral("SELECT id FROM \"Clientes\" WHERE \"Codigo\" = ?"), &ok);
    if (ok)
        q.bindValue(0, bindable(code.isNull() ? QStringLiteral("") : code));
    if (!ok || !q.exec())
        return failure(q.lastError(), QStringLiteral("buscar la tarjeta"));
    if (q.next())
        *id = q.value(0).toLongLong();
    q.finish();
    return Status();
}

Status CardStore::forEachRawCard(Order order,
                                 const std::function<bool(RowId, const RawCard&)>& visit) const {
    static const std::array<Field, kFieldCount> all = [] {
        std::array<Field, kFieldCount> fields;
        for (int i = 0; i < kFieldCount; ++i)
            fields[size_t(i)] = static_cast<Field>(i);
        return fields;
    }();
    return forEachRawCard(order, all, visit);
}

Status CardStore::forEachRawCard(Order order, std::span<const Field> fields,
                                 const std::function<bool(RowId, const RawCard&)>& visit) const {
    if (handOver()) {
        return call(
            [&] {
                return forEachRawCard(order, fields, [&](RowId id, const RawCard& raw) {
                    thread_->progress();
                    return visit(id, raw);
                });
            },
            StoreThread::Kind::Scan);
    }
    // Made again only before the first card is visited: the caller never sees a card twice.
    bool visited = false;
    return withConnection([&] {
        if (visited)
            return failure(SqlReason{ErrorKind::Unreachable,
                                     QStringLiteral("se perdió la conexión con el servidor a "
                                                    "mitad de la lectura; vuelva a intentarlo"),
                                     QString()},
                           QStringLiteral("leer las tarjetas"));
        return engine_->forEachRawCard(order, fields, [&](RowId id, const RawCard& raw) {
            visited = true;
            return visit(id, raw);
        });
    });
}

Status CardStore::forEachCard(Order order,
                              const std::function<bool(RowId, const Card&)>& visit) const {
    Card card;
    return forEachRawCard(order, [&](RowId id, const RawCard& raw) {
        for (int i = 0; i < kFieldCount; ++i)
            card[static_cast<Field>(i)] = raw.text(static_cast<Field>(i));
        return visit(id, card);
    });
}

namespace {
QString insertStatement() {
    QString marks = QStringLiteral("?");
    for (int i = 1; i < kFieldCount; ++i)
        marks += QStringLiteral(",?");
    return QStringLiteral("INSERT INTO \"Clientes\" (") % CardStore::columnList() %
           QStringLiteral(") VALUES (") % marks % u')';
}
} // namespace

int CardStore::addChangeListener(ChangeListener listener) {
    listeners_.emplace_back(nextListener_, std::move(listener));
    return nextListener_++;
}

void CardStore::removeChangeListener(int handle) {
    std::erase_if(listeners_, [handle](const auto& l) { return l.first == handle; });
}

void CardStore::notify(Change change, RowId id, const Card* card) const {
    // The count follows the store's own committed writes; the engine looks at its connection
    // for that, so on the store's thread.
    if (handOver())
        (void)call(
            [&] {
                engine_->noteOwnWrite(change);
                return Status();
            },
            StoreThread::Kind::Look);
    else
        engine_->noteOwnWrite(change);
    if (thread_ && thread_->onStoreThread()) {
        notices_.push_back({change, id, card ? std::optional<Card>(*card) : std::nullopt});
        return;
    }
    for (const auto& listener : listeners_)
        listener.second(change, id, card);
}

// The one place every card write goes through: the change to table Clientes and its row in
// table Historial, inside the transaction runWrite opened, so that a failed history row fails the
// write with it. Statements are prepared once for all the cards of a transaction.
class CardStore::Writes {
public:
    Writes(CardStore& store, QString doing)
        : store_(store), doing_(std::move(doing)), db_(store.database()), historyLocal_(db_),
          insert_(db_), insertAt_(db_), read_(db_), remove_(db_) {
        // The history's statement is prepared before the first card is written.
        bool prepared = false;
        QSqlQuery& q = store_.prepared(historyLocal_, HistoryWriter::insertStatement(), &prepared);
        history_.emplace(q, prepared);
    }

    Status add(const Card& card, WriteReason reason, RowId wantedId, RowId* id) {
        bool ok = false;
        QSqlQuery& q = wantedId == kNoRow
                           ? store_.prepared(insert_, insertStatement() + returning(), &ok)
                           : store_.prepared(insertAt_,
                                             QStringLiteral("INSERT INTO \"Clientes\" (id, ") %
                                                 columnList() % QStringLiteral(") VALUES (?") %
                                                 QStringLiteral(",?").repeated(kFieldCount) % u')' %
                                                 returning(),
                                             &ok);
        if (!ok)
            return failed(q.lastError(), card);
        int at = 0;
        if (wantedId != kNoRow)
            q.bindValue(at++, wantedId);
        for (const QString& v : card)
            q.bindValue(at++, bindable(v));
        if (!q.exec())
            return failed(q.lastError(), card);
        const RowId added = store_.engine_->insertedId(q);
        q.finish();
        if (!history_->record(reason, added, nullptr, &card))
            return failed(history_->error(), card);
        if (id)
            *id = added;
        return Status();
    }

    // Writes the values of `fields` of `card` over the stored card with this id; NotFound when
    // it is gone. An edit keeps only the fields whose value changed in its history row, any
    // other write the whole card before and after.
    // With `seen`, the card as the writer last read it: when the stored card, read once its row
    // is locked, differs from it, nothing is written and the write fails as Changed with the
    // stored card in `*seen`. Compared before the lock, a change another workstation was
    // committing meanwhile was overwritten unseen.
    Status change(RowId id, const Card& card, std::span<const Field> fields, WriteReason reason,
                  Card* stored, const QString* expectedCode = nullptr, Card* seen = nullptr) {
        Card before;
        if (Status s = read(id, &before, expectedCode); !s)
            return s;
        if (seen && !sameCard(before, *seen)) {
            *seen = before;
            return Status::failure(ErrorKind::Changed,
                                   QStringLiteral("Otro programa modificó la tarjeta en el "
                                                  "registro %1 mientras se editaba.")
                                       .arg(store_.registry().quoted()));
        }
        Card after = before;
        std::vector<Field> changed;
        QStringList sets;
        QVariantList values;
        for (Field f : fields) {
            after[f] = card[f];
            sets.append(quotedName(f) + QStringLiteral(" = ?"));
            values.append(bindable(card[f]));
            if (!sameValue(before[f], card[f]))
                changed.push_back(f);
        }
        if (stored)
            *stored = after;
        if (sets.isEmpty())
            return Status();
        QSqlQuery local(db_);
        bool ok = false;
        QSqlQuery& q =
            store_.prepared(local,
                            QStringLiteral("UPDATE \"Clientes\" SET ") %
                                sets.join(QStringLiteral(", ")) % QStringLiteral(" WHERE id = ?"),
                            &ok);
        if (!ok)
            return failed(q.lastError(), card);
        int at = 0;
        for (const QVariant& v : values)
            q.bindValue(at++, v);
        q.bindValue(at, id);
        if (!q.exec())
            return failed(q.lastError(), card);
        q.finish();
        if (reason == WriteReason::Modificacion) {
            // An edit that changed nothing leaves no row.
            if (!changed.empty() && !history_->record(reason, id, &before, &after, changed))
                return failed(history_->error(), card);
        } else if (!history_->record(reason, id, &before, &after)) {
            return failed(history_->error(), card);
        }
        return Status();
    }

    // Deletes the stored card with this id; NotFound when it is gone. With `seen`, as change().
    Status remove(RowId id, WriteReason reason, const QString* expectedCode = nullptr,
                  Card* seen = nullptr) {
        Card before;
        if (Status s = read(id, &before, expectedCode); !s)
            return s;
        if (seen && !sameCard(before, *seen)) {
            *seen = before;
            return Status::failure(ErrorKind::Changed,
                                   QStringLiteral("Otro programa modificó la tarjeta en el "
                                                  "registro %1 mientras se eliminaba.")
                                       .arg(store_.registry().quoted()));
        }
        bool ok = false;
        QSqlQuery& q =
            store_.prepared(remove_, QStringLiteral("DELETE FROM \"Clientes\" WHERE id = ?"), &ok);
        if (!ok)
            return store_.failure(q.lastError(), doing_);
        q.bindValue(0, id);
        if (!q.exec())
            return store_.failure(q.lastError(), doing_);
        q.finish();
        if (!history_->record(reason, id, &before, nullptr))
            return store_.failure(history_->error(), doing_);
        return Status();
    }

    // The stored card with this id; NotFound when it is gone, or when it holds another code than
    // the one expected. On a server the row is locked until the transaction ends: another
    // workstation's change or delete of the card then either ends before this read, which sees
    // it, or waits for this write. Unlocked, a change read an older card than it wrote over (its
    // history row told other values as before) and a card deleted meanwhile was "changed" by an
    // update of no row, reported as saved.
    Status read(RowId id, Card* card, const QString* expectedCode = nullptr) {
        bool ok = false;
        QSqlQuery& q = store_.prepared(read_,
                                       QStringLiteral("SELECT ") % columnList() %
                                           QStringLiteral(" FROM \"Clientes\" WHERE id = ?") %
                                           store_.engine_->lockRow(),
                                       &ok);
        if (!ok)
            return store_.failure(q.lastError(), doing_);
        q.bindValue(0, id);
        if (!q.exec())
            return store_.failure(q.lastError(), doing_);
        const bool found = q.next();
        if (found)
            *card = cardFromQuery(q, 0);
        q.finish();
        if (!found || (expectedCode && (*card)[Codigo] != *expectedCode))
            return Status::failure(ErrorKind::NotFound,
                                   QStringLiteral("La tarjeta ya no está en el registro %1: otro "
                                                  "programa la eliminó.")
                                       .arg(store_.registry().quoted()));
        return Status();
    }

    // The id of the card with exactly this code, or kNoRow.
    Status find(const QString& code, RowId* id) { return store_.findCode(code, id); }

    // The rows written from now on name the registry the values came from.
    void setHistorySource(const QString& source) { history_->setSource(source); }

    // Batches of a merge: each statement below takes many cards, so that a server is asked once
    // per batch rather than several times per card. The codes of a batch are distinct.

    // The stored cards with these codes (a null code looked up as an empty one), by code, with
    // their ids; on a server their rows locked until the transaction ends, as read() locks one.
    Status findMany(std::span<const QString> codes,
                    std::unordered_map<QString, std::pair<RowId, Card>>* found) {
        found->clear();
        if (codes.empty())
            return Status();
        QSqlError error;
        QSqlQuery* query =
            batchQuery(QStringLiteral("SELECT id, ") % columnList() %
                           QStringLiteral(" FROM \"Clientes\" WHERE \"Codigo\" IN ") %
                           marks(int(codes.size()), 1) % store_.engine_->lockRow(),
                       &error);
        if (!query)
            return store_.failure(error, doing_);
        QSqlQuery& q = *query;
        int at = 0;
        for (const QString& code : codes)
            q.bindValue(at++, code.isNull() ? QStringLiteral("") : code);
        if (!q.exec())
            return store_.failure(q.lastError(), doing_);
        while (q.next()) {
            Card card = cardFromQuery(q, 1);
            QString code = card[Codigo];
            found->emplace(std::move(code), std::pair{q.value(0).toLongLong(), std::move(card)});
        }
        q.finish();
        return Status();
    }

    // Adds the cards in this order, one statement for all; their new ids in `ids`, in the same
    // order. Their history rows are the caller's (see recordMany).
    Status addMany(std::span<const Card* const> cards, std::vector<RowId>* ids) {
        ids->clear();
        if (cards.empty())
            return Status();
        QSqlError error;
        QSqlQuery* query =
            batchQuery(QStringLiteral("INSERT INTO \"Clientes\" (") % columnList() %
                           QStringLiteral(") VALUES ") % marks(kFieldCount, cards.size()) %
                           QStringLiteral(" RETURNING id, \"Codigo\""),
                       &error);
        if (!query)
            return failed(error, *cards.front());
        QSqlQuery& q = *query;
        int at = 0;
        for (const Card* card : cards) {
            for (const QString& v : *card)
                q.bindValue(at++, bindable(v));
        }
        if (!q.exec())
            return failed(q.lastError(), *cards.front());
        // The rows come back in no promised order: matched by their codes, distinct in a batch.
        std::unordered_map<QString, RowId> byCode;
        while (q.next())
            byCode.emplace(q.isNull(1) ? QStringLiteral("") : q.value(1).toString(),
                           q.value(0).toLongLong());
        q.finish();
        for (const Card* card : cards) {
            const auto it =
                byCode.find((*card)[Codigo].isNull() ? QStringLiteral("") : (*card)[Codigo]);
            if (it == byCode.end())
                return failed(QSqlError(QString(),
                                        QStringLiteral("la tarjeta agregada no se encontró"),
                                        QSqlError::StatementError),
                              *card);
            ids->push_back(it->second);
        }
        return Status();
    }

    // Writes every field of each card over the stored card with its id, one statement for all.
    Status changeMany(std::span<const std::pair<RowId, const Card*>> cards) {
        if (cards.empty())
            return Status();
        static const QString sets = [] {
            QStringList list;
            for (const CardField& f : cardFields())
                list.append(quotedName(f.field) % QStringLiteral(" = v.c") %
                            QString::number(int(f.field)));
            return list.join(QStringLiteral(", "));
        }();
        static const QString names = [] {
            QString list = QStringLiteral("id");
            for (int i = 0; i < kFieldCount; ++i)
                list += QStringLiteral(", c") + QString::number(i);
            return list;
        }();
        QSqlError error;
        QSqlQuery* query =
            batchQuery(QStringLiteral("WITH v(") % names % QStringLiteral(") AS (VALUES ") %
                           marks(kFieldCount + 1, cards.size()) %
                           QStringLiteral(") UPDATE \"Clientes\" SET ") % sets %
                           QStringLiteral(" FROM v WHERE \"Clientes\".id = CAST(v.id AS bigint)"),
                       &error);
        if (!query)
            return failed(error, *cards.front().second);
        QSqlQuery& q = *query;
        int at = 0;
        for (const auto& [id, card] : cards) {
            q.bindValue(at++, id);
            for (const QString& v : *card)
                q.bindValue(at++, bindable(v));
        }
        if (!q.exec())
            return failed(q.lastError(), *cards.front().second);
        q.finish();
        return Status();
    }

    // History rows made with history(), one statement for all, in this order.
    Status recordMany(std::span<const HistoryWriter::Row> rows) {
        if (rows.empty())
            return Status();
        QSqlError error;
        QSqlQuery* query = batchQuery(
            QStringLiteral("INSERT INTO \"Historial\" (cuando, usuario, equipo, accion, codigo, "
                           "tarjeta, antes, despues) VALUES ") %
                marks(int(std::tuple_size_v<HistoryWriter::Row>), rows.size()),
            &error);
        if (!query)
            return store_.failure(error, doing_);
        QSqlQuery& q = *query;
        int at = 0;
        for (const HistoryWriter::Row& row : rows) {
            for (const QVariant& v : row)
                q.bindValue(at++, v);
        }
        if (!q.exec())
            return store_.failure(q.lastError(), doing_);
        q.finish();
        return Status();
    }
    const HistoryWriter& history() const { return *history_; }

private:
    QString returning() const { return store_.engine_->returningId(); }
    // "(?,?),(?,?)": `rows` groups of `columns` marks.
    static QString marks(int columns, size_t rows) {
        const QString row =
            u'(' % QStringLiteral("?,").repeated(columns - 1) % QStringLiteral("?)");
        QString all;
        all.reserve(qsizetype(rows) * (row.size() + 1));
        for (size_t i = 0; i < rows; ++i) {
            if (i > 0)
                all += u',';
            all += row;
        }
        return all;
    }
    // A batch's statement, prepared once for the transaction: the batches are of one size
    // but the last.
    QSqlQuery* batchQuery(const QString& sql, QSqlError* error) {
        auto it = batches_.find(sql);
        if (it == batches_.end()) {
            QSqlQuery q(db_);
            q.setForwardOnly(true);
            if (!q.prepare(sql)) {
                *error = q.lastError();
                return nullptr;
            }
            it = batches_.emplace(sql, std::move(q)).first;
        }
        return &it->second;
    }
    static bool sameValue(const QString& a, const QString& b) {
        return a.isNull() == b.isNull() && a == b;
    }
    // Null and an empty text read alike here: both show as an empty field.
    static bool sameCard(const Card& a, const Card& b) {
        for (int i = 0; i < kFieldCount; ++i) {
            const QString& x = a[static_cast<Field>(i)];
            const QString& y = b[static_cast<Field>(i)];
            if (x != y && !(x.isEmpty() && y.isEmpty()))
                return false;
        }
        return true;
    }
    Status failed(const QSqlError& error, const Card& card) const {
        // In a batch the message names the card that could not be stored.
        return store_.failure(error, doing_.contains(QStringLiteral(" las "))
                                         ? QStringLiteral("guardar la tarjeta %1").arg(card[Codigo])
                                         : doing_);
    }

    CardStore& store_;
    QString doing_;
    QSqlDatabase db_;
    QSqlQuery historyLocal_;
    std::optional<HistoryWriter> history_;
    QSqlQuery insert_;
    QSqlQuery insertAt_;
    QSqlQuery read_;
    QSqlQuery remove_;
    std::map<QString, QSqlQuery> batches_;
};

Status CardStore::addInTransaction(const Card& card, WriteReason reason, RowId wantedId, RowId* id,
                                   const QString& doing) {
    Writes writes(*this, doing);
    return writes.add(card, reason, wantedId, id);
}

Status CardStore::insertCard(const Card& card, RowId* id) {
    RowId added = kNoRow;
    const QString doing = QStringLiteral("guardar la tarjeta");
    Status status = runWrite(
        [&]() -> Status {
            return Writes(*this, doing).add(card, WriteReason::Alta, kNoRow, &added);
        },
        doing);
    if (id)
        *id = status ? added : kNoRow;
    if (status)
        notify(Change::Added, added, &card);
    return status;
}

Status CardStore::insertCards(std::span<const Card> cards, WriteReason reason) {
    if (cards.empty())
        return Status();
    const QString doing = QStringLiteral("guardar las tarjetas");
    Status status = runWrite(
        [&]() -> Status {
            Writes writes(*this, doing);
            for (const Card& card : cards) {
                if (Status s = writes.add(card, reason, kNoRow, nullptr); !s)
                    return s;
            }
            return Status();
        },
        doing);
    if (status)
        notify(Change::Reset, kNoRow, nullptr);
    return status;
}

Status CardStore::storeCardsByCode(std::span<const Card> cards, std::span<const Field> keepOnUpdate,
                                   std::vector<bool>* updated, WriteReason reason) {
    std::vector<bool> replaced;
    std::vector<Field> written;
    for (const CardField& f : cardFields()) {
        if (std::find(keepOnUpdate.begin(), keepOnUpdate.end(), f.field) == keepOnUpdate.end())
            written.push_back(f.field);
    }
    const QString doing = QStringLiteral("guardar las tarjetas");
    Status status = runWrite(
        [&]() -> Status {
            Writes writes(*this, doing);
            for (const Card& card : cards) {
                if (thread_)
                    thread_->progress();
                RowId id = kNoRow;
                if (Status s = writes.find(card[Codigo], &id); !s)
                    return s;
                Status s = id != kNoRow ? writes.change(id, card, written, reason, nullptr)
                                        : writes.add(card, reason, kNoRow, nullptr);
                if (!s)
                    return s;
                replaced.push_back(id != kNoRow);
            }
            return Status();
        },
        // A file of thousands of web cards may take longer than a command's budget on a slow
        // machine, and would then be refused at every start.
        doing, StoreThread::Kind::Scan);
    if (status)
        notify(Change::Reset, kNoRow, nullptr);
    if (updated)
        *updated = status ? std::move(replaced) : std::vector<bool>();
    return status;
}

Status CardStore::removeCard(RowId id, const QString* expectedCode, Card* seen) {
    const QString doing = QStringLiteral("eliminar la tarjeta");
    Status status = runWrite(
        [&]() -> Status {
            Status s = Writes(*this, doing).remove(id, WriteReason::Baja, expectedCode, seen);
            if (s.kind() == ErrorKind::NotFound)
                return Status::failure(ErrorKind::NotFound,
                                       QStringLiteral("La tarjeta ya no está en el registro %1.")
                                           .arg(registry_.quoted()));
            return s;
        },
        doing);
    if (status)
        notify(Change::Removed, id, nullptr);
    return status;
}

std::unique_ptr<TableCursor> CardStore::openTable() {
    return std::make_unique<TableCursor>(this);
}

// --- TableCursor ---

namespace {
const Card& emptyCard() {
    static const Card card;
    return card;
}
const QString& emptyText() {
    static const QString text;
    return text;
}
} // namespace

TableCursor::TableCursor(CardStore* store) : store_(store) {}

void TableCursor::setIndex(const QString& name) {
    index_ = name;
}

Status TableCursor::seek(const QString& code) {
    RowId id = kNoRow;
    Status s = store_->findCode(code, &id);
    if (!s) {
        noMatch_ = true;
        currentId_ = kNoRow;
        return s;
    }
    if (id == kNoRow) {
        noMatch_ = true;
        currentId_ = kNoRow;
        current_ = Card();
        return Status();
    }
    s = setBookmark(id);
    // Another program deleted the card between finding its code and reading it: at the moment
    // of the seek no card has the code, as if it had been looked for a moment later.
    noMatch_ = s.kind() == ErrorKind::NotFound;
    if (noMatch_) {
        currentId_ = kNoRow;
        current_ = Card();
        return Status();
    }
    return s;
}

void TableCursor::addNew() {
    mode_ = Mode::Add;
    buffer_ = Card();
    dirty_.fill(false);
}

Status TableCursor::edit() {
    if (currentId_ == kNoRow)
        return Status::failure(ErrorKind::NoCurrentRow,
                               QStringLiteral("No hay una tarjeta seleccionada para modificar."));
    mode_ = Mode::Edit;
    buffer_ = current_;
    dirty_.fill(false);
    return Status();
}

void TableCursor::cancelUpdate() {
    mode_ = Mode::None;
    dirty_.fill(false);
}

Status TableCursor::setField(const QString& name, const QString& value) {
    const std::optional<Field> f = fieldByName(name);
    if (!f)
        return Status::failure(ErrorKind::Other,
                               QStringLiteral("La tabla Clientes no tiene el campo %1.").arg(name));
    setField(*f, value);
    return Status();
}

void TableCursor::setField(Field field, const QString& value) {
    buffer_[field] = value;
    dirty_[field] = true;
}

QString TableCursor::field(const QString& name) const {
    const std::optional<Field> f = fieldByName(name);
    return f ? field(*f) : QString();
}

const QString& TableCursor::field(Field f) const {
    if (mode_ != Mode::None)
        return buffer_[f];
    return currentId_ == kNoRow ? emptyText() : current_[f];
}

bool TableCursor::isNull(Field f) const {
    return current()[f].isNull();
}

const Card& TableCursor::current() const {
    if (mode_ != Mode::None)
        return buffer_;
    return currentId_ == kNoRow ? emptyCard() : current_;
}

Status TableCursor::update() {
    return write(false);
}

Status TableCursor::updateUnlessChanged() {
    return write(true);
}

Status TableCursor::write(bool unlessChanged) {
    if (mode_ == Mode::None)
        return Status::failure(ErrorKind::Other,
                               QStringLiteral("No hay una tarjeta en edición para guardar."));
    RowId saved = kNoRow;
    Status s;
    if (mode_ == Mode::Add) {
        s = store_->insertCard(buffer_, &saved);
    } else {
        const RowId id = currentId_;
        const QString doing = QStringLiteral("guardar la tarjeta");
        Card seen = current_;
        s = store_->runWrite(
            [&]() -> Status {
                std::vector<Field> fields;
                for (int i = 0; i < kFieldCount; ++i) {
                    if (dirty_[i])
                        fields.push_back(static_cast<Field>(i));
                }
                // The code read with the row: a card given this id meanwhile is not written.
                return CardStore::Writes(*store_, doing)
                    .change(id, buffer_, fields, WriteReason::Modificacion, nullptr,
                            &current_[Codigo], unlessChanged ? &seen : nullptr);
            },
            QStringLiteral("guardar la tarjeta"));
        if (s.kind() == ErrorKind::Changed)
            current_ = std::move(seen); // the card as stored now; a retry compares with it
        saved = id;
    }
    if (!s)
        return s; // the copy buffer and the mode stay, so nothing typed is lost
    lastModified_ = saved;
    if (mode_ == Mode::Edit) {
        current_ = buffer_;
        store_->notify(CardStore::Change::Changed, saved, &current_);
    }
    mode_ = Mode::None;
    dirty_.fill(false);
    return Status();
}

Status TableCursor::remove() {
    if (currentId_ == kNoRow)
        return Status::failure(ErrorKind::NoCurrentRow,
                               QStringLiteral("No hay una tarjeta seleccionada para eliminar."));
    Status s = store_->removeCard(currentId_, &current_[Codigo]);
    if (!s)
        return s;
    currentId_ = kNoRow;
    current_ = Card();
    return Status();
}

Status TableCursor::removeUnlessChanged() {
    if (currentId_ == kNoRow)
        return remove();
    Card seen = current_;
    Status s = store_->removeCard(currentId_, &current_[Codigo], &seen);
    if (s.kind() == ErrorKind::Changed)
        current_ = std::move(seen);
    if (!s)
        return s;
    currentId_ = kNoRow;
    current_ = Card();
    return Status();
}

Status TableCursor::setBookmark(RowId id) {
    Card card;
    Status s = store_->readCard(id, &card);
    if (!s)
        return s;
    currentId_ = id;
    current_ = std::move(card);
    return Status();
}

Status TableCursor::moveFirst() {
    batch_.clear();
    batchPos_ = 0;
    walkPos_ = 0;
    // Only the first batch's ids are read now: a MoveFirst that looks at the first card alone
    // (as after a delete) costs no walk over the whole table. The rest are read when the walk
    // goes past the first batch.
    walkOrder_ = index_ == kPrimaryKey ? Order::ByCode : Order::Stored;
    Status s = store_->rowIds(walkOrder_, qint64(kBatchSize), &walkIds_);
    if (!s) {
        eof_ = true;
        return s;
    }
    walkComplete_ = walkIds_.size() < kBatchSize;
    return loadBatch();
}

Status TableCursor::readRestOfWalk() {
    std::vector<RowId> first = std::move(walkIds_);
    walkComplete_ = true;
    walkPos_ = 0;
    Status s = store_->rowIds(walkOrder_, &walkIds_);
    if (!s)
        return s;
    // Go on after the last card of the first batch still stored; ids of that batch never come
    // twice.
    for (auto it = first.rbegin(); it != first.rend(); ++it) {
        auto at = std::find(walkIds_.begin(), walkIds_.end(), *it);
        if (at != walkIds_.end()) {
            walkPos_ = size_t(at - walkIds_.begin()) + 1;
            return s;
        }
    }
    std::sort(first.begin(), first.end());
    std::erase_if(walkIds_,
                  [&](RowId id) { return std::binary_search(first.begin(), first.end(), id); });
    return s;
}

Status TableCursor::moveNext() {
    if (eof_)
        return Status();
    ++batchPos_;
    if (batchPos_ < batch_.size()) {
        currentId_ = batch_[batchPos_].first;
        current_ = batch_[batchPos_].second;
        return Status();
    }
    return loadBatch();
}

Status TableCursor::loadBatch() {
    batch_.clear();
    batchPos_ = 0;
    do {
        if (!walkComplete_ && walkPos_ >= walkIds_.size()) {
            if (Status s = readRestOfWalk(); !s) {
                eof_ = true;
                return s;
            }
        }
        // Cards deleted since MoveFirst are skipped; a batch may come back shorter than asked.
        while (batch_.empty() && walkPos_ < walkIds_.size()) {
            const size_t n = std::min(kBatchSize, walkIds_.size() - walkPos_);
            Status s = store_->readCards(std::span(walkIds_).subspan(walkPos_, n), &batch_);
            walkPos_ += n;
            if (!s) {
                eof_ = true;
                return s;
            }
        }
    } while (batch_.empty() && !walkComplete_);
    if (batch_.empty()) {
        eof_ = true;
        currentId_ = kNoRow;
        current_ = Card();
        return Status();
    }
    eof_ = false;
    currentId_ = batch_.front().first;
    current_ = batch_.front().second;
    return Status();
}

void TableCursor::close() {
    walkIds_.clear();
    batch_.clear();
    currentId_ = kNoRow;
    mode_ = Mode::None;
    eof_ = true;
}

// Merging another registry: a function of its own over the one write path above.
Status CardStore::mergeCards(std::span<const MergeWrite> writes, const QString& source,
                             const std::function<bool(qint64)>& progress) {
    if (writes.empty())
        return Status();
    if (handOver()) {
        // The whole write runs on the store's thread, as a walk that keeps its time while it
        // moves. Its progress is told on this thread while it waits (never after), and a cancel
        // answered there stops the write at its next step.
        QObject* caller = QCoreApplication::instance();
        const auto waiting = std::make_shared<bool>(true);
        const auto going = std::make_shared<std::atomic<bool>>(true);
        const Status s = call(
            [&] {
                return mergeCards(writes, source, [&](qint64 done) {
                    thread_->progress();
                    if (progress)
                        QMetaObject::invokeMethod(
                            caller,
                            [waiting, going, &progress, done] {
                                if (*waiting && !progress(done))
                                    *going = false;
                            },
                            Qt::QueuedConnection);
                    return going->load();
                });
            },
            StoreThread::Kind::Scan);
        *waiting = false;
        return s;
    }
    const QString doing = QStringLiteral("combinar las tarjetas");
    // Thousands of cards land at places all over a large file's indexes: a larger page cache for
    // this one transaction keeps them from being read again and again.
    std::optional<qint64> cacheSize;
    if (!server()) {
        QSqlQuery q(database());
        if (q.exec(QStringLiteral("PRAGMA cache_size")) && q.next())
            cacheSize = q.value(0).toLongLong();
        q.finish();
        q.exec(QStringLiteral("PRAGMA cache_size = -65536"));
    }
    // Cards written per batch of statements: a server is asked a few times per batch.
    constexpr size_t kMergeBatch = 200;
    const Status cancelled =
        Status::failure(ErrorKind::Other, QStringLiteral("La combinación se canceló: el registro "
                                                         "%1 no cambió.")
                                              .arg(registry_.quoted()));
    const auto changedMeanwhile = [&](const QString& code) {
        return Status::failure(ErrorKind::Busy,
                               QStringLiteral("Otro programa cambió la tarjeta %1 del registro %2 "
                                              "mientras se combinaba: no se guardó ningún cambio. "
                                              "Vuelva a combinar para ver las tarjetas como están "
                                              "ahora.")
                                   .arg(code, registry_.quoted()));
    };
    const auto keyOf = [](const Card& card) {
        return card[Codigo].isNull() ? QStringLiteral("") : card[Codigo];
    };
    Status status = runWrite(
        [&]() -> Status {
            Writes w(*this, doing);
            w.setHistorySource(source);
            qint64 done = 0;
            std::unordered_set<QString> codes;
            std::vector<QString> batchCodes;
            std::unordered_map<QString, std::pair<RowId, Card>> stored;
            std::vector<const Card*> adds;
            std::vector<std::pair<RowId, const Card*>> changes;
            std::vector<const Card*> before; // the stored card of each change
            std::vector<RowId> added;
            std::vector<HistoryWriter::Row> rows;
            for (size_t at = 0; at < writes.size();) {
                if (progress && !progress(done))
                    return cancelled;
                // The next batch: its codes distinct, so that one look-up tells each write what
                // is stored under its code before any of the batch is written.
                codes.clear();
                batchCodes.clear();
                size_t end = at;
                while (end < writes.size() && end - at < kMergeBatch &&
                       codes.insert(keyOf(writes[end].card)).second)
                    batchCodes.push_back(keyOf(writes[end++].card));
                if (Status s = w.findMany(batchCodes, &stored); !s)
                    return s;
                adds.clear();
                changes.clear();
                before.clear();
                for (size_t i = at; i < end; ++i) {
                    const MergeWrite& m = writes[i];
                    const auto found = stored.find(batchCodes[i - at]);
                    const bool present = found != stored.end();
                    const bool asDecided =
                        m.expected ? present && found->second.second == *m.expected : !present;
                    if (!asDecided)
                        return changedMeanwhile(m.card[Codigo]);
                    if (m.remove) {
                        if (!present)
                            continue; // nothing stored to delete
                        if (Status s = w.remove(found->second.first, WriteReason::Combinacion); !s)
                            return s;
                    } else if (!present) {
                        adds.push_back(&m.card);
                    } else if (found->second.second != m.card) { // the same values write nothing
                        changes.emplace_back(found->second.first, &m.card);
                        before.push_back(&found->second.second);
                    }
                }
                if (Status s = w.addMany(adds, &added); !s)
                    return s;
                if (Status s = w.changeMany(changes); !s)
                    return s;
                // One history row per card written: the added ones' in their order, then the
                // changed ones'.
                rows.clear();
                for (size_t i = 0; i < adds.size(); ++i)
                    rows.push_back(
                        w.history().row(WriteReason::Combinacion, added[i], nullptr, adds[i]));
                for (size_t i = 0; i < changes.size(); ++i)
                    rows.push_back(w.history().row(WriteReason::Combinacion, changes[i].first,
                                                   before[i], changes[i].second));
                if (Status s = w.recordMany(rows); !s)
                    return s;
                done += qint64(end - at);
                at = end;
            }
            if (progress && !progress(done))
                return cancelled;
            return Status();
        },
        doing);
    if (cacheSize)
        QSqlQuery(database()).exec(QStringLiteral("PRAGMA cache_size = %1").arg(*cacheSize));
    if (status)
        notify(Change::Reset, kNoRow, nullptr);
    return status;
}

} // namespace store
