#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QWidget;

namespace browse {

class TypeAheadLists;

// Keyboard and focus handling of the main window's entry fields, found by objectName:
// - Enter in the code field, the text boxes (except number and flat), the combos and the sex
//   options is swallowed and moves the focus on as Tab would (the next visible, enabled control
//   of the tab order); in a type-ahead box it hides the box's list first;
// - Enter on the search buttons and the command buttons clicks them, as on the original platform;
// - a field gaining the focus hides every type-ahead list (number and flat excepted);
// - Enter in a date picker keeps the picker's own handling.
class EntryKeys : public QObject {
    Q_OBJECT
public:
    EntryKeys(QWidget* window, TypeAheadLists* lists, QObject* parent = nullptr);

    // Moves the focus from the control with this objectName to the next one, as Tab would.
    void focusNext(const QString& from);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    enum Role : unsigned {
        EnterAsTab = 1u << 0,
        HidesOwnList = 1u << 1,
        FocusHidesLists = 1u << 2,
        EnterClicks = 1u << 4,
    };
    void watch(const QString& name, unsigned roles);

    QWidget* window_;
    TypeAheadLists* lists_;
    struct Watched {
        QString name;
        unsigned roles;
    };
    QHash<QObject*, Watched> watched_;
};

} // namespace browse
