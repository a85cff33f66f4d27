#include "core/startup.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace tovlane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(Startup, WindowTitleShowsMajorAndTwoDigitMinor) {
    EXPECT_EQ(windowTitle(0, 11), "基本設定 Tovlane Version0.11");
    EXPECT_EQ(windowTitle(1, 2), "基本設定 Tovlane Version1.02");
    EXPECT_EQ(windowTitle(2, 123), "基本設定 Tovlane Version2.123");
}

TEST(Startup, WithoutSettingsTheDefaultsStand) {
    TempDir dir;
    INIAccess ini(dir.path());
    Startup startup = loadStartup(ini);
    EXPECT_EQ(startup.error, "");
    EXPECT_EQ(startup.title, "基本設定 Tovlane Version0.11");
    EXPECT_EQ(startup.fields.address, "127.0.0.1");
    EXPECT_EQ(startup.fields.port, "9801");
    EXPECT_EQ(startup.fields.protocolIndex, 0);
    for (const auto& entry : startup.fields.entries)
        EXPECT_EQ(entry, "");

    writeFile(dir.file("Tovlane.ini"), "[Tovlane Setting]\nAddress=\nPort=  \nProtocolID=\n");
    startup = loadStartup(ini);
    EXPECT_EQ(startup.fields.address, "127.0.0.1");
    EXPECT_EQ(startup.fields.port, "9801");
    EXPECT_EQ(startup.fields.protocolIndex, 0);
}

TEST(Startup, ProtocolIdIsFlooredAndMustNameARequestLineOrNone) {
    TempDir dir;
    INIAccess ini(dir.path());
    struct Case {
        const char* stored;
        int index;  // -2: an error
    } cases[] = {{"0", 0},  {"0.9", 0},   {" -1 ", -1}, {"-0.5", -1},
                 {"1", -2}, {"-1.5", -2}, {"abc", -2}};
    for (const auto& c : cases) {
        writeFile(dir.file("Tovlane.ini"),
                  std::string("[Tovlane Setting]\nProtocolID=") + c.stored + "\n");
        Startup startup = loadStartup(ini);
        if (c.index == -2) {
            EXPECT_NE(startup.error.find(dir.file("Tovlane.ini")), std::string::npos) << c.stored;
            EXPECT_NE(startup.error.find("ProtocolID"), std::string::npos);
        } else {
            EXPECT_EQ(startup.error, "") << c.stored;
            EXPECT_EQ(startup.fields.protocolIndex, c.index) << c.stored;
        }
    }
}

TEST(Startup, SaveWritesAllThirteenKeysInOrderAndLoadReadsThemBack) {
    TempDir dir;
    INIAccess ini(dir.path());
    FormFields fields;
    fields.address = "";
    fields.port = "";
    fields.protocolIndex = -1;
    fields.entries[0] = "/home/me/hello.txt";
    fields.entries[9] = "\\h\\s[0]" + std::string(1000, 'z');
    ASSERT_TRUE(saveSettings(ini, fields));
    std::string expected = "[Tovlane Setting]\nAddress=\nPort=\nProtocolID=-1\n";
    for (int i = 0; i < kEntryCount; ++i) {
        expected += alarmFileKey(i) + "=" + fields.entries[i] + "\n";
    }
    EXPECT_EQ(readFile(dir.file("Tovlane.ini")), expected);

    Startup startup = loadStartup(ini);
    EXPECT_EQ(startup.fields.address, "127.0.0.1");  // empty comes back as the default
    EXPECT_EQ(startup.fields.port, "9801");
    EXPECT_EQ(startup.fields.protocolIndex, -1);
    EXPECT_EQ(startup.fields.entries, fields.entries);
}

TEST(Startup, SaveStopsAtTheFirstFailedWrite) {
    TempDir dir;
    INIAccess ini(dir.file("removed"));
    EXPECT_FALSE(saveSettings(ini, FormFields{}));
    EXPECT_NE(ini.LastError, "");
}

}  // namespace
}  // namespace tovlane
