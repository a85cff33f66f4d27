#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tovlane {

// An INI text edited the way profile functions do: names match without regard
// to case, blanks around names and values are ignored when reading, the first
// matching key of the first matching section wins, and a value ends at its
// first NUL byte. CR LF, LF and a lone CR each end a line; a UTF-8 byte order
// mark at the start is no part of the first line. A write touches only the
// bytes of that one value (or appends one line, or one section), so comments,
// other sections, line ends and the byte order mark stay exactly as they
// were, and writing the same value again changes nothing.
class IniDocument {
  public:
    explicit IniDocument(std::string text = {}) : text_(std::move(text)) {}

    // Where a value stands in the text: blanks around it, and everything from
    // its first NUL on, left out.
    struct Range {
        std::size_t begin = 0;
        std::size_t end = 0;
    };
    // The values of all the keys, found in one pass over the section; nullopt
    // for a key (or a section) that is missing.
    std::vector<std::optional<Range>> locate(std::string_view section,
                                             std::span<const std::string_view> keys) const;

    // One value; nullopt when the section or the key is missing.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;

    // Whether the value can be stored under these names and read back: no
    // line break or NUL anywhere, and no name the syntax would take for a
    // comment, a section header or another key, or that loses its blanks.
    static bool canHold(std::string_view section, std::string_view key, std::string_view value);

    // Only for names and values that canHold.
    void setValue(std::string_view section, std::string_view key, std::string_view value);

    const std::string& text() const { return text_; }
    std::string release() { return std::move(text_); }

  private:
    struct Line {
        std::size_t begin;       // first byte of the line
        std::size_t contentEnd;  // before its line end
        std::size_t end;         // after its line end
    };
    struct KeyPlace {
        std::size_t afterEquals;
        std::size_t valueBegin;  // blanks skipped
        std::size_t valueEnd;
        std::size_t contentEnd;  // of the key's line
    };
    struct SectionPlace {
        std::size_t insertAt;  // where a new key line goes
        bool needsLineEnd;     // the section's last line has no line end
        std::vector<std::optional<KeyPlace>> keys;
    };

    std::size_t bodyBegin() const;
    std::optional<Line> nextLine(std::size_t from) const;
    std::optional<SectionPlace> find(std::string_view section,
                                     std::span<const std::string_view> keys) const;
    std::string lineEnd() const;

    std::string text_;
};

}  // namespace tovlane
