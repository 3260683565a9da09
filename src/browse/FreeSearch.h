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

// The free-text search index as the window starts: ready (or unavailable, `status` says why), or
// begun and still to be filled behind the working window; one that was there is checked by
// FreeSearch a moment after the window is up.
struct SearchIndexStart {
    store::Status status;
    bool filling = false;
    bool check = false;
};

// Finds the free-text search index at start, or makes it for a registry that lacks it (one of an
// earlier version): a file's is begun at once and filled behind the window (FreeSearch), a
// server's is built under a progress dialog over `parent`. A failure is told once and leaves the
// rest of the program working; the next start tries again.
SearchIndexStart prepareSearchIndex(store::CardStore& cards, QWidget* parent,
                                    store::MessageLayer& messages);

// The "Buscar por…" bar: a one-line box over the top edge of the grid, covering none of the
// card's fields. What is typed finds cards by code, owner, animal, R.U.T. or telephone; the
// grid lists the cards found in stored order with the first one loaded, following the text a
// moment after the last keystroke. Enter takes the first card found into the grid; Esc (in the
// box or the grid) or an empty text lists every card again.
//
// While the index is still being filled the window works as usual and the bar takes what is
// typed, saying that the search is being prepared; it searches once the index is whole.
class FreeSearch : public QObject {
    Q_OBJECT
public:
    // `index.status` false: the index could not be made; opening the bar says why.
    FreeSearch(QWidget* window, CardGrid* grid, store::CardStore& cards, store::EntryForm& form,
               store::MessageLayer& messages, SearchIndexStart index, QObject* parent = nullptr);

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
    // Whether the index is still being filled.
    bool preparing() const { return filling_; }

signals:
    // The index being filled has come `percent` of the way; -1 once it is whole or given up.
    void preparingChanged(int percent);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void run();
    void fillStep();
    // The check of an index that was there at start, made a moment after the window is up.
    void checkIndex();
    // Tells how far the fill has come: the footer (through preparingChanged), the bar's
    // placeholder, and the line under the grid when text waits to be searched.
    void announce();
    void sayPreparing();
    // After the first cards found are listed: reads every card found and lists the rest.
    void listTheRest(const QString& text);
    void takeFirst();
    void sayNothingFound(const QString& text);
    void listAll(store::RowId keep);
    void show(std::vector<store::RowId> ids, store::RowId current);
    void place();
    bool browsing() const;

    QWidget* window_;
    CardGrid* grid_;
    store::CardStore& cards_;
    store::EntryForm& form_;
    store::MessageLayer& messages_;
    store::Status available_;
    QLineEdit* bar_;
    QTimer* debounce_;
    QTimer* fill_;
    bool filling_ = false;
    int fillLimit_;    // cards per fill step, kept near a step's aimed-at time
    int percent_ = -1; // of the fill; -1 before its first step
    bool listing_ = false;
    store::RowId before_ = store::kNoRow; // the card shown before the search
    QString ran_;                         // the text the grid lists the results of
};

} // namespace browse
