#pragma once

#include "Clock.h"
#include "Folders.h"
#include "Messages.h"

#include <functional>
#include <memory>

namespace app {

class MainWindow;

// Steps that other subsystems add to start-up.
struct StartupHooks {
    // Runs after the grid is set up and before it is filled: takes in the web card file when
    // the data folder holds one. Returns true when the grid must list the cards in code order.
    std::function<bool(MainWindow&)> webIntake;
};

// The two-line message shown when no configuration file is found in either folder.
QString missingIniMessage();

// Loads the main window: data folder, configuration file, version label, footer text, card
// store, grid, web card intake, grid fill, combo lists, logo, captions and browse mode, in this
// order; a failing step does not stop the later ones. Returns null, after telling the user, when
// neither folder holds the configuration file; the program then ends.
std::unique_ptr<MainWindow> startUp(const store::Folders& folders, store::MessageLayer& messages,
                                    const store::Clock& clock, const StartupHooks& hooks = {});

// Runs the program as the command line asks; returns the process exit code.
int runProgram(const store::CommandLine& command);

} // namespace app
