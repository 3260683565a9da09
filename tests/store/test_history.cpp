// The history of card writes: one row per card written, in the same transaction, and a delete
// undone exactly.
#include "CardStore.h"
#include "History.h"
#include "TestRegistry.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace store;

namespace {

Card fullCard(const QString& code) {
    Card c;
    for (const CardField& f : cardFields())
        c[f.field] = f.name.toString() + u'-' + code;
    c[Codigo] = code;
    return c;
}

qint64 historyRows(CardStore& db) {
    QSqlQuery q(db.database());
    if (!q.exec(QStringLiteral("SELECT count(*) FROM \"Historial\"")) || !q.next())
        return -1;
    return q.value(0).toLongLong();
}

HistoryEntry newest(CardStore& db, const QString& code) {
    std::vector<HistoryEntry> entries;
    if (!History(db).forCode(code, 1, &entries) || entries.empty())
        return {};
    return entries.front();
}

std::array<std::optional<QString>, kFieldCount> whole(const Card& card) {
    std::array<std::optional<QString>, kFieldCount> values;
    for (int i = 0; i < kFieldCount; ++i)
        values[i] = card[Field(i)];
    return values;
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir_;
    std::unique_ptr<CardStore> db_;

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        Status s;
        db_ = CardStore::open(test_registry::registryAt(dir_->filePath(QStringLiteral("DAT.db"))),
                              &s);
        QVERIFY2(db_, qPrintable(s.message()));
    }

    void everyWriteLeavesOneRowAndAFailedWriteNone() {
        CardStore& db = *db_;
        const Card a = fullCard(QStringLiteral("A1"));
        qint64 rows = 0;
        // After each write: exactly the rows it should leave, the newest as expected.
        auto check = [&](qint64 added, const QString& code, const QString& what,
                         const std::array<std::optional<QString>, kFieldCount>& before,
                         const std::array<std::optional<QString>, kFieldCount>& after) {
            rows += added;
            QCOMPARE(historyRows(db), rows);
            const HistoryEntry e = newest(db, code);
            QCOMPARE(e.what, what);
            QCOMPARE(e.code, code);
            QVERIFY(e.before == before);
            QVERIFY(e.after == after);
            QVERIFY(e.when.isValid());
            QCOMPARE(e.computer.isEmpty(), false);
        };

        RowId id = kNoRow;
        QVERIFY(db.insertCard(a, &id));
        check(1, a[Codigo], QStringLiteral("alta"), {}, whole(a));

        // An edit keeps the fields it changed only; a field written with its own value is not
        // one of them, and a Null written over text is.
        auto cursor = db.openTable();
        QVERIFY(cursor->setBookmark(id));
        QVERIFY(cursor->edit());
        cursor->setField(NombreAnimal, QStringLiteral("Cachupín"));
        cursor->setField(Color, a[Color]);
        cursor->setField(Email, QString());
        QVERIFY(cursor->update());
        std::array<std::optional<QString>, kFieldCount> before{}, after{};
        before[NombreAnimal] = a[NombreAnimal];
        after[NombreAnimal] = QStringLiteral("Cachupín");
        before[Email] = a[Email];
        after[Email] = QString();
        check(1, a[Codigo], QStringLiteral("modificación"), before, after);
        QVERIFY(newest(db, a[Codigo]).after[Email]->isNull());

        // A web card over a stored one: the whole card before and after, the kept field kept.
        Card stored = a;
        stored[NombreAnimal] = QStringLiteral("Cachupín");
        stored[Email] = QString();
        Card web = fullCard(QStringLiteral("A1"));
        web[Propietario] = QStringLiteral("Nueva Dueña");
        const Field keep[] = {Color};
        QVERIFY(db.storeCardsByCode(std::vector<Card>{web, fullCard(QStringLiteral("B2"))}, keep,
                                    nullptr, WriteReason::Web));
        Card written = web;
        written[Color] = stored[Color];
        check(2, a[Codigo], QStringLiteral("web"), whole(stored), whole(written));
        QCOMPARE(newest(db, QStringLiteral("B2")).what, QStringLiteral("web"));

        QVERIFY(db.insertCards(std::vector<Card>{fullCard(QStringLiteral("C3"))},
                               WriteReason::Importacion));
        check(1, QStringLiteral("C3"), QStringLiteral("importación"), {},
              whole(fullCard(QStringLiteral("C3"))));

        QVERIFY(cursor->setBookmark(id));
        QVERIFY(cursor->remove());
        check(1, a[Codigo], QStringLiteral("baja"), whole(written), {});

        // Refused writes leave no row.
        QCOMPARE(db.insertCard(fullCard(QStringLiteral("B2")), nullptr).kind(),
                 ErrorKind::Duplicate);
        QCOMPARE(db.removeCard(id).kind(), ErrorKind::NotFound);
        QCOMPARE(historyRows(db), rows);

        // A history row that cannot be written fails the write it records: nothing half.
        QSqlQuery q(db.database());
        if (test_registry::onServer()) {
            QVERIFY(q.exec(QStringLiteral(
                "CREATE FUNCTION refuse() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE "
                "EXCEPTION 'no'; END $$")));
            QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON \"Historial\" "
                                          "FOR EACH ROW EXECUTE FUNCTION refuse()")));
        } else {
            QVERIFY(q.exec(QStringLiteral("CREATE TRIGGER refuse BEFORE INSERT ON Historial BEGIN "
                                          "SELECT RAISE(ABORT, 'no'); END")));
        }
        QVERIFY(!db.insertCard(fullCard(QStringLiteral("D4")), nullptr));
        QVERIFY(!db.insertCards(std::vector<Card>{fullCard(QStringLiteral("D4"))},
                                WriteReason::Importacion));
        RowId b2 = kNoRow;
        QVERIFY(db.findCode(QStringLiteral("B2"), &b2));
        QVERIFY(!db.removeCard(b2));
        QVERIFY(cursor->setBookmark(b2));
        QVERIFY(cursor->edit());
        cursor->setField(Lugar, QStringLiteral("otro"));
        QVERIFY(!cursor->update());
        cursor->cancelUpdate();
        RowId none = kNoRow;
        QVERIFY(db.findCode(QStringLiteral("D4"), &none));
        QCOMPARE(none, kNoRow);
        QCOMPARE(db.recordCount(), qint64(2));
        QVERIFY(q.exec(test_registry::onServer()
                           ? QStringLiteral("DROP TRIGGER refuse ON \"Historial\"")
                           : QStringLiteral("DROP TRIGGER refuse")));
        QCOMPARE(historyRows(db), rows);
    }

    void restorePutsTheCardBackExactly() {
        CardStore& db = *db_;
        Card a = fullCard(QStringLiteral("A1"));
        a[Color] = QString();          // Null
        a[Email] = QStringLiteral(""); // empty text, not Null
        a[Propietario] = QStringLiteral("José Muñoz");
        RowId first = kNoRow, second = kNoRow, last = kNoRow;
        QVERIFY(db.insertCard(a, &first));
        QVERIFY(db.insertCard(fullCard(QStringLiteral("B2")), &second));
        QVERIFY(db.insertCard(fullCard(QStringLiteral("C3")), &last));
        QVERIFY(db.removeCard(first));
        QVERIFY(db.removeCard(last));

        History history(db);
        std::vector<HistoryEntry> deleted;
        QVERIFY(history.deleted(QStringLiteral("muñoz"), 10, &deleted));
        QCOMPARE(deleted.size(), size_t(1));
        QVERIFY(history.deleted(QString(), 10, &deleted));
        QCOMPARE(deleted.size(), size_t(2));
        QCOMPARE(deleted[0].code, QStringLiteral("C3")); // newest first

        // Back at its former place, every value as it was, Null and empty text apart.
        RowId restored = kNoRow;
        QVERIFY(history.restore(deleted[1].id, &restored));
        QCOMPARE(restored, first);
        Card back;
        QVERIFY(db.readCard(restored, &back));
        QVERIFY(back == a);
        QVERIFY(back[Color].isNull() && !back[Email].isNull());
        QCOMPARE(newest(db, a[Codigo]).what, QStringLiteral("restauración"));

        // Its code is stored again: refused, nothing written.
        const qint64 rows = historyRows(db);
        const Status again = history.restore(deleted[1].id, &restored);
        QCOMPARE(again.kind(), ErrorKind::Duplicate);
        QVERIFY(again.message().contains(QStringLiteral("A1")));
        QCOMPARE(historyRows(db), rows);
        QCOMPARE(db.recordCount(), qint64(2));

        // On the file the last card's id is taken by a card added since, and the restored card
        // goes after the last one; a server never gives a deleted card's id again, so it goes
        // back to its place.
        RowId taker = kNoRow;
        QVERIFY(db.insertCard(fullCard(QStringLiteral("D4")), &taker));
        QVERIFY(history.restore(deleted[0].id, &restored));
        if (test_registry::onServer()) {
            QVERIFY(taker > last);
            QCOMPARE(restored, last);
        } else {
            QCOMPARE(taker, last);
            QVERIFY(restored > taker);
        }
        QVERIFY(db.readCard(restored, &back));
        QVERIFY(back == fullCard(QStringLiteral("C3")));

        // Purging before a moment after every write leaves nothing to restore.
        qint64 removed = 0;
        QVERIFY(history.purgeBefore(QDateTime::currentDateTimeUtc().addSecs(60), &removed));
        QCOMPARE(removed, rows + 2);
        QCOMPARE(historyRows(db), 0);
    }

    void aStoreOfTheFirstVersionGetsItsHistory() {
        SKIP_ON_SERVER("a file's schema version");
        const QString path = dir_->filePath(QStringLiteral("old.db"));
        {
            Status s;
            auto db = CardStore::open(path, &s);
            QVERIFY(db);
            QSqlQuery q(db->database());
            QVERIFY(q.exec(QStringLiteral("DROP TABLE Historial")));
            QVERIFY(q.exec(QStringLiteral("PRAGMA user_version = 1")));
        }
        Status s;
        auto db = CardStore::open(path, &s);
        QVERIFY2(db, qPrintable(s.message()));
        QVERIFY(db->insertCard(fullCard(QStringLiteral("A1")), nullptr));
        QCOMPARE(historyRows(*db), 1);
        QSqlQuery q(db->database());
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version")) && q.next());
        QCOMPARE(q.value(0).toInt(), 3);
    }
};

QTEST_GUILESS_MAIN(TestHistory)
#include "test_history.moc"
