#pragma once

#include "Folders.h"

#include <QString>

// What the process sets up before the application object exists: the mode of the files it
// makes, where Qt's own messages go, and whether it needs a display at all.
namespace app {

// Folders and files this process creates are its user's alone (0700 and 0600): the registry holds
// owners' personal data. Existing ones keep their mode. Nothing changes on Windows.
void keepNewFilesPrivate();

// Qt's own messages, in English, are kept out of the terminal: they are kept for support and
// written to standard error only when `toTerminal` (--depurar). A fatal one while the window
// system is being opened ends the program with a Spanish message and exit code 1.
void installMessageHandler(bool toTerminal);
// Qt's messages kept so far, one a line, oldest first.
QString keptMessages();
// Brackets the opening of the window system: a fatal message in between means no display.
void openingWindowSystem(bool opening);

// The Spanish message for a window that cannot open: no display is reachable.
QString noDisplayMessage();

// How the arguments want the process run: the window, a command that prints and ends, or a
// command that paints a page (fonts, no display).
enum class RunKind { Window, Command, PaintingCommand };
RunKind runKind(int argc, char* argv[]);

// Whether the parsed command line opens the window rather than running a command.
bool isWindowRun(const store::CommandLine& command);

// Whether --depurar is among the arguments (or TARJETAS_DEPURAR is set).
bool debugRequested(int argc, char* argv[]);

// Whether a window system could be reached without asking Qt: a platform named in
// QT_QPA_PLATFORM, or a DISPLAY or WAYLAND_DISPLAY to connect to (on Windows, always).
bool displayConfigured();

} // namespace app
