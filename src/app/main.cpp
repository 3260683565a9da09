#include "Startup.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <cstdio>
#include <cstdlib>
#endif

namespace {

// --help, --version, --import-mdb, --restaurar and --purgar-historial work without a display.
bool needsNoWindow(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        if (arg == "-h" || arg == "--help" || arg == "--help-all" || arg == "-v" ||
            arg == "--version" || arg.startsWith("--import-mdb") || arg.startsWith("--restaurar") ||
            arg.startsWith("--purgar-historial"))
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

#ifdef Q_OS_WIN
// On Windows the program is a window program, without a console of its own. Started from a
// console with an option (--help, --import-mdb, ...), it writes its answers there, in UTF-8 for
// the accents, unless they already go to a file or a pipe.
UINT consoleCodePage = 0;
void writeToParentConsole() {
    if (GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) != FILE_TYPE_UNKNOWN ||
        !AttachConsole(ATTACH_PARENT_PROCESS))
        return;
    std::FILE* out = std::freopen("CONOUT$", "w", stdout);
    std::FILE* err = std::freopen("CONOUT$", "w", stderr);
    (void)out;
    (void)err;
    consoleCodePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    std::atexit([] { SetConsoleOutputCP(consoleCodePage); });
}
#endif

} // namespace

int main(int argc, char* argv[]) {
#ifdef Q_OS_WIN
    if (argc > 1)
        writeToParentConsole();
#endif
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
