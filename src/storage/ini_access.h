#pragma once

#include <string>
#include <vector>

#include "storage/ini_document.h"
#include "storage/locked_replace.h"

namespace tovlane {

// Where the settings file is read and saved.
struct IniFolders {
    std::string directory;               // where it is read and saved
    std::string fallbackDirectory = {};  // read while directory has none (the machine's defaults)
    bool ownFolder = false;              // directory is the user's own: it must be theirs
};

// The program's only access to its settings file: FileName in a directory
// the caller chooses. Every read takes the file as it is at that moment, and
// every write goes to the file at once. Reads and writes find the file the
// same way: the user's own links followed, anyone else's refused, and only
// in a folder nobody but this user and root can change (checkFolder).
class INIAccess {
  public:
    struct Value {
        std::string key;
        std::string data;
        bool onlyIfMissing = false;  // keep what the file already holds for the key
        std::string label = {};      // what the user calls it, for messages ("" : the key)
    };
    using Values = std::vector<Value>;

    explicit INIAccess(IniFolders folders);
    explicit INIAccess(std::string directory) : INIAccess(IniFolders{std::move(directory)}) {}

    std::string FileName;   // アクセスするファイル名を指定します。
    std::string Section;    // remembered from the last call that named one
    std::string LastError;  // why the last call failed; "" after one that did not
    ErrorCode LastErrorCode = ErrorCode::FileUnreadable;  // what kind of failure, when one
    std::string ReadPath;  // the file the last read found, "" when there was none
    LockWait Wait;         // how long a write waits for another program's write

    // The value, or "" for a missing file, section or key, and for a file
    // that cannot be read (LastError says why).
    std::string GetINIData(const std::string& strSection, const std::string& strKey);
    // True when the value was written.
    bool SetINIData(const std::string& strSection, const std::string& strKey,
                    const std::string& strData);
    // Writes the values in order as one replacement of the file: all or none.
    // A file in CP932 (not UTF-8) stays CP932: a value holding a character
    // CP932 cannot hold is refused, naming it, and nothing is written.
    bool SetINIValues(const std::string& strSection, const Values& values);

    // The whole file as one snapshot, for callers that take several keys from
    // the same moment: empty for a missing file, and for one that cannot be
    // read (LastError says why).
    IniDocument ReadINIFile();

    // The settings file's full path, where writes go, for messages that name it.
    std::string FullPath() const;

  private:
    bool applySectionRule(const std::string& strSection);
    bool BuildFilePath();
    // The settings file in directory, found as every read and save finds it.
    Result<FileSpot> spotIn(const std::string& directory, FolderOwner owner,
                            bool createFolders) const;
    bool WriteProfile(const std::string& section, const Values& values);
    std::string ReadProfile(const std::string& section, const std::string& key);
    bool fail(const Error& error);
    // Who the folder where the file is read and saved must belong to.
    FolderOwner directoryOwner() const;

    IniFolders folders_;
    std::string strFullPath;
};

}  // namespace tovlane
