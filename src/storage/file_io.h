#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "storage/result.h"

namespace tovlane {

// The whole of a regular file, read without ever blocking: FileMissing,
// NotRegularFile once opened (a directory, FIFO, socket or device), or
// FileUnreadable with the system's reason (a read that would block included).
Result<std::string> readRegularFile(const std::string& path);

// Makes the new contents of a file from its current ones ("" when it does
// not exist yet).
using FileEdit = std::function<Result<std::string>(std::string current)>;

// Replaces the file with what edit makes of it, as one atomic step: under an
// exclusive lock on its directory, so that concurrent editors never lose each
// other's changes, through an unnamed temporary file and a rename, so that a
// crash or a full disk leaves the old file whole. The permission bits are
// kept. A symbolic link is written through only when it belongs to this user
// or to root. A current file that cannot be read stops the edit.
Status editFile(const std::string& path, const FileEdit& edit);

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
