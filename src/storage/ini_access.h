#pragma once

#include <string>

namespace tovlane {

// The program's only access to its settings file. The file is FileName in the
// directory of the executable; every read and write goes to the file at once.
class INIAccess {
  public:
    INIAccess();
    // For tests and tools: the directory that stands in for the executable's.
    explicit INIAccess(std::string programDirectory);

    std::string FileName;   // アクセスするファイル名を指定します。
    std::string Section;    // remembered from the last call that named one
    std::string LastError;  // the system's reason for the last failed write

    // The value, or "" for a missing file, section or key.
    std::string GetINIData(const std::string& strSection, const std::string& strKey);
    // True when the value was written.
    bool SetINIData(const std::string& strSection, const std::string& strKey,
                    const std::string& strData);

    // The settings file's full path, for messages that name it.
    std::string FullPath() const;

  private:
    bool applySectionRule(const std::string& strSection);
    bool BuildFilePath();
    bool WriteProfile(const std::string& path, const std::string& section, const std::string& key,
                      const std::string& value);
    std::string ReadProfile(const std::string& path, const std::string& section,
                            const std::string& key);

    std::string programDirectory_;
    std::string strFullPath;
};

}  // namespace tovlane
