#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "core/exit_status.h"

namespace tovlane {

struct Destination {
    std::string host;
    unsigned short port = 0;
    std::string requestLine;
};

// When the whole exchange must be over, if ever.
using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// The one SSTP exchange of a run, as a straight line: look the host up (an
// address needs none), connect to each of its addresses in turn, write the
// request, then read until the reply is complete or the server closes.
// RefusedByServer when the reply's status is not 2xx (the status line is the
// reason); ConnectionFailed with the system's reason, naming the host and
// port, or SystemFailure when the system had no descriptor or memory to give;
// TimedOut, naming the step, when the deadline passes first. Once the whole
// status line has arrived, a reset, a failed read or the deadline ends the
// exchange on that status. trace, when given, hears each step as one line.
using Trace = std::function<void(const std::string& line)>;
Outcome<> SendScript(const Destination& to, std::string script, const Trace& trace = {},
                     Deadline deadline = {});

}  // namespace tovlane
