// Faults from outside the program: a full disk, read-only folders, the store replaced while the
// program runs, folders that vanish, a printer queue stopped during a job. Each must end in one
// plain Spanish message, lose nothing stored before, and leave the program usable once the fault
// is gone. Every message is printed as "FAULT | case | message" for the README's table.
//
// The full disk is a small tmpfs when this test may mount (as root); otherwise the test's own
// write(), pwrite() and pwrite64() fail with ENOSPC for files under the folder of the case.

#include "CardPrintCommand.h"
#include "PrintSurfacePainter.h"
#include "PrivateCups.h"
#include "Program.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

using namespace reliability;
using Answer = store::MessageLayer::Answer;

namespace {

std::atomic<bool> failWrites{false};
char failPrefix[4096];

bool diskFullFor(int fd) {
    if (!failWrites.load())
        return false;
    char link[64];
    char target[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, target, sizeof target - 1);
    if (n <= 0)
        return false;
    target[n] = '\0';
    return strncmp(target, failPrefix, strlen(failPrefix)) == 0;
}

template <typename F> F next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" {
ssize_t write(int fd, const void* buf, size_t n) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t)>("write");
    if (diskFullFor(fd))
        return errno = ENOSPC, -1;
    return real(fd, buf, n);
}
ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off_t)>("pwrite");
    if (diskFullFor(fd))
        return errno = ENOSPC, -1;
    return real(fd, buf, n, at);
}
ssize_t pwrite64(int fd, const void* buf, size_t n, off64_t at) {
    static const auto real = next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    if (diskFullFor(fd))
        return errno = ENOSPC, -1;
    return real(fd, buf, n, at);
}
}

namespace {

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    return p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool mayMount() {
    static const bool may = [] {
        if (qEnvironmentVariableIsSet("TARJETAS_FAULTS_NO_MOUNT") || geteuid() != 0)
            return false;
        QTemporaryDir probe;
        const bool ok = run(QStringLiteral("mount"),
                            {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                             QStringLiteral("size=1m"), QStringLiteral("tmpfs"), probe.path()});
        return ok && run(QStringLiteral("umount"), {probe.path()});
    }();
    return may;
}

// The message shown for the fault, which must say what went wrong.
void record(const char* fault, const QString& message, const QString& saying) {
    QVERIFY2(message.contains(saying), qPrintable(QString::fromLatin1(fault) + u": " + message));
    printf("FAULT | %s | %s\n", fault, qPrintable(QString(message).replace(u'\n', u' ')));
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

public:
    PrivateCups cups;

private:
    std::unique_ptr<QTemporaryDir> tmp_;
    QStringList mounts_;
    std::unique_ptr<Program> p_;
    Generator gen_{42};
    Cards before_;

    // A program over a store of ten cards, with a web file waiting in its data folder.
    void start() {
        p_ = std::make_unique<Program>(tmp_->path(), QDateTime(QDate(2026, 5, 4), QTime(10, 0)));
        QVERIFY2(p_->cards, qPrintable(p_->openStatus.message()));
        for (int i = 0; i < 10; ++i)
            QVERIFY(p_->add(gen_.typed(QStringLiteral("C%1").arg(i))).isEmpty());
        QString error;
        QVERIFY(readAll(*p_->cards, &before_, &error));
    }
    void dropWebFile() {
        QVERIFY(p_->dropWebFile(Program::webFile({gen_.typed(QStringLiteral("W1"))})));
    }
    // Nothing stored before the fault is lost, the file is sound, and the program saves again.
    void verifyUsable(bool cardsKept = true) {
        QString error;
        Cards now;
        QCOMPARE(integrity(*p_->cards), QStringLiteral("ok"));
        QVERIFY2(readAll(*p_->cards, &now, &error), qPrintable(error));
        if (cardsKept) {
            for (const auto& [code, card] : before_)
                QVERIFY2(now.contains(code) && sameCard(now.at(code), card), qPrintable(code));
        }
        const QString again = p_->add(gen_.typed(QStringLiteral("N%1").arg(gen_.rng())));
        QVERIFY2(again.isEmpty(), qPrintable(again));
    }
    void mount(const QStringList& args, const QString& at) {
        QVERIFY2(run(QStringLiteral("mount"), args), qPrintable(args.join(u' ')));
        mounts_.prepend(at);
    }
    void setReadOnly(const QString& dir) {
        if (mayMount()) {
            mount({QStringLiteral("--bind"), dir, dir}, dir);
            QVERIFY(run(QStringLiteral("mount"),
                        {QStringLiteral("-o"), QStringLiteral("remount,bind,ro"), dir}));
        } else {
            if (geteuid() == 0)
                QSKIP("root writes into any folder, and mounting a read-only copy is not allowed");
            QVERIFY(QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner));
        }
    }
    // Takes the read-only folders back; the program keeps running.
    void undoReadOnly() {
        for (const QString& at : mounts_)
            run(QStringLiteral("umount"), {at});
        mounts_.clear();
        for (const char* dir : {"app", "data", "export"})
            QFile::setPermissions(tmp_->filePath(QString::fromLatin1(dir)),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    // Fills the disk that holds the case's folder; `false` frees it again.
    void setDiskFull(bool full) {
        const QString filler = tmp_->filePath(QStringLiteral("relleno"));
        if (!mayMount()) {
            failWrites = full;
            return;
        }
        if (!full) {
            QVERIFY(QFile::remove(filler));
            return;
        }
        QFile f(filler);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        const QByteArray block(4096, 'x');
        while (f.write(block) == block.size()) {
        }
    }

private slots:
    void init() {
        tmp_ = std::make_unique<QTemporaryDir>();
        QVERIFY(tmp_->isValid());
        qstrncpy(failPrefix, QFile::encodeName(tmp_->path()).constData(), sizeof failPrefix);
    }
    void cleanup() {
        failWrites = false;
        p_.reset();
        undoReadOnly();
        tmp_.reset();
    }

    void diskFull_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("saying");
        for (const char* c : {"add", "edit", "delete", "intake"})
            QTest::newRow(c) << QString::fromLatin1(c) << QStringLiteral("el disco está lleno");
        QTest::newRow("import") << "import"
                                << "No se importó ninguna tarjeta";
        QTest::newRow("export") << "export"
                                << "No se pudieron exportar los datos";
    }
    void diskFull() {
        QFETCH(QString, command);
        QFETCH(QString, saying);
        if (mayMount())
            mount({QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                   QStringLiteral("size=2m"), QStringLiteral("tmpfs"), tmp_->path()},
                  tmp_->path());
        start();
        if (command == u"intake")
            dropWebFile();
        setDiskFull(true);
        const Card& first = before_.begin()->second;
        QString said;
        if (command == u"add")
            said = p_->add(gen_.typed(QStringLiteral("X1")));
        else if (command == u"edit")
            said = p_->edit(first, gen_.typed(first[store::Codigo]));
        else if (command == u"delete")
            said = p_->remove(first);
        else if (command == u"intake")
            said = p_->intake(1);
        else if (command == u"import")
            said = p_->import({gen_.typed(QStringLiteral("X2"))});
        else
            said = p_->exportCsv(output::ExportKind::Complete, &said);
        setDiskFull(false);
        record(qPrintable(QStringLiteral("disk full, ") + command), said, saying);
        if (command == u"intake") {
            // The web file is kept, under its own name or set aside beside it.
            QVERIFY(!QDir(p_->folders.dataDir)
                         .entryList({store::kWebCardFileName + QStringLiteral("*")})
                         .isEmpty());
        }
        if (command == u"export")
            QVERIFY(QDir(p_->folders.exportDir).entryList(QDir::Files).isEmpty());
        verifyUsable();
    }

    void readOnlyFolder_data() {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("saying");
        QTest::newRow("data folder, intake") << "data"
                                             << "intake"
                                             << "ya se guardaron, pero no se pudo eliminar";
        QTest::newRow("data folder, import") << "data"
                                             << "import"
                                             << "No se importó";
        QTest::newRow("export folder, export") << "export"
                                               << "export"
                                               << "No se pudieron exportar";
        QTest::newRow("store folder, add") << "app"
                                           << "add"
                                           << "no permite";
    }
    void readOnlyFolder() {
        QFETCH(QString, folder);
        QFETCH(QString, command);
        QFETCH(QString, saying);
        start();
        if (command == u"intake")
            dropWebFile();
        setReadOnly(tmp_->filePath(folder));
        QString said;
        if (command == u"intake")
            said = p_->intake(1);
        else if (command == u"import")
            said = p_->import({gen_.typed(QStringLiteral("X2"))});
        else if (command == u"export")
            said = p_->exportCsv(output::ExportKind::WithoutOwner, &said);
        else
            said = p_->add(gen_.typed(QStringLiteral("X1")));
        record(qPrintable(QStringLiteral("read-only ") + folder + QStringLiteral(", ") + command),
               said, saying);
        undoReadOnly();
        verifyUsable();
    }

    // Another program writes over DAT.db, or puts another file in its place, while the program
    // has it open: the program says so and never writes into the other file or over it.
    void storeReplaced_data() {
        QTest::addColumn<bool>("inPlace");
        QTest::newRow("garbage written over DAT.db") << true;
        QTest::newRow("DAT.db replaced by a garbage file") << false;
    }
    void storeReplaced() {
        QFETCH(bool, inPlace);
        start();
        const QString path = p_->folders.appFile(store::kDatabaseFileName);
        QByteArray garbage(64 * 1024, '\0');
        for (char& c : garbage)
            c = char(gen_.below(256));
        if (inPlace) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QCOMPARE(f.write(garbage), garbage.size());
        } else {
            QSaveFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(garbage);
            QVERIFY(f.commit());
        }
        const QString said = p_->add(gen_.typed(QStringLiteral("X1")));
        record(inPlace ? "garbage written over DAT.db, add" : "DAT.db replaced by garbage, add",
               said,
               inPlace ? QStringLiteral("no es un registro de tarjetas")
                       : QStringLiteral("ya no está donde se abrió"));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().left(garbage.size()), garbage);
        // The next start refuses the file instead of starting over with an empty one.
        p_.reset();
        store::Status status;
        QVERIFY(!store::CardStore::open(path, &status));
        record("next start over the garbage DAT.db", status.message(),
               QStringLiteral("no es un registro de tarjetas"));
        QVERIFY(QFile(path).size() >= garbage.size());
    }

    // The folders are reached through a path that goes away (a network drive, a USB disk):
    // writes are refused with a message, and once the path is back everything is there.
    void foldersVanish() {
        start();
        const QString app = p_->folders.appDir;
        const QString data = p_->folders.dataDir;
        QVERIFY(QDir().rename(app, app + QStringLiteral(".lejos")));
        QVERIFY(QDir().rename(data, data + QStringLiteral(".lejos")));
        const QString moved = QStringLiteral("ya no está donde se abrió");
        record("store folder gone, add", p_->add(gen_.typed(QStringLiteral("X1"))), moved);
        record("store folder gone, delete", p_->remove(before_.begin()->second), moved);
        QString printed;
        record("store and data folders gone, import",
               p_->import({gen_.typed(QStringLiteral("X2"))}, &printed),
               QStringLiteral("No se importó ninguna tarjeta"));
        QVERIFY(QDir().rename(app + QStringLiteral(".lejos"), app));
        QDir(data).removeRecursively(); // what the import may have made in its place
        QVERIFY(QDir().rename(data + QStringLiteral(".lejos"), data));
        verifyUsable();
    }

    // The queue stops while the card is being sent: the job waits in the queue, the program
    // says where it is, and it is printed once the queue is started again.
    void printerStopped() {
        if (!cups.skipReason().isEmpty())
            QSKIP(qPrintable(cups.skipReason()));
        start();
        const QString disable =
            QStandardPaths::findExecutable(QStringLiteral("cupsdisable"), PrivateCups::sbin());
        const QString enable =
            QStandardPaths::findExecutable(QStringLiteral("cupsenable"), PrivateCups::sbin());
        QVERIFY2(!disable.isEmpty() && !enable.isEmpty(), "cupsdisable or cupsenable is missing");
        struct StoppingTarget : output::PrintTarget {
            std::unique_ptr<output::PrintSurface> open(store::Status* status) override {
                auto surface = inner.open(status);
                stopped = PrivateCups::runClient(disable, {PrivateCups::queue()}, &output);
                return surface;
            }
            output::DefaultPrinterTarget inner;
            QString disable, output;
            bool stopped = false;
        } target;
        target.disable = disable;
        p_->messages.clear();
        p_->messages.queue(Answer::Yes);
        const int jobs = cups.jobsSaved();
        const auto outcome = output::printCardCommand(
            *p_->cards, before_.begin()->first, p_->folders, QStringLiteral("Clinica"),
            p_->messages, target, output::PrintKind::ThreeBlocks);
        QVERIFY2(target.stopped, qPrintable(target.output));
        record("printer queue stopped during the job", p_->messages.boxes.back().text,
               QStringLiteral("Tarjeta Enviada a la Impresora"));
        QString output;
        QVERIFY(PrivateCups::runClient(enable, {PrivateCups::queue()}, &output));
        if (outcome == output::PrintOutcome::Printed)
            QVERIFY2(!cups.waitForJob(jobs + 1).isEmpty(), "the held job was never printed");
        verifyUsable();
    }
};

int main(int argc, char** argv) {
    TestFaults test;
    test.cups.start();
    QApplication app(argc, argv);
    return QTest::qExec(&test, argc, argv);
}

#include "test_faults.moc"
