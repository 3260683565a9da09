// The built program run as a process, without a display: --help, --version and --import-mdb.
#include "BuiltProgram.h"
#include "CardStore.h"
#include "TestData.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Run {
    int exitCode = -1;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    QString out;
    QString err;
};

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

} // namespace

class TestProgramImport : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    QString appDir_;
    QString dataDir_;
    QString program_;
    QStringList programFiles_; // what the copy of the program brought into appDir_

    // Runs the program copied into the temporary application folder, so that the DAT.db it
    // works on is never the build's own; no display is reachable.
    Run run(const QStringList& arguments, const QString& workingDir = {}) {
        QProcess p;
        p.setProcessEnvironment(testsupport::noDisplayEnvironment());
        p.setWorkingDirectory(workingDir.isEmpty() ? root_.path() : workingDir);
        p.start(program_, arguments);
        Run r;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished();
            qWarning("the program did not finish");
            return r;
        }
        r.exitCode = p.exitCode();
        r.exitStatus = p.exitStatus();
        r.out = testsupport::programText(p.readAllStandardOutput());
        r.err = testsupport::programText(p.readAllStandardError());
        return r;
    }
    QStringList folderArgs() const {
        return {QStringLiteral("--data-dir"), dataDir_, QStringLiteral("--export-dir"),
                root_.path()};
    }
    QString dbPath() const { return QDir(appDir_).filePath(QStringLiteral("DAT.db")); }

private slots:
    void initTestCase() {
        QVERIFY(root_.isValid());
        appDir_ = root_.filePath(QStringLiteral("app"));
        dataDir_ = root_.filePath(QStringLiteral("datos"));
        QVERIFY(QDir().mkpath(appDir_));
        program_ = QDir(appDir_).filePath(testsupport::builtProgramName());
        programFiles_ = testsupport::copyBuiltProgram(appDir_);
        QVERIFY(!programFiles_.isEmpty());
    }

    void helpAndVersionWithoutADisplay() {
        const Run help = run({QStringLiteral("--help")});
        QCOMPARE(help.exitStatus, QProcess::NormalExit);
        QCOMPARE(help.exitCode, 0);
        for (const char* option :
             {"--data-dir", "--export-dir", "--import-mdb", "--help", "--version"})
            QVERIFY2(help.out.contains(QLatin1StringView(option)), qPrintable(help.out + help.err));
        // Spanish throughout: Qt's own help lines would be English.
        for (const char* english : {"Displays", "help on", "--help-all"})
            QVERIFY2(!help.out.contains(QLatin1StringView(english)), qPrintable(help.out));

        const Run version = run({QStringLiteral("--version")});
        QCOMPARE(version.exitCode, 0);
        QVERIFY2(version.out.contains(QStringLiteral("4.5")), qPrintable(version.out));
    }

    void importOfAFileWithoutClientes() {
        const QString jet3 = testDataFile("jet3-northwind.mdb");
        const QByteArray before = fileHash(jet3);
        QVERIFY(!before.isEmpty());
        const Run r = run(folderArgs() << QStringLiteral("--import-mdb") << jet3);
        QCOMPARE(r.exitStatus, QProcess::NormalExit);
        QCOMPARE(r.exitCode, 1);
        QCOMPARE(r.out,
                 QStringLiteral("No se pudo leer el archivo «%1»: no tiene la tabla Clientes.\n"
                                "No se importó ninguna tarjeta; el registro «%2» no cambió.\n")
                     .arg(QDir::toNativeSeparators(QFileInfo(jet3).absoluteFilePath()),
                          QDir::toNativeSeparators(dbPath())));
        QVERIFY(!QFileInfo::exists(dbPath()));
        QCOMPARE(QDir(appDir_).entryList(QDir::Files, QDir::Name), programFiles_);
        QVERIFY(!QDir(dataDir_).exists() || QDir(dataDir_).isEmpty());
        QCOMPARE(fileHash(jet3), before);
    }

    void importLeavesAnExistingRegistryAlone() {
        {
            store::Status status;
            auto cards = store::CardStore::open(dbPath(), &status);
            QVERIFY2(cards, qPrintable(status.message()));
            store::Card card;
            card[store::Codigo] = QStringLiteral("152000000000001");
            store::RowId id = store::kNoRow;
            QVERIFY(cards->insertCard(card, &id));
        }
        const QByteArray before = fileHash(dbPath());
        QVERIFY(!before.isEmpty());

        // Relative to the working folder, the way a user types it.
        const QFileInfo jet3(testDataFile("jet3-northwind.mdb"));
        const Run r = run(folderArgs() << QStringLiteral("--import-mdb") << jet3.fileName(),
                          jet3.absolutePath());
        QCOMPARE(r.exitCode, 1);
        QVERIFY2(r.out.contains(QDir::toNativeSeparators(jet3.canonicalFilePath())),
                 qPrintable(r.out));
        QCOMPARE(fileHash(dbPath()), before);

        const Run missing = run(folderArgs() << QStringLiteral("--import-mdb")
                                             << root_.filePath(QStringLiteral("no.mdb")));
        QCOMPARE(missing.exitCode, 1);
        QVERIFY2(missing.out.contains(QStringLiteral("el archivo no existe")),
                 qPrintable(missing.out));
        QCOMPARE(fileHash(dbPath()), before);
    }
};

QTEST_MAIN(TestProgramImport)
#include "test_program_import.moc"
