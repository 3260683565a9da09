#include "TypeAheadIndex.h"

#include "ChunkReader.h"

#include <QChar>
#include <QObject>

#include <algorithm>
#include <bit>
#include <chrono>
#include <limits>
#include <numeric>
#include <string_view>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace browse {

using detail::FieldData;
using detail::kNone;

namespace {

char16_t foldUnit(char16_t c) {
    if (c < 0x80) // the common case, without the table lookup
        return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
    const char32_t f = QChar::toCaseFolded(char32_t(c));
    return f <= 0xFFFF ? char16_t(f) : c;
}

// The UTF-16 units of a UTF-8 text, one at a time, so that stored bytes compare with typed text
// without being converted first. A byte that starts no valid sequence reads as U+FFFD.
class Units {
public:
    explicit Units(std::string_view s)
        : p_(reinterpret_cast<const unsigned char*>(s.data())), end_(p_ + s.size()) {}

    bool next(char16_t* unit) {
        if (low_) {
            *unit = low_;
            low_ = 0;
            return true;
        }
        if (p_ == end_)
            return false;
        const unsigned char c = *p_;
        if (c < 0x80) {
            ++p_;
            *unit = c;
            return true;
        }
        int more;
        char32_t cp;
        if ((c & 0xE0) == 0xC0) {
            more = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            more = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            more = 3;
            cp = c & 0x07;
        } else {
            return invalid(unit);
        }
        if (end_ - p_ <= more)
            return invalid(unit);
        for (int i = 1; i <= more; ++i) {
            if ((p_[i] & 0xC0) != 0x80)
                return invalid(unit);
            cp = (cp << 6) | (p_[i] & 0x3F);
        }
        p_ += more + 1;
        if (cp >= 0x10000) {
            *unit = QChar::highSurrogate(cp);
            low_ = QChar::lowSurrogate(cp);
        } else {
            *unit = char16_t(cp);
        }
        return true;
    }

private:
    bool invalid(char16_t* unit) {
        ++p_;
        *unit = 0xFFFD;
        return true;
    }
    const unsigned char* p_;
    const unsigned char* end_;
    char16_t low_ = 0;
};

// foldCompare over a stored UTF-8 text and a typed one.
int foldCompare8(std::string_view a, QStringView b) {
    Units ua(a);
    const char16_t* pb = b.utf16();
    for (qsizetype i = 0;; ++i) {
        char16_t x;
        const bool hasA = ua.next(&x);
        const bool hasB = i < b.size();
        if (!hasA || !hasB)
            return hasA == hasB ? 0 : (hasA ? 1 : -1);
        if (x != pb[i]) {
            const char16_t fa = foldUnit(x);
            const char16_t fb = foldUnit(pb[i]);
            if (fa != fb)
                return fa < fb ? -1 : 1;
        }
    }
}

int foldCompare8(std::string_view a, std::string_view b) {
    // Equal bytes are equal units: skip them, back to the start of the character they end in
    // (a byte that is no continuation byte always starts one), and compare from there.
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i])
        ++i;
    const auto continues = [](std::string_view s, size_t at) {
        return at < s.size() && (std::uint8_t(s[at]) & 0xC0) == 0x80;
    };
    while (i > 0 && (continues(a, i) || continues(b, i)))
        --i;
    Units ua(a.substr(i));
    Units ub(b.substr(i));
    for (;;) {
        char16_t x, y;
        const bool hasA = ua.next(&x);
        const bool hasB = ub.next(&y);
        if (!hasA || !hasB)
            return hasA == hasB ? 0 : (hasA ? 1 : -1);
        if (x != y) {
            const char16_t fa = foldUnit(x);
            const char16_t fb = foldUnit(y);
            if (fa != fb)
                return fa < fb ? -1 : 1;
        }
    }
}

bool foldStartsWith8(std::string_view text, QStringView prefix) {
    Units ut(text);
    const char16_t* pp = prefix.utf16();
    for (qsizetype i = 0; i < prefix.size(); ++i) {
        char16_t x;
        if (!ut.next(&x))
            return false;
        if (x != pp[i] && foldUnit(x) != foldUnit(pp[i]))
            return false;
    }
    return true;
}

std::string_view viewOf(const QByteArray& bytes) {
    return std::string_view(bytes.constData(), size_t(bytes.size()));
}

// Room for `n` cards and the cards added after: a vector of a million ids that had to grow on
// the first save would copy itself and double, a pause and megabytes at once. Room never written
// costs no memory.
size_t withRoom(qint64 n) {
    const size_t cards = size_t(std::max<qint64>(n, 0));
    return cards + cards / 8 + 1024;
}

// Reads one field card after card into a FieldData: each distinct text stored once, found again
// through a hash table that lives only while reading.
class FieldBuilder {
public:
    FieldBuilder(FieldData& fd, qint64 expected) : fd_(&fd) {
        fd.texts.clear();
        fd.valueAt.reserve(withRoom(expected));
        table_.assign(1024, 0);
    }

    // The next card's value; no bytes for an empty or Null one.
    void add(QByteArrayView bytes) {
        FieldData& fd = *fd_;
        if (bytes.isEmpty()) {
            fd.valueAt.push_back(kNone);
            return;
        }
        const std::string_view s(bytes.data(), size_t(bytes.size()));
        const size_t h = std::hash<std::string_view>{}(s);
        const size_t mask = table_.size() - 1;
        for (size_t i = h & mask;; i = (i + 1) & mask) {
            const std::uint32_t e = table_[i];
            if (e == 0) {
                const std::uint32_t v = fd.texts.size();
                fd.texts.push_back(s);
                fd.valueAt.push_back(v);
                if (tagged_ && v + 1 > kIdMask) {
                    rehash(table_.size(), false); // too many values for a tag beside the number
                    place(v, h);
                } else {
                    table_[i] = entry(v, h, tagged_);
                }
                if (++used_ * 10 > table_.size() * 7)
                    rehash(table_.size() * 2, tagged_);
                return;
            }
            // The tag spares reading the text of almost every other value met on the way.
            if ((!tagged_ || (e >> kIdBits) == tagOf(h)) && fd.text(idOf(e)) == s) {
                fd.valueAt.push_back(idOf(e));
                return;
            }
        }
    }

    // The table is needed only while reading. (Assigning {} would keep its room: a vector keeps
    // its capacity when given an empty list.)
    void dropTable() { table_ = std::vector<std::uint32_t>(); }

    // Room for the values of all `expected` cards, judged from those read so far, so that the
    // texts are not copied each time they outgrow their room. Room never written costs no memory.
    void plan(qint64 read, qint64 expected) {
        FieldData& fd = *fd_;
        if (read <= 0 || expected <= read)
            return;
        const double scale = 1.25 * double(expected) / double(read);
        fd.texts.reserve(size_t(double(fd.texts.bytes()) * scale) + 64,
                         size_t(double(fd.texts.size()) * scale) + 16);
    }

    void finish() {
        dropTable();
        FieldData& fd = *fd_;
        const std::uint32_t variants = fd.texts.size();
        // Sorting compares a key first: eight letters, folded, after the bytes every value of
        // the field begins with ("+56 9 " of every mobile number). Keys that differ order their
        // texts as the whole texts would; equal keys, or a key cut short by a letter outside
        // ASCII, leave it to the whole texts.
        size_t common = variants > 0 ? fd.text(0).size() : 0;
        for (std::uint32_t v = 1; v < variants && common > 0; ++v) {
            const std::string_view a = fd.text(0).substr(0, common);
            const std::string_view t = fd.text(v);
            common =
                size_t(std::mismatch(a.begin(), a.end(), t.begin(), t.end()).first - a.begin());
        }
        while (common > 0 && common < fd.text(0).size() &&
               (std::uint8_t(fd.text(0)[common]) & 0xC0) == 0x80)
            --common;
        // A key per variant, its top bit set when the key cannot order it (kInexact); the
        // variants are sorted by number through the keys, so the read holds 8 bytes a variant
        // beside the order it builds, not 16.
        constexpr std::uint64_t kInexact = std::uint64_t(1) << 63;
        std::vector<std::uint64_t> keys(variants);
        for (std::uint32_t v = 0; v < variants; ++v) {
            const std::string_view t = fd.text(v);
            std::uint64_t key = 0;
            for (size_t j = 0; j < 8; ++j) {
                const size_t at = common + j;
                std::uint8_t c = at < t.size() ? std::uint8_t(t[at]) : 0;
                if (c >= 0x80) {
                    key = kInexact;
                    break;
                }
                if (c >= 'A' && c <= 'Z')
                    c = std::uint8_t(c + 32);
                key |= std::uint64_t(c) << (56 - 8 * j);
            }
            keys[v] = key;
        }
        const auto before = [&](std::uint32_t a, std::uint32_t b) {
            const std::uint64_t ka = keys[a];
            const std::uint64_t kb = keys[b];
            if (((ka | kb) & kInexact) == 0 && ka != kb)
                return ka < kb;
            return foldCompare8(fd.text(a), fd.text(b)) < 0;
        };
        std::vector<std::uint32_t> sorted;
        sorted.reserve(withRoom(variants));
        sorted.resize(variants);
        std::iota(sorted.begin(), sorted.end(), 0u);
        std::sort(sorted.begin(), sorted.end(), before);
        // Each run of variants that differ only in case is one group, known by its first
        // variant in the sorted run; the groups come out in folded order, written over the
        // sorted variants themselves (never ahead of the one being read).
        fd.groups.reserve(withRoom(variants));
        fd.groups.assign(variants, {kNone});
        fd.groupOf.clear();
        std::uint32_t groups = 0;
        for (std::uint32_t k = 0; k < variants;) {
            const std::uint32_t known = sorted[k];
            for (++k; k < variants && !before(sorted[k - 1], sorted[k]); ++k)
                fd.setGroup(sorted[k], known);
            sorted[groups++] = known;
        }
        sorted.resize(groups);
        fd.order = std::move(sorted);
        keys = std::vector<std::uint64_t>(); // its memory back before the groups are placed
        for (std::uint32_t p = 0; p < fd.valueAt.size(); ++p) {
            const std::uint32_t v = fd.valueAt[p];
            if (v == kNone)
                continue;
            FieldData::Group& g = fd.groups[fd.group(v)];
            if (g.first == kNone)
                g.first = p;
        }
        std::uint32_t longest = kNone;
        for (std::uint32_t v = 0; v < variants; ++v) {
            if (longest == kNone || fd.text(v).size() > fd.text(longest).size())
                longest = v;
        }
        fd.longest = longest;
    }

private:
    static constexpr int kIdBits = 24;
    static constexpr std::uint32_t kIdMask = (std::uint32_t(1) << kIdBits) - 1;
    static std::uint32_t tagOf(size_t h) { return std::uint32_t(h >> (8 * sizeof(size_t) - 8)); }
    static std::uint32_t entry(std::uint32_t v, size_t h, bool tagged) {
        return tagged ? (tagOf(h) << kIdBits) | (v + 1) : v + 1;
    }
    std::uint32_t idOf(std::uint32_t e) const { return (tagged_ ? (e & kIdMask) : e) - 1; }

    void place(std::uint32_t v, size_t h) {
        const size_t mask = table_.size() - 1;
        size_t i = h & mask;
        while (table_[i] != 0)
            i = (i + 1) & mask;
        table_[i] = entry(v, h, tagged_);
    }

    void rehash(size_t size, bool tagged) {
        std::vector<std::uint32_t> old(size, 0);
        old.swap(table_);
        const bool wasTagged = tagged_;
        for (std::uint32_t e : old) {
            if (e == 0)
                continue;
            tagged_ = wasTagged;
            const std::uint32_t v = idOf(e);
            tagged_ = tagged;
            place(v, std::hash<std::string_view>{}(fd_->text(v)));
        }
        tagged_ = tagged;
    }

    FieldData* fd_;
    // Variant + 1 in the low bits and a tag from the hash in the high byte, or 0 for a free slot.
    std::vector<std::uint32_t> table_;
    size_t used_ = 0;
    bool tagged_ = true;
};

} // namespace

QString foldCase(QStringView text) {
    QString out(text.size(), Qt::Uninitialized);
    char16_t* d = reinterpret_cast<char16_t*>(out.data());
    const char16_t* s = text.utf16();
    for (qsizetype i = 0; i < text.size(); ++i)
        d[i] = foldUnit(s[i]);
    return out;
}

int foldCompare(QStringView a, QStringView b) {
    const qsizetype n = std::min(a.size(), b.size());
    const char16_t* pa = a.utf16();
    const char16_t* pb = b.utf16();
    for (qsizetype i = 0; i < n; ++i) {
        if (pa[i] == pb[i])
            continue;
        const char16_t fa = foldUnit(pa[i]);
        const char16_t fb = foldUnit(pb[i]);
        if (fa != fb)
            return fa < fb ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool foldStartsWith(QStringView text, QStringView prefix) {
    return text.size() >= prefix.size() && foldCompare(text.first(prefix.size()), prefix) == 0;
}

// --- TypeAheadMatches ---

bool TypeAheadMatches::fill(qsizetype upTo) const {
    if (qsizetype(entries_.size()) > upTo)
        return true;
    if (!data_ || data_->generation != generation_)
        return false; // the field changed since: only what was read before still holds
    const FieldData& fd = *data_;
    const std::uint32_t cards = std::uint32_t(fd.valueAt.size());
    // A card starts an entry when it is the first card of its group and its text matches.
    for (; walked_ < cards && qsizetype(entries_.size()) <= upTo; ++walked_) {
        const std::uint32_t v = fd.valueAt[walked_];
        if (v == kNone || fd.groups[fd.group(v)].first != walked_)
            continue;
        if (foldStartsWith8(fd.text(v), typed_))
            entries_.push_back(v);
    }
    return qsizetype(entries_.size()) > upTo;
}

QString TypeAheadMatches::at(qsizetype i) const {
    if (listed_)
        return i >= 0 && i < listed_->size() ? listed_->at(i) : QString();
    if (i < 0 || i >= count_ || !fill(i))
        return QString();
    const std::string_view t = data_->text(entries_[size_t(i)]);
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
}

QStringList TypeAheadMatches::toList() const {
    QStringList list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i));
    return list;
}

QString TypeAheadMatches::longestOfField() const {
    if (listed_) {
        QString longest;
        for (const QString& entry : *listed_) {
            if (entry.size() > longest.size())
                longest = entry;
        }
        return longest;
    }
    if (!data_ || data_->longest == kNone)
        return QString();
    const std::string_view t = data_->text(data_->longest);
    return QString::fromUtf8(t.data(), qsizetype(t.size()));
}

void TypeAheadMatches::clear() {
    data_.reset();
    listed_.reset();
    typed_.clear();
    count_ = 0;
    entries_ = std::vector<std::uint32_t>();
    walked_ = 0;
}

// --- TypeAheadIndex ---

struct TypeAheadIndex::Built {
    store::Status status;
    IdRuns ids;
    std::array<FieldPtr, 10> fields;
};

namespace {

// glibc serves a block above its mmap threshold from a mapping of its own, handed back to the
// system when freed; but each such block freed raises the threshold to its size (up to 32 MB),
// and from then on blocks below it come from the heap, where the room they leave when freed
// stays resident. Reading a million cards frees many such blocks (vectors outgrown, hash tables
// dropped, a refresh's index replacing the one before): with the threshold left to move, the
// program's peak at a million cards was about 30 MB higher. A fixed threshold keeps every large
// block in a mapping of its own.
void keepLargeBlocksMapped() {
#if defined(__GLIBC__)
    static const bool fixed = mallopt(M_MMAP_THRESHOLD, 1 << 20) == 1;
    (void)fixed;
#endif
}

} // namespace

TypeAheadIndex::TypeAheadIndex(const store::CardStore* store)
    : store_(store), receiver_(std::make_unique<QObject>()) {
    keepLargeBlocksMapped();
}

TypeAheadIndex::~TypeAheadIndex() {
    cancel();
}

const std::array<store::Field, 10>& TypeAheadIndex::fields() {
    static const std::array<store::Field, 10> list = {
        store::Lugar,     store::Color, store::Implantador, store::Propietario, store::Rut,
        store::Telefono1, store::Cel,   store::Direccion,   store::Contacto,    store::Telefono2,
    };
    return list;
}

bool TypeAheadIndex::offers(store::Field field) {
    const auto& list = fields();
    return std::find(list.begin(), list.end(), field) != list.end();
}

bool TypeAheadIndex::isBuilt(store::Field field) const {
    return index_[field] != nullptr;
}

bool TypeAheadIndex::anyBuilt() const {
    return std::any_of(index_.begin(), index_.end(),
                       [](const FieldPtr& f) { return f != nullptr; });
}

void TypeAheadIndex::cancel() {
    if (worker_) {
        stop_ = true;
        worker_->join();
        worker_.reset();
    }
    {
        std::lock_guard lock(doneMutex_);
        done_.reset();
    }
    stop_ = false;
    serving_ = false;
    kept_.clear();
}

void TypeAheadIndex::reset() {
    if (store_ && store_->valuesFromStore())
        return; // nothing held
    cancel();
    ids_.clear();
    index_.fill(nullptr);
    if (background_)
        buildInBackground();
}

void TypeAheadIndex::refresh() {
    // Answering from the values read before costs a second index while the new one is read
    // (about 200 MB more at a million cards). Above this many cards that memory is worth more
    // than the lists' continuity: the lists then go without values during the read, as they do
    // while the read after start-up runs.
    constexpr size_t kAnswerWhileReadingUpTo = 250'000;
    if (!store_ || store_->valuesFromStore())
        return;
    if (!background_ || !anyBuilt() || ids_.size() > kAnswerWhileReadingUpTo) {
        [[maybe_unused]] const bool large = ids_.size() > kAnswerWhileReadingUpTo;
        cancel();
        ids_.clear();
        index_.fill(nullptr);
#if defined(__GLIBC__)
        // The values just dropped stay in this thread's heap, where the read's thread cannot use
        // them: hand them back first, or the read would hold a second index's worth.
        if (large)
            malloc_trim(0);
#endif
        if (background_)
            buildInBackground(); // read as a start-up would
        return;
    }
    // A refresh already running may have read past a change made since: start over. What it
    // kept was applied to the index that answers, and the new read sees it in the store.
    cancel();
    serving_ = true;
    startWorker();
}

void TypeAheadIndex::buildInBackground(std::function<void()> ready, Background how) {
    if (!store_ || store_->valuesFromStore())
        return;
    cancel();
    if (ready)
        ready_ = std::move(ready);
    if (how.afterChunk || how.chunk != Background().chunk)
        how_ = std::move(how);
    background_ = true;
    ids_.clear();
    index_.fill(nullptr);
    startWorker();
}

void TypeAheadIndex::startWorker() {
    // Changes from here on are kept; the read sees some of them, and applying them again to its
    // result changes nothing (each sets a card to its latest values).
    worker_ =
        std::make_unique<std::thread>(&TypeAheadIndex::runBackground, this, store_->registry(),
                                      store_->recordCount(), receiver_.get());
}

void TypeAheadIndex::runBackground(store::Registry registry, qint64 expected, QObject* receiver) {
    auto built = std::make_unique<Built>();
    store::Status status;
    std::unique_ptr<store::ChunkReader> reader = store::ChunkReader::open(registry, &status);
    if (reader) {
        std::vector<FieldBuilder> builders;
        builders.reserve(fields().size());
        for (size_t i = 0; i < fields().size(); ++i) {
            built->fields[i] = std::make_shared<FieldData>();
            builders.emplace_back(*built->fields[i], expected);
        }
        store::RowId last = std::numeric_limits<store::RowId>::min();
        int visited = 0;
        do {
            status = reader->read(
                last, how_.chunk, fields(),
                [&](store::RowId id, std::span<const QByteArrayView> values) {
                    built->ids.push_back(id);
                    for (size_t i = 0; i < builders.size(); ++i)
                        builders[i].add(values[i]);
                },
                &last, &visited);
            if (built->ids.size() == size_t(visited)) {
                for (FieldBuilder& b : builders)
                    b.plan(visited, expected);
            }
            if (how_.afterChunk)
                how_.afterChunk();
        } while (status.ok() && visited == how_.chunk && !stop_);
        reader.reset();
        // Every table goes before the first field is sorted: the peak is the index itself.
        for (FieldBuilder& b : builders)
            b.dropTable();
        for (FieldBuilder& b : builders) {
            if (stop_ || !status.ok())
                break;
            b.finish();
        }
    }
    if (stop_)
        built.reset();
#if defined(__GLIBC__)
    // The hash tables and the growing vectors of the read leave free memory behind in this
    // thread's heap; hand it back rather than keep it resident for the program's life.
    malloc_trim(0);
#endif
    if (stop_)
        return;
    built->status = status;
    {
        std::lock_guard lock(doneMutex_);
        done_ = std::move(built);
    }
    doneSignal_.notify_all();
    QMetaObject::invokeMethod(
        receiver, [this] { adopt(true); }, Qt::QueuedConnection);
}

bool TypeAheadIndex::waitForBackground(int ms) {
    if (!worker_)
        return true;
    {
        std::unique_lock lock(doneMutex_);
        const auto finished = [this] {
            return done_ != nullptr;
        };
        if (ms < 0)
            doneSignal_.wait(lock, finished);
        else if (!doneSignal_.wait_for(lock, std::chrono::milliseconds(ms), finished))
            return false;
    }
    adopt(false);
    return !worker_;
}

bool TypeAheadIndex::adopt(bool notify) {
    if (!worker_)
        return false;
    std::unique_ptr<Built> built;
    {
        std::lock_guard lock(doneMutex_);
        built = std::move(done_);
    }
    if (!built)
        return false; // the read of a later start is still running
    worker_->join();
    worker_.reset();
    const bool refreshed = serving_;
    serving_ = false;
    std::vector<Change> kept = std::move(kept_);
    kept_.clear();
    if (!built->status) {
        // Each field is then read at its first use, which reports what fails; values read
        // before another program wrote are not offered as if they were current.
        background_ = false;
        if (refreshed) {
            ids_.clear();
            index_.fill(nullptr);
        }
    } else {
        ids_ = std::move(built->ids);
        for (size_t i = 0; i < fields().size(); ++i)
            index_[fields()[i]] = std::move(built->fields[i]);
        built.reset();
        for (const Change& c : kept) {
            switch (c.kind) {
            case store::CardStore::Change::Added:
                cardAdded(c.id, c.card);
                break;
            case store::CardStore::Change::Changed:
                cardChanged(c.id, c.card);
                break;
            case store::CardStore::Change::Removed:
                cardRemoved(c.id);
                break;
            case store::CardStore::Change::Reset:
                reset(); // many cards changed meanwhile: read them all again
                return true;
            }
        }
    }
    if (notify && ready_)
        ready_();
    return true;
}

store::Status TypeAheadIndex::build(store::Field field) {
    if (worker_ && (!serving_ || !index_[field]))
        waitForBackground(-1);
    if (index_[field])
        return store::Status();
    if (!store_ || store_->valuesFromStore())
        return store::Status();
    const bool first = !anyBuilt();
    if (first)
        ids_.clear();

    auto fd = std::make_shared<FieldData>();
    FieldBuilder builder(*fd, first ? 1024 : qint64(ids_.size()));
    std::uint32_t pos = 0;
    bool unknownCard = false;
    store::Status status =
        store_->forEachRawCard(store::Order::Stored, std::span(&field, 1),
                               [&](store::RowId id, const store::RawCard& raw) {
                                   if (first) {
                                       ids_.push_back(id);
                                   } else {
                                       // Cards removed through this index keep their slot; they
                                       // have no value here either.
                                       while (pos < ids_.size() && ids_[pos] < id) {
                                           builder.add({});
                                           ++pos;
                                       }
                                       if (pos == ids_.size() || ids_[pos] != id) {
                                           unknownCard =
                                               true; // written by another program: start over
                                           return false;
                                       }
                                   }
                                   builder.add(raw.utf8(field));
                                   ++pos;
                                   return true;
                               });
    if (unknownCard) {
        reset();
        return build(field);
    }
    if (!status) {
        if (first)
            ids_.clear();
        return status; // the store says in plain words what could not be read
    }
    while (fd->valueAt.size() < ids_.size())
        builder.add({});
    builder.finish();
    index_[field] = std::move(fd);
    return store::Status();
}

store::Status TypeAheadIndex::matches(store::Field field, QStringView typed, QStringList* values) {
    TypeAheadMatches found;
    store::Status status = matches(field, typed, &found);
    *values = found.toList();
    return status;
}

store::Status TypeAheadIndex::matches(store::Field field, QStringView typed,
                                      TypeAheadMatches* values) {
    values->clear();
    if (store_ && store_->valuesFromStore()) {
        if (!offers(field))
            return store::Status();
        auto listed = std::make_shared<QStringList>();
        const store::Status status =
            store_->valuesStartingWith(field, typed.toString(), kAskedEntries, listed.get());
        if (!status)
            return status;
        values->count_ = listed->size();
        values->typed_ = typed.toString();
        values->listed_ = std::move(listed);
        return status;
    }
    // A keystroke before the background read is done waits for it a moment at most; then the
    // list shows nothing until the read is taken over.
    if (worker_ && !serving_ && !waitForBackground(40))
        return store::Status();
    if (store::Status s = build(field); !s)
        return s;
    const FieldPtr& data = index_[field];
    const FieldData& fd = *data;

    const auto lo = std::lower_bound(
        fd.order.begin(), fd.order.end(), typed,
        [&](std::uint32_t g, QStringView t) { return foldCompare8(fd.text(fd.shown(g)), t) < 0; });
    const auto hi = std::partition_point(lo, fd.order.end(), [&](std::uint32_t g) {
        return foldStartsWith8(fd.text(fd.shown(g)), typed);
    });
    values->data_ = data;
    values->generation_ = fd.generation;
    values->typed_ = typed.toString();
    values->count_ = hi - lo;

    // Few entries: put them in stored order at once, by their first cards. Many: each is found
    // when it is read, walking the cards in stored order, where entries lie thick.
    const size_t cards = fd.valueAt.size();
    const size_t few = std::max<size_t>(64, cards / 32);
    if (size_t(values->count_) > few)
        return store::Status();
    std::vector<std::uint32_t> firsts;
    firsts.reserve(size_t(values->count_));
    for (auto it = lo; it != hi; ++it)
        firsts.push_back(fd.groups[*it].first);
    std::sort(firsts.begin(), firsts.end());
    values->entries_.reserve(firsts.size());
    for (std::uint32_t p : firsts)
        values->entries_.push_back(fd.valueAt[p]);
    values->walked_ = std::uint32_t(cards);
    return store::Status();
}

std::uint32_t TypeAheadIndex::slotOf(store::RowId id) const {
    const size_t at = ids_.lowerBound(id);
    return at < ids_.size() && ids_[at] == id ? std::uint32_t(at) : kNone;
}

std::uint32_t TypeAheadIndex::slotFor(store::RowId id) {
    if (ids_.empty() || id > ids_.back()) {
        ids_.push_back(id);
        for (FieldPtr& fd : index_) {
            if (fd)
                fd->valueAt.push_back(kNone);
        }
        return std::uint32_t(ids_.size() - 1);
    }
    const std::uint32_t pos = std::uint32_t(ids_.lowerBound(id));
    if (ids_[pos] == id)
        return pos; // a slot left by a removed card, taken again
    // An id below the last one: every later position moves up by one.
    ids_.insert(id);
    for (FieldPtr& fd : index_) {
        if (!fd)
            continue;
        fd->valueAt.insert(pos, kNone);
        for (FieldData::Group& g : fd->groups) {
            if (g.first != kNone && g.first >= pos)
                ++g.first;
        }
        ++fd->generation;
    }
    return pos;
}

void TypeAheadIndex::put(FieldData& fd, std::uint32_t pos, QStringView value) {
    if (value.isEmpty())
        return;
    const QByteArray utf8 = value.toUtf8();
    const std::string_view bytes = viewOf(utf8);
    auto it = std::lower_bound(
        fd.order.begin(), fd.order.end(), value,
        [&](std::uint32_t g, QStringView t) { return foldCompare8(fd.text(fd.shown(g)), t) < 0; });
    const bool found = it != fd.order.end() && foldCompare8(fd.text(fd.shown(*it)), value) == 0;
    std::uint32_t g = found ? *it : kNone;
    std::uint32_t v;
    if (found && fd.text(fd.shown(g)) == bytes) {
        v = fd.shown(g);
    } else {
        v = fd.texts.size();
        fd.texts.push_back(bytes);
        fd.groups.push_back({kNone});
        if (!found) {
            g = v; // a new group, known by this variant
            fd.order.insert(it, g);
        }
        fd.setGroup(v, g);
        if (fd.longest == kNone || bytes.size() > fd.text(fd.longest).size())
            fd.longest = v;
    }
    fd.valueAt.set(pos, v);
    FieldData::Group& group = fd.groups[g];
    if (group.first == kNone || pos < group.first)
        group.first = pos;
    ++fd.generation;
}

void TypeAheadIndex::take(FieldData& fd, std::uint32_t pos) {
    const std::uint32_t v = fd.valueAt[pos];
    if (v == kNone)
        return;
    ++fd.generation;
    const std::uint32_t g = fd.group(v);
    FieldData::Group& group = fd.groups[g];
    if (group.first != pos) {
        fd.valueAt.set(pos, kNone); // the group's first card still carries it
        return;
    }
    // The next card of the group becomes the first met: a scan of small integers, no reading of
    // the store.
    std::uint32_t next = kNone;
    for (std::uint32_t p = pos + 1; p < fd.valueAt.size(); ++p) {
        const std::uint32_t w = fd.valueAt[p];
        if (w != kNone && (w == v || fd.group(w) == g)) {
            next = p;
            break;
        }
    }
    if (next == kNone) {
        // The group's last card: the group leaves the order, found by its text while the card
        // still carries it.
        const std::string_view t = fd.text(v);
        auto it = std::lower_bound(fd.order.begin(), fd.order.end(), t,
                                   [&](std::uint32_t o, std::string_view s) {
                                       return foldCompare8(fd.text(fd.shown(o)), s) < 0;
                                   });
        if (it != fd.order.end() && *it == g)
            fd.order.erase(it);
    }
    group.first = next;
    fd.valueAt.set(pos, kNone);
}

void TypeAheadIndex::cardAdded(store::RowId id, const store::Card& card) {
    if (worker_) {
        kept_.push_back({store::CardStore::Change::Added, id, card});
        if (!serving_)
            return;
    }
    if (!anyBuilt())
        return; // nothing read yet; the first use reads the store as it is then
    const std::uint32_t pos = slotFor(id);
    for (int f = 0; f < store::kFieldCount; ++f) {
        if (FieldData* fd = index_[f].get()) {
            take(*fd, pos);
            put(*fd, pos, card[store::Field(f)]);
        }
    }
}

void TypeAheadIndex::cardChanged(store::RowId id, const store::Card& card) {
    if (worker_) {
        kept_.push_back({store::CardStore::Change::Changed, id, card});
        if (!serving_)
            return;
    }
    if (!anyBuilt())
        return;
    const std::uint32_t pos = slotOf(id);
    if (pos == kNone) {
        cardAdded(id, card);
        return;
    }
    for (int f = 0; f < store::kFieldCount; ++f) {
        FieldData* fd = index_[f].get();
        if (!fd)
            continue;
        const QString& value = card[store::Field(f)];
        const std::uint32_t old = fd->valueAt[pos];
        if (old != kNone && fd->text(old) == viewOf(value.toUtf8()))
            continue;
        take(*fd, pos);
        put(*fd, pos, value);
    }
}

void TypeAheadIndex::cardRemoved(store::RowId id) {
    if (worker_) {
        kept_.push_back({store::CardStore::Change::Removed, id, {}});
        if (!serving_)
            return;
    }
    const std::uint32_t pos = slotOf(id);
    if (pos == kNone)
        return;
    for (FieldPtr& fd : index_) {
        if (fd)
            take(*fd, pos);
    }
}

} // namespace browse
