#pragma once

// A private CUPS server for tests that print through the real print system: cupsd runs from a
// temporary folder on a local socket, with one raw queue whose backend saves every job, unfiltered,
// into a folder, and that queue is made the default printer.
//
// Qt's CUPS support reads the server and the default printer once, when it is first used, so the
// server is started before the application object exists (from main()). Where cupsd cannot be
// started, skipReason() says why and the tests report themselves skipped.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <unistd.h>

class PrivateCups {
public:
    static QString queue() { return QStringLiteral("Tarjetas"); }
    static QStringList sbin() { return {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}; }

    PrivateCups() = default;
    PrivateCups(const PrivateCups&) = delete;
    PrivateCups& operator=(const PrivateCups&) = delete;
    ~PrivateCups() { stop(); }

    const QString& skipReason() const { return skipReason_; }
    const QString& jobsFolder() const { return jobs_; }

    // Runs a CUPS client command against the server; its output goes to `output`.
    static bool runClient(const QString& program, const QStringList& arguments, QString* output) {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(program, arguments);
        const bool ok =
            p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        *output = QString::fromLocal8Bit(p.readAll());
        return ok;
    }

    // Starts cupsd with the queue as the default printer; on failure skipReason() says why.
    void start() {
        const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), sbin());
        const QString lpadmin = QStandardPaths::findExecutable(QStringLiteral("lpadmin"), sbin());
        if (cupsd.isEmpty() || lpadmin.isEmpty()) {
            skipReason_ = QStringLiteral("cupsd or lpadmin is not installed (Debian cups)");
            return;
        }
        if (!dir_.isValid()) {
            skipReason_ = QStringLiteral("cannot create a temporary folder for cupsd");
            return;
        }
        const QString d = dir_.path();
        QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                     QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                                     QFile::ExeOther);
        for (const char* sub :
             {"etc/ppd", "etc/ssl", "bin/backend", "spool/tmp", "cache", "state", "log", "jobs"})
            QDir(d).mkpath(QString::fromLatin1(sub));
        for (const char* sub : {"filter", "daemon", "cgi-bin", "notifier", "monitor", "driver"})
            QFile::link(QStringLiteral("/usr/lib/cups/") + QString::fromLatin1(sub),
                        d + QStringLiteral("/bin/") + QString::fromLatin1(sub));
        jobs_ = d + QStringLiteral("/jobs");
        const QString socket = d + QStringLiteral("/cups.sock");

        // The backend saves the job as it comes under the job number.
        const QString backend =
            QStringLiteral("#!/bin/sh\n"
                           "if [ $# -eq 0 ]; then echo 'direct tarjetas \"Unknown\" \"Jobs "
                           "folder\"'; exit 0; fi\n"
                           "out=\"%1/job-$1.prn\"\n"
                           "if [ -n \"$6\" ]; then cat \"$6\" > \"$out.part\"; "
                           "else cat > \"$out.part\"; fi\n"
                           "mv \"$out.part\" \"$out\"\n")
                .arg(jobs_);
        const auto privateFile = QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup;
        // Mode 0700 makes cupsd run the backend as root, which may write into the folder.
        const bool written =
            writeFile(d + QStringLiteral("/bin/backend/tarjetas"), backend,
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
            writeFile(d + QStringLiteral("/etc/cupsd.conf"),
                      QStringLiteral("Listen %1\nLogLevel info\nWebInterface No\nBrowsing No\n"
                                     "<Location />\n  Order allow,deny\n  Allow all\n"
                                     "</Location>\n<Location /admin>\n  Order allow,deny\n"
                                     "  Allow all\n</Location>\n")
                          .arg(socket),
                      privateFile) &&
            writeFile(d + QStringLiteral("/etc/cups-files.conf"),
                      QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\n"
                                     "TempDir %1/spool/tmp\nCacheDir %1/cache\n"
                                     "StateDir %1/state\nServerBin %1/bin\n"
                                     "DataDir /usr/share/cups\nAccessLog %1/log/access_log\n"
                                     "ErrorLog %1/log/error_log\nPageLog %1/log/page_log\n")
                          .arg(d),
                      privateFile);
        if (!written) {
            skipReason_ = QStringLiteral("cannot write the cupsd configuration");
            return;
        }

        qputenv("CUPS_SERVER", socket.toLocal8Bit());
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");
        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        cupsd_.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"),
                             d + QStringLiteral("/etc/cupsd.conf"), QStringLiteral("-s"),
                             d + QStringLiteral("/etc/cups-files.conf")});
        if (!cupsd_.waitForStarted(10000)) {
            skipReason_ = QStringLiteral("cupsd could not be started: ") + cupsd_.errorString();
            return;
        }
        // cupsd takes a moment before it answers on its socket.
        QString output;
        QElapsedTimer timer;
        timer.start();
        bool added = false;
        while (!added && timer.elapsed() < 15000 && cupsd_.state() == QProcess::Running) {
            added = runClient(lpadmin,
                              {QStringLiteral("-p"), queue(), QStringLiteral("-E"),
                               QStringLiteral("-v"), QStringLiteral("tarjetas:/jobs")},
                              &output);
            if (!added)
                QThread::msleep(200);
        }
        if (!added) {
            QFile log(d + QStringLiteral("/log/error_log"));
            log.open(QIODevice::ReadOnly);
            skipReason_ =
                QStringLiteral("cupsd did not accept a queue (running as uid %1): %2 %3 %4")
                    .arg(QString::number(::geteuid()), output,
                         QString::fromLocal8Bit(cupsd_.readAll()),
                         QString::fromLocal8Bit(log.readAll().right(2000)));
            return;
        }
        if (!runClient(lpadmin, {QStringLiteral("-d"), queue()}, &output))
            skipReason_ = QStringLiteral("cannot make the queue the default: ") + output;
    }

    void stop() {
        if (cupsd_.state() == QProcess::NotRunning)
            return;
        cupsd_.terminate();
        if (!cupsd_.waitForFinished(10000))
            cupsd_.kill();
        cupsd_.waitForFinished(5000);
    }

    // Waits for the backend to save job `number`; its path, or empty after 30 seconds.
    QString waitForJob(int number) const {
        const QString path = jobs_ + QStringLiteral("/job-%1.prn").arg(number);
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(path) && timer.elapsed() < 30000)
            QThread::msleep(100);
        return QFile::exists(path) ? path : QString();
    }

    int jobsSaved() const { return int(QDir(jobs_).entryList(QDir::Files).size()); }

private:
    static bool writeFile(const QString& path, const QString& text,
                          QFile::Permissions permissions) {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0 &&
               f.setPermissions(permissions);
    }

    QTemporaryDir dir_;
    QProcess cupsd_;
    QString jobs_;
    QString skipReason_;
};
