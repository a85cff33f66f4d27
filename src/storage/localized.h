#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tovlane {

// Whether the user reads messages in Japanese: the first of LC_ALL,
// LC_MESSAGES and LANG that is set and not empty names a Japanese locale
// ("ja", "ja_JP.UTF-8"). Read when a message is made, so that a run that
// says nothing does no locale work.
bool japaneseMessages();

// A message in the user's language, english or japanese, with each "{}"
// replaced by the next of args and each "{N}" (N a digit) by the Nth.
std::string localized(std::string_view english, std::string_view japanese,
                      std::initializer_list<std::string_view> args = {});

// The system's own text for an errno value, in the user's language where
// the system has it.
std::string systemText(int error);

}  // namespace tovlane
