#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tovlane {

// The outcome of reading a whole file: its bytes, or why it could not be read.
struct FileBytes {
    std::string bytes;
    int error = 0;  // errno of the failed step; 0 on success
    bool ok() const { return error == 0; }
};

FileBytes readWholeFile(const std::string& path);

// Replaces path with bytes through a temporary file in the same directory and
// a rename, so a crash or a full disk never leaves a half-written file. The
// old file's permission bits are kept, and a symbolic link is written through.
// Returns the system's reason on failure; the old file is then untouched.
std::optional<std::string> writeFileAtomically(const std::string& path, std::string_view bytes);

// The existence test for script files: a regular file after following links.
// Directories, FIFOs, sockets and devices fail it; a relative name is taken
// from the current directory.
bool isExistingRegularFile(const std::string& path);

// The directory holding the running executable, without a trailing "/"
// unless it is the root directory.
std::string executableDirectory();

// Joins with exactly one "/" between directory and name.
std::string joinPath(std::string_view directory, std::string_view name);

std::string systemReason(int error);

}  // namespace tovlane
