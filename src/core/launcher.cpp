#include "core/launcher.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "core/command_line.h"
#include "core/exit_status.h"
#include "core/messages.h"
#include "core/notifier.h"
#include "core/options.h"
#include "core/output.h"
#include "core/script_source.h"
#include "core/settings.h"
#include "core/sstp_request.h"
#include "core/sstp_sender.h"
#include "core/version.h"
#include "storage/file_io.h"
#include "storage/localized.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

constexpr const char* kSettingsProgram = "tovlane-settings";
static_assert(std::all_of(kOptions.begin(), kOptions.end(),
                          [](const OptionRow& row) {
                              return row.setting.empty() || keyNamed(row.setting) < kKeyCount;
                          }),
              "an option replaces a key of the settings, by its name");

// A silent end says why when asked to explain, when printing, or when a
// person at a terminal would otherwise see nothing at all; from a hotkey,
// cron or a pipe it stays silent.
bool explainsSilentEnds(const CommandLine& line) {
    if (line.has(Option::Verbose) || line.has(Option::Print))
        return true;
    return !line.has(Option::Quiet) && ::isatty(STDERR_FILENO) == 1;
}

// The one place where an outcome becomes what the user sees: one line on
// stderr (for the silent ends only when they are explained) and the status.
int endWith(const Outcome<>& outcome, const CommandLine& line) {
    if (outcome)
        return endingRow(Ending::Accepted).status;
    const EndingRow& end = endingRow(outcome.error().code);
    bool told = !end.silent || explainsSilentEnds(line);
    if (told)
        tell(outcome.error().reason);
    // A desktop action has no terminal: the desktop shows why it failed, or,
    // with no notifier installed, stderr (a session log) does.
    if (line.has(Option::Notify) && !notifyDesktop(outcome.error().reason) && !told)
        tell(outcome.error().reason);
    return end.status;
}

// The settings file's place and the keys it holds, from the key table.
void writeSettingsHelp(LineWriter& out) {
    auto place = settingsPlace();
    const std::string heading = localized("Settings file: ", "設定ファイル: ");
    if (!place) {
        out.line(heading + place.error().reason);
        return;
    }
    out.line(heading + settingsStore(*place).FullPath());
    out.line("  " + whyThere(*place));
    out.line(
        localized("  keys of the section [{}]:", "  セクション [{}] のキー:", {kSettingsSection}));
    for (const SettingKey& key : kSettingKeys) {
        if (key.kind != KeyKind::Entry) {
            out.line(
                localized("    {} (empty: {})", "    {} (空なら {})", {key.name, key.fallback}));
        }
    }
    out.line(
        localized("    {}...{} (entries 0 to {})", "    {}〜{} (エントリ 0〜{})",
                  {kSettingKeys[entryKey(0)].name, kSettingKeys[entryKey(kEntryCount - 1)].name,
                   std::to_string(kEntryCount - 1)}));
}

// A line of help in both languages.
struct HelpLine {
    const char* english;
    const char* japanese;
};

constexpr HelpLine kNotes[] = {
    {"  An entry is the path of a script file, or the script itself. A relative",
     "  エントリはスクリプトファイルのパス、またはスクリプトそのものです。"},
    {"  path is taken from the current directory tovlane runs in.",
     "  相対パスは tovlane を実行したカレントディレクトリから探します。"},
    {"  Files and values are UTF-8 when they are valid UTF-8, CP932 otherwise.",
     "  ファイルと値は UTF-8 として正しければ UTF-8、そうでなければ CP932 として読みます。"},
    {"  CP932 bytes that happen to be valid UTF-8 (pairs of half-width katakana)",
     "  CP932 でも UTF-8 として正しいバイト列 (半角カナ 2 文字など) は UTF-8 と読まれるので、"},
    {"  read as UTF-8: save such files in UTF-8. Values are never cut at 255 bytes.",
     "  そうしたファイルは UTF-8 で保存してください。値やエントリは 255 バイトで切れません。"},
    {"  The wire carries CP932: --print shows a character it cannot hold as the ? sent.",
     "  送信は CP932 です。--print は CP932 で表せない文字を送られる ? で示します。"},
    {"  Bytes a terminal would obey (control and invisible characters, bytes that",
     "  表示すると端末を操作できてしまうバイト (制御文字、見えない文字、UTF-8 でない"},
    {"  are not UTF-8) show as their hexadecimal value between brackets: ESC as ⟦1B⟧.",
     "  バイト) は、ESC なら ⟦1B⟧ のように 16 進数を ⟦ ⟧ で囲んで示します。"},
    {"", ""},
    {"Exit statuses (* silent ends: the reason shows on a terminal unless -q is given,",
     "終了ステータス (* は黙って終わるもの。理由は端末でだけ表示し、-q があれば表示しません。"},
    {"               and always with -v and --print):",
     "                -v と --print では常に表示します):"},
};

void writeHelp(LineWriter& out) {
    const bool japanese = japaneseMessages();
    for (const std::string& line : usageLines())
        out.line(line);
    out.line(localized("Options:", "オプション:"));
    for (const std::string& line : optionHelpLines())
        out.line(line);
    out.line("");
    writeSettingsHelp(out);
    for (const HelpLine& line : kNotes)
        out.line(japanese ? line.japanese : line.english);
    for (const EndingRow& row : kEndings) {
        std::string status = std::to_string(row.status);
        out.line(std::string(4 - status.size(), ' ') + status + (row.silent ? "* " : "  ") +
                 std::string(japanese ? row.japanese : row.english));
    }
}

// The request as a CP932 server reads it, line by line: what cannot travel
// shows as the "?" that is sent, and 〜 as the ～ CP932 gives back. Decoded
// and shown piece by piece, so a long script is never held twice more.
void writeRequest(LineWriter& out, std::string_view request) {
    constexpr std::size_t kPiece = 1 << 16;
    std::string decoded;
    for (std::size_t at = 0; at < request.size();) {
        std::size_t end = std::min(request.find("\r\n", at), request.size());
        for (std::string_view line = request.substr(at, end - at); !line.empty();) {
            decoded.clear();
            line.remove_prefix(decodeCp932Part(decoded, line, kPiece));
            out.part(decoded);
        }
        out.endLine();
        at = end + 2;
    }
}

// The destination the settings and the options give: an option replaces a
// setting for this run alone, checked by the same rule.
Outcome<Destination> destinationOf(Settings& settings, const INIAccess& store,
                                   const CommandLine& line) {
    for (const OptionRow& row : kOptions) {
        if (!row.setting.empty() && line.has(row.option))
            settings.setForThisRun(keyNamed(row.setting), line.value(row.option), row.name);
    }
    auto requestLine = selectedRequestLine(settings, store);
    if (!requestLine)
        return requestLine.error();
    auto port = portNumber(settings, store);
    if (!port)
        return port.error();
    return Destination{settings.values[kAddressKey], *port, std::string(*requestLine)};
}

Outcome<> runSend(const CommandLine& line) {
    const bool explain = line.has(Option::Verbose);  // the checks below only serve the explanation
    std::optional<double> limit;
    if (line.has(Option::Timeout)) {
        auto seconds = timeoutSeconds(line.value(Option::Timeout));
        if (!seconds)
            return seconds.error();
        limit = *seconds;
    }
    auto source = scriptSourceOf(line);
    if (!source)
        return source.error();
    auto place = settingsPlace();
    if (!place)
        return place.error();
    if (explain)
        tell(whyThere(*place));
    if (std::string moved = notUsedBesideProgram(*place);
        !moved.empty() && explainsSilentEnds(line))
        tell(moved);
    // A bad number is reported after what is wrong with the settings, as it
    // always was, but known first so that only its entry is read.
    const bool entry = source->kind == ScriptSource::Kind::Entry;
    auto index = entry ? parseEntryIndex(source->value, kEntryCount) : Outcome<int>(-1);
    INIAccess store = settingsStore(*place);
    auto settings = loadSettings(store, index && *index >= 0 ? *index : kEntryCount);
    if (!settings)
        return settings.error();
    if (explain) {
        tell(store.ReadPath.empty()
                 ? localized("there is no settings file {}: the defaults apply",
                             "設定ファイル {} はありません。既定値を使います", {store.FullPath()})
                 : localized("read the settings file {}", "設定ファイル {} を読み込みました",
                             {store.ReadPath}));
    }
    if (!index)
        return index.error();
    const ScriptContext context{explain, explain || line.has(Option::Print),
                                line.has(Option::Quiet)};
    auto script =
        entry ? entryScript(*settings, *index, store, context) : oneOffScript(*source, context);
    if (!script)
        return script.error();
    auto to = destinationOf(*settings, store, line);
    if (!to)
        return to.error();
    if (line.has(Option::Print)) {
        if (explain) {
            tell(localized("it would go to {} port {}", "送信先は {} ポート {} です",
                           {to->host, std::to_string(to->port)}));
        }
        const std::string request = buildRequest(to->requestLine, *script);
        std::string().swap(*script);  // held once while it is shown
        LineWriter out(STDOUT_FILENO);
        writeRequest(out, request);
        return finishOutput(out);
    }
    Deadline deadline;
    if (limit) {
        deadline = std::chrono::steady_clock::now() +
                   std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                       std::chrono::duration<double>(*limit));
    }
    return SendScript(*to, std::move(*script), explain ? Trace(tell) : Trace(), deadline);
}

// Outside the error values, only the system should make a run fail: no
// memory for a huge script, no file descriptor for the socket. That ends as
// one line and a status of its own, never as an abort; any other exception
// is a fault of the program, and says so.
Outcome<> send(const CommandLine& line) {
    try {
        return runSend(line);
    } catch (const std::exception& error) {
        return endingOf(error);
    }
}

// The window lives in its own program so that send mode never loads Qt; it
// replaces this process, so the user still sees one command.
Outcome<> openSettings() {
    auto directory = executableDirectory();
    if (!directory)
        return runError(directory.error(), Ending::SettingsUnavailable);
    std::string program = joinPath(*directory, kSettingsProgram);
    const char* argv[] = {kSettingsProgram, nullptr};
    ::execv(program.c_str(), const_cast<char* const*>(argv));
    const int error = errno;
    const bool shortage = isResourceShortage(error) || error == EAGAIN;
    return runError(
        {shortage ? ErrorCode::OutOfResources : ErrorCode::FileUnreadable,
         localized("cannot open the settings window {}: {}", "設定画面 {} を開けません: {}",
                   {quoted(program), systemText(error)})},
        Ending::SettingsUnavailable);
}

// --help and --version: text for stdout that must arrive.
template <typename Write>
Outcome<> printed(Write write) {
    LineWriter out(STDOUT_FILENO);
    write(out);
    return finishOutput(out);
}

}  // namespace

int runLauncher(int argc, const char* const* argv) {
    prepareStandardStreams();
    auto line = parseCommandLine(argc, argv);
    if (!line)
        return endWith(line.error(), CommandLine());
    if (line->has(Option::Help))
        return endWith(printed(writeHelp), *line);
    if (line->has(Option::Version)) {
        return endWith(
            printed([](LineWriter& out) { out.line(std::string("tovlane ") + kVersionText); }),
            *line);
    }
    // An empty command line opens the window, as it always did.
    const bool empty = std::all_of(line->words.begin(), line->words.end(),
                                   [](const std::string& word) { return word.empty(); });
    if (!line->optionSyntax && empty)
        return endWith(openSettings(), *line);
    return endWith(send(*line), *line);
}

}  // namespace tovlane
