#pragma once

#include <string>

namespace tovlane {

// A value as messages show it, so that blanks and empty values stay visible.
inline std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace tovlane
