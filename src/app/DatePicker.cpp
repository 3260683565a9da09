#include "DatePicker.h"

#include "Clock.h"
#include "Dates.h"

#include <QCalendarWidget>
#include <QFrame>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>

namespace app {

namespace {

const QString kOwnToolTip =
    QStringLiteral("Fecha: dd/mm/aaaa (también d/m/aa, dd-mm-aaaa, dd.mm.aaaa o ddmmaaaa).\n"
                   "Alt+Abajo o F4 abre el calendario; Arriba y Abajo cambian el día, el mes o el "
                   "año donde está el cursor.");
const QString kNoDateToolTip =
    QStringLiteral("No es una fecha válida: escríbala como dd/mm/aaaa, por ejemplo 25/12/2005.");

// Width of the red frame of a marked box; the calendar button stays inside it.
constexpr int kMarkWidth = 2;

enum class Section { Day, Month, Year };

// The part of a typed date the cursor stands in: in a text with separators, by how many of them
// precede the cursor (year first when the text starts with four digits); in digits alone, by
// position (ddmmyyyy).
Section sectionAt(const QString& text, int cursor) {
    int separators = 0;
    int digits = 0;
    for (int i = 0; i < cursor && i < text.size(); ++i) {
        if (text[i] == u'/' || text[i] == u'-' || text[i] == u'.')
            ++separators;
        else if (text[i].isDigit())
            ++digits;
    }
    const QString t = text.trimmed();
    qsizetype leadingDigits = 0;
    while (leadingDigits < t.size() && t[leadingDigits].isDigit())
        ++leadingDigits;
    if (leadingDigits == t.size())
        return digits < 2 ? Section::Day : digits < 4 ? Section::Month : Section::Year;
    const bool yearFirst = leadingDigits == 4;
    const Section order[3] = {yearFirst ? Section::Year : Section::Day, Section::Month,
                              yearFirst ? Section::Day : Section::Year};
    return order[std::min(separators, 2)];
}

} // namespace

DatePicker::DatePicker(const store::Clock& clock, QWidget* parent)
    : QLineEdit(parent), clock_(clock), button_(new QToolButton(this)) {
    setToolTip(kOwnToolTip);
    setAcceptDrops(false);
    button_->setObjectName(QStringLiteral("botonCalendario"));
    button_->setArrowType(Qt::DownArrow);
    button_->setFocusPolicy(Qt::NoFocus);
    button_->setCursor(Qt::ArrowCursor);
    button_->setAccessibleName(QStringLiteral("Abrir calendario"));
    button_->setToolTip(QStringLiteral("Calendario (Alt+Abajo o F4)"));
    connect(button_, &QToolButton::clicked, this, &DatePicker::showCalendar);
    connect(this, &QLineEdit::textChanged, this, [this] {
        if (marked_ && accepted())
            setMarked(false);
    });
    placeButton();
}

DatePicker::~DatePicker() = default;

QDate DatePicker::parse(const QString& text) const {
    return store::parseDate(text, clock_.today());
}

void DatePicker::setStoredText(const QString& text) {
    const QDate d = parse(text);
    noDate_ = !d.isValid();
    storedText_ = noDate_ ? text : QString();
    setMarked(false);
    setText(noDate_ ? QString() : store::dateText(d));
}

void DatePicker::setPickedDate(const QDate& date) {
    noDate_ = false;
    storedText_.clear();
    setMarked(false);
    setText(store::dateText(date));
}

void DatePicker::setDate(const QDate& date) {
    setText(store::dateText(date));
}

QString DatePicker::fieldText() const {
    const QString t = text().trimmed();
    if (t.isEmpty())
        return noDate_ ? storedText_ : QStringLiteral("");
    const QDate d = parse(t);
    return d.isValid() ? store::dateText(d) : t;
}

QDate DatePicker::date() const {
    return parse(text());
}

bool DatePicker::accepted() const {
    const QString t = text().trimmed();
    return t.isEmpty() || parse(t).isValid();
}

bool DatePicker::showsNoDate() const {
    return noDate_ && text().trimmed().isEmpty();
}

void DatePicker::review() {
    const QDate d = date();
    if (d.isValid()) {
        if (text() != store::dateText(d))
            setText(store::dateText(d));
    } else if (!accepted()) {
        setMarked(true);
    }
}

void DatePicker::setMarked(bool marked) {
    if (marked == marked_)
        return;
    marked_ = marked;
    setProperty(kMarkProperty, marked);
    if (marked)
        ownToolTip_ = toolTip();
    setToolTip(marked ? kNoDateToolTip : ownToolTip_);
    update();
}

void DatePicker::step(int by) {
    const QString t = text();
    QDate d = parse(t);
    if (!d.isValid()) {
        // From "no date", or from a text that is none, the arrows start at today.
        setDate(clock_.today());
        return;
    }
    // A box just entered has its whole text selected: the arrows step the day, as they did.
    const bool allSelected = selectedText() == t;
    const Section section = allSelected ? Section::Day : sectionAt(t, cursorPosition());
    switch (section) {
    case Section::Day:
        d = d.addDays(by);
        break;
    case Section::Month:
        d = d.addMonths(by);
        break;
    case Section::Year:
        d = d.addYears(by);
        break;
    }
    if (!d.isValid() || d.year() < store::kFirstDateYear)
        return;
    setDate(d);
    // The whole date stays selected, or the cursor stays in the part it stepped: dd|/MM|/yyyy|
    if (allSelected)
        selectAll();
    else
        setCursorPosition(section == Section::Day ? 2 : section == Section::Month ? 5 : 10);
}

void DatePicker::keyPressEvent(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int key = event->key();
    if ((key == Qt::Key_F4 && mods == Qt::NoModifier) ||
        (key == Qt::Key_Down && mods == Qt::AltModifier)) {
        showCalendar();
        event->accept();
        return;
    }
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && mods == Qt::NoModifier) {
        if (!isReadOnly())
            step(key == Qt::Key_Up ? 1 : -1);
        event->accept();
        return;
    }
    if (key == Qt::Key_Return || key == Qt::Key_Enter)
        review();
    QLineEdit::keyPressEvent(event);
}

void DatePicker::focusInEvent(QFocusEvent* event) {
    QLineEdit::focusInEvent(event); // selects the whole text when reached by Tab
    // Typing into a box reached any other way replaces its date too, rather than mixing with it;
    // a click selects on its release, after the press has placed the cursor.
    if (event->reason() == Qt::OtherFocusReason)
        selectAll();
    selectOnRelease_ = event->reason() == Qt::MouseFocusReason;
}

void DatePicker::mouseReleaseEvent(QMouseEvent* event) {
    QLineEdit::mouseReleaseEvent(event);
    if (selectOnRelease_ && !hasSelectedText())
        selectAll();
    selectOnRelease_ = false;
}

void DatePicker::focusOutEvent(QFocusEvent* event) {
    QLineEdit::focusOutEvent(event);
    selectOnRelease_ = false;
    if (event->reason() != Qt::PopupFocusReason)
        review();
}

void DatePicker::resizeEvent(QResizeEvent* event) {
    QLineEdit::resizeEvent(event);
    placeButton();
}

void DatePicker::placeButton() {
    const int side = std::max(0, height() - 2 * kMarkWidth);
    button_->setGeometry(width() - kMarkWidth - side, kMarkWidth, side, side);
    setTextMargins(0, 0, side, 0);
}

void DatePicker::paintEvent(QPaintEvent* event) {
    QLineEdit::paintEvent(event);
    if (!marked_)
        return;
    QPainter painter(this);
    QPen pen(QColor(0xd0, 0x00, 0x00), kMarkWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
}

QCalendarWidget* DatePicker::calendar() const {
    return calendar_;
}

bool DatePicker::calendarVisible() const {
    return popup_ && popup_->isVisible();
}

void DatePicker::showCalendar() {
    selectOnRelease_ = false;
    if (!isEnabled() || isReadOnly())
        return;
    if (!popup_) {
        auto* frame = new QFrame(this, Qt::Popup);
        frame->setObjectName(QStringLiteral("calendarioFecha"));
        frame->setFrameShape(QFrame::StyledPanel);
        // The click that closes the calendar over the button must not open it again.
        frame->setAttribute(Qt::WA_NoMouseReplay);
        auto* layout = new QVBoxLayout(frame);
        layout->setContentsMargins(0, 0, 0, 0);
        calendar_ = new QCalendarWidget(frame);
        calendar_->setMinimumDate(QDate(store::kFirstDateYear, 1, 1));
        calendar_->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
        layout->addWidget(calendar_);
        // Enter or a double click on a day picks it; so does a single click.
        connect(calendar_, &QCalendarWidget::activated, this, &DatePicker::pickFromCalendar);
        connect(calendar_, &QCalendarWidget::clicked, this, &DatePicker::pickFromCalendar);
        for (QWidget* w : frame->findChildren<QWidget*>())
            w->installEventFilter(this);
        popup_ = frame;
    }
    const QDate shown = date().isValid() ? date() : clock_.today();
    calendar_->setSelectedDate(shown);
    calendar_->setCurrentPage(shown.year(), shown.month());
    popup_->adjustSize();

    // Below the box, or above it when the screen ends first.
    QPoint at = mapToGlobal(QPoint(0, height()));
    const QSize size = popup_->sizeHint();
    if (const QScreen* s = screen()) {
        const QRect room = s->availableGeometry();
        if (at.y() + size.height() > room.bottom())
            at.setY(mapToGlobal(QPoint(0, 0)).y() - size.height());
        at.setX(
            std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - size.width())));
    }
    popup_->move(at);
    popup_->show();
    calendar_->setFocus(Qt::PopupFocusReason);
}

void DatePicker::pickFromCalendar(const QDate& date) {
    if (popup_)
        popup_->hide();
    if (date.isValid())
        setDate(date);
    setFocus(Qt::PopupFocusReason);
    selectAll(); // typing replaces the date picked, and the arrows step its day
}

bool DatePicker::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && popup_ && popup_->isVisible()) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape ||
            (key->key() == Qt::Key_F4 &&
             (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier)) {
            popup_->hide(); // closed without a choice: the box keeps its text
            return true;
        }
    }
    return QLineEdit::eventFilter(watched, event);
}

} // namespace app
