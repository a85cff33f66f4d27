#pragma once

#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/command_line.h"
#include "core/exit_status.h"
#include "storage/ini_access.h"

namespace tovlane {

inline constexpr const char* kSettingsFileName = "Tovlane.ini";
inline constexpr const char* kSettingsSection = "Tovlane Setting";
// The request lines the settings offer; "ProtocolID" is an index into it.
inline constexpr std::array<std::string_view, 1> kRequestLines = {"SEND SSTP/1.1"};

// How a key's value is checked where it is used.
enum class KeyKind { Host, Port, ProtocolId, Entry };

// A key's rule: the number a value stands for, or nullopt when it is none
// the key can take.
using KeyRule = std::optional<long long> (*)(std::string_view value);

// A whole number from 1 to 65535, written as a number ("+80", "19871.0").
inline std::optional<long long> tcpPort(std::string_view value) {
    auto number = wholeNumberOf(value);
    return number && *number >= 1 && *number <= 65535 ? number : std::nullopt;
}

// A number whose floor names a request line, or -1 for none.
inline std::optional<long long> requestLineIndex(std::string_view value) {
    auto floored = floorOfNumber(value);
    if (!floored || *floored < -1 || *floored >= static_cast<long long>(kRequestLines.size()))
        return std::nullopt;
    return floored;
}

struct SettingKey {
    std::string_view name;
    std::string_view fallback;  // what a missing or empty value stands for
    KeyKind kind;
    // How a value is checked where it is used, whether it came from the file
    // or from an option; free text has none. A value that fails the rule
    // ends the run as ending, with this line, "{}" standing for the value and
    // where it came from.
    KeyRule rule = nullptr;
    Ending ending = Ending::Accepted;
    std::string_view english = {};
    std::string_view japanese = {};
};

// Every key of the settings file, in the order the window writes them. Loading,
// saving, the window's fields, the checks and --help all follow this table.
inline constexpr auto kSettingKeys = std::to_array<SettingKey>({
    {"Address", "127.0.0.1", KeyKind::Host},
    {"Port", "9801", KeyKind::Port, tcpPort, Ending::BadPort,
     "{} is not a whole number from 1 to 65535", "{} は 1〜65535 の整数ではありません"},
    {"ProtocolID", "0", KeyKind::ProtocolId, requestLineIndex, Ending::BadProtocolId,
     "{} cannot be used (give 0 or -1)", "{} は使用できません（0 または -1 を指定してください）"},
    {"AlarmFile0", "", KeyKind::Entry},
    {"AlarmFile1", "", KeyKind::Entry},
    {"AlarmFile2", "", KeyKind::Entry},
    {"AlarmFile3", "", KeyKind::Entry},
    {"AlarmFile4", "", KeyKind::Entry},
    {"AlarmFile5", "", KeyKind::Entry},
    {"AlarmFile6", "", KeyKind::Entry},
    {"AlarmFile7", "", KeyKind::Entry},
    {"AlarmFile8", "", KeyKind::Entry},
    {"AlarmFile9", "", KeyKind::Entry},
});
inline constexpr int kKeyCount = static_cast<int>(kSettingKeys.size());

constexpr int keyNamed(std::string_view name) {
    return static_cast<int>(
        std::find_if(kSettingKeys.begin(), kSettingKeys.end(),
                     [name](const SettingKey& key) { return key.name == name; }) -
        kSettingKeys.begin());
}

constexpr int keyOfKind(KeyKind kind) {
    return static_cast<int>(
        std::find_if(kSettingKeys.begin(), kSettingKeys.end(),
                     [kind](const SettingKey& key) { return key.kind == kind; }) -
        kSettingKeys.begin());
}
inline constexpr int kAddressKey = keyOfKind(KeyKind::Host);
inline constexpr int kPortKey = keyOfKind(KeyKind::Port);
inline constexpr int kProtocolKey = keyOfKind(KeyKind::ProtocolId);
// The entries are the table's last rows, 0 to 9 in order.
inline constexpr int kFirstEntryKey = keyOfKind(KeyKind::Entry);
inline constexpr int kEntryCount = kKeyCount - kFirstEntryKey;
constexpr int entryKey(int index) {
    return kFirstEntryKey + index;
}

// What the user calls entry index, as the window and the desktop menu do:
// "entry 2" ("エントリ 2").
std::string entryName(int index);
// What the user calls a key: an entry's name, else the key itself.
std::string keyLabel(int key);

// The settings as both modes use them: each key's text, its fallback where
// the file has none or an empty one.
struct Settings {
    Settings();
    std::array<std::string, kKeyCount> values;
    // Where each value came from: "" for the settings file (or the fallback),
    // else the option that set it for this run.
    std::array<std::string, kKeyCount> origins = {};

    // A value for this run alone, from option; an empty one stands for the
    // fallback, as in the file. Never saved.
    void setForThisRun(int key, const std::string& value, std::string_view option);
};

// Why the settings file is where it is.
enum class PlaceReason {
    ProgramFolder,    // beside the program: this user may write there, and nobody else
    Packaged,         // the program's folder belongs to the package manager
    NotWritable,      // this user cannot write the program's folder
    OthersCanChange,  // other users could change the program's folder
};

// Where Tovlane.ini is, and why.
struct SettingsPlace {
    IniFolders folders;
    PlaceReason reason = PlaceReason::ProgramFolder;
    std::string programDirectory = {};
    std::string refusal = {};  // why the program's folder is not read, when it is not
};

// Beside the program when this user can write its folder and nobody else can
// change it (a per-user install, an unpacked archive, a build tree);
// otherwise the user's own $XDG_CONFIG_HOME/tovlane (~/.config/tovlane),
// which reads the machine's defaults until the first save creates it: those
// of /etc/xdg/tovlane (the first folder of $XDG_CONFIG_DIRS) for a packaged
// program, else the file beside the program if nobody but root can change it.
// SystemFailure when the system ran short while looking.
Outcome<SettingsPlace> settingsPlaceFor(const std::string& programDirectory);
// The same for the running program.
Outcome<SettingsPlace> settingsPlace();
// Why there, in one line for --help and -v.
std::string whyThere(const SettingsPlace& place);
// When the place moved a run away from a Tovlane.ini beside the program
// because other users could change it: the line that says so, so that nobody
// takes those settings for lost; "" otherwise.
std::string notUsedBesideProgram(const SettingsPlace& place);

INIAccess settingsStore(const SettingsPlace& place);

// One read of the file: every key from the same moment. Entries are read
// only where asked for: all of them (-1), or the one a send needs, which is
// left as the file holds it (UTF-8 or CP932), so a long script is never
// widened.
// SettingsUnreadable when the file exists but cannot be read as a file
// (SystemFailure when the system ran short);
// BadProtocolId when a stored "ProtocolID" names neither a request line nor -1.
Outcome<Settings> loadSettings(INIAccess& store, int onlyEntry = -1);

// Writes what the user changed (where edited differs from shown) and keeps
// for every other key what the file holds at the moment of saving, byte for
// byte, adding only the keys it lacks; one replacement of the file, so a
// failure (FileUnwritable with its reason) leaves the old file whole.
Status saveSettings(INIAccess& store, const Settings& shown, const Settings& edited);

// The number a key's value stands for by the key's rule; the key's ending,
// naming the value and where it came from, when it fails.
Outcome<long long> checkedValue(const Settings& settings, int key, const INIAccess& store);

// The stored index of the request line: -1 (none) or an index of kRequestLines.
Outcome<int> protocolIndex(const Settings& settings, const INIAccess& store);

// The selected request line; BadProtocolId when none is selected (-1).
Outcome<std::string_view> selectedRequestLine(const Settings& settings, const INIAccess& store);

// "Port" as a number; BadPort when it is not a whole number 1 to 65535.
Outcome<unsigned short> portNumber(const Settings& settings, const INIAccess& store);

}  // namespace tovlane
