#include "SearchIndex.h"

#include "StoreEngine.h"

#include <QStringBuilder>

#include <algorithm>

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
    return cards.engine().searchBuild(progress);
}

Status SearchIndex::find(const CardStore& cards, const QString& typed, std::vector<RowId>* ids) {
    ids->clear();
    if (trimSpaces(typed).isEmpty())
        return Status();
    return cards.withConnection([&] {
        ids->clear();
        return cards.engine().searchFind(typed, ids);
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
