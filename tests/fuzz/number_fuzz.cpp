// The number parser against a plain reference: a hand-written grammar and
// strtod, compared by the floor that the program takes.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/command_line.h"
#include "fuzz_check.h"

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::size_t digitsAt(const std::string& text, std::size_t at) {
    std::size_t end = at;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    return end - at;
}

// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits], blanks around.
std::optional<double> reference(std::string text) {
    while (!text.empty() && isBlank(text.back()))
        text.pop_back();
    std::size_t at = 0;
    while (at < text.size() && isBlank(text[at]))
        ++at;
    text.erase(0, at);
    at = (!text.empty() && (text[0] == '+' || text[0] == '-')) ? 1 : 0;
    std::size_t whole = digitsAt(text, at), fraction = 0;
    at += whole;
    if (at < text.size() && text[at] == '.') {
        fraction = digitsAt(text, ++at);
        at += fraction;
    }
    if (whole + fraction == 0)
        return std::nullopt;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        at += (at + 1 < text.size() && (text[at + 1] == '+' || text[at + 1] == '-')) ? 2 : 1;
        std::size_t exponent = digitsAt(text, at);
        if (exponent == 0)
            return std::nullopt;
        at += exponent;
    }
    if (at != text.size())
        return std::nullopt;
    errno = 0;
    double value = std::strtod(text.c_str(), nullptr);
    // Too small to hold: the floor is that of the tiniest number of its sign.
    if (errno == ERANGE && std::fabs(value) < 1)
        value = text[0] == '-' ? -1 : 0;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos)
        return 0;  // a C string for strtod
    auto parsed = tovlane::parseNumber(text);
    auto expected = reference(text);
    FUZZ_CHECK(parsed.has_value() == expected.has_value());
    if (parsed)
        FUZZ_CHECK(std::floor(*parsed) == std::floor(*expected));
    return 0;
}
