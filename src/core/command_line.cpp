#include "core/command_line.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/startup.h"
#include "storage/blanks.h"

namespace tovlane {
namespace {

std::size_t countDigits(std::string_view text, std::size_t from) {
    std::size_t end = from;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    return end - from;
}

bool isSign(std::string_view text, std::size_t at) {
    return at < text.size() && (text[at] == '+' || text[at] == '-');
}

// [+-] (digits [. digits] | . digits) [(e|E) [+-] digits]
bool hasNumberSyntax(std::string_view text) {
    std::size_t at = isSign(text, 0) ? 1 : 0;
    std::size_t whole = countDigits(text, at);
    at += whole;
    std::size_t fraction = 0;
    if (at < text.size() && text[at] == '.') {
        fraction = countDigits(text, ++at);
        at += fraction;
    }
    if (whole + fraction == 0)
        return false;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        at += isSign(text, at + 1) ? 2 : 1;
        std::size_t exponent = countDigits(text, at);
        if (exponent == 0)
            return false;
        at += exponent;
    }
    return at == text.size();
}

}  // namespace

std::string joinArguments(int argc, const char* const* argv) {
    std::string line;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            line += ' ';
        line += argv[i];
    }
    return line;
}

std::optional<double> parseNumber(std::string_view text) {
    text = trimBlanks(text);
    if (!hasNumberSyntax(text))
        return std::nullopt;
    // from_chars takes no leading "+"
    if (text.front() == '+')
        text.remove_prefix(1);
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range) {
        return text.front() == '-' ? -std::numeric_limits<double>::infinity()
                                   : std::numeric_limits<double>::infinity();
    }
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

EntryIndex parseEntryIndex(std::string_view commandLine) {
    auto number = parseNumber(commandLine);
    if (!number)
        return {0, IndexProblem::NotANumber};
    double floored = std::floor(*number);
    if (!(floored >= std::numeric_limits<std::int16_t>::min() &&
          floored <= std::numeric_limits<std::int16_t>::max())) {
        return {0, IndexProblem::OutOfRange};
    }
    int index = static_cast<int>(floored);
    if (index < 0 || index >= kEntryCount)
        return {index, IndexProblem::NoSuchEntry};
    return {index, IndexProblem::None};
}

std::optional<unsigned short> parsePort(std::string_view text) {
    text = trimBlanks(text);
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (value < 1 || value > 65535)
        return std::nullopt;
    return static_cast<unsigned short>(value);
}

}  // namespace tovlane
