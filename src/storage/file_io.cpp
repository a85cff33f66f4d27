#include "storage/file_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/auxv.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "storage/localized.h"

namespace tovlane {
namespace {

// A file may grow a little while it is read (a log someone appends to), but
// never without end.
constexpr std::size_t kGrowthAllowance = 1 << 20;

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

Result<std::string> readOpened(FileDescriptor file) {
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

constexpr int kReadFlags = O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Reads a stream of unknown length in pieces, then joins them into one
// string of the right size, freeing each piece as it goes: never more than
// the stream's bytes twice, unlike a string that doubles as it grows.
Result<std::string> readPieces(int fd, std::size_t limit) {
    constexpr std::size_t kPiece = 1 << 20;
    std::vector<std::string> pieces;
    std::size_t total = 0;
    for (bool ended = false; !ended;) {
        std::string piece(kPiece, '\0');
        std::size_t filled = 0;
        while (filled < piece.size()) {
            ssize_t count = ::read(fd, piece.data() + filled, piece.size() - filled);
            if (count < 0 && errno == EAGAIN) {
                pollfd ready{fd, POLLIN, 0};  // a stream another program made non-blocking
                ::poll(&ready, 1, -1);
                continue;
            }
            if (count < 0 && errno == EINTR)
                continue;
            if (count < 0)
                return systemError(errno, ErrorCode::FileUnreadable);
            if (count == 0) {
                ended = true;
                break;
            }
            filled += static_cast<std::size_t>(count);
        }
        total += filled;
        if (total > limit) {
            return Error{ErrorCode::FileUnreadable,
                         localized("it holds more than {} MiB", "{} MiB を超えています",
                                   {std::to_string(limit >> 20)})};
        }
        piece.resize(filled);
        pieces.push_back(std::move(piece));
    }
    std::string bytes;
    bytes.reserve(total);
    for (std::string& piece : pieces)
        bytes.append(piece), std::string().swap(piece);
    return bytes;
}

}  // namespace

Result<std::string> readStream(int fd, std::size_t limit) {
    try {
        return readPieces(fd, limit);
    } catch (const std::bad_alloc&) {
        return Error{ErrorCode::OutOfResources,
                     localized("not enough memory to read it", "読み込むメモリが足りません")};
    }
}

Result<std::string> readRegularFile(const std::string& path) {
    return readOpened(FileDescriptor(::open(path.c_str(), kReadFlags)));
}

Result<std::string> readRegularFileAt(int folder, const std::string& name) {
    return readOpened(FileDescriptor(::openat(folder, name.c_str(), kReadFlags | O_NOFOLLOW)));
}

bool isExistingRegularFile(const std::string& path) {
    struct stat info {};
    return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
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

Error systemError(int error, ErrorCode code) {
    if (error == ENOENT && code == ErrorCode::FileUnreadable)
        code = ErrorCode::FileMissing;
    if (isResourceShortage(error))
        code = ErrorCode::OutOfResources;
    return {code, systemText(error)};
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

std::string directoryOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace tovlane
