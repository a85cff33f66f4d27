// The reply parser: the same bytes give the same verdict however they are
// split into reads, and a close settles the same way too.
#include <string>

#include "core/sstp_reply.h"
#include "fuzz_check.h"

namespace {

using tovlane::SstpReply;

SstpReply parse(std::string_view bytes, std::size_t chunk) {
    SstpReply reply;
    for (std::size_t at = 0; at < bytes.size() && reply.state() == SstpReply::State::Incomplete;
         at += chunk) {
        reply.feed(bytes.substr(at, chunk));
    }
    reply.close();
    return reply;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::size_t chunk = data[0] % 16 + 1;
    std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
    SstpReply whole = parse(bytes, bytes.size() + 1);
    for (std::size_t split : {std::size_t{1}, chunk}) {
        SstpReply pieces = parse(bytes, split);
        assert(pieces.state() == whole.state());
        assert(pieces.status() == whole.status());
        assert(pieces.statusLine() == whole.statusLine());
    }
    if (whole.status())
        assert(*whole.status() >= 0 && *whole.status() <= 999);
    return 0;
}
