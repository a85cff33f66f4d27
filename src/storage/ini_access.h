#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tovlane {

// The program's only access to its settings file. The file is FileName in the
// directory of the executable; every read and write goes to the file at once.
class INIAccess {
  public:
    using Values = std::vector<std::pair<std::string, std::string>>;  // key, value

    INIAccess();
    // For tests and tools: the directory that stands in for the executable's.
    explicit INIAccess(std::string programDirectory);

    std::string FileName;   // アクセスするファイル名を指定します。
    std::string Section;    // remembered from the last call that named one
    std::string LastError;  // why the last call failed; "" after one that did not

    // The value, or "" for a missing file, section or key, and for a file
    // that cannot be read (LastError says why).
    std::string GetINIData(const std::string& strSection, const std::string& strKey);
    // True when the value was written.
    bool SetINIData(const std::string& strSection, const std::string& strKey,
                    const std::string& strData);
    // Writes all the values as one replacement of the file: all or none.
    bool SetINIValues(const std::string& strSection, const Values& values);

    // The settings file's full path, for messages that name it.
    std::string FullPath() const;

  private:
    bool applySectionRule(const std::string& strSection);
    bool BuildFilePath();
    bool WriteProfile(const std::string& path, const std::string& section, const Values& values);
    std::string ReadProfile(const std::string& path, const std::string& section,
                            const std::string& key);

    std::string programDirectory_;
    std::string strFullPath;
};

}  // namespace tovlane
