#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovlane {

// An INI text edited the way profile functions do: names match without regard
// to case, blanks around names and values are ignored when reading, the first
// matching key of the first matching section wins, and a value ends at its
// first NUL byte. CR LF, LF and a lone CR each end a line. A write touches
// only the bytes of that one value (or appends one line, or one section), so
// comments, other sections and line ends stay exactly as they were, and
// writing the same value again changes nothing.
class IniDocument {
  public:
    explicit IniDocument(std::string text) : text_(std::move(text)) {}

    // The value, blanks around it removed; nullopt when the section or the
    // key is missing.
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
        std::optional<KeyPlace> key;
    };

    std::optional<Line> nextLine(std::size_t from) const;
    std::optional<SectionPlace> find(std::string_view section, std::string_view key) const;
    std::string lineEnd() const;

    std::string text_;
};

}  // namespace tovlane
