// The built program run as a process, without a display: --informe writes the report, and every
// bad option value is refused with exit code 2 before anything is opened or written.
#include "BuiltProgram.h"
#include "CardStore.h"
#include "Folders.h"
#include "History.h"
#include "Ini.h"
#include "TextCodec.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

namespace {

QStringList words(std::initializer_list<const char*> list) {
    QStringList out;
    for (const char* w : list)
        out << QString::fromUtf8(w);
    return out;
}

} // namespace

class TestProgramReport : public QObject {
    Q_OBJECT

    QTemporaryDir root_;
    store::Folders folders_;
    QString program_;

    int run(const QStringList& args, QString* out) {
        QProcess p;
        p.setProcessEnvironment(testsupport::noDisplayEnvironment());
        p.start(program_, QStringList{QStringLiteral("--data-dir"), folders_.dataDir} + args);
        if (!p.waitForFinished(60000))
            p.kill();
        *out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    }
    QString out(const char* name) const { return root_.filePath(QLatin1StringView(name)); }

private slots:
    void initTestCase() {
        QVERIFY(root_.isValid());
        folders_.appDir = root_.filePath(QStringLiteral("app"));
        folders_.dataDir = root_.filePath(QStringLiteral("datos"));
        QVERIFY(QDir().mkpath(folders_.appDir));
        program_ = folders_.appFile(testsupport::builtProgramName());
        QVERIFY(!testsupport::copyBuiltProgram(folders_.appDir).isEmpty());
        QVERIFY(QFile::copy(QStringLiteral(TARJETAS_SOURCE_DIR "/resources/") + store::kIniFileName,
                            folders_.appFile(store::kIniFileName)));
        store::Status status;
        auto cards = store::CardStore::open(folders_.appFile(store::kDatabaseFileName), &status);
        QVERIFY2(cards, qPrintable(status.message()));
        std::vector<store::Card> list;
        const QString rows[][2] = {{QStringLiteral("03/01/2026"), QStringLiteral("Canino")},
                                   {QStringLiteral("2026-01-20"), QStringLiteral(" canino")},
                                   {QStringLiteral("05/02/2026"), QStringLiteral("Felino")},
                                   {QStringLiteral("05/02/2025"), QStringLiteral("Felino")},
                                   {QStringLiteral("sin fecha"), QStringLiteral("Canino")}};
        int code = 0;
        for (const auto& row : rows) {
            store::Card c;
            c[store::Codigo] = QString::number(++code);
            c[store::FechaAtencion] = row[0];
            c[store::Especie] = row[1];
            list.push_back(c);
        }
        QVERIFY(cards->insertCards(list, store::WriteReason::Importacion));
    }

    void badValuesRefused_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        const QString csv = out("no.csv");
        const auto row = [&](const char* name, std::initializer_list<const char*> args,
                             const char* says, const QString& file) {
            QStringList all = words(args);
            if (!file.isEmpty())
                all << QStringLiteral("--salida") << file;
            QTest::newRow(name) << all << QString::fromUtf8(says);
        };
        row("fecha imposible", {"--informe", "--desde", "31/02/2026", "--por", "mes"}, "--desde",
            csv);
        row("hasta no es fecha", {"--informe", "--hasta", "ayer", "--por", "mes"}, "--hasta", csv);
        row("rango al revés",
            {"--informe", "--desde", "01/03/2026", "--hasta", "01/02/2026", "--por", "mes"},
            "posterior", csv);
        row("agrupación desconocida", {"--informe", "--por", "color"}, "«color»", csv);
        row("sin agrupación", {"--informe"}, "--por", csv);
        row("salida sin extensión conocida", {"--informe", "--por", "mes"}, "--salida",
            out("no.xlsx"));
        row("sin salida", {"--informe", "--por", "mes"}, "--salida", QString());
        row("opciones sin --informe", {"--por", "mes"}, "--informe", QString());
    }
    void badValuesRefused() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        QString said;
        QCOMPARE(run(args, &said), 2);
        QVERIFY2(said.contains(says), qPrintable(said));
        QVERIFY(!QFile::exists(out("no.csv")) && !QFile::exists(out("no.xlsx")));
    }

    void writesCsvAndPdf() {
        QString said;
        const QString csv = out("especies.csv");
        QCOMPARE(run(words({"--informe", "--desde", "01/01/2026", "--hasta", "31/12/2026", "--por",
                            "especie", "--salida"})
                         << csv,
                     &said),
                 0);
        QFile file(csv);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(said));
        const QString text = store::fromWindows1252(file.readAll());
        QVERIFY2(text.contains(QStringLiteral("\r\nCanino;2;66,7 %\r\nFelino;1;33,3 %\r\n")),
                 qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("(no incluidas);1;")));

        const QString pdf = out("meses.pdf");
        QCOMPARE(run(words({"--informe", "--por", "mes", "--salida"}) << pdf, &said), 0);
#ifdef Q_OS_WIN
        QFile written(pdf);
        QVERIFY2(written.open(QIODevice::ReadOnly) && written.read(5) == "%PDF-", qPrintable(said));
        QSKIP("reading the PDF back needs poppler's pdftotext, a Linux tool");
#endif
        QProcess p;
        p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(p.waitForFinished(60000));
        const QString page = QString::fromUtf8(p.readAllStandardOutput());
        QVERIFY2(page.contains(QStringLiteral("todas las fechas")), qPrintable(page));
        // Every month from the first card's to the last one's, the empty ones too.
        QVERIFY2(page.contains(QRegularExpression(QStringLiteral("Marzo 2025\\s+0\\s"))),
                 qPrintable(page));
        QVERIFY2(page.contains(QRegularExpression(QStringLiteral("Enero 2026\\s+2\\s"))),
                 qPrintable(page));
        QVERIFY2(page.contains(QRegularExpression(QStringLiteral("Total\\s+4\\s"))),
                 qPrintable(page));
    }
};

QTEST_GUILESS_MAIN(TestProgramReport)
#include "test_program_report.moc"
