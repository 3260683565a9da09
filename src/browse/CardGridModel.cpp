#include "CardGridModel.h"

#include "StoreThread.h"

#include <QFont>
#include <QMetaObject>

#include <algorithm>

namespace browse {

CardGridModel::CardGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void CardGridModel::setStore(const store::CardStore* cards) {
    beginResetModel();
    cards_ = cards;
    pages_.clear();
    pageOrder_.clear();
    endResetModel();
}

int CardGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CardGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant CardGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cellText(index.row(), index.column());
}

QVariant CardGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return QAbstractTableModel::headerData(section, orientation, role);
    const Header& h = headers_[static_cast<size_t>(section)];
    switch (role) {
    case Qt::DisplayRole:
        return h.text;
    case Qt::FontRole:
        if (h.bold) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::ForegroundRole:
        return h.color.isValid() ? QVariant(h.color) : QVariant();
    default:
        return {};
    }
}

void CardGridModel::setHeaderText(int column, const QString& text) {
    if (column < 0 || column >= kColumns)
        return;
    headers_[static_cast<size_t>(column)].text = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CardGridModel::setHeaderBold(int column, bool bold) {
    if (column < 0 || column >= kColumns)
        return;
    headers_[static_cast<size_t>(column)].bold = bold;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CardGridModel::setHeaderColor(int column, const QColor& color) {
    if (column < 0 || column >= kColumns)
        return;
    headers_[static_cast<size_t>(column)].color = color;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CardGridModel::clear() {
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    held_.clear();
    freeHeld_.clear();
    pages_.clear();
    pageOrder_.clear();
    for (Header& h : headers_)
        h = Header();
    endResetModel();
}

void CardGridModel::appendIds(std::span<const store::RowId> ids) {
    if (ids.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(ids.size()) - 1);
    rows_.insert(rows_.end(), ids.begin(), ids.end());
    invalidateCache();
    endInsertRows();
}

CardGridModel::Values CardGridModel::valuesOf(const store::Card& card) {
    Values values;
    for (int f = 0; f < store::kGridFieldCount; ++f)
        values[static_cast<size_t>(f + 1)] = card[static_cast<store::Field>(f)];
    return values;
}

qint64 CardGridModel::hold(Held held) {
    size_t slot;
    if (!freeHeld_.empty()) {
        slot = freeHeld_.back();
        freeHeld_.pop_back();
        held_[slot] = std::move(held);
    } else {
        slot = held_.size();
        held_.push_back(std::move(held));
    }
    return -static_cast<qint64>(slot) - 1;
}

void CardGridModel::appendCard(const store::Card& card, store::RowId id) {
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.push_back(hold({id, valuesOf(card)}));
    endInsertRows();
}

void CardGridModel::replaceCard(int row, const store::Card& card) {
    if (row < 0 || row >= rowCount())
        return;
    qint64& entry = rows_[static_cast<size_t>(row)];
    if (entry < 0)
        held_[static_cast<size_t>(-entry - 1)].values = valuesOf(card);
    else
        entry = hold({entry, valuesOf(card)});
    emit dataChanged(index(row, 0), index(row, kColumns - 1));
}

void CardGridModel::removeCardRow(int row) {
    if (row < 0 || row >= rowCount())
        return;
    beginRemoveRows({}, row, row);
    const qint64 entry = rows_[static_cast<size_t>(row)];
    if (entry < 0) {
        const auto slot = static_cast<size_t>(-entry - 1);
        held_[slot] = Held();
        freeHeld_.push_back(slot);
    }
    rows_.erase(rows_.begin() + row);
    // Rows below moved up: the cached pages no longer match their rows.
    invalidateCache();
    endRemoveRows();
}

QString CardGridModel::cellText(int row, int column) const {
    if (column < 0 || column >= kColumns)
        return {};
    const Values* values = rowValues(row);
    return values ? (*values)[static_cast<size_t>(column)] : QString();
}

void CardGridModel::setCellText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kColumns)
        return;
    qint64& entry = rows_[static_cast<size_t>(row)];
    if (entry >= 0) {
        const Values* current = rowValues(row);
        entry = hold({entry, current ? *current : Values()});
    }
    held_[static_cast<size_t>(-entry - 1)].values[static_cast<size_t>(column)] = text;
    emit dataChanged(index(row, column), index(row, column));
}

store::RowId CardGridModel::rowId(int row) const {
    if (row < 0 || row >= rowCount())
        return store::kNoRow;
    const qint64 entry = rows_[static_cast<size_t>(row)];
    return entry >= 0 ? entry : held_[static_cast<size_t>(-entry - 1)].id;
}

std::vector<store::RowId> CardGridModel::rowIds() const {
    std::vector<store::RowId> ids;
    ids.reserve(rows_.size());
    for (const qint64 entry : rows_) {
        const store::RowId id = entry >= 0 ? entry : held_[static_cast<size_t>(-entry - 1)].id;
        if (id != store::kNoRow)
            ids.push_back(id);
    }
    return ids;
}

void CardGridModel::invalidateCache() {
    pages_.clear();
    pageOrder_.clear();
}

const CardGridModel::Values* CardGridModel::rowValues(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    const qint64 entry = rows_[static_cast<size_t>(row)];
    if (entry < 0)
        return &held_[static_cast<size_t>(-entry - 1)].values;
    const std::vector<Values>& values = page(row / kPageRows);
    const auto offset = static_cast<size_t>(row % kPageRows);
    return offset < values.size() ? &values[offset] : nullptr;
}

const std::vector<CardGridModel::Values>& CardGridModel::page(int pageIndex) const {
    if (auto it = pages_.find(pageIndex); it != pages_.end()) {
        pageOrder_.remove(pageIndex);
        pageOrder_.push_front(pageIndex);
        return it->second;
    }
    if (store::StoreThread* thread = cards_ ? cards_->storeThread() : nullptr;
        thread && thread->busy()) {
        // Painting while the store works for a command: rows not read yet stay blank, and are
        // read once the work is done.
        if (!refreshPending_) {
            refreshPending_ = true;
            thread->afterWork(const_cast<CardGridModel*>(this), [this] {
                refreshPending_ = false;
                if (rowCount() > 0)
                    emit const_cast<CardGridModel*>(this)->dataChanged(
                        index(0, 0), index(rowCount() - 1, columnCount() - 1));
            });
        }
        static const std::vector<Values> blank;
        return blank;
    }
    while (pages_.size() >= kCachedPages && !pageOrder_.empty()) {
        pages_.erase(pageOrder_.back());
        pageOrder_.pop_back();
    }

    const size_t first = static_cast<size_t>(pageIndex) * kPageRows;
    const size_t last = std::min(rows_.size(), first + kPageRows);
    std::vector<store::RowId> ids;
    for (size_t r = first; r < last; ++r) {
        if (rows_[r] >= 0)
            ids.push_back(rows_[r]);
    }
    std::vector<std::pair<store::RowId, store::Card>> cards;
    if (cards_ && !ids.empty()) {
        const store::Status status = cards_->readCards(ids, &cards);
        if (!status && !errorPending_) {
            // Painting must not open a box: report once the current event is done.
            errorPending_ = true;
            QMetaObject::invokeMethod(
                const_cast<CardGridModel*>(this),
                [this, message = status.message()] {
                    errorPending_ = false;
                    emit const_cast<CardGridModel*>(this)->storeError(message);
                },
                Qt::QueuedConnection);
        }
    }
    std::unordered_map<store::RowId, const store::Card*> byId;
    byId.reserve(cards.size());
    for (const auto& [id, card] : cards)
        byId.emplace(id, &card);

    std::vector<Values> values(last - first);
    for (size_t r = first; r < last; ++r) {
        const qint64 entry = rows_[r];
        if (entry < 0)
            continue;
        const auto it = byId.find(entry);
        if (it == byId.end())
            continue; // no longer stored: an empty row
        Values& v = values[r - first];
        for (int f = 0; f < store::kGridFieldCount; ++f)
            v[static_cast<size_t>(f + 1)] = (*it->second)[static_cast<store::Field>(f)];
    }
    pageOrder_.push_front(pageIndex);
    return pages_.emplace(pageIndex, std::move(values)).first->second;
}

} // namespace browse
