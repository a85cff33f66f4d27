#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tovlane {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    // Closing reports errors (a full disk may surface only here).
    int close() {
        int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

  private:
    int fd_;
};

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// Writing through a link keeps the user's link (e.g. into a dotfiles folder).
std::string resolveLink(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return path;
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr)
        return path;
    return resolved;
}

mode_t modeForNewFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return info.st_mode & 07777;
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

void syncDirectory(const std::string& directory) {
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
}

Error systemError(int error, ErrorCode code = ErrorCode::FileUnwritable) {
    return {error == ENOENT && code == ErrorCode::FileUnreadable ? ErrorCode::FileMissing : code,
            std::strerror(error)};
}

}  // namespace

Result<std::string> readWholeFile(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        return systemError(errno, ErrorCode::FileUnreadable);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        ssize_t count = ::read(file.get(), buffer, sizeof buffer);
        if (count == 0)
            return bytes;
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return systemError(errno, ErrorCode::FileUnreadable);
        }
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
}

Status writeFileAtomically(const std::string& path, std::string_view bytes) {
    const std::string target = resolveLink(path);
    const std::string directory = directoryOf(target);
    std::string tempName = joinPath(directory, ".tovlane-XXXXXX");
    std::vector<char> templ(tempName.begin(), tempName.end());
    templ.push_back('\0');

    FileDescriptor temp(::mkostemp(templ.data(), O_CLOEXEC));
    if (temp.get() < 0)
        return systemError(errno);
    const char* tempPath = templ.data();
    auto fail = [&](int error) {
        ::unlink(tempPath);
        return systemError(error);
    };
    if (::fchmod(temp.get(), modeForNewFile(target)) != 0)
        return fail(errno);
    if (!writeAll(temp.get(), bytes))
        return fail(errno);
    if (::fsync(temp.get()) != 0)
        return fail(errno);
    if (temp.close() != 0)
        return fail(errno);
    if (::rename(tempPath, target.c_str()) != 0)
        return fail(errno);
    syncDirectory(directory);
    return {};
}

bool isExistingRegularFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::string executableDirectory() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0)
        return ".";
    return directoryOf(std::string(buffer, static_cast<std::size_t>(length)));
}

std::string joinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

}  // namespace tovlane
