#pragma once

#include "Folders.h"

namespace app {

// Runs the program as the command line asks; returns the process exit code.
int runProgram(const store::CommandLine& command);

} // namespace app
