#pragma once

#include "CardGridModel.h"
#include "EntryForm.h"

#include <QElapsedTimer>
#include <QTableView>

namespace browse {

class GridWindowModel;

// The card grid: a table view over CardGridModel with the operations the window relies on, in
// grid coordinates: row 0 is the header row, card row r is model row r - 1; column 0 is an empty,
// hidden column and columns 1 to 24 hold the grid fields.
//
// The view itself holds only the rows in sight (GridWindowModel): a table view keeps a record for
// every row it has, which at ten million cards took 80 MB and made a start at a million wait for
// it. The grid keeps the current row and the top row shown in model rows, and its vertical scroll
// bar, the keys, the wheel and the jump to a row by typing move over every row; the view's own
// current index and selection only mirror the current row while it is in sight.
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
    // The grid row shown at the top (1 for the first card row; 0 with no card rows).
    int topRow() const { return model_->rowCount() > 0 ? top_ + 1 : 0; }
    int currentRow() const;      // 0 when no card row is current
    void setCurrentRow(int row); // 0 clears the current card row
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

    // The jump to a row by typing, over every row from the current one (an empty text starts a
    // new jump).
    void keyboardSearch(const QString& search) override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;

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
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void scrollContentsBy(int dx, int dy) override;
    void updateGeometries() override;
    void doItemsLayout() override;

private:
    // Rows wholly in sight (at least 1).
    int rowsInSight() const;
    int maxTop() const;
    // Model row `row` brought into sight as `hint` says.
    void showRow(int row, ScrollHint hint);
    void setTop(int top);
    // The view's rows are those from top_ again; its current index follows current_.
    void refreshWindow();
    void mirrorCurrent();
    void updateScrollBar();
    // The view's index of a model cell; invalid when its row is not in sight.
    QModelIndex shown(int row, int column) const;
    // Makes model cell (row, column) current as a click would, brought into sight.
    void moveTo(int row, int column);
    void sourceRowsInserted(int first, int last);
    void sourceRowsRemoved(int first, int last);

    CardGridModel* model_;
    GridWindowModel* window_;
    int wantedColumn_ = 1;
    int top_ = 0;      // model row shown at the top
    int current_ = -1; // model row current, -1 for none
    int column_ = 1;   // the current column while a row is current
    int windowRows_ = 0;
    bool mirroring_ = false;   // the view's current index set to follow current_
    bool viewSetsBar_ = false; // the table view setting the bar to its own few rows
    QString typed_;
    QElapsedTimer typedAt_;
};

// Pixels for a length in twips (1440 to the inch) at the screen's logical resolution.
int twipsToPixels(int twips, const QWidget* widget);

} // namespace browse
