#include "core/settings.h"

#include <pwd.h>
#include <unistd.h>

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "core/command_line.h"
#include "core/messages.h"
#include "storage/blanks.h"
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
    if (isWritableDirectory(programDirectory)) {
        return {programDirectory, "",
                "プログラムのフォルダー " + programDirectory +
                    " に書き込めるので、そこにある設定ファイルを使います"};
    }
    return {joinPath(userConfigHome(), "tovlane"), programDirectory,
            "プログラムのフォルダー " + programDirectory +
                " には書き込めないので、ユーザーごとの設定ファイルを使います（まだないあいだは " +
                joinPath(programDirectory, kSettingsFileName) + " を既定値として読みます）"};
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
        return RunError{Ending::BadProtocolId,
                        store.ReadPath + " の ProtocolID " + quoted(text) +
                            " は使用できません（0 または -1 を指定してください）"};
    }
    return *index;
}

Outcome<std::string_view> selectedRequestLine(const Settings& settings, const INIAccess& store) {
    auto index = protocolIndex(settings, store);
    if (!index)
        return index.error();
    if (*index < 0) {
        return RunError{Ending::BadProtocolId,
                        store.ReadPath + " の ProtocolID " + quoted(settings.values[kProtocolKey]) +
                            " ではリクエスト行が選ばれていないため送信できません"};
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
        return RunError{Ending::BadPort, store.ReadPath + " の Port " + quoted(stored) +
                                             " は 1〜65535 の整数ではありません"};
    }
    return static_cast<unsigned short>(value);
}

}  // namespace tovlane
