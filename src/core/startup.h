#pragma once

#include <array>
#include <string>
#include <string_view>

#include "storage/ini_access.h"

namespace tovlane {

inline constexpr const char* kSettingsFileName = "Tovlane.ini";
inline constexpr const char* kSettingsSection = "Tovlane Setting";
inline constexpr const char* kDefaultAddress = "127.0.0.1";
inline constexpr const char* kDefaultPort = "9801";
inline constexpr int kEntryCount = 10;
// The request lines the settings offer; "ProtocolID" is an index into it.
inline constexpr std::array<std::string_view, 1> kRequestLines = {"SEND SSTP/1.1"};

// The settings as the dialog's fields hold them, in both modes.
struct FormFields {
    std::string address = kDefaultAddress;
    std::string port = kDefaultPort;
    int protocolIndex = 0;  // -1 when no request line is selected
    std::array<std::string, kEntryCount> entries;
};

struct Startup {
    FormFields fields;
    std::string title;
    std::string error;  // why the program cannot start; empty when it can
};

// "基本設定 Tovlane Version" + major + "." + minor with at least two digits.
std::string windowTitle(int major, int minor);

std::string alarmFileKey(int index);

// Start-up shared by both modes: fills the fields from the settings file
// through ini (whose FileName it sets) and sets the title.
Startup loadStartup(INIAccess& ini);

// Writes all thirteen keys in order; stops at the first failed write, whose
// reason is left in ini.LastError.
bool saveSettings(INIAccess& ini, const FormFields& fields);

}  // namespace tovlane
