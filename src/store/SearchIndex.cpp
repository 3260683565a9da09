#include "SearchIndex.h"

#include "FileSearch.h"
#include "StoreEngine.h"

#include <QCoreApplication>
#include <QSqlError>
#include <QSqlQuery>

#include <QStringBuilder>

#include <algorithm>
#include <memory>

namespace store {

namespace {

// The characters a R.U.T. and a telephone are written with besides their digits.
constexpr char16_t kRutMarks[] = {u'.', u'-', u' '};
constexpr char16_t kPhoneMarks[] = {u' ', u'-', u'.', u'+', u'(', u')'};
// A number this long that begins with 56 carries the country code.
constexpr int kWithCountryCode = 10;

bool allDigits(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c >= u'0' && c <= u'9'; });
}

QString withoutMarks(QStringView text, std::span<const char16_t> marks) {
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (std::find(marks.begin(), marks.end(), c.unicode()) == marks.end())
            out.append(c);
    }
    return out;
}

QString replaceChain(const QString& value, std::span<const char16_t> marks) {
    QString sql = value;
    for (char16_t mark : marks)
        sql = QStringLiteral("replace(%1, '%2', '')").arg(sql, QChar(mark));
    return sql;
}

} // namespace

QString normaliseRut(QStringView text) {
    return withoutMarks(text, kRutMarks).toUpper();
}

QString normalisePhone(QStringView text) {
    QString digits = withoutMarks(text, kPhoneMarks);
    if (digits.size() >= kWithCountryCode && digits.startsWith(QStringLiteral("56")) &&
        allDigits(digits))
        digits.remove(0, 2);
    return digits;
}

QString rutSql(const QString& value, Registry::Engine) {
    return QStringLiteral("upper(%1)").arg(replaceChain(value, kRutMarks));
}

QString phoneSql(const QString& value, Registry::Engine engine) {
    const QString digits = replaceChain(value, kPhoneMarks);
    const QString notAllDigits = engine == Registry::Engine::PostgreSQL
                                     ? QStringLiteral("%1 ~ '[^0-9]'")
                                     : QStringLiteral("%1 GLOB '*[^0-9]*'");
    return QStringLiteral("CASE WHEN length(%1) >= %2 AND substr(%1, 1, 2) = '56' AND NOT (%3) "
                          "THEN substr(%1, 3) ELSE %1 END")
        .arg(digits)
        .arg(kWithCountryCode)
        .arg(notAllDigits.arg(digits));
}

QStringList searchWords(QStringView text) {
    QStringList words;
    QString word;
    for (QChar c : text) {
        if (c.isLetterOrNumber() || c.isMark()) {
            word.append(c);
        } else if (!word.isEmpty()) {
            words.append(word);
            word.clear();
        }
    }
    if (!word.isEmpty())
        words.append(word);
    return words;
}

QString foldedName(QStringView text) {
    QString folded;
    for (const QString& word : searchWords(text)) {
        if (!folded.isEmpty())
            folded.append(u' ');
        for (QChar c : word.normalized(QString::NormalizationForm_D)) {
            if (!c.isMark())
                folded.append(c);
        }
    }
    return folded.toCaseFolded();
}

bool SearchIndex::present(const CardStore& cards, Status* status) {
    bool made = false;
    *status = cards.call([&] {
        Status s;
        made = cards.engine().searchPresent(&s);
        return s;
    });
    return made;
}

Status SearchIndex::build(CardStore& cards, const std::function<void(qint64, qint64)>& progress) {
    if (!cards.handOver())
        return cards.engine().searchBuild(progress);
    // On the store's thread, as a walk that keeps its time while it moves; its progress is told
    // on the caller's thread while it waits, and no longer once the wait is over.
    StoreThread* thread = cards.storeThread();
    QObject* caller = QCoreApplication::instance();
    const auto waiting = std::make_shared<bool>(true);
    const Status s = cards.call(
        [&] {
            return cards.engine().searchBuild([&](qint64 done, qint64 total) {
                thread->progress();
                if (progress)
                    QMetaObject::invokeMethod(
                        caller,
                        [waiting, &progress, done, total] {
                            if (*waiting)
                                progress(done, total);
                        },
                        Qt::QueuedConnection);
            });
        },
        StoreThread::Kind::Scan);
    *waiting = false;
    return s;
}

bool SearchIndex::fillsInSteps(const CardStore& cards) {
    return !cards.registry().isServer();
}

bool SearchIndex::filling(const CardStore& cards, Status* status) {
    if (!fillsInSteps(cards)) {
        *status = Status();
        return false;
    }
    bool filling = false;
    *status = cards.call([&] {
        Status s;
        filling = FileSearch::filling(cards, &s);
        return s;
    });
    return filling;
}

Status SearchIndex::begin(CardStore& cards) {
    if (!fillsInSteps(cards))
        return build(cards, {});
    return cards.call([&] { return FileSearch::begin(cards); });
}

Status SearchIndex::fillStep(CardStore& cards, int limit, SearchFillProgress* progress) {
    *progress = SearchFillProgress();
    if (!fillsInSteps(cards)) {
        progress->finished = true;
        return Status();
    }
    return cards.call([&] { return FileSearch::fillStep(cards, limit, progress); },
                      StoreThread::Kind::Look);
}

Status SearchIndex::find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids) {
    bool whole = true;
    return findFirst(cards, typed, 0, ids, &whole);
}

Status SearchIndex::findFirst(const CardStore& cards, const QString& typed, size_t limit,
                              std::vector<RowId>* ids, bool* whole) {
    ids->clear();
    *whole = true;
    if (trimSpaces(typed).isEmpty())
        return Status();
    return cards.withConnection([&] {
        ids->clear();
        *whole = true;
        return cards.engine().searchFindFirst(typed, limit, ids, whole);
    });
}

Status SearchIndex::check(CardStore& cards, StoreThread::Kind kind) {
    // A server's triggers run for every kind of write it takes (an INSERT … ON CONFLICT that
    // replaces a card is an update of it): only a write made with the triggers switched off
    // leaves entries behind, and a card gone that way lists as an empty row in a search's
    // listing. A sweep of every entry at each start would cost seconds there.
    if (cards.registry().isServer())
        return Status();
    return cards.call([&] { return FileSearch::check(cards); }, kind);
}

Status SearchIndex::codesAround(const CardStore& cards, const QString& text, int limit,
                                std::vector<QString>* codes) {
    codes->clear();
    if (text.isEmpty())
        return Status();
    QString pattern = text;
    pattern.replace(u'\\', QStringLiteral("\\\\"))
        .replace(u'%', QStringLiteral("\\%"))
        .replace(u'_', QStringLiteral("\\_"));
    // One pass over the code index (a file's LIKE ignores the case of ASCII letters, a server's
    // ILIKE of every letter): only asked when a read code is not stored, some hundred ms at a
    // million cards.
    const QString like =
        cards.registry().isServer() ? QStringLiteral("ILIKE") : QStringLiteral("LIKE");
    return cards.withConnection([&] {
        codes->clear();
        QSqlQuery q(cards.database());
        q.setForwardOnly(true);
        q.prepare(
            QStringLiteral("SELECT \"Codigo\" FROM \"Clientes\" WHERE (\"Codigo\" %1 ? ESCAPE "
                           "'\\' OR \"Codigo\" %1 ? ESCAPE '\\') AND \"Codigo\" <> ? LIMIT ?")
                .arg(like));
        q.addBindValue(QString(pattern + u'%'));
        q.addBindValue(QString(u'%' + pattern));
        q.addBindValue(text);
        q.addBindValue(limit);
        if (!q.exec())
            return cards.failure(q.lastError(), QStringLiteral("buscar el código leído"));
        while (q.next())
            codes->push_back(q.value(0).toString());
        if (q.lastError().isValid())
            return cards.failure(q.lastError(), QStringLiteral("buscar el código leído"));
        return Status();
    });
}

Status SearchIndex::sameOwner(const CardStore& cards, RowId id, std::vector<RowId>* ids) {
    ids->clear();
    Card card;
    if (Status s = cards.readCard(id, &card); !s)
        return s;
    if (normaliseRut(card[Rut]).isEmpty() && foldedName(card[Propietario]).isEmpty()) {
        ids->push_back(id);
        return Status();
    }
    return cards.withConnection([&] {
        ids->clear();
        return cards.engine().searchSameOwner(id, card, ids);
    });
}

} // namespace store
