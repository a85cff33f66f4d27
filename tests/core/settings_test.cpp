#include "core/settings.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tovlane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(Settings, MissingOrEmptyValuesKeepTheDefaults) {
    TempDir dir;
    INIAccess store = settingsStore(dir.path());
    for (const char* text : {"", "[Tovlane Setting]\nAddress=\nPort=  \nProtocolID=\n"}) {
        writeFile(dir.file("Tovlane.ini"), text);
        auto settings = loadSettings(store);
        ASSERT_TRUE(settings.ok());
        EXPECT_EQ(settings->address, "127.0.0.1");
        EXPECT_EQ(settings->port, "9801");
        EXPECT_EQ(settings->protocolIndex, 0);
        EXPECT_EQ(settings->entries, Settings{}.entries);
    }
}

TEST(Settings, ProtocolIdIsFlooredAndMustNameARequestLineOrNone) {
    TempDir dir;
    INIAccess store = settingsStore(dir.path());
    struct {
        const char* stored;
        std::optional<int> index;
    } cases[] = {{"0", 0},  {"0.9", 0},   {" -1 ", -1}, {"-0.5", -1},
                 {"1", {}}, {"-1.5", {}}, {"abc", {}}};
    for (const auto& c : cases) {
        writeFile(dir.file("Tovlane.ini"),
                  std::string("[Tovlane Setting]\nProtocolID=") + c.stored + "\n");
        auto settings = loadSettings(store);
        ASSERT_EQ(settings.ok(), c.index.has_value()) << c.stored;
        if (c.index) {
            EXPECT_EQ(settings->protocolIndex, *c.index) << c.stored;
        } else {
            EXPECT_EQ(settings.error().code, ErrorCode::BadProtocolId);
            EXPECT_EQ(settings.error().reason,
                      dir.file("Tovlane.ini") + " の ProtocolID \"" + c.stored +
                          "\" は使用できません（0 または -1 を指定してください）");
        }
    }
}

TEST(Settings, RequestLineAndPortForSending) {
    INIAccess store = settingsStore("/opt/t");
    Settings settings;
    EXPECT_EQ(*selectedRequestLine(settings, store), "SEND SSTP/1.1");
    settings.protocolIndex = -1;
    EXPECT_EQ(selectedRequestLine(settings, store).error().code, ErrorCode::BadProtocolId);
    for (auto [text, port] :
         std::initializer_list<std::pair<const char*, int>>{{"9801", 9801},
                                                            {" 1 ", 1},
                                                            {"65535", 65535},
                                                            {"", 0},
                                                            {"0", 0},
                                                            {"65536", 0},
                                                            {"-1", 0},
                                                            {"+80", 0},
                                                            {"80.0", 0},
                                                            {"9801x", 0},
                                                            {"99999999999", 0}}) {
        settings.port = text;
        auto number = portNumber(settings, store);
        EXPECT_EQ(number.ok() ? *number : 0, port) << text;
        if (!number) {
            EXPECT_EQ(number.error().reason, "/opt/t/Tovlane.ini の Port \"" + settings.port +
                                                 "\" は 1〜65535 の整数ではありません");
        }
    }
}

TEST(Settings, SaveWritesAllThirteenKeysInOrderAndLoadReadsThemBack) {
    TempDir dir;
    INIAccess store = settingsStore(dir.path());
    Settings settings{"", "", -1, {"/home/me/hello.txt"}};
    settings.entries[9] = "\\h\\s[0]" + std::string(1000, 'z');
    ASSERT_TRUE(saveSettings(store, settings).ok());
    std::string expected = "[Tovlane Setting]\nAddress=\nPort=\nProtocolID=-1\n";
    for (int i = 0; i < kEntryCount; ++i)
        expected += "AlarmFile" + std::to_string(i) + "=" + settings.entries[i] + "\n";
    EXPECT_EQ(readFile(dir.file("Tovlane.ini")), expected);

    auto loaded = loadSettings(store);
    EXPECT_EQ(loaded->address, "127.0.0.1");  // empty comes back as the default
    EXPECT_EQ(loaded->port, "9801");
    EXPECT_EQ(loaded->protocolIndex, -1);
    EXPECT_EQ(loaded->entries, settings.entries);

    INIAccess gone = settingsStore(dir.file("removed"));
    auto failed = saveSettings(gone, settings);
    EXPECT_EQ(failed.error().code, ErrorCode::FileUnwritable);
    EXPECT_EQ(failed.error().reason, "No such file or directory");
}

}  // namespace
}  // namespace tovlane
