// The real tovlane binary, installed with its Tovlane.ini in a fresh
// directory, run from another one and sending to the stand-in SSTP server.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <stdio.h>

#include <gtest/gtest.h>
#include <atomic>
#include <future>
#include <optional>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace tovlane::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr bool kSanitized = TOVLANE_SANITIZED;

// Words split at spaces: the rows' own commands and options, which hold no
// path (those are whole arguments of their own, wherever the build tree is).
std::vector<std::string> words(const std::string& text) {
    std::istringstream split(text);
    std::vector<std::string> found;
    for (std::string word; std::getline(split, word, ' ');) {
        if (!word.empty())  // a CR stays in its word
            found.push_back(word);
    }
    return found;
}

std::vector<std::string> command(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> argv;
    for (const auto& part : parts)
        argv.insert(argv.end(), part.begin(), part.end());
    return argv;
}

// A program with its output going to files of its own; killed on
// destruction if it still runs. env(1) sets its directory and environment.
class Process {
  public:
    explicit Process(std::vector<std::string> argv) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output_.file("out").c_str(),
                                         O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, output_.file("err").c_str(),
                                         O_WRONLY | O_CREAT, 0600);
        // Nothing the test runner holds open: the rows count descriptors.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        std::vector<char*> args(argv.size() + 1);  // ends with a null pointer
        std::transform(argv.begin(), argv.end(), args.begin(),
                       [](auto& arg) { return arg.data(); });
        int rc = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0)
            throw std::runtime_error("cannot start " + argv[0]);
        exit_ = std::async(std::launch::async, [pid = pid_] {
            int status = 0;
            ::waitpid(pid, &status, 0);
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        });
    }
    ~Process() {
        if (wait(0ms) == -2)
            ::kill(pid_, SIGKILL);
    }

    // The exit status, -1 after a signal, or -2 while it still runs at the
    // end of the timeout.
    int wait(std::chrono::milliseconds timeout = 20s) {
        return exit_.wait_for(timeout) == std::future_status::ready ? exit_.get() : -2;
    }
    std::string out() const { return readFile(output_.file("out")); }
    std::string err() const { return readFile(output_.file("err")); }

  private:
    TempDir output_;
    pid_t pid_ = -1;
    std::shared_future<int> exit_;
};

const std::string kIni = "%INI%";    // stands for the settings file's path
const std::string kDir = "%DIR%";    // stands for the test's directory
const std::string kPort = "%PORT%";  // stands for the server's port

class SendMode : public ::testing::Test {
  protected:
    // Open to every user, like an install only root can write; the current
    // directory holds a settings file that must never be read.
    void SetUp() override {
        std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
        for (const char* folder : {"bin", "home/.config/tovlane", "shared/tovlane"})
            std::filesystem::create_directories(dir.file(folder));
        std::filesystem::copy_file(TOVLANE_BIN, program());
        writeFile(dir.file("Tovlane.ini"), "[Tovlane Setting]\nAlarmFile0=decoy\n");
        writeFile(dir.file("home/.config/tovlane/Tovlane.ini"),
                  "[Tovlane Setting]\nAlarmFile0=own\n");
        if (cannotActAsAnotherUser().empty())
            plantAnotherUsersFiles();
        writeFile(dir.file("hide-proc"), "mount -t tmpfs none /proc && exec \"$@\"\n");
        writeFile(dir.file("on-terminal"), "exec /usr/bin/script -qec \"$*\" /dev/null\n");
        writeFile(dir.file("to-full"), "exec \"$@\" >/dev/full\n");
        writeFile(dir.file("big-entry"),
                  "{ printf '[Tovlane Setting]\\nAlarmFile0='; head -c "
                  "60000000 /dev/zero | tr '\\0' a; } >\"$1\"\n");
        writeFile(dir.file("closed-stdout"), "exec \"$@\" >&-\n");
        writeFile(dir.file("piped"), "printf '%s\\r\\n%s\\n' '\\h\\s[0]pi' ped | exec \"$@\"\n");
        writeFile(dir.file("from-folder"), "exec \"$@\" <\"${0%/*}\"\n");
        writeFile(dir.file("from-zeros"), "exec \"$@\" </dev/zero\n");
        writeFile(dir.file("from-closed"), "exec \"$@\" <&-\n");
        writeFile(dir.file("piped-long"), "head -c 1500000 /dev/zero | tr '\\0' a | exec \"$@\"\n");
        // stdout (FD=1) or stderr (FD=2) a pipe whose reader is gone.
        writeFile(dir.file("broken-pipe"),
                  "mkfifo \"$0.fifo\" && exec 3<>\"$0.fifo\" 4>\"$0.fifo\" 3<&- && rm \"$0.fifo\"\n"
                  "eval \"exec \\\"\\$@\\\" $FD>&4 4>&-\"\n");
    }

    // Nobody (65534) gets a folder of their own; another user (65533) plants
    // a link at it, and a program in a folder every user may write with a
    // settings file and a lock file of theirs beside it.
    void plantAnotherUsersFiles() {
        ASSERT_EQ(::chown(dir.file("home/.config/tovlane").c_str(), 65534, 65534), 0);
        std::filesystem::create_directory(dir.file("sticky"));
        std::filesystem::permissions(dir.file("sticky"), std::filesystem::perms(01777));
        std::filesystem::copy_file(TOVLANE_BIN, dir.file("sticky/tovlane"));
        writeFile(dir.file("sticky/Tovlane.ini"), "[Tovlane Setting]\nAlarmFile0=planted\n");
        writeFile(dir.file("sticky/.Tovlane.ini.lock"), "");
        std::filesystem::create_directory_symlink(dir.file("home/.config"),
                                                  dir.file("foreign-config"));
        for (const char* theirs :
             {"sticky/Tovlane.ini", "sticky/.Tovlane.ini.lock", "foreign-config"})
            ASSERT_EQ(::lchown(dir.file(theirs).c_str(), 65533, 65533), 0);
        writeFile(
            dir.file("foreign-link"),
            "ln -s \"${0%/*}/home/.config/tovlane/Tovlane.ini\" \"$1\" && chown -h 65533 \"$1\"\n");
    }

    std::string program(const std::string& folder = "bin") const {
        return dir.file(folder + "/tovlane");
    }
    std::string settingsPath() const { return dir.file("bin/Tovlane.ini"); }

    // Starts the stand-in server and returns its port.
    int startServer(const char* options) {
        server = std::make_unique<Process>(command(
            {{STANDIN_BIN, "--port", "0", "--count", "1", "--quiet", "--raw", dir.file("received")},
             words(options)}));
        for (int i = 0; i < 1000 && server->out().find('\n') == std::string::npos; ++i)
            std::this_thread::sleep_for(5ms);
        std::string line = server->out();  // "listening on ADDRESS port N"
        return std::stoi(line.substr(line.rfind(' ') + 1));
    }

    // tovlane with these arguments, from a directory that is not its own,
    // started through wrapper if given.
    std::unique_ptr<Process> run(const std::string& args, const std::string& wrapper = "",
                                 const std::string& folder = "bin") {
        return std::make_unique<Process>(
            command({{"/usr/bin/env", "-C", dir.path(), "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY"},
                     words(wrapper),
                     {program(folder)},
                     words(args)}));
    }

    // A row's text with the settings file's path and the test directory in place.
    std::string expand(std::string text, int port = 0) const {
        for (auto [name, value] :
             {std::pair{kIni, settingsPath()}, {kDir, dir.path()}, {kPort, std::to_string(port)}}) {
            for (std::size_t at; (at = text.find(name)) != std::string::npos;)
                text.replace(at, name.size(), value);
        }
        return text;
    }

    TempDir dir;
    std::unique_ptr<Process> server;
};

constexpr const char* kNothingListens = nullptr;  // the server column: port 1, closed

// How a row's run is set up.
struct Setup {
    const char* server = kNothingListens;  // the stand-in's options
    const char* settingsFile = "";         // a command that puts something else in its place
    std::string wrapper = "";              // a command that starts tovlane
    const char* program = "bin";           // the folder of the tovlane run
    bool otherUser = false;                // needs another user's files, planted by root
};

// What a row's run must give.
struct Expect {
    int status = 0;
    bool hangs = false;      // still waiting after a second: the status is not checked
    std::string err = "";    // stderr's one line without "tovlane: "; "" for silence
    bool errIsPart = false;  // err is only a part of stderr, lines of what -v explains
    std::optional<std::string> script = {};  // the Script header on the wire, in CP932
    std::string out = "";                    // all of stdout
};

struct Row {
    const char* name;
    std::string keys;  // lines before "AlarmFile0=x" and the server's Port; the first one counts
    const char* args;  // %PORT% stands for the server's port, here and in the keys and err
    Setup setup;
    Expect expect;
};

// Rows that take /proc, address space or descriptors away run in the plain
// build only: a sanitized program's runtime needs all three for itself.
const std::string kLimited = "/usr/bin/prlimit";
// /proc hidden.
const std::string kWithoutProc =
    "/usr/bin/unshare -m --propagation private /bin/sh %DIR%/hide-proc";
// Another user, with an environment of theirs.
const std::string kNobody =
    "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/env ";
// stdout and stderr on a terminal, which script(1) copies to stdout with CR LF.
const std::string kOnTerminal = "/bin/sh %DIR%/on-terminal";
const std::string kToFullDisk = "/bin/sh %DIR%/to-full";
const std::string kBrokenPipe = "/usr/bin/env FD=", kPipe = "/bin/sh %DIR%/broken-pipe";
// Room for the program, not for a 200 MB script.
const std::string kLittleMemory = kLimited + " --as=100000000";
std::string printed(const std::string& script) {
    return "SEND SSTP/1.1\nSender: Tovlane\nScript: " + script + "\\e\nCharset: Shift_JIS\n\n";
}
const std::string kEmpty1 = "エントリ 1 は空なので、送るものがありません";

// clang-format off
const Row kRows[] = {
    {"literal", "AlarmFile3=\\h\\s[0]Hi.\\e", "3", {"--mode reply"}, {.script = "\\h\\s[0]Hi.\\e"}},
    {"file, relative to the current directory", "AlarmFile0=hello.txt", "0", {"--mode reply"},
     {.script = "\\h\\s[0]\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\\e"}},
    {"Japanese to a host name", "AlarmFile5=\\0あいう〜😀\nAddress=localhost", "5", {"--mode reply"},
     {.script = "\\0\x82\xa0\x82\xa2\x82\xa4\x81\x60?"}},
    {"CP932 as it is", "AlarmFile0=sjis.txt", "0", {"--mode reply"}, {.script = "\x87\x90\x81\xe0?\xb1"}},
    {"IPv6", "Address=::1", "0", {"--bind ::1"}, {.script = "x"}},
    {"a Port written as a whole number", "Port= +%PORT%.00 ", "0", {"--mode reply"}, {.script = "x"}},
    {"a word", "", "abc", {},
     {.status = 2, .err = "コマンドライン \"abc\" は数値ではありません（使い方は tovlane --help）"}},
    {"16 bits", "", "99999", {}, {.status = 3, .err = "コマンドライン \"99999\" は範囲外です（-32768〜32767）"}},
    {"no entry 10", "", "10", {},
     {.status = 4, .err = "コマンドライン \"10\" のエントリ 10 はありません（0〜9 を指定してください）"}},
    {"empty entry", "", "1", {}, {.status = 5}},
    {"ProtocolID abc", "ProtocolID=abc", "0", {},
     {.status = 6, .err = kIni + " の ProtocolID \"abc\" は使用できません（0 または -1 を指定してください）"}},
    {"ProtocolID -0.5, as written", "ProtocolID=-0.5", "0", {},
     {.status = 6, .err = kIni + " の ProtocolID \"-0.5\" ではリクエスト行が選ばれていないため送信できません"}},
    {"ProtocolID -1, empty entry", "ProtocolID=-1\nAlarmFile0=", "0", {}, {.status = 5}},
    {"Port http", "Port=http", "0", {},
     {.status = 7, .err = kIni + " の Port \"http\" は 1〜65535 の整数ではありません"}},
    {"a Port that would clear the terminal or hide text", "Port=\x1b[2J\xc2\x9b\u200b\ufeff", "0", {},
     {.status = 7,
      .err = kIni + " の Port \"⟦1B⟧[2J⟦C2 9B⟧⟦E2 80 8B⟧⟦EF BB BF⟧\" は 1〜65535 の整数ではありません"}},
    {"unreadable file", "AlarmFile0=/proc/self/mem", "0", {},
     {.status = 8, .err = "エントリ 0 のスクリプトファイル \"/proc/self/mem\" を読み込めません: Input/output error"}},
    {"a script file that never ends", "AlarmFile0=/proc/self/pagemap", "0", {},
     {.status = 8, .err = "エントリ 0 のスクリプトファイル \"/proc/self/pagemap\" を読み込めません: "
                "読み込むあいだも大きくなり続けています"}},
    {"refused", "", "0", {}, {.status = 9}},
    {"unknown host", "Address=no-such-host.invalid", "0", {}, {.status = 9}},
    {"answers, stays open", "", "0", {"--mode keep-open"}, {.script = "x"}},
    {"closes, no answer", "", "0", {"--mode close"}, {.script = "x"}},
    {"299", "", "0", {"--status 299"}, {.script = "x"}},
    {"100", "", "0", {"--status 100"}, {.status = 1, .script = "x"}},
    {"never answers", "", "0", {"--mode silent"}, {.hangs = true, .script = "x"}},
    {"420 without a line end", "", "0", {"--status 420 --unterminated"}, {.status = 1, .script = "x"}},
    // A reset after the whole status line keeps the verdict; before its end it is no reply.
    {"200, then a reset", "", "0", {"--status-only --reset"}, {.script = "x"}},
    {"420, then a reset", "", "-v 0", {"--status 420 --status-only --reset"},
     {.status = 1, .err = "サーバーの応答: SSTP/1.1 420 Refuse\ntovlane: サーバーが受け付けませんでした",
      .errIsPart = true, .script = "x"}},
    {"a reset inside the status line", "", "0", {"--unterminated --reset"}, {.status = 9, .script = "x"}},
    {"a NUL ends the value", "AlarmFile0=abc\0def"s, "0", {"--mode reply"}, {.script = "abc"}},
    {"settings are a FIFO", "", "0", {.settingsFile = "/usr/bin/mkfifo"},
     {.status = 11, .err = kIni + " を読み込めません: 通常のファイルではありません"}},
    {"settings are a link loop", "", "0", {.settingsFile = "/usr/bin/ln -s Tovlane.ini"},
     {.status = 11, .err = kIni + " を読み込めません: Too many levels of symbolic links"}},
    {"no descriptor for the socket", "", "0", {.wrapper = kLimited + " --nofile=5:5"},
     {.status = 12, .err = "127.0.0.1 ポート 1 に接続できません: Too many open files"}},
    {"no memory for the script", "AlarmFile0=big.txt", "0", {.wrapper = kLittleMemory},
     {.status = 12, .err = "エントリ 0 のスクリプトファイル \"big.txt\" を読み込めません: "
                           "読み込むメモリが足りません（200000000 バイト）"}},
    {"no memory for a literal entry", "", "0",
     {.settingsFile = "/bin/sh %DIR%/big-entry", .wrapper = kLittleMemory},
     {.status = 12, .err = "メモリが足りません"}},
    {"version", "", "--version", {}, {.out = "tovlane 0.11.9\n"}},
    {"help, stdout closed", "", "--help", {.wrapper = "/bin/sh %DIR%/closed-stdout"},
     {.status = 13, .err = "標準出力に書き込めません: Bad file descriptor"}},
    {"no descriptor for the hosts file", "Address=localhost", "0",
     {.wrapper = kLimited + " --nofile=5:5"},
     {.status = 12,
      .err = "localhost ポート 1 に接続できません: ホスト名が見つかりません（ファイル記述子が足りません）"}},
    {"print into a pipe nobody reads", "", "--print 0", {.wrapper = kBrokenPipe + "1 " + kPipe},
     {.status = 13, .err = "標準出力に書き込めません: Broken pipe"}},
    {"nobody reads the explanation: the script still goes", "", "-v 0",
     {.server = "--mode reply", .wrapper = kBrokenPipe + "2 " + kPipe}, {.script = "x"}},
    // Messages follow LC_ALL, then LC_MESSAGES, then LANG: English unless Japanese.
    {"in English", "", "abc", {.wrapper = "/usr/bin/env LANG=C.UTF-8"},
     {.status = 2, .err = "the command line \"abc\" is not a number (see tovlane --help)"}},
    {"LC_ALL before LANG", "Port=http", "0", {.wrapper = "/usr/bin/env LC_ALL=C"},
     {.status = 7, .err = "Port \"http\" in " + kIni + " is not a whole number from 1 to 65535"}},
    {"explained in English", "", "-v 0", {.wrapper = "/usr/bin/env LANG=C LC_MESSAGES=en_GB"},
     {.status = 9,
      .err = "connecting to the address 127.0.0.1\ntovlane: cannot connect to 127.0.0.1 port 1: Connection refused\n",
      .errIsPart = true}},
    {"print into a full disk", "", "--print 0", {.wrapper = kToFullDisk},
     {.status = 13, .err = "標準出力に書き込めません: No space left on device"}},
    // What a CP932 server reads: ～ for 〜, the ? sent, bytes a terminal would obey escaped.
    {"print", "AlarmFile0=あ〜😀\x1b]0;x\a\\e", "--print 0", {},
     {.out = printed("あ～?⟦1B⟧]0;x⟦07⟧\\e")}},
    {"print: a NUL in a file", "AlarmFile0=nul.txt", "--print 0", {}, {.out = printed("a⟦00⟧b")}},
    {"print: no settings file yet", "", "--print 0", {.settingsFile = "/usr/bin/true"},
     {.status = 5, .err = "エントリ 0 は空なので、送るものがありません（設定ファイル " + kIni +
                " はまだありません。tovlane で設定画面を開けます）"}},
    {"on a terminal, a silent end says why", "", "1", {.wrapper = kOnTerminal},
     {.status = 5, .out = "tovlane: " + kEmpty1 + "\r\n"}},
    {"on a terminal, -q keeps quiet", "", "-q 1", {.wrapper = kOnTerminal}, {.status = 5}},
    {"no /proc: still the file beside the program", "", "--print 0", {.wrapper = kWithoutProc},
     {.out = printed("x")}},
    // Another user cannot write the program's folder: their own file, or the machine's.
    {"a user's own settings", "", "--print 0",
     {.wrapper = kNobody + "XDG_CONFIG_HOME=%DIR%/home/.config HOME=/nonexistent"},
     {.out = printed("own")}},
    {"no HOME: the password entry's home", "", "--print 0",
     {.wrapper = kNobody + "-u XDG_CONFIG_HOME -u HOME"}, {.out = printed("x")}},
    {"a settings folder someone else made", "", "0",
     {.wrapper = kNobody + "XDG_CONFIG_HOME=%DIR%/shared"},
     {.status = 11, .err = "フォルダー %DIR%/shared/tovlane はほかのユーザーのものなので使えません"}},
    // The grammar: options anywhere, combined, ended by "--"; a number is an entry.
    {"an option after the entry", "AlarmFile3=three", "3 -v", {"--mode reply"},
     {.err = "エントリ 3 はスクリプトそのものです（" + kIni + " の AlarmFile3）", .errIsPart = true,
      .script = "three"}},
    {"options combined, the later wins", "", "-vq 1", {.wrapper = kOnTerminal}, {.status = 5}},
    {"-- ends the options", "AlarmFile3=three", "-- 3", {"--mode reply"}, {.script = "three"}},
    {"an unknown option", "", "--foo 0", {},
     {.status = 2, .err = "オプション \"--foo\" はありません（使い方は tovlane --help）"}},
    {"an option without its value", "", "0 --port", {},
     {.status = 2, .err = "オプション --port には値 N が必要です（使い方は tovlane --help）"}},
    {"two entries", "", "-q 3 4", {},
     {.status = 2, .err = "エントリが \"3\" と \"4\" の 2 つあります。1 つにしてください（使い方は tovlane --help）"}},
    {"a negative number is an entry", "", "-1", {},
     {.status = 4, .err = "コマンドライン \"-1\" のエントリ -1 はありません（0〜9 を指定してください）"}},
    // One-off scripts go to the settings' destination; --script is never a path.
    {"--script", "", "--script=hello.txt", {"--mode reply"}, {.script = "hello.txt"}},
    {"--file", "", "--file hello.txt", {"--mode reply"},
     {.script = "\\h\\s[0]\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\\e"}},
    {"--file that is missing", "", "--file missing.txt", {},
     {.status = 8, .err = "--file のスクリプトファイル \"missing.txt\" を読み込めません: No such file or directory"}},
    {"a script piped in", "", "-", {.server = "--mode reply", .wrapper = "/bin/sh %DIR%/piped"},
     {.script = "\\h\\s[0]piped"}},
    {"standard input empty", "", "--print -", {},
     {.status = 5, .err = "標準入力にスクリプトがないので、送るものがありません"}},
    {"standard input a folder", "", "-", {.wrapper = "/bin/sh %DIR%/from-folder"},
     {.status = 8, .err = "標準入力からスクリプトを読めません: Is a directory"}},
    {"standard input that never ends", "", "-", {.wrapper = "/bin/sh %DIR%/from-zeros"},
     {.status = 8, .err = "標準入力からスクリプトを読めません: 256 MiB を超えています"}},
    {"standard input closed", "", "--print -", {.wrapper = "/bin/sh %DIR%/from-closed"},
     {.status = 5, .err = "標準入力にスクリプトがないので、送るものがありません"}},
    // On a terminal it says it is reading; here the terminal ends at once.
    {"standard input a terminal", "", "-", {.wrapper = kOnTerminal},
     {.status = 5, .out = "tovlane: 端末からスクリプトを読みます。Ctrl-D で終えてください\r\ntovlane: "
                          "標準入力にスクリプトがないので、送るものがありません\r\n"}},
    {"a piped script of many pieces", "", "--print -", {.wrapper = "/bin/sh %DIR%/piped-long"},
     {.out = printed(std::string(1500000, 'a'))}},
    // A destination for this run, checked as the settings' is.
    {"--port for this run", "Port=1", "--port %PORT% 0", {"--mode reply"}, {.script = "x"}},
    {"--address and --port", "Port=1", "--address ::1 --port=%PORT% 0", {"--bind ::1"}, {.script = "x"}},
    {"--port checked as Port is", "", "--port \x1b[2J 0", {},
     {.status = 7, .err = "--port \"⟦1B⟧[2J\" は 1〜65535 の整数ではありません"}},
    // A time limit, whose end names the step; a verdict that came before it stands.
    {"no answer within --timeout", "", "-v --timeout 0.2 0", {"--mode silent"},
     {.status = 14, .err = "127.0.0.1 ポート %PORT% の応答を待つうちに時間切れになりました",
      .errIsPart = true, .script = "x"}},
    {"a verdict before the time limit", "", "--timeout=0.2 0", {"--status 420 --status-only --mode keep-open"},
     {.status = 1, .script = "x"}},
    {"--timeout 0", "", "--timeout 0 0", {},
     {.status = 2, .err = "--timeout \"0\" は 0 より大きく 1 年以下の秒数ではありません（使い方は tovlane --help）"}},
    // Nothing another user can plant reaches a run: their links, a program folder they may write.
    {"another user's link at the settings file", "", "0",
     {.settingsFile = "/bin/sh %DIR%/foreign-link", .otherUser = true},
     {.status = 11, .err = kIni + " はほかのユーザーのシンボリックリンクなので、たどりません"}},
    {"another user's link as XDG_CONFIG_HOME", "", "0",
     {.wrapper = kNobody + "XDG_CONFIG_HOME=%DIR%/foreign-config HOME=/nonexistent"},
     {.status = 11, .err = "%DIR%/foreign-config はほかのユーザーのシンボリックリンクなので、たどりません"}},
    {"a program folder every user may write", "", "-v --print 0",
     {.wrapper = kNobody + "XDG_CONFIG_HOME=%DIR%/home/.config HOME=/nonexistent", .program = "sticky"},
     {.err = "%DIR%/sticky/Tovlane.ini は使いません: フォルダー %DIR%/sticky には設定を置けません: "
             "すべてのユーザーが書き込めます（モード 1777）。設定は %DIR%/home/.config/tovlane/Tovlane.ini です",
      .errIsPart = true, .out = printed("own")}},
    {"explained: the machine's settings", "", "-v 0",
     {.wrapper = kNobody + "-u XDG_CONFIG_HOME HOME=%DIR%/nohome"},
     {.status = 9, .err = "には書き込めないので、ユーザーごとの設定ファイルを使います（まだないあいだは " +
                kIni + " を既定値として読みます）\ntovlane: 設定ファイル " + kIni + " を読み込みました",
      .errIsPart = true}},
    {"explained: refused", "", "-v 0", {},
     {.status = 9, .err = "アドレス 127.0.0.1 に接続します\ntovlane: 127.0.0.1 ポート 1 に接続できません: Connection refused\n",
      .errIsPart = true}},
    // A refusal dressed up as an acceptance stays a refusal, on one line.
    {"explained: 512", "", "--verbose 0", {"--status 512 --reason Invisible\r\x1b[2Ktovlane:OK"},
     {.status = 1, .err = "サーバーの応答: SSTP/1.1 512 Invisible⟦0D⟧⟦1B⟧[2Ktovlane:OK\ntovlane: "
                "サーバーが受け付けませんでした: SSTP/1.1 512 Invisible⟦0D⟧⟦1B⟧[2Ktovlane:OK\n",
      .errIsPart = true, .script = "x"}},
    {"explained: empty", "", "-v 1", {},
     {.status = 5, .err = "設定ファイル " + kIni + " を読み込みました\ntovlane: " + kEmpty1 + "（" + kIni + " の AlarmFile1）",
      .errIsPart = true}}};
// clang-format on

// Why this machine cannot hide /proc from a run (a chroot or a container has
// no mount namespace to give), or "" when it can.
std::string cannotHideProc() {
    static const std::string why = [] {
        Process probe({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/true"});
        if (probe.wait() == 0)
            return std::string();
        std::string said = probe.err();
        said.erase(std::remove(said.begin(), said.end(), '\n'), said.end());
        return "no mount namespace to hide /proc in (" + said + ")";
    }();
    return why;
}

// What a row needs that this machine may not give, "" when it has everything.
std::string cannotRun(const Row& row) {
    if (row.setup.wrapper == kWithoutProc)
        return cannotHideProc();
    if (row.setup.wrapper.starts_with(kNobody) || row.setup.otherUser)
        return cannotActAsAnotherUser();
    return "";
}

TEST_F(SendMode, EveryWayARunEnds) {
    writeFile(dir.file("hello.txt"),
              "\\h\\s[0]\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n\r\n\\e\n");
    // Two codes for ≒ kept as written, a lone lead byte, a half-width katakana.
    writeFile(dir.file("sjis.txt"), "\x87\x90\r\n\x81\xe0\x81\r\n\xb1");
    writeFile(dir.file("nul.txt"), "a\0b"s);
    writeFile(dir.file("big.txt"), "");
    std::filesystem::resize_file(dir.file("big.txt"), 200'000'000);
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        if (kSanitized &&
            (row.setup.wrapper == kWithoutProc || row.setup.wrapper.starts_with(kLimited)))
            continue;
        if (std::string why = cannotRun(row); !why.empty()) {
            skipped("SendMode.EveryWayARunEnds \"" + std::string(row.name) + "\"", why);
            continue;
        }
        std::filesystem::remove(dir.file("received"));
        int port = row.setup.server == kNothingListens ? 1 : startServer(row.setup.server);
        writeFile(settingsPath(), "[Tovlane Setting]\r\n" + expand(row.keys, port) +
                                      "\nAlarmFile0=x\nPort=" + std::to_string(port) + "\n");
        if (*row.setup.settingsFile != '\0') {
            std::filesystem::remove(settingsPath());
            Process(command({words(expand(row.setup.settingsFile)), {settingsPath()}})).wait();
        }

        auto sender = run(expand(row.args, port), expand(row.setup.wrapper), row.setup.program);
        int status = sender->wait(row.expect.hangs ? 1s : 20s);
        EXPECT_EQ(status, row.expect.hangs ? -2 : row.expect.status);
        EXPECT_EQ(sender->out(), row.expect.out);
        std::string err = sender->err(), message = expand(row.expect.err, port);
        if (row.expect.errIsPart)
            EXPECT_NE(err.find(message), std::string::npos) << err;
        else
            EXPECT_EQ(err, message.empty() ? "" : "tovlane: " + message + "\n");
        if (server && !row.expect.hangs)
            server->wait(1s);  // the raw file is written before the answer
        std::string expected =
            row.expect.script
                ? "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: " + *row.expect.script +
                      "\\e\r\nCharset: Shift_JIS\r\n\r\n"
                : "";
        EXPECT_EQ(readFile(dir.file("received")), expected);
        server.reset();
        std::filesystem::remove(settingsPath());
    }
}

// Another program saves two versions in turn, each as one rename: every run
// takes its address and port from the same one.
TEST_F(SendMode, ARunTakesAllItsSettingsFromOneSave) {
    writeFile(settingsPath(), "[Tovlane Setting]\nAddress=127.0.0.2\nPort=2\nAlarmFile0=x\n");
    pid_t writer = ::fork();
    for (int i = 0; writer == 0; ++i) {  // never back into the test runner
        std::string version = std::to_string(1 + i % 2);
        std::ofstream(dir.file("next")) << "[Tovlane Setting]\nAddress=127.0.0." + version +
                                               "\nPort=" + version + "\nAlarmFile0=x\n";
        if (::rename(dir.file("next").c_str(), settingsPath().c_str()) != 0)
            _exit(1);
    }
    // A sanitized program starts fifty times slower: fewer runs there.
    const int runs = kSanitized ? 40 : 300;
    std::string mixed;  // the first explanation that names neither version
    for (int run = 0; run < runs && mixed.empty(); ++run) {
        auto sender = this->run("-v 0");
        std::string err = sender->wait() >= 0 ? sender->err() : "";
        if (err.find("送信先: 127.0.0.1 ポート 1\n") == std::string::npos &&
            err.find("送信先: 127.0.0.2 ポート 2\n") == std::string::npos)
            mixed = err;
    }
    ::kill(writer, SIGKILL);
    ::waitpid(writer, nullptr, 0);
    EXPECT_EQ(mixed, "");
}

// Another user who may write the folder holding a user's settings folder
// swaps it for one of theirs, over and over, between any two steps of a run:
// no run ever takes their settings, which would send the user's private file
// to them.
TEST_F(SendMode, NoRunTakesTheSettingsAnotherUserSwapsIn) {
    TOVLANE_SKIP_WITHOUT_ANOTHER_USER();
    const std::string shared = dir.file("swap");  // every user may write it: no sticky bit
    for (auto [folder, owner, entry] :
         {std::tuple{"tovlane", 65534, "own"}, {"theirs", 65533, "/tmp/nonexistent/secret"}}) {
        std::filesystem::create_directories(shared + "/" + folder);
        writeFile(shared + "/" + folder + "/Tovlane.ini",
                  "[Tovlane Setting]\nAlarmFile0=" + std::string(entry) + "\n");
        ASSERT_EQ(::chown((shared + "/" + folder).c_str(), owner, owner), 0);
    }
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    std::atomic<bool> done = false;
    std::thread swapper([&] {
        const std::string own = shared + "/tovlane", theirs = shared + "/theirs";
        while (!done)
            ::renameat2(AT_FDCWD, own.c_str(), AT_FDCWD, theirs.c_str(), RENAME_EXCHANGE);
    });
    int taken = 0, refused = 0;
    const int runs = kSanitized ? 40 : 300;
    for (int i = 0; i < runs; ++i) {
        auto victim =
            run("--print 0", kNobody + "XDG_CONFIG_HOME=" + shared + " HOME=/nonexistent");
        refused += victim->wait() == 11 ? 1 : 0;
        taken += victim->out().find("secret") != std::string::npos ? 1 : 0;
    }
    done = true;
    swapper.join();
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(refused, runs) << "a folder another user can swap is never used";
}

// A desktop action that fails says why on the desktop; one that succeeds
// starts nothing. Without notify-send, stderr says why.
TEST_F(SendMode, NotifyShowsWhyARunFailed) {
    std::filesystem::create_directory(dir.file("notifier"));
    writeFile(dir.file("notifier/notify-send"),
              "#!/bin/sh\nprintf '%s|' \"$@\" >>" + dir.file("notified") + "\n");
    std::filesystem::permissions(dir.file("notifier/notify-send"), std::filesystem::perms(0755));
    writeFile(settingsPath(), "[Tovlane Setting]\nAlarmFile0=x\nPort=" +
                                  std::to_string(startServer("--mode reply")) + "\n");
    const std::string notifier = "/usr/bin/env PATH=" + dir.file("notifier") + ":/usr/bin:/bin";
    EXPECT_EQ(run("--notify 0", notifier)->wait(), 0);
    auto failed = run("--notify 1", notifier);
    EXPECT_EQ(failed->wait(), 5);
    EXPECT_EQ(failed->err(), "") << "the desktop said it, and stderr is no terminal";
    const std::string why = kEmpty1;
    EXPECT_EQ(readFile(dir.file("notified")),
              "--app-name=Tovlane|--icon=tovlane|--|Tovlane|" + why + "|");
    // No notifier, or one that cannot show it (no session bus): stderr says it.
    writeFile(dir.file("notifier/notify-send"), "#!/bin/sh\nexit 1\n");
    for (const char* path : {"nowhere", "notifier"}) {
        auto unheard = run("--notify 1", "/usr/bin/env PATH=" + dir.file(path));
        EXPECT_EQ(unheard->wait(), 5);
        EXPECT_EQ(unheard->err(), "tovlane: " + why + "\n") << path;
    }
    // A server's reason is shown as written, never as markup or an escape.
    writeFile(dir.file("notifier/notify-send"),
              "#!/bin/sh\nprintf '%s' \"$5\" >" + dir.file("notified") + "\n");
    writeFile(settingsPath(),
              "[Tovlane Setting]\nAlarmFile0=x\nPort=" +
                  std::to_string(startServer("--status 500 --reason <b>x</b>&\\074")) + "\n");
    EXPECT_EQ(run("--notify 0", notifier)->wait(), 1);
    EXPECT_EQ(readFile(dir.file("notified")),
              "サーバーが受け付けませんでした: SSTP/1.1 500 &lt;b&gt;x&lt;/b&gt;&amp;\\\\074");
}

TEST_F(SendMode, NoGuiLibraryIsLinked) {
    Process needed({"/usr/bin/readelf", "-d", TOVLANE_BIN});
    ASSERT_EQ(needed.wait(), 0);
    for (const char* gui : {"Qt", "libX", "xcb", "wayland", "libGL"})
        EXPECT_EQ(needed.out().find(gui), std::string::npos) << gui << " in\n" << needed.out();
}

}  // namespace
}  // namespace tovlane::test
