#include "Commands.h"

#include "CardEditor.h"
#include "CardGrid.h"
#include "CardPrintCommand.h"
#include "Certificate.h"
#include "ChangeWatch.h"
#include "ChipScanner.h"
#include "CodeSearch.h"
#include "CsvExport.h"
#include "EntryKeys.h"
#include "FreeSearch.h"
#include "HistoryDialogs.h"
#include "IdentifierHints.h"
#include "Ini.h"
#include "Listing.h"
#include "MainWindow.h"
#include "MergeDialog.h"
#include "PrintSurfacePainter.h"
#include "ReaderTest.h"
#include "ReportLink.h"
#include "ReportWindow.h"
#include "StoreFollower.h"
#include "StoreThread.h"
#include "TypeAheadIndex.h"
#include "TypeAheadLists.h"

#include <QAction>

#include <QDir>
#include <QEvent>
#include <QImage>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>

namespace app {

namespace {

// The latest the type-ahead values begin to be read after the window is made.
constexpr int kTypeAheadLatestMs = 1000;

} // namespace

Commands::Commands(MainWindow& window, std::unique_ptr<output::PrintTarget> printer)
    : QObject(&window), window_(window), printer_(std::move(printer)) {
    if (!printer_)
        printer_ = std::make_unique<output::DefaultPrinterTarget>();

    typeAhead_ = std::make_unique<browse::TypeAheadIndex>(window.cardStore());
    lists_ = new browse::TypeAheadLists(
        &window, typeAhead_.get(), [&window] { return window.enEdicion(); }, &window.messages(),
        this);
    new browse::EntryKeys(&window, lists_, this);
    // The type-ahead values are read off the window's thread, so that no keystroke waits for a
    // walk over the whole registry. The read begins once the window has painted its first card
    // (eventFilter): begun sooner, the read of a million cards' values takes a processor from
    // the start-up itself, whose first paint it held up by a fifth. A window not shown, or not
    // yet painted, has it begun a moment later all the same.
    if (window.cardStore())
        QTimer::singleShot(kTypeAheadLatestMs, this, &Commands::startTypeAhead);
    // A card is being entered while the entry flag is set and the entry fields are enabled: a
    // cancel leaves the flag set for the type-ahead lists, but the window is back in browse (or
    // then search) mode, where the fields only show stored cards.
    new editing::IdentifierHints(
        window.textBox(store::Codigo), window.textBox(store::Rut),
        [&window] { return window.enEdicion() && window.fieldEnabled(store::Rut); }, this);

    if (window.cardStore())
        wireStoreCommands();
    else
        wireNoStoreCommands();
    // Closing the window (title bar, Alt+F4) while a card is being typed asks first.
    window.installEventFilter(this);
}

void Commands::startTypeAhead() {
    if (typeAheadStarted_ || !window_.cardStore())
        return;
    // Never inside another command's wait, whose loop runs the timers: it follows that command.
    if (store::StoreThread* thread = window_.cardStore()->storeThread(); thread && thread->busy()) {
        thread->afterWork(this, [this] { startTypeAhead(); });
        return;
    }
    typeAheadStarted_ = true;
    typeAhead_->buildInBackground([lists = lists_] { lists->indexReady(); });
}

bool Commands::eventFilter(QObject* watched, QEvent* event) {
    // After the paint that is under way.
    if (watched == &window_ && event->type() == QEvent::Paint && !typeAheadStarted_ &&
        window_.cardStore())
        QTimer::singleShot(0, this, &Commands::startTypeAhead);
    if (watched == &window_ && event->type() == QEvent::Close && editor_ &&
        !editor_->confirmDiscard()) {
        event->ignore();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void Commands::wireNoStoreCommands() {
    // Without a card store every command that needs one says so, rather than doing nothing.
    const struct {
        const char16_t* button;
        const char16_t* doing;
    } commands[] = {
        {u"cmdAgregar", u"agregar tarjetas"},    {u"cmdCopiar", u"copiar tarjetas"},
        {u"cmdEditar", u"modificar tarjetas"},   {u"cmdEliminar", u"eliminar tarjetas"},
        {u"cmdBuscar", u"buscar tarjetas"},      {u"cmdExcel", u"exportar tarjetas"},
        {u"cmdListado", u"imprimir el listado"}, {u"cmdImprimir", u"imprimir tarjetas"},
        {u"Command1", u"imprimir tarjetas"},
    };
    store::Status chosen;
    const store::Registry registry = store::chooseRegistry(window_.folders(), &chosen);
    const QString check =
        registry.isServer()
            ? QStringLiteral("revise la conexión con el registro %1").arg(registry.quoted())
        : registry.isEmpty()
            ? QStringLiteral("revise la sección [BASE DE DATOS] de la configuración")
            : QStringLiteral("revise el archivo %1").arg(registry.describe());
    for (const auto& c : commands) {
        const QString message =
            QStringLiteral("No hay un registro de tarjetas abierto: no se puede %1.\n\n"
                           "Cierre el programa, %2 (el mensaje del inicio dice "
                           "por qué no se pudo abrir) y vuelva a abrir el programa.")
                .arg(QString::fromUtf16(c.doing), check);
        window_.setCommandHandler(QString::fromUtf16(c.button),
                                  [this, message] { window_.messages().notice(message); });
    }
}

Commands::~Commands() {
    if (storeListener_ && window_.cardStore())
        window_.cardStore()->removeChangeListener(storeListener_);
}

void Commands::wireStoreCommands() {
    store::CardStore& cards = *window_.cardStore();
    // The type-ahead index follows every write to the store, whichever command made it.
    storeListener_ = cards.addChangeListener(
        [index = typeAhead_.get()](store::CardStore::Change change, store::RowId id,
                                   const store::Card* card) {
            switch (change) {
            case store::CardStore::Change::Added:
                index->cardAdded(id, *card);
                break;
            case store::CardStore::Change::Changed:
                index->cardChanged(id, *card);
                break;
            case store::CardStore::Change::Removed:
                index->cardRemoved(id);
                break;
            case store::CardStore::Change::Reset:
                index->reset();
                break;
            }
        });

    // Another program's writes to the same registry reach the lists and the grid within a poll.
    follower_ =
        new browse::StoreFollower(cards, window_, typeAhead_.get(), window_.messages(), this);
    // The box being typed in offers another program's new values at once.
    connect(follower_, &browse::StoreFollower::typeAheadFollowed, lists_,
            &browse::TypeAheadLists::indexReady);
    watch_ = store::ChangeWatch::start(cards);
    if (watch_) {
        // The lists let their old values go before the index reads the new ones.
        connect(watch_.get(), &store::ChangeWatch::changedElsewhere, lists_,
                &browse::TypeAheadLists::dropHiddenEntries);
        connect(watch_.get(), &store::ChangeWatch::changedElsewhere, follower_,
                &browse::StoreFollower::changedElsewhere);
        // While a server cannot be reached the footer says so; the watch keeps trying.
        connect(watch_.get(), &store::ChangeWatch::connectionChanged, this, [this](bool lost) {
            if (!window_.cardStore())
                return;
            window_.setRegistryText(
                window_.cardStore()->registry().describe() +
                (lost ? QStringLiteral(" — Sin conexión con el servidor; reintentando…")
                      : QString()));
        });
    }

    editor_ = std::make_unique<editing::CardEditor>(window_, *window_.table(), window_.messages(),
                                                    window_.clock());
    editing::CardEditor* editor = editor_.get();
    window_.setCommandHandler(QStringLiteral("cmdAgregar"), [editor] { editor->clickAgregar(); });
    window_.setCommandHandler(QStringLiteral("cmdCopiar"), [editor] { editor->clickCopiar(); });
    window_.setCommandHandler(QStringLiteral("cmdEditar"), [editor] { editor->clickEditar(); });
    window_.setCommandHandler(QStringLiteral("cmdEliminar"), [editor] { editor->clickEliminar(); });

    search_ = std::make_unique<browse::CodeSearch>(cards, window_, window_.messages());
    browse::CodeSearch* search = search_.get();
    window_.setCommandHandler(QStringLiteral("cmdBuscar"), [search] { search->open(); });
    window_.setCommandHandler(QStringLiteral("btnBuscarOK"), [search] { search->run(); });
    window_.setCommandHandler(QStringLiteral("btnBuscarFin"), [search] { search->close(); });
    wireFreeSearch();

    window_.setCommandHandler(QStringLiteral("cmdImprimir"), [this] { printCard(false); });
    window_.setCommandHandler(QStringLiteral("Command1"), [this] { printCard(true); });

    window_.setCommandHandler(QStringLiteral("cmdExcel"), [this] {
        output::exportCommand(*window_.cardStore(), window_.folders(), window_.clock(),
                              window_.messages());
    });
    // The implant certificate of the card shown, from the grid's context menu or Ctrl+Shift+P.
    auto* certificate = new QAction(QStringLiteral("Certificado de implantación…"), &window_);
    certificate->setObjectName(QStringLiteral("actCertificado"));
    certificate->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    certificate->setShortcutContext(Qt::WindowShortcut);
    window_.addAction(certificate);
    window_.grid()->addAction(certificate);
    window_.grid()->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(certificate, &QAction::triggered, this, &Commands::showCertificate);
    wireHistory();
    wireChipReader();
    wireReport(window_, &report_);
    wireMerge();

    window_.setCommandHandler(QStringLiteral("cmdListado"), [this] {
        // One preview: a second click brings it to the front with the cards as stored now.
        if (listing_) {
            listing_->refresh();
            listing_->show();
            listing_->raise();
            listing_->activateWindow();
            return;
        }
        output::ListingPictures pictures{QImage(QStringLiteral(":/images/banner.png")),
                                         QImage(QStringLiteral(":/images/logo.png"))};
        listing_ = output::showListingPreview(*window_.cardStore(), std::move(pictures),
                                              window_.clock(), window_.messages(), &window_);
    });
}

void Commands::wireHistory() {
    auto* history = new QAction(QStringLiteral("Historial de la tarjeta…"), &window_);
    history->setObjectName(QStringLiteral("actHistorial"));
    window_.grid()->addAction(history);
    connect(history, &QAction::triggered, this, [this] {
        // The card the fields show, by its code as stored now.
        store::Card card;
        if (!readShownCard(&card))
            return;
        browse::showCardHistory(*window_.cardStore(), card[store::Codigo], window_.messages(),
                                &window_);
    });

    auto* deleted = new QAction(QStringLiteral("Tarjetas eliminadas…"), &window_);
    deleted->setObjectName(QStringLiteral("actEliminadas"));
    window_.grid()->addAction(deleted);
    connect(deleted, &QAction::triggered, this, [this] {
        // Browse mode only: a restore lists every card again, which a search or a card being
        // typed must not lose.
        if (!window_.buttonEnabled(QStringLiteral("cmdAgregar")) || window_.enEdicion())
            return;
        browse::showDeletedCards(
            *window_.cardStore(), window_.messages(),
            [this](store::RowId restored) { showRestored(restored); }, &window_);
    });
}

void Commands::wireMerge() {
    auto* merge = new QAction(QStringLiteral("Combinar tarjetas de otro registro…"), &window_);
    merge->setObjectName(QStringLiteral("actCombinar"));
    window_.grid()->addAction(merge);
    window_.addAction(merge);
    connect(merge, &QAction::triggered, this, [this] {
        // Browse mode only, as a restore: the merge lists every card again afterwards.
        if (!window_.buttonEnabled(QStringLiteral("cmdAgregar")) || window_.enEdicion())
            return;
        merge::startMerge(
            *window_.cardStore(), window_.folders(), window_.clock(), window_.messages(),
            [this] {
                // Every card listed again, the first one shown, as at start-up.
                showRestored(store::kNoRow);
                if (window_.gridRows() > 1)
                    window_.setGridCurrentRow(1);
            },
            &window_);
    });
}

void Commands::showRestored(store::RowId restored) {
    // Every card in stored order, as at start-up, with the restored one current: it may stand
    // at its former place, anywhere in the grid.
    int row = 0;
    if (const store::Status status = window_.gridShowStored(*window_.cardStore(), restored, &row);
        !status) {
        window_.messages().notice(status.message());
        return;
    }
    window_.modoConsulta();
    if (row > 0)
        window_.setGridCurrentRow(row);
}

void Commands::wireFreeSearch() {
    store::CardStore& cards = *window_.cardStore();
    // A registry of an earlier version gains its search index here: a file's is filled behind
    // the window, a server's is built before the window is shown.
    browse::SearchIndexStart index =
        browse::prepareSearchIndex(cards, &window_, window_.messages());
    freeSearch_ = new browse::FreeSearch(&window_, window_.grid(), cards, window_,
                                         window_.messages(), std::move(index), this);
    // The footer says how far a new index has come while it is filled behind the window.
    connect(freeSearch_, &browse::FreeSearch::preparingChanged, this, [this](int percent) {
        if (!window_.cardStore())
            return;
        window_.setRegistryText(
            window_.cardStore()->registry().describe() +
            (percent >= 0 ? QStringLiteral(" — Preparando la búsqueda por propietario, R.U.T., "
                                           "teléfono y mascota: %1 %")
                                .arg(percent)
                          : QString()));
    });
    // A command started from the buttons leaves what the bar found listed, and the bar goes.
    connect(&window_, &MainWindow::commandClicked, freeSearch_, &browse::FreeSearch::hideBar);

    auto* find = new QAction(QStringLiteral("Buscar por propietario, R.U.T., teléfono o mascota…"),
                             &window_);
    find->setObjectName(QStringLiteral("actBuscarPor"));
    find->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    find->setShortcutContext(Qt::WindowShortcut);
    window_.addAction(find);
    window_.grid()->addAction(find);
    connect(find, &QAction::triggered, freeSearch_, &browse::FreeSearch::open);

    auto* owner = new QAction(QStringLiteral("Todas las mascotas de este propietario"), &window_);
    owner->setObjectName(QStringLiteral("actMismoPropietario"));
    window_.grid()->addAction(owner);
    connect(owner, &QAction::triggered, freeSearch_, &browse::FreeSearch::showOwnerCards);
}

bool Commands::readShownCard(store::Card* card) {
    // Browse mode with a card shown: what printing the card asks too.
    const store::RowId id = window_.shownCardId();
    if (!window_.buttonEnabled(QStringLiteral("cmdImprimir")) || id == store::kNoRow)
        return false;
    if (const store::Status status = window_.cardStore()->readCard(id, card); !status) {
        window_.messages().notice(status.message());
        return false;
    }
    return true;
}

void Commands::showCertificate() {
    store::Card card;
    if (!readShownCard(&card))
        return;
    auto* preview = new output::CertificatePreview(
        output::certificateFor(window_.folders(), card, window_.clock().now().date()),
        window_.messages(), &window_);
    preview->show();
}

void Commands::wireChipReader() {
    // A code read by a chip reader in browse mode: the card found as the search finds it, or, for
    // a code not stored, the offer to add a card with it.
    auto* scanner = new browse::ChipScanner(&window_, window_, this);
    scanner->setSettings(browse::ReaderSettings::fromIni(
        store::IniFile::load(window_.folders().dataFile(store::kIniFileName))));
    scanner->setCodeField(window_.textBox(store::Codigo));
    browse::CodeSearch* search = search_.get();
    connect(scanner, &browse::ChipScanner::codeScanned, this,
            [this, search](const QString& code, const QString& lead) {
                // A scan replaces a free search: its text would no longer match the grid.
                if (freeSearch_ && freeSearch_->bar()->isVisible()) {
                    freeSearch_->bar()->clear();
                    freeSearch_->close();
                }
                browse::goToScannedCode(code, lead, *window_.cardStore(), *search, window_,
                                        window_.messages(),
                                        [this](const QString& scanned) { addWithCode(scanned); });
            });
    connect(scanner, &browse::ChipScanner::codeScannedWhileEntering, this,
            [this](const QString& code) {
                // A new card without a code yet takes it; any other is left as it was.
                if (window_.fieldEnabled(store::Codigo) &&
                    store::trimSpaces(window_.fieldText(store::Codigo)).isEmpty()) {
                    window_.setFieldText(store::Codigo, code);
                    return;
                }
                window_.messages().notice(
                    QStringLiteral("Se leyó el microchip %1 mientras se edita una tarjeta; no se "
                                   "escribió en ningún campo.\n\nPara ver la tarjeta de ese "
                                   "chip, termine la edición con OK o Cancela y vuelva a leerlo.")
                        .arg(code));
            });
    auto* probe = new QAction(QStringLiteral("Probar lector…"), &window_);
    probe->setObjectName(QStringLiteral("actProbarLector"));
    window_.grid()->addAction(probe);
    window_.grid()->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(probe, &QAction::triggered, this, [this, scanner] {
        browse::testReader(*scanner, window_.folders().dataFile(store::kIniFileName), &window_);
    });
}

void Commands::addWithCode(const QString& code) {
    window_.runCommand(QStringLiteral("cmdAgregar"));
    // Only when the click opened the fields for a new card: the code goes where the user would
    // have typed it, whole (the entry limit applies to typing only).
    if (window_.buttonCaption(QStringLiteral("cmdAgregar")) == QStringLiteral("&OK") &&
        window_.fieldEnabled(store::Codigo))
        window_.setFieldText(store::Codigo, code);
}

void Commands::printCard(bool quick) {
    // The card the entry fields show, read afresh from the store.
    output::printCardCommand(*window_.cardStore(), window_.shownCardId(), window_.folders(),
                             window_.textoPie(), window_.messages(), *printer_,
                             quick ? output::PrintKind::Quick : output::PrintKind::ThreeBlocks);
}

} // namespace app
