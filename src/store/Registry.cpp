#include "Registry.h"

#include "Folders.h"
#include "Ini.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <libpq-fe.h>

namespace store {

Registry Registry::file(const QString& path) {
    Registry r;
    r.engine_ = Engine::SQLite;
    r.location_ = QFileInfo(path).absoluteFilePath();
    return r;
}

Registry Registry::server(const QString& uri) {
    Registry r;
    r.engine_ = Engine::PostgreSQL;
    r.location_ = uri;
    return r;
}

QString Registry::describe() const {
    if (!isServer())
        return QDir::toNativeSeparators(location_);
    QString host;
    QString database;
    QString user;
    char* error = nullptr;
    if (PQconninfoOption* options = PQconninfoParse(location_.toUtf8().constData(), &error)) {
        for (PQconninfoOption* o = options; o->keyword; ++o) {
            if (!o->val)
                continue;
            const QString value = QString::fromUtf8(o->val);
            if (qstrcmp(o->keyword, "host") == 0 ||
                (qstrcmp(o->keyword, "hostaddr") == 0 && host.isEmpty()))
                host = value;
            else if (qstrcmp(o->keyword, "dbname") == 0)
                database = value;
            else if (qstrcmp(o->keyword, "user") == 0)
                user = value;
        }
        PQconninfoFree(options);
    }
    PQfreemem(error);
    // A socket folder on this machine (or no host at all) is the local server.
    if (host.isEmpty() || host.startsWith(u'/'))
        host = QStringLiteral("localhost");
    if (database.isEmpty())
        database = user.isEmpty() ? QStringLiteral("?") : user;
    return host + u'/' + database;
}

QString Registry::quoted() const {
    return u'«' + describe() + u'»';
}

Registry chooseRegistry(const Folders& folders, const IniFile& ini, Status* status) {
    *status = Status();
    if (!folders.serverUri.isEmpty())
        return Registry::server(folders.serverUri);
    const QString engine = LeeIni(ini, kIniSectionDatabase, QStringLiteral("MOTOR"));
    if (engine.isEmpty() || engine.compare(u"SQLite", Qt::CaseInsensitive) == 0)
        return Registry::file(folders.appFile(kDatabaseFileName));
    const QString iniName = QDir::toNativeSeparators(folders.dataFile(kIniFileName));
    if (engine.compare(u"PostgreSQL", Qt::CaseInsensitive) != 0) {
        *status = Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("La sección [BASE DE DATOS] de %1 pide el motor \"%2\", que el "
                           "programa no conoce (MOTOR=PostgreSQL o MOTOR=SQLite).")
                .arg(iniName, engine));
        return {};
    }
    const QString host = LeeIni(ini, kIniSectionDatabase, QStringLiteral("SERVIDOR"));
    const QString port = LeeIni(ini, kIniSectionDatabase, QStringLiteral("PUERTO"));
    const QString base = LeeIni(ini, kIniSectionDatabase, QStringLiteral("BASE"));
    const QString user = LeeIni(ini, kIniSectionDatabase, QStringLiteral("USUARIO"));
    bool portOk = true;
    if (!port.isEmpty()) {
        const int n = port.toInt(&portOk);
        portOk = portOk && n > 0 && n < 65536;
    }
    if (base.isEmpty() || !portOk) {
        *status = Status::failure(
            ErrorKind::CannotOpen,
            QStringLiteral("La sección [BASE DE DATOS] de %1 no dice %2.")
                .arg(iniName, base.isEmpty()
                                  ? QStringLiteral("la base de datos del servidor (BASE=…)")
                                  : QStringLiteral("un puerto válido (PUERTO=5432)")));
        return {};
    }
    const auto encoded = [](const QString& s) {
        return QString::fromLatin1(QUrl::toPercentEncoding(s));
    };
    QString uri = QStringLiteral("postgresql://");
    if (!user.isEmpty())
        uri += encoded(user) + u'@';
    uri += encoded(host);
    if (!port.isEmpty())
        uri += u':' + port;
    uri += u'/' + encoded(base);
    return Registry::server(uri);
}

Registry chooseRegistry(const Folders& folders, Status* status) {
    return chooseRegistry(folders, IniFile::load(folders.dataFile(kIniFileName)), status);
}

} // namespace store
