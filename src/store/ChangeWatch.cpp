#include "ChangeWatch.h"

#include "CardStore.h"
#include "PgLink.h"
#include "StoreThread.h"

#include <QElapsedTimer>
#include <QSqlDriver>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <thread>

namespace store {

namespace {

// SQLite: `PRAGMA data_version` on the store's own connection changes when any other connection
// has committed to the file since the last time this connection asked, and never for this
// connection's own commits. Asking costs a few microseconds; while the store is busy with other
// work it is not asked at all, and while another program holds the file it is not waited for:
// the next poll asks again.
class SqliteChangeWatch final : public ChangeWatch {
public:
    SqliteChangeWatch(const CardStore& store, int pollMs) : store_(store) {
        version_ = look();
        timer_.setInterval(pollMs);
        connect(&timer_, &QTimer::timeout, this, [this] { check(); });
        timer_.start();
    }

    bool check() override {
        if (const StoreThread* thread = store_.storeThread(); thread && thread->busy())
            return false;
        const qint64 now = look();
        if (now < 0)
            return false;
        if (version_ >= 0 && now == version_)
            return false;
        const bool first = version_ < 0;
        version_ = now;
        if (first)
            return false; // the first successful look only sets the baseline
        emit changedElsewhere();
        return true;
    }

private:
    qint64 look() {
        qint64 version = -1;
        (void)store_.call(
            [&] {
                version = read();
                return Status();
            },
            StoreThread::Kind::Look);
        return version;
    }

    sqlite3* handle() const {
        const QSqlDatabase db = store_.database();
        const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
        if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
            return nullptr;
        return *static_cast<sqlite3* const*>(v.constData());
    }

    // The file's data version as this connection sees it; -1 when it cannot be read.
    qint64 read() {
        sqlite3* db = handle();
        if (!db) {
            lastError_ = QStringLiteral("El registro de tarjetas no está abierto.");
            return -1;
        }
        sqlite3_stmt* stmt = nullptr;
        qint64 version = -1;
        if (sqlite3_prepare_v2(db, "PRAGMA data_version", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            version = sqlite3_column_int64(stmt, 0);
        if (version < 0)
            lastError_ = QString::fromUtf8(sqlite3_errmsg(db));
        else
            lastError_.clear();
        sqlite3_finalize(stmt);
        return version;
    }

    const CardStore& store_;
    QTimer timer_;
    qint64 version_ = -1;
};

// PostgreSQL: every write to table Clientes sends a notice on a channel (a trigger does it); the
// store's own connection listens there and the driver hands the notices over as they arrive,
// telling whether this connection's own writes sent them. Notices of other sessions are told
// once per turn of the event loop, however many came together.
class ServerChangeWatch final : public ChangeWatch {
public:
    explicit ServerChangeWatch(const CardStore& store) : store_(store) {
        timer_.setSingleShot(true);
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] { check(); });
        // The notices name the schema of the table written: several registries may share one
        // database, each in a schema of its own, and only this one's writes concern the window.
        // The driver belongs to the store's thread once it has one: it listens there.
        QSqlDriver* driver = nullptr;
        bool listening = false;
        (void)store_.call([&] {
            driver = store_.database().driver();
            QSqlQuery schema(store_.database());
            if (schema.exec(QStringLiteral("SELECT current_schema()")) && schema.next())
                schema_ = schema.value(0).toString();
            schema.finish();
            listening = driver && driver->subscribeToNotification(kChannel);
            return Status();
        });
        if (!listening) {
            lastError_ = QStringLiteral("No se pudo escuchar los cambios del registro %1.")
                             .arg(store_.registry().quoted());
            return;
        }
        connect(driver, &QSqlDriver::notification, this,
                [this](const QString& name, QSqlDriver::NotificationSource source,
                       const QVariant& payload) {
                    if (name != kChannel || source == QSqlDriver::SelfSource ||
                        payload.toString() != schema_)
                        return;
                    pending_ = true;
                    if (!timer_.isActive())
                        timer_.start();
                });
        reconnections_ = store_.reconnections();
        link_.setInterval(kLinkCheckMs);
        connect(&link_, &QTimer::timeout, this, [this] { checkLink(); });
        link_.start();
    }

    ~ServerChangeWatch() override {
        (void)store_.call([&] {
            if (QSqlDriver* driver = store_.database().driver())
                driver->unsubscribeFromNotification(kChannel);
            return Status();
        });
    }

    bool check() override {
        checkLink();
        if (!pending_)
            return false;
        // What follows reads the store: not in the middle of other work, but once it is done.
        if (StoreThread* thread = store_.storeThread(); thread && thread->busy()) {
            thread->afterWork(this, [this] { check(); });
            return false;
        }
        pending_ = false;
        emit changedElsewhere();
        return true;
    }

private:
    static constexpr int kLinkCheckMs = 1000;
    static constexpr qint64 kRetryMs = 3000;
    enum : int { kAsking, kAnswers, kNoAnswer };

    // Asks whether the server answers on a thread of its own: a server that does not answer at
    // all (a machine switched off, a network cut, a server stalled) keeps a connection attempt
    // waiting for its whole timeout, and the window's input with it when asked on its thread.
    // The thread is left to end by itself; only the answer is shared.
    void probe() {
        sinceTry_.start();
        probe_ = std::make_shared<std::atomic<int>>(kAsking);
        std::thread([answer = probe_, uri = store_.registry().location()] {
            answer->store(PgLink::answers(uri) ? kAnswers : kNoAnswer);
        }).detach();
    }

    // A lost connection is told, and made again every few seconds; once it is made again (here
    // or by a command), listening is renewed on the new session and the window reads what the
    // other workstations wrote meanwhile.
    void checkLink() {
        // Not in the middle of a command's work: its next turn looks.
        if (const StoreThread* thread = store_.storeThread(); thread && thread->busy())
            return;
        if (store_.connectionLost()) {
            if (!lost_) {
                lost_ = true;
                emit connectionChanged(true);
                probe();
            } else if (const int answer = probe_ ? probe_->load() : kNoAnswer; answer == kAnswers) {
                // The server is back: the connection is made at once.
                probe_.reset();
                if (!store_.reconnect())
                    sinceTry_.start();
            } else if (answer != kAsking && sinceTry_.elapsed() >= kRetryMs) {
                probe();
            }
        }
        if (store_.reconnections() != reconnections_ && !store_.connectionLost()) {
            reconnections_ = store_.reconnections();
            // Whatever the driver remembers of the old session is dropped first. The driver
            // listens on the store's thread when it has one.
            bool listening = false;
            (void)store_.call([&] {
                if (QSqlDriver* driver = store_.database().driver()) {
                    driver->unsubscribeFromNotification(kChannel);
                    listening = driver->subscribeToNotification(kChannel);
                }
                return Status();
            });
            if (!listening)
                lastError_ = QStringLiteral("No se pudo escuchar los cambios del registro %1.")
                                 .arg(store_.registry().quoted());
            else
                lastError_.clear();
            if (lost_) {
                lost_ = false;
                emit connectionChanged(false);
            }
            pending_ = true;
            if (!timer_.isActive())
                timer_.start();
        }
    }

private:
    static inline const QString kChannel = QStringLiteral("tarjetas_clientes");
    const CardStore& store_;
    QString schema_;
    QTimer timer_;
    bool pending_ = false;
    QTimer link_;
    QElapsedTimer sinceTry_;
    std::shared_ptr<std::atomic<int>> probe_; // the last probe's answer, while it counts
    int reconnections_ = 0;
    bool lost_ = false;
};

} // namespace

ChangeWatch::~ChangeWatch() = default;

std::unique_ptr<ChangeWatch> ChangeWatch::start(const CardStore& store, int pollMs) {
    if (store.registry().isServer())
        return std::make_unique<ServerChangeWatch>(store);
    return std::make_unique<SqliteChangeWatch>(store, pollMs);
}

} // namespace store
