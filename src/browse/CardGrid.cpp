#include "CardGrid.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScopedValueRollback>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace browse {

// The rows of the card grid in sight: view row r is model row top + r, for `count` rows. The
// grid moves it over the model and says what changed; it never follows the model on its own, so
// that the view's row count changes only when the grid says so.
class GridWindowModel : public QAbstractTableModel {
public:
    GridWindowModel(CardGridModel* source, QObject* parent)
        : QAbstractTableModel(parent), source_(source) {}

    int rowCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : count_;
    }
    int columnCount(const QModelIndex& parent = {}) const override {
        return parent.isValid() ? 0 : CardGridModel::kColumns;
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid() || top_ + index.row() >= source_->rowCount())
            return {};
        return source_->data(source_->index(top_ + index.row(), index.column()), role);
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        return source_->headerData(section, orientation, role);
    }

    // Rows [top, top + count) of the model in sight; every row the view has is painted again.
    void show(int top, int count) {
        top_ = top;
        if (count > count_) {
            beginInsertRows({}, count_, count - 1);
            count_ = count;
            endInsertRows();
        } else if (count < count_) {
            beginRemoveRows({}, count, count_ - 1);
            count_ = count;
            endRemoveRows();
        }
        if (count_ > 0)
            emit dataChanged(index(0, 0), index(count_ - 1, CardGridModel::kColumns - 1));
    }
    void beginReset() { beginResetModel(); }
    void endReset(int count) {
        top_ = 0;
        count_ = count;
        endResetModel();
    }

private:
    CardGridModel* source_;
    int top_ = 0;
    int count_ = 0;
};

int twipsToPixels(int twips, const QWidget* widget) {
    const int dpi = widget ? widget->logicalDpiX() : 96;
    return (twips * dpi + 720) / 1440;
}

CardGrid::CardGrid(QWidget* parent)
    : QTableView(parent), model_(new CardGridModel(this)),
      window_(new GridWindowModel(model_, this)) {
    setObjectName(QStringLiteral("VSFlexGrid1"));
    setModel(window_);
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
    // Enough rows for the tallest screen from the start, so that showing the window adds none.
    if (const QScreen* screen = QApplication::primaryScreen())
        windowRows_ = screen->geometry().height() / verticalHeader()->defaultSectionSize() + 2;

    // The view follows the model's changes through the grid, which keeps its rows in sight.
    connect(model_, &QAbstractItemModel::modelAboutToBeReset, this,
            [this] { window_->beginReset(); });
    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        // As a table view does, the rows start again at the top with none current.
        top_ = 0;
        current_ = -1;
        {
            const QScopedValueRollback guard(mirroring_, true);
            window_->endReset(std::min(model_->rowCount(), windowRows_));
        }
        updateScrollBar();
    });
    connect(model_, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) { sourceRowsInserted(first, last); });
    connect(model_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) { sourceRowsRemoved(first, last); });
    connect(model_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) {
                const int first = std::max(from.row(), top_) - top_;
                const int last = std::min(to.row() - top_, window_->rowCount() - 1);
                if (first <= last)
                    emit window_->dataChanged(window_->index(first, from.column()),
                                              window_->index(last, to.column()));
            });
    connect(model_, &QAbstractItemModel::headerDataChanged, window_,
            &QAbstractItemModel::headerDataChanged);
}

// --- the rows in sight ---------------------------------------------------------------------

int CardGrid::rowsInSight() const {
    return std::max(1, viewport()->height() / std::max(1, verticalHeader()->defaultSectionSize()));
}

int CardGrid::maxTop() const {
    return std::max(0, model_->rowCount() - rowsInSight());
}

QModelIndex CardGrid::shown(int row, int column) const {
    if (row < top_ || row >= top_ + window_->rowCount())
        return {};
    return window_->index(row - top_, column);
}

void CardGrid::showRow(int row, ScrollHint hint) {
    const int sight = rowsInSight();
    int top = top_;
    switch (hint) {
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - sight + 1;
        break;
    case PositionAtCenter:
        top = row - sight / 2;
        break;
    case EnsureVisible:
        if (row < top_)
            top = row;
        else if (row >= top_ + sight)
            top = row - sight + 1;
        break;
    }
    setTop(top);
}

void CardGrid::setTop(int top) {
    top = std::clamp(top, 0, maxTop());
    if (top != top_) {
        top_ = top;
        refreshWindow();
        // The rows a scroll brings into view are read before they are painted (see paintEvent).
        model_->prefetch(top_, top_ + std::min(window_->rowCount(), rowsInSight() + 1));
    }
    updateScrollBar();
}

void CardGrid::refreshWindow() {
    {
        const QScopedValueRollback guard(mirroring_, true);
        window_->show(top_, std::clamp(model_->rowCount() - top_, 0, windowRows_));
    }
    mirrorCurrent();
}

void CardGrid::mirrorCurrent() {
    if (!selectionModel())
        return; // the view still being given its model
    const QScopedValueRollback guard(mirroring_, true);
    const QModelIndex index = current_ >= 0 ? shown(current_, column_) : QModelIndex();
    if (!index.isValid())
        selectionModel()->clearSelection();
    // Set through the view, which then makes no row current on its own when it takes the focus.
    setCurrentIndex(index);
}

void CardGrid::updateScrollBar() {
    const QScopedValueRollback guard(viewSetsBar_, true);
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, maxTop());
    bar->setPageStep(rowsInSight());
    bar->setSingleStep(1);
    bar->setValue(top_);
}

void CardGrid::scrollContentsBy(int dx, int dy) {
    if (dx != 0)
        QTableView::scrollContentsBy(dx, 0);
    // The view's rows never scroll: the rows in sight change instead.
    if (dy != 0 && !viewSetsBar_)
        setTop(verticalScrollBar()->value());
}

void CardGrid::updateGeometries() {
    {
        const QScopedValueRollback guard(viewSetsBar_, true);
        QTableView::updateGeometries();
    }
    verticalHeader()->setOffset(0);
    const int needed = rowsInSight() + 1;
    const int top = std::clamp(top_, 0, maxTop());
    if (needed > windowRows_ || top != top_) {
        windowRows_ = std::max(windowRows_, needed);
        top_ = top;
        refreshWindow();
    }
    updateScrollBar();
}

void CardGrid::doItemsLayout() {
    {
        const QScopedValueRollback guard(viewSetsBar_, true);
        QTableView::doItemsLayout();
    }
    verticalHeader()->setOffset(0);
    updateScrollBar();
}

void CardGrid::scrollTo(const QModelIndex& index, ScrollHint hint) {
    // The view's current index mirroring the current row after a scroll scrolls nothing: the
    // current row may be what the user scrolled away from.
    if (!index.isValid() || mirroring_)
        return;
    const int row = index.model() == window_ ? top_ + index.row() : index.row();
    showRow(row, hint);
    // Across, as the table view does, without its scroll over the view's own few rows.
    if (isColumnHidden(index.column()))
        return;
    QScrollBar* across = horizontalScrollBar();
    const int left = columnViewportPosition(index.column());
    const int right = left + columnWidth(index.column());
    if (left < 0)
        across->setValue(across->value() + left);
    else if (right > viewport()->width())
        across->setValue(across->value() + std::min(left, right - viewport()->width()));
}

void CardGrid::sourceRowsInserted(int first, int last) {
    if (current_ >= first)
        current_ += last - first + 1;
    top_ = std::clamp(top_, 0, maxTop());
    refreshWindow();
    updateScrollBar();
}

void CardGrid::sourceRowsRemoved(int first, int last) {
    // The current row removed, the row that took its place becomes current, or else the one
    // above, as a table view of a single selection does.
    bool moved = false;
    if (current_ >= first && current_ <= last) {
        current_ = first < model_->rowCount() ? first : first - 1;
        moved = true;
    } else if (current_ > last) {
        current_ -= last - first + 1;
    }
    top_ = std::clamp(top_, 0, maxTop());
    refreshWindow();
    updateScrollBar();
    if (moved)
        emit currentCellChanged();
}

void CardGrid::moveTo(int row, int column) {
    showRow(row, EnsureVisible);
    if (row != current_ || column != column_) {
        // The view's current index may be the new cell's already, mirroring another row.
        const QScopedValueRollback guard(mirroring_, true);
        selectionModel()->clear();
    }
    setCurrentIndex(shown(row, column));
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
    return current_ + 1;
}

void CardGrid::setCurrentRow(int row) {
    if (row <= 0 || row >= rows()) {
        const bool had = current_ >= 0;
        current_ = -1;
        mirrorCurrent();
        if (had)
            emit currentCellChanged();
        return;
    }
    // The current row is brought into view, highlighted: after the grid was listed anew (a
    // search closed, a card restored) the view was left at its top with the row out of sight.
    moveTo(row - 1, wantedColumn_);
}

store::EntryForm::GridView CardGrid::view() const {
    if (model_->rowCount() == 0)
        return {};
    // The last row in sight may be cut by the grid's bottom edge.
    const int bottom = top_ + (viewport()->height() - 1) / verticalHeader()->defaultSectionSize();
    return {top_ + 1, current_ >= top_ && current_ <= bottom};
}

void CardGrid::restoreView(const store::EntryForm::GridView& view) {
    if (view.top <= 0 || rows() <= 1)
        return;
    showRow(std::min(view.top, rows() - 1) - 1, PositionAtTop);
    if (view.currentShown && current_ >= 0)
        showRow(current_, EnsureVisible);
}

int CardGrid::currentColumn() const {
    return current_ >= 0 ? column_ : wantedColumn_;
}

void CardGrid::setCurrentColumn(int column) {
    if (column < 0 || column >= CardGridModel::kColumns)
        return;
    wantedColumn_ = column;
    if (current_ < 0 || column_ == column)
        return;
    if (const QModelIndex index = shown(current_, column); index.isValid()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
        return;
    }
    column_ = column;
    emit currentCellChanged();
}

QString CardGrid::currentCellText() const {
    return current_ >= 0 ? model_->cellText(current_, column_) : QString();
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
    if (rows() > 1 && (current == row || current_ < 0))
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
    // A click, a key or setCurrentIndex: the row becomes current before the view brings it into
    // sight, which moves the rows in sight.
    bool changed = false;
    if (!mirroring_) {
        const int row = current.isValid() ? top_ + current.row() : -1;
        const int column = current.isValid() ? current.column() : column_;
        changed = row != current_ || column != column_;
        current_ = row;
        column_ = column;
    }
    QTableView::currentChanged(current, previous);
    if (changed)
        emit currentCellChanged();
}

QModelIndex CardGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    const int rows = model_->rowCount();
    if (rows == 0)
        return {};
    const int page = rowsInSight();
    const bool control = modifiers & Qt::ControlModifier;
    int row = current_;
    if (current_ < 0) {
        row = 0; // with no row current, any move starts at the first row, as a table view does
    } else if (action == MoveUp) {
        row = std::max(0, current_ - 1);
    } else if (action == MoveDown) {
        row = std::min(rows - 1, current_ + 1);
    } else if (action == MovePageUp) {
        row = std::max(0, current_ - page);
    } else if (action == MovePageDown) {
        row = std::min(rows - 1, current_ + page);
    } else if (action == MoveHome && control) {
        row = 0;
    } else if (action == MoveEnd && control) {
        row = rows - 1;
    } else {
        // Across the current row: the table view's own move, the row in sight.
        showRow(current_, EnsureVisible);
        return QTableView::moveCursor(action, modifiers);
    }
    const int column = current_ >= 0 ? column_ : wantedColumn_;
    showRow(row, EnsureVisible);
    if (row != current_) {
        // The view then sees a move to the new cell, whatever view row the old one had.
        const QScopedValueRollback guard(mirroring_, true);
        selectionModel()->clear();
    }
    return shown(row, column);
}

void CardGrid::keyboardSearch(const QString& search) {
    // As the table view's own jump, over the model's rows: the keys typed within the
    // keyboard input interval add up; a new text starts from the row after the current one,
    // and the same key typed again goes on to the next row beginning with it.
    const int rows = model_->rowCount();
    const bool going = typedAt_.isValid() && !search.isEmpty() &&
                       typedAt_.elapsed() <= QApplication::keyboardInputInterval();
    typedAt_.start();
    if (search.isEmpty()) {
        typed_.clear();
        typedAt_.invalidate();
        return;
    }
    typed_ = going ? typed_ + search : search;
    if (rows == 0)
        return;
    bool skipRow = !going && current_ >= 0;
    if (typed_.size() > 1 && typed_.count(typed_.back()) == typed_.size())
        skipRow = true;
    const int column = current_ >= 0 ? column_ : 0;
    int start = std::max(current_, 0);
    if (skipRow)
        start = start + 1 < rows ? start + 1 : 0;
    const QModelIndexList found = model_->match(model_->index(start, column), Qt::DisplayRole,
                                                typed_, 1, Qt::MatchStartsWith | Qt::MatchWrap);
    if (!found.isEmpty())
        moveTo(found.first().row(), column);
}

} // namespace browse
