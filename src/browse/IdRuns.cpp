#include "IdRuns.h"

#include <algorithm>

namespace browse {

IdRuns::IdRuns(std::span<const store::RowId> ids) {
    for (const store::RowId id : ids)
        push_back(id);
    keepSmaller();
    runs_.shrink_to_fit();
}

void IdRuns::keepSmaller() {
    if (!plain_.empty() || size_ < 1024 || runs_.size() * 2 <= size_)
        return;
    plain_ = toVector();
    runs_ = std::vector<Run>();
}

store::RowId IdRuns::operator[](size_t i) const {
    if (!plain_.empty())
        return plain_[i];
    // The last run starting at or before i.
    const auto r = std::prev(std::upper_bound(
        runs_.begin(), runs_.end(), i, [](size_t at, const Run& run) { return at < run.at; }));
    return r->first + store::RowId(i - r->at);
}

size_t IdRuns::lowerBound(store::RowId id) const {
    if (!plain_.empty())
        return size_t(std::lower_bound(plain_.begin(), plain_.end(), id) - plain_.begin());
    // The last run starting at or below id: id lies in it or right after it.
    const auto r = std::upper_bound(runs_.begin(), runs_.end(), id,
                                    [](store::RowId x, const Run& run) { return x < run.first; });
    if (r == runs_.begin())
        return 0;
    const auto in = std::prev(r);
    return in->at + std::min(size_t(id - in->first), lengthOf(in));
}

void IdRuns::push_back(store::RowId id) {
    if (!plain_.empty()) {
        plain_.push_back(id);
    } else if (runs_.empty() || runs_.back().first + store::RowId(size_ - runs_.back().at) != id) {
        runs_.push_back({id, size_}); // not the id after the last run's last
    }
    // Judged now and then, so that ids read one at a time that start with a few gaps still
    // make runs.
    if ((++size_ & 4095) == 0)
        keepSmaller();
}

void IdRuns::insert(store::RowId id) {
    if (empty() || id > back()) {
        push_back(id);
        return;
    }
    // Rare (a card stored again at an id below the last): rebuilt from the runs.
    std::vector<store::RowId> ids = toVector();
    ids.insert(std::lower_bound(ids.begin(), ids.end(), id), id);
    *this = IdRuns(ids);
}

void IdRuns::clear() {
    runs_ = std::vector<Run>();
    plain_ = std::vector<store::RowId>();
    size_ = 0;
}

std::vector<store::RowId> IdRuns::toVector() const {
    if (!plain_.empty())
        return plain_;
    std::vector<store::RowId> ids;
    ids.reserve(size_);
    for (auto r = runs_.begin(); r != runs_.end(); ++r) {
        const size_t n = lengthOf(r);
        for (size_t k = 0; k < n; ++k)
            ids.push_back(r->first + store::RowId(k));
    }
    return ids;
}

} // namespace browse
