#pragma once

#include <string>
#include <string_view>

namespace tovlane {

// The request as it goes on the wire, in CP932:
//   <request line> CR LF
//   Sender: Tovlane CR LF
//   Script: <script>\e CR LF
//   Charset: Shift_JIS CR LF
//   CR LF
// The script, already CP932, is inserted unchanged but for any CR or LF,
// which would end the header early, and "\e" is always appended.
std::string buildRequest(std::string_view requestLine, std::string_view script);

}  // namespace tovlane
