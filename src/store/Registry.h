#pragma once

#include "Status.h"

#include <QString>

namespace store {

struct Folders;
class IniFile;

// Where the cards are kept: the SQLite file DAT.db, or a database on a PostgreSQL server reached
// through a libpq connection URI (postgresql://usuario@servidor:puerto/base). The password is
// never part of it: libpq reads it from the user's password file, service file or PGPASSWORD.
class Registry {
public:
    enum class Engine { SQLite, PostgreSQL };

    Registry() = default;
    static Registry file(const QString& path);
    static Registry server(const QString& uri);

    Engine engine() const { return engine_; }
    bool isServer() const { return engine_ == Engine::PostgreSQL; }
    bool isEmpty() const { return location_.isEmpty(); }
    // The file's absolute path, or the connection URI.
    const QString& location() const { return location_; }
    // What the user reads in messages and the footer: the file's path, or "servidor/base".
    QString describe() const;
    // The same between «», as every message names it.
    QString quoted() const;

private:
    Engine engine_ = Engine::SQLite;
    QString location_;
};

inline const QString kIniSectionDatabase = QStringLiteral("BASE DE DATOS");

// The registry a run works on: the URI given with --base-datos; otherwise the [BASE DE DATOS]
// section of the working configuration (MOTOR=PostgreSQL with SERVIDOR, PUERTO, BASE, USUARIO);
// otherwise DAT.db in the application folder. A section naming another engine, or PostgreSQL
// without BASE, is refused with a message rather than silently falling back to the file.
Registry chooseRegistry(const Folders& folders, const IniFile& workingIni, Status* status);
// The same, reading the working configuration from the data folder.
Registry chooseRegistry(const Folders& folders, Status* status);

} // namespace store
