// The text codec: it tells UTF-8 as glibc does, whatever comes in UTF-8
// comes out, and what CP932 holds survives a round trip. And whatever comes
// in, what a terminal is shown is UTF-8 without a control character or any
// other character the printer escapes.
#include <algorithm>
#include <string>

#include "core/output.h"
#include "fuzz_check.h"
#include "iconv_convert.h"
#include "storage/text_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    const bool glibcReadsUtf8 = bytes.empty() || !iconvConvert("UTF-32LE", "UTF-8", bytes).empty();
    assert(tovlane::isValidUtf8(bytes) == glibcReadsUtf8);
    std::string decoded = tovlane::decodeCp932(bytes);
    assert(tovlane::isValidUtf8(decoded));
    assert(tovlane::isValidUtf8(tovlane::decodeFileText(bytes)));

    // Encoded text decodes to text that encodes to the same bytes.
    std::string encoded = tovlane::encodeCp932(bytes);
    assert(encoded.size() <= bytes.size());
    assert(tovlane::encodeCp932(tovlane::decodeCp932(encoded)) == encoded);
    // Text that CP932 holds whole (no "?" put in) comes back character for
    // character: the same number of them.
    auto count = [](const std::string& text, auto predicate) {
        return std::count_if(text.begin(), text.end(), predicate);
    };
    auto isLead = [](char c) { return (c & 0xC0) != 0x80; };
    auto isMark = [](char c) { return c == '?'; };
    if (tovlane::isValidUtf8(bytes) && count(encoded, isMark) == count(bytes, isMark))
        assert(count(tovlane::decodeCp932(encoded), isLead) == count(bytes, isLead));

    std::string shown = tovlane::visibleText(bytes);
    assert(tovlane::isValidUtf8(shown));
    assert(tovlane::visibleText(shown) == shown);  // nothing invisible is left
    for (std::size_t i = 0; i < shown.size(); ++i) {
        auto b = static_cast<unsigned char>(shown[i]);
        assert(b >= 0x20 && b != 0x7F);
        // U+0080 to U+009F are C2 80 to C2 9F.
        assert(b != 0xC2 || static_cast<unsigned char>(shown[i + 1]) >= 0xA0);
    }
    return 0;
}
