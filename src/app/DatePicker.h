#pragma once

#include <QDate>
#include <QLineEdit>
#include <QPointer>

class QCalendarWidget;
class QToolButton;

namespace store {
class Clock;
}

namespace app {

// The date box of the entry fields: a text box that takes a date the way receptionists type it
// (store::parseDate: 15/03/2020, 5-3-2020, 15.03.20, 15032020), with a button and Alt+Down or F4
// for a calendar pop-up, and Up and Down stepping the day, month or year under the cursor.
//
// A text that is no date is never turned into some other date: the box keeps it, gets a red
// frame once the user leaves it (or presses Enter) and says so in its tool-tip, and accepted()
// tells a save to refuse it. A stored text that is no date is shown as an empty box ("no date")
// and given back unchanged until the user types or picks a date.
class DatePicker : public QLineEdit {
    Q_OBJECT
public:
    // Dynamic property set to true while the box is marked as holding no valid date.
    static constexpr const char* kMarkProperty = "fechaNoValida";

    explicit DatePicker(const store::Clock& clock, QWidget* parent = nullptr);
    ~DatePicker() override;

    // Loads a stored text: a date shows as dd/MM/yyyy, anything else as "no date".
    void setStoredText(const QString& text);
    // Shows this date as the program's own choice (today's date for a new card).
    void setPickedDate(const QDate& date);
    // A date chosen by the user, as from the calendar.
    void setDate(const QDate& date);

    // The date as dd/MM/yyyy; the stored text while showing "no date"; an emptied box gives
    // the empty text, and a text that is no date is given as typed (accepted() is then false).
    QString fieldText() const;
    // The date the box holds; invalid for an empty box or a text that is no date.
    QDate date() const;
    // False while the box holds typed text that is no date, which must not be saved.
    bool accepted() const;
    bool showsNoDate() const;
    bool isMarked() const { return marked_; }

    // Opens the calendar on the box's date, or on today's month when it holds none.
    void showCalendar();
    QCalendarWidget* calendar() const; // null until the calendar was first opened
    bool calendarVisible() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QDate parse(const QString& text) const;
    // Rewrites a date in its stored form and marks a text that is no date.
    void review();
    void setMarked(bool marked);
    // Up and Down: a day, month or year on, by where the cursor stands.
    void step(int by);
    void pickFromCalendar(const QDate& date);
    void placeButton();

    const store::Clock& clock_;
    QToolButton* button_;
    QPointer<QWidget> popup_;
    QCalendarWidget* calendar_ = nullptr;
    QString storedText_; // the loaded text while showing "no date"
    bool noDate_ = false;
    bool marked_ = false;
    bool selectOnRelease_ = false;
    QString ownToolTip_; // the tool-tip the mark replaced
};

} // namespace app
