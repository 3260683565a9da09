#include "Folders.h"

#include "Dates.h"
#include "Ini.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
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

QString unwritableFileReason(const QString& path) {
    const auto quoted = [](const QString& p) {
        return QStringLiteral("«%1»").arg(QDir::toNativeSeparators(p));
    };
    if (path.isEmpty())
        return QStringLiteral("no se indicó el nombre del archivo");
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("%1 es una carpeta, no un archivo")
            .arg(quoted(file.absoluteFilePath()));
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return QStringLiteral("no existe la carpeta %1").arg(quoted(folder.absoluteFilePath()));
    if (!folder.isDir())
        return QStringLiteral("%1 no es una carpeta").arg(quoted(folder.absoluteFilePath()));
    if (file.exists() && !file.isWritable())
        return QStringLiteral("no tiene permiso para escribir el archivo %1")
            .arg(quoted(file.absoluteFilePath()));
    if (!file.exists() && (!folder.isWritable() || !folder.isExecutable()))
        return QStringLiteral("no tiene permiso para escribir en la carpeta %1")
            .arg(quoted(folder.absoluteFilePath()));
    return {};
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
    const bool windows = rules == FolderRules::Windows;
    Folders f;
    f.appDir = around.executableDir;
    f.dataDir = windows ? QStringLiteral("C:/TOLVANE_FILES")
                        : QDir(around.home).filePath(QStringLiteral("TOLVANE_FILES"));
    f.exportDir = windows ? QStringLiteral("C:/") : around.home;
    // Only what lies beside the executable tells the two apart: a portable folder keeps
    // everything where it is, whatever its permissions.
    const QDir exe(around.executableDir);
    const QString shared = QDir::cleanPath(exe.filePath(QStringLiteral("../share/tarjetas")));
    if (QFileInfo(fileInFolder(around.executableDir, kIniFileName)).isFile() ||
        !QFileInfo(fileInFolder(shared, kIniFileName)).isFile())
        return f;
    f.masterDir = shared;
    if (windows) {
        // The installer makes C:\TOLVANE_FILES\ writable for every user of the PC.
        f.appDir = f.dataDir;
        f.exportDir = around.documents.isEmpty() ? around.home : around.documents;
        return f;
    }
    // A relative $XDG_DATA_HOME is to be ignored, as the XDG rules say.
    const QString dataHome = QDir::isAbsolutePath(around.dataHome)
                                 ? around.dataHome
                                 : QDir(around.home).filePath(QStringLiteral(".local/share"));
    f.appDir = QDir(dataHome).filePath(QStringLiteral("tarjetas"));
    return f;
}

Folders Folders::defaults() {
    return defaultFolders(nativeFolderRules(),
                          {QCoreApplication::applicationDirPath(), QDir::homePath(),
                           qEnvironmentVariable("XDG_DATA_HOME"),
                           QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)});
}

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine result;
    result.folders = Folders::defaults();

    QCommandLineParser parser;
    const Folders& f = result.folders;
    const QString registry = QDir::toNativeSeparators(f.appFile(kDatabaseFileName));
    const QString where =
        f.installed()
            ? QStringLiteral("Programa instalado: el registro es %1; la configuración maestra, "
                             "%2.")
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
        QStringLiteral(
            "Archivo que se escribe: el PDF del certificado (con --certificado) o el PDF "
            "o CSV del informe (con --informe)."),
        QStringLiteral("archivo"));
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
    const QCommandLineOption debug(
        QStringList{QStringLiteral("depurar")},
        QStringLiteral("Muestra en la terminal los mensajes internos de Qt, en inglés, para el "
                       "personal de soporte."));
    parser.addOption(debug);
    const QCommandLineOption report(
        QStringList{QStringLiteral("informe")},
        QStringLiteral("Escribe el informe de implantaciones (tarjetas por período o por campo "
                       "según la fecha de atención) en el archivo PDF o CSV que indica --salida y "
                       "termina. Con --desde, --hasta y --por."));
    const QCommandLineOption reportFrom(
        QStringList{QStringLiteral("desde")},
        QStringLiteral("Primera fecha de atención del informe (con --informe); sin ella, desde la "
                       "más antigua."),
        QStringLiteral("DD/MM/AAAA"));
    const QCommandLineOption reportTo(
        QStringList{QStringLiteral("hasta")},
        QStringLiteral("Última fecha de atención del informe (con --informe); sin ella, hasta la "
                       "más reciente."),
        QStringLiteral("DD/MM/AAAA"));
    const QCommandLineOption reportBy(
        QStringList{QStringLiteral("por")},
        QStringLiteral("Agrupación del informe (con --informe): mes, semana, implantador, lugar, "
                       "especie o sexo."),
        QStringLiteral("agrupación"));
    parser.addOption(report);
    parser.addOption(reportFrom);
    parser.addOption(reportTo);
    parser.addOption(reportBy);
    const QCommandLineOption mergeFile(
        QStringList{QStringLiteral("combinar")},
        QStringLiteral("Combina en el registro las tarjetas de otro registro de este programa "
                       "(por ejemplo el DAT.db de un notebook de terreno o una copia de "
                       "respaldo) en una sola transacción: agrega las nuevas, deja las iguales y "
                       "en cada conflicto mantiene la tarjeta de este registro, salvo con "
                       "--conflictos otro. Escribe un informe en la carpeta de exportación, "
                       "resume en pantalla y termina."),
        QStringLiteral("archivo.db"));
    const QCommandLineOption conflicts(
        QStringList{QStringLiteral("conflictos")},
        QStringLiteral("Con --combinar: \"este\" (por omisión) mantiene la tarjeta de este "
                       "registro en cada conflicto; \"otro\" toma la del otro registro. Una "
                       "tarjeta eliminada en el otro registro nunca se elimina aquí sin "
                       "preguntar: sólo se lista."),
        QStringLiteral("este|otro"));
    parser.addOption(mergeFile);
    parser.addOption(conflicts);

    const auto refuse = [&](const QString& message) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(message));
        result.exitNow = true;
        result.exitCode = 2;
        return result;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    // Every value is checked before anything runs: an empty one (an unset variable in a
    // launcher) would otherwise silently mean "not given", or a file named nothing.
    for (const QCommandLineOption* option :
         {&dataDir, &exportDir, &server, &copy, &importMdb, &certificate, &certificatePdf, &restore,
          &purgeHistory}) {
        if (parser.isSet(*option) && parser.value(*option).trimmed().isEmpty())
            return refuse(QStringLiteral("La opción --%1 necesita un valor (%2) y se le dio uno "
                                         "vacío.")
                              .arg(option->names().constFirst(), option->valueName()));
    }
    if (parser.isSet(certificatePdf)) {
        if (const QString reason = unwritableFileReason(parser.value(certificatePdf));
            !reason.isEmpty())
            return refuse(QStringLiteral("No se puede escribir el certificado en %1: %2.")
                              .arg(QDir::toNativeSeparators(parser.value(certificatePdf)), reason));
    }
    result.debug = parser.isSet(debug);
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
    if (parser.isSet(report)) {
        // Every value is checked before anything is opened or written.
        if (parser.isSet(certificate))
            return refuse(QStringLiteral("--informe y --certificado no van juntos: pida uno en "
                                         "cada ejecución."));
        const auto date = [&](const QCommandLineOption& option, QDate* out) {
            if (!parser.isSet(option))
                return true;
            *out = parseDate(parser.value(option), QDate::currentDate());
            return out->isValid();
        };
        if (!date(reportFrom, &result.reportFrom))
            return refuse(QStringLiteral("--desde necesita una fecha DD/MM/AAAA, no «%1».")
                              .arg(parser.value(reportFrom)));
        if (!date(reportTo, &result.reportTo))
            return refuse(QStringLiteral("--hasta necesita una fecha DD/MM/AAAA, no «%1».")
                              .arg(parser.value(reportTo)));
        if (result.reportFrom.isValid() && result.reportTo.isValid() &&
            result.reportFrom > result.reportTo)
            return refuse(QStringLiteral("--desde (%1) es posterior a --hasta (%2): dé primero la "
                                         "fecha más antigua.")
                              .arg(dateText(result.reportFrom), dateText(result.reportTo)));
        const QString by = parser.value(reportBy).trimmed().toLower();
        const QStringList words{QStringLiteral("mes"),         QStringLiteral("semana"),
                                QStringLiteral("implantador"), QStringLiteral("lugar"),
                                QStringLiteral("especie"),     QStringLiteral("sexo")};
        if (!parser.isSet(reportBy) || !words.contains(by))
            return refuse(QStringLiteral("--por necesita una agrupación: mes, semana, implantador, "
                                         "lugar, especie o sexo%1.")
                              .arg(parser.isSet(reportBy)
                                       ? QStringLiteral(", no «%1»").arg(parser.value(reportBy))
                                       : QString()));
        const QString path = parser.value(certificatePdf).trimmed();
        if (!parser.isSet(certificatePdf) ||
            !(path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive) ||
              path.endsWith(QStringLiteral(".csv"), Qt::CaseInsensitive)))
            return refuse(
                QStringLiteral("--informe necesita --salida ARCHIVO.pdf o ARCHIVO.csv: "
                               "el archivo donde se escribe el informe%1.")
                    .arg(parser.isSet(certificatePdf)
                             ? QStringLiteral(", no «%1»").arg(parser.value(certificatePdf))
                             : QString()));
        result.report = true;
        result.reportBy = by;
        result.reportPath = path;
        return result;
    }
    if (parser.isSet(reportFrom) || parser.isSet(reportTo) || parser.isSet(reportBy))
        return refuse(QStringLiteral("--desde, --hasta y --por van con --informe."));
    if (parser.isSet(certificate) != parser.isSet(certificatePdf)) {
        std::fprintf(stderr, "%s\n",
                     parser.isSet(certificate)
                         ? "Falta --salida ARCHIVO.pdf: el archivo donde se escribe el certificado."
                         : "--salida va con --certificado CODIGO o con --informe.");
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
    if (parser.isSet(conflicts) || parser.isSet(mergeFile)) {
        const QString choice = parser.value(conflicts).trimmed().toLower();
        QString error;
        if (parser.isSet(mergeFile) && parser.value(mergeFile).trimmed().isEmpty())
            error = QStringLiteral("--combinar necesita el archivo del otro registro.");
        else if (parser.isSet(conflicts) && !parser.isSet(mergeFile))
            error = QStringLiteral("--conflictos va con --combinar ARCHIVO.db.");
        else if (parser.isSet(conflicts) && choice != u"este" && choice != u"otro")
            error = QStringLiteral("--conflictos necesita «este» u «otro», no «%1».")
                        .arg(parser.value(conflicts));
        if (!error.isEmpty()) {
            std::fprintf(stderr, "%s\n", qUtf8Printable(error));
            result.exitNow = true;
            result.exitCode = 2;
            return result;
        }
        result.mergeFrom = parser.value(mergeFile);
        result.mergeTakeOther = choice == u"otro";
    }
    return result;
}

} // namespace store
