// The file's free-text search: an FTS5 table kept in step with table Clientes by triggers.

#include "FileSearch.h"

#include "SearchIndex.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringBuilder>

#include <sqlite3.h>

#include <algorithm>

namespace store {

namespace {

const QString kTable = QStringLiteral("BusquedaTarjetas");

// The schema version of a file whose cards are indexed for the free-text search.
constexpr int kIndexedVersion = 2;

// While an index made beside a working window is being filled: one row, the least card id not
// yet looked at. Cards written since the index was begun are kept by its triggers; the fill adds
// the older ones that lack an entry, a step at a time, and drops this table at its end.
const QString kPending = QStringLiteral("BusquedaTarjetasPendiente");

bool allDigits(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

std::vector<Field> fieldsOf(SearchKind kind) {
    std::vector<Field> fields;
    for (const CardField& f : cardFields()) {
        if (searchKind(f.field) == kind)
            fields.push_back(f.field);
    }
    return fields;
}

QString columnName(Field f) {
    return cardField(f).name.toString();
}

// The indexed form of a field's value, as an SQL expression over `row` ("new" or a table name).
QString indexedSql(Field f, const QString& row) {
    const QString value = row % u'.' % columnName(f);
    switch (searchKind(f)) {
    case SearchKind::Rut:
        return rutSql(value);
    case SearchKind::Phone:
        return phoneSql(value);
    default:
        return value;
    }
}

std::vector<Field> indexedFields() {
    std::vector<Field> fields;
    for (const CardField& f : cardFields()) {
        if (searchKind(f.field) != SearchKind::None)
            fields.push_back(f.field);
    }
    return fields;
}

QString columns(const QString& prefix = {}) {
    QStringList names;
    for (Field f : indexedFields())
        names.append(prefix + columnName(f));
    return names.join(QStringLiteral(", "));
}

QString values(const QString& row) {
    QStringList exprs;
    for (Field f : indexedFields())
        exprs.append(indexedSql(f, row));
    return exprs.join(QStringLiteral(", "));
}

QString insertFrom(const QString& row) {
    return QStringLiteral("INSERT INTO ") % kTable % QStringLiteral("(rowid, ") % columns() %
           QStringLiteral(") VALUES (") % row % QStringLiteral(".id, ") % values(row) %
           QStringLiteral(");");
}

// Cards another program's INSERT OR REPLACE or UPDATE OR REPLACE is about to delete: such a
// delete runs no delete trigger (unless that program turned recursive triggers on), so the cards
// in the way are noted before the write and their entries dropped after it, when they are gone.
// A write that ignored the conflict instead leaves its notes for the next one to clear.
const QString kReplaced = QStringLiteral("BusquedaTarjetasReemplazadas");

// Whatever wrote the file, an entry whose card is gone is never an answer.
const QString kStored = QStringLiteral("EXISTS (SELECT 1 FROM Clientes WHERE Clientes.id = ") %
                        kTable % QStringLiteral(".rowid)");

// The triggers besides the index, by name suffix: the first three from the start, the others
// added for the replaced cards.
const char* const kTriggers[] = {"Alta", "Cambio", "Baja", "AntesAlta", "AntesCambio", "Reemplazo"};

QString dropReplacedSql() {
    return QStringLiteral("DELETE FROM ") % kTable %
           QStringLiteral(" WHERE rowid IN (SELECT id FROM ") % kReplaced %
           QStringLiteral(" WHERE id NOT IN (SELECT id FROM Clientes)); DELETE FROM ") % kReplaced %
           u';';
}

QStringList replacedStatements() {
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS ") % kReplaced % QStringLiteral(" (id INTEGER)"),
        QStringLiteral("CREATE TRIGGER ") % kTable %
            QStringLiteral("AntesAlta BEFORE INSERT ON Clientes BEGIN INSERT INTO ") % kReplaced %
            QStringLiteral(
                " SELECT id FROM Clientes WHERE Codigo = new.Codigo OR id = new.id; END"),
        QStringLiteral("CREATE TRIGGER ") % kTable %
            QStringLiteral(
                "AntesCambio BEFORE UPDATE OF id, Codigo ON Clientes BEGIN INSERT INTO ") %
            kReplaced %
            QStringLiteral(" SELECT id FROM Clientes WHERE (Codigo = new.Codigo OR id = new.id) "
                           "AND id <> old.id; END"),
        QStringLiteral("CREATE TRIGGER ") % kTable %
            QStringLiteral("Reemplazo AFTER UPDATE OF id, Codigo ON Clientes BEGIN ") %
            dropReplacedSql() % QStringLiteral(" END"),
    };
}

QStringList schemaStatements() {
    const QString deleteNew =
        QStringLiteral("DELETE FROM ") % kTable % QStringLiteral(" WHERE rowid = new.id;");
    const QString deleteOld =
        QStringLiteral("DELETE FROM ") % kTable % QStringLiteral(" WHERE rowid = old.id;");
    return QStringList{
               // Prefix indexes of one and two characters keep the first keystrokes quick.
               QStringLiteral("CREATE VIRTUAL TABLE ") % kTable % QStringLiteral(" USING fts5(") %
                   columns() %
                   QStringLiteral(", tokenize = 'unicode61 remove_diacritics 2', prefix = '1 2')"),
               // An insert that replaced a card with the same id leaves no second entry behind,
               // one that replaced a card of the same code none of that card.
               QStringLiteral("CREATE TRIGGER ") % kTable %
                   QStringLiteral("Alta AFTER INSERT ON Clientes BEGIN ") % dropReplacedSql() %
                   deleteNew % insertFrom(QStringLiteral("new")) % QStringLiteral(" END"),
               QStringLiteral("CREATE TRIGGER ") % kTable %
                   QStringLiteral("Cambio AFTER UPDATE OF id, ") % columns() %
                   QStringLiteral(" ON Clientes BEGIN ") % deleteOld % deleteNew %
                   insertFrom(QStringLiteral("new")) % QStringLiteral(" END"),
               QStringLiteral("CREATE TRIGGER ") % kTable %
                   QStringLiteral("Baja AFTER DELETE ON Clientes BEGIN ") % deleteOld %
                   QStringLiteral(" END"),
           } +
           replacedStatements();
}

QString fillSql() {
    return QStringLiteral("INSERT INTO ") % kTable % QStringLiteral("(rowid, ") % columns() %
           QStringLiteral(") SELECT Clientes.id, ") % values(QStringLiteral("Clientes")) %
           QStringLiteral(" FROM Clientes WHERE Clientes.id BETWEEN ? AND ?");
}

sqlite3* handleOf(const QSqlDatabase& db) {
    const QVariant v = db.driver() ? db.driver()->handle() : QVariant();
    if (!v.isValid() || qstrcmp(v.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3* const*>(v.constData());
}

Status failure(const QString& path, const QSqlError& error, const QString& doing) {
    const SqlReason r = CardStore::explain(error);
    return Status::failure(r.kind,
                           QStringLiteral("%1 en el registro «%2»: %3.")
                               .arg(CardStore::couldNot(doing), path, r.reason),
                           r.detail);
}

Status failure(const QString& path, sqlite3* db, const QString& doing) {
    return failure(path,
                   QSqlError(QString(), QString::fromUtf8(sqlite3_errmsg(db)),
                             QSqlError::StatementError,
                             QString::number(sqlite3_extended_errcode(db))),
                   doing);
}

// Runs one query and appends the first column of every row, as ids.
Status collect(const CardStore& cards, const QString& sql, const QStringList& binds,
               std::vector<RowId>* ids) {
    sqlite3* db = handleOf(cards.database());
    const QString doing = QStringLiteral("buscar las tarjetas");
    if (!db)
        return Status::failure(ErrorKind::Other, CardStore::couldNot(doing));
    sqlite3_stmt* st = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &st, nullptr) != SQLITE_OK) {
        sqlite3_finalize(st);
        return failure(cards.path(), db, doing);
    }
    std::vector<QByteArray> bound;
    bound.reserve(size_t(binds.size()));
    for (int i = 0; i < binds.size(); ++i) {
        bound.push_back(binds[i].toUtf8());
        sqlite3_bind_text(st, i + 1, bound.back().constData(), int(bound.back().size()),
                          SQLITE_STATIC);
    }
    int rc;
    while ((rc = sqlite3_step(st)) == SQLITE_ROW)
        ids->push_back(sqlite3_column_int64(st, 0));
    sqlite3_finalize(st);
    if (rc != SQLITE_DONE)
        return failure(cards.path(), db, doing);
    return Status();
}

QString quotedTerm(const QString& word) {
    QString escaped = word;
    escaped.replace(u'"', QStringLiteral("\"\""));
    return u'"' % escaped % QStringLiteral("\"*");
}

QString columnSet(SearchKind kind) {
    QStringList names;
    for (Field f : fieldsOf(kind))
        names.append(columnName(f));
    return u'{' % names.join(u' ') % u'}';
}

// The full-text expression for the typed text; empty when nothing in it can be looked up there.
QString matchExpression(const QString& typed) {
    QStringList alternatives;
    const QStringList words = searchWords(typed);
    if (!words.isEmpty()) {
        QStringList terms;
        for (const QString& w : words)
            terms.append(quotedTerm(w));
        const QString all = u'(' % terms.join(QStringLiteral(" AND ")) % u')';
        // Every word in the same name: the owner's or the animal's.
        for (Field f : fieldsOf(SearchKind::Words))
            alternatives.append(columnName(f) % QStringLiteral(" : ") % all);
    }
    const QString trimmed = typed.trimmed();
    const QString rut = normaliseRut(trimmed);
    if (!rut.isEmpty() && allDigits(QStringView(rut).chopped(rut.endsWith(u'K') ? 1 : 0)))
        alternatives.append(columnSet(SearchKind::Rut) % QStringLiteral(" : ") % quotedTerm(rut));
    const QString phone = normalisePhone(trimmed);
    if (!phone.isEmpty() && allDigits(phone)) {
        QStringList terms{quotedTerm(phone)};
        // "+56 9 87": the country code of a number not yet typed whole.
        if (phone.size() > 2 && phone.startsWith(QStringLiteral("56")))
            terms.append(quotedTerm(phone.mid(2)));
        alternatives.append(columnSet(SearchKind::Phone) % QStringLiteral(" : (") %
                            terms.join(QStringLiteral(" OR ")) % u')');
    }
    return alternatives.join(QStringLiteral(" OR "));
}

// A file indexed whole is of the version that creates the index with the file.
Status stampIndexed(QSqlDatabase& db, const QString& path) {
    const QString doing = QStringLiteral("crear el índice de búsqueda");
    QSqlQuery v(db);
    if (!v.exec(QStringLiteral("PRAGMA user_version")) || !v.next())
        return failure(path, v.lastError(), doing);
    const int version = v.value(0).toInt();
    v.finish();
    if (version < kIndexedVersion &&
        !v.exec(QStringLiteral("PRAGMA user_version = %1").arg(kIndexedVersion)))
        return failure(path, v.lastError(), doing);
    return Status();
}

// Runs `body` in a write transaction of its own: committed when it succeeds, rolled back when not.
Status inTransaction(QSqlDatabase& db, const QString& path, const QString& doing,
                     const std::function<Status()>& body) {
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN IMMEDIATE")))
        return failure(path, q.lastError(), doing);
    Status result = body();
    if (result && !q.exec(QStringLiteral("COMMIT")))
        result = failure(path, q.lastError(), doing);
    if (!result)
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
    return result;
}

// Whether the file holds table `name`; false with `status` set when it cannot be read.
bool hasTable(const CardStore& cards, const QString& name, Status* status) {
    QSqlQuery q(cards.database());
    q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                             "name = ?"));
    q.addBindValue(name);
    if (!q.exec() || !q.next()) {
        *status = failure(cards.path(), q.lastError(), QStringLiteral("leer el archivo"));
        return false;
    }
    *status = Status();
    return q.value(0).toInt() > 0;
}

} // namespace

namespace FileSearch {

bool present(const CardStore& cards, Status* status) {
    const bool table = hasTable(cards, kTable, status);
    if (!*status)
        return false;
    QSqlQuery t(cards.database());
    t.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
                             "tbl_name = 'Clientes' AND name IN (?, ?, ?)"));
    for (const char* suffix : {"Alta", "Cambio", "Baja"})
        t.addBindValue(QString(kTable + QLatin1String(suffix)));
    if (!t.exec() || !t.next()) {
        *status = failure(cards.path(), t.lastError(), QStringLiteral("leer el archivo"));
        return false;
    }
    return table && t.value(0).toInt() == 3;
}

Status createIn(QSqlDatabase& db, const QString& path) {
    QSqlQuery q(db);
    // Whatever a failed or older attempt left is made again from scratch.
    for (const char* suffix : kTriggers) {
        if (!q.exec(QStringLiteral("DROP TRIGGER IF EXISTS ") % kTable % QLatin1String(suffix)))
            return failure(path, q.lastError(), QStringLiteral("crear el índice de búsqueda"));
    }
    if (!q.exec(QStringLiteral("DROP TABLE IF EXISTS ") % kReplaced) ||
        !q.exec(QStringLiteral("DROP TABLE IF EXISTS ") % kPending) ||
        !q.exec(QStringLiteral("DROP TABLE IF EXISTS ") % kTable))
        return failure(path, q.lastError(), QStringLiteral("crear el índice de búsqueda"));
    for (const QString& sql : schemaStatements()) {
        if (!q.exec(sql))
            return failure(path, q.lastError(), QStringLiteral("crear el índice de búsqueda"));
    }
    return Status();
}

Status check(CardStore& cards) {
    QSqlDatabase db = cards.database();
    const QString doing = QStringLiteral("revisar el índice de búsqueda");
    QSqlQuery q(db);
    q.prepare(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'trigger' AND "
                             "tbl_name = 'Clientes' AND name IN (?, ?, ?)"));
    for (const char* suffix : {"AntesAlta", "AntesCambio", "Reemplazo"})
        q.addBindValue(QString(kTable + QLatin1String(suffix)));
    if (!q.exec() || !q.next())
        return failure(cards.path(), q.lastError(), doing);
    const bool current = q.value(0).toInt() == 3;
    q.finish();
    // One entry per card: the index's own table of document sizes has a row per entry. The
    // cards' count is the one the store keeps (the grid's, taken at start), not a second walk
    // over a million entries; a write by another program in between only makes the mend below
    // run for nothing.
    Status counted;
    const qint64 stored = cards.recordCount(&counted);
    if (!counted)
        return counted;
    if (!q.exec(QStringLiteral("SELECT count(*) FROM ") % kTable % QStringLiteral("_docsize")) ||
        !q.next())
        return failure(cards.path(), q.lastError(), doing);
    const bool even = q.value(0).toLongLong() == stored;
    q.finish();
    if (current && even)
        return Status();

    return inTransaction(db, cards.path(), doing, [&]() -> Status {
        if (!current) {
            // Triggers of a version that missed the replaced cards: all made again.
            for (const char* suffix : kTriggers) {
                if (!q.exec(QStringLiteral("DROP TRIGGER IF EXISTS ") % kTable %
                            QLatin1String(suffix)))
                    return failure(cards.path(), q.lastError(), doing);
            }
            const QStringList statements = schemaStatements();
            for (qsizetype i = 1; i < statements.size(); ++i) {
                if (!q.exec(statements[i]))
                    return failure(cards.path(), q.lastError(), doing);
            }
        }
        // Entries of cards no longer stored go, cards without an entry get one.
        const QString entries =
            QStringLiteral("SELECT id FROM ") % kTable % QStringLiteral("_docsize");
        if (!q.exec(QStringLiteral("DELETE FROM ") % kTable % QStringLiteral(" WHERE rowid IN (") %
                    entries % QStringLiteral(" WHERE id NOT IN (SELECT id FROM Clientes))")) ||
            !q.exec(QStringLiteral("INSERT INTO ") % kTable % QStringLiteral("(rowid, ") %
                    columns() % QStringLiteral(") SELECT Clientes.id, ") %
                    values(QStringLiteral("Clientes")) %
                    QStringLiteral(" FROM Clientes WHERE Clientes.id NOT IN (") % entries % u')') ||
            !q.exec(QStringLiteral("DELETE FROM ") % kReplaced))
            return failure(cards.path(), q.lastError(), doing);
        return Status();
    });
}

Status build(CardStore& cards, const std::function<void(qint64, qint64)>& progress) {
    QSqlDatabase db = cards.database();
    const QString doing = QStringLiteral("crear el índice de búsqueda");
    return inTransaction(db, cards.path(), doing, [&]() -> Status {
        if (Status s = createIn(db, cards.path()); !s)
            return s;
        QSqlQuery range(db);
        if (!range.exec(QStringLiteral("SELECT min(id), max(id) FROM Clientes")) || !range.next())
            return failure(cards.path(), range.lastError(), doing);
        const bool empty = range.value(0).isNull();
        const qint64 first = range.value(0).toLongLong();
        const qint64 last = range.value(1).toLongLong();
        range.finish();
        if (!empty) {
            constexpr qint64 kChunk = 20000;
            QSqlQuery fill(db);
            if (!fill.prepare(fillSql()))
                return failure(cards.path(), fill.lastError(), doing);
            for (qint64 from = first; from <= last; from += kChunk) {
                if (progress)
                    progress(from - first, last - first + 1);
                fill.bindValue(0, from);
                fill.bindValue(1, std::min(last, from + kChunk - 1));
                if (!fill.exec())
                    return failure(cards.path(), fill.lastError(), doing);
            }
            if (progress)
                progress(last - first + 1, last - first + 1);
        }
        return stampIndexed(db, cards.path());
    });
}

bool filling(const CardStore& cards, Status* status) {
    return hasTable(cards, kPending, status);
}

Status begin(CardStore& cards) {
    QSqlDatabase db = cards.database();
    const QString doing = QStringLiteral("crear el índice de búsqueda");
    return inTransaction(db, cards.path(), doing, [&]() -> Status {
        if (Status s = createIn(db, cards.path()); !s)
            return s;
        QSqlQuery q(db);
        if (!q.exec(QStringLiteral("CREATE TABLE ") % kPending %
                    QStringLiteral(" (desde INTEGER)")) ||
            !q.exec(QStringLiteral("INSERT INTO ") % kPending %
                    QStringLiteral(" SELECT coalesce(min(id), 0) FROM Clientes")))
            return failure(cards.path(), q.lastError(), doing);
        return Status();
    });
}

Status fillStep(CardStore& cards, int limit, SearchFillProgress* progress) {
    QSqlDatabase db = cards.database();
    const QString doing = QStringLiteral("crear el índice de búsqueda");
    *progress = SearchFillProgress();
    return inTransaction(db, cards.path(), doing, [&]() -> Status {
        QSqlQuery q(db);
        // The first value of a one-row query; false when the query failed.
        const auto one = [&](const QString& sql, QVariant* value,
                             const QVariantList& binds = {}) -> bool {
            q.prepare(sql);
            for (const QVariant& v : binds)
                q.addBindValue(v);
            if (!q.exec())
                return false;
            *value = q.next() ? q.value(0) : QVariant();
            q.finish();
            return !q.lastError().isValid();
        };
        // Another program of this version may have ended the fill meanwhile.
        Status status;
        if (!filling(cards, &status)) {
            progress->finished = status.ok();
            return status;
        }
        QVariant from, range, lastId, next;
        if (!one(QStringLiteral("SELECT desde FROM ") % kPending, &from) ||
            !one(QStringLiteral("SELECT min(id) FROM Clientes"), &range) ||
            !one(QStringLiteral("SELECT max(id) FROM Clientes"), &lastId) ||
            // The step ends before the card `limit` places further on, or after the last card.
            !one(QStringLiteral("SELECT id FROM Clientes WHERE id >= ? ORDER BY id LIMIT 1 "
                                "OFFSET ?"),
                 &next, {from.toLongLong(), limit}))
            return failure(cards.path(), q.lastError(), doing);
        const qint64 first = range.toLongLong();
        const qint64 last = lastId.toLongLong();
        const qint64 start = from.toLongLong();
        const qint64 end = next.isNull() ? last + 1 : next.toLongLong();
        if (!range.isNull()) {
            q.prepare(QStringLiteral("INSERT INTO ") % kTable % QStringLiteral("(rowid, ") %
                      columns() % QStringLiteral(") SELECT Clientes.id, ") %
                      values(QStringLiteral("Clientes")) %
                      QStringLiteral(" FROM Clientes WHERE Clientes.id >= ? AND Clientes.id < ? "
                                     "AND Clientes.id NOT IN (SELECT id FROM ") %
                      kTable % QStringLiteral("_docsize WHERE id >= ? AND id < ?)"));
            for (qint64 bound : {start, end, start, end})
                q.addBindValue(bound);
            if (!q.exec())
                return failure(cards.path(), q.lastError(), doing);
        }
        if (next.isNull()) {
            if (!q.exec(QStringLiteral("DROP TABLE ") % kPending))
                return failure(cards.path(), q.lastError(), doing);
            progress->finished = true;
            return stampIndexed(db, cards.path());
        }
        q.prepare(QStringLiteral("UPDATE ") % kPending % QStringLiteral(" SET desde = ?"));
        q.addBindValue(end);
        if (!q.exec())
            return failure(cards.path(), q.lastError(), doing);
        progress->done = end - first;
        progress->total = last - first + 1;
        return Status();
    });
}

Status find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids) {
    const QString code = trimSpaces(typed);
    // Codes compare exactly: a prefix is a range on the code index. U+10FFFF sorts after every
    // character a code can continue with.
    if (Status s = collect(cards,
                           QStringLiteral("SELECT id FROM Clientes WHERE Codigo >= ?1 AND "
                                          "Codigo < ?1 || char(1114111)"),
                           {code}, ids);
        !s)
        return s;
    const QString expression = matchExpression(typed);
    if (!expression.isEmpty()) {
        if (Status s = collect(
                cards,
                QStringLiteral("SELECT rowid FROM ") % kTable % QStringLiteral(" WHERE ") % kTable %
                    QStringLiteral(" MATCH ? AND ") % kStored % QStringLiteral(" ORDER BY rowid"),
                {expression}, ids);
            !s)
            return s;
    }
    sortUniqueIds(ids);
    return Status();
}

Status sameOwner(const CardStore& cards, RowId id, const Card& card, std::vector<RowId>* ids) {
    const QString rut = normaliseRut(card[Rut]);
    const QString owner = foldedName(card[Propietario]);
    // The index finds the candidates; the exact comparison is made here, on the indexed values.
    const Field field = rut.isEmpty() ? Propietario : Rut;
    QStringList terms;
    for (const QString& w : searchWords(rut.isEmpty() ? card[Propietario] : rut))
        terms.append(u'"' % w % u'"');
    if (terms.isEmpty()) {
        ids->push_back(id);
        return Status();
    }
    QSqlQuery q(cards.database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT rowid, ") % columnName(field) % QStringLiteral(" FROM ") %
              kTable % QStringLiteral(" WHERE ") % kTable % QStringLiteral(" MATCH ? AND ") %
              kStored % QStringLiteral(" ORDER BY rowid"));
    q.addBindValue(QString(columnName(field) % QStringLiteral(" : (") %
                           terms.join(QStringLiteral(" AND ")) % u')'));
    if (!q.exec())
        return failure(cards.path(), q.lastError(), QStringLiteral("buscar las tarjetas"));
    while (q.next()) {
        const QString value = q.value(1).toString();
        if (rut.isEmpty() ? foldedName(value) == owner : value == rut)
            ids->push_back(q.value(0).toLongLong());
    }
    if (q.lastError().isValid())
        return failure(cards.path(), q.lastError(), QStringLiteral("buscar las tarjetas"));
    if (std::find(ids->begin(), ids->end(), id) == ids->end()) {
        // The card itself always belongs to its owner, even were the index behind.
        ids->push_back(id);
        sortUniqueIds(ids);
    }
    return Status();
}

} // namespace FileSearch

} // namespace store
