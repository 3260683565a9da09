#include "PgLink.h"

#include "CardStore.h"
#include "Registry.h"

#include <QSqlError>
#include <QStringList>
#include <QtEndian>

#include <libpq-fe.h>

#include <algorithm>
#include <vector>

namespace store {

namespace {

bool has(const QString& text, const char* words) {
    return text.contains(QLatin1String(words), Qt::CaseInsensitive);
}

// Text values of a libpq URI, keyword by keyword (only those given).
std::vector<std::pair<QString, QString>> uriOptions(const QString& uri) {
    std::vector<std::pair<QString, QString>> result;
    char* error = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(uri.toUtf8().constData(), &error)) {
        for (PQconninfoOption* o = options; o->keyword; ++o)
            if (o->val)
                result.emplace_back(QString::fromUtf8(o->keyword), QString::fromUtf8(o->val));
        PQconninfoFree(options);
    }
    PQfreemem(error);
    return result;
}

// The URI's options with the defaults it does not name, as libpq keywords and values.
std::vector<std::pair<QString, QString>> withDefaults(const QString& uri) {
    std::vector<std::pair<QString, QString>> options = uriOptions(uri);
    for (const auto& [key, value] : connectionDefaults()) {
        if (std::none_of(options.begin(), options.end(),
                         [&](const auto& o) { return o.first == key; }))
            options.emplace_back(key, value);
    }
    return options;
}

} // namespace

std::vector<std::pair<QString, QString>> connectionDefaults() {
    return {
        {QStringLiteral("connect_timeout"), QString::number(kConnectTimeoutS)},
        {QStringLiteral("keepalives"), QStringLiteral("1")},
        {QStringLiteral("keepalives_idle"), QStringLiteral("1")},
        {QStringLiteral("keepalives_interval"), QStringLiteral("1")},
        {QStringLiteral("keepalives_count"), QStringLiteral("2")},
        {QStringLiteral("tcp_user_timeout"), QStringLiteral("3000")},
    };
}

SqlReason explainServerError(const QString& sqlstate, const QString& text) {
    SqlReason r;
    r.detail = text.trimmed();
    const QString cls = sqlstate.left(2);
    // A connection that could not be made has no SQLSTATE: libpq's text tells why.
    const bool connecting = sqlstate.isEmpty();
    if (sqlstate == u"23505") {
        r.kind = ErrorKind::Duplicate;
        r.reason = QStringLiteral("ya existe una tarjeta con ese código");
    } else if (sqlstate == u"40001" || sqlstate == u"40P01" || sqlstate == u"55P03" ||
               (sqlstate == u"57014" && has(text, "lock"))) {
        // Serialization failure, deadlock, or a lock not granted within the wait: another
        // workstation holds the cards for the moment.
        r.kind = ErrorKind::Busy;
        r.reason = QStringLiteral("otro equipo tiene el registro ocupado con las mismas "
                                  "tarjetas; intente de nuevo en unos momentos");
    } else if (sqlstate == u"57014") {
        // The statement ran past its time on the server and was cancelled there.
        r.kind = ErrorKind::Busy;
        r.reason = QStringLiteral("el servidor no respondió a tiempo (está sobrecargado o "
                                  "detenido); intente de nuevo en unos momentos, y si sigue "
                                  "igual avise a quien administra el servidor");
    } else if (connecting &&
               (has(text, "missing \"=\"") || has(text, "invalid URI") ||
                has(text, "invalid integer value") || has(text, "invalid port") ||
                has(text, "invalid connection option") || has(text, "invalid percent") ||
                has(text, "unterminated quoted string") || has(text, "invalid value for"))) {
        r.kind = ErrorKind::CannotOpen;
        r.reason = QStringLiteral("la dirección del registro no es válida; debe tener la forma "
                                  "postgresql://usuario@servidor:puerto/base (revise "
                                  "--base-datos o la sección [BASE DE DATOS] de la "
                                  "configuración)");
    } else if (sqlstate == u"28P01" || sqlstate == u"28000" ||
               (connecting &&
                (has(text, "authentication failed") || has(text, "no password supplied") ||
                 (has(text, "role") && has(text, "does not exist"))))) {
        r.kind = ErrorKind::Denied;
        r.reason = QStringLiteral("el servidor rechazó el usuario o su contraseña (la contraseña "
                                  "va en el archivo de contraseñas de PostgreSQL, ~/.pgpass, no "
                                  "en la configuración)");
    } else if (sqlstate == u"3D000" ||
               (connecting && has(text, "database") && has(text, "does not exist"))) {
        r.kind = ErrorKind::CannotOpen;
        r.reason = QStringLiteral("la base de datos no existe en el servidor; revise su nombre "
                                  "en la dirección del registro");
    } else if (sqlstate == u"42501" || (connecting && has(text, "permission denied"))) {
        r.kind = connecting ? ErrorKind::Denied : ErrorKind::ReadOnly;
        r.reason = connecting ? QStringLiteral("el usuario no tiene permiso para conectarse a esa "
                                               "base de datos; pida el permiso a quien "
                                               "administra el servidor")
                              : QStringLiteral("el usuario no tiene permiso para esta operación "
                                               "en la base de datos; pida el permiso a quien "
                                               "administra el servidor");
    } else if (sqlstate == u"25006") {
        r.kind = ErrorKind::ReadOnly;
        r.reason = QStringLiteral("la base de datos sólo permite leer");
    } else if (sqlstate == u"53100") {
        r.kind = ErrorKind::DiskFull;
        r.reason = QStringLiteral("el disco del servidor está lleno");
    } else if (sqlstate == u"57P03" ||
               (connecting && (has(text, "starting up") || has(text, "shutting down") ||
                               has(text, "in recovery mode")))) {
        r.kind = ErrorKind::Unreachable;
        r.reason = QStringLiteral("el servidor se está iniciando o deteniendo; intente de nuevo "
                                  "en unos momentos");
    } else if (connecting && (has(text, "could not translate host name") ||
                              has(text, "Name or service not known") ||
                              has(text, "failure in name resolution"))) {
        r.kind = ErrorKind::Unreachable;
        r.reason = QStringLiteral("no se pudo conectar con el servidor: no se encontró un "
                                  "servidor con ese nombre; revise el nombre del servidor en "
                                  "la dirección del registro, o la red");
    } else if (connecting && (has(text, "Connection refused") ||
                              (has(text, "No such file or directory") && has(text, "socket")))) {
        r.kind = ErrorKind::Unreachable;
        r.reason = QStringLiteral("no se pudo conectar con el servidor: no acepta conexiones "
                                  "en esa dirección y puerto (está apagado, o el puerto no es "
                                  "el correcto); encienda el servidor o corrija la dirección, "
                                  "y vuelva a intentarlo");
    } else if (connecting &&
               (has(text, "timeout expired") || has(text, "timed out") ||
                has(text, "No route to host") || has(text, "Network is unreachable"))) {
        r.kind = ErrorKind::Unreachable;
        r.reason = QStringLiteral("no se pudo conectar con el servidor: no respondió a tiempo "
                                  "(la red está cortada, o el equipo del servidor está apagado "
                                  "o detenido); revise la red y vuelva a intentarlo");
    } else if (connecting && has(text, "connection to server") && has(text, "failed")) {
        r.kind = ErrorKind::Unreachable;
        r.reason = QStringLiteral("no se pudo conectar con el servidor; revise que esté "
                                  "encendido y que la dirección del registro sea la correcta");
    } else if (cls == u"08" || cls == u"57" ||
               (connecting &&
                (has(text, "connection") || has(text, "server") || has(text, "could not")))) {
        r.kind = ErrorKind::Unreachable;
        r.reason = QStringLiteral("se perdió la conexión con el servidor (se reinició, o la red "
                                  "se cortó); el programa vuelve a conectarse solo: intente de "
                                  "nuevo en unos momentos");
    } else if (cls == u"42" && has(text, "does not exist")) {
        r.kind = ErrorKind::NotADatabase;
        r.reason = QStringLiteral("la base de datos no es un registro de tarjetas");
    } else {
        r.reason = QStringLiteral("error de la base de datos");
    }
    return r;
}

QSqlDatabase addRegistryConnection(const Registry& registry, const QString& name, bool readOnly,
                                   int busyTimeoutMs) {
    if (!registry.isServer()) {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(registry.location());
        db.setConnectOptions((readOnly ? QStringLiteral("QSQLITE_OPEN_READONLY;") : QString()) +
                             QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busyTimeoutMs));
        return db;
    }
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    QStringList rest;
    for (const auto& [key, value] : withDefaults(registry.location())) {
        if (key == u"host")
            db.setHostName(value);
        else if (key == u"port")
            db.setPort(value.toInt());
        else if (key == u"dbname")
            db.setDatabaseName(value);
        else if (key == u"user")
            db.setUserName(value);
        else if (key == u"password")
            db.setPassword(value);
        else
            rest.append(key + QStringLiteral("='") +
                        QString(value)
                            .replace(u'\\', QStringLiteral("\\\\"))
                            .replace(u'\'', QStringLiteral("\\'")) +
                        u'\'');
    }
    db.setConnectOptions(rest.join(u';'));
    return db;
}

namespace {

// A registry address libpq would read as something else: without its scheme
// ("postgresq://servidor/base") it is taken for the name of a database on this computer's
// default server, and the user would be told that server is switched off.
bool malformed(const QString& uri, SqlReason* failure) {
    const bool isUri = uri.startsWith(u"postgresql://") || uri.startsWith(u"postgres://");
    QString problem;
    if (!isUri && !uri.contains(u'=')) {
        problem = QStringLiteral("the address does not begin with postgresql://");
    } else {
        char* error = nullptr;
        PQconninfoOption* options = PQconninfoParse(uri.toUtf8().constData(), &error);
        if (!options)
            problem = error ? QString::fromUtf8(error).trimmed()
                            : QStringLiteral("the address cannot be read");
        PQconninfoFree(options);
        PQfreemem(error);
    }
    if (problem.isEmpty())
        return false;
    *failure = explainServerError(QString(), QStringLiteral("invalid URI: ") + problem);
    return true;
}

// libpq's keywords and values for a registry's URI: the URI as given, then the defaults it does
// not name (a later keyword would override it). The pointers are into the two byte arrays.
struct ConnectParams {
    std::vector<QByteArray> keys;
    std::vector<QByteArray> values;
    std::vector<const char*> keyPointers;
    std::vector<const char*> valuePointers;

    explicit ConnectParams(const QString& uri) {
        keys.push_back(QByteArrayLiteral("dbname"));
        values.push_back(uri.toUtf8());
        const std::vector<std::pair<QString, QString>> given = uriOptions(uri);
        for (const auto& [key, value] : connectionDefaults()) {
            if (std::none_of(given.begin(), given.end(),
                             [&](const auto& o) { return o.first == key; })) {
                keys.push_back(key.toUtf8());
                values.push_back(value.toUtf8());
            }
        }
        for (size_t i = 0; i < keys.size(); ++i) {
            keyPointers.push_back(keys[i].constData());
            valuePointers.push_back(values[i].constData());
        }
        keyPointers.push_back(nullptr);
        valuePointers.push_back(nullptr);
    }
};

} // namespace

bool PgLink::answers(const QString& uri) {
    SqlReason ignored;
    if (malformed(uri, &ignored))
        return false;
    const ConnectParams params(uri);
    return PQpingParams(params.keyPointers.data(), params.valuePointers.data(), 1) == PQPING_OK;
}

std::unique_ptr<PgLink> PgLink::connect(const QString& uri, SqlReason* failure) {
    if (malformed(uri, failure))
        return nullptr;
    const ConnectParams params(uri);
    PGconn* conn = PQconnectdbParams(params.keyPointers.data(), params.valuePointers.data(), 1);
    if (!conn || PQstatus(conn) != CONNECTION_OK) {
        const QString text =
            conn ? QString::fromUtf8(PQerrorMessage(conn)) : QStringLiteral("sin memoria");
        *failure = explainServerError(QString(), text);
        if (conn && PQconnectionNeedsPassword(conn))
            failure->kind = ErrorKind::Denied;
        PQfinish(conn);
        return nullptr;
    }
    return std::unique_ptr<PgLink>(new PgLink(conn));
}

PgLink::~PgLink() {
    PQfinish(conn_);
}

SqlReason PgLink::lastFailure(const pg_result* result) const {
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const QString text = result && *PQresultErrorMessage(result)
                             ? QString::fromUtf8(PQresultErrorMessage(result))
                             : QString::fromUtf8(PQerrorMessage(conn_));
    return explainServerError(state ? QString::fromLatin1(state) : QString(), text);
}

bool PgLink::ensureOpen(SqlReason* failure) {
    if (PQstatus(conn_) == CONNECTION_OK)
        return true;
    // A connection lost meanwhile (the server restarted) is made again once.
    PQreset(conn_);
    if (PQstatus(conn_) == CONNECTION_OK)
        return true;
    *failure = explainServerError(QString(), QString::fromUtf8(PQerrorMessage(conn_)));
    return false;
}

QByteArray PgLink::literal(QByteArrayView text) const {
    // libpq writes E'…' when there is a backslash, so the literal reads the same whatever the
    // server's standard_conforming_strings.
    char* quoted = PQescapeLiteral(conn_, text.data(), size_t(text.size()));
    if (!quoted)
        return {};
    QByteArray result(quoted);
    PQfreemem(quoted);
    return result;
}

qint64 PgLink::bigint(QByteArrayView bytes) {
    if (bytes.size() != 8)
        return -1;
    return qFromBigEndian<qint64>(bytes.data());
}

void PgLink::dropAhead() {
    if (!ahead_)
        return;
    ahead_ = false;
    while (PGresult* res = PQgetResult(conn_))
        PQclear(res);
}

bool PgLink::sendAhead(const QString& sql, std::span<const QByteArray> params) {
    dropAhead();
    if (PQstatus(conn_) != CONNECTION_OK)
        return false;
    std::vector<const char*> values;
    for (const QByteArray& p : params)
        values.push_back(p.constData());
    aheadSql_ = sql.toUtf8();
    if (!PQsendQueryParams(conn_, aheadSql_.constData(), int(values.size()), nullptr, values.data(),
                           nullptr, nullptr, 0))
        return false;
    aheadParams_.assign(params.begin(), params.end());
    ahead_ = true;
    return true;
}

bool PgLink::exec(const QString& sql, SqlReason* failure) {
    dropAhead();
    if (!ensureOpen(failure))
        return false;
    PGresult* res = PQexec(conn_, sql.toUtf8().constData());
    const bool ok =
        PQresultStatus(res) == PGRES_COMMAND_OK || PQresultStatus(res) == PGRES_TUPLES_OK;
    if (!ok)
        *failure = lastFailure(res);
    PQclear(res);
    return ok;
}

bool PgLink::query(const QString& sql, std::span<const QByteArray> params,
                   const std::function<void(Row)>& visit, SqlReason* failure,
                   const std::function<void(int, Row)>& arrived) {
    const QByteArray text = sql.toUtf8();
    PGresult* res = nullptr;
    if (ahead_ && text == aheadSql_ &&
        std::equal(params.begin(), params.end(), aheadParams_.begin(), aheadParams_.end())) {
        // Asked ahead: its rows are here or on their way.
        ahead_ = false;
        res = PQgetResult(conn_);
        while (PGresult* end = PQgetResult(conn_))
            PQclear(end);
    } else {
        dropAhead();
        if (!ensureOpen(failure))
            return false;
        std::vector<const char*> values;
        for (const QByteArray& p : params)
            values.push_back(p.constData());
        res = PQexecParams(conn_, text.constData(), int(values.size()), nullptr, values.data(),
                           nullptr, nullptr, 0);
    }
    if (PQresultStatus(res) != PGRES_TUPLES_OK) {
        *failure = lastFailure(res);
        PQclear(res);
        return false;
    }
    const int rows = PQntuples(res);
    const int columns = PQnfields(res);
    std::vector<QByteArrayView> row(static_cast<size_t>(columns));
    const auto take = [&](int r) {
        for (int c = 0; c < columns; ++c)
            row[size_t(c)] = PQgetisnull(res, r, c)
                                 ? QByteArrayView()
                                 : QByteArrayView(PQgetvalue(res, r, c), PQgetlength(res, r, c));
    };
    if (arrived) {
        if (rows > 0)
            take(rows - 1);
        arrived(rows, rows > 0 ? Row(row) : Row());
    }
    for (int r = 0; r < rows; ++r) {
        take(r);
        visit(row);
    }
    PQclear(res);
    return true;
}

bool PgLink::copyOut(const QString& select, int expected, const std::function<bool(Row)>& visit,
                     SqlReason* failure) {
    dropAhead();
    if (!ensureOpen(failure))
        return false;
    const QByteArray sql = QByteArrayLiteral("COPY (") + select.toUtf8() +
                           QByteArrayLiteral(") TO STDOUT (FORMAT binary)");
    PGresult* res = PQexec(conn_, sql.constData());
    if (PQresultStatus(res) != PGRES_COPY_OUT) {
        *failure = lastFailure(res);
        PQclear(res);
        return false;
    }
    PQclear(res);

    // The binary format: a signature, flags and a header extension, then per row a 16-bit column
    // count and per column a 32-bit length (-1 for Null) and the bytes; a count of -1 ends it.
    static constexpr char kSignature[] = "PGCOPY\n\377\r\n";
    bool header = true;
    bool stopped = false;
    bool malformed = false;
    std::vector<QByteArrayView> row;
    char* buffer = nullptr;
    int length;
    while ((length = PQgetCopyData(conn_, &buffer, 0)) > 0) {
        const char* p = buffer;
        const char* end = buffer + length;
        const auto take32 = [&](qint32* v) {
            if (end - p < 4)
                return false;
            *v = qFromBigEndian<qint32>(p);
            p += 4;
            return true;
        };
        if (header) {
            qint32 flags = 0;
            qint32 extension = 0;
            if (length < 11 || memcmp(p, kSignature, 11) != 0) {
                malformed = true;
            } else {
                p += 11;
                malformed = !take32(&flags) || !take32(&extension) || end - p < extension;
                p += extension;
            }
            header = false;
        }
        while (!malformed && !stopped && end - p >= 2) {
            const qint16 columns = qFromBigEndian<qint16>(p);
            p += 2;
            if (columns < 0)
                break; // the trailer
            if (columns != expected) {
                malformed = true;
                break;
            }
            row.resize(size_t(columns));
            for (qint16 c = 0; c < columns && !malformed; ++c) {
                qint32 size = 0;
                if (!take32(&size) || end - p < qMax(size, 0)) {
                    malformed = true;
                    break;
                }
                row[size_t(c)] = size < 0 ? QByteArrayView() : QByteArrayView(p, size);
                p += qMax(size, 0);
            }
            if (!malformed && !visit(row))
                stopped = true;
        }
        PQfreemem(buffer);
        buffer = nullptr;
        if (stopped || malformed)
            break;
    }
    if (stopped || malformed) {
        // The rest of the COPY is not wanted: a new session is quicker than reading it through.
        PQreset(conn_);
        if (malformed) {
            failure->kind = ErrorKind::Io;
            failure->reason = QStringLiteral("el servidor envió datos que no se pudieron leer");
            failure->detail = QStringLiteral("binary COPY stream malformed");
        }
        return !malformed;
    }
    if (length == -2) {
        *failure = lastFailure(nullptr);
        return false;
    }
    bool ok = true;
    while (PGresult* done = PQgetResult(conn_)) {
        if (PQresultStatus(done) != PGRES_COMMAND_OK) {
            *failure = lastFailure(done);
            ok = false;
        }
        PQclear(done);
    }
    return ok;
}

} // namespace store
