#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// Text is UTF-8 in memory. Files made on Windows arrive in CP932 (Windows'
// Shift_JIS), and the SSTP wire carries CP932 as its Charset header announces.
// The conversions use tables compiled into the program and cannot fail.
namespace tovlane {

// What Windows Notepad writes at the start of a UTF-8 file.
inline constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool isValidUtf8(std::string_view bytes);
// The length of the well-formed UTF-8 sequence that starts bytes (not
// empty), or 0 when none does.
std::size_t utf8SequenceLength(std::string_view bytes);

// The code point of one well-formed UTF-8 sequence; U+FFFD for a byte that
// is none.
char32_t codePointOf(std::string_view sequence);

// Bytes from a file: kept when they are valid UTF-8, otherwise read as CP932.
std::string decodeFileText(std::string bytes);

// CP932 to UTF-8; a byte CP932 cannot read becomes U+FFFD.
std::string decodeCp932(std::string_view bytes);
// The same for whole characters from the front of bytes, at least atLeast
// bytes of them (or all), appended to out; how many bytes it took. Decoding
// a long text piece by piece gives what decodeCp932 gives for the whole.
std::size_t decodeCp932Part(std::string& out, std::string_view bytes, std::size_t atLeast);

// Keeps CP932 text as it is, in place, but for each byte CP932 cannot read,
// which becomes "?" as a round trip through UTF-8 would make it; so a big
// CP932 file goes to the wire without ever being widened.
void repairCp932(std::string& bytes);

// UTF-8 to CP932; a character CP932 cannot hold, or a byte that is not
// UTF-8, becomes "?".
std::string encodeCp932(std::string_view utf8);
// The same, appended to out.
void appendCp932(std::string& out, std::string_view utf8);
// Where the first character that CP932 cannot hold (or byte that is not
// UTF-8) stands, and its length; nullopt when CP932 holds all of utf8.
std::optional<std::pair<std::size_t, std::size_t>> firstNotInCp932(std::string_view utf8);

}  // namespace tovlane
