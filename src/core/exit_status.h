#pragma once

#include "storage/result.h"

namespace tovlane {

// The process exit statuses, one for each way a run can end. README and
// --help list them; scripts and hotkey tools may rely on the numbers.
enum ExitStatus : int {
    kExitAccepted = 0,              // request written and accepted by the server
    kExitRefusedByServer = 1,       // the server answered with a non-2xx status
    kExitNotANumber = 2,            // the command line is not a number
    kExitOutOfRange = 3,            // the number does not fit in 16 bits
    kExitNoSuchEntry = 4,           // the number is not an entry 0 to 9
    kExitEmptyEntry = 5,            // the chosen entry is empty: nothing to send
    kExitBadProtocolId = 6,         // "ProtocolID" is not a usable request line
    kExitBadPort = 7,               // "Port" is not a whole number 1 to 65535
    kExitUnreadableScript = 8,      // the script file exists but cannot be read
    kExitConnectionFailed = 9,      // refused, host not found, reset, ...
    kExitSettingsUnavailable = 10,  // the settings window cannot be opened
    kExitSettingsUnreadable = 11,   // Tovlane.ini exists but cannot be read as a file
    kExitSystemFailure = 12,        // the system refused memory or a file descriptor
};

struct ErrorEnd {
    ExitStatus status;
    bool silent;  // ends that are no fault of the user's input print nothing
};

// How a run that stopped on this error ends.
ErrorEnd errorEnd(ErrorCode code);

}  // namespace tovlane
