#pragma once

#include "CardFields.h"
#include "CardStore.h"
#include "Status.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <array>
#include <cstdint>
#include <vector>

namespace browse {

// Letter case folded one UTF-16 unit at a time (simple case folding), so a folded text keeps the
// length of the original: "MUÑOZ" and "muñoz" fold alike, and "begins with" keeps its meaning.
QString foldCase(QStringView text);
// Compares two texts as their folded forms would compare; 0 when they differ only in case.
int foldCompare(QStringView a, QStringView b);
// True when `text` begins with `prefix`, letters compared without regard to case.
bool foldStartsWith(QStringView text, QStringView prefix);

// The entries of one type-ahead list: each a view into a shared copy of the field's stored texts,
// so that listing many values costs a small record each instead of a string each.
class TypeAheadMatches {
public:
    qsizetype size() const { return qsizetype(spans_.size()); }
    bool isEmpty() const { return spans_.empty(); }
    QStringView at(qsizetype i) const {
        const auto& [offset, length] = spans_[size_t(i)];
        return QStringView(texts_).sliced(offset, length);
    }
    QStringList toList() const;
    void clear();

private:
    friend class TypeAheadIndex;
    QString texts_; // shared with the index until either changes
    std::vector<std::pair<std::uint32_t, std::uint32_t>> spans_; // offset, length
};

// The stored values offered while typing into the ten type-ahead fields. For each field it
// answers "every distinct stored value that begins with the typed text, letters compared without
// regard to case, listed once in the letter case of the first card met, in stored order" at a
// cost that grows with the values listed, not with the cards stored.
//
// A field's index is built from one forward-only scan of its column the first time it is asked
// for; afterwards the editing commands keep it in step through cardAdded, cardChanged and
// cardRemoved, called after each successful write to the store. Writes by other programs are not
// seen until reset().
class TypeAheadIndex {
public:
    explicit TypeAheadIndex(const store::CardStore* store);

    // The ten fields that offer their stored values, in the order of the window's fields.
    static const std::array<store::Field, 10>& fields();
    static bool offers(store::Field field);

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
    // Forgets everything; each field is read from the store again at its next use.
    void reset();

private:
    static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

    // One exact stored text; texts that differ only in case are separate variants, kept side by
    // side in `order`, so that removing the card of one case can hand the entry to another.
    struct Variant {
        std::uint32_t offset; // into the field's text store
        std::uint32_t length;
        std::uint32_t count; // cards carrying this exact text
        std::uint32_t first; // position of the first of them in ids_ (meaningful when count > 0)
    };
    struct FieldIndex {
        bool built = false;
        QString texts; // every variant's text, one after another
        std::vector<Variant> variants;
        std::vector<std::uint32_t> order;   // live variants, by folded text, then exact text
        std::vector<std::uint32_t> valueAt; // per position in ids_: variant, or kNone
    };

    QStringView text(const FieldIndex& fi, std::uint32_t variant) const;
    std::uint32_t slotOf(store::RowId id) const; // position of id in ids_, or kNone
    std::uint32_t slotFor(store::RowId id);      // position of id, making one when new
    void put(FieldIndex& fi, std::uint32_t pos, const QString& value);
    void take(FieldIndex& fi, std::uint32_t pos);
    bool anyBuilt() const;

    const store::CardStore* store_;
    // Ids of the cards in stored order; a removed card keeps its slot with no value in any field.
    std::vector<store::RowId> ids_;
    std::array<FieldIndex, store::kFieldCount> index_;
};

} // namespace browse
