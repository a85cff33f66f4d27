#include "core/command_line.h"

#include <gtest/gtest.h>
#include <cmath>

namespace tovlane {
namespace {

TEST(CommandLine, ArgumentsAreJoinedWithSingleSpaces) {
    const char* argv[] = {"tovlane", "3", "", "x y"};
    EXPECT_EQ(joinArguments(4, argv), "3  x y");
    EXPECT_EQ(joinArguments(1, argv), "");
}

TEST(CommandLine, NumberSyntax) {
    // clang-format off
    const std::pair<const char*, double> numbers[] = {
        {"3", 3}, {" \t3 ", 3}, {"+2", 2}, {"-0.5", -0.5}, {"3.7", 3.7}, {".5", 0.5}, {"3.", 3},
        {"1e3", 1000}, {"2E-1", 0.2}, {"-1e999", -HUGE_VAL}};
    const char* notNumbers[] = {"", " ", "abc", "3a", "0x10", "1e", "--1", "+-1", "-+1", ".",
                                "3 4", "inf", "-nan", "+"};
    // clang-format on
    for (auto [text, value] : numbers)
        EXPECT_EQ(parseNumber(text), value) << '"' << text << '"';
    for (const char* text : notNumbers)
        EXPECT_EQ(parseNumber(text), std::nullopt) << '"' << text << '"';
}

TEST(CommandLine, EntryIndexIsTheFloorWithinTheEntries) {
    const std::pair<const char*, int> entries[] = {{" 3 ", 3}, {"3.7", 3}, {"0", 0}, {"9.999", 9}};
    for (auto [text, index] : entries)
        EXPECT_EQ(*parseEntryIndex(text, 10), index) << text;
    struct {
        const char* text;
        ErrorCode error;
        const char* reason;
    } errors[] = {
        // clang-format off
        {"-0.5", ErrorCode::NoSuchEntry, "コマンドライン \"-0.5\" のエントリ -1 はありません（0〜9"},
        {"10", ErrorCode::NoSuchEntry, "エントリ 10 はありません"},
        {"32767", ErrorCode::NoSuchEntry, "エントリ 32767 "},
        {"-32768", ErrorCode::NoSuchEntry, "エントリ -32768 "},
        {"32768", ErrorCode::OutOfRange, "コマンドライン \"32768\" は範囲外です（-32768〜32767）"},
        {"-32768.5", ErrorCode::OutOfRange, "範囲外"},
        {"1e999", ErrorCode::OutOfRange, "範囲外"},
        {"abc", ErrorCode::NotANumber, "コマンドライン \"abc\" は数値ではありません"},
        {"3 4", ErrorCode::NotANumber, "\"3 4\""}};
    // clang-format on
    for (const auto& c : errors) {
        auto index = parseEntryIndex(c.text, 10);
        ASSERT_FALSE(index.ok()) << c.text;
        EXPECT_EQ(index.error().code, c.error) << c.text;
        EXPECT_NE(index.error().reason.find(c.reason), std::string::npos) << index.error().reason;
    }
}

}  // namespace
}  // namespace tovlane
