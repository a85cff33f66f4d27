#include "storage/ini_access.h"

#include <cstdio>

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

// A value for a file in CP932, which keeps the file readable by one decoder
// (the Windows program shares such files); a character CP932 cannot hold
// refuses the whole save, naming the value and the character.
Result<std::string> inCp932(const INIAccess::Value& value) {
    auto bad = firstNotInCp932(value.data);
    if (!bad)
        return encodeCp932(value.data);
    const std::string_view character = std::string_view(value.data).substr(bad->first, bad->second);
    char code[16];
    std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(codePointOf(character)));
    return Error{ErrorCode::FileUnwritable,
                 localized("{}: the character {} ({}) cannot be saved, since the settings "
                           "file is in Shift_JIS (CP932)",
                           "{} の文字「{}」({}) は、設定ファイルが Shift_JIS (CP932) なので"
                           "保存できません",
                           {value.label.empty() ? value.key : value.label, character, code})};
}

}  // namespace

INIAccess::INIAccess(IniFolders folders) : folders_(std::move(folders)) {}

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
    return WriteProfile(Section, values);
}

Result<FileSpot> INIAccess::spotIn(const std::string& directory, FolderOwner owner,
                                   bool createFolders) const {
    auto folder = locateFolder(directory, createFolders);
    if (!folder)
        return folder.error();
    if (auto trusted = checkFolder(*folder, owner); !trusted)
        return trusted.error();
    const std::string folderPath = folder->folderPath;
    auto file = locateFileIn(std::move(*folder), FileName);
    if (!file)
        return file.error();
    // The user's own link led elsewhere: that folder must be as safe.
    if (file->folderPath != folderPath) {
        if (auto trusted = checkFolder(*file, FolderOwner::UserOrRoot); !trusted)
            return trusted.error();
    }
    if (auto trusted = checkFile(*file); !trusted)
        return trusted.error();
    return file;
}

IniDocument INIAccess::ReadINIFile() {
    LastError.clear();
    ReadPath.clear();
    const std::pair<const std::string&, FolderOwner> places[] = {
        {folders_.directory, directoryOwner()},
        {folders_.fallbackDirectory, FolderOwner::UserOrRoot}};
    for (const auto& [directory, owner] : places) {
        if (directory.empty())
            continue;
        const std::string path = joinPath(directory, FileName);
        auto spot = spotIn(directory, owner, false);
        auto file = spot ? readRegularFileAt(spot->folder.get(), spot->name)
                         : Result<std::string>(spot.error());
        if (!file && file.error().code == ErrorCode::FileMissing)
            continue;
        if (!file) {
            // A refusal reads as a save would say it; anything else names the file.
            fail(file.error().code == ErrorCode::Untrusted
                     ? file.error()
                     : Error{file.error().code,
                             localized("cannot read {}: {}", "{} を読み込めません: {}",
                                       {path, file.error().reason})});
            return IniDocument();
        }
        ReadPath = path;
        return IniDocument(std::move(*file));
    }
    return IniDocument();
}

std::string INIAccess::FullPath() const {
    return joinPath(folders_.directory, FileName);
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

FolderOwner INIAccess::directoryOwner() const {
    return folders_.ownFolder ? FolderOwner::User : FolderOwner::UserOrRoot;
}

bool INIAccess::fail(const Error& error) {
    LastError = error.reason;
    LastErrorCode = error.code;
    return false;
}

bool INIAccess::WriteProfile(const std::string& section, const Values& values) {
    LastError.clear();
    if (!allStorable(section, values)) {
        return fail({ErrorCode::FileUnwritable,
                     localized("names and values with line breaks or separators cannot be saved",
                               "改行や区切り文字を含む名前・値は保存できません")});
    }
    // The user's own settings folder appears with the first save.
    auto spot = spotIn(folders_.directory, directoryOwner(), true);
    if (!spot)
        return fail(spot.error());
    Status written = replaceLocked(
        *spot,
        [&](std::string current) -> Result<std::string> {
            IniDocument document(std::move(current));
            const bool cp932 = !isValidUtf8(document.text());
            for (const auto& value : values) {
                if (value.onlyIfMissing && document.value(section, value.key))
                    continue;
                auto data = cp932 ? inCp932(value) : Result<std::string>(value.data);
                if (!data)
                    return data.error();
                document.setValue(section, value.key, *data);
            }
            return document.release();
        },
        Wait);
    return written ? true : fail(written.error());
}

std::string INIAccess::ReadProfile(const std::string& section, const std::string& key) {
    auto value = ReadINIFile().value(section, key);
    return value ? decodeFileText(std::move(*value)) : std::string();
}

}  // namespace tovlane
