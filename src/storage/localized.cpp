#include "storage/localized.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

namespace tovlane {

bool japaneseMessages() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return std::string_view(value).starts_with("ja");
    }
    return false;
}

std::string localized(std::string_view english, std::string_view japanese,
                      std::initializer_list<std::string_view> args) {
    std::string_view pattern = japaneseMessages() ? japanese : english;
    std::string text;
    std::size_t next = 0;
    for (std::size_t at = 0; at < pattern.size();) {
        std::size_t hole = pattern.find('{', at);
        std::size_t close = pattern.find('}', hole == std::string_view::npos ? at : hole);
        if (hole == std::string_view::npos || close == std::string_view::npos) {
            text.append(pattern.substr(at));
            break;
        }
        text.append(pattern.substr(at, hole - at));
        std::string_view inside = pattern.substr(hole + 1, close - hole - 1);
        // "{}" is the next argument, "{N}" the Nth: a language's own word order.
        std::size_t index = inside.empty() ? next++ : static_cast<std::size_t>(inside[0] - '0');
        if (index < args.size())
            text.append(args.begin()[index]);
        at = close + 1;
    }
    return text;
}

std::string systemText(int error) {
    // Only now, and only for Japanese: the C library's Japanese texts where
    // the locale and its translations are installed, in UTF-8 like every
    // other line whatever the user's own codeset.
    if (japaneseMessages() && std::setlocale(LC_CTYPE, "ja_JP.UTF-8") != nullptr)
        std::setlocale(LC_MESSAGES, "ja_JP.UTF-8");
    return std::strerror(error);
}

}  // namespace tovlane
