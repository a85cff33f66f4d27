#include "storage/ini_access.h"

#include "storage/file_io.h"
#include "storage/ini_document.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

bool holdsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// A name that the INI syntax would read back as something else.
bool breaksSyntax(const std::string& section, const std::string& key, const std::string& value) {
    return key.empty() || key.find('=') != std::string::npos ||
           section.find(']') != std::string::npos || holdsLineBreak(section) ||
           holdsLineBreak(key) || holdsLineBreak(value);
}

}  // namespace

INIAccess::INIAccess() : programDirectory_(executableDirectory()) {}

INIAccess::INIAccess(std::string programDirectory)
    : programDirectory_(std::move(programDirectory)) {}

std::string INIAccess::GetINIData(const std::string& strSection, const std::string& strKey) {
    if (!applySectionRule(strSection))
        return {};
    if (!BuildFilePath())
        return {};
    return ReadProfile(strFullPath, Section, strKey);
}

bool INIAccess::SetINIData(const std::string& strSection, const std::string& strKey,
                           const std::string& strData) {
    if (!applySectionRule(strSection))
        return false;
    if (!BuildFilePath())
        return false;
    return WriteProfile(strFullPath, Section, strKey, strData);
}

std::string INIAccess::FullPath() const {
    return joinPath(programDirectory_, FileName);
}

bool INIAccess::applySectionRule(const std::string& strSection) {
    if (!strSection.empty())
        Section = strSection;
    return !Section.empty();
}

bool INIAccess::BuildFilePath() {
    strFullPath = FullPath();
    return !FileName.empty();
}

bool INIAccess::WriteProfile(const std::string& path, const std::string& section,
                             const std::string& key, const std::string& value) {
    // A line break in a value would turn its tail into a line of its own.
    if (breaksSyntax(section, key, value)) {
        LastError = "改行や区切り文字を含む名前・値は保存できません";
        return false;
    }
    auto old = readWholeFile(path);
    // Only a missing file may start empty; any other read failure would
    // replace the user's settings with this one key.
    if (!old && old.error().code != ErrorCode::FileMissing) {
        LastError = old.error().reason;
        return false;
    }
    IniDocument document(old ? std::move(*old) : std::string());
    document.setValue(section, key, value);
    Status written = writeFileAtomically(path, document.text());
    LastError = written ? std::string() : written.error().reason;
    return written.ok();
}

std::string INIAccess::ReadProfile(const std::string& path, const std::string& section,
                                   const std::string& key) {
    auto file = readWholeFile(path);
    if (!file)
        return {};
    auto value = IniDocument(std::move(*file)).value(section, key);
    return value ? decodeFileText(*value) : std::string();
}

}  // namespace tovlane
