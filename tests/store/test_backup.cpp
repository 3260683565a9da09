// The day's backup copy of the registry and its restoring.
#include "Backup.h"
#include "CardStore.h"
#include "History.h"
#include "ScriptedMessages.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using namespace store;

namespace {

Card makeCard(const QString& code) {
    Card c;
    for (const CardField& f : cardFields())
        c[f.field] = f.name.toString() + u'-' + code;
    c[Codigo] = code;
    return c;
}

QStringList storedCodes(const QString& path) {
    Status status;
    auto cards = CardStore::open(path, &status);
    if (!cards)
        return {status.message()};
    QStringList codes;
    (void)cards->forEachCard(Order::Stored, [&](RowId, const Card& card) {
        codes.append(card[Codigo]);
        return true;
    });
    return codes;
}

QStringList manyCodes() {
    QStringList codes;
    for (int i = 0; i < 2000; ++i)
        codes.append(QString::number(100000 + i));
    return codes;
}

// Overwrites pages near the end of a registry of manyCodes(), where its index lies: SQLite opens
// the file and copies it, but the check finds the damage.
void damageIndex(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.seek(f.size() - 8 * 4096));
    f.write(QByteArray(4 * 4096, '\x07'));
}

QByteArray fileHash(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

} // namespace

class TestBackup : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> root_;
    Folders folders_;

    QString dbPath() const { return folders_.appFile(kDatabaseFileName); }
    void writeRegistry(const QString& path, const QStringList& codes) {
        Status status;
        auto cards = CardStore::open(path, &status);
        QVERIFY2(cards, qPrintable(status.message()));
        std::vector<Card> list;
        for (const QString& code : codes)
            list.push_back(makeCard(code));
        const Status added = cards->insertCards(list, store::WriteReason::Importacion);
        QVERIFY2(added, qPrintable(added.message()));
    }
    // Runs the day's backup as start-up does and waits for its end; false when none was due.
    bool runDaily(const Clock& clock, ScriptedMessages& messages, bool* ok) {
        DailyBackup* backup = DailyBackup::startIfDue(folders_, clock, messages, this);
        if (!backup)
            return false;
        QSignalSpy finished(backup, &DailyBackup::finished);
        if (!finished.wait(20000))
            qWarning("the backup did not finish");
        *ok = !finished.isEmpty() && finished.first().first().toBool();
        delete backup;
        return true;
    }
    QStringList backupFiles() const {
        return QDir(backupFolder(folders_)).entryList(QDir::Files, QDir::Name);
    }
    QStringList appFiles() const { return QDir(folders_.appDir).entryList(QDir::Files); }

private slots:
    void init() {
        root_ = std::make_unique<QTemporaryDir>();
        folders_.appDir = root_->filePath(QStringLiteral("app"));
        folders_.dataDir = root_->filePath(QStringLiteral("datos"));
        folders_.exportDir = root_->path();
        QVERIFY(QDir().mkpath(folders_.appDir));
    }

    void dailyCopyOnceADayKeepingThirty() {
        writeRegistry(dbPath(), {QStringLiteral("100"), QStringLiteral("200")});
        QVERIFY(QDir().mkpath(backupFolder(folders_)));
        // Files that only look like copies are never deleted.
        const QStringList foreign{QStringLiteral("DAT 2026-01-01 antes de mudanza.db"),
                                  QStringLiteral("DAT 2026-13-45.db"), QStringLiteral("notas.txt")};
        for (const QString& name : foreign)
            writeFile(QDir(backupFolder(folders_)).filePath(name), "x");

        FixedClock clock(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
        ScriptedMessages messages;
        bool ok = false;
        QVERIFY(runDaily(clock, messages, &ok));
        QVERIFY(ok);
        const QString first = dailyBackupPath(folders_, QDate(2026, 12, 8));
        QCOMPARE(QFileInfo(first).fileName(), QStringLiteral("DAT 2026-12-08.db"));
        QCOMPARE(storedCodes(first), (QStringList{QStringLiteral("100"), QStringLiteral("200")}));

        // Later the same day: no second copy, even after the registry changed.
        writeRegistry(dbPath(), {QStringLiteral("300")});
        clock.set(QDateTime(QDate(2026, 12, 8), QTime(18, 0)));
        QVERIFY(!runDaily(clock, messages, &ok));
        QCOMPARE(storedCodes(first).size(), 2);

        // Forty more days: the thirty newest copies stay, the oldest go.
        for (int day = 1; day <= 40; ++day) {
            clock.set(QDateTime(QDate(2026, 12, 8).addDays(day), QTime(9, 0)));
            QVERIFY(runDaily(clock, messages, &ok));
            QVERIFY(ok);
        }
        QStringList expected = foreign;
        for (int day = 11; day <= 40; ++day)
            expected.append(
                QFileInfo(dailyBackupPath(folders_, QDate(2026, 12, 8).addDays(day))).fileName());
        expected.sort();
        QCOMPARE(backupFiles(), expected);
        QCOMPARE(storedCodes(dailyBackupPath(folders_, QDate(2027, 1, 17))).size(), 3);
        QCOMPARE(messages.boxes.size(), size_t(0)); // nobody is told of a copy that worked
    }

    // Two programs started the same day (two windows of the same data folder) make the day's
    // copy once, whole, and neither says it failed: they wrote one temporary file, and each
    // deleted or renamed the other's half-written copy.
    void twoProgramsStartedTheSameDayMakeOneCopy() {
        const QStringList codes = manyCodes();
        writeRegistry(dbPath(), codes);
        FixedClock clock(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
        ScriptedMessages messages;
        std::unique_ptr<DailyBackup> first(
            DailyBackup::startIfDue(folders_, clock, messages, nullptr));
        std::unique_ptr<DailyBackup> second(
            DailyBackup::startIfDue(folders_, clock, messages, nullptr));
        QVERIFY(first && second);
        QSignalSpy firstDone(first.get(), &DailyBackup::finished);
        QSignalSpy secondDone(second.get(), &DailyBackup::finished);
        QTRY_VERIFY_WITH_TIMEOUT(!firstDone.isEmpty() && !secondDone.isEmpty(), 30000);
        QVERIFY(firstDone.first().first().toBool());
        QVERIFY(secondDone.first().first().toBool());
        QCOMPARE(messages.texts(), QStringList());
        const QString copy = dailyBackupPath(folders_, QDate(2026, 12, 8));
        QCOMPARE(backupFiles(), QStringList{QFileInfo(copy).fileName()});
        QCOMPARE(storedCodes(copy).size(), codes.size());
        QVERIFY(checkDatabaseFile(copy));
    }

    void copyWhileTheRegistryIsWritten() {
        // A copy made in steps while cards are added between the steps holds a consistent
        // registry: SQLite starts the copy over after a write by another connection.
        QStringList codes;
        for (int i = 0; i < 3000; ++i)
            codes.append(QStringLiteral("9%1").arg(i, 8, 10, QLatin1Char('0')));
        writeRegistry(dbPath(), codes);
        Status status;
        auto cards = CardStore::open(dbPath(), &status);
        QVERIFY(cards);
        BackupCopy copy(dbPath(), root_->filePath(QStringLiteral("copia.db")));
        int added = 0;
        BackupCopy::Step step;
        while ((step = copy.step(4)) == BackupCopy::Step::More) {
            if (added < 3) {
                RowId id = kNoRow;
                QVERIFY(cards->insertCard(makeCard(QStringLiteral("nuevo%1").arg(added++)), &id));
            }
        }
        QCOMPARE(step, BackupCopy::Step::Copied);
        QVERIFY(checkDatabaseFile(copy.temporaryPath()));
        QVERIFY(copy.commit());
        QCOMPARE(storedCodes(root_->filePath(QStringLiteral("copia.db"))).size(), 3003);
    }

    void failedCopyTellsOnceAndLeavesNothing_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder cannot be made")
            << QStringLiteral("folder") << QStringLiteral("no se pudo crear la carpeta");
        QTest::newRow("registry unreadable")
            << QStringLiteral("garbage") << QStringLiteral("no es un registro válido");
        QTest::newRow("registry damaged, copy refused by the check")
            << QStringLiteral("damaged") << QStringLiteral("revis");
    }
    void failedCopyTellsOnceAndLeavesNothing() {
        QFETCH(QString, how);
        QFETCH(QString, reason);
        if (how == u"folder") {
            writeRegistry(dbPath(), {QStringLiteral("100")});
            QVERIFY(QDir().mkpath(folders_.dataDir));
            writeFile(backupFolder(folders_), "a file where the folder goes");
        } else if (how == u"garbage") {
            writeFile(dbPath(), QByteArray("SQLite format 3").append('\0').append(4000, 'x'));
        } else {
            writeRegistry(dbPath(), manyCodes());
            damageIndex(dbPath());
        }
        FixedClock clock(QDateTime(QDate(2026, 12, 8), QTime(9, 0)));
        ScriptedMessages messages;
        bool ok = true;
        QVERIFY(runDaily(clock, messages, &ok));
        QVERIFY(!ok);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(messages.boxes[0].icon, MessageLayer::Icon::Warning);
        QVERIFY2(messages.boxes[0].text.contains(reason), qPrintable(messages.boxes[0].text));
        QVERIFY(messages.boxes[0].text.contains(QStringLiteral("sigue funcionando")));
        if (how != u"folder")
            QCOMPARE(backupFiles(), QStringList()); // no copy, and no half-written file
        // The next start tries again.
        messages.clear();
        QVERIFY(runDaily(clock, messages, &ok));
    }

    void restoreReplacesTheRegistryAndKeepsTheOldOne() {
        writeRegistry(dbPath(), {QStringLiteral("100"), QStringLiteral("200")});
        const QString backup = root_->filePath(QStringLiteral("DAT 2026-12-01.db"));
        writeRegistry(backup, {QStringLiteral("100")});
        const QByteArray before = fileHash(dbPath());

        QString text;
        QTextStream out(&text);
        const QDateTime now(QDate(2026, 12, 8), QTime(10, 15, 30));
        QCOMPARE(runRestoreCommand(folders_, backup, out, now), 0);
        const QString kept = folders_.appFile(QStringLiteral("DAT antes de restaurar "
                                                             "2026-12-08 10.15.30.db"));
        QCOMPARE(text, QStringLiteral("Se restauró el registro «%1» desde la copia «%2»: 1 "
                                      "tarjetas.\nEl registro anterior quedó guardado como «%3».\n")
                           .arg(QDir::toNativeSeparators(dbPath()),
                                QDir::toNativeSeparators(backup), QDir::toNativeSeparators(kept)));
        QCOMPARE(storedCodes(dbPath()), QStringList{QStringLiteral("100")});
        QCOMPARE(fileHash(kept), before);
        QCOMPARE(appFiles(), (QStringList{QFileInfo(kept).fileName(), kDatabaseFileName}));
    }

    void restoreRefusesAnUnsoundFile_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QStringLiteral("no.db") << QStringLiteral("no existe");
        QTest::newRow("not SQLite")
            << QStringLiteral("texto.db") << QStringLiteral("no es un archivo SQLite");
        QTest::newRow("no Clientes")
            << QStringLiteral("otra.db") << QStringLiteral("no tiene la tabla Clientes");
        QTest::newRow("damaged") << QStringLiteral("dañada.db") << QStringLiteral("está dañado");
        QTest::newRow("the registry itself")
            << QStringLiteral("app/DAT.db") << QStringLiteral("mismo registro");
        QTest::newRow("truncated") << QStringLiteral("cortada.db") << QStringLiteral("está dañado");
    }
    void restoreRefusesAnUnsoundFile() {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        writeRegistry(dbPath(), manyCodes());
        const QString path = root_->filePath(file);
        if (file == u"texto.db") {
            writeFile(path, "Codigo;Nombre\n100;Firulais\n");
        } else if (file == u"otra.db") {
            Status status;
            auto other = CardStore::open(path, &status);
            QVERIFY(other);
            QSqlQuery q(other->database());
            QVERIFY(q.exec(QStringLiteral("DROP TABLE Clientes")));
        } else if (file == u"dañada.db") {
            QVERIFY(QFile::copy(dbPath(), path));
            damageIndex(path);
        } else if (file == u"cortada.db") {
            QVERIFY(QFile::copy(dbPath(), path));
            QFile cut(path);
            QVERIFY(cut.resize(cut.size() / 2));
        }
        const QByteArray before = fileHash(dbPath());
        const QStringList filesBefore = appFiles();
        QString text;
        QTextStream out(&text);
        QCOMPARE(runRestoreCommand(folders_, path, out), 1);
        QVERIFY2(text.contains(reason), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("no cambió")));
        // An engine detail that says nothing is left out.
        QVERIFY2(!text.contains(QStringLiteral("not an error")), qPrintable(text));
        QCOMPARE(fileHash(dbPath()), before);
        QCOMPARE(appFiles(), filesBefore);
    }
};

QTEST_MAIN(TestBackup)
#include "test_backup.moc"
