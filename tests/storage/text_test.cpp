#include "storage/text_codec.h"
#include "storage/wr_text.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <sys/stat.h>
#include <filesystem>

#include "storage/file_io.h"
#include "support/test_support.h"

namespace tovlane {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

TEST(TextCodec, Utf8ValidityAtEveryBoundary) {
    struct {
        const char* bytes;
        bool valid;
    } cases[] = {
        {"plain \\e", true},        {"日本語〜😀", true},         {"\xC2\x80", true},
        {"\xC1\xBF", false},        {"\xDF\xBF", true},          {"\xE0\xA0\x80", true},
        {"\xE0\x9F\xBF", false},    {"\xED\x9F\xBF", true},      {"\xED\xA0\x80", false},
        {"\xEF\xBF\xBF", true},     {"\xF0\x90\x80\x80", true},  {"\xF0\x8F\xBF\xBF", false},
        {"\xF4\x8F\xBF\xBF", true}, {"\xF4\x90\x80\x80", false}, {"\xF5\x80\x80\x80", false},
        {"\xE3\x81", false},        {"\xE3\x81\x41", false},     {"\x82\xa0", false},
        {"a\x80", false},           {"\xC2\xC2\x80", false}};
    for (const auto& c : cases)
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << testing::PrintToString(c.bytes);
}

TEST(TextCodec, Cp932CarriesWindowsJapaneseAndMarksTheRest) {
    // The wave dash of Windows text, a backslash that must stay 0x5C, and
    // characters CP932 has no place for.
    EXPECT_EQ(encodeCp932("\\e〜あｱ"), "\\e\x81\x60\x82\xa0\xb1");
    EXPECT_EQ(encodeCp932("a😀b€c\xE3\x81"), "a?b?c??");
    EXPECT_EQ(decodeCp932("\\e\x81\x60\x82\xa0\xb1"), "\\e～あｱ");
    EXPECT_EQ(decodeCp932("a\x82"), "a\xEF\xBF\xBD");  // a lead byte with no trail
    EXPECT_EQ(decodeCp932("\x81\x20x"), "\xEF\xBF\xBD x");
    EXPECT_EQ(decodeFileText("あ"), "あ");
    EXPECT_EQ(decodeFileText("\x82\xa0"), "あ");
}

// iconv's answer, or "" when it refuses the input.
std::string iconvConvert(const char* to, const char* from, const std::string& input) {
    iconv_t cd = iconv_open(to, from);
    char out[16];
    auto* in = const_cast<char*>(input.data());
    std::size_t inLeft = input.size(), outLeft = sizeof out;
    char* outPtr = out;
    bool ok = iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1);
    iconv_close(cd);
    return ok ? std::string(out, outPtr) : std::string();
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
    const std::string replacement = "\xEF\xBF\xBD";
    for (int lead = 0x80; lead <= 0xFF; ++lead) {
        for (int trail = 0x00; trail <= 0xFF; trail += (lead < 0x81 || lead == 0xA0) ? 256 : 1) {
            std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
            std::string expected = iconvConvert("UTF-8", "CP932", bytes);
            std::string single = iconvConvert("UTF-8", "CP932", bytes.substr(0, 1));
            std::string got = decodeCp932(bytes);
            if (!expected.empty())
                ASSERT_EQ(got, expected) << std::hex << lead << " " << trail;
            else
                ASSERT_EQ(got.substr(0, single.empty() ? 3 : single.size()),
                          single.empty() ? replacement : single)
                    << std::hex << lead << " " << trail;
        }
    }
}

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
    // Opening never waits for a FIFO's writer; the type is checked once open.
    EXPECT_EQ(readRegularFile(dir.file("fifo")).error().code, ErrorCode::NotRegularFile);
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
