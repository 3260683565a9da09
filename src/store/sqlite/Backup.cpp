#include "Backup.h"

#include "CardFields.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStringBuilder>
#include <QTextStream>
#include <QTimer>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <unistd.h>
#endif

namespace store {

namespace {

QString quoted(const QString& path) {
    return u'«' % QDir::toNativeSeparators(path) % u'»';
}

// A plain Spanish reason for an SQLite result code, with SQLite's own words as detail.
QString reasonFor(int rc, sqlite3* db) {
    QString reason;
    switch (rc & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        reason = QStringLiteral("otro programa tiene el registro ocupado");
        break;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        reason = QStringLiteral("el archivo o su carpeta no permiten escribir");
        break;
    case SQLITE_FULL:
        reason = QStringLiteral("el disco está lleno");
        break;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        reason = QStringLiteral("el archivo no es un registro válido o está dañado");
        break;
    case SQLITE_CANTOPEN:
        reason = QStringLiteral("no se puede abrir o crear el archivo");
        break;
    case SQLITE_IOERR:
        reason = QStringLiteral("falló la lectura o escritura del disco");
        break;
    default:
        reason = QStringLiteral("error de la base de datos");
        break;
    }
    // The connection's last message may belong to a later call that went well ("not an error");
    // then the code's own words, and nothing when those too say nothing.
    QString detail = db ? QString::fromUtf8(sqlite3_errmsg(db)) : QString();
    if (Status::saysNothing(detail))
        detail = QString::fromUtf8(sqlite3_errstr(rc));
    if (Status::saysNothing(detail))
        return reason;
    return reason % QStringLiteral(" (detalle: ") % detail % u')';
}

// Makes what was written to the file, or a rename in the folder, survive a power cut.
void syncPath(const QString& path) {
#ifdef Q_OS_UNIX
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(path);
#endif
}

std::filesystem::path fsPath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

// "DAT 2026-12-08.db": the name of a daily copy, and nothing else.
const QRegularExpression& dailyName() {
    static const QRegularExpression re(QStringLiteral("^DAT (\\d{4}-\\d{2}-\\d{2})\\.db$"));
    return re;
}

// Runs one statement whose rows are single texts; false with `error` set when it fails.
bool texts(sqlite3* db, const char* sql, QStringList* rows, int* error) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    while (rc == SQLITE_OK && (rc = sqlite3_step(stmt)) == SQLITE_ROW) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        rows->append(text ? QString::fromUtf8(text) : QString());
        rc = SQLITE_OK;
    }
    sqlite3_finalize(stmt);
    *error = rc == SQLITE_DONE ? SQLITE_OK : rc;
    return *error == SQLITE_OK;
}

int stopWhenCancelled(void* cancel) {
    return static_cast<const std::atomic<bool>*>(cancel)->load(std::memory_order_relaxed) ? 1 : 0;
}

} // namespace

QString backupFolder(const Folders& folders) {
    return folders.dataFile(kBackupFolderName);
}

QString dailyBackupPath(const Folders& folders, const QDate& day) {
    return QDir(backupFolder(folders))
        .filePath(QStringLiteral("DAT %1.db").arg(day.toString(QStringLiteral("yyyy-MM-dd"))));
}

// --- BackupCopy ---

BackupCopy::BackupCopy(QString source, QString destination)
    : source_(std::move(source)), destination_(std::move(destination)),
      temporary_(destination_ + QStringLiteral(".tmp")) {}

BackupCopy::~BackupCopy() {
    close();
    if (lock_)
        QFile::remove(temporary_); // gone already once committed
}

void BackupCopy::close() {
    if (backup_)
        sqlite3_backup_finish(backup_);
    backup_ = nullptr;
    sqlite3_close(to_);
    to_ = nullptr;
    sqlite3_close(from_);
    from_ = nullptr;
}

BackupCopy::Step BackupCopy::fail(const QString& reason) {
    close();
    if (lock_)
        QFile::remove(temporary_);
    status_ = Status::failure(ErrorKind::Io, reason);
    return Step::Failed;
}

BackupCopy::Step BackupCopy::step(int pages) {
    if (!status_ || copied_)
        return copied_ ? Step::Copied : Step::Failed;
    if (!backup_) {
        if (!QFileInfo(source_).isFile()) {
            return fail(QStringLiteral("el archivo %1 no existe").arg(quoted(source_)));
        }
        // One program at a time writes the temporary file: two programs started the same day
        // (two windows, or the window and a command line) would delete and rename each other's
        // half-written copy. A lock left by a program that ended is taken over.
        if (!lock_) {
            auto lock = std::make_unique<QLockFile>(temporary_ + QStringLiteral(".lock"));
            lock->setStaleLockTime(0); // a long copy is not stale while its program runs
            if (!lock->tryLock(0) && lock->error() == QLockFile::LockFailedError)
                return Step::Busy;
            // A folder that takes no lock file takes no copy either: the open below says why.
            lock_ = std::move(lock);
        }
        // Read-write only so that SQLite can roll back what a crashed writer left half-done;
        // the copy never writes to the source. SQLite takes file names in UTF-8 on every
        // system (Windows' own 8-bit code page would lose a "ñ" in a folder name).
        int rc =
            sqlite3_open_v2(source_.toUtf8().constData(), &from_, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            return fail(QStringLiteral("no se pudo leer %1: %2")
                            .arg(quoted(source_), reasonFor(rc, from_)));
        }
        QFile::remove(temporary_);
        rc = sqlite3_open_v2(temporary_.toUtf8().constData(), &to_,
                             SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
        // An unfinished copy is thrown away, so it needs no journal; the final commit still
        // syncs the file.
        if (rc == SQLITE_OK)
            rc = sqlite3_exec(to_, "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF", nullptr,
                              nullptr, nullptr);
        if (rc != SQLITE_OK) {
            return fail(QStringLiteral("no se pudo crear %1: %2")
                            .arg(quoted(temporary_), reasonFor(rc, to_)));
        }
        backup_ = sqlite3_backup_init(to_, "main", from_, "main");
        if (!backup_) {
            return fail(QStringLiteral("no se pudo comenzar la copia: %1")
                            .arg(reasonFor(sqlite3_errcode(to_), to_)));
        }
    }

    const int rc = sqlite3_backup_step(backup_, pages);
    remaining_ = sqlite3_backup_remaining(backup_);
    total_ = sqlite3_backup_pagecount(backup_);
    switch (rc) {
    case SQLITE_OK:
        return Step::More;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return Step::Busy;
    case SQLITE_DONE: {
        const int finished = sqlite3_backup_finish(backup_);
        backup_ = nullptr;
        if (finished != SQLITE_OK) {
            return fail(
                QStringLiteral("no se pudo terminar la copia: %1").arg(reasonFor(finished, to_)));
        }
        close();
        copied_ = true;
        return Step::Copied;
    }
    default: {
        // The error of a step is kept by the destination's connection, whichever file caused it.
        const QString reason = reasonFor(rc, to_);
        return fail(QStringLiteral("falló la copia de %1: %2").arg(quoted(source_), reason));
    }
    }
}

Status BackupCopy::commit() {
    if (!copied_)
        return Status::failure(ErrorKind::Other, QStringLiteral("la copia no está terminada"));
    syncPath(temporary_);
    std::error_code error;
    std::filesystem::rename(fsPath(temporary_), fsPath(destination_), error);
    if (error)
        QFile::remove(temporary_);
    lock_.reset(); // the temporary file is gone: another program may make its copy now
    if (error) {
        return Status::failure(
            ErrorKind::Io, QStringLiteral("no se pudo dar el nombre %1 a la copia: %2")
                               .arg(quoted(destination_), QString::fromLocal8Bit(error.message())));
    }
    syncPath(QFileInfo(destination_).absolutePath());
    return Status();
}

// --- checks and pruning ---

Status checkDatabaseFile(const QString& path, const std::atomic<bool>* cancel) {
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    QStringList rows;
    if (rc == SQLITE_OK) {
        // Mapped into memory, a large file is checked in about half the time: the index is
        // looked up once per card, and each read through the page cache is a system call.
        sqlite3_exec(db, "PRAGMA mmap_size=2000000000", nullptr, nullptr, nullptr);
        if (cancel)
            sqlite3_progress_handler(db, 10'000, stopWhenCancelled,
                                     const_cast<std::atomic<bool>*>(cancel));
        texts(db, "PRAGMA integrity_check", &rows, &rc);
    }
    Status status;
    if (rc == SQLITE_INTERRUPT)
        status = Status::failure(ErrorKind::Other, QStringLiteral("la revisión se interrumpió"));
    else if (rc != SQLITE_OK)
        status = Status::failure(
            ErrorKind::NotADatabase,
            QStringLiteral("no se pudo revisar %1: %2").arg(quoted(path), reasonFor(rc, db)));
    else if (rows.value(0) != u"ok")
        status = Status::failure(ErrorKind::NotADatabase,
                                 QStringLiteral("%1 no pasó la revisión de integridad (%2)")
                                     .arg(quoted(path), rows.mid(0, 3).join(QStringLiteral("; "))));
    sqlite3_close(db);
    return status;
}

void pruneDailyBackups(const QString& folder, int keep) {
    const QDir dir(folder);
    QStringList names;
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        const QRegularExpressionMatch m = dailyName().match(name);
        if (m.hasMatch() &&
            QDate::fromString(m.captured(1), QStringLiteral("yyyy-MM-dd")).isValid())
            names.append(name);
    }
    // The date in the name orders the copies; the oldest go first.
    for (qsizetype i = 0; i + keep < names.size(); ++i)
        QFile::remove(dir.filePath(names[i]));
}

Status backupNow(const QString& source, const QString& destination) {
    BackupCopy copy(source, destination);
    using namespace std::chrono_literals;
    auto waited = 0ms;
    for (;;) {
        const BackupCopy::Step step = copy.step(4096);
        if (step == BackupCopy::Step::Failed)
            return copy.status();
        if (step == BackupCopy::Step::Copied)
            break;
        if (step == BackupCopy::Step::Busy) {
            if (waited >= std::chrono::milliseconds(DailyBackup::kBusyGiveUpMs))
                return Status::failure(ErrorKind::Busy,
                                       QStringLiteral("otro programa tuvo el registro ocupado "
                                                      "demasiado tiempo"));
            std::this_thread::sleep_for(100ms);
            waited += 100ms;
        }
    }
    if (Status checked = checkDatabaseFile(copy.temporaryPath()); !checked)
        return checked;
    return copy.commit();
}

Status backupNow(const Folders& folders, const QDate& day) {
    const QString registry = folders.appFile(kDatabaseFileName);
    if (!QFileInfo(registry).isFile())
        return Status();
    const QString copy = dailyBackupPath(folders, day);
    const QString folder = QFileInfo(copy).absolutePath();
    if (!QDir().mkpath(folder))
        return Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("no se pudo crear la carpeta %1").arg(quoted(folder)));
    Status status = backupNow(registry, copy);
    if (status)
        pruneDailyBackups(folder);
    return status;
}

// --- DailyBackup ---

DailyBackup* DailyBackup::startIfDue(const Folders& folders, const Clock& clock,
                                     MessageLayer& messages, QObject* parent, int delayMs) {
    const QString source = folders.appFile(kDatabaseFileName);
    const QString destination = dailyBackupPath(folders, clock.today());
    if (!QFileInfo(source).isFile() || QFileInfo::exists(destination))
        return nullptr;
    auto* backup = new DailyBackup(source, destination, messages, parent);
    backup->start(delayMs);
    return backup;
}

DailyBackup::DailyBackup(QString source, QString destination, MessageLayer& messages,
                         QObject* parent)
    : QObject(parent), destination_(std::move(destination)), messages_(messages),
      copy_(std::make_unique<BackupCopy>(std::move(source), destination_)),
      timer_(new QTimer(this)) {
    timer_->setSingleShot(true);
}

DailyBackup::~DailyBackup() {
    stopCheck();
}

void DailyBackup::stopCheck() {
    cancelCheck_.store(true);
    if (checker_.joinable())
        checker_.join();
}

void DailyBackup::start(int delayMs) {
    if (running_ || !copy_)
        return;
    running_ = true;
    timer_->disconnect();
    connect(timer_, &QTimer::timeout, this, &DailyBackup::runStep);
    timer_->start(delayMs);
}

void DailyBackup::runStep() {
    if (copy_->totalPages() < 0 && QFileInfo(destination_).isFile()) {
        // Another program made the day's copy meanwhile (this one waited for it).
        finish(Status());
        return;
    }
    if (copy_->totalPages() < 0) {
        const QString folder = QFileInfo(destination_).absolutePath();
        if (!QDir().mkpath(folder)) {
            finish(Status::failure(ErrorKind::CannotOpen, QStringLiteral("no se pudo crear la "
                                                                         "carpeta %1")
                                                              .arg(quoted(folder))));
            return;
        }
    }
    QElapsedTimer t;
    t.start();
    const BackupCopy::Step step = copy_->step(kPagesPerStep);
    longestStepMs_ = std::max(longestStepMs_, double(t.nsecsElapsed()) / 1e6);
    switch (step) {
    case BackupCopy::Step::More:
        busySince_.invalidate();
        timer_->start(0);
        return;
    case BackupCopy::Step::Busy:
        if (!busySince_.isValid())
            busySince_.start();
        if (busySince_.elapsed() > kBusyGiveUpMs) {
            finish(Status::failure(ErrorKind::Busy, QStringLiteral("otro programa tuvo el registro "
                                                                   "ocupado demasiado tiempo")));
            return;
        }
        timer_->start(kBusyRetryMs);
        return;
    case BackupCopy::Step::Failed:
        finish(copy_->status());
        return;
    case BackupCopy::Step::Copied:
        break;
    }
    // integrity_check reads the whole copy in one call (seconds for a large registry), so it
    // runs beside the window on a connection of its own to the new file, which nothing else
    // opens.
    timer_->disconnect();
    connect(timer_, &QTimer::timeout, this, &DailyBackup::pollCheck);
    checker_ = std::thread([this, path = copy_->temporaryPath()] {
        // The copy reaches the disk here too, so that the rename after the check waits no more.
        syncPath(path);
        checkResult_ = checkDatabaseFile(path, &cancelCheck_);
        checkDone_.store(true, std::memory_order_release);
    });
    timer_->start(20);
}

void DailyBackup::pollCheck() {
    if (!checkDone_.load(std::memory_order_acquire)) {
        timer_->start(20);
        return;
    }
    checker_.join();
    if (!checkResult_) {
        finish(checkResult_);
        return;
    }
    const Status committed = copy_->commit();
    if (committed)
        pruneDailyBackups(QFileInfo(destination_).absolutePath());
    finish(committed);
}

void DailyBackup::finish(Status status) {
    running_ = false;
    timer_->stop();
    // An uncommitted copy is removed, and its status with it: hence `status` is taken by value.
    copy_.reset();
    if (!status) {
        messages_.inform(QStringLiteral("No se pudo hacer la copia de respaldo del registro de "
                                        "tarjetas en %1: %2.\n\nEl programa sigue funcionando "
                                        "con normalidad; la copia se intentará de nuevo la "
                                        "próxima vez que se abra.")
                             .arg(quoted(destination_), status.message()),
                         QStringLiteral("Copia de respaldo"), MessageLayer::Icon::Warning);
    }
    emit finished(status.ok());
}

// --- restore ---

namespace {

// The card columns a restored file must have in table Clientes; empty when it has them all.
QString missingColumns(sqlite3* db, int* rc) {
    QStringList columns;
    if (!texts(db, "SELECT name FROM pragma_table_info('Clientes')", &columns, rc))
        return {};
    if (columns.isEmpty())
        return QStringLiteral("no tiene la tabla Clientes");
    QStringList missing;
    for (const CardField& f : cardFields()) {
        if (!columns.contains(f.name.toString(), Qt::CaseInsensitive))
            missing.append(f.name.toString());
    }
    if (missing.isEmpty())
        return {};
    return QStringLiteral("a su tabla Clientes le faltan las columnas %1")
        .arg(missing.join(QStringLiteral(", ")));
}

bool looksLikeSqlite(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) && f.read(16) == QByteArrayView("SQLite format 3\0", 16);
}

} // namespace

int runRestoreCommand(const Folders& folders, const QString& backupPath, QTextStream& out,
                      const QDateTime& now) {
    const QString dbPath = QFileInfo(folders.appFile(kDatabaseFileName)).absoluteFilePath();
    const QString source = QFileInfo(backupPath).absoluteFilePath();
    auto fail = [&](const QString& reason) {
        out << QStringLiteral("No se pudo restaurar la copia %1: %2.\n").arg(quoted(source), reason)
            << QStringLiteral("El registro %1 no cambió.\n").arg(quoted(dbPath));
        out.flush();
        return 1;
    };

    const QFileInfo sourceInfo(source);
    if (!sourceInfo.exists())
        return fail(QStringLiteral("el archivo no existe"));
    if (!sourceInfo.isFile())
        return fail(QStringLiteral("no es un archivo"));
    if (QFileInfo::exists(dbPath) &&
        sourceInfo.canonicalFilePath() == QFileInfo(dbPath).canonicalFilePath())
        return fail(QStringLiteral("es el mismo registro que se quiere reemplazar"));
    if (!looksLikeSqlite(source))
        return fail(QStringLiteral("no es un archivo SQLite"));

    // The copy is made and checked under a temporary name beside DAT.db; only a sound copy
    // replaces it, by a rename.
    BackupCopy copy(source, dbPath);
    for (BackupCopy::Step step = copy.step(4096); step != BackupCopy::Step::Copied;
         step = copy.step(4096)) {
        if (step == BackupCopy::Step::Failed)
            return fail(copy.status().message());
        if (step == BackupCopy::Step::Busy)
            return fail(QStringLiteral("otro programa está escribiendo en ese archivo"));
    }
    if (Status checked = checkDatabaseFile(copy.temporaryPath()); !checked)
        return fail(checked.message());
    qint64 cards = 0;
    {
        sqlite3* db = nullptr;
        int rc = sqlite3_open_v2(copy.temporaryPath().toUtf8().constData(), &db,
                                 SQLITE_OPEN_READONLY, nullptr);
        QString wrong;
        QStringList count;
        if (rc == SQLITE_OK)
            wrong = missingColumns(db, &rc);
        if (rc == SQLITE_OK && wrong.isEmpty() &&
            texts(db, "SELECT count(*) FROM Clientes", &count, &rc))
            cards = count.value(0).toLongLong();
        const QString reason = rc != SQLITE_OK ? reasonFor(rc, db) : wrong;
        sqlite3_close(db);
        if (!reason.isEmpty())
            return fail(reason);
    }

    // While the current registry is copied aside and replaced, no other program may be writing
    // it: the write lock waits for a write under way and keeps new ones out.
    sqlite3* lock = nullptr;
    bool locked = false;
    const bool hadRegistry = QFileInfo::exists(dbPath);
    if (hadRegistry) {
        int rc =
            sqlite3_open_v2(dbPath.toUtf8().constData(), &lock, SQLITE_OPEN_READWRITE, nullptr);
        if (rc == SQLITE_OK) {
            sqlite3_busy_timeout(lock, 5000);
            rc = sqlite3_exec(lock, "BEGIN IMMEDIATE; SELECT count(*) FROM sqlite_master", nullptr,
                              nullptr, nullptr);
        }
        locked = rc == SQLITE_OK;
        if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
            sqlite3_close(lock);
            return fail(QStringLiteral("otro programa está escribiendo en el registro; ciérrelo "
                                       "e intente de nuevo"));
        }
        // Otherwise the current file may be damaged (often the reason to restore): it is kept
        // as it is, with the journal of an interrupted write beside it.
    }
    const auto unlock = [&] {
        if (locked)
            sqlite3_exec(lock, "ROLLBACK", nullptr, nullptr, nullptr);
        locked = false;
        sqlite3_close(lock);
        lock = nullptr;
    };

    // The restored registry keeps the mode of the one it replaces (a practice may share it
    // through a group); a new one is made with this process's own, private, mode.
    if (hadRegistry)
        QFile::setPermissions(copy.temporaryPath(), QFileInfo(dbPath).permissions());

    QString kept;
    QString keptJournal;
    bool journalMoved = false;
    const QString journal = dbPath + QStringLiteral("-journal");
    if (hadRegistry) {
        const QString stem = QStringLiteral("DAT antes de restaurar %1")
                                 .arg(now.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")));
        kept = folders.appFile(stem + QStringLiteral(".db"));
        for (int n = 2; QFileInfo::exists(kept); ++n)
            kept = folders.appFile(QStringLiteral("%1 (%2).db").arg(stem).arg(n));
        keptJournal = kept + QStringLiteral("-journal");
        if (!QFile::copy(dbPath, kept)) {
            unlock();
            QFile::remove(kept);
            return fail(
                QStringLiteral("no se pudo guardar el registro actual como %1").arg(quoted(kept)));
        }
#ifndef Q_OS_WIN
        // The copy takes the registry's mode, which may be shared with a group: the kept copy,
        // which nobody works in, is the user's alone.
        QFile::setPermissions(kept, QFile::ReadOwner | QFile::WriteOwner);
#endif
        syncPath(kept);
        // A journal left by the old file would be played back onto the restored one: it goes
        // with the kept copy, which it belongs to.
        if (QFileInfo::exists(journal)) {
            if (!QFile::rename(journal, keptJournal)) {
                unlock();
                QFile::remove(kept);
                return fail(QStringLiteral("no se pudo apartar el diario %1 del registro actual")
                                .arg(quoted(journal)));
            }
            journalMoved = true;
            syncPath(QFileInfo(dbPath).absolutePath());
        }
    }
#ifdef Q_OS_WIN
    // Windows renames no file that is open, this lock's own included: it goes first. A program
    // that still has the registry open then makes the rename fail, and nothing changes.
    unlock();
#endif
    const Status committed = copy.commit();
    unlock();
    if (!committed) {
        if (journalMoved)
            QFile::rename(keptJournal, journal);
        if (!kept.isEmpty())
            QFile::remove(kept);
        return fail(committed.message());
    }

    out << QStringLiteral("Se restauró el registro %1 desde la copia %2: %3 tarjetas.\n")
               .arg(quoted(dbPath), quoted(source))
               .arg(cards);
    if (hadRegistry)
        out << QStringLiteral("El registro anterior quedó guardado como %1.\n").arg(quoted(kept));
    else
        out << QStringLiteral("No había un registro anterior.\n");
    out.flush();
    return 0;
}

} // namespace store
