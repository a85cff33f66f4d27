#include "core/settings.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tovlane {
namespace {

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
    const std::pair<const char*, int> ports[] = {
        {"9801", 9801}, {" 1 ", 1}, {"65535", 65535}, {"", 0},      {"0", 0},          {"65536", 0},
        {"-1", 0},      {"+80", 0}, {"80.0", 0},      {"9801x", 0}, {"99999999999", 0}};
    for (auto [text, port] : ports) {
        settings.port = text;
        auto number = portNumber(settings, store);
        EXPECT_EQ(number.ok() ? *number : 0, port) << text;
        if (!number) {
            EXPECT_EQ(number.error().reason, "/opt/t/Tovlane.ini の Port \"" + settings.port +
                                                 "\" は 1〜65535 の整数ではありません");
        }
    }
}

}  // namespace
}  // namespace tovlane
