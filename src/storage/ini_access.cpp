#include "storage/ini_access.h"

#include "storage/file_io.h"
#include "storage/ini_document.h"
#include "storage/text_codec.h"

namespace tovlane {

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
    return SetINIValues(strSection, {{strKey, strData}});
}

bool INIAccess::SetINIValues(const std::string& strSection, const Values& values) {
    if (!applySectionRule(strSection))
        return false;
    if (!BuildFilePath())
        return false;
    return WriteProfile(strFullPath, Section, values);
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
                             const Values& values) {
    bool storable = true;
    for (const auto& [key, value] : values)
        storable = storable && IniDocument::canHold(section, key, value);
    if (!storable) {
        LastError = "改行や区切り文字を含む名前・値は保存できません";
        return false;
    }
    Status written = editFile(path, [&](std::string current) -> Result<std::string> {
        IniDocument document(std::move(current));
        for (const auto& [key, value] : values)
            document.setValue(section, key, value);
        return document.release();
    });
    LastError = written ? std::string() : written.error().reason;
    return written.ok();
}

std::string INIAccess::ReadProfile(const std::string& path, const std::string& section,
                                   const std::string& key) {
    auto file = readRegularFile(path);
    bool missing = !file && file.error().code == ErrorCode::FileMissing;
    LastError = (file || missing) ? std::string() : file.error().reason;
    if (!file)
        return {};
    auto value = IniDocument(std::move(*file)).value(section, key);
    return value ? decodeFileText(std::move(*value)) : std::string();
}

}  // namespace tovlane
