#include "storage/text_codec.h"
#include "storage/wr_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <filesystem>

#include "iconv_convert.h"
#include "storage/file_io.h"
#include "support/test_support.h"

namespace tovlane::test {
namespace {

TEST(TextCodec, Cp932CarriesWindowsJapaneseAndMarksTheRest) {
    // The wave dash of Windows text, a backslash that must stay 0x5C, and
    // characters CP932 has no place for.
    EXPECT_EQ(encodeCp932("\\e〜あｱ"), "\\e\x81\x60\x82\xa0\xb1");
    EXPECT_EQ(encodeCp932("a😀b€c\xE3\x81"), "a?b?c??");
    EXPECT_EQ(decodeCp932("\\e\x81\x60\x82\xa0\xb1"), "\\e～あｱ");
    EXPECT_EQ(decodeCp932("a\x82"), "a\xEF\xBF\xBD");  // a lead byte with no trail
    EXPECT_EQ(decodeCp932("\x81\x20x"), "\xEF\xBF\xBD x");
}

std::string utf8Of(char32_t cp) {
    char16_t unit = static_cast<char16_t>(cp);
    return iconvConvert("UTF-8", "UTF-16LE", std::string(reinterpret_cast<char*>(&unit), 2));
}

// The compiled-in tables give exactly what glibc's converter gives.
TEST(TextCodec, TablesAgreeWithIconvEverywhere) {
    for (char32_t cp = 0x80; cp <= 0xFFFF; ++cp) {
        if (cp >= 0xD800 && cp <= 0xDFFF)
            continue;
        std::string text = utf8Of(cp);
        std::string expected = iconvConvert("CP932", "UTF-8", text);
        ASSERT_EQ(encodeCp932(text), expected.empty() ? "?" : expected)
            << std::hex << static_cast<unsigned>(cp);
    }
    // A pair iconv refuses reads as its two bytes, each on its own.
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0x40; trail <= 0xFC; ++trail) {
            std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
            std::string expected = iconvConvert("UTF-8", "CP932", pair);
            if (expected.empty())
                expected = decodeCp932(pair.substr(0, 1)) + decodeCp932(pair.substr(1));
            ASSERT_EQ(decodeCp932(pair), expected) << lead << " " << trail;
        }
    }
}

Result<std::string> readScript(const std::string& path) {
    WRText reader;
    reader.FileName = path;
    return reader.RFile();
}

TEST(WRText, NamesThatAreNoRegularFileReadAsAbsent) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("folder"));
    ::mkfifo(dir.file("fifo").c_str(), 0600);  // opening it would block forever
    writeFile(dir.file(".hidden"), "dot files are ordinary");
    for (const char* name : {"folder", "fifo", "missing.txt", "*"})
        EXPECT_EQ(*readScript(dir.file(name)), "") << name;
    EXPECT_EQ(*readScript(dir.file(".hidden")), "dot files are ordinary");
    // Opening never waits for a FIFO's writer; the type is checked once open.
    EXPECT_EQ(readRegularFile(dir.file("fifo")).error().code, ErrorCode::NotRegularFile);
    // A regular file whose read fails, even for root.
    EXPECT_EQ(readScript("/proc/self/mem").error().reason, "Input/output error");
}

TEST(WRText, WFileReplacesTheFileAndEmptiesWText) {
    TempDir dir;
    writeFile(dir.file("out.txt"), "old text that is longer");
    WRText writer{dir.file("out.txt"), "\\h新しい"};
    EXPECT_TRUE(writer.WFile().ok() && writer.WText.empty());
    EXPECT_EQ(readFile(dir.file("out.txt")), "\\h新しい");
    writer = {dir.file("no/such/dir/out.txt"), "kept"};
    EXPECT_TRUE(!writer.WFile().ok() && writer.WText == "kept");
}

}  // namespace
}  // namespace tovlane::test
