#pragma once

#include "CardStore.h"
#include "Registry.h"
#include "Status.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

class QSqlDatabase;

namespace store {

// The free-text search over the card store: a full-text table over the owner's and the animal's
// names, the R.U.T. and the three telephones, kept in step with table Clientes by triggers in the
// file's own schema, so that cards written by any program that opens DAT.db are found too
// (sqlite/FileSearch.h). A server registry answers the same from an index of its own
// (server/SearchIndexServer.h). Each engine keeps its own; the rules below are shared.
//
// R.U.T.s and telephones are indexed in a normalised form that the text tokenizer alone would not
// give ("12.345.678-5" would be four words). The same rule exists twice: as a C++ function for
// the typed text and as an SQL expression for the triggers; both are built from the same lists
// below, and a test runs both on the same values.

// "12.345.678-k" -> "12345678K": without dots, hyphens and spaces, k in upper case.
QString normaliseRut(QStringView text);
// "+56 9 8765-4321" -> "987654321": without spaces, hyphens, dots, plus signs and parentheses;
// a leading 56 is dropped where it is the country code: the rest is all digits and the whole
// has at least ten of them (a Chilean number has nine).
QString normalisePhone(QStringView text);
// The SQL expressions that compute the same from a column or trigger value such as "new.rut", in
// the dialect of the given engine.
QString rutSql(const QString& value, Registry::Engine engine = Registry::Engine::SQLite);
QString phoneSql(const QString& value, Registry::Engine engine = Registry::Engine::SQLite);
// The words of a text as the index's tokenizer splits it: runs of letters, digits and marks.
QStringList searchWords(QStringView text);
// Names compared without regard to case, accents or the spaces between words.
QString foldedName(QStringView text);
// The words of a text as a server registry's index keeps them: Latin letters without their
// accents, in lower case, split at spaces and punctuation. A server has no tokenizer of its own
// that every database user may rely on, so the rule is ours, once here for the typed text and
// once as the SQL function the triggers call; both are built from the same character table.
QStringList serverWords(QStringView text);

// How far an index filled a step at a time has come (see SearchIndex::fillStep).
struct SearchFillProgress {
    qint64 done = 0;
    qint64 total = 0;
    bool finished = false;
};

class SearchIndex {
public:
    // Whether the file holds the search table and its triggers.
    static bool present(const CardStore& cards, Status* status);
    // The check at start of an index that is there: brings its triggers up to date and mends
    // what writes that bypassed them left (entries of cards no longer stored, cards without an
    // entry), in one transaction. A look (StoreThread::Kind::Look) never waits for a lock:
    // another program holding the registry makes it fail at once as busy.
    static Status check(CardStore& cards, StoreThread::Kind kind = StoreThread::Kind::Command);
    // Creates the index for a file that lacks it, in one transaction (all or nothing), calling
    // `progress(done, total)` between chunks of cards.
    static Status build(CardStore& cards, const std::function<void(qint64, qint64)>& progress);

    // A file's index can instead be made beside a window that goes on working, which a million
    // cards would otherwise keep waiting for seconds: begin() creates the index and its triggers
    // in a short transaction, so that every card written from then on is indexed, and each
    // fillStep() indexes up to `limit` of the cards stored before, in a write transaction of its
    // own that never waits for a lock (a busy file fails it with ErrorKind::Busy: try again
    // later). The last step marks the index whole. filling() is true from begin() until then,
    // also after a program ended halfway; find() must not be asked meanwhile. A server's index
    // is always built whole.
    static bool fillsInSteps(const CardStore& cards);
    static bool filling(const CardStore& cards, Status* status);
    static Status begin(CardStore& cards);
    static Status fillStep(CardStore& cards, int limit, SearchFillProgress* progress);

    // The ids, in stored order, of the cards whose code begins with the typed text, whose owner
    // or animal name has a word beginning with every typed word, whose R.U.T. begins with the
    // typed R.U.T., or whose telephone, cel or contact telephone begins with the typed digits.
    static Status find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids);
    // The first `limit` of those ids, sooner where the store can tell them without reading every
    // id found (a server); `*whole` says whether they are all. Otherwise, and for a `limit` of
    // 0, every id, whole.
    static Status findFirst(const CardStore& cards, const QString& typed, size_t limit,
                            std::vector<RowId>* ids, bool* whole);
    // Up to `limit` stored codes, in no particular order, that begin or end with `text`, letter
    // case aside, `text` itself excepted: the cards a code read short or in another letter case
    // may be meant for.
    static Status codesAround(const CardStore& cards, const QString& text, int limit,
                              std::vector<QString>* codes);
    // The cards, in stored order, of the owner of card `id`: those with the same normalised
    // R.U.T., or, when the card has none, those with the same owner name.
    static Status sameOwner(const CardStore& cards, RowId id, std::vector<RowId>* ids);
};

} // namespace store
