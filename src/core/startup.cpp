#include "core/startup.h"

#include <cmath>
#include <cstdio>

#include "core/command_line.h"
#include "core/version.h"

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

std::string windowTitle(int major, int minor) {
    char number[32];
    std::snprintf(number, sizeof number, "%d.%02d", major, minor);
    return std::string("基本設定 Tovlane Version") + number;
}

std::string alarmFileKey(int index) {
    return "AlarmFile" + std::to_string(index);
}

Startup loadStartup(INIAccess& ini) {
    Startup startup;
    startup.title = windowTitle(kVersionMajor, kVersionMinor);
    ini.FileName = kSettingsFileName;
    FormFields& fields = startup.fields;
    if (auto address = ini.GetINIData(kSettingsSection, "Address"); !address.empty()) {
        fields.address = address;
    }
    if (auto port = ini.GetINIData(kSettingsSection, "Port"); !port.empty())
        fields.port = port;
    if (auto protocol = ini.GetINIData(kSettingsSection, "ProtocolID"); !protocol.empty()) {
        auto index = protocolIndexFrom(protocol);
        if (!index) {
            startup.error = ini.FullPath() + " の ProtocolID \"" + protocol +
                            "\" は使用できません（0 または -1 を指定してください）";
            return startup;
        }
        fields.protocolIndex = *index;
    }
    for (int i = 0; i < kEntryCount; ++i) {
        fields.entries[i] = ini.GetINIData(kSettingsSection, alarmFileKey(i));
    }
    return startup;
}

bool saveSettings(INIAccess& ini, const FormFields& fields) {
    ini.FileName = kSettingsFileName;
    if (!ini.SetINIData(kSettingsSection, "Address", fields.address))
        return false;
    if (!ini.SetINIData(kSettingsSection, "Port", fields.port))
        return false;
    if (!ini.SetINIData(kSettingsSection, "ProtocolID", std::to_string(fields.protocolIndex))) {
        return false;
    }
    for (int i = 0; i < kEntryCount; ++i) {
        if (!ini.SetINIData(kSettingsSection, alarmFileKey(i), fields.entries[i]))
            return false;
    }
    return true;
}

}  // namespace tovlane
