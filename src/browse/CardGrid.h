#pragma once

#include "CardGridModel.h"
#include "EntryForm.h"

#include <QTableView>

namespace browse {

// The card grid: a table view over CardGridModel with the operations the window relies on, in
// grid coordinates: row 0 is the header row, card row r is model row r - 1; column 0 is an empty,
// hidden column and columns 1 to 24 hold the grid fields.
class CardGrid : public QTableView {
    Q_OBJECT
public:
    explicit CardGrid(QWidget* parent = nullptr);

    CardGridModel* cardModel() const { return model_; }
    void setStore(const store::CardStore* cards) { model_->setStore(cards); }

    // The grid reset to its header row only: 25 columns, the headers bold in RGB(0, 0, 30),
    // column 0 of width 0, columns 1 to 24 of 1500 twips, no card rows, row 0 current.
    void llenaGrilla();

    int rows() const { return model_->rowCount() + 1; } // header row included
    int currentRow() const;                             // 0 when no card row is current
    void setCurrentRow(int row);                        // 0 clears the current card row
    int currentColumn() const;
    void setCurrentColumn(int column);
    store::EntryForm::GridView view() const;
    // The top row shown again where it still is, and the current row brought into sight if it was.
    void restoreView(const store::EntryForm::GridView& view);
    QString currentCellText() const; // empty while the header row is current

    QString cellText(int row, int column) const;
    void setCellText(int row, int column, const QString& text);
    void setColumnWidthTwips(int column, int twips);

    // A row with the card's values; `id` is the stored card's (kNoRow when not stored).
    void appendCard(const store::Card& card, store::RowId id = store::kNoRow);
    // The id of the stored card a card row shows; kNoRow for the header or when not known.
    store::RowId rowId(int row) const { return model_->rowId(row - 1); }
    void appendIds(std::span<const store::RowId> ids);
    // The rows of these ids, after the header only: the ids are taken over.
    void showIds(std::vector<store::RowId> ids);
    // Every stored card in stored order, read a page at a time as rows are shown (see
    // CardGridModel::showStored); the current row is left at 0.
    store::Status showStored(const store::CardStore& cards);
    // The same in two steps: what the listing needs read from the store, then shown. A caller
    // that empties the grid first does so only once the read worked, so that a registry out of
    // reach (a server restarting) leaves the grid as it was rather than empty.
    struct StoredListing {
        qint64 count = 0;
        store::RowId last = store::kNoRow;
        qint64 version = -1;
    };
    static store::Status readStored(const store::CardStore& cards, StoredListing* listing);
    void showStored(const StoredListing& listing);
    void replaceCard(int row, const store::Card& card);
    // Removes a card row; the rows below move up and, while rows are left, one stays current.
    void removeRow(int row);

signals:
    // The current cell changed (a click, the arrow keys, or a programmatic move).
    void currentCellChanged();
    void rowClicked();
    void enterPressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    CardGridModel* model_;
    int wantedColumn_ = 1;
};

// Pixels for a length in twips (1440 to the inch) at the screen's logical resolution.
int twipsToPixels(int twips, const QWidget* widget);

} // namespace browse
