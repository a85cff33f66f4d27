#include "core/command_line.h"

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
    if (error == std::errc::result_out_of_range)
        return text.front() == '-' ? -HUGE_VAL : HUGE_VAL;
    if (error != std::errc())
        return std::nullopt;
    return value;
}

Result<int> parseEntryIndex(const std::string& commandLine, int entryCount) {
    const std::string shown = "コマンドライン " + quoted(commandLine) + " ";
    auto number = parseNumber(commandLine);
    if (!number)
        return Error{ErrorCode::NotANumber, shown + "は数値ではありません"};
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
