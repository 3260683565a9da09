#include "ChipScanner.h"

#include "CardFields.h"
#include "CardGrid.h"
#include "CodeSearch.h"
#include "IdentifierChecks.h"
#include "Ini.h"
#include "SearchIndex.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

#include <algorithm>
#include <cstdlib>

namespace browse {

namespace {

bool isEntryField(const QWidget* w) {
    if (qobject_cast<const QLineEdit*>(w) || qobject_cast<const QAbstractSpinBox*>(w) ||
        qobject_cast<const QTextEdit*>(w) || qobject_cast<const QPlainTextEdit*>(w))
        return true;
    const auto* combo = qobject_cast<const QComboBox*>(w);
    return combo && combo->isEditable();
}

bool isModifierOnly(int key) {
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
        return true;
    default:
        return false;
    }
}

bool isCodeCharacter(QChar ch) {
    const char16_t c = ch.unicode();
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// Readers type plain letters and digits, with Shift for capitals and from the keypad for
// digits, and whatever prefix and suffix they are set to send; anything with Ctrl, Alt or Meta
// is a shortcut.
QChar runCharacter(const QKeyEvent* key, const ReaderSettings& settings) {
    if (key->isAutoRepeat() ||
        (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != Qt::NoModifier)
        return QChar();
    const QString text = key->text();
    if (text.size() != 1)
        return QChar();
    const QChar c = text.front();
    const bool marker = c.isPrint() && (settings.prefix.contains(c) || settings.suffix.contains(c));
    return isCodeCharacter(c) || marker ? c : QChar();
}

// Readers end a code with Enter, some with a line feed.
bool isEnter(const QKeyEvent* key) {
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                       key->text() == u"\r" || key->text() == u"\n";
    return enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// Or with Tab, as if to go to the next field.
bool isTab(const QKeyEvent* key) {
    return key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier;
}

// How far a text box's run may stray from its own pace and still be a reader's.
constexpr qint64 kSteadyLeewayMs = 30;

// What puts a control back as it was before a run's keys reached it: the grid's current row
// (and a fresh start for its jump-to-row), or a text box's text and cursor.
std::function<void()> snapshotOf(QWidget* w) {
    if (auto* grid = qobject_cast<CardGrid*>(w)) {
        // The grid's view holds only the rows in sight: its current row is the grid's.
        const int row = grid->currentRow();
        const QPointer<CardGrid> g(grid);
        return [g, row] {
            if (!g)
                return;
            g->keyboardSearch(QString()); // the next key starts a new jump-to-row
            g->setCurrentRow(row);
        };
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
        const QPersistentModelIndex index(view->currentIndex());
        const QPointer<QAbstractItemView> v(view);
        return [v, index] {
            if (!v)
                return;
            v->keyboardSearch(QString()); // the next key starts a new jump-to-row
            v->setCurrentIndex(index);
            v->scrollTo(v->currentIndex());
        };
    }
    QLineEdit* edit = qobject_cast<QLineEdit*>(w);
    if (auto* combo = qobject_cast<QComboBox*>(w); combo && !edit)
        edit = combo->lineEdit();
    if (edit) {
        const QPointer<QLineEdit> e(edit);
        const QString text = edit->text();
        const int cursor = edit->cursorPosition();
        return [e, text, cursor] {
            if (!e)
                return;
            e->setText(text);
            e->setCursorPosition(cursor);
        };
    }
    return {};
}

} // namespace

bool browsing(const store::EntryForm& form) {
    // Entry and search modes both take the add command away or give it the OK caption, and
    // entry mode disables the grid.
    const QString add = QStringLiteral("cmdAgregar");
    return form.buttonEnabled(add) && form.buttonCaption(add) == QStringLiteral("&Agregar") &&
           form.gridEnabled();
}

ReaderSettings ReaderSettings::fromIni(const store::IniFile& ini) {
    const QString section = QStringLiteral("LECTOR");
    ReaderSettings s;
    bool number = false;
    const int ms = store::LeeIni(ini, section, QStringLiteral("INTERVALO MAXIMO")).toInt(&number);
    if (number)
        s.slowestKeyMs = std::clamp(ms, kFewestMs, kMostMs);
    s.prefix = store::LeeIni(ini, section, QStringLiteral("PREFIJO"));
    s.suffix = store::LeeIni(ini, section, QStringLiteral("SUFIJO"));
    return s;
}

QString ReaderSettings::iniText() const {
    return QStringLiteral("[LECTOR]\nINTERVALO MAXIMO=%1\nPREFIJO=%2\nSUFIJO=%3\n")
        .arg(slowestKeyMs)
        .arg(prefix, suffix);
}

ChipScanner::ChipScanner(QWidget* window, const store::EntryForm& form, QObject* parent)
    : QObject(parent), window_(window), form_(form) {
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    clock_ = [started] {
        return started->elapsed();
    };
    releaseTimer_.setSingleShot(true);
    releaseTimer_.setInterval(int(kHoldMs));
    connect(&releaseTimer_, &QTimer::timeout, this, &ChipScanner::release);
    qApp->installEventFilter(this);
}

ChipScanner::~ChipScanner() {
    if (qApp)
        qApp->removeEventFilter(this);
}

bool ChipScanner::watches(QObject* receiver) const {
    // A key goes first to the widget with the focus (or the window when none has it), then up
    // to its parents when ignored: only the first delivery counts.
    auto* w = qobject_cast<QWidget*>(receiver);
    if (!w || w->window() != window_)
        return false;
    const QWidget* focus = QApplication::focusWidget();
    return w == focus || (!focus && w == window_);
}

bool ChipScanner::eventFilter(QObject* watched, QEvent* event) {
    if (replaying_)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
        // The window system's window sees each key before the widget with the focus does.
        if (!watches(watched))
            return false;
        return onKeyPress(static_cast<QWidget*>(watched), static_cast<QKeyEvent*>(event));
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        // A click comes after the keys held back: they go on first, and a run ends.
        release();
        reset();
        lastWasCode_ = false;
        return false;
    default:
        return false;
    }
}

bool ChipScanner::onKeyPress(QWidget* receiver, QKeyEvent* key) {
    if (isModifierOnly(key->key()))
        return false; // Shift before a capital letter keeps the run going
    const bool stamped = key->timestamp() != 0;
    const qint64 at = stamped ? qint64(key->timestamp()) : clock_();
    const qint64 gap = stamped == lastStamped_ && at >= lastAt_ ? at - lastAt_ : -1;
    const bool afterCode = lastWasCode_ && gap >= 0;
    const bool afterScan = justScanned_ && afterCode;
    lastAt_ = at;
    lastStamped_ = stamped;
    lastWasCode_ = false;
    justScanned_ = false;

    if (receiver == codeField_ && codeField_) {
        release();
        reset();
        return false;
    }
    const bool field = isEntryField(receiver);
    const bool browse = browsing(form_);

    if (isEnter(key) || isTab(key)) {
        const bool readers = afterCode && gap <= kReaderEnterMs;
        if (readers && afterScan)
            return true; // the reader's Enter or Tab after its suffix
        if (readers && !run_.isEmpty() && runFor_ == receiver) {
            if (const QString code = scannedCode(gap); !code.isEmpty()) {
                finish(code);
                return true;
            }
        }
        const bool sameControl = lastFor_ == receiver;
        release();
        reset();
        // Too soon after a letter or digit on the grid or a button for a person: the Enter of a
        // reader whose code was not recognised (or of one that also sends a suffix) goes nowhere
        // rather than edit or click whatever is current.
        return readers && isEnter(key) && browse && !field && sameControl;
    }

    const QChar c = runCharacter(key, settings_);
    if (c.isNull()) {
        release();
        reset();
        return false;
    }
    const bool continues = !run_.isEmpty() && runFor_ == receiver && steady_ == field &&
                           afterCode && gap <= settings_.slowestKeyMs && run_.size() < kMaxLength;
    if (!continues) {
        // Keys on the grid cut off by a pause may be the reader's first ones: kept as the lead
        // of the next run, and taken back with it.
        const bool lead = !run_.isEmpty() && !steady_ && runFor_ == receiver && afterCode &&
                          gap <= kLeadMs && run_.size() < kMaxLength;
        release();
        QString leadText;
        std::function<void()> back;
        if (lead) {
            leadText = lead_ + run_;
            back = takeBack_;
        }
        reset();
        runFor_ = receiver;
        steady_ = field;
        entering_ = !browse;
        lead_ = leadText;
        takeBack_ = back ? back : snapshotOf(receiver);
        delivered_ = bool(back);
    } else {
        gaps_.push_back(gap);
    }
    run_.append(c);
    lastWasCode_ = true;
    lastFor_ = receiver;

    if (!settings_.suffix.isEmpty() && run_.endsWith(settings_.suffix)) {
        if (const QString code = scannedCode(-1); !code.isEmpty()) {
            finish(code);
            return true;
        }
    }
    // Text boxes get their keys at once: typing there must not lag. A key slower than the hold
    // lets what is held go on; the run's keys then go on as they come.
    if (field || delivered_ || (continues && gap > kHoldMs)) {
        release();
        delivered_ = true;
        return false;
    }
    held_.push_back(std::unique_ptr<QKeyEvent>(key->clone()));
    releaseTimer_.start();
    return true;
}

QString ChipScanner::scannedCode(qint64 endGap) const {
    QString code = run_;
    if (!settings_.prefix.isEmpty() && code.startsWith(settings_.prefix))
        code.remove(0, settings_.prefix.size());
    if (!settings_.suffix.isEmpty() && code.endsWith(settings_.suffix))
        code.chop(settings_.suffix.size());
    else if (endGap < 0)
        return {};
    if (code.size() < kMinLength || code.size() > kMaxLength ||
        !std::all_of(code.begin(), code.end(), isCodeCharacter))
        return {};
    if (steady_) {
        std::vector<qint64> gaps = gaps_;
        if (endGap >= 0)
            gaps.push_back(endGap);
        // A reader may be slow to start; after its first keys it keeps one pace, Enter included.
        gaps.erase(gaps.begin(),
                   gaps.begin() + std::ptrdiff_t(std::min<size_t>(3, gaps.size() / 3)));
        if (gaps.empty())
            return {};
        std::vector<qint64> sorted = gaps;
        std::nth_element(sorted.begin(), sorted.begin() + std::ptrdiff_t(sorted.size() / 2),
                         sorted.end());
        const qint64 median = sorted[sorted.size() / 2];
        // USB polls a reader once a millisecond, and a key takes a press and a release: keys
        // closer than that come from a program (a paste, an automated test), not a reader.
        if (median < 1)
            return {};
        const qint64 leeway = std::max<qint64>(kSteadyLeewayMs, median / 2);
        if (std::any_of(gaps.begin(), gaps.end(),
                        [&](qint64 g) { return std::abs(g - median) > leeway; }))
            return {};
    }
    return code;
}

void ChipScanner::finish(const QString& code) {
    releaseTimer_.stop();
    held_.clear();
    if (delivered_ && takeBack_)
        takeBack_();
    const bool entering = entering_;
    const QString lead = lead_;
    const QPointer<QWidget> focus = runFor_;
    reset();
    lastWasCode_ = true; // the reader's Enter after its suffix goes nowhere either
    justScanned_ = true;
    if (entering) {
        emit codeScannedWhileEntering(code);
        return;
    }
    emit codeScanned(code, lead);
    // Back where the user was, so that the next scan or key goes there too; searching moved the
    // focus into the code field, which browse mode disables again.
    if (focus && focus->isEnabled() && focus->isVisible() && browsing(form_) &&
        focus->window() == window_)
        focus->setFocus(Qt::OtherFocusReason);
}

void ChipScanner::release() {
    releaseTimer_.stop();
    if (held_.empty())
        return;
    // Taken first: a key handed on may open a box whose own events come back here.
    std::vector<std::unique_ptr<QKeyEvent>> keys;
    keys.swap(held_);
    delivered_ = true;
    const QPointer<QWidget> receiver = runFor_;
    replaying_ = true;
    for (const auto& key : keys) {
        if (!receiver)
            break;
        QCoreApplication::sendEvent(receiver, key.get());
    }
    replaying_ = false;
}

void ChipScanner::reset() {
    releaseTimer_.stop();
    held_.clear();
    runFor_ = nullptr;
    run_.clear();
    gaps_.clear();
    steady_ = false;
    entering_ = false;
    delivered_ = false;
    takeBack_ = {};
    lead_.clear();
}

void goToScannedCode(const QString& code, const QString& lead, const store::CardStore& store,
                     CodeSearch& search, store::EntryForm& form, store::MessageLayer& messages,
                     const std::function<void(const QString&)>& addCard) {
    using Answer = store::MessageLayer::Answer;
    const QString title = QStringLiteral("Lector de microchip");
    // Exactly what "Buscar", the code and "Ok" do, so that the grid, the card shown, the footer
    // and the buttons end up the same way.
    const auto show = [&](const QString& stored) {
        search.open();
        form.setFieldText(store::Codigo, stored);
        search.run();
    };
    // A reader that paused after its first keys: those and the rest together are the code.
    for (const QString& candidate : {lead.isEmpty() ? QString() : lead + code, code}) {
        if (candidate.isEmpty())
            continue;
        const SearchResult found = findByCode(store, candidate);
        if (!found.status) {
            messages.notice(found.status.message());
            return;
        }
        if (!found.notFound()) {
            show(candidate);
            return;
        }
    }
    // A code cut short by the reader (or read with some other letter case) is most likely the
    // stored card whose code it begins or ends.
    std::vector<QString> near;
    if (const store::Status status = store::SearchIndex::codesAround(store, code, 2, &near);
        !status) {
        messages.notice(status.message());
        return;
    }
    if (near.size() == 1 &&
        messages.askYesNo(QStringLiteral("Ninguna tarjeta tiene el código leído, %1, pero una "
                                         "tiene un código que lo contiene.\n\n¿Es la tarjeta %2?")
                              .arg(code, near.front()),
                          title, Answer::Yes) == Answer::Yes) {
        show(near.front());
        return;
    }
    const store::ChipInfo shape = store::classifyChip(code);
    if (shape.doubtful()) {
        const QString question =
            QStringLiteral("El código leído, %1, no tiene la forma de un identificador de "
                           "mascota (%2). Puede que la lectura se haya cortado; vuelva a leer el "
                           "chip.\n\n¿Agregar de todos modos una tarjeta con este código?")
                .arg(code, shape.description.front().toLower() + shape.description.mid(1));
        if (messages.askYesNo(question, title, Answer::No) == Answer::Yes)
            addCard(code);
        return;
    }
    if (messages.askYesNo(QStringLiteral("Agregar una tarjeta con este código?"), title,
                          Answer::Yes) == Answer::Yes)
        addCard(code);
}

} // namespace browse
