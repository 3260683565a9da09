#include "ProcessSetup.h"

#include <QByteArrayView>
#include <QMutex>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace app {

namespace {

QMutex keptMutex;
QStringList kept;
constexpr qsizetype kKeptAtMost = 200;
bool toTerminal = false;
std::atomic<bool> opening{false};

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QString line =
        context.category && qstrcmp(context.category, "default") != 0
            ? QString::fromLatin1(context.category) + QStringLiteral(": ") + message
            : message;
    {
        const QMutexLocker lock(&keptMutex);
        kept.append(line);
        if (kept.size() > kKeptAtMost)
            kept.removeFirst();
    }
    if (toTerminal) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(line));
        std::fflush(stderr);
    }
    if (type != QtFatalMsg)
        return;
    if (opening) {
        // Qt ends the process after this message: say why in Spanish, with the usual failure code.
        std::fprintf(stderr, "%s\n", qUtf8Printable(noDisplayMessage()));
        std::fflush(stderr);
        std::_Exit(1);
    }
    // Any other fatal message is for support: it goes out with what came before it.
    if (!toTerminal) {
        std::fprintf(stderr, "%s\n", qUtf8Printable(keptMessages()));
        std::fflush(stderr);
    }
}

bool isOneOf(QByteArrayView arg, std::initializer_list<const char*> options) {
    for (const char* option : options) {
        const QByteArrayView name(option);
        if (arg == name ||
            (arg.startsWith(name) && arg.size() > name.size() && arg.at(name.size()) == '='))
            return true;
    }
    return false;
}

} // namespace

void keepNewFilesPrivate() {
#ifndef Q_OS_WIN
    const mode_t current = ::umask(0077);
    ::umask(current | 0077);
#endif
}

void installMessageHandler(bool terminal) {
    toTerminal = terminal;
    qInstallMessageHandler(handler);
}

QString keptMessages() {
    const QMutexLocker lock(&keptMutex);
    return kept.join(u'\n');
}

void openingWindowSystem(bool value) {
    opening = value;
}

QString noDisplayMessage() {
    return QStringLiteral(
        "No se puede abrir la ventana del programa: no hay una pantalla gráfica disponible "
        "(DISPLAY o WAYLAND_DISPLAY no están definidas o no responden).\n"
        "Inicie tarjetas desde la sesión gráfica del equipo. Las opciones de línea de comandos "
        "(tarjetas --help) trabajan sin pantalla; tarjetas --depurar muestra el detalle para "
        "soporte.");
}

RunKind runKind(int argc, char* argv[]) {
    // The options of the window take a value; any other option is a command (or an error, which
    // is told without a window too).
    bool painting = false;
    bool command = false;
    for (int i = 1; i < argc; ++i) {
        const QByteArrayView arg(argv[i]);
        if (arg == "--data-dir" || arg == "--export-dir" || arg == "--base-datos") {
            ++i; // its value
            continue;
        }
        if (isOneOf(arg, {"--data-dir", "--export-dir", "--base-datos"}) || arg == "--depurar")
            continue;
        if (!arg.startsWith("-"))
            continue; // a stray word, which the parser ignores
        if (isOneOf(arg, {"--certificado", "--informe"}))
            painting = true;
        command = true;
    }
    if (painting)
        return RunKind::PaintingCommand;
    return command ? RunKind::Command : RunKind::Window;
}

bool isWindowRun(const store::CommandLine& command) {
    return command.importMdb.isEmpty() && command.restoreFrom.isEmpty() &&
           command.certificateCode.isEmpty() && command.copyToServer.isEmpty() &&
           command.purgeHistoryDays < 0 && !command.report && command.mergeFrom.isEmpty();
}

bool debugRequested(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (QByteArrayView(argv[i]) == "--depurar")
            return true;
    }
    return qEnvironmentVariableIsSet("TARJETAS_DEPURAR");
}

bool displayConfigured() {
#ifdef Q_OS_WIN
    // A Windows program started by a user always has the desktop; DISPLAY and WAYLAND_DISPLAY
    // are X11's and Wayland's and are never set there.
    return true;
#else
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#endif
}

} // namespace app
