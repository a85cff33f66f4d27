#pragma once

namespace tovlane {

// The whole of the tovlane command: --help, --version, send mode for a
// number, and the settings window for an empty command line. Returns the
// process exit status (see exit_status.h).
int runLauncher(int argc, const char* const* argv);

}  // namespace tovlane
