#pragma once

#include "CardStore.h"

#include <QAbstractTableModel>
#include <QColor>

#include <deque>
#include <list>
#include <span>
#include <unordered_map>
#include <vector>

namespace browse {

// The rows of the card grid. A row holds either the id of a stored card, whose values are read
// from the store when the row is shown (a page of rows at a time, a few pages kept), or a copy of
// its values held in the model, with the id of its card when known (rows appended or rewritten by
// the commands). So a registry of a million cards costs one id per row, not one string per cell.
// Rows are always built from a card's values, never from a joined text: a value holding a tab, a
// line break or any other character stays in its own column.
//
// Model row r is grid row r + 1 (grid row 0 is the header); model column c is grid column c.
class CardGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = store::kGridFieldCount + 1;
    static constexpr int kPageRows = 256;
    static constexpr size_t kCachedPages = 8;

    explicit CardGridModel(QObject* parent = nullptr);

    // The store the id rows are read from; may be null (then only held rows exist).
    void setStore(const store::CardStore* cards);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Back to no rows; the cache is dropped.
    void clear();
    void appendIds(std::span<const store::RowId> ids);
    // A row holding a copy of the card's grid fields; `id` is the stored card's, kNoRow if none.
    void appendCard(const store::Card& card, store::RowId id);
    // The row's values rewritten from the card; it keeps the id of its card.
    void replaceCard(int row, const store::Card& card);
    void removeCardRow(int row);

    // Header cells (grid row 0): text, bold and colour.
    void setHeaderText(int column, const QString& text);
    void setHeaderBold(int column, bool bold);
    void setHeaderColor(int column, const QColor& color);

    // Text of one cell (model coordinates); a Null value reads as empty text.
    QString cellText(int row, int column) const;
    void setCellText(int row, int column, const QString& text);
    // The id of the stored card a row shows, or kNoRow when it is not known.
    store::RowId rowId(int row) const;
    // The ids of every row in order, leaving out rows whose card is not known.
    std::vector<store::RowId> rowIds() const;

    // Values read from the store are cached: drop them when the store changed underneath.
    void invalidateCache();

signals:
    // Reading rows from the store failed; emitted once per failure, outside painting.
    void storeError(const QString& message);

private:
    using Values = std::array<QString, kColumns>;
    struct Held {
        store::RowId id = store::kNoRow;
        Values values;
    };
    static Values valuesOf(const store::Card& card);
    const Values* rowValues(int row) const;
    const std::vector<Values>& page(int pageIndex) const;
    qint64 hold(Held held);

    const store::CardStore* cards_ = nullptr;
    struct Header {
        QString text;
        bool bold = false;
        QColor color;
    };
    std::array<Header, kColumns> headers_;
    // >= 0: stored id; < 0: -(index + 1) into held_.
    std::vector<qint64> rows_;
    std::deque<Held> held_;
    std::vector<size_t> freeHeld_;
    mutable std::unordered_map<int, std::vector<Values>> pages_;
    mutable std::list<int> pageOrder_; // most recently used first
    mutable bool errorPending_ = false;
    mutable bool refreshPending_ = false; // blank rows painted while the store was busy
};

} // namespace browse
