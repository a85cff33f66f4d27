#pragma once

#include <stdexcept>
#include <string>

namespace tovlane {

// A file that passed the existence test but could not be read or written.
class FileAccessError : public std::runtime_error {
  public:
    FileAccessError(std::string path, std::string reason)
        : std::runtime_error(path + ": " + reason),
          Path(std::move(path)),
          Reason(std::move(reason)) {}
    std::string Path;
    std::string Reason;
};

// Reads a script file into one string, its lines run together, and writes one
// string to a file.
class WRText {
  public:
    std::string FileName;
    std::string WText;

    // The file's text with every line end (CR LF, CR or LF) removed, so empty
    // lines vanish; "" when no regular file has that name. Throws
    // FileAccessError when the file exists but cannot be read.
    std::string RFile() const;

    // Replaces the file with WText (UTF-8, no line end added), then empties
    // WText. Throws FileAccessError and keeps WText when that fails.
    void WFile();
};

// The line-joining rule of RFile, on text already in memory.
std::string joinScriptLines(std::string_view text);

}  // namespace tovlane
