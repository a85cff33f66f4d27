#include "core/settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>

#include "core/command_line.h"
#include "core/messages.h"
#include "storage/localized.h"
#include "storage/settings_folder.h"
#include "storage/text_codec.h"

namespace tovlane {
namespace {

// $XDG_CONFIG_HOME when it is an absolute path, else ~/.config.
std::string userConfigHome() {
    const char* configured = std::getenv("XDG_CONFIG_HOME");
    if (configured != nullptr && configured[0] == '/')
        return configured;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = ::getpwuid(::geteuid());
        home = user != nullptr ? user->pw_dir : "/";
    }
    return joinPath(home, ".config");
}

// The machine's configuration: the first absolute folder of
// $XDG_CONFIG_DIRS, else /etc/xdg.
std::string machineConfigHome() {
    const char* configured = std::getenv("XDG_CONFIG_DIRS");
    std::string_view folders = configured != nullptr ? configured : "";
    for (std::size_t at = 0; at < folders.size();) {
        std::size_t colon = std::min(folders.find(':', at), folders.size());
        if (folders[at] == '/')
            return std::string(folders.substr(at, colon - at));
        at = colon + 1;
    }
    return "/etc/xdg";
}

// /usr belongs to the package manager (/usr/local to the local admin): it is
// never written, not even by root, so that removing the package leaves
// nothing behind.
bool isPackaged(const std::string& directory) {
    return directory.starts_with("/usr/") && !directory.starts_with("/usr/local/");
}

// Why the folder cannot hold settings (other users could change it, or it
// cannot be opened), "" when it can; the system running short is no answer.
Outcome<std::string> whyNotUsable(const std::string& directory) {
    auto folder = locateFolder(directory);
    Status usable = folder ? checkFolder(*folder, FolderOwner::UserOrRoot) : Status(folder.error());
    if (!usable && usable.error().code == ErrorCode::OutOfResources) {
        return RunError{Ending::SystemFailure,
                        localized("cannot open the folder {}: {}", "フォルダー {} を開けません: {}",
                                  {directory, usable.error().reason})};
    }
    return usable ? "" : usable.error().reason;
}

std::array<std::string_view, kKeyCount> keyNames() {
    std::array<std::string_view, kKeyCount> names;
    for (int k = 0; k < kKeyCount; ++k)
        names[k] = kSettingKeys[k].name;
    return names;
}

}  // namespace

Settings::Settings() {
    for (int k = 0; k < kKeyCount; ++k)
        values[k] = kSettingKeys[k].fallback;
}

Outcome<SettingsPlace> settingsPlaceFor(const std::string& programDirectory) {
    const std::string own = joinPath(userConfigHome(), "tovlane");
    if (isPackaged(programDirectory)) {
        return SettingsPlace{{own, joinPath(machineConfigHome(), "tovlane"), true},
                             PlaceReason::Packaged,
                             programDirectory};
    }
    auto refusal = whyNotUsable(programDirectory);
    if (!refusal)
        return refusal.error();
    if (!isWritableDirectory(programDirectory)) {
        return SettingsPlace{{own, refusal->empty() ? programDirectory : "", true},
                             PlaceReason::NotWritable,
                             programDirectory,
                             *refusal};
    }
    if (!refusal->empty())
        return SettingsPlace{
            {own, "", true}, PlaceReason::OthersCanChange, programDirectory, *refusal};
    return SettingsPlace{{programDirectory}, PlaceReason::ProgramFolder, programDirectory};
}

std::string whyThere(const SettingsPlace& place) {
    const std::string& program = place.programDirectory;
    const std::string defaults = joinPath(place.folders.fallbackDirectory, kSettingsFileName);
    switch (place.reason) {
        case PlaceReason::ProgramFolder:
            return localized(
                "the program's folder {} is writable, so the settings file there is used",
                "プログラムのフォルダー {} に書き込めるので、そこにある設定ファイルを使います",
                {program});
        case PlaceReason::Packaged:
            return localized(
                "the program's folder {} belongs to the package manager, so a settings file of "
                "your own is used (until it exists, the machine's defaults {} are read)",
                "プログラムのフォルダー {} はパッケージのものなので、ユーザーごとの設定ファイルを"
                "使います（まだないあいだは、マシンの既定値 {} を読みます）",
                {program, defaults});
        case PlaceReason::NotWritable:
            if (place.refusal.empty()) {
                return localized(
                    "the program's folder {} is not writable, so a settings file of your own is "
                    "used (until it exists, {} is read as the defaults)",
                    "プログラムのフォルダー {} には書き込めないので、ユーザーごとの設定ファイルを"
                    "使います（まだないあいだは {} を既定値として読みます）",
                    {program, defaults});
            }
            return localized(
                "the program's folder {} is not writable, so a settings file of your own is used; "
                "the one beside the program is not read as the defaults: {}",
                "プログラムのフォルダー {} には書き込めないので、ユーザーごとの設定ファイルを"
                "使います。プログラムの横の設定ファイルは既定値として読みません: {}",
                {program, place.refusal});
        case PlaceReason::OthersCanChange:
            break;
    }
    return localized("a settings file of your own is used, not the one beside the program: {}",
                     "プログラムの横ではなく、ユーザーごとの設定ファイルを使います: {}",
                     {place.refusal});
}

std::string notUsedBesideProgram(const SettingsPlace& place) {
    const std::string beside = joinPath(place.programDirectory, kSettingsFileName);
    struct stat info {};
    if (place.refusal.empty() || ::lstat(beside.c_str(), &info) != 0) {
        return "";
    }
    return localized("{} is not used: {}; your settings are {}",
                     "{} は使いません: {}。設定は {} です",
                     {beside, place.refusal, joinPath(place.folders.directory, kSettingsFileName)});
}

Outcome<SettingsPlace> settingsPlace() {
    auto programDirectory = executableDirectory();
    if (!programDirectory)
        return runError(programDirectory.error(), Ending::SettingsUnreadable);
    return settingsPlaceFor(*programDirectory);
}

INIAccess settingsStore(const SettingsPlace& place) {
    INIAccess store(place.folders);
    store.FileName = kSettingsFileName;
    return store;
}

Outcome<Settings> loadSettings(INIAccess& store, int onlyEntry) {
    IniDocument file = store.ReadINIFile();
    if (!store.LastError.empty())
        return runError({store.LastErrorCode, store.LastError}, Ending::SettingsUnreadable);
    const auto names = keyNames();
    const auto ranges = file.locate(kSettingsSection, names);
    auto stored = [&](int key) {
        const auto& range = ranges[key];
        return range && range->end > range->begin;
    };
    const int taken = onlyEntry >= 0 ? entryKey(onlyEntry) : -1;
    Settings settings;
    for (int k = 0; k < kKeyCount; ++k) {
        bool wanted = kSettingKeys[k].kind != KeyKind::Entry || onlyEntry < 0;
        if (wanted && stored(k)) {
            settings.values[k] = decodeFileText(
                file.text().substr(ranges[k]->begin, ranges[k]->end - ranges[k]->begin));
        }
    }
    if (auto index = protocolIndex(settings, store); !index)
        return index.error();
    if (taken >= kFirstEntryKey && taken < kKeyCount && stored(taken)) {
        // Cut out of the file's own text, so a long literal script is held once.
        std::string text = file.release();
        text.erase(ranges[taken]->end);
        text.erase(0, ranges[taken]->begin);
        settings.values[taken] = std::move(text);
    }
    return settings;
}

std::string entryName(int index) {
    return localized("entry {}", "エントリ {}", {std::to_string(index)});
}

std::string keyLabel(int key) {
    if (kSettingKeys[key].kind == KeyKind::Entry)
        return entryName(key - kFirstEntryKey);
    return std::string(kSettingKeys[key].name);
}

Status saveSettings(INIAccess& store, const Settings& shown, const Settings& edited) {
    INIAccess::Values values;
    for (int k = 0; k < kKeyCount; ++k) {
        values.push_back({std::string(kSettingKeys[k].name), edited.values[k],
                          edited.values[k] == shown.values[k], keyLabel(k)});
    }
    if (!store.SetINIValues(kSettingsSection, values))
        return Error{store.LastErrorCode, store.LastError};
    return {};
}

void Settings::setForThisRun(int key, const std::string& value, std::string_view option) {
    values[key] = value.empty() ? std::string(kSettingKeys[key].fallback) : value;
    origins[key] = option;
}

Outcome<long long> checkedValue(const Settings& settings, int key, const INIAccess& store) {
    const SettingKey& row = kSettingKeys[key];
    const std::string& value = settings.values[key];
    if (auto number = row.rule(value))
        return *number;
    const std::string& option = settings.origins[key];
    std::string subject = option.empty() ? localized("{} {} in {}", "{2} の {0} {1}",
                                                     {row.name, quoted(value), store.ReadPath})
                                         : option + " " + quoted(value);
    return RunError{row.ending, localized(row.english, row.japanese, {subject})};
}

Outcome<int> protocolIndex(const Settings& settings, const INIAccess& store) {
    auto index = checkedValue(settings, kProtocolKey, store);
    return index ? Outcome<int>(static_cast<int>(*index)) : Outcome<int>(index.error());
}

Outcome<std::string_view> selectedRequestLine(const Settings& settings, const INIAccess& store) {
    auto index = protocolIndex(settings, store);
    if (!index)
        return index.error();
    if (*index < 0) {
        return RunError{
            Ending::BadProtocolId,
            localized("ProtocolID {} in {} selects no request line, so nothing can be "
                      "sent",
                      "{1} の ProtocolID {0} ではリクエスト行が選ばれていないため送信できません",
                      {quoted(settings.values[kProtocolKey]), store.ReadPath})};
    }
    return kRequestLines[*index];
}

Outcome<unsigned short> portNumber(const Settings& settings, const INIAccess& store) {
    auto port = checkedValue(settings, kPortKey, store);
    return port ? Outcome<unsigned short>(static_cast<unsigned short>(*port))
                : Outcome<unsigned short>(port.error());
}

}  // namespace tovlane
