#include "core/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/messages.h"
#include "storage/blanks.h"
#include "storage/localized.h"

namespace tovlane {
namespace {

bool isDigitOrPoint(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

// Beyond any range the program checks: a floor this large stands for all larger.
constexpr long long kSaturated = 1'000'000'000'000'000'000LL;
constexpr std::size_t kSaturatedDigits = 18;

// The exponent as written, held within reach of any mantissa.
long long exponentOf(std::string_view text) {
    bool negative = text.starts_with('-');
    text.remove_prefix(negative || text.starts_with('+') ? 1 : 0);
    long long exponent = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), exponent);
    constexpr long long kFar = 1LL << 40;
    exponent = error != std::errc() ? kFar : std::min(exponent, kFar);
    return negative ? -exponent : exponent;
}

// A decimal's floor, and whether anything was cut off to reach it.
struct Floor {
    long long value;
    bool fraction;
};

// The floor of a well-formed unsigned decimal, computed on its digits, so
// that 4.9999999999999999 is 4 and not the 5 its nearest double would give.
Floor floorOfDigits(std::string_view number, bool negative) {
    std::size_t e = number.find_first_of("eE");
    std::string_view mantissa = number.substr(0, e);
    std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    std::string digits(mantissa.substr(0, point));
    if (point < mantissa.size())
        digits += mantissa.substr(point + 1);
    long long shift =
        (e == std::string_view::npos ? 0 : exponentOf(number.substr(e + 1))) -
        static_cast<long long>(mantissa.size() - std::min(point + 1, mantissa.size()));
    digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
    if (digits.empty())
        return {0, false};  // zero, whatever its sign and exponent
    // The digits left of the point, and whether any right of it is not zero.
    long long whole = static_cast<long long>(digits.size()) + shift;
    if (whole > static_cast<long long>(kSaturatedDigits))
        return {negative ? -kSaturated : kSaturated, false};
    std::string_view integer(digits.data(), static_cast<std::size_t>(std::max(whole, 0LL)));
    if (whole > static_cast<long long>(digits.size()))
        integer = digits;
    bool fraction = whole < static_cast<long long>(digits.size()) &&
                    digits.find_first_not_of('0', integer.size()) != std::string::npos;
    long long value = 0;
    for (char c : integer)
        value = value * 10 + (c - '0');
    for (long long k = static_cast<long long>(digits.size()); k < whole; ++k)
        value *= 10;
    return {negative ? -value - (fraction ? 1 : 0) : value, fraction};
}

// The number's floor as floorOfNumber takes it, with what was cut off.
std::optional<Floor> parseNumber(std::string_view text) {
    text = trimBlanks(text);
    // from_chars takes no "+", and reads "inf" and "nan": a number starts
    // with a digit or a point once its one sign is off.
    bool plus = text.starts_with('+');
    if (plus)
        text.remove_prefix(1);
    bool negative = !plus && text.starts_with('-');
    std::string_view number = negative ? text.substr(1) : text;
    if (number.empty() || !isDigitOrPoint(number.front()))
        return std::nullopt;
    double ignored = 0;  // from_chars only checks the form
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), ignored);
    if (end != text.data() + text.size() ||
        (error != std::errc() && error != std::errc::result_out_of_range)) {
        return std::nullopt;
    }
    return floorOfDigits(number, negative);
}

}  // namespace

std::string joinWords(const std::vector<std::string>& words) {
    std::string line;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (i > 0)
            line += ' ';
        line += words[i];
    }
    return line;
}

std::optional<long long> floorOfNumber(std::string_view text) {
    auto number = parseNumber(text);
    return number ? std::optional(number->value) : std::nullopt;
}

std::optional<long long> wholeNumberOf(std::string_view text) {
    auto number = parseNumber(text);
    return number && !number->fraction ? std::optional(number->value) : std::nullopt;
}

Outcome<int> parseEntryIndex(const std::string& commandLine, int entryCount) {
    const std::string shown = quoted(commandLine);
    auto floored = floorOfNumber(commandLine);
    if (!floored) {
        return RunError{
            Ending::BadCommandLine,
            localized("the command line {} is not a number (see tovlane --help)",
                      "コマンドライン {} は数値ではありません（使い方は tovlane --help）",
                      {shown})};
    }
    if (*floored < std::numeric_limits<std::int16_t>::min() ||
        *floored > std::numeric_limits<std::int16_t>::max()) {
        return RunError{Ending::OutOfRange,
                        localized("the command line {} is out of range (-32768 to 32767)",
                                  "コマンドライン {} は範囲外です（-32768〜32767）", {shown})};
    }
    int index = static_cast<int>(*floored);
    if (index < 0 || index >= entryCount) {
        const std::string number = std::to_string(index), last = std::to_string(entryCount - 1);
        return RunError{
            Ending::NoSuchEntry,
            localized("the command line {} names entry {}, which does not exist "
                      "(give 0 to {})",
                      "コマンドライン {} のエントリ {} はありません（0〜{} を指定してください）",
                      {shown, number, last})};
    }
    return index;
}

}  // namespace tovlane
