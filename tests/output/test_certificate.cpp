// The implant certificate: every value of the card on the page as real text, nothing past the
// page's edge, the QR code read back to the code, and the command that writes it without a window.
#include "CardStore.h"
#include "Certificate.h"
#include "Clock.h"
#include "Folders.h"
#include "Ini.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

using store::Card;
using store::Field;

namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(60000))
        return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

// A card with accents, a long address and a long e-mail, as the web form fills it.
Card longCard() {
    Card c;
    c[Field::Codigo] = QStringLiteral("152098100123456");
    c[Field::FechaAtencion] = QStringLiteral("05/03/2020");
    c[Field::Lugar] = QStringLiteral("Clínica Veterinaria Ñuñoa Oriente");
    c[Field::NombreAnimal] = QStringLiteral("Señorita Pimienta de los Ángeles Muñoz");
    c[Field::FechaNacimiento] = QStringLiteral("17/11/2018");
    c[Field::Especie] = QStringLiteral("Canino");
    c[Field::Raza] = QStringLiteral("Pastor Alemán de pelo largo");
    c[Field::Color] = QStringLiteral("Café con manchas negras y blancas");
    c[Field::Sexo] = QStringLiteral("H");
    c[Field::EReproductivo] = QStringLiteral("Esterilizado");
    c[Field::Tamano] = QStringLiteral("Grande");
    c[Field::Propietario] = QStringLiteral("María José Pérez-Cotapos Hernández de la Fuente");
    c[Field::Rut] = QStringLiteral("12.345.678-5");
    c[Field::Telefono1] = QStringLiteral("+56 2 2222 1111");
    c[Field::Cel] = QStringLiteral("+56 9 8765 4321");
    c[Field::DireccionCompleta] =
        QStringLiteral("Avenida Libertador Bernardo O'Higgins esquina Almirante Barroso 1234 "
                       "Departamento 1502 Torre B Santiago Centro");
    c[Field::Email] = QStringLiteral("maria.jose.perez.cotapos.hernandez@correo-electronico.cl");
    c[Field::Implantador] = QStringLiteral("Dra. Fernanda Muñoz Aravena");
    return c;
}

QString squeezed(QString text) {
    return text.replace(QRegularExpression(QStringLiteral("\\s+")), QStringLiteral(" "));
}

} // namespace

class TestCertificate : public QObject {
    Q_OBJECT

private slots:
    // On both papers: every value as text, every word inside the page, the QR code read back.
    void pdfHoldsTheCard_data() {
        QTest::addColumn<QPageSize>("paper");
        QTest::newRow("Letter") << QPageSize(QPageSize::Letter);
        QTest::newRow("A4") << QPageSize(QPageSize::A4);
    }
    void pdfHoldsTheCard() {
        QFETCH(QPageSize, paper);
        QTemporaryDir tmp;
        const Card card = longCard();
        output::CertificateContext context;
        context.footer = QStringLiteral("Clínica Veterinaria San Francisco - Fono +56 2 2345 6789");
        context.veterinarianRut = QStringLiteral("9.876.514-K");
        context.issuedOn = QDate(2026, 12, 8);
        const output::CertificateContent content = output::certificateContent(card, context);
        const QString pdf = tmp.filePath(QStringLiteral("c.pdf"));
        QString error;
        QVERIFY2(output::writeCertificatePdf(content, paper, pdf, &error), qPrintable(error));

        const QString text = squeezed(
            run(QStringLiteral("pdftotext"), {QStringLiteral("-raw"), pdf, QStringLiteral("-")}));
        QStringList expected;
        for (const store::CardField& f : store::cardFields()) {
            if (f.field != Field::Sexo && f.field != Field::Direccion &&
                f.field != Field::NumeroDepto && f.field != Field::BlockDepto &&
                !card[f.field].isEmpty())
                expected << card[f.field];
        }
        expected << QStringLiteral("Hembra") << QStringLiteral("edad al implante: 1 año y 3 meses")
                 << QStringLiteral("R.U.T.: 9.876.514-K") << context.footer
                 << QStringLiteral("el 8 de diciembre de 2026")
                 << QStringLiteral("Certificado de Implantación de Microchip");
        for (const QString& value : expected)
            QVERIFY2(text.contains(squeezed(value)),
                     qPrintable(value + QStringLiteral(" en: ") + text));

        // Every word inside the page box, with the margins kept.
        const QString boxes =
            run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), pdf, QStringLiteral("-")});
        const QSizeF size = paper.size(QPageSize::Point);
        const QRegularExpression word(QStringLiteral(
            "<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\""));
        int words = 0;
        for (auto m = word.globalMatch(boxes); m.hasNext(); ++words) {
            const auto w = m.next();
            QVERIFY2(w.captured(1).toDouble() >= 36 &&
                         w.captured(3).toDouble() <= size.width() - 36 &&
                         w.captured(2).toDouble() >= 20 &&
                         w.captured(4).toDouble() <= size.height() - 20,
                     qPrintable(w.captured(0)));
        }
        QVERIFY(words > 100);

        run(QStringLiteral("pdftoppm"),
            {QStringLiteral("-r"), QStringLiteral("150"), QStringLiteral("-png"), pdf,
             tmp.filePath(QStringLiteral("page"))});
        const QString zbar = QStandardPaths::findExecutable(QStringLiteral("zbarimg"));
        if (zbar.isEmpty())
            QSKIP("zbarimg (zbar-tools) is not installed: the QR code was not read back");
        QCOMPARE(run(zbar, {QStringLiteral("-q"), QStringLiteral("--raw"),
                            tmp.filePath(QStringLiteral("page-1.png"))})
                     .trimmed(),
                 card[Field::Codigo]);
    }

    // What the certificate says that the card does not say as such.
    void derivedValues() {
        QCOMPARE(output::ageText(QDate(2018, 11, 17), QDate(2020, 3, 5)),
                 QStringLiteral("1 año y 3 meses"));
        QCOMPARE(output::ageText(QDate(2020, 3, 5), QDate(2022, 3, 5)), QStringLiteral("2 años"));
        QCOMPARE(output::ageText(QDate(2020, 3, 31), QDate(2020, 4, 30)),
                 QStringLiteral("0 meses"));
        QCOMPARE(output::ageText(QDate(2021, 1, 1), QDate(2020, 1, 1)), QString());

        const store::IniFile ini = store::IniFile::fromBytes(
            "[VETERINARIOS]\nDra. Fernanda Muñoz Aravena=12.345.678-5\nDr. Malo=12.345.678-4\n");
        QCOMPARE(output::veterinarianRut(ini, QStringLiteral("dra. fernanda muñoz aravena   ")),
                 QStringLiteral("12.345.678-5"));
        QCOMPARE(output::veterinarianRut(ini, QStringLiteral("Dr. Malo")), QString()); // mod 11
        QCOMPARE(output::veterinarianRut(ini, QStringLiteral("Dr. Nadie")), QString());

        Card device = longCard();
        device[Field::Codigo] = QStringLiteral("AB12C9");
        device[Field::Sexo] = QString();
        const output::CertificateContent c = output::certificateContent(device, {});
        QCOMPARE(c.title, QStringLiteral("Certificado de Implantación de Dispositivo externo"));
        QCOMPARE(c.sections.at(0).lines.at(0).label, QStringLiteral("Dispositivo externo"));
        QCOMPARE(c.sections.at(0).lines.at(3).value, QString()); // no sex chosen: none printed
        QVERIFY(c.signerRut.isEmpty());
    }

    // --certificado: the PDF of a stored card, and a Spanish refusal of an unknown code.
    void commandWithoutWindow() {
        QTemporaryDir tmp;
        store::Folders folders;
        folders.appDir = tmp.path();
        folders.dataDir = tmp.filePath(QStringLiteral("datos"));
        store::FixedClock clock(QDateTime(QDate(2026, 12, 8), QTime(10, 0)));
        QString out, err;
        QTextStream o(&out), e(&err);
        QCOMPARE(output::runCertificateCommand(folders, QStringLiteral("1"),
                                               tmp.filePath(QStringLiteral("x.pdf")), clock, o, e),
                 1);
        QVERIFY2(err.startsWith(QStringLiteral("No existe el registro de tarjetas")),
                 qPrintable(err));
        {
            store::Status status;
            auto cards = store::CardStore::open(folders.appFile(store::kDatabaseFileName), &status);
            QVERIFY(cards);
            store::RowId id;
            QVERIFY(cards->insertCard(longCard(), &id).ok());
        }
        err.clear();
        QCOMPARE(output::runCertificateCommand(folders, QStringLiteral("999"),
                                               tmp.filePath(QStringLiteral("x.pdf")), clock, o, e),
                 1);
        QVERIFY2(err.startsWith(QStringLiteral("No hay una tarjeta con el código 999")),
                 qPrintable(err));
        QVERIFY(!QFile::exists(tmp.filePath(QStringLiteral("x.pdf"))));

        const QString pdf = tmp.filePath(QStringLiteral("cert.pdf"));
        QCOMPARE(output::runCertificateCommand(folders, QStringLiteral("152098100123456"), pdf,
                                               clock, o, e),
                 0);
        QVERIFY2(out.contains(QDir::toNativeSeparators(pdf)), qPrintable(out));
        QVERIFY(squeezed(run(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")}))
                    .contains(QStringLiteral("Señorita Pimienta")));
    }
};

QTEST_MAIN(TestCertificate)
#include "test_certificate.moc"
