#include "storage/ini_access.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>

#include "storage/file_io.h"
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
    bool settingsExist() const { return std::filesystem::exists(settingsPath()); }

    TempDir dir;
};

TEST_F(IniAccessTest, SectionRuleWithoutAnySectionTouchesNothing) {
    INIAccess ini = store();
    EXPECT_EQ(ini.GetINIData("", "Port"), "");
    EXPECT_FALSE(ini.SetINIData("", "Port", "1"));
    EXPECT_FALSE(settingsExist());
}

TEST_F(IniAccessTest, SectionIsRememberedEvenWhenTheCallFails) {
    INIAccess ini(dir.path());
    EXPECT_FALSE(ini.SetINIData(kSection, "Port", "1"));  // FileName still empty
    EXPECT_EQ(ini.Section, kSection);
    EXPECT_FALSE(settingsExist());

    ini.FileName = "Tovlane.ini";
    EXPECT_TRUE(ini.SetINIData("", "Port", "1"));
    EXPECT_EQ(readFile(settingsPath()), "[Tovlane Setting]\nPort=1\n");
    ini.Section = "Other";
    EXPECT_EQ(ini.GetINIData("", "Port"), "");
}

TEST_F(IniAccessTest, MissingFileSectionKeyAndEmptyValueAllReadEmpty) {
    INIAccess ini = store();
    EXPECT_EQ(ini.GetINIData(kSection, "Port"), "");
    EXPECT_FALSE(settingsExist());  // reading never creates the file
    writeFile(settingsPath(), "[Other]\nPort=1\n[Tovlane Setting]\nAddress=\n");
    EXPECT_EQ(ini.GetINIData(kSection, "Port"), "");
    EXPECT_EQ(ini.GetINIData(kSection, "Address"), "");
}

TEST_F(IniAccessTest, LongAndJapaneseValuesComeBackWhole) {
    INIAccess ini = store();
    const std::string longValue = "\\h\\s[0]" + std::string(1000, 'x');
    std::string japanese;
    for (int i = 0; i < 100; ++i)
        japanese += "あいう〜";  // 1200 bytes, far past 255
    ASSERT_TRUE(ini.SetINIData(kSection, "AlarmFile1", longValue));
    ASSERT_TRUE(ini.SetINIData(kSection, "AlarmFile2", japanese));
    INIAccess reader = store();
    EXPECT_EQ(reader.GetINIData(kSection, "AlarmFile1"), longValue);
    EXPECT_EQ(reader.GetINIData(kSection, "AlarmFile2"), japanese);
}

TEST_F(IniAccessTest, ReadsValuesOfAFileWrittenInCp932) {
    // "Address=ｻｰﾊﾞ" and "AlarmFile0=こんにちは" as Windows writes them.
    writeFile(settingsPath(),
              "[Tovlane Setting]\r\nAlarmFile0=\x82\xb1\x82\xf1\x82\xc9\x82\xbf\x82\xcd\r\n");
    INIAccess ini = store();
    EXPECT_EQ(ini.GetINIData(kSection, "AlarmFile0"), "こんにちは");
    ASSERT_TRUE(ini.SetINIData(kSection, "AlarmFile1", "さようなら"));
    EXPECT_EQ(ini.GetINIData(kSection, "AlarmFile0"), "こんにちは");
    EXPECT_EQ(ini.GetINIData(kSection, "AlarmFile1"), "さようなら");
}

TEST_F(IniAccessTest, WritingTwiceLeavesOneKeyAndKeepsTheFileLineEnds) {
    writeFile(settingsPath(), "; mine\r\n[tovlane setting]\r\nport=1\r\n");
    INIAccess ini = store();
    ASSERT_TRUE(ini.SetINIData(kSection, "Port", "2"));
    ASSERT_TRUE(ini.SetINIData(kSection, "Port", "3"));
    ASSERT_TRUE(ini.SetINIData(kSection, "Address", "::1"));
    EXPECT_EQ(readFile(settingsPath()), "; mine\r\n[tovlane setting]\r\nport=3\r\nAddress=::1\r\n");
}

TEST_F(IniAccessTest, WriteKeepsPermissionBitsAndSymbolicLinks) {
    TempDir elsewhere;
    writeFile(elsewhere.file("real.ini"), "[Tovlane Setting]\n");
    ::chmod(elsewhere.file("real.ini").c_str(), 0640);
    std::filesystem::create_symlink(elsewhere.file("real.ini"), settingsPath());
    INIAccess ini = store();
    ASSERT_TRUE(ini.SetINIData(kSection, "Port", "1"));
    EXPECT_TRUE(std::filesystem::is_symlink(settingsPath()));
    EXPECT_EQ(readFile(elsewhere.file("real.ini")), "[Tovlane Setting]\nPort=1\n");
    struct stat info {};
    ::stat(elsewhere.file("real.ini").c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(IniAccessTest, ValuesThatWouldBreakTheFileAreRefused) {
    writeFile(settingsPath(), "[Tovlane Setting]\nPort=1\n");
    INIAccess ini = store();
    EXPECT_FALSE(ini.SetINIData(kSection, "Port", "2\nAddress=evil"));
    EXPECT_FALSE(ini.SetINIData(kSection, "Po=rt", "2"));
    EXPECT_FALSE(ini.LastError.empty());
    EXPECT_EQ(readFile(settingsPath()), "[Tovlane Setting]\nPort=1\n");
}

// Each failure below is real for root too: no permission bit is relied on
// unless the write runs as an unprivileged user.
TEST_F(IniAccessTest, FailedWritesReturnFalseAndLeaveTheOldFile) {
    const std::string old = "[Tovlane Setting]\nPort=1\n";

    // The program's directory has been removed.
    INIAccess gone(dir.file("removed"));
    gone.FileName = "Tovlane.ini";
    EXPECT_FALSE(gone.SetINIData(kSection, "Port", "2"));
    EXPECT_NE(gone.LastError, "");

    // The directory has been replaced by a file.
    writeFile(dir.file("plain"), "x");
    INIAccess notDir(dir.file("plain"));
    notDir.FileName = "Tovlane.ini";
    EXPECT_FALSE(notDir.SetINIData(kSection, "Port", "2"));
    EXPECT_EQ(readFile(dir.file("plain")), "x");

    // The settings file's name is taken by a directory.
    std::filesystem::create_directory(settingsPath());
    INIAccess ini = store();
    EXPECT_FALSE(ini.SetINIData(kSection, "Port", "2"));
    EXPECT_EQ(ini.GetINIData(kSection, "Port"), "");
    std::filesystem::remove(settingsPath());

    // A read-only directory, as an ordinary user meets it.
    writeFile(settingsPath(), old);
    ::chmod(dir.path().c_str(), 0555);
    ::chmod(settingsPath().c_str(), 0644);
    int readOnly = test::runUnprivileged([&] {
        INIAccess child = store();
        return (!child.SetINIData(kSection, "Port", "2") && !child.LastError.empty()) ? 0 : 1;
    });
    ::chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(readOnly, 0);
    EXPECT_EQ(readFile(settingsPath()), old);

    // A full disk: the new text cannot be written out.
    int full = test::runWithFileSizeLimit(8, [&] {
        INIAccess child = store();
        return child.SetINIData(kSection, "Port", "2") ? 1 : 0;
    });
    EXPECT_EQ(full, 0);
    EXPECT_EQ(readFile(settingsPath()), old);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_FALSE(entry.path().filename().string().starts_with(".tovlane-"))
            << "temporary file left behind: " << entry.path();
    }
}

TEST_F(IniAccessTest, TheFileIsFoundBesideTheProgramWhateverTheCurrentDirectory) {
    writeFile(settingsPath(), "[Tovlane Setting]\nPort=1\n");
    TempDir other;
    auto previous = std::filesystem::current_path();
    std::filesystem::current_path(other.path());
    INIAccess ini = store();
    EXPECT_EQ(ini.GetINIData(kSection, "Port"), "1");
    EXPECT_EQ(ini.FullPath(), settingsPath());
    std::filesystem::current_path(previous);

    EXPECT_EQ(joinPath("/", "Tovlane.ini"), "/Tovlane.ini");
    EXPECT_EQ(joinPath("/opt/tools", "Tovlane.ini"), "/opt/tools/Tovlane.ini");
    EXPECT_EQ(INIAccess().FullPath(), executableDirectory() + "/");
}

}  // namespace
}  // namespace tovlane
