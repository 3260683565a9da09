#include "CopyToServer.h"

#include "CardStore.h"
#include "PgLink.h"
#include "Registry.h"
#include "SearchIndex.h"
#include "SearchIndexServer.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringBuilder>
#include <QTextStream>
#include <QtEndian>

#include <libpq-fe.h>

#include <array>
#include <vector>

namespace store {

namespace {

using CardHash = std::array<char, 20>;

// The same bytes for the same card on both sides: its id, then each field as a Null mark or its
// length and UTF-8 bytes, so that Null, the empty text and shifted values all differ.
class CardHasher {
public:
    void start(qint64 id) {
        hash_.reset();
        char bytes[8];
        qToBigEndian(id, bytes);
        hash_.addData(QByteArrayView(bytes, 8));
    }
    void field(QByteArrayView value) {
        char length[4];
        qToBigEndian<qint32>(value.data() ? qint32(value.size()) : -1, length);
        hash_.addData(QByteArrayView(length, 4));
        if (value.data())
            hash_.addData(value);
    }
    CardHash result() const {
        CardHash h{};
        const QByteArray r = hash_.result();
        std::copy_n(r.constData(), h.size(), h.begin());
        return h;
    }

private:
    QCryptographicHash hash_{QCryptographicHash::Sha1};
};

// The rows of a binary COPY into the server, buffered and sent a megabyte at a time.
class CopyInWriter {
public:
    explicit CopyInWriter(pg_conn* conn) : conn_(conn) {
        buffer_.append("PGCOPY\n\377\r\n\0", 11);
        append32(0); // flags
        append32(0); // header extension
    }
    void row(qint64 id, const RawCard& card) {
        char count[2];
        qToBigEndian<qint16>(qint16(kFieldCount + 1), count);
        buffer_.append(count, 2);
        append32(8);
        char bytes[8];
        qToBigEndian(id, bytes);
        buffer_.append(bytes, 8);
        for (int i = 0; i < kFieldCount; ++i) {
            const Field f = static_cast<Field>(i);
            if (card.isNull(f)) {
                append32(-1);
                continue;
            }
            append32(qint32(card.utf8(f).size()));
            buffer_.append(card.utf8(f).data(), card.utf8(f).size());
        }
    }
    bool flushIfFull() { return buffer_.size() < (1 << 20) || flush(); }
    bool finish() {
        char trailer[2];
        qToBigEndian<qint16>(-1, trailer);
        buffer_.append(trailer, 2);
        return flush() && PQputCopyEnd(conn_, nullptr) == 1;
    }

private:
    void append32(qint32 v) {
        char bytes[4];
        qToBigEndian(v, bytes);
        buffer_.append(bytes, 4);
    }
    bool flush() {
        const bool ok = PQputCopyData(conn_, buffer_.constData(), int(buffer_.size())) == 1;
        buffer_.clear();
        return ok;
    }

    pg_conn* conn_;
    QByteArray buffer_;
};

// One value of a text COPY row: \\N for Null, the separators and the backslash escaped.
void appendCopyText(QByteArray& row, const QVariant& value) {
    if (value.isNull()) {
        row.append("\\N");
        return;
    }
    for (char c : value.toString().toUtf8()) {
        switch (c) {
        case '\\':
            row.append("\\\\");
            break;
        case '\t':
            row.append("\\t");
            break;
        case '\n':
            row.append("\\n");
            break;
        case '\r':
            row.append("\\r");
            break;
        default:
            row.append(c);
        }
    }
}

Status serverFailure(const Registry& registry, const SqlReason& r, const QString& doing) {
    return Status::failure(r.kind,
                           QStringLiteral("No se pudo %1 en el registro %2: %3.")
                               .arg(doing, registry.quoted(), r.reason),
                           r.detail);
}

// The file's history, when it has one, after any rows the server has, oldest first. The rows keep
// the ids of their cards, which the copied cards keep too, so that a deleted card restores in its
// place.
Status copyHistory(const CardStore& local, PgLink& link, const Registry& server, qint64* rows) {
    *rows = 0;
    QSqlQuery q(local.database());
    q.setForwardOnly(true);
    const auto unreadable = [&] {
        return Status::failure(ErrorKind::Other,
                               QStringLiteral("No se pudo leer el historial del registro %1. No "
                                              "se copió nada.")
                                   .arg(local.registry().quoted()),
                               q.lastError().text());
    };
    if (!q.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                               "name = 'Historial'")) ||
        !q.next())
        return unreadable();
    if (q.value(0).toInt() == 0)
        return Status();
    q.finish();
    if (!q.exec(QStringLiteral("SELECT cuando, usuario, equipo, accion, codigo, tarjeta, antes, "
                               "despues FROM Historial ORDER BY id")))
        return unreadable();
    PGresult* res = PQexec(link.handle(), "COPY \"Historial\" (cuando, usuario, equipo, accion, "
                                          "codigo, tarjeta, antes, despues) FROM STDIN");
    const bool copyIn = PQresultStatus(res) == PGRES_COPY_IN;
    PQclear(res);
    if (!copyIn)
        return Status::failure(ErrorKind::Other,
                               QStringLiteral("No se pudo copiar el historial al registro %1: el "
                                              "servidor no aceptó la copia. No se copió nada.")
                                   .arg(server.quoted()),
                               QString::fromUtf8(PQerrorMessage(link.handle())));
    constexpr int kColumns = 8;
    QByteArray buffer;
    bool sent = true;
    while (sent && q.next()) {
        for (int i = 0; i < kColumns; ++i) {
            if (i > 0)
                buffer.append('\t');
            appendCopyText(buffer, q.value(i));
        }
        buffer.append('\n');
        ++*rows;
        if (buffer.size() >= (1 << 20)) {
            sent = PQputCopyData(link.handle(), buffer.constData(), int(buffer.size())) == 1;
            buffer.clear();
        }
    }
    const bool readAll = q.lastError().type() == QSqlError::NoError;
    if (sent && !buffer.isEmpty())
        sent = PQputCopyData(link.handle(), buffer.constData(), int(buffer.size())) == 1;
    PQputCopyEnd(link.handle(), sent && readAll ? nullptr : "cancelled");
    bool stored = true;
    QString detail = QString::fromUtf8(PQerrorMessage(link.handle()));
    while (PGresult* r = PQgetResult(link.handle())) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            stored = false;
            detail = QString::fromUtf8(PQresultErrorMessage(r));
        }
        PQclear(r);
    }
    if (!readAll)
        return unreadable();
    if (!sent || !stored)
        return Status::failure(
            ErrorKind::Other,
            QStringLiteral("El registro %1 no aceptó el historial. No se copió nada.")
                .arg(server.quoted()),
            detail);
    return Status();
}

} // namespace

Status copyToServer(const QString& filePath, const QString& uri, qint64* copied,
                    qint64* historyRows) {
    *copied = 0;
    qint64 ignoredRows = 0;
    if (!historyRows)
        historyRows = &ignoredRows;
    *historyRows = 0;
    const Registry server = Registry::server(uri);
    if (!QFileInfo(filePath).isFile())
        return Status::failure(ErrorKind::CannotOpen,
                               QStringLiteral("No existe el registro %1 que se quiere copiar.")
                                   .arg(Registry::file(filePath).quoted()));
    Status status;
    const std::unique_ptr<CardStore> local = CardStore::open(filePath, &status);
    if (!local)
        return status;
    // Opening the server's registry creates its table when the database is empty, and with it
    // the search index, which its trigger fills as the cards arrive. A registry made by an
    // earlier version gets the index now, while it has no cards.
    {
        const std::unique_ptr<CardStore> target = CardStore::open(server, &status);
        if (!target)
            return status;
        const bool indexed = SearchIndex::present(*target, &status);
        if (status && !indexed)
            status = SearchIndex::build(*target, {});
        if (!status)
            return status;
    }

    SqlReason reason;
    const std::unique_ptr<PgLink> link = PgLink::connect(uri, &reason);
    if (!link)
        return serverFailure(server, reason, QStringLiteral("conectar con el servidor"));
    const QString copying = QStringLiteral("copiar las tarjetas");
    // Nobody adds a card while the copy runs: the table is locked against writes until commit.
    if (!link->exec(QStringLiteral("BEGIN"), &reason) ||
        !link->exec(QStringLiteral("LOCK TABLE \"Clientes\" IN EXCLUSIVE MODE"), &reason))
        return serverFailure(server, reason, copying);
    const auto rollback = [&](Status failed) {
        SqlReason ignored;
        link->exec(QStringLiteral("ROLLBACK"), &ignored);
        return failed;
    };
    qint64 already = 0;
    if (!link->query(
            QStringLiteral("SELECT count(*) FROM \"Clientes\""), {},
            [&](PgLink::Row row) { already = row[0].toLongLong(); }, &reason))
        return rollback(serverFailure(server, reason, copying));
    if (already > 0)
        return rollback(Status::failure(
            ErrorKind::Duplicate,
            QStringLiteral("El registro %1 ya tiene %2 tarjetas: las tarjetas sólo se copian a una "
                           "base sin tarjetas. No se copió nada.")
                .arg(server.quoted())
                .arg(already)));

    const bool deferred = ServerSearch::deferIndexing(*link);
    PGresult* res = PQexec(link->handle(),
                           (QStringLiteral("COPY \"Clientes\" (id, ") % CardStore::columnList() %
                            QStringLiteral(") FROM STDIN (FORMAT binary)"))
                               .toUtf8()
                               .constData());
    const bool copyIn = PQresultStatus(res) == PGRES_COPY_IN;
    PQclear(res);
    if (!copyIn)
        return rollback(Status::failure(
            ErrorKind::Other,
            QStringLiteral("No se pudo copiar las tarjetas al registro %1: el servidor no aceptó "
                           "la copia.")
                .arg(server.quoted()),
            QString::fromUtf8(PQerrorMessage(link->handle()))));

    std::vector<CardHash> hashes;
    CopyInWriter writer(link->handle());
    CardHasher hasher;
    bool sent = true;
    status = local->forEachRawCard(Order::Stored, [&](RowId id, const RawCard& card) {
        writer.row(id, card);
        hasher.start(id);
        for (int i = 0; i < kFieldCount; ++i)
            hasher.field(card.isNull(static_cast<Field>(i)) ? QByteArrayView()
                                                            : card.utf8(static_cast<Field>(i)));
        hashes.push_back(hasher.result());
        sent = writer.flushIfFull();
        return sent;
    });
    if (!status || !sent || !writer.finish()) {
        PQputCopyEnd(link->handle(), "cancelled");
        while (PGresult* r = PQgetResult(link->handle()))
            PQclear(r);
        return rollback(status ? Status::failure(ErrorKind::Unreachable,
                                                 QStringLiteral("No se pudo copiar las tarjetas "
                                                                "al registro %1: se perdió la "
                                                                "conexión con el servidor.")
                                                     .arg(server.quoted()),
                                                 QString::fromUtf8(PQerrorMessage(link->handle())))
                               : status);
    }
    bool stored = true;
    QString detail;
    while (PGresult* r = PQgetResult(link->handle())) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK) {
            stored = false;
            detail = QString::fromUtf8(PQresultErrorMessage(r));
        }
        PQclear(r);
    }
    if (!stored)
        return rollback(Status::failure(
            ErrorKind::Other,
            QStringLiteral("El registro %1 no aceptó las tarjetas. No se copió nada.")
                .arg(server.quoted()),
            detail));

    // Read back inside the same transaction: the same cards, in the same order, byte for byte.
    size_t checked = 0;
    bool same = true;
    if (!link->copyOut(
            QStringLiteral("SELECT id, ") % CardStore::columnList() %
                QStringLiteral(" FROM \"Clientes\" ORDER BY id"),
            kFieldCount + 1,
            [&](PgLink::Row row) {
                hasher.start(PgLink::bigint(row[0]));
                for (int i = 0; i < kFieldCount; ++i)
                    hasher.field(row[size_t(i) + 1]);
                same = checked < hashes.size() && hasher.result() == hashes[checked];
                ++checked;
                return same;
            },
            &reason))
        return rollback(serverFailure(server, reason, QStringLiteral("verificar la copia")));
    if (!same || checked != hashes.size())
        return rollback(Status::failure(
            ErrorKind::Io,
            QStringLiteral("La copia en el registro %1 no es igual al archivo (%2 tarjetas en el "
                           "archivo, la tarjeta %3 distinta o faltante). No se copió nada.")
                .arg(server.quoted())
                .arg(hashes.size())
                .arg(checked)));
    if (Status h = copyHistory(*local, *link, server, historyRows); !h)
        return rollback(h);
    if (deferred && !ServerSearch::indexDeferred(*link, &reason))
        return rollback(
            serverFailure(server, reason, QStringLiteral("crear el índice de búsqueda")));
    // New cards continue after the copied ids.
    if (!link->exec(QStringLiteral("SELECT setval(pg_get_serial_sequence('\"Clientes\"', 'id'), "
                                   "greatest(coalesce(max(id), 0), 1), max(id) IS NOT NULL) "
                                   "FROM \"Clientes\""),
                    &reason) ||
        !link->exec(QStringLiteral("COMMIT"), &reason))
        return rollback(serverFailure(server, reason, copying));
    *copied = qint64(hashes.size());
    // The search reads its words by index-only scans, which need the pages the copy wrote marked
    // all-visible; autovacuum would do it later.
    SqlReason ignored;
    (void)link->exec(QStringLiteral("VACUUM (ANALYZE) \"BusquedaTarjetas\""), &ignored);
    return Status();
}

int runCopyToServerCommand(const Folders& folders, const QString& uri, QTextStream& out) {
    const QString file = folders.appFile(kDatabaseFileName);
    qint64 copied = 0;
    qint64 historyRows = 0;
    const Status status = copyToServer(file, uri, &copied, &historyRows);
    if (!status) {
        out << status.message() << '\n';
        out.flush();
        return 1;
    }
    out << QStringLiteral("Se copiaron %1 tarjetas de %2 al registro %3, en el mismo orden; el "
                          "número de tarjetas y cada tarjeta leída de vuelta del servidor son "
                          "iguales a las del archivo.\n")
               .arg(copied)
               .arg(Registry::file(file).quoted(), Registry::server(uri).quoted());
    if (historyRows > 0)
        out << QStringLiteral("También se copiaron las %1 filas de su historial.\n")
                   .arg(historyRows);
    out.flush();
    return 0;
}

} // namespace store
