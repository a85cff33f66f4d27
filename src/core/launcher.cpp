#include "core/launcher.h"

#include <unistd.h>

#include <asio/io_context.hpp>
#include <cerrno>
#include <cstdio>
#include <string>

#include "core/command_line.h"
#include "core/exit_status.h"
#include "core/sstp_sender.h"
#include "core/startup.h"
#include "core/version.h"
#include "storage/file_io.h"
#include "storage/wr_text.h"

namespace tovlane {
namespace {

constexpr const char* kSettingsProgram = "tovlane-settings";

int fail(ExitStatus status, const std::string& message) {
    std::fprintf(stderr, "tovlane: %s\n", message.c_str());
    return status;
}

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

void printHelp() {
    INIAccess settings;
    settings.FileName = kSettingsFileName;
    std::printf(
        "使い方: tovlane [N]\n"
        "  tovlane N          エントリ N (0〜9) のスクリプトを SSTP サーバーへ送信します\n"
        "  tovlane            設定画面を開きます\n"
        "  tovlane --help     この説明を表示します\n"
        "  tovlane --version  バージョンを表示します\n"
        "\n"
        "設定ファイル: %s\n"
        "  セクション [Tovlane Setting] のキー Address, Port, ProtocolID, AlarmFile0〜AlarmFile9\n"
        "  エントリはスクリプトファイルのパス、またはスクリプトそのものです。\n"
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
        "  10  設定画面を開けない\n",
        settings.FullPath().c_str());
}

int failEntryIndex(const EntryIndex& index, const std::string& commandLine) {
    switch (index.problem) {
        case IndexProblem::NotANumber:
            return fail(kExitNotANumber,
                        "コマンドライン " + quoted(commandLine) + " は数値ではありません");
        case IndexProblem::OutOfRange:
            return fail(kExitOutOfRange,
                        "コマンドライン " + quoted(commandLine) + " は範囲外です（-32768〜32767）");
        default:
            return fail(kExitNoSuchEntry, "コマンドライン " + quoted(commandLine) + " のエントリ " +
                                              std::to_string(index.value) +
                                              " はありません（0〜9 を指定してください）");
    }
}

// The script an entry stands for: the contents of the file it names, or the
// entry text itself.
std::string scriptFor(const std::string& entry) {
    if (!isExistingRegularFile(entry))
        return entry;
    WRText reader;
    reader.FileName = entry;
    return reader.RFile();
}

int sendEntry(const std::string& commandLine) {
    INIAccess ini;
    Startup startup = loadStartup(ini);
    if (!startup.error.empty())
        return fail(kExitBadProtocolId, startup.error);
    const FormFields& fields = startup.fields;

    EntryIndex index = parseEntryIndex(commandLine);
    if (index.problem != IndexProblem::None)
        return failEntryIndex(index, commandLine);
    const std::string& entry = fields.entries[index.value];
    if (entry.empty())
        return kExitEmptyEntry;

    std::string script;
    try {
        script = scriptFor(entry);
    } catch (const FileAccessError& error) {
        return fail(kExitUnreadableScript, "スクリプトファイル " + quoted(error.Path) +
                                               " を読み込めません（" + alarmFileKey(index.value) +
                                               "）: " + error.Reason);
    }
    if (fields.protocolIndex < 0) {
        return fail(kExitBadProtocolId, ini.FullPath() +
                                            " の ProtocolID \"-1\" ではリクエスト行が" +
                                            "選ばれていないため送信できません");
    }
    auto port = parsePort(fields.port);
    if (!port) {
        return fail(kExitBadPort, ini.FullPath() + " の Port " + quoted(fields.port) +
                                      " は 1〜65535 の整数ではありません");
    }

    asio::io_context io;
    SstpSender sender(io,
                      {fields.address, *port, std::string(kRequestLines[fields.protocolIndex])});
    sender.SendScript(script, true);
    io.run();
    switch (sender.outcome()) {
        case SendOutcome::Accepted:
            return kExitAccepted;
        case SendOutcome::Refused:
            return kExitRefusedByServer;
        default:
            return kExitConnectionFailed;
    }
}

// The window lives in its own program so that send mode never loads Qt; it
// replaces this process, so the user still sees one command.
int openSettings() {
    std::string program = joinPath(executableDirectory(), kSettingsProgram);
    const char* argv[] = {kSettingsProgram, nullptr};
    ::execv(program.c_str(), const_cast<char* const*>(argv));
    return fail(kExitSettingsUnavailable,
                "設定画面 " + quoted(program) + " を開けません: " + systemReason(errno));
}

}  // namespace

int runLauncher(int argc, const char* const* argv) {
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
    return sendEntry(commandLine);
}

}  // namespace tovlane
