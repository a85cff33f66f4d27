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
using test::ProcessOptions;
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
    ProcessOptions options;
    options.setEnvironment = {"QT_QPA_PLATFORM=offscreen"};
    test::BackgroundProcess launcher({dir.file("tovlane")}, options);
    std::string running;
    for (int i = 0; i < 500 && running != dir.file("tovlane-settings"); ++i) {
        std::this_thread::sleep_for(10ms);
        running = executableOf(launcher.pid());
    }
    EXPECT_EQ(running, dir.file("tovlane-settings"));
    std::this_thread::sleep_for(300ms);
    EXPECT_TRUE(launcher.isRunning()) << "the window waits for the user";
}

TEST_F(SettingsProgram, WithoutADisplayItSaysSoInOneLine) {
    ProcessOptions noDisplay;
    noDisplay.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    test::ProcessResult result = test::runProcess({dir.file("tovlane")}, noDisplay);
    EXPECT_EQ(result.exitStatus, 10);
    EXPECT_EQ(result.err,
              "tovlane: 設定画面を開けません: グラフィカルなセッションが必要です"
              "（DISPLAY も WAYLAND_DISPLAY もありません）\n");

    ProcessOptions deadDisplay;
    deadDisplay.unsetEnvironment = {"WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
    deadDisplay.setEnvironment = {"DISPLAY=:87"};  // no X server there
    result = test::runProcess({dir.file("tovlane")}, deadDisplay);
    EXPECT_EQ(result.exitStatus, 10) << result.err;
    EXPECT_TRUE(result.err.starts_with("tovlane: 設定画面を開けません: ")) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
}

}  // namespace
}  // namespace tovlane
