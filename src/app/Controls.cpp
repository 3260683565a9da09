#include "Controls.h"

#include <QApplication>
#include <QCalendarWidget>
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

namespace {
const QDate kNoDate(1753, 1, 1); // the minimum date stands for "no date"
}

DatePicker::DatePicker(QWidget* parent) : QDateEdit(parent) {
    setCalendarPopup(true);
    setDisplayFormat(QStringLiteral("dd/MM/yyyy"));
    setMinimumDate(kNoDate);
    setSpecialValueText(QStringLiteral(" "));
    connect(this, &QDateEdit::dateChanged, this, [this] {
        if (!settingDate_)
            userChanged();
    });
}

QDate DatePicker::parseDate(const QString& text) {
    const QString t = text.trimmed();
    static const QString fourDigit[] = {
        QStringLiteral("dd/MM/yyyy"), QStringLiteral("d/M/yyyy"),   QStringLiteral("dd-MM-yyyy"),
        QStringLiteral("d-M-yyyy"),   QStringLiteral("yyyy-MM-dd"),
    };
    for (const QString& format : fourDigit) {
        const QDate d = QDate::fromString(t, format);
        if (d.isValid())
            return d;
    }
    static const QString twoDigit[] = {QStringLiteral("d/M/yy"), QStringLiteral("d-M-yy")};
    for (const QString& format : twoDigit) {
        QDate d = QDate::fromString(t, format);
        if (!d.isValid())
            continue;
        // Qt reads yy as 19yy; years not later than this one's two digits are this century.
        const int thisCentury = QDate::currentDate().year() / 100 * 100;
        const int yy = d.year() % 100;
        const int year =
            yy <= QDate::currentDate().year() % 100 ? thisCentury + yy : thisCentury - 100 + yy;
        d = QDate(year, d.month(), d.day());
        if (d.isValid())
            return d;
    }
    return {};
}

void DatePicker::setStoredText(const QString& text) {
    const QDate d = parseDate(text);
    if (d.isValid() && d > kNoDate)
        setPickedDate(d);
    else
        showNoDate(text);
}

void DatePicker::setPickedDate(const QDate& date) {
    settingDate_ = true;
    noDate_ = false;
    storedText_.clear();
    setDate(date);
    settingDate_ = false;
}

void DatePicker::showNoDate(const QString& storedText) {
    settingDate_ = true;
    noDate_ = true;
    storedText_ = storedText;
    setDate(kNoDate);
    settingDate_ = false;
}

QString DatePicker::fieldText() const {
    if (noDate_)
        return storedText_;
    return date().toString(QStringLiteral("dd/MM/yyyy"));
}

void DatePicker::userChanged() {
    if (date() == kNoDate)
        return; // stepped back onto "no date": keep what was stored
    noDate_ = false;
    storedText_.clear();
}

void DatePicker::mousePressEvent(QMouseEvent* event) {
    // The calendar opens on today's month rather than on the date standing for "no date".
    if (noDate_)
        calendarWidget()->setCurrentPage(QDate::currentDate().year(), QDate::currentDate().month());
    QDateEdit::mousePressEvent(event);
}

void DatePicker::keyPressEvent(QKeyEvent* event) {
    // Up or Down on "no date" starts from today instead of from the year 1753.
    if (noDate_ && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) && isEnabled()) {
        setDate(QDate::currentDate());
        event->accept();
        return;
    }
    QDateEdit::keyPressEvent(event);
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
