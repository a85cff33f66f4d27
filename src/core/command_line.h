#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/exit_status.h"

namespace tovlane {

// Words joined with single spaces: without options, the arguments make the
// one command-line string the launcher works with.
std::string joinWords(const std::vector<std::string>& words);

// The floor of a decimal number with an optional sign, fraction and
// exponent, blanks around it allowed, taken of the number as written; floors
// beyond 10^18 either way are held at it. nullopt for anything else ("inf"
// and "nan" included).
std::optional<long long> floorOfNumber(std::string_view text);

// The same number when nothing is cut off to reach its floor (19871.00 is
// 19871), nullopt when something is (19871.5) or it is no number at all.
std::optional<long long> wholeNumberOf(std::string_view text);

// The command line's number, floored and taken as a 16-bit signed index that
// must name one of the entries: BadCommandLine, OutOfRange or NoSuchEntry else.
Outcome<int> parseEntryIndex(const std::string& commandLine, int entryCount);

}  // namespace tovlane
