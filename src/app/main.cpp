#include "ProcessSetup.h"
#include "QtTexts.h"
#include "Startup.h"

#include <QApplication>
#include <QIcon>
#include <QLocale>

#include <cstdio>
#include <memory>

int main(int argc, char* argv[]) {
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
