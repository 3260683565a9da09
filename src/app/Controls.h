#pragma once

#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>

namespace app {

// A text box whose entry limit applies to what the user types or pastes only: a longer value put
// in by the program (a web card's 25-character code) is shown whole, which maxLength would cut.
// Whatever is pasted (keys, menu, middle button) loses its tabs and line breaks.
class LimitedLineEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit LimitedLineEdit(int limit, QWidget* parent = nullptr);
    int limit() const { return limit_; }
    // 0 lifts the limit.
    void setLimit(int limit) { limit_ = limit; }
    // Pasted text made one line: tabs and line breaks at its ends dropped, inside made blanks.
    static QString oneLine(const QString& pasted);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Room left for new characters when `replacing` characters are replaced.
    int room() const;
    void insertLimited(const QString& text);
    int limit_;
};

// A date picker with a calendar pop-up that can also show "no date": a stored text that is no
// date is kept and given back unchanged until the user picks a date.
class DatePicker : public QDateEdit {
    Q_OBJECT
public:
    explicit DatePicker(QWidget* parent = nullptr);

    // A date from its stored text: dd/MM/yyyy, d/M/yyyy, dd-MM-yyyy, yyyy-MM-dd or a two-digit
    // year (up to the current year's two digits meaning this century). Invalid when no date.
    static QDate parseDate(const QString& text);

    void setStoredText(const QString& text);
    void setPickedDate(const QDate& date);
    // The date as dd/MM/yyyy, or the stored text while showing "no date".
    QString fieldText() const;
    bool showsNoDate() const { return noDate_; }

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showNoDate(const QString& storedText);
    void userChanged();
    bool noDate_ = false;
    bool settingDate_ = false;
    QString storedText_;
};

// A command button whose caption turns bold while the pointer is over it; the window keeps the
// other buttons plain.
class CommandButton : public QPushButton {
    Q_OBJECT
public:
    CommandButton(const QString& name, const QString& caption, const QString& toolTip,
                  QWidget* parent);
    void setBold(bool bold);
    bool isBold() const { return font().bold(); }

signals:
    void hovered();

protected:
    bool event(QEvent* event) override;
};

} // namespace app
