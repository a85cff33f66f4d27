#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovlane {

// Follows the server's reply as it arrives: a status line
// "SSTP/x.y NNN text", header lines, then an empty line (CR LF or LF). The
// verdict rests on the status line's first bytes alone, and only a bounded
// part of the reply is kept, so the same bytes give the same verdict however
// they are split into reads, whatever their length.
class SstpReply {
  public:
    enum class State { Incomplete, Complete, NotSstp };

    State feed(std::string_view bytes);
    // The server closed the connection: a last line without its line end
    // still counts, so "SSTP/1.1 420 Refuse" and a close is a refusal.
    void close();
    State state() const { return state_; }
    // The status code, once the status line's first bytes have arrived.
    std::optional<int> status() const { return status_; }
    // Whether the whole status line, its line end included, has arrived:
    // from then on the verdict stands, whatever happens to the connection.
    bool hasStatusLine() const { return status_ && statusLineEnded_; }
    // The status line as it arrived ("SSTP/1.1 512 Invisible"), at most its
    // first kShownStatusLine bytes; "" before it has arrived.
    const std::string& statusLine() const { return statusLine_; }

    static constexpr std::size_t kShownStatusLine = 1024;

  private:
    void feedStatusLine(char c);
    void decide(bool lineEnded);
    void feedHeaders(char c);

    State state_ = State::Incomplete;
    std::optional<int> status_;
    std::string statusLine_;
    bool statusLineEnded_ = false;
    std::size_t lineLength_ = 0;  // of the current header line, so far
    bool lineEndsInCr_ = false;
};

// "SSTP/1.1 200 OK" gives 200; anything else is not an SSTP status line.
std::optional<int> parseStatusLine(std::string_view line);

}  // namespace tovlane
