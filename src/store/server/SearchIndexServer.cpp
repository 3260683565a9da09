// The free-text search on a server registry: a table of (word, card id) pairs beside "Clientes",
// kept in step by statement triggers in plpgsql, so that cards written by any workstation or
// program are found. Each word carries a one-letter mark of the field it comes from. A prefix is a
// range of a btree over (word, id) read by an index-only scan: the most common surname of a million
// cards costs a few hundred index pages, where a GIN index would visit every page of a table to
// read the ids. Only built-in features are used: a practice's database user may not be allowed to
// install extensions.

#include "SearchIndexServer.h"

#include "PgLink.h"
#include "SearchIndex.h"
#include "ServerEngine.h"

#include <QHash>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringBuilder>
#include <QtEndian>

#include <algorithm>
#include <limits>
#include <map>

using namespace Qt::StringLiterals;

namespace store {

namespace {

// The schema of "Clientes" as the search path finds it, quoted.
const QString kTableSchemaSql =
    QStringLiteral("SELECT quote_ident(n.nspname) FROM pg_class t JOIN pg_namespace n ON n.oid = "
                   "t.relnamespace WHERE t.oid = to_regclass('\"Clientes\"')");

bool readTableSchema(QSqlQuery& q, QString* schema) {
    if (!q.exec(kTableSchemaSql) || !q.next())
        return false;
    *schema = q.value(0).toString();
    q.finish();
    return true;
}

const QString kTable = QStringLiteral("\"BusquedaTarjetas\"");
const QString kWordsFunction = QStringLiteral("\"BusquedaTarjetas_palabras\"");
const QString kTriggerFunction = QStringLiteral("\"BusquedaTarjetas_cambio\"");
const QString kKey = QStringLiteral("\"BusquedaTarjetas_pkey\"");
const QString kSetFunction = QStringLiteral("\"BusquedaTarjetas_lote\"");
// The triggers that keep the index, one per kind of write, each once per statement over the rows
// it wrote. The update's keeps the name of the row trigger of earlier versions, which look for it
// and the truncate's to tell the index is there.
const char* const kUpdateTrigger = "BusquedaTarjetasCambio";
const char* const kInsertTrigger = "BusquedaTarjetasAlta";
const char* const kDeleteTrigger = "BusquedaTarjetasBaja";
const char* const kTruncateTrigger = "BusquedaTarjetasVaciado";
const char* const kWriteTriggers[] = {kUpdateTrigger, kInsertTrigger, kDeleteTrigger};
constexpr int kIndexedVersion = 2;
// The first cards found are read ahead of the rest only for ranges of at most this many distinct
// words, and codes.
constexpr int kFirstWords = 16;
constexpr size_t kFirstCodes = 1000;
// Longer words are not indexed: a btree entry has to fit in a third of a page.
constexpr int kLongestWord = 1000;

// What a character becomes in an indexed word: itself, another character, a separator (space), or
// nothing. Letters of Latin-1 lose their accents and are lower-cased, its punctuation and that of
// the general punctuation block (non-breaking and typographic spaces, dashes, quotes) separates,
// and the combining accents of text written decomposed vanish. The table is kept short: the
// server's translate() looks each character of a value up in it one by one. Letters outside it
// are lower-cased by lower(), which follows the database's locale (under "C" only ASCII letters);
// every letter of Spanish is inside it.
struct FoldTable {
    QString from;
    QString to; // shorter than `from`: the characters past its end are dropped
    QHash<char16_t, QChar> map;
    QString dropped;
};

const FoldTable& foldTable() {
    static const FoldTable table = [] {
        FoldTable t;
        const auto add = [&t](char16_t c, QChar to) {
            t.from.append(QChar(c));
            t.to.append(to);
            t.map.insert(c, to);
        };
        for (char16_t c = 0x00A0; c <= 0x00FF; ++c) {
            const QChar ch(c);
            if (!ch.isLetterOrNumber()) {
                add(c, u' ');
                continue;
            }
            QString base;
            for (QChar d : QString(ch).normalized(QString::NormalizationForm_D)) {
                if (!d.isMark())
                    base.append(d);
            }
            base = base.toLower();
            if (base.size() == 1 && base.front() != ch)
                add(c, base.front());
        }
        for (char16_t c = 0x2000; c <= 0x2027; ++c)
            add(c, u' ');
        for (char16_t c : {u'\u202F', u'\u205F', u'\u3000'})
            add(c, u' ');
        for (char16_t c = 0x0300; c <= 0x0311; ++c)
            t.dropped.append(QChar(c));
        for (char16_t c = 0x0323; c <= 0x0328; ++c)
            t.dropped.append(QChar(c));
        t.from.append(t.dropped);
        return t;
    }();
    return table;
}

bool asciiSeparator(QChar c) {
    const char16_t u = c.unicode();
    return u < 0x80 &&
           !((u >= u'0' && u <= u'9') || (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z'));
}

// A text as an SQL literal that reads the same whatever the server's string settings: every
// character as a Unicode escape.
QString escapedLiteral(const QString& text) {
    QString out = QStringLiteral("E'");
    for (char32_t c : text.toUcs4())
        out.append(c > 0xFFFF ? QStringLiteral("\\U%1").arg(uint(c), 8, 16, QChar(u'0'))
                              : QStringLiteral("\\u%1").arg(uint(c), 4, 16, QChar(u'0')));
    return out + u'\'';
}

QString columnName(Field f) {
    return cardField(f).name.toString();
}

std::vector<Field> indexedFields() {
    std::vector<Field> fields;
    for (const CardField& f : cardFields()) {
        if (searchKind(f.field) != SearchKind::None)
            fields.push_back(f.field);
    }
    return fields;
}

// The mark of a field's words: R.U.T. and the telephones are looked up as one each, every name
// field on its own (all typed words must be in the same name).
QChar mark(Field f) {
    switch (searchKind(f)) {
    case SearchKind::Rut:
        return u'r';
    case SearchKind::Phone:
        return u't';
    default:
        return columnName(f).front();
    }
}

// The marked words of the card in `row` ("NEW", "OLD" or a table alias), one row each, no word
// twice.
QString markedWordsSql(const QString& schema, const QString& row) {
    QStringList parts;
    for (Field f : indexedFields()) {
        const QString value = row % u'.' % columnName(f);
        QString text = value;
        if (searchKind(f) == SearchKind::Rut)
            text = rutSql(value, Registry::Engine::PostgreSQL);
        else if (searchKind(f) == SearchKind::Phone)
            text = phoneSql(value, Registry::Engine::PostgreSQL);
        parts.append(QStringLiteral("SELECT '%1' || x FROM unnest(%2.%3(%4)) x")
                         .arg(mark(f), schema, kWordsFunction, text));
    }
    return parts.join(QStringLiteral(" UNION "));
}

// The (marked word, id) pairs of the cards of `cards`, a table or a trigger's transition table.
QString pairsSql(const QString& schema, const QString& cards) {
    return QStringLiteral("SELECT w.p, c.id FROM ") % cards %
           QStringLiteral(" c CROSS JOIN LATERAL (") % markedWordsSql(schema, QStringLiteral("c")) %
           QStringLiteral(") w(p)");
}

QString fillSql(const QString& schema, qint64 from, qint64 to) {
    return QStringLiteral("INSERT INTO ") % schema % u'.' % kTable %
           QStringLiteral(" (palabra, id) ") %
           pairsSql(schema, schema % QStringLiteral(".\"Clientes\"")) %
           QStringLiteral(" WHERE c.id BETWEEN %1 AND %2").arg(from).arg(to);
}

// The function and triggers that keep the index in step with "Clientes", replacing those of an
// earlier form. Each write statement is indexed set-wise once it ends, from its transition tables:
// a batch of thousands of cards costs a few statements instead of two per card. Of a changed card
// only the words it lost are deleted; every word it has is inserted unless there.
QStringList triggerStatements(const QString& schema) {
    const QString table = schema % u'.' % kTable;
    const QString cards = schema % QStringLiteral(".\"Clientes\"");
    const QString insertNew = QStringLiteral("INSERT INTO ") % table %
                              QStringLiteral(" (palabra, id) ") % pairsSql(schema, u"nuevas"_s) %
                              QStringLiteral(" ON CONFLICT DO NOTHING; ");
    // The pairs to delete go to the server as arrays: the plan of the delete is then made for
    // their number (a few lookups in the key, or one pass over the index for a whole table).
    const QString deleteGone =
        QStringLiteral("IF ids IS NOT NULL THEN EXECUTE 'DELETE FROM ") %
        QString(table).replace(u'\'', QStringLiteral("''")) %
        QStringLiteral(" b USING unnest($1, $2) x(p, id) WHERE b.palabra = x.p AND b.id = x.id' "
                       "USING palabras, ids; END IF; ");
    const QString gather = QStringLiteral(
        "SELECT array_agg(x.p), array_agg(x.id) INTO palabras, ids FROM (%1) x(p, id); ");
    // Of an update, only the rows whose id or indexed values changed: another program's update
    // of other columns over the whole table costs no words.
    QStringList oldValues, newValues;
    for (Field f : indexedFields()) {
        oldValues.append(QStringLiteral("o.") + columnName(f));
        newValues.append(QStringLiteral("n.") + columnName(f));
    }
    const QString changed =
        QStringLiteral("(SELECT %1.* FROM %2 %1 WHERE NOT EXISTS (SELECT FROM %3 %4 "
                       "WHERE n.id = o.id AND ROW(%5) IS NOT DISTINCT FROM ROW(%6)))")
            .arg(u"%1"_s, u"%2"_s, u"%3"_s, u"%4"_s, newValues.join(QStringLiteral(", ")),
                 oldValues.join(QStringLiteral(", ")));
    const QString oldChanged = changed.arg(u"o"_s, u"viejas"_s, u"nuevas"_s, u"n"_s);
    const QString newChanged = changed.arg(u"n"_s, u"nuevas"_s, u"viejas"_s, u"o"_s);
    QStringList statements;
    for (const char* name : kWriteTriggers)
        statements.append(
            QStringLiteral("DROP TRIGGER IF EXISTS \"%1\" ON %2").arg(QLatin1String(name), cards));
    statements += {
        QStringLiteral("CREATE OR REPLACE FUNCTION ") % schema % u'.' % kSetFunction %
            QStringLiteral("() RETURNS trigger LANGUAGE plpgsql AS $t$ DECLARE palabras text[]; "
                           "ids bigint[]; BEGIN IF TG_OP = 'INSERT' THEN ") %
            insertNew % QStringLiteral("ELSIF TG_OP = 'DELETE' THEN ") %
            gather.arg(pairsSql(schema, u"viejas"_s)) % deleteGone % QStringLiteral("ELSE ") %
            gather.arg(pairsSql(schema, oldChanged) % QStringLiteral(" EXCEPT ") %
                       pairsSql(schema, newChanged)) %
            deleteGone % QString(insertNew).replace(u"nuevas c"_s, newChanged + u" c"_s) %
            QStringLiteral("END IF; RETURN NULL; END $t$"),
        QStringLiteral("CREATE TRIGGER \"%1\" AFTER INSERT ON %2 REFERENCING NEW TABLE AS nuevas "
                       "FOR EACH STATEMENT EXECUTE FUNCTION %3.%4()")
            .arg(QLatin1String(kInsertTrigger), cards, schema, kSetFunction),
        QStringLiteral("CREATE TRIGGER \"%1\" AFTER UPDATE ON %2 REFERENCING OLD TABLE AS viejas "
                       "NEW TABLE AS nuevas FOR EACH STATEMENT EXECUTE FUNCTION %3.%4()")
            .arg(QLatin1String(kUpdateTrigger), cards, schema, kSetFunction),
        QStringLiteral("CREATE TRIGGER \"%1\" AFTER DELETE ON %2 REFERENCING OLD TABLE AS viejas "
                       "FOR EACH STATEMENT EXECUTE FUNCTION %3.%4()")
            .arg(QLatin1String(kDeleteTrigger), cards, schema, kSetFunction),
    };
    return statements;
}

QStringList createStatements(const QString& schema) {
    const QString table = schema % u'.' % kTable;
    const QString cards = schema % QStringLiteral(".\"Clientes\"");
    const FoldTable& fold = foldTable();
    // Values of plain ASCII, most of them, skip the table look-up.
    const QString words =
        QStringLiteral(
            "SELECT ARRAY(SELECT x FROM unnest(regexp_split_to_array(lower(CASE WHEN t ~ "
            "E'[^\\\\x01-\\\\x7f]' THEN translate(t, %1, %2) ELSE t END), "
            "E'[\\\\x01-\\\\x2f\\\\x3a-\\\\x40\\\\x5b-\\\\x60\\\\x7b-\\\\x7f]+')) x "
            "WHERE x <> '' AND octet_length(x) <= %3)")
            .arg(escapedLiteral(fold.from), escapedLiteral(fold.to))
            .arg(kLongestWord);
    return QStringList{
               QStringLiteral("DROP TRIGGER IF EXISTS \"%1\" ON %2")
                   .arg(QLatin1String(kTruncateTrigger), cards),
               QStringLiteral("DROP TABLE IF EXISTS ") % table,
               // Words compare as bytes, so that a prefix is a range.
               QStringLiteral("CREATE TABLE ") % table %
                   QStringLiteral(" (palabra text COLLATE \"C\" NOT NULL, id bigint NOT NULL)"),
               QStringLiteral("CREATE OR REPLACE FUNCTION ") % schema % u'.' % kWordsFunction %
                   QStringLiteral(
                       "(t text) RETURNS text[] LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $w$ ") %
                   words % QStringLiteral(" $w$"),
               // The truncate's. (Earlier versions' row trigger ran it too, for every card written:
               // the words of the card as it was were computed again to find its rows by the key.)
               QStringLiteral("CREATE OR REPLACE FUNCTION ") % schema % u'.' % kTriggerFunction %
                   QStringLiteral("() RETURNS trigger LANGUAGE plpgsql AS $t$ BEGIN "
                                  "IF TG_OP = 'TRUNCATE' THEN DELETE FROM ") %
                   table %
                   QStringLiteral("; RETURN NULL; END IF; "
                                  "IF TG_OP <> 'INSERT' THEN DELETE FROM ") %
                   table % QStringLiteral(" WHERE id = OLD.id AND palabra IN (") %
                   markedWordsSql(schema, QStringLiteral("OLD")) %
                   QStringLiteral("); END IF; IF TG_OP <> 'DELETE' THEN INSERT INTO ") % table %
                   QStringLiteral(" (palabra, id) SELECT w.p, NEW.id FROM (") %
                   markedWordsSql(schema, QStringLiteral("NEW")) %
                   QStringLiteral(") w(p) ON CONFLICT DO NOTHING; END IF; RETURN NULL; END $t$"),
               QStringLiteral(
                   "CREATE TRIGGER \"%1\" AFTER TRUNCATE ON %2 FOR EACH STATEMENT EXECUTE "
                   "FUNCTION %3.%4()")
                   .arg(QLatin1String(kTruncateTrigger), cards, schema, kTriggerFunction),
           } +
           triggerStatements(schema);
}

QString keySql(const QString& schema) {
    return QStringLiteral("ALTER TABLE ") % schema % u'.' % kTable %
           QStringLiteral(" ADD CONSTRAINT ") % kKey % QStringLiteral(" PRIMARY KEY (palabra, id)");
}

bool allDigits(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

} // namespace

QStringList serverWords(QStringView text) {
    const FoldTable& fold = foldTable();
    QString folded;
    folded.reserve(text.size());
    for (QChar c : text) {
        if (const auto to = fold.map.constFind(c.unicode()); to != fold.map.cend())
            folded.append(*to);
        else if (!fold.dropped.contains(c))
            folded.append(c);
    }
    folded = folded.toLower();
    QStringList words;
    QString word;
    const auto take = [&] {
        if (!word.isEmpty() && word.toUtf8().size() <= kLongestWord)
            words.append(word);
        word.clear();
    };
    for (QChar c : folded) {
        if (asciiSeparator(c))
            take();
        else
            word.append(c);
    }
    take();
    return words;
}

QString ServerSearch::wordsSql(const QString& value) {
    return kWordsFunction % u'(' % value % u')';
}

Status ServerSearch::present(const CardStore& cards, bool* present, bool* earlierForm) {
    *present = false;
    if (earlierForm)
        *earlierForm = false;
    QSqlQuery q(cards.database());
    // Bit 1 of tgtype tells a row trigger.
    const QString triggers = QStringLiteral(
        "(SELECT count(*) FROM pg_trigger WHERE tgrelid = to_regclass('\"Clientes\"') AND "
        "tgenabled <> 'D' AND tgname IN (%1) AND tgtype & 1 = %2)");
    q.prepare(QStringLiteral("SELECT to_regclass(?) IS NOT NULL, ") % triggers.arg(u"?"_s, u"0"_s) %
              u", " % triggers.arg(u"?, ?, ?"_s, u"0"_s) % u", " % triggers.arg(u"?"_s, u"1"_s));
    q.addBindValue(kTable);
    q.addBindValue(QLatin1String(kTruncateTrigger));
    for (const char* name : kWriteTriggers)
        q.addBindValue(QLatin1String(name));
    q.addBindValue(QLatin1String(kUpdateTrigger));
    if (!q.exec() || !q.next())
        return cards.failure(q.lastError(), QStringLiteral("leer la base de datos"));
    const bool base = q.value(0).toBool() && q.value(1).toInt() == 1;
    const bool rows = q.value(3).toInt() == 1;
    *present = base && (q.value(2).toInt() == 3 || rows);
    if (earlierForm)
        *earlierForm = base && rows;
    return Status();
}

Status ServerSearch::upgradeIn(const CardStore& cards, bool* upgraded) {
    *upgraded = false;
    const QString doing = QStringLiteral("actualizar el índice de búsqueda");
    QSqlQuery q(cards.database());
    // Two workstations opening at once: the second waits for the first, then finds it done.
    // The table's lock holds writes of other workstations back until the new triggers are there
    // (the old one indexed every write before it), so that none is missed.
    if (!q.exec(QStringLiteral("SELECT pg_advisory_xact_lock(20261208)")) ||
        !q.exec(QStringLiteral("LOCK TABLE \"Clientes\" IN SHARE ROW EXCLUSIVE MODE")))
        return cards.failure(q.lastError(), doing);
    bool made = false, earlier = false;
    if (Status s = present(cards, &made, &earlier); !s || !earlier)
        return s;
    QString schema;
    if (!readTableSchema(q, &schema))
        return cards.failure(q.lastError(), doing);
    if (!q.exec(QStringLiteral("SET LOCAL client_min_messages = warning")))
        return cards.failure(q.lastError(), doing);
    for (const QString& sql : triggerStatements(schema)) {
        if (!q.exec(sql))
            return cards.failure(q.lastError(), doing);
    }
    *upgraded = true;
    return Status();
}

Status ServerSearch::createIn(const CardStore& cards,
                              const std::function<void(qint64, qint64)>& progress) {
    QSqlDatabase db = cards.database();
    const QString doing = QStringLiteral("crear el índice de búsqueda");
    QSqlQuery q(db);
    // The index goes beside "Clientes", wherever the search path found it, and the trigger names
    // its objects with that schema, whatever the search path of the program that writes.
    QString schema;
    if (!readTableSchema(q, &schema))
        return cards.failure(q.lastError(), doing);
    // Dropping what is not there is no news.
    if (!q.exec(QStringLiteral("SET LOCAL client_min_messages = warning")))
        return cards.failure(q.lastError(), doing);
    if (!q.exec(QStringLiteral("SELECT min(id), max(id) FROM \"Clientes\"")) || !q.next())
        return cards.failure(q.lastError(), doing);
    const bool empty = q.value(0).isNull();
    const qint64 first = q.value(0).toLongLong();
    const qint64 last = q.value(1).toLongLong();
    q.finish();
    for (const QString& sql : createStatements(schema)) {
        if (!q.exec(sql))
            return cards.failure(q.lastError(), doing);
    }
    // Filled first and keyed after: one sort instead of millions of inserts into a btree.
    const qint64 span = empty ? 0 : last - first + 1;
    const qint64 total = span + span / 4 + 1; // the last part for the key itself
    constexpr qint64 kChunk = 50000;
    for (qint64 from = first; !empty && from <= last; from += kChunk) {
        if (progress)
            progress(from - first, total);
        if (!q.exec(fillSql(schema, from, std::min(last, from + kChunk - 1))))
            return cards.failure(q.lastError(), doing);
    }
    if (progress)
        progress(span, total);
    if (!q.exec(keySql(schema)))
        return cards.failure(q.lastError(), doing);
    if (progress)
        progress(total, total);
    return Status();
}

Status ServerSearch::build(CardStore& cards, const std::function<void(qint64, qint64)>& progress) {
    QSqlDatabase db = cards.database();
    const QString doing = QStringLiteral("crear el índice de búsqueda");
    QSqlQuery q(db);
    if (!q.exec(QStringLiteral("BEGIN")))
        return cards.failure(q.lastError(), doing);
    const auto body = [&]() -> Status {
        // Writes of other workstations wait until the index is there, so that none is missed;
        // a second workstation starting meanwhile waits too, then finds the index made.
        // Indexing every card may take longer than a command's statements are allowed.
        if (!q.exec(QStringLiteral("SET LOCAL lock_timeout = 0")) ||
            !q.exec(QStringLiteral("SET LOCAL statement_timeout = 0")) ||
            !q.exec(QStringLiteral("SET LOCAL maintenance_work_mem = '256MB'")) ||
            !q.exec(QStringLiteral("LOCK TABLE \"Clientes\" IN SHARE ROW EXCLUSIVE MODE")))
            return cards.failure(q.lastError(), doing);
        bool made = false;
        if (Status s = present(cards, &made); !s || made)
            return s;
        if (Status s = createIn(cards, progress); !s)
            return s;
        // A registry indexed here is of the version that makes the index with the registry.
        if (!q.exec(QStringLiteral("SELECT obj_description(to_regclass('\"Clientes\"'), "
                                   "'pg_class')")) ||
            !q.next())
            return cards.failure(q.lastError(), doing);
        const QString comment = q.value(0).toString();
        q.finish();
        const int version = comment.startsWith(u"tarjetas ") ? comment.mid(9).toInt() : 0;
        if (version < kIndexedVersion &&
            !q.exec(QStringLiteral("COMMENT ON TABLE \"Clientes\" IS 'tarjetas %1'")
                        .arg(kIndexedVersion)))
            return cards.failure(q.lastError(), doing);
        return Status();
    };
    Status result = body();
    if (result && !q.exec(QStringLiteral("COMMIT")))
        result = cards.failure(q.lastError(), doing);
    if (!result) {
        QSqlQuery(db).exec(QStringLiteral("ROLLBACK"));
        return result;
    }
    // Index-only scans need the table's pages marked all-visible, and the planner its figures;
    // autovacuum would get there later. Without the right to vacuum, the search is slower until.
    (void)q.exec(QStringLiteral("SET statement_timeout = 0"));
    (void)q.exec(QStringLiteral("VACUUM (ANALYZE) ") + kTable);
    (void)q.exec(QStringLiteral("SET statement_timeout = %1").arg(kStatementTimeoutMs));
    return result;
}

namespace {

// The schema of "Clientes" as the link's search path finds it, quoted.
bool schemaOf(PgLink& link, QString* schema, SqlReason* failure) {
    return link.query(
        kTableSchemaSql, {}, [&](PgLink::Row row) { *schema = QString::fromUtf8(row[0]); },
        failure);
}

} // namespace

bool ServerSearch::deferIndexing(PgLink& link) {
    SqlReason ignored;
    QString schema;
    if (!schemaOf(link, &schema, &ignored) || schema.isEmpty() ||
        !link.exec(QStringLiteral("SAVEPOINT indice_diferido"), &ignored))
        return false;
    bool off = true;
    for (const char* name : kWriteTriggers)
        off = off && link.exec(QStringLiteral("ALTER TABLE %1.\"Clientes\" DISABLE TRIGGER \"%2\"")
                                   .arg(schema, QLatin1String(name)),
                               &ignored);
    if (off &&
        link.exec(QStringLiteral("ALTER TABLE %1.%2 DROP CONSTRAINT %3").arg(schema, kTable, kKey),
                  &ignored))
        return link.exec(QStringLiteral("RELEASE SAVEPOINT indice_diferido"), &ignored);
    // Not the owner (or an index of an earlier form): the triggers index the cards as they come.
    (void)link.exec(QStringLiteral("ROLLBACK TO SAVEPOINT indice_diferido"), &ignored);
    return false;
}

bool ServerSearch::indexDeferred(PgLink& link, SqlReason* failure) {
    QString schema;
    bool ok = schemaOf(link, &schema, failure) &&
              link.exec(QStringLiteral("DELETE FROM %1.%2").arg(schema, kTable), failure) &&
              link.exec(fillSql(schema, std::numeric_limits<qint64>::min(),
                                std::numeric_limits<qint64>::max()),
                        failure) &&
              link.exec(keySql(schema), failure);
    for (const char* name : kWriteTriggers)
        ok = ok && link.exec(QStringLiteral("ALTER TABLE %1.\"Clientes\" ENABLE TRIGGER \"%2\"")
                                 .arg(schema, QLatin1String(name)),
                             failure);
    return ok;
}

namespace {

// A range of the index's words: those that begin with `marked` (a field's mark and a typed
// word). Of the ranges of one `group` (>= 0) a card must match every one; of group -1 one is
// enough.
struct WordRange {
    QString marked;
    int group = -1;
};

// The word ranges the typed text looks up, beside the range of codes: every typed word begins a
// word of the same name, the owner's or the animal's; a R.U.T. or telephone typed begins one.
std::vector<WordRange> wordRanges(const QString& typed) {
    std::vector<WordRange> ranges;
    if (const QStringList words = serverWords(typed); !words.isEmpty()) {
        int group = 0;
        for (Field f : indexedFields()) {
            if (searchKind(f) != SearchKind::Words)
                continue;
            for (const QString& w : words)
                ranges.push_back({mark(f) + w, words.size() > 1 ? group : -1});
            ++group;
        }
    }
    const QString trimmed = typed.trimmed();
    const QString rut = normaliseRut(trimmed);
    const QStringList rutWords = serverWords(rut);
    if (rutWords.size() == 1 && allDigits(QStringView(rut).chopped(rut.endsWith(u'K') ? 1 : 0)))
        ranges.push_back({u'r' + rutWords.front()});
    const QString phone = normalisePhone(trimmed);
    if (!phone.isEmpty() && allDigits(phone)) {
        ranges.push_back({u't' + phone});
        // "+56 9 87": the country code of a number not yet typed whole.
        if (phone.size() > 2 && phone.startsWith(QStringLiteral("56")))
            ranges.push_back({u't' + phone.mid(2)});
    }
    return ranges;
}

// The SQL of the codes that begin with `code` (a quoted literal).
QString codeRangeSql(const QString& code) {
    return u"\"Codigo\" >= "_s % code % u" COLLATE \"C\" AND \"Codigo\" < ("_s % code %
           u" || chr(1114111)) COLLATE \"C\""_s;
}

// The index entries of the words that begin with `word` (a quoted literal).
QString entriesSql(const QString& word) {
    return kTable % u" WHERE palabra >= "_s % word % u" COLLATE \"C\" AND palabra < ("_s % word %
           u" || chr(1114111)) COLLATE \"C\""_s;
}

Status quotingFailure() {
    return Status::failure(ErrorKind::Io,
                           QStringLiteral("El texto buscado no se pudo enviar al servidor."),
                           QStringLiteral("PQescapeLiteral failed"));
}

} // namespace

Status ServerSearch::find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids) {
    const QString doing = QStringLiteral("buscar las tarjetas");
    Status status;
    PgLink* link = static_cast<const ServerEngine&>(cards.engine()).bulk(&status, doing);
    if (!link)
        return status;
    // One COPY: the code range, then one range of marked words per typed word and field, each
    // row told apart by the number of its text; the answers are put together here. A COPY's rows
    // are taken in as they arrive, where a query's answer would first be held whole: tens of
    // megabytes for a surname a million cards share. A COPY takes no parameters, so the typed
    // texts go in as literals quoted by libpq.
    std::vector<QString> texts;
    const auto text = [&](const QString& value) {
        texts.push_back(QString::fromUtf8(link->literal(value.toUtf8())));
        return texts.back();
    };
    QString sql =
        u"SELECT 1, id FROM \"Clientes\" WHERE "_s % codeRangeSql(text(trimSpaces(typed)));
    // A range of a field whose other ranges must all match too is read only when each of them
    // has an entry: a R.U.T. typed whole, "10.877.939-K", has the word "k", which begins a good
    // share of the animals' names, and "10", which begins none. Whether each has is asked once,
    // in `guard`: column gN for the Nth such field.
    QStringList guards;
    const auto range = [&](const QString& marked, int guard = -1) {
        const QString quoted = text(marked);
        const int n = int(texts.size());
        // Index entries only, never a look at the cards: the server's triggers keep the entries
        // in step with every write it takes, and checking each entry's card took nine tenths of
        // the time of a common surname's search.
        sql += QStringLiteral(" UNION ALL SELECT %1, id FROM ").arg(n) + entriesSql(quoted);
        if (guard >= 0)
            sql += QStringLiteral(" AND (SELECT g%1 FROM guard)").arg(guard);
        return n;
    };
    std::vector<std::vector<int>> allOf; // per group, the ranges that must all match
    std::vector<int> anyOf{1};           // the code and the ranges of which one is enough
    const std::vector<WordRange> ranges = wordRanges(typed);
    for (size_t i = 0; i < ranges.size();) {
        const int group = ranges[i].group;
        if (group < 0) {
            anyOf.push_back(range(ranges[i++].marked));
            continue;
        }
        // The ranges of one group come one after the other.
        const int guard = int(guards.size());
        QStringList each;
        allOf.emplace_back();
        for (; i < ranges.size() && ranges[i].group == group; ++i) {
            const int n = range(ranges[i].marked, guard);
            allOf.back().push_back(n);
            each.append(u"EXISTS (SELECT 1 FROM "_s % entriesSql(texts[size_t(n - 1)]) % u')');
        }
        guards.append(each.join(QStringLiteral(" AND ")) + QStringLiteral(" AS g%1").arg(guard));
    }
    if (std::any_of(texts.begin(), texts.end(), [](const QString& t) { return t.isEmpty(); }))
        return quotingFailure();
    if (!guards.isEmpty())
        sql = QStringLiteral("WITH guard AS MATERIALIZED (SELECT ") %
              guards.join(QStringLiteral(", ")) % QStringLiteral(") ") % sql;
    std::vector<std::vector<RowId>> found(texts.size() + 1);
    SqlReason reason;
    if (!link->copyOut(
            sql, 2,
            [&](PgLink::Row row) {
                const qint32 n = row[0].size() == 4 ? qFromBigEndian<qint32>(row[0].data()) : 0;
                if (n > 0 && size_t(n) < found.size())
                    found[size_t(n)].push_back(PgLink::bigint(row[1]));
                return true;
            },
            &reason))
        return cards.failure(reason, doing);
    // The first list found is taken over rather than copied: a common surname's is a million ids.
    const auto add = [&](std::vector<RowId>&& more) {
        if (ids->empty())
            *ids = std::move(more);
        else
            ids->insert(ids->end(), more.begin(), more.end());
    };
    for (int n : anyOf)
        add(std::move(found[size_t(n)]));
    for (const std::vector<int>& members : allOf) {
        std::vector<RowId> both;
        for (size_t i = 0; i < members.size(); ++i) {
            std::vector<RowId>& next = found[size_t(members[i])];
            sortUniqueIds(&next);
            if (i == 0) {
                both = std::move(next);
                continue;
            }
            std::vector<RowId> kept;
            std::set_intersection(both.begin(), both.end(), next.begin(), next.end(),
                                  std::back_inserter(kept));
            both = std::move(kept);
        }
        add(std::move(both));
    }
    return Status();
}

Status ServerSearch::findFirst(const CardStore& cards, const QString& typed, size_t limit,
                               std::vector<RowId>* ids, bool* offered, bool* whole) {
    ids->clear();
    *offered = *whole = false;
    const std::vector<WordRange> ranges = wordRanges(typed);
    // Several typed words: the cards found are those of every word's range at once, which only
    // the whole ranges tell.
    if (limit == 0 ||
        std::any_of(ranges.begin(), ranges.end(), [](const WordRange& r) { return r.group >= 0; }))
        return Status();
    const QString doing = QStringLiteral("buscar las tarjetas");
    Status status;
    PgLink* link = static_cast<const ServerEngine&>(cards.engine()).bulk(&status, doing);
    if (!link)
        return status;
    // The first cards found are among the first `limit` ids of each word found, which the
    // index holds in id order: each range's distinct words are walked one index probe apiece,
    // and each word's first ids read, a few pages each, however many cards share it. A range of
    // more words than that (a prefix of one letter), or codes beyond a few pages, are left to
    // the whole search. Each row is (range, word's number in its range, id); range 0 the codes.
    const QString rows = QString::number(limit);
    bool quoted = true;
    const auto text = [&](const QString& value) -> QString {
        const QString literal = QString::fromUtf8(link->literal(value.toUtf8()));
        quoted = quoted && !literal.isEmpty();
        return literal;
    };
    QString sql = u"SELECT 0, 0, id FROM (SELECT id FROM \"Clientes\" WHERE "_s %
                  codeRangeSql(text(trimSpaces(typed))) % u" LIMIT "_s %
                  QString::number(kFirstCodes + 1) % u") c"_s;
    for (size_t r = 0; r < ranges.size(); ++r) {
        const QString word = text(ranges[r].marked);
        const QString below = u"palabra < ("_s % word % u" || chr(1114111)) COLLATE \"C\""_s;
        sql +=
            u" UNION ALL SELECT "_s % QString::number(r + 1) %
            u", w.k, x.id FROM (WITH RECURSIVE w(p, k) AS (SELECT min(palabra), 1 FROM "_s %
            kTable % u" WHERE palabra >= "_s % word % u" COLLATE \"C\" AND "_s % below %
            u" UNION ALL SELECT (SELECT min(palabra) FROM "_s % kTable %
            u" WHERE palabra > w.p AND "_s % below %
            u"), w.k + 1 FROM w WHERE w.p IS NOT "_s
            u"NULL AND w.k <= "_s %
            QString::number(kFirstWords) %
            u") SELECT p, k FROM w WHERE p IS NOT NULL) w CROSS JOIN LATERAL (SELECT id FROM "_s %
            kTable % u" WHERE palabra = w.p ORDER BY id LIMIT "_s % rows % u") x"_s;
    }
    if (!quoted)
        return quotingFailure();
    std::map<std::pair<qint32, qint32>, size_t> perWord;
    SqlReason reason;
    if (!link->copyOut(
            sql, 3,
            [&](PgLink::Row row) {
                if (row[0].size() != 4 || row[1].size() != 4)
                    return true;
                const qint32 range = qFromBigEndian<qint32>(row[0].data());
                const qint32 word = qFromBigEndian<qint32>(row[1].data());
                ++perWord[{range, word}];
                ids->push_back(PgLink::bigint(row[2]));
                return true;
            },
            &reason))
        return cards.failure(reason, doing);
    bool cut = false;
    for (const auto& [key, count] : perWord) {
        if (key.first == 0 ? count > kFirstCodes : key.second > kFirstWords) {
            ids->clear();
            return Status();
        }
        cut = cut || (key.first > 0 && count >= limit);
    }
    sortUniqueIds(ids);
    *offered = true;
    *whole = !cut;
    if (cut && ids->size() > limit)
        ids->resize(limit);
    return Status();
}

Status ServerSearch::sameOwner(const CardStore& cards, Field field, const QString& value,
                               const std::function<bool(const QString&)>& same,
                               std::vector<RowId>* ids) {
    const QString doing = QStringLiteral("buscar las tarjetas");
    const QStringList words = serverWords(value);
    if (words.isEmpty())
        return Status();
    Status status;
    PgLink* link = static_cast<const ServerEngine&>(cards.engine()).bulk(&status, doing);
    if (!link)
        return status;
    // The cards with the longest of the words are the candidates; the exact comparison is the
    // caller's.
    const QString longest =
        *std::max_element(words.begin(), words.end(),
                          [](const QString& a, const QString& b) { return a.size() < b.size(); });
    const std::vector<QByteArray> params{QString(mark(field) + longest).toUtf8()};
    const QString column = columnName(field);
    SqlReason reason;
    if (!link->query(
            QStringLiteral("SELECT b.id, c.") % column % QStringLiteral(" FROM ") % kTable %
                QStringLiteral(" b JOIN \"Clientes\" c ON c.id = b.id WHERE b.palabra = "
                               "$1 COLLATE \"C\""),
            params,
            [&](PgLink::Row row) {
                if (same(QString::fromUtf8(row[1])))
                    ids->push_back(row[0].toLongLong());
            },
            &reason))
        return cards.failure(reason, doing);
    return Status();
}

} // namespace store
