// The INI editor: input is section NUL key NUL value NUL document.
#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "storage/blanks.h"
#include "storage/ini_document.h"

namespace {

using tovlane::IniDocument;

// Every name that stands before a "=" somewhere in the document.
std::vector<std::string> namesIn(std::string_view text) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = std::min(text.find_first_of("\r\n", at), text.size());
        std::string_view line = text.substr(at, end - at);
        if (std::size_t equals = line.find('='); equals != std::string_view::npos)
            names.emplace_back(tovlane::trimBlanks(line.substr(0, equals)));
        at = end + 1;
    }
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string section(takeField(input)), key(takeField(input)), value(takeField(input));
    if (!IniDocument::canHold(section, key, value))
        return 0;
    const std::string before(input);
    IniDocument document(before);
    std::vector<std::string> others = namesIn(before);
    std::vector<std::optional<std::string>> othersBefore;
    for (const auto& name : others)
        othersBefore.push_back(document.value(section, name));
    // One pass over the section finds what a lookup of each key finds.
    auto ranges =
        document.locate(section, std::vector<std::string_view>(others.begin(), others.end()));
    for (std::size_t i = 0; i < others.size(); ++i) {
        auto [begin, end] = ranges[i].value_or(IniDocument::Range{});
        assert(ranges[i] ? before.substr(begin, end - begin) == othersBefore[i] : !othersBefore[i]);
    }

    document.setValue(section, key, value);
    const std::string after = document.text();
    assert(document.value(section, key) == tovlane::trimBlanks(value));
    for (std::size_t i = 0; i < others.size(); ++i) {
        if (strcasecmp(others[i].c_str(), key.c_str()) != 0)
            assert(document.value(section, others[i]) == othersBefore[i]);
    }
    // Outside the one edited line, every byte of the old text stays.
    std::size_t prefix =
        std::mismatch(before.begin(), before.end(), after.begin(), after.end()).first -
        before.begin();
    std::size_t suffix = 0;
    while (suffix < before.size() - prefix && suffix < after.size() - prefix &&
           before[before.size() - 1 - suffix] == after[after.size() - 1 - suffix]) {
        ++suffix;
    }
    std::string_view replaced(before.data() + prefix, before.size() - prefix - suffix);
    assert(replaced.find_first_of("\r\n") == std::string_view::npos);

    document.setValue(section, key, value);
    assert(document.text() == after);
    return 0;
}
