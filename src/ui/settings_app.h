#pragma once

namespace tovlane {

// The tovlane-settings program: start-up, then the settings window until the
// user closes it. Returns the process exit status.
int runSettingsApp(int argc, char** argv);

}  // namespace tovlane
