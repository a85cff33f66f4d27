#include "core/output.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <exception>
#include <iterator>
#include <utility>

#include "storage/localized.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

constexpr std::string_view kOpenBracket = "⟦";
constexpr std::string_view kCloseBracket = "⟧";
constexpr std::size_t kWriteSize = 1 << 16;

// Unicode's format characters (general category Cf, the bidirectional
// controls among them) and its line and paragraph separators, as of Unicode
// 15.0: invisible, and able to hide, break or reorder what a line shows.
constexpr std::pair<char32_t, char32_t> kInvisible[] = {
    {0xAD, 0xAD},       {0x600, 0x605},     {0x61C, 0x61C},     {0x6DD, 0x6DD},
    {0x70F, 0x70F},     {0x890, 0x891},     {0x8E2, 0x8E2},     {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},
    {0xFEFF, 0xFEFF},   {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001},
    {0xE0020, 0xE007F}};

// Control characters (C0, DEL, C1) and the invisible ones above.
bool mustEscape(std::string_view character) {
    const char32_t cp = codePointOf(character);
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F))
        return true;
    auto after = std::upper_bound(std::begin(kInvisible), std::end(kInvisible), cp,
                                  [](char32_t c, const auto& range) { return c < range.first; });
    return after != std::begin(kInvisible) && cp <= std::prev(after)->second;
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
    part(text);
    endLine();
}

void LineWriter::part(std::string_view text) {
    pending_ += visibleText(text);
    if (pending_.size() >= kWriteSize)
        flush();
}

void LineWriter::endLine() {
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
