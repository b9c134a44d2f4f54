// The folders the core names without being told: the home folder, the
// special folders scripts ask for by kind, the host's folder and the path of
// this library itself.
#pragma once
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// Kinds of platformGetSpecialFolder. Kind 4 has no folder on any platform
// we run on (-36); a kind not listed gives 32.
enum SpecialFolderKind : i32 {
    kFolderHost = 1,            // the folder of the host executable
    kFolderPackage = 2,         // the same folder
    kFolderSystem = 3,          // /usr/lib
    kFolderTemporary = 5,       // $TMPDIR, else /tmp
    kFolderAllUsersData = 6,    // the first of $XDG_CONFIG_DIRS, else /etc/xdg
    kFolderUserData = 7,        // $XDG_CONFIG_HOME, else ~/.config
    kFolderCommonFiles = 8,     // /usr/local/share
    kFolderDocuments = 9,       // XDG_DOCUMENTS_DIR of user-dirs.dirs, else ~/Documents
    kFolderDesktop = 10,        // XDG_DESKTOP_DIR of user-dirs.dirs, else ~/Desktop
    kFolderCommonFiles32 = 11,  // as kFolderCommonFiles
};

// The folder of a kind, cleaned like platformGetFullPath: 0; 52 with an
// empty path when it cannot be found; -36 for kind 4; 32 for unknown kinds.
// Folder variables that do not hold an absolute path are ignored.
i32 platformGetSpecialFolder(i32 kind, String& out);

// $HOME, else the user's entry in the password database; found once while the
// library runs. 52 with an empty path when neither gives one.
i32 getHomeFolder(String& out);

// The path of the file this library was loaded from (the executable when it
// is linked in), absolute, as UTF-8 bytes; empty when it cannot be found or
// is longer than a path may be. Never null.
const char* platformGetModulePath();

// Module start/end: the host folder and the home-folder cache. The end also
// ends the current folder (initCurrentFolder), which has no end step of its own.
void initPlatformFileSystem(bool start);

}  // namespace LxCore
