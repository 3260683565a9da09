#include "History.h"

#include "StoreEngine.h"

#include "Folders.h"
#include "Registry.h"
#include "SearchIndex.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSysInfo>
#include <QTextStream>

#include <vector>

namespace store {

namespace {

constexpr auto kSelect = "SELECT id, cuando, usuario, equipo, accion, codigo, tarjeta, antes, "
                         "despues FROM \"Historial\" ";

// A row always says who and where: a session without these variables (a service, a bare root
// shell) is written as unknown rather than failing the save.
QString operatingSystemUser() {
    for (const char* name : {"USER", "USERNAME", "LOGNAME"}) {
        const QString user = qEnvironmentVariable(name);
        if (!user.isEmpty())
            return user;
    }
    return QStringLiteral("(desconocido)");
}

const QString& currentUser() {
    static const QString user = operatingSystemUser();
    return user;
}

const QString& currentComputer() {
    static const QString computer = QSysInfo::machineHostName().isEmpty()
                                        ? QStringLiteral("(desconocido)")
                                        : QSysInfo::machineHostName();
    return computer;
}

// The values as a JSON object keyed by column name; Null stays null, so that a restored card
// tells a Null from an empty text as the store did.
// The key of the registry a row's values came from; no field is named so.
const QString kSourceKey = QStringLiteral("origen");

QString valuesJson(const Card& card, std::span<const Field> fields, const QString& source = {}) {
    QJsonObject object;
    if (!source.isEmpty())
        object.insert(kSourceKey, source);
    auto put = [&](Field f) {
        const QString& v = card[f];
        object.insert(cardField(f).name.toString(), v.isNull() ? QJsonValue() : QJsonValue(v));
    };
    if (fields.empty()) {
        for (const CardField& f : cardFields())
            put(f.field);
    } else {
        for (Field f : fields)
            put(f);
    }
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

std::array<std::optional<QString>, kFieldCount> valuesFrom(const QString& json) {
    std::array<std::optional<QString>, kFieldCount> values{};
    if (json.isEmpty())
        return values;
    const QJsonObject object = QJsonDocument::fromJson(json.toUtf8()).object();
    for (auto it = object.begin(); it != object.end(); ++it) {
        const std::optional<Field> f = fieldByName(it.key());
        if (!f)
            continue;
        values[*f] = it.value().isNull()              ? QString()
                     : it.value().toString().isNull() ? QStringLiteral("")
                                                      : it.value().toString();
    }
    return values;
}

HistoryEntry entryFrom(const QSqlQuery& q) {
    HistoryEntry e;
    e.id = q.value(0).toLongLong();
    e.when = QDateTime::fromString(q.value(1).toString(), Qt::ISODateWithMs);
    e.user = q.value(2).toString();
    e.computer = q.value(3).toString();
    e.what = q.value(4).toString();
    e.code = q.value(5).toString();
    e.cardId = q.isNull(6) ? kNoRow : q.value(6).toLongLong();
    e.before = valuesFrom(q.value(7).toString());
    e.after = valuesFrom(q.value(8).toString());
    for (int column : {8, 7}) {
        const QString json = q.value(column).toString();
        if (e.source.isEmpty() && json.contains(kSourceKey))
            e.source = QJsonDocument::fromJson(json.toUtf8()).object().value(kSourceKey).toString();
    }
    return e;
}

QString isoUtc(const QDateTime& at) {
    return at.toUTC().toString(Qt::ISODateWithMs);
}

} // namespace

QString reasonName(WriteReason reason) {
    switch (reason) {
    case WriteReason::Alta:
        return QStringLiteral("alta");
    case WriteReason::Modificacion:
        return QStringLiteral("modificación");
    case WriteReason::Baja:
        return QStringLiteral("baja");
    case WriteReason::Web:
        return QStringLiteral("web");
    case WriteReason::Importacion:
        return QStringLiteral("importación");
    case WriteReason::Restauracion:
        return QStringLiteral("restauración");
    case WriteReason::Combinacion:
        return QStringLiteral("combinación");
    }
    return QString();
}

bool HistoryEntry::changed(Field f) const {
    const std::optional<QString>& b = before[f];
    const std::optional<QString>& a = after[f];
    if (!b || !a || what != reasonName(WriteReason::Web))
        return b != a;
    const auto unpadded = [](const QString& value) {
        qsizetype end = value.size();
        while (end > 0 && value.at(end - 1) == u' ')
            --end;
        return QStringView(value).left(end);
    };
    return unpadded(*b) != unpadded(*a);
}

Card HistoryEntry::beforeCard() const {
    Card card;
    for (int i = 0; i < kFieldCount; ++i) {
        if (before[i])
            card[Field(i)] = *before[i];
    }
    return card;
}

bool History::createTable(const QSqlDatabase& db, bool server, QSqlError* error) {
    // Newest first is descending id: the order the rows were committed in, whatever the clocks
    // of the computers that wrote them say. Deletes get an index of their own, small beside the
    // edits; the purge walks the time.
    static const std::vector<const char*> fileStatements = {
        "CREATE TABLE IF NOT EXISTS Historial (id INTEGER PRIMARY KEY, cuando TEXT NOT NULL, "
        "usuario TEXT NOT NULL, equipo TEXT NOT NULL, accion TEXT NOT NULL, codigo TEXT, "
        "tarjeta INTEGER, antes TEXT, despues TEXT)",
        "CREATE INDEX IF NOT EXISTS HistorialCodigo ON Historial (codigo, id)",
        "CREATE INDEX IF NOT EXISTS HistorialCuando ON Historial (cuando)",
        "CREATE INDEX IF NOT EXISTS HistorialBajas ON Historial (id) WHERE accion = 'baja'",
    };
    // On a server the times and codes compare as bytes, as on the file, so that the purge's
    // cutoff and a code's rows are the same whatever the database's collation. Two workstations
    // creating the table at once: the second waits for the first.
    static const std::vector<const char*> serverStatements = {
        "SELECT pg_advisory_xact_lock(20261209)",
        "CREATE TABLE IF NOT EXISTS \"Historial\" (id bigint GENERATED BY DEFAULT AS IDENTITY "
        "PRIMARY KEY, cuando text COLLATE \"C\" NOT NULL, usuario text NOT NULL, equipo text NOT "
        "NULL, accion text NOT NULL, codigo text COLLATE \"C\", tarjeta bigint, antes text, "
        "despues text)",
        "CREATE INDEX IF NOT EXISTS \"HistorialCodigo\" ON \"Historial\" (codigo, id)",
        "CREATE INDEX IF NOT EXISTS \"HistorialCuando\" ON \"Historial\" (cuando)",
        "CREATE INDEX IF NOT EXISTS \"HistorialBajas\" ON \"Historial\" (id) WHERE accion = "
        "'baja'",
    };
    QSqlQuery q(db);
    for (const char* sql : server ? serverStatements : fileStatements) {
        if (!q.exec(QString::fromLatin1(sql))) {
            *error = q.lastError();
            return false;
        }
    }
    return true;
}

QString HistoryWriter::insertStatement() {
    return QStringLiteral("INSERT INTO \"Historial\" (cuando, usuario, equipo, accion, codigo, "
                          "tarjeta, antes, despues) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
}

HistoryWriter::HistoryWriter(QSqlQuery& insert, bool prepared)
    : insert_(insert), prepared_(prepared), when_(isoUtc(QDateTime::currentDateTimeUtc())) {}

QSqlError HistoryWriter::error() const {
    return insert_.lastError();
}

HistoryWriter::Row HistoryWriter::row(WriteReason reason, RowId cardId, const Card* before,
                                      const Card* after, std::span<const Field> fields) const {
    const Card* any = after ? after : before;
    const QVariant none(QMetaType::fromType<QString>());
    // The source goes with the values the row keeps last: after a write, before a delete.
    return Row{when_,
               currentUser(),
               currentComputer(),
               reasonName(reason),
               any ? (*any)[Codigo] : QString(),
               cardId,
               before ? QVariant(valuesJson(*before, fields, after ? QString() : source_)) : none,
               after ? QVariant(valuesJson(*after, fields, source_)) : none};
}

bool HistoryWriter::record(WriteReason reason, RowId cardId, const Card* before, const Card* after,
                           std::span<const Field> fields) {
    if (!prepared_)
        return false;
    const Row values = row(reason, cardId, before, after, fields);
    for (int i = 0; i < int(values.size()); ++i)
        insert_.bindValue(i, values[size_t(i)]);
    const bool ok = insert_.exec();
    if (ok)
        insert_.finish();
    return ok;
}

Status History::forCode(const QString& code, int limit, std::vector<HistoryEntry>* entries) const {
    if (store_.handOver())
        return store_.call([&] { return forCode(code, limit, entries); });
    entries->clear();
    QSqlQuery q(store_.database());
    q.setForwardOnly(true);
    q.prepare(QString::fromLatin1(kSelect) +
              QStringLiteral("WHERE codigo = ? ORDER BY id DESC LIMIT ?"));
    q.addBindValue(code);
    q.addBindValue(limit);
    if (!q.exec())
        return store_.failure(q.lastError(), QStringLiteral("leer el historial de la tarjeta"));
    while (q.next())
        entries->push_back(entryFrom(q));
    return Status();
}

Status History::deleted(const QString& filter, int limit,
                        std::vector<HistoryEntry>* entries) const {
    if (store_.handOver())
        return store_.call([&] { return deleted(filter, limit, entries); });
    entries->clear();
    const QString doing = QStringLiteral("leer las tarjetas eliminadas");
    const QString typed = filter.trimmed();
    QSqlQuery q(store_.database());
    q.setForwardOnly(true);
    if (typed.isEmpty()) {
        q.prepare(QString::fromLatin1(kSelect) +
                  QStringLiteral("WHERE accion = 'baja' ORDER BY id DESC LIMIT ?"));
        q.addBindValue(limit);
        if (!q.exec())
            return store_.failure(q.lastError(), doing);
        while (q.next())
            entries->push_back(entryFrom(q));
        return Status();
    }

    // The code by its start, exactly; the owner anywhere in the name, folded as the main search
    // folds names (case, accents and the spaces between words do not count). The folding is
    // the program's own, so the deletes are walked here, newest first, by their code and owner
    // only, and the whole rows read for those found.
    const QString folded = foldedName(typed);
    q.prepare(store_.server()
                  ? QStringLiteral("SELECT id, codigo, CAST(antes AS json) ->> 'propietario' FROM "
                                   "\"Historial\" WHERE accion = 'baja' ORDER BY id DESC")
                  : QStringLiteral("SELECT id, codigo, json_extract(antes, '$.propietario') FROM "
                                   "Historial WHERE accion = 'baja' ORDER BY id DESC"));
    if (!q.exec())
        return store_.failure(q.lastError(), doing);
    std::vector<qint64> found;
    while (int(found.size()) < limit && q.next()) {
        if (q.value(1).toString().startsWith(typed) ||
            (!folded.isEmpty() && foldedName(q.value(2).toString()).contains(folded)))
            found.push_back(q.value(0).toLongLong());
    }
    if (q.lastError().isValid())
        return store_.failure(q.lastError(), doing);
    q.finish();
    if (found.empty())
        return Status();
    QStringList marks;
    for (size_t i = 0; i < found.size(); ++i)
        marks.append(QStringLiteral("?"));
    QSqlQuery rows(store_.database());
    rows.setForwardOnly(true);
    rows.prepare(QString::fromLatin1(kSelect) + QStringLiteral("WHERE id IN (") + marks.join(u',') +
                 QStringLiteral(") ORDER BY id DESC"));
    for (qint64 id : found)
        rows.addBindValue(id);
    if (!rows.exec())
        return store_.failure(rows.lastError(), doing);
    while (rows.next())
        entries->push_back(entryFrom(rows));
    return Status();
}

Status History::restore(qint64 entryId, RowId* restored) {
    if (store_.handOver())
        return store_.call([&] { return restore(entryId, restored); });
    *restored = kNoRow;
    Card card;
    RowId formerId = kNoRow;
    const QString doing = QStringLiteral("restaurar la tarjeta");
    Status status = store_.runWrite(
        [&]() -> Status {
            QSqlQuery q(store_.database());
            q.prepare(QString::fromLatin1(kSelect) + QStringLiteral("WHERE id = ?"));
            q.addBindValue(entryId);
            if (!q.exec())
                return store_.failure(q.lastError(), doing);
            if (!q.next() || q.value(4).toString() != reasonName(WriteReason::Baja))
                return Status::failure(ErrorKind::NotFound,
                                       QStringLiteral("La eliminación ya no está en el historial "
                                                      "del registro %1.")
                                           .arg(store_.registry().quoted()));
            const HistoryEntry entry = entryFrom(q);
            q.finish();
            card = entry.beforeCard();
            formerId = entry.cardId;
            RowId existing = kNoRow;
            if (Status s = store_.findCode(card[Codigo], &existing); !s)
                return s;
            if (existing != kNoRow)
                return Status::failure(
                    ErrorKind::Duplicate,
                    QStringLiteral("Ya existe una tarjeta con el código %1: la tarjeta eliminada "
                                   "no se restauró.")
                        .arg(card[Codigo]));
            if (formerId != kNoRow) {
                Card occupant;
                if (store_.readCard(formerId, &occupant).kind() != ErrorKind::NotFound)
                    formerId = kNoRow; // its place is taken: the card goes after the last one
            }
            return store_.addInTransaction(card, WriteReason::Restauracion, formerId, restored,
                                           doing);
        },
        doing);
    if (!status) {
        *restored = kNoRow;
        return status;
    }
    store_.notify(CardStore::Change::Added, *restored, &card);
    return status;
}

Status History::purgeBefore(const QDateTime& cutoff, qint64* removed) {
    if (store_.handOver())
        return store_.call([&] { return purgeBefore(cutoff, removed); });
    *removed = 0;
    const QString doing = QStringLiteral("recortar el historial");
    return store_.runWrite(
        [&]() -> Status {
            QSqlQuery q(store_.database());
            // Years of history may take longer to delete than a command's statements may run.
            if (store_.server() && !q.exec(QStringLiteral("SET LOCAL statement_timeout = 0")))
                return store_.failure(q.lastError(), doing);
            q.prepare(QStringLiteral("DELETE FROM \"Historial\" WHERE cuando < ?"));
            q.addBindValue(isoUtc(cutoff));
            if (!q.exec())
                return store_.failure(q.lastError(), doing);
            *removed = q.numRowsAffected();
            return Status();
        },
        doing);
}

int runPurgeCommand(const Folders& folders, int days, QTextStream& out, const QDateTime& now) {
    Status status;
    const Registry registry = chooseRegistry(folders, &status);
    if (!status) {
        out << status.message() << u'\n';
        return 1;
    }
    if (!registry.isServer() && !QFileInfo(registry.location()).isFile()) {
        // Opening would create an empty registry where the user expected one.
        out << QStringLiteral("No se pudo recortar el historial: no hay un registro %1.\n")
                   .arg(registry.quoted());
        return 1;
    }
    std::unique_ptr<CardStore> cards = CardStore::open(registry, &status);
    qint64 removed = 0;
    const QDateTime cutoff = now.toUTC().addDays(-days);
    if (cards)
        status = History(*cards).purgeBefore(cutoff, &removed);
    if (!status) {
        out << status.message() << u'\n';
        return 1;
    }
    out << QStringLiteral("Historial del registro %1: se eliminaron %2 filas anteriores al %3.\n")
               .arg(registry.quoted())
               .arg(removed)
               .arg(cutoff.toLocalTime().toString(QStringLiteral("dd/MM/yyyy HH:mm")));
    return 0;
}

} // namespace store
