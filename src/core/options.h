#pragma once

#include <array>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/exit_status.h"

namespace tovlane {

enum class Option {
    Verbose,
    Quiet,
    Print,
    Notify,
    Script,
    File,
    Address,
    Port,
    Timeout,
    Help,
    Version,
};

struct OptionRow {
    Option option;
    std::string_view name;      // "--verbose"
    char letter;                // 'v' for -v, or 0
    std::string_view argument;  // "TEXT", or "" for an option that takes none
    std::string_view english;   // the line --help shows beside it
    std::string_view japanese;
    std::string_view setting = {};  // the settings' key it replaces for one run, if any
};

// Every option, in the order --help lists them: parsing, --help, the usage
// line and the bash completion come from this table, and a test keeps the
// manual pages and the README in step with it.
inline constexpr auto kOptions = std::to_array<OptionRow>({
    {Option::Verbose, "--verbose", 'v', "", "explain each step on stderr",
     "各段階を標準エラーに説明します"},
    {Option::Quiet, "--quiet", 'q', "", "say nothing of a silent end, even on a terminal",
     "端末でも、黙って終わる理由を表示しません"},
    {Option::Print, "--print", 0, "",
     "show the request as the server will read it, without sending",
     "送信せずに、サーバーが受け取るリクエストを表示します"},
    {Option::Notify, "--notify", 0, "", "also show a failure as a desktop notification",
     "失敗したらデスクトップ通知でも理由を示します"},
    {Option::Script, "--script", 0, "TEXT", "send TEXT as the script (never taken as a path)",
     "TEXT をスクリプトとして送ります (パスとは見なしません)"},
    {Option::File, "--file", 0, "PATH", "send the script file PATH",
     "スクリプトファイル PATH を送ります"},
    {Option::Address, "--address", 0, "HOST", "send to HOST this time, not to Address",
     "今回だけ Address ではなく HOST へ送ります", "Address"},
    {Option::Port, "--port", 0, "N", "send to port N this time, not to Port",
     "今回だけ Port ではなくポート N へ送ります", "Port"},
    {Option::Timeout, "--timeout", 0, "SECONDS", "give up after SECONDS (a decimal number > 0)",
     "SECONDS 秒 (0 より大きい 10 進数) で打ち切ります"},
    {Option::Help, "--help", 'h', "", "show this help", "この説明を表示します"},
    {Option::Version, "--version", 0, "", "show the version", "バージョンを表示します"},
});

static_assert(inEnumOrder(kOptions, [](const OptionRow& row) { return row.option; }),
              "kOptions lists every Option once, in order");

constexpr const OptionRow& optionRow(Option option) {
    return kOptions[static_cast<std::size_t>(option)];
}

// What a command line asks for.
struct CommandLine {
    // Each option's value as given ("" for one that takes none), when given;
    // of an option given twice, the later.
    std::array<std::optional<std::string>, kOptions.size()> given = {};
    // How often each option was given.
    std::array<int, kOptions.size()> times = {};
    // The words that are no option: the entry, when there is one.
    std::vector<std::string> words = {};
    int standardInput = 0;      // how often "-" (the script from standard input) was given
    bool optionSyntax = false;  // any option, "-" or "--": the words are taken one by one

    bool has(Option option) const { return given[static_cast<std::size_t>(option)].has_value(); }
    const std::string& value(Option option) const {
        return *given[static_cast<std::size_t>(option)];
    }
};

// Reads the command line: options before or after the words, "--" ending
// them, short ones combined ("-vq"), "--name=value" or "--name value"; of an
// option given twice, the later value counts. A word
// that reads as a number is a word, never an option ("-1" is entry -1).
// BadCommandLine, with a line naming the word, for an unknown option, a missing
// value, or a value given to an option that takes none. -v and -q cancel each
// other: the later counts.
Outcome<CommandLine> parseCommandLine(int argc, const char* const* argv);

// A command line that cannot be used (status 2), with its line.
RunError badCommandLine(std::string_view english, std::string_view japanese,
                        std::initializer_list<std::string_view> args = {});

// The --timeout value in seconds: a decimal number greater than 0 (digits,
// at most one point), at most a year; BadCommandLine naming it otherwise.
Outcome<double> timeoutSeconds(const std::string& text);

// The usage lines and the options' help lines, in the user's language.
std::vector<std::string> usageLines();
std::vector<std::string> optionHelpLines();

}  // namespace tovlane
