#include "storage/ini_document.h"

#include <algorithm>

#include "storage/blanks.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return asciiLower(x) == asciiLower(y);
           });
}

// "[name]" gives name; anything else is not a section header.
std::optional<std::string_view> sectionName(std::string_view line) {
    line = trimBlanks(line);
    if (line.empty() || line.front() != '[')
        return std::nullopt;
    std::size_t close = line.find(']');
    if (close == std::string_view::npos)
        return std::nullopt;
    return trimBlanks(line.substr(1, close - 1));
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool isStorableName(std::string_view name, char separator) {
    return !name.empty() && trimBlanks(name) == name && !holdsLineBreakOrNul(name) &&
           name.find(separator) == std::string_view::npos &&
           std::string_view(";#[").find(name.front()) == std::string_view::npos;
}

bool isComment(std::string_view line) {
    line = trimBlanks(line);
    return !line.empty() && (line.front() == ';' || line.front() == '#');
}

}  // namespace

bool IniDocument::canHold(std::string_view section, std::string_view key, std::string_view value) {
    return isStorableName(section, ']') && isStorableName(key, '=') && !holdsLineBreakOrNul(value);
}

std::size_t IniDocument::bodyBegin() const {
    return std::string_view(text_).starts_with(kUtf8ByteOrderMark) ? kUtf8ByteOrderMark.size() : 0;
}

std::optional<IniDocument::Line> IniDocument::nextLine(std::size_t from) const {
    if (from >= text_.size())
        return std::nullopt;
    std::size_t brk = std::min(text_.find_first_of("\r\n", from), text_.size());
    std::size_t end = brk;
    if (brk < text_.size())
        end += text_.compare(brk, 2, "\r\n") == 0 ? 2 : 1;
    return Line{from, brk, end};
}

std::optional<IniDocument::SectionPlace> IniDocument::find(
    std::string_view section, std::span<const std::string_view> keys) const {
    std::optional<SectionPlace> place;
    std::size_t missing = keys.size();
    for (auto line = nextLine(bodyBegin()); line && missing > 0; line = nextLine(line->end)) {
        auto text = std::string_view(text_).substr(line->begin, line->contentEnd - line->begin);
        if (auto name = sectionName(text)) {
            if (place)
                break;  // the first matching section ends here
            if (sameName(*name, section)) {
                place = SectionPlace{line->end, line->end == line->contentEnd,
                                     std::vector<std::optional<KeyPlace>>(keys.size())};
            }
            continue;
        }
        if (!place)
            continue;
        if (!trimBlanks(text).empty()) {
            place->insertAt = line->end;
            place->needsLineEnd = line->end == line->contentEnd;
        }
        std::size_t equals = text.find('=');
        if (isComment(text) || equals == std::string_view::npos)
            continue;
        std::string_view name = trimBlanks(text.substr(0, equals));
        std::size_t afterEquals = line->begin + equals + 1;
        std::size_t valueBegin = afterEquals;
        while (valueBegin < line->contentEnd && isBlank(text_[valueBegin]))
            ++valueBegin;
        std::size_t valueEnd = line->contentEnd;
        while (valueEnd > valueBegin && isBlank(text_[valueEnd - 1]))
            --valueEnd;
        // The first line of a key wins; later duplicates change nothing.
        for (std::size_t k = 0; k < keys.size(); ++k) {
            if (!place->keys[k] && sameName(name, keys[k])) {
                place->keys[k] = KeyPlace{afterEquals, valueBegin, valueEnd, line->contentEnd};
                --missing;
            }
        }
    }
    return place;
}

std::vector<std::optional<IniDocument::Range>> IniDocument::locate(
    std::string_view section, std::span<const std::string_view> keys) const {
    std::vector<std::optional<Range>> ranges(keys.size());
    auto place = find(section, keys);
    for (std::size_t i = 0; place && i < keys.size(); ++i) {
        if (const auto& key = place->keys[i]) {
            auto value =
                std::string_view(text_).substr(key->valueBegin, key->valueEnd - key->valueBegin);
            ranges[i] =
                Range{key->valueBegin, key->valueBegin + value.substr(0, value.find('\0')).size()};
        }
    }
    return ranges;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    auto range = locate(section, {&key, 1})[0];
    if (!range)
        return std::nullopt;
    return text_.substr(range->begin, range->end - range->begin);
}

// New lines follow the file's own convention: its first line end.
std::string IniDocument::lineEnd() const {
    auto first = nextLine(bodyBegin());
    if (!first || first->contentEnd == first->end)
        return "\n";
    return text_.substr(first->contentEnd, first->end - first->contentEnd);
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
    const std::string eol = lineEnd();
    auto place = find(section, {&key, 1});
    if (place && place->keys[0]) {
        // The blanks around the old value stay unless the new value brings its
        // own, so that writing the same value again changes nothing.
        const KeyPlace& at = *place->keys[0];
        std::size_t begin =
            isBlank(value.empty() ? 'x' : value.front()) ? at.afterEquals : at.valueBegin;
        std::size_t end = isBlank(value.empty() ? 'x' : value.back()) ? at.contentEnd : at.valueEnd;
        text_.replace(begin, end - begin, value);
        return;
    }
    std::string keyLine = std::string(key) + "=" + std::string(value) + eol;
    if (place) {
        text_.insert(place->insertAt, (place->needsLineEnd ? eol : "") + keyLine);
        return;
    }
    if (text_.size() > bodyBegin() && text_.back() != '\n' && text_.back() != '\r')
        text_ += eol;
    text_ += "[" + std::string(section) + "]" + eol + keyLine;
}

}  // namespace tovlane
