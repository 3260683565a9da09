#include "ChipScanner.h"

#include "CardFields.h"
#include "CodeSearch.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTextEdit>
#include <QWidget>

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

// Readers type plain letters and digits, with Shift for capitals and from the keypad for
// digits; anything with Ctrl, Alt or Meta is a shortcut.
QChar codeCharacter(const QKeyEvent* key) {
    if (key->isAutoRepeat() ||
        (key->modifiers() & ~(Qt::ShiftModifier | Qt::KeypadModifier)) != Qt::NoModifier)
        return QChar();
    const QString text = key->text();
    if (text.size() != 1)
        return QChar();
    const char16_t c = text.front().unicode();
    const bool ascii =
        (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
    return ascii ? text.front() : QChar();
}

// Readers end a code with Enter, some with a line feed.
bool isEnter(const QKeyEvent* key) {
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
                       key->text() == u"\r" || key->text() == u"\n";
    return enter && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

} // namespace

bool browsing(const store::EntryForm& form) {
    // Entry and search modes both take the add command away or give it the OK caption, and
    // entry mode disables the grid.
    const QString add = QStringLiteral("cmdAgregar");
    return form.buttonEnabled(add) && form.buttonCaption(add) == QStringLiteral("&Agregar") &&
           form.gridEnabled();
}

ChipScanner::ChipScanner(QWidget* window, const store::EntryForm& form, QObject* parent)
    : QObject(parent), window_(window), form_(form) {
    auto started = std::make_shared<QElapsedTimer>();
    started->start();
    clock_ = [started] {
        return started->elapsed();
    };
    releaseTimer_.setSingleShot(true);
    releaseTimer_.setInterval(kReleaseMs);
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
        // A click comes after the keys held back: they go on first.
        release();
        return false;
    default:
        return false;
    }
}

bool ChipScanner::onKeyPress(QWidget* receiver, QKeyEvent* key) {
    if (isModifierOnly(key->key()))
        return false; // Shift before a capital letter keeps the burst going
    if (isEntryField(receiver) || !browsing(form_)) {
        release();
        return false;
    }
    const bool stamped = key->timestamp() != 0;
    const qint64 at = stamped ? qint64(key->timestamp()) : clock_();
    const bool soon = !held_.empty() && stamped == lastStamped_ && at >= lastAt_ &&
                      at - lastAt_ < kMaxGapMs && receiver == heldFor_;

    if (isEnter(key)) {
        if (!soon || code_.size() < kMinLength) {
            release();
            return false;
        }
        const QString code = code_;
        held_.clear();
        code_.clear();
        releaseTimer_.stop();
        QPointer<QWidget> focus = receiver;
        emit codeScanned(code);
        // Back where the user was, so that the next scan or key goes there too; searching
        // moved the focus into the code field, which browse mode disables again.
        if (focus && focus->isEnabled() && focus->isVisible() && browsing(form_) &&
            focus->window() == window_)
            focus->setFocus(Qt::OtherFocusReason);
        return true;
    }

    const QChar c = codeCharacter(key);
    const bool passes = c.isNull() || (soon && code_.size() >= kMaxLength);
    if (passes || !soon)
        release();
    if (passes)
        return false;
    // Either the first character of a possible burst or the next one of the burst held so far.
    held_.push_back(std::unique_ptr<QKeyEvent>(key->clone()));
    heldFor_ = receiver;
    code_.append(c);
    lastAt_ = at;
    lastStamped_ = stamped;
    releaseTimer_.start();
    return true;
}

void ChipScanner::release() {
    releaseTimer_.stop();
    if (held_.empty())
        return;
    // Taken first: a key handed on may open a box whose own events come back here.
    std::vector<std::unique_ptr<QKeyEvent>> keys;
    keys.swap(held_);
    code_.clear();
    const QPointer<QWidget> receiver = heldFor_;
    heldFor_ = nullptr;
    replaying_ = true;
    for (const auto& key : keys) {
        if (!receiver)
            break;
        QCoreApplication::sendEvent(receiver, key.get());
    }
    replaying_ = false;
}

void goToScannedCode(const QString& code, const store::CardStore& store, CodeSearch& search,
                     store::EntryForm& form, store::MessageLayer& messages,
                     const std::function<void(const QString&)>& addCard) {
    const SearchResult found = findByCode(store, code);
    if (!found.status) {
        messages.notice(found.status.message());
        return;
    }
    if (found.notFound()) {
        if (messages.askYesNo(QStringLiteral("Agregar una tarjeta con este código?"),
                              QStringLiteral("Lector de microchip"),
                              store::MessageLayer::Answer::Yes) == store::MessageLayer::Answer::Yes)
            addCard(code);
        return;
    }
    // Exactly what "Buscar", the code and "Ok" do, so that the grid, the card shown, the footer
    // and the buttons end up the same way.
    search.open();
    form.setFieldText(store::Codigo, code);
    search.run();
}

} // namespace browse
