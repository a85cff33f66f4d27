#include "core/options.h"

#include <algorithm>
#include <charconv>

#include "core/command_line.h"
#include "core/messages.h"
#include "storage/localized.h"

namespace tovlane {
namespace {

constexpr double kLongestTimeout = 365.0 * 24 * 60 * 60;

RunError unknownOption(std::string_view word) {
    return badCommandLine("unknown option {} (see tovlane --help)",
                          "オプション {} はありません（使い方は tovlane --help）",
                          {quoted(std::string(word))});
}

const OptionRow* findOption(std::string_view name, char letter) {
    auto row = std::find_if(kOptions.begin(), kOptions.end(), [&](const OptionRow& option) {
        return letter != 0 ? option.letter == letter : option.name == name;
    });
    return row == kOptions.end() ? nullptr : &*row;
}

// Takes one option's value into line; -v and -q cancel each other.
void take(CommandLine& line, const OptionRow& row, std::string value) {
    if (row.option == Option::Verbose || row.option == Option::Quiet) {
        Option other = row.option == Option::Verbose ? Option::Quiet : Option::Verbose;
        line.given[static_cast<std::size_t>(other)].reset();
    }
    line.given[static_cast<std::size_t>(row.option)] = std::move(value);
    ++line.times[static_cast<std::size_t>(row.option)];
}

// The value of an option that takes one: what stands after "=", or else the
// next argument.
Outcome<std::string> valueOf(const OptionRow& row, bool attached, std::string_view value, int& i,
                             int argc, const char* const* argv) {
    if (attached)
        return std::string(value);
    if (i + 1 >= argc) {
        return badCommandLine("option {} needs a value, {} (see tovlane --help)",
                              "オプション {} には値 {} が必要です（使い方は tovlane --help）",
                              {row.name, row.argument});
    }
    return std::string(argv[++i]);
}

// "--name", "--name=value" or "--name value".
Outcome<> takeLong(CommandLine& line, std::string_view word, int& i, int argc,
                   const char* const* argv) {
    std::size_t equals = word.find('=');
    const OptionRow* row = findOption(word.substr(0, equals), 0);
    if (row == nullptr)
        return unknownOption(word.substr(0, equals));
    const bool attached = equals != std::string_view::npos;
    if (row->argument.empty()) {
        if (attached) {
            return badCommandLine("option {} takes no value (see tovlane --help)",
                                  "オプション {} は値をとりません（使い方は tovlane --help）",
                                  {row->name});
        }
        take(line, *row, "");
        return {};
    }
    auto value = valueOf(*row, attached, attached ? word.substr(equals + 1) : "", i, argc, argv);
    if (!value)
        return value.error();
    take(line, *row, std::move(*value));
    return {};
}

// "-vq": letters, each an option; one that takes a value takes the rest of
// the word, or else the next argument.
Outcome<> takeShort(CommandLine& line, std::string_view word, int& i, int argc,
                    const char* const* argv) {
    for (std::size_t at = 1; at < word.size(); ++at) {
        const OptionRow* row = findOption("", word[at]);
        if (row == nullptr)  // "-" itself is no letter of an option: name the whole word
            return unknownOption(word[at] == '-' ? std::string(word) : std::string("-") + word[at]);
        if (row->argument.empty()) {
            take(line, *row, "");
            continue;
        }
        auto rest = word.substr(at + 1);
        auto value = valueOf(*row, !rest.empty(), rest, i, argc, argv);
        if (!value)
            return value.error();
        take(line, *row, std::move(*value));
        break;
    }
    return {};
}

}  // namespace

RunError badCommandLine(std::string_view english, std::string_view japanese,
                        std::initializer_list<std::string_view> args) {
    return {Ending::BadCommandLine, localized(english, japanese, args)};
}

Outcome<CommandLine> parseCommandLine(int argc, const char* const* argv) {
    CommandLine line;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string_view word = argv[i];
        if (optionsEnded || !word.starts_with('-') || floorOfNumber(word)) {
            line.words.emplace_back(word);
            continue;
        }
        line.optionSyntax = true;
        Outcome<> taken;
        if (word == "--")
            optionsEnded = true;
        else if (word == "-")
            ++line.standardInput;
        else if (word.starts_with("--"))
            taken = takeLong(line, word, i, argc, argv);
        else
            taken = takeShort(line, word, i, argc, argv);
        if (!taken)
            return taken.error();
    }
    return line;
}

Outcome<double> timeoutSeconds(const std::string& text) {
    double seconds = 0;
    const bool decimal = !text.empty() &&
                         text.find_first_not_of("0123456789.") == std::string::npos &&
                         std::count(text.begin(), text.end(), '.') <= 1 &&
                         text.find_first_of("0123456789") != std::string::npos;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (!decimal || error != std::errc() || end != text.data() + text.size() || !(seconds > 0) ||
        seconds > kLongestTimeout) {
        return badCommandLine(
            "--timeout {} is not a number of seconds greater than 0 and at most a year "
            "(see tovlane --help)",
            "--timeout {} は 0 より大きく 1 年以下の秒数ではありません（使い方は tovlane --help）",
            {quoted(text)});
    }
    return seconds;
}

std::vector<std::string> usageLines() {
    const OptionRow& script = optionRow(Option::Script);
    const OptionRow& file = optionRow(Option::File);
    auto form = [](std::string_view command) {
        std::string line = "tovlane " + std::string(command);
        return line + std::string(line.size() < 36 ? 36 - line.size() : 1, ' ');
    };
    return {
        localized("Usage: {}send entry N (0 to 9) to the SSTP server",
                  "使い方:  {}エントリ N (0〜9) を SSTP サーバーへ送ります",
                  {form("[OPTION]... N")}),
        localized(
            "  or:  {}send TEXT", "  または {}TEXT を送ります",
            {form("[OPTION]... " + std::string(script.name) + " " + std::string(script.argument))}),
        localized(
            "  or:  {}send the script file PATH", "  または {}スクリプトファイル PATH を送ります",
            {form("[OPTION]... " + std::string(file.name) + " " + std::string(file.argument))}),
        localized("  or:  {}send the script read from standard input",
                  "  または {}標準入力から読んだスクリプトを送ります", {form("[OPTION]... -")}),
        localized("  or:  {}open the settings window", "  または {}設定画面を開きます", {form("")}),
    };
}

std::vector<std::string> optionHelpLines() {
    const bool japanese = japaneseMessages();
    std::vector<std::string> lines;
    for (const OptionRow& row : kOptions) {
        std::string names = row.letter != 0 ? std::string("-") + row.letter + ", " : "    ";
        names +=
            std::string(row.name) + (row.argument.empty() ? "" : " " + std::string(row.argument));
        names.resize(std::max<std::size_t>(names.size() + 2, 24), ' ');
        lines.push_back("  " + names + std::string(japanese ? row.japanese : row.english));
    }
    return lines;
}

}  // namespace tovlane
