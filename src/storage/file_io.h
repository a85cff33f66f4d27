#pragma once

#include <string>
#include <string_view>

#include "storage/result.h"

namespace tovlane {

// The whole file; FileMissing or FileUnreadable with the system's reason.
Result<std::string> readWholeFile(const std::string& path);

// Replaces path with bytes through a temporary file in the same directory and
// a rename, so a crash or a full disk never leaves a half-written file. The
// old file's permission bits are kept, and a symbolic link is written through.
// On FileUnwritable the old file is untouched.
Status writeFileAtomically(const std::string& path, std::string_view bytes);

// The existence test for script files: a regular file after following links.
// Directories, FIFOs, sockets and devices fail it; a relative name is taken
// from the current directory.
bool isExistingRegularFile(const std::string& path);

// The directory holding the running executable, without a trailing "/"
// unless it is the root directory.
std::string executableDirectory();

// Joins with exactly one "/" between directory and name.
std::string joinPath(std::string_view directory, std::string_view name);

}  // namespace tovlane
