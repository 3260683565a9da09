#pragma once

#include "CardStore.h"
#include "SearchIndex.h"
#include "Status.h"

#include <QString>

#include <functional>
#include <vector>

class QSqlDatabase;

namespace store {

// The file's form of the free-text search (see SearchIndex.h): an FTS5 table beside Clientes,
// kept in step by triggers in the file's own schema, so that cards written by any program that
// opens DAT.db are found too.
namespace FileSearch {

bool present(const CardStore& cards, Status* status);
// Creates the search table and its triggers on this connection and indexes every stored card,
// inside the caller's transaction.
Status createIn(QSqlDatabase& db, const QString& path);
Status build(CardStore& cards, const std::function<void(qint64, qint64)>& progress);

// The index made a step at a time (SearchIndex::begin): a table of one row holds the least card
// id the fill has not yet looked at.
bool filling(const CardStore& cards, Status* status);
Status begin(CardStore& cards);
Status fillStep(CardStore& cards, int limit, SearchFillProgress* progress);
// Brings the triggers of an index made by an older version up to date and mends what writes
// that bypassed them left, in one transaction.
Status check(CardStore& cards);
// The ids found, ascending, each once; `typed` is not blank.
Status find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids);
// The cards of the owner of `card` (stored at `id`), which has a R.U.T. or an owner's name.
Status sameOwner(const CardStore& cards, RowId id, const Card& card, std::vector<RowId>* ids);

} // namespace FileSearch

} // namespace store
