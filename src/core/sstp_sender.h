#pragma once

#include <functional>
#include <string>

#include "core/exit_status.h"

namespace tovlane {

struct Destination {
    std::string host;
    unsigned short port = 0;
    std::string requestLine;
};

// The one SSTP exchange of a run, as a straight line: connect (an address
// directly, a host name through the resolver, each of its addresses in turn),
// write the request, then read until the reply is complete or the server
// closes. RefusedByServer when the reply's status is not 2xx (the status line
// is the reason); ConnectionFailed with the system's reason, or SystemFailure
// when the system had no descriptor or memory to give.
// trace, when given, hears each step as one line.
using Trace = std::function<void(const std::string& line)>;
Outcome<> SendScript(const Destination& to, std::string script, const Trace& trace = {});

}  // namespace tovlane
