#include "ProcessSetup.h"
#include "QtTexts.h"
#include "Startup.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <cstdio>
#include <memory>

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <cstdlib>
#endif

namespace {

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
    app::keepNewFilesPrivate();
    app::installMessageHandler(app::debugRequested(argc, argv));

    // Every command-line mode runs without a display: the certificate paints its PDF offscreen,
    // the others need no window system at all. The window needs one; without it the command line
    // is still read (its errors come first) and then the user is told in Spanish.
    const app::RunKind kind = app::runKind(argc, argv);
    if (kind == app::RunKind::PaintingCommand)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> application;
    if (kind == app::RunKind::Command ||
        (kind == app::RunKind::Window && !app::displayConfigured())) {
        application = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        // So that taskbars tie the window to its menu entry (the Wayland app id; on X11 the
        // desktop file's StartupWMClass matches the window's class, the application name).
        QGuiApplication::setDesktopFileName(QStringLiteral("cl.tarjetas.Tarjetas"));
        app::openingWindowSystem(true);
        application = std::make_unique<QApplication>(argc, argv);
        app::openingWindowSystem(false);
    }
    QCoreApplication::setApplicationName(QStringLiteral("tarjetas"));
    QCoreApplication::setApplicationVersion(QStringLiteral("4.5"));

    QLocale::setDefault(QLocale(QLocale::Spanish, QLocale::Chile));
    app::installQtTexts();

    const store::CommandLine command = store::parseCommandLine(QCoreApplication::arguments());
    if (command.exitNow)
        return command.exitCode;
    if (!qobject_cast<QApplication*>(application.get()) && app::isWindowRun(command)) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(app::noDisplayMessage()));
        return 1;
    }
    if (auto* gui = qobject_cast<QApplication*>(application.get())) {
        // The installed program's icon from the icon theme; the portable folder's own copy.
        gui->setWindowIcon(QIcon::fromTheme(QStringLiteral("tarjetas"),
                                            QIcon(QStringLiteral(":/images/tarjetas.png"))));
    }
    return app::runProgram(command);
}
