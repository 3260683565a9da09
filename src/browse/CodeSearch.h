#pragma once

#include "CardStore.h"
#include "EntryForm.h"
#include "Messages.h"
#include "Status.h"

#include <QString>

#include <vector>

namespace browse {

// What a search by microchip code lists: the ids of the cards found in stored order, or nothing.
struct SearchResult {
    std::vector<store::RowId> ids;
    store::Status status; // a failure to read the store; ids is then empty
    bool notFound() const { return status.ok() && ids.empty(); }
};

// The search text is the typed code without surrounding spaces. An empty text lists every card
// in stored order; any other text is one lookup on the unique code index, matching exactly
// (same characters, same letter case), so it costs the same at a thousand or a million cards.
SearchResult findByCode(const store::CardStore& store, const QString& typed);

// The search mode of the main window: opened by "Buscar", run by "Ok", closed by "x".
class CodeSearch {
public:
    CodeSearch(const store::CardStore& store, store::EntryForm& form,
               store::MessageLayer& messages);

    // Disables the ten command buttons, shows the search buttons and frames, and empties, enables
    // and focuses the code field.
    void open();
    // Lists the cards found in the grid. Nothing found: "CODIGO NO ENCONTRADO", the grid left with
    // its header only and the focus back in the code field, still searching. Found: the search is
    // closed and the first card found is loaded. A store that cannot be read is reported and
    // leaves the grid as it was, still searching.
    void run();
    // Enables the ten command buttons, hides the search controls and disables the code field.
    // The code field held the search text: the card of the grid's current row is loaded again,
    // so that every field, the code included, shows that one card. After a search that found
    // nothing, the grid first lists again what it listed before the search (every card when the
    // grid could not tell). The commands that act on a card stay off while no card is stored or
    // none is shown.
    void close();

private:
    void leave();
    void enableCommands();

    const store::CardStore& store_;
    store::EntryForm& form_;
    store::MessageLayer& messages_;
    // What the grid listed before a search that found nothing emptied it.
    std::vector<store::RowId> before_;
    bool beforeStored_ = false; // every card, listed a page at a time (before_ is empty then)
    int beforeRow_ = 0;
    bool emptied_ = false;
};

// The ten command buttons, in the order the search disables and enables them.
const std::vector<QString>& commandButtons();
// The command buttons that need a stored card.
const std::vector<QString>& recordButtons();
// The command buttons that act on the card the fields show.
const std::vector<QString>& shownCardButtons();

} // namespace browse
