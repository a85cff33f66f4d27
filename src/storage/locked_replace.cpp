#include "storage/locked_replace.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <thread>

#include "storage/localized.h"

namespace tovlane {
namespace {

constexpr std::string_view kTemporaryPrefix = ".tovlane-";
// What versions before 0.11.9 named their temporary files: the prefix and
// six random letters or digits.
constexpr std::size_t kOldTemporaryLetters = 6;

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

// Whether only those who can write the folder can open the lock file: this
// user made it, or a member of the folder's group in a folder that group may
// write; others have no access, its group only in such a folder.
bool onlyWritersCanOpen(const struct stat& lock, const struct stat& folder, bool shared) {
    bool groupOfFolder = shared && lock.st_gid == folder.st_gid;
    return S_ISREG(lock.st_mode) && lock.st_nlink == 1 && (lock.st_mode & 007) == 0 &&
           ((lock.st_mode & 070) == 0 || groupOfFolder) &&
           (lock.st_uid == ::geteuid() || groupOfFolder);
}

// Waits for the lock file beside the target, one that only those who can
// write the folder can open (0600, or 0660 for a folder its group may write),
// so that nobody who could not change the settings anyway can hold a save up.
Result<FileDescriptor> takeLock(const FileSpot& spot, const LockWait& wait) {
    const int at = spot.folder.get();
    const std::string name = "." + spot.name + ".lock";
    const std::string path = joinPath(spot.folderPath, name);
    struct stat folder {};
    if (::fstat(at, &folder) != 0)
        return unwritable(errno);
    const bool shared = (folder.st_mode & 022) == 020;  // group-writable, not world-writable
    constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    FileDescriptor lock(::openat(at, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    const bool created = lock.get() >= 0;
    if (!created && errno == EEXIST)
        lock = FileDescriptor(::openat(at, name.c_str(), kFlags));
    struct stat info {};
    if (int error = errno; lock.get() < 0) {
        if (::fstatat(at, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return unwritableIn(error, spot.folderPath);
        return Error{ErrorCode::FileUnwritable,
                     localized("cannot open the lock file {} ({})",
                               "ロックファイル {} を開けません（{}）", {path, systemText(error)})};
    }
    if (created && shared &&
        (::fchown(lock.get(), uid_t(-1), folder.st_gid) != 0 || ::fchmod(lock.get(), 0660) != 0))
        return unwritable(errno);
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
                                   {joinPath(spot.folderPath, spot.name)})};
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lock;
}

// Whether a name is one a save of this file makes for its temporary file
// (".tovlane-Tovlane.ini-" and digits), or one that earlier versions made
// (".tovlane-" and six letters or digits).
bool isTemporaryName(std::string_view name, const std::string& target) {
    if (!name.starts_with(kTemporaryPrefix))
        return false;
    name.remove_prefix(kTemporaryPrefix.size());
    auto all = [](std::string_view text, const char* allowed) {
        return !text.empty() && text.find_first_not_of(allowed) == std::string_view::npos;
    };
    if (name.size() == kOldTemporaryLetters)
        return all(name, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
    return name.starts_with(target + "-") && all(name.substr(target.size() + 1), "0123456789");
}

// Removes what writers of this file that died between their write and their
// rename left behind; the caller holds the lock, so none is still at work.
void sweepLeftovers(const FileSpot& spot) {
    const int listed = ::openat(spot.folder.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = listed >= 0 ? ::fdopendir(listed) : nullptr;  // closes listed from now on
    if (folder == nullptr) {
        if (listed >= 0)
            ::close(listed);
        return;
    }
    while (const dirent* entry = ::readdir(folder)) {
        struct stat info {};
        if (isTemporaryName(entry->d_name, spot.name) &&
            ::fstatat(spot.folder.get(), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(info.st_mode) && info.st_uid == ::geteuid()) {
            ::unlinkat(spot.folder.get(), entry->d_name, 0);
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
// this user alone until it is complete; name is set to its name there.
int openTemporary(const FileSpot& spot, std::string& name) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = std::string(kTemporaryPrefix) + spot.name + "-" + std::to_string(random());
        int fd = ::openat(spot.folder.get(), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

// The replacement takes the replaced file's permission bits, and its owner
// and group when root saves; a new file gets the user's umask.
bool takeOwnerAndMode(int fd, const FileSpot& spot) {
    struct stat old {};
    bool replacing =
        ::fstatat(spot.folder.get(), spot.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(old.st_mode);
    bool owned = !replacing || ::geteuid() != 0 || ::fchown(fd, old.st_uid, old.st_gid) == 0;
    return owned && ::fchmod(fd, replacing ? old.st_mode & 07777 : modeForNewFile()) == 0;
}

Status writeReplacement(const FileSpot& spot, std::string_view bytes) {
    std::string tempName;
    FileDescriptor temp(openTemporary(spot, tempName));
    if (temp.get() < 0)
        return unwritableIn(errno, spot.folderPath);
    const int at = spot.folder.get();
    auto fail = [&](int error) -> Status {
        ::unlinkat(at, tempName.c_str(), 0);
        return unwritable(error);
    };
    // Written while private; opened up, as the file it replaces was, last.
    if (!writeAll(temp.get(), bytes) || ::fsync(temp.get()) != 0 ||
        !takeOwnerAndMode(temp.get(), spot)) {
        return fail(errno);
    }
    if (temp.close() != 0 || ::renameat(at, tempName.c_str(), at, spot.name.c_str()) != 0)
        return fail(errno);
    // What an O_PATH descriptor cannot do: sync the folder, so the rename lasts.
    FileDescriptor folder(::openat(at, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0)
        ::fsync(folder.get());
    return {};
}

}  // namespace

Status replaceLocked(const FileSpot& spot, const FileEdit& edit, const LockWait& wait) {
    auto lock = takeLock(spot, wait);
    if (!lock)
        return lock.error();
    sweepLeftovers(spot);
    auto current = readRegularFileAt(spot.folder.get(), spot.name);
    // Only a missing file may start empty: any other failure would replace
    // the user's file with what the edit makes of nothing.
    if (!current && current.error().code != ErrorCode::FileMissing)
        return current.error();
    auto replacement = edit(current ? std::move(*current) : std::string());
    if (!replacement)
        return replacement.error();
    return writeReplacement(spot, *replacement);
}

Status editFile(const std::string& path, const FileEdit& edit, const LockWait& wait) {
    auto spot = locateFile(path);
    if (!spot)
        return spot.error();
    return replaceLocked(*spot, edit, wait);
}

}  // namespace tovlane
