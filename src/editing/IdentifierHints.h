#pragma once

#include <QObject>
#include <QPalette>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QAction;
class QLineEdit;
class QWidget;

namespace editing {

// Hints on the microchip code (Text3) and R.U.T. (Text13) boxes while a card is being entered:
// an invalid R.U.T., a code of unrecognised format or a 15-digit code of no known country gets a
// red frame, a trailing warning icon and a Spanish tool-tip saying what is wrong; a recognised code
// shows its kind in the tool-tip without a mark. They are hints only: the text is never changed,
// nothing is refused and no box is shown. Outside entry, or on an empty box, both are cleared.
//
// The boxes are re-checked on every text change and whenever one of them is enabled or disabled
// (the window's mode changes enable and disable the entry fields), and on refresh().
class IdentifierHints : public QObject {
    Q_OBJECT
public:
    // Dynamic property set to true on a marked box.
    static constexpr const char* kMarkProperty = "identificadorDudoso";
    // objectName of the red frame laid over a marked box.
    static constexpr const char* kFrameName = "marcoIdentificadorDudoso";

    // `active` tells whether a card is being entered (entry mode, not merely the entry flag,
    // which a cancel leaves set).
    IdentifierHints(QLineEdit* code, QLineEdit* rut, std::function<bool()> active,
                    QObject* parent = nullptr);
    ~IdentifierHints() override;

    // Re-checks both boxes now, e.g. right after the entry flag changed without a text change.
    void refresh();

    static bool isMarked(const QLineEdit* box);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Box {
        QPointer<QLineEdit> edit;
        QAction* warning = nullptr; // trailing icon, present on the box only while marked
        QPointer<QWidget> frame;    // red frame over the box, shown only while marked
        QString ownToolTip;         // the box's tool-tip before the hints took it over
        bool marked = false;
        bool hinted = false;
    };

    void attach(Box& box);
    void checkCode();
    void checkRut();
    void show(Box& box, bool marked, const QString& toolTip);
    void clear(Box& box);

    Box code_;
    Box rut_;
    std::function<bool()> active_;
    bool refreshQueued_ = false;
};

} // namespace editing
