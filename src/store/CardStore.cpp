#include "CardStore.h"

#include "ChangeLog.h"
#include "History.h"
#include "PgLink.h"
#include "SearchIndex.h"
#include "StoreThread.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringBuilder>
#include <QThread>

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <optional>
#include <thread>
#include <unordered_map>

namespace store {

namespace {

// 2: table Historial, and the search index BusquedaTarjetas kept by triggers.
// 3: the change log RegistroCambios kept by triggers.
constexpr int kSchemaVersion = 3;
constexpr size_t kBatchSize = 256;

std::atomic<int> connectionCounter{0};

QString quoted(const QString& path) {
    return u'«' % QDir::toNativeSeparators(path) % u'»';
}

// SQLite result codes (the primary code is the low byte of an extended one).
enum SqliteCode {
    SqlitePerm = 3,
    SqliteBusy = 5,
    SqliteLocked = 6,
    SqliteReadOnly = 8,
    SqliteIoErr = 10,
    SqliteCorrupt = 11,
    SqliteFull = 13,
    SqliteCantOpen = 14,
    SqliteConstraint = 19,
    SqliteNotADb = 26,
};

QVariant bindable(const QString& value) {
    // A null QString is bound as SQL NULL, an empty one as ''.
    return value.isNull() ? QVariant(QMetaType::fromType<QString>()) : QVariant(value);
}

QString orderClause(Order order) {
    return order == Order::ByCode ? QStringLiteral(" ORDER BY \"Codigo\", id")
                                  : QStringLiteral(" ORDER BY id");
}

QString quotedName(Field f) {
    return u'"' % cardField(f).name.toString() % u'"';
}

// The sequence every statement that writes table Clientes on a server advances (a trigger does
// it), so that a count can tell whether another workstation wrote since it was taken.
const QString kChangeSequence = QStringLiteral("\"Clientes_cambios\"");

// A statement on the store's own connection. Scans over many cards use SQLite directly: going
// through QSqlQuery costs a QVariant per value, which made a walk over a million cards take
// seconds longer than the store itself needs.
class Statement {
public:
    Statement(sqlite3* db, const QString& sql) : db_(db) {
        if (db_) {
            const QByteArray utf8 = sql.toUtf8();
            rc_ = sqlite3_prepare_v2(db_, utf8.constData(), int(utf8.size()), &stmt_, nullptr);
        }
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool prepared() const { return stmt_ != nullptr && rc_ == SQLITE_OK; }
    // True while a row is ready; false at the end or on an error (see failed()).
    bool step() {
        rc_ = sqlite3_step(stmt_);
        return rc_ == SQLITE_ROW;
    }
    bool failed() const { return rc_ != SQLITE_OK && rc_ != SQLITE_ROW && rc_ != SQLITE_DONE; }
    sqlite3_stmt* get() const { return stmt_; }
    QSqlError error() const {
        const int code = db_ ? sqlite3_extended_errcode(db_) : SQLITE_MISUSE;
        return QSqlError(QString(), db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString(),
                         QSqlError::StatementError, QString::number(code));
    }

private:
    sqlite3* db_;
    sqlite3_stmt* stmt_ = nullptr;
    int rc_ = SQLITE_ERROR;
};

sqlite3* handleOf(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(v.constData());
}

} // namespace

// How the store waits for another program that holds the file: SQLite's own busy timeout sleeps
// longer and longer between tries (up to 100 ms), so behind another program that writes without
// pause it kept missing the moments the file was free, and one command of the window, which runs
// several statements (the seek, the write, the reads that show the result), waited several
// seconds more than the timeout. Trying again every few milliseconds takes the file as soon as it
// is free; each statement still gives up after the timeout.
class BusyWait {
public:
    explicit BusyWait(int timeoutMs) : timeoutMs_(timeoutMs) {}
    // On the store's own thread the wait also ends with the budget of the command under way.
    void setThread(const StoreThread* thread) { thread_ = thread; }

    static int retry(void* self, int attempt) {
        return static_cast<BusyWait*>(self)->retry(attempt);
    }

private:
    int retry(int attempt) {
        if (attempt == 0)
            waited_.start();
        qint64 left = timeoutMs_ - waited_.elapsed();
        if (thread_ && thread_->onStoreThread())
            left = std::min(left, thread_->lockWaitLeft());
        if (left <= 0)
            return 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(
            std::min<qint64>(left, std::min(1 << std::min(attempt, 3), 5))));
        return 1;
    }

    int timeoutMs_;
    const StoreThread* thread_ = nullptr;
    QElapsedTimer waited_;
};

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
            prepared_.clear();
            bulk_.reset();
            db_.close();
            if (QSqlDriver* driver = db_.driver())
                driver->moveToThread(home);
            return Status();
        });
        thread_.reset();
        db_ = QSqlDatabase();
    }
    prepared_.clear(); // its statements use the connection closed below
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
    if (busyWait_)
        busyWait_->setThread(thread_.get());
    if (server()) {
        setServerStoppers(*thread_);
    } else if (sqlite3* handle = handleOf(db_)) {
        // Interrupting a statement is SQLite's one call meant for another thread.
        const auto interrupt = [handle] {
            sqlite3_interrupt(handle);
        };
        thread_->setStoppers({interrupt, interrupt});
    }
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
    if (!server()) {
        *ok = local.lastQuery() == sql || local.prepare(sql);
        return local;
    }
    if (auto it = prepared_.find(sql); it != prepared_.end()) {
        *ok = true;
        return it->second;
    }
    *ok = local.prepare(sql);
    if (!*ok)
        return local;
    return prepared_.emplace(sql, std::move(local)).first->second;
}

SqlReason CardStore::explain(const QSqlError& error, Registry::Engine engine) {
    if (engine == Registry::Engine::PostgreSQL)
        return explainServerError(error.nativeErrorCode(), error.databaseText().isEmpty()
                                                               ? error.text()
                                                               : error.databaseText());
    const int code = error.nativeErrorCode().toInt() & 0xff;
    SqlReason r;
    r.detail = error.databaseText().isEmpty() ? error.text() : error.databaseText();
    switch (code) {
    case SqliteBusy:
    case SqliteLocked:
        r.kind = ErrorKind::Busy;
        r.reason = QStringLiteral("otro programa tiene el archivo ocupado; intente de nuevo en "
                                  "unos momentos");
        break;
    case SqliteReadOnly:
    case SqlitePerm:
        r.kind = ErrorKind::ReadOnly;
        r.reason = QStringLiteral("el archivo o su carpeta no permiten escribir");
        break;
    case SqliteFull:
        r.kind = ErrorKind::DiskFull;
        r.reason = QStringLiteral("el disco está lleno");
        break;
    case SqliteConstraint:
        r.kind = ErrorKind::Duplicate;
        r.reason = QStringLiteral("ya existe una tarjeta con ese código");
        break;
    case SqliteNotADb:
        r.kind = ErrorKind::NotADatabase;
        r.reason = QStringLiteral("el archivo no es un registro de tarjetas (no es una base de "
                                  "datos)");
        break;
    case SqliteCorrupt:
        r.kind = ErrorKind::NotADatabase;
        r.reason = QStringLiteral("el archivo está dañado");
        break;
    case SqliteCantOpen:
        r.kind = ErrorKind::CannotOpen;
        r.reason = QStringLiteral("no se puede abrir el archivo");
        break;
    case SqliteIoErr:
        r.kind = ErrorKind::Io;
        r.reason = QStringLiteral("falló la lectura o escritura del disco");
        break;
    default:
        r.reason = QStringLiteral("error de la base de datos");
        break;
    }
    return r;
}

QString CardStore::couldNot(const QString& doing) {
    // "No se pudo guardar la tarjeta", "No se pudieron leer las tarjetas": the verb agrees with
    // a plural object.
    const bool plural =
        doing.contains(QStringLiteral(" las ")) || doing.contains(QStringLiteral(" los "));
    return (plural ? QStringLiteral("No se pudieron ") : QStringLiteral("No se pudo ")) + doing;
}

Status CardStore::failure(const QSqlError& error, const QString& doing) const {
    SqlReason r = explain(error, registry_.engine());
    if (server())
        return failure(r, doing);
    const int code = error.nativeErrorCode().toInt() & 0xff;
    if (code == SqliteReadOnly &&
        sqlite3_extended_errcode(handleOf(database())) == SQLITE_READONLY_DBMOVED) {
        // SQLite refuses to write once the file it opened is no longer at its path: another
        // program moved, replaced or deleted it, or its folder is gone. Writing on would go to a
        // file nobody sees.
        r.kind = ErrorKind::Io;
        r.reason = QStringLiteral("el archivo ya no está donde se abrió (otro programa lo movió, "
                                  "reemplazó o borró, o su carpeta dejó de estar disponible); "
                                  "cierre el programa y vuelva a abrirlo");
    } else if (code == SqliteCantOpen &&
               !QFileInfo(QFileInfo(path()).absolutePath()).isWritable()) {
        // A write needs a journal file beside the store; in a folder that cannot be written the
        // journal is what cannot be opened, while the store itself is open.
        r.kind = ErrorKind::ReadOnly;
        r.reason = QStringLiteral("su carpeta no permite escribir, y guardar necesita crear un "
                                  "archivo de respaldo temporal en ella");
    }
    return failure(r, doing);
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
        return openServer(std::move(store), status, options);
    const QString& file = store->path();

    const QFileInfo info(file);
    if (!info.exists() && !QFileInfo(info.absolutePath()).isDir()) {
        *status = Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("No se pudo crear el registro %1: la carpeta %2 no existe.")
                .arg(quoted(file), quoted(info.absolutePath())));
        return nullptr;
    }
    if (info.exists() && !info.isFile()) {
        *status = Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("No se pudo abrir el registro %1: no es un archivo.").arg(quoted(file)));
        return nullptr;
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMs));
    if (!db.open()) {
        *status = store->failure(db.lastError(), QStringLiteral("abrir el archivo"));
        return nullptr;
    }

    store->busyWait_ = std::make_unique<BusyWait>(options.busyTimeoutMs);
    if (sqlite3* handle = handleOf(db))
        sqlite3_busy_handler(handle, &BusyWait::retry, store->busyWait_.get());

    QSqlQuery q(db);
    // Reading the schema is the first access to the file: a file that is not SQLite fails here.
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                               "name = 'Clientes'")) ||
        !q.next()) {
        *status = store->failure(q.lastError(), QStringLiteral("leer el archivo"));
        return nullptr;
    }
    const bool hasTable = q.value(0).toInt() > 0;
    q.finish();
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));

    if (!hasTable) {
        store->changeLogReady_ = true; // made below with the table it follows
        const Status created = store->runWrite(
            [&]() -> Status {
                QStringList columns{QStringLiteral("id INTEGER PRIMARY KEY")};
                for (const CardField& f : cardFields())
                    columns.append(f.name.toString() + QStringLiteral(" TEXT"));
                QSqlQuery w(db);
                if (!w.exec(QStringLiteral("CREATE TABLE Clientes (") %
                            columns.join(QStringLiteral(", ")) % u')'))
                    return store->failure(w.lastError(), QStringLiteral("crear la tabla Clientes"));
                if (!w.exec(QStringLiteral(
                        "CREATE UNIQUE INDEX PrimaryKey ON Clientes (Codigo COLLATE BINARY)")))
                    return store->failure(w.lastError(), QStringLiteral("crear el índice"));
                if (Status index = SearchIndex::createIn(db, file); !index)
                    return index;
                QSqlError error;
                if (!ChangeLog::createIn(db, &error))
                    return store->failure(error, QStringLiteral("crear el registro"));
                if (!w.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
                    return store->failure(w.lastError(), QStringLiteral("crear el registro"));
                return Status();
            },
            QStringLiteral("crear el registro"));
        if (!created) {
            *status = created;
            return nullptr;
        }
    } else {
        // A store written by a later version may use columns this one does not know.
        if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next() &&
            q.value(0).toInt() > kSchemaVersion) {
            *status = Status::failure(
                ErrorKind::NotADatabase,
                QStringLiteral("El registro %1 fue creado por una versión más nueva del programa.")
                    .arg(quoted(file)));
            return nullptr;
        }
        q.finish();
        // A store of an earlier version gets its history table and its change log now (runWrite
        // creates them). When the file cannot be written, browsing still works; the first write
        // tries again and says why it cannot.
        QSqlError logError;
        if (!ChangeLog::presentIn(db, &store->changeLogReady_, &logError)) {
            *status = store->failure(logError, QStringLiteral("leer el archivo"));
            return nullptr;
        }
        if (q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                  "name = 'Historial'")) &&
            q.next() && q.value(0).toInt() > 0) {
            store->historyReady_ = true;
        }
        if (!store->historyReady_ || !store->changeLogReady_) {
            q.finish();
            (void)store->runWrite(
                [&]() -> Status {
                    QSqlQuery v(db);
                    v.exec(QStringLiteral("PRAGMA user_version"));
                    const int version = v.next() ? v.value(0).toInt() : 0;
                    v.finish();
                    if (version < kSchemaVersion &&
                        !v.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
                        return store->failure(v.lastError(), QStringLiteral("crear el historial"));
                    return Status();
                },
                QStringLiteral("crear el historial"));
        }
        q.finish();
        QSqlRecord record = db.record(QStringLiteral("Clientes"));
        for (const CardField& f : cardFields()) {
            if (record.indexOf(f.name.toString()) < 0) {
                *status = Status::failure(
                    ErrorKind::NotADatabase,
                    QStringLiteral("El registro %1 no tiene la columna %2 en la tabla Clientes.")
                        .arg(quoted(file), f.name.toString()));
                return nullptr;
            }
        }
    }
    *status = Status();
    return store;
}

Status CardStore::runWrite(const std::function<Status()>& body, const QString& doing) {
    QSqlDatabase db = database();
    QSqlQuery q(db);
    // IMMEDIATE takes the write lock at once (waiting up to the busy timeout), so a write never
    // fails half-way because another program wrote after this transaction read.
    // On a server every statement waits for another workstation's row locks up to the busy
    // timeout (lock_timeout), and a plain transaction is enough: rows are locked as written.
    if (!q.exec(server() ? QStringLiteral("BEGIN") : QStringLiteral("BEGIN IMMEDIATE")))
        return failure(q.lastError(), doing);
    Status result;
    QSqlError error;
    if (!historyReady_ && !History::createTable(db, server(), &error))
        result = failure(error, doing);
    else if (!changeLogReady_ && !server() && !ChangeLog::createIn(db, &error))
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
    if (handOver()) {
        qint64 count = -1;
        const Status s = call([&] {
            Status inner;
            count = recordCount(&inner);
            return inner;
        });
        if (status)
            *status = s;
        return s.ok() ? count : -1;
    }
    if (server())
        return serverRecordCount(status);
    // The data version changes when another connection commits; the writes of this one are
    // followed in notify().
    sqlite3* db = handleOf(database());
    Statement version(db, QStringLiteral("PRAGMA data_version"));
    if (!version.prepared() || !version.step()) {
        if (status)
            *status = failure(version.error(), QStringLiteral("contar las tarjetas"));
        return -1;
    }
    const qint64 dataVersion = sqlite3_column_int64(version.get(), 0);
    // A write made on this connection without going through the store's own writes (which
    // keep the count) makes the count be taken again too.
    const qint64 changes = sqlite3_total_changes64(db);
    if (count_ < 0 || dataVersion != countVersion_ || changes != countChanges_) {
        Statement count(db, QStringLiteral("SELECT count(*) FROM \"Clientes\""));
        if (!count.prepared() || !count.step()) {
            if (status)
                *status = failure(count.error(), QStringLiteral("contar las tarjetas"));
            return -1;
        }
        count_ = sqlite3_column_int64(count.get(), 0);
        countVersion_ = dataVersion;
        countChanges_ = changes;
    }
    if (status)
        *status = Status();
    return count_;
}

void CardStore::keepCount(qint64 count) const {
    sqlite3* db = handleOf(database());
    Statement version(db, QStringLiteral("PRAGMA data_version"));
    if (!version.prepared() || !version.step())
        return;
    count_ = count;
    countVersion_ = sqlite3_column_int64(version.get(), 0);
    countChanges_ = sqlite3_total_changes64(db);
}

Status CardStore::rowIds(Order order, std::vector<RowId>* ids) const {
    return rowIds(order, -1, ids);
}

Status CardStore::rowIds(Order order, qint64 limit, std::vector<RowId>* ids) const {
    if (handOver())
        return call([&] { return rowIds(order, limit, ids); });
    ids->clear();
    if (server())
        return serverRowIds(order, limit, ids);
    Statement st(handleOf(database()), QStringLiteral("SELECT id FROM \"Clientes\"") %
                                           orderClause(order) % QStringLiteral(" LIMIT ") %
                                           QString::number(limit));
    if (!st.prepared())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    while (st.step())
        ids->push_back(sqlite3_column_int64(st.get(), 0));
    if (st.failed())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    return Status();
}

Status CardStore::readCards(std::span<const RowId> ids,
                            std::vector<std::pair<RowId, Card>>* cards) const {
    if (handOver())
        return call([&] { return readCards(ids, cards); });
    cards->clear();
    if (ids.empty())
        return Status();
    std::unordered_map<RowId, Card> found;
    found.reserve(ids.size());
    for (size_t start = 0; start < ids.size(); start += kBatchSize) {
        const size_t n = std::min(kBatchSize, ids.size() - start);
        QSqlQuery local(database());
        local.setForwardOnly(true);
        bool ok = false;
        if (server()) {
            // One statement for any number of ids, kept prepared: the ids go as one array.
            QSqlQuery& q = prepared(local,
                                    QStringLiteral("SELECT id, ") % columnList() %
                                        QStringLiteral(" FROM \"Clientes\" WHERE id = ANY "
                                                       "(CAST(? AS bigint[]))"),
                                    &ok);
            QByteArray array = "{";
            for (size_t i = 0; i < n; ++i) {
                if (i > 0)
                    array += ',';
                array += QByteArray::number(ids[start + i]);
            }
            array += '}';
            if (ok)
                q.bindValue(0, QString::fromLatin1(array));
            if (!ok || !q.exec())
                return failure(q.lastError(), QStringLiteral("leer las tarjetas"));
            while (q.next())
                found.emplace(q.value(0).toLongLong(), cardFromQuery(q, 1));
            q.finish();
            continue;
        }
        QString sql = QStringLiteral("SELECT id, ") % columnList() %
                      QStringLiteral(" FROM \"Clientes\" WHERE id IN (");
        for (size_t i = 0; i < n; ++i)
            sql += i == 0 ? QStringLiteral("?") : QStringLiteral(",?");
        sql += u')';
        if (!local.prepare(sql))
            return failure(local.lastError(), QStringLiteral("leer las tarjetas"));
        for (size_t i = 0; i < n; ++i)
            local.addBindValue(ids[start + i]);
        if (!local.exec())
            return failure(local.lastError(), QStringLiteral("leer las tarjetas"));
        while (local.next())
            found.emplace(local.value(0).toLongLong(), cardFromQuery(local, 1));
    }
    cards->reserve(found.size());
    for (RowId id : ids) {
        auto it = found.find(id);
        if (it != found.end())
            cards->emplace_back(id, it->second);
    }
    return Status();
}

Status CardStore::readCard(RowId id, Card* card) const {
    if (handOver())
        return call([&] { return readCard(id, card); });
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
    if (handOver())
        return call([&] { return findCode(code, id); });
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
    if (handOver()) {
        return call(
            [&] {
                return forEachRawCard(order, [&](RowId id, const RawCard& raw) {
                    thread_->progress();
                    return visit(id, raw);
                });
            },
            StoreThread::Kind::Scan);
    }
    if (server())
        return serverForEachRawCard(order, visit);
    Statement st(handleOf(database()), QStringLiteral("SELECT id, ") % columnList() %
                                           QStringLiteral(" FROM \"Clientes\"") %
                                           orderClause(order));
    if (!st.prepared())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    RawCard raw;
    while (st.step()) {
        sqlite3_stmt* stmt = st.get();
        // Every column access takes the connection's lock, so the type is asked only of the
        // rare value without text: Null, or one SQLite had no memory to convert.
        for (int i = 0; i < kFieldCount; ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i + 1));
            raw.nulls_[i] = text == nullptr;
            if (text) {
                raw.values_[i] = QByteArrayView(text, sqlite3_column_bytes(stmt, i + 1));
                continue;
            }
            if (sqlite3_column_type(stmt, i + 1) != SQLITE_NULL)
                return failure(st.error(), QStringLiteral("leer las tarjetas"));
            raw.values_[i] = QByteArrayView();
        }
        if (!visit(sqlite3_column_int64(stmt, 0), raw))
            return Status();
    }
    if (st.failed())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    return Status();
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
    // The count follows the store's own committed writes.
    if (server()) {
        serverNoteOwnWrite(change);
    } else if (count_ >= 0) {
        if (change == Change::Added)
            ++count_;
        else if (change == Change::Removed)
            --count_;
        else if (change == Change::Reset)
            count_ = -1;
        if (sqlite3* db = handleOf(database()))
            countChanges_ = sqlite3_total_changes64(db);
    }
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
        // A server tells the new id only when asked for it.
        const RowId added = store_.server() ? (q.next() ? q.value(0).toLongLong() : kNoRow)
                                            : q.lastInsertId().toLongLong();
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
    Status change(RowId id, const Card& card, std::span<const Field> fields, WriteReason reason,
                  Card* stored, const QString* expectedCode = nullptr) {
        Card before;
        if (Status s = read(id, &before, expectedCode); !s)
            return s;
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

    Status remove(RowId id, WriteReason reason, const QString* expectedCode = nullptr) {
        Card before;
        if (Status s = read(id, &before, expectedCode); !s)
            return s;
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
        QSqlQuery& q =
            store_.prepared(read_,
                            QStringLiteral("SELECT ") % columnList() %
                                QStringLiteral(" FROM \"Clientes\" WHERE id = ?") %
                                (store_.server() ? QStringLiteral(" FOR UPDATE") : QString()),
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

private:
    QString returning() const {
        return store_.server() ? QStringLiteral(" RETURNING id") : QString();
    }
    static bool sameValue(const QString& a, const QString& b) {
        return a.isNull() == b.isNull() && a == b;
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
};

Status CardStore::addInTransaction(const Card& card, WriteReason reason, RowId wantedId, RowId* id,
                                   const QString& doing) {
    Writes writes(*this, doing);
    return writes.add(card, reason, wantedId, id);
}

Status CardStore::insertCard(const Card& card, RowId* id) {
    if (handOver())
        return call([&] { return insertCard(card, id); });
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
    if (handOver())
        return call([&] { return insertCards(cards, reason); });
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
    if (handOver())
        return call([&] { return storeCardsByCode(cards, keepOnUpdate, updated, reason); });
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
        doing);
    if (status)
        notify(Change::Reset, kNoRow, nullptr);
    if (updated)
        *updated = status ? std::move(replaced) : std::vector<bool>();
    return status;
}

Status CardStore::removeCard(RowId id, const QString* expectedCode) {
    if (handOver())
        return call([&] { return removeCard(id, expectedCode); });
    const QString doing = QStringLiteral("eliminar la tarjeta");
    Status status = runWrite(
        [&]() -> Status {
            Status s = Writes(*this, doing).remove(id, WriteReason::Baja, expectedCode);
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
    if (store_->handOver())
        return store_->call([&] { return seek(code); });
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
    if (store_->handOver())
        return store_->call([&] { return update(); });
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
                            &current_[Codigo]);
            },
            QStringLiteral("guardar la tarjeta"));
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
    if (store_->handOver())
        return store_->call([&] { return remove(); });
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

Status TableCursor::setBookmark(RowId id) {
    if (store_->handOver())
        return store_->call([&] { return setBookmark(id); });
    Card card;
    Status s = store_->readCard(id, &card);
    if (!s)
        return s;
    currentId_ = id;
    current_ = std::move(card);
    return Status();
}

Status TableCursor::moveFirst() {
    if (store_->handOver())
        return store_->call([&] { return moveFirst(); });
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
    if (store_->handOver())
        return store_->call([&] { return moveNext(); });
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

} // namespace store
