#pragma once

#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

#include "storage/result.h"

namespace tovlane {

// An open file descriptor, closed with its owner.
class FileDescriptor {
  public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }
    int get() const { return fd_; }
    // Closing reports errors (a full disk may surface only here).
    int close() { return ::close(std::exchange(fd_, -1)); }

  private:
    int fd_;
};

// The whole of a regular file, read without ever blocking: FileMissing,
// NotRegularFile once opened (a directory, FIFO, socket or device),
// OutOfResources when the system has no file descriptor or memory left, or
// FileUnreadable with the reason (a read that would block, a file larger than
// the machine's memory or one that keeps growing while it is read included).
Result<std::string> readRegularFile(const std::string& path);
// The same for a name in a folder held open, never following a link there.
Result<std::string> readRegularFileAt(int folder, const std::string& name);

// Everything a stream (a pipe, a terminal, a file) holds until its end, at
// most limit bytes (whole MiB), waiting for it as long as it takes: FileUnreadable with
// the reason (a directory, more than limit bytes) otherwise, OutOfResources
// without memory. Held once, but for one piece of 1 MiB.
Result<std::string> readStream(int fd, std::size_t limit);

// The existence test for script files: a regular file after following links.
// Directories, FIFOs, sockets and devices fail it; a relative name is taken
// from the current directory.
bool isExistingRegularFile(const std::string& path);

// The directory holding the running executable, without a trailing "/"
// unless it is the root directory; found through /proc, or without it
// through the name the program was started by.
Result<std::string> executableDirectory();

// A failure with the system's text for errno value error: FileMissing for a
// missing file that was to be read, OutOfResources when the system ran short.
Error systemError(int error, ErrorCode code);
// Whether an errno value says the system ran short (descriptors, memory,
// buffers), rather than anything being wrong with what was asked for.
bool isResourceShortage(int error);
// Whether this process has no file descriptor left to open.
bool descriptorsExhausted();

// Joins with exactly one "/" between directory and name.
std::string joinPath(std::string_view directory, std::string_view name);
// The folder part of a path ("." for a bare name).
std::string directoryOf(const std::string& path);

}  // namespace tovlane
