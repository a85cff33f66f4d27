#include "core/sstp_reply.h"

namespace tovlane {
namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

enum class Match { Yes, No, More };

// Whether text starts an SSTP status line, "SSTP/" digits "." digits " " and
// three digits, then a space or the line's end (ended: nothing follows text);
// More when the bytes so far cannot tell. code is set on Yes.
Match matchStatusLine(std::string_view text, bool ended, int& code) {
    std::size_t at = 0;
    const Match more = ended ? Match::No : Match::More;
    for (char expected : std::string_view("SSTP/")) {
        if (at == text.size())
            return more;
        if (text[at++] != expected)
            return Match::No;
    }
    for (char separator : {'.', ' '}) {
        std::size_t digits = at;
        while (at < text.size() && isDigit(text[at]))
            ++at;
        if (at == text.size())
            return more;
        if (at == digits || text[at++] != separator)
            return Match::No;
    }
    code = 0;
    for (int k = 0; k < 3; ++k, ++at) {
        if (at == text.size())
            return more;
        if (!isDigit(text[at]))
            return Match::No;
        code = code * 10 + (text[at] - '0');
    }
    if (at == text.size())
        return ended ? Match::Yes : Match::More;
    return text[at] == ' ' ? Match::Yes : Match::No;
}

}  // namespace

std::optional<int> parseStatusLine(std::string_view line) {
    int code = 0;
    return matchStatusLine(line, true, code) == Match::Yes ? std::optional(code) : std::nullopt;
}

SstpReply::State SstpReply::feed(std::string_view bytes) {
    for (std::size_t i = 0; i < bytes.size() && state_ == State::Incomplete; ++i) {
        if (statusLineEnded_)
            feedHeaders(bytes[i]);
        else
            feedStatusLine(bytes[i]);
    }
    return state_;
}

void SstpReply::close() {
    if (state_ == State::Incomplete && !statusLineEnded_ && !statusLine_.empty())
        decide(true);
}

void SstpReply::feedStatusLine(char c) {
    if (c == '\n') {
        statusLineEnded_ = true;
        if (!status_)
            decide(true);
        else if (statusLine_.ends_with('\r'))
            statusLine_.pop_back();
        return;
    }
    if (statusLine_.size() < kShownStatusLine)
        statusLine_ += c;
    if (!status_)
        decide(false);
}

// Judges the status line from its first bytes: a CR at the end of what has
// come may still be the start of the line end, so it does not count yet.
void SstpReply::decide(bool lineEnded) {
    std::string_view text = statusLine_;
    if (text.ends_with('\r'))
        text.remove_suffix(1);
    bool full = !lineEnded && statusLine_.size() >= kShownStatusLine;
    int code = 0;
    Match match = matchStatusLine(text, lineEnded || full, code);
    if (match == Match::Yes)
        status_ = code;
    if (match == Match::No) {
        state_ = State::NotSstp;
        statusLine_.clear();
    }
    if (lineEnded && status_)
        statusLine_.resize(text.size());
}

void SstpReply::feedHeaders(char c) {
    if (c != '\n') {
        ++lineLength_;
        lineEndsInCr_ = c == '\r';
        return;
    }
    if (lineLength_ == 0 || (lineLength_ == 1 && lineEndsInCr_))
        state_ = State::Complete;
    lineLength_ = 0;
}

}  // namespace tovlane
