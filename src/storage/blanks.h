#pragma once

#include <string_view>

namespace tovlane {

// Blanks are spaces and tabs: what may stand around settings names, values
// and numbers without changing them.
inline bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

inline std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace tovlane
