#pragma once

#include "CardStore.h"
#include "Status.h"

#include <QString>

#include <functional>
#include <vector>

namespace store {

class PgLink;
struct SqlReason;

// The server's form of SearchIndex (see SearchIndex.h), with the same answers: a table of word
// lists beside "Clientes", kept in step by triggers on "Clientes".
class ServerSearch {
public:
    // The SQL function call that splits a value into the index's words (a text[]).
    static QString wordsSql(const QString& value);
    // Whether the index's table and its triggers are there; `earlierForm`, whether they are those
    // of earlier versions (a trigger run once per card written), still right but slow for
    // writes of many cards.
    static Status present(const CardStore& cards, bool* present, bool* earlierForm = nullptr);
    // Replaces triggers of the earlier form by this version's, inside the caller's transaction;
    // the index's rows stay as they are. Nothing to do is no failure.
    static Status upgradeIn(const CardStore& cards, bool* upgraded);
    // Makes the table, its functions and triggers from scratch on the store's connection, inside
    // the caller's transaction, and indexes every stored card.
    static Status createIn(const CardStore& cards,
                           const std::function<void(qint64, qint64)>& progress);
    // The same for a registry that lacks the index, in a transaction of its own.
    static Status build(CardStore& cards, const std::function<void(qint64, qint64)>& progress);
    // For a bulk load into "Clientes" inside the link's transaction: the trigger is switched off
    // for the load when this user may (the table's owner), and the cards are indexed in one pass
    // afterwards, which is several times faster than card by card. Returns whether it was.
    static bool deferIndexing(PgLink& link);
    // After the load: indexes every card and switches the trigger on again.
    static bool indexDeferred(PgLink& link, SqlReason* failure);
    // The ids of the cards found, in no particular order and possibly twice.
    static Status find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids);
    // The first `limit` ids find() gives, in id order, read without reading every id found: a
    // surname a million cards share takes a few milliseconds rather than a hundred. `*whole`
    // tells they are every id found. `*offered` false: the text is one this cannot tell sooner
    // (several words, a prefix of many words, many codes), and nothing was read.
    static Status findFirst(const CardStore& cards, const QString& typed, size_t limit,
                            std::vector<RowId>* ids, bool* offered, bool* whole);
    // The ids of the cards whose `field` has every word of `value` and that `same` accepts.
    static Status sameOwner(const CardStore& cards, Field field, const QString& value,
                            const std::function<bool(const QString&)>& same,
                            std::vector<RowId>* ids);
};

} // namespace store
