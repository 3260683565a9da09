#include "Merge.h"

#include "Backup.h"
#include "Clock.h"
#include "CsvExport.h"
#include "Folders.h"
#include "History.h"
#include "Registry.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringBuilder>
#include <QTextStream>
#include <QThread>

#include <atomic>
#include <thread>
#include <unordered_map>
#include <unordered_set>

namespace merge {

using store::Card;
using store::CardStore;
using store::Codigo;
using store::ErrorKind;
using store::Field;
using store::Status;

namespace {

std::atomic<int> connectionCounter{0};

// How long reading the other file waits for a program that holds it.
constexpr int kBusyTimeoutMs = 3000;
// Codes looked up in this registry per query.
constexpr size_t kLookupChunk = 500;

QString quoted(const QString& path) {
    return u'«' % QDir::toNativeSeparators(path) % u'»';
}

QString codeOf(const Card& card) {
    return card[Codigo].isNull() ? QStringLiteral("") : card[Codigo];
}

// A connection of its own to the other file, removed with this object.
class OtherConnection {
public:
    OtherConnection(const QString& path, bool readOnly)
        : name_(QStringLiteral("tarjetas-merge-%1").arg(connectionCounter.fetch_add(1))) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
        db.setDatabaseName(path);
        db.setConnectOptions(
            QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1%2")
                .arg(kBusyTimeoutMs)
                .arg(readOnly ? QStringLiteral(";QSQLITE_OPEN_READONLY") : QString()));
        open_ = db.open();
        error_ = db.lastError();
    }
    ~OtherConnection() {
        {
            QSqlDatabase db = QSqlDatabase::database(name_, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(name_);
    }
    OtherConnection(const OtherConnection&) = delete;
    OtherConnection& operator=(const OtherConnection&) = delete;

    bool open() const { return open_; }
    const QSqlError& openError() const { return error_; }
    QSqlDatabase db() const { return QSqlDatabase::database(name_, false); }

private:
    QString name_;
    bool open_ = false;
    QSqlError error_;
};

Status notARegistry(const QString& path, const QString& why) {
    return Status::failure(ErrorKind::NotADatabase,
                           QStringLiteral("El archivo %1 no es un registro de tarjetas de este "
                                          "programa%2. No se combinó ninguna tarjeta.")
                               .arg(quoted(path), why));
}

Status beingWritten(const QString& path, const QString& detail = {}) {
    return Status::failure(ErrorKind::Busy,
                           QStringLiteral("El archivo %1 está siendo escrito por otro programa. "
                                          "Cierre el programa que lo usa y vuelva a combinar; no "
                                          "se combinó ninguna tarjeta.")
                               .arg(quoted(path)),
                           detail);
}

// A failure reading the other file in the user's words.
Status readFailure(const QString& path, const QSqlError& error) {
    const store::SqlReason r = CardStore::explain(error);
    if (r.kind == ErrorKind::Busy)
        return beingWritten(path, r.detail);
    if (r.kind == ErrorKind::NotADatabase)
        return notARegistry(path, QString());
    return Status::failure(r.kind,
                           QStringLiteral("No se pudo leer el archivo %1: %2. No se combinó "
                                          "ninguna tarjeta.")
                               .arg(quoted(path), r.reason),
                           r.detail);
}

QDateTime historyTime(const QString& text) {
    QDateTime t = QDateTime::fromString(text, Qt::ISODateWithMs);
    return t.isValid() ? t.toUTC() : QDateTime();
}

QDate attentionDate(const Card& card) {
    return QDate::fromString(card[store::FechaAtencion].trimmed(), QStringLiteral("dd/MM/yyyy"));
}

// The fields of the card whose values differ, compared as the card compares them.
std::vector<Field> changedFields(const Card& a, const Card& b) {
    std::vector<Field> fields;
    for (const store::CardField& f : store::cardFields()) {
        if (a[f.field] != b[f.field])
            fields.push_back(f.field);
    }
    return fields;
}

QString fieldNames(const std::vector<Field>& fields) {
    QStringList names;
    for (Field f : fields)
        names.append(store::cardField(f).name.toString());
    return names.join(QStringLiteral(", "));
}

} // namespace

qint64 MergePlan::count(CardClass kind) const {
    switch (kind) {
    case CardClass::Nueva:
        return qint64(added.size());
    case CardClass::Igual:
        return equal;
    case CardClass::Distinta:
    case CardClass::EliminadaAlli:
        return std::count_if(conflicts.begin(), conflicts.end(),
                             [kind](const Conflict& c) { return c.kind == kind; });
    }
    return 0;
}

QString className(CardClass kind) {
    switch (kind) {
    case CardClass::Nueva:
        return QStringLiteral("nueva");
    case CardClass::Igual:
        return QStringLiteral("igual");
    case CardClass::Distinta:
        return QStringLiteral("distinta");
    case CardClass::EliminadaAlli:
        return QStringLiteral("eliminada allí");
    }
    return QString();
}

Status readOtherRegistry(const QString& path, OtherRegistry* other, const Progress& progress) {
    *other = OtherRegistry();
    const QFileInfo info(path);
    if (!info.exists())
        return Status::failure(ErrorKind::CannotOpen,
                               QStringLiteral("No existe el archivo %1. No se combinó ninguna "
                                              "tarjeta.")
                                   .arg(quoted(path)));
    if (!info.isFile())
        return notARegistry(path, QStringLiteral(": no es un archivo"));

    // A program in the middle of writing the file holds its write lock: taking it for a moment
    // (and letting go at once, writing nothing) tells, after waiting a little for a short save.
    // A file that cannot be written at all (a read-only copy) has no writer to wait for.
    {
        OtherConnection probe(path, false);
        if (probe.open()) {
            QSqlQuery q(probe.db());
            if (q.exec(QStringLiteral("BEGIN IMMEDIATE"))) {
                q.exec(QStringLiteral("ROLLBACK"));
            } else if (CardStore::explain(q.lastError()).kind == ErrorKind::Busy) {
                return beingWritten(path, q.lastError().text());
            }
        }
    }

    OtherConnection connection(path, true);
    if (!connection.open())
        return readFailure(path, connection.openError());
    QSqlDatabase db = connection.db();
    QSqlQuery q(db);
    q.setForwardOnly(true);
    // One read transaction: the cards and the history as of one moment.
    if (!q.exec(QStringLiteral("BEGIN")))
        return readFailure(path, q.lastError());
    struct Rollback {
        QSqlDatabase db;
        ~Rollback() { QSqlQuery(db).exec(QStringLiteral("ROLLBACK")); }
    } rollback{db};

    if (!q.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'")))
        return readFailure(path, q.lastError());
    QStringList tables;
    while (q.next())
        tables.append(q.value(0).toString());
    q.finish();
    if (!tables.contains(QStringLiteral("Clientes")))
        return notARegistry(path, QStringLiteral(": no tiene la tabla Clientes"));
    const QSqlRecord record = db.record(QStringLiteral("Clientes"));
    for (const store::CardField& f : store::cardFields()) {
        if (record.indexOf(f.name.toString()) < 0)
            return notARegistry(
                path, QStringLiteral(": a su tabla Clientes le falta la columna %1").arg(f.name));
    }

    qint64 total = 0;
    if (!q.exec(QStringLiteral("SELECT count(*) FROM Clientes")) || !q.next())
        return readFailure(path, q.lastError());
    total = q.value(0).toLongLong();
    q.finish();
    if (!q.exec(QStringLiteral("SELECT ") % CardStore::columnList() %
                QStringLiteral(" FROM Clientes ORDER BY rowid")))
        return readFailure(path, q.lastError());
    other->cards.reserve(size_t(total));
    while (q.next()) {
        other->cards.push_back(CardStore::cardFromQuery(q, 0));
        if (progress && other->cards.size() % 1000 == 0 &&
            !progress(qint64(other->cards.size()), total))
            return Status::failure(ErrorKind::Other, QStringLiteral("Se canceló la combinación."));
    }
    if (q.lastError().isValid())
        return readFailure(path, q.lastError());
    q.finish();

    if (tables.contains(QStringLiteral("Historial"))) {
        std::unordered_set<QString> held;
        held.reserve(other->cards.size());
        for (const Card& c : other->cards)
            held.insert(codeOf(c));
        // The last row of every code (SQLite gives the other columns of the row of max(id)).
        if (!q.exec(QStringLiteral("SELECT codigo, accion, cuando, antes, max(id) FROM Historial "
                                   "WHERE codigo IS NOT NULL GROUP BY codigo")))
            return readFailure(path, q.lastError());
        while (q.next()) {
            const QString code = q.value(0).toString();
            const QDateTime when = historyTime(q.value(2).toString());
            other->lastChange.emplace_back(code, when);
            if (q.value(1).toString() == store::reasonName(store::WriteReason::Baja) &&
                !held.contains(code)) {
                const QJsonObject before =
                    QJsonDocument::fromJson(q.value(3).toString().toUtf8()).object();
                Card card;
                for (auto it = before.begin(); it != before.end(); ++it) {
                    if (const std::optional<Field> f = store::fieldByName(it.key()))
                        card[*f] = it.value().isNull()              ? QString()
                                   : it.value().toString().isNull() ? QStringLiteral("")
                                                                    : it.value().toString();
                }
                card[Codigo] = code;
                other->deleted.push_back({card, when});
            }
        }
        if (q.lastError().isValid())
            return readFailure(path, q.lastError());
    }
    return Status();
}

Status planMerge(const CardStore& here, const QString& otherPath, MergePlan* plan,
                 const Progress& progress) {
    *plan = MergePlan();
    const QFileInfo info(otherPath);
    plan->otherPath = info.absoluteFilePath();
    plan->otherName = info.fileName();
    if (!here.registry().isServer() && info.exists() &&
        info.canonicalFilePath() == QFileInfo(here.path()).canonicalFilePath())
        return Status::failure(
            ErrorKind::Other, QStringLiteral("El archivo %1 es el registro abierto: un registro no "
                                             "se combina consigo mismo. Elija el archivo del "
                                             "otro equipo o la copia que quiere combinar.")
                                  .arg(quoted(otherPath)));

    OtherRegistry other;
    // Reading the other file is the first half of the work, comparing the second.
    const auto half = [&](qint64 done, qint64 total, bool second) {
        return !progress || progress((second ? total : 0) + done, 2 * std::max<qint64>(total, 1));
    };
    if (Status s =
            readOtherRegistry(plan->otherPath, &other,
                              [&](qint64 done, qint64 total) { return half(done, total, false); });
        !s)
        return s;
    plan->otherCards = qint64(other.cards.size());

    // The codes to look up here: every card of the other, and every code it deleted.
    std::vector<QString> codes;
    codes.reserve(other.cards.size() + other.deleted.size());
    std::unordered_set<QString> seen;
    seen.reserve(other.cards.size());
    for (const Card& c : other.cards) {
        if (seen.insert(codeOf(c)).second)
            codes.push_back(codeOf(c));
    }
    for (const OtherRegistry::Deleted& d : other.deleted)
        codes.push_back(d.card[Codigo]);

    const auto readHereFailure = [&](const QSqlError& error) {
        const store::SqlReason r = CardStore::explain(error, here.registry().engine());
        return Status::failure(r.kind,
                               QStringLiteral("No se pudo leer el registro %1: %2.")
                                   .arg(here.registry().quoted(), r.reason),
                               r.detail);
    };
    std::unordered_map<QString, Card> stored;
    const QString select = QStringLiteral("SELECT ") % CardStore::columnList() %
                           QStringLiteral(" FROM \"Clientes\" WHERE \"Codigo\" IN (");
    for (size_t at = 0; at < codes.size(); at += kLookupChunk) {
        const size_t n = std::min(kLookupChunk, codes.size() - at);
        // Each chunk is read where the store's connection works (its own thread, for a
        // window's store), and the progress is told here between chunks.
        const Status read = here.withConnection([&]() -> Status {
            QSqlQuery q(here.database());
            q.setForwardOnly(true);
            bool ok = q.prepare(select % QStringLiteral("?,").repeated(qsizetype(n) - 1) %
                                QStringLiteral("?)"));
            for (size_t i = 0; ok && i < n; ++i)
                q.bindValue(int(i), codes[at + i]);
            if (!ok || !q.exec())
                return readHereFailure(q.lastError());
            while (q.next()) {
                Card card = CardStore::cardFromQuery(q, 0);
                stored.emplace(codeOf(card), std::move(card));
            }
            return Status();
        });
        if (!read)
            return read;
        if (!half(qint64(at + n), qint64(codes.size()), true))
            return Status::failure(ErrorKind::Other, QStringLiteral("Se canceló la combinación."));
    }

    std::unordered_map<QString, QDateTime> otherTimes(other.lastChange.begin(),
                                                      other.lastChange.end());
    // The time of this registry's last history row of each code in conflict, looked up for
    // many codes at once.
    std::vector<QString> inConflict;
    seen.clear();
    for (const Card& card : other.cards) {
        const auto found = stored.find(codeOf(card));
        if (found != stored.end() && !(found->second == card) && seen.insert(codeOf(card)).second)
            inConflict.push_back(codeOf(card));
    }
    for (const OtherRegistry::Deleted& d : other.deleted) {
        if (stored.contains(d.card[Codigo]) && seen.insert(d.card[Codigo]).second)
            inConflict.push_back(d.card[Codigo]);
    }
    std::unordered_map<QString, QDateTime> hereTimes;
    // Read where the store's connection works (its own thread, for a window's store).
    const Status timesRead = here.withConnection([&]() -> Status {
        QSqlQuery q(here.database());
        q.setForwardOnly(true);
        for (size_t at = 0; at < inConflict.size(); at += kLookupChunk) {
            const size_t n = std::min(kLookupChunk, inConflict.size() - at);
            bool ok = q.prepare(
                QStringLiteral("SELECT codigo, cuando FROM \"Historial\" WHERE id IN (SELECT "
                               "max(id) FROM \"Historial\" WHERE codigo IN (") %
                QStringLiteral("?,").repeated(qsizetype(n) - 1) %
                QStringLiteral("?) GROUP BY codigo)"));
            for (size_t i = 0; ok && i < n; ++i)
                q.bindValue(int(i), inConflict[at + i]);
            if (!ok || !q.exec())
                return readHereFailure(q.lastError());
            while (q.next())
                hereTimes.emplace(
                    q.value(0).toString(),
                    QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs).toUTC());
            q.finish();
        }
        return Status();
    });
    if (!timesRead)
        return timesRead;
    // The time of this registry's last history row for the code, if any.
    const auto hereTime = [&](const QString& code) {
        const auto t = hereTimes.find(code);
        return t == hereTimes.end() ? QDateTime() : t->second;
    };

    seen.clear();
    for (const Card& card : other.cards) {
        const QString code = codeOf(card);
        if (!seen.insert(code).second)
            continue; // a second card with one code: the first one stands for it
        const auto found = stored.find(code);
        if (found == stored.end()) {
            plan->added.push_back(card);
            continue;
        }
        if (found->second == card) {
            ++plan->equal;
            plan->equalCodes.push_back(code);
            continue;
        }
        Conflict c;
        c.kind = CardClass::Distinta;
        c.here = found->second;
        c.other = card;
        c.changed = changedFields(c.here, c.other);
        const auto t = otherTimes.find(code);
        c.otherWhen = t == otherTimes.end() ? QDateTime() : t->second;
        const QDateTime mine = hereTime(code);
        if (c.otherWhen.isValid() && mine.isValid())
            c.otherNewer = c.otherWhen > mine;
        else
            c.otherNewer = attentionDate(c.other) > attentionDate(c.here);
        plan->conflicts.push_back(std::move(c));
    }
    for (const OtherRegistry::Deleted& d : other.deleted) {
        const auto found = stored.find(d.card[Codigo]);
        if (found == stored.end())
            continue;
        // A deletion older than this registry's last change of the card (a card added again
        // here after a deletion both registries saw) is not a question.
        const QDateTime mine = hereTime(d.card[Codigo]);
        if (mine.isValid() && d.when.isValid() && d.when <= mine)
            continue;
        Conflict c;
        c.kind = CardClass::EliminadaAlli;
        c.here = found->second;
        c.other = d.card;
        c.otherWhen = d.when;
        c.otherNewer = true;
        plan->conflicts.push_back(std::move(c));
    }
    return Status();
}

std::optional<Card> resolvedCard(const Conflict& conflict) {
    switch (conflict.choice) {
    case Choice::KeepThis:
        return std::nullopt;
    case Choice::TakeOther:
        if (conflict.kind == CardClass::EliminadaAlli)
            return std::nullopt;
        return conflict.other;
    case Choice::TakeOtherFilled: {
        if (conflict.kind == CardClass::EliminadaAlli)
            return std::nullopt;
        Card card = conflict.here;
        for (const store::CardField& f : store::cardFields()) {
            if (!conflict.other[f.field].isEmpty())
                card[f.field] = conflict.other[f.field];
        }
        card[Codigo] = conflict.here[Codigo];
        if (card == conflict.here)
            return std::nullopt;
        return card;
    }
    }
    return std::nullopt;
}

Status applyMerge(CardStore& here, const MergePlan& plan, std::vector<MergeOutcome>* outcomes,
                  const Progress& progress) {
    outcomes->clear();
    std::vector<CardStore::MergeWrite> writes;
    std::vector<MergeOutcome> said;
    writes.reserve(plan.added.size() + plan.conflicts.size());
    for (const Card& card : plan.added) {
        writes.push_back({card, std::nullopt, false});
        said.push_back(
            {codeOf(card), QStringLiteral("nueva"), QStringLiteral("agregada"), QString()});
    }
    for (const Conflict& c : plan.conflicts) {
        const QString kind = className(c.kind);
        if (c.kind == CardClass::EliminadaAlli) {
            if (c.choice == Choice::TakeOther) {
                writes.push_back({c.here, c.here, true});
                said.push_back(
                    {c.code(), kind, QStringLiteral("eliminada en este registro"), QString()});
            } else {
                said.push_back(
                    {c.code(), kind, QStringLiteral("se mantuvo la de este registro"), QString()});
            }
            continue;
        }
        const std::optional<Card> card = resolvedCard(c);
        const QString fields = fieldNames(c.changed);
        if (!card) {
            said.push_back({c.code(), kind,
                            c.choice == Choice::KeepThis
                                ? QStringLiteral("se mantuvo la de este registro")
                                : QStringLiteral("sin cambios: los campos del otro ya estaban"),
                            fields});
            continue;
        }
        writes.push_back({*card, c.here, false});
        said.push_back({c.code(), kind,
                        c.choice == Choice::TakeOther
                            ? QStringLiteral("se tomó la del otro registro")
                            : QStringLiteral("se tomaron los campos no vacíos del otro registro"),
                        fields});
    }
    for (const QString& code : plan.equalCodes)
        said.push_back({code, QStringLiteral("igual"), QStringLiteral("sin cambios"), QString()});

    const qint64 total = qint64(writes.size());
    if (Status s = here.mergeCards(writes, plan.otherName,
                                   [&](qint64 done) { return !progress || progress(done, total); });
        !s)
        return s;
    *outcomes = std::move(said);
    return Status();
}

Status writeMergeReport(const store::Folders& folders, const QDateTime& at, const MergePlan& plan,
                        const std::vector<MergeOutcome>& outcomes, QString* path) {
    path->clear();
    const QString stem =
        QStringLiteral("Combinación ") + at.toString(QStringLiteral("yyyy-MM-dd HH.mm"));
    QString name = folders.exportFile(stem + QStringLiteral(".csv"));
    // A second merge in the same minute keeps the first one's report.
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = folders.exportFile(stem + QStringLiteral(" (%1).csv").arg(n));
    QSaveFile file(name);
    if (!file.open(QIODevice::WriteOnly))
        return Status::failure(ErrorKind::CannotOpen,
                               QStringLiteral("No se pudo escribir el informe %1: %2.")
                                   .arg(quoted(name), file.errorString()));
    const QString header[] = {QStringLiteral("Código"), QStringLiteral("Clase"),
                              QStringLiteral("Resultado"), QStringLiteral("Campos distintos"),
                              QStringLiteral("Archivo combinado")};
    QByteArray bytes = output::csvRow(header);
    for (const MergeOutcome& o : outcomes) {
        const QString line[] = {o.code, o.kind, o.what, o.fields, plan.otherName};
        bytes += output::csvRow(line);
    }
    file.write(bytes);
    if (!file.commit())
        return Status::failure(ErrorKind::Io, QStringLiteral("No se pudo escribir el informe %1: "
                                                             "%2.")
                                                  .arg(quoted(name), file.errorString()));
    *path = name;
    return Status();
}

namespace {

// The copy of the file `source` at `destination` a few thousand pages at a time, then its check
// on a thread of its own, calling `progress` between the steps and while the check runs, so that
// a window paints and takes Cancel meanwhile; cancelled, nothing is left behind.
Status copyWithProgress(const QString& source, const QString& destination,
                        const Progress& progress) {
    const Status cancelled =
        Status::failure(ErrorKind::Other, QStringLiteral("Se canceló la copia de respaldo."));
    store::BackupCopy copy(source, destination);
    QElapsedTimer busy;
    for (;;) {
        const store::BackupCopy::Step step = copy.step(4 * store::DailyBackup::kPagesPerStep);
        if (step == store::BackupCopy::Step::Failed)
            return copy.status();
        if (step == store::BackupCopy::Step::Copied)
            break;
        if (step == store::BackupCopy::Step::Busy) {
            if (!busy.isValid())
                busy.start();
            else if (busy.elapsed() > store::DailyBackup::kBusyGiveUpMs)
                return Status::failure(ErrorKind::Busy,
                                       QStringLiteral("otro programa tuvo el registro ocupado "
                                                      "demasiado tiempo"));
            QThread::msleep(50);
        } else {
            busy.invalidate();
        }
        // The copy is the first half of the bar, the check the second.
        const qint64 total = std::max(copy.totalPages(), 1);
        if (!progress(total - std::max(copy.remainingPages(), 0), 2 * total))
            return cancelled;
    }
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    Status checked;
    std::thread checker([&] {
        checked = store::checkDatabaseFile(copy.temporaryPath(), &cancel);
        done = true;
    });
    const qint64 total = std::max(copy.totalPages(), 1);
    QElapsedTimer t;
    t.start();
    while (!done) {
        // The check's own progress is not told: the bar creeps on towards its end.
        const qint64 crept = total - total * 1000 / (1000 + t.elapsed());
        if (!cancel && !progress(total + crept, 2 * total))
            cancel = true;
        QThread::msleep(20);
    }
    checker.join();
    // A small file is copied in one step and may be checked before the loop above ever asks:
    // the bar is told its end once, and a Cancel pressed there is still honoured.
    if (cancel || !progress(2 * total, 2 * total))
        return cancelled;
    if (!checked)
        return checked;
    return copy.commit();
}

} // namespace

Status backupBeforeMerge(const store::Folders& folders, const store::Registry& registry,
                         const QDate& day, const Progress& progress) {
    if (registry.isServer())
        return Status();
    const QString copy = store::dailyBackupPath(folders, day);
    const QString folder = QFileInfo(copy).absolutePath();
    if (!QDir().mkpath(folder))
        return Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("No se pudo crear la carpeta %1.").arg(quoted(folder)));
    Status status = progress ? copyWithProgress(registry.location(), copy, progress)
                             : store::backupNow(registry.location(), copy);
    if (status)
        store::pruneDailyBackups(folder);
    return status;
}

int runMergeCommand(const store::Folders& folders, const QString& otherPath, bool takeOther,
                    const store::Clock& clock, QTextStream& out) {
    const auto fail = [&](const Status& status, const QString& registry) {
        out << status.message() << u'\n';
        if (!registry.isEmpty())
            out << QStringLiteral("El registro %1 no cambió.\n").arg(registry);
        out.flush();
        return 1;
    };
    // The other file first: nothing is opened for a name mistyped.
    if (!QFileInfo(otherPath).isFile())
        return fail(Status::failure(ErrorKind::CannotOpen,
                                    QStringLiteral("No existe el archivo %1. No se combinó ninguna "
                                                   "tarjeta.")
                                        .arg(quoted(otherPath))),
                    QString());
    Status status;
    const store::Registry registry = store::chooseRegistry(folders, &status);
    if (!status)
        return fail(status, QString());
    if (!registry.isServer() && !QFileInfo(registry.location()).isFile())
        return fail(Status::failure(ErrorKind::CannotOpen,
                                    QStringLiteral("No se pudo combinar: no hay un registro %1.")
                                        .arg(registry.quoted())),
                    QString());
    std::unique_ptr<CardStore> here = CardStore::open(registry, &status);
    if (!here)
        return fail(status, QString());

    MergePlan plan;
    if (Status s = planMerge(*here, otherPath, &plan); !s)
        return fail(s, registry.quoted());
    for (Conflict& c : plan.conflicts)
        c.choice =
            takeOther && c.kind == CardClass::Distinta ? Choice::TakeOther : Choice::KeepThis;

    // A copy of the registry as it was, to go back to, before anything is written to it.
    if (!plan.added.empty() || takeOther) {
        if (Status s = backupBeforeMerge(folders, registry, clock.today()); !s)
            out << QStringLiteral("No se pudo hacer la copia de respaldo del registro antes de "
                                  "combinar: %1\nLa combinación sigue.\n")
                       .arg(s.message());
    }
    std::vector<MergeOutcome> outcomes;
    if (Status s = applyMerge(*here, plan, &outcomes); !s)
        return fail(s, registry.quoted());
    QString report;
    const Status reported = writeMergeReport(folders, clock.now(), plan, outcomes, &report);

    const qint64 distinct = plan.count(CardClass::Distinta);
    const qint64 deleted = plan.count(CardClass::EliminadaAlli);
    const QString choice = takeOther ? QStringLiteral("se tomó la del otro registro")
                                     : QStringLiteral("se mantuvo la de este registro");
    out << QStringLiteral("Registro combinado: %1\n").arg(quoted(plan.otherPath))
        << QStringLiteral("En el registro: %1\n").arg(registry.quoted())
        << QStringLiteral("Tarjetas del otro registro: %1\n").arg(plan.otherCards)
        << QStringLiteral("Nuevas, agregadas: %1\n").arg(plan.added.size())
        << QStringLiteral("Iguales, sin cambios: %1\n").arg(plan.equal)
        << QStringLiteral("Distintas: %1%2\n")
               .arg(distinct)
               .arg(distinct ? QStringLiteral(" (") + choice + u')' : QString())
        << QStringLiteral("Eliminadas en el otro registro: %1%2\n")
               .arg(deleted)
               .arg(deleted ? QStringLiteral(" (se mantuvieron en este registro: para "
                                             "eliminarlas use la ventana)")
                            : QString());
    if (!plan.conflicts.empty()) {
        out << QStringLiteral("Conflictos:\n");
        for (const MergeOutcome& o : outcomes) {
            if (o.kind == className(CardClass::Distinta) ||
                o.kind == className(CardClass::EliminadaAlli))
                out << QStringLiteral("  %1: %2%3 - %4\n")
                           .arg(o.code, o.kind,
                                o.fields.isEmpty() ? QString()
                                                   : QStringLiteral(" (%1)").arg(o.fields),
                                o.what);
        }
        if (!takeOther)
            out << QStringLiteral("Para tomar la tarjeta del otro registro en los conflictos, "
                                  "combine de nuevo con --conflictos otro, o use la ventana.\n");
    }
    if (reported)
        out << QStringLiteral("Informe: %1\n").arg(quoted(report));
    else
        out << reported.message() << u'\n';
    out.flush();
    return 0;
}

} // namespace merge
