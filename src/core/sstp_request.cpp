#include "core/sstp_request.h"

#include "storage/text_codec.h"

namespace tovlane {

std::string buildRequest(std::string_view requestLine, std::string_view script) {
    std::string text;
    text.reserve(requestLine.size() + script.size() + 64);
    text.append(requestLine).append("\r\n");
    text.append("Sender: Tovlane\r\n");
    text.append("Script: ").append(script).append("\\e\r\n");
    text.append("Charset: Shift_JIS\r\n\r\n");
    return encodeCp932(text);
}

}  // namespace tovlane
