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
    struct {
        const char* text;
        std::optional<double> value;
    } cases[] = {{"3", 3},
                 {" \t3 ", 3},
                 {"+2", 2},
                 {"-0.5", -0.5},
                 {"3.7", 3.7},
                 {".5", 0.5},
                 {"3.", 3},
                 {"1e3", 1000},
                 {"2E-1", 0.2},
                 {"-1e999", -HUGE_VAL},
                 {"", std::nullopt},
                 {" ", std::nullopt},
                 {"abc", std::nullopt},
                 {"3a", std::nullopt},
                 {"0x10", std::nullopt},
                 {"1e", std::nullopt},
                 {"--1", std::nullopt},
                 {"+-1", std::nullopt},
                 {"-+1", std::nullopt},
                 {".", std::nullopt},
                 {"3 4", std::nullopt},
                 {"inf", std::nullopt},
                 {"-nan", std::nullopt},
                 {"+", std::nullopt}};
    for (const auto& c : cases)
        EXPECT_EQ(parseNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(CommandLine, EntryIndexIsTheFloorWithinTheEntries) {
    struct {
        const char* text;
        std::optional<int> index;
        ErrorCode error;
        const char* reason;
    } cases[] = {{" 3 ", 3, {}, ""},
                 {"3.7", 3, {}, ""},
                 {"0", 0, {}, ""},
                 {"9.999", 9, {}, ""},
                 {"-0.5",
                  {},
                  ErrorCode::NoSuchEntry,
                  "コマンドライン \"-0.5\" のエントリ -1 はありません（0〜9"},
                 {"10", {}, ErrorCode::NoSuchEntry, "エントリ 10 はありません"},
                 {"32767", {}, ErrorCode::NoSuchEntry, "エントリ 32767 "},
                 {"-32768", {}, ErrorCode::NoSuchEntry, "エントリ -32768 "},
                 {"32768",
                  {},
                  ErrorCode::OutOfRange,
                  "コマンドライン \"32768\" は範囲外です（-32768〜32767）"},
                 {"-32768.5", {}, ErrorCode::OutOfRange, "範囲外"},
                 {"1e999", {}, ErrorCode::OutOfRange, "範囲外"},
                 {"abc", {}, ErrorCode::NotANumber, "コマンドライン \"abc\" は数値ではありません"},
                 {"3 4", {}, ErrorCode::NotANumber, "\"3 4\""}};
    for (const auto& c : cases) {
        auto index = parseEntryIndex(c.text, 10);
        ASSERT_EQ(index.ok(), c.index.has_value()) << c.text;
        if (c.index) {
            EXPECT_EQ(*index, *c.index) << c.text;
        } else {
            EXPECT_EQ(index.error().code, c.error) << c.text;
            EXPECT_NE(index.error().reason.find(c.reason), std::string::npos)
                << index.error().reason;
        }
    }
}

}  // namespace
}  // namespace tovlane
