#include "core/launcher.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/command_line.h"
#include "core/exit_status.h"
#include "core/messages.h"
#include "core/settings.h"
#include "core/sstp_request.h"
#include "core/sstp_sender.h"
#include "core/version.h"
#include "storage/file_io.h"
#include "storage/wr_text.h"

namespace tovlane {
namespace {

constexpr const char* kSettingsProgram = "tovlane-settings";

// How a run goes: sent quietly, sent explaining each step, or printed.
enum class Mode { Send, Verbose, Print };

void say(const std::string& line) {
    std::fprintf(stderr, "tovlane: %s\n", line.c_str());
}

// The one place where an error becomes what the user sees: one line on
// stderr (for the silent ends only when asked to explain) and the status.
int endWith(const Status& outcome, Mode mode) {
    if (outcome)
        return kExitAccepted;
    ErrorEnd end = errorEnd(outcome.error().code);
    if (!end.silent || mode == Mode::Verbose)
        say(outcome.error().reason);
    return end.status;
}

// The settings file's place and the keys it holds, from the key table.
std::string settingsHelp() {
    auto place = settingsPlace();
    if (!place)
        return "設定ファイル: " + place.error().reason + "\n";
    std::string help = "設定ファイル: " + settingsStore(*place).FullPath() + "\n  " + place->why +
                       "\n  セクション [" + kSettingsSection + "] のキー:\n";
    for (const SettingKey& key : kSettingKeys) {
        if (key.kind != KeyKind::Entry)
            help +=
                "    " + std::string(key.name) + " (空なら " + std::string(key.fallback) + ")\n";
    }
    help += "    " + std::string(kSettingKeys[entryKey(0)].name) + "〜" +
            std::string(kSettingKeys[entryKey(kEntryCount - 1)].name) + " (エントリ 0〜" +
            std::to_string(kEntryCount - 1) + ")\n";
    return help;
}

void printHelp() {
    std::printf(
        "使い方: tovlane [-v] [N]\n"
        "  tovlane N               エントリ N (0〜9) のスクリプトを SSTP サーバーへ送信します\n"
        "  tovlane -v N            同じく送信し、各段階を標準エラーに説明します (--verbose)\n"
        "  tovlane --print N       送信せずに、送るはずのリクエストを UTF-8 で表示します\n"
        "                          (実際の送信は Shift_JIS (CP932) です)\n"
        "  tovlane                 設定画面を開きます\n"
        "  tovlane --help          この説明を表示します\n"
        "  tovlane --version       バージョンを表示します\n"
        "\n"
        "%s"
        "  エントリはスクリプトファイルのパス、またはスクリプトそのものです。\n"
        "  相対パスは tovlane を実行したカレントディレクトリから探します。\n"
        "\n"
        "終了ステータス:\n"
        "   0  送信し、サーバーが受け付けた (2xx の応答、または応答なしで切断)\n"
        "   1  サーバーが 2xx 以外の応答を返した (例: 420 Refuse, 512 Invisible)\n"
        "   2  コマンドラインが数値ではない\n"
        "   3  コマンドラインの数値が範囲外 (-32768〜32767)\n"
        "   4  そのエントリはない (0〜9 以外)\n"
        "   5  エントリが空で、送るものがない\n"
        "   6  ProtocolID が使えない値\n"
        "   7  Port が 1〜65535 の整数ではない\n"
        "   8  スクリプトファイルを読み込めない\n"
        "   9  接続できない (拒否、ホスト名不明、切断など)\n"
        "  10  設定画面を開けない\n"
        "  11  設定ファイルがあるのに読み込めない (ディレクトリ、FIFO、権限など)\n"
        "  12  メモリやファイル記述子が足りない\n",
        settingsHelp().c_str());
}

// The script an entry stands for: the contents of the file it names, or the
// entry text itself (also when the name stops being a regular file between
// the test and the opening).
Result<std::string> scriptFor(std::string entry, int index) {
    if (!isExistingRegularFile(entry))
        return entry;
    WRText reader;
    reader.FileName = entry;
    auto script = reader.RFile();
    if (!script && script.error().code == ErrorCode::NotRegularFile)
        return entry;
    if (!script) {
        return Error{ErrorCode::UnreadableScript,
                     "スクリプトファイル " + quoted(entry) + " を読み込めません（" +
                         std::string(kSettingKeys[entryKey(index)].name) +
                         "）: " + script.error().reason};
    }
    return script;
}

Status runEntry(const std::string& commandLine, Mode mode) {
    const bool explain = mode == Mode::Verbose;  // the checks below only serve the explanation
    auto place = settingsPlace();
    if (!place)
        return place.error();
    if (explain)
        say(place->why);
    // A bad number is reported after what is wrong with the settings, as it
    // always was, but known first so that only its entry is decoded.
    auto index = parseEntryIndex(commandLine, kEntryCount);
    INIAccess store = settingsStore(*place);
    auto settings = loadSettings(store, index ? *index : kEntryCount);
    if (!settings)
        return settings.error();
    if (explain) {
        say(store.ReadPath.empty()
                ? "設定ファイル " + store.FullPath() + " はありません。既定値を使います"
                : "設定ファイル " + store.ReadPath + " を読み込みました");
    }
    if (!index)
        return index.error();
    const int key = entryKey(*index);
    const std::string keyName(kSettingKeys[key].name);
    // Moved, not copied: a long literal script is held once.
    std::string entry = std::move(settings->values[key]);
    if (entry.empty())
        return Error{ErrorCode::EmptyEntry, keyName + " は空なので、送るものがありません"};
    if (explain) {
        say(isExistingRegularFile(entry)
                ? keyName + " はスクリプトファイル " + quoted(entry) + " です"
                : keyName + " はスクリプトそのものです");
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
    if (mode == Mode::Print) {
        std::fputs(requestText(*requestLine, *script).c_str(), stdout);
        return {};
    }
    return SendScript({settings->values[kAddressKey], *port, std::string(*requestLine)},
                      std::move(*script), explain ? Trace(say) : Trace());
}

// Only the system can make a run fail outside the error values: no memory
// for a huge script, no file descriptor for the socket. That ends as one
// line and a status of its own, never as an abort.
Status sendEntry(const std::string& commandLine, Mode mode) {
    try {
        return runEntry(commandLine, mode);
    } catch (const std::exception& error) {
        return Error{ErrorCode::SystemFailure,
                     std::string("システムの資源が足りません: ") + error.what()};
    }
}

// The window lives in its own program so that send mode never loads Qt; it
// replaces this process, so the user still sees one command.
int openSettings() {
    auto directory = executableDirectory();
    if (!directory)
        return endWith(directory.error(), Mode::Send);
    std::string program = joinPath(*directory, kSettingsProgram);
    const char* argv[] = {kSettingsProgram, nullptr};
    ::execv(program.c_str(), const_cast<char* const*>(argv));
    std::fprintf(stderr, "tovlane: 設定画面 %s を開けません: %s\n", quoted(program).c_str(),
                 std::strerror(errno));
    return kExitSettingsUnavailable;
}

}  // namespace

int runLauncher(int argc, const char* const* argv) {
    const std::string first = argc > 1 ? argv[1] : "";
    Mode mode = (first == "-v" || first == "--verbose") ? Mode::Verbose
                : first == "--print"                    ? Mode::Print
                                                        : Mode::Send;
    if (mode != Mode::Send)
        return endWith(sendEntry(joinArguments(argc - 1, argv + 1), mode), mode);
    const std::string commandLine = joinArguments(argc, argv);
    if (commandLine == "--help" || commandLine == "-h") {
        printHelp();
        return 0;
    }
    if (commandLine == "--version") {
        std::printf("tovlane %s\n", kVersionText);
        return 0;
    }
    if (commandLine.empty())
        return openSettings();
    return endWith(sendEntry(commandLine, mode), mode);
}

}  // namespace tovlane
