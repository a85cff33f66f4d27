#include "core/output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <exception>

#include "storage/localized.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

constexpr std::string_view kOpenBracket = "⟦";
constexpr std::string_view kCloseBracket = "⟧";
constexpr std::size_t kWriteSize = 1 << 16;

// Control characters, and the invisible ones that break or reorder a line on
// screen: U+200E, U+200F, U+2028 to U+202E and U+2066 to U+2069.
bool mustEscape(std::string_view character) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(character[i]); };
    if (character.size() == 1)
        return byte(0) < 0x20 || byte(0) == 0x7F;
    if (character.size() == 2)  // U+0080 to U+009F: C2 80 to C2 9F
        return byte(0) == 0xC2 && byte(1) <= 0x9F;
    if (character.size() != 3 || byte(0) != 0xE2)
        return false;
    const unsigned low = (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);  // U+2000 and up
    return low == 0x0E || low == 0x0F || (low >= 0x28 && low <= 0x2E) ||
           (low >= 0x66 && low <= 0x69);
}

void appendEscaped(std::string& out, std::string_view bytes) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    out.append(kOpenBracket);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (i > 0)
            out += ' ';
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    out.append(kCloseBracket);
}

}  // namespace

std::string visibleText(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        std::string_view rest = text.substr(at);
        std::size_t length = utf8SequenceLength(rest);
        // Not UTF-8: the one byte alone.
        std::string_view character = rest.substr(0, length == 0 ? 1 : length);
        if (length == 0 || mustEscape(character))
            appendEscaped(shown, character);
        else
            shown.append(character);
        at += character.size();
    }
    return shown;
}

LineWriter::~LineWriter() {
    // Lines half built when an exception (no memory) passed are not written.
    if (std::uncaught_exceptions() == exceptionsAtStart_)
        finish();
}

void LineWriter::line(std::string_view text) {
    pending_ += visibleText(text);
    pending_ += '\n';
    if (pending_.size() >= kWriteSize)
        flush();
}

int LineWriter::finish() {
    flush();
    return error_;
}

void LineWriter::flush() {
    std::string_view rest = pending_;
    while (!rest.empty() && error_ == 0) {
        ssize_t count = ::write(fd_, rest.data(), rest.size());
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd ready{fd_, POLLOUT, 0};  // a stream another program set non-blocking
            ::poll(&ready, 1, -1);
            continue;
        }
        if (count < 0 && errno != EINTR)
            error_ = errno;
        if (count == 0)
            error_ = EIO;  // never for a write of something; no endless loop either
        if (count > 0)
            rest.remove_prefix(static_cast<std::size_t>(count));
    }
    pending_.clear();
}

Outcome<> finishOutput(LineWriter& out) {
    if (int error = out.finish()) {
        return RunError{Ending::OutputUnwritable,
                        localized("cannot write to stdout: {}", "標準出力に書き込めません: {}",
                                  {systemText(error)})};
    }
    return {};
}

void tell(std::string_view message) {
    LineWriter err(STDERR_FILENO);
    err.line(std::string("tovlane: ").append(message));
}

void prepareStandardStreams() {
    // A reader that went away makes a write fail (EPIPE) instead of ending
    // the run before it has sent anything.
    ::signal(SIGPIPE, SIG_IGN);
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF)
            ::open("/dev/null", O_RDONLY);  // takes the lowest free number: fd
    }
}

}  // namespace tovlane
