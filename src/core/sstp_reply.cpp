#include "core/sstp_reply.h"

namespace tovlane {
namespace {

// No real reply comes near this; more is noise, not SSTP.
constexpr std::size_t kMaxReplyHead = 64 * 1024;

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Consumes one or more digits from the front of text.
bool takeDigits(std::string_view& text) {
    std::size_t count = 0;
    while (count < text.size() && isDigit(text[count]))
        ++count;
    text.remove_prefix(count);
    return count > 0;
}

}  // namespace

std::optional<int> parseStatusLine(std::string_view line) {
    constexpr std::string_view kPrefix = "SSTP/";
    if (!line.starts_with(kPrefix))
        return std::nullopt;
    line.remove_prefix(kPrefix.size());
    if (!takeDigits(line) || !line.starts_with('.'))
        return std::nullopt;
    line.remove_prefix(1);
    if (!takeDigits(line) || !line.starts_with(' '))
        return std::nullopt;
    line.remove_prefix(1);
    if (line.size() < 3 || !isDigit(line[0]) || !isDigit(line[1]) || !isDigit(line[2])) {
        return std::nullopt;
    }
    if (line.size() > 3 && line[3] != ' ')
        return std::nullopt;
    return (line[0] - '0') * 100 + (line[1] - '0') * 10 + (line[2] - '0');
}

SstpReply::State SstpReply::feed(std::string_view bytes) {
    if (state_ != State::Incomplete)
        return state_;
    pending_.append(bytes);
    std::size_t newline;
    while (state_ == State::Incomplete && (newline = pending_.find('\n')) != std::string::npos) {
        std::string_view line(pending_.data(), newline);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        takeLine(line);
        pending_.erase(0, newline + 1);
    }
    if (state_ == State::Incomplete && pending_.size() > kMaxReplyHead)
        state_ = State::NotSstp;
    return state_;
}

void SstpReply::close() {
    if (state_ == State::Incomplete && !pending_.empty()) {
        std::string_view line = pending_;
        takeLine(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    }
}

void SstpReply::takeLine(std::string_view line) {
    if (!status_) {
        status_ = parseStatusLine(line);
        if (status_)
            statusLine_ = line;
        else
            state_ = State::NotSstp;
    } else if (line.empty()) {
        state_ = State::Complete;
    }
}

}  // namespace tovlane
