// The real tovlane and tovlane-settings binaries, side by side in a fresh
// directory as they are installed.
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <thread>

#include "support/test_support.h"

namespace tovlane {
namespace {

using namespace std::chrono_literals;
using test::TempDir;

class SettingsProgram : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::copy_file(TOVLANE_BIN, dir.file("tovlane"));
        std::filesystem::copy_file(SETTINGS_BIN, dir.file("tovlane-settings"));
    }

    std::string executableOf(pid_t pid) {
        std::error_code error;
        auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
        return error ? "" : target.string();
    }

    TempDir dir;
};

TEST_F(SettingsProgram, AnEmptyCommandLineBecomesTheSettingsWindowInTheSameProcess) {
    test::Process launcher({"/usr/bin/env", "QT_QPA_PLATFORM=offscreen", dir.file("tovlane")});
    std::string running;
    for (int i = 0; i < 500 && running != dir.file("tovlane-settings"); ++i) {
        std::this_thread::sleep_for(10ms);
        running = executableOf(launcher.pid());
    }
    EXPECT_EQ(running, dir.file("tovlane-settings"));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(launcher.wait(0ms), -2) << "the window waits for the user";
}

TEST_F(SettingsProgram, WithoutADisplayItSaysSoInOneLine) {
    test::Process noDisplay({"/usr/bin/env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u",
                             "QT_QPA_PLATFORM", dir.file("tovlane")});
    EXPECT_EQ(noDisplay.wait(), 10);
    EXPECT_EQ(noDisplay.err(),
              "tovlane: 設定画面を開けません: グラフィカルなセッションが必要です"
              "（DISPLAY も WAYLAND_DISPLAY もありません）\n");

    // No X server listens on display 87.
    test::Process deadDisplay({"/usr/bin/env", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                               "DISPLAY=:87", dir.file("tovlane")});
    EXPECT_EQ(deadDisplay.wait(), 10) << deadDisplay.err();
    std::string err = deadDisplay.err();
    EXPECT_TRUE(err.starts_with("tovlane: 設定画面を開けません: ")) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
}

}  // namespace
}  // namespace tovlane
