#include "TypeAheadList.h"

#include <QItemSelectionModel>

namespace browse {

namespace {
constexpr int kBatch = 256;
} // namespace

void TypeAheadModel::setEntries(TypeAheadMatches entries) {
    beginResetModel();
    entries_ = std::move(entries);
    rows_ = int(std::min<qsizetype>(entries_.size(), kBatch));
    endResetModel();
}

int TypeAheadModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

bool TypeAheadModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && rows_ < entries_.size();
}

void TypeAheadModel::fetchMore(const QModelIndex& parent) {
    if (canFetchMore(parent))
        ensureRow(rows_);
}

void TypeAheadModel::ensureRow(int row) {
    if (row < rows_ || rows_ >= entries_.size())
        return;
    const int last = int(std::min<qsizetype>(entries_.size(), qsizetype(row) + kBatch)) - 1;
    beginInsertRows({}, rows_, last);
    rows_ = last + 1;
    endInsertRows();
}

QVariant TypeAheadModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= entries_.size() ||
        (role != Qt::DisplayRole && role != Qt::EditRole))
        return QVariant();
    return entries_.at(index.row());
}

TypeAheadList::TypeAheadList(QWidget* parent)
    : QListView(parent), model_(new TypeAheadModel(this)) {
    setModel(model_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true); // long lists lay out in constant time
}

void TypeAheadList::setEntries(TypeAheadMatches entries) {
    model_->setEntries(std::move(entries));
}

void TypeAheadList::clear() {
    model_->setEntries(TypeAheadMatches());
}

int TypeAheadList::count() const {
    return int(model_->entries().size());
}

QString TypeAheadList::text(int row) const {
    return (row >= 0 && row < count()) ? model_->entries().at(row) : QString();
}

int TypeAheadList::currentRow() const {
    return currentIndex().row();
}

void TypeAheadList::setCurrentRow(int row) {
    if (row >= 0 && row < count())
        model_->ensureRow(row);
    const QModelIndex index = model_->index(row, 0);
    selectionModel()->setCurrentIndex(index, index.isValid() ? QItemSelectionModel::ClearAndSelect
                                                             : QItemSelectionModel::Clear);
}

bool TypeAheadList::isRowSelected(int row) const {
    return row >= 0 && row < model_->rowCount() &&
           selectionModel()->isRowSelected(row, QModelIndex());
}

QRect TypeAheadList::rowRect(int row) const {
    return visualRect(model_->index(row, 0)); // empty for a row the view does not have yet
}

} // namespace browse
