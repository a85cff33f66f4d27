#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "storage/result.h"

namespace tovlane {

// The whole of a regular file, read without ever blocking: FileMissing,
// NotRegularFile once opened (a directory, FIFO, socket or device),
// OutOfResources when the system has no file descriptor or memory left, or
// FileUnreadable with the reason (a read that would block, a file larger than
// the machine's memory or one that keeps growing while it is read included).
Result<std::string> readRegularFile(const std::string& path);

// Makes the new contents of a file from its current ones ("" when it does
// not exist yet).
using FileEdit = std::function<Result<std::string>(std::string current)>;

// How long a save waits for another program's save to finish, and a flag
// that makes it give up early (a window that is closed while it waits).
struct LockWait {
    std::chrono::milliseconds limit = std::chrono::seconds(10);
    const std::atomic<bool>* cancelled = nullptr;
};

// Replaces the file with what edit makes of it, as one atomic step: under an
// exclusive lock on a lock file beside it that only this user can open, so
// that concurrent editors never lose each other's changes and nobody else can
// stall them; through a temporary file and a rename, so that a crash or a
// full disk leaves the old file whole. The permission bits are kept. Every
// symbolic link on the path must belong to this user or to root. A current
// file that cannot be read stops the edit.
Status editFile(const std::string& path, const FileEdit& edit, const LockWait& wait = {});

// The existence test for script files: a regular file after following links.
// Directories, FIFOs, sockets and devices fail it; a relative name is taken
// from the current directory.
bool isExistingRegularFile(const std::string& path);

// Whether this user may create files in the directory.
bool isWritableDirectory(const std::string& path);

// Whether the path names nothing yet, or something of this user's.
bool isMissingOrOwn(const std::string& path);

// Creates the directory and any missing parent with the given mode.
Status makeDirectories(const std::string& path, unsigned mode);

// The directory holding the running executable, without a trailing "/"
// unless it is the root directory; found through /proc, or without it
// through the name the program was started by.
Result<std::string> executableDirectory();

// Whether an errno value says the system ran short (descriptors, memory,
// buffers), rather than anything being wrong with what was asked for.
bool isResourceShortage(int error);
// Whether this process has no file descriptor left to open.
bool descriptorsExhausted();

// Joins with exactly one "/" between directory and name.
std::string joinPath(std::string_view directory, std::string_view name);

}  // namespace tovlane
