#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovlane {

// The arguments after the program name joined with single spaces: the one
// command-line string the launcher works with.
std::string joinArguments(int argc, const char* const* argv);

// Blanks, an optional sign, digits with an optional fraction and exponent,
// blanks. Anything else is not a number.
std::optional<double> parseNumber(std::string_view text);

enum class IndexProblem { None, NotANumber, OutOfRange, NoSuchEntry };

struct EntryIndex {
    int value = 0;  // meaningful when problem is None
    IndexProblem problem = IndexProblem::None;
};

// The command line's number, floored and taken as a 16-bit signed index that
// must name one of the ten entries.
EntryIndex parseEntryIndex(std::string_view commandLine);

// A whole number from 1 to 65535, blanks around it allowed.
std::optional<unsigned short> parsePort(std::string_view text);

}  // namespace tovlane
