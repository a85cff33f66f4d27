#include "storage/wr_text.h"

#include <sys/stat.h>

#include <gtest/gtest.h>
#include <filesystem>

#include "support/test_support.h"

namespace tovlane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

Result<std::string> readScript(const std::string& path) {
    WRText reader;
    reader.FileName = path;
    return reader.RFile();
}

TEST(WRText, ReadsEveryLineEndAndEncodingAsOneLine) {
    struct {
        const char* bytes;
        const char* script;
    } cases[] = {{"\\h\\s[0]abc\\n\r\n def\r\n", "\\h\\s[0]abc\\n def"},
                 {"\\h\\s[0]abc\\n\r def\r", "\\h\\s[0]abc\\n def"},
                 {"\\h\\s[0]abc\\n\n def\n", "\\h\\s[0]abc\\n def"},
                 {"\r\n\n\\h\\s[0]\r\nabc\\n\r\n\r\n\n\r def", "\\h\\s[0]abc\\n def"},
                 {"\\0\x82\xa8\x82\xcd\x82\xe6\x82\xa4\r\n\x81\x60\r\n", "\\0おはよう～"},  // CP932
                 {"\\0おはよう\n〜\n", "\\0おはよう〜"},
                 {"\xEF\xBB\xBF\\0おはよう\n", "\\0おはよう"},  // a byte-order mark is dropped
                 {"\r\n\n", ""}};
    TempDir dir;
    for (const auto& c : cases) {
        writeFile(dir.file("s.txt"), c.bytes);
        auto script = readScript(dir.file("s.txt"));
        ASSERT_TRUE(script.ok());
        EXPECT_EQ(*script, c.script) << testing::PrintToString(c.bytes);
    }
}

TEST(WRText, NamesThatAreNoRegularFileReadAsAbsent) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder"));
    ::mkfifo(dir.file("fifo").c_str(), 0600);  // opening it would block forever
    writeFile(dir.file(".hidden"), "dot files are ordinary");
    for (const char* name : {"folder", "fifo", "missing.txt", "*"})
        EXPECT_EQ(*readScript(dir.file(name)), "") << name;
    EXPECT_EQ(*readScript(dir.file(".hidden")), "dot files are ordinary");
}

TEST(WRText, AFileThatExistsButCannotBeReadIsAnError) {
    auto script = readScript("/proc/self/mem");  // a regular file whose read fails even for root
    ASSERT_FALSE(script.ok());
    EXPECT_EQ(script.error().code, ErrorCode::FileUnreadable);
    EXPECT_NE(script.error().reason, "");
}

TEST(WRText, WFileReplacesTheFileAndEmptiesWText) {
    TempDir dir;
    writeFile(dir.file("out.txt"), "old text that is longer");
    WRText writer;
    writer.FileName = dir.file("out.txt");
    writer.WText = "\\h新しい";
    EXPECT_TRUE(writer.WFile().ok());
    EXPECT_EQ(readFile(dir.file("out.txt")), "\\h新しい");
    EXPECT_EQ(writer.WText, "");

    writer.FileName = dir.file("no/such/dir/out.txt");
    writer.WText = "kept";
    EXPECT_EQ(writer.WFile().error().code, ErrorCode::FileUnwritable);
    EXPECT_EQ(writer.WText, "kept");
}

}  // namespace
}  // namespace tovlane
