#include "Controls.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>

namespace app {

// ---------------------------------------------------------------------------------------------

LimitedLineEdit::LimitedLineEdit(int limit, QWidget* parent) : QLineEdit(parent), limit_(limit) {
    setAcceptDrops(false);
}

int LimitedLineEdit::room() const {
    const int kept = static_cast<int>(text().size() - selectedText().size());
    return std::max(0, limit_ - kept);
}

void LimitedLineEdit::insertLimited(const QString& text) {
    QString clean = text;
    clean.replace(u'\n', u' ').remove(u'\r');
    if (clean.size() > room())
        clean.truncate(room());
    if (!clean.isEmpty() || hasSelectedText())
        insert(clean);
}

void LimitedLineEdit::keyPressEvent(QKeyEvent* event) {
    if (limit_ > 0 && !isReadOnly()) {
        if (event->matches(QKeySequence::Paste)) {
            insertLimited(QApplication::clipboard()->text());
            event->accept();
            return;
        }
        const QString typed = event->text();
        const bool printable = !typed.isEmpty() && typed.at(0).isPrint() &&
                               !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
        if (printable && typed.size() > room()) {
            event->accept(); // the box is full: the key is refused
            return;
        }
    }
    QLineEdit::keyPressEvent(event);
}

void LimitedLineEdit::inputMethodEvent(QInputMethodEvent* event) {
    if (limit_ > 0 && event->commitString().size() > room()) {
        QInputMethodEvent cut(event->preeditString(), event->attributes());
        cut.setCommitString(event->commitString().left(room()), event->replacementStart(),
                            event->replacementLength());
        QLineEdit::inputMethodEvent(&cut);
        return;
    }
    QLineEdit::inputMethodEvent(event);
}

void LimitedLineEdit::contextMenuEvent(QContextMenuEvent* event) {
    // The standard menu pastes without asking the box; undo what goes beyond the limit.
    const QString before = text();
    const int cursor = cursorPosition();
    QLineEdit::contextMenuEvent(event);
    if (limit_ > 0 && text().size() > limit_ && text().size() > before.size()) {
        setText(before);
        setCursorPosition(cursor);
    }
}

// ---------------------------------------------------------------------------------------------

CommandButton::CommandButton(const QString& name, const QString& caption, const QString& toolTip,
                             QWidget* parent)
    : QPushButton(caption, parent) {
    setObjectName(name);
    setToolTip(toolTip);
    setMouseTracking(true);
    setAutoDefault(false);
}

void CommandButton::setBold(bool bold) {
    if (font().bold() == bold)
        return;
    QFont f = font();
    f.setBold(bold);
    setFont(f);
}

bool CommandButton::event(QEvent* event) {
    if (event->type() == QEvent::Enter || event->type() == QEvent::MouseMove ||
        event->type() == QEvent::HoverMove)
        emit hovered();
    return QPushButton::event(event);
}

} // namespace app
