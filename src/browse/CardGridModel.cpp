#include "CardGridModel.h"

#include "StoreThread.h"

#include <QFont>
#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <limits>

namespace browse {

namespace {

// Ids read around the rows shown: a row within kNearPages pages of the known ones extends them;
// one further off is reached from the nearest anchor. At most kWindowPages pages of ids are kept.
constexpr int kNearPages = 4;
constexpr int kWindowPages = 32;
constexpr size_t kMaxAnchors = 4096;
constexpr store::RowId kBeforeFirst = std::numeric_limits<store::RowId>::min();

} // namespace

CardGridModel::CardGridModel(QObject* parent) : QAbstractTableModel(parent) {}

void CardGridModel::setPageRows(int rows) {
    pageRows_ = std::max(1, rows);
    invalidateCache();
}

void CardGridModel::setStore(const store::CardStore* cards) {
    beginResetModel();
    cards_ = cards;
    pages_.clear();
    pageOrder_.clear();
    endResetModel();
}

int CardGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : stored_ + static_cast<int>(rows_.size());
}

int CardGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QVariant CardGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || role != Qt::DisplayRole)
        return {};
    return cellText(index.row(), index.column());
}

QModelIndexList CardGridModel::match(const QModelIndex& start, int role, const QVariant& value,
                                     int hits, Qt::MatchFlags flags) const {
    const int rows = rowCount();
    const int compared = pageRows_ * int(kCachedPages);
    const Qt::MatchFlags how = flags & Qt::MatchTypeMask;
    const bool text = how == Qt::MatchStartsWith || how == Qt::MatchContains ||
                      how == Qt::MatchFixedString || how == Qt::MatchEndsWith;
    if (rows <= compared || !start.isValid() || role != Qt::DisplayRole || !text)
        return QAbstractTableModel::match(start, role, value, hits, flags);
    const QString wanted = value.toString();
    const Qt::CaseSensitivity cs =
        flags & Qt::MatchCaseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    QModelIndexList found;
    for (int i = 0, row = start.row(); i < compared && (hits < 0 || found.size() < hits); ++i) {
        if (row >= rows) {
            if (!(flags & Qt::MatchWrap))
                break;
            row = 0;
        }
        const QString cell = cellText(row, start.column());
        const bool hit = how == Qt::MatchStartsWith ? cell.startsWith(wanted, cs)
                         : how == Qt::MatchContains ? cell.contains(wanted, cs)
                         : how == Qt::MatchEndsWith ? cell.endsWith(wanted, cs)
                                                    : cell.compare(wanted, cs) == 0;
        if (hit)
            found.append(index(row, start.column()));
        ++row;
    }
    return found;
}

QVariant CardGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns)
        return QAbstractTableModel::headerData(section, orientation, role);
    const Header& h = headers_[static_cast<size_t>(section)];
    switch (role) {
    case Qt::DisplayRole:
        return h.text;
    case Qt::FontRole:
        if (h.bold) {
            QFont font;
            font.setBold(true);
            return font;
        }
        return {};
    case Qt::ForegroundRole:
        return h.color.isValid() ? QVariant(h.color) : QVariant();
    default:
        return {};
    }
}

void CardGridModel::setHeaderText(int column, const QString& text) {
    if (column < 0 || column >= kColumns)
        return;
    headers_[static_cast<size_t>(column)].text = text;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CardGridModel::setHeaderBold(int column, bool bold) {
    if (column < 0 || column >= kColumns)
        return;
    headers_[static_cast<size_t>(column)].bold = bold;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CardGridModel::setHeaderColor(int column, const QColor& color) {
    if (column < 0 || column >= kColumns)
        return;
    headers_[static_cast<size_t>(column)].color = color;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void CardGridModel::keepFound() {
    // Rows added or removed since it was listed move the rows found; rewritten values do not.
    if (paged_ && sampled_ && version_ >= 0 && stored_ == listedCount_ && rows_.empty() &&
        removed_.empty())
        found_ = {version_, stored_, lastId_, anchors_};
}

void CardGridModel::clear() {
    keepFound();
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    held_.clear();
    freeHeld_.clear();
    pages_.clear();
    pageOrder_.clear();
    paged_ = false;
    stored_ = 0;
    lastId_ = store::kNoRow;
    windowStart_ = 0;
    windowIds_.clear();
    anchors_.clear();
    sampled_ = false;
    ++listing_;
    rewritten_.clear();
    removed_.clear();
    for (Header& h : headers_)
        h = Header();
    endResetModel();
}

void CardGridModel::appendIds(std::span<const store::RowId> ids) {
    if (ids.empty())
        return;
    const int first = rowCount();
    beginInsertRows({}, first, first + static_cast<int>(ids.size()) - 1);
    rows_.insert(rows_.end(), ids.begin(), ids.end());
    invalidateCache();
    endInsertRows();
}

void CardGridModel::appendIds(std::vector<store::RowId>&& ids) {
    if (ids.empty() || rowCount() > 0) {
        appendIds(std::span<const store::RowId>(ids));
        return;
    }
    beginInsertRows({}, 0, static_cast<int>(ids.size()) - 1);
    rows_ = std::move(ids);
    invalidateCache();
    endInsertRows();
}

bool CardGridModel::extendIds(std::vector<store::RowId>&& ids) {
    const size_t listed = rows_.size();
    if (paged_ || ids.size() < listed || !std::equal(rows_.begin(), rows_.end(), ids.begin()))
        return false;
    if (ids.size() == listed)
        return true;
    beginInsertRows({}, int(listed), static_cast<int>(ids.size()) - 1);
    rows_ = std::move(ids);
    invalidateCache();
    endInsertRows();
    return true;
}

CardGridModel::Values CardGridModel::valuesOf(const store::Card& card) {
    Values values;
    for (int f = 0; f < store::kGridFieldCount; ++f)
        values[static_cast<size_t>(f + 1)] = card[static_cast<store::Field>(f)];
    return values;
}

qint64 CardGridModel::hold(Held held) {
    size_t slot;
    if (!freeHeld_.empty()) {
        slot = freeHeld_.back();
        freeHeld_.pop_back();
        held_[slot] = std::move(held);
    } else {
        slot = held_.size();
        held_.push_back(std::move(held));
    }
    return -static_cast<qint64>(slot) - 1;
}

void CardGridModel::appendCard(const store::Card& card, store::RowId id) {
    // A card added after the paged listing's last joins the listing: its values are read like
    // the others', and nothing is held for it.
    if (paged_ && rows_.empty() && id != store::kNoRow && id > lastId_ && storedWritten(id))
        return;
    const int row = rowCount();
    beginInsertRows({}, row, row);
    rows_.push_back(hold({id, valuesOf(card)}));
    endInsertRows();
}

void CardGridModel::replaceCard(int row, const store::Card& card) {
    if (row < 0 || row >= rowCount())
        return;
    if (row < stored_) {
        const store::RowId id = storedId(row);
        if (id == store::kNoRow)
            return;
        rewritten_[id] = valuesOf(card);
        invalidateCache();
        emit dataChanged(index(row, 0), index(row, kColumns - 1));
        return;
    }
    qint64& entry = rows_[static_cast<size_t>(row - stored_)];
    if (entry < 0)
        held_[static_cast<size_t>(-entry - 1)].values = valuesOf(card);
    else
        entry = hold({entry, valuesOf(card)});
    emit dataChanged(index(row, 0), index(row, kColumns - 1));
}

void CardGridModel::removeCardRow(int row) {
    if (row < 0 || row >= rowCount())
        return;
    if (row < stored_) {
        const store::RowId id = storedId(row);
        beginRemoveRows({}, row, row);
        dropStoredRow(row, id);
        endRemoveRows();
        return;
    }
    beginRemoveRows({}, row, row);
    const qint64 entry = rows_[static_cast<size_t>(row - stored_)];
    if (entry < 0) {
        const auto slot = static_cast<size_t>(-entry - 1);
        held_[slot] = Held();
        freeHeld_.push_back(slot);
    }
    rows_.erase(rows_.begin() + (row - stored_));
    // Rows below moved up: the cached pages no longer match their rows.
    invalidateCache();
    endRemoveRows();
}

QString CardGridModel::cellText(int row, int column) const {
    if (column < 0 || column >= kColumns)
        return {};
    const Values* values = rowValues(row);
    return values ? (*values)[static_cast<size_t>(column)] : QString();
}

void CardGridModel::setCellText(int row, int column, const QString& text) {
    if (row < 0 || row >= rowCount() || column < 0 || column >= kColumns)
        return;
    if (row < stored_) {
        const store::RowId id = storedId(row);
        if (id == store::kNoRow)
            return;
        auto it = rewritten_.find(id);
        if (it == rewritten_.end()) {
            const Values* current = rowValues(row);
            it = rewritten_.emplace(id, current ? *current : Values()).first;
        }
        it->second[static_cast<size_t>(column)] = text;
        invalidateCache();
        emit dataChanged(index(row, column), index(row, column));
        return;
    }
    qint64& entry = rows_[static_cast<size_t>(row - stored_)];
    if (entry >= 0) {
        const Values* current = rowValues(row);
        entry = hold({entry, current ? *current : Values()});
    }
    held_[static_cast<size_t>(-entry - 1)].values[static_cast<size_t>(column)] = text;
    emit dataChanged(index(row, column), index(row, column));
}

store::RowId CardGridModel::rowId(int row) const {
    if (row < 0 || row >= rowCount())
        return store::kNoRow;
    if (row < stored_)
        return storedId(row);
    const qint64 entry = rows_[static_cast<size_t>(row - stored_)];
    return entry >= 0 ? entry : held_[static_cast<size_t>(-entry - 1)].id;
}

std::vector<store::RowId> CardGridModel::rowIds() const {
    std::vector<store::RowId> ids;
    if (paged_)
        return ids; // the listing's ids are not held: it cannot tell them all

    ids.reserve(rows_.size());
    for (const qint64 entry : rows_) {
        const store::RowId id = entry >= 0 ? entry : held_[static_cast<size_t>(-entry - 1)].id;
        if (id != store::kNoRow)
            ids.push_back(id);
    }
    return ids;
}

void CardGridModel::invalidateCache() {
    pages_.clear();
    pageOrder_.clear();
}

void CardGridModel::prefetch(int from, int to) const {
    from = std::max(0, from);
    to = std::min(to, rowCount());
    for (int p = from / pageRows_; from < to && p <= (to - 1) / pageRows_; ++p) {
        // Only rows of stored cards are read; held rows have their values.
        const int first = p * pageRows_;
        bool stored = first < stored_;
        for (int r = std::max(first, stored_); !stored && r < std::min(to, first + pageRows_); ++r)
            stored = rows_[static_cast<size_t>(r - stored_)] >= 0;
        if (stored)
            (void)page(p);
    }
}

void CardGridModel::readMissed() {
    const std::vector<int> pages = std::exchange(missed_, {});
    // Every page of one paint stays cached, however small the pages: otherwise reading the last
    // would drop the first, and each paint would read again.
    cachedPages_ = std::max(cachedPages_, pages.size() + 1);
    int first = rowCount(), last = -1;
    for (const int p : pages) {
        const int from = p * pageRows_;
        if (from >= rowCount())
            continue;
        (void)page(p);
        first = std::min(first, from);
        last = std::max(last, std::min(rowCount(), from + pageRows_) - 1);
    }
    if (first <= last)
        emit dataChanged(index(first, 0), index(last, kColumns - 1));
}

const CardGridModel::Values* CardGridModel::rowValues(int row) const {
    if (row < 0 || row >= rowCount())
        return nullptr;
    const qint64 entry = row < stored_ ? 0 : rows_[static_cast<size_t>(row - stored_)];
    if (entry < 0)
        return &held_[static_cast<size_t>(-entry - 1)].values;
    const std::vector<Values>& values = page(row / pageRows_);
    const auto offset = static_cast<size_t>(row % pageRows_);
    return offset < values.size() ? &values[offset] : nullptr;
}

const std::vector<CardGridModel::Values>& CardGridModel::page(int pageIndex) const {
    if (auto it = pages_.find(pageIndex); it != pages_.end()) {
        pageOrder_.remove(pageIndex);
        pageOrder_.push_front(pageIndex);
        return it->second;
    }
    if (store::StoreThread* thread = cards_ ? cards_->storeThread() : nullptr;
        thread && thread->busy()) {
        // Painting while the store works for a command: rows not read yet stay blank, and are
        // read once the work is done.
        if (!refreshPending_) {
            refreshPending_ = true;
            thread->afterWork(const_cast<CardGridModel*>(this), [this] {
                refreshPending_ = false;
                if (rowCount() > 0)
                    emit const_cast<CardGridModel*>(this)->dataChanged(
                        index(0, 0), index(rowCount() - 1, columnCount() - 1));
            });
        }
        static const std::vector<Values> blank;
        return blank;
    }
    if (painting_ && cards_) {
        if (missed_.empty())
            QMetaObject::invokeMethod(const_cast<CardGridModel*>(this), &CardGridModel::readMissed,
                                      Qt::QueuedConnection);
        if (std::find(missed_.begin(), missed_.end(), pageIndex) == missed_.end())
            missed_.push_back(pageIndex);
        static const std::vector<Values> blank;
        return blank;
    }
    while (pages_.size() >= cachedPages_ && !pageOrder_.empty()) {
        pages_.erase(pageOrder_.back());
        pageOrder_.pop_back();
    }

    const int first = pageIndex * pageRows_;
    const int last = std::min(rowCount(), first + pageRows_);
    // The ids of the listed rows of this page, and a page's worth either way: a page down or up
    // finds its ids known.
    if (first < stored_)
        ensureIds(first - pageRows_, std::min(last, stored_) + pageRows_);
    const auto entryOf = [&](int r) -> qint64 {
        if (r >= stored_)
            return rows_[static_cast<size_t>(r - stored_)];
        const int at = r - windowStart_;
        if (at < 0 || at >= static_cast<int>(windowIds_.size()))
            return store::kNoRow; // could not be read: an empty row
        return windowIds_[static_cast<size_t>(at)];
    };
    std::vector<store::RowId> ids;
    for (int r = first; r < last; ++r) {
        const qint64 entry = entryOf(r);
        if (entry >= 0 && !(r < stored_ && rewritten_.contains(entry)))
            ids.push_back(entry);
    }
    std::vector<std::pair<store::RowId, store::Card>> cards;
    if (cards_ && !ids.empty()) {
        if (const store::Status status = cards_->readCards(ids, &cards); !status)
            reportError(status.message());
    }
    std::unordered_map<store::RowId, const store::Card*> byId;
    byId.reserve(cards.size());
    for (const auto& [id, card] : cards)
        byId.emplace(id, &card);

    std::vector<Values> values(static_cast<size_t>(std::max(0, last - first)));
    for (int r = first; r < last; ++r) {
        const qint64 entry = entryOf(r);
        if (entry < 0)
            continue;
        Values& v = values[static_cast<size_t>(r - first)];
        if (r < stored_) {
            if (const auto it = rewritten_.find(entry); it != rewritten_.end()) {
                v = it->second;
                continue;
            }
        }
        const auto it = byId.find(entry);
        if (it == byId.end())
            continue; // no longer stored: an empty row
        for (int f = 0; f < store::kGridFieldCount; ++f)
            v[static_cast<size_t>(f + 1)] = (*it->second)[static_cast<store::Field>(f)];
    }
    pageOrder_.push_front(pageIndex);
    return pages_.emplace(pageIndex, std::move(values)).first->second;
}

void CardGridModel::reportError(const QString& message) const {
    if (errorPending_)
        return;
    // Painting must not open a box: report once the current event is done.
    errorPending_ = true;
    QMetaObject::invokeMethod(
        const_cast<CardGridModel*>(this),
        [this, message] {
            errorPending_ = false;
            emit const_cast<CardGridModel*>(this)->storeError(message);
        },
        Qt::QueuedConnection);
}

void CardGridModel::showStored(qint64 count, store::RowId lastId, qint64 version) {
    keepFound();
    // The headers stay; every row goes.
    beginResetModel();
    rows_.clear();
    rows_.shrink_to_fit();
    held_.clear();
    freeHeld_.clear();
    invalidateCache();
    windowStart_ = 0;
    windowIds_.clear();
    anchors_.clear();
    rewritten_.clear();
    removed_.clear();
    sampled_ = false;
    paged_ = cards_ && count > 0 && lastId != store::kNoRow;
    stored_ =
        paged_ ? static_cast<int>(std::min<qint64>(count, std::numeric_limits<int>::max() - 1)) : 0;
    lastId_ = paged_ ? lastId : store::kNoRow;
    version_ = paged_ ? version : -1;
    listedCount_ = stored_;
    if (paged_ && version >= 0 && found_.version == version && found_.count == stored_ &&
        found_.lastId == lastId_) {
        anchors_ = found_.anchors;
        sampled_ = true;
    }
    ++listing_;
    endResetModel();
    if (paged_ && !sampled_)
        QTimer::singleShot(kSampleAheadMs, this, &CardGridModel::sampleAhead);
}

store::RowId CardGridModel::storedId(int row) const {
    if (row < 0 || row >= stored_)
        return store::kNoRow;
    if (!ensureIds(row - pageRows_, row + pageRows_))
        return store::kNoRow;
    const int at = row - windowStart_;
    return at >= 0 && at < static_cast<int>(windowIds_.size()) ? windowIds_[static_cast<size_t>(at)]
                                                               : store::kNoRow;
}

bool CardGridModel::ensureIds(int from, int to) const {
    from = std::max(from, 0);
    to = std::min(to, stored_);
    if (from >= to || !cards_)
        return true;
    const int windowEnd = windowStart_ + static_cast<int>(windowIds_.size());
    if (!windowIds_.empty() && from >= windowStart_ && to <= windowEnd)
        return true;
    const int nearRows = kNearPages * pageRows_;
    const int windowMax = kWindowPages * pageRows_;

    std::vector<store::RowId> ids;
    store::Status status;
    if (!windowIds_.empty() && from <= windowEnd + nearRows && to >= windowStart_ - nearRows) {
        // Near the known ids: the cards right after the last known, or right before the first.
        if (to > windowEnd) {
            status = cards_->idsFrom(windowIds_.back(), false, lastId_, 0, to - windowEnd, &ids);
            if (!status) {
                reportError(status.message());
                return false;
            }
            windowIds_.insert(windowIds_.end(), ids.begin(), ids.end());
        }
        if (from < windowStart_) {
            status =
                cards_->idsFrom(windowIds_.front(), true, lastId_, 0, windowStart_ - from, &ids);
            if (!status) {
                reportError(status.message());
                return false;
            }
            windowIds_.insert(windowIds_.begin(), ids.rbegin(), ids.rend());
            windowStart_ -= static_cast<int>(ids.size());
        }
        // Keep at most windowMax ids, those around the rows asked for.
        const int size = static_cast<int>(windowIds_.size());
        if (size > windowMax) {
            anchors_[windowStart_] = windowIds_.front();
            const int keepFrom = std::clamp(from - (windowMax - (to - from)) / 2, windowStart_,
                                            windowStart_ + size - windowMax);
            const int dropFront = keepFrom - windowStart_;
            windowIds_.erase(windowIds_.begin() + dropFront + windowMax, windowIds_.end());
            windowIds_.erase(windowIds_.begin(), windowIds_.begin() + dropFront);
            windowStart_ = keepFrom;
        }
        return true;
    }

    // Far from the known ids: from the nearest known row, the listing's two ends included.
    if (!windowIds_.empty())
        anchors_[windowStart_] = windowIds_.front();
    if (anchors_.size() > kMaxAnchors)
        anchors_.erase(std::next(anchors_.begin(), static_cast<long>(anchors_.size() / 2)));
    int anchorRow = -1;
    store::RowId anchorId = kBeforeFirst;
    bool backwards = false;
    qint64 distance = from + 1;
    const auto consider = [&](int row, store::RowId id) {
        if (row < from && from - row < distance) {
            anchorRow = row, anchorId = id, backwards = false, distance = from - row;
        } else if (row >= to && row - to + 1 < distance) {
            anchorRow = row, anchorId = id, backwards = true, distance = row - to + 1;
        }
    };
    const auto nearest = [&] {
        anchorRow = -1, anchorId = kBeforeFirst, backwards = false, distance = from + 1;
        consider(stored_, lastId_ + 1);
        if (auto after = anchors_.lower_bound(to); after != anchors_.end())
            consider(after->first, after->second);
        if (auto before = anchors_.lower_bound(from); before != anchors_.begin()) {
            --before;
            consider(before->first, before->second);
        }
    };
    nearest();
    if (!sampled_ && distance > 4 * qint64(sampleStride())) {
        sampleAnchors();
        nearest();
    }
    if (backwards) {
        status = cards_->idsFrom(anchorId, true, lastId_, anchorRow - to, to - from, &ids);
        std::reverse(ids.begin(), ids.end());
    } else {
        status = cards_->idsFrom(anchorId, false, lastId_, from - anchorRow - 1, to - from, &ids);
    }
    if (!status) {
        reportError(status.message());
        return false;
    }
    windowIds_ = std::move(ids);
    windowStart_ = backwards ? to - static_cast<int>(windowIds_.size()) : from;
    return true;
}

int CardGridModel::sampleStride() const {
    // At most about a thousand anchors from the sample, and never fewer than 16 pages apart.
    return std::max(16 * pageRows_, stored_ / 1024);
}

void CardGridModel::sampleAnchors() const {
    sampled_ = true;
    std::vector<store::RowId> ids;
    const int stride = sampleStride();
    if (const store::Status status = cards_->idsEvery(stride, lastId_, &ids); !status) {
        reportError(status.message());
        return;
    }
    addSample(ids, stride);
}

void CardGridModel::addSample(const std::vector<store::RowId>& ids, int stride) const {
    for (size_t k = 0; k < ids.size(); ++k) {
        const qint64 row = qint64(k + 1) * stride - 1;
        if (row < stored_)
            anchors_.emplace(static_cast<int>(row), ids[k]);
    }
}

struct CardGridModel::Sample {
    int stride = 0;
    store::RowId upTo = store::kNoRow;
    qint64 version = -1;
    quint64 listing = 0;
    store::RowId span = 0;             // ids per piece; 0: one read
    store::RowId after = kBeforeFirst; // the pieces read cover the ids up to this one
    qint64 before = 0;                 // the rows of the pieces read
    std::vector<store::RowId> ids;
    bool done = false;
    bool failed = false;
};

void CardGridModel::sampleAhead() {
    if (!paged_ || sampled_ || sampling_ || !cards_ || !cards_->storeThread() || version_ < 0 ||
        stored_ <= 4 * sampleStride())
        return;
    auto sample = std::make_shared<Sample>();
    sample->stride = sampleStride();
    sample->upTo = lastId_;
    sample->version = version_;
    sample->listing = listing_;
    sample->span = samplePieceIds_ >= 0 ? samplePieceIds_ : cards_->samplePieceIds();
    sampling_ = true;
    samplePiece(sample);
}

void CardGridModel::samplePiece(const std::shared_ptr<Sample>& sample) {
    // A jump took its own sample meanwhile, or the grid lists anew: a jump samples when needed.
    if (sampled_ || sample->listing != listing_ || !cards_) {
        sampling_ = false;
        return;
    }
    store::StoreThread* thread = cards_->storeThread();
    if (thread->busy()) {
        thread->afterWork(this, [this, sample] { samplePiece(sample); });
        return;
    }
    const store::CardStore* cards = cards_;
    thread->post(
        [cards, sample] {
            Sample& s = *sample;
            bool read = false;
            if (s.span <= 0) {
                read = cards->idsEvery(s.stride, s.upTo, &s.ids).ok();
                s.done = true;
            } else {
                // Never past the listing's last id: a card added since is not numbered.
                const store::RowId to = s.after < 0                 ? std::min(s.span, s.upTo)
                                        : s.upTo - s.after > s.span ? s.after + s.span
                                                                    : s.upTo;
                qint64 rows = 0;
                read = cards->idsEveryPiece(s.stride, s.after, to, s.before, &s.ids, &rows).ok();
                s.before += rows;
                s.after = to;
                s.done = to >= s.upTo;
            }
            // Taken with no write since the listing, or not at all: the rows it numbers are
            // those the grid lists.
            store::CardStore::Changes log;
            s.failed =
                !read ||
                (s.done && !(cards->changesSince(-1, false, &log) && log.position == s.version));
        },
        this,
        [this, sample] {
            if (!sample->failed && !sample->done) {
                samplePiece(sample);
                return;
            }
            sampling_ = false;
            if (sample->failed || sampled_ || sample->listing != listing_ ||
                sample->version != version_ || stored_ != listedCount_ || !rows_.empty() ||
                !removed_.empty())
                return;
            sampled_ = true;
            addSample(sample->ids, sample->stride);
        });
}

int CardGridModel::storedRow(store::RowId id) const {
    if (!paged_ || id == store::kNoRow || id > lastId_ || removed_.contains(id) || !cards_)
        return -1;
    if (!windowIds_.empty() && id >= windowIds_.front() && id <= windowIds_.back()) {
        const auto at = std::lower_bound(windowIds_.begin(), windowIds_.end(), id);
        return at != windowIds_.end() && *at == id
                   ? windowStart_ + static_cast<int>(at - windowIds_.begin())
                   : -1;
    }
    // Counted from the known row nearest by id, the listing's start (ids begin near 0) and end
    // included: the cost is the cards in between.
    int anchorRow = -1;
    store::RowId anchorId = kBeforeFirst;
    store::RowId bestGap = id;
    const auto consider = [&](int row, store::RowId known) {
        const store::RowId gap = known > id ? known - id : id - known;
        if (gap < bestGap)
            anchorRow = row, anchorId = known, bestGap = gap;
    };
    const auto nearest = [&] {
        anchorRow = -1, anchorId = kBeforeFirst, bestGap = id;
        consider(stored_, lastId_ + 1);
        if (!windowIds_.empty()) {
            consider(windowStart_, windowIds_.front());
            consider(windowStart_ + static_cast<int>(windowIds_.size()) - 1, windowIds_.back());
        }
        for (const auto& [row, known] : anchors_)
            consider(row, known);
    };
    nearest();
    if (!sampled_ && bestGap > 4 * qint64(sampleStride())) {
        sampleAnchors();
        nearest();
    }
    qint64 between = 0;
    store::Status status = anchorId < id ? cards_->countBetween(anchorId, id, &between)
                                         : cards_->countBetween(id, anchorId, &between);
    if (!status) {
        reportError(status.message());
        return -1;
    }
    const qint64 row = anchorId < id ? anchorRow + 1 + between : anchorRow - 1 - between;
    if (row < 0 || row >= stored_)
        return -1;
    // Read the ids there: the row is the card's only when the card is stored.
    if (!ensureIds(static_cast<int>(row) - pageRows_, static_cast<int>(row) + pageRows_))
        return -1;
    const int at = static_cast<int>(row) - windowStart_;
    return at >= 0 && at < static_cast<int>(windowIds_.size()) &&
                   windowIds_[static_cast<size_t>(at)] == id
               ? static_cast<int>(row)
               : -1;
}

qint64 CardGridModel::storedRows() const {
    qint64 n = stored_;
    for (const qint64 entry : rows_) {
        if ((entry >= 0 ? entry : held_[static_cast<size_t>(-entry - 1)].id) != store::kNoRow)
            ++n;
    }
    return n;
}

bool CardGridModel::storedWritten(store::RowId id) {
    if (!paged_)
        return false;
    if (id > lastId_) {
        if (!rows_.empty())
            return false; // held rows follow the listing: the card cannot join its end
        const int row = stored_;
        beginInsertRows({}, row, row);
        if (windowIds_.empty())
            windowStart_ = row;
        if (windowStart_ + static_cast<int>(windowIds_.size()) == row)
            windowIds_.push_back(id);
        ++stored_;
        lastId_ = id;
        invalidateCache();
        endInsertRows();
        return true;
    }
    if (removed_.contains(id))
        return false; // its row was removed: stored again at its old id
    rewritten_.erase(id);
    invalidateCache();
    if (const int at = static_cast<int>(std::lower_bound(windowIds_.begin(), windowIds_.end(), id) -
                                        windowIds_.begin());
        at < static_cast<int>(windowIds_.size()) && windowIds_[static_cast<size_t>(at)] == id) {
        const int row = windowStart_ + at;
        emit dataChanged(index(row, 0), index(row, kColumns - 1));
    }
    return true;
}

void CardGridModel::storedGone(store::RowId id) {
    if (!paged_ || id == store::kNoRow)
        return;
    if (id > lastId_ || removed_.contains(id)) {
        for (size_t i = 0; i < rows_.size(); ++i) {
            const qint64 entry = rows_[i];
            if ((entry >= 0 ? entry : held_[static_cast<size_t>(-entry - 1)].id) == id) {
                removeCardRow(stored_ + static_cast<int>(i));
                return;
            }
        }
        return;
    }
    // The card is no longer stored, so its row is where it stood: in the ids known, or after
    // the cards counted from the nearest known row.
    int row = -1;
    const auto at = std::lower_bound(windowIds_.begin(), windowIds_.end(), id);
    if (at != windowIds_.end() && *at == id) {
        row = windowStart_ + static_cast<int>(at - windowIds_.begin());
    } else {
        int anchorRow = -1;
        store::RowId anchorId = kBeforeFirst;
        for (const auto& [r, known] : anchors_) {
            if (known < id)
                anchorRow = r, anchorId = known;
        }
        qint64 between = 0;
        if (const store::Status status = cards_->countBetween(anchorId, id, &between); !status) {
            reportError(status.message());
            return;
        }
        row = static_cast<int>(anchorRow + 1 + between);
        // The ids known were read without the card: where they stand is no longer sure.
        windowIds_.clear();
    }
    if (row < 0 || row >= stored_)
        return;
    beginRemoveRows({}, row, row);
    dropStoredRow(row, id);
    endRemoveRows();
}

void CardGridModel::dropStoredRow(int row, store::RowId id) {
    const int at = row - windowStart_;
    if (at >= 0 && at < static_cast<int>(windowIds_.size()) &&
        windowIds_[static_cast<size_t>(at)] == id)
        windowIds_.erase(windowIds_.begin() + at);
    else if (row < windowStart_)
        --windowStart_;
    else if (at >= 0 && at < static_cast<int>(windowIds_.size()))
        windowIds_.clear();
    std::map<int, store::RowId> moved;
    for (const auto& [r, known] : anchors_) {
        if (r < row)
            moved.emplace(r, known);
        else if (r > row)
            moved.emplace(r - 1, known);
    }
    anchors_ = std::move(moved);
    --stored_;
    if (id != store::kNoRow) {
        removed_.insert(id);
        rewritten_.erase(id);
    }
    invalidateCache();
}

} // namespace browse
