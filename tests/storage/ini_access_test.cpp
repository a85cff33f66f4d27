#include "storage/ini_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>

#include "support/test_support.h"

namespace tovlane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

const std::string kSection = "Tovlane Setting";

class IniAccessTest : public ::testing::Test {
  protected:
    INIAccess store() {
        INIAccess ini(dir.path());
        ini.FileName = "Tovlane.ini";
        return ini;
    }
    std::string settingsPath() const { return dir.file("Tovlane.ini"); }

    TempDir dir;
};

TEST_F(IniAccessTest, SectionRuleAndEmptyReads) {
    INIAccess ini(dir.path());
    EXPECT_EQ(ini.GetINIData("", "Port"), "");
    EXPECT_FALSE(ini.SetINIData("", "Port", "1"));
    EXPECT_FALSE(ini.SetINIData(kSection, "Port", "1"));  // FileName still empty...
    EXPECT_EQ(ini.Section, kSection);                     // ...but the section is kept
    EXPECT_FALSE(std::filesystem::exists(settingsPath()));

    ini.FileName = "Tovlane.ini";
    EXPECT_EQ(ini.GetINIData("", "Port"), "");  // reading never creates the file
    EXPECT_FALSE(std::filesystem::exists(settingsPath()));
    EXPECT_TRUE(ini.SetINIData("", "Port", "1"));
    EXPECT_EQ(readFile(settingsPath()), "[Tovlane Setting]\nPort=1\n");
    writeFile(settingsPath(), "[Other]\nPort=1\n[Tovlane Setting]\nAddress=\n");
    EXPECT_EQ(ini.GetINIData("", "Port"), "");
    EXPECT_EQ(ini.GetINIData("", "Address"), "");
    ini.Section = "Other";
    EXPECT_EQ(ini.GetINIData("", "Port"), "1");
}

TEST_F(IniAccessTest, ValuesComeBackWholeWhateverTheirEncoding) {
    // "AlarmFile0=こんにちは" as Windows writes it, in CP932.
    writeFile(settingsPath(),
              "[Tovlane Setting]\r\nAlarmFile0=\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n");
    INIAccess ini = store();
    const std::string longValue = "\\h\\s[0]" + std::string(1000, 'x') + "あいう〜";
    ASSERT_TRUE(ini.SetINIData(kSection, "AlarmFile1", longValue));
    EXPECT_EQ(store().GetINIData(kSection, "AlarmFile0"), "こんにちは");
    EXPECT_EQ(store().GetINIData(kSection, "AlarmFile1"), longValue);
}

TEST_F(IniAccessTest, WriteKeepsPermissionBitsAndSymbolicLinks) {
    TempDir elsewhere;
    writeFile(elsewhere.file("real.ini"), "[Tovlane Setting]\n");
    ::chmod(elsewhere.file("real.ini").c_str(), 0640);
    std::filesystem::create_symlink(elsewhere.file("real.ini"), settingsPath());
    ASSERT_TRUE(store().SetINIData(kSection, "Port", "1"));
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath()));
    EXPECT_EQ(readFile(elsewhere.file("real.ini")), "[Tovlane Setting]\nPort=1\n");
    struct stat info {};
    ::stat(elsewhere.file("real.ini").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// Each failure is real for root too: no permission bit is relied on unless
// the write runs as an unprivileged user.
TEST_F(IniAccessTest, FailedWritesReturnFalseAndLeaveTheOldFile) {
    const std::string old = "[Tovlane Setting]\nPort=1\n";
    writeFile(settingsPath(), old);
    writeFile(dir.file("plain"), "x");
    struct {
        const char* what;
        std::string directory;
        std::string key;
        std::string value;
    } cases[] = {{"a line break in the value", dir.path(), "Port", "2\nAddress=evil"},
                 {"a line break in the key", dir.path(), "Po\nrt", "2"},
                 {"a = in the key", dir.path(), "Po=rt", "2"},
                 {"the program's directory is gone", dir.file("removed"), "Port", "2"},
                 {"the directory is a file", dir.file("plain"), "Port", "2"}};
    for (const auto& c : cases) {
        INIAccess ini(c.directory);
        ini.FileName = "Tovlane.ini";
        EXPECT_FALSE(ini.SetINIData(kSection, c.key, c.value)) << c.what;
        EXPECT_NE(ini.LastError, "") << c.what;
    }
    EXPECT_EQ(readFile(dir.file("plain")), "x");

    // A read-only directory, and a file that cannot be read: it would be
    // replaced by a file holding only the one key.
    ::chmod(dir.path().c_str(), 0555);
    int readOnlyDir = test::runUnprivileged([&] { return store().SetINIData(kSection, "P", "2"); });
    ::chmod(dir.path().c_str(), 0777);
    ::chmod(settingsPath().c_str(), 0200);
    int unreadable = test::runUnprivileged([&] { return store().SetINIData(kSection, "P", "2"); });
    ::chmod(dir.path().c_str(), 0700);
    int fullDisk =
        test::runWithFileSizeLimit(8, [&] { return store().SetINIData(kSection, "P", "2"); });
    EXPECT_EQ(readOnlyDir + unreadable + fullDisk, 0);
    EXPECT_EQ(readFile(settingsPath()), old);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".tovlane-"))
            << "temporary file left behind: " << entry.path();
    }
}

}  // namespace
}  // namespace tovlane
