// The number parser against a plain reference: a regular expression for the
// grammar, strtod for the value, compared by the floor the program takes.
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

#include "core/command_line.h"
#include "fuzz_check.h"

namespace {

std::optional<double> reference(const std::string& text) {
    static const std::regex grammar(R"([ \t]*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?[ \t]*)");
    if (!std::regex_match(text, grammar))
        return std::nullopt;
    errno = 0;
    double value = std::strtod(text.c_str(), nullptr);
    // Too small to hold: the floor is that of the tiniest number of its sign.
    if (errno == ERANGE && std::fabs(value) < 1)
        value = text.find('-') < text.find_first_of("0123456789.") ? -1 : 0;
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos || size > 400)
        return 0;  // strtod needs a C string; the regex, a short one
    auto parsed = tovlane::parseNumber(text);
    auto expected = reference(text);
    assert(parsed.has_value() == expected.has_value());
    if (parsed)
        assert(std::floor(*parsed) == std::floor(*expected));
    return 0;
}
