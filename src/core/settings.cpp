#include "core/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/command_line.h"
#include "core/messages.h"
#include "storage/blanks.h"
#include "storage/localized.h"
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

// /usr belongs to the package manager (/usr/local to the local admin): it is
// never written, not even by root, so that removing the package leaves
// nothing behind.
bool isPackaged(const std::string& directory) {
    return directory.starts_with("/usr/") && !directory.starts_with("/usr/local/");
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
    if (!isPackaged(programDirectory) && isWritableDirectory(programDirectory))
        return {programDirectory, ""};
    return {joinPath(userConfigHome(), "tovlane"), programDirectory};
}

std::string whyThere(const SettingsPlace& place) {
    if (place.machineDirectory.empty()) {
        return localized(
            "the program's folder {} is writable, so the settings file there is used",
            "プログラムのフォルダー {} に書き込めるので、そこにある設定ファイルを使います",
            {place.directory});
    }
    const std::string defaults = joinPath(place.machineDirectory, kSettingsFileName);
    if (isPackaged(place.machineDirectory)) {
        return localized(
            "the program's folder {} belongs to the package manager, so a settings "
            "file of your own is used (until it exists, {} is read as the defaults)",
            "プログラムのフォルダー {} はパッケージのものなので、ユーザーごとの設定ファイル"
            "を使います（まだないあいだは {} を既定値として読みます）",
            {place.machineDirectory, defaults});
    }
    return localized(
        "the program's folder {} is not writable, so a settings file of your own is used (until "
        "it exists, {} is read as the defaults)",
        "プログラムのフォルダー {} には書き込めないので、ユーザーごとの設定ファイルを使います（まだ"
        "ないあいだは {} を既定値として読みます）",
        {place.machineDirectory, defaults});
}

Outcome<SettingsPlace> settingsPlace() {
    auto programDirectory = executableDirectory();
    if (!programDirectory)
        return runError(programDirectory.error(), Ending::SettingsUnreadable);
    return settingsPlaceFor(*programDirectory);
}

INIAccess settingsStore(const SettingsPlace& place) {
    INIAccess store(place.directory, place.machineDirectory);
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
        settings.values[taken] = decodeFileText(std::move(text));
    }
    return settings;
}

Status saveSettings(INIAccess& store, const Settings& shown, const Settings& edited) {
    INIAccess::Values values;
    for (int k = 0; k < kKeyCount; ++k) {
        values.push_back({std::string(kSettingKeys[k].name), edited.values[k],
                          edited.values[k] == shown.values[k]});
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
    std::string_view text = trimBlanks(stored);
    if (text.size() > 1 && text.starts_with('+'))  // as the command line takes "+3"
        text.remove_prefix(1);
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > 65535) {
        return RunError{Ending::BadPort,
                        localized("Port {} in {} is not a whole number from 1 to 65535",
                                  "{1} の Port {0} は 1〜65535 の整数ではありません",
                                  {quoted(stored), store.ReadPath})};
    }
    return static_cast<unsigned short>(value);
}

}  // namespace tovlane
