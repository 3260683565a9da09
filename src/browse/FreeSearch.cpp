#include "FreeSearch.h"

#include "StoreThread.h"

#include "Browse.h"
#include "CardGrid.h"
#include "SearchIndex.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressDialog>
#include <QTimer>

#include <algorithm>

namespace browse {

namespace {

constexpr int kDebounceMs = 150;
// The cards a server's search lists first, while it reads the rest: more than a screen shows.
constexpr size_t kFirstRows = 100;
const QString kPlaceholder =
    QStringLiteral("Propietario, R.U.T., teléfono, mascota o código (Esc: todas)");
// The fill of a new index goes a step at a time, each short enough that the window's held-back
// keys and clicks arrive without a felt delay, with a pause for them between steps.
constexpr int kFillStepMs = 40;
constexpr int kFillPauseMs = 15;
constexpr int kFillFirstLimit = 1000;
// Another program holds the file: the next step waits this long.
constexpr int kFillBusyRetryMs = 500;
// The check of an index at start waits this long after the window is set up, and this long
// again while another program holds the registry.
constexpr int kCheckDelayMs = 1000;
constexpr int kCheckRetryMs = 5000;

QString unavailableText(const store::Status& status) {
    return QStringLiteral("La búsqueda por propietario, R.U.T., teléfono o mascota no está "
                          "disponible: no se pudo preparar su índice.\n\n%1\n\nLa búsqueda por "
                          "código y el resto del programa funcionan; el índice se intentará "
                          "preparar de nuevo en el próximo inicio.")
        .arg(status.message());
}

} // namespace

SearchIndexStart prepareSearchIndex(store::CardStore& cards, QWidget* parent,
                                    store::MessageLayer& messages) {
    store::Status status;
    if (store::SearchIndex::present(cards, &status)) {
        // An index begun by an earlier start, or by another program of this version, is filled
        // on from where it stopped.
        if (store::SearchIndex::filling(cards, &status))
            return {status, true};
        // Writes that went round the index's triggers are mended a moment after the window is
        // up (FreeSearch), not amid its first reads and paint: the check counts every entry.
        return {status, false, true};
    }
    if (status && store::SearchIndex::fillsInSteps(cards)) {
        status = store::SearchIndex::begin(cards);
        if (status)
            return {status, true};
    } else if (status) {
        QProgressDialog dialog(QStringLiteral("Preparando la búsqueda por propietario, R.U.T., "
                                              "teléfono y mascota…"),
                               QString(), 0, 1000, parent);
        dialog.setObjectName(QStringLiteral("dlgIndiceBusqueda"));
        dialog.setWindowTitle(QStringLiteral("Tarjetas"));
        dialog.setWindowModality(Qt::ApplicationModal);
        dialog.setCancelButton(nullptr);
        dialog.setMinimumDuration(300);
        dialog.setMinimumWidth(520);
        status = store::SearchIndex::build(cards, [&dialog](qint64 done, qint64 total) {
            dialog.setValue(total > 0 ? int(done * 1000 / total) : 1000);
            QApplication::processEvents();
        });
    }
    if (!status)
        messages.notice(unavailableText(status));
    return {status, false};
}

FreeSearch::FreeSearch(QWidget* window, CardGrid* grid, store::CardStore& cards,
                       store::EntryForm& form, store::MessageLayer& messages,
                       SearchIndexStart index, QObject* parent)
    : QObject(parent), window_(window), grid_(grid), cards_(cards), form_(form),
      messages_(messages), available_(std::move(index.status)), bar_(new QLineEdit(window)),
      debounce_(new QTimer(this)), fill_(new QTimer(this)), filling_(index.filling),
      fillLimit_(kFillFirstLimit) {
    bar_->setObjectName(QStringLiteral("txtBuscarPor"));
    bar_->setPlaceholderText(kPlaceholder);
    bar_->setAccessibleName(QStringLiteral("Buscar por propietario, R.U.T., teléfono o mascota"));
    bar_->setClearButtonEnabled(true);
    bar_->hide();
    bar_->installEventFilter(this);
    grid_->installEventFilter(this);
    // Esc that no control of the window takes (a button has the focus, or none has, as after
    // the only card found was deleted) reaches the window.
    window_->installEventFilter(this);
    debounce_->setSingleShot(true);
    debounce_->setInterval(kDebounceMs);
    connect(debounce_, &QTimer::timeout, this, &FreeSearch::run);
    connect(bar_, &QLineEdit::textEdited, this, [this] { debounce_->start(); });
    // The clear button empties the box without an edit of the user's.
    connect(bar_, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (text.isEmpty())
            debounce_->start();
    });
    fill_->setSingleShot(true);
    connect(fill_, &QTimer::timeout, this, &FreeSearch::fillStep);
    if (filling_)
        fill_->start(0);
    if (index.check)
        QTimer::singleShot(kCheckDelayMs, this, &FreeSearch::checkIndex);
}

void FreeSearch::checkIndex() {
    // Never inside another command's wait (it follows it), and never waiting for a lock itself,
    // so that it holds up no command of the user's; while another program holds the registry it
    // is tried again a little later. The search works meanwhile (it never answers with a card
    // that is gone), so a failure is only told.
    if (store::StoreThread* thread = cards_.storeThread(); thread && thread->busy()) {
        thread->afterWork(this, [this] { checkIndex(); });
        return;
    }
    const store::Status checked = store::SearchIndex::check(cards_, store::StoreThread::Kind::Look);
    if (checked.kind() == store::ErrorKind::Busy)
        QTimer::singleShot(kCheckRetryMs, this, &FreeSearch::checkIndex);
    else if (!checked)
        messages_.notice(QStringLiteral("No se pudo revisar el índice de búsqueda.\n\n%1\n\nLa "
                                        "búsqueda funciona; el índice se revisará de nuevo en el "
                                        "próximo inicio.")
                             .arg(checked.message()));
}

void FreeSearch::fillStep() {
    // Never inside another command's wait: the step follows it.
    if (store::StoreThread* thread = cards_.storeThread(); thread && thread->busy()) {
        thread->afterWork(this, [this] { fill_->start(kFillPauseMs); });
        return;
    }
    if (percent_ < 0) {
        percent_ = 0;
        announce();
    }
    QElapsedTimer took;
    took.start();
    store::SearchFillProgress progress;
    const store::Status status = store::SearchIndex::fillStep(cards_, fillLimit_, &progress);
    if (!status && status.kind() == store::ErrorKind::Busy) {
        fill_->start(kFillBusyRetryMs);
        return;
    }
    if (!status || progress.finished) {
        filling_ = false;
        announce();
        if (!status) {
            // What is indexed so far stays; the next start fills on from there.
            available_ = status;
            messages_.notice(unavailableText(status));
        } else if (bar_->isVisible() && !store::trimSpaces(bar_->text()).isEmpty()) {
            run(); // what was typed meanwhile
        }
        return;
    }
    const qint64 ms = std::max<qint64>(1, took.elapsed());
    fillLimit_ = int(std::clamp<qint64>(fillLimit_ * kFillStepMs / ms, 100, 50000));
    const int percent = progress.total > 0 ? int(progress.done * 100 / progress.total) : 0;
    if (percent != percent_) {
        percent_ = percent;
        announce();
    }
    fill_->start(kFillPauseMs);
}

void FreeSearch::announce() {
    emit preparingChanged(filling_ ? percent_ : -1);
    bar_->setPlaceholderText(filling_ ? QStringLiteral("Preparando la búsqueda (%1 %): escriba y "
                                                       "se buscará al terminar")
                                            .arg(percent_)
                                      : kPlaceholder);
    if (filling_ && bar_->isVisible() && !store::trimSpaces(bar_->text()).isEmpty())
        sayPreparing();
}

void FreeSearch::sayPreparing() {
    if (auto* label = window_->findChild<QLabel*>(QStringLiteral("Label27")))
        label->setText(QStringLiteral("Preparando la búsqueda (%1 %): se buscará «%2» al terminar")
                           .arg(std::max(0, percent_))
                           .arg(store::trimSpaces(bar_->text())));
}

bool FreeSearch::browsing() const {
    // Browse mode with cards stored: searching is on, and "Salir" ends the program rather than
    // cancelling an entry.
    return form_.buttonEnabled(QStringLiteral("cmdBuscar")) &&
           form_.buttonCaption(QStringLiteral("cmdSalir")) == u"&Salir";
}

void FreeSearch::open() {
    if (!browsing())
        return;
    if (!available_) {
        messages_.notice(unavailableText(available_));
        return;
    }
    place();
    bar_->show();
    bar_->raise();
    bar_->setFocus(Qt::ShortcutFocusReason);
    bar_->selectAll();
}

void FreeSearch::hideBar() {
    debounce_->stop();
    bar_->hide();
}

void FreeSearch::close() {
    debounce_->stop();
    const bool hadFocus = bar_->hasFocus();
    bar_->hide();
    if (listing_ && browsing()) {
        const store::RowId shown = form_.shownCardId();
        listAll(shown != store::kNoRow ? shown : before_);
    }
    if (hadFocus && grid_->isEnabled())
        grid_->setFocus(Qt::OtherFocusReason);
}

void FreeSearch::run() {
    if (!browsing() || !available_)
        return;
    // Typing paused during another command's wait: search once that is done.
    if (store::StoreThread* thread = cards_.storeThread(); thread && thread->busy()) {
        thread->afterWork(this, [this] { run(); });
        return;
    }
    const QString text = bar_->text();
    if (store::trimSpaces(text).isEmpty()) {
        if (listing_)
            listAll(before_);
        ran_.clear();
        return;
    }
    if (filling_) {
        // Searched once the index is whole.
        sayPreparing();
        return;
    }
    std::vector<store::RowId> ids;
    bool whole = true;
    if (const store::Status status =
            store::SearchIndex::findFirst(cards_, text, kFirstRows, &ids, &whole);
        !status) {
        // The grid keeps what it listed: the user can go on or close the search.
        messages_.notice(status.message());
        return;
    }
    const bool found = !ids.empty();
    const store::RowId first = found ? ids.front() : store::kNoRow;
    show(std::move(ids), first);
    ran_ = text;
    if (!found)
        sayNothingFound(text);
    else if (!whole)
        listTheRest(text);
}

void FreeSearch::listTheRest(const QString& text) {
    // The first cards found are painted by the wait's event loop while the rest are read; what
    // is typed or clicked meanwhile is held until the listing is whole, so that no command sees
    // a listing cut short.
    const int shown = form_.gridRows() - 1;
    auto* label = window_->findChild<QLabel*>(QStringLiteral("Label27"));
    const auto say = [&](const QString& what) {
        if (label)
            label->setText(QString::number(form_.gridCurrentRow()) + QStringLiteral(" de ") +
                           QString::number(shown) + QStringLiteral(" o más") + what);
    };
    say(QStringLiteral(": buscando el resto…"));
    std::vector<store::RowId> ids;
    if (const store::Status status = store::SearchIndex::find(cards_, text, &ids); !status) {
        say(QStringLiteral(" (búsqueda incompleta)"));
        messages_.notice(
            QStringLiteral("Se listan solo las primeras %1 tarjetas encontradas.\n\n").arg(shown) +
            status.message());
        return;
    }
    // The listing shown is the start of the whole one unless a write came between the two reads:
    // then the whole listing replaces it, the card shown kept current.
    if (!grid_->cardModel()->extendIds(std::move(ids)))
        show(std::move(ids), form_.shownCardId());
    if (label)
        label->setText(positionText(form_.gridCurrentRow(), form_.gridRows() - 1));
}

void FreeSearch::sayNothingFound(const QString& text) {
    // "0 de 0 Mascotas registradas" would read as an empty registry: say what was not found,
    // and how many cards there are.
    auto* label = window_->findChild<QLabel*>(QStringLiteral("Label27"));
    if (!label)
        return;
    store::Status status;
    const qint64 total = cards_.recordCount(&status);
    QString said = QStringLiteral("Ninguna tarjeta coincide con «%1»").arg(store::trimSpaces(text));
    if (status)
        said += total == 1 ? QStringLiteral(" (1 Mascota registrada)")
                           : QStringLiteral(" (%1 Mascotas registradas)").arg(total);
    label->setText(said);
}

void FreeSearch::takeFirst() {
    if (debounce_->isActive() || ran_ != bar_->text()) {
        debounce_->stop();
        run();
    }
    if (!listing_)
        return;
    if (form_.gridRows() > 1) {
        form_.setGridCurrentRow(1);
        grid_->setFocus(Qt::OtherFocusReason);
    }
}

void FreeSearch::showOwnerCards() {
    const store::RowId shown = form_.shownCardId();
    if (!browsing() || shown == store::kNoRow)
        return;
    if (!available_) {
        messages_.notice(unavailableText(available_));
        return;
    }
    if (filling_) {
        messages_.notice(
            QStringLiteral("La búsqueda por propietario, R.U.T., teléfono o mascota se está "
                           "preparando (%1 %).\n\nInténtelo de nuevo en unos momentos; el resto "
                           "del programa funciona mientras tanto.")
                .arg(std::max(0, percent_)));
        return;
    }
    std::vector<store::RowId> ids;
    if (const store::Status status = store::SearchIndex::sameOwner(cards_, shown, &ids); !status) {
        messages_.notice(status.message());
        return;
    }
    hideBar();
    show(std::move(ids), shown);
}

void FreeSearch::show(std::vector<store::RowId> ids, store::RowId current) {
    if (!listing_) {
        before_ = form_.shownCardId();
        listing_ = true;
    }
    const auto at = std::find(ids.begin(), ids.end(), current);
    const int row = at == ids.end() ? 1 : int(at - ids.begin()) + 1;
    form_.gridShowRows(std::move(ids));
    if (form_.gridRows() > 1)
        form_.setGridCurrentRow(row);
    else
        form_.cargaTarjeta(); // nothing found: the fields show no card, its commands go off
}

void FreeSearch::listAll(store::RowId keep) {
    int row = 0;
    if (const store::Status status = form_.gridShowStored(cards_, keep, &row); !status) {
        messages_.notice(status.message());
        return;
    }
    listing_ = false;
    ran_.clear();
    if (form_.gridRows() > 1)
        form_.setGridCurrentRow(row > 0 ? row : 1);
    else
        form_.cargaTarjeta();
}

void FreeSearch::place() {
    // Over the right half of the grid's header row: the header's captions are the only thing
    // it hides, never a field of the card.
    const QRect g = grid_->geometry();
    const int header = grid_->horizontalHeader()->height();
    const int width = std::min(g.width() - 8, std::max(280, g.width() / 2));
    bar_->setGeometry(g.right() - width - 3, g.top() + 1, width, header);
}

bool FreeSearch::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape && (watched == bar_ || (watched == grid_ && listing_) ||
                                             (watched == window_ && listing_ && browsing()))) {
            close();
            return true;
        }
        if (watched == bar_ && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            takeFirst();
            return true;
        }
    } else if (watched == grid_ &&
               (event->type() == QEvent::Resize || event->type() == QEvent::Move) &&
               bar_->isVisible()) {
        place();
    }
    return QObject::eventFilter(watched, event);
}

} // namespace browse
