#pragma once

#include <string>
#include <string_view>

// Text is UTF-8 in memory. Files made on Windows arrive in CP932 (Windows'
// Shift_JIS), and the SSTP wire carries CP932 as its Charset header announces.
namespace tovlane {

bool isValidUtf8(std::string_view bytes);

// Bytes from a file: kept when they are valid UTF-8, otherwise read as CP932.
// A byte CP932 cannot read becomes U+FFFD, so nothing stops the conversion.
std::string decodeFileText(std::string_view bytes);

// CP932 to UTF-8; an unreadable byte becomes U+FFFD.
std::string decodeCp932(std::string_view bytes);

// UTF-8 to CP932; a character CP932 cannot hold becomes "?".
std::string encodeCp932(std::string_view utf8);

}  // namespace tovlane
