// The card printed end to end through the print system: a private cupsd with a raw queue whose
// backend saves each job into a folder is made the default printer, the print command runs
// with the real default-printer target, and the saved job is read back with pdftotext.
// Where cupsd cannot be started the tests are reported as skipped.

#include "CardPrintCommand.h"
#include "PrintSurfacePainter.h"
#include "ScriptedMessages.h"
#include "output_pdf_words.h"
#include "output_print_fixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPrinter>
#include <QPrinterInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <functional>

#include <unistd.h>

using output::PrintKind;
using output::PrintOutcome;
using Answer = store::MessageLayer::Answer;

namespace {

const QString kQueue = QStringLiteral("Tarjetas");
const QStringList kSbin{QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")};

bool writeFile(const QString& path, const QString& text, QFile::Permissions permissions) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text.toUtf8()) >= 0 &&
           f.setPermissions(permissions);
}

// Runs a CUPS client command against the private server; the output on failure.
bool runClient(const QString& program, const QStringList& arguments, QString* output) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    const bool ok =
        p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    *output = QString::fromLocal8Bit(p.readAll());
    return ok;
}

// Opens the default printer like the program does and remembers where its printable area
// starts on the paper and how tall the paper is, in points.
class ObservedPrinterTarget : public output::PrintTarget {
public:
    std::unique_ptr<output::PrintSurface> open(store::Status* status) override {
        std::unique_ptr<output::PrintSurface> surface = inner_.open(status);
        if (auto* painter = dynamic_cast<output::PainterSurface*>(surface.get())) {
            const QPageLayout layout = painter->printer().pageLayout();
            origin = layout.paintRectPoints().topLeft();
            paperHeight = layout.fullRectPoints().height();
            printerName = painter->printer().printerName();
        }
        if (afterOpening)
            afterOpening();
        return surface;
    }
    std::function<bool()> afterOpening;
    QPointF origin;
    double paperHeight = 0;
    QString printerName;

private:
    output::DefaultPrinterTarget inner_;
};

} // namespace

// Qt's CUPS support reads the server and the default printer once it is first used, so the
// private server is started before the application object exists.
class TestOutputCups : public QObject {
    Q_OBJECT

public:
    QString skipReason;

    void startServer() {
        const QString cupsd = QStandardPaths::findExecutable(QStringLiteral("cupsd"), kSbin);
        lpadmin_ = QStandardPaths::findExecutable(QStringLiteral("lpadmin"), kSbin);
        if (cupsd.isEmpty() || lpadmin_.isEmpty()) {
            skipReason = QStringLiteral("cupsd or lpadmin is not installed (Debian cups)");
            return;
        }
        if (!dir_.isValid()) {
            skipReason = QStringLiteral("cannot create a temporary folder for cupsd");
            return;
        }
        const QString d = dir_.path();
        const auto dirPerms = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                              QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther |
                              QFile::ExeOther;
        QFile::setPermissions(d, dirPerms);
        for (const char* sub :
             {"etc/ppd", "etc/ssl", "bin/backend", "spool/tmp", "cache", "state", "log", "jobs"})
            QDir(d).mkpath(QString::fromLatin1(sub));
        for (const char* sub : {"filter", "daemon", "cgi-bin", "notifier", "monitor", "driver"})
            QFile::link(QStringLiteral("/usr/lib/cups/") + QString::fromLatin1(sub),
                        d + QStringLiteral("/bin/") + QString::fromLatin1(sub));
        jobs_ = d + QStringLiteral("/jobs");
        socket_ = d + QStringLiteral("/cups.sock");

        // The backend saves the job as it comes, unfiltered, under the job number.
        const QString backend =
            QStringLiteral("#!/bin/sh\n"
                           "if [ $# -eq 0 ]; then echo 'direct tarjetas \"Unknown\" \"Jobs "
                           "folder\"'; exit 0; fi\n"
                           "out=\"%1/job-$1.prn\"\n"
                           "if [ -n \"$6\" ]; then cat \"$6\" > \"$out.part\"; "
                           "else cat > \"$out.part\"; fi\n"
                           "mv \"$out.part\" \"$out\"\n")
                .arg(jobs_);
        // Mode 0700 makes cupsd run the backend as root, which may write into the folder.
        const bool written =
            writeFile(d + QStringLiteral("/bin/backend/tarjetas"), backend,
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) &&
            writeFile(d + QStringLiteral("/etc/cupsd.conf"),
                      QStringLiteral("Listen %1\nLogLevel info\nWebInterface No\nBrowsing No\n"
                                     "<Location />\n  Order allow,deny\n  Allow all\n"
                                     "</Location>\n<Location /admin>\n  Order allow,deny\n"
                                     "  Allow all\n</Location>\n")
                          .arg(socket_),
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup) &&
            writeFile(d + QStringLiteral("/etc/cups-files.conf"),
                      QStringLiteral("ServerRoot %1/etc\nRequestRoot %1/spool\n"
                                     "TempDir %1/spool/tmp\nCacheDir %1/cache\n"
                                     "StateDir %1/state\nServerBin %1/bin\n"
                                     "DataDir /usr/share/cups\nAccessLog %1/log/access_log\n"
                                     "ErrorLog %1/log/error_log\nPageLog %1/log/page_log\n")
                          .arg(d),
                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        if (!written) {
            skipReason = QStringLiteral("cannot write the cupsd configuration");
            return;
        }

        qputenv("CUPS_SERVER", socket_.toLocal8Bit());
        qunsetenv("PRINTER");
        qunsetenv("LPDEST");
        cupsd_.setProcessChannelMode(QProcess::MergedChannels);
        cupsd_.start(cupsd, {QStringLiteral("-f"), QStringLiteral("-c"),
                             d + QStringLiteral("/etc/cupsd.conf"), QStringLiteral("-s"),
                             d + QStringLiteral("/etc/cups-files.conf")});
        if (!cupsd_.waitForStarted(10000)) {
            skipReason = QStringLiteral("cupsd could not be started: ") + cupsd_.errorString();
            return;
        }
        QString output;
        QElapsedTimer timer;
        timer.start();
        bool added = false;
        while (!added && timer.elapsed() < 15000 && cupsd_.state() == QProcess::Running) {
            added = runClient(lpadmin_,
                              {QStringLiteral("-p"), kQueue, QStringLiteral("-E"),
                               QStringLiteral("-v"), QStringLiteral("tarjetas:/jobs")},
                              &output);
            if (!added)
                QThread::msleep(200);
        }
        if (!added) {
            QFile log(d + QStringLiteral("/log/error_log"));
            log.open(QIODevice::ReadOnly);
            skipReason =
                QStringLiteral("cupsd did not accept a queue (running as uid %1): %2 %3 %4")
                    .arg(QString::number(::geteuid()), output,
                         QString::fromLocal8Bit(cupsd_.readAll()),
                         QString::fromLocal8Bit(log.readAll().right(2000)));
            return;
        }
        if (!runClient(lpadmin_, {QStringLiteral("-d"), kQueue}, &output))
            skipReason = QStringLiteral("cannot make the queue the default: ") + output;
    }

private:
    QTemporaryDir dir_;
    QProcess cupsd_;
    QString lpadmin_;
    QString jobs_;
    QString socket_;

    // Waits for the backend to save the next job; its path, or empty after the wait.
    QString waitForJob(int number) {
        const QString path = jobs_ + QStringLiteral("/job-%1.prn").arg(number);
        QElapsedTimer timer;
        timer.start();
        while (!QFile::exists(path) && timer.elapsed() < 30000)
            QThread::msleep(100);
        return QFile::exists(path) ? path : QString();
    }

private slots:
    void initTestCase() {
        if (!skipReason.isEmpty())
            QSKIP(qPrintable(skipReason));
    }

    void cleanupTestCase() {
        if (cupsd_.state() != QProcess::NotRunning) {
            cupsd_.terminate();
            if (!cupsd_.waitForFinished(10000))
                cupsd_.kill();
            cupsd_.waitForFinished(5000);
        }
    }

    void cardReachesThePrinterAtItsPositions() {
        QCOMPARE(QPrinterInfo::defaultPrinter().printerName(), kQueue);
        PrintFixture fx;
        fx.add(filledCard());
        ScriptedMessages messages;
        messages.queue(Answer::Yes);
        ObservedPrinterTarget target;

        const PrintOutcome outcome =
            output::printCardCommand(*fx.cards, QStringLiteral("982000123456789"), fx.folders,
                                     kFooter, messages, target, PrintKind::ThreeBlocks);
        QVERIFY2(outcome == PrintOutcome::Printed, qPrintable(messages.texts().join(u'\n')));
        QCOMPARE(messages.boxes.back().text, QStringLiteral("Tarjeta Enviada a la Impresora"));
        QCOMPARE(target.printerName, kQueue);

        const QString job = waitForJob(1);
        QVERIFY2(!job.isEmpty(), "the print system saved no job within 30 seconds");
        QFile file(job);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray head = file.read(8);
        QVERIFY2(head.startsWith("%PDF"),
                 qPrintable(QStringLiteral("the job is not PDF: ") + QString::fromLatin1(head)));
        const QString kept = qEnvironmentVariable("TARJETAS_KEEP_PRINTS");
        if (!kept.isEmpty()) {
            QFile::remove(kept + QStringLiteral("/cups-job.pdf"));
            QFile::copy(job, kept + QStringLiteral("/cups-job.pdf"));
        }

        QString error;
        const std::vector<PdfWord> words = pdfWords(job, &error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        // The items that fall on this printer's paper; the first two blocks always do.
        std::vector<Expected> onPaper;
        for (const Expected& e : sheet(true)) {
            if (target.origin.y() + (2800 + e.row) / 20.0 + 12 < target.paperHeight)
                onPaper.push_back(e);
        }
        QVERIFY(onPaper.size() >= 44);
        verifyPositions(words, onPaper, 2800, target.origin);
    }

    // The queue refuses jobs from the start, or starts refusing while the card is being drawn
    // (after the check made before printing).
    void refusedJobIsReported_data() {
        QTest::addColumn<bool>("beforeOpening");
        QTest::newRow("refusing before printing") << true;
        QTest::newRow("refusing the finished document") << false;
    }
    void refusedJobIsReported() {
        QFETCH(bool, beforeOpening);
        const QString reject = QStandardPaths::findExecutable(QStringLiteral("cupsreject"), kSbin);
        const QString accept = QStandardPaths::findExecutable(QStringLiteral("cupsaccept"), kSbin);
        QVERIFY2(!reject.isEmpty() && !accept.isEmpty(), "cupsreject or cupsaccept is missing");
        QString output;
        const auto refuse = [&] {
            return runClient(reject, {kQueue}, &output);
        };
        PrintFixture fx;
        fx.add(filledCard());
        ScriptedMessages messages;
        messages.queue(Answer::Yes);
        ObservedPrinterTarget target;
        if (beforeOpening)
            QVERIFY2(refuse(), qPrintable(output));
        else
            target.afterOpening = refuse;
        const int jobsBefore = int(QDir(jobs_).entryList(QDir::Files).size());

        const PrintOutcome outcome =
            output::printCardCommand(*fx.cards, QStringLiteral("982000123456789"), fx.folders,
                                     kFooter, messages, target, PrintKind::ThreeBlocks);
        runClient(accept, {kQueue}, &output);
        QCOMPARE(outcome, PrintOutcome::Failed);
        const QString said = messages.boxes.back().text;
        QVERIFY2(said.contains(kQueue) && said.contains(QStringLiteral("no se imprimió")),
                 qPrintable(said));
        QVERIFY(!messages.texts().contains(QStringLiteral("Tarjeta Enviada a la Impresora")));
        QTest::qWait(1000);
        QCOMPARE(int(QDir(jobs_).entryList(QDir::Files).size()), jobsBefore);
    }
};

int main(int argc, char** argv) {
    TestOutputCups test;
    test.startServer();
    QApplication app(argc, argv);
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_output_cups.moc"
