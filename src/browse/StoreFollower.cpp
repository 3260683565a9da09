#include "StoreFollower.h"

#include "StoreThread.h"

#include "TypeAheadIndex.h"

#include <QApplication>

#include <algorithm>
#include <functional>

namespace browse {

namespace {

constexpr int kRetryMs = 250;

// A set of card ids: a bit per id up to the largest when the ids are dense enough (they normally
// run 1, 2, 3, …), a sorted copy otherwise.
class IdSet {
public:
    explicit IdSet(std::span<const store::RowId> ids) {
        if (ids.empty())
            return;
        const auto [lo, hi] = std::minmax_element(ids.begin(), ids.end());
        if (*lo >= 0 && static_cast<size_t>(*hi) <= 16 * ids.size() + (size_t(1) << 20)) {
            bits_.assign(static_cast<size_t>(*hi) + 1, false);
            for (const store::RowId id : ids)
                bits_[static_cast<size_t>(id)] = true;
            dense_ = true;
            return;
        }
        sorted_.assign(ids.begin(), ids.end());
        std::sort(sorted_.begin(), sorted_.end());
    }
    bool contains(store::RowId id) const {
        if (dense_)
            return id >= 0 && static_cast<size_t>(id) < bits_.size() &&
                   bits_[static_cast<size_t>(id)];
        return std::binary_search(sorted_.begin(), sorted_.end(), id);
    }
    // Every id of the set in ascending order, which is stored order.
    template <typename Visit> void forEachAscending(Visit visit) const {
        if (!dense_) {
            for (const store::RowId id : sorted_)
                visit(id);
            return;
        }
        for (size_t id = 0; id < bits_.size(); ++id) {
            if (bits_[id])
                visit(static_cast<store::RowId>(id));
        }
    }

private:
    std::vector<bool> bits_;
    std::vector<store::RowId> sorted_;
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
        const IdSet inGrid(rows);
        inStore.forEachAscending([&](store::RowId id) {
            if (!inGrid.contains(id))
                rows.push_back(id);
        });
    }
    return rows;
}

StoreFollower::StoreFollower(store::CardStore& cards, store::EntryForm& form,
                             TypeAheadIndex* typeAhead, store::MessageLayer& messages,
                             QObject* parent)
    : QObject(parent), cards_(cards), form_(form), typeAhead_(typeAhead), messages_(messages) {
    store::CardStore::Changes now;
    if (cards_.changesSince(-1, false, &now))
        listsSeen_ = gridSeen_ = now.position;
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
    // Another command's work is in flight (this came from a timer during its wait): follow once
    // it is done, not in the middle of it.
    if (store::StoreThread* thread = cards_.storeThread(); thread && thread->busy()) {
        thread->afterWork(this, [this] { changedElsewhere(); });
        return;
    }
    if (typeAhead_)
        followLists();
    pending_ = true;
    applyWhenBrowsing();
}

void StoreFollower::followLists() {
    store::CardStore::Changes changes;
    std::vector<std::pair<store::RowId, store::Card>> stored;
    const bool told = listsSeen_ >= 0 && cards_.changesSince(listsSeen_, false, &changes) &&
                      changes.complete && cards_.readCards(changes.ids, &stored);
    if (changes.position < 0)
        (void)cards_.changesSince(-1, false, &changes);
    listsSeen_ = changes.position;
    if (!told) {
        typeAhead_->refresh();
        return;
    }
    // Both lists are in ascending id order; a card not read is no longer stored.
    auto card = stored.begin();
    for (const store::RowId id : changes.ids) {
        if (card != stored.end() && card->first == id) {
            typeAhead_->cardChanged(id, card->second);
            ++card;
        } else {
            typeAhead_->cardRemoved(id);
        }
    }
    if (!changes.ids.empty())
        emit typeAheadFollowed();
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
    if (store::StoreThread* thread = cards_.storeThread(); thread && thread->busy()) {
        thread->afterWork(this, [this] { applyWhenBrowsing(); });
        return;
    }
    retry_.stop();
    pending_ = false;
    const store::EntryForm::GridView view = form_.gridView();
    applyToGrid();
    form_.restoreGridView(view);
}

void StoreFollower::followStored() {
    store::CardStore::Changes changes;
    std::vector<std::pair<store::RowId, store::Card>> stored;
    if (gridSeen_ >= 0 && cards_.changesSince(gridSeen_, true, &changes) && changes.complete &&
        cards_.readCards(changes.ids, &stored) &&
        form_.gridFollowStored(changes.ids, stored, changes.count)) {
        gridSeen_ = changes.position;
        // The current row moved with its card; when its card went, it stands on a neighbour.
        const int rows = form_.gridRows() - 1;
        const int row = std::clamp(form_.gridCurrentRow(), rows == 0 ? 0 : 1, rows);
        if (row > 0)
            form_.setGridCurrentRow(row);
        form_.modoConsulta();
        return;
    }
    // Listed again, from the log's position taken before: a write in between is applied again at
    // the next look, which changes nothing.
    if (changes.position < 0 || !changes.complete)
        (void)cards_.changesSince(-1, false, &changes);
    gridSeen_ = changes.position;
    const store::RowId current = form_.shownCardId();
    const int before = form_.gridCurrentRow();
    int row = 0;
    if (const store::Status status = form_.gridShowStored(cards_, current, &row); !status) {
        gridSeen_ = -1;
        messages_.notice(status.message());
        return;
    }
    const int rows = form_.gridRows() - 1;
    if (row <= 0)
        row = std::clamp(before, rows == 0 ? 0 : 1, rows);
    if (row > 0)
        form_.setGridCurrentRow(row);
    form_.modoConsulta();
}

void StoreFollower::applyToGrid() {
    if (form_.gridListsStored()) {
        followStored();
        return;
    }
    store::CardStore::Changes changes;
    {
        const std::vector<store::RowId> shown = form_.gridRowIds();
        const bool listsAll = expected_ >= 0 && shown.size() == static_cast<size_t>(expected_);
        // A grid that lists every card tells the count by its rows; only another grid needs the
        // store to count.
        if (gridSeen_ >= 0 && cards_.changesSince(gridSeen_, !listsAll, &changes) &&
            changes.complete && applyChanges(changes, shown, listsAll)) {
            gridSeen_ = changes.position;
            return;
        }
    }
    // The log's position is taken before the ids are read: a write in between is applied again
    // at the next look, which changes nothing.
    if (changes.position < 0)
        (void)cards_.changesSince(-1, false, &changes);
    gridSeen_ = changes.position;

    // Code order walks the index on the code alone, a tenth of the table's size: after another
    // program wrote, the connection reads its pages afresh from the file.
    std::vector<store::RowId> stored;
    if (const store::Status status = cards_.rowIds(store::Order::ByCode, &stored); !status) {
        // The grid stays as it was; the next change found tries again.
        gridSeen_ = -1;
        messages_.notice(status.message());
        return;
    }
    const std::vector<store::RowId> shown = form_.gridRowIds();
    const bool listsAll = expected_ >= 0 && shown.size() == static_cast<size_t>(expected_);
    std::vector<store::RowId> rows = followedRows(shown, stored, listsAll);
    expected_ = static_cast<qint64>(stored.size());
    if (!listsAll && shown.size() != static_cast<size_t>(form_.gridRows() - 1))
        return; // rows whose card the grid cannot tell: leave them rather than guess

    // The current row stays on its card; when that card is gone, on the row that took its place.
    const store::RowId current = form_.shownCardId();
    int row = form_.gridCurrentRow();
    if (const auto at = std::find(rows.begin(), rows.end(), current); at != rows.end())
        row = static_cast<int>(at - rows.begin()) + 1;
    row = std::clamp(row, rows.empty() ? 0 : 1, static_cast<int>(rows.size()));

    form_.gridShowRows(std::move(rows));
    if (row > 0)
        form_.setGridCurrentRow(row);
    // Browse mode again: the commands that need a card follow the count, the card shown is read
    // as stored now.
    form_.modoConsulta();
}

bool StoreFollower::applyChanges(const store::CardStore::Changes& changes,
                                 const std::vector<store::RowId>& shown, bool listsAll) {
    const std::span<const store::RowId> written = changes.ids; // ascending
    std::vector<std::pair<store::RowId, store::Card>> stored;  // ascending too
    if (!cards_.readCards(written, &stored))
        return false; // the whole read says why

    if (!listsAll && shown.size() != static_cast<size_t>(form_.gridRows() - 1)) {
        expected_ = changes.count;
        return true; // rows whose card the grid cannot tell: leave them rather than guess
    }

    // One walk over the grid finds the rows of the cards written and of the card shown.
    const store::RowId current = form_.shownCardId();
    int currentRow = form_.gridCurrentRow();
    std::vector<std::pair<store::RowId, int>> rowOf; // grid row of each written card listed
    for (size_t i = 0; i < shown.size(); ++i) {
        const store::RowId id = shown[i];
        if (id == current)
            currentRow = static_cast<int>(i) + 1;
        if (!written.empty() && id >= written.front() && id <= written.back() &&
            std::binary_search(written.begin(), written.end(), id))
            rowOf.emplace_back(id, static_cast<int>(i) + 1);
    }
    std::sort(rowOf.begin(), rowOf.end());

    std::vector<int> gone;
    std::vector<store::RowId> added;
    auto card = stored.begin();
    for (const store::RowId id : written) {
        const auto listed =
            std::lower_bound(rowOf.begin(), rowOf.end(), std::pair<store::RowId, int>(id, 0));
        const bool inGrid = listed != rowOf.end() && listed->first == id;
        if (card != stored.end() && card->first == id) {
            if (inGrid)
                form_.gridReplaceCard(listed->second, card->second);
            else if (listsAll)
                added.push_back(id);
            ++card;
        } else if (inGrid) {
            gone.push_back(listed->second);
        }
    }
    // From the bottom up, so that each row number still holds; the current row moves up with
    // the rows dropped above it, and lands on the row that took its place when its card went.
    std::sort(gone.begin(), gone.end(), std::greater<>());
    for (const int row : gone) {
        form_.gridRemoveRow(row);
        if (row < currentRow)
            --currentRow;
    }
    if (!added.empty()) {
        if (const store::Status status = form_.gridAppendStored(cards_, added); !status) {
            messages_.notice(status.message());
            return false;
        }
    }
    const int rows = form_.gridRows() - 1;
    expected_ = listsAll ? rows : changes.count;
    if (listsAll)
        cards_.countFollowed(rows, changes.position);

    currentRow = std::clamp(currentRow, rows == 0 ? 0 : 1, rows);
    if (currentRow > 0)
        form_.setGridCurrentRow(currentRow);
    form_.modoConsulta();
    return true;
}

} // namespace browse
