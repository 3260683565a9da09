#pragma once

#include <QDate>
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

// Why a file could not be written at `path`, in Spanish ("no existe la carpeta «…»", "«…» es
// una carpeta, no un archivo", "no tiene permiso para escribir en la carpeta «…»"); empty when
// nothing in the way is seen.
QString unwritableFileReason(const QString& path);

// The three folders the program works with.
struct Folders {
    QString appDir;    // DAT.db; the executable's folder, or a data folder when installed
    QString dataDir;   // TOLVANE_FILES: working configuration, web card, logo, offsets
    QString exportDir; // CSV exports
    // The folder of the master configuration file when it is not appDir: the installed
    // program's shared folder (share/tarjetas beside bin/). Empty means appDir.
    QString masterDir{};
    // A PostgreSQL registry for this run (--base-datos URI), taking the place of DAT.db and of the
    // configuration's [BASE DE DATOS]; empty when not given.
    QString serverUri{};

    // Files of the application and data folders, found by fileInFolder.
    QString appFile(const QString& name) const;
    QString dataFile(const QString& name) const;
    QString exportFile(const QString& name) const;
    QString masterIniFile() const;
    bool installed() const { return !masterDir.isEmpty(); }

    static Folders defaults(); // needs a QCoreApplication for the executable's folder
};

// The rules that place the folders: the Windows ones, or those of Linux and other systems.
enum class FolderRules { Windows, Unix };
FolderRules nativeFolderRules();

// What the rules look at.
struct FolderSurroundings {
    QString executableDir;
    QString home;
    QString dataHome{};  // $XDG_DATA_HOME, empty when not set
    QString documents{}; // the user's Documents folder, empty when unknown
};

// What lies beside the executable tells a portable program from an installed one, on every
// system. Portable: the master configuration file beside the executable (a build folder, a
// folder copied to a USB stick); DAT.db lives there too. Installed: no master beside the
// executable but one in ../share/tarjetas from it.
// Windows: data in C:\TOLVANE_FILES\; exports in C:\ when portable. Installed (in Program
// Files, where users cannot write), DAT.db lives in C:\TOLVANE_FILES\ too, so that every user
// of the PC works in one registry, and exports go to the user's Documents folder.
// Others: data in $HOME/TOLVANE_FILES, exports in $HOME; installed, DAT.db lives in the user's
// data folder, $XDG_DATA_HOME/tarjetas (normally ~/.local/share/tarjetas).
Folders defaultFolders(FolderRules rules, const FolderSurroundings& around);

// What the command line asked for.
struct CommandLine {
    Folders folders;
    QString importMdb;         // --import-mdb FILE, empty when not given
    QString restoreFrom;       // --restaurar FILE, empty when not given
    QString certificateCode;   // --certificado CODIGO, empty when not given
    QString certificatePdf;    // --salida ARCHIVO.pdf, with --certificado
    QString copyToServer;      // --copiar-a-servidor URI, empty when not given
    int purgeHistoryDays = -1; // --purgar-historial DIAS, -1 when not given
    bool debug = false;        // --depurar: Qt's own messages also on standard error
    // --informe with --desde, --hasta (either may be left out: that side open), --por and
    // --salida ARCHIVO.pdf|.csv, each value checked here.
    bool report = false;
    QDate reportFrom;
    QDate reportTo;
    QString reportBy; // mes, semana, implantador, lugar, especie or sexo
    QString reportPath;
    // --combinar ARCHIVO.db (empty when not given); with --conflictos otro, conflicts take the
    // other registry's card.
    QString mergeFrom;
    bool mergeTakeOther = false;
    bool exitNow = false;      // --help or --version already printed, or an error reported
    int exitCode = 0;
};

// Parses --data-dir, --export-dir, --import-mdb, --restaurar, --certificado with --salida,
// --purgar-historial, --informe with its options, --depurar, --help and --version. Help and
// version are printed here; a bad command line prints its error, before anything else runs: an
// option given an empty value, or a --salida that cannot be written, ends the program with exit
// code 2.
CommandLine parseCommandLine(const QStringList& arguments);

} // namespace store
