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

// The floor of the stored index when it names a request line or "none" (-1).
std::optional<int> protocolIndexFrom(const std::string& text) {
    auto floored = floorOfNumber(text);
    if (!floored || *floored < -1 || *floored >= static_cast<long long>(kRequestLines.size()))
        return std::nullopt;
    return static_cast<int>(*floored);
}

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

// Why other users could change what the folder holds, "" when they cannot.
std::string whyOthersCouldChange(const std::string& directory) {
    auto folder = locateFolder(directory);
    Status trusted =
        folder ? checkFolder(*folder, FolderOwner::UserOrRoot) : Status(folder.error());
    return trusted ? "" : trusted.error().reason;
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

SettingsPlace settingsPlaceFor(const std::string& programDirectory) {
    const std::string own = joinPath(userConfigHome(), "tovlane");
    if (isPackaged(programDirectory)) {
        return {{own, joinPath(machineConfigHome(), "tovlane"), true},
                PlaceReason::Packaged,
                programDirectory};
    }
    std::string refusal = whyOthersCouldChange(programDirectory);
    if (!isWritableDirectory(programDirectory)) {
        return {{own, refusal.empty() ? programDirectory : "", true},
                PlaceReason::NotWritable,
                programDirectory,
                refusal};
    }
    if (!refusal.empty())
        return {{own, "", true}, PlaceReason::OthersCanChange, programDirectory, refusal};
    return {{programDirectory}, PlaceReason::ProgramFolder, programDirectory};
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
    if (place.refusal.empty() || place.reason == PlaceReason::Packaged ||
        ::lstat(beside.c_str(), &info) != 0) {
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

Outcome<int> protocolIndex(const Settings& settings, const INIAccess& store) {
    const std::string& text = settings.values[kProtocolKey];
    auto index = protocolIndexFrom(text);
    if (!index) {
        return RunError{
            Ending::BadProtocolId,
            localized("ProtocolID {} in {} cannot be used (give 0 or -1)",
                      "{1} の ProtocolID {0} は使用できません（0 または -1 を指定してください）",
                      {quoted(text), store.ReadPath})};
    }
    return *index;
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
    const std::string& stored = settings.values[kPortKey];
    // A number as the command line takes one, "+80" and "19871.0" included.
    auto value = wholeNumberOf(stored);
    if (!value || *value < 1 || *value > 65535) {
        return RunError{Ending::BadPort,
                        localized("Port {} in {} is not a whole number from 1 to 65535",
                                  "{1} の Port {0} は 1〜65535 の整数ではありません",
                                  {quoted(stored), store.ReadPath})};
    }
    return static_cast<unsigned short>(*value);
}

}  // namespace tovlane
