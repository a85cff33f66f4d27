#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "storage/result.h"
#include "storage/settings_folder.h"

namespace tovlane {

// Makes the new contents of a file from its current ones ("" when it does
// not exist yet).
using FileEdit = std::function<Result<std::string>(std::string current)>;

// How long a save waits for another program's save to finish, and a flag
// that makes it give up early (a window that is closed while it waits).
struct LockWait {
    std::chrono::milliseconds limit = std::chrono::seconds(10);
    const std::atomic<bool>* cancelled = nullptr;
};

// Replaces the file at spot with what edit makes of it, as one atomic step:
// under an exclusive lock on a lock file beside it that only those who can
// write the folder can open, so that concurrent editors never lose each
// other's changes and nobody else can stall them; through a temporary file
// and a rename, so that a crash or a full disk leaves the old file whole. The
// permission bits are kept. Every step names files relative to the folder
// held open. A current file that cannot be read stops the edit. Under the
// lock, what killed saves left behind is removed first.
Status replaceLocked(const FileSpot& spot, const FileEdit& edit, const LockWait& wait = {});

// The same for a path, found with locateFile.
Status editFile(const std::string& path, const FileEdit& edit, const LockWait& wait = {});

}  // namespace tovlane
