#include "CardStore.h"
#include "Import.h"
#include "PreparedRows.h"
#include "ScriptedMessages.h"
#include "TestData.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using import::Column;
using import::ColumnType;
using store::Card;

namespace {

const QVariant Null;

QVariant text(const char* s) {
    return QVariant(QString::fromUtf8(s));
}

// A small Clientes table: codes A, C, B in that stored order.
PreparedRows smallTable() {
    return PreparedRows(QStringLiteral("Clientes"),
                        {{QStringLiteral("Codigo"), ColumnType::Text},
                         {QStringLiteral("nombre_animal"), ColumnType::Text},
                         {QStringLiteral("fecha_atencion"), ColumnType::Date}},
                        {{text("A"), text("Firulais"), QDate(2005, 12, 25)},
                         {text("C"), text("Cachupín"), Null},
                         {text("B"), Null, QDate(1999, 1, 2)}});
}

std::vector<Card> storedCards(const QString& path) {
    std::vector<Card> cards;
    store::Status status;
    auto cardStore = store::CardStore::open(path, &status);
    if (!cardStore)
        return cards;
    (void)cardStore->forEachCard(store::Order::Stored, [&](store::RowId, const Card& card) {
        cards.push_back(card);
        return true;
    });
    return cards;
}

QStringList codes(const std::vector<Card>& cards) {
    QStringList list;
    for (const Card& c : cards)
        list.append(c[store::Codigo]);
    return list;
}

QByteArray checksum(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

struct Folders {
    QTemporaryDir root;
    store::Folders folders;
    Folders() {
        QDir(root.path()).mkdir(QStringLiteral("app"));
        folders.appDir = root.filePath(QStringLiteral("app"));
        folders.dataDir = root.filePath(QStringLiteral("data"));
        folders.exportDir = root.path();
    }
    QString db() const { return folders.appFile(store::kDatabaseFileName); }
    QStringList appFiles() const {
        return QDir(folders.appDir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
};

} // namespace

class TestImport : public QObject {
    Q_OBJECT

private slots:
    void mappingMatchesColumnsWithoutCase() {
        PreparedRows rows(
            QStringLiteral("CLIENTES"),
            {{QStringLiteral("CODIGO"), ColumnType::Text},
             {QStringLiteral("GrupoFam"), ColumnType::Text},
             {QStringLiteral("color"), ColumnType::Text},
             {QStringLiteral("Observaciones"), ColumnType::Text},
             {QStringLiteral("ficha_clinica"), ColumnType::Number},
             {QStringLiteral("Fecha_Nacimiento"), ColumnType::Date},
             {QStringLiteral("fecha_atencion"), ColumnType::Text},
             {QStringLiteral("Propietario"), ColumnType::Text}},
            {{text("900123"), text("  Pérez  "), text(""), text("x"), text("1234"),
              QDateTime(QDate(1899, 12, 29), QTime(6, 30)), text("2005-12-25"), Null}});
        import::CardTable table;
        QVERIFY(import::readCardTable(rows, &table).ok());
        QCOMPARE(rows.dateFormat(), QStringLiteral("dd/MM/yyyy"));
        QCOMPARE(table.cards.size(), size_t(1));
        const Card& card = table.cards[0];
        QCOMPARE(card[store::Codigo], QStringLiteral("900123"));
        QCOMPARE(card[store::GrupoFam], QStringLiteral("  Pérez  ")); // text kept exactly
        QCOMPARE(card[store::Color], QStringLiteral(""));
        QVERIFY(!card.isNull(store::Color)); // empty text stays empty, not Null
        QCOMPARE(card[store::FichaClinica], QStringLiteral("1234"));
        QCOMPARE(card[store::FechaNacimiento], QStringLiteral("29/12/1899"));
        QCOMPARE(card[store::FechaAtencion], QStringLiteral("2005-12-25")); // a text column
        QVERIFY(card.isNull(store::Propietario));
        // Columns the table lacks are Null and listed.
        QVERIFY(card.isNull(store::Lugar));
        QVERIFY(card.isNull(store::Implantador));
        QVERIFY(table.missingColumns.contains(QStringLiteral("lugar")));
        QVERIFY(!table.missingColumns.contains(QStringLiteral("Color")));
        QCOMPARE(table.missingColumns.size(), store::kFieldCount - 7);
    }

    void mappingAddress() {
        const std::vector<Column> address{{QStringLiteral("Codigo"), ColumnType::Text},
                                          {QStringLiteral("direccion"), ColumnType::Text},
                                          {QStringLiteral("numero_depto"), ColumnType::Text},
                                          {QStringLiteral("block_depto"), ColumnType::Text}};
        PreparedRows composed(QStringLiteral("Clientes"), address,
                              {{text("1"), text(" Av. Matta "), text("12"), Null},
                               {text("2"), text("Los Aromos"), text(""), text("")}});
        import::CardTable table;
        QVERIFY(import::readCardTable(composed, &table).ok());
        QCOMPARE(table.cards[0][store::DireccionCompleta], QStringLiteral("Av. Matta 12 "));
        QCOMPARE(table.cards[1][store::DireccionCompleta], QStringLiteral("Los Aromos  "));

        std::vector<Column> withFull = address;
        withFull.push_back({QStringLiteral("DIRECCION_COMPLETA"), ColumnType::Text});
        PreparedRows stored(QStringLiteral("Clientes"), withFull,
                            {{text("1"), text("Av. Matta"), text("12"), Null, text("otra cosa")},
                             {text("2"), text("Los Aromos"), Null, Null, Null}});
        QVERIFY(import::readCardTable(stored, &table).ok());
        QCOMPARE(table.cards[0][store::DireccionCompleta], QStringLiteral("otra cosa"));
        QVERIFY(table.cards[1].isNull(store::DireccionCompleta));
    }

    void mappingRefusesEmptyAndRepeatedCodes() {
        PreparedRows rows(QStringLiteral("Clientes"),
                          {{QStringLiteral("Codigo"), ColumnType::Text},
                           {QStringLiteral("nombre_animal"), ColumnType::Text}},
                          {{text("Z9"), text("uno")},
                           {text(""), text("dos")},
                           {text("A1"), text("tres")},
                           {Null, text("cuatro")},
                           {text("Z9"), text("cinco")},
                           {text("a1"), text("seis")}, // codes compare exactly
                           {text(" A1"), text("siete")}});
        import::CardTable table;
        QVERIFY(import::readCardTable(rows, &table).ok());
        QCOMPARE(table.rowsRead, 7);
        QCOMPARE(codes(table.cards), (QStringList{QStringLiteral("Z9"), QStringLiteral("A1"),
                                                  QStringLiteral("a1"), QStringLiteral(" A1")}));
        QCOMPARE(table.cards[0][store::NombreAnimal], QStringLiteral("uno")); // first one kept
        QCOMPARE(table.refused.size(), size_t(3));
        QCOMPARE(table.refused[0].row, 2);
        QVERIFY(table.refused[0].reason.contains(QStringLiteral("vacío")));
        QCOMPARE(table.refused[1].row, 4);
        QCOMPARE(table.refused[2].row, 5);
        QCOMPARE(table.refused[2].code, QStringLiteral("Z9"));
        QVERIFY(table.refused[2].reason.contains(QStringLiteral("fila 1")));
    }

    void mappingFailures() {
        import::CardTable table;
        PreparedRows noCode(QStringLiteral("Clientes"),
                            {{QStringLiteral("CodigoChip"), ColumnType::Text}}, {{text("1")}});
        const store::Status s = import::readCardTable(noCode, &table);
        QVERIFY(!s.ok());
        QVERIFY(s.message().contains(QStringLiteral("no tiene la columna Codigo")));

        PreparedRows otherTable(QStringLiteral("Customers"),
                                {{QStringLiteral("Codigo"), ColumnType::Text}}, {});
        QCOMPARE(import::readCardTable(otherTable, &table).kind(), store::ErrorKind::NotFound);

        PreparedRows broken = smallTable();
        broken.failAfter(2);
        QCOMPARE(import::readCardTable(broken, &table).kind(), store::ErrorKind::Io);
    }

    void firstStartBuildsStoreInStoredOrder() {
        Folders f;
        PreparedRows rows = smallTable();
        ScriptedMessages messages;
        QCOMPARE(import::importOnFirstStart(f.folders, rows, messages),
                 import::FirstStartImport::Imported);
        QCOMPARE(f.appFiles(), QStringList{store::kDatabaseFileName}); // no temporary left
        {
            // Other users of the machine get the same access as to any new store.
            store::Status status;
            const QString plain = f.root.filePath(QStringLiteral("plain.db"));
            QVERIFY(store::CardStore::open(plain, &status));
            QCOMPARE(QFileInfo(f.db()).permissions(), QFileInfo(plain).permissions());
        }
        const std::vector<Card> cards = storedCards(f.db());
        QCOMPARE(codes(cards),
                 (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("B")}));
        QCOMPARE(cards[0][store::FechaAtencion], QStringLiteral("25/12/2005"));
        QCOMPARE(cards[1][store::NombreAnimal], QStringLiteral("Cachupín"));
        QVERIFY(cards[1].isNull(store::FechaAtencion));
        QVERIFY(cards[2].isNull(store::NombreAnimal));
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(messages.boxes[0].icon, store::MessageLayer::Icon::Information);
        QVERIFY(messages.boxes[0].text.contains(QStringLiteral("Se importaron 3 tarjetas")));
        QVERIFY(messages.boxes[0].text.contains(
            QDir::toNativeSeparators(QStringLiteral("/datos/DAT.MDB"))));

        // Once DAT.db exists nothing is imported again.
        messages.clear();
        PreparedRows again = smallTable();
        QCOMPARE(import::importOnFirstStart(f.folders, again, messages),
                 import::FirstStartImport::NotNeeded);
        QVERIFY(messages.boxes.empty());
        QCOMPARE(storedCards(f.db()).size(), size_t(3));
    }

    void firstStartReportsRefusedRows() {
        Folders f;
        PreparedRows rows(QStringLiteral("Clientes"),
                          {{QStringLiteral("Codigo"), ColumnType::Text}},
                          {{text("1")}, {text("1")}, {text("")}});
        ScriptedMessages messages;
        QCOMPARE(import::importOnFirstStart(f.folders, rows, messages),
                 import::FirstStartImport::Imported);
        QCOMPARE(messages.boxes.size(), size_t(1));
        const QString& message = messages.boxes[0].text;
        QVERIFY(message.contains(QStringLiteral("Se importó 1 tarjeta ")));
        QVERIFY(message.contains(QStringLiteral("No se importaron 2 filas")));
        const QStringList reports = QDir(f.folders.dataDir).entryList(QDir::Files);
        QCOMPARE(reports.size(), 1);
        QVERIFY(message.contains(reports[0]));
        QFile report(f.folders.dataFile(reports[0]));
        QVERIFY(report.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString content = QString::fromUtf8(report.readAll());
        QVERIFY(content.contains(QStringLiteral("fila 2, código «1»")));
        QVERIFY(content.contains(QStringLiteral("fila 3, código «»")));
    }

    void firstStartFailuresLeaveNoStore() {
        // A read failure half-way through the table.
        {
            Folders f;
            PreparedRows rows = smallTable();
            rows.failAfter(2);
            ScriptedMessages messages;
            QCOMPARE(import::importOnFirstStart(f.folders, rows, messages),
                     import::FirstStartImport::Failed);
            QVERIFY(f.appFiles().isEmpty());
            QCOMPARE(messages.boxes.size(), size_t(1));
            QCOMPARE(messages.boxes[0].icon, store::MessageLayer::Icon::Warning);
            QVERIFY(messages.boxes[0].text.contains(QStringLiteral("está dañada")));
            QVERIFY(messages.boxes[0].text.contains(QStringLiteral("registro vacío")));
        }
        // The real Jet 3 file has no table Clientes; its name is matched without regard to case
        // and the file is left exactly as it was.
        {
            Folders f;
            const QString mdb = f.folders.appFile(QStringLiteral("dat.mdb"));
            QVERIFY(QFile::copy(testDataFile("jet3-northwind.mdb"), mdb));
            const QByteArray before = checksum(mdb);
            ScriptedMessages messages;
            QCOMPARE(import::importOnFirstStart(f.folders, messages),
                     import::FirstStartImport::Failed);
            QCOMPARE(f.appFiles(), QStringList{QStringLiteral("dat.mdb")});
            QCOMPARE(checksum(mdb), before);
            QCOMPARE(messages.boxes.size(), size_t(1));
            QVERIFY(messages.boxes[0].text.contains(QStringLiteral("no tiene la tabla Clientes")));
            QVERIFY(messages.boxes[0].text.contains(QStringLiteral("--import-mdb")));
        }
        // A DAT.MDB that is no database at all.
        {
            Folders f;
            QFile mdb(f.folders.appFile(store::kLegacyDatabaseFileName));
            QVERIFY(mdb.open(QIODevice::WriteOnly));
            mdb.write("no soy una base de datos");
            mdb.close();
            ScriptedMessages messages;
            QCOMPARE(import::importOnFirstStart(f.folders, messages),
                     import::FirstStartImport::Failed);
            QCOMPARE(f.appFiles(), QStringList{store::kLegacyDatabaseFileName});
            QVERIFY(messages.boxes[0].text.contains(QStringLiteral("no es una base de datos")));
        }
    }

    void firstStartNotNeeded() {
        Folders f;
        ScriptedMessages messages;
        QCOMPARE(import::importOnFirstStart(f.folders, messages),
                 import::FirstStartImport::NotNeeded);
        QVERIFY(f.appFiles().isEmpty());
        QVERIFY(messages.boxes.empty());
    }

    void createStoreIsAllOrNothing() {
        Folders f;
        std::vector<Card> cards(3);
        cards[0][store::Codigo] = QStringLiteral("1");
        cards[1][store::Codigo] = QStringLiteral("2");
        cards[2][store::Codigo] = QStringLiteral("1"); // refused by the store's unique index
        const store::Status s = import::createStore(f.db(), cards);
        QCOMPARE(s.kind(), store::ErrorKind::Duplicate);
        QVERIFY(f.appFiles().isEmpty());

        // An existing file is never replaced.
        QFile existing(f.db());
        QVERIFY(existing.open(QIODevice::WriteOnly));
        existing.close();
        cards.pop_back();
        QVERIFY(!import::createStore(f.db(), cards).ok());
        QCOMPARE(QFileInfo(f.db()).size(), 0);
        QCOMPARE(f.appFiles(), QStringList{store::kDatabaseFileName});
    }

    void commandAddsOnlyNewCodes() {
        Folders f;
        {
            store::Status status;
            auto cards = store::CardStore::open(f.db(), &status);
            QVERIFY(cards);
            Card existing;
            existing[store::Codigo] = QStringLiteral("C");
            existing[store::NombreAnimal] = QStringLiteral("Original");
            QVERIFY(cards->insertCard(existing, nullptr).ok());
        }
        PreparedRows rows(QStringLiteral("Clientes"),
                          {{QStringLiteral("Codigo"), ColumnType::Text},
                           {QStringLiteral("nombre_animal"), ColumnType::Text}},
                          {{text("A"), text("Nuevo")},
                           {text("C"), text("Cambiado")},
                           {text(""), text("Sin código")},
                           {text("B"), text("Otro")}});
        QString output;
        QTextStream out(&output);
        const QDateTime now(QDate(2024, 3, 1), QTime(10, 0));
        QCOMPARE(import::runImportCommand(f.folders, rows, out, now), 0);
        const std::vector<Card> cards = storedCards(f.db());
        QCOMPARE(codes(cards),
                 (QStringList{QStringLiteral("C"), QStringLiteral("A"), QStringLiteral("B")}));
        QCOMPARE(cards[0][store::NombreAnimal], QStringLiteral("Original"));
        QVERIFY(output.contains(QStringLiteral("Tarjetas importadas: 2\n")));
        QVERIFY(output.contains(QStringLiteral("código ya existe: 1\n")));
        QVERIFY(output.contains(QStringLiteral("Filas rechazadas: 1\n")));
        QVERIFY(output.contains(QStringLiteral("fila 3, código «»: el código está vacío")));

        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("rechazados: «(.*)»")).match(output);
        QVERIFY(match.hasMatch());
        const QString reportPath = QDir::fromNativeSeparators(match.captured(1));
        QCOMPARE(QFileInfo(reportPath).absolutePath(),
                 QFileInfo(f.folders.dataDir).absoluteFilePath());
        QFile report(reportPath);
        QVERIFY(report.open(QIODevice::ReadOnly | QIODevice::Text));
        const QString content = QString::fromUtf8(report.readAll());
        QVERIFY(content.contains(QStringLiteral("ya existen en el registro (1):\nC\n")));
        QVERIFY(content.contains(QStringLiteral("Filas rechazadas (1):\nfila 3")));

        // The same import again in the same second: nothing added, a second report beside the
        // first.
        PreparedRows again = rows;
        output.clear();
        QCOMPARE(import::runImportCommand(f.folders, again, out, now), 0);
        QVERIFY(output.contains(QStringLiteral("Tarjetas importadas: 0\n")));
        QVERIFY(output.contains(QStringLiteral("código ya existe: 3\n")));
        QCOMPARE(storedCards(f.db()).size(), size_t(3));
        QCOMPARE(QDir(f.folders.dataDir).entryList(QDir::Files).size(), 2);
    }

    void commandCreatesMissingStore() {
        Folders f;
        PreparedRows rows = smallTable();
        QString output;
        QTextStream out(&output);
        QCOMPARE(import::runImportCommand(f.folders, rows, out), 0);
        QCOMPARE(codes(storedCards(f.db())),
                 (QStringList{QStringLiteral("A"), QStringLiteral("C"), QStringLiteral("B")}));
        QCOMPARE(f.appFiles(), QStringList{store::kDatabaseFileName});
    }

    void commandFailuresChangeNothing() {
        Folders f;
        {
            store::Status status;
            auto cards = store::CardStore::open(f.db(), &status);
            Card existing;
            existing[store::Codigo] = QStringLiteral("X");
            QVERIFY(cards->insertCard(existing, nullptr).ok());
        }
        const QByteArray before = checksum(f.db());
        QString output;
        QTextStream out(&output);
        QCOMPARE(import::runImportCommand(f.folders, testDataFile("jet3-northwind.mdb"), out), 1);
        QVERIFY(output.contains(QStringLiteral("no tiene la tabla Clientes")));
        QVERIFY(output.contains(QStringLiteral("No se importó ninguna tarjeta")));

        PreparedRows broken = smallTable();
        broken.failAfter(1);
        output.clear();
        QCOMPARE(import::runImportCommand(f.folders, broken, out), 1);
        QVERIFY(output.contains(QStringLiteral("está dañada")));
        QCOMPARE(checksum(f.db()), before);
        QVERIFY(!QFileInfo::exists(f.folders.dataDir) ||
                QDir(f.folders.dataDir).entryList(QDir::Files).isEmpty());

        // Without a store, a failed import leaves none behind.
        Folders empty;
        QCOMPARE(import::runImportCommand(empty.folders, testDataFile("jet3-northwind.mdb"), out),
                 1);
        QVERIFY(empty.appFiles().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestImport)
#include "test_import.moc"
