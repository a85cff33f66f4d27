// The real tovlane binary, copied with its Tovlane.ini into a fresh
// directory, sending to the stand-in SSTP server on a loopback port.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <map>
#include <memory>

#include "support/test_support.h"

namespace tovlane {
namespace {

using namespace std::chrono_literals;
using test::BackgroundProcess;
using test::ProcessOptions;
using test::ProcessResult;
using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kHead = "SEND SSTP/1.1\r\nSender: Tovlane\r\nScript: ";
const std::string kTail = "\\e\r\nCharset: Shift_JIS\r\n\r\n";

// A port on which nothing listens.
int closedPort() {
    int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &size);
    ::close(sock);
    return ntohs(address.sin_port);
}

class SendMode : public ::testing::Test {
  protected:
    void SetUp() override { std::filesystem::copy_file(TOVLANE_BIN, dir.file("tovlane")); }

    // Starts the stand-in server with extra options and returns its port.
    int startServer(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv = {STANDIN_BIN, "--port", "0", "--raw", rawPath(), "--quiet"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        server = std::make_unique<BackgroundProcess>(argv);
        std::string line = server->readLine();  // "listening on 127.0.0.1 port N"
        return std::stoi(line.substr(line.rfind(' ') + 1));
    }

    void writeSettings(const std::map<std::string, std::string>& keys) {
        std::string text = "[Tovlane Setting]\r\n";
        for (const auto& [key, value] : keys)
            text += key + "=" + value + "\r\n";
        writeFile(dir.file("Tovlane.ini"), text);
    }

    // Settings that send to the stand-in server, with the given extra keys.
    void sendTo(int port, std::map<std::string, std::string> keys) {
        keys.emplace("Port", std::to_string(port));
        writeSettings(keys);
    }

    ProcessOptions options() const {
        ProcessOptions options;
        options.workingDirectory = dir.path();
        options.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY"};
        return options;
    }

    ProcessResult run(std::vector<std::string> args) {
        args.insert(args.begin(), dir.file("tovlane"));
        return test::runProcess(args, options());
    }

    std::unique_ptr<BackgroundProcess> start(const std::string& arg) {
        return std::make_unique<BackgroundProcess>(
            std::vector<std::string>{dir.file("tovlane"), arg}, options());
    }

    std::string rawPath() const { return dir.file("received.bin"); }
    std::string received() const { return readFile(rawPath()); }

    TempDir dir;
    std::unique_ptr<BackgroundProcess> server;
};

TEST_F(SendMode, LiteralEntrySendsTheExactRequest) {
    int port = startServer();
    sendTo(port, {{"AlarmFile3", "\\h\\s[0]Hello.\\e"}});
    ProcessResult result = run({"3"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out + result.err, "");
    EXPECT_EQ(received(), kHead + "\\h\\s[0]Hello.\\e" + kTail);  // a second \e is appended
}

TEST_F(SendMode, FileEntrySendsTheFileWithItsLinesJoined) {
    int port = startServer();
    // A relative name is taken from the current directory.
    writeFile(dir.file("hello.txt"),
              "\\h\\s[0]\n\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n\r\n\\e\n");
    sendTo(port, {{"AlarmFile0", "hello.txt"}});
    EXPECT_EQ(run({"0"}).exitStatus, 0);
    EXPECT_EQ(received(), kHead + "\\h\\s[0]\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\\e" + kTail);
}

TEST_F(SendMode, LongJapaneseEntryArrivesWholeInCp932) {
    int port = startServer({"--bind", "127.0.0.1"});
    std::string script = "\\0";
    std::string wire = "\\0";
    for (int i = 0; i < 333; ++i) {  // 1,000 bytes of UTF-8 in the settings file
        script += "あ";
        wire += "\x82\xa0";
    }
    sendTo(port, {{"AlarmFile5", script + "〜😀"}, {"Address", "localhost"}});
    EXPECT_EQ(run({"5"}).exitStatus, 0);
    EXPECT_EQ(received(), kHead + wire + "\x81\x60?" + kTail);
}

TEST_F(SendMode, CommandLinesSelectAnEntryOrAreRefusedWithAMessage) {
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;  // part of stderr; empty for silence
    } cases[] = {
        {{" 3 "}, 0, ""},
        {{"3.7"}, 0, ""},
        {{"-0.5"}, 4, "tovlane: コマンドライン \"-0.5\" のエントリ -1 はありません"},
        {{"10"}, 4, "tovlane: コマンドライン \"10\" のエントリ 10 はありません"},
        {{"abc"}, 2, "tovlane: コマンドライン \"abc\" は数値ではありません"},
        {{"99999"}, 3, "tovlane: コマンドライン \"99999\" は範囲外です"},
        {{"3", "4"}, 2, "\"3 4\""},
    };
    int port = startServer();
    sendTo(port, {{"AlarmFile3", "three"}});
    for (const auto& c : cases) {
        ProcessResult result = run(c.args);
        EXPECT_EQ(result.exitStatus, c.status) << c.args[0];
        EXPECT_EQ(result.out, "");
        if (c.message.empty()) {
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
            EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        }
    }
    EXPECT_EQ(received(), kHead + "three" + kTail + kHead + "three" + kTail);
}

TEST_F(SendMode, EmptyEntryEndsSilentlyWithoutConnecting) {
    int port = startServer();
    sendTo(port, {{"AlarmFile1", ""}});
    ProcessResult result = run({"1"});
    EXPECT_EQ(result.exitStatus, 5);
    EXPECT_EQ(result.out + result.err, "");
    writeFile(dir.file("Tovlane.ini"), "");  // no entries at all
    EXPECT_EQ(run({"0"}).exitStatus, 5);
    EXPECT_FALSE(std::filesystem::exists(rawPath()));
}

TEST_F(SendMode, ConnectionFailuresAreSilent) {
    writeSettings({{"Port", std::to_string(closedPort())}, {"AlarmFile0", "x"}});
    ProcessResult refused = run({"0"});
    EXPECT_EQ(refused.exitStatus, 9);
    EXPECT_EQ(refused.out + refused.err, "");

    writeSettings({{"Address", "no-such-host.invalid"}, {"AlarmFile0", "x"}});
    ProcessResult unknown = run({"0"});
    EXPECT_EQ(unknown.exitStatus, 9);
    EXPECT_EQ(unknown.out + unknown.err, "");
}

TEST_F(SendMode, TheRepliesOfRealServersEndTheRunPromptly) {
    struct Case {
        std::vector<std::string> server;
        int status;
    } cases[] = {
        {{"--mode", "keep-open"}, 0},  // answers, never closes
        {{"--mode", "close"}, 0},      // closes, never answers
        {{"--mode", "reply", "--status", "204"}, 0},
        {{"--mode", "keep-open", "--status", "420"}, 1},  // Refuse
        {{"--mode", "reply", "--status", "512"}, 1},      // Invisible
    };
    for (const auto& c : cases) {
        sendTo(startServer(c.server), {{"AlarmFile0", "x"}});
        auto sender = start("0");
        EXPECT_EQ(sender->waitFor(10s), c.status) << c.server[1] << " " << c.server.back();
    }
}

TEST_F(SendMode, AServerThatNeverAnswersKeepsTheSenderWaiting) {
    sendTo(startServer({"--mode", "silent"}), {{"AlarmFile0", "x"}});
    auto sender = start("0");
    std::this_thread::sleep_for(1s);
    EXPECT_TRUE(sender->isRunning());
    EXPECT_EQ(received(), kHead + "x" + kTail);
}

TEST_F(SendMode, UnusableSettingsStopBeforeAnyConnection) {
    struct Case {
        std::map<std::string, std::string> keys;
        int status;
        std::string message;
    } cases[] = {
        {{{"ProtocolID", "abc"}}, 6, "ProtocolID \"abc\""},
        {{{"ProtocolID", "1"}}, 6, "ProtocolID \"1\""},
        {{{"ProtocolID", "-1"}}, 6, "ProtocolID \"-1\""},
        {{{"Port", "http"}}, 7, "Port \"http\""},
        {{{"Port", "0"}}, 7, "Port \"0\""},
        {{{"Port", "70000"}}, 7, "Port \"70000\""},
        {{{"AlarmFile0", "/proc/self/mem"}}, 8, "\"/proc/self/mem\""},
    };
    int port = startServer();
    for (const auto& c : cases) {
        std::map<std::string, std::string> keys = {{"AlarmFile0", "x"}};
        for (const auto& [key, value] : c.keys)
            keys[key] = value;
        sendTo(port, keys);
        ProcessResult result = run({"0"});
        EXPECT_EQ(result.exitStatus, c.status) << c.message;
        EXPECT_NE(result.err.find("tovlane: "), std::string::npos) << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos) << result.err;
        if (c.status != 8) {
            EXPECT_NE(result.err.find(dir.file("Tovlane.ini")), std::string::npos) << result.err;
        }
    }
    EXPECT_FALSE(std::filesystem::exists(rawPath()));
}

TEST_F(SendMode, SettingsAreFoundBesideTheProgramFromAnyDirectory) {
    int port = startServer();
    sendTo(port, {{"AlarmFile2", "beside"}});
    TempDir elsewhere;
    ProcessOptions fromElsewhere = options();
    fromElsewhere.workingDirectory = elsewhere.path();
    EXPECT_EQ(test::runProcess({dir.file("tovlane"), "2"}, fromElsewhere).exitStatus, 0);
    EXPECT_EQ(received(), kHead + "beside" + kTail);
}

TEST_F(SendMode, HelpAndVersion) {
    ProcessResult help = run({"--help"});
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_NE(help.out.find(dir.file("Tovlane.ini")), std::string::npos);
    EXPECT_NE(help.out.find("10  "), std::string::npos) << "every exit status is listed";
    ProcessResult version = run({"--version"});
    EXPECT_EQ(version.exitStatus, 0);
    EXPECT_EQ(version.out, "tovlane 0.11.9\n");
}

TEST_F(SendMode, TheSenderLoadsNoGuiLibrary) {
    ProcessResult needed = test::runProcess({"/usr/bin/readelf", "-d", TOVLANE_BIN});
    ASSERT_EQ(needed.exitStatus, 0);
    for (const char* gui : {"Qt", "libX", "xcb", "wayland", "libGL"}) {
        EXPECT_EQ(needed.out.find(gui), std::string::npos) << gui << " in\n" << needed.out;
    }
}

}  // namespace
}  // namespace tovlane
