#include "Controls.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>

#include <memory>

namespace app {

// ---------------------------------------------------------------------------------------------

LimitedLineEdit::LimitedLineEdit(int limit, QWidget* parent) : QLineEdit(parent), limit_(limit) {
    setAcceptDrops(false);
}

int LimitedLineEdit::room() const {
    const int kept = static_cast<int>(text().size() - selectedText().size());
    return std::max(0, limit_ - kept);
}

QString LimitedLineEdit::oneLine(const QString& pasted) {
    // A value copied from a spreadsheet cell or a list ends in a tab or a line break, and one
    // copied across cells holds tabs: none of them belongs in a one-line value. Those at the ends
    // go; inside, each becomes a blank, so that words stay apart.
    QString clean = pasted;
    clean.remove(u'\r');
    const auto isBreak = [](QChar c) {
        return c == u'\n' || c == u'\t';
    };
    qsizetype begin = 0;
    qsizetype end = clean.size();
    while (begin < end && isBreak(clean.at(begin)))
        ++begin;
    while (end > begin && isBreak(clean.at(end - 1)))
        --end;
    clean = clean.mid(begin, end - begin);
    clean.replace(u'\n', u' ').replace(u'\t', u' ');
    return clean;
}

void LimitedLineEdit::insertLimited(const QString& text) {
    QString clean = oneLine(text);
    if (limit_ > 0 && clean.size() > room())
        clean.truncate(room());
    if (!clean.isEmpty() || hasSelectedText())
        insert(clean);
}

void LimitedLineEdit::keyPressEvent(QKeyEvent* event) {
    if (!isReadOnly() && event->matches(QKeySequence::Paste)) {
        insertLimited(QApplication::clipboard()->text());
        event->accept();
        return;
    }
    if (limit_ > 0 && !isReadOnly()) {
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
    // The standard menu, its paste going through the same cleaning and limit as Ctrl+V.
    std::unique_ptr<QMenu> menu(createStandardContextMenu());
    if (QAction* paste = menu->findChild<QAction*>(QStringLiteral("edit-paste"))) {
        QObject::disconnect(paste, &QAction::triggered, nullptr, nullptr);
        connect(paste, &QAction::triggered, this,
                [this] { insertLimited(QApplication::clipboard()->text()); });
    }
    menu->exec(event->globalPos());
}

void LimitedLineEdit::mouseReleaseEvent(QMouseEvent* event) {
    // The middle button pastes the X11 selection: cleaned and limited too.
    QClipboard* clipboard = QApplication::clipboard();
    if (event->button() == Qt::MiddleButton && clipboard->supportsSelection() && !isReadOnly() &&
        isEnabled()) {
        deselect();
        setCursorPosition(cursorPositionAt(event->position().toPoint()));
        insertLimited(clipboard->text(QClipboard::Selection));
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

// ---------------------------------------------------------------------------------------------

PairedOption::PairedOption(const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent) {}

void PairedOption::keyPressEvent(QKeyEvent* event) {
    const bool arrow = event->key() == Qt::Key_Left || event->key() == Qt::Key_Right ||
                       event->key() == Qt::Key_Up || event->key() == Qt::Key_Down;
    if (arrow && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) && partner_ &&
        partner_->isEnabled() && partner_->isVisible()) {
        event->accept();
        partner_->setFocus(Qt::TabFocusReason);
        if (!partner_->isChecked())
            partner_->click();
        return;
    }
    QRadioButton::keyPressEvent(event);
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
