#include "core/command_line.h"

#include <gtest/gtest.h>

namespace tovlane {
namespace {

TEST(CommandLine, ArgumentsAreJoinedWithSingleSpaces) {
    const char* argv[] = {"tovlane", "3", "", "x y"};
    EXPECT_EQ(joinArguments(4, argv), "3  x y");
    EXPECT_EQ(joinArguments(1, argv), "");
}

TEST(CommandLine, NumberSyntax) {
    struct Case {
        const char* text;
        std::optional<double> value;
    } cases[] = {
        {"3", 3},
        {" \t3 ", 3},
        {"+2", 2},
        {"-0.5", -0.5},
        {"3.7", 3.7},
        {".5", 0.5},
        {"3.", 3},
        {"1e3", 1000},
        {"2E-1", 0.2},
        {"", std::nullopt},
        {" ", std::nullopt},
        {"abc", std::nullopt},
        {"3a", std::nullopt},
        {"0x10", std::nullopt},
        {"1e", std::nullopt},
        {"--1", std::nullopt},
        {".", std::nullopt},
        {"3 4", std::nullopt},
        {"inf", std::nullopt},
        {"nan", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(CommandLine, EntryIndexIsTheFloorWithinTheTenEntries) {
    struct Case {
        const char* text;
        int value;
        IndexProblem problem;
    } cases[] = {
        {" 3 ", 3, IndexProblem::None},
        {"3.7", 3, IndexProblem::None},
        {"0", 0, IndexProblem::None},
        {"9.999", 9, IndexProblem::None},
        {"-0.5", -1, IndexProblem::NoSuchEntry},
        {"10", 10, IndexProblem::NoSuchEntry},
        {"32767", 32767, IndexProblem::NoSuchEntry},
        {"-32768", -32768, IndexProblem::NoSuchEntry},
        {"32768", 0, IndexProblem::OutOfRange},
        {"99999", 0, IndexProblem::OutOfRange},
        {"-32768.5", 0, IndexProblem::OutOfRange},
        {"1e999", 0, IndexProblem::OutOfRange},
        {"abc", 0, IndexProblem::NotANumber},
        {"3 4", 0, IndexProblem::NotANumber},
    };
    for (const auto& c : cases) {
        EntryIndex index = parseEntryIndex(c.text);
        EXPECT_EQ(index.problem, c.problem) << c.text;
        if (c.problem != IndexProblem::OutOfRange && c.problem != IndexProblem::NotANumber) {
            EXPECT_EQ(index.value, c.value) << c.text;
        }
    }
}

TEST(CommandLine, PortIsAWholeNumberFrom1To65535) {
    EXPECT_EQ(parsePort("9801"), 9801);
    EXPECT_EQ(parsePort(" 1 "), 1);
    EXPECT_EQ(parsePort("65535"), 65535);
    for (const char* bad : {"", "0", "65536", "-1", "+80", "80.0", "abc", "9801x", "99999999999"}) {
        EXPECT_EQ(parsePort(bad), std::nullopt) << bad;
    }
}

}  // namespace
}  // namespace tovlane
