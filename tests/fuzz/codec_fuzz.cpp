// The text codec: it tells UTF-8 as glibc does, whatever comes in UTF-8
// comes out, and what CP932 holds survives a round trip.
#include <iconv.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "storage/text_codec.h"

namespace {

bool glibcReadsAsUtf8(std::string bytes) {
    static iconv_t cd = iconv_open("UTF-32LE", "UTF-8");
    std::vector<char> out(bytes.size() * 4 + 4);
    char* in = bytes.data();
    char* outPtr = out.data();
    std::size_t inLeft = bytes.size(), outLeft = out.size();
    bool ok = iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    FUZZ_CHECK(tovlane::isValidUtf8(bytes) == glibcReadsAsUtf8(bytes));
    std::string decoded = tovlane::decodeCp932(bytes);
    FUZZ_CHECK(tovlane::isValidUtf8(decoded));
    FUZZ_CHECK(tovlane::isValidUtf8(tovlane::decodeFileText(bytes)));

    // Encoded text decodes to text that encodes to the same bytes.
    std::string encoded = tovlane::encodeCp932(bytes);
    FUZZ_CHECK(encoded.size() <= bytes.size());
    FUZZ_CHECK(tovlane::encodeCp932(tovlane::decodeCp932(encoded)) == encoded);
    // Text that CP932 holds whole (no "?" put in) comes back character for
    // character: the same number of them.
    auto count = [](const std::string& text, auto predicate) {
        return std::count_if(text.begin(), text.end(), predicate);
    };
    auto isLead = [](char c) { return (c & 0xC0) != 0x80; };
    auto isMark = [](char c) { return c == '?'; };
    if (tovlane::isValidUtf8(bytes) && count(encoded, isMark) == count(bytes, isMark))
        FUZZ_CHECK(count(tovlane::decodeCp932(encoded), isLead) == count(bytes, isLead));
    return 0;
}
