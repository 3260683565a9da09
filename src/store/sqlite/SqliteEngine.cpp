// The card store's SQLite parts: the file, its schema, SQLite's own API for the walks over many
// cards, the count kept between commands, and how a file another program holds is waited for.

#include "SqliteEngine.h"

#include "ChangeLog.h"
#include "FileSearch.h"
#include "History.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringBuilder>

#include <sqlite3.h>

#include <algorithm>
#include <thread>

namespace store {

namespace {

// 2: table Historial, and the search index BusquedaTarjetas kept by triggers.
// 3: the change log RegistroCambios kept by triggers.
constexpr int kSchemaVersion = 3;

QString quoted(const QString& path) {
    return u'«' % QDir::toNativeSeparators(path) % u'»';
}

QString orderClause(Order order) {
    return order == Order::ByCode ? QStringLiteral(" ORDER BY \"Codigo\", id")
                                  : QStringLiteral(" ORDER BY id");
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

StoreThread::Stoppers SqliteEngine::workOn(const StoreThread& thread) {
    if (busyWait_)
        busyWait_->setThread(&thread);
    sqlite3* db = handle();
    if (!db)
        return {};
    // Interrupting a statement is SQLite's one call meant for another thread.
    const auto interrupt = [db] {
        sqlite3_interrupt(db);
    };
    return {interrupt, interrupt};
}

SqliteEngine::SqliteEngine(CardStore& store) : StoreEngine(store) {}

SqliteEngine::~SqliteEngine() = default;

sqlite3* SqliteEngine::handle() const {
    return handleOf(database());
}

Status SqliteEngine::open(const OpenOptions& options) {
    const QString& file = store_.path();

    const QFileInfo info(file);
    if (!info.exists() && !QFileInfo(info.absolutePath()).isDir()) {
        return Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("No se pudo crear el registro %1: la carpeta %2 no existe.")
                .arg(quoted(file), quoted(info.absolutePath())));
    }
    if (info.exists() && !info.isFile()) {
        return Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("No se pudo abrir el registro %1: no es un archivo.").arg(quoted(file)));
    }

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName());
    db.setDatabaseName(file);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(options.busyTimeoutMs));
    if (!db.open()) {
        return failure(db.lastError(), QStringLiteral("abrir el archivo"));
    }

    busyWait_ = std::make_unique<BusyWait>(options.busyTimeoutMs);
    if (sqlite3* handle = handleOf(db))
        sqlite3_busy_handler(handle, &BusyWait::retry, busyWait_.get());

    QSqlQuery q(db);
    // Reading the schema is the first access to the file: a file that is not SQLite fails here.
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                               "name = 'Clientes'")) ||
        !q.next()) {
        return failure(q.lastError(), QStringLiteral("leer el archivo"));
    }
    const bool hasTable = q.value(0).toInt() > 0;
    q.finish();
    q.exec(QStringLiteral("PRAGMA synchronous=FULL"));

    if (!hasTable) {
        changeLogReady() = true; // made below with the table it follows
        const Status created = runWrite(
            [&]() -> Status {
                QStringList columns{QStringLiteral("id INTEGER PRIMARY KEY")};
                for (const CardField& f : cardFields())
                    columns.append(f.name.toString() + QStringLiteral(" TEXT"));
                QSqlQuery w(db);
                if (!w.exec(QStringLiteral("CREATE TABLE Clientes (") %
                            columns.join(QStringLiteral(", ")) % u')'))
                    return failure(w.lastError(), QStringLiteral("crear la tabla Clientes"));
                if (!w.exec(QStringLiteral(
                        "CREATE UNIQUE INDEX PrimaryKey ON Clientes (Codigo COLLATE BINARY)")))
                    return failure(w.lastError(), QStringLiteral("crear el índice"));
                if (Status index = FileSearch::createIn(db, file); !index)
                    return index;
                QSqlError error;
                if (!ChangeLog::createIn(db, &error))
                    return failure(error, QStringLiteral("crear el registro"));
                if (!w.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
                    return failure(w.lastError(), QStringLiteral("crear el registro"));
                return Status();
            },
            QStringLiteral("crear el registro"));
        if (!created) {
            return created;
        }
    } else {
        // A store written by a later version may use columns this one does not know.
        if (q.exec(QStringLiteral("PRAGMA user_version")) && q.next() &&
            q.value(0).toInt() > kSchemaVersion) {
            return Status::failure(
                ErrorKind::NotADatabase,
                QStringLiteral("El registro %1 fue creado por una versión más nueva del programa.")
                    .arg(quoted(file)));
        }
        q.finish();
        // A store of an earlier version gets its history table and its change log now (runWrite
        // creates them). When the file cannot be written, browsing still works; the first write
        // tries again and says why it cannot.
        QSqlError logError;
        if (!ChangeLog::presentIn(db, &changeLogReady(), &logError)) {
            return failure(logError, QStringLiteral("leer el archivo"));
        }
        if (q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                  "name = 'Historial'")) &&
            q.next() && q.value(0).toInt() > 0) {
            historyReady() = true;
        }
        if (!historyReady() || !changeLogReady()) {
            q.finish();
            (void)runWrite(
                [&]() -> Status {
                    QSqlQuery v(db);
                    v.exec(QStringLiteral("PRAGMA user_version"));
                    const int version = v.next() ? v.value(0).toInt() : 0;
                    v.finish();
                    if (version < kSchemaVersion &&
                        !v.exec(QStringLiteral("PRAGMA user_version = %1").arg(kSchemaVersion)))
                        return failure(v.lastError(), QStringLiteral("crear el historial"));
                    return Status();
                },
                QStringLiteral("crear el historial"));
        }
        q.finish();
        QSqlRecord record = db.record(QStringLiteral("Clientes"));
        for (const CardField& f : cardFields()) {
            if (record.indexOf(f.name.toString()) < 0) {
                return Status::failure(
                    ErrorKind::NotADatabase,
                    QStringLiteral("El registro %1 no tiene la columna %2 en la tabla Clientes.")
                        .arg(quoted(file), f.name.toString()));
            }
        }
    }
    return Status();
}

QString SqliteEngine::beginWrite() const {
    // IMMEDIATE takes the write lock at once (waiting up to the busy timeout), so a write never
    // fails half-way because another program wrote after this transaction read.
    return QStringLiteral("BEGIN IMMEDIATE");
}

QString SqliteEngine::beginSnapshot() const {
    return QStringLiteral("BEGIN");
}

QString SqliteEngine::lockRow() const {
    return QString(); // the write transaction already holds the whole file
}

QString SqliteEngine::returningId() const {
    return QString();
}

RowId SqliteEngine::insertedId(QSqlQuery& insert) const {
    return insert.lastInsertId().toLongLong();
}

bool SqliteEngine::ensureChangeLog(QSqlError* error) {
    return changeLogReady() || ChangeLog::createIn(database(), error);
}

qint64 SqliteEngine::recordCount(Status* status) const {
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
    if (count_ < 0 && keptCount(db)) {
        countVersion_ = dataVersion;
        countChanges_ = changes;
    } else if (count_ < 0 || dataVersion != countVersion_ || changes != countChanges_) {
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

namespace {

// Table ConteoTarjetas holds one row: the count of the cards when the change log's last order
// number was `orden`. Every write to the cards, by any program, adds to the log through its
// triggers, so the count is true while that number is the log's last.
const QString kKeptCountSql = QStringLiteral(
    "SELECT tarjetas FROM ConteoTarjetas WHERE orden = (SELECT coalesce(max(orden), 0) FROM "
    "RegistroCambios)");

} // namespace

bool SqliteEngine::keptCount(sqlite3* db) const {
    // A registry of an earlier version has no such table: then the statement is not prepared.
    Statement kept(db, kKeptCountSql);
    if (!kept.prepared() || !kept.step())
        return false;
    count_ = sqlite3_column_int64(kept.get(), 0);
    return count_ >= 0;
}

void SqliteEngine::close() {
    sqlite3* db = handle();
    if (!db || count_ < 0)
        return;
    // Only a count that is the file's now, and not already there; the program is ending, so it
    // waits for no lock: another program writing leaves the next start to count.
    const auto current = [&] {
        Statement version(db, QStringLiteral("PRAGMA data_version"));
        return version.prepared() && version.step() &&
               sqlite3_column_int64(version.get(), 0) == countVersion_ &&
               sqlite3_total_changes64(db) == countChanges_;
    };
    if (!current())
        return;
    if (Statement kept(db, kKeptCountSql);
        kept.prepared() && kept.step() && sqlite3_column_int64(kept.get(), 0) == count_)
        return;
    sqlite3_busy_handler(db, nullptr, nullptr);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK)
        return;
    const QByteArray keep =
        "CREATE TABLE IF NOT EXISTS ConteoTarjetas (tarjetas INTEGER NOT NULL, orden INTEGER NOT "
        "NULL); DELETE FROM ConteoTarjetas; INSERT INTO ConteoTarjetas (tarjetas, orden) SELECT " +
        QByteArray::number(count_) + ", coalesce(max(orden), 0) FROM RegistroCambios; COMMIT";
    // Checked again under the lock: another program may have written just before it.
    if (!current() || sqlite3_exec(db, keep.constData(), nullptr, nullptr, nullptr) != SQLITE_OK)
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteEngine::keepCount(qint64 count) const {
    sqlite3* db = handleOf(database());
    Statement version(db, QStringLiteral("PRAGMA data_version"));
    if (!version.prepared() || !version.step())
        return;
    count_ = count;
    countVersion_ = sqlite3_column_int64(version.get(), 0);
    countChanges_ = sqlite3_total_changes64(db);
}

void SqliteEngine::countFollowed(qint64 count, qint64 position) const {
    if (count < 0 || position < 0)
        return;
    QSqlQuery q(database());
    if (!q.exec(QStringLiteral("BEGIN")))
        return;
    if (q.exec(QStringLiteral("SELECT coalesce(max(orden), 0) FROM \"RegistroCambios\"")) &&
        q.next() && q.value(0).toLongLong() == position) {
        q.finish();
        keepCount(count);
    }
    q.finish();
    q.exec(QStringLiteral("COMMIT"));
}

void SqliteEngine::noteOwnWrite(CardStore::Change change) const {
    // The data version does not move for this connection's own commits: the count follows them.
    if (count_ < 0)
        return;
    if (change == CardStore::Change::Added)
        ++count_;
    else if (change == CardStore::Change::Removed)
        --count_;
    else if (change == CardStore::Change::Reset)
        count_ = -1;
    if (sqlite3* db = handle())
        countChanges_ = sqlite3_total_changes64(db);
}

Status SqliteEngine::rowIds(Order order, qint64 limit, std::vector<RowId>* ids) const {
    // Every id in stored order is read unordered and sorted here: SQLite then reads them from
    // its smallest index (the codes', some 20 bytes a card) instead of walking every page of the
    // cards themselves, 80 ms instead of 150 at a million cards. The cards' own table is still
    // opened at its root first, so that a file whose table is damaged there is told at once
    // rather than listed with rows no read can fill.
    const bool sortHere = order == Order::Stored && limit < 0;
    if (std::vector<RowId> first; sortHere) {
        if (Status s = rowIds(Order::Stored, 1, &first); !s)
            return s;
    }
    Statement st(handleOf(database()),
                 sortHere ? QStringLiteral("SELECT id FROM \"Clientes\"")
                          : QStringLiteral("SELECT id FROM \"Clientes\"") % orderClause(order) %
                                QStringLiteral(" LIMIT ") % QString::number(limit));
    if (!st.prepared())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    while (st.step())
        ids->push_back(sqlite3_column_int64(st.get(), 0));
    if (st.failed())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    if (sortHere)
        sortUniqueIds(ids);
    return Status();
}

Status SqliteEngine::idsEvery(qint64 stride, RowId upTo, std::vector<RowId>* ids) const {
    // Every id read from the smallest index and sorted here (see rowIds), then every stride-th
    // taken: 80 ms at a million cards, where numbering each row of the table took 375.
    std::vector<RowId> all;
    if (Status s = rowIds(Order::Stored, -1, &all); !s)
        return s;
    for (size_t k = size_t(stride) - 1; k < all.size() && all[k] <= upTo; k += size_t(stride))
        ids->push_back(all[k]);
    return Status();
}

Status SqliteEngine::readChunk(std::span<const RowId> ids,
                               std::unordered_map<RowId, Card>* found) const {
    // Through SQLite itself, as the grid reads a page of rows at a time: Qt's query boxed every
    // value in a QVariant, half the time of a page. The texts are those Qt's driver gives: SQLite's
    // own text of every value, Null left out.
    QString sql = QStringLiteral("SELECT id, ") % CardStore::columnList() %
                  QStringLiteral(" FROM \"Clientes\" WHERE id IN (");
    for (size_t i = 0; i < ids.size(); ++i)
        sql += i == 0 ? QStringLiteral("?") : QStringLiteral(",?");
    sql += u')';
    Statement st(handle(), sql);
    if (!st.prepared())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    for (size_t i = 0; i < ids.size(); ++i)
        sqlite3_bind_int64(st.get(), int(i) + 1, ids[i]);
    while (st.step()) {
        sqlite3_stmt* stmt = st.get();
        Card card;
        for (int i = 0; i < kFieldCount; ++i) {
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i + 1));
            // An empty text is an empty, not a null, QString: it stays distinct from Null.
            if (text)
                card[static_cast<Field>(i)] =
                    QString::fromUtf8(text, sqlite3_column_bytes(stmt, i + 1));
            else if (sqlite3_column_type(stmt, i + 1) != SQLITE_NULL)
                return failure(st.error(), QStringLiteral("leer las tarjetas"));
        }
        found->emplace(sqlite3_column_int64(stmt, 0), std::move(card));
    }
    if (st.failed())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    return Status();
}

Status SqliteEngine::forEachRawCard(Order order, std::span<const Field> fields,
                                    const std::function<bool(RowId, const RawCard&)>& visit) const {
    QString columns;
    for (Field f : fields)
        columns += u", \"" % cardField(f).name.toString() % u'"';
    Statement st(handleOf(database()), QStringLiteral("SELECT id") % columns %
                                           QStringLiteral(" FROM \"Clientes\"") %
                                           orderClause(order));
    if (!st.prepared())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    RawCard raw;
    const int count = int(fields.size());
    while (st.step()) {
        sqlite3_stmt* stmt = st.get();
        // Every column access takes the connection's lock, so the type is asked only of the
        // rare value without text: Null, or one SQLite had no memory to convert.
        for (int i = 0; i < count; ++i) {
            const Field f = fields[size_t(i)];
            const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i + 1));
            raw.nulls_[f] = text == nullptr;
            if (text) {
                raw.values_[f] = QByteArrayView(text, sqlite3_column_bytes(stmt, i + 1));
                continue;
            }
            if (sqlite3_column_type(stmt, i + 1) != SQLITE_NULL)
                return failure(st.error(), QStringLiteral("leer las tarjetas"));
            raw.values_[f] = QByteArrayView();
        }
        if (!visit(sqlite3_column_int64(stmt, 0), raw))
            return Status();
    }
    if (st.failed())
        return failure(st.error(), QStringLiteral("leer las tarjetas"));
    return Status();
}

QSqlQuery& SqliteEngine::prepared(QSqlQuery& local, const QString& sql, bool* ok) const {
    *ok = local.lastQuery() == sql || local.prepare(sql);
    return local;
}

SqlReason explainFileError(const QSqlError& error) {
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

SqlReason SqliteEngine::explain(const QSqlError& error) const {
    SqlReason r = explainFileError(error);
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
               !QFileInfo(QFileInfo(store_.path()).absolutePath()).isWritable()) {
        // A write needs a journal file beside the store; in a folder that cannot be written the
        // journal is what cannot be opened, while the store itself is open.
        r.kind = ErrorKind::ReadOnly;
        r.reason = QStringLiteral("su carpeta no permite escribir, y guardar necesita crear un "
                                  "archivo de respaldo temporal en ella");
    }
    return r;
}

bool SqliteEngine::searchPresent(Status* status) const {
    return FileSearch::present(store_, status);
}

Status SqliteEngine::searchBuild(const std::function<void(qint64, qint64)>& progress) {
    return FileSearch::build(store_, progress);
}

Status SqliteEngine::searchFind(const QString& typed, std::vector<RowId>* ids) const {
    return FileSearch::find(store_, typed, ids);
}

Status SqliteEngine::searchSameOwner(RowId id, const Card& card, std::vector<RowId>* ids) const {
    return FileSearch::sameOwner(store_, id, card, ids);
}

QString SqliteEngine::deletedFilterSql() const {
    return QStringLiteral("AND (substr(codigo, 1, length(?)) = ? OR "
                          "instr(lower(json_extract(antes, '$.propietario')), lower(?)) > 0) ");
}

} // namespace store
