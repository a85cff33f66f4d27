#include "core/sstp_request.h"

#include <algorithm>

#include "storage/text_codec.h"

namespace tovlane {

namespace {

void appendAsIs(std::string& out, std::string_view text) {
    out.append(text);
}

template <typename Append>
std::string assemble(std::string_view requestLine, std::string_view script, Append append) {
    std::string request;
    // CP932 never takes more bytes than UTF-8, so this is all the request
    // needs: a long script is converted straight into it, never copied.
    request.reserve(requestLine.size() + script.size() + 64);
    append(request, requestLine);
    request.append("\r\nSender: Tovlane\r\nScript: ");
    for (std::size_t at = 0; at < script.size();) {
        std::size_t brk = std::min(script.find_first_of("\r\n", at), script.size());
        append(request, script.substr(at, brk - at));
        at = brk + 1;
    }
    request.append("\\e\r\nCharset: Shift_JIS\r\n\r\n");
    return request;
}

}  // namespace

std::string buildRequest(std::string_view requestLine, std::string_view script) {
    return assemble(requestLine, script, appendCp932);
}

std::string requestText(std::string_view requestLine, std::string_view script) {
    return assemble(requestLine, script, appendAsIs);
}

}  // namespace tovlane
