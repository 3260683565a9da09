#include "../../bench/Registry.h"
#include "IdRuns.h"
#include "Ini.h"
#include "TypeAheadIndex.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <condition_variable>
#include <mutex>

using namespace store;

// The type-ahead index against the rule it stands for, walked plainly over the whole table: every
// card in stored order, a value matching when its first n letters, upper-cased, equal the typed
// text upper-cased, and listed once in the case of the first card met.
class TestFindTypeAhead : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    std::unique_ptr<CardStore> store_;
    QRandomGenerator random_{20240611};

    std::vector<Card> cards_; // the table in stored order, read afresh for each comparison

    QStringList walk(Field field, const QString& typed) {
        QStringList list;
        QStringList upper;
        const QString t = typed.toUpper();
        for (const Card& card : cards_) {
            const QString& v = card[field];
            if (v.size() >= typed.size() && v.left(typed.size()).toUpper() == t && !v.isEmpty() &&
                !upper.contains(v.toUpper())) {
                list.append(v);
                upper.append(v.toUpper());
            }
        }
        return list;
    }

    QString pick(const QStringList& pool) { return pool[random_.bounded(int(pool.size()))]; }

    // Names with accents, Ñ, case variants, leading spaces, empty and Null values.
    QString value(int f) {
        static const QStringList first = {
            QStringLiteral("MUÑOZ"), QStringLiteral("Muñoz"), QStringLiteral("muñoz"),
            QStringLiteral("ÁLVAREZ"), QStringLiteral("álvarez"), QStringLiteral("Ñuñoa"),
            QStringLiteral("ÑUÑOA"), QStringLiteral("Mora"), QStringLiteral(" Mora"),
            QStringLiteral("Soto"), QStringLiteral("SOTO"), QStringLiteral("Éxito"),
            QStringLiteral("9"), QStringLiteral("+56 9"), QStringLiteral("Peña"),
            // Over 127 bytes: its length takes two bytes in the index.
            QStringLiteral("Ñ").repeated(70)};
        static const QStringList second = {QStringLiteral(""),     QStringLiteral(" Ana"),
                                           QStringLiteral(" ANA"), QStringLiteral(" José"),
                                           QStringLiteral(" 12"),  QStringLiteral("ñ")};
        const int r = int(random_.bounded(20));
        if (r == 0)
            return QString(); // Null
        if (r == 1)
            return QStringLiteral("");
        return pick(first) + pick(second) + (f % 3 == 0 ? pick(second) : QString());
    }

    Card card(int n) {
        Card c;
        c[Codigo] = QStringLiteral("C%1").arg(n);
        for (Field f : browse::TypeAheadIndex::fields())
            c[f] = value(int(f));
        return c;
    }

    // Every prefix of one to three letters of the stored values, in both cases, and a few that
    // match nothing.
    QStringList prefixes(Field field) {
        QSet<QString> set = {QStringLiteral("x"), QStringLiteral("zz"), QStringLiteral(" "),
                             QStringLiteral("MUÑOZ ANA ")};
        for (const Card& c : cards_) {
            for (int n = 1; n <= 3 && n <= c[field].size(); ++n) {
                set.insert(c[field].left(n));
                set.insert(c[field].left(n).toLower());
            }
            if (!c[field].isEmpty())
                set.insert(c[field]); // a value equal to the typed text
        }
        return QStringList(set.begin(), set.end());
    }

    void compareAll(browse::TypeAheadIndex& index) {
        cards_.clear();
        QVERIFY(store_
                    ->forEachCard(Order::Stored,
                                  [&](RowId, const Card& c) {
                                      cards_.push_back(c);
                                      return true;
                                  })
                    .ok());
        for (Field f : browse::TypeAheadIndex::fields()) {
            for (const QString& typed : prefixes(f)) {
                QStringList got;
                QVERIFY(index.matches(f, typed, &got).ok());
                QCOMPARE_EQ(got, walk(f, typed));
            }
        }
    }

private slots:
    void init() {
        QVERIFY(dir_.isValid());
        store_.reset();
        QFile::remove(dir_.filePath(QStringLiteral("DAT.db")));
        Status s;
        store_ = CardStore::open(dir_.filePath(QStringLiteral("DAT.db")), &s);
        QVERIFY(s.ok());
        // Durability is not under test here: skip the disk flush of each of the inserts.
        QSqlQuery(store_->database()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
        for (int n = 0; n < 3000; ++n) {
            RowId id;
            QVERIFY(store_->insertCard(card(n), &id).ok());
        }
    }

    // The card ids the index and the grid's listing keep as runs, against a plain vector: one
    // run, a gap every 20 cards, no two ids in a row (kept as a vector), ids far apart.
    void idRunsAnswerAsAVectorWould() {
        const auto shaped = [](int n, int every, RowId from, RowId step) {
            std::vector<RowId> ids;
            for (RowId id = from; int(ids.size()) < n; id += step) {
                if (every == 0 || id % every != 0)
                    ids.push_back(id);
            }
            return ids;
        };
        const std::vector<std::vector<RowId>> shapes = {{},
                                                        shaped(5000, 0, 1, 1),
                                                        shaped(5000, 20, 1, 1),
                                                        shaped(5000, 0, 3, 2),
                                                        shaped(3000, 0, 1'000'000'000'000, 977),
                                                        shaped(10, 0, 7, 3)};
        for (std::vector<RowId> ids : shapes) {
            browse::IdRuns runs(ids);
            // Cards added after, one with an id below the last.
            for (const RowId id : {ids.empty() ? RowId(5) : ids.back() + 1, RowId(2), RowId(4)}) {
                if (std::binary_search(ids.begin(), ids.end(), id))
                    continue;
                runs.insert(id);
                ids.insert(std::lower_bound(ids.begin(), ids.end(), id), id);
            }
            QCOMPARE(runs.size(), ids.size());
            QVERIFY(runs.toVector() == ids);
            for (size_t i = 0; i < ids.size(); ++i) {
                QCOMPARE(runs[i], ids[i]);
                for (const RowId probe : {ids[i] - 1, ids[i], ids[i] + 1}) {
                    const size_t at =
                        size_t(std::lower_bound(ids.begin(), ids.end(), probe) - ids.begin());
                    QCOMPARE(runs.lowerBound(probe), at);
                }
            }
        }
    }

    void foldingTreatsSpanishLettersAlike() {
        QVERIFY(browse::foldStartsWith(u"MUÑOZ", u"muñ"));
        QVERIFY(browse::foldStartsWith(u"ÁLVAREZ", u"álv"));
        QVERIFY(!browse::foldStartsWith(u"ALVAREZ", u"álv"));
        QVERIFY(!browse::foldStartsWith(u"Mu", u"mun"));
        QCOMPARE(browse::foldCase(u"ÑANDÚ Éxito"), QStringLiteral("ñandú éxito"));
    }

    void generatedRegistryMatchesTheWalk() {
        // Realistic values: Spanish names with accents and Ñ, R.U.T.s, +56 telephones, owners
        // with several pets, empty and Null values.
        store_.reset();
        const QString path = dir_.filePath(QStringLiteral("generado.db"));
        QString error;
        QVERIFY2(bench::writeRegistry(
                     1500, 11, path,
                     QStringLiteral(TARJETAS_SOURCE_DIR "/resources/") + kIniFileName, &error),
                 qPrintable(error));
        Status s;
        store_ = CardStore::open(path, &s);
        QVERIFY(s.ok());
        browse::TypeAheadIndex index(store_.get());
        compareAll(index);
    }

    void matchesTheWalkAsTheCardsChange() {
        browse::TypeAheadIndex index(store_.get());
        // Half the fields are read before the changes and kept in step, half only after.
        for (int i = 0; i < 5; ++i)
            QVERIFY(index.build(browse::TypeAheadIndex::fields()[i]).ok());
        std::vector<RowId> ids;
        QVERIFY(store_->rowIds(Order::Stored, &ids).ok());
        for (int step = 0; step < 600; ++step) {
            const int what = int(random_.bounded(3));
            if (what == 0 || ids.empty()) {
                const Card c = card(10000 + step);
                RowId id;
                QVERIFY(store_->insertCard(c, &id).ok());
                index.cardAdded(id, c);
                ids.push_back(id);
            } else {
                const size_t at = random_.bounded(quint32(ids.size()));
                if (what == 1) {
                    QVERIFY(store_->removeCard(ids[at]).ok());
                    index.cardRemoved(ids[at]);
                    ids.erase(ids.begin() + qsizetype(at));
                } else {
                    Card c;
                    QVERIFY(store_->readCard(ids[at], &c).ok());
                    const Field f = browse::TypeAheadIndex::fields()[random_.bounded(10)];
                    c[f] = value(int(f));
                    TableCursor cursor(store_.get());
                    QVERIFY(cursor.setBookmark(ids[at]).ok());
                    QVERIFY(cursor.edit().ok());
                    cursor.setField(f, c[f]);
                    QVERIFY(cursor.update().ok());
                    index.cardChanged(ids[at], c);
                }
            }
        }
        // The last card removed and its id given again by the store.
        const Card last = card(99999);
        QVERIFY(store_->removeCard(ids.back()).ok());
        index.cardRemoved(ids.back());
        RowId again;
        QVERIFY(store_->insertCard(last, &again).ok());
        index.cardAdded(again, last);
        compareAll(index);
    }

    void backgroundReadKeepsTheWritesMadeMeanwhile() {
        // The store tells the index of its writes as the window wires it.
        browse::TypeAheadIndex index(store_.get());
        const int listener = store_->addChangeListener(
            [&index](CardStore::Change change, RowId id, const Card* card) {
                if (change == CardStore::Change::Added)
                    index.cardAdded(id, *card);
                else if (change == CardStore::Change::Changed)
                    index.cardChanged(id, *card);
                else if (change == CardStore::Change::Removed)
                    index.cardRemoved(id);
            });
        std::vector<RowId> ids;
        QVERIFY(store_->rowIds(Order::Stored, &ids).ok());

        // The read stops after its first chunk until the cards below are written: some of them
        // read already, some not yet.
        std::mutex m;
        std::condition_variable cv;
        bool halfway = false;
        bool written = false;
        browse::TypeAheadBackground how;
        how.chunk = 500;
        how.afterChunk = [&] {
            std::unique_lock lock(m);
            if (!halfway) {
                halfway = true;
                cv.notify_all();
                cv.wait(lock, [&] { return written; });
            }
        };
        index.buildInBackground({}, how);
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return halfway; });
        }
        QVERIFY(index.pending());
        QElapsedTimer waited;
        waited.start();
        QStringList got;
        QVERIFY(index.matches(Propietario, u"M", &got).ok());
        QVERIFY(got.isEmpty()); // not read yet: no list rather than a wait
        QVERIFY(waited.elapsed() < 1000);

        for (int k = 0; k < 40; ++k) {
            const RowId id = ids[size_t(k < 20 ? 3 + k * 20 : 1200 + k * 30)];
            TableCursor cursor(store_.get());
            QVERIFY(cursor.setBookmark(id).ok());
            QVERIFY(cursor.edit().ok());
            for (Field f : browse::TypeAheadIndex::fields())
                cursor.setField(f, value(int(f)));
            QVERIFY(cursor.update().ok());
        }
        for (int k = 0; k < 10; ++k)
            QVERIFY(store_->removeCard(ids[size_t(k < 5 ? 1 + k * 40 : 1500 + k * 40)]).ok());
        for (int k = 0; k < 10; ++k) {
            RowId id;
            QVERIFY(store_->insertCard(card(20000 + k), &id).ok());
        }
        {
            std::lock_guard lock(m);
            written = true;
        }
        cv.notify_all();
        QVERIFY(index.waitForBackground(-1));
        QVERIFY(!index.pending());
        compareAll(index);
        // And the index goes on following the writes once it is read.
        QVERIFY(store_->removeCard(ids[2]).ok());
        compareAll(index);
        store_->removeChangeListener(listener);
    }

    void refreshAnswersFromTheOldReadUntilTheNewOneTakesOver() {
        browse::TypeAheadIndex index(store_.get());
        const int listener = store_->addChangeListener(
            [&index](CardStore::Change change, RowId id, const Card* card) {
                if (change == CardStore::Change::Added)
                    index.cardAdded(id, *card);
                else if (change == CardStore::Change::Changed)
                    index.cardChanged(id, *card);
            });
        // The second read stops after its first chunk until the window has written.
        std::mutex m;
        std::condition_variable cv;
        bool armed = false, halfway = false, written = false;
        browse::TypeAheadBackground how;
        how.chunk = 500;
        how.afterChunk = [&] {
            std::unique_lock lock(m);
            if (armed && !halfway) {
                halfway = true;
                cv.notify_all();
                cv.wait(lock, [&] { return written; });
            }
        };
        index.buildInBackground({}, how);
        QVERIFY(index.waitForBackground(-1));
        std::vector<RowId> ids;
        QVERIFY(store_->rowIds(Order::Stored, &ids).ok());

        Status s;
        auto other = CardStore::open(store_->path(), &s); // another program: not told
        Card elsewhere = card(60000);
        elsewhere[Propietario] = QStringLiteral("Quiroga");
        RowId id;
        QVERIFY(other->insertCard(elsewhere, &id).ok());
        {
            std::lock_guard lock(m);
            armed = true;
        }
        index.refresh();
        {
            std::unique_lock lock(m);
            cv.wait(lock, [&] { return halfway; });
        }
        QVERIFY(index.pending());
        QStringList got;
        QVERIFY(index.matches(Propietario, u"M", &got).ok());
        QVERIFY(!got.isEmpty()); // the values read before still answer
        // The window's own writes meanwhile show at once, and survive the take-over: one card
        // the paused read has passed already, one it has not reached.
        TableCursor cursor(store_.get());
        QVERIFY(cursor.setBookmark(ids[3]).ok());
        QVERIFY(cursor.edit().ok());
        cursor.setField(Propietario, QStringLiteral("Quevedo"));
        QVERIFY(cursor.update().ok());
        Card own = card(60001);
        own[Propietario] = QStringLiteral("Quintana");
        QVERIFY(store_->insertCard(own, &id).ok());
        QVERIFY(index.matches(Propietario, u"qu", &got).ok());
        QCOMPARE(got, (QStringList{QStringLiteral("Quevedo"), QStringLiteral("Quintana")}));
        {
            std::lock_guard lock(m);
            written = true;
        }
        cv.notify_all();
        QVERIFY(index.waitForBackground(-1));
        QVERIFY(index.matches(Propietario, u"qu", &got).ok());
        QCOMPARE(got, (QStringList{QStringLiteral("Quevedo"), QStringLiteral("Quiroga"),
                                   QStringLiteral("Quintana")}));
        compareAll(index);
        store_->removeChangeListener(listener);
    }

    void resetReadsCardsWrittenElsewhere() {
        browse::TypeAheadIndex index(store_.get());
        QStringList got;
        QVERIFY(index.matches(Propietario, u"q", &got).ok());
        QVERIFY(got.isEmpty());
        Card c = card(50000);
        c[Propietario] = QStringLiteral("Quiroga");
        RowId id;
        QVERIFY(store_->insertCard(c, &id).ok());     // not told to the index
        QVERIFY(index.matches(Rut, u"q", &got).ok()); // reading a new field notices it
        index.reset();
        QVERIFY(index.matches(Propietario, u"q", &got).ok());
        QCOMPARE(got, QStringList{QStringLiteral("Quiroga")});
    }
};

QTEST_GUILESS_MAIN(TestFindTypeAhead)
#include "test_find_typeahead.moc"
