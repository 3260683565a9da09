#pragma once

#include "CardStore.h"
#include "EntryForm.h"
#include "Messages.h"
#include "Status.h"

#include <QObject>

#include <vector>

class QLineEdit;
class QTimer;
class QWidget;

namespace browse {

class CardGrid;

// Makes the free-text search index of a file that lacks it (a registry of an earlier version),
// under a progress dialog over `parent`. A failure is told once and leaves the rest of the
// program working; the next start tries again.
store::Status prepareSearchIndex(store::CardStore& cards, QWidget* parent,
                                 store::MessageLayer& messages);

// The "Buscar por…" bar: a one-line box over the top edge of the grid, covering none of the
// card's fields. What is typed finds cards by code, owner, animal, R.U.T. or telephone; the
// grid lists the cards found in stored order with the first one loaded, following the text a
// moment after the last keystroke. Enter takes the first card found into the grid; Esc (in the
// box or the grid) or an empty text lists every card again.
class FreeSearch : public QObject {
    Q_OBJECT
public:
    // `available` false: the index could not be made; opening the bar says why.
    FreeSearch(QWidget* window, CardGrid* grid, const store::CardStore& cards,
               store::EntryForm& form, store::MessageLayer& messages, store::Status available,
               QObject* parent = nullptr);

    QLineEdit* bar() const { return bar_; }
    // Whether the grid lists what a free search or the owner's cards found.
    bool listing() const { return listing_; }

    // Shows and focuses the bar, in browse mode only.
    void open();
    // Lists every card again, in stored order, keeping the card the fields show (or, when they
    // show none, the one shown before the search) current, and hides the bar.
    void close();
    // The cards of the owner of the card shown, that card kept current.
    void showOwnerCards();
    // A command started: the bar goes, what it found stays listed until Esc.
    void hideBar();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void run();
    void takeFirst();
    void sayNothingFound(const QString& text);
    void listAll(store::RowId keep);
    void show(const std::vector<store::RowId>& ids, store::RowId current);
    void place();
    bool browsing() const;

    QWidget* window_;
    CardGrid* grid_;
    const store::CardStore& cards_;
    store::EntryForm& form_;
    store::MessageLayer& messages_;
    store::Status available_;
    QLineEdit* bar_;
    QTimer* debounce_;
    bool listing_ = false;
    store::RowId before_ = store::kNoRow; // the card shown before the search
    QString ran_;                         // the text the grid lists the results of
};

} // namespace browse
