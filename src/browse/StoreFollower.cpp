#include "StoreFollower.h"

#include "TypeAheadIndex.h"

#include <QApplication>

#include <algorithm>

namespace browse {

namespace {

constexpr int kRetryMs = 250;

// Membership of ids in an ascending list: a bit per id up to the largest when the ids are dense
// enough (they normally run 1, 2, 3, …), a binary search otherwise.
class IdSet {
public:
    explicit IdSet(std::span<const store::RowId> ascending) : ids_(ascending) {
        if (ascending.empty() || ascending.front() < 0)
            return;
        const auto top = static_cast<size_t>(ascending.back());
        if (top > 16 * ascending.size() + (size_t(1) << 20))
            return;
        bits_.assign(top + 1, false);
        for (const store::RowId id : ascending)
            bits_[static_cast<size_t>(id)] = true;
        dense_ = true;
    }
    bool contains(store::RowId id) const {
        if (dense_)
            return id >= 0 && static_cast<size_t>(id) < bits_.size() &&
                   bits_[static_cast<size_t>(id)];
        return std::binary_search(ids_.begin(), ids_.end(), id);
    }

private:
    std::span<const store::RowId> ids_;
    std::vector<bool> bits_;
    bool dense_ = false;
};

} // namespace

std::vector<store::RowId> followedRows(std::span<const store::RowId> shown,
                                       std::span<const store::RowId> stored, bool listsAll) {
    const IdSet inStore(stored);
    std::vector<store::RowId> rows;
    rows.reserve(listsAll ? stored.size() : shown.size());
    for (const store::RowId id : shown) {
        if (inStore.contains(id))
            rows.push_back(id);
    }
    if (listsAll) {
        std::vector<store::RowId> kept = rows;
        std::sort(kept.begin(), kept.end());
        const IdSet inGrid(kept);
        for (const store::RowId id : stored) {
            if (!inGrid.contains(id))
                rows.push_back(id);
        }
    }
    return rows;
}

StoreFollower::StoreFollower(store::CardStore& cards, store::EntryForm& form,
                             TypeAheadIndex* typeAhead, store::MessageLayer& messages,
                             QObject* parent)
    : QObject(parent), cards_(cards), form_(form), typeAhead_(typeAhead), messages_(messages) {
    store::Status status;
    expected_ = cards_.recordCount(&status);
    if (!status || form_.gridRowIds().size() != static_cast<size_t>(expected_))
        expected_ = -1; // the grid does not list every card (it could not be read)
    listener_ = cards_.addChangeListener(
        [this](store::CardStore::Change change, store::RowId, const store::Card*) {
            if (expected_ < 0)
                return;
            if (change == store::CardStore::Change::Added)
                ++expected_;
            else if (change == store::CardStore::Change::Removed)
                --expected_;
            else if (change == store::CardStore::Change::Reset)
                expected_ = -1;
        });
    retry_.setInterval(kRetryMs);
    connect(&retry_, &QTimer::timeout, this, &StoreFollower::applyWhenBrowsing);
}

StoreFollower::~StoreFollower() {
    cards_.removeChangeListener(listener_);
}

void StoreFollower::changedElsewhere() {
    if (typeAhead_)
        typeAhead_->refresh();
    pending_ = true;
    applyWhenBrowsing();
}

bool StoreFollower::browsing() const {
    // Entry mode disables Agregar (or makes it the save, with Salir turned into Cancela); a
    // search disables every command; a box or a menu open runs its own event loop, and the
    // command that opened it goes on with the grid as it was.
    return form_.buttonEnabled(QStringLiteral("cmdAgregar")) &&
           form_.buttonCaption(QStringLiteral("cmdSalir")) == u"&Salir" &&
           !QApplication::activeModalWidget() && !QApplication::activePopupWidget();
}

void StoreFollower::applyWhenBrowsing() {
    if (!pending_ || !browsing()) {
        if (pending_ && !retry_.isActive())
            retry_.start();
        return;
    }
    retry_.stop();
    pending_ = false;
    applyToGrid();
}

void StoreFollower::applyToGrid() {
    std::vector<store::RowId> stored;
    if (const store::Status status = cards_.rowIds(store::Order::Stored, &stored); !status) {
        // The grid stays as it was; the next change found tries again.
        messages_.notice(status.message());
        return;
    }
    const std::vector<store::RowId> shown = form_.gridRowIds();
    const bool listsAll = expected_ >= 0 && shown.size() == static_cast<size_t>(expected_);
    const std::vector<store::RowId> rows = followedRows(shown, stored, listsAll);
    expected_ = static_cast<qint64>(stored.size());
    if (!listsAll && shown.size() != static_cast<size_t>(form_.gridRows() - 1))
        return; // rows whose card the grid cannot tell: leave them rather than guess

    // The current row stays on its card; when that card is gone, on the row that took its place.
    const store::RowId current = form_.shownCardId();
    int row = form_.gridCurrentRow();
    if (const auto at = std::find(rows.begin(), rows.end(), current); at != rows.end())
        row = static_cast<int>(at - rows.begin()) + 1;
    row = std::clamp(row, rows.empty() ? 0 : 1, static_cast<int>(rows.size()));

    form_.gridShowRows(rows);
    if (row > 0)
        form_.setGridCurrentRow(row);
    // Browse mode again: the commands that need a card follow the count, the card shown is read
    // as stored now.
    form_.modoConsulta();
}

} // namespace browse
