// The built program run as a process, without a display: the copy made before --import-mdb and
// --restaurar putting it back.
#include "Backup.h"
#include "BuiltProgram.h"
#include "CardStore.h"
#include "History.h"
#include "Ini.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace store;
using namespace Qt::StringLiterals;

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

    // A portable folder started for the first time, with the umask of a common desktop (022):
    // whatever holds owners' data is its user's alone, and every command runs without a display,
    // keeping Qt's English out of the terminal.
    void privateFilesAndNoDisplay() {
#ifdef Q_OS_WIN
        QSKIP("file modes, the umask and X displays are Unix matters");
#endif
        QTemporaryDir root;
        const QString app = root.filePath(QStringLiteral("app"));
        const QString data = root.filePath(QStringLiteral("datos"));
        QVERIFY(QDir().mkpath(app));
        const QString program = QDir(app).filePath(QStringLiteral("tarjetas"));
        QVERIFY(QFile::copy(QStringLiteral(TARJETAS_EXECUTABLE), program));
        QVERIFY(QFile::setPermissions(program, QFile::permissions(program) | QFile::ExeOwner));
        QVERIFY(QFile::copy(QStringLiteral(TARJETAS_SOURCE_DIR "/resources/") + kIniFileName,
                            QDir(app).filePath(kIniFileName)));
        const QString db = QDir(app).filePath(kDatabaseFileName);

        struct Result {
            int code;
            QString text;
        };
        const auto start = [&](const QStringList& args, const QStringList& set = {}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char* name :
                 {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_RUNTIME_DIR"})
                env.remove(QLatin1StringView(name));
            for (const QString& pair : set)
                env.insert(pair.section(u'=', 0, 0), pair.section(u'=', 1));
            p.setProcessEnvironment(env);
            p.start(program, QStringList{QStringLiteral("--data-dir"), data} + args);
            if (!p.waitForFinished(60000))
                p.kill();
            return Result{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
                          QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
        };
        const auto mode = [](const QString& path) {
            return int(QFile::permissions(path) &
                       (QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup |
                        QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther |
                        QFile::ExeOther));
        };
        const int privateFile = QFile::ReadOwner | QFile::WriteOwner;
        const int privateFolder = privateFile | QFile::ExeOwner;
        const auto noQtEnglish = [](const Result& r) {
            for (const char* english : {"qt.", "QStandardPaths", "QPainter", "Qt platform"})
                if (r.text.contains(QLatin1StringView(english)))
                    return false;
            return true;
        };

        // The window, offscreen, up to its first paint: the registry and the data folder.
        Result r = start({}, {QStringLiteral("QT_QPA_PLATFORM=offscreen"),
                              QStringLiteral("TARJETAS_START_PROBE=1")});
        QVERIFY2(r.code == 0 && r.text.contains(QStringLiteral("pintada")), qPrintable(r.text));
        QCOMPARE(mode(db), privateFile);
        QCOMPARE(mode(data), privateFolder);
        QVERIFY(noQtEnglish(r));
        // SQLite's journal takes the registry's mode.
        {
            QSqlDatabase sql =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("journal"));
            sql.setDatabaseName(db);
            QVERIFY(sql.open());
            QSqlQuery q(sql);
            QVERIFY(q.exec(QStringLiteral("BEGIN IMMEDIATE")));
            QVERIFY(q.exec(QStringLiteral("CREATE TABLE aparte(x)")));
            QCOMPARE(mode(db + QStringLiteral("-journal")), privateFile);
            QVERIFY(q.exec(QStringLiteral("ROLLBACK")));
            q = QSqlQuery();
            sql.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("journal"));

        // The backup an import makes first, and the copy a restore keeps; a registry shared
        // through a group on purpose keeps its mode when restored.
        r = start({QStringLiteral("--import-mdb"), root.filePath(QStringLiteral("no.mdb"))});
        QCOMPARE(r.code, 1);
        QVERIFY(noQtEnglish(r));
        const QString backup =
            QDir(data).filePath(QStringLiteral("respaldos/DAT %1.db")
                                    .arg(QDate::currentDate().toString(u"yyyy-MM-dd")));
        QCOMPARE(mode(QFileInfo(backup).absolutePath()), privateFolder);
        QCOMPARE(mode(backup), privateFile);
        const int shared = privateFile | QFile::ReadGroup | QFile::WriteGroup;
        QVERIFY(QFile::setPermissions(db, QFile::Permissions(shared)));
        r = start({QStringLiteral("--restaurar"), backup});
        QVERIFY2(r.code == 0, qPrintable(r.text));
        QCOMPARE(mode(db), shared);
        const QStringList kept =
            QDir(app).entryList({QStringLiteral("DAT antes de restaurar *.db")}, QDir::Files);
        QCOMPARE(kept.size(), 1);
        QCOMPARE(mode(QDir(app).filePath(kept.first())), privateFile);

        // Without any display: every command runs, the window says why it cannot open.
        // A display named but unreachable, as over SSH: the copy never tries to open it.
        r = start({QStringLiteral("--copiar-a-servidor"),
                   QStringLiteral("postgresql:///nada?host=") + root.filePath(u"sin-servidor"_s)},
                  {QStringLiteral("DISPLAY=:7777")});
        QVERIFY2(r.code == 1 && noQtEnglish(r) &&
                     !r.text.contains(QStringLiteral("No se puede abrir la ventana")),
                 qPrintable(r.text));
        r = start({});
        QVERIFY2(r.code == 1 && r.text.startsWith(QStringLiteral("No se puede abrir la ventana")),
                 qPrintable(r.text));
        r = start({}, {QStringLiteral("DISPLAY=:7777")}); // named, but nobody answers
        QVERIFY2(r.code == 1 && r.text.startsWith(QStringLiteral("No se puede abrir la ventana")),
                 qPrintable(r.text));
        // Qt's English for support, only when asked for.
        r = start({QStringLiteral("--depurar")}, {QStringLiteral("DISPLAY=:7777")});
        QVERIFY2(r.code == 1 && !noQtEnglish(r), qPrintable(r.text));

        // Every value checked before anything runs: no registry, no window, exit code 2 and why.
        const struct {
            QStringList args;
            const char* says;
        } refused[] = {
            {{u"--certificado"_s, QString(), u"--salida"_s, root.filePath(u"c.pdf"_s)},
             "--certificado necesita un valor"},
            {{u"--certificado"_s, u"1"_s, u"--salida"_s, QString()}, "--salida necesita un valor"},
            {{u"--certificado"_s, u"1"_s, u"--salida"_s, root.filePath(u"no/c.pdf"_s)},
             "no existe la carpeta"},
            {{u"--certificado"_s, u"1"_s, u"--salida"_s, root.path()}, "es una carpeta"},
            {{u"--base-datos"_s, QString()}, "--base-datos necesita un valor"},
        };
        QVERIFY(QFile::remove(db));
        for (const auto& c : refused) {
            r = start(c.args);
            QVERIFY2(r.code == 2 && r.text.contains(QString::fromUtf8(c.says)), qPrintable(r.text));
            QVERIFY(!QFileInfo::exists(db));
        }
    }
};

QTEST_MAIN(TestProgramRestore)
#include "test_program_restore.moc"
