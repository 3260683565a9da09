#pragma once

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

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

// One of a pair of options that the window keeps exclusive itself, so that neither need be
// chosen. The arrow keys act as in any radio group: they move to the other option and choose it
// (a click, as Space gives), rather than only moving the focus ring.
class PairedOption : public QRadioButton {
    Q_OBJECT
public:
    PairedOption(const QString& caption, QWidget* parent);
    void setPartner(QRadioButton* partner) { partner_ = partner; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QRadioButton* partner_ = nullptr;
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
