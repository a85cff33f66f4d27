#include "core/sstp_request.h"

#include <algorithm>

namespace tovlane {

std::string buildRequest(std::string_view requestLine, std::string_view script) {
    std::string request;
    request.reserve(requestLine.size() + script.size() + 64);
    request.append(requestLine);
    request.append("\r\nSender: Tovlane\r\nScript: ");
    for (std::size_t at = 0; at < script.size();) {
        std::size_t brk = std::min(script.find_first_of("\r\n", at), script.size());
        request.append(script.substr(at, brk - at));
        at = brk + 1;
    }
    request.append("\\e\r\nCharset: Shift_JIS\r\n\r\n");
    return request;
}

}  // namespace tovlane
