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

// The path of the file `name` in `folder`, found the way a Windows folder finds it: the exact
// spelling when a file has it, otherwise a file whose name differs from it only in case (the
// first in name order), otherwise the exact spelling, where such a file would be created. The
// data folder may be a Windows share, or copied from one with its names in another case.
QString fileInFolder(const QString& folder, const QString& name);

// The three folders the program works with.
struct Folders {
    QString appDir;    // the executable's folder: DAT.db and the master configuration file
    QString dataDir;   // $HOME/TOLVANE_FILES: working configuration, web card, logo, offsets
    QString exportDir; // $HOME: CSV exports

    // Files of the application and data folders, found by fileInFolder.
    QString appFile(const QString& name) const;
    QString dataFile(const QString& name) const;
    QString exportFile(const QString& name) const;

    static Folders defaults(); // needs a QCoreApplication for the executable's folder
};

// What the command line asked for.
struct CommandLine {
    Folders folders;
    QString importMdb;    // --import-mdb FILE, empty when not given
    bool exitNow = false; // --help or --version already printed, or an error reported
    int exitCode = 0;
};

// Parses --data-dir, --export-dir, --import-mdb, --help and --version. Help and version are
// printed here; a bad command line prints its error.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace store
