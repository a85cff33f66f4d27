// The number parser against a plain reference: a regular expression for the
// grammar, strtold for the value, compared by the floor the program takes
// wherever the reference's rounding cannot move the floor.
#include <cmath>
#include <cstdlib>
#include <regex>
#include <string>

#include "core/command_line.h"
#include "fuzz_check.h"

namespace {

std::optional<long double> reference(const std::string& text) {
    static const std::regex grammar(R"([ \t]*[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?[ \t]*)");
    if (!std::regex_match(text, grammar))
        return std::nullopt;
    return std::strtold(text.c_str(), nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.find('\0') != std::string::npos || size > 400)
        return 0;  // strtod needs a C string; the regex, a short one
    auto floored = tovlane::floorOfNumber(text);
    auto expected = reference(text);
    assert(floored.has_value() == expected.has_value());
    if (!floored)
        return 0;
    long double value = *expected, below = std::floor(value);
    if (std::fabs(value) >= 1e17L)  // held at 10^18 either way
        assert(std::llabs(*floored) >= 100'000'000'000'000'000LL && (*floored < 0) == (value < 0));
    else if (value - below > 1e-9L && below + 1 - value > 1e-9L)
        assert(*floored == static_cast<long long>(below));
    return 0;
}
