#include "storage/settings_folder.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <optional>
#include <vector>

#include "storage/localized.h"

namespace tovlane {
namespace {

constexpr int kMaxLinks = 40;
constexpr int kFolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

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

bool trustedUser(uid_t uid) {
    return uid == ::geteuid() || uid == 0;
}

// A group's name and the users listed in it.
struct GroupEntry {
    std::string name;
    std::vector<std::string> members;
};

GroupEntry entryOf(const group& found) {
    GroupEntry entry{found.gr_name, {}};
    for (char** member = found.gr_mem; *member != nullptr; ++member)
        entry.members.emplace_back(*member);
    return entry;
}

// The users and groups come from the system's name services; the static
// sender cannot load their modules, and reads the files alone.
#ifdef TOVLANE_FILES_ONLY
template <typename Visit>
void eachUser(Visit visit) {
    if (std::FILE* file = std::fopen("/etc/passwd", "re")) {
        while (const passwd* user = ::fgetpwent(file))
            visit(*user);
        std::fclose(file);
    }
}

// nullopt for an unknown group.
std::optional<GroupEntry> groupEntry(gid_t gid) {
    std::optional<GroupEntry> entry;
    if (std::FILE* file = std::fopen("/etc/group", "re")) {
        while (const group* found = ::fgetgrent(file)) {
            if (found->gr_gid == gid) {
                entry = entryOf(*found);
                break;
            }
        }
        std::fclose(file);
    }
    return entry;
}
#else
template <typename Visit>
void eachUser(Visit visit) {
    ::setpwent();
    while (const passwd* user = ::getpwent())
        visit(*user);
    ::endpwent();
}

// nullopt for an unknown group.
std::optional<GroupEntry> groupEntry(gid_t gid) {
    const group* found = ::getgrgid(gid);
    return found != nullptr ? std::optional(entryOf(*found)) : std::nullopt;
}
#endif

// Whether a user besides this one and root belongs to the group: listed in
// it, or having it as their own group. An unknown group, or a member who is
// no known user, may be anyone.
bool groupHasAnotherMember(gid_t gid, const GroupEntry& entry) {
    bool other = false;
    std::size_t known = 0;
    eachUser([&](const passwd& user) {
        bool listed = std::find(entry.members.begin(), entry.members.end(), user.pw_name) !=
                      entry.members.end();
        known += listed ? 1 : 0;
        if ((listed || user.pw_gid == gid) && !trustedUser(user.pw_uid))
            other = true;
    });
    return other || known < entry.members.size();
}

std::string modeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Who besides this user and root may write in a folder: "" for nobody.
std::string otherWriters(const struct stat& folder) {
    const std::string mode = modeText(folder.st_mode);
    if ((folder.st_mode & S_IWOTH) != 0)
        return localized("every user may write in it (mode {})",
                         "すべてのユーザーが書き込めます（モード {}）", {mode});
    if ((folder.st_mode & S_IWGRP) == 0)
        return "";
    auto entry = groupEntry(folder.st_gid);
    if (!entry || groupHasAnotherMember(folder.st_gid, *entry)) {
        const std::string name = entry ? entry->name : std::to_string(folder.st_gid);
        return localized("the members of its group {} may write in it (mode {})",
                         "グループ {} のメンバーが書き込めます（モード {}）", {name, mode});
    }
    return "";
}

Error refusal(std::string reason) {
    return {ErrorCode::Untrusted, std::move(reason)};
}

// One step of the walk: the folder reached so far.
struct Reached {
    FileDescriptor folder;
    std::string path;
};

Result<Reached> openFrom(int at, const char* name, std::string path) {
    FileDescriptor folder(::openat(at, name, kFolderFlags));
    if (folder.get() < 0)
        return systemError(errno, ErrorCode::FileUnreadable);
    return Reached{std::move(folder), std::move(path)};
}

// The folder a walk starts from: "/" for an absolute path, else the current
// directory.
Result<Reached> startOf(const std::string& path) {
    if (path.starts_with('/'))
        return openFrom(AT_FDCWD, "/", "/");
    std::vector<char> current(PATH_MAX);
    if (::getcwd(current.data(), current.size()) == nullptr)
        return systemError(errno, ErrorCode::FileUnreadable);
    return openFrom(AT_FDCWD, ".", current.data());
}

// The walk: each name is looked up in the folder held so far; links of this
// user's or root's are expanded in place, anyone else's refused. With
// lastIsFile the last name is left for the caller, whatever it is.
Result<FileSpot> walk(Result<Reached> start, const std::string& path, bool lastIsFile,
                      bool createFolders) {
    std::deque<std::string> todo = components(path);
    if (!start)
        return start.error();
    Reached here = std::move(*start);
    for (int links = 0; !todo.empty();) {
        std::string name = std::move(todo.front());
        todo.pop_front();
        const bool last = todo.empty() && lastIsFile;
        if (name == "." || (name == ".." && here.path == "/"))
            continue;
        if (name == ".." && !last) {
            auto parent = openFrom(here.folder.get(), "..", directoryOf(here.path));
            if (!parent)
                return parent.error();
            here = std::move(*parent);
            continue;
        }
        const std::string next = joinPath(here.path, name);
        struct stat info {};
        if (::fstatat(here.folder.get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno == ENOENT && last)
                return FileSpot{std::move(here.folder), here.path, name};
            if (errno != ENOENT || !createFolders)
                return systemError(errno, ErrorCode::FileUnreadable);
            if (::mkdirat(here.folder.get(), name.c_str(), 0700) != 0 && errno != EEXIST)
                return Error{
                    ErrorCode::FileUnwritable,
                    localized("cannot make the folder {} ({})", "フォルダー {} を作れません（{}）",
                              {next, systemText(errno)})};
            todo.push_front(name);  // now look it up again, as any folder
            continue;
        }
        if (S_ISLNK(info.st_mode)) {
            if (!trustedUser(info.st_uid)) {
                return refusal(localized(
                    "{} is another user's symbolic link, which is never followed",
                    "{} はほかのユーザーのシンボリックリンクなので、たどりません", {next}));
            }
            std::vector<char> target(PATH_MAX);
            ssize_t length =
                ::readlinkat(here.folder.get(), name.c_str(), target.data(), target.size());
            if (length < 0)
                return systemError(errno, ErrorCode::FileUnreadable);
            if (++links > kMaxLinks)
                return systemError(ELOOP, ErrorCode::FileUnreadable);
            std::string_view link(target.data(), static_cast<std::size_t>(length));
            auto parts = components(link);
            todo.insert(todo.begin(), parts.begin(), parts.end());
            if (link.starts_with('/')) {
                auto root = openFrom(AT_FDCWD, "/", "/");
                if (!root)
                    return root.error();
                here = std::move(*root);
            }
            continue;
        }
        if (last)
            return FileSpot{std::move(here.folder), here.path, name};
        // Opened without following: a name swapped for a link since the look fails here.
        auto folder = openFrom(here.folder.get(), name.c_str(), next);
        if (!folder)
            return folder.error();
        here = std::move(*folder);
    }
    if (lastIsFile)
        return systemError(EISDIR, ErrorCode::FileUnreadable);
    return FileSpot{std::move(here.folder), here.path, ""};
}

}  // namespace

Result<FileSpot> locateFile(const std::string& path, bool createFolders) {
    return walk(startOf(path), path, true, createFolders);
}

Result<FileSpot> locateFolder(const std::string& path, bool createFolders) {
    return walk(startOf(path), path, false, createFolders);
}

Result<FileSpot> locateFileIn(const FileSpot& folder, const std::string& name) {
    return walk(openFrom(folder.folder.get(), ".", folder.folderPath), name, true, false);
}

Status checkFolder(const FileSpot& spot, FolderOwner owner) {
    struct stat folder {
    }, parent{};
    if (::fstat(spot.folder.get(), &folder) != 0 ||
        ::fstatat(spot.folder.get(), "..", &parent, 0) != 0) {
        return systemError(errno, ErrorCode::FileUnreadable);
    }
    const std::string& path = spot.folderPath;
    const std::string holder = directoryOf(path);
    const bool ownerFits =
        folder.st_uid == ::geteuid() || (owner == FolderOwner::UserOrRoot && folder.st_uid == 0);
    if (!ownerFits) {
        return refusal(localized("the folder {} belongs to another user and is not used",
                                 "フォルダー {} はほかのユーザーのものなので使えません", {path}));
    }
    if (std::string who = otherWriters(folder); !who.empty()) {
        return refusal(localized("the folder {} is not used: {}", "フォルダー {} は使えません: {}",
                                 {path, who}));
    }
    if (!trustedUser(parent.st_uid)) {
        return refusal(localized(
            "the folder {} is not used: the folder holding it, {}, belongs to another user, "
            "who could put a folder of theirs in its place",
            "フォルダー {} は使えません: それを収めるフォルダー {} はほかのユーザーのもので、"
            "そのユーザーが別のフォルダーと差し替えられます",
            {path, holder}));
    }
    if (std::string who = otherWriters(parent); !who.empty() && (parent.st_mode & S_ISVTX) == 0) {
        return refusal(localized(
            "the folder {} is not used: in the folder holding it, {}, {}, and without the "
            "sticky bit they could put a folder of theirs in its place",
            "フォルダー {} は使えません: それを収めるフォルダー {} は、{}。スティッキービットが"
            "ないので、別のフォルダーと差し替えられます",
            {path, holder, who}));
    }
    return {};
}

bool isWritableDirectory(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace tovlane
