#include "storage/settings_folder.h"

#include <endian.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>

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

std::string userName(uid_t uid) {
    std::string name = std::to_string(uid);
    eachUser([&](const passwd& user) {
        if (user.pw_uid == uid)
            name = user.pw_name;
    });
    return name;
}

// The access control list of an open entry as the kernel keeps it: "" when it
// has none beyond its mode, nullopt when it cannot be read. An O_PATH
// descriptor is read through /proc.
std::optional<std::string> accessControlList(int fd) {
    constexpr const char* kName = "system.posix_acl_access";
    std::string list(1024, '\0');
    ssize_t size = ::fgetxattr(fd, kName, list.data(), list.size());
    if (size < 0 && errno == EBADF) {
        const std::string viaProc = "/proc/self/fd/" + std::to_string(fd);
        size = ::getxattr(viaProc.c_str(), kName, list.data(), list.size());
    }
    if (size < 0 && (errno == ENODATA || errno == ENOTSUP))
        return "";
    if (size < 0)
        return std::nullopt;
    list.resize(static_cast<std::size_t>(size));
    return list;
}

// Who the list lets write besides the owner, as far as its mask allows: the
// users it names and the groups (the owning one among them).
struct ListedWriters {
    std::vector<uid_t> users;
    std::vector<gid_t> groups;
};

std::optional<ListedWriters> writersListed(std::string_view list) {
    posix_acl_xattr_header header{};
    if (list.size() < sizeof header ||
        (list.size() - sizeof header) % sizeof(posix_acl_xattr_entry))
        return std::nullopt;
    std::memcpy(&header, list.data(), sizeof header);
    if (le32toh(header.a_version) != POSIX_ACL_XATTR_VERSION)
        return std::nullopt;
    std::vector<posix_acl_xattr_entry> entries((list.size() - sizeof header) /
                                               sizeof(posix_acl_xattr_entry));
    std::memcpy(entries.data(), list.data() + sizeof header, list.size() - sizeof header);
    unsigned mask = ACL_WRITE;
    for (const auto& entry : entries) {
        if (le16toh(entry.e_tag) == ACL_MASK)
            mask = le16toh(entry.e_perm);
    }
    ListedWriters writers;
    for (const auto& entry : entries) {
        const unsigned tag = le16toh(entry.e_tag), id = le32toh(entry.e_id);
        if ((le16toh(entry.e_perm) & mask & ACL_WRITE) == 0)
            continue;
        if (tag == ACL_USER)
            writers.users.push_back(id);
        if (tag == ACL_GROUP)
            writers.groups.push_back(id);
        if (tag == ACL_GROUP_OBJ)
            writers.groups.push_back(gid_t(-1));  // the owning group, by its status
    }
    return writers;
}

std::string groupWriters(gid_t gid, const std::string& how) {
    auto entry = groupEntry(gid);
    if (entry && !groupHasAnotherMember(gid, *entry))
        return "";
    const std::string name = entry ? entry->name : std::to_string(gid);
    return localized("the members of the group {} may write to it ({})",
                     "グループ {} のメンバーが書き込めます（{}）", {name, how});
}

// Who besides this user and root may write to an entry (a folder or a file),
// open as fd with this status: "" for nobody. Its mode; and where the group
// bits let anyone write (they are the mask of an access control list), its
// group and each user and group its list names.
std::string otherWriters(int fd, const struct stat& info) {
    const std::string mode = localized("mode {}", "モード {}", {modeText(info.st_mode)});
    if ((info.st_mode & S_IWOTH) != 0)
        return localized("every user may write to it ({})", "すべてのユーザーが書き込めます（{}）",
                         {mode});
    if ((info.st_mode & S_IWGRP) == 0)
        return "";
    auto list = accessControlList(fd);
    auto listed = list && !list->empty() ? writersListed(*list) : std::nullopt;
    if (!list || (!list->empty() && !listed)) {
        return localized("who may write to it cannot be told ({})",
                         "だれが書き込めるかわかりません（{}）", {mode});
    }
    if (!listed)  // no list: the owning group, by the mode
        return groupWriters(info.st_gid, mode);
    const std::string byList = localized("by its access control list", "アクセス制御リストにより");
    for (uid_t user : listed->users) {
        if (!trustedUser(user)) {
            return localized("the user {} may write to it ({})", "ユーザー {} が書き込めます（{}）",
                             {userName(user), byList});
        }
    }
    for (gid_t group : listed->groups) {
        std::string who = groupWriters(group == gid_t(-1) ? info.st_gid : group,
                                       group == gid_t(-1) ? mode : byList);
        if (!who.empty())
            return who;
    }
    return "";
}

// Why another user could put an entry of theirs in place of one in this
// folder: it is theirs, or they may write to it and it has no sticky bit;
// "" when nobody can.
std::string swappableBy(int fd, const struct stat& info, const std::string& path) {
    if (!trustedUser(info.st_uid)) {
        return localized("the folder {} belongs to another user",
                         "フォルダー {} はほかのユーザーのものです", {path});
    }
    if ((info.st_mode & S_ISVTX) != 0)
        return "";
    std::string who = otherWriters(fd, info);
    if (who.empty())
        return "";
    return localized("the folder {} has no sticky bit and {}",
                     "フォルダー {} はスティッキービットがなく、{}", {path, who});
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

// A folder may be made in another only when nobody else could put one of
// theirs in its place.
Status mayMakeIn(const Reached& here, const std::string& name) {
    struct stat info {};
    if (::fstat(here.folder.get(), &info) != 0)
        return systemError(errno, ErrorCode::FileUnwritable);
    if (std::string why = swappableBy(here.folder.get(), info, here.path); !why.empty()) {
        return refusal(localized("the folder {} is not made: {}", "フォルダー {} は作りません: {}",
                                 {joinPath(here.path, name), why}));
    }
    if (::mkdirat(here.folder.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
        return Error{ErrorCode::FileUnwritable,
                     localized("cannot make the folder {} ({})", "フォルダー {} を作れません（{}）",
                               {joinPath(here.path, name), systemText(errno)})};
    }
    return {};
}

// The walk: each name is looked up in the folder held so far, opened without
// following it and looked at through that descriptor, so what is checked is
// what is used; links of this user's or root's are expanded in place, anyone
// else's refused. With lastIsFile the last name is left for the caller,
// whatever it is.
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
        FileDescriptor entry(
            ::openat(here.folder.get(), name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat info {};
        if (entry.get() < 0 || ::fstat(entry.get(), &info) != 0) {
            if (errno == ENOENT && last)
                return FileSpot{std::move(here.folder), here.path, name};
            if (errno != ENOENT || !createFolders)
                return systemError(errno, ErrorCode::FileUnreadable);
            if (Status made = mayMakeIn(here, name); !made)
                return made.error();
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
            ssize_t length = ::readlinkat(entry.get(), "", target.data(), target.size());
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
        if (!S_ISDIR(info.st_mode))
            return systemError(ENOTDIR, ErrorCode::FileUnreadable);
        here = Reached{std::move(entry), next};
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

Result<FileSpot> locateFileIn(FileSpot folder, const std::string& name) {
    return walk(Reached{std::move(folder.folder), folder.folderPath}, name, true, false);
}

Status checkFolder(const FileSpot& spot, FolderOwner owner) {
    const std::string& path = spot.folderPath;
    struct stat folder {
    }, parent{};
    FileDescriptor holder(::openat(spot.folder.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (::fstat(spot.folder.get(), &folder) != 0 || holder.get() < 0 ||
        ::fstat(holder.get(), &parent) != 0) {
        return systemError(errno, ErrorCode::FileUnreadable);
    }
    const bool ownerFits =
        folder.st_uid == ::geteuid() || (owner == FolderOwner::UserOrRoot && folder.st_uid == 0);
    if (!ownerFits) {
        return refusal(localized("the folder {} belongs to another user and is not used",
                                 "フォルダー {} はほかのユーザーのものなので使えません", {path}));
    }
    if (std::string who = otherWriters(spot.folder.get(), folder); !who.empty()) {
        return refusal(localized("the folder {} cannot hold settings: {}",
                                 "フォルダー {} には設定を置けません: {}", {path, who}));
    }
    if (std::string why = swappableBy(holder.get(), parent, directoryOf(path)); !why.empty()) {
        return refusal(localized(
            "the folder {} cannot hold settings: {}, so another user could put a folder of "
            "theirs in its place",
            "フォルダー {} には設定を置けません: {}。ほかのユーザーが別のフォルダーと差し替え"
            "られます",
            {path, why}));
    }
    return {};
}

Status checkFile(const FileSpot& spot) {
    const std::string path = joinPath(spot.folderPath, spot.name);
    FileDescriptor file(
        ::openat(spot.folder.get(), spot.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {};  // missing, or no regular file: reading it says so
    if (!trustedUser(info.st_uid)) {
        return refusal(localized("the settings file {} belongs to another user and is not used",
                                 "設定ファイル {} はほかのユーザーのものなので使えません", {path}));
    }
    if (std::string who = otherWriters(file.get(), info); !who.empty()) {
        return refusal(localized("the settings file {} cannot be used: {}",
                                 "設定ファイル {} は使えません: {}", {path, who}));
    }
    return {};
}

bool isWritableDirectory(const std::string& path) {
    return ::faccessat(AT_FDCWD, path.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
}

}  // namespace tovlane
