// The real tovlane binary, installed with its Tovlane.ini in a fresh
// directory, run from another one and sending to the stand-in SSTP server.
#include <sys/stat.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>

#include "support/test_support.h"

namespace tovlane {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using test::Process;
using test::readFile;
using test::TempDir;
using test::writeFile;

class SendMode : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directory(dir.file("bin"));
        std::filesystem::copy_file(TOVLANE_BIN, program());
    }

    std::string program() const { return dir.file("bin/tovlane"); }
    std::string settingsPath() const { return dir.file("bin/Tovlane.ini"); }

    // Starts the stand-in server and returns its port; none for empty options.
    int startServer(const std::vector<std::string>& options) {
        if (options.empty())
            return 1;  // nothing listens on port 1
        std::vector<std::string> argv = {STANDIN_BIN, "--port",  "0",     "--count",
                                         "1",         "--quiet", "--raw", dir.file("received")};
        argv.insert(argv.end(), options.begin(), options.end());
        server = std::make_unique<Process>(argv);
        for (int i = 0; i < 1000 && server->out().find('\n') == std::string::npos; ++i)
            std::this_thread::sleep_for(5ms);
        std::string line = server->out();  // "listening on ADDRESS port N"
        return std::stoi(line.substr(line.rfind(' ') + 1));
    }

    // tovlane with these arguments, from a directory that is not its own.
    std::unique_ptr<Process> run(const std::vector<std::string>& args) {
        std::vector<std::string> argv = {"/usr/bin/env", "-C", dir.path(),        "-u",
                                         "DISPLAY",      "-u", "WAYLAND_DISPLAY", program()};
        argv.insert(argv.end(), args.begin(), args.end());
        return std::make_unique<Process>(argv);
    }

    TempDir dir;
    std::unique_ptr<Process> server;
};

struct Row {
    const char* name;
    std::map<std::string, std::string> keys;  // Port defaults to the server's
    std::vector<std::string> args;
    std::vector<std::string> server;    // stand-in options; {} for a closed port
    int status;                         // -2: still waiting after a second
    std::string err;                    // in the one line on stderr ("" for silence)
    std::optional<std::string> script;  // the Script header on the wire, in CP932
    const char* settingsFile = "";      // "" or what stands in its place: dir, fifo, loop
    std::string out = "";               // all of stdout
};

const std::vector<std::string> kReply = {"--mode", "reply"};
const std::string kIni = "%INI%";  // stands for the settings file's path

// clang-format off
const Row kRows[] = {
    {"literal", {{"AlarmFile3", "\\h\\s[0]Hi.\\e"}}, {"3"}, kReply, 0, "", "\\h\\s[0]Hi.\\e"},
    {"file, relative to the current directory", {{"AlarmFile0", "hello.txt"}}, {"0"}, kReply, 0,
     "", "\\h\\s[0]\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\\e"},
    {"Japanese to a host name", {{"AlarmFile5", "\\0あいう〜😀"}, {"Address", "localhost"}}, {"5"},
     kReply, 0, "", "\\0\x82\xa0\x82\xa2\x82\xa4\x81\x60?"},
    {"IPv6", {{"AlarmFile0", "x"}, {"Address", "::1"}}, {"0"}, {"--bind", "::1"}, 0, "", "x"},
    {"a word", {}, {"abc"}, {}, 2, "コマンドライン \"abc\" は数値ではありません", {}},
    {"16 bits", {}, {"99999"}, {}, 3, "\"99999\" は範囲外です", {}},
    {"no entry 10", {}, {"10"}, {}, 4, "\"10\" のエントリ 10 はありません", {}},
    {"empty entry", {{"AlarmFile1", ""}}, {"1"}, {}, 5, "", {}},
    {"ProtocolID abc", {{"AlarmFile0", "x"}, {"ProtocolID", "abc"}}, {"0"}, {}, 6,
     kIni + " の ProtocolID \"abc\" は使用できません", {}},
    {"ProtocolID -1", {{"AlarmFile0", "x"}, {"ProtocolID", "-1"}}, {"0"}, {}, 6,
     kIni + " の ProtocolID \"-1\" ではリクエスト行が選ばれていないため送信できません", {}},
    {"ProtocolID -1, empty entry", {{"ProtocolID", "-1"}}, {"0"}, {}, 5, "", {}},
    {"Port http", {{"AlarmFile0", "x"}, {"Port", "http"}}, {"0"}, {}, 7,
     kIni + " の Port \"http\" は 1〜65535 の整数ではありません", {}},
    {"unreadable file", {{"AlarmFile0", "/proc/self/mem"}}, {"0"}, {}, 8,
     "スクリプトファイル \"/proc/self/mem\" を読み込めません（AlarmFile0）: ", {}},
    {"refused", {{"AlarmFile0", "x"}}, {"0"}, {}, 9, "", {}},
    {"unknown host", {{"AlarmFile0", "x"}, {"Address", "no-such-host.invalid"}}, {"0"}, {}, 9,
     "", {}},
    {"answers, stays open", {{"AlarmFile0", "x"}}, {"0"}, {"--mode", "keep-open"}, 0, "", "x"},
    {"closes, no answer", {{"AlarmFile0", "x"}}, {"0"}, {"--mode", "close"}, 0, "", "x"},
    {"204", {{"AlarmFile0", "x"}}, {"0"}, {"--status", "204"}, 0, "", "x"},
    {"299", {{"AlarmFile0", "x"}}, {"0"}, {"--status", "299"}, 0, "", "x"},
    {"100", {{"AlarmFile0", "x"}}, {"0"}, {"--status", "100"}, 1, "", "x"},
    {"420 Refuse, stays open", {{"AlarmFile0", "x"}}, {"0"},
     {"--mode", "keep-open", "--status", "420"}, 1, "", "x"},
    {"512 Invisible", {{"AlarmFile0", "x"}}, {"0"}, {"--status", "512"}, 1, "", "x"},
    {"never answers", {{"AlarmFile0", "x"}}, {"0"}, {"--mode", "silent"}, -2, "", "x"},
    {"420 without a line end", {{"AlarmFile0", "x"}}, {"0"}, {"--status", "420", "--unterminated"},
     1, "", "x"},
    {"a NUL ends the value", {{"AlarmFile0", "abc\0def"s}}, {"0"}, kReply, 0, "", "abc"},
    {"settings are a directory", {}, {"0"}, {}, 11, kIni + " を読み込めません: 通常のファイルではありません",
     {}, "dir"},
    {"settings are a FIFO", {}, {"0"}, {}, 11, kIni + " を読み込めません: 通常のファイルではありません",
     {}, "fifo"},
    {"settings are a link loop", {}, {"0"}, {}, 11,
     kIni + " を読み込めません: Too many levels of symbolic links", {}, "loop"},
    {"print", {{"AlarmFile0", "あ\\e"}}, {"--print", "0"}, {}, 0, "", {}, "",
     "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: あ\\e\\e\r\nCharset: Shift_JIS\r\n\r\n"},
    {"print, bad input", {}, {"--print", "x"}, {}, 2,
     "\"x\" は数値ではありません（使い方は tovlane --help）", {}},
    {"explained: refused", {{"AlarmFile0", "x"}}, {"-v", "0"}, {}, 9,
     "アドレス 127.0.0.1 に接続します\ntovlane: 接続できません: Connection refused\n", {}},
    {"explained: 512", {{"AlarmFile0", "x"}}, {"--verbose", "0"}, {"--status", "512"}, 1,
     "サーバーの応答: SSTP/1.1 512 Invisible\ntovlane: サーバーが受け付けませんでした: ", "x"},
    {"explained: empty", {}, {"-v", "1"}, {}, 5,
     "設定ファイル " + kIni + " を読み込みました\ntovlane: AlarmFile1 は空なので、送るものがありません",
     {}}};
// clang-format on

TEST_F(SendMode, EveryWayARunEnds) {
    writeFile(dir.file("hello.txt"),
              "\\h\\s[0]\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n\r\n\\e\n");
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.name);
        std::filesystem::remove(dir.file("received"));
        int port = startServer(row.server);
        auto keys = row.keys;
        keys.emplace("Port", std::to_string(port));
        std::string ini = "[Tovlane Setting]\r\n";
        for (const auto& [key, value] : keys)
            ini += key + "=" + value + "\r\n";
        writeFile(settingsPath(), ini);
        if (*row.settingsFile != '\0') {
            std::filesystem::remove(settingsPath());
            std::string kind = row.settingsFile;
            if (kind == "dir")
                std::filesystem::create_directory(settingsPath());
            if (kind == "fifo")
                ::mkfifo(settingsPath().c_str(), 0600);
            if (kind == "loop")
                std::filesystem::create_symlink(settingsPath(), settingsPath());
        }

        auto sender = run(row.args);
        EXPECT_EQ(sender->wait(row.status == -2 ? 1s : 20s), row.status);
        EXPECT_EQ(sender->out(), row.out);
        std::string err = sender->err();
        if (row.err.empty()) {
            EXPECT_EQ(err, "");
        } else {
            std::string expected = row.err;
            if (std::size_t at = expected.find(kIni); at != std::string::npos)
                expected.replace(at, kIni.size(), settingsPath());
            EXPECT_TRUE(err.starts_with("tovlane: ")) << err;
            EXPECT_NE(err.find(expected), std::string::npos) << err;
            bool explained = row.args[0] == "-v" || row.args[0] == "--verbose";
            EXPECT_TRUE(explained || std::count(err.begin(), err.end(), '\n') == 1) << err;
        }
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

TEST_F(SendMode, HelpVersionAndNoGuiLibrary) {
    auto help = run({"--help"}), version = run({"--version"});
    EXPECT_EQ(help->wait() + version->wait(), 0);
    EXPECT_NE(help->out().find("10  設定画面を開けない"), std::string::npos);
    EXPECT_EQ(version->out(), "tovlane 0.11.9\n");

    Process needed({"/usr/bin/readelf", "-d", TOVLANE_BIN});
    ASSERT_EQ(needed.wait(), 0);
    for (const char* gui : {"Qt", "libX", "xcb", "wayland", "libGL"})
        EXPECT_EQ(needed.out().find(gui), std::string::npos) << gui << " in\n" << needed.out();
}

}  // namespace
}  // namespace tovlane
