#include "Intake.h"
#include "ScriptedMessages.h"
#include "TestRegistry.h"
#include "WebCardBytes.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace store;
using Icon = MessageLayer::Icon;

class TestIntake : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> tmp_;
    Folders folders_;
    std::unique_ptr<CardStore> cards_;
    ScriptedMessages messages_;
    FixedClock clock_{QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7))};

    QString webFile() const { return folders_.dataFile(kWebCardFileName); }
    void drop(const QByteArray& bytes) {
        QFile f(webFile());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }
    static QByteArray record(const QByteArray& code) {
        return WebCardBytes()
            .set(Codigo, code)
            .set(Lugar, "Clinica Sur")
            .set(NombreAnimal, "Firulais")
            .set(Sexo, "Macho")
            .set(Direccion, "Av. Espa\xf1"
                            "a")
            .set(NumeroDepto, " 123")
            .bytes();
    }
    Card stored(const QString& code) {
        RowId id = kNoRow;
        Card card;
        if (!cards_->findCode(code, &id) || id == kNoRow || !cards_->readCard(id, &card))
            qWarning("card %s not stored", qPrintable(code));
        return card;
    }
    intake::IntakeResult run() {
        return intake::takeInWebCards(*cards_, folders_, messages_, clock_);
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void init() {
        tmp_ = std::make_unique<QTemporaryDir>();
        folders_ = {tmp_->filePath(QStringLiteral("app")), tmp_->filePath(QStringLiteral("data")),
                    tmp_->path()};
        QVERIFY(QDir().mkpath(folders_.appDir) && QDir().mkpath(folders_.dataDir));
        Status s;
        cards_ = CardStore::open(test_registry::registryAt(folders_.appFile(kDatabaseFileName)), &s,
                                 OpenOptions{200});
        QVERIFY2(s.ok(), qPrintable(s.message()));
        messages_.clear();
    }

    void noFileNoMessage() {
        const intake::IntakeResult r = run();
        QVERIFY(!r.fileFound);
        QVERIFY(messages_.boxes.empty());
        QCOMPARE(r.listingOrder(), Order::Stored);
    }

    void newCardAnnouncedAndFileDeleted() {
        drop(record("  985112  "));
        const intake::IntakeResult r = run();
        QCOMPARE(r.added, 1);
        QVERIFY(r.fileRemoved && !QFile::exists(webFile()));
        QCOMPARE(messages_.boxes.size(), size_t(1));
        const ScriptedMessages::Box& box = messages_.boxes[0];
        QCOMPARE(box.title, QStringLiteral("Recibido desde la Web"));
        QCOMPARE(box.icon, Icon::Information);
        QCOMPARE(box.text, QStringLiteral("Cliente Nuevo Agregado\r\n    MicroChip:\t985112\r\n"
                                          "    Lugar: \t\tClinica Sur\r\n    Nombre: \tFirulais"));
        const Card card = stored(QStringLiteral("985112"));
        QCOMPARE(card[Lugar], QStringLiteral("Clinica Sur") + QString(19, u' '));
        QCOMPARE(card[Sexo], QStringLiteral("M"));
        QCOMPARE(card[DireccionCompleta], QStringLiteral("Av. España 123 "));
        for (Field f : {FichaClinica, Color, Tamano, GrupoFam, Cel})
            QVERIFY(!card.isNull(f) && card[f].isEmpty());
    }

    void existingCardUpdatedKeepsPracticeFields() {
        Card old;
        old[Codigo] = QStringLiteral("985112");
        old[NombreAnimal] = QStringLiteral("Viejo");
        old[FichaClinica] = QStringLiteral("F-77");
        old[Color] = QStringLiteral("Negro");
        old[Tamano] = QStringLiteral("Grande");
        old[GrupoFam] = QStringLiteral("Perez");
        old[Cel] = QStringLiteral("99887766");
        old[DireccionCompleta] = QStringLiteral("Calle Vieja 1");
        RowId id = kNoRow;
        QVERIFY(cards_->insertCard(old, &id));
        drop(record(" 985112"));
        const intake::IntakeResult r = run();
        QCOMPARE(r.updated, 1);
        QCOMPARE(cards_->recordCount(), 1);
        QVERIFY(messages_.boxes[0].text.startsWith(
            QStringLiteral("Cliente Existente Actualizado\r\n    MicroChip:\t985112\r\n")));
        Card card;
        QVERIFY(cards_->readCard(id, &card));
        QCOMPARE(card[NombreAnimal], QStringLiteral("Firulais") + QString(42, u' '));
        QCOMPARE(card[DireccionCompleta], QStringLiteral("Av. España 123 "));
        for (Field f : {FichaClinica, Color, Tamano, GrupoFam, Cel})
            QCOMPARE(card[f], old[f]);
    }

    void severalRecordsStoredInOrderAndListedByCode() {
        RowId id = kNoRow;
        for (const char* code : {"B", "Z"}) {
            Card c;
            c[Codigo] = QString::fromLatin1(code);
            QVERIFY(cards_->insertCard(c, &id));
        }
        drop(record("M").append(record("C")).append(record("M")));
        const intake::IntakeResult r = run();
        QCOMPARE(r.added, 2);
        QCOMPARE(r.updated, 1); // the second M overwrites the first, in the same transaction
        QVERIFY(!QFile::exists(webFile()));
        QCOMPARE(messages_.texts(),
                 QStringList{QStringLiteral("Se recibieron 3 fichas desde la Web\r\n"
                                            "    Clientes nuevos agregados:\t2\r\n"
                                            "    Clientes existentes actualizados:\t1\r\n"
                                            "    M\tFirulais\r\n    C\tFirulais\r\n"
                                            "    M\tFirulais")});
        QCOMPARE(r.listingOrder(), Order::ByCode);
        std::vector<RowId> ids;
        QVERIFY(cards_->rowIds(r.listingOrder(), &ids));
        std::vector<std::pair<RowId, Card>> listed;
        QVERIFY(cards_->readCards(ids, &listed));
        QStringList codes;
        for (const auto& [rowId, card] : listed)
            codes.append(card[Codigo]);
        QCOMPARE(codes, QStringList({QStringLiteral("B"), QStringLiteral("C"), QStringLiteral("M"),
                                     QStringLiteral("Z")}));
    }

    void rejectedFileKeptWithReason_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("short") << record("A").left(100)
                               << QStringLiteral("La ficha 1 (desde el byte 0) está incompleta: "
                                                 "tiene 100 bytes y una ficha completa tiene 641.");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("El archivo está vacío.");
        QTest::newRow("no code") << record("A").append(record("   "))
                                 << QStringLiteral("La ficha 2 (desde el byte 641) no trae código "
                                                   "de microchip.");
        QTest::newRow("trailing") << record("A").append("xyz")
                                  << QStringLiteral("La ficha 2 (desde el byte 641) está "
                                                    "incompleta: tiene 3 bytes");
    }
    void rejectedFileKeptWithReason() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        drop(bytes);
        // A file set aside in the same second is not overwritten.
        const QString first =
            folders_.dataFile(QStringLiteral("CLIENTE.TLV 2026-12-06 09.05.07.rechazado"));
        QFile(first).open(QIODevice::WriteOnly);
        const intake::IntakeResult r = run();
        // Nothing of a refused file is stored, not even its good records.
        QVERIFY(!r.tookIn());
        QCOMPARE(cards_->recordCount(), 0);
        QVERIFY(!QFile::exists(webFile()));
        const QString kept =
            folders_.dataFile(QStringLiteral("CLIENTE.TLV 2026-12-06 09.05.07 (2).rechazado"));
        QCOMPARE(r.keptAs, kept);
        QFile file(kept);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), bytes);
        QCOMPARE(messages_.boxes.size(), size_t(1));
        const ScriptedMessages::Box& box = messages_.boxes.back();
        QCOMPARE(box.icon, Icon::Warning);
        QVERIFY2(box.text.contains(reason), qPrintable(box.text));
        QVERIFY(box.text.contains(QDir::toNativeSeparators(kept)));
    }

    void storeFailureKeepsFile() {
        Status s;
        auto other = CardStore::open(cards_->registry(), &s);
        QVERIFY2(other, qPrintable(s.message()));
        QSqlQuery lock(other->database());
        QVERIFY(test_registry::holdWriteLock(lock));
        drop(record("A"));
        const intake::IntakeResult r = run();
        QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        QVERIFY(!r.tookIn());
        QCOMPARE(messages_.boxes.size(), size_t(1));
        QVERIFY2(messages_.boxes[0].text.contains(u"se recibirá en el próximo inicio"),
                 qPrintable(messages_.boxes[0].text));
        QVERIFY(r.keptForNextStart && r.keptAs.isEmpty());
        QCOMPARE(QDir(folders_.dataDir).entryList(QDir::Files), QStringList{kWebCardFileName});
    }
};

QTEST_GUILESS_MAIN(TestIntake)
#include "test_intake.moc"
