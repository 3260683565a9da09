#include "MdbReader.h"
#include "TestData.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using import::ColumnType;
using import::MdbReader;
using import::Row;

namespace {

std::vector<Row> readAll(MdbReader& reader, const QString& table) {
    std::vector<Row> rows;
    const store::Status opened = reader.openTable(table);
    if (!opened) {
        qWarning("%s", qUtf8Printable(opened.message()));
        return rows;
    }
    Row row;
    store::Status status;
    while (reader.next(&row, &status))
        rows.push_back(row);
    if (!status)
        qWarning("%s", qUtf8Printable(status.message()));
    return rows;
}

// mdb-export's CSV: a quoted value is text (possibly empty), an unquoted empty value is Null.
std::vector<Row> parseExport(const QString& csv) {
    std::vector<Row> rows;
    Row row;
    QString value;
    bool quoted = false, inQuotes = false, any = false;
    auto endValue = [&] {
        row.push_back(quoted ? value : (value.isEmpty() ? QString() : value));
        value = QStringLiteral("");
        quoted = false;
    };
    for (qsizetype i = 0; i < csv.size(); ++i) {
        const QChar c = csv[i];
        if (inQuotes) {
            if (c == u'"' && i + 1 < csv.size() && csv[i + 1] == u'"') {
                value += u'"';
                ++i;
            } else if (c == u'"') {
                inQuotes = false;
            } else {
                value += c;
            }
        } else if (c == u'"') {
            inQuotes = quoted = any = true;
        } else if (c == u',') {
            endValue();
        } else if (c == u'\n') {
            endValue();
            rows.push_back(row);
            row.clear();
            any = false;
        } else {
            value += c;
            any = true;
        }
    }
    if (any)
        endValue(), rows.push_back(row);
    return rows;
}

} // namespace

class TestMdbReader : public QObject {
    Q_OBJECT

private slots:
    void jet3TextMatchesMdbExport() {
        MdbReader reader(testDataFile("jet3-northwind.mdb"));
        const std::vector<Row> rows = readAll(reader, QStringLiteral("customers"));
        QCOMPARE(rows.size(), size_t(91));
        QCOMPARE(reader.columns().size(), size_t(11));
        QCOMPARE(reader.columns()[0].name, QStringLiteral("CustomerID"));
        for (const import::Column& c : reader.columns())
            QCOMPARE(c.type, ColumnType::Text);

        // Known values: non-ASCII text intact, Null apart from empty text.
        QCOMPARE(rows[0][0], QStringLiteral("ALFKI"));
        QVERIFY(rows[0][6].isNull());
        QCOMPARE(rows[1][4], QStringLiteral("Avda. de la Constitución 2222"));
        QCOMPARE(rows[1][5], QStringLiteral("México D.F."));
        QCOMPARE(rows[4][5], QStringLiteral("Luleå"));
        QCOMPARE(rows[4][4], QStringLiteral("Berguvsvägen  8"));
        QVERIFY(rows[2][10].isNull());
        QVERIFY(!rows[2][9].isNull());

        // Every row and column against mdbtools' own exporter.
        const QString exporter = QStandardPaths::findExecutable(QStringLiteral("mdb-export"));
        if (exporter.isEmpty())
            QSKIP("mdb-export is not installed");
        QProcess process;
        process.start(exporter, {testDataFile("jet3-northwind.mdb"), QStringLiteral("Customers")});
        QVERIFY(process.waitForFinished(30000));
        QCOMPARE(process.exitCode(), 0);
        std::vector<Row> expected = parseExport(QString::fromUtf8(process.readAllStandardOutput()));
        QCOMPARE(expected.front().front(), QStringLiteral("CustomerID"));
        expected.erase(expected.begin());
        QCOMPARE(rows.size(), expected.size());
        for (size_t r = 0; r < rows.size(); ++r) {
            QCOMPARE(rows[r].size(), expected[r].size());
            for (size_t c = 0; c < rows[r].size(); ++c) {
                QCOMPARE(rows[r][c].isNull(), expected[r][c].isNull());
                QCOMPARE(rows[r][c], expected[r][c]);
            }
        }
    }

    void jet4DatesIncludingFarYears() {
        MdbReader reader(testDataFile("jet4-dates.mdb"));
        reader.setDateFormat(QStringLiteral("dd/MM/yyyy"));
        const std::vector<Row> rows = readAll(reader, QStringLiteral("DateTest"));
        QCOMPARE(rows.size(), size_t(6));
        QCOMPARE(reader.columns()[1].type, ColumnType::Date);
        QCOMPARE(reader.columns()[0].type, ColumnType::Number);
        const QStringList expected[] = {
            {QStringLiteral("1"), QStringLiteral("02/12/2021"), QStringLiteral("02/12/2021"),
             QStringLiteral("02/12/2021")},
            {QStringLiteral("2"), QStringLiteral("01/01/9999"), QStringLiteral("01/01/9999"),
             QStringLiteral("01/01/9999")},
            {QStringLiteral("3"), QStringLiteral("01/01/1898"), QStringLiteral("01/01/1899"),
             QStringLiteral("01/01/1900")},
            {QStringLiteral("4"), QStringLiteral("01/01/0632"), QStringLiteral("01/01/0633"),
             QStringLiteral("01/01/0634")},
        };
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < 4; ++c)
                QCOMPARE(rows[r][c], expected[r][c]);
        }
        QCOMPARE(rows[2][4], QStringLiteral("Pre-1900 years"));
        QVERIFY(rows[5][4].startsWith(QStringLiteral("New line")));
        QVERIFY(rows[5][4].contains(u'\n'));

        reader.setDateFormat(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        const std::vector<Row> again = readAll(reader, QStringLiteral("DateTest"));
        QCOMPARE(again[0][1], QStringLiteral("2021-12-02 00:00:00"));
    }

    void jetDateConversion() {
        using import::jetDateTime;
        QCOMPARE(jetDateTime(0.0), QDateTime(QDate(1899, 12, 30), QTime(0, 0)));
        QCOMPARE(jetDateTime(38711.5), QDateTime(QDate(2005, 12, 25), QTime(12, 0)));
        // Before 1899-12-30 the fraction still counts forward from midnight.
        QCOMPARE(jetDateTime(-1.25), QDateTime(QDate(1899, 12, 29), QTime(6, 0)));
        QCOMPARE(jetDateTime(2958465.0), QDateTime(QDate(9999, 12, 31), QTime(0, 0)));
        // A time a hair before midnight rounds into the next day, not to 24:00.
        QCOMPARE(jetDateTime(1.9999999999), QDateTime(QDate(1900, 1, 1), QTime(0, 0)));
    }

    void missingTable() {
        MdbReader reader(testDataFile("jet3-northwind.mdb"));
        const store::Status s = reader.openTable(QStringLiteral("Clientes"));
        QCOMPARE(s.kind(), store::ErrorKind::NotFound);
        QVERIFY(s.message().contains(QStringLiteral("no tiene la tabla Clientes")));
        QVERIFY(s.message().contains(QStringLiteral("jet3-northwind.mdb")));
        Row row;
        store::Status status;
        QVERIFY(!reader.next(&row, &status));
        QVERIFY(!status.ok());
        // Table names are matched without regard to case, non-ASCII letters included.
        QVERIFY(reader.openTable(QStringLiteral("UMSÄTZE")).ok());
        QVERIFY(!reader.columns().empty());
    }

    void notADatabase_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text") << QByteArray("Codigo;Nombre\r\n123;Firulais\r\n");
        QTest::newRow("empty") << QByteArray();
        // mdbtools alone would take a page of zeros for a Jet 3 file.
        QTest::newRow("zeros") << QByteArray(4096, '\0');
        QTest::newRow("sqlite") << QByteArray("SQLite format 3\0", 16) + QByteArray(4080, '\0');
    }
    void notADatabase() {
        QFETCH(QByteArray, content);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("DAT.MDB"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        MdbReader reader(path);
        const store::Status s = reader.openTable(QStringLiteral("Clientes"));
        QCOMPARE(s.kind(), store::ErrorKind::NotADatabase);
        QVERIFY(s.message().contains(QStringLiteral("no es una base de datos")));

        MdbReader missing(dir.filePath(QStringLiteral("otro.mdb")));
        QCOMPARE(missing.openTable(QStringLiteral("Clientes")).kind(),
                 store::ErrorKind::CannotOpen);
    }
};

QTEST_GUILESS_MAIN(TestMdbReader)
#include "test_mdbreader.moc"
