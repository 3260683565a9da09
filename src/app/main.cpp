#include "Startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace {

// --help, --version, --import-mdb, --restaurar, --purgar-historial and --combinar work without a
// display.
bool needsNoWindow(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" ||
            arg == "--version" || arg.startsWith("--import-mdb") || arg.startsWith("--restaurar") ||
            arg.startsWith("--purgar-historial") || arg.startsWith("--combinar") ||
            arg.startsWith("--conflictos"))
            return true;
    }
    return false;
}

// --certificado paints a PDF, which needs fonts but no display.
bool paintsWithoutWindow(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (QByteArrayView(argv[i]).startsWith("--certificado"))
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (paintsWithoutWindow(argc, argv))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application;
    if (needsNoWindow(argc, argv))
        application = std::make_unique<QCoreApplication>(argc, argv);
    else
        application = std::make_unique<QApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarjetas"));
    QCoreApplication::setApplicationVersion(QStringLiteral("4.5"));

    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Chile));
    QTranslator qtTranslator;
    if (qtTranslator.load(QLocale(QLocale::Spanish, QLocale::Chile), QStringLiteral("qtbase"),
                          QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtTranslator);

    const store::CommandLine command = store::parseCommandLine(QCoreApplication::arguments());
    if (command.exitNow)
        return command.exitCode;
    return app::runProgram(command);
}
