#include "TypeAheadIndex.h"

#include <QChar>
#include <QHash>
#include <QStringBuilder>

#include <algorithm>
#include <bit>

namespace browse {

namespace {

char16_t foldUnit(char16_t c) {
    if (c < 0x80) // the common case, without the table lookup
        return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
    const char32_t f = QChar::toCaseFolded(char32_t(c));
    return f <= 0xFFFF ? char16_t(f) : c;
}

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

TypeAheadIndex::TypeAheadIndex(const store::CardStore* store) : store_(store) {}

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

QStringView TypeAheadIndex::text(const FieldIndex& fi, std::uint32_t variant) const {
    const Variant& v = fi.variants[variant];
    return QStringView(fi.texts).sliced(v.offset, v.length);
}

bool TypeAheadIndex::isBuilt(store::Field field) const {
    return index_[field].built;
}

bool TypeAheadIndex::anyBuilt() const {
    return std::any_of(index_.begin(), index_.end(), [](const FieldIndex& fi) { return fi.built; });
}

void TypeAheadIndex::reset() {
    ids_.clear();
    ids_.shrink_to_fit();
    for (FieldIndex& fi : index_)
        fi = FieldIndex();
}

store::Status TypeAheadIndex::build(store::Field field) {
    FieldIndex& fi = index_[field];
    if (fi.built)
        return store::Status();
    const bool first = !anyBuilt();
    if (first)
        ids_.clear();

    fi = FieldIndex();
    fi.valueAt.reserve(first ? 1024 : ids_.size());
    // Exact stored bytes -> variant, while reading: a value met before is found without
    // decoding it again, and only the asked field is decoded at all.
    QHash<QByteArray, std::uint32_t> seen;
    std::uint32_t pos = 0;
    bool unknownCard = false;
    store::Status status = store_->forEachRawCard(
        store::Order::Stored, [&](store::RowId id, const store::RawCard& raw) {
            if (first) {
                ids_.push_back(id);
            } else {
                // Cards removed through this index keep their slot; they have no value here
                // either.
                while (pos < ids_.size() && ids_[pos] < id) {
                    fi.valueAt.push_back(kNone);
                    ++pos;
                }
                if (pos == ids_.size() || ids_[pos] != id) {
                    unknownCard = true; // written by another program: start over
                    return false;
                }
            }
            const QByteArrayView bytes = raw.utf8(field);
            std::uint32_t v = kNone;
            if (!bytes.isEmpty()) {
                auto it = seen.constFind(QByteArray::fromRawData(bytes.data(), bytes.size()));
                if (it == seen.constEnd()) {
                    const QString value = QString::fromUtf8(bytes);
                    v = std::uint32_t(fi.variants.size());
                    fi.variants.push_back(
                        {std::uint32_t(fi.texts.size()), std::uint32_t(value.size()), 0, pos});
                    fi.texts.append(value);
                    seen.insert(bytes.toByteArray(), v);
                } else {
                    v = *it;
                }
                ++fi.variants[v].count;
            }
            fi.valueAt.push_back(v);
            ++pos;
            return true;
        });
    if (unknownCard) {
        reset();
        return build(field);
    }
    if (!status) {
        fi = FieldIndex();
        if (first)
            ids_.clear();
        return status; // the store says in plain words what could not be read
    }
    while (fi.valueAt.size() < ids_.size())
        fi.valueAt.push_back(kNone);
    seen = {};

    fi.order.resize(fi.variants.size());
    for (std::uint32_t i = 0; i < fi.order.size(); ++i)
        fi.order[i] = i;
    std::sort(fi.order.begin(), fi.order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const QStringView ta = text(fi, a);
        const QStringView tb = text(fi, b);
        const int c = foldCompare(ta, tb);
        return c != 0 ? c < 0 : ta < tb;
    });
    fi.texts.squeeze();
    fi.built = true;
    return store::Status();
}

QStringList TypeAheadMatches::toList() const {
    QStringList list;
    list.reserve(size());
    for (qsizetype i = 0; i < size(); ++i)
        list.append(at(i).toString());
    return list;
}

void TypeAheadMatches::clear() {
    texts_ = QString();
    spans_ = {};
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
    if (store::Status s = build(field); !s)
        return s;
    const FieldIndex& fi = index_[field];

    auto it = std::lower_bound(
        fi.order.begin(), fi.order.end(), typed,
        [&](std::uint32_t v, QStringView t) { return foldCompare(text(fi, v), t) < 0; });
    // Variants that fold alike lie side by side: each such run is one entry, shown in the text
    // of its earliest card. Each entry is known by that card's position, which no other entry
    // shares.
    std::vector<std::uint32_t> firsts;
    std::uint32_t runVariant = kNone;
    for (; it != fi.order.end() && foldStartsWith(text(fi, *it), typed); ++it) {
        const Variant& v = fi.variants[*it];
        if (runVariant != kNone && foldCompare(text(fi, runVariant), text(fi, *it)) == 0) {
            if (v.first < firsts.back())
                firsts.back() = v.first;
        } else {
            firsts.push_back(v.first);
            runVariant = *it;
        }
    }
    // Into stored order. Many entries: mark their positions and read them back in order, which
    // costs a pass over one bit per card instead of a sort.
    const size_t cards = fi.valueAt.size();
    if (firsts.size() > cards / 64) {
        std::vector<std::uint64_t> marked((cards + 63) / 64);
        for (std::uint32_t p : firsts)
            marked[p / 64] |= std::uint64_t(1) << (p % 64);
        size_t n = 0;
        for (size_t word = 0; word < marked.size(); ++word) {
            for (std::uint64_t bits = marked[word]; bits != 0; bits &= bits - 1)
                firsts[n++] = std::uint32_t(word * 64 + size_t(std::countr_zero(bits)));
        }
    } else {
        std::sort(firsts.begin(), firsts.end());
    }
    values->texts_ = fi.texts;
    values->spans_.reserve(firsts.size());
    for (std::uint32_t p : firsts) {
        // The card at an entry's position carries the variant the entry is shown in.
        const Variant& v = fi.variants[fi.valueAt[p]];
        values->spans_.emplace_back(v.offset, v.length);
    }
    return store::Status();
}

std::uint32_t TypeAheadIndex::slotOf(store::RowId id) const {
    auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
    return (it != ids_.end() && *it == id) ? std::uint32_t(it - ids_.begin()) : kNone;
}

std::uint32_t TypeAheadIndex::slotFor(store::RowId id) {
    if (ids_.empty() || id > ids_.back()) {
        ids_.push_back(id);
        for (FieldIndex& fi : index_) {
            if (fi.built)
                fi.valueAt.push_back(kNone);
        }
        return std::uint32_t(ids_.size() - 1);
    }
    auto it = std::lower_bound(ids_.begin(), ids_.end(), id);
    const std::uint32_t pos = std::uint32_t(it - ids_.begin());
    if (*it == id)
        return pos; // a slot left by a removed card, taken again
    // An id below the last one: every later position moves up by one.
    ids_.insert(it, id);
    for (FieldIndex& fi : index_) {
        if (!fi.built)
            continue;
        fi.valueAt.insert(fi.valueAt.begin() + pos, kNone);
        for (Variant& v : fi.variants) {
            if (v.count > 0 && v.first >= pos)
                ++v.first;
        }
    }
    return pos;
}

void TypeAheadIndex::put(FieldIndex& fi, std::uint32_t pos, const QString& value) {
    if (value.isEmpty())
        return;
    auto it = std::lower_bound(fi.order.begin(), fi.order.end(), QStringView(value),
                               [&](std::uint32_t v, QStringView t) {
                                   const QStringView tv = text(fi, v);
                                   const int c = foldCompare(tv, t);
                                   return c != 0 ? c < 0 : tv < t;
                               });
    std::uint32_t v;
    if (it != fi.order.end() && text(fi, *it) == value) {
        v = *it;
        Variant& var = fi.variants[v];
        ++var.count;
        var.first = std::min(var.first, pos);
    } else {
        v = std::uint32_t(fi.variants.size());
        fi.variants.push_back(
            {std::uint32_t(fi.texts.size()), std::uint32_t(value.size()), 1, pos});
        fi.texts.append(value);
        fi.order.insert(it, v);
    }
    fi.valueAt[pos] = v;
}

void TypeAheadIndex::take(FieldIndex& fi, std::uint32_t pos) {
    const std::uint32_t v = fi.valueAt[pos];
    if (v == kNone)
        return;
    fi.valueAt[pos] = kNone;
    Variant& var = fi.variants[v];
    if (--var.count == 0) {
        const QStringView t = text(fi, v);
        auto it = std::lower_bound(fi.order.begin(), fi.order.end(), t,
                                   [&](std::uint32_t o, QStringView s) {
                                       const QStringView to = text(fi, o);
                                       const int c = foldCompare(to, s);
                                       return c != 0 ? c < 0 : to < s;
                                   });
        if (it != fi.order.end() && *it == v)
            fi.order.erase(it);
        return;
    }
    if (var.first == pos) {
        // The next card carrying the text becomes the first met: a scan of small integers,
        // no reading of the store.
        auto next = std::find(fi.valueAt.begin() + pos + 1, fi.valueAt.end(), v);
        var.first = std::uint32_t(next - fi.valueAt.begin());
    }
}

void TypeAheadIndex::cardAdded(store::RowId id, const store::Card& card) {
    if (!anyBuilt())
        return; // nothing read yet; the first use reads the store as it is then
    const std::uint32_t pos = slotFor(id);
    for (int f = 0; f < store::kFieldCount; ++f) {
        FieldIndex& fi = index_[f];
        if (!fi.built)
            continue;
        take(fi, pos);
        put(fi, pos, card[store::Field(f)]);
    }
}

void TypeAheadIndex::cardChanged(store::RowId id, const store::Card& card) {
    if (!anyBuilt())
        return;
    if (slotOf(id) == kNone) {
        cardAdded(id, card);
        return;
    }
    const std::uint32_t pos = slotOf(id);
    for (int f = 0; f < store::kFieldCount; ++f) {
        FieldIndex& fi = index_[f];
        if (!fi.built)
            continue;
        const QString& value = card[store::Field(f)];
        const std::uint32_t old = fi.valueAt[pos];
        if (old != kNone && text(fi, old) == value)
            continue;
        take(fi, pos);
        put(fi, pos, value);
    }
}

void TypeAheadIndex::cardRemoved(store::RowId id) {
    const std::uint32_t pos = slotOf(id);
    if (pos == kNone)
        return;
    for (FieldIndex& fi : index_) {
        if (fi.built)
            take(fi, pos);
    }
}

} // namespace browse
