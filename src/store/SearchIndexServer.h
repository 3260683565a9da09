#pragma once

#include "CardStore.h"
#include "Status.h"

#include <QString>

#include <functional>
#include <vector>

namespace store {

// The server's form of SearchIndex (see SearchIndex.h), with the same answers: a table of word
// lists beside "Clientes" under a GIN index, kept in step by a trigger on "Clientes".
class ServerSearch {
public:
    // The SQL function call that splits a value into the index's words (a text[]).
    static QString wordsSql(const QString& value);
    // Whether the index's table and both its triggers are there.
    static Status present(const CardStore& cards, bool* present);
    // Makes the table, its functions and triggers from scratch on the store's connection, inside
    // the caller's transaction, and indexes every stored card.
    static Status createIn(const CardStore& cards,
                           const std::function<void(qint64, qint64)>& progress);
    // The same for a registry that lacks the index, in a transaction of its own.
    static Status build(CardStore& cards, const std::function<void(qint64, qint64)>& progress);
    // The ids of the cards found, in no particular order and possibly twice.
    static Status find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids);
    // The ids of the cards whose `field` has every word of `value` and that `same` accepts.
    static Status sameOwner(const CardStore& cards, Field field, const QString& value,
                            const std::function<bool(const QString&)>& same,
                            std::vector<RowId>* ids);
};

} // namespace store
