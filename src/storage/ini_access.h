#pragma once

#include <string>
#include <vector>

#include "storage/file_io.h"
#include "storage/ini_document.h"

namespace tovlane {

// The program's only access to its settings file: FileName in a directory
// the caller chooses. Every read takes the file as it is at that moment, and
// every write goes to the file at once.
class INIAccess {
  public:
    struct Value {
        std::string key;
        std::string data;
        bool onlyIfMissing = false;  // keep what the file already holds for the key
    };
    using Values = std::vector<Value>;

    // Reads and writes go to directory; while the file is missing there, reads
    // take it from fallbackDirectory instead (the machine's defaults), if any.
    explicit INIAccess(std::string directory, std::string fallbackDirectory = {});

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
    bool WriteProfile(const std::string& path, const std::string& section, const Values& values);
    std::string ReadProfile(const std::string& section, const std::string& key);
    bool ownFolderIsSomeoneElses();

    std::string directory_;
    std::string fallbackDirectory_;
    std::string strFullPath;
};

}  // namespace tovlane
