// The real tovlane binary, installed with its Tovlane.ini in a fresh
// directory, run from another one and sending to the stand-in SSTP server.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>

#include <gtest/gtest.h>
#include <future>
#include <iterator>
#include <optional>
#include <thread>

#include "support/test_support.h"

extern char** environ;

namespace tovlane::test {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

constexpr bool kSanitized = TOVLANE_SANITIZED;

// A program started from a command line split at blanks, its output going to
// files of its own; killed on destruction if it still runs. env(1) sets its
// directory and environment.
class Process {
  public:
    explicit Process(const std::string& command) {
        std::istringstream words(command);
        std::vector<std::string> argv(std::istream_iterator<std::string>(words), {});
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output_.file("out").c_str(),
                                         O_WRONLY | O_CREAT, 0600);
        posix_spawn_file_actions_addopen(&actions, 2, output_.file("err").c_str(),
                                         O_WRONLY | O_CREAT, 0600);
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

const std::string kIni = "%INI%";  // stands for the settings file's path
const std::string kDir = "%DIR%";  // stands for the test's directory

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
        ::chown(dir.file("home/.config/tovlane").c_str(), 65534, 65534);  // nobody's
        writeFile(dir.file("hide-proc"), "mount -t tmpfs none /proc && exec \"$@\"\n");
    }

    std::string program() const { return dir.file("bin/tovlane"); }
    std::string settingsPath() const { return dir.file("bin/Tovlane.ini"); }

    // Starts the stand-in server and returns its port; none for no options.
    int startServer(const char* options) {
        if (*options == '\0')
            return 1;  // nothing listens on port 1
        server = std::make_unique<Process>(STANDIN_BIN " --port 0 --count 1 --quiet --raw " +
                                           dir.file("received") + " " + options);
        for (int i = 0; i < 1000 && server->out().find('\n') == std::string::npos; ++i)
            std::this_thread::sleep_for(5ms);
        std::string line = server->out();  // "listening on ADDRESS port N"
        return std::stoi(line.substr(line.rfind(' ') + 1));
    }

    // tovlane with these arguments, from a directory that is not its own,
    // started through wrapper if given.
    std::unique_ptr<Process> run(const char* args, const std::string& wrapper = "") {
        return std::make_unique<Process>("/usr/bin/env -C " + dir.path() +
                                         " -u DISPLAY -u WAYLAND_DISPLAY " + wrapper + " " +
                                         program() + " " + args);
    }

    // A row's text with the settings file's path and the test directory in place.
    std::string expand(std::string text) const {
        for (auto [name, value] : {std::pair{kIni, settingsPath()}, {kDir, dir.path()}}) {
            for (std::size_t at; (at = text.find(name)) != std::string::npos;)
                text.replace(at, name.size(), value);
        }
        return text;
    }

    TempDir dir;
    std::unique_ptr<Process> server;
};

struct Row {
    const char* name;
    std::string keys;  // lines before "AlarmFile0=x" and the server's Port; the first one counts
    const char* args;
    const char* server;  // stand-in options; "" for a closed port
    int status;          // -2: still waiting after a second
    std::string err;     // the one line on stderr, or part of what -v explains; "" for silence
    std::optional<std::string> script;  // the Script header on the wire, in CP932
    const char* settingsFile = "";      // a command that puts something else in its place
    std::string out = "";               // all of stdout
    std::string wrapper = "";           // a command that starts tovlane
};

// /proc hidden; a sanitized program reads its options there, so its leak
// check cannot be turned off and fails: the plain build runs these rows.
const std::string kWithoutProc =
    "/usr/bin/unshare -m --propagation private /bin/sh %DIR%/hide-proc";
// Another user, with an environment of theirs.
const std::string kNobody =
    "/usr/bin/setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/env ";
std::string printed(const std::string& script) {
    return "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: " + script +
           "\\e\r\nCharset: Shift_JIS\r\n\r\n";
}

// clang-format off
const Row kRows[] = {
    {"literal", "AlarmFile3=\\h\\s[0]Hi.\\e", "3", "--mode reply", 0, "", "\\h\\s[0]Hi.\\e"},
    {"file, relative to the current directory", "AlarmFile0=hello.txt", "0", "--mode reply", 0, "",
     "\\h\\s[0]\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\\e"},
    {"Japanese to a host name", "AlarmFile5=\\0あいう〜😀\nAddress=localhost", "5", "--mode reply", 0,
     "", "\\0\x82\xa0\x82\xa2\x82\xa4\x81\x60?"},
    {"IPv6", "Address=::1", "0", "--bind ::1", 0, "", "x"},
    {"a word", "", "abc", "", 2,
     "コマンドライン \"abc\" は数値ではありません（使い方は tovlane --help）", {}},
    {"16 bits", "", "99999", "", 3, "コマンドライン \"99999\" は範囲外です（-32768〜32767）", {}},
    {"no entry 10", "", "10", "", 4,
     "コマンドライン \"10\" のエントリ 10 はありません（0〜9 を指定してください）", {}},
    {"empty entry", "", "1", "", 5, "", {}},
    {"ProtocolID abc", "ProtocolID=abc", "0", "", 6,
     kIni + " の ProtocolID \"abc\" は使用できません（0 または -1 を指定してください）", {}},
    {"ProtocolID -0.5, as written", "ProtocolID=-0.5", "0", "", 6,
     kIni + " の ProtocolID \"-0.5\" ではリクエスト行が選ばれていないため送信できません", {}},
    {"ProtocolID -1, empty entry", "ProtocolID=-1\nAlarmFile0=", "0", "", 5, "", {}},
    {"Port http", "Port=http", "0", "", 7,
     kIni + " の Port \"http\" は 1〜65535 の整数ではありません", {}},
    {"unreadable file", "AlarmFile0=/proc/self/mem", "0", "", 8,
     "スクリプトファイル \"/proc/self/mem\" を読み込めません（AlarmFile0）: Input/output error", {}},
    {"a script file that never ends", "AlarmFile0=/proc/self/pagemap", "0", "", 8,
     "スクリプトファイル \"/proc/self/pagemap\" を読み込めません（AlarmFile0）: "
     "読み込むあいだも大きくなり続けています", {}},
    {"refused", "", "0", "", 9, "", {}},
    {"unknown host", "Address=no-such-host.invalid", "0", "", 9, "", {}},
    {"answers, stays open", "", "0", "--mode keep-open", 0, "", "x"},
    {"closes, no answer", "", "0", "--mode close", 0, "", "x"},
    {"299", "", "0", "--status 299", 0, "", "x"},
    {"100", "", "0", "--status 100", 1, "", "x"},
    {"never answers", "", "0", "--mode silent", -2, "", "x"},
    {"420 without a line end", "", "0", "--status 420 --unterminated", 1, "", "x"},
    {"a NUL ends the value", "AlarmFile0=abc\0def"s, "0", "--mode reply", 0, "", "abc"},
    {"settings are a directory", "", "0", "", 11,
     kIni + " を読み込めません: 通常のファイルではありません", {}, "/usr/bin/mkdir"},
    {"settings are a FIFO", "", "0", "", 11,
     kIni + " を読み込めません: 通常のファイルではありません", {}, "/usr/bin/mkfifo"},
    {"settings are a link loop", "", "0", "", 11,
     kIni + " を読み込めません: Too many levels of symbolic links", {}, "/usr/bin/ln -s Tovlane.ini"},
    {"version", "", "--version", "", 0, "", {}, "", "tovlane 0.11.9\n"},
    {"print", "AlarmFile0=あ\\e", "--print 0", "", 0, "", {}, "", printed("あ\\e")},
    {"no /proc: still the file beside the program", "", "--print 0", "", 0, "", {}, "", printed("x"),
     kWithoutProc},
    // Another user cannot write the program's folder: their own file, or the machine's.
    {"a user's own settings", "", "--print 0", "", 0, "", {}, "", printed("own"),
     kNobody + "XDG_CONFIG_HOME=%DIR%/home/.config HOME=/nonexistent"},
    {"a settings folder someone else made", "", "0", "", 11,
     "フォルダー %DIR%/shared/tovlane はほかのユーザーのものなので使えません", {}, "", "",
     kNobody + "XDG_CONFIG_HOME=%DIR%/shared"},
    {"explained: the machine's settings", "", "-v 0", "", 9,
     "には書き込めないので、ユーザーごとの設定ファイルを使います（まだないあいだは " + kIni +
     " を既定値として読みます）\ntovlane: 設定ファイル " + kIni + " を読み込みました", {}, "", "",
     kNobody + "-u XDG_CONFIG_HOME HOME=%DIR%/nohome"},
    {"explained: refused", "", "-v 0", "", 9,
     "アドレス 127.0.0.1 に接続します\ntovlane: 接続できません: Connection refused\n", {}},
    {"explained: 512", "", "--verbose 0", "--status 512", 1,
     "サーバーの応答: SSTP/1.1 512 Invisible\ntovlane: サーバーが受け付けませんでした: ", "x"},
    {"explained: empty", "", "-v 1", "", 5,
     "設定ファイル " + kIni + " を読み込みました\n"
     "tovlane: AlarmFile1 は空なので、送るものがありません", {}}};
// clang-format on

TEST_F(SendMode, EveryWayARunEnds) {
    writeFile(dir.file("hello.txt"),
              "\\h\\s[0]\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n\r\n\\e\n");
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        if (kSanitized && row.wrapper == kWithoutProc)
            continue;
        std::filesystem::remove(dir.file("received"));
        int port = startServer(row.server);
        writeFile(settingsPath(), "[Tovlane Setting]\r\n" + row.keys +
                                      "\nAlarmFile0=x\nPort=" + std::to_string(port) + "\n");
        if (*row.settingsFile != '\0') {
            std::filesystem::remove(settingsPath());
            Process(row.settingsFile + (" " + settingsPath())).wait();
        }

        auto sender = run(row.args, expand(row.wrapper));
        EXPECT_EQ(sender->wait(row.status == -2 ? 1s : 20s), row.status);
        EXPECT_EQ(sender->out(), row.out);
        std::string err = sender->err(), message = expand(row.err);
        if (std::string_view(row.name).starts_with("explained"))
            EXPECT_NE(err.find(message), std::string::npos) << err;
        else
            EXPECT_EQ(err, message.empty() ? "" : "tovlane: " + message + "\n");
        if (server && row.status != -2)
            server->wait(1s);  // the raw file is written before the answer
        std::string expected = row.script
                                   ? "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: " + *row.script +
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

TEST_F(SendMode, NoGuiLibraryIsLinked) {
    Process needed("/usr/bin/readelf -d " TOVLANE_BIN);
    ASSERT_EQ(needed.wait(), 0);
    for (const char* gui : {"Qt", "libX", "xcb", "wayland", "libGL"})
        EXPECT_EQ(needed.out().find(gui), std::string::npos) << gui << " in\n" << needed.out();
}

}  // namespace
}  // namespace tovlane::test
