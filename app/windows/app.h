// The desktop program: start-up and its windows.
#pragma once

#include "app/windows/about_window.h"
#include "app/windows/main_window.h"

namespace qm::app {

// The whole life of the program: settings, log, single instance, splash,
// system report, main window, event loop. Answers the exit code.
int RunQuellmark(int argc, char** argv);

// The player reads its configuration while the main window is created; the
// substitution that answers that read is installed around it.
void InstallPlayerConfigSubstitution();
void RemovePlayerConfigSubstitution();

}  // namespace qm::app
