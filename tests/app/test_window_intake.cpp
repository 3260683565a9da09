// Start-up as the user meets it with files left in its folders: a web card in the data folder, an
// old DAT.MDB beside a missing DAT.db, and the identifier hints while a card is typed.
#include "AppFixture.h"
#include "ScriptedMessages.h"
#include "TestData.h"
#include "WebCardBytes.h"

#include "CardGrid.h"
#include "Intake.h"
#include "MainWindow.h"
#include "MessageBoxes.h"
#include "Startup.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCryptographicHash>
#include <QLabel>
#include <QMessageBox>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>

using app::MainWindow;
using store::Field;
using Icon = store::MessageLayer::Icon;
using Kind = ScriptedMessages::Kind;

namespace {

// Records, with every box, whether DAT.db existed and whether any window was on screen when
// the user was told.
class WatchingMessages : public ScriptedMessages {
public:
    explicit WatchingMessages(QString dbPath) : dbPath_(std::move(dbPath)) {}
    struct Moment {
        bool dbExisted;
        bool windowVisible;
    };
    std::vector<Moment> moments;

    void notice(const QString& text) override {
        watch();
        ScriptedMessages::notice(text);
    }
    void inform(const QString& text, const QString& title, Icon icon) override {
        watch();
        ScriptedMessages::inform(text, title, icon);
    }

private:
    void watch() {
        bool visible = false;
        for (const QWidget* w : QApplication::topLevelWidgets())
            visible = visible || w->isVisible();
        moments.push_back({QFileInfo::exists(dbPath_), visible});
    }
    QString dbPath_;
};

QByteArray webRecord(QByteArrayView code, QByteArrayView place, QByteArrayView name) {
    return WebCardBytes()
        .set(store::Codigo, code)
        .set(store::Lugar, place)
        .set(store::NombreAnimal, name)
        .set(store::Sexo, "Macho")
        .set(store::Propietario, "Mar\xed"
                                 "a Pe\xf1"
                                 "a")
        .set(store::Direccion, "Los Aromos")
        .set(store::NumeroDepto, "12")
        .bytes();
}

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList gridCodes(const MainWindow& w) {
    QStringList codes;
    for (int r = 1; r < w.gridRows(); ++r)
        codes.append(w.grid()->cellText(r, 1));
    return codes;
}

QString label27(const MainWindow& w) {
    return w.findChild<QLabel*>(QStringLiteral("Label27"))->text();
}

QString padded(const QString& text, int width) {
    return text.leftJustified(width, u' ');
}

} // namespace

class TestWindowIntake : public QObject {
    Q_OBJECT

    store::FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30, 5))};

    // Folders with the real configuration, three cards stored out of code order and, when given,
    // a web card file in the data folder.
    static void prepare(AppFolders& f, const QByteArray& webFile = {}) {
        f.copyRealMasterIni();
        store::Card kept = makeCard(QStringLiteral("500000000000005"));
        f.addCards({makeCard(QStringLiteral("900000000000009")),
                    makeCard(QStringLiteral("100000000000001")), kept});
        if (!webFile.isNull()) {
            QVERIFY(QDir().mkpath(f.folders.dataDir));
            AppFolders::write(f.folders.dataFile(store::kWebCardFileName), webFile);
        }
    }

private slots:
    void webCardTakenInAtStartUp() {
        AppFolders f;
        prepare(f, webRecord("  300000000000003  ", "Clinica Sur", "Firulais"));
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);

        QCOMPARE(messages.boxes.size(), size_t(1));
        const ScriptedMessages::Box& box = messages.boxes[0];
        QCOMPARE(box.kind, Kind::Inform);
        QCOMPARE(box.title, QStringLiteral("Recibido desde la Web"));
        QCOMPARE(box.icon, Icon::Information);
        QCOMPARE(box.text,
                 QStringLiteral("Cliente Nuevo Agregado\r\n    MicroChip:\t300000000000003"
                                "\r\n    Lugar: \t\tClinica Sur\r\n    Nombre: \tFirulais"));
        QVERIFY(!QFileInfo::exists(f.folders.dataFile(store::kWebCardFileName)));
        QCOMPARE(QDir(f.folders.dataDir).entryList(QDir::Files),
                 QStringList{QStringLiteral("Clientes Tolvane.INI")});

        // Listed with the others in ascending code order; the first row's card in the fields.
        QCOMPARE(
            gridCodes(*w),
            (QStringList{QStringLiteral("100000000000001"), QStringLiteral("300000000000003"),
                         QStringLiteral("500000000000005"), QStringLiteral("900000000000009")}));
        QCOMPARE(w->gridCurrentRow(), 1);
        QCOMPARE(w->fieldText(store::Codigo), QStringLiteral("100000000000001"));
        QCOMPARE(w->fieldText(store::Propietario), QStringLiteral("propietario-100000000000001"));
        QCOMPARE(label27(*w), QStringLiteral("1 de 4 Mascotas registradas"));

        // The received card's row: text fields at full width, Windows-1252 decoded, sex as "M".
        QCOMPARE(w->grid()->cellText(2, 3), padded(QStringLiteral("Clinica Sur"), 30));
        QCOMPARE(w->grid()->cellText(2, 14), padded(QStringLiteral("María Peña"), 50));
        QCOMPARE(w->grid()->cellText(2, 10), QStringLiteral("M"));
        QCOMPARE(w->grid()->cellText(2, 4), QString());
        QTest::keyClick(w->grid(), Qt::Key_Down);
        QCOMPARE(w->fieldText(store::Codigo), QStringLiteral("300000000000003"));
        QCOMPARE(w->fieldText(store::NombreAnimal), padded(QStringLiteral("Firulais"), 50));
    }

    void webCardUpdatesTheStoredCardAtStartUp() {
        AppFolders f;
        prepare(f, webRecord("500000000000005", "Clinica Norte", "Toby"));
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.texts(),
                 QStringList{QStringLiteral("Cliente Existente Actualizado\r\n    MicroChip:\t"
                                            "500000000000005\r\n    Lugar: \t\tClinica Norte\r\n"
                                            "    Nombre: \tToby")});
        QVERIFY(!QFileInfo::exists(f.folders.dataFile(store::kWebCardFileName)));
        QCOMPARE(w->gridRows(), 4);
        QCOMPARE(w->grid()->cellText(2, 1), QStringLiteral("500000000000005"));
        QCOMPARE(w->grid()->cellText(2, 3), padded(QStringLiteral("Clinica Norte"), 30));
        // What only the practice knows stays.
        QCOMPARE(w->grid()->cellText(2, 4), QStringLiteral("ficha_clinica-500000000000005"));
        QCOMPARE(w->grid()->cellText(2, 9), QStringLiteral("Color-500000000000005"));
    }

    void rejectedWebCardKeptAndWindowStillOpens() {
        AppFolders f;
        const QByteArray shortFile =
            webRecord("300000000000003", "Clinica Sur", "Firulais").left(300);
        prepare(f, shortFile);
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);

        const QString keptAs =
            f.folders.dataFile(QStringLiteral("CLIENTE.TLV 2024-06-15 10.30.05.rechazado"));
        QVERIFY(!QFileInfo::exists(f.folders.dataFile(store::kWebCardFileName)));
        QCOMPARE(fileBytes(keptAs), shortFile);
        QCOMPARE(messages.boxes.size(), size_t(1));
        const ScriptedMessages::Box& box = messages.boxes[0];
        QCOMPARE(box.title, QStringLiteral("Recibido desde la Web"));
        QCOMPARE(box.icon, Icon::Warning);
        QVERIFY2(box.text.contains(QStringLiteral("300 bytes")), qPrintable(box.text));
        QVERIFY2(box.text.contains(QDir::toNativeSeparators(keptAs)), qPrintable(box.text));

        // Nothing taken in: stored order, first card loaded, the window usable.
        QCOMPARE(gridCodes(*w),
                 (QStringList{QStringLiteral("900000000000009"), QStringLiteral("100000000000001"),
                              QStringLiteral("500000000000005")}));
        QCOMPARE(w->fieldText(store::Codigo), QStringLiteral("900000000000009"));
        QVERIFY(w->buttonEnabled(QStringLiteral("cmdAgregar")));

        // The next start does not read the set-aside file again.
        messages.clear();
        w.reset();
        w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.texts(), QStringList());
        QVERIFY(QFileInfo::exists(keptAs));
    }

    // The announcement's tabs are written for tab stops eight characters apart; the box keeps
    // the three values in one column, and shows what came from the file as text, never markup.
    void announcementValuesLineUpInTheBox() {
        store::Card card;
        card[store::Codigo] = QStringLiteral("152000000123456");
        card[store::Lugar] = QStringLiteral("Clínica Sur   ");
        card[store::NombreAnimal] = QStringLiteral("<b>Toby</b> & Co");
        const QString html = app::boxText(intake::announcement(card, false));
        QTextDocument doc;
        doc.setHtml(html);
        doc.setTextWidth(600);
        auto valueX = [&doc](const QString& value) {
            const QTextCursor found = doc.find(value);
            return found.isNull() ? -1.0
                                  : doc.documentLayout()->blockBoundingRect(found.block()).x();
        };
        const qreal chipX = valueX(QStringLiteral("152000000123456"));
        QVERIFY(chipX > valueX(QStringLiteral("MicroChip:")));
        QCOMPARE(valueX(QStringLiteral("Clínica Sur")), chipX);
        QCOMPARE(valueX(QStringLiteral("<b>Toby</b> & Co")), chipX);
        QCOMPARE(doc.toPlainText(),
                 QStringLiteral("\nCliente Nuevo Agregado\n    MicroChip:\n152000000123456\n"
                                "    Lugar: \nClínica Sur\n    Nombre: \n<b>Toby</b> & Co\n"));

        // The real box: rich text only for that table; any other text is plain.
        app::MessageBoxes boxes;
        QStringList seen;
        auto readAndClose = [&seen] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen.append(QString::number(box->textFormat()) + u'|' + box->text());
            box->accept();
        };
        QTimer::singleShot(0, readAndClose);
        boxes.inform(intake::announcement(card, false), intake::kIntakeTitle, Icon::Information);
        QTimer::singleShot(0, readAndClose);
        boxes.notice(QStringLiteral("No se pudo abrir <b>DAT.db</b>\r\nfin"));
        QCOMPARE(seen, (QStringList{QString::number(Qt::RichText) + u'|' + html,
                                    QString::number(Qt::PlainText) +
                                        QStringLiteral("|No se pudo abrir <b>DAT.db</b>\nfin")}));
    }

    void firstStartWithAnOldDatabaseWithoutCards() {
        AppFolders f;
        f.copyRealMasterIni();
        const QString mdb = f.folders.appFile(QStringLiteral("DAT.MDB"));
        QVERIFY(QFile::copy(testDataFile("jet3-northwind.mdb"), mdb));
        const QByteArray mdbBefore =
            QCryptographicHash::hash(fileBytes(mdb), QCryptographicHash::Sha256);
        // A web card waiting too: it is taken in only after the import was reported.
        QVERIFY(QDir().mkpath(f.folders.dataDir));
        AppFolders::write(f.folders.dataFile(store::kWebCardFileName),
                          webRecord("300000000000003", "Clinica Sur", "Firulais"));
        const QString db = f.folders.appFile(store::kDatabaseFileName);
        WatchingMessages messages(db);

        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.boxes.size(), size_t(2));
        const ScriptedMessages::Box& told = messages.boxes[0];
        QCOMPARE(told.title, QStringLiteral("Importación de tarjetas"));
        QCOMPARE(told.icon, Icon::Warning);
        QCOMPARE(told.text,
                 QStringLiteral("No se pudieron importar las tarjetas del archivo «%1».\n\n"
                                "No se pudo leer el archivo «%1»: no tiene la tabla Clientes.\n\n"
                                "El programa comenzará con un registro vacío. El archivo no se "
                                "modificó; para importarlo más tarde use:\n"
                                "tarjetas --import-mdb \"%1\"")
                     .arg(QDir::toNativeSeparators(mdb)));
        // Told before any registry existed and before the window was shown; the new empty
        // registry is made afterwards and the web card goes into it.
        QVERIFY(!messages.moments[0].dbExisted);
        QVERIFY(!messages.moments[0].windowVisible);
        QVERIFY(messages.boxes[1].text.startsWith(QStringLiteral("Cliente Nuevo Agregado")));
        QVERIFY(messages.moments[1].dbExisted);

        QVERIFY(w->cardStore());
        QCOMPARE(gridCodes(*w), QStringList{QStringLiteral("300000000000003")});
        QCOMPARE(QCryptographicHash::hash(fileBytes(mdb), QCryptographicHash::Sha256), mdbBefore);
        QCOMPARE(QDir(f.folders.appDir).entryList({QStringLiteral("DAT.db*")}, QDir::Files),
                 QStringList{QStringLiteral("DAT.db")});

        // The registry now exists: later starts open it and say nothing about the old file.
        messages.clear();
        w.reset();
        w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(w->gridRows(), 2);
    }

    void firstStartWithAFileThatIsNoDatabase() {
        AppFolders f;
        f.copyRealMasterIni();
        AppFolders::write(f.folders.appFile(QStringLiteral("dat.mdb")), "not a database\n");
        const QString db = f.folders.appFile(store::kDatabaseFileName);
        WatchingMessages messages(db);
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY2(messages.boxes[0].text.contains(QStringLiteral("no es una base de datos")),
                 qPrintable(messages.boxes[0].text));
        QVERIFY(!messages.moments[0].dbExisted);
        QVERIFY(w->cardStore());
        QCOMPARE(w->gridRows(), 1);
        QVERIFY(!w->buttonEnabled(QStringLiteral("cmdEliminar")));
    }
};

QTEST_MAIN(TestWindowIntake)
#include "test_window_intake.moc"
