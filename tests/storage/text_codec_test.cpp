#include "storage/text_codec.h"

#include <gtest/gtest.h>

namespace tovlane {
namespace {

TEST(TextCodec, Utf8ValidityRejectsWhatIsNotUtf8) {
    EXPECT_TRUE(isValidUtf8("plain \\e"));
    EXPECT_TRUE(isValidUtf8("日本語〜😀"));
    EXPECT_FALSE(isValidUtf8("\x82\xa0"));          // CP932 "あ"
    EXPECT_FALSE(isValidUtf8("\xC0\xAF"));          // overlong "/"
    EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));      // a surrogate
    EXPECT_FALSE(isValidUtf8("\xE3\x81"));          // cut short
    EXPECT_FALSE(isValidUtf8("\xF4\x90\x80\x80"));  // beyond U+10FFFF
}

TEST(TextCodec, Cp932CarriesWindowsJapaneseAndMarksTheRest) {
    // The wave dash of Windows text, a backslash that must stay 0x5C, and
    // characters CP932 has no place for.
    EXPECT_EQ(encodeCp932("\\e〜あ"), "\\e\x81\x60\x82\xa0");
    EXPECT_EQ(encodeCp932("a😀b€c"), "a?b?c");
    EXPECT_EQ(decodeCp932("\\e\x81\x60\x82\xa0"), "\\e～あ");
    EXPECT_EQ(decodeCp932("a\x82"), "a\xEF\xBF\xBD");  // a lead byte with no trail
}

TEST(TextCodec, FileTextIsUtf8WhenItCanBeOtherwiseCp932) {
    EXPECT_EQ(decodeFileText("あ"), "あ");
    EXPECT_EQ(decodeFileText("\x82\xa0"), "あ");
}

}  // namespace
}  // namespace tovlane
