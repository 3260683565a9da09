#pragma once

#include "CardFields.h"
#include "CardStore.h"
#include "Status.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <array>
#include <optional>
#include <span>
#include <vector>

class QTextStream;

namespace store {

struct Folders;

// Why a card was written: every write to table Clientes says it, and its history row keeps it.
enum class WriteReason { Alta, Modificacion, Baja, Web, Importacion, Restauracion, Combinacion };

// "alta", "modificación", "baja", "web", "importación", "restauración", "combinación":
// as stored and shown.
QString reasonName(WriteReason reason);

// One row of table Historial: who changed which card when, and its values before and after.
// An add keeps the whole card after, a delete the whole card before, a web card or a restore
// both as they were; an edit only the fields it changed.
struct HistoryEntry {
    qint64 id = 0;
    QDateTime when; // UTC
    QString user;
    QString computer;
    QString what; // reasonName() of the write
    QString code;
    RowId cardId = kNoRow; // the card's id in Clientes when it was written
    // Where the values came from when they came from another registry (its file name); empty
    // otherwise. Kept as the key "origen" beside the field values of the row.
    QString source;
    // A field the row does not hold is nullopt; a held Null value is a null QString.
    std::array<std::optional<QString>, kFieldCount> before{};
    std::array<std::optional<QString>, kFieldCount> after{};

    // Whether the row changed the field. A web card's values come padded to their field's
    // width: a value that differs from the one stored before only by those trailing spaces did
    // not change.
    bool changed(Field f) const;
    // The card as the row's values before it give it (a deleted card as it was).
    Card beforeCard() const;
};

// The history of every change to the cards, kept in table Historial of the card store and
// written by the store in the same transaction as the change itself.
class History {
public:
    explicit History(CardStore& store) : store_(store) {}

    // The card's changes, newest first (at most `limit`).
    Status forCode(const QString& code, int limit, std::vector<HistoryEntry>* entries) const;
    // Deleted cards, newest first (at most `limit`): those whose code starts with `filter` or
    // whose owner holds it, compared as the main search compares names (without regard to
    // case, accents or the spaces between words); all when `filter` is empty.
    Status deleted(const QString& filter, int limit, std::vector<HistoryEntry>* entries) const;
    // Puts back the card a delete removed, all its fields as they were, at its former id when
    // that id is free, otherwise after the last card. Refused (Duplicate) when a card with its
    // code is stored meanwhile.
    Status restore(qint64 entryId, RowId* restored);
    // Deletes the rows written before `cutoff`.
    Status purgeBefore(const QDateTime& cutoff, qint64* removed);

    // Creates the table and its indexes when missing (inside the caller's transaction).
    // `server`: the PostgreSQL form of the same table.
    static bool createTable(const QSqlDatabase& db, bool server, QSqlError* error);

private:
    CardStore& store_;
};

// Writes history rows inside the store's own write transaction, one prepared statement for all
// the rows of that transaction.
class HistoryWriter {
public:
    // The statement of the rows, to be prepared by the caller in the query handed to the writer.
    static QString insertStatement();
    // Writes through `insert`, prepared with insertStatement() when `prepared`.
    HistoryWriter(QSqlQuery& insert, bool prepared);
    // The row of one write: `before` and `after` are the stored card before and after it (null
    // when there was none); `fields` limits the row to those fields (all when empty).
    bool record(WriteReason reason, RowId cardId, const Card* before, const Card* after,
                std::span<const Field> fields = {});
    // The values record() writes, in the order of insertStatement()'s columns, for a caller that
    // writes many rows in one statement.
    using Row = std::array<QVariant, 8>;
    Row row(WriteReason reason, RowId cardId, const Card* before, const Card* after,
            std::span<const Field> fields = {}) const;
    QSqlError error() const;
    // The rows written from now on name this registry as where their values came from.
    void setSource(const QString& source) { source_ = source; }

private:
    QSqlQuery& insert_;
    bool prepared_ = false;
    QString when_;
    QString source_;
};

// --purgar-historial DAYS: trims the history of the registry in `folders` to the last DAYS days,
// says how many rows went, and returns the exit status (0, or 1 with the reason on failure).
int runPurgeCommand(const Folders& folders, int days, QTextStream& out, const QDateTime& now);

} // namespace store
