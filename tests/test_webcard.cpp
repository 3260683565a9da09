#include "WebCard.h"
#include "WebCardBytes.h"

#include <QBuffer>
#include <QTest>

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
        web.at(42, "CHIP").at(67, " ").at(233, "Macho").at(119, QByteArray(50, 'X'));
        for (const auto& l : layout)
            web.at(l.offset, QByteArray("v").append(QByteArray::number(l.offset)))
                .at(l.offset + l.width, "|");
        const intake::WebRecord r = intake::readRecord(web.bytes());
        QVERIFY(r.ok());
        for (const auto& l : layout) {
            const QString value = u'v' + QString::number(l.offset);
            QCOMPARE(r.card[l.field], value + QString(l.width - value.size(), u'_'));
        }
        // Only spaces are trimmed from the code; other filler stays.
        QCOMPARE(r.card[Codigo], QStringLiteral("CHIP_____________________"));
        for (Field f : {FichaClinica, Color, Tamano, GrupoFam, Cel, DireccionCompleta})
            QVERIFY(r.card.isNull(f));
    }

    void sexWord_data() {
        QTest::addColumn<QByteArray>("word");
        QTest::addColumn<QString>("sexo");
        QTest::newRow("Macho and spaces") << QByteArray("Macho     ") << QStringLiteral("M");
        QTest::newRow("spaces around") << QByteArray("  Macho") << QStringLiteral("M");
        QTest::newRow("lower case") << QByteArray("macho") << QStringLiteral("H");
        QTest::newRow("Hembra") << QByteArray("Hembra") << QStringLiteral("H");
        QTest::newRow("blanks") << QByteArray("          ") << QStringLiteral("H");
        QTest::newRow("NUL filler") << QByteArray("Macho\0\0\0\0\0", 10) << QStringLiteral("H");
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
        QCOMPARE(intake::readRecord(WebCardBytes().set(Codigo, "").bytes()).error,
                 intake::RecordError::EmptyCode);
    }

    void wholeRecordsAndTrailingBytes() {
        const QByteArray a = WebCardBytes().set(Codigo, "A").bytes();
        const QByteArray b = WebCardBytes().set(Codigo, "B").bytes();
        QCOMPARE(intake::readRecord(a.left(640)).error, intake::RecordError::TooShort);
        intake::WebFile file = intake::readWebFile(a.left(640));
        QVERIFY(file.records.empty());
        QCOMPARE(file.trailingBytes, 640);

        file = intake::readWebFile(QByteArray(a).append(b));
        QCOMPARE(file.records.size(), size_t(2));
        QCOMPARE(file.records[0].card[Codigo], QStringLiteral("A"));
        QCOMPARE(file.records[1].card[Codigo], QStringLiteral("B"));
        QVERIFY(file.complete());

        QByteArray bytes = QByteArray(a).append(b).append("xyz");
        QBuffer buffer(&bytes);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        file = intake::readWebFile(buffer);
        QCOMPARE(file.records.size(), size_t(2));
        QCOMPARE(file.trailingBytes, 3);
        QVERIFY(!file.complete());
    }

    void deviceThatFails() {
        FailingDevice device(WebCardBytes().set(Codigo, "A").bytes().repeated(2), 700);
        const intake::WebFile file = intake::readWebFile(device);
        QCOMPARE(file.records.size(), size_t(1));
        QCOMPARE(file.readError, QStringLiteral("error de E/S"));
        QVERIFY(!file.complete());
    }
};

QTEST_GUILESS_MAIN(TestWebCard)
#include "test_webcard.moc"
