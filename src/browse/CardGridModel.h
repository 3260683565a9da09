#pragma once

#include "CardStore.h"

#include <QAbstractTableModel>
#include <QColor>

#include <deque>
#include <list>
#include <map>
#include <span>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace browse {

// The rows of the card grid. A row holds either the id of a stored card, whose values are read
// from the store when the row is shown (a page of rows at a time, a few pages kept), or a copy of
// its values held in the model, with the id of its card when known (rows appended or rewritten by
// the commands): a search's result costs one id per row, not one string per cell. Rows are always
// built from a card's values, never from a joined text: a value holding a tab, a line break or
// any other character stays in its own column.
//
// Every card in stored order is listed without its ids, on a file as on a server: the model
// knows how many cards there are and the largest id listed, and reads the ids of the rows shown
// plus a margin from the store by id (the cards after a known id, or before it), keeping a few
// known rows as anchors so that a jump far away walks from the nearest one. Rows appended after
// that listing are held as above. So a registry of millions starts without reading every id.
//
// Model row r is grid row r + 1 (grid row 0 is the header); model column c is grid column c.
class CardGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kColumns = store::kGridFieldCount + 1;
    static constexpr int kPageRows = 256;
    // How long after a listing is shown the rows a far jump starts from are sampled.
    static constexpr int kSampleAheadMs = 500;
    static constexpr size_t kCachedPages = 8;

    explicit CardGridModel(QObject* parent = nullptr);

    // The store the id rows are read from; may be null (then only held rows exist).
    void setStore(const store::CardStore* cards);
    // Rows read from the store at a time (kPageRows unless set, as tests do to page through a
    // few cards); the cache is dropped.
    void setPageRows(int rows);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    // The grid's jump to a row by typing (QAbstractItemView::keyboardSearch) compares the rows
    // from `start` on. Comparing every row read every card of a registry's listing, which froze
    // the window for minutes at a million cards: past the rows the page cache holds at once, only
    // that many rows from `start` are compared.
    QModelIndexList match(const QModelIndex& start, int role, const QVariant& value, int hits,
                          Qt::MatchFlags flags) const override;

    // Back to no rows; the cache is dropped.
    void clear();
    void appendIds(std::span<const store::RowId> ids);
    // The same, the ids taken over when no row is listed yet.
    void appendIds(std::vector<store::RowId>&& ids);
    // The rows listed are ids only, the first of `ids`: the rest are appended, `ids` taken over.
    // False, and nothing done, when the rows listed are not those.
    bool extendIds(std::vector<store::RowId>&& ids);
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
    // While the grid paints, rows not read yet paint blank and are read right after the paint:
    // a read waits for the store in an event loop of its own, and a repaint of the window run
    // from that loop inside this paint would find the painter still active.
    void setPainting(bool painting) { painting_ = painting; }
    // Reads the rows [from, to) not read yet, so that a scroll finds them read when it paints.
    void prefetch(int from, int to) const;

    // Every stored card in stored order, as paged listing: `count` rows for the cards with ids
    // up to `lastId`. The store must be set; every row held before is dropped.
    // `version` is the position of the registry's change log when both were read (-1: not
    // known): a listing of the same version as an earlier one dropped meanwhile (by a search)
    // takes over the rows it had found, so that the first far jump after it reads no sample.
    void showStored(qint64 count, store::RowId lastId, qint64 version = -1);
    // Whether the first rows are that listing.
    bool listsStored() const { return paged_; }
    // Whether the rows a far jump starts from were sampled.
    bool rowsSampled() const { return sampled_; }
    // Ids per piece of the sample taken behind the window, instead of the store's (tests).
    void setSamplePieceIds(store::RowId ids) { samplePieceIds_ = ids; }
    // The row of stored card `id` in that listing; -1 when not listed or not readable.
    int storedRow(store::RowId id) const;
    // How many listed rows are stored cards (the listing's and held rows with an id).
    qint64 storedRows() const;
    // Another program's writes to a stored card, followed in ascending id order: a card added
    // after the listing's last joins its end, a written card shows its values as stored. False
    // when the listing cannot tell where the card belongs (a card stored again at an old id):
    // the caller lists again.
    bool storedWritten(store::RowId id);
    // The card is no longer stored: its row, when listed, is removed.
    void storedGone(store::RowId id);

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
    // The id of a listed row, reading ids around it when not known.
    store::RowId storedId(int row) const;
    // Makes the ids of listed rows [from, to) known; false when they could not be read.
    bool ensureIds(int from, int to) const;
    void dropStoredRow(int row, store::RowId id);
    // A jump more than four sampleStride() rows from every known row reads first the id at
    // every sampleStride()-th row of the listing, once, so that every later jump starts near one.
    int sampleStride() const;
    void sampleAnchors() const;
    // The same sample taken on the store's thread a moment after the listing is shown, while
    // the user reads the first card: the first jump then finds it taken. At ten million cards
    // on a server it takes more than a second, so there it is read in pieces, with what the user
    // asks meanwhile run between them.
    struct Sample;
    void sampleAhead();
    void samplePiece(const std::shared_ptr<Sample>& sample);
    // The id at every stride-th row, as read, added to the rows found.
    void addSample(const std::vector<store::RowId>& ids, int stride) const;
    void reportError(const QString& message) const;
    // Keeps the rows found of the paged listing about to be dropped, while it is as listed.
    void keepFound();
    // Reads the pages a paint left blank, and has their rows painted again.
    void readMissed();

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
    // The paged listing: rows [0, paged_ ? stored_ : 0) are the stored cards with id up to
    // lastId_, in id order, then come rows_. The ids of rows [windowStart_, + windowIds_.size())
    // are known, and a few rows further off are kept as anchors (row → id).
    bool paged_ = false;
    int stored_ = 0;
    store::RowId lastId_ = store::kNoRow;
    mutable int windowStart_ = 0;
    mutable std::vector<store::RowId> windowIds_;
    mutable std::map<int, store::RowId> anchors_;
    mutable bool sampled_ = false;
    bool sampling_ = false;            // sampleAhead() is on its way
    store::RowId samplePieceIds_ = -1; // -1: the store's
    quint64 listing_ = 0; // changes with every listing, so that a sample finds it still shown
    qint64 version_ = -1; // of the listing
    int listedCount_ = 0; // stored_ as listed
    // The rows found of the last paged listing dropped while still as listed (see showStored).
    struct Found {
        qint64 version = -1;
        int count = 0;
        store::RowId lastId = store::kNoRow;
        std::map<int, store::RowId> anchors;
    } found_;
    // Values of listed rows rewritten by the commands, by id, and the ids whose rows were
    // removed.
    std::unordered_map<store::RowId, Values> rewritten_;
    std::unordered_set<store::RowId> removed_;
    mutable std::unordered_map<int, std::vector<Values>> pages_;
    mutable std::list<int> pageOrder_; // most recently used first
    mutable bool errorPending_ = false;
    int pageRows_ = kPageRows;
    mutable bool refreshPending_ = false; // blank rows painted while the store was busy
    bool painting_ = false;
    mutable std::vector<int> missed_;   // pages painted blank, to be read after the paint
    size_t cachedPages_ = kCachedPages; // at least the pages one paint shows
};

} // namespace browse
