#pragma once

#include <array>
#include <exception>
#include <string>
#include <string_view>

#include "storage/result.h"

namespace tovlane {

// Every way a run can end. Scripts and hotkey tools rely on the numbers.
enum class Ending {
    Accepted,             // request written and accepted by the server
    RefusedByServer,      // the server answered with a non-2xx status
    BadCommandLine,       // not a number, an unknown option, a missing value, two entries...
    OutOfRange,           // the number does not fit in 16 bits
    NoSuchEntry,          // the number is not an entry 0 to 9
    EmptyEntry,           // the chosen entry is empty: nothing to send
    BadProtocolId,        // "ProtocolID" is not a usable request line
    BadPort,              // "Port" is not a whole number 1 to 65535
    UnreadableScript,     // the script file exists but cannot be read
    ConnectionFailed,     // refused, host not found, reset, ...
    SettingsUnavailable,  // the settings window cannot be opened
    SettingsUnreadable,   // Tovlane.ini exists but cannot be read as a file
    SystemFailure,        // the system refused memory, a file descriptor or a process
    OutputUnwritable,     // what was asked for could not be written to stdout
    TimedOut,             // the time limit of --timeout ran out
    InternalError,        // a fault of the program's own
};

struct EndingRow {
    Ending ending;
    int status;
    // Silent ends are no fault of the user's input: a run from a hotkey or
    // cron stays quiet about them, a terminal is told.
    bool silent;
    std::string_view english;  // the line --help shows beside the status
    std::string_view japanese;
};

// The one list of endings: --help prints it, the README and the manual pages
// repeat it (a test keeps them in step).
inline constexpr auto kEndings = std::to_array<EndingRow>({
    {Ending::Accepted, 0, false,
     "sent, and the server accepted it (a 2xx reply, or a close without one)",
     "送信し、サーバーが受け付けた (2xx の応答、または応答なしで切断)"},
    {Ending::RefusedByServer, 1, true,
     "the server answered with another status (e.g. 420 Refuse, 512 Invisible)",
     "サーバーが 2xx 以外の応答を返した (例: 420 Refuse, 512 Invisible)"},
    {Ending::BadCommandLine, 2, false,
     "the command line cannot be used (not a number, an unknown option, a missing value, ...)",
     "コマンドラインが使えない (数値でない、不明なオプション、値がないなど)"},
    {Ending::OutOfRange, 3, false, "the number is out of range (-32768 to 32767)",
     "コマンドラインの数値が範囲外 (-32768〜32767)"},
    {Ending::NoSuchEntry, 4, false, "there is no such entry (not 0 to 9)",
     "そのエントリはない (0〜9 以外)"},
    {Ending::EmptyEntry, 5, true, "the entry is empty: nothing to send",
     "エントリが空で、送るものがない"},
    {Ending::BadProtocolId, 6, false, "ProtocolID cannot be used", "ProtocolID が使えない値"},
    {Ending::BadPort, 7, false, "Port is not a whole number from 1 to 65535",
     "Port が 1〜65535 の整数ではない"},
    {Ending::UnreadableScript, 8, false, "the script file cannot be read",
     "スクリプトファイルを読み込めない"},
    {Ending::ConnectionFailed, 9, true, "no connection (refused, host not found, reset, ...)",
     "接続できない (拒否、ホスト名不明、切断など)"},
    {Ending::SettingsUnavailable, 10, false, "the settings window cannot be opened",
     "設定画面を開けない"},
    {Ending::SettingsUnreadable, 11, false,
     "the settings file exists but cannot be read (a folder, a FIFO, permissions, too large, ...)",
     "設定ファイルがあるのに読み込めない (ディレクトリ、FIFO、権限、大きすぎるなど)"},
    {Ending::SystemFailure, 12, false,
     "the system ran short of memory, file descriptors or processes",
     "メモリ、ファイル記述子、プロセスが足りない"},
    {Ending::OutputUnwritable, 13, false,
     "stdout cannot be written (--print, --help, --version into a full disk, a closed stdout, ...)",
     "標準出力に書き込めない (--print, --help, --version の出力先がいっぱい、閉じているなど)"},
    {Ending::TimedOut, 14, true, "the time limit of --timeout ran out (the step is named)",
     "--timeout の制限時間が過ぎた (どの段階かを示す)"},
    {Ending::InternalError, 70, false, "a fault of the program's own: please report it",
     "プログラム自身の不具合 (報告してください)"},
});

// Whether a table lists every value of its enum once, in order, so that a
// value finds its row by index: key gives a row's value.
template <typename Table, typename Key>
constexpr bool inEnumOrder(const Table& table, Key key) {
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (static_cast<std::size_t>(key(table[i])) != i)
            return false;
    }
    return true;
}
static_assert(inEnumOrder(kEndings, [](const EndingRow& row) { return row.ending; }),
              "kEndings lists every Ending once, in order");

constexpr const EndingRow& endingRow(Ending ending) {
    return kEndings[static_cast<std::size_t>(ending)];
}

// A run's failure: how it ends and the line that says why.
using RunError = Failure<Ending>;
template <typename T = std::monostate>
using Outcome = Result<T, RunError>;

// Why the system ran short, for an exception that says it did (no memory, no
// file descriptor, no thread or process left); "" for any other, which is a
// fault of the program.
std::string shortageOf(const std::exception& error);

// An exception that reached the top of a program, as the run ends on it:
// SystemFailure with its sentence when the system ran short, else
// InternalError naming it.
RunError endingOf(const std::exception& error);

// A storage failure as a run ends on it, with its reason: the system running
// short is the system's failure whatever the step; anything else ends as
// `otherwise`.
RunError runError(Error error, Ending otherwise);

}  // namespace tovlane
