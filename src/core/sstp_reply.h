#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovlane {

// Follows the server's reply as it arrives: a status line
// "SSTP/x.y NNN text", header lines, then an empty line (CR LF or LF).
class SstpReply {
  public:
    enum class State { Incomplete, Complete, NotSstp };

    State feed(std::string_view bytes);
    // The server closed the connection: a last line without its line end
    // still counts, so "SSTP/1.1 420 Refuse" and a close is a refusal.
    void close();
    State state() const { return state_; }
    // The status code, once the status line has arrived.
    std::optional<int> status() const { return status_; }
    // The status line as it arrived ("SSTP/1.1 512 Invisible"), or "".
    const std::string& statusLine() const { return statusLine_; }

  private:
    void takeLine(std::string_view line);

    std::string pending_;
    State state_ = State::Incomplete;
    std::optional<int> status_;
    std::string statusLine_;
};

// "SSTP/1.1 200 OK" gives 200; anything else is not an SSTP status line.
std::optional<int> parseStatusLine(std::string_view line);

}  // namespace tovlane
