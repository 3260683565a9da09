#pragma once

#include "CardStore.h"

#include <cstddef>
#include <span>
#include <vector>

namespace browse {

// Card ids in ascending order, kept as runs of consecutive ids: a registry numbered from 1
// without gaps is one run, and each card deleted from the middle adds one. Where a plain vector
// of a million ids costs 8 MB, a registry with a card deleted in every twenty costs under 1 MB.
// Ids that form runs of one or two on average are kept as that plain vector instead, so they
// never cost more than it.
class IdRuns {
public:
    IdRuns() = default;
    // `ids` must be ascending, without repeats.
    explicit IdRuns(std::span<const store::RowId> ids);

    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    store::RowId back() const { return (*this)[size_ - 1]; }
    // The id at position `i` (< size()).
    store::RowId operator[](size_t i) const;
    // The position of the first id not below `id`: size() when every id is below it.
    size_t lowerBound(store::RowId id) const;
    // Appends an id above back().
    void push_back(store::RowId id);
    // Puts `id`, not held yet, in its place: the ids after it move one position up.
    void insert(store::RowId id);
    void clear();
    std::vector<store::RowId> toVector() const;

private:
    struct Run {
        store::RowId first; // its first id; the run lasts up to the next run's position
        size_t at;          // the position of that id
    };
    size_t lengthOf(std::vector<Run>::const_iterator r) const {
        return (r + 1 == runs_.end() ? size_ : (r + 1)->at) - r->at;
    }
    // Past a run for every two cards the plain vector is the smaller; few ids stay as runs.
    void keepSmaller();

    std::vector<Run> runs_;
    std::vector<store::RowId> plain_; // used instead of runs_ when not empty
    size_t size_ = 0;
};

} // namespace browse
