// The built program run as a process, without a display: the copy made before --import-mdb and
// --restaurar putting it back.
#include "Backup.h"
#include "BuiltProgram.h"
#include "CardStore.h"
#include "History.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace store;

class TestProgramRestore : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    Folders folders_;
    QString program_;

    QString dbPath() const { return folders_.appFile(kDatabaseFileName); }
    // Runs the program copied into the temporary application folder; no display is reachable.
    int run(const QStringList& args, QString* out) {
        QProcess p;
        p.setProcessEnvironment(testsupport::noDisplayEnvironment());
        p.start(program_, QStringList{QStringLiteral("--data-dir"), folders_.dataDir} + args);
        if (!p.waitForFinished(60000))
            p.kill();
        *out = testsupport::programText(p.readAllStandardOutput() + p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    void addCards(const QStringList& codes) {
        Status status;
        auto cards = CardStore::open(dbPath(), &status);
        QVERIFY2(cards, qPrintable(status.message()));
        std::vector<Card> list;
        for (const QString& code : codes) {
            Card card;
            card[Codigo] = code;
            list.push_back(card);
        }
        QVERIFY(cards->insertCards(list, store::WriteReason::Importacion));
    }
    QStringList storedCodes() const {
        Status status;
        auto cards = CardStore::open(dbPath(), &status);
        QStringList codes;
        if (cards)
            (void)cards->forEachCard(Order::Stored, [&](RowId, const Card& card) {
                codes.append(card[Codigo]);
                return true;
            });
        return codes;
    }

private slots:
    void initTestCase() {
        QVERIFY(root_.isValid());
        folders_.appDir = root_.filePath(QStringLiteral("app"));
        folders_.dataDir = root_.filePath(QStringLiteral("datos"));
        QVERIFY(QDir().mkpath(folders_.appDir));
        program_ = folders_.appFile(testsupport::builtProgramName());
        QVERIFY(!testsupport::copyBuiltProgram(folders_.appDir).isEmpty());
    }

    void copyBeforeImportThenRestoreIt() {
        QString out;
        QCOMPARE(run({QStringLiteral("--help")}, &out), 0);
        QVERIFY2(out.contains(QStringLiteral("--restaurar")), qPrintable(out));

        addCards({QStringLiteral("100"), QStringLiteral("200")});
        // An import, even one that fails, first copies the registry as it is.
        QCOMPARE(
            run({QStringLiteral("--import-mdb"), root_.filePath(QStringLiteral("no.mdb"))}, &out),
            1);
        const QString copy = dailyBackupPath(folders_, QDate::currentDate());
        QVERIFY2(QFileInfo::exists(copy), qPrintable(out));

        addCards({QStringLiteral("300")});
        QCOMPARE(run({QStringLiteral("--restaurar"), copy}, &out), 0);
        QVERIFY2(out.startsWith(QStringLiteral("Se restauró el registro")), qPrintable(out));
        QCOMPARE(storedCodes(), (QStringList{QStringLiteral("100"), QStringLiteral("200")}));
        const QStringList kept =
            QDir(folders_.appDir)
                .entryList({QStringLiteral("DAT antes de restaurar *.db")}, QDir::Files);
        QCOMPARE(kept.size(), 1);

        // A file that is no backup: refused, the registry stays as it is.
        QCOMPARE(run({QStringLiteral("--restaurar"), program_}, &out), 1);
        QVERIFY2(out.contains(QStringLiteral("no es un archivo SQLite")), qPrintable(out));
        QCOMPARE(storedCodes(), (QStringList{QStringLiteral("100"), QStringLiteral("200")}));
    }
};

QTEST_MAIN(TestProgramRestore)
#include "test_program_restore.moc"
