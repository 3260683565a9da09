// Merging another registry: each class of card, each conflict choice, the store and its history
// afterwards, the same file merged twice, and the refusals that must leave the registry as it was.
#include "Backup.h"
#include "CardStore.h"
#include "Clock.h"
#include "Folders.h"
#include "History.h"
#include "Merge.h"
#include "SearchIndex.h"
#include "TestRegistry.h"

#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using namespace store;
using namespace Qt::StringLiterals;
using merge::CardClass;
using merge::Choice;

namespace {

Card card(const QString& code, const QString& owner = QStringLiteral("Ana")) {
    Card c;
    for (const CardField& f : cardFields())
        c[f.field] = f.name.toString() + u'-' + code;
    c[Codigo] = code;
    c[Propietario] = owner;
    c[FechaAtencion] = QStringLiteral("05/03/2020");
    return c;
}

qint64 historyRows(CardStore& db) {
    QSqlQuery q(db.database());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM \"Historial\"")) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

std::vector<Card> storedCards(CardStore& db) {
    std::vector<Card> cards;
    const Status s = db.forEachCard(Order::Stored, [&](RowId, const Card& c) {
        cards.push_back(c);
        return true;
    });
    if (!s)
        qWarning("%s", qPrintable(s.message()));
    return cards;
}

} // namespace

class TestMerge : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<CardStore> here_;
    QString otherPath_;

    // This registry: A, B, C, D. The other (a laptop's file): A as here, B with another owner and
    // an empty phone, C deleted there after both had it, F and E added there in that order.
    void makeRegistries() {
        dir_ = std::make_unique<QTemporaryDir>();
        Status s;
        here_ = CardStore::open(test_registry::registryAt(dir_->filePath(QStringLiteral("DAT.db"))),
                                &s);
        QVERIFY2(here_, qPrintable(s.message()));
        for (const char* code : {"A", "B", "C", "D"}) {
            RowId id;
            QVERIFY(here_->insertCard(card(QString::fromLatin1(code)), &id));
        }
        otherPath_ = dir_->filePath(QStringLiteral("+notebook.db"));
        auto other = CardStore::open(otherPath_, &s);
        QVERIFY2(other, qPrintable(s.message()));
        Card b = card(QStringLiteral("B"), QStringLiteral("Luis"));
        b[Telefono1] = QStringLiteral("");
        for (const Card& c : {card(QStringLiteral("A")), b, card(QStringLiteral("C")),
                              card(QStringLiteral("F")), card(QStringLiteral("E"))}) {
            RowId id;
            QVERIFY(other->insertCard(c, &id));
        }
        RowId c = kNoRow;
        QVERIFY(other->findCode(QStringLiteral("C"), &c));
        QVERIFY(other->removeCard(c));
    }

    merge::MergePlan plan() {
        merge::MergePlan p;
        const Status s = merge::planMerge(*here_, otherPath_, &p);
        if (!s)
            qWarning("%s", qPrintable(s.message()));
        return p;
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    // Each class found by code, each choice written with its history row, and a second merge of
    // the same file finding nothing more to do.
    void classesChoicesAndASecondMerge() {
        makeRegistries();
        merge::MergePlan p = plan();
        QCOMPARE(p.otherCards, 4);
        QCOMPARE(p.count(CardClass::Nueva), 2);
        QCOMPARE(p.count(CardClass::Igual), 1);
        QCOMPARE(p.count(CardClass::Distinta), 1);
        QCOMPARE(p.count(CardClass::EliminadaAlli), 1);
        QCOMPARE(p.added[0][Codigo], QStringLiteral("F")); // the other's stored order
        QCOMPARE(p.conflicts[0].code(), QStringLiteral("B"));
        QCOMPARE(p.conflicts[0].changed, (std::vector<Field>{Propietario, Telefono1}));
        QVERIFY(p.conflicts[0].otherNewer); // the laptop's history row is the later one
        QCOMPARE(p.conflicts[1].code(), QStringLiteral("C"));
        QCOMPARE(p.conflicts[1].other[Propietario], QStringLiteral("Ana"));

        // B takes the other's non-empty fields (its owner, not its empty phone); C is deleted.
        p.conflicts[0].choice = Choice::TakeOtherFilled;
        p.conflicts[1].choice = Choice::TakeOther;
        const qint64 rowsBefore = historyRows(*here_);
        std::vector<merge::MergeOutcome> outcomes;
        Status s = merge::applyMerge(*here_, p, &outcomes);
        QVERIFY2(s, qPrintable(s.message()));
        Card b = card(QStringLiteral("B"), QStringLiteral("Luis"));
        const std::vector<Card> expected = {card(QStringLiteral("A")), b, card(QStringLiteral("D")),
                                            card(QStringLiteral("F")), card(QStringLiteral("E"))};
        QCOMPARE(storedCards(*here_), expected);
        QCOMPARE(historyRows(*here_), rowsBefore + 4);
        for (const char* code : {"B", "C", "E", "F"}) {
            std::vector<HistoryEntry> rows;
            QVERIFY(History(*here_).forCode(QString::fromLatin1(code), 1, &rows));
            QCOMPARE(rows.size(), size_t(1));
            QCOMPARE(rows[0].what, QStringLiteral("combinación"));
            QCOMPARE(rows[0].source, QStringLiteral("+notebook.db"));
        }
        std::vector<HistoryEntry> rows;
        QVERIFY(History(*here_).forCode(QStringLiteral("C"), 1, &rows));
        QVERIFY(!rows[0].after[Codigo]); // a delete: the card before, nothing after
        // The free search finds the merged cards by their new values, and no longer by the old.
        const auto found = [&](const QString& typed) {
            std::vector<RowId> ids;
            const Status f = SearchIndex::find(*here_, typed, &ids);
            std::vector<QString> codes;
            for (RowId id : ids) {
                Card c;
                if (f && here_->readCard(id, &c))
                    codes.push_back(c[Codigo]);
            }
            std::sort(codes.begin(), codes.end());
            return codes;
        };
        QCOMPARE(found(QStringLiteral("luis")), std::vector<QString>{QStringLiteral("B")});
        QCOMPARE(found(QStringLiteral("ana")),
                 (std::vector<QString>{u"A"_s, u"D"_s, u"E"_s, u"F"_s}));
        QCOMPARE(found(QStringLiteral("nombre_animal-f")),
                 std::vector<QString>{QStringLiteral("F")});

        // Again, with the same choices: B is still distinct (the other's phone is empty), and
        // its non-empty fields are here already; C is gone here too. Nothing is written.
        p = plan();
        QCOMPARE(p.count(CardClass::Nueva), 0);
        QCOMPARE(p.count(CardClass::EliminadaAlli), 0);
        QCOMPARE(p.count(CardClass::Distinta), 1);
        p.conflicts[0].choice = Choice::TakeOtherFilled;
        QVERIFY(!merge::resolvedCard(p.conflicts[0]));
        s = merge::applyMerge(*here_, p, &outcomes);
        QVERIFY2(s, qPrintable(s.message()));
        QCOMPARE(storedCards(*here_), expected);
        QCOMPARE(historyRows(*here_), rowsBefore + 4);

        // Taking the other's whole card writes its empty phone too; then B is equal.
        p.conflicts[0].choice = Choice::TakeOther;
        QVERIFY(merge::applyMerge(*here_, p, &outcomes));
        QCOMPARE(plan().count(CardClass::Igual), 4); // A, B, E, F

        // A code the other deleted before this registry added it again is no question.
        RowId id;
        QVERIFY(here_->insertCard(card(QStringLiteral("C")), &id));
        QCOMPARE(plan().count(CardClass::EliminadaAlli), 0);
    }

    // A card changed here after the merge was decided: nothing at all is written. Cancelling
    // half-way, or a disk filling up half-way, writes nothing either.
    void allOrNothing() {
        makeRegistries();
        merge::MergePlan p = plan();
        for (merge::Conflict& c : p.conflicts)
            c.choice = Choice::TakeOther;
        const std::vector<Card> before = storedCards(*here_);
        const qint64 rows = historyRows(*here_);
        std::vector<merge::MergeOutcome> outcomes;

        Status s =
            merge::applyMerge(*here_, p, &outcomes, [](qint64 done, qint64) { return done == 0; });
        QVERIFY(!s);
        QCOMPARE(storedCards(*here_), before);

        RowId d = kNoRow;
        QVERIFY(here_->findCode(QStringLiteral("C"), &d));
        QVERIFY(here_->storeCardsByCode(
            std::vector<Card>{card(QStringLiteral("C"), QStringLiteral("Eva"))}, {}, nullptr,
            WriteReason::Modificacion));
        const std::vector<Card> changed = storedCards(*here_);
        s = merge::applyMerge(*here_, p, &outcomes);
        QCOMPARE(s.kind(), ErrorKind::Busy);
        QVERIFY(s.message().contains(QStringLiteral("tarjeta C")));
        QCOMPARE(storedCards(*here_), changed);
        QCOMPARE(historyRows(*here_), rows + 1);

        if (!test_registry::onServer()) {
            // The file may grow by no page: the first new card fails, and everything with it.
            QSqlQuery q(here_->database());
            QVERIFY(q.exec(QStringLiteral("PRAGMA page_count")) && q.next());
            const qint64 pages = q.value(0).toLongLong();
            q.finish();
            QVERIFY(q.exec(QStringLiteral("PRAGMA max_page_count = %1").arg(pages)));
            q.finish();
            p = plan();
            for (int i = 0; i < 300; ++i)
                p.added.push_back(card(QStringLiteral("N%1").arg(i), QString(2000, u'x')));
            s = merge::applyMerge(*here_, p, &outcomes);
            QCOMPARE(s.kind(), ErrorKind::DiskFull);
            QCOMPARE(storedCards(*here_), changed);
            QCOMPARE(historyRows(*here_), rows + 1);
        }
    }

    // More cards than the store writes at once: every card lands as decided, the new ones in
    // the other's order, and each history row names the id its card was stored under.
    void moreCardsThanOneBatch() {
        makeRegistries();
        std::vector<Card> mine, theirs;
        for (int i = 0; i < 450; ++i) {
            const QString code = QStringLiteral("H%1").arg(i, 3, 10, QLatin1Char('0'));
            mine.push_back(card(code));
            theirs.push_back(card(code, i % 3 ? QStringLiteral("Ana") : QStringLiteral("Eva")));
            theirs.push_back(card(QStringLiteral("N%1").arg(i)));
        }
        QVERIFY(here_->insertCards(mine, WriteReason::Alta));
        {
            Status s;
            auto other = CardStore::open(otherPath_, &s);
            QVERIFY2(other && other->insertCards(theirs, WriteReason::Alta),
                     qPrintable(s.message()));
        }
        merge::MergePlan p = plan();
        QCOMPARE(p.count(CardClass::Nueva), 452);
        QCOMPARE(p.count(CardClass::Distinta), 151);
        for (merge::Conflict& c : p.conflicts)
            c.choice = Choice::TakeOther;
        std::vector<merge::MergeOutcome> outcomes;
        const Status s = merge::applyMerge(*here_, p, &outcomes);
        QVERIFY2(s, qPrintable(s.message()));

        std::vector<Card> expected = {card(QStringLiteral("A")),
                                      card(QStringLiteral("B"), QStringLiteral("Luis")),
                                      card(QStringLiteral("D"))};
        expected[1][Telefono1] = QStringLiteral("");
        for (size_t i = 0; i < theirs.size(); i += 2)
            expected.push_back(theirs[i]);
        expected.push_back(card(QStringLiteral("F")));
        expected.push_back(card(QStringLiteral("E")));
        for (size_t i = 1; i < theirs.size(); i += 2)
            expected.push_back(theirs[i]);
        QCOMPARE(storedCards(*here_), expected);
        std::vector<RowId> ids;
        QVERIFY(here_->rowIds(Order::Stored, &ids));
        for (size_t i = 0; i < ids.size(); ++i) {
            const QString code = expected[i][Codigo];
            std::vector<HistoryEntry> rows;
            QVERIFY(History(*here_).forCode(code, 1, &rows));
            const bool written = code.startsWith(u'N') || code == u"B" || code == u"E" ||
                                 code == u"F" || expected[i][Propietario] == u"Eva";
            QCOMPARE(rows.front().what,
                     written ? QStringLiteral("combinación") : QStringLiteral("alta"));
            QCOMPARE(rows.front().cardId, ids[i]);
        }
        QCOMPARE(plan().count(CardClass::Igual), 4 + 2 * 450); // A, B, E, F and the others
    }

    // Files that are not to be merged, each refused in Spanish before anything is read into the
    // registry.
    void refusals() {
        SKIP_ON_SERVER("the open registry itself and a file held by a writer are files");
        makeRegistries();
        merge::MergePlan p;
        const QString text = dir_->filePath(QStringLiteral("notas.db"));
        QFile f(text);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4096, 'x'));
        f.close();
        Status s = merge::planMerge(*here_, text, &p);
        QCOMPARE(s.kind(), ErrorKind::NotADatabase);
        QVERIFY(s.message().contains(QStringLiteral("no es un registro de tarjetas")));

        const QString empty = dir_->filePath(QStringLiteral("vacio.db"));
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("vacio"));
            db.setDatabaseName(empty);
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("CREATE TABLE Clientes (Codigo TEXT)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("vacio"));
        s = merge::planMerge(*here_, empty, &p);
        QCOMPARE(s.kind(), ErrorKind::NotADatabase);
        QVERIFY(s.message().contains(QStringLiteral("fecha_atencion")));

        s = merge::planMerge(*here_, dir_->filePath(QStringLiteral("./DAT.db")), &p);
        QVERIFY(!s);
        QVERIFY(s.message().contains(QStringLiteral("es el registro abierto")));

        // Another program in the middle of a write to the other file.
        {
            QSqlDatabase db =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
            db.setDatabaseName(otherPath_);
            QVERIFY(db.open());
            QSqlQuery w(db);
            QVERIFY(w.exec(QStringLiteral("BEGIN IMMEDIATE")));
            s = merge::planMerge(*here_, otherPath_, &p);
            QCOMPARE(s.kind(), ErrorKind::Busy);
            QVERIFY(s.message().contains(QStringLiteral("está siendo escrito por otro programa")));
            w.exec(QStringLiteral("ROLLBACK"));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("writer"));
        QVERIFY(merge::planMerge(*here_, otherPath_, &p));
    }

    // The window's backup copy before a merge, made a step at a time: whole and sound when let
    // run, and nothing at all left in the folder when cancelled.
    void backupWithProgress() {
        SKIP_ON_SERVER("a server has no backup copy");
        makeRegistries();
        Folders folders;
        folders.appDir = dir_->path();
        folders.dataDir = dir_->filePath(QStringLiteral("datos"));
        const QDate day(2026, 12, 9);
        const QString copy = dailyBackupPath(folders, day);
        qint64 calls = 0;
        Status s = merge::backupBeforeMerge(folders, here_->registry(), day,
                                            [&](qint64, qint64) { return ++calls < 1; });
        QVERIFY(!s);
        QVERIFY(calls > 0);
        QCOMPARE(QDir(QFileInfo(copy).absolutePath()).entryList(QDir::Files), QStringList());

        s = merge::backupBeforeMerge(folders, here_->registry(), day,
                                     [](qint64 done, qint64 total) { return done <= total; });
        QVERIFY2(s, qPrintable(s.message()));
        QVERIFY(checkDatabaseFile(copy));
        Status opened;
        auto copied = CardStore::open(copy, &opened);
        QVERIFY2(copied, qPrintable(opened.message()));
        QCOMPARE(storedCards(*copied), storedCards(*here_));
    }

    // The command line: conflicts kept and listed, the report formula-safe in Windows-1252;
    // then the other's cards taken; a deletion there is only listed.
    void command() {
        SKIP_ON_SERVER("the command's registry is chosen from the folders");
        makeRegistries();
        Folders folders;
        folders.appDir = dir_->path();
        folders.dataDir = dir_->filePath(QStringLiteral("datos"));
        folders.exportDir = dir_->filePath(QStringLiteral("exportes"));
        QDir().mkpath(folders.dataDir);
        QDir().mkpath(folders.exportDir);
        here_.reset(); // the command opens the registry itself
        const FixedClock clock(QDateTime(QDate(2026, 12, 9), QTime(18, 5)));
        QString said;
        QTextStream out(&said);
        QCOMPARE(merge::runMergeCommand(folders, otherPath_, false, clock, out), 0);
        QVERIFY2(said.contains(QStringLiteral("Nuevas, agregadas: 2")), qPrintable(said));
        QVERIFY(said.contains(QStringLiteral("  B: distinta (")));
        QVERIFY(
            said.contains(QStringLiteral("  C: eliminada allí - se mantuvo la de este registro")));
        QVERIFY(QFileInfo::exists(dailyBackupPath(folders, clock.today())));

        QFile report(folders.exportFile(QStringLiteral("Combinación 2026-12-09 18.05.csv")));
        QVERIFY(report.open(QIODevice::ReadOnly));
        const QByteArray bytes = report.readAll();
        QVERIFY(bytes.startsWith("C\xf3"
                                 "digo;Clase;Resultado;Campos distintos;Archivo combinado\r\n"));
        QVERIFY(bytes.contains("F;nueva;agregada;;'+notebook.db\r\n"));
        QVERIFY(bytes.contains("C;eliminada all\xed;"));

        said.clear();
        QCOMPARE(merge::runMergeCommand(folders, otherPath_, true, clock, out), 0);
        QVERIFY(said.contains(QStringLiteral("Nuevas, agregadas: 0")));
        QVERIFY(said.contains(QStringLiteral("  B: distinta (propietario, telefono1)")));
        QVERIFY(QFileInfo::exists(
            folders.exportFile(QStringLiteral("Combinación 2026-12-09 18.05 (2).csv"))));
        Status s;
        here_ = CardStore::open(dir_->filePath(QStringLiteral("DAT.db")), &s);
        QVERIFY(here_);
        RowId id = kNoRow;
        QVERIFY(here_->findCode(QStringLiteral("C"), &id));
        QVERIFY(id != kNoRow);
        Card b;
        QVERIFY(here_->findCode(QStringLiteral("B"), &id) && here_->readCard(id, &b));
        QCOMPARE(b[Propietario], QStringLiteral("Luis"));

        // A wrong choice stops the program before anything is opened.
        const CommandLine wrong =
            parseCommandLine({QStringLiteral("tarjetas"), QStringLiteral("--combinar"), otherPath_,
                              QStringLiteral("--conflictos"), QStringLiteral("ambos")});
        QVERIFY(wrong.exitNow);
        QCOMPARE(wrong.exitCode, 2);
        const CommandLine right =
            parseCommandLine({QStringLiteral("tarjetas"), QStringLiteral("--combinar"), otherPath_,
                              QStringLiteral("--conflictos"), QStringLiteral("Otro")});
        QVERIFY(!right.exitNow);
        QVERIFY(right.mergeTakeOther);

        said.clear();
        QCOMPARE(merge::runMergeCommand(folders, dir_->filePath(QStringLiteral("no.db")), false,
                                        clock, out),
                 1);
        QVERIFY(said.startsWith(QStringLiteral("No existe el archivo")));
    }
};

QTEST_GUILESS_MAIN(TestMerge)
#include "test_merge.moc"
