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
#include "TextCodec.h"
#include "WebCard.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QComboBox>
#include <QCryptographicHash>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
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

// Every card of the store in stored order, with its id: the registry as a whole.
std::vector<std::pair<store::RowId, store::Card>> registry(const store::Folders& folders) {
    store::Status status;
    auto cards = store::CardStore::open(folders.appFile(store::kDatabaseFileName), &status);
    std::vector<store::RowId> ids;
    std::vector<std::pair<store::RowId, store::Card>> all;
    if (!cards || !cards->rowIds(store::Order::Stored, &ids) || !cards->readCards(ids, &all))
        qWarning("registry not read: %s", qPrintable(status.message()));
    return all;
}

QStringList dataFiles(const AppFolders& f) {
    return QDir(f.folders.dataDir).entryList(QDir::Files, QDir::Name);
}

QString rejected(const AppFolders& f) {
    return f.folders.dataFile(QStringLiteral("CLIENTE.TLV 2024-06-15 10.30.05.rechazado"));
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

    // Garbage in the web card file never becomes cards: the whole file is refused, with one box
    // naming the record that failed, and set aside; good records before a bad one are not stored
    // either, and a file too large to be a web card file is refused by its size.
    void garbageIsRefusedWhole_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QByteArray noise(64 * 1024, '\0');
        QRandomGenerator random(15);
        random.fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
        QTest::newRow("64 KB of random bytes")
            << noise
            << QStringLiteral("La ficha 1 (desde el byte 0) no tiene la forma de una "
                              "ficha web: el separador del byte 41");
        QByteArray good;
        for (const char* code : {"300000000000003", "300000000000004", "300000000000005"})
            good += webRecord(code, "Clinica Sur", "Firulais");
        QTest::newRow("three good records and a bad one")
            << good + webRecord("", "Clinica Sur", "Firulais")
            << QStringLiteral("La ficha 4 (desde el byte 1923) no trae código de microchip.");
        QTest::newRow("over 10 MB") << QByteArray()
                                    << QStringLiteral("El archivo tiene 10485761 bytes; un archivo "
                                                      "de fichas web tiene a lo más 10 MB");
    }
    void garbageIsRefusedWhole() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        AppFolders f;
        prepare(f, bytes.isEmpty() ? QByteArray("") : bytes);
        if (bytes.isEmpty()) // a sparse file: nothing of it is written or read
            QVERIFY(QFile(f.folders.dataFile(store::kWebCardFileName))
                        .resize(intake::kMaxFileBytes + 1));
        const auto before = registry(f.folders);
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(messages.boxes[0].icon, Icon::Warning);
        QVERIFY2(messages.boxes[0].text.contains(reason), qPrintable(messages.boxes[0].text));
        QCOMPARE(registry(f.folders), before);
        QCOMPARE(w->gridRows(), 4);
        QCOMPARE(dataFiles(f), (QStringList{QStringLiteral("CLIENTE.TLV 2024-06-15 10.30.05."
                                                           "rechazado"),
                                            QStringLiteral("Clientes Tolvane.INI")}));
        if (!bytes.isEmpty())
            QCOMPARE(fileBytes(rejected(f)), bytes);
#ifndef Q_OS_WIN
        // The refused file holds personal data: its user's alone, whatever the web side gave it.
        // (Windows has no such modes; its folder's access rules apply.)
        QCOMPARE(QFile::permissions(rejected(f)),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser);
#endif
    }

    // Another program holding the store's write lock: the file stays as it came and the card
    // arrives at the next start.
    void lockedStoreLeavesTheFileForTheNextStart() {
        AppFolders f;
        const QByteArray card = webRecord("300000000000003", "Clinica Sur", "Firulais");
        prepare(f, card);
        const auto before = registry(f.folders);
        ScriptedMessages messages;
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                           QStringLiteral("other-program"));
            other.setDatabaseName(f.folders.appFile(store::kDatabaseFileName));
            QVERIFY(other.open());
            QSqlQuery lock(other);
            QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
            auto w = app::startUp(f.folders, messages, clock);
            QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
            QVERIFY(w);
            QCOMPARE(w->gridRows(), 4);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other-program"));
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY2(messages.boxes[0].text.contains(
                     QStringLiteral("quedó en la carpeta sin cambios y se recibirá en el próximo "
                                    "inicio")),
                 qPrintable(messages.boxes[0].text));
        QCOMPARE(registry(f.folders), before);
        QCOMPARE(dataFiles(f), (QStringList{QStringLiteral("CLIENTE.TLV"),
                                            QStringLiteral("Clientes Tolvane.INI")}));
        QCOMPARE(fileBytes(f.folders.dataFile(store::kWebCardFileName)), card);

        messages.clear();
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY(messages.boxes[0].text.startsWith(QStringLiteral("Cliente Nuevo Agregado")));
        QCOMPARE(w->gridRows(), 5);
        QCOMPARE(dataFiles(f), QStringList{QStringLiteral("Clientes Tolvane.INI")});
    }

    // A line end after the last record is filler, not a broken record.
    void lineEndAfterTheRecordIsNoAlarm() {
        AppFolders f;
        prepare(f, webRecord("300000000000003", "Clinica Sur", "Firulais") + "\r\n");
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QCOMPARE(messages.boxes[0].icon, Icon::Information);
        QVERIFY(messages.boxes[0].text.startsWith(QStringLiteral("Cliente Nuevo Agregado")));
        QCOMPARE(w->gridRows(), 5);
        QCOMPARE(dataFiles(f), QStringList{QStringLiteral("Clientes Tolvane.INI")});
    }

    // NULs are filler like spaces: the code is found by search, the sex word read, and the values
    // stored with spaces.
    void nulFillerMakesAFindableCard() {
        AppFolders f;
        QByteArray card = WebCardBytes('\0')
                              .set(store::Codigo, "NUL1")
                              .set(store::NombreAnimal, "Toby")
                              .set(store::Sexo, "Macho")
                              .bytes();
        for (int at : intake::kSeparatorOffsets)
            card[at] = '|';
        prepare(f, card);
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QVERIFY(messages.boxes.at(0).text.contains(QStringLiteral("MicroChip:\tNUL1\r\n")));
        messages.clear();
        w->runCommand(QStringLiteral("cmdBuscar"));
        QTest::keyClicks(w->textBox(store::Codigo), QStringLiteral("NUL1"));
        w->runCommand(QStringLiteral("btnBuscarOK"));
        QCOMPARE(messages.texts(), QStringList());
        QCOMPARE(w->gridRows(), 2);
        QCOMPARE(w->fieldText(store::Codigo), QStringLiteral("NUL1"));
        QCOMPARE(w->fieldText(store::NombreAnimal), padded(QStringLiteral("Toby"), 50));
        QCOMPARE(w->grid()->cellText(1, 10), QStringLiteral("M"));
        QCOMPARE(w->grid()->cellText(1, 3), QString(30, u' '));
    }

    // A data folder copied from a Windows share keeps its names in any case; where two names
    // differ only in case, the exact spelling wins.
    void namesFoundWithoutCase() {
        AppFolders f; // no master configuration file in the application folder
        QVERIFY(QDir().mkpath(f.folders.dataDir));
        const QString dir = f.folders.dataDir + u'/';
        AppFolders::write(dir + QStringLiteral("clientes tolvane.ini"),
                          "[VERSION]\r\nPIE=Pie en minusculas\r\n[CLIENTES TOLVANE]\r\n"
                          "ESPECIE=Canino|Felino|\r\n");
        AppFolders::write(dir + QStringLiteral("cliente.tlv"),
                          webRecord("300000000000003", "Clinica Sur", "Firulais"));
        QStringList owners{QStringLiteral("Firulais")};
        QStringList codes{QStringLiteral("300000000000003")};
#ifndef Q_OS_WIN
        // A second web file whose name differs only in case is taken in at the same start, in
        // name order, and not left for a later one. (On Windows both names are one file.)
        AppFolders::write(dir + QStringLiteral("Cliente.Tlv"),
                          webRecord("300000000000004", "Clinica Norte", "Cachupin"));
        owners.prepend(QStringLiteral("Cachupin"));
        codes.append(QStringLiteral("300000000000004"));
#endif
        QImage red(206, 151, QImage::Format_RGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(dir + QStringLiteral("logocliente.BMP"), "BMP"));
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(w->textoPie(), QStringLiteral("Pie en minusculas"));
        QCOMPARE(w->comboBox(store::Especie)->count(), 2);
        QCOMPARE(messages.boxes.size(), size_t(owners.size()));
        for (qsizetype i = 0; i < owners.size(); ++i)
            QVERIFY(messages.boxes[size_t(i)].text.contains(owners[i]));
        QCOMPARE(gridCodes(*w), codes);
        const QPixmap logo = w->findChild<QLabel*>(QStringLiteral("Image12"))->pixmap();
        QCOMPARE(logo.toImage().pixelColor(logo.width() / 2, logo.height() / 2), QColor(Qt::red));
        QCOMPARE(dataFiles(f), (QStringList{QStringLiteral("clientes tolvane.ini"),
                                            QStringLiteral("logocliente.BMP")}));

        AppFolders::write(dir + store::kIniFileName, "[VERSION]\r\nPIE=Pie exacto\r\n");
        w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(w->textoPie(), QStringLiteral("Pie exacto"));
    }

    // A configuration that is there but is no configuration is said once, naming the file; the
    // window still opens.
    void unreadableConfigurationIsSaid_data() {
        QTest::addColumn<int>("shape");
        QTest::newRow("carpeta") << 0;
        QTest::newRow("binario") << 1;
    }
    void unreadableConfigurationIsSaid() {
        QFETCH(int, shape);
        AppFolders f;
        f.copyRealMasterIni();
        QVERIFY(QDir().mkpath(f.folders.dataDir));
        const QString ini = f.folders.dataDir + u'/' + store::kIniFileName;
        if (shape == 0) {
            QVERIFY(QDir().mkpath(ini));
        } else {
            QByteArray garbage;
            for (int i = 0; i < 4096; ++i)
                garbage.append(char((i * 7919 + 13) % 256));
            AppFolders::write(ini, garbage.replace('[', 'x'));
        }
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.boxes.size(), size_t(1));
        QVERIFY2(messages.boxes[0].text.contains(QDir::toNativeSeparators(ini)),
                 qPrintable(messages.boxes[0].text));
        QVERIFY(
            messages.boxes[0].text.startsWith(QStringLiteral("No se pudo leer la configuración")));
    }

    // Notepad's "Unicode" and its big-endian twin: the footer and the four lists as from the
    // same file in Windows-1252.
    void unicodeConfigurationIsRead() {
        QFile master(QStringLiteral(TARJETAS_SOURCE_DIR "/resources/") + store::kIniFileName);
        QVERIFY(master.open(QIODevice::ReadOnly));
        const QString text = store::IniFile::decode(master.readAll());
        const auto lists = [](const MainWindow& w) {
            QStringList items{w.textoPie()};
            for (store::Field field :
                 {store::Especie, store::EReproductivo, store::Tamano, store::Raza}) {
                for (int i = 0; i < w.comboBox(field)->count(); ++i)
                    items.append(w.comboBox(field)->itemText(i));
                items.append(QStringLiteral("--"));
            }
            return items;
        };
        QStringList expected;
        for (int order = 0; order < 3; ++order) {
            AppFolders f;
            QVERIFY(QDir().mkpath(f.folders.dataDir));
            QByteArray bytes = order == 0   ? store::toWindows1252(text)
                               : order == 1 ? QByteArray("\xff\xfe")
                                            : QByteArray("\xfe\xff");
            for (QChar c : order == 0 ? QString() : text) {
                const char high = char(c.unicode() >> 8), low = char(c.unicode() & 0xff);
                bytes.append(order == 1 ? low : high).append(order == 1 ? high : low);
            }
            AppFolders::write(f.dataIni(), bytes);
            ScriptedMessages messages;
            auto w = app::startUp(f.folders, messages, clock);
            QVERIFY(w);
            if (order == 0) {
                expected = lists(*w);
                QVERIFY(expected.size() > 20 && !expected[0].isEmpty());
            } else {
                QCOMPARE(lists(*w), expected);
            }
        }
    }

    // A thousand records: one box for all, every card listed; the same file taken in again (as
    // after a crash between storing and deleting it) leaves the same registry.
    void manyRecordsOneBoxAndTheSameFileTwice() {
        AppFolders f;
        QByteArray file;
        for (int i = 0; i < 1000; ++i)
            file += webRecord(QByteArray::number(600000000000000 + i * 7 % 1000), "Clinica Sur",
                              QByteArray("Mascota ").append(QByteArray::number(i)));
        prepare(f, file);
        ScriptedMessages messages;
        auto w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QCOMPARE(messages.boxes.size(), size_t(1));
        const QStringList lines = messages.boxes[0].text.split(QStringLiteral("\r\n"));
        QCOMPARE(lines.size(), 14);
        QCOMPARE(lines.mid(0, 4),
                 (QStringList{QStringLiteral("Se recibieron 1000 fichas desde la Web"),
                              QStringLiteral("    Clientes nuevos agregados:\t1000"),
                              QStringLiteral("    Clientes existentes actualizados:\t0"),
                              QStringLiteral("    600000000000000\tMascota 0")}));
        QCOMPARE(lines.last(), QStringLiteral("    … y 990 más"));
        QCOMPARE(w->gridRows(), 1004);
        const auto once = registry(f.folders);

        AppFolders::write(f.folders.dataFile(store::kWebCardFileName), file);
        messages.clear();
        w = app::startUp(f.folders, messages, clock);
        QVERIFY(w);
        QVERIFY(messages.boxes.at(0).text.contains(
            QStringLiteral("nuevos agregados:\t0\r\n    Clientes existentes actualizados:\t1000")));
        QCOMPARE(registry(f.folders), once);
        QCOMPARE(dataFiles(f), QStringList{QStringLiteral("Clientes Tolvane.INI")});
    }
};

QTEST_MAIN(TestWindowIntake)
#include "test_window_intake.moc"
