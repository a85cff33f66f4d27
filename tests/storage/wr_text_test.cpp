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

std::string readScript(const std::string& path) {
    WRText reader;
    reader.FileName = path;
    return reader.RFile();
}

struct LineEndCase {
    const char* name;
    const char* bytes;
};

class ScriptLineEnds : public ::testing::TestWithParam<LineEndCase> {};

TEST_P(ScriptLineEnds, EveryLineEndIsDroppedAndLinesMeet) {
    TempDir dir;
    writeFile(dir.file("s.txt"), GetParam().bytes);
    EXPECT_EQ(readScript(dir.file("s.txt")), "\\h\\s[0]abc\\n def");
}

INSTANTIATE_TEST_SUITE_P(
    WRText, ScriptLineEnds,
    ::testing::Values(LineEndCase{"crlf", "\\h\\s[0]abc\\n\r\n def\r\n"},
                      LineEndCase{"cr", "\\h\\s[0]abc\\n\r def\r"},
                      LineEndCase{"lf", "\\h\\s[0]abc\\n\n def\n"},
                      LineEndCase{"mixed", "\\h\\s[0]\r\nabc\\n\n def"},
                      LineEndCase{"no_final_line_end", "\\h\\s[0]abc\\n\r\n def"},
                      LineEndCase{"empty_lines", "\r\n\n\\h\\s[0]abc\\n\r\n\r\n\n\r def\n\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(WRText, ReadsShiftJisAndUtf8Files) {
    TempDir dir;
    // "\0おはよう〜" in CP932, with CR LF line ends.
    writeFile(dir.file("sjis.txt"), "\\0\x82\xa8\x82\xcd\x82\xe6\x82\xa4\r\n\x81\x60\r\n");
    EXPECT_EQ(readScript(dir.file("sjis.txt")), "\\0おはよう～");
    writeFile(dir.file("utf8.txt"), "\\0おはよう\n〜\n");
    EXPECT_EQ(readScript(dir.file("utf8.txt")), "\\0おはよう〜");
    writeFile(dir.file("bom.txt"), "\xEF\xBB\xBF\\0おはよう\n");
    EXPECT_EQ(readScript(dir.file("bom.txt")), "\\0おはよう");
}

TEST(WRText, NamesThatAreNoRegularFileReadAsAbsent) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder"));
    ::mkfifo(dir.file("fifo").c_str(), 0600);  // opening it would block forever
    writeFile(dir.file("empty.txt"), "\r\n\n");
    EXPECT_EQ(readScript(dir.file("folder")), "");
    EXPECT_EQ(readScript(dir.file("fifo")), "");
    EXPECT_EQ(readScript(dir.file("missing.txt")), "");
    EXPECT_EQ(readScript(dir.file("*.txt")), "");  // no wildcard matching
    EXPECT_EQ(readScript(dir.file("empty.txt")), "");
    writeFile(dir.file(".hidden"), "dot files are ordinary");
    EXPECT_EQ(readScript(dir.file(".hidden")), "dot files are ordinary");
}

TEST(WRText, AFileThatExistsButCannotBeReadIsAnError) {
    // A regular file whose read fails even for root.
    WRText reader;
    reader.FileName = "/proc/self/mem";
    try {
        reader.RFile();
        FAIL() << "no error raised";
    } catch (const FileAccessError& error) {
        EXPECT_EQ(error.Path, "/proc/self/mem");
        EXPECT_FALSE(error.Reason.empty());
    }
}

TEST(WRText, WFileReplacesTheFileAndEmptiesWText) {
    TempDir dir;
    writeFile(dir.file("out.txt"), "old text that is longer");
    WRText writer;
    writer.FileName = dir.file("out.txt");
    writer.WText = "\\h新しい";
    writer.WFile();
    EXPECT_EQ(readFile(dir.file("out.txt")), "\\h新しい");
    EXPECT_EQ(writer.WText, "");

    writer.FileName = dir.file("no/such/dir/out.txt");
    writer.WText = "kept";
    EXPECT_THROW(writer.WFile(), FileAccessError);
    EXPECT_EQ(writer.WText, "kept");
}

}  // namespace
}  // namespace tovlane
