#include "ImplantReport.h"

#include "CardStore.h"
#include "CsvExport.h"
#include "Dates.h"
#include "PgLink.h"

#include <QAtomicInteger>
#include <QFileInfo>
#include <QLocale>
#include <QMutex>
#include <QSet>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringBuilder>

#include <algorithm>
#include <map>

namespace report {

using store::ErrorKind;
using store::Status;

namespace {

const QLocale& spanish() {
    static const QLocale locale(QLocale::Spanish, QLocale::Chile);
    return locale;
}

// Beyond this many months or weeks the empty ones between are not listed: a range of "todas las
// fechas" over a century would otherwise be mostly zeros.
constexpr int kMostFilledPeriods = 400;

// The period a date falls in, as a number that sorts in time order.
int periodKey(const QDate& date, Grouping by) {
    if (by == Grouping::Week) {
        int year = 0;
        const int week = date.weekNumber(&year);
        return year * 100 + week;
    }
    return date.year() * 100 + date.month();
}

// The first day of a period.
QDate periodStart(const QDate& date, Grouping by) {
    if (by == Grouping::Week)
        return date.addDays(1 - date.dayOfWeek());
    return QDate(date.year(), date.month(), 1);
}

QDate nextPeriod(const QDate& start, Grouping by) {
    return by == Grouping::Week ? start.addDays(7) : start.addMonths(1);
}

QString periodLabel(const QDate& start, Grouping by) {
    if (by == Grouping::Week) {
        int year = 0;
        const int week = start.weekNumber(&year);
        return QStringLiteral("Semana %1 de %2 (%3 al %4)")
            .arg(week)
            .arg(year)
            .arg(start.toString(QStringLiteral("dd/MM")),
                 start.addDays(6).toString(QStringLiteral("dd/MM")));
    }
    QString month = spanish().standaloneMonthName(start.month(), QLocale::LongFormat);
    if (!month.isEmpty())
        month[0] = month[0].toUpper();
    return month % u' ' % QString::number(start.year());
}

// The grouping key of a stored text: trimmed, inner blanks collapsed, case folded.
QString foldKey(const QString& text) {
    return text.simplified().toCaseFolded();
}

// The sex as a word from its folded stored letter; empty for anything else.
QString sexWordOf(const QString& folded) {
    if (folded == u"m")
        return QStringLiteral("Macho");
    if (folded == u"h")
        return QStringLiteral("Hembra");
    return QString();
}

QString quotedColumn(store::Field f) {
    return u'"' % store::cardField(f).name.toString() % u'"';
}

// The spellings of one group and how often each was stored.
struct Spellings {
    std::map<QString, qint64> counts;
    qint64 total = 0;
    QString mostFrequent() const {
        const auto best = std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) {
            return a.second < b.second; // ties keep the first in text order
        });
        return best == counts.end() ? QString() : best->first;
    }
};

QAtomicInteger<quint64> connectionNumber;

// A connection of the report's own, removed when it goes.
class OwnConnection {
public:
    explicit OwnConnection(const store::Registry& registry)
        : name_(QStringLiteral("tarjetas-informe-%1").arg(connectionNumber.fetchAndAddRelaxed(1))) {
        db_ = store::addRegistryConnection(registry, name_, /*readOnly=*/true);
    }
    ~OwnConnection() {
        if (db_.isOpen()) {
            db_.rollback();
            db_.close();
        }
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(name_);
    }
    QSqlDatabase& db() { return db_; }

private:
    QString name_;
    QSqlDatabase db_;
};

// The index of the dates of attention as stored, which lets the database count the cards of
// each date from the index alone and find the cards of a range without reading every card.
// Registries made before the report get it the first time a report is counted; each registry is
// looked at once per run. Where it cannot be made (a read-only file, a server user without the
// right, another program holding the file) the report is counted without it, only slower.
const QString kDateIndex = QStringLiteral("FechaAtencion");

void ensureDateIndex(const store::Registry& registry) {
    static QMutex mutex;
    static QSet<QString> looked;
    const QMutexLocker lock(&mutex);
    if (looked.contains(registry.location()))
        return;
    looked.insert(registry.location());
    const QString name =
        QStringLiteral("tarjetas-informe-indice-%1").arg(connectionNumber.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = store::addRegistryConnection(registry, name, false, 1000);
        if (db.open()) {
            QSqlQuery q(db);
            if (registry.isServer()) {
                // Made without holding the other workstations' writes meanwhile. A build that was
                // cut short leaves an index the server does not use: it is made again.
                const bool valid =
                    q.exec(QStringLiteral("SELECT i.indisvalid FROM pg_index i WHERE "
                                          "i.indexrelid = to_regclass('\"") %
                           kDateIndex % QStringLiteral("\"')")) &&
                    q.next() && q.value(0).toBool();
                q.finish();
                // A concurrent build waits for every transaction open in the database, and one
                // left open by another program (a session idle in its transaction) would keep
                // the report counting forever: the build gives up after a while instead, and
                // the half-made index it leaves, which writes would still keep up, goes too.
                if (!valid && q.exec(QStringLiteral("SET lock_timeout = 2000"))) {
                    q.exec(QStringLiteral("DROP INDEX CONCURRENTLY IF EXISTS \"") % kDateIndex %
                           u'"');
                    if (!q.exec(QStringLiteral("CREATE INDEX CONCURRENTLY IF NOT EXISTS \"") %
                                kDateIndex %
                                QStringLiteral("\" ON \"Clientes\" (\"fecha_atencion\")")))
                        q.exec(QStringLiteral("DROP INDEX IF EXISTS \"") % kDateIndex % u'"');
                }
            } else {
                const bool present =
                    q.exec(QStringLiteral("SELECT 1 FROM sqlite_master WHERE type = 'index' AND "
                                          "name = '") %
                           kDateIndex % u'\'') &&
                    q.next();
                q.finish();
                if (!present)
                    q.exec(QStringLiteral("CREATE INDEX IF NOT EXISTS \"") % kDateIndex %
                           QStringLiteral("\" ON \"Clientes\" (\"fecha_atencion\")"));
            }
        }
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

QString groupingWord(Grouping by) {
    switch (by) {
    case Grouping::Month:
        return QStringLiteral("mes");
    case Grouping::Week:
        return QStringLiteral("semana");
    case Grouping::Implanter:
        return QStringLiteral("implantador");
    case Grouping::Place:
        return QStringLiteral("lugar");
    case Grouping::Species:
        return QStringLiteral("especie");
    case Grouping::SexAndState:
        return QStringLiteral("sexo");
    }
    return {};
}

std::optional<Grouping> groupingFromWord(const QString& word) {
    for (Grouping by : {Grouping::Month, Grouping::Week, Grouping::Implanter, Grouping::Place,
                        Grouping::Species, Grouping::SexAndState}) {
        if (word.trimmed().compare(groupingWord(by), Qt::CaseInsensitive) == 0)
            return by;
    }
    return std::nullopt;
}

QString groupingTitle(Grouping by) {
    switch (by) {
    case Grouping::Month:
        return QStringLiteral("Mes");
    case Grouping::Week:
        return QStringLiteral("Semana");
    case Grouping::Implanter:
        return QStringLiteral("Implantador");
    case Grouping::Place:
        return QStringLiteral("Lugar");
    case Grouping::Species:
        return QStringLiteral("Especie");
    case Grouping::SexAndState:
        return QStringLiteral("Sexo y estado reproductivo");
    }
    return {};
}

QString DateRange::describe() const {
    if (from.isNull() && to.isNull())
        return QStringLiteral("todas las fechas");
    if (from.isNull())
        return QStringLiteral("hasta el ") % store::dateText(to);
    if (to.isNull())
        return QStringLiteral("desde el ") % store::dateText(from);
    return store::dateText(from) % QStringLiteral(" al ") % store::dateText(to);
}

DateRange thisMonth(const QDate& today) {
    const QDate first(today.year(), today.month(), 1);
    return {first, first.addMonths(1).addDays(-1)};
}

DateRange lastMonth(const QDate& today) {
    const QDate first = QDate(today.year(), today.month(), 1).addMonths(-1);
    return {first, first.addMonths(1).addDays(-1)};
}

DateRange thisYear(const QDate& today) {
    return {QDate(today.year(), 1, 1), QDate(today.year(), 12, 31)};
}

QString shareText(qint64 count, qint64 total) {
    const double share = total > 0 ? 100.0 * double(count) / double(total) : 0.0;
    return spanish().toString(share, 'f', 1) % QStringLiteral(" %");
}

Status computeReport(const store::Registry& registry, const DateRange& range, Grouping by,
                     const QDate& today, ReportResult* result) {
    *result = ReportResult();
    result->range = range;
    result->by = by;
    const auto failure = [&](const QString& detail) {
        return Status::failure(
            ErrorKind::Io,
            QStringLiteral("No se pudo calcular el informe de implantaciones del registro %1: %2.")
                .arg(registry.quoted(), detail));
    };
    if (!registry.isServer() && !QFileInfo(registry.location()).isFile())
        return failure(QStringLiteral("el archivo no existe"));

    ensureDateIndex(registry);
    OwnConnection connection(registry);
    QSqlDatabase& db = connection.db();
    const auto sqlFailure = [&](const QSqlError& error) {
        const store::SqlReason reason = store::CardStore::explain(error, registry.engine());
        return Status::failure(
            reason.kind,
            QStringLiteral("No se pudo calcular el informe de implantaciones del registro %1: %2.")
                .arg(registry.quoted(), reason.reason),
            reason.detail);
    };
    if (!db.open())
        return sqlFailure(db.lastError());
    // Both statements see the registry as of one moment.
    if (!db.transaction())
        return sqlFailure(db.lastError());
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (registry.isServer() &&
        !q.exec(QStringLiteral("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY")))
        return sqlFailure(q.lastError());

    // Every distinct date as stored, read once each.
    const QString date = quotedColumn(store::FechaAtencion);
    if (!q.exec(QStringLiteral("SELECT ") % date %
                QStringLiteral(", COUNT(*) FROM \"Clientes\" GROUP BY ") % date))
        return sqlFailure(q.lastError());
    std::vector<QString> inRange; // the stored texts of the dates in range
    std::map<int, qint64> periods;
    QDate first, last;
    while (q.next()) {
        const QString text = q.value(0).toString();
        const qint64 count = q.value(1).toLongLong();
        const QDate read = store::parseDate(text, today);
        if (!read.isValid()) {
            result->undated += count;
            continue;
        }
        if (!range.contains(read))
            continue;
        result->total += count;
        inRange.push_back(text);
        periods[periodKey(read, by)] += count;
        if (first.isNull() || read < first)
            first = read;
        if (last.isNull() || read > last)
            last = read;
    }
    if (q.lastError().isValid())
        return sqlFailure(q.lastError());

    if (by == Grouping::Month || by == Grouping::Week) {
        // Every period of the range, those without cards too, so that the chart shows the gaps.
        const QDate from = range.from.isNull() ? first : range.from;
        const QDate to = range.to.isNull() ? last : range.to;
        int periodCount = 0;
        if (from.isValid() && to.isValid()) {
            for (QDate p = periodStart(from, by); p <= to && periodCount <= kMostFilledPeriods;
                 p = nextPeriod(p, by))
                ++periodCount;
        }
        if (periodCount > 0 && periodCount <= kMostFilledPeriods) {
            for (QDate p = periodStart(from, by); p <= to; p = nextPeriod(p, by)) {
                const auto found = periods.find(periodKey(p, by));
                result->rows.push_back(
                    {periodLabel(p, by), found == periods.end() ? 0 : found->second});
            }
        } else if (!periods.empty()) {
            // Only the periods with cards, each labelled from a day of its own.
            std::map<int, QDate> starts;
            for (const QString& text : inRange) {
                const QDate d = store::parseDate(text, today);
                starts.emplace(periodKey(d, by), periodStart(d, by));
            }
            for (const auto& [key, count] : periods)
                result->rows.push_back({periodLabel(starts[key], by), count});
        }
        return Status();
    }

    if (inRange.empty())
        return Status();
    // The cards of the dates in range, grouped by the field as stored. The texts are dates the
    // reader took, made only of digits, separators and blanks, so they are written into the
    // statement rather than bound: there may be more of them than an engine takes parameters.
    std::vector<store::Field> fields;
    switch (by) {
    case Grouping::Implanter:
        fields = {store::Implantador};
        break;
    case Grouping::Place:
        fields = {store::Lugar};
        break;
    case Grouping::Species:
        fields = {store::Especie};
        break;
    default:
        fields = {store::Sexo, store::EReproductivo};
        break;
    }
    QString columns;
    for (store::Field f : fields)
        columns += (columns.isEmpty() ? QString() : QStringLiteral(", ")) % quotedColumn(f);
    QString list;
    list.reserve(qsizetype(inRange.size()) * 14);
    for (const QString& text : inRange) {
        if (!list.isEmpty())
            list += u',';
        list += u'\'' % QString(text).replace(u'\'', QStringLiteral("''")) % u'\'';
    }
    if (!q.exec(QStringLiteral("SELECT ") % columns %
                QStringLiteral(", COUNT(*) FROM \"Clientes\" WHERE ") % date %
                QStringLiteral(" IN (") % list % QStringLiteral(") GROUP BY ") % columns))
        return sqlFailure(q.lastError());
    std::map<QString, Spellings> groups;
    const int countColumn = int(fields.size());
    while (q.next()) {
        QString key, spelling;
        if (by == Grouping::SexAndState) {
            const QString sex = foldKey(q.value(0).toString());
            const QString state = q.value(1).toString().simplified();
            QString sexShown = sexWordOf(sex);
            if (sexShown.isEmpty())
                sexShown =
                    sex.isEmpty() ? QStringLiteral("Sin sexo") : q.value(0).toString().simplified();
            key = sex % u'\n' % state.toCaseFolded();
            spelling = sexShown % QStringLiteral(" · ") %
                       (state.isEmpty() ? QStringLiteral("sin estado") : state);
        } else {
            spelling = q.value(0).toString().simplified();
            key = spelling.toCaseFolded();
            if (spelling.isEmpty())
                spelling = QStringLiteral("(sin dato)");
        }
        Spellings& group = groups[key];
        const qint64 count = q.value(countColumn).toLongLong();
        group.counts[spelling] += count;
        group.total += count;
    }
    if (q.lastError().isValid())
        return sqlFailure(q.lastError());
    for (const auto& [key, group] : groups)
        result->rows.push_back({group.mostFrequent(), group.total});
    // The largest groups first; equal ones in the order of their names.
    std::stable_sort(result->rows.begin(), result->rows.end(),
                     [](const ReportRow& a, const ReportRow& b) {
                         if (a.count != b.count)
                             return a.count > b.count;
                         return QString::localeAwareCompare(a.label, b.label) < 0;
                     });
    return Status();
}

QByteArray reportCsv(const ReportResult& result) {
    QByteArray out;
    const QString header[] = {groupingTitle(result.by), QStringLiteral("Tarjetas"),
                              QStringLiteral("Porcentaje")};
    out += output::csvRow(header);
    for (const ReportRow& row : result.rows) {
        const QString line[] = {row.label, QString::number(row.count),
                                shareText(row.count, result.total)};
        out += output::csvRow(line);
    }
    const QString total[] = {QStringLiteral("Total ") % result.range.describe(),
                             QString::number(result.total), shareText(result.total, result.total)};
    out += output::csvRow(total);
    const QString undated[] = {QStringLiteral("Sin fecha o con fecha ilegible (no incluidas)"),
                               QString::number(result.undated), QString()};
    out += output::csvRow(undated);
    return out;
}

} // namespace report
