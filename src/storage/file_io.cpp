#include "storage/file_io.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>
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
    int close() { return ::close(std::exchange(fd_, -1)); }

  private:
    int fd_;
};

Error systemError(int error, ErrorCode code) {
    if (error == ENOENT && code == ErrorCode::FileUnreadable)
        code = ErrorCode::FileMissing;
    return {code, std::strerror(error)};
}

Error unwritable(int error) {
    return systemError(error, ErrorCode::FileUnwritable);
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno != EINTR)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(std::max<ssize_t>(written, 0)));
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Writing through a link keeps the user's link (e.g. into a dotfiles folder),
// but a link someone else planted, say in a shared sticky directory, must
// not send our write elsewhere.
Result<std::string> followOwnLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        if (info.st_uid != ::geteuid() && info.st_uid != 0) {
            return Error{ErrorCode::FileUnwritable,
                         path + " はほかのユーザーのシンボリックリンクなので、たどりません"};
        }
        std::vector<char> target(PATH_MAX);
        ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return unwritable(errno);
        std::string next(target.data(), static_cast<std::size_t>(length));
        path = next.starts_with('/') ? next : joinPath(directoryOf(path), next);
    }
    return unwritable(ELOOP);
}

mode_t modeForNewFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return info.st_mode & 07777;
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// An unnamed file in the directory when the file system offers one (nothing
// is left behind if we die), otherwise a named one; name is set to the name
// the file must be linked or renamed from.
int openTemporary(const std::string& directory, std::string& name, bool& unnamed) {
    int fd = ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    unnamed = fd >= 0;
    std::string templ = joinPath(directory, ".tovlane-XXXXXX");
    if (unnamed) {
        name = templ.replace(templ.size() - 6, 6, std::to_string(::getpid()));
        return fd;
    }
    name = templ;
    return ::mkostemp(name.data(), O_CLOEXEC);
}

Status writeReplacement(const std::string& target, std::string_view bytes) {
    const std::string directory = directoryOf(target);
    std::string tempPath;
    bool unnamed = false;
    FileDescriptor temp(openTemporary(directory, tempPath, unnamed));
    // The file is replaced, not rewritten, so it is the folder that must be
    // writable: say so, whatever the file's own permissions.
    if (temp.get() < 0 && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        return Error{ErrorCode::FileUnwritable, "フォルダー " + directory + " に書き込めません（" +
                                                    std::strerror(errno) + "）"};
    }
    if (temp.get() < 0)
        return unwritable(errno);
    bool named = !unnamed;
    auto fail = [&](int error) -> Status {
        if (named)
            ::unlink(tempPath.c_str());
        return unwritable(error);
    };
    if (::fchmod(temp.get(), modeForNewFile(target)) != 0 || !writeAll(temp.get(), bytes) ||
        ::fsync(temp.get()) != 0) {
        return fail(errno);
    }
    if (unnamed) {
        std::string self = "/proc/self/fd/" + std::to_string(temp.get());
        ::unlink(tempPath.c_str());  // a leftover of a writer that died in between
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tempPath.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return fail(errno);
        named = true;
    }
    if (temp.close() != 0 || ::rename(tempPath.c_str(), target.c_str()) != 0)
        return fail(errno);
    FileDescriptor dir(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return {};
}

}  // namespace

Result<std::string> readRegularFile(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        return systemError(errno, ErrorCode::FileUnreadable);
    if (!S_ISREG(info.st_mode))
        return Error{ErrorCode::NotRegularFile, "通常のファイルではありません"};
    // Read straight into the result, so a big file is held once; the size
    // grows only when a read past the expected end still finds bytes.
    std::string bytes(static_cast<std::size_t>(info.st_size), '\0');
    std::size_t filled = 0;
    for (;;) {
        char probe[4096];
        bool full = filled == bytes.size();
        ssize_t count = full ? ::read(file.get(), probe, sizeof probe)
                             : ::read(file.get(), bytes.data() + filled, bytes.size() - filled);
        if (count == 0)
            break;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return systemError(errno, ErrorCode::FileUnreadable);
        if (full)
            bytes.append(probe, static_cast<std::size_t>(count));
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

Status editFile(const std::string& path, const FileEdit& edit) {
    auto target = followOwnLinks(path);
    if (!target)
        return target.error();
    FileDescriptor directory(
        ::open(directoryOf(*target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() < 0 || ::flock(directory.get(), LOCK_EX) != 0)
        return unwritable(errno);
    auto current = readRegularFile(*target);
    // Only a missing file may start empty: any other failure would replace
    // the user's file with what the edit makes of nothing.
    if (!current && current.error().code != ErrorCode::FileMissing)
        return current.error();
    auto replacement = edit(current ? std::move(*current) : std::string());
    if (!replacement)
        return replacement.error();
    return writeReplacement(*target, *replacement);
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
