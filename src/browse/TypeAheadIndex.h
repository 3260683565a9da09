#pragma once

#include "CardFields.h"
#include "CardStore.h"
#include "IdRuns.h"
#include "Status.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class QObject;

namespace browse {

// Letter case folded one UTF-16 unit at a time (simple case folding), so a folded text keeps the
// length of the original: "MUÑOZ" and "muñoz" fold alike, and "begins with" keeps its meaning.
QString foldCase(QStringView text);
// Compares two texts as their folded forms would compare; 0 when they differ only in case.
int foldCompare(QStringView a, QStringView b);
// True when `text` begins with `prefix`, letters compared without regard to case.
bool foldStartsWith(QStringView text, QStringView prefix);

namespace detail {

inline constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// A number per card, one to four bytes wide as the largest number needs: a field with six
// distinct places costs a byte a card, one with a million telephones three. kNone is kept as the
// widest value of the width.
class VariantColumn {
    static_assert(std::endian::native == std::endian::little, "numbers are kept little-endian");

public:
    size_t size() const { return size_; }
    std::uint32_t operator[](size_t i) const {
        std::uint32_t x = 0;
        std::memcpy(&x, &bytes_[i * size_t(width_)], size_t(width_)); // little-endian
        return x == limit(width_) ? kNone : x;
    }
    void set(size_t i, std::uint32_t v) {
        fit(v);
        put(i, v);
    }
    void push_back(std::uint32_t v) {
        fit(v);
        bytes_.resize((size_ + 1) * size_t(width_));
        put(size_++, v);
    }
    void insert(size_t i, std::uint32_t v) {
        fit(v);
        bytes_.insert(bytes_.begin() + std::ptrdiff_t(i * size_t(width_)), size_t(width_), 0);
        ++size_;
        put(i, v);
    }
    void reserve(size_t n) { bytes_.reserve(n * size_t(width_)); }

private:
    static std::uint32_t limit(int width) {
        return width == 4 ? kNone : (std::uint32_t(1) << (8 * width)) - 1;
    }
    void fit(std::uint32_t v) {
        if (v == kNone || v < limit(width_))
            return;
        VariantColumn wider;
        wider.width_ = width_ + 1;
        while (v >= limit(wider.width_))
            ++wider.width_;
        wider.bytes_.reserve(std::max(bytes_.capacity() / size_t(width_), size_) *
                             size_t(wider.width_));
        for (size_t i = 0; i < size_; ++i)
            wider.push_back((*this)[i]);
        *this = std::move(wider);
    }
    void put(size_t i, std::uint32_t v) {
        const std::uint32_t x = v == kNone ? limit(width_) : v;
        std::memcpy(&bytes_[i * size_t(width_)], &x, size_t(width_));
    }

    std::vector<std::uint8_t> bytes_;
    size_t size_ = 0;
    int width_ = 1;
};

// Every variant's UTF-8, one after another, each behind its length (one byte below 128 bytes).
// Where the start of each variant cost 4 bytes (10 MB for the 2.5 million variants of a million
// cards), the start of every 16th is kept, and a variant is found by stepping over at most 15
// lengths from there.
class TextList {
public:
    std::uint32_t size() const { return count_; }
    size_t bytes() const { return bytes_.size(); }
    std::string_view operator[](std::uint32_t v) const {
        const char* p = bytes_.data() + samples_[v / kEvery];
        size_t length = lengthAt(&p);
        for (std::uint32_t k = v % kEvery; k > 0; --k) {
            p += length;
            length = lengthAt(&p);
        }
        return std::string_view(p, length);
    }
    void push_back(std::string_view text) {
        if (count_ % kEvery == 0)
            samples_.push_back(bytes_.size());
        for (size_t n = text.size();; n >>= 7) {
            const bool more = n >= 0x80;
            bytes_.push_back(char((n & 0x7F) | (more ? 0x80 : 0)));
            if (!more)
                break;
        }
        bytes_.append(text);
        ++count_;
    }
    void reserve(size_t bytes, size_t count) {
        bytes_.reserve(bytes);
        samples_.reserve(count / kEvery + 1);
    }
    void clear() { *this = TextList(); }

private:
    static constexpr std::uint32_t kEvery = 16;
    static size_t lengthAt(const char** p) {
        size_t n = 0;
        for (int shift = 0;; shift += 7) {
            const auto b = std::uint8_t(*(*p)++);
            n |= size_t(b & 0x7F) << shift;
            if (b < 0x80)
                return n;
        }
    }

    std::string bytes_;
    std::vector<size_t> samples_; // where variant 16k begins in bytes_
    std::uint32_t count_ = 0;
};

// The values one field offers. Each distinct stored text (a variant) is kept once, as UTF-8;
// variants that differ only in letter case form one entry (a group), shown in the text of the
// first card in stored order that carries any of them.
struct FieldData {
    struct Group {
        std::uint32_t first; // position of the group's first card; kNone once it has none
    };
    TextList texts; // variant v's text is texts[v]
    // A group is known by one of its variants, and has its slot in `groups` under that number.
    // Most fields have no two variants that differ only in case: then `groupOf` stays empty and
    // each variant is its own group.
    std::vector<std::uint32_t> groupOf; // per variant, when not empty
    std::vector<Group> groups;          // per variant; used for the variant a group is known by
    std::vector<std::uint32_t> order;   // live groups, by folded text
    VariantColumn valueAt;              // per card position: its variant, or kNone
    std::uint32_t longest = kNone;      // the variant with the most bytes
    std::uint64_t generation = 0;       // counts the changes, so that a stale view knows it

    std::string_view text(std::uint32_t v) const { return texts[v]; }
    std::uint32_t shown(std::uint32_t g) const { return valueAt[groups[g].first]; }
    std::uint32_t group(std::uint32_t v) const { return groupOf.empty() ? v : groupOf[v]; }
    void setGroup(std::uint32_t v, std::uint32_t g) {
        if (groupOf.empty() && g == v)
            return;
        while (groupOf.size() < texts.size())
            groupOf.push_back(std::uint32_t(groupOf.size()));
        groupOf[v] = g;
    }
};

} // namespace detail

// The entries of one type-ahead list, in stored order, with their number known exactly at once.
// A list of many entries is computed as it is read: entry i costs a walk over the cards up to
// the first card of that entry, so showing the first screenful of 665,000 telephones reads a few
// dozen cards. A view taken before the field changed keeps the entries it has read; the rest
// read as empty.
class TypeAheadMatches {
public:
    qsizetype size() const { return count_; }
    bool isEmpty() const { return count_ == 0; }
    QString at(qsizetype i) const;
    QStringList toList() const;
    // The field's longest stored value, for sizing a list too long to measure entry by entry.
    QString longestOfField() const;
    void clear();

private:
    friend class TypeAheadIndex;
    bool fill(qsizetype upTo) const;

    std::shared_ptr<const detail::FieldData> data_;
    // The entries as the store answered them, when the store is asked (see TypeAheadIndex).
    std::shared_ptr<const QStringList> listed_;
    std::uint64_t generation_ = 0;
    QString typed_;
    qsizetype count_ = 0;
    mutable std::vector<std::uint32_t> entries_; // variants shown, found so far
    mutable std::uint32_t walked_ = 0;           // card positions looked at so far
};

// How the background read of the type-ahead index goes: `chunk` cards are read at a time, and
// `afterChunk`, when set, runs on the reading thread after each chunk (tests use it to write
// while the read is half-way).
struct TypeAheadBackground {
    int chunk = 8192;
    std::function<void()> afterChunk;
};

// The stored values offered while typing into the ten type-ahead fields. For each field it
// answers "every distinct stored value that begins with the typed text, letters compared without
// regard to case, listed once in the letter case of the first card met, in stored order" at a
// cost that grows with the entries shown, not with the cards stored.
//
// buildInBackground() reads the ten fields on a thread of its own over a read-only connection,
// while the window stays usable; otherwise a field is read on the calling thread the first time
// it is asked for. The editing commands keep the index in step through cardAdded, cardChanged and
// cardRemoved, called after each successful write to the store; changes that arrive while the
// background read runs are kept and applied to its result. Writes by other programs are not seen
// until refresh() or reset().
//
// A store that answers the values itself (a server, from an index per field) is asked at each
// keystroke instead, and nothing is held: its answer lists at most kAskedEntries entries (the
// first in byte order of their lower case when more match), and it sees every workstation's
// writes at once.
class TypeAheadIndex {
public:
    explicit TypeAheadIndex(const store::CardStore* store);
    ~TypeAheadIndex();
    TypeAheadIndex(const TypeAheadIndex&) = delete;
    TypeAheadIndex& operator=(const TypeAheadIndex&) = delete;

    // The ten fields that offer their stored values, in the order of the window's fields.
    static const std::array<store::Field, 10>& fields();
    static constexpr int kAskedEntries = 200;
    static bool offers(store::Field field);

    // Starts reading the ten fields off the calling thread, which must run a Qt event loop: when
    // the read is done the index takes it over there and calls `ready`. Until then matches()
    // waits for it at most a moment and answers with no entries (see pending()).
    using Background = TypeAheadBackground;
    void buildInBackground(std::function<void()> ready = {}, Background how = {});
    // True while the background read runs and the index has not taken it over.
    bool pending() const { return worker_ != nullptr; }
    // Waits up to `ms` for the background read and takes it over; true when nothing is pending.
    bool waitForBackground(int ms);

    // The values of `field` that begin with `typed` (untrimmed; spaces count). A value that is
    // empty, Null or shorter than `typed` never matches.
    store::Status matches(store::Field field, QStringView typed, TypeAheadMatches* values);
    store::Status matches(store::Field field, QStringView typed, QStringList* values);

    // Builds the index of a field now instead of at its first use.
    store::Status build(store::Field field);
    bool isBuilt(store::Field field) const;

    void cardAdded(store::RowId id, const store::Card& card);
    void cardChanged(store::RowId id, const store::Card& card);
    void cardRemoved(store::RowId id);
    // Forgets everything; each field is read from the store again at its next use, or in the
    // background again when it was read there.
    void reset();
    // Another program wrote to the store. The fields are read again in the background while the
    // values read before keep answering, so that the lists of a user typing do not go blank; the
    // new read takes over when it is done. An index read on the calling thread, or one of a
    // registry too large to hold twice, is reset().
    void refresh();

private:
    struct Built; // what the background read hands over
    using FieldPtr = std::shared_ptr<detail::FieldData>;

    void runBackground(store::Registry registry, qint64 expected, QObject* receiver);
    // Takes the finished background read over and applies the changes kept meanwhile; calls the
    // ready callback when `notify`. False when there was nothing to take over.
    bool adopt(bool notify);
    void cancel(); // stops and forgets a background read
    void startWorker();
    std::uint32_t slotOf(store::RowId id) const; // position of id in ids_, or kNone
    std::uint32_t slotFor(store::RowId id);      // position of id, making one when new
    void put(detail::FieldData& fd, std::uint32_t pos, QStringView value);
    void take(detail::FieldData& fd, std::uint32_t pos);
    bool anyBuilt() const;

    const store::CardStore* store_;
    // Ids of the cards in stored order; a removed card keeps its slot with no value in any field.
    IdRuns ids_;
    std::array<FieldPtr, store::kFieldCount> index_;

    // The background read: the worker thread, its result and the changes made meanwhile.
    struct Change {
        store::CardStore::Change kind;
        store::RowId id;
        store::Card card;
    };
    std::unique_ptr<std::thread> worker_;
    std::unique_ptr<QObject> receiver_; // where the worker says it is done, on this thread
    std::function<void()> ready_;
    bool background_ = false; // reset() starts the background read again
    bool serving_ = false;    // the background read is a refresh: the index read before answers
    Background how_;
    std::atomic<bool> stop_{false};
    std::mutex doneMutex_;
    std::condition_variable doneSignal_;
    std::unique_ptr<Built> done_; // guarded by doneMutex_
    std::vector<Change> kept_;
};

} // namespace browse
