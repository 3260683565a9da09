#include "WebCard.h"
#include "WebCardBytes.h"

#include <QBuffer>
#include <QTest>

Q_DECLARE_METATYPE(intake::RecordError)

using namespace store;

namespace {

// Hands over `limit` bytes, then fails, like a file on a disk that stops answering.
class FailingDevice : public QIODevice {
public:
    FailingDevice(QByteArray data, qint64 limit) : data_(std::move(data)), limit_(limit) {
        open(QIODevice::ReadOnly);
    }

protected:
    qint64 readData(char* out, qint64 max) override {
        if (pos_ >= limit_) {
            setErrorString(QStringLiteral("error de E/S"));
            return -1;
        }
        const qint64 n = std::min(max, limit_ - pos_);
        memcpy(out, data_.constData() + pos_, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray data_;
    qint64 limit_;
    qint64 pos_ = 0;
};

} // namespace

class TestWebCard : public QObject {
    Q_OBJECT

    static QByteArray withSeparators(WebCardBytes web, char separator) {
        for (int at : {10, 41, 67, 118, 169, 180, 201, 232, 243, 259, 310, 321, 372, 423, 474, 490,
                       521, 572, 588})
            web.at(at, QByteArray(1, separator));
        return web.bytes();
    }

private slots:
    void fieldsAtTheirOffsetsWithFiller() {
        // The record layout as the web writes it, independent of the field table.
        const struct {
            Field field;
            int offset, width;
        } layout[] = {{FechaAtencion, 0, 10},     {Lugar, 11, 30},        {NombreAnimal, 68, 50},
                      {FechaNacimiento, 170, 10}, {Especie, 181, 20},     {Raza, 202, 30},
                      {EReproductivo, 244, 15},   {Propietario, 260, 50}, {Rut, 311, 10},
                      {Direccion, 322, 50},       {NumeroDepto, 373, 50}, {BlockDepto, 424, 50},
                      {Telefono1, 475, 15},       {Email, 491, 30},       {Contacto, 522, 50},
                      {Telefono2, 573, 15},       {Implantador, 589, 50}};
        WebCardBytes web('_');
        web.at(42, "CHIP").at(67, "|").at(233, "Macho").at(243, "|");
        web.at(119, QByteArray(50, 'X')).at(169, "|");
        for (const auto& l : layout)
            web.at(l.offset, QByteArray("v").append(QByteArray::number(l.offset)))
                .at(l.offset + l.width, "|");
        web.at(639, "\r\n");
        const intake::WebRecord r = intake::readRecord(web.bytes());
        QVERIFY(r.ok());
        for (const auto& l : layout) {
            const QString value = u'v' + QString::number(l.offset);
            QCOMPARE(r.card[l.field], value + QString(l.width - value.size(), u'_'));
        }
        // Only spaces and NULs are trimmed from the code; other filler stays.
        QCOMPARE(r.card[Codigo], QStringLiteral("CHIP_____________________"));
        for (Field f : {FichaClinica, Color, Tamano, GrupoFam, Cel, DireccionCompleta})
            QVERIFY(r.card.isNull(f));
    }

    // Each rule of a record's shape: which byte fails first, and what a record that passes holds.
    void recordShape_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<intake::RecordError>("error");
        QTest::addColumn<int>("errorAt");
        using E = intake::RecordError;
        const auto card = [](char filler = ' ') {
            return WebCardBytes(filler).set(Codigo, "985112").set(Lugar, "Clinica Sur");
        };
        QTest::newRow("space separators") << card().bytes() << E::None << -1;
        QTest::newRow("bar separators") << withSeparators(card(), '|') << E::None << -1;
        QTest::newRow("NUL filler, bar separators")
            << withSeparators(card('\0'), '|') << E::None << -1;
        QTest::newRow("one separator differs")
            << card().at(169, "|").bytes() << E::Separators << 169;
        QTest::newRow("last separator differs")
            << card().at(588, "\t").bytes() << E::Separators << 588;
        QTest::newRow("first separator differs")
            << card().at(10, "|").bytes() << E::Separators << 41;
        QTest::newRow("record one byte late")
            << QByteArray(" ").append(card().set(FechaAtencion, "15/06/2024").bytes().left(640))
            << E::Separators << 41;
        QTest::newRow("code of NULs")
            << card().set(Codigo, QByteArray(25, '\0')).bytes() << E::EmptyCode << 42;
        QTest::newRow("code of spaces")
            << card().set(Codigo, QByteArray(25, ' ')).bytes() << E::EmptyCode << 42;
        QTest::newRow("control in code") << card()
                                                .set(Codigo, "98\x01"
                                                             "5")
                                                .bytes()
                                         << E::CodeNotPrintable << 44;
        QTest::newRow("NUL inside code") << card()
                                                .set(Codigo, QByteArray("98\0"
                                                                        "5",
                                                                        4))
                                                .bytes()
                                         << E::CodeNotPrintable << 44;
        QTest::newRow("soft hyphen in code") << card()
                                                    .set(Codigo, "98\xad"
                                                                 "5")
                                                    .bytes()
                                             << E::CodeNotPrintable << 44;
        QTest::newRow("byte that is no character")
            << card().set(Lugar, "Cl\x81nica").bytes() << E::ValueNotText << 13;
        QTest::newRow("tab in a value")
            << card().set(Propietario, "Ana\tPaz").bytes() << E::ValueNotText << 263;
        QTest::newRow("control in the sex word")
            << card().set(Sexo, "Mac\x02ho").bytes() << E::ValueNotText << 236;
    }
    void recordShape() {
        QFETCH(QByteArray, bytes);
        QFETCH(intake::RecordError, error);
        QFETCH(int, errorAt);
        const intake::WebRecord r = intake::readRecord(bytes);
        QCOMPARE(r.error, error);
        QCOMPARE(r.errorAt, errorAt);
        if (r.ok()) {
            QCOMPARE(r.card[Codigo], QStringLiteral("985112"));
            // NUL filler is stored as spaces, the value keeping its width.
            QCOMPARE(r.card[Lugar], QStringLiteral("Clinica Sur").leftJustified(30, u' '));
            QCOMPARE(r.card[Implantador], QString(50, u' '));
        } else {
            QVERIFY(r.card[Codigo].isNull());
            QVERIFY(!intake::refusalReason(bytes, r, 0).isEmpty());
        }
    }

    void sexWord_data() {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QString>("sexo");
        QTest::newRow("Macho and spaces") << QByteArray("Macho     ") << QStringLiteral("M");
        QTest::newRow("spaces around") << QByteArray("  Macho") << QStringLiteral("M");
        QTest::newRow("lower case") << QByteArray("macho") << QStringLiteral("H");
        QTest::newRow("Hembra") << QByteArray("Hembra") << QStringLiteral("H");
        QTest::newRow("blanks") << QByteArray("          ") << QStringLiteral("H");
        QTest::newRow("NUL filler") << QByteArray("Macho\0\0\0\0\0", 10) << QStringLiteral("M");
        QTest::newRow("NULs before") << QByteArray("\0\0Macho \0\0", 10) << QStringLiteral("M");
    }
    void sexWord() {
        QFETCH(QByteArray, word);
        QFETCH(QString, sexo);
        QCOMPARE(
            intake::readRecord(WebCardBytes().set(Codigo, "1").set(Sexo, word).bytes()).card[Sexo],
            sexo);
    }

    void codePlaceAndText() {
        const QByteArray place30 = "Clinica Veterinaria Los Andes1";
        const intake::WebRecord r =
            intake::readRecord(WebCardBytes()
                                   .set(Codigo, "   985 112  ")
                                   .set(Lugar, place30)
                                   .set(NombreAnimal, "Pe\xf1i\xe1 N\xba 2 \x80")
                                   .bytes());
        QCOMPARE(r.card[Codigo], QStringLiteral("985 112"));
        QCOMPARE(r.card[Lugar], QString::fromLatin1(place30));
        QCOMPARE(r.card[NombreAnimal], QStringLiteral("Peñiá Nº 2 €") + QString(38, u' '));
    }

    // Which records a file holds, and whether it is taken: only when every record has the shape
    // of a web card and nothing but filler follows the last one.
    void fileShape_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("failed");
        QTest::addColumn<int>("incomplete");
        QTest::addColumn<bool>("accepted");
        const QByteArray a = WebCardBytes().set(Codigo, "A").bytes();
        const QByteArray b = withSeparators(WebCardBytes().set(Codigo, "B"), '|');
        QTest::newRow("one record") << a << 1 << -1 << 0 << true;
        QTest::newRow("two records") << a + b << 2 << -1 << 0 << true;
        QTest::newRow("CR LF after") << a + "\r\n" << 1 << -1 << 0 << true;
        QTest::newRow("line ends, spaces, NULs after")
            << a + QByteArray("\r\n\n \0\0\r", 7) << 1 << -1 << 0 << true;
        QTest::newRow("more filler than a record after")
            << a + QByteArray(700, ' ') << 1 << -1 << 0 << true;
        QTest::newRow("text after") << a + "xyz" << 1 << -1 << 3 << false;
        QTest::newRow("line end, then text") << a + "\r\nxyz" << 1 << -1 << 5 << false;
        QTest::newRow("short file") << a.left(100) << 0 << -1 << 100 << false;
        QTest::newRow("empty") << QByteArray() << 0 << -1 << 0 << false;
        QTest::newRow("only a line end") << QByteArray("\r\n") << 0 << -1 << 0 << false;
        QTest::newRow("second record shifted by a line end")
            << a + "\r\n" + b << 2 << 1 << 0 << false;
        QTest::newRow("reading stops at the failed record")
            << a + QByteArray(a).replace(169, 1, "|") + b << 2 << 1 << 0 << false;
        QByteArray noise(64 * 1024, '\0');
        for (qsizetype i = 0; i < noise.size(); ++i)
            noise[i] = static_cast<char>((i * 7919 + (i >> 3) * 104729) % 251);
        QTest::newRow("64 KB of noise") << noise << 1 << 0 << 0 << false;
    }
    void fileShape() {
        QFETCH(QByteArray, bytes);
        QFETCH(int, records);
        QFETCH(int, failed);
        QFETCH(int, incomplete);
        QFETCH(bool, accepted);
        const intake::WebFile file = intake::readWebFile(bytes);
        QCOMPARE(int(file.records.size()), records);
        QCOMPARE(file.failed(), failed);
        QCOMPARE(file.incompleteBytes, incomplete);
        QCOMPARE(file.accepted(), accepted);
        if (failed >= 0)
            QCOMPARE(file.failedRecord,
                     bytes.mid(failed * intake::kRecordSize, intake::kRecordSize));

        // A device gives the same.
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        const intake::WebFile read = intake::readWebFile(buffer);
        QCOMPARE(int(read.records.size()), records);
        QCOMPARE(read.accepted(), accepted);
    }

    void refusalNamesTheFileBytes() {
        const QByteArray record = WebCardBytes().set(Codigo, "A").at(169, "|").bytes();
        const intake::WebRecord r = intake::readRecord(record);
        QCOMPARE(intake::refusalReason(record, r, 1282),
                 QStringLiteral("no tiene la forma de una ficha web: el separador del byte 1451 "
                                "es 0x7c «|» y el del byte 1292 es 0x20"));
    }

    void deviceThatFailsOrIsTooLarge() {
        FailingDevice device(WebCardBytes().set(Codigo, "A").bytes().repeated(2), 700);
        const intake::WebFile file = intake::readWebFile(device);
        QCOMPARE(file.readError, QStringLiteral("error de E/S"));
        QVERIFY(!file.accepted());

        // Read only up to the limit: the rest is never asked for.
        FailingDevice large(QByteArray(intake::kMaxFileBytes + 1, ' '), intake::kMaxFileBytes + 1);
        const intake::WebFile tooLarge = intake::readWebFile(large);
        QVERIFY(tooLarge.tooLarge && tooLarge.readError.isEmpty() && !tooLarge.accepted());
    }
};

QTEST_GUILESS_MAIN(TestWebCard)
#include "test_webcard.moc"
