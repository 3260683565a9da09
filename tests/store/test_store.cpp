#include "CardStore.h"
#include "ChangeLog.h"
#include "ChangeWatch.h"
#include "ChunkReader.h"
#include "CopyToServer.h"
#include "History.h"
#include "SearchIndex.h"
#include "StoreThread.h"
#include "TestRegistry.h"

#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace store;
using namespace Qt::Literals::StringLiterals;

namespace {

Card makeCard(const QString& code, const QString& name) {
    Card c;
    for (const CardField& f : cardFields())
        c[f.field] = QStringLiteral("");
    c[Codigo] = code;
    c[NombreAnimal] = name;
    return c;
}

QStringList walkCodes(TableCursor& cursor) {
    QStringList codes;
    for (Status s = cursor.moveFirst(); s && !cursor.eof(); s = cursor.moveNext())
        codes.append(cursor.field(Codigo));
    return codes;
}

} // namespace

class TestStore : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void init() {
        dir_ = std::make_unique<QTemporaryDir>();
        path_ = dir_->filePath(QStringLiteral("DAT.db"));
        registry_ = test_registry::registryAt(path_);
    }

    // A walk longer than a command's budget that kept moving: what the same command asks next
    // has a budget of its own and is not cut off at once (the window, listing the cards again
    // after a merge of seconds into a large registry, showed it empty).
    void workAfterALongWalkHasItsOwnBudget() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        QVERIFY2(db, qPrintable(s.message()));
        for (const char* code : {"1", "2", "3"})
            QVERIFY(db->insertCard(makeCard(QString::fromLatin1(code), u"a"_s), nullptr));
        db->workOnOwnThread();
        int visited = 0;
        s = db->forEachCard(Order::Stored, [&](RowId, const Card&) {
            QThread::msleep(StoreThread::kCommandBudgetMs / 2);
            return ++visited > 0;
        });
        QVERIFY2(s, qPrintable(s.message()));
        QCOMPARE(visited, 3);
        qint64 counted = 0;
        s = db->call([&] {
            QSqlQuery q(db->database());
            if (!q.exec(u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < "
                        u"300000) SELECT count(*) FROM n"_s) ||
                !q.next())
                return Status::failure(ErrorKind::Other, q.lastError().text());
            counted = q.value(0).toLongLong();
            return Status();
        });
        QVERIFY2(s, qPrintable(s.message()));
        QCOMPARE(counted, 300000);
    }

    // A command begun after the program was told to quit (a timer due in the same turn of the
    // event loop): its wait must still last until the work is done, the work using the
    // caller's variables. The program crashed on closing at its first paint.
    void waitBegunAfterQuitStillWaitsForTheWork() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        QVERIFY2(db, qPrintable(s.message()));
        db->workOnOwnThread();
        QCoreApplication::exit(0);
        int value = 0;
        s = db->call([&] {
            QThread::msleep(100);
            value = 1;
            return Status();
        });
        const int seen = value;
        // Lets event loops run again for the cases after this one.
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
        QVERIFY2(s, qPrintable(s.message()));
        QCOMPARE(seen, 1);
    }

    void createsSchemaOnFirstOpen() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        QVERIFY2(s.ok(), qPrintable(s.message()));
        QCOMPARE(db->recordCount(), 0);
        QSqlQuery q(db->database());
        if (test_registry::onServer()) {
            // Codes compare as bytes, as on SQLite: the unique index uses collation "C".
            QVERIFY(q.exec(
                QStringLiteral("SELECT indexdef FROM pg_indexes WHERE indexname = 'PrimaryKey' AND "
                               "schemaname = current_schema()")));
            QVERIFY(q.next());
            QVERIFY(q.value(0).toString().contains(QStringLiteral("UNIQUE")));
            QVERIFY(q.exec(QStringLiteral(
                "SELECT collation_name FROM information_schema.columns WHERE table_name = "
                "'Clientes' AND column_name = 'Codigo' AND table_schema = current_schema()")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("C"));
            QVERIFY(q.exec(
                QStringLiteral("SELECT obj_description('\"Clientes\"'::regclass, 'pg_class')")));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), QStringLiteral("tarjetas 3"));
            return;
        }
        QVERIFY(QFile::exists(path_));
        QVERIFY(q.exec(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'PrimaryKey'")));
        QVERIFY(q.next());
        QVERIFY(q.value(0).toString().contains(QStringLiteral("UNIQUE")));
        QVERIFY(q.exec(QStringLiteral("PRAGMA user_version")) && q.next());
        QCOMPARE(q.value(0).toInt(), 3);
    }

    void addSeekEditDeleteThroughCursor() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        QVERIFY(s.ok());
        auto t = db->openTable();
        for (const char* code : {"300", "100", "200"}) {
            t->setLockEdits(false);
            t->addNew();
            t->setField(Codigo, QString::fromLatin1(code));
            QVERIFY(t->setField(QStringLiteral("NOMBRE_ANIMAL"), QStringLiteral("Ñandú")).ok());
            QVERIFY(t->update().ok());
            QVERIFY(t->setBookmark(t->lastModified()).ok());
            QCOMPARE(t->field(Codigo), QString::fromLatin1(code));
        }
        QCOMPARE(t->recordCount(), 3);

        // Seek hit, miss, and exact (binary) comparison.
        t->setIndex(kPrimaryKey);
        QVERIFY(t->seek(QStringLiteral("100")).ok());
        QVERIFY(!t->noMatch());
        QCOMPARE(t->field(QStringLiteral("nombre_animal")), QStringLiteral("Ñandú"));
        QVERIFY(t->seek(QStringLiteral("100 ")).ok());
        QVERIFY(t->noMatch());
        QCOMPARE(t->field(Codigo), QString());

        // Walk order: stored order without the index, code order with it.
        t->setIndex(QString());
        QCOMPARE(walkCodes(*t), (QStringList{u"300"_s, u"100"_s, u"200"_s}));
        t->setIndex(kPrimaryKey);
        QCOMPARE(walkCodes(*t), (QStringList{u"100"_s, u"200"_s, u"300"_s}));

        // Edit keeps the card's place in stored order and writes only what was set.
        QVERIFY(t->seek(QStringLiteral("300")).ok());
        QVERIFY(t->edit().ok());
        t->setField(Lugar, QStringLiteral("Ñuñoa"));
        QVERIFY(t->update().ok());
        QVERIFY(t->setBookmark(t->lastModified()).ok());
        QCOMPARE(t->field(Lugar), QStringLiteral("Ñuñoa"));
        QCOMPARE(t->field(NombreAnimal), QStringLiteral("Ñandú"));
        t->setIndex(QString());
        QCOMPARE(walkCodes(*t), (QStringList{u"300"_s, u"100"_s, u"200"_s}));

        // Delete.
        t->setIndex(kPrimaryKey);
        QVERIFY(t->seek(QStringLiteral("100")).ok());
        QVERIFY(t->remove().ok());
        QVERIFY(!t->hasCurrent());
        QCOMPARE(t->recordCount(), 2);
        QVERIFY(t->seek(QStringLiteral("100")).ok());
        QVERIFY(t->noMatch());
        t->setIndex(QString());
        QCOMPARE(walkCodes(*t), (QStringList{u"300"_s, u"200"_s}));
    }

    void nullReadsAsEmptyAndStaysNull() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        auto t = db->openTable();
        t->addNew();
        t->setField(Codigo, QStringLiteral("A1"));
        t->setField(Lugar, QStringLiteral(""));
        QVERIFY(t->update().ok());
        QVERIFY(t->setBookmark(t->lastModified()).ok());
        QCOMPARE(t->field(QStringLiteral("GRUPOFAM")), QStringLiteral(""));
        QVERIFY(t->isNull(GrupoFam));
        QVERIFY(!t->isNull(Lugar));
        QSqlQuery q(db->database());
        QVERIFY(q.exec(
            QStringLiteral("SELECT \"GrupoFam\" IS NULL, \"lugar\" IS NULL FROM \"Clientes\"")));
        QVERIFY(q.next());
        QCOMPARE(q.value(0).toInt(), 1);
        QCOMPARE(q.value(1).toInt(), 0);
        QCOMPARE(t->field(QStringLiteral("no_such_field")), QString());
        QVERIFY(!t->setField(QStringLiteral("no_such_field"), QStringLiteral("x")).ok());

        // The walks tell Null from the empty text too.
        QStringList seen;
        QVERIFY(db->forEachRawCard(Order::Stored, [&](RowId, const RawCard& raw) {
                      seen << QStringLiteral("raw %1 %2 %3 %4")
                                  .arg(raw.isNull(GrupoFam))
                                  .arg(raw.isNull(Lugar))
                                  .arg(raw.utf8(Lugar).size())
                                  .arg(QString::fromUtf8(raw.utf8(Codigo)));
                      return true;
                  }).ok());
        QVERIFY(db->forEachCard(Order::Stored, [&](RowId, const Card& card) {
                      seen << QStringLiteral("card %1 %2 %3")
                                  .arg(card[GrupoFam].isNull())
                                  .arg(card[Lugar].isNull())
                                  .arg(card[Lugar].size());
                      return true;
                  }).ok());
        // So does the read of the grid's pages.
        std::vector<RowId> ids;
        std::vector<std::pair<RowId, Card>> read;
        QVERIFY(db->rowIds(Order::Stored, &ids).ok() && db->readCards(ids, &read).ok());
        for (const auto& [id, card] : read)
            seen << QStringLiteral("read %1 %2 %3")
                        .arg(card[GrupoFam].isNull())
                        .arg(card[Lugar].isNull())
                        .arg(card[Codigo]);
        // A walk over some fields reads those, in the order asked, and the others as Null.
        for (const std::vector<Field>& some : {std::vector{Lugar, Codigo}, std::vector{Lugar}}) {
            QVERIFY(db->forEachRawCard(Order::Stored, some, [&](RowId, const RawCard& raw) {
                          seen << QStringLiteral("some %1 %2 %3")
                                      .arg(raw.isNull(Lugar))
                                      .arg(raw.isNull(Codigo))
                                      .arg(QString::fromUtf8(raw.utf8(Codigo)));
                          return true;
                      }).ok());
        }
        QCOMPARE(seen, QStringList({u"raw 1 0 0 A1"_s, u"card 1 0 0"_s, u"read 1 0 A1"_s,
                                    u"some 0 0 A1"_s, u"some 0 1 "_s}));
    }

    void duplicateCodeIsRefusedAndTableUnchanged() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        QVERIFY(db->insertCard(makeCard(QStringLiteral("X"), QStringLiteral("uno")), nullptr).ok());
        auto t = db->openTable();
        t->addNew();
        t->setField(Codigo, QStringLiteral("X"));
        t->setField(NombreAnimal, QStringLiteral("dos"));
        const Status dup = t->update();
        QCOMPARE(dup.kind(), ErrorKind::Duplicate);
        QVERIFY(dup.message().contains(registry_.describe()));
        // The copy buffer survives the refusal, so nothing typed is lost.
        QVERIFY(t->editing());
        QCOMPARE(t->field(NombreAnimal), QStringLiteral("dos"));
        QCOMPARE(db->recordCount(), 1);
        RowId id = kNoRow;
        QVERIFY(db->findCode(QStringLiteral("X"), &id).ok());
        Card stored;
        QVERIFY(db->readCard(id, &stored).ok());
        QCOMPARE(stored[NombreAnimal], QStringLiteral("uno"));
        // Codes differing only in case are different cards.
        QVERIFY(
            db->insertCard(makeCard(QStringLiteral("x"), QStringLiteral("tres")), nullptr).ok());
    }

    void brokenFilesAreReportedNotFatal() {
        SKIP_ON_SERVER("about the SQLite file");
        QFile junk(path_);
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'z'));
        junk.close();
        Status s;
        QVERIFY(!CardStore::open(registry_, &s));
        QCOMPARE(s.kind(), ErrorKind::NotADatabase);
        QVERIFY(s.message().contains(QDir::toNativeSeparators(path_)));

        Status missing;
        QVERIFY(!CardStore::open(dir_->filePath(QStringLiteral("no/such/dir/DAT.db")), &missing));
        QCOMPARE(missing.kind(), ErrorKind::CannotOpen);
    }

    void readOnlyFileIsReportedOnWrite() {
        SKIP_ON_SERVER("about the SQLite file");
        {
            Status s;
            auto db = CardStore::open(registry_, &s);
            QVERIFY(s.ok());
        }
        QFile::setPermissions(path_, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        // As root (and under Wine run as root) the permissions stop no write.
        if (QFile probe(path_); probe.open(QIODevice::ReadWrite))
            QSKIP("running as root: file permissions do not stop writes");
        Status s;
        auto db = CardStore::open(registry_, &s);
        QVERIFY(db);
        const Status w =
            db->insertCard(makeCard(QStringLiteral("1"), QStringLiteral("a")), nullptr);
        QVERIFY(!w.ok());
        QCOMPARE(w.kind(), ErrorKind::ReadOnly);
    }

    // Closing leaves the count in the file, and the next start reads it instead of counting a
    // million cards; a card another program wrote since makes it count again.
    void countKeptInTheFileForTheNextStart() {
        if (test_registry::onServer())
            QSKIP("a server keeps its count in a table of its own");
        const auto otherProgram = [&](const QString& sql) {
            {
                QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), u"otro"_s);
                db.setDatabaseName(path_);
                QVERIFY(db.open());
                QSqlQuery q(db);
                QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
            }
            QSqlDatabase::removeDatabase(u"otro"_s);
        };
        Status s;
        auto store = CardStore::open(registry_, &s);
        QVERIFY(store->insertCard(makeCard(u"1"_s, u"a"_s), nullptr).ok());
        QCOMPARE(store->recordCount(), 1);
        QVERIFY(store->insertCard(makeCard(u"2"_s, u"b"_s), nullptr).ok());
        store.reset();
        // Read, not counted: a kept count changed behind the program's back is what it tells.
        otherProgram(u"UPDATE ConteoTarjetas SET tarjetas = 7"_s);
        store = CardStore::open(registry_, &s);
        QCOMPARE(store->recordCount(), 7);
        store.reset();
        otherProgram(u"INSERT INTO Clientes (Codigo) VALUES ('3')"_s);
        store = CardStore::open(registry_, &s);
        QCOMPARE(store->recordCount(), 3);
    }

    void secondConnectionSeesChangesAndLockIsReported() {
        Status s;
        auto first = CardStore::open(registry_, &s);
        OpenOptions quick;
        quick.busyTimeoutMs = 100;
        auto second = CardStore::open(registry_, &s, quick);
        QVERIFY(s.ok());
        QVERIFY(
            first->insertCard(makeCard(QStringLiteral("7"), QStringLiteral("a")), nullptr).ok());
        QCOMPARE(second->recordCount(), 1);
        QCOMPARE(first->recordCount(), 1); // kept; the other connection's write below renews it
        auto t = second->openTable();
        t->setIndex(kPrimaryKey);
        QVERIFY(t->seek(QStringLiteral("7")).ok());
        QVERIFY(!t->noMatch());

        // A second program holding the write lock makes a write fail with a message, not hang.
        QSqlQuery hold(first->database());
        QVERIFY(test_registry::holdWriteLock(hold));
        const Status locked =
            second->insertCard(makeCard(QStringLiteral("8"), QStringLiteral("b")), nullptr);
        QVERIFY2(locked.kind() == ErrorKind::Busy, qPrintable(locked.message()));
        QVERIFY(hold.exec(QStringLiteral("ROLLBACK")));
        QVERIFY(
            second->insertCard(makeCard(QStringLiteral("8"), QStringLiteral("b")), nullptr).ok());
        QCOMPARE(first->recordCount(), 2);

        // A count taken while another connection's write is still open is taken again once that
        // write commits.
        QSqlQuery open(first->database());
        QVERIFY(open.exec(QStringLiteral("BEGIN")));
        QVERIFY(open.exec(QStringLiteral("INSERT INTO \"Clientes\" (\"Codigo\") VALUES ('9')")));
        QCOMPARE(second->recordCount(), 2);
        QVERIFY(open.exec(QStringLiteral("COMMIT")));
        QCOMPARE(second->recordCount(), 3);

        // The same for a count begun ahead on the store's own thread.
        second->workOnOwnThread();
        QVERIFY(open.exec(QStringLiteral("BEGIN")));
        QVERIFY(open.exec(QStringLiteral("INSERT INTO \"Clientes\" (\"Codigo\") VALUES ('10')")));
        second->countAhead();
        QCOMPARE(second->recordCount(), 3);
        second->countAhead();
        QVERIFY(open.exec(QStringLiteral("COMMIT")));
        QCOMPARE(second->recordCount(), 4);
    }

    // A server that cannot be reached, a database or user it does not know: each is told in its
    // own words, naming the registry, and nothing is opened.
    void serverRefusalsNameTheRegistry_data() {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no server") << u"postgresql://nadie@%2Fno%2Fsuch%2Fdir/base"_s
                                   << int(ErrorKind::Unreachable) << u"no se pudo conectar"_s;
        // Mistyped addresses are told as such, not as a server switched off.
        QTest::newRow("scheme typo") << u"postgresq://nadie@localhost/base"_s
                                     << int(ErrorKind::CannotOpen) << u"no es válida"_s;
        QTest::newRow("port typo") << u"postgresql://nadie@localhost:5547l/base"_s
                                   << int(ErrorKind::CannotOpen) << u"no es válida"_s;
        QTest::newRow("refused") << u"postgresql://nadie@127.0.0.1:1/base"_s
                                 << int(ErrorKind::Unreachable) << u"no acepta conexiones"_s;
        if (test_registry::onServer()) {
            const QString base = test_registry::serverUri();
            QString noBase = base;
            noBase.replace(QRegularExpression(u"/[^/?]*(\\?|$)"_s), u"/no_existe\\1"_s);
            QTest::newRow("no database")
                << noBase << int(ErrorKind::CannotOpen) << u"la base de datos no existe"_s;
            QString noUser = base;
            noUser.replace(QRegularExpression(u"//[^@]*@"_s), u"//intruso@"_s);
            QTest::newRow("unknown user")
                << noUser << int(ErrorKind::Denied) << u"rechazó el usuario"_s;
        }
    }
    void serverRefusalsNameTheRegistry() {
        QFETCH(QString, uri);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        const Registry registry = Registry::server(uri);
        Status s;
        QVERIFY(!CardStore::open(registry, &s));
        QCOMPARE(int(s.kind()), kind);
        QVERIFY2(s.summary().contains(registry.quoted()), qPrintable(s.message()));
        QVERIFY2(s.summary().contains(reason), qPrintable(s.message()));
    }

    // libpq's words and the server's SQLSTATEs for every way a server fails, each in the user's
    // words with what to do.
    void serverFailuresSayTheRealReason_data() {
        QTest::addColumn<QString>("sqlstate");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("reason");
        const auto row = [](const char* name, const QString& state, const QString& text,
                            ErrorKind kind, const QString& reason) {
            QTest::newRow(name) << state << text << int(kind) << reason;
        };
        row("refused", {},
            u"connection to server at \"127.0.0.1\", port 5547 failed: Connection refused\n\tIs "
            u"the server running on that host and accepting TCP/IP connections?"_s,
            ErrorKind::Unreachable, u"no acepta conexiones"_s);
        row("timed out", {},
            u"connection to server at \"10.0.0.9\", port 5432 failed: timeout expired"_s,
            ErrorKind::Unreachable, u"no respondió a tiempo"_s);
        row("wrong host", {},
            u"could not translate host name \"servidro\" to address: Name or service not known"_s,
            ErrorKind::Unreachable, u"no se encontró un servidor con ese nombre"_s);
        row("bad address", {},
            u"missing \"=\" after \"postgresq://x/y\" in connection info string"_s,
            ErrorKind::CannotOpen, u"no es válida"_s);
        row("bad port", {}, u"invalid integer value \"5547l\" for connection option \"port\""_s,
            ErrorKind::CannotOpen, u"no es válida"_s);
        row("password", {},
            u"connection to server failed: FATAL:  password authentication failed for user "
            u"\"ana\""_s,
            ErrorKind::Denied, u"rechazó el usuario"_s);
        row("no connect right", {},
            u"connection to server failed: FATAL:  permission denied for database \"tarjetas\""_s,
            ErrorKind::Denied, u"pida el permiso"_s);
        row("no table right", u"42501"_s, u"permission denied for table Clientes"_s,
            ErrorKind::ReadOnly, u"pida el permiso"_s);
        row("restarting", u"57P03"_s, u"the database system is starting up"_s,
            ErrorKind::Unreachable, u"se está iniciando"_s);
        row("lost", {}, u"server closed the connection unexpectedly"_s, ErrorKind::Unreachable,
            u"se perdió la conexión"_s);
        row("restarted", u"57P01"_s, u"terminating connection due to administrator command"_s,
            ErrorKind::Unreachable, u"se perdió la conexión"_s);
        row("lock wait", u"55P03"_s, u"canceling statement due to lock timeout"_s, ErrorKind::Busy,
            u"ocupado"_s);
        row("stalled", u"57014"_s, u"canceling statement due to statement timeout"_s,
            ErrorKind::Busy, u"no respondió a tiempo"_s);
    }
    void serverFailuresSayTheRealReason() {
        QFETCH(QString, sqlstate);
        QFETCH(QString, text);
        QFETCH(int, kind);
        QFETCH(QString, reason);
        const SqlReason r = explainServerError(sqlstate, text);
        QCOMPARE(int(r.kind), kind);
        QVERIFY2(r.reason.contains(reason), qPrintable(r.reason));
        QCOMPARE(r.detail, text.trimmed());
    }

    // A file's cards go to an empty server registry with their ids, order, Nulls and accents;
    // a registry that has cards is refused and left as it was.
    void copiesFileToEmptyServerOnce() {
        if (!test_registry::onServer())
            QSKIP("needs the test server");
        Status s;
        std::vector<std::pair<RowId, Card>> local;
        {
            auto file = CardStore::open(path_, &s);
            QVERIFY(file);
            for (const char* code : {"900", "100", "borrada", "500"})
                QVERIFY(file->insertCard(makeCard(QString::fromUtf8(code), u"Ñandú \"ü\";"_s),
                                         nullptr));
            RowId gone = kNoRow;
            QVERIFY(file->findCode(u"borrada"_s, &gone) && file->removeCard(gone));
            Card nulls;
            nulls[Codigo] = u"sin datos"_s;
            QVERIFY(file->insertCard(nulls, nullptr));
            QVERIFY(file->forEachCard(Order::Stored, [&](RowId id, const Card& c) {
                local.emplace_back(id, c);
                return true;
            }));
        }
        const Registry server = test_registry::registryAt(path_ + u"-servidor"_s);
        qint64 copied = 0;
        qint64 historyRows = 0;
        const Status copy = copyToServer(path_, server.location(), &copied, &historyRows);
        QVERIFY2(copy, qPrintable(copy.message()));
        QCOMPARE(copied, qint64(local.size()));
        QCOMPARE(historyRows, qint64(6)); // five adds and a delete
        std::vector<std::pair<RowId, Card>> remote;
        auto onServer = CardStore::open(server, &s);
        QVERIFY(onServer);
        QVERIFY(onServer->forEachCard(Order::Stored, [&](RowId id, const Card& c) {
            remote.emplace_back(id, c);
            return true;
        }));
        QVERIFY(remote == local);
        QVERIFY(remote.back().second[Lugar].isNull());
        // "Buscar por" finds the copied cards at once.
        std::vector<RowId> found;
        QVERIFY(SearchIndex::find(*onServer, u"nandu"_s, &found));
        QCOMPARE(found, (std::vector<RowId>{local[0].first, local[1].first, local[2].first}));
        // The history came along, its JSON's quotes and backslashes intact: the deleted card
        // restores as it was, at its former place.
        std::vector<HistoryEntry> deleted;
        QVERIFY(History(*onServer).deleted(u"borr"_s, 10, &deleted));
        QCOMPARE(deleted.size(), size_t(1));
        RowId back = kNoRow;
        const Status restored = History(*onServer).restore(deleted[0].id, &back);
        QVERIFY2(restored, qPrintable(restored.message()));
        Card card;
        QVERIFY(onServer->readCard(back, &card));
        QVERIFY(card == makeCard(u"borrada"_s, u"Ñandú \"ü\";"_s));
        QVERIFY(onServer->removeCard(back));
        // New cards come after the copied ids.
        RowId added = kNoRow;
        QVERIFY(onServer->insertCard(makeCard(u"nueva"_s, QString()), &added));
        QVERIFY(added > local.back().first);

        const Status again = copyToServer(path_, server.location(), &copied);
        QCOMPARE(again.kind(), ErrorKind::Duplicate);
        QVERIFY2(again.message().contains(server.quoted()), qPrintable(again.message()));
        QCOMPARE(onServer->recordCount(), qint64(local.size() + 1));
    }

    // Another connection's write is told once; the store's own writes never are.
    void watchTellsOtherConnectionsWritesOnly() {
        Status s;
        auto mine = CardStore::open(registry_, &s);
        auto other = CardStore::open(registry_, &s);
        QVERIFY(mine && other);
        const auto watch = ChangeWatch::start(*mine, 50);
        QVERIFY(watch);
        QSignalSpy told(watch.get(), &ChangeWatch::changedElsewhere);
        QVERIFY(mine->insertCard(makeCard(u"propia"_s, QString()), nullptr));
        QTest::qWait(300);
        QCOMPARE(told.count(), 0);
        QVERIFY(other->insertCard(makeCard(u"ajena"_s, QString()), nullptr));
        QTRY_COMPARE(told.count(), 1);
        QVERIFY2(watch->lastError().isEmpty(), qPrintable(watch->lastError()));
    }

    // The change log names every card another program wrote since a look, once however often it
    // was written, and says so when it no longer reaches back that far.
    void changeLogNamesWritesSinceALook() {
        Status s;
        auto mine = CardStore::open(registry_, &s);
        auto other = CardStore::open(registry_, &s);
        QVERIFY(mine && other);
        RowId a = kNoRow, b = kNoRow, c = kNoRow;
        QVERIFY(mine->insertCard(makeCard(u"a"_s, QString()), &a));
        QVERIFY(mine->insertCard(makeCard(u"b"_s, QString()), &b));
        CardStore::Changes start;
        QVERIFY(mine->changesSince(-1, true, &start));
        QVERIFY(!start.complete);
        QCOMPARE(start.count, 2);

        QVERIFY(other->insertCard(makeCard(u"c"_s, QString()), &c));
        auto edit = other->openTable();
        for (const QString& name : {u"Rex"_s, u"Toby"_s}) {
            QVERIFY(edit->setBookmark(a));
            QVERIFY(edit->edit());
            edit->setField(NombreAnimal, name);
            QVERIFY(edit->update());
        }
        QVERIFY(other->removeCard(b));
        CardStore::Changes since;
        QVERIFY(mine->changesSince(start.position, true, &since));
        QVERIFY(since.complete);
        QCOMPARE(since.ids, (std::vector<RowId>{a, b, c}));
        QCOMPARE(since.count, 2);
        CardStore::Changes none;
        QVERIFY(mine->changesSince(since.position, false, &none));
        QVERIFY(none.complete && none.ids.empty());
        QCOMPARE(none.position, since.position);

        if (!test_registry::onServer()) {
            // INSERT OR REPLACE deletes the card holding the code without its delete trigger.
            QSqlQuery q(other->database());
            QVERIFY(q.exec(u"INSERT OR REPLACE INTO Clientes (Codigo) VALUES ('c')"_s));
            const RowId replacing = q.lastInsertId().toLongLong();
            CardStore::Changes replaced;
            QVERIFY(mine->changesSince(since.position, false, &replaced));
            QCOMPARE(replaced.ids, (std::vector<RowId>{c, replacing}));
            // A file of the version before the log gets it at its next open.
            for (const char* drop :
                 {"DROP TRIGGER RegistroCambiosAntesAlta", "DROP TRIGGER RegistroCambiosAlta",
                  "DROP TRIGGER RegistroCambiosAntesCambio", "DROP TRIGGER RegistroCambiosCambio",
                  "DROP TRIGGER RegistroCambiosBaja", "DROP TABLE RegistroCambios",
                  "PRAGMA user_version = 2"})
                QVERIFY2(q.exec(QString::fromLatin1(drop)), drop);
            auto older = CardStore::open(registry_, &s);
            QVERIFY(older);
            CardStore::Changes fresh;
            QVERIFY(older->changesSince(-1, true, &fresh));
            QCOMPARE(fresh.count, 2);
            QVERIFY(older->insertCard(makeCard(u"d"_s, QString()), &c));
            QVERIFY(older->changesSince(fresh.position, false, &fresh));
            QCOMPARE(fresh.ids, std::vector<RowId>{c});
            QVERIFY(q.exec(u"PRAGMA user_version"_s) && q.next());
            QCOMPARE(q.value(0).toInt(), 3);
            QVERIFY(mine->changesSince(-1, false, &since));
        } else {
            // A database of the first version gets the log at its next open.
            QSqlQuery q(other->database());
            for (const char* drop :
                 {"DROP TABLE \"RegistroCambios\"",
                  "DROP TRIGGER \"RegistroCambios_turno\" ON \"Clientes\"",
                  "DROP TRIGGER \"RegistroCambios_alta\" ON \"Clientes\"",
                  "DROP TRIGGER \"RegistroCambios_cambio\" ON \"Clientes\"",
                  "DROP TRIGGER \"RegistroCambios_baja\" ON \"Clientes\"",
                  "DROP TRIGGER \"RegistroCambios_vaciado\" ON \"Clientes\"",
                  "DROP TABLE \"ConteoTarjetas\"", "DROP FUNCTION \"ConteoTarjetas_alta\" CASCADE",
                  "DROP FUNCTION \"ConteoTarjetas_baja\" CASCADE",
                  "DROP FUNCTION \"ConteoTarjetas_vaciado\" CASCADE",
                  "COMMENT ON TABLE \"Clientes\" IS 'tarjetas 1'"})
                QVERIFY2(q.exec(QString::fromLatin1(drop)), drop);
            // Written while no count is kept: the count made at the next open includes it.
            QVERIFY(q.exec(u"INSERT INTO \"Clientes\" (\"Codigo\") VALUES ('sin cuenta')"_s));
            auto older = CardStore::open(registry_, &s);
            QVERIFY(older);
            CardStore::Changes fresh;
            QVERIFY(older->changesSince(-1, true, &fresh));
            QCOMPARE(fresh.count, 3);
            QVERIFY(older->insertCard(makeCard(u"d"_s, QString()), &c));
            QVERIFY(older->changesSince(fresh.position, false, &fresh));
            QCOMPARE(fresh.ids, std::vector<RowId>{c});
            // The kept count follows every program's writes, one card or many at a time.
            QVERIFY(q.exec(u"DELETE FROM \"Clientes\" WHERE \"Codigo\" IN ('sin cuenta', 'a')"_s));
            QCOMPARE(older->recordCount(), 2);
            QCOMPARE(mine->recordCount(), 2);
            QVERIFY(q.exec(u"SELECT obj_description('\"Clientes\"'::regclass, 'pg_class')"_s));
            QVERIFY(q.next());
            QCOMPARE(q.value(0).toString(), u"tarjetas 3"_s);
            QVERIFY(mine->changesSince(-1, false, &since));
        }

        // More cards written than the log keeps: the look is told it cannot know them all.
        std::vector<Card> many;
        for (qint64 i = 0; i <= kChangeLogKept; ++i)
            many.push_back(makeCard(u"m%1"_s.arg(i), QString()));
        QVERIFY(other->insertCards(many, WriteReason::Importacion));
        CardStore::Changes tooOld;
        QVERIFY(mine->changesSince(since.position, true, &tooOld));
        QVERIFY(!tooOld.complete);
        QVERIFY(tooOld.ids.empty());
        QVERIFY(tooOld.position > since.position);
        QCOMPARE(tooOld.count, mine->recordCount());
        QSqlQuery counted(other->database());
        QVERIFY(counted.exec(u"SELECT count(*) FROM \"Clientes\""_s) && counted.next());
        QCOMPARE(tooOld.count, counted.value(0).toLongLong());
    }

    void walkSkipsCardsDeletedMeanwhile() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        for (int i = 0; i < 300; ++i)
            QVERIFY(db->insertCard(makeCard(QString::number(i), QString()), nullptr).ok());
        auto walker = db->openTable();
        auto other = db->openTable();
        QVERIFY(walker->moveFirst().ok());
        other->setIndex(kPrimaryKey);
        QVERIFY(other->seek(QStringLiteral("280")).ok());
        QVERIFY(other->remove().ok());
        int seen = 1;
        while (walker->moveNext().ok() && !walker->eof()) {
            QVERIFY(walker->field(Codigo) != QStringLiteral("280"));
            ++seen;
        }
        QCOMPARE(seen, 299);
    }

    void walkInCodeOrderPastTheFirstBatch() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        QVERIFY(db->insertCards(
                      [] {
                          std::vector<Card> cards;
                          for (int i = 600; i > 0; --i)
                              cards.push_back(makeCard(
                                  QStringLiteral("%1").arg(i, 4, 10, QChar(u'0')), QString()));
                          return cards;
                      }(),
                      store::WriteReason::Importacion)
                    .ok());
        // Every id in stored order, whatever order the codes put them in, and with ids far
        // apart as another program may write them.
        const auto ascendingIds = [&](qsizetype count) {
            std::vector<RowId> ids;
            QVERIFY(db->rowIds(Order::Stored, &ids).ok());
            QCOMPARE(qsizetype(ids.size()), count);
            QVERIFY(std::adjacent_find(ids.begin(), ids.end(), std::greater_equal<>()) ==
                    ids.end());
        };
        ascendingIds(600);
        QSqlQuery far(db->database());
        QVERIFY(far.exec(QStringLiteral("INSERT INTO \"Clientes\" (id, \"Codigo\") VALUES "
                                        "(1000000000000, '0000')")));
        ascendingIds(601);
        QVERIFY(far.exec(QStringLiteral("DELETE FROM \"Clientes\" WHERE \"Codigo\" = '0000'")));
        auto walker = db->openTable();
        walker->setIndex(kPrimaryKey);
        QVERIFY(walker->moveFirst().ok());
        QCOMPARE(walker->field(Codigo), QStringLiteral("0001"));
        // Cards at the end of the first batch and just after it go while the walk is at its
        // start.
        auto other = db->openTable();
        other->setIndex(kPrimaryKey);
        for (const char16_t* code : {u"0256", u"0255", u"0257"}) {
            QVERIFY(other->seek(QString::fromUtf16(code)).ok());
            QVERIFY(other->remove().ok());
        }
        QStringList seen{walker->field(Codigo)};
        while (walker->moveNext().ok() && !walker->eof())
            seen.append(walker->field(Codigo));
        // The batch under way was read before the deletes; beyond it, deleted cards are skipped
        // and none comes twice.
        QCOMPARE(seen.size(), 599);
        QVERIFY(!seen.contains(QStringLiteral("0257")));
        QCOMPARE(seen.indexOf(QStringLiteral("0258")), 256);
        QVERIFY(std::adjacent_find(seen.begin(), seen.end(), std::greater_equal<>()) == seen.end());
    }

    // The background reader's chunks: every card once, in stored order, whatever the chunk's
    // length; a chunk asked from another start than the one the reader expected (on a server it
    // asks for the next chunk ahead) holds that start's cards.
    void chunkReaderWalksEveryCardOnce() {
        Status s;
        auto db = CardStore::open(registry_, &s);
        std::vector<Card> cards;
        for (int i = 0; i < 25; ++i)
            cards.push_back(makeCard(QStringLiteral("C%1").arg(i, 2, 10, QChar(u'0')),
                                     QStringLiteral("animal %1").arg(i)));
        QVERIFY(db->insertCards(cards, WriteReason::Importacion).ok());
        std::vector<RowId> stored;
        QVERIFY(db->rowIds(Order::Stored, &stored).ok());
        auto reader = ChunkReader::open(registry_, &s);
        QVERIFY2(reader, qPrintable(s.message()));
        const std::array fields{NombreAnimal, Codigo};
        const auto chunk = [&](RowId after, int limit, std::vector<RowId>* ids, QStringList* codes,
                               RowId* last) {
            int visited = 0;
            const Status read = reader->read(
                after, limit, fields,
                [&](RowId id, std::span<const QByteArrayView> values) {
                    ids->push_back(id);
                    codes->append(QString::fromUtf8(values[1]));
                    if (QString::fromUtf8(values[0]) !=
                        QStringLiteral("animal %1").arg(codes->last().mid(1).toInt()))
                        codes->last() += u'?';
                },
                last, &visited);
            return read.ok() ? visited : -1;
        };
        for (int limit : {1, 7, 25, 100}) {
            std::vector<RowId> ids;
            QStringList codes;
            RowId last = std::numeric_limits<RowId>::min();
            int visited = 0;
            do
                visited = chunk(last, limit, &ids, &codes, &last);
            while (visited == limit);
            QCOMPARE(visited >= 0, true);
            QCOMPARE(ids, stored);
            QCOMPARE(codes.first(), u"C00"_s);
            QCOMPARE(codes.last(), u"C24"_s);
            QVERIFY(!codes.join(QString()).contains(u'?'));
        }
        std::vector<RowId> ids;
        QStringList codes;
        RowId last = kNoRow;
        QCOMPARE(chunk(std::numeric_limits<RowId>::min(), 5, &ids, &codes, &last), 5);
        ids.clear();
        codes.clear();
        QCOMPARE(chunk(stored[10], 5, &ids, &codes, &last), 5);
        QCOMPARE(codes, (QStringList{u"C11"_s, u"C12"_s, u"C13"_s, u"C14"_s, u"C15"_s}));
    }

    void sharedHelpers() {
        QCOMPARE(composeAddress(QStringLiteral(" Av. Grecia "), QString(), QString()),
                 QStringLiteral("Av. Grecia  "));
        QCOMPARE(
            composeAddress(QStringLiteral("Pasaje 3"), QStringLiteral(" 12"), QStringLiteral("B ")),
            QStringLiteral("Pasaje 3 12 B"));
        QCOMPARE(sexWord(QStringLiteral("M")), QStringLiteral("Macho"));
        QCOMPARE(sexWord(QStringLiteral("m")), QStringLiteral("Hembra"));
        QCOMPARE(sexWord(QString()), QStringLiteral("Hembra"));
        QCOMPARE(fieldByName(u"grupoFam"), std::optional<Field>(GrupoFam));
        QCOMPARE(fieldByControl(u"Option2"), std::optional<Field>(Sexo));
    }

private:
    std::unique_ptr<QTemporaryDir> dir_;
    Registry registry_;
    QString path_;
};

QTEST_GUILESS_MAIN(TestStore)
#include "test_store.moc"
