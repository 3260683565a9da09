// The server's change log: table RegistroCambios and the statement triggers on "Clientes" that
// fill it.

#include "ChangeLog.h"

#include <QStringBuilder>

namespace store {

namespace ChangeLog {

QStringList serverStatements() {
    // Run once, in the transaction that creates the schema or brings it to this version.
    // Order numbers follow the order in which writes commit: a write takes a lock before its
    // first row, held to its end, so a look never passes over a write that commits later with
    // a smaller number. The lock is the registry's own: registries in other schemas of the same
    // database write at the same time. A statement of more cards than the log keeps leaves a row
    // without a card, which tells a look to read everything again.
    const QString logFrom = QStringLiteral(
        "IF (SELECT count(*) FROM %1) > %2 THEN INSERT INTO \"RegistroCambios\" (tarjeta) VALUES "
        "(NULL); ELSE INSERT INTO \"RegistroCambios\" (tarjeta) SELECT id FROM %1; END IF; ");
    const auto function = [&](const char* name, const QString& body) -> QString {
        return QStringLiteral("CREATE OR REPLACE FUNCTION \"%1\"() RETURNS trigger LANGUAGE "
                              "plpgsql AS $$ BEGIN ")
                   .arg(QLatin1StringView(name)) %
               body % trimSql() % QStringLiteral(" RETURN NULL; END $$");
    };
    const QString nuevas = logFrom.arg(QStringLiteral("nuevas")).arg(kChangeLogKept);
    const QString viejas = logFrom.arg(QStringLiteral("viejas")).arg(kChangeLogKept);
    return {
        QStringLiteral("CREATE TABLE IF NOT EXISTS \"RegistroCambios\" (orden bigint GENERATED "
                       "ALWAYS AS IDENTITY PRIMARY KEY, tarjeta bigint)"),
        QStringLiteral("CREATE OR REPLACE FUNCTION \"RegistroCambios_turno\"() RETURNS trigger "
                       "LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_advisory_xact_lock(20261210, "
                       "hashtext(TG_TABLE_SCHEMA)); "
                       "RETURN NULL; END $$"),
        function("RegistroCambios_alta", nuevas),
        function("RegistroCambios_cambio", nuevas + viejas),
        function("RegistroCambios_baja", viejas),
        function("RegistroCambios_vaciado",
                 QStringLiteral("INSERT INTO \"RegistroCambios\" (tarjeta) VALUES (NULL); ")),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_turno\" BEFORE INSERT OR UPDATE OR DELETE "
                       "OR TRUNCATE ON \"Clientes\" FOR EACH STATEMENT EXECUTE FUNCTION "
                       "\"RegistroCambios_turno\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_alta\" AFTER INSERT ON \"Clientes\" "
                       "REFERENCING NEW TABLE AS nuevas FOR EACH STATEMENT EXECUTE FUNCTION "
                       "\"RegistroCambios_alta\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_cambio\" AFTER UPDATE ON \"Clientes\" "
                       "REFERENCING OLD TABLE AS viejas NEW TABLE AS nuevas FOR EACH STATEMENT "
                       "EXECUTE FUNCTION \"RegistroCambios_cambio\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_baja\" AFTER DELETE ON \"Clientes\" "
                       "REFERENCING OLD TABLE AS viejas FOR EACH STATEMENT EXECUTE FUNCTION "
                       "\"RegistroCambios_baja\"()"),
        QStringLiteral("CREATE TRIGGER \"RegistroCambios_vaciado\" AFTER TRUNCATE ON \"Clientes\" "
                       "FOR EACH STATEMENT EXECUTE FUNCTION \"RegistroCambios_vaciado\"()"),
    };
}
} // namespace ChangeLog

} // namespace store
