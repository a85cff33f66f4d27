#include "storage/ini_access.h"

#include "storage/localized.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

bool allStorable(const std::string& section, const INIAccess::Values& values) {
    for (const auto& value : values) {
        if (!IniDocument::canHold(section, value.key, value.data))
            return false;
    }
    return true;
}

}  // namespace

INIAccess::INIAccess(std::string directory, std::string fallbackDirectory)
    : directory_(std::move(directory)), fallbackDirectory_(std::move(fallbackDirectory)) {}

std::string INIAccess::GetINIData(const std::string& strSection, const std::string& strKey) {
    if (!applySectionRule(strSection))
        return {};
    if (!BuildFilePath())
        return {};
    return ReadProfile(Section, strKey);
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

IniDocument INIAccess::ReadINIFile() {
    LastError.clear();
    ReadPath.clear();
    if (ownFolderIsSomeoneElses())
        return IniDocument();
    for (const std::string* directory : {&directory_, &fallbackDirectory_}) {
        if (directory->empty())
            continue;
        std::string path = joinPath(*directory, FileName);
        auto file = readRegularFile(path);
        if (!file && file.error().code == ErrorCode::FileMissing)
            continue;
        if (!file) {
            LastError = localized("cannot read {}: {}", "{} を読み込めません: {}",
                                  {path, file.error().reason});
            LastErrorCode = file.error().code;
            return IniDocument();
        }
        ReadPath = std::move(path);
        return IniDocument(std::move(*file));
    }
    return IniDocument();
}

std::string INIAccess::FullPath() const {
    return joinPath(directory_, FileName);
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
    if (!allStorable(section, values)) {
        LastError = localized("names and values with line breaks or separators cannot be saved",
                              "改行や区切り文字を含む名前・値は保存できません");
        LastErrorCode = ErrorCode::FileUnwritable;
        return false;
    }
    if (ownFolderIsSomeoneElses())
        return false;
    // The user's own settings folder appears with the first save.
    Status written = makeDirectories(directory_, 0700);
    if (written) {
        written = editFile(
            path,
            [&](std::string current) -> Result<std::string> {
                IniDocument document(std::move(current));
                for (const auto& value : values) {
                    if (!value.onlyIfMissing || !document.value(section, value.key))
                        document.setValue(section, value.key, value.data);
                }
                return document.release();
            },
            Wait);
    }
    LastError = written ? std::string() : written.error().reason;
    if (!written)
        LastErrorCode = written.error().code;
    return written.ok();
}

// A folder read before the machine's defaults is the user's own: one someone
// else made in its place (say, under a shared XDG_CONFIG_HOME) could feed them
// settings, or read what they save.
bool INIAccess::ownFolderIsSomeoneElses() {
    if (fallbackDirectory_.empty() || isMissingOrOwn(directory_))
        return false;
    LastError = localized("the folder {} belongs to another user and is not used",
                          "フォルダー {} はほかのユーザーのものなので使えません", {directory_});
    LastErrorCode = ErrorCode::FileUnreadable;
    return true;
}

std::string INIAccess::ReadProfile(const std::string& section, const std::string& key) {
    auto value = ReadINIFile().value(section, key);
    return value ? decodeFileText(std::move(*value)) : std::string();
}

}  // namespace tovlane
