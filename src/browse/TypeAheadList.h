#pragma once

#include "TypeAheadIndex.h"

#include <QAbstractListModel>
#include <QListView>

namespace browse {

// The entries of a type-ahead list as a model that reads each one from the match list only when
// the view asks for it: showing hundreds of thousands of stored values costs the entries shown,
// not an item object per value.
class TypeAheadModel : public QAbstractListModel {
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    void setEntries(TypeAheadMatches entries);
    const TypeAheadMatches& entries() const { return entries_; }

    // The view holds the entries read so far, a batch at a time: a list view lays out every
    // row it is given, which for 665,000 telephones takes a tenth of a second. More rows are
    // handed over as the user scrolls down (fetchMore) or moves to an entry further on.
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    // Hands the view every row up to this one (and a batch more).
    void ensureRow(int row);

private:
    TypeAheadMatches entries_;
    int rows_ = 0; // rows the view has
};

// A list box under a type-ahead text box: a list view over its own TypeAheadModel, with the
// row-based calls of a simple list box.
class TypeAheadList : public QListView {
    Q_OBJECT
public:
    explicit TypeAheadList(QWidget* parent = nullptr);

    void setEntries(TypeAheadMatches entries);
    void clear();
    const TypeAheadMatches& entries() const { return model_->entries(); }

    int count() const;           // every entry, also those the view has not been given yet
    QString text(int row) const; // empty for a row out of range
    int currentRow() const;      // -1 when no entry is current
    // Makes the entry current and selects it alone; -1 leaves none current or selected.
    void setCurrentRow(int row);
    bool isRowSelected(int row) const;
    QRect rowRect(int row) const; // the entry's place in the viewport

private:
    TypeAheadModel* model_;
};

} // namespace browse
