#pragma once

#include <string>

#include "storage/result.h"

namespace tovlane {

// Reads a script file into one string, its lines run together, ready for the
// wire, and writes one string to a file.
class WRText {
  public:
    std::string FileName;
    std::string WText;

    // The file's text in CP932, as the SSTP wire carries it, with every line
    // end (CR LF, CR or LF) removed, so empty lines vanish; "" when no
    // regular file has that name. A file that is valid UTF-8 is UTF-8 (a
    // character CP932 cannot hold becomes "?"); any other is CP932 already.
    // NotRegularFile when the name stops being a regular file, or any file,
    // between the test and the opening; FileUnreadable, with the system's
    // reason, when it cannot be read.
    Result<std::string> RFile() const;

    // The same for a file the user named as a script file: FileMissing or
    // NotRegularFile (with the reason) when it is no regular file.
    static Result<std::string> ReadFile(const std::string& path);
    // The same for a stream that is no named file (standard input): read to
    // its end, up to limit bytes.
    static Result<std::string> FromStream(int fd, std::size_t limit);

    // Replaces the file with WText (UTF-8, no line end added), then empties
    // WText. On failure WText is kept.
    Status WFile();
};

}  // namespace tovlane
