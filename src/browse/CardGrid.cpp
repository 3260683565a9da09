#include "CardGrid.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>

namespace browse {

int twipsToPixels(int twips, const QWidget* widget) {
    const int dpi = widget ? widget->logicalDpiX() : 96;
    return (twips * dpi + 720) / 1440;
}

CardGrid::CardGrid(QWidget* parent) : QTableView(parent), model_(new CardGridModel(this)) {
    setObjectName(QStringLiteral("VSFlexGrid1"));
    setModel(model_);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setTabKeyNavigation(false);
    setWordWrap(false);
    verticalHeader()->hide();
    // Every row has the same height: the view need not ask each of a million rows.
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setHighlightSections(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    connect(this, &QTableView::clicked, this, &CardGrid::rowClicked);
    // The rows a scroll brings into view are read before they are painted (see paintEvent).
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this] {
        const int top = rowAt(0);
        if (top < 0)
            return;
        const int bottom = rowAt(viewport()->height() - 1);
        model_->prefetch(top, bottom < 0 ? model_->rowCount() : bottom + 1);
    });
}

void CardGrid::paintEvent(QPaintEvent* event) {
    // Rows not read yet paint blank and are read right after the paint (see CardGridModel).
    model_->setPainting(true);
    QTableView::paintEvent(event);
    model_->setPainting(false);
}

void CardGrid::llenaGrilla() {
    model_->clear();
    for (const store::CardField& f : store::cardFields()) {
        if (!f.gridHeader.isEmpty())
            model_->setHeaderText(f.field + 1, f.gridHeader.toString());
    }
    for (int c = 1; c < CardGridModel::kColumns; ++c)
        model_->setHeaderColor(c, QColor(0, 0, 30));
    for (int c = 1; c < CardGridModel::kColumns; ++c)
        model_->setHeaderBold(c, true);
    setColumnWidthTwips(0, 0);
    for (int c = 1; c < CardGridModel::kColumns; ++c)
        setColumnWidthTwips(c, 1500);
    setCurrentRow(0);
}

int CardGrid::currentRow() const {
    const QModelIndex index = currentIndex();
    return index.isValid() ? index.row() + 1 : 0;
}

void CardGrid::setCurrentRow(int row) {
    if (row <= 0 || row >= rows()) {
        setCurrentIndex(QModelIndex());
        return;
    }
    // The current row is brought into view, highlighted: after the grid was listed anew (a
    // search closed, a card restored) the view was left at its top with the row out of sight.
    // The rows just listed are laid out first, so that the scroll range reaches the row.
    executeDelayedItemsLayout();
    const QModelIndex index = model_->index(row - 1, wantedColumn_);
    setCurrentIndex(index);
    scrollTo(index);
}

store::EntryForm::GridView CardGrid::view() const {
    const int top = rowAt(0);
    if (top < 0)
        return {};
    const int bottom = rowAt(viewport()->height() - 1);
    const int current = currentRow() - 1;
    return {top + 1, current >= top && (bottom < 0 || current <= bottom)};
}

void CardGrid::restoreView(const store::EntryForm::GridView& view) {
    if (view.top <= 0 || rows() <= 1)
        return;
    executeDelayedItemsLayout();
    // Column 0 is hidden, and a view does not scroll to a hidden cell.
    scrollTo(model_->index(std::min(view.top, rows() - 1) - 1, 1), PositionAtTop);
    if (view.currentShown && currentIndex().isValid())
        scrollTo(currentIndex());
}

int CardGrid::currentColumn() const {
    const QModelIndex index = currentIndex();
    return index.isValid() ? index.column() : wantedColumn_;
}

void CardGrid::setCurrentColumn(int column) {
    if (column < 0 || column >= CardGridModel::kColumns)
        return;
    wantedColumn_ = column;
    const QModelIndex index = currentIndex();
    if (index.isValid() && index.column() != column)
        selectionModel()->setCurrentIndex(model_->index(index.row(), column),
                                          QItemSelectionModel::NoUpdate);
}

QString CardGrid::currentCellText() const {
    const QModelIndex index = currentIndex();
    return index.isValid() ? model_->cellText(index.row(), index.column()) : QString();
}

QString CardGrid::cellText(int row, int column) const {
    if (row == 0)
        return model_->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    return model_->cellText(row - 1, column);
}

void CardGrid::setCellText(int row, int column, const QString& text) {
    if (row == 0)
        model_->setHeaderText(column, text);
    else
        model_->setCellText(row - 1, column, text);
}

void CardGrid::setColumnWidthTwips(int column, int twips) {
    if (twips <= 0) {
        setColumnHidden(column, true);
        return;
    }
    setColumnHidden(column, false);
    setColumnWidth(column, twipsToPixels(twips, this));
}

void CardGrid::appendCard(const store::Card& card, store::RowId id) {
    model_->appendCard(card, id);
}

void CardGrid::appendIds(std::span<const store::RowId> ids) {
    model_->appendIds(ids);
}

void CardGrid::showIds(std::vector<store::RowId> ids) {
    model_->appendIds(std::move(ids));
}

store::Status CardGrid::readStored(const store::CardStore& cards, StoredListing* listing) {
    // The log's position first: a write after it makes this listing's version an older one.
    store::CardStore::Changes log;
    listing->version = cards.changesSince(-1, false, &log) ? log.position : -1;
    store::Status status;
    listing->count = cards.recordCount(&status);
    if (status)
        status = cards.lastId(&listing->last);
    return status;
}

void CardGrid::showStored(const StoredListing& listing) {
    model_->showStored(listing.count, listing.last, listing.version);
}

store::Status CardGrid::showStored(const store::CardStore& cards) {
    StoredListing listing;
    const store::Status status = readStored(cards, &listing);
    if (status)
        showStored(listing);
    return status;
}

void CardGrid::replaceCard(int row, const store::Card& card) {
    model_->replaceCard(row - 1, card);
}

void CardGrid::removeRow(int row) {
    if (row < 1 || row >= rows())
        return;
    const int current = currentRow();
    model_->removeCardRow(row - 1);
    // Keep a card row current while any is left: the one that moved up, or the new last one.
    if (rows() > 1 && (current == row || !currentIndex().isValid()))
        setCurrentRow(std::min(current, rows() - 1));
}

void CardGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        emit enterPressed();
        return;
    }
    QTableView::keyPressEvent(event);
}

void CardGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    // A double click does nothing beyond the click that came before it.
    event->accept();
}

void CardGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (current != previous)
        emit currentCellChanged();
}

} // namespace browse
