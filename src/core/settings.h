#pragma once

#include <array>
#include <string>
#include <string_view>

#include "storage/file_io.h"
#include "storage/ini_access.h"
#include "storage/result.h"

namespace tovlane {

inline constexpr const char* kSettingsFileName = "Tovlane.ini";
inline constexpr const char* kSettingsSection = "Tovlane Setting";
inline constexpr int kEntryCount = 10;
// The request lines the settings offer; "ProtocolID" is an index into it.
inline constexpr std::array<std::string_view, 1> kRequestLines = {"SEND SSTP/1.1"};

// The settings as both modes use them; the defaults stand for missing or
// empty values.
struct Settings {
    std::string address = "127.0.0.1";
    std::string port = "9801";
    int protocolIndex = 0;  // -1 when no request line is selected
    std::array<std::string, kEntryCount> entries;
};

// The store for Tovlane.ini in the program's directory.
INIAccess settingsStore(std::string programDirectory = executableDirectory());

std::string alarmFileKey(int index);

// SettingsUnreadable when the file exists but cannot be read as a file;
// BadProtocolId when a stored "ProtocolID" names neither a request line nor -1.
Result<Settings> loadSettings(INIAccess& store);

// Writes all thirteen keys in order as one replacement of the file, so a
// failure (FileUnwritable with its reason) leaves the old file whole.
Status saveSettings(INIAccess& store, const Settings& settings);

// The selected request line; BadProtocolId when none is selected (-1).
Result<std::string_view> selectedRequestLine(const Settings& settings, const INIAccess& store);

// "Port" as a number; BadPort when it is not a whole number 1 to 65535.
Result<unsigned short> portNumber(const Settings& settings, const INIAccess& store);

}  // namespace tovlane
