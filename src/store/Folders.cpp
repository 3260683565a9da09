#include "Folders.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

namespace store {

QString Folders::appFile(const QString& name) const {
    return QDir(appDir).filePath(name);
}
QString Folders::dataFile(const QString& name) const {
    return QDir(dataDir).filePath(name);
}
QString Folders::exportFile(const QString& name) const {
    return QDir(exportDir).filePath(name);
}

Folders Folders::defaults() {
    Folders f;
    f.appDir = QCoreApplication::applicationDirPath();
    f.dataDir = QDir::home().filePath(QStringLiteral("TOLVANE_FILES"));
    f.exportDir = QDir::homePath();
    return f;
}

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    result.folders = Folders::defaults();

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Registro de tarjetas de identificación de mascotas."));
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
    parser.addOption(dataDir);
    parser.addOption(exportDir);
    parser.addOption(importMdb);

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
    if (parser.isSet(importMdb))
        result.importMdb = parser.value(importMdb);
    return result;
}

} // namespace store
