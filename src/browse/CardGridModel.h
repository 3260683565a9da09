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
// its values held in the model (rows appended or rewritten by the commands, and rows appended as
// text). So a registry of a million cards costs one id per row, not one string per cell.
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
    // A row given as text: the part before the first tab goes to column 0, each further tab
    // moves to the next column; parts beyond the last column are dropped.
    void appendRowText(const QString& text);
    void replaceRowText(int row, const QString& text);
    void removeCardRow(int row);

    // Header cells (grid row 0): text, bold and colour.
    void setHeaderText(int column, const QString& text);
    void setHeaderBold(int column, bool bold);
    void setHeaderColor(int column, const QColor& color);

    // Text of one cell (model coordinates); a Null value reads as empty text.
    QString cellText(int row, int column) const;
    void setCellText(int row, int column, const QString& text);
    // The stored id of a row, or kNoRow for a held copy.
    store::RowId rowId(int row) const;

    // Values read from the store are cached: drop them when the store changed underneath.
    void invalidateCache();

signals:
    // Reading rows from the store failed; emitted once per failure, outside painting.
    void storeError(const QString& message);

private:
    using Values = std::array<QString, kColumns>;
    static Values valuesFromText(const QString& text);
    const Values* rowValues(int row) const;
    const std::vector<Values>& page(int pageIndex) const;
    qint64 holdValues(Values values);

    const store::CardStore* cards_ = nullptr;
    struct Header {
        QString text;
        bool bold = false;
        QColor color;
    };
    std::array<Header, kColumns> headers_;
    // >= 0: stored id; < 0: -(index + 1) into held_.
    std::vector<qint64> rows_;
    std::deque<Values> held_;
    std::vector<size_t> freeHeld_;
    mutable std::unordered_map<int, std::vector<Values>> pages_;
    mutable std::list<int> pageOrder_; // most recently used first
    mutable bool errorPending_ = false;
};

} // namespace browse
