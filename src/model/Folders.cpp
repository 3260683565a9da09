#include "Folders.h"

#include "Ini.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStringBuilder>

#include <cstdio>

namespace store {

QString fileInFolder(const QString& folder, const QString& name) {
    const QDir dir(folder);
    const QString exact = dir.filePath(name);
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& other : names) {
        if (other.compare(name, Qt::CaseInsensitive) == 0)
            return dir.filePath(other);
    }
    return exact;
}

QString Folders::appFile(const QString& name) const {
    return fileInFolder(appDir, name);
}
QString Folders::dataFile(const QString& name) const {
    return fileInFolder(dataDir, name);
}
QString Folders::exportFile(const QString& name) const {
    return QDir(exportDir).filePath(name);
}

QString Folders::masterIniFile() const {
    return fileInFolder(masterDir.isEmpty() ? appDir : masterDir, kIniFileName);
}

FolderRules nativeFolderRules() {
#ifdef Q_OS_WIN
    return FolderRules::Windows;
#else
    return FolderRules::Unix;
#endif
}

Folders defaultFolders(FolderRules rules, const FolderSurroundings& around) {
    Folders f;
    f.appDir = around.executableDir;
    if (rules == FolderRules::Windows) {
        f.dataDir = QStringLiteral("C:/TOLVANE_FILES");
        f.exportDir = QStringLiteral("C:/");
        return f;
    }
    f.dataDir = QDir(around.home).filePath(QStringLiteral("TOLVANE_FILES"));
    f.exportDir = around.home;
    // Only what lies beside the executable tells the two apart: a portable folder keeps
    // everything where it is, whatever its permissions.
    const QDir exe(around.executableDir);
    const QString shared = QDir::cleanPath(exe.filePath(QStringLiteral("../share/tarjetas")));
    if (!QFileInfo(fileInFolder(around.executableDir, kIniFileName)).isFile() &&
        QFileInfo(fileInFolder(shared, kIniFileName)).isFile()) {
        // A relative $XDG_DATA_HOME is to be ignored, as the XDG rules say.
        const QString dataHome = QDir::isAbsolutePath(around.dataHome)
                                     ? around.dataHome
                                     : QDir(around.home).filePath(QStringLiteral(".local/share"));
        f.appDir = QDir(dataHome).filePath(QStringLiteral("tarjetas"));
        f.masterDir = shared;
    }
    return f;
}

Folders Folders::defaults() {
    return defaultFolders(nativeFolderRules(),
                          {QCoreApplication::applicationDirPath(), QDir::homePath(),
                           qEnvironmentVariable("XDG_DATA_HOME")});
}

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    result.folders = Folders::defaults();

    QCommandLineParser parser;
    const Folders& f = result.folders;
    const QString registry = QDir::toNativeSeparators(f.appFile(kDatabaseFileName));
    const QString where =
        f.installed()
            ? QStringLiteral("Programa instalado: el registro %1 está en la carpeta de datos del "
                             "usuario; la configuración maestra, en %2.")
                  .arg(registry, QDir::toNativeSeparators(f.masterIniFile()))
            : QStringLiteral("Programa en carpeta propia: el registro %1 y la configuración "
                             "maestra están junto al ejecutable.")
                  .arg(registry);
    parser.setApplicationDescription(
        QStringLiteral("Registro de tarjetas de identificación de mascotas.\n\n") % where %
        QStringLiteral("\nLa configuración de trabajo, la tarjeta web, el logo y Tolvane.txt "
                       "están en la carpeta de datos; las exportaciones, en la carpeta de "
                       "exportación (ver las opciones)."));
    // Qt's own help option describes itself in English and adds --help-all, whose Qt options
    // mean nothing here: the program's own, in Spanish.
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Muestra esta ayuda sobre las opciones."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption dataDir(
        QStringList{QStringLiteral("data-dir")},
        QStringLiteral("Carpeta de datos (configuración, tarjeta web, logo). Por omisión: %1.")
            .arg(QDir::toNativeSeparators(result.folders.dataDir)),
        QStringLiteral("carpeta"));
    const QCommandLineOption exportDir(
        QStringList{QStringLiteral("export-dir")},
        QStringLiteral("Carpeta donde se escriben las exportaciones. Por omisión: %1.")
            .arg(QDir::toNativeSeparators(result.folders.exportDir)),
        QStringLiteral("carpeta"));
    const QCommandLineOption importMdb(
        QStringList{QStringLiteral("import-mdb")},
        QStringLiteral("Importa la tabla Clientes de un archivo DAT.MDB al registro y termina."),
        QStringLiteral("archivo"));
    const QCommandLineOption restore(
        QStringList{QStringLiteral("restaurar")},
        QStringLiteral("Reemplaza el registro DAT.db por una copia de respaldo (por ejemplo "
                       "respaldos/DAT AAAA-MM-DD.db de la carpeta de datos) y termina; el registro "
                       "actual queda como \"DAT antes de restaurar <fecha hora>.db\". Cierre antes "
                       "el programa en todos los equipos."),
        QStringLiteral("archivo"));
    const QCommandLineOption server(
        QStringList{QStringLiteral("base-datos")},
        QStringLiteral("Trabaja en esta ejecución con el registro de una base PostgreSQL, dada "
                       "como URI de libpq (postgresql://usuario@servidor:puerto/base), en lugar "
                       "de DAT.db o de la sección [BASE DE DATOS] de la configuración. La "
                       "contraseña va en ~/.pgpass, nunca en la URI."),
        QStringLiteral("uri"));
    const QCommandLineOption copy(
        QStringList{QStringLiteral("copiar-a-servidor")},
        QStringLiteral("Copia todas las tarjetas de DAT.db, en el mismo orden, a una base "
                       "PostgreSQL sin tarjetas (URI de libpq), en una sola transacción; verifica "
                       "el número y cada tarjeta, lo informa y termina. Una base que ya tiene "
                       "tarjetas no se toca."),
        QStringLiteral("uri"));
    parser.addOption(dataDir);
    parser.addOption(exportDir);
    parser.addOption(server);
    parser.addOption(copy);
    const QCommandLineOption certificate(
        QStringList{QStringLiteral("certificado")},
        QStringLiteral("Escribe el certificado de implantación de la tarjeta con este código en "
                       "el PDF que indica --salida y termina."),
        QStringLiteral("codigo"));
    const QCommandLineOption certificatePdf(
        QStringList{QStringLiteral("salida")},
        QStringLiteral("Archivo PDF del certificado (con --certificado)."),
        QStringLiteral("archivo.pdf"));
    parser.addOption(importMdb);
    parser.addOption(certificate);
    parser.addOption(certificatePdf);
    parser.addOption(restore);
    const QCommandLineOption purgeHistory(
        QStringList{QStringLiteral("purgar-historial")},
        QStringLiteral("Elimina del historial de cambios las filas de más de DIAS días, dice "
                       "cuántas se eliminaron y termina."),
        QStringLiteral("DIAS"));
    parser.addOption(purgeHistory);

    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(parser.errorText()));
        result.exitNow = true;
        result.exitCode = 2;
        return result;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qUtf8Printable(parser.helpText()));
        result.exitNow = true;
        return result;
    }
    if (parser.isSet(version)) {
        std::printf("%s %s\n", qUtf8Printable(QCoreApplication::applicationName()),
                    qUtf8Printable(QCoreApplication::applicationVersion()));
        result.exitNow = true;
        return result;
    }
    if (parser.isSet(dataDir))
        result.folders.dataDir = QDir(parser.value(dataDir)).absolutePath();
    if (parser.isSet(exportDir))
        result.folders.exportDir = QDir(parser.value(exportDir)).absolutePath();
    if (parser.isSet(server)) {
        result.folders.serverUri = parser.value(server);
        // An empty value (a launcher's variable left unset) would otherwise fall back to DAT.db,
        // and this workstation would keep its cards apart from the others'.
        if (result.folders.serverUri.trimmed().isEmpty()) {
            std::fprintf(stderr, "%s\n",
                         qUtf8Printable(QStringLiteral(
                             "--base-datos necesita la dirección del registro en el servidor "
                             "(postgresql://usuario@servidor:puerto/base), y llegó vacía. Revise "
                             "el acceso directo o el script que abre el programa.")));
            result.exitNow = true;
            result.exitCode = 2;
            return result;
        }
    }
    if (parser.isSet(copy))
        result.copyToServer = parser.value(copy);
    if (parser.isSet(importMdb))
        result.importMdb = parser.value(importMdb);
    if (parser.isSet(certificate) != parser.isSet(certificatePdf)) {
        std::fprintf(stderr, "%s\n",
                     parser.isSet(certificate)
                         ? "Falta --salida ARCHIVO.pdf: el archivo donde se escribe el certificado."
                         : "--salida va con --certificado CODIGO.");
        result.exitNow = true;
        result.exitCode = 2;
        return result;
    }
    if (parser.isSet(certificate)) {
        result.certificateCode = parser.value(certificate);
        result.certificatePdf = parser.value(certificatePdf);
    }
    if (parser.isSet(restore))
        result.restoreFrom = parser.value(restore);
    if (parser.isSet(purgeHistory)) {
        bool number = false;
        const int days = parser.value(purgeHistory).trimmed().toInt(&number);
        if (!number || days < 0) {
            std::fprintf(stderr, "%s\n",
                         qUtf8Printable(QStringLiteral("--purgar-historial necesita un número de "
                                                       "días (0 o más), no «%1».")
                                            .arg(parser.value(purgeHistory))));
            result.exitNow = true;
            result.exitCode = 2;
            return result;
        }
        result.purgeHistoryDays = days;
    }
    return result;
}

} // namespace store
