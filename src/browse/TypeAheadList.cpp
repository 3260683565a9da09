#include "TypeAheadList.h"

#include <QItemSelectionModel>

namespace browse {

void TypeAheadModel::setEntries(TypeAheadMatches entries) {
    beginResetModel();
    entries_ = std::move(entries);
    endResetModel();
}

int TypeAheadModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(entries_.size());
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
    return model_->rowCount();
}

QString TypeAheadList::text(int row) const {
    return (row >= 0 && row < count()) ? model_->entries().at(row) : QString();
}

int TypeAheadList::currentRow() const {
    return currentIndex().row();
}

void TypeAheadList::setCurrentRow(int row) {
    const QModelIndex index = model_->index(row, 0);
    selectionModel()->setCurrentIndex(index, index.isValid() ? QItemSelectionModel::ClearAndSelect
                                                             : QItemSelectionModel::Clear);
}

bool TypeAheadList::isRowSelected(int row) const {
    return row >= 0 && row < count() && selectionModel()->isRowSelected(row, QModelIndex());
}

QRect TypeAheadList::rowRect(int row) const {
    return visualRect(model_->index(row, 0));
}

} // namespace browse
