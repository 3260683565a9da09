#pragma once

#include "Clock.h"
#include "Folders.h"
#include "Messages.h"
#include "Status.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QLockFile>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <thread>

class QTextStream;
class QTimer;
struct sqlite3;
struct sqlite3_backup;

namespace store {

inline const QString kBackupFolderName = QStringLiteral("respaldos");
inline constexpr int kDailyBackupsKept = 30;

// respaldos/ in the data folder, and the day's copy in it: "DAT 2026-12-08.db".
QString backupFolder(const Folders& folders);
QString dailyBackupPath(const Folders& folders, const QDate& day);

// A copy of an SQLite file made with SQLite's online backup API, a few hundred pages at a time,
// into a temporary file beside the destination. The copy reaches its final name only through
// commit(), after it was checked; an unfinished or abandoned copy leaves nothing behind.
//
// The source is read through a connection of the copy's own, without a busy wait: a step that
// finds the file held by a writer returns Busy at once instead of freezing the window. A write
// to the source between steps makes SQLite start the copy over.
class BackupCopy {
public:
    BackupCopy(QString source, QString destination);
    ~BackupCopy();
    BackupCopy(const BackupCopy&) = delete;
    BackupCopy& operator=(const BackupCopy&) = delete;

    enum class Step { More, Busy, Copied, Failed };
    // Copies up to `pages` more pages (the first call opens both files). After Failed, status()
    // says why; after Copied the temporary file is complete and synced.
    Step step(int pages);
    const Status& status() const { return status_; }
    int remainingPages() const { return remaining_; }
    int totalPages() const { return total_; }

    const QString& temporaryPath() const { return temporary_; }
    // Replaces the destination with the copied file (a rename on the same disk).
    Status commit();

private:
    void close();
    Step fail(const QString& reason);

    QString source_;
    QString destination_;
    QString temporary_;
    sqlite3* from_ = nullptr;
    sqlite3* to_ = nullptr;
    sqlite3_backup* backup_ = nullptr;
    // Held from the first step on: the temporary file is this copy's.
    std::unique_ptr<QLockFile> lock_;
    Status status_;
    int remaining_ = -1;
    int total_ = -1;
    bool copied_ = false;
};

// PRAGMA integrity_check on a file opened read-only: ok, or why not. `cancel`, when given, is
// polled while the check runs and abandons it once set.
Status checkDatabaseFile(const QString& path, const std::atomic<bool>* cancel = nullptr);

// Deletes the oldest daily copies ("DAT AAAA-MM-DD.db") of the folder beyond the newest `keep`;
// other files are left alone.
void pruneDailyBackups(const QString& folder, int keep = kDailyBackupsKept);

// Copies `source` to `destination` at once, checked: for the command line, where no window waits.
Status backupNow(const QString& source, const QString& destination);
// The day's copy of DAT.db made at once, replacing one made earlier that day, then the pruning;
// nothing to do when there is no DAT.db.
Status backupNow(const Folders& folders, const QDate& day);

// The day's copy of DAT.db, made at start-up while the window works: a few hundred pages per turn
// of the event loop, then the check on a thread of its own (it reads only the new file), then the
// rename and the pruning of old copies. Nobody is told unless it fails; then one message says
// why, and the program goes on.
class DailyBackup : public QObject {
    Q_OBJECT
public:
    // Starts the copy when DAT.db exists and the day has no copy yet, its first step
    // `delayMs` from now; returns null otherwise.
    static DailyBackup* startIfDue(const Folders& folders, const Clock& clock,
                                   MessageLayer& messages, QObject* parent, int delayMs = 0);
    DailyBackup(QString source, QString destination, MessageLayer& messages,
                QObject* parent = nullptr);
    ~DailyBackup() override; // abandons an unfinished copy, leaving nothing behind

    void start(int delayMs = 0);
    bool running() const { return running_; }
    // The longest single step on the event loop, in milliseconds, for the benchmark.
    double longestStepMs() const { return longestStepMs_; }

    static constexpr int kPagesPerStep = 256;
    static constexpr int kBusyRetryMs = 200;
    static constexpr int kBusyGiveUpMs = 60'000; // a writer holding the file longer: failure

signals:
    void finished(bool ok);

private:
    void runStep();
    void pollCheck();
    void finish(Status status);
    void stopCheck();

    QString destination_;
    MessageLayer& messages_;
    std::unique_ptr<BackupCopy> copy_;
    QTimer* timer_;
    QElapsedTimer busySince_;
    bool running_ = false;
    double longestStepMs_ = 0;
    // The check runs on its own thread and connection; only these cross between the threads.
    std::thread checker_;
    std::atomic<bool> checkDone_{false};
    std::atomic<bool> cancelCheck_{false};
    Status checkResult_; // written by the checker before checkDone_, read after it
};

// `tarjetas --restaurar FILE`: checks that FILE is a sound card store (an SQLite file that passes
// integrity_check and has table Clientes with every card column), keeps the current DAT.db as
// "DAT antes de restaurar <fecha hora>.db" beside it, and puts a copy of FILE in its place
// through a temporary file and a rename. Prints what it did; returns the process exit code, 1
// with DAT.db untouched on any failure.
int runRestoreCommand(const Folders& folders, const QString& backupPath, QTextStream& out,
                      const QDateTime& now = QDateTime::currentDateTime());

} // namespace store
