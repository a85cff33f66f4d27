#pragma once

#include "core/settings.h"
#include "ui/frm_setting.h"

namespace tovlane {

// The tovlane-settings program: start-up, then the settings window until the
// user closes it. Returns the process exit status.
int runSettingsApp(int argc, char** argv);

// The window once Qt is up: loads the settings it shows, or reports why they
// cannot be read (a message box) and returns the exit status; then waits for
// the user to close it.
int runSettingsWindow(const Outcome<SettingsPlace>& place, const ErrorReporter& report);

}  // namespace tovlane
