// Printing, export and the listing driven through the real main window, offscreen, over
// temporary application, data and export folders. Prints go to a recording target.
#include "AppFixture.h"
#include "RecordingPrintSurface.h"
#include "ScriptedMessages.h"
#include "WebCardBytes.h"
#include "output_print_fixture.h"

#include "CardGrid.h"
#include "Certificate.h"
#include "Listing.h"
#include "MainWindow.h"
#include "QtTexts.h"
#include "Startup.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QScrollArea>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using app::MainWindow;
using namespace Qt::StringLiterals;
using Answer = store::MessageLayer::Answer;

namespace {

const QString kFirst = QStringLiteral("111000000000001");
const QString kLast = QStringLiteral("333000000000003");
const QString kFilled = QStringLiteral("982000123456789"); // filledCard()
const QString kSent = QStringLiteral("Tarjeta Enviada a la Impresora");

// A second connection to the window's store file, as another program would have.
std::unique_ptr<store::CardStore> otherConnection(const AppFolders& f) {
    store::Status status;
    auto s = store::CardStore::open(f.registry(), &status);
    if (!s)
        qFatal("cannot open the store again: %s", qPrintable(status.message()));
    return s;
}

void rewriteField(store::CardStore& cards, const QString& code, store::Field field,
                  const QString& value) {
    auto cursor = cards.openTable();
    cursor->setIndex(store::kPrimaryKey);
    QVERIFY(cursor->seek(code).ok() && !cursor->noMatch());
    QVERIFY(cursor->edit().ok());
    cursor->setField(field, value);
    const store::Status s = cursor->update();
    QVERIFY2(s, qPrintable(s.message()));
}

// Every printed item against what was expected, in print order, with its position and font.
void comparePrint(const std::vector<RecordingPrintTarget::Item>& items,
                  const std::vector<Expected>& expected, int top) {
    QCOMPARE(items.size(), expected.size());
    for (size_t i = 0; i < items.size(); ++i) {
        const auto& item = items[i];
        const Expected& e = expected[i];
        const QString where = QStringLiteral("item %1 \"%2\"").arg(i).arg(item.text);
        QVERIFY2(item.text == e.text, qPrintable(where + QStringLiteral(" expected ") + e.text));
        QVERIFY2(item.x == e.x && item.y == top + e.row, qPrintable(where));
        QVERIFY2(item.font == (e.footer ? output::kFooterFont : output::kValueFont),
                 qPrintable(where));
    }
}

QString pdfText(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestWindowOutput : public QObject {
    Q_OBJECT

    store::FixedClock clock{QDateTime(QDate(2026, 12, 6), QTime(9, 5, 7))};

    // Three cards, filledCard() in the middle; the footer text is the one the layouts expect.
    struct Window {
        AppFolders f;
        ScriptedMessages messages;
        RecordingPrintTarget* printed = nullptr;
        std::unique_ptr<MainWindow> w;

        Window(const store::Clock& clock, std::vector<store::Card> cards,
               const QByteArray& webFile = {}) {
            f.writeMasterIni("[VERSION]\nPIE=" + kFooter.toUtf8() + "\n");
            f.addCards(cards);
            if (!webFile.isNull()) {
                QDir().mkpath(f.folders.dataDir);
                AppFolders::write(f.folders.dataFile(store::kWebCardFileName), webFile);
            }
            app::StartupHooks hooks;
            auto target = std::make_unique<RecordingPrintTarget>();
            printed = target.get();
            hooks.printer = std::move(target);
            w = app::startUp(f.folders, messages, clock, std::move(hooks));
            if (!w)
                qFatal("the window did not start");
            w->show();
        }
        QPushButton* button(const char* name) const {
            return w->findChild<QPushButton*>(QLatin1StringView(name));
        }
        void click(const char* name) const {
            QPushButton* b = button(name);
            QVERIFY2(b && b->isVisible() && b->isEnabled(), name);
            b->click();
        }
        // Runs the code search from the window's own controls.
        void search(const QString& code) const {
            click("cmdBuscar");
            QTest::keyClicks(w->textBox(store::Codigo), code);
            click("btnBuscarOK");
        }
        std::vector<QString> printedCodes() const {
            std::vector<QString> codes;
            for (const auto& item : printed->items) {
                if (item.x == 8300 || item.x == 8413)
                    codes.push_back(item.text);
            }
            return codes;
        }
    };

    static std::vector<store::Card> threeCards() {
        return {makeCard(kFirst), filledCard(), makeCard(kLast, QStringLiteral("H"))};
    }

private slots:
    void initTestCase() { SKIP_WITHOUT_TEST_SERVER(); }

    // The card of the grid's current row is printed as the store holds it, whatever the entry
    // fields show; the offset file is created on the first print and shared by both commands.
    void printsTheStoredCardOfTheCurrentRow() {
        Window win(clock, threeCards());
        QTest::keyClick(win.w->grid(), Qt::Key_Down);
        QCOMPARE(win.w->gridCurrentCode(), kFilled);
        QCOMPARE(win.w->fieldText(store::Lugar), QStringLiteral("Providencia"));

        auto other = otherConnection(win.f);
        rewriteField(*other, kFilled, store::Lugar, QStringLiteral("Ñuñoa"));
        QCOMPARE(win.w->fieldText(store::Lugar), QStringLiteral("Providencia"));

        const QString offsetFile = win.f.folders.dataFile(store::kOffsetFileName);
        QVERIFY(!QFileInfo::exists(offsetFile));
        win.messages.queue(Answer::Yes);
        win.click("cmdImprimir");
        QCOMPARE(win.messages.texts(),
                 QStringList({QStringLiteral("Impresion Completa ?"), kSent}));
        QCOMPARE(win.messages.boxes[0].title, QStringLiteral("Tipo de Impresion"));
        QCOMPARE(win.messages.boxes[1].title, QStringLiteral("Impresion de Tarjeta"));
        QCOMPARE(win.messages.boxes[1].icon, store::MessageLayer::Icon::Information);
        const auto rewritten = [](std::vector<Expected> expected) {
            for (Expected& e : expected) {
                if (e.text == u"Providencia")
                    e.text = QStringLiteral("Ñuñoa");
            }
            return expected;
        };
        comparePrint(win.printed->items, rewritten(sheet(true)), 2800);
        QCOMPARE(win.printed->ended, 1);
        QFile file(offsetFile);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\"2800\"\r\n"));

        // Command1: one block at the same offset, asking nothing.
        win.messages.clear();
        win.printed->items.clear();
        win.click("Command1");
        QCOMPARE(win.messages.texts(), QStringList{kSent});
        comparePrint(win.printed->items, rewritten(kQuickBlock), 2800);

        // No: block 3 stops at tamano. Cancel: nothing printed, nothing said.
        win.messages.clear();
        win.printed->items.clear();
        win.messages.queue(Answer::No);
        win.click("cmdImprimir");
        comparePrint(win.printed->items, rewritten(sheet(false)), 2800);

        win.messages.clear();
        win.printed->items.clear();
        win.messages.queue(Answer::Cancel);
        const int opened = win.printed->opened;
        win.click("cmdImprimir");
        QCOMPARE(win.messages.texts(), QStringList{QStringLiteral("Impresion Completa ?")});
        QCOMPARE(win.printed->opened, opened);
        QVERIFY(win.printed->items.empty());
        QCOMPARE(win.messages.unanswered, 0);
    }

    // After a search the found card is printed; a card deleted behind the window's back ends
    // silently; a printer that fails is reported and leaves the window in browse mode.
    void printAfterSearchAndFailures() {
        Window win(clock, threeCards());
        win.search(kLast);
        QCOMPARE(win.w->gridRows(), 2);
        QCOMPARE(win.w->gridCurrentCode(), kLast);
        win.messages.clear();
        win.messages.queue(Answer::Yes);
        win.click("cmdImprimir");
        QCOMPARE(win.printedCodes(), std::vector<QString>(3, kLast));
        QVERIFY(std::any_of(win.printed->items.begin(), win.printed->items.end(),
                            [](const auto& item) { return item.text == u"Hembra"; }));
        win.printed->items.clear();
        win.click("Command1");
        QCOMPARE(win.printedCodes(), std::vector<QString>{kLast});

        auto other = otherConnection(win.f);
        store::RowId id = store::kNoRow;
        QVERIFY(other->findCode(kLast, &id).ok());
        QVERIFY(other->removeCard(id).ok());
        win.messages.clear();
        win.printed->items.clear();
        win.click("Command1");
        QCOMPARE(win.messages.texts(), QStringList());
        QVERIFY(win.printed->items.empty());

        // A search that finds nothing, then "x": the grid lists again what it listed before, whose
        // card is gone, so no card is shown and neither print command is left on.
        win.search(QStringLiteral("999"));
        QCOMPARE(win.messages.texts().last(), QStringLiteral("CODIGO NO ENCONTRADO"));
        win.click("btnBuscarFin");
        QCOMPARE(win.w->gridRows(), 2);
        QCOMPARE(win.w->fieldText(store::Codigo), QString());
        QVERIFY(!win.button("cmdImprimir")->isEnabled());
        QVERIFY(!win.button("Command1")->isEnabled());
        QVERIFY(win.printed->items.empty());

        win.search(kFilled);
        win.messages.clear();
        win.printed->openFailure = store::Status::failure(
            store::ErrorKind::Io, QStringLiteral("No hay una impresora predeterminada."));
        win.click("Command1");
        QCOMPARE(win.messages.texts(),
                 QStringList{QStringLiteral("No hay una impresora predeterminada.")});
        QVERIFY(win.button("cmdImprimir")->isEnabled());
        QVERIFY(win.button("cmdAgregar")->isEnabled());
    }

    // The export writes every card while a search limits the grid, under the name of the
    // moment; Cancel writes nothing; afterwards edit, delete and print still find cards by code.
    void exportThenWorkOn() {
        Window win(clock, threeCards());
        win.search(kFilled);
        QCOMPARE(win.w->gridRows(), 2);

        win.messages.clear();
        win.messages.queue(Answer::Cancel);
        win.click("cmdExcel");
        QCOMPARE(win.messages.texts(), QStringList{QStringLiteral("Exporta datos completos ?")});
        const QDir exportDir(win.f.folders.exportDir);
        QCOMPARE(exportDir.entryList({QStringLiteral("*.CSV")}, QDir::Files), QStringList());

        win.messages.clear();
        win.messages.queue(Answer::No);
        win.click("cmdExcel");
        const QString name = QStringLiteral("Exporta Datos Sin Propietario_6.12.2026 9.5.7.CSV");
        QCOMPARE(exportDir.entryList({QStringLiteral("*.CSV")}, QDir::Files), QStringList{name});
        QCOMPARE(win.messages.texts().last(),
                 QStringLiteral("EXPORTACION DE DATOS SIN PROPIETARIO\r\n\r\nArchivo generado "
                                "en:\r\n") +
                     QDir::toNativeSeparators(exportDir.filePath(name)));
        QFile csv(exportDir.filePath(name));
        QVERIFY(csv.open(QIODevice::ReadOnly));
        const QList<QByteArray> lines = csv.readAll().split('\n');
        QCOMPARE(lines.size(), 5); // header, three cards, and the empty rest after the last CR LF
        QVERIFY(lines[1].startsWith(QByteArray(kFirst.toLatin1() + ";")));
        QVERIFY(lines[2].startsWith(QByteArray(kFilled.toLatin1() + ";25/12/2005;Providencia;")));
        QVERIFY(lines[2].endsWith(";Macho;Entero;Mediano;Perros;Rojas\r"));
        QVERIFY(lines[3].startsWith(QByteArray(kLast.toLatin1() + ";")));
        QCOMPARE(win.w->gridRows(), 2); // the grid is left as the search made it

        // Edit the found card through the window.
        win.click("cmdEditar");
        QVERIFY(win.w->fieldEnabled(store::Propietario));
        win.w->textBox(store::Propietario)->setText(QStringLiteral("Juana Soto"));
        win.messages.clear();
        win.click("cmdEditar");
        QCOMPARE(win.messages.texts(), QStringList());
        store::Card stored;
        store::RowId id = store::kNoRow;
        QVERIFY(win.w->cardStore()->findCode(kFilled, &id).ok() && id != store::kNoRow);
        QVERIFY(win.w->cardStore()->readCard(id, &stored).ok());
        QCOMPARE(stored[store::Propietario], QStringLiteral("Juana Soto"));

        // Print it: the new owner reaches the paper.
        win.messages.queue(Answer::Yes);
        win.click("cmdImprimir");
        QCOMPARE(win.printedCodes(), std::vector<QString>(3, kFilled));
        QCOMPARE(std::count_if(win.printed->items.begin(), win.printed->items.end(),
                               [](const auto& item) { return item.text == u"Juana Soto"; }),
                 3);

        // Delete it.
        win.messages.clear();
        win.messages.queue(Answer::Yes);
        win.click("cmdEliminar");
        QCOMPARE(win.messages.texts(), QStringList{QStringLiteral("Seguro Elimina?")});
        QVERIFY(win.w->cardStore()->findCode(kFilled, &id).ok());
        QCOMPARE(id, store::kNoRow);
        QCOMPARE(win.w->cardStore()->recordCount(), 2);
        QCOMPARE(win.messages.unanswered, 0);
    }

    // A card received from the public web form with values a spreadsheet would run: the export
    // writes them so that they open as text, and LibreOffice reads no formula from the file
    // (while it does from the same file without the apostrophes).
    void exportedWebValuesNeverRunAsFormulas() {
        const QByteArray web = WebCardBytes()
                                   .set(store::Codigo, "444000000000004")
                                   .set(store::NombreAnimal, "@SUM(1+1)*cmd|' /C calc'!A0")
                                   .set(store::Propietario, "=HYPERLINK(\"http://x.cl\";\"Ver\")")
                                   .set(store::Direccion, "-2+3+cmd|' /C calc'!A0")
                                   .set(store::Telefono1, "+56 9 8765 4321")
                                   .set(store::Sexo, "Macho")
                                   .bytes();
        Window win(clock, {makeCard(kFirst)}, web);
        QCOMPARE(win.w->gridRows(), 3); // the web card was taken in

        win.messages.clear();
        win.messages.queue(Answer::Yes);
        win.click("cmdExcel");
        const QString path =
            QDir(win.f.folders.exportDir)
                .filePath(QStringLiteral("Exporta Datos Completos_6.12.2026 9.5.7.CSV"));
        QFile csv(path);
        QVERIFY2(csv.open(QIODevice::ReadOnly), qPrintable(win.messages.texts().join(u'\n')));
        const QByteArray bytes = csv.readAll();
        const QByteArray line = bytes.split('\n').at(2);
        QVERIFY2(line.startsWith("444000000000004;"), line.constData());
        for (const QByteArray& part :
             {QByteArray(";'@SUM(1+1)*cmd|' /C calc'!A0 "), QByteArray(";\"'=HYPERLINK(\"\"http"),
              QByteArray(";'-2+3+cmd|' /C calc'!A0 "), QByteArray(";+56 9 8765 4321;")})
            QVERIFY2(line.contains(part), part.constData());

        const QString soffice = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (soffice.isEmpty())
            QSKIP("LibreOffice (soffice) is not installed: the bytes were checked, not a "
                  "spreadsheet");
        const QString unguardedPath =
            QFileInfo(path).absolutePath() + QStringLiteral("/unguarded.CSV");
        AppFolders::write(unguardedPath,
                          QByteArray(bytes).replace(";'", ";").replace(";\"'", ";\""));
        const QString out = win.f.root.filePath(QStringLiteral("calc"));
        QProcess lo;
        lo.start(
            soffice,
            {QStringLiteral("--headless"), QStringLiteral("--norestore"),
             QStringLiteral("-env:UserInstallation=file://") +
                 win.f.root.filePath(QStringLiteral("lo")),
             // ';' separated, '"' quoted, Windows-1252, from line 1, formulas evaluated.
             QStringLiteral("--infilter=CSV:59,34,1,1,,,false,false,false,false,false,-1,true"),
             QStringLiteral("--convert-to"), QStringLiteral("fods"), QStringLiteral("--outdir"),
             out, path, unguardedPath});
        QVERIFY(lo.waitForFinished(120000));
        const auto formulas = [&](const QString& name) {
            QFile fods(out + u'/' + QFileInfo(name).completeBaseName() + QStringLiteral(".fods"));
            if (!fods.open(QIODevice::ReadOnly))
                return qsizetype(-1);
            return qsizetype(fods.readAll().count("table:formula="));
        };
        QCOMPARE(formulas(unguardedPath), qsizetype(1));
        QCOMPARE(formulas(path), qsizetype(0));
    }

    // Ctrl+Shift+P and the grid's context menu preview the certificate of the card shown, and
    // only in browse mode.
    void certificateOfTheCardShown() {
        Window win(clock, threeCards());
        win.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(win.w.get()));
        const auto previews = [] {
            QList<output::CertificatePreview*> found;
            for (QWidget* w : QApplication::topLevelWidgets()) {
                if (auto* p = qobject_cast<output::CertificatePreview*>(w); p && p->isVisible())
                    found.append(p);
            }
            return found;
        };
        auto* action = win.w->findChild<QAction*>(QStringLiteral("actCertificado"));
        QVERIFY(action && win.w->grid()->actions().contains(action));
        QCOMPARE(action->text(), QStringLiteral("Certificado de implantación…"));

        win.w->setGridCurrentRow(2);
        QCOMPARE(win.w->fieldText(store::Codigo), kFilled);
        QTest::keyClick(win.w.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(previews().size(), 1);
        output::CertificatePreview* preview = previews().first();
        QCOMPARE(preview->content().code, kFilled);
        QCOMPARE(preview->content().footer, kFooter);
        QVERIFY(!preview->pageImage().isNull());
        const QString pdf = win.f.root.filePath(QStringLiteral("certificado.pdf"));
        QVERIFY(preview->savePdf(pdf));
        QVERIFY(QFileInfo(pdf).size() > 0);

        // The save dialog speaks the program's Spanish: no English, "archivo" and "carpeta".
        app::installQtTexts();
        QStringList dialogTexts;
        QTimer::singleShot(0, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            dialog->setDirectory(win.f.root.path()); // which holds folders
            QTest::qWait(500);                       // the folder's listing
            for (QWidget* child : dialog->findChildren<QWidget*>()) {
                if (!child->isVisibleTo(dialog))
                    continue;
                dialogTexts << child->toolTip() << child->accessibleName();
                if (auto* label = qobject_cast<QLabel*>(child))
                    dialogTexts << label->text();
                if (auto* button = qobject_cast<QAbstractButton*>(child))
                    dialogTexts << button->text();
                if (auto* combo = qobject_cast<QComboBox*>(child))
                    for (int i = 0; i < combo->count(); ++i)
                        dialogTexts << combo->itemText(i);
                if (auto* view = qobject_cast<QAbstractItemView*>(child); view && view->model()) {
                    const QAbstractItemModel* m = view->model();
                    for (int c = 0; c < m->columnCount(view->rootIndex()); ++c) {
                        dialogTexts << m->headerData(c, Qt::Horizontal).toString();
                        for (int r = 0; r < m->rowCount(view->rootIndex()); ++r)
                            dialogTexts << m->index(r, c, view->rootIndex()).data().toString();
                    }
                }
            }
            dialog->reject();
        });
        preview->findChild<QPushButton*>(QStringLiteral("btnGuardarCertificado"))->click();
        // Qt's own words: none left in English, none in another Spanish ("fichero",
        // "directorio"). File types and dates follow the system's locale, as elsewhere.
        QVERIFY(dialogTexts.contains(QStringLiteral("Carpeta")));
        QVERIFY(dialogTexts.contains(QStringLiteral("&Nombre de archivo:")));
        for (const char* english :
             {"Folder", "Cancel", "&Save", "Save", "File &name:", "Look in:", "Files of type:",
              "Back", "Forward", "Parent Directory", "Create New Folder", "List View",
              "Detail View", "Name", "Size", "Type", "Date Modified", "Computer", "Sidebar"})
            QVERIFY2(!dialogTexts.contains(QLatin1StringView(english)), english);
        const QString all = dialogTexts.join(u'|');
        for (const char* word : {"fichero", "Fichero", "directorio", "Directorio"})
            QVERIFY2(!all.contains(QLatin1StringView(word)),
                     qPrintable(QLatin1StringView(word) + u": "_s + all));
        preview->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

        // While a card is edited the shortcut does nothing.
        win.click("cmdEditar");
        QTest::keyClick(win.w.get(), Qt::Key_P, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(previews().size(), 0);
        QCOMPARE(win.messages.texts(), QStringList());
    }

    void exportOfAnEmptyTable() {
        Window win(clock, {});
        win.click("cmdExcel");
        QCOMPARE(win.messages.texts(), QStringList{QStringLiteral("Sin datos para exportar")});
        QCOMPARE(QDir(win.f.folders.exportDir).entryList({QStringLiteral("*.CSV")}, QDir::Files),
                 QStringList());
        QVERIFY(!win.button("cmdListado")->isEnabled());
        QVERIFY(!win.button("cmdImprimir")->isEnabled());
    }

    // The listing opens beside the window without blocking it, landscape, and paints the store
    // as it is at each click.
    void listingPreviewIsModeless() {
        Window win(clock, threeCards());
        QVERIFY(QTest::qWaitForWindowExposed(win.w.get()));
        win.click("cmdListado");
        auto* preview = win.w->findChild<output::ListingPreview*>();
        QVERIFY(preview);
        QTRY_VERIFY(preview->isVisible());
        QCOMPARE(preview->windowModality(), Qt::NonModal);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QCOMPARE(preview->printer()->pageLayout().orientation(), QPageLayout::Landscape);
        QCOMPARE(preview->pageCount(), 1);
        const QImage before = preview->pageImage();
        QVERIFY(!before.isNull());

        // The main window goes on working while the preview is open.
        QTest::keyClick(win.w->grid(), Qt::Key_Down);
        QCOMPARE(win.w->fieldText(store::Codigo), kFilled);
        win.click("cmdEditar");
        win.w->textBox(store::NombreAnimal)->setText(QStringLiteral("Cachupín"));
        win.click("cmdEditar");
        QCOMPARE(win.messages.texts(), QStringList());

        // The open preview, read again, and a new one both paint the card as now stored.
        preview->refresh();
        QVERIFY(preview->pageImage() != before);
        preview->close();
        QTRY_VERIFY(!win.w->findChild<output::ListingPreview*>());
        win.click("cmdListado");
        preview = win.w->findChild<output::ListingPreview*>();
        QVERIFY(preview);
        QCOMPARE(preview->pageCount(), 1);
        QVERIFY(!preview->pageImage().isNull());

        // The listing on paper holds the new value too.
#ifdef Q_OS_WIN
        QSKIP("reading the PDF back needs poppler's pdftotext, a Linux tool");
#endif
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("listado.pdf"));
        QString error;
        QVERIFY2(output::renderListingPdf(*win.w->cardStore(), {}, clock.now(), path, &error),
                 qPrintable(error));
        const QString text = pdfText(path);
        QVERIFY2(text.contains(QStringLiteral("Cachupín")), qPrintable(text));
        QVERIFY(text.contains(kFirst) && text.contains(kLast));
        QCOMPARE(win.messages.texts(), QStringList());
    }

    // The listing by keyboard: the preview pages with the keys of any viewer wherever its focus
    // is, Enter presses the focused button, and a screen reader is told what each control is.
    // Printed to a file and cancelled, it leaves no file and says so; while it prints, the main
    // window's keys work.
    void listingByKeyboard() {
        std::vector<store::Card> cards;
        for (int i = 0; i < 14; ++i) // four pages
            cards.push_back(makeCard(QStringLiteral("152000000000%1").arg(i, 3, 10, QChar(u'0'))));
        Window win(clock, cards);
        win.w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(win.w.get()));
        win.click("cmdListado");
        auto* preview = win.w->findChild<output::ListingPreview*>();
        QVERIFY(preview);
        QCOMPARE(preview->pageCount(), 4);

        const struct {
            const char* control;
            const char16_t* name;
        } named[] = {{"primeraPagina", u"Primera página"},
                     {"paginaAnterior", u"Página anterior"},
                     {"paginaSiguiente", u"Página siguiente"},
                     {"ultimaPagina", u"Última página"},
                     {"pagina", u"Página"},
                     {"paginaListado", u"Página 1 de 4 del listado"}};
        for (const auto& n : named) {
            QWidget* c = preview->findChild<QWidget*>(QLatin1StringView(n.control));
            QVERIFY2(c, n.control);
            QCOMPARE(QAccessible::queryAccessibleInterface(c)->text(QAccessible::Name),
                     QString::fromUtf16(n.name));
        }

        const auto control = [&](const char* name) {
            return preview->findChild<QWidget*>(QLatin1StringView(name));
        };
        QWidget* page = preview->findChild<QScrollArea*>()->viewport();
        const struct {
            QWidget* focus;
            int key;
            Qt::KeyboardModifiers modifiers;
            int page;
        } keys[] = {
            {control("pagina"), Qt::Key_PageDown, {}, 2},
            {control("paginaSiguiente"), Qt::Key_PageDown, {}, 3},
            {page, Qt::Key_PageUp, {}, 2},
            {control("pagina"), Qt::Key_End, Qt::ControlModifier, 4},
            {control("cerrar"), Qt::Key_Home, Qt::ControlModifier, 1},
            {control("paginaSiguiente"), Qt::Key_Return, {}, 2},
            {control("ultimaPagina"), Qt::Key_Enter, {}, 4},
            {control("paginaAnterior"), Qt::Key_Return, {}, 3},
            {control("primeraPagina"), Qt::Key_Enter, {}, 1},
        };
        for (const auto& k : keys) {
            k.focus->setFocus(Qt::TabFocusReason);
            preview->activateWindow();
            QTRY_COMPARE(QApplication::activeWindow(), preview);
            QTest::keyClick(k.focus, Qt::Key(k.key), k.modifiers);
            QCOMPARE(preview->currentPage(), k.page);
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(control("paginaListado"))
                     ->text(QAccessible::Name),
                 QStringLiteral("Página 1 de 4 del listado"));
        QVERIFY(preview->isVisible());

        // Printed to a file: Alt+A in the main window while the pages go out, then Cancel.
        QTemporaryDir dir;
        const QString pdf = dir.filePath(QStringLiteral("listado.pdf"));
        preview->printer()->setOutputFileName(pdf);
        bool addStarted = false;
        bool controlsWaited = false;
        int step = 0;
        QTimer during;
        connect(&during, &QTimer::timeout, this, [&] {
            auto* progress =
                preview->findChild<QProgressDialog*>(QStringLiteral("progresoListado"));
            if (!progress || !progress->isVisible())
                return;
            if (step++ == 0) {
                during.stop();
                controlsWaited = !control("paginaSiguiente")->isEnabled();
                win.w->activateWindow();
                if (QTest::qWaitFor([&] { return QApplication::activeWindow() == win.w.get(); },
                                    2000)) {
                    QWidget* focus = QApplication::focusWidget();
                    QTest::keyClick(focus ? focus : win.w.get(), Qt::Key_A, Qt::AltModifier);
                    QTest::qWait(250); // an accelerator clicks its button after a short press
                }
                addStarted = win.w->buttonCaption(QStringLiteral("cmdSalir")) == u"&Cancela";
                during.start(0);
            } else {
                during.stop();
                progress->cancel();
            }
        });
        during.start(0);
        QVERIFY(!preview->printAll());
        QVERIFY(controlsWaited);
        QVERIFY(addStarted);
        QVERIFY(!QFile::exists(pdf));
        const QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        QVERIFY2(left.isEmpty(), qPrintable(left.join(u' ')));
        QCOMPARE(win.messages.texts(),
                 QStringList{QStringLiteral("Se canceló la impresión del listado. No se guardó el "
                                            "listado en el archivo \"%1\".")
                                 .arg(QDir::toNativeSeparators(pdf))});
        QVERIFY(control("paginaSiguiente")->isEnabled());
        preview->close();
    }
};

QTEST_MAIN(TestWindowOutput)
#include "test_window_output.moc"
