#pragma once

#include "CardStore.h"
#include "EntryForm.h"
#include "Messages.h"

#include <QObject>
#include <QTimer>

#include <span>
#include <vector>

namespace browse {

class TypeAheadIndex;

// Brings the window up to date after another program wrote to the card store. The type-ahead
// values follow at once. The grid, its position label and the card shown follow as soon as the
// window is browsing: while a card is being entered or edited, a code is being searched, or a box
// is open, the fields and the grid stay as they are, and the save's own check of the stored card
// guards against overwriting a change.
//
// Only the cards written since the last look are read again, as the store's change log names
// them; the window's own writes are named there too, and applying a card's stored values twice
// changes nothing. When the log cannot tell (it no longer reaches back that far, or the store has
// none), the type-ahead values and the grid's ids are read again whole.
//
// The grid keeps what it lists and in which order (a grid that lists every card a page at a time
// follows the cards written itself, and is listed again when it cannot tell where one belongs):
// rows whose card is no longer stored are dropped, a grid that listed every card gets the new cards
// at its end, and a grid that listed a search's result gets none. The current row stays on its card
// while that card is stored.
class StoreFollower : public QObject {
    Q_OBJECT
public:
    StoreFollower(store::CardStore& cards, store::EntryForm& form, TypeAheadIndex* typeAhead,
                  store::MessageLayer& messages, QObject* parent = nullptr);
    ~StoreFollower() override;

    // Another connection wrote to the store.
    void changedElsewhere();
    // True while the grid waits for the window to be browsing again.
    bool gridPending() const { return pending_; }

signals:
    // The type-ahead index took in another program's cards (not when it reads everything again:
    // its own ready callback tells that).
    void typeAheadFollowed();

private:
    bool browsing() const;
    void applyWhenBrowsing();
    void followLists();
    void applyToGrid();
    // The same for a grid that lists every card a page at a time.
    void followStored();
    // Applies the cards written since the grid's last look; false when they could not be read.
    bool applyChanges(const store::CardStore::Changes& changes,
                      const std::vector<store::RowId>& shown, bool listsAll);

    store::CardStore& cards_;
    store::EntryForm& form_;
    TypeAheadIndex* typeAhead_;
    store::MessageLayer& messages_;
    int listener_ = 0;
    // How many cards the store held after the last look, followed through the window's own
    // writes since; -1 when not known. A grid with that many rows lists every card.
    qint64 expected_ = -1;
    bool pending_ = false;
    QTimer retry_;
    // Where the change log stood when the type-ahead index and the grid last followed it; -1
    // when not known, and the next look reads everything.
    qint64 listsSeen_ = -1;
    qint64 gridSeen_ = -1;
};

// The rows a grid shows after the store changed underneath: `shown` (grid order) without the ids
// not in `stored` (any order), and, when `listsAll`, followed by the ids of `stored` that `shown`
// lacks, in stored order.
std::vector<store::RowId> followedRows(std::span<const store::RowId> shown,
                                       std::span<const store::RowId> stored, bool listsAll);

} // namespace browse
