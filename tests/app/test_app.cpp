// The whole main window, offscreen, over temporary application and data folders.
#include "AppFixture.h"
#include "ScriptedMessages.h"

#include "Backup.h"
#include "CardGrid.h"
#include "Controls.h"
#include "DatePicker.h"
#include "MainWindow.h"
#include "Startup.h"

#include <QAccessible>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QTest>

using app::MainWindow;
using store::Field;

class TestApp : public QObject {
    Q_OBJECT

    store::FixedClock clock{QDateTime(QDate(2024, 6, 15), QTime(10, 30))};

    std::unique_ptr<MainWindow> start(const AppFolders& f, ScriptedMessages& messages,
                                      app::StartupHooks hooks = {}) {
        return app::startUp(f.folders, messages, clock, std::move(hooks));
    }
    static QString label27(const MainWindow& w) {
        return w.findChild<QLabel*>(QStringLiteral("Label27"))->text();
    }
    static QStringList enabledButtons(const MainWindow& w) {
        QStringList names;
        for (const char* n : {"cmdListado", "cmdImprimir", "Command1", "cmdExcel", "cmdBuscar",
                              "cmdAgregar", "cmdEditar", "cmdCopiar", "cmdEliminar", "cmdSalir"}) {
            if (w.buttonEnabled(QLatin1StringView(n)))
                names.append(QLatin1StringView(n));
        }
        return names;
    }

private slots:
    void configurationFileAtFirstRun() {
        // Only the master copy: the data folder is created and the file copied into it.
        {
            AppFolders f;
            f.writeMasterIni("[VERSION]\nPIE=Pie maestro\n");
            ScriptedMessages messages;
            auto w = start(f, messages);
            QVERIFY(w);
            QVERIFY(QFileInfo(f.dataIni()).isFile());
            QCOMPARE(w->textoPie(), QStringLiteral("Pie maestro"));
            QCOMPARE(messages.texts(), QStringList());
        }
        // A working copy already there is kept, even when the master differs.
        {
            AppFolders f;
            f.writeMasterIni("[VERSION]\nPIE=Pie maestro\n");
            QDir().mkpath(f.folders.dataDir);
            AppFolders::write(f.dataIni(), "[VERSION]\nPIE=Pie propio\n");
            ScriptedMessages messages;
            auto w = start(f, messages);
            QVERIFY(w);
            QCOMPARE(w->textoPie(), QStringLiteral("Pie propio"));
            QFile data(f.dataIni());
            QVERIFY(data.open(QIODevice::ReadOnly));
            QCOMPARE(data.readAll(), QByteArray("[VERSION]\nPIE=Pie propio\n"));
        }
        // Neither: the two-line message only, and no window.
        {
            AppFolders f;
            ScriptedMessages messages;
            auto w = start(f, messages);
            QVERIFY(!w);
            QCOMPARE(messages.boxes.size(), size_t(1));
            QCOMPARE(messages.boxes[0].kind, ScriptedMessages::Kind::Notice);
            QCOMPARE(messages.boxes[0].text,
                     QStringLiteral("No existe archivo de configuracion .INI\r\nPonganse en "
                                    "contacto con personal de soporte"));
            QVERIFY(!QFileInfo::exists(f.folders.appFile(store::kDatabaseFileName)));
        }
    }

    void gridAfterStartUp() {
        AppFolders f;
        f.copyRealMasterIni();
        store::Card nullCard = makeCard(QStringLiteral("300000000000003"), QStringLiteral("X"));
        nullCard[store::Lugar] = QString(); // Null
        nullCard[store::Sexo] = QString();  // Null sexo
        f.addCards({makeCard(QStringLiteral("900000000000009")),
                    makeCard(QStringLiteral("100000000000001"), QStringLiteral("H")), nullCard});
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        QCOMPARE(messages.texts(), QStringList());
        browse::CardGrid* grid = w->grid();
        QCOMPARE(grid, w->findChild<browse::CardGrid*>(QStringLiteral("VSFlexGrid1")));

        // Stored order, headers, hidden column 0, Null as an empty cell.
        QCOMPARE(w->gridRows(), 4);
        QCOMPARE(grid->cellText(1, 1), QStringLiteral("900000000000009"));
        QCOMPARE(grid->cellText(2, 1), QStringLiteral("100000000000001"));
        QCOMPARE(grid->cellText(3, 1), QStringLiteral("300000000000003"));
        QCOMPARE(grid->cellText(3, 3), QString());
        QCOMPARE(grid->cellText(2, 24), QStringLiteral("implantador-100000000000001"));
        QCOMPARE(grid->cellText(2, 10), QStringLiteral("H"));
        QStringList headers;
        for (int c = 1; c <= 24; ++c)
            headers.append(grid->cellText(0, c));
        QCOMPARE(headers.join(u'|'),
                 QStringLiteral("Codigo|Fecha Atencion|Lugar|Ficha Clinica|Nombre Animal|Fecha "
                                "Nacimiento|Especie|Raza|Color|Sexo|E. Reproductivo|Tamaño|Grupo "
                                "Fam.|Propietario|Rut|Telefono|Cel|Direccion|Numero|Depto/"
                                "Block|e-mail|Contacto|Telefono|Implantador"));
        QVERIFY(grid->isColumnHidden(0));
        QCOMPARE(grid->model()->headerData(5, Qt::Horizontal, Qt::ForegroundRole).value<QColor>(),
                 QColor(0, 0, 30));
        QVERIFY(grid->model()->headerData(5, Qt::Horizontal, Qt::FontRole).value<QFont>().bold());

        // The first row current, its card in the fields.
        QCOMPARE(w->gridCurrentRow(), 1);
        QCOMPARE(w->gridCurrentCode(), QStringLiteral("900000000000009"));
        QCOMPARE(w->findChild<QLineEdit*>(QStringLiteral("Text3"))->text(),
                 QStringLiteral("900000000000009"));
        QCOMPARE(w->fieldText(store::Propietario), QStringLiteral("propietario-900000000000009"));
        QCOMPARE(w->fieldText(store::Especie), QStringLiteral("especie-900000000000009"));
        QCOMPARE(w->fieldText(store::FechaAtencion), QStringLiteral("05/03/2020"));
        auto* option1 = w->findChild<QRadioButton*>(QStringLiteral("Option1"));
        auto* option2 = w->findChild<QRadioButton*>(QStringLiteral("Option2"));
        QVERIFY(option1->isChecked() && !option2->isChecked());
        QCOMPARE(label27(*w), QStringLiteral("1 de 3 Mascotas registradas"));
        QCOMPARE(w->findChild<QLabel*>(QStringLiteral("Label6"))->text(),
                 QStringLiteral("Version 4.5"));
        QVERIFY(!w->fieldEnabled(store::Codigo));
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdEliminar")), QStringLiteral("El&iminar"));
        QCOMPARE(enabledButtons(*w).size(), 10);

        // The keyboard moves the current row and loads each card; "H", Null and anything but
        // "M" select Option2.
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(w->gridCurrentRow(), 2);
        QCOMPARE(w->fieldText(store::Codigo), QStringLiteral("100000000000001"));
        QVERIFY(!option1->isChecked() && option2->isChecked());
        QCOMPARE(label27(*w), QStringLiteral("2 de 3 Mascotas registradas"));
        QTest::keyClick(grid, Qt::Key_Down);
        QCOMPARE(w->fieldText(store::Codigo), QStringLiteral("300000000000003"));
        QCOMPARE(w->fieldText(store::Lugar), QString());
        QVERIFY(!option1->isChecked() && option2->isChecked());
        QCOMPARE(grid->currentColumn(), 1);
        QCOMPARE(messages.texts(), QStringList());

        // The day's backup copy begins a moment after the window is up, not amid its first
        // reads and paint; then it is made.
        QTest::qWait(300);
        const QString copy = store::dailyBackupPath(f.folders, clock.today());
        QCOMPARE(QDir(QFileInfo(copy).absolutePath()).entryList(QDir::Files), QStringList());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(copy), 10'000);
    }

    void emptyTable() {
        AppFolders f;
        f.copyRealMasterIni();
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        QCOMPARE(w->gridRows(), 1);
        QCOMPARE(w->gridCurrentRow(), 0);
        QCOMPARE(label27(*w), QStringLiteral("0 de 0 Mascotas registradas"));
        QCOMPARE(enabledButtons(*w),
                 QStringList({QStringLiteral("cmdExcel"), QStringLiteral("cmdAgregar"),
                              QStringLiteral("cmdSalir")}));
        QVERIFY(!w->gridEnabled());
        // Dates today, fields empty, no sex chosen.
        QCOMPARE(w->fieldText(store::FechaNacimiento), QStringLiteral("15/06/2024"));
        QCOMPARE(w->fieldText(store::Sexo), QString());
        QCOMPARE(messages.texts(), QStringList());
    }

    void combosFromConfiguration() {
        AppFolders f;
        f.writeMasterIni("[CLIENTES TOLVANE]\n"
                         "ESPECIE=Canino|Felino|\n"
                         "ESTADO REPRODUCTIVO= Entero | Castrado |\n"
                         "TAMA\xc3\x91O=Chico|Grande|Sobra\n"
                         "RAZA 1=Mestizo|Poodle|\n"
                         "RAZA 2=Siam\xc3\xa9s|\n"
                         "RAZA 4=Nunca|\n");
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        const auto items = [&](Field field) {
            QStringList list;
            QComboBox* combo = w->comboBox(field);
            for (int i = 0; i < combo->count(); ++i)
                list.append(combo->itemText(i));
            return list;
        };
        QCOMPARE(items(store::Especie), QStringList({u"Canino"_qs, u"Felino"_qs}));
        QCOMPARE(items(store::EReproductivo), QStringList({u"Entero"_qs, u"Castrado"_qs}));
        QCOMPARE(items(store::Tamano), QStringList({u"Chico"_qs, u"Grande"_qs}));
        QCOMPARE(items(store::Raza), QStringList({u"Mestizo"_qs, u"Poodle"_qs, u"Siamés"_qs}));
        // Filling the lists leaves the typed text alone (empty table: empty).
        QCOMPARE(w->fieldText(store::Raza), QString());
    }

    void hoverHighlight() {
        AppFolders f;
        f.copyRealMasterIni();
        f.addCards({makeCard(QStringLiteral("152000000000001"))});
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto bold = [&] {
            QStringList names;
            for (auto* b : w->findChildren<app::CommandButton*>()) {
                if (b->isBold())
                    names.append(b->objectName());
            }
            return names;
        };
        auto* agregar = w->findChild<QPushButton*>(QStringLiteral("cmdAgregar"));
        auto* editar = w->findChild<QPushButton*>(QStringLiteral("cmdEditar"));
        QTest::mouseMove(agregar, agregar->rect().center());
        QTRY_COMPARE(bold(), QStringList{QStringLiteral("cmdAgregar")});
        QTest::mouseMove(editar, editar->rect().center());
        QTRY_COMPARE(bold(), QStringList{QStringLiteral("cmdEditar")});
        QTest::mouseMove(w.get(), QPoint(w->width() - 5, w->twips(7000)));
        QTRY_COMPARE(bold(), QStringList());
    }

    void longCodeShownWhole() {
        AppFolders f;
        f.copyRealMasterIni();
        const QString code = QStringLiteral("98765432109876543210");
        f.addCards({makeCard(code)});
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        auto* text3 = w->findChild<QLineEdit*>(QStringLiteral("Text3"));
        QCOMPARE(text3->text(), code);
        QCOMPARE(w->fieldText(store::Codigo), code);
        w->table()->setIndex(store::kPrimaryKey);
        QVERIFY(w->table()->seek(w->fieldText(store::Codigo)));
        QVERIFY(!w->table()->noMatch());
        QCOMPARE(text3->accessibleName(), QStringLiteral("Código Microchip"));
        QCOMPARE(text3->font().family(), QStringLiteral("Arial Narrow"));

        // Typing stops at the entry limit; shortening an overlong value still works.
        w->setFieldEnabled(store::Codigo, true);
        w->setFieldText(store::Codigo, QString());
        QTest::keyClicks(text3, QStringLiteral("12345678901234567"));
        QCOMPARE(text3->text(), QStringLiteral("123456789012345"));
        w->setFieldText(store::Codigo, code);
        text3->end(false);
        QTest::keyClick(text3, Qt::Key_Backspace);
        QCOMPARE(text3->text(), code.left(19));
        QTest::keyClick(text3, Qt::Key_7);
        QCOMPARE(text3->text(), code.left(19));
    }

    void datePickerKeepsTextThatIsNoDate() {
        AppFolders f;
        f.copyRealMasterIni();
        store::Card card = makeCard(QStringLiteral("152000000000001"));
        card[store::FechaAtencion] = QStringLiteral("sin fecha");
        card[store::FechaNacimiento] = QStringLiteral("5/3/05");
        f.addCards({card});
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        auto* picker = w->findChild<app::DatePicker*>(QStringLiteral("DTPicker1"));
        QVERIFY(picker->showsNoDate());
        QCOMPARE(w->fieldText(store::FechaAtencion), QStringLiteral("sin fecha"));
        QCOMPARE(w->fieldText(store::FechaNacimiento), QStringLiteral("05/03/2005"));
        // A date the user picks replaces the stored text.
        picker->setEnabled(true);
        picker->setDate(QDate(2023, 1, 2));
        QCOMPARE(w->fieldText(store::FechaAtencion), QStringLiteral("02/01/2023"));
        w->setFieldText(store::FechaAtencion, QString(QLatin1StringView("")));
        QCOMPARE(w->fieldText(store::FechaAtencion), QString());
    }

    // A DAT.db that cannot be opened: the window opens with no cards, says so, and every command
    // that needs the store either is off or tells why it does nothing.
    void storeThatCannotBeOpened() {
        const struct {
            const char* what;
            bool folder;     // a folder in the file's place, or a file of other bytes
            const char* why; // in the message of the start
        } cases[] = {
            {"folder", true, "no es un archivo"},
            {"no database", false, "no es un registro de tarjetas"},
        };
        for (const auto& c : cases) {
            AppFolders f;
            f.copyRealMasterIni();
            const QString db = f.folders.appFile(store::kDatabaseFileName);
            if (c.folder)
                QDir().mkpath(db);
            else
                AppFolders::write(db, QByteArray("Nombre;Codigo\nRex;1520000\n").repeated(200));
            ScriptedMessages messages;
            auto w = start(f, messages);
            QVERIFY(w);
            QCOMPARE(messages.boxes.size(), size_t(1));
            const QString told = messages.boxes[0].text;
            QVERIFY2(told.contains(QDir::toNativeSeparators(db)), qPrintable(told));
            QVERIFY2(told.contains(QLatin1StringView(c.why)), qPrintable(told));
            // The engine's English words, if any, only on the last line, for support.
            const QStringList lines = told.split(QRegularExpression(QStringLiteral("\r?\n")));
            for (const QString& line : lines.mid(0, lines.size() - 1))
                QVERIFY2(!line.contains(QStringLiteral("file is not a database")),
                         qPrintable(told));
            QVERIFY(!w->cardStore());
            QCOMPARE(w->gridRows(), 1);
            QCOMPARE(label27(*w), QStringLiteral("Sin registro de tarjetas abierto"));
            QVERIFY(w->windowTitle().contains(QStringLiteral("sin registro de tarjetas abierto")));
            QCOMPARE(enabledButtons(*w),
                     QStringList({QStringLiteral("cmdExcel"), QStringLiteral("cmdAgregar"),
                                  QStringLiteral("cmdSalir")}));
            for (const char* button : {"cmdAgregar", "cmdExcel"}) {
                messages.clear();
                w->runCommand(QLatin1StringView(button));
                QCOMPARE(messages.boxes.size(), size_t(1));
                QVERIFY2(messages.boxes[0].text.startsWith(
                             QStringLiteral("No hay un registro de tarjetas abierto")),
                         button);
                QCOMPARE(w->buttonCaption(QStringLiteral("cmdAgregar")),
                         QStringLiteral("&Agregar"));
            }
        }
    }

    // A damaged file whose cards cannot be listed: the Spanish reason, with the engine's words
    // last, and no command left on that would act on a card the window does not show.
    void damagedStoreWithAnEmptyGrid() {
        AppFolders f;
        f.copyRealMasterIni();
        std::vector<store::Card> cards;
        for (int i = 0; i < 300; ++i)
            cards.push_back(
                makeCard(QStringLiteral("1520000000%1").arg(i, 5, 10, QLatin1Char('0'))));
        f.addCards(cards);
        // Spoil the first page of the table itself; counting still works through the code index.
        const QString db = f.folders.appFile(store::kDatabaseFileName);
        int page = 0, pageSize = 0;
        {
            store::Status status;
            auto s = store::CardStore::open(db, &status);
            QSqlQuery q(s->database());
            QVERIFY(q.exec(QStringLiteral("SELECT rootpage FROM sqlite_master WHERE name = "
                                          "'Clientes'")) &&
                    q.next());
            page = q.value(0).toInt();
            QVERIFY(q.exec(QStringLiteral("PRAGMA page_size")) && q.next());
            pageSize = q.value(0).toInt();
        }
        QFile file(db);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.seek(qint64(page - 1) * pageSize));
        file.write(QByteArray(16, '\xff'));
        file.close();

        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        QVERIFY(w->cardStore());
        QCOMPARE(w->gridRows(), 1);
        QVERIFY(!messages.boxes.empty());
        const QString told = messages.boxes[0].text;
        QVERIFY2(told.startsWith(QStringLiteral("No se pudieron leer las tarjetas")),
                 qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral("el archivo está dañado")), qPrintable(told));
        const QStringList lines = told.split(u'\n');
        QVERIFY2(lines.last().startsWith(QStringLiteral("Detalle técnico")), qPrintable(told));
        for (const char* button :
             {"cmdEditar", "cmdEliminar", "cmdCopiar", "cmdImprimir", "Command1"})
            QVERIFY2(!w->buttonEnabled(QLatin1StringView(button)), button);
        QVERIFY(w->buttonEnabled(QStringLiteral("cmdAgregar")));
    }

    // What a screen reader is told about the controls a caption alone does not explain.
    void accessibleNamesAndRoles() {
        AppFolders f;
        f.copyRealMasterIni();
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        for (const char* name : {"Option1", "Option2"}) {
            auto* option = w->findChild<QRadioButton*>(QLatin1StringView(name));
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(option);
            QVERIFY(a);
            QCOMPARE(a->role(), QAccessible::RadioButton);
            QVERIFY(a->state().checkable);
            QCOMPARE(bool(a->state().checked), option->isChecked());
        }
        const struct {
            const char* control;
            const char16_t* name;
        } named[] = {
            {"btnBuscarFin", u"Cerrar búsqueda"},
            {"Text14", u"Teléfono del propietario"},
            {"Text19", u"Teléfono del contacto"},
            {"lstPropietario", u"Lista de propietarios"},
            {"lstTelefono1", u"Lista de teléfonos del propietario"},
            {"lstTelefono2", u"Lista de teléfonos del contacto"},
        };
        for (const auto& n : named) {
            QWidget* c = w->findChild<QWidget*>(QLatin1StringView(n.control));
            QVERIFY2(c, n.control);
            QCOMPARE(QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name),
                     QString::fromUtf16(n.name));
        }
        // A combo holding a value is named by its label, the value told as its value, whether
        // the combo or the box typed into is asked.
        for (const Field f : {store::Especie, store::Raza, store::EReproductivo, store::Tamano}) {
            w->setFieldText(f, QStringLiteral("Felino"));
            QComboBox* combo = w->comboBox(f);
            const QString label = store::cardField(f).label.toString();
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(combo);
            QCOMPARE(a->role(), QAccessible::ComboBox);
            QCOMPARE(a->text(QAccessible::Name), label);
            QCOMPARE(a->text(QAccessible::Value), QStringLiteral("Felino"));
            QCOMPARE(
                QAccessible::queryAccessibleInterface(combo->lineEdit())->text(QAccessible::Name),
                label);
        }
        // Every list has a name of its own, after its box.
        QSet<QString> listNames;
        for (const char* list :
             {"lstLugar", "lstImplantador", "lstColor", "lstPropietario", "lstRut", "lstTelefono1",
              "lstCel", "lstDomicilio", "lstContacto", "lstTelefono2"}) {
            const QString name = w->findChild<QWidget*>(QLatin1StringView(list))->accessibleName();
            QVERIFY2(name.startsWith(QStringLiteral("Lista de ")), list);
            listNames.insert(name);
        }
        QCOMPARE(listNames.size(), 10);
    }

    void exitCancelAndGridKeys() {
        AppFolders f;
        f.copyRealMasterIni();
        f.addCards({makeCard(QStringLiteral("152000000000001")),
                    makeCard(QStringLiteral("152000000000002"))});
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));

        // Enter in the grid runs the edit command; a double click does nothing.
        int edits = 0;
        w->setCommandHandler(QStringLiteral("cmdEditar"), [&] { ++edits; });
        QTest::keyClick(w->grid(), Qt::Key_Return);
        QCOMPARE(edits, 1);
        const QRect cell = w->grid()->visualRect(w->grid()->model()->index(1, 1));
        QTest::mouseDClick(w->grid()->viewport(), Qt::LeftButton, {}, cell.center());
        QCOMPARE(edits, 1);

        // "&Cancela" returns to browse mode and reloads the current card.
        w->setGridCurrentRow(1);
        w->setButtonCaption(QStringLiteral("cmdSalir"), QStringLiteral("&Cancela"));
        w->setFieldEnabled(store::Propietario, true);
        w->setFieldText(store::Propietario, QStringLiteral("escrito"));
        w->findChild<QPushButton*>(QStringLiteral("cmdSalir"))->click();
        QVERIFY(w->isVisible());
        QCOMPARE(w->buttonCaption(QStringLiteral("cmdSalir")), QStringLiteral("&Salir"));
        QCOMPARE(w->fieldText(store::Propietario), QStringLiteral("propietario-152000000000001"));
        QVERIFY(!w->fieldEnabled(store::Propietario));

        // "&Salir" closes the window.
        w->findChild<QPushButton*>(QStringLiteral("cmdSalir"))->click();
        QVERIFY(!w->isVisible());
    }

    void webIntakeHookRunsBeforeTheFill() {
        AppFolders f;
        f.copyRealMasterIni();
        f.addCards({makeCard(QStringLiteral("300000000000003")),
                    makeCard(QStringLiteral("100000000000001"))});
        ScriptedMessages messages;
        int rowsSeen = -1;
        app::StartupHooks hooks;
        hooks.webIntake = [&](MainWindow& w) {
            rowsSeen = w.gridRows();
            return true; // a card came in: list in code order
        };
        auto w = start(f, messages, std::move(hooks));
        QVERIFY(w);
        QCOMPARE(rowsSeen, 1);
        QCOMPARE(w->grid()->cellText(1, 1), QStringLiteral("100000000000001"));
        QCOMPARE(w->fieldText(store::Codigo), QStringLiteral("100000000000001"));
    }

    void logoFromTheDataFolder() {
        const auto centreOfLogo = [](const MainWindow& w) {
            const QPixmap p = w.findChild<QLabel*>(QStringLiteral("Image12"))->pixmap();
            return p.toImage().pixelColor(p.width() / 2, p.height() / 2);
        };
        AppFolders f;
        f.copyRealMasterIni();
        QDir().mkpath(f.folders.dataDir);
        QImage red(206, 151, QImage::Format_RGB32);
        red.fill(Qt::red);
        QVERIFY(red.save(f.folders.dataFile(store::kLogoFileName), "BMP"));
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        QCOMPARE(centreOfLogo(*w), QColor(Qt::red));

        // A file that is no picture leaves the design-time logo.
        AppFolders::write(f.folders.dataFile(store::kLogoFileName), "no es una imagen");
        // Closed first, as a user does, so that its day's backup copy is not still being made
        // while the next start makes it (Windows cannot rename over a file another copy holds).
        w.reset();
        w = start(f, messages);
        QVERIFY(w);
        QVERIFY(!w->findChild<QLabel*>(QStringLiteral("Image12"))->pixmap().isNull());
        QVERIFY(centreOfLogo(*w) != QColor(Qt::red));
        QVERIFY2(messages.texts().isEmpty(), qPrintable(messages.texts().join(u'\n')));
    }

    void resizingGrowsTheGrid() {
        AppFolders f;
        f.copyRealMasterIni();
        ScriptedMessages messages;
        auto w = start(f, messages);
        QVERIFY(w);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QRect grid = w->grid()->geometry();
        auto* salir = w->findChild<QPushButton*>(QStringLiteral("cmdSalir"));
        const int gap = w->height() - salir->geometry().bottom();
        w->resize(w->width() + 200, w->height() + 150);
        QTRY_COMPARE(w->grid()->height(), grid.height() + 150);
        QCOMPARE(w->grid()->width(), grid.width() + 200);
        QCOMPARE(w->height() - salir->geometry().bottom(), gap);
        QCOMPARE(w->findChild<QLineEdit*>(QStringLiteral("Text2"))->geometry().topLeft(),
                 QPoint(w->twips(3975), w->twips(1470)));
    }
};

QTEST_MAIN(TestApp)
#include "test_app.moc"
