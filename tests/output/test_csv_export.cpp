#include "CardStore.h"
#include "Clock.h"
#include "CsvExport.h"
#include "Folders.h"
#include "ScriptedMessages.h"
#include "TestRegistry.h"
#include "TextCodec.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#ifdef Q_OS_UNIX
#include <sys/resource.h>
#endif

using store::Card;
using store::Field;
using Answer = store::MessageLayer::Answer;

namespace {

// A device that accepts `limit` bytes and then fails every write, like a full disk.
class FailDevice : public QIODevice {
public:
    explicit FailDevice(qint64 limit) : limit_(limit) {}

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char*, qint64 len) override {
        if (written_ + len > limit_) {
            setErrorString(QStringLiteral("disco lleno"));
            return -1;
        }
        written_ += len;
        return len;
    }

private:
    qint64 limit_;
    qint64 written_ = 0;
};

Card makeCard(std::initializer_list<std::pair<Field, QString>> values) {
    Card c;
    for (const auto& [f, v] : values)
        c[f] = v;
    return c;
}

const QByteArray kCompleteHeader =
    "MICROCHIP;FECHA IMPLANTE;LUGAR;N\xBA FICHA;NOMBRE MASCOTA;F.NAC;ESPECIE;RAZA;COLOR;SEXO;"
    "ESTADO REPROD.;TAMA\xD1O;GRUPO FAM.;PROPIETARIO;RUT;TELEFONO;CEL;DIRECCION;N\xB0;DEPTO/BLOCK;"
    "E-MAIL;CONTACTO ALTERNO;TEL CONTACTO\r\n";
const QByteArray kShortHeader =
    "MICROCHIP;FECHA IMPLANTE;LUGAR;N\xBA FICHA;NOMBRE MASCOTA;F.NAC;ESPECIE;RAZA;COLOR;SEXO;"
    "ESTADO REPROD.;TAMA\xD1O;GRUPO FAM.;IMPLANTADOR\r\n";

} // namespace

class TestCsvExport : public QObject {
    Q_OBJECT

private:
    QTemporaryDir tmp_;
    std::unique_ptr<store::CardStore> store_;
    store::Folders folders_;
    store::FixedClock clock_{QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7))};
    ScriptedMessages messages_;

    void openStore(const QString& name) {
        store::Status st;
        store_ = store::CardStore::open(test_registry::registryAt(tmp_.filePath(name)), &st);
        QVERIFY2(store_, qPrintable(st.message()));
    }
    void insert(const Card& c) {
        store::RowId id;
        const store::Status st = store_->insertCard(c, &id);
        QVERIFY2(st.ok(), qPrintable(st.message()));
    }
    QByteArray exported(output::ExportKind kind) {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QString error;
        if (!output::writeCsv(*store_, kind, &buffer, &error))
            qWarning() << error;
        return buffer.data();
    }
    QStringList exportFiles() const {
        return QDir(folders_.exportDir).entryList(QDir::Files | QDir::Hidden);
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    void init() {
        QVERIFY(tmp_.isValid());
        messages_.clear();
        folders_.appDir = tmp_.path();
        folders_.exportDir = tmp_.filePath(
            QStringLiteral("export-%1").arg(QLatin1StringView(QTest::currentTestFunction())));
        QVERIFY(QDir().mkpath(folders_.exportDir));
        openStore(QStringLiteral("%1 %2.db")
                      .arg(QLatin1StringView(QTest::currentTestFunction()),
                           QLatin1StringView(QTest::currentDataTag())));
    }

    // Both kinds byte for byte, into a buffer and through the command into the export folder.
    void bothKindsByteForByte() {
        // Null values, the sex letters and the Windows-1252 characters of names and places.
        // Every field in record order; "~" stands for Null.
        const QStringList full =
            QStringLiteral("152000000000001|25/12/2005|Ñuñoa|F-1|Canelo|01/02/"
                           "2003|Canino|Quiltro|Café|M|Entero|"
                           "Mediano|Pérez|José Pérez|12.345.678-5|221234567|+56 9 8765 4321|Av. "
                           "Grecia|123|B|~|"
                           "Ana|555|Dra. Muñoz|Av. Grecia 123 B")
                .split(u'|');
        Card first;
        for (int i = 0; i < store::kFieldCount; ++i)
            first[Field(i)] = full[i] == u"~" ? QString() : full[i];
        insert(first);
        insert(
            makeCard({{Field::Codigo, QStringLiteral("2")}, {Field::Sexo, QStringLiteral("m")}}));
        insert(
            makeCard({{Field::Codigo, QStringLiteral("3")}, {Field::Sexo, QStringLiteral("H")}}));
        insert(makeCard({{Field::Codigo, QStringLiteral("4")},
                         {Field::Sexo, QStringLiteral("")},
                         {Field::Lugar, QStringLiteral(" con espacios ")}}));
        insert(makeCard({{Field::Codigo, QStringLiteral("5")}}));

        const QByteArray complete =
            kCompleteHeader +
            "152000000000001;25/12/2005;\xD1u\xF1oa;F-1;Canelo;01/02/2003;Canino;Quiltro;Caf\xE9;"
            "Macho;Entero;Mediano;P\xE9rez;Jos\xE9 P\xE9rez;12.345.678-5;221234567;+56 9 8765 4321;"
            "Av. Grecia;123;B;;Ana;555\r\n"
            "2;;;;;;;;;Hembra;;;;;;;;;;;;;\r\n"
            "3;;;;;;;;;Hembra;;;;;;;;;;;;;\r\n"
            "4;; con espacios ;;;;;;;Hembra;;;;;;;;;;;;;\r\n"
            "5;;;;;;;;;Hembra;;;;;;;;;;;;;\r\n";
        const QByteArray withoutOwner =
            kShortHeader +
            "152000000000001;25/12/2005;\xD1u\xF1oa;F-1;Canelo;01/02/2003;Canino;Quiltro;Caf\xE9;"
            "Macho;Entero;Mediano;P\xE9rez;Dra. Mu\xF1oz\r\n"
            "2;;;;;;;;;Hembra;;;;\r\n"
            "3;;;;;;;;;Hembra;;;;\r\n"
            "4;; con espacios ;;;;;;;Hembra;;;;\r\n"
            "5;;;;;;;;;Hembra;;;;\r\n";

        QCOMPARE(exported(output::ExportKind::Complete), complete);
        QCOMPARE(exported(output::ExportKind::WithoutOwner), withoutOwner);

        const struct {
            Answer answer;
            QString file;
            QString done;
            QByteArray bytes;
        } runs[] = {
            {Answer::Yes, QStringLiteral("Exporta Datos Completos_6.12.2026 9.5.7.CSV"),
             QStringLiteral("EXPORTACION DE DATOS COMPLETA"), complete},
            {Answer::No, QStringLiteral("Exporta Datos Sin Propietario_6.12.2026 9.5.7.CSV"),
             QStringLiteral("EXPORTACION DE DATOS SIN PROPIETARIO"), withoutOwner},
        };
        for (const auto& run : runs) {
            messages_.clear();
            messages_.queue(run.answer);
            const QString path = output::exportCommand(*store_, folders_, clock_, messages_);
            QCOMPARE(path, QDir(folders_.exportDir).filePath(run.file));
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), run.bytes);

            QCOMPARE(messages_.boxes.size(), size_t(2));
            const auto& question = messages_.boxes[0];
            QCOMPARE(question.kind, ScriptedMessages::Kind::YesNoCancel);
            QCOMPARE(question.text, QStringLiteral("Exporta datos completos ?"));
            QCOMPARE(question.title, QStringLiteral("Exporta a Excel"));
            QCOMPARE(messages_.boxes[1].kind, ScriptedMessages::Kind::Notice);
            QCOMPARE(messages_.boxes[1].text,
                     run.done + QStringLiteral("\r\n\r\nArchivo generado en:\r\n") +
                         QDir::toNativeSeparators(path));
        }
        QCOMPARE(exportFiles().size(), 2);

        // The export leaves the store's cursors alone: a seek by code still finds its card.
        auto cursor = store_->openTable();
        cursor->setIndex(store::kPrimaryKey);
        QVERIFY(cursor->seek(QStringLiteral("3")).ok());
        QVERIFY(!cursor->noMatch());
        QVERIFY(cursor->remove().ok());
        QCOMPARE(store_->recordCount(), 4);
    }

    // A value holding a separator, a quote or a line break is quoted; characters outside
    // Windows-1252 become '?'; a second export within the same second replaces the first.
    void valuesThatNeedCare() {
        insert(makeCard({{Field::Codigo, QStringLiteral("1")},
                         {Field::NombreAnimal, QStringLiteral("Tom;Jerry")},
                         {Field::Raza, QStringLiteral("dice \"hola\"")},
                         {Field::Color, QStringLiteral("negro\r\nblanco")},
                         {Field::Especie, QStringLiteral("Gato 😺 € Ω")}}));
        const QByteArray expected = kShortHeader +
                                    "1;;;;\"Tom;Jerry\";;Gato ? \x80 ?;\"dice \"\"hola\"\"\";"
                                    "\"negro\r\nblanco\";Hembra;;;;\r\n";
        QCOMPARE(exported(output::ExportKind::WithoutOwner), expected);

        messages_.queue(Answer::No);
        const QString first = output::exportCommand(*store_, folders_, clock_, messages_);
        insert(makeCard({{Field::Codigo, QStringLiteral("2")}}));
        messages_.queue(Answer::No);
        const QString second = output::exportCommand(*store_, folders_, clock_, messages_);
        QCOMPARE(second, first);
        QFile file(second);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), expected + "2;;;;;;;;;Hembra;;;;\r\n");
        QCOMPARE(exportFiles(), QStringList{QFileInfo(second).fileName()});
    }

    // Values a spreadsheet would run as formulas get an apostrophe in both writers; numbers,
    // telephones, dates and R.U.T.s stay byte for byte.
    void formulasOpenAsText_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QByteArray>("written");
        const auto row = [](const char* name, const QString& value, const QByteArray& written) {
            QTest::newRow(name) << value << written;
        };
        row("equals", QStringLiteral("=1+1"), "'=1+1");
        row("hyperlink", QStringLiteral("=HYPERLINK(\"http://x.cl\";\"Ver\")"),
            "\"'=HYPERLINK(\"\"http://x.cl\"\";\"\"Ver\"\")\"");
        row("at", QStringLiteral("@SUM(1+1)*cmd|' /C calc'!A0"), "'@SUM(1+1)*cmd|' /C calc'!A0");
        row("minus then formula", QStringLiteral("-2+3+cmd|' /C calc'!A0"),
            "'-2+3+cmd|' /C calc'!A0");
        row("plus then name", QStringLiteral("+A1"), "'+A1");
        row("minus then accent", QStringLiteral("-Ñuñoa"), "'-\xD1u\xF1oa");
        row("tab", QStringLiteral("\t=1"), "'\t=1");
        row("carriage return", QStringLiteral("\r=1"), "\"'\r=1\"");
        row("mobile", QStringLiteral("+56 9 8765 4321"), "+56 9 8765 4321");
        row("mobile, digits only", QStringLiteral("+56912345678"), "+56912345678");
        row("land line", QStringLiteral("+56 (2) 2222 1111"), "+56 (2) 2222 1111");
        row("negative", QStringLiteral("-12,5"), "-12,5");
        row("negative decimal", QStringLiteral("-.5"), "-.5");
        row("dash alone", QStringLiteral("-"), "-");
        row("date", QStringLiteral("05/03/2020"), "05/03/2020");
        row("rut", QStringLiteral("12.345.678-5"), "12.345.678-5");
        row("equals inside", QStringLiteral("a=b"), "a=b");
        // An import that trims spaces would run these.
        row("space first", QStringLiteral(" =1"), "' =1");
        row("spaces then sign", QStringLiteral("  +A1"), "'  +A1");
        row("blanks only", QStringLiteral("   "), "   ");
        // A spreadsheet keeps telephones with dashes as text.
        row("mobile with dash", QStringLiteral("+56 9 8765-4321"), "+56 9 8765-4321");
        row("land line with dashes", QStringLiteral("+56-2-2222-1111"), "+56-2-2222-1111");
        // Long values, where what asks for quotes or another byte lies past the first words.
        row("separator late", QStringLiteral("Los Aromos 1234;B"), "\"Los Aromos 1234;B\"");
        row("accent late", QStringLiteral("Avenida Ñuble 123"), "Avenida \xD1uble 123");
        row("quote late", QStringLiteral("Pasaje 12345678\"9\""), "\"Pasaje 12345678\"\"9\"\"\"");
        row("line break late", QStringLiteral("ABCDEFGHIJKLMNOP\nQ"), "\"ABCDEFGHIJKLMNOP\nQ\"");
        row("umlaut last", QStringLiteral("0123456789abcdef~ü"), "0123456789abcdef~\xFC");
    }
    void formulasOpenAsText() {
        QFETCH(QString, value);
        QFETCH(QByteArray, written);
        const Card card = makeCard({{Field::Codigo, QStringLiteral("1")},
                                    {Field::NombreAnimal, value},
                                    {Field::Raza, value}});
        const QByteArray line = "1;;;;" + written + ";;;" + written + ";;Hembra;;;;\r\n";
        QCOMPARE(output::csvLine(card, output::ExportKind::WithoutOwner), line);
        insert(card);
        QCOMPARE(exported(output::ExportKind::WithoutOwner), kShortHeader + line);
    }

    // Enough cards for several chunks, every byte in stored order.
    void manyCardsInStoredOrder() {
        // Test data needs no durability.
        QSqlQuery(store_->database()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
        QByteArray expected = kCompleteHeader;
        const QString filler = QStringLiteral("Población Ñielol \"%1\"; ").repeated(30);
        for (int i = 0; i < 3000; ++i) {
            // Codes out of order, so stored order and code order differ.
            const QString code = QString::number(999999 - i * 7 % 1000 * 1000 - i);
            insert(makeCard({{Field::Codigo, code},
                             {Field::Direccion, filler.arg(i)},
                             {Field::Sexo, i % 2 ? QStringLiteral("M") : QString()}}));
            QString quotedFiller = filler.arg(i);
            quotedFiller.replace(u'"', QStringLiteral("\"\""));
            expected += code.toLatin1() + ";;;;;;;;;" + (i % 2 ? "Macho" : "Hembra") + ";;;;;;;;" +
                        store::toWindows1252(QString(u'"' + quotedFiller + u'"')) + ";;;;;\r\n";
        }
        QVERIFY(expected.size() > 2 * 1024 * 1024);
        QCOMPARE(exported(output::ExportKind::Complete), expected);
    }

    void cancelAndEmptyTableWriteNothing() {
        messages_.queue(Answer::Cancel); // never asked: the table is empty
        QVERIFY(output::exportCommand(*store_, folders_, clock_, messages_).isEmpty());
        QCOMPARE(messages_.texts(), QStringList{QStringLiteral("Sin datos para exportar")});
        QCOMPARE(messages_.boxes[0].kind, ScriptedMessages::Kind::Notice);

        insert(makeCard({{Field::Codigo, QStringLiteral("1")}}));
        messages_.clear();
        messages_.queue(Answer::Cancel);
        QVERIFY(output::exportCommand(*store_, folders_, clock_, messages_).isEmpty());
        QCOMPARE(messages_.texts(), QStringList{QStringLiteral("Exporta datos completos ?")});
        QVERIFY(exportFiles().isEmpty());
    }

    void failuresReportedWithNothingLeftBehind() {
        // More cards than the batches that may wait between reading and writing hold.
        for (int i = 0; i < 40; ++i)
            insert(makeCard({{Field::Codigo, QString::number(i)},
                             {Field::NombreAnimal, QString(300000, QChar(u'a' + i % 26))}}));

        // The writer stops at the first failed write and says why; the reading stops with it.
        {
            FailDevice device(100);
            QVERIFY(device.open(QIODevice::WriteOnly));
            QString error;
            QVERIFY(!output::writeCsv(*store_, output::ExportKind::Complete, &device, &error));
            QVERIFY2(error.contains(QStringLiteral("disco lleno")), qPrintable(error));
        }

        // An export folder below a regular file cannot exist, not even for root.
        const QString plainFile = tmp_.filePath(QStringLiteral("plain-file"));
        {
            QFile f(plainFile);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        store::Folders broken = folders_;
        broken.exportDir = plainFile + QStringLiteral("/sub");
        messages_.queue(Answer::Yes);
        QVERIFY(output::exportCommand(*store_, broken, clock_, messages_).isEmpty());
        QCOMPARE(messages_.boxes.size(), size_t(2));
        const QString text = messages_.boxes[1].text;
        QVERIFY2(text.startsWith(QStringLiteral("No se pudieron exportar los datos")),
                 qPrintable(text));
        QVERIFY2(text.contains(QDir::toNativeSeparators(broken.exportDir)), qPrintable(text));

#ifdef Q_OS_UNIX
        // A write that fails half-way (the file size limit, which Windows lacks, stands in for a
        // full disk) leaves neither the temporary file nor a partial export.
        messages_.clear();
        messages_.queue(Answer::Yes);
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit small = saved;
        small.rlim_cur = 1024;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const QString path = output::exportCommand(*store_, folders_, clock_, messages_);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &saved), 0);
        QVERIFY2(path.isEmpty(), qPrintable(messages_.texts().join(u'|')));
        QCOMPARE(messages_.boxes.size(), size_t(2));
        QVERIFY2(messages_.boxes[1].text.contains(QStringLiteral("Exporta Datos Completos_")) &&
                     messages_.boxes[1].text.contains(QStringLiteral("No se pudo escribir")),
                 qPrintable(messages_.boxes[1].text));
        QCOMPARE(exportFiles(), QStringList());
#endif

        // With room again the same export succeeds.
        messages_.clear();
        messages_.queue(Answer::Yes);
        QVERIFY(!output::exportCommand(*store_, folders_, clock_, messages_).isEmpty());
        QCOMPARE(exportFiles().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestCsvExport)
#include "test_csv_export.moc"
