#pragma once

#include "CardFields.h"
#include "Messages.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>
#include <vector>

class QLineEdit;
class QWidget;

namespace browse {

class TypeAheadIndex;
class TypeAheadList;

// One text box that offers stored values: its list, the card field offered, and the control
// that takes the focus when a value is taken from the list.
struct TypeAheadPair {
    QString box;
    QString list;
    store::Field field;
    QString target;
};
const std::vector<TypeAheadPair>& typeAheadPairs();

// The type-ahead lists of the main window. Finds the ten text boxes and their list boxes by
// objectName under `window` and drives them:
// - a change of a box's text while the entry flag is set rebuilds its list from the index and
//   shows it under the box (300 twips an entry for one to three entries, 200 for more, never
//   taller than the room left above the window's bottom: a longer list scrolls), or hides it;
// - Up or Down released in a box moves into its list, one entry further down;
// - Enter or a double click in a list puts the selected entry (nothing selected: the empty
//   text) into the box, hides the list and moves the focus on to the box's next field.
// A store that cannot be read is reported once through `messages` and shows no list.
class TypeAheadLists : public QObject {
    Q_OBJECT
public:
    TypeAheadLists(QWidget* window, TypeAheadIndex* index, std::function<bool()> enEdicion,
                   store::MessageLayer* messages, QObject* parent = nullptr);

    // The index finished reading the store: the box being typed in gets its list.
    void indexReady();
    // Hides every list without removing its entries.
    void ocultaListas();
    // Lets the hidden lists' entries go: each holds on to every value of its field, which after
    // the index is read again would stay in memory beside the new values.
    void dropHiddenEntries();
    // Hides the list of the box with this objectName.
    void hideListOf(const QString& box);

    TypeAheadList* list(const QString& box) const;

    // Twips to pixels with the window's logical resolution (1440 twips to the inch).
    static int twipsToPixels(int twips, const QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Wired {
        TypeAheadPair pair;
        QPointer<QLineEdit> box;
        QPointer<TypeAheadList> list;
        QRect placed; // the list's place in the window's layout; only the height varies
    };
    void rebuild(Wired& w);
    void moveIntoList(Wired& w);
    void take(Wired& w);
    Wired* byBox(QObject* o);
    Wired* byList(QObject* o);

    QWidget* window_;
    TypeAheadIndex* index_;
    std::function<bool()> enEdicion_;
    store::MessageLayer* messages_;
    bool failureShown_ = false;
    std::vector<Wired> wired_;
};

} // namespace browse
