#include "storage/ini_document.h"

#include <algorithm>

#include "storage/blanks.h"

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

bool isComment(std::string_view line) {
    line = trimBlanks(line);
    return !line.empty() && (line.front() == ';' || line.front() == '#');
}

}  // namespace

std::optional<IniDocument::Line> IniDocument::nextLine(std::size_t from) const {
    if (from >= text_.size())
        return std::nullopt;
    std::size_t newline = text_.find('\n', from);
    std::size_t end = newline == std::string::npos ? text_.size() : newline + 1;
    std::size_t contentEnd = newline == std::string::npos ? text_.size() : newline;
    if (contentEnd > from && text_[contentEnd - 1] == '\r')
        --contentEnd;
    return Line{from, contentEnd, end};
}

std::string_view IniDocument::content(const Line& line) const {
    return std::string_view(text_).substr(line.begin, line.contentEnd - line.begin);
}

std::optional<IniDocument::SectionPlace> IniDocument::find(std::string_view section,
                                                           std::string_view key) const {
    std::optional<SectionPlace> place;
    for (auto line = nextLine(0); line; line = nextLine(line->end)) {
        std::string_view text = content(*line);
        if (auto name = sectionName(text)) {
            if (place)
                break;  // the first matching section ends here
            if (sameName(*name, section)) {
                place = SectionPlace{line->end, line->end == line->contentEnd, std::nullopt};
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
        if (!sameName(trimBlanks(text.substr(0, equals)), key))
            continue;
        std::size_t valueBegin = line->begin + equals + 1;
        while (valueBegin < line->contentEnd && isBlank(text_[valueBegin]))
            ++valueBegin;
        std::size_t valueEnd = line->contentEnd;
        while (valueEnd > valueBegin && isBlank(text_[valueEnd - 1]))
            --valueEnd;
        place->key = KeyPlace{valueBegin, valueEnd, line->contentEnd};
        return place;
    }
    return place;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    auto place = find(section, key);
    if (!place || !place->key)
        return std::nullopt;
    return text_.substr(place->key->valueBegin, place->key->valueEnd - place->key->valueBegin);
}

// New lines follow the file's own convention.
std::string IniDocument::lineEnd() const {
    std::size_t newline = text_.find('\n');
    return (newline != std::string::npos && newline > 0 && text_[newline - 1] == '\r') ? "\r\n"
                                                                                       : "\n";
}

void IniDocument::setValue(std::string_view section, std::string_view key, std::string_view value) {
    const std::string eol = lineEnd();
    auto place = find(section, key);
    if (place && place->key) {
        // Replace through the end of the line's content so trailing blanks go too.
        const KeyPlace& at = *place->key;
        text_.replace(at.valueBegin, at.contentEnd - at.valueBegin, value);
        return;
    }
    std::string keyLine = std::string(key) + "=" + std::string(value) + eol;
    if (place) {
        text_.insert(place->insertAt, (place->needsLineEnd ? eol : "") + keyLine);
        return;
    }
    if (!text_.empty() && text_.back() != '\n')
        text_ += eol;
    text_ += "[" + std::string(section) + "]" + eol + keyLine;
}

}  // namespace tovlane
