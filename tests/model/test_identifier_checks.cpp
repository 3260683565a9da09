#include "IdentifierChecks.h"

#include <QTest>

using store::ChipKind;
using store::Verdict;

class TestIdentifierChecks : public QObject {
    Q_OBJECT
private slots:
    void rut_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<Verdict>("verdict");
        QTest::addColumn<QString>("explanation");

        const QString none;
        QTest::newRow("usual form") << QStringLiteral("12.345.678-5") << Verdict::Valid << none;
        QTest::newRow("another") << QStringLiteral("15.509.661-6") << Verdict::Valid << none;
        QTest::newRow("K verifier") << QStringLiteral("9.876.514-K") << Verdict::Valid << none;
        QTest::newRow("lowercase k") << QStringLiteral("9876514-k") << Verdict::Valid << none;
        QTest::newRow("0 verifier") << QStringLiteral("23.456.702-0") << Verdict::Valid << none;
        QTest::newRow("odd separators")
            << QStringLiteral(" 1.23-45 678.-5 ") << Verdict::Valid << none;

        QTest::newRow("wrong digit") << QStringLiteral("12.345.678-4") << Verdict::Invalid
                                     << QStringLiteral("El dígito verificador debería ser 5");
        QTest::newRow("K where 0 is due") << QStringLiteral("23.456.702-K") << Verdict::Invalid
                                          << QStringLiteral("El dígito verificador debería ser 0");
        QTest::newRow("0 where K is due") << QStringLiteral("9.876.514-0") << Verdict::Invalid
                                          << QStringLiteral("El dígito verificador debería ser K");
        QTest::newRow("letter O in body")
            << QStringLiteral("12.345.67O-5") << Verdict::Invalid
            << QStringLiteral(
                   "El número del R.U.T. solo puede llevar dígitos, puntos y guion; sobra «O»");
        QTest::newRow("bad verifier")
            << QStringLiteral("12.345.678-X") << Verdict::Invalid
            << QStringLiteral("El dígito verificador debe ser un número o la letra K, no «X»");
        QTest::newRow("verifier only")
            << QStringLiteral("-5") << Verdict::Invalid
            << QStringLiteral("Falta el número del R.U.T. antes del dígito verificador");
        // Only ASCII digits count: an Arabic-Indic digit looks like one to QChar::isDigit.
        QTest::newRow("non-ASCII digit")
            << QStringLiteral("12.345.67\u0668-5") << Verdict::Invalid
            << QStringLiteral("El número del R.U.T. solo puede llevar dígitos, puntos y guion; "
                              "sobra «\u0668»");

        QTest::newRow("empty") << QString() << Verdict::Empty << none;
        QTest::newRow("blanks") << QStringLiteral("   ") << Verdict::Empty << none;
    }
    void rut() {
        QFETCH(QString, text);
        QFETCH(Verdict, verdict);
        QFETCH(QString, explanation);
        const store::RutCheck check = store::checkRut(text);
        QCOMPARE(check.verdict, verdict);
        QCOMPARE(check.explanation, explanation);
    }

    void rutVerifierOfLongBodies() {
        // Long pasted text must neither overflow the sum nor be judged by a part of it.
        QCOMPARE(store::rutVerifier(QString(200, u'9')), QChar(u'K'));
        QCOMPARE(store::rutVerifier(u"123456789012345678901234567890"), QChar(u'1'));
        QCOMPARE(store::rutVerifier(u""), QChar());
        QCOMPARE(store::rutVerifier(u"12a"), QChar());
    }

    void countryList() {
        QCOMPARE(store::countryCount(), 249);
        QCOMPARE(store::countryName(152), QStringLiteral("Chile"));
        QCOMPARE(store::countryName(724), QStringLiteral("España"));
        QVERIFY(store::countryName(0).isEmpty());
        QVERIFY(store::countryName(900).isEmpty());
    }

    void chip_data() {
        QTest::addColumn<QString>("code");
        QTest::addColumn<ChipKind>("kind");
        QTest::addColumn<int>("prefix");
        QTest::addColumn<QString>("description");

        QTest::newRow("Chile") << QStringLiteral("152098100123456") << ChipKind::IsoCountry << 152
                               << QStringLiteral(
                                      "Código ISO 11784 de 15 dígitos, país: Chile (152)");
        QTest::newRow("leading zeros")
            << QStringLiteral("032001234567890") << ChipKind::IsoCountry << 32
            << QStringLiteral("Código ISO 11784 de 15 dígitos, país: Argentina (032)");
        QTest::newRow("manufacturer 900")
            << QStringLiteral("900012345678901") << ChipKind::IsoManufacturer << 900
            << QStringLiteral("Código ISO 11784 de 15 dígitos con código de fabricante (900)");
        QTest::newRow("manufacturer 998")
            << QStringLiteral("998000000000001") << ChipKind::IsoManufacturer << 998
            << QStringLiteral("Código ISO 11784 de 15 dígitos con código de fabricante (998)");
        QTest::newRow("test chip")
            << QStringLiteral("999123456789012") << ChipKind::IsoTest << 999
            << QStringLiteral("Código ISO 11784 de 15 dígitos: chip de prueba (999)");
        QTest::newRow("unknown country")
            << QStringLiteral("123456789012345") << ChipKind::IsoUnknownCountry << 123
            << QStringLiteral("Código de 15 dígitos con un código de país desconocido (123)");
        QTest::newRow("hex")
            << QStringLiteral("0A1b2C3d4E") << ChipKind::Hex125kHz << -1
            << QStringLiteral("Código hexadecimal de 10 caracteres (formato antiguo de 125 kHz)");
        QTest::newRow("external device")
            << QStringLiteral("AB12c9") << ChipKind::ExternalDevice << -1
            << QStringLiteral("Dispositivo externo de identificación (6 caracteres)");
        QTest::newRow("7 characters")
            << QStringLiteral("AB12C9X") << ChipKind::Unrecognized << -1
            << QStringLiteral("Código de formato no reconocido: no es un código ISO 11784 de 15 "
                              "dígitos ni un código hexadecimal de 10 caracteres");
        QTest::newRow("14 digits")
            << QStringLiteral("15209810012345") << ChipKind::Unrecognized << -1
            << QStringLiteral("Código de formato no reconocido: tiene 14 dígitos; un código ISO "
                              "11784 tiene 15");
        QTest::newRow("16 digits")
            << QStringLiteral("1520981001234567") << ChipKind::Unrecognized << -1
            << QStringLiteral("Código de formato no reconocido: tiene 16 dígitos; un código ISO "
                              "11784 tiene 15");
        QTest::newRow("trailing blank")
            << QStringLiteral("152098100123456 ") << ChipKind::Unrecognized << -1
            << QStringLiteral(
                   "Código de formato no reconocido: lleva espacios, y el código se busca tal como "
                   "se escribe");
        QTest::newRow("empty") << QString() << ChipKind::Empty << -1 << QString();
    }
    void chip() {
        QFETCH(QString, code);
        QFETCH(ChipKind, kind);
        QFETCH(int, prefix);
        QFETCH(QString, description);
        const store::ChipInfo info = store::classifyChip(code);
        QCOMPARE(info.kind, kind);
        QCOMPARE(info.prefix, prefix);
        QCOMPARE(info.description, description);
        QCOMPARE(info.doubtful(),
                 kind == ChipKind::Unrecognized || kind == ChipKind::IsoUnknownCountry);
    }
};

QTEST_GUILESS_MAIN(TestIdentifierChecks)
#include "test_identifier_checks.moc"
