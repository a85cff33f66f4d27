#include "storage/file_io.h"

#include "storage/localized.h"

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
#include <random>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "storage/localized.h"

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

// A file may grow a little while it is read (a log someone appends to), but
// never without end.
constexpr std::size_t kGrowthAllowance = 1 << 20;
constexpr std::string_view kTemporaryPrefix = ".tovlane-";
constexpr int kMaxLinks = 40;

Error systemError(int error, ErrorCode code) {
    if (error == ENOENT && code == ErrorCode::FileUnreadable)
        code = ErrorCode::FileMissing;
    if (isResourceShortage(error))
        code = ErrorCode::OutOfResources;
    return {code, systemText(error)};
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
            localized("cannot write in the folder {} ({})", "フォルダー {} に書き込めません（{}）",
                      {directory, systemText(error)})};
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
    std::string done = "/";
    std::deque<std::string> todo = components(path);
    if (!path.starts_with('/')) {
        std::vector<char> current(PATH_MAX);
        if (::getcwd(current.data(), current.size()) == nullptr)
            return unwritable(errno);
        auto start = components(current.data());
        todo.insert(todo.begin(), start.begin(), start.end());
    }
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
            return Error{
                ErrorCode::FileUnwritable,
                localized("{} is another user's symbolic link, which is never followed",
                          "{} はほかのユーザーのシンボリックリンクなので、たどりません", {next})};
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

// Whether only those who can write the folder can open the lock file: its
// owner made it there (or is the folder's owner), others have no access, and
// its group may open it only in a folder that group may write.
bool onlyWritersCanOpen(const struct stat& lock, const struct stat& folder, bool shared) {
    bool groupOfFolder = shared && lock.st_gid == folder.st_gid;
    return S_ISREG(lock.st_mode) && lock.st_nlink == 1 && (lock.st_mode & 007) == 0 &&
           ((lock.st_mode & 070) == 0 || groupOfFolder) &&
           (lock.st_uid == ::geteuid() || lock.st_uid == folder.st_uid || groupOfFolder);
}

// Waits for the lock file beside the target, one that only those who can
// write the folder can open (0600, or 0660 for a folder its group may write),
// so that nobody who could not change the settings anyway can hold a save up.
// Root's save in a user's folder hands the lock file over to the user.
Result<FileDescriptor> takeLock(const std::string& target, const LockWait& wait) {
    const std::string directory = directoryOf(target);
    const std::string path = joinPath(directory, "." + baseName(target) + ".lock");
    struct stat folder {};
    if (::stat(directory.c_str(), &folder) != 0)
        return unwritable(errno);
    const bool shared = (folder.st_mode & 022) == 020;  // group-writable, not world-writable
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    FileDescriptor lock(::open(path.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    const bool created = lock.get() >= 0;
    if (!created && errno == EEXIST)
        lock = FileDescriptor(::open(path.c_str(), kFlags));
    struct stat info {};
    if (int error = errno; lock.get() < 0) {
        if (::lstat(path.c_str(), &info) != 0)
            return unwritableIn(error, directory);
        return Error{ErrorCode::FileUnwritable,
                     localized("cannot open the lock file {} ({})",
                               "ロックファイル {} を開けません（{}）", {path, systemText(error)})};
    }
    if (created) {
        const uid_t owner = ::geteuid() == 0 ? folder.st_uid : uid_t(-1);
        bool handed = (owner == uid_t(-1) && !shared) ||
                      ::fchown(lock.get(), owner, shared ? folder.st_gid : gid_t(-1)) == 0;
        if (!handed || ::fchmod(lock.get(), shared ? 0660 : 0600) != 0)
            return unwritable(errno);
    }
    if (::fstat(lock.get(), &info) != 0 || !onlyWritersCanOpen(info, folder, shared)) {
        return Error{ErrorCode::FileUnwritable,
                     localized("the lock file {} is not used: it belongs to another user, others "
                               "can open it, or it is not a regular file",
                               "ロックファイル {} は、ほかのユーザーのものか、ほかの人も開けるか、"
                               "通常のファイルではないので使えません",
                               {path})};
    }
    const auto deadline = std::chrono::steady_clock::now() + wait.limit;
    while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR)
            return unwritable(errno);
        if (std::chrono::steady_clock::now() >= deadline ||
            (wait.cancelled != nullptr && wait.cancelled->load())) {
            return Error{ErrorCode::FileUnwritable,
                         localized("another program is saving {}; try saving again in a moment",
                                   "ほかのプログラムが {} を保存中です。しばらくしてからもう一度"
                                   "保存してください",
                                   {target})};
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
        std::string_view name(entry->d_name);
        if (name.starts_with(prefix) && name.size() > prefix.size() &&
            name.find_first_not_of("0123456789", prefix.size()) == std::string_view::npos &&
            ::fstatat(::dirfd(folder), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
            ::unlinkat(::dirfd(folder), entry->d_name, 0);
        }
    }
    ::closedir(folder);
}

// The mode new files get, read without changing it: another thread may be
// creating files meanwhile.
mode_t modeForNewFile() {
    auto status = readRegularFile("/proc/self/status");
    std::size_t at = status ? status->find("\nUmask:\t") : std::string::npos;
    if (at != std::string::npos)
        return 0666 & ~static_cast<mode_t>(std::strtoul(status->c_str() + at + 8, nullptr, 8));
    mode_t mask = ::umask(0);  // no /proc: the only other way to learn it
    ::umask(mask);
    return 0666 & ~mask;
}

// A new file in the target's folder under a name no one can guess, open to
// this user alone until it is complete; name is set to its path.
int openTemporary(const std::string& target, std::string& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = joinPath(directoryOf(target), std::string(kTemporaryPrefix) + baseName(target) +
                                                 "-" + std::to_string(random()));
        int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The replacement takes the replaced file's permission bits, and its owner
// when root saves; a new file gets the user's umask, and when root saves in
// a user's folder, the folder's owner.
bool takeOwnerAndMode(int fd, const std::string& target) {
    struct stat old {
    }, folder{};
    bool replacing = ::lstat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode);
    if (!replacing && ::stat(directoryOf(target).c_str(), &folder) == 0) {
        old.st_uid = folder.st_uid;
        old.st_gid = folder.st_gid;
    }
    bool owned = ::geteuid() != 0 || (old.st_uid == 0 && old.st_gid == 0) ||
                 ::fchown(fd, old.st_uid, old.st_gid) == 0;
    return owned && ::fchmod(fd, replacing ? old.st_mode & 07777 : modeForNewFile()) == 0;
}

Status writeReplacement(const std::string& target, std::string_view bytes) {
    std::string tempPath;
    FileDescriptor temp(openTemporary(target, tempPath));
    if (temp.get() < 0)
        return unwritableIn(errno, directoryOf(target));
    auto fail = [&](int error) -> Status {
        ::unlink(tempPath.c_str());
        return unwritable(error);
    };
    // Written while private; opened up, as the file it replaces was, last.
    if (!writeAll(temp.get(), bytes) || ::fsync(temp.get()) != 0 ||
        !takeOwnerAndMode(temp.get(), target)) {
        return fail(errno);
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
            return Error{ErrorCode::FileUnreadable,
                         localized("it keeps growing while it is read",
                                   "読み込むあいだも大きくなり続けています")};
        if (full)
            bytes.append(probe, static_cast<std::size_t>(count));
        filled += static_cast<std::size_t>(count);
    }
    bytes.resize(filled);
    return bytes;
}

Result<std::string> readFile(const std::string& path, int flags) {
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | flags));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0)
        return systemError(errno, ErrorCode::FileUnreadable);
    if (!S_ISREG(info.st_mode))
        return Error{ErrorCode::NotRegularFile,
                     localized("not a regular file", "通常のファイルではありません")};
    const auto size = static_cast<std::size_t>(info.st_size);
    // Larger than the machine's memory is the file's fault; no memory left
    // for a file that would fit is the system's.
    const std::string sizeText = std::to_string(size);
    if (size > physicalMemory()) {
        return Error{ErrorCode::FileUnreadable,
                     localized("too large to read ({} bytes)",
                               "大きすぎて読み込めません（{} バイト）", {sizeText})};
    }
    try {
        return readAll(file.get(), size);
    } catch (const std::bad_alloc&) {
        return Error{ErrorCode::OutOfResources,
                     localized("not enough memory to read it ({} bytes)",
                               "読み込むメモリが足りません（{} バイト）", {sizeText})};
    }
}

}  // namespace

Result<std::string> readRegularFile(const std::string& path) {
    return readFile(path, 0);
}

Status editFile(const std::string& path, const FileEdit& edit, const LockWait& wait) {
    auto target = followOwnLinks(path);
    if (!target)
        return target.error();
    auto lock = takeLock(*target, wait);
    if (!lock)
        return lock.error();
    sweepLeftovers(*target);
    // The path was checked link by link: a link that appears now is not followed.
    auto current = readFile(*target, O_NOFOLLOW);
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

bool isMissingOrOwn(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) != 0 ? errno == ENOENT : info.st_uid == ::geteuid();
}

Status makeDirectories(const std::string& path, unsigned mode) {
    auto resolved = followOwnLinks(path);
    if (!resolved)
        return resolved.error();
    std::string made = "/";
    for (const std::string& name : components(*resolved)) {
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
    if (isResourceShortage(errno))
        return systemError(errno, ErrorCode::FileUnreadable);
    // Without /proc: the name the kernel started the program by, resolved
    // before anything changes the current directory.
    const auto* started = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
    if (started != nullptr && ::realpath(started, buffer) != nullptr)
        return directoryOf(buffer);
    return Error{ErrorCode::FileUnreadable,
                 localized("cannot tell the program's folder (neither /proc nor the name it "
                           "was started by, {}, can be used)",
                           "プログラムのフォルダーがわかりません（/proc も起動名 {} も使えません）",
                           {started ? started : ""})};
}

bool isResourceShortage(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == ENOBUFS;
}

bool descriptorsExhausted() {
    int probe = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 0);
    if (probe >= 0)
        ::close(probe);
    return probe < 0 && (errno == EMFILE || errno == ENFILE);
}

std::string joinPath(std::string_view directory, std::string_view name) {
    std::string path(directory);
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
    return path;
}

}  // namespace tovlane
