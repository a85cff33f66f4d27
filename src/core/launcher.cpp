#include "core/launcher.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/exit_status.h"
#include "core/messages.h"
#include "core/notifier.h"
#include "core/output.h"
#include "core/settings.h"
#include "core/sstp_request.h"
#include "core/sstp_sender.h"
#include "core/version.h"
#include "storage/file_io.h"
#include "storage/localized.h"
#include "storage/text_codec.h"
#include "storage/wr_text.h"

namespace tovlane {
namespace {

constexpr const char* kSettingsProgram = "tovlane-settings";

// What the options before the number ask for.
struct Options {
    bool verbose = false;  // -v: explain each step
    bool quiet = false;    // -q: no explanation even on a terminal
    bool print = false;    // --print: show the request instead of sending it
    bool notify = false;   // --notify: a failed run also says why on the desktop
};

// The options that lead the arguments; returns how many there were.
int takeOptions(int argc, const char* const* argv, Options& options) {
    int taken = 0;
    for (int i = 1; i < argc; ++i, ++taken) {
        std::string_view arg = argv[i];
        if (arg == "-v" || arg == "--verbose")
            options.verbose = true, options.quiet = false;
        else if (arg == "-q" || arg == "--quiet")
            options.quiet = true, options.verbose = false;
        else if (arg == "--print")
            options.print = true;
        else if (arg == "--notify")
            options.notify = true;
        else
            break;
    }
    return taken;
}

// A silent end says why when asked to explain, when printing, or when a
// person at a terminal would otherwise see nothing at all; from a hotkey,
// cron or a pipe it stays silent.
bool explainsSilentEnds(const Options& options) {
    if (options.verbose || options.print)
        return true;
    return !options.quiet && ::isatty(STDERR_FILENO) == 1;
}

// The one place where an outcome becomes what the user sees: one line on
// stderr (for the silent ends only when they are explained) and the status.
int endWith(const Outcome<>& outcome, const Options& options) {
    if (outcome)
        return endingRow(Ending::Accepted).status;
    const EndingRow& end = endingRow(outcome.error().code);
    bool told = !end.silent || explainsSilentEnds(options);
    if (told)
        tell(outcome.error().reason);
    // A desktop action has no terminal: the desktop shows why it failed, or,
    // with no notifier installed, stderr (a session log) does.
    if (options.notify && !notifyDesktop(outcome.error().reason) && !told)
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

constexpr HelpLine kUsage[] = {
    {"Usage: tovlane [-v | -q | --print | --notify] N",
     "使い方: tovlane [-v | -q | --print | --notify] N"},
    {"  tovlane N               send entry N (0 to 9) to the SSTP server",
     "  tovlane N               エントリ N (0〜9) のスクリプトを SSTP サーバーへ送信します"},
    {"  tovlane -v N            the same, explaining each step on stderr (--verbose)",
     "  tovlane -v N            同じく送信し、各段階を標準エラーに説明します (--verbose)"},
    {"  tovlane -q N            the same, silent on a terminal too (--quiet)",
     "  tovlane -q N            同じく送信し、端末でも黙って終わります (--quiet)"},
    {"  tovlane --print N       show the request as the server will read it, without sending",
     "  tovlane --print N       送信せずに、サーバーが受け取るリクエストを表示します"},
    {"  tovlane --notify N      the same as tovlane N; a failure also shows as a desktop "
     "notification",
     "  tovlane --notify N      同じく送信し、失敗したらデスクトップ通知でも理由を示します"},
    {"  tovlane                 open the settings window",
     "  tovlane                 設定画面を開きます"},
    {"  tovlane --help, -h      show this help", "  tovlane --help, -h      この説明を表示します"},
    {"  tovlane --version       show the version",
     "  tovlane --version       バージョンを表示します"},
    {"", ""},
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
    {"  Bytes a terminal would obey (control characters, bytes that are not UTF-8)",
     "  表示すると端末を操作できてしまうバイト (制御文字や UTF-8 でないバイト) は、"},
    {"  show as their hexadecimal value between brackets: ESC as ⟦1B⟧.",
     "  ESC なら ⟦1B⟧ のように 16 進数を ⟦ ⟧ で囲んで示します。"},
    {"", ""},
    {"Exit statuses (* silent ends: the reason shows on a terminal only, never with -q,",
     "終了ステータス (* は黙って終わるもの。理由は端末でだけ表示し、-q で表示しません。"},
    {"               always with -v and --print):",
     "                -v と --print では常に表示します):"},
};

void writeHelp(LineWriter& out) {
    const bool japanese = japaneseMessages();
    for (const HelpLine& line : kUsage)
        out.line(japanese ? line.japanese : line.english);
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

// The file an entry names, if it names one. A name longer than a path can be
// is none: a long script is never widened to test it.
std::optional<std::string> fileNamedBy(const std::string& stored) {
    if (stored.size() >= PATH_MAX)
        return std::nullopt;
    std::string name = decodeFileText(stored);
    return isExistingRegularFile(name) ? std::optional(std::move(name)) : std::nullopt;
}

// Stored text in CP932, as the wire carries it: UTF-8 converted (which never
// takes more bytes), CP932 kept as it is but for bytes CP932 cannot read.
std::string storedInCp932(std::string stored) {
    if (isValidUtf8(stored))
        return encodeCp932(stored);
    repairCp932(stored);
    return stored;
}

// The script an entry stands for, in CP932: the contents of the file it
// names, or the entry text itself (also when the name stops being a regular
// file between the test and the opening).
Outcome<std::string> scriptFor(std::string entry, int index) {
    if (auto file = fileNamedBy(entry)) {
        WRText reader;
        reader.FileName = *file;
        auto script = reader.RFile();
        if (script)
            return std::move(*script);
        if (script.error().code != ErrorCode::NotRegularFile) {
            std::string reason = localized(
                "cannot read the script file {} ({}): {}",
                "スクリプトファイル {} を読み込めません（{}）: {}",
                {quoted(*file), kSettingKeys[entryKey(index)].name, script.error().reason});
            return runError({script.error().code, reason}, Ending::UnreadableScript);
        }
    }
    return storedInCp932(std::move(entry));
}

// Why an entry is empty, including that there is no settings file at all:
// the first run after installing ends here.
RunError emptyEntry(const std::string& keyName, const INIAccess& store) {
    if (!store.ReadPath.empty()) {
        return {Ending::EmptyEntry, localized("{} is empty: there is nothing to send",
                                              "{} は空なので、送るものがありません", {keyName})};
    }
    return {Ending::EmptyEntry,
            localized("{} is empty: there is nothing to send (there is no settings file {} yet; "
                      "tovlane opens the settings window)",
                      "{} は空なので、送るものがありません（設定ファイル {} はまだありません。"
                      "tovlane で設定画面を開けます）",
                      {keyName, store.FullPath()})};
}

Outcome<> runEntry(const std::string& commandLine, const Options& options) {
    const bool explain = options.verbose;  // the checks below only serve the explanation
    auto place = settingsPlace();
    if (!place)
        return place.error();
    if (explain)
        tell(whyThere(*place));
    if (std::string moved = notUsedBesideProgram(*place);
        !moved.empty() && explainsSilentEnds(options))
        tell(moved);
    // A bad number is reported after what is wrong with the settings, as it
    // always was, but known first so that only its entry is decoded.
    auto index = parseEntryIndex(commandLine, kEntryCount);
    INIAccess store = settingsStore(*place);
    auto settings = loadSettings(store, index ? *index : kEntryCount);
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
    const int key = entryKey(*index);
    const std::string keyName(kSettingKeys[key].name);
    // Moved, not copied: a long literal script is held once.
    std::string entry = std::move(settings->values[key]);
    if (entry.empty())
        return emptyEntry(keyName, store);
    if (explain) {
        auto file = fileNamedBy(entry);
        tell(file ? localized("{} is the script file {}", "{} はスクリプトファイル {} です",
                              {keyName, quoted(*file)})
                  : localized("{} is the script itself", "{} はスクリプトそのものです", {keyName}));
    }
    auto script = scriptFor(std::move(entry), *index);
    if (!script)
        return script.error();
    auto requestLine = selectedRequestLine(*settings, store);
    if (!requestLine)
        return requestLine.error();
    auto port = portNumber(*settings, store);
    if (!port)
        return port.error();
    if (options.print) {
        const std::string request = buildRequest(*requestLine, *script);
        std::string().swap(*script);  // held once while it is shown
        LineWriter out(STDOUT_FILENO);
        writeRequest(out, request);
        return finishOutput(out);
    }
    return SendScript({settings->values[kAddressKey], *port, std::string(*requestLine)},
                      std::move(*script), explain ? Trace(tell) : Trace());
}

// Outside the error values, only the system should make a run fail: no
// memory for a huge script, no file descriptor for the socket. That ends as
// one line and a status of its own, never as an abort; any other exception
// is a fault of the program, and says so.
Outcome<> sendEntry(const std::string& commandLine, const Options& options) {
    try {
        return runEntry(commandLine, options);
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
    Options options;
    const int taken = takeOptions(argc, argv, options);
    const std::string commandLine = joinArguments(argc - taken, argv + taken);
    if (commandLine == "--help" || commandLine == "-h")
        return endWith(printed(writeHelp), options);
    if (commandLine == "--version") {
        return endWith(
            printed([](LineWriter& out) { out.line(std::string("tovlane ") + kVersionText); }),
            options);
    }
    if (taken == 0 && commandLine.empty())
        return endWith(openSettings(), options);
    return endWith(sendEntry(commandLine, options), options);
}

}  // namespace tovlane
