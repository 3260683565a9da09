#pragma once

#include "Clock.h"
#include "Folders.h"
#include "Messages.h"
#include "PrintSurface.h"

#include <functional>
#include <memory>

namespace app {

class MainWindow;

// What tests put in place of start-up's own parts.
struct StartupHooks {
    // Runs after the grid is set up and before it is filled, instead of the web card intake.
    // Returns true when the grid must list the cards in code order.
    std::function<bool(MainWindow&)> webIntake;
    // Where the card commands print; the system's default printer when null.
    std::unique_ptr<output::PrintTarget> printer;
    // The day's backup copy of the registry; off where it would run amid what is being measured.
    bool dailyBackup = true;
};

// The two-line message shown when no configuration file is found in either folder.
QString missingIniMessage();

// Loads the main window: data folder, configuration file, version label, footer text, card
// store, grid, web card intake, grid fill, combo lists, logo, captions and browse mode, in this
// order; a failing step does not stop the later ones. Returns null, after telling the user, when
// neither folder holds the configuration file; the program then ends.
std::unique_ptr<MainWindow> startUp(const store::Folders& folders, store::MessageLayer& messages,
                                    const store::Clock& clock, StartupHooks hooks = {});

// Runs the program as the command line asks; returns the process exit code.
int runProgram(const store::CommandLine& command);

} // namespace app
