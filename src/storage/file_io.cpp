#include "storage/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace tovlane {
namespace {

class FileDescriptor {
  public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    ~FileDescriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    FileDescriptor& operator=(FileDescriptor&&) = delete;
    int get() const { return fd_; }
    // Closing reports errors (a full disk may surface only here).
    int close() { return ::close(std::exchange(fd_, -1)); }

  private:
    int fd_;
};

// A file may grow a little while it is read (a log someone appends to), but
// never without end.
constexpr std::size_t kGrowthAllowance = 1 << 20;
constexpr std::string_view kTemporaryPrefix = ".tovlane-";
constexpr int kMaxLinks = 40;

Error systemError(int error, ErrorCode code) {
    if (error == ENOENT && code == ErrorCode::FileUnreadable)
        code = ErrorCode::FileMissing;
    return {code, std::strerror(error)};
}

Error unwritable(int error) {
    return systemError(error, ErrorCode::FileUnwritable);
}

// The file is replaced, not rewritten, so it is the folder that must be
// writable: say so, whatever the file's own permissions.
Error unwritableIn(int error, const std::string& directory) {
    if (error != EACCES && error != EPERM && error != EROFS)
        return unwritable(error);
    return {ErrorCode::FileUnwritable,
            "フォルダー " + directory + " に書き込めません（" + std::strerror(error) + "）"};
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

std::string baseName(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::deque<std::string> components(std::string_view path) {
    std::deque<std::string> parts;
    for (std::size_t at = 0; at <= path.size();) {
        std::size_t slash = std::min(path.find('/', at), path.size());
        if (slash > at)
            parts.emplace_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    return parts;
}

// The path with every symbolic link on it resolved, directories included.
// Writing through a link keeps the user's link (e.g. into a dotfiles folder),
// but a link someone else planted, say in a shared sticky directory, must
// not send our write elsewhere.
Result<std::string> followOwnLinks(const std::string& path) {
    std::string done = path.starts_with('/') ? "/" : ".";
    std::deque<std::string> todo = components(path);
    for (int links = 0; !todo.empty();) {
        std::string name = std::move(todo.front());
        todo.pop_front();
        if (name == ".")
            continue;
        if (name == "..") {
            done = directoryOf(done);
            continue;
        }
        std::string next = joinPath(done, name);
        struct stat info {};
        if (::lstat(next.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            done = std::move(next);  // a missing name fails later, where it is opened
            continue;
        }
        if (info.st_uid != ::geteuid() && info.st_uid != 0) {
            return Error{ErrorCode::FileUnwritable,
                         next + " はほかのユーザーのシンボリックリンクなので、たどりません"};
        }
        std::vector<char> target(PATH_MAX);
        ssize_t length = ::readlink(next.c_str(), target.data(), target.size());
        if (length < 0)
            return unwritable(errno);
        if (++links > kMaxLinks)
            return unwritable(ELOOP);
        std::string_view link(target.data(), static_cast<std::size_t>(length));
        auto parts = components(link);
        todo.insert(todo.begin(), parts.begin(), parts.end());
        if (link.starts_with('/'))
            done = "/";
    }
    return done;
}

// Waits for the lock file beside the target: created for this user alone, so
// that nobody else can open it, let alone hold its lock.
Result<FileDescriptor> takeLock(const std::string& target, const LockWait& wait) {
    const std::string directory = directoryOf(target);
    const std::string path = joinPath(directory, "." + baseName(target) + ".lock");
    FileDescriptor lock(::open(
        path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600));
    struct stat info {};
    // A lock file that exists but cannot be opened is someone else's.
    if (int error = errno; lock.get() < 0 && (error != EACCES || ::lstat(path.c_str(), &info) != 0))
        return unwritableIn(error, directory);
    if (lock.get() < 0 || ::fstat(lock.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
        info.st_uid != ::geteuid()) {
        return Error{ErrorCode::FileUnwritable,
                     "ロックファイル " + path + " はほかのユーザーのものなので使えません"};
    }
    if ((info.st_mode & 077) != 0)
        ::fchmod(lock.get(), 0600);
    const auto deadline = std::chrono::steady_clock::now() + wait.limit;
    while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return unwritable(errno);
        if (std::chrono::steady_clock::now() >= deadline ||
            (wait.cancelled != nullptr && wait.cancelled->load())) {
            return Error{ErrorCode::FileUnwritable,
                         "ほかのプログラムが " + target +
                             " を保存中です。しばらくしてからもう一度保存してください"};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lock;
}

// Removes what writers of this file that died between their write and their
// rename left behind; the caller holds the lock, so none is still at work.
void sweepLeftovers(const std::string& target) {
    const std::string prefix = std::string(kTemporaryPrefix) + baseName(target) + "-";
    DIR* folder = ::opendir(directoryOf(target).c_str());
    if (folder == nullptr)
        return;
    while (const dirent* entry = ::readdir(folder)) {
        struct stat info {};
        if (std::string_view(entry->d_name).starts_with(prefix) &&
            ::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
        }
    }
    ::closedir(folder);
}

mode_t modeForNewFile(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0)
        return info.st_mode & 07777;
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// An unnamed file in the directory where the file system offers one and
// /proc can link it in (nothing is left behind if we die), otherwise a named
// one; name is set to the name the file must be linked or renamed from.
int openTemporary(const std::string& target, std::string& name, bool& unnamed) {
    const std::string directory = directoryOf(target);
    std::string templ =
        joinPath(directory, std::string(kTemporaryPrefix) + baseName(target) + "-XXXXXX");
    int fd = ::access("/proc/self/fd", X_OK) == 0
                 ? ::open(directory.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600)
                 : -1;
    unnamed = fd >= 0;
    if (unnamed) {
        name = templ.replace(templ.size() - 6, 6, std::to_string(::getpid()));
        return fd;
    }
    name = templ;
    return ::mkostemp(name.data(), O_CLOEXEC);
}

Status writeReplacement(const std::string& target, std::string_view bytes) {
    std::string tempPath;
    bool unnamed = false;
    FileDescriptor temp(openTemporary(target, tempPath, unnamed));
    if (temp.get() < 0)
        return unwritableIn(errno, directoryOf(target));
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
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, tempPath.c_str(), AT_SYMLINK_FOLLOW) != 0)
            return fail(errno);
        named = true;
    }
    if (temp.close() != 0 || ::rename(tempPath.c_str(), target.c_str()) != 0)
        return fail(errno);
    FileDescriptor dir(::open(directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0)
        ::fsync(dir.get());
    return {};
}

std::size_t physicalMemory() {
    return static_cast<std::size_t>(::sysconf(_SC_PHYS_PAGES)) *
           static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

// Reads straight into the result, so a big file is held once; the size grows
// only when a read past the expected end still finds bytes.
Result<std::string> readAll(int fd, std::size_t expected) {
    std::string bytes(expected, '\0');
    const std::size_t limit = expected + kGrowthAllowance;
    std::size_t filled = 0;
    for (;;) {
        char probe[4096];
        bool full = filled == bytes.size();
        ssize_t count = full ? ::read(fd, probe, sizeof probe)
                             : ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (count == 0)
            break;
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return systemError(errno, ErrorCode::FileUnreadable);
        if (full && filled + static_cast<std::size_t>(count) > limit)
            return Error{ErrorCode::FileUnreadable, "読み込むあいだも大きくなり続けています"};
        if (full)
            bytes.append(probe, static_cast<std::size_t>(count));
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

}  // namespace

Result<std::string> readRegularFile(const std::string& path) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        return systemError(errno, ErrorCode::FileUnreadable);
    if (!S_ISREG(info.st_mode))
        return Error{ErrorCode::NotRegularFile, "通常のファイルではありません"};
    const auto size = static_cast<std::size_t>(info.st_size);
    const Error tooLarge{ErrorCode::SystemFailure,
                         "大きすぎて読み込めません（" + std::to_string(size) + " バイト）"};
    if (size > physicalMemory())
        return tooLarge;
    try {
        return readAll(file.get(), size);
    } catch (const std::bad_alloc&) {
        return tooLarge;
    } catch (const std::length_error&) {
        return tooLarge;
    }
}

Status editFile(const std::string& path, const FileEdit& edit, const LockWait& wait) {
    auto target = followOwnLinks(path);
    if (!target)
        return target.error();
    auto lock = takeLock(*target, wait);
    if (!lock)
        return lock.error();
    sweepLeftovers(*target);
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

bool isWritableDirectory(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

Status makeDirectories(const std::string& path, unsigned mode) {
    std::string made = path.starts_with('/') ? "/" : ".";
    for (const std::string& name : components(path)) {
        made = joinPath(made, name);
        if (::mkdir(made.c_str(), mode) != 0 && errno != EEXIST)
            return unwritableIn(errno, directoryOf(made));
    }
    return {};
}

Result<std::string> executableDirectory() {
    char buffer[PATH_MAX];
    ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length > 0)
        return directoryOf(std::string(buffer, static_cast<std::size_t>(length)));
    // Without /proc: the name the kernel started the program by, resolved
    // before anything changes the current directory.
    const auto* started = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
    if (started != nullptr && ::realpath(started, buffer) != nullptr)
        return directoryOf(buffer);
    return Error{ErrorCode::SettingsUnreadable,
                 std::string("プログラムのフォルダーがわかりません（/proc も起動名 ") +
                     (started ? started : "") + " も使えません）"};
}

std::string joinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

}  // namespace tovlane
