#include "core/command_line.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "core/messages.h"
#include "storage/blanks.h"

namespace tovlane {
namespace {

bool isDigitOrPoint(char c) {
    return (c >= '0' && c <= '9') || c == '.';
}

// For a number from_chars found out of range: whether it is too small to
// hold (1e-400) rather than too large (1e400). Its decimal magnitude is the
// place of the first nonzero digit, shifted by the exponent.
bool isTooSmall(std::string_view number) {
    std::size_t e = number.find_first_of("eE");
    std::string_view mantissa = number.substr(0, e);
    long exponent = 0;
    if (e != std::string_view::npos) {
        std::string_view digits = number.substr(e + 1);
        bool negative = digits.starts_with('-');
        digits.remove_prefix(negative || digits.starts_with('+') ? 1 : 0);
        auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), exponent);
        // Beyond any mantissa's reach, and far from overflowing the sum below.
        constexpr long kFar = 1L << 40;
        exponent = error != std::errc() ? kFar : std::min(exponent, kFar);
        exponent = negative ? -exponent : exponent;
    }
    std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    std::size_t first = mantissa.find_first_of("123456789");
    if (first == std::string_view::npos)
        return true;
    long magnitude =
        first < point ? static_cast<long>(point - first) - 1 : -static_cast<long>(first - point);
    return magnitude + exponent < 0;
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
    // from_chars takes no "+", and reads "inf" and "nan": a number starts
    // with a digit or a point once its one sign is off.
    bool plus = text.starts_with('+');
    if (plus)
        text.remove_prefix(1);
    std::string_view digits = (!plus && text.starts_with('-')) ? text.substr(1) : text;
    if (digits.empty() || !isDigitOrPoint(digits.front()))
        return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (end != text.data() + text.size())
        return std::nullopt;
    if (error == std::errc::result_out_of_range) {
        // The smallest number of the right sign floors as the exact one would.
        double size = isTooSmall(text) ? std::numeric_limits<double>::denorm_min() : HUGE_VAL;
        return text.front() == '-' ? -size : size;
    }
    if (error != std::errc())
        return std::nullopt;
    return value;
}

Result<int> parseEntryIndex(const std::string& commandLine, int entryCount) {
    const std::string shown = "コマンドライン " + quoted(commandLine) + " ";
    auto number = parseNumber(commandLine);
    if (!number)
        return Error{ErrorCode::NotANumber,
                     shown + "は数値ではありません（使い方は tovlane --help）"};
    double floored = std::floor(*number);
    if (!(floored >= std::numeric_limits<std::int16_t>::min() &&
          floored <= std::numeric_limits<std::int16_t>::max())) {
        return Error{ErrorCode::OutOfRange, shown + "は範囲外です（-32768〜32767）"};
    }
    int index = static_cast<int>(floored);
    if (index < 0 || index >= entryCount) {
        return Error{ErrorCode::NoSuchEntry,
                     shown + "のエントリ " + std::to_string(index) + " はありません（0〜" +
                         std::to_string(entryCount - 1) + " を指定してください）"};
    }
    return index;
}

}  // namespace tovlane
