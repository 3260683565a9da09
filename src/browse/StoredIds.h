#pragma once

#include "CardStore.h"
#include "IdRuns.h"

#include <vector>

namespace browse {

// The ids of every stored card in stored order (ascending id), kept between two listings of the
// whole registry. Listing a million cards again after a search reads only the cards written
// since the last listing, by this program or any other, from the store's change log; when the
// log cannot tell (too far back, the file replaced, another store), every id is read afresh.
// The ids are kept as runs: the grid holds the listing's own copy.
class StoredIds {
public:
    // Sets `ids` to the ids stored now.
    store::Status read(const store::CardStore& cards, std::vector<store::RowId>* ids);
    // Forgets what is kept: the next read reads every id.
    void clear();

private:
    const store::CardStore* cards_ = nullptr;
    qint64 position_ = -1; // the log's position when ids_ were as stored
    IdRuns ids_;
};

} // namespace browse
