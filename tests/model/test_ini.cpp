#include "Folders.h"
#include "Ini.h"
#include "Registry.h"
#include "TextCodec.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace store;
using namespace Qt::Literals::StringLiterals;

class TestIni : public QObject {
    Q_OBJECT

    static IniFile iniOf(const QString& text) { return IniFile::fromBytes(text.toUtf8()); }

private slots:
    // Which registry a run opens: the command line's URI, else the configuration's section, else
    // DAT.db; a section that cannot be followed is refused, never silently replaced by the file.
    void registryChoice_data() {
        QTest::addColumn<QByteArray>("ini");
        QTest::addColumn<QString>("override");
        QTest::addColumn<QString>("expected"); // the location, or "!" and words of the refusal
        const QByteArray server = "[BASE DE DATOS]\r\nmotor = postgresql\r\nSERVIDOR=clinica\r\n"
                                  "PUERTO=5433\r\nBASE=mis tarjetas\r\nUSUARIO=recepción\r\n";
        QTest::newRow("nothing") << QByteArray("[VERSION]\r\nPIE=x\r\n") << QString()
                                 << QStringLiteral("DAT.db");
        QTest::newRow("sqlite named") << QByteArray("[BASE DE DATOS]\r\nMOTOR=SQLite\r\n")
                                      << QString() << QStringLiteral("DAT.db");
        QTest::newRow("server") << server << QString()
                                << QStringLiteral(
                                       "postgresql://recepci%C3%B3n@clinica:5433/mis%20tarjetas");
        QTest::newRow("command line wins") << server << QStringLiteral("postgresql:///otra")
                                           << QStringLiteral("postgresql:///otra");
        QTest::newRow("unknown engine") << QByteArray("[BASE DE DATOS]\r\nMOTOR=Oracle\r\n")
                                        << QString() << QStringLiteral("!\"Oracle\"");
        QTest::newRow("no base") << QByteArray("[BASE DE DATOS]\r\nMOTOR=PostgreSQL\r\n")
                                 << QString() << QStringLiteral("!BASE=");
        QTest::newRow("bad port")
            << QByteArray("[BASE DE DATOS]\r\nMOTOR=PostgreSQL\r\nBASE=b\r\nPUERTO=99999\r\n")
            << QString() << QStringLiteral("!PUERTO=");
    }
    void registryChoice() {
        QFETCH(QByteArray, ini);
        QFETCH(QString, override);
        QFETCH(QString, expected);
        store::Folders folders;
        folders.appDir = QStringLiteral("/app");
        folders.dataDir = QStringLiteral("/datos");
        folders.serverUri = override;
        store::Status status;
        const store::Registry r =
            store::chooseRegistry(folders, store::IniFile::fromBytes(ini), &status);
        if (expected.startsWith(u'!')) {
            QVERIFY(!status);
            QVERIFY(r.isEmpty());
            QVERIFY2(status.message().contains(expected.mid(1)), qPrintable(status.message()));
            return;
        }
        QVERIFY2(status, qPrintable(status.message()));
        if (expected == u"DAT.db") {
            QVERIFY(!r.isServer());
            QCOMPARE(r.location(), QStringLiteral("/app/DAT.db"));
        } else {
            QVERIFY(r.isServer());
            QCOMPARE(r.location(), expected);
        }
    }

    void valuesAreStrippedAndMatchedWithoutCase() {
        const IniFile ini = iniOf(u"; comentario\r\n"
                                  u"[Version]\r\n"
                                  u"  pie =   Clínica \"Los Aromos\"   \r\n"
                                  u";PIE=no\r\n"
                                  u"[CLIENTES TOLVANE]\r\n"
                                  u"ESPECIE=\"  Canino|Felino| \"\r\n"
                                  u"vacio=\r\n"
                                  u"comillas='a'\r\n"
                                  u"ESPECIE=segunda\r\n"_s);
        QCOMPARE(LeeIni(ini, u"VERSION"_s, u"PIE"_s), u"Clínica \"Los Aromos\""_s);
        // One pair of surrounding quotes is stripped, then the value is trimmed.
        QCOMPARE(LeeIni(ini, u"clientes tolvane"_s, u"especie"_s), u"Canino|Felino|"_s);
        QCOMPARE(LeeIni(ini, u"CLIENTES TOLVANE"_s, u"COMILLAS"_s), u"a"_s);
        // Every kind of absence reads as empty text.
        QCOMPARE(LeeIni(ini, u"CLIENTES TOLVANE"_s, u"vacio"_s), QString());
        QCOMPARE(LeeIni(ini, u"CLIENTES TOLVANE"_s, u"nada"_s), QString());
        QCOMPARE(LeeIni(ini, u"OTRA"_s, u"PIE"_s), QString());
        QCOMPARE(LeeIni(u"/no/such/file.ini"_s, u"VERSION"_s, u"PIE"_s), QString());
    }

    void longValueIsCutAt254() {
        const QString longValue = QString(300, u'x');
        const IniFile ini =
            iniOf(u"[S]\nK="_s + longValue + u"\nL="_s + QString(250, u'a') + u"    bbb|"_s);
        QCOMPARE(LeeIni(ini, u"S"_s, u"K"_s), QString(254, u'x'));
        // The cut falls before the last '|', whose item is lost; the spaces before it are trimmed.
        const QString cut = LeeIni(ini, u"S"_s, u"L"_s);
        QCOMPARE(cut, QString(250, u'a'));
        QCOMPARE(splitItemList(cut), QStringList());
    }

    // Every encoding a practice's editor may save in reads the same values.
    void encodings_data() {
        QTest::addColumn<QByteArray>("bytes");
        const QString text = u"[VERSION]\r\nPIE=Clínica Ñuñoa\r\n"
                             u"[CLIENTES TOLVANE]\r\nTAMAÑO= Pequeño | Mediano |Grande|\r\n"_s;
        QByteArray le("\xff\xfe");
        QByteArray be("\xfe\xff");
        for (QChar c : text) {
            le.append(char(c.unicode() & 0xff)).append(char(c.unicode() >> 8));
            be.append(char(c.unicode() >> 8)).append(char(c.unicode() & 0xff));
        }
        QTest::newRow("UTF-8") << text.toUtf8();
        QTest::newRow("UTF-8 with mark") << QByteArray("\xef\xbb\xbf").append(text.toUtf8());
        QTest::newRow("Windows-1252") << toWindows1252(text);
        QTest::newRow("UTF-16 LE") << le;
        QTest::newRow("UTF-16 BE") << be;
    }
    void encodings() {
        QFETCH(QByteArray, bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(u"c.ini"_s);
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        QCOMPARE(LeeIni(path, kIniSectionVersion, u"PIE"_s), u"Clínica Ñuñoa"_s);
        QCOMPARE(splitItemList(LeeIni(path, kIniSectionLists, u"TAMAÑO"_s)),
                 (QStringList{u"Pequeño"_s, u"Mediano"_s, u"Grande"_s}));
    }

    void itemLists_data() {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QStringList>("items");
        QTest::newRow("two words") << u"Canino|Felino|"_s << QStringList{u"Canino"_s, u"Felino"_s};
        QTest::newRow("no final bar") << u"Canino|Felino"_s << QStringList{u"Canino"_s};
        QTest::newRow("double bar") << u"a||b|"_s << QStringList{u"a"_s, QString(), u"b"_s};
        QTest::newRow("spaces only") << u"a|   |"_s << QStringList{u"a"_s, QString()};
        QTest::newRow("order and duplicates") << u"z|a|z|"_s << QStringList{u"z"_s, u"a"_s, u"z"_s};
        QTest::newRow("empty") << QString() << QStringList();
    }
    void itemLists() {
        QFETCH(QString, value);
        QFETCH(QStringList, items);
        QCOMPARE(splitItemList(value), items);
    }

    void breedKeysStopAtTheFirstGap() {
        const IniFile ini = iniOf(u"[CLIENTES TOLVANE]\n"
                                  u"RAZA 1=Mestizo|Poodle|\n"
                                  u"RAZA 2=Beagle|\n"
                                  u"RAZA 3=   \n"
                                  u"RAZA 4=Boxer|\n"_s);
        QCOMPARE(readBreedList(ini, kIniSectionLists),
                 (QStringList{u"Mestizo"_s, u"Poodle"_s, u"Beagle"_s}));
        const IniFile absent = iniOf(u"[CLIENTES TOLVANE]\nRAZA 1=A|\nRAZA 2=B|\nRAZA 4=D|\n"_s);
        QCOMPARE(readBreedList(absent, kIniSectionLists), (QStringList{u"A"_s, u"B"_s}));
    }

    void masterFileHasTheLists() {
        const IniFile ini =
            IniFile::load(QStringLiteral(TARJETAS_SOURCE_DIR "/resources/") + kIniFileName);
        QVERIFY(!LeeIni(ini, kIniSectionVersion, u"PIE"_s).isEmpty());
        QVERIFY(splitItemList(LeeIni(ini, kIniSectionLists, u"ESPECIE"_s)).contains(u"Felino"_s));
        QCOMPARE(splitItemList(LeeIni(ini, kIniSectionLists, u"TAMAÑO"_s)).size(), 4);
        QVERIFY(readBreedList(ini, kIniSectionLists).contains(u"Mestizo"_s));
    }

    // Names found the way a Windows folder finds them.
    void filesFoundWithoutCase_data() {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("found");
        QTest::newRow("exact") << QStringList{u"CLIENTE.TLV"_s} << u"CLIENTE.TLV"_s;
        QTest::newRow("other case") << QStringList{u"cliente.tlv"_s} << u"cliente.tlv"_s;
        QTest::newRow("exact wins")
            << QStringList{u"cliente.tlv"_s, u"CLIENTE.TLV"_s} << u"CLIENTE.TLV"_s;
        QTest::newRow("absent") << QStringList{u"CLIENTE.TLV.bak"_s} << u"CLIENTE.TLV"_s;
        QTest::newRow("a folder is no file") << QStringList{u"cliente.tlv/"_s} << u"CLIENTE.TLV"_s;
    }
    void filesFoundWithoutCase() {
        QFETCH(QStringList, files);
        QFETCH(QString, found);
        QTemporaryDir dir;
        for (const QString& name : files) {
            if (name.endsWith(u'/'))
                QVERIFY(QDir(dir.path()).mkdir(name.chopped(1)));
            else
                QVERIFY(QFile(dir.filePath(name)).open(QIODevice::WriteOnly));
        }
        const Folders folders{dir.path(), dir.path(), dir.path()};
        QCOMPARE(folders.dataFile(kWebCardFileName), dir.filePath(found));
        QCOMPARE(folders.appFile(kWebCardFileName), dir.filePath(found));
    }

    void commandLineOverridesFolders() {
        const CommandLine c = parseCommandLine(
            {u"tarjetas"_s, u"--data-dir"_s, u"/tmp/datos"_s, u"--export-dir=/tmp/exp"_s});
        QVERIFY(!c.exitNow);
        QCOMPARE(c.folders.dataDir, u"/tmp/datos"_s);
        QCOMPARE(c.folders.exportDir, u"/tmp/exp"_s);
        QCOMPARE(c.folders.dataFile(kWebCardFileName), u"/tmp/datos/CLIENTE.TLV"_s);
        const CommandLine bad = parseCommandLine({u"tarjetas"_s, u"--nada"_s});
        QVERIFY(bad.exitNow);
        QVERIFY(bad.exitCode != 0);
        // An empty server address never falls back to the file.
        for (const QString& empty : {u""_s, u"  "_s}) {
            const CommandLine none = parseCommandLine({u"tarjetas"_s, u"--base-datos"_s, empty});
            QVERIFY(none.exitNow);
            QCOMPARE(none.exitCode, 2);
        }
    }

    // What lies beside the executable decides where DAT.db lives, never the permissions; the
    // Windows rules are checked here on any system.
    void foldersByWhatLiesBesideTheExecutable() {
        QTemporaryDir tmp;
        const QString portable = tmp.filePath(u"usb/tarjetas"_s);
        const QString installed = tmp.filePath(u"usr/bin"_s);
        const QString bare = tmp.filePath(u"otra"_s);
        for (const QString& dir :
             {portable, installed, bare, tmp.filePath(u"usr/share/tarjetas"_s)})
            QVERIFY(QDir().mkpath(dir));
        for (const QString& dir : {portable, tmp.filePath(u"usr/share/tarjetas"_s)})
            QVERIFY(QFile::copy(QStringLiteral(TARJETAS_SOURCE_DIR "/resources/") + kIniFileName,
                                QDir(dir).filePath(kIniFileName)));
        const QString home = tmp.filePath(u"home"_s);
        const auto at = [&](FolderRules rules, const QString& exe, const QString& dataHome = {}) {
            return defaultFolders(rules, {exe, home, dataHome});
        };

        const Folders win = at(FolderRules::Windows, installed);
        QCOMPARE(win.appDir, installed);
        QCOMPARE(win.dataDir, u"C:/TOLVANE_FILES"_s);
        QCOMPARE(win.exportFile(u"x.CSV"_s), u"C:/x.CSV"_s);
        QVERIFY(!win.installed());

        const Folders usb = at(FolderRules::Unix, portable);
        QCOMPARE(usb.appFile(kDatabaseFileName), portable + u"/DAT.db"_s);
        QCOMPARE(usb.masterIniFile(), QDir(portable).filePath(kIniFileName));
        QCOMPARE(usb.dataDir, home + u"/TOLVANE_FILES"_s);
        QCOMPARE(usb.exportDir, home);

        const Folders menu = at(FolderRules::Unix, installed);
        QVERIFY(menu.installed());
        QCOMPARE(menu.appFile(kDatabaseFileName), home + u"/.local/share/tarjetas/DAT.db"_s);
        QCOMPARE(menu.masterIniFile(), tmp.filePath(u"usr/share/tarjetas/"_s) + kIniFileName);
        QCOMPARE(at(FolderRules::Unix, installed, u"/var/datos"_s).appDir,
                 u"/var/datos/tarjetas"_s);
        QCOMPARE(at(FolderRules::Unix, installed, u"relativa"_s).appDir,
                 home + u"/.local/share/tarjetas"_s);

        // Neither beside it nor installed: the executable's folder, where start-up then says
        // that there is no configuration file.
        QCOMPARE(at(FolderRules::Unix, bare).appDir, bare);
        QVERIFY(!at(FolderRules::Unix, bare).installed());
    }
};

QTEST_GUILESS_MAIN(TestIni)
#include "test_ini.moc"
