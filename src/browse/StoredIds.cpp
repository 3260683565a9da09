#include "StoredIds.h"

#include <algorithm>
#include <iterator>

namespace browse {

namespace {

// The sorted ids `kept` brought up to date: the ids `written` (sorted) leave it, and those of
// them in `stored` (sorted, a subset of written) are put in their place.
std::vector<store::RowId> followedIds(const std::vector<store::RowId>& kept,
                                      const std::vector<store::RowId>& written,
                                      const std::vector<store::RowId>& stored) {
    std::vector<store::RowId> rest;
    rest.reserve(kept.size());
    std::set_difference(kept.begin(), kept.end(), written.begin(), written.end(),
                        std::back_inserter(rest));
    std::vector<store::RowId> ids;
    ids.reserve(rest.size() + stored.size());
    std::merge(rest.begin(), rest.end(), stored.begin(), stored.end(), std::back_inserter(ids));
    return ids;
}

} // namespace

void StoredIds::clear() {
    cards_ = nullptr;
    position_ = -1;
    ids_.clear();
}

store::Status StoredIds::read(const store::CardStore& cards, std::vector<store::RowId>* ids) {
    store::CardStore::Changes changes;
    if (cards_ == &cards && position_ >= 0 && cards.changesSince(position_, false, &changes) &&
        changes.complete) {
        std::vector<std::pair<store::RowId, store::Card>> read;
        if (changes.ids.empty() || cards.readCards(changes.ids, &read)) {
            *ids = ids_.toVector();
            if (!changes.ids.empty()) {
                // Read in the order asked, so ascending; a card not read is no longer stored.
                std::vector<store::RowId> stored;
                stored.reserve(read.size());
                for (const auto& [id, card] : read)
                    stored.push_back(id);
                *ids = followedIds(*ids, changes.ids, stored);
                ids_ = IdRuns(*ids);
            }
            position_ = changes.position;
            return store::Status();
        }
    }
    // Every id afresh. The log's position is taken before the ids are read: a write in between
    // is applied again at the next read, which changes nothing.
    clear();
    (void)cards.changesSince(-1, false, &changes);
    std::vector<store::RowId> all;
    if (const store::Status status = cards.rowIds(store::Order::Stored, &all); !status)
        return status;
    cards_ = &cards;
    position_ = changes.position;
    ids_ = IdRuns(all);
    *ids = std::move(all);
    return store::Status();
}

} // namespace browse
