#include "core/settings.h"

#include <charconv>
#include <cmath>

#include "core/command_line.h"
#include "core/messages.h"
#include "storage/blanks.h"

namespace tovlane {
namespace {

// The floor of the stored index when it names a request line or "none" (-1).
std::optional<int> protocolIndexFrom(const std::string& text) {
    auto number = parseNumber(text);
    if (!number)
        return std::nullopt;
    double floored = std::floor(*number);
    if (floored < -1 || floored >= static_cast<double>(kRequestLines.size()))
        return std::nullopt;
    return static_cast<int>(floored);
}

}  // namespace

INIAccess settingsStore(std::string programDirectory) {
    INIAccess store(std::move(programDirectory));
    store.FileName = kSettingsFileName;
    return store;
}

std::string alarmFileKey(int index) {
    return "AlarmFile" + std::to_string(index);
}

Result<Settings> loadSettings(INIAccess& store) {
    Settings settings;
    std::string address = store.GetINIData(kSettingsSection, "Address");
    // Only a missing file means "no settings yet"; any other failure shows
    // on the first read and would show on every one.
    if (!store.LastError.empty()) {
        return Error{ErrorCode::SettingsUnreadable,
                     store.FullPath() + " を読み込めません: " + store.LastError};
    }
    if (!address.empty())
        settings.address = address;
    if (auto port = store.GetINIData(kSettingsSection, "Port"); !port.empty())
        settings.port = port;
    if (auto protocol = store.GetINIData(kSettingsSection, "ProtocolID"); !protocol.empty()) {
        auto index = protocolIndexFrom(protocol);
        if (!index) {
            return Error{ErrorCode::BadProtocolId,
                         store.FullPath() + " の ProtocolID " + quoted(protocol) +
                             " は使用できません（0 または -1 を指定してください）"};
        }
        settings.protocolIndex = *index;
    }
    for (int i = 0; i < kEntryCount; ++i)
        settings.entries[i] = store.GetINIData(kSettingsSection, alarmFileKey(i));
    return settings;
}

Status saveSettings(INIAccess& store, const Settings& settings) {
    INIAccess::Values values = {{"Address", settings.address},
                                {"Port", settings.port},
                                {"ProtocolID", std::to_string(settings.protocolIndex)}};
    for (int i = 0; i < kEntryCount; ++i)
        values.emplace_back(alarmFileKey(i), settings.entries[i]);
    if (!store.SetINIValues(kSettingsSection, values))
        return Error{ErrorCode::FileUnwritable, store.LastError};
    return {};
}

Result<std::string_view> selectedRequestLine(const Settings& settings, const INIAccess& store) {
    if (settings.protocolIndex < 0) {
        return Error{
            ErrorCode::BadProtocolId,
            store.FullPath() +
                " の ProtocolID \"-1\" ではリクエスト行が選ばれていないため送信できません"};
    }
    return kRequestLines[settings.protocolIndex];
}

Result<unsigned short> portNumber(const Settings& settings, const INIAccess& store) {
    std::string_view text = trimBlanks(settings.port);
    unsigned value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 1 ||
        value > 65535) {
        return Error{ErrorCode::BadPort, store.FullPath() + " の Port " + quoted(settings.port) +
                                             " は 1〜65535 の整数ではありません"};
    }
    return static_cast<unsigned short>(value);
}

}  // namespace tovlane
