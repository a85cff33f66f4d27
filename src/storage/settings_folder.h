#pragma once

#include <string>

#include "storage/file_io.h"
#include "storage/result.h"

namespace tovlane {

// A file's place once every link on its path has been followed: the folder
// that holds it, held open, and its name there. Everything done after finding
// it names the file relative to that descriptor, so swapping names on the
// path afterwards changes nothing.
struct FileSpot {
    FileDescriptor folder;  // opened with O_PATH: for the *at() calls
    std::string folderPath;
    std::string name;
};

// Follows path to the file it names, link by link from its first folder,
// holding each folder by its descriptor. A symbolic link is followed only
// when it belongs to this user or to root, wherever it stands on the path,
// the last name included: a link someone else planted (say, in a shared
// folder) must not send a read or a write elsewhere. FileMissing when a folder
// on the path is missing, unless createFolders makes it (mode 0700).
Result<FileSpot> locateFile(const std::string& path, bool createFolders = false);
// The same for a folder: the spot of the folder itself, with an empty name.
Result<FileSpot> locateFolder(const std::string& path, bool createFolders = false);
// The same for a name in a folder already found, starting from (and taking)
// its descriptor.
Result<FileSpot> locateFileIn(FileSpot folder, const std::string& name);

// Who a settings folder must belong to.
enum class FolderOwner {
    User,        // the user's own settings folder
    UserOrRoot,  // beside the program, or the machine's defaults
};

// Settings live only where nobody but this user and root can change them:
// the folder belongs to owner; no other user may write to it (its mode, its
// group having another member, a user's private group being theirs alone,
// or its access control list); and the folder holding it belongs to this
// user or root and lets no other user rename it (nobody else may write to
// it, or it has the sticky bit). The checks are made on the open folder.
// Untrusted with why, naming the folder.
Status checkFolder(const FileSpot& folder, FolderOwner owner);

// The same for the file itself, when it exists: it belongs to this user or
// root, and nobody else may write to it.
Status checkFile(const FileSpot& file);

// Whether this user may create files in the directory.
bool isWritableDirectory(const std::string& path);

}  // namespace tovlane
