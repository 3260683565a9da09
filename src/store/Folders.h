#pragma once

#include <QString>
#include <QStringList>

class QCoreApplication;

namespace store {

inline const QString kDatabaseFileName = QStringLiteral("DAT.db");
inline const QString kLegacyDatabaseFileName = QStringLiteral("DAT.MDB");
inline const QString kWebCardFileName = QStringLiteral("CLIENTE.TLV");
inline const QString kLogoFileName = QStringLiteral("LogoCliente.bmp");
inline const QString kOffsetFileName = QStringLiteral("Tolvane.txt");

// The three folders the program works with.
struct Folders {
    QString appDir;    // the executable's folder: DAT.db and the master configuration file
    QString dataDir;   // $HOME/TOLVANE_FILES: working configuration, web card, logo, offsets
    QString exportDir; // $HOME: CSV exports

    QString appFile(const QString& name) const;
    QString dataFile(const QString& name) const;
    QString exportFile(const QString& name) const;

    static Folders defaults(); // needs a QCoreApplication for the executable's folder
};

// What the command line asked for.
struct CommandLine {
    Folders folders;
    QString importMdb;    // --import-mdb FILE, empty when not given
    QString restoreFrom;  // --restaurar FILE, empty when not given
    bool exitNow = false; // --help or --version already printed, or an error reported
    int exitCode = 0;
};

// Parses --data-dir, --export-dir, --import-mdb, --restaurar, --help and --version. Help and
// version are printed here; a bad command line prints its error.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace store
