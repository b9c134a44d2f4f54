#include "core/platform/Folders.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <memory>
#include <pwd.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/platform/EnvironmentLock.h"
#include "base/platform/SymbolicLinks.h"
#include "core/ErrorCodes.h"
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/platform/FileSystem.h"
#include "core/platform/NativeText.h"

namespace LxCore {

namespace {

struct FileSystemGlobals : Root {
    String hostFolder;
    String homeFolder;  // empty until first asked for
};

FileSystemGlobals* globals = nullptr;

// Nobody writes a longer folder list file by hand.
constexpr size_t kMaxUserDirsFile = 65536;

String cleanFolder(const std::string& bytes) {
    return platformGetFullPath(fromNative(bytes.data(), bytes.size()));
}

// A folder from the environment: set, not empty, and absolute.
String folderVariable(const char* name) {
    const std::string value = LxBase::environmentValue(name);
    return !value.empty() && value[0] == '/' ? cleanFolder(value) : String();
}

// The first absolute entry of a ':'-separated folder list.
String firstListedFolder(const char* name) {
    const std::string copy = LxBase::environmentValue(name);
    for (const char* p = copy.c_str(); *p;) {
        const char* end = std::strchr(p, ':');
        size_t length = end ? size_t(end - p) : std::strlen(p);
        if (length > 0 && p[0] == '/')
            return cleanFolder(std::string(p, length));
        p += length + (end ? 1 : 0);
    }
    return String();
}

String passwordHome() {
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    for (;;) {
        struct passwd entry;
        struct passwd* found = nullptr;
        int rc = getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (size_t(1) << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc != 0 || !found || !found->pw_dir || found->pw_dir[0] != '/')
            return String();
        return cleanFolder(found->pw_dir);
    }
}

String homeOrEmpty() {
    String home;
    getHomeFolder(home);
    return home;
}

// A folder below the home folder; empty without one.
String inHome(const char* name) {
    String home = homeOrEmpty();
    if (home.isEmpty())
        return home;
    home += "/";
    home += name;
    return platformGetFullPath(home);
}

String userConfigFolder() {
    String folder = folderVariable("XDG_CONFIG_HOME");
    return folder.isEmpty() ? inHome(".config") : folder;
}

std::string readSmallFile(const std::string& path) {
    std::string content;
    FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file)
        return content;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0 && content.size() <= kMaxUserDirsFile)
        content.append(buffer, n);
    std::fclose(file);
    return content.size() <= kMaxUserDirsFile ? content : std::string();
}

// The value of a line NAME="value" of user-dirs.dirs: "$HOME" followed by a
// path within it, or an absolute path; backslash quotes the next byte.
// Empty when the line is not of that form.
std::string userDirValue(const std::string& line, const std::string& name, const std::string& home) {
    size_t p = line.find_first_not_of(" \t");
    if (p == std::string::npos || line.compare(p, name.size() + 2, name + "=\"") != 0)
        return std::string();
    std::string value;
    bool closed = false;
    for (p += name.size() + 2; p < line.size(); ++p) {
        char c = line[p];
        if (c == '"') {
            closed = true;
            break;
        }
        if (c == '\\' && p + 1 < line.size())
            c = line[++p];
        value += c;
    }
    if (!closed)
        return std::string();
    if (value.compare(0, 5, "$HOME") == 0 && (value.size() == 5 || value[5] == '/'))
        return home.empty() ? std::string() : home + value.substr(5);
    return !value.empty() && value[0] == '/' ? value : std::string();
}

// A folder of the user's folder list (user-dirs.dirs in the configuration
// folder), else the usual folder of that name below the home folder.
String userDir(const char* key, const char* fallback) {
    String config = userConfigFolder();
    std::string configBytes, homeBytes, found;
    if (!config.isEmpty() && toNative(config, configBytes) && toNative(homeOrEmpty(), homeBytes)) {
        std::string content = readSmallFile(configBytes + "/user-dirs.dirs");
        for (size_t start = 0; start < content.size();) {
            size_t end = content.find('\n', start);
            if (end == std::string::npos)
                end = content.size();
            std::string value = userDirValue(content.substr(start, end - start), key, homeBytes);
            if (!value.empty())
                found = value;  // the last assignment wins, as in the shell
            start = end + 1;
        }
    }
    return found.empty() ? inHome(fallback) : cleanFolder(found);
}

String hostFolder() { return globals ? globals->hostFolder : String(); }
String systemFolder() { return String("/usr/lib"); }
String commonFilesFolder() { return String("/usr/local/share"); }
String documentsFolder() { return userDir("XDG_DOCUMENTS_DIR", "Documents"); }
String desktopFolder() { return userDir("XDG_DESKTOP_DIR", "Desktop"); }

String temporaryFolder() {
    String folder = folderVariable("TMPDIR");
    return folder.isEmpty() ? String("/tmp") : folder;
}

String allUsersDataFolder() {
    String folder = firstListedFolder("XDG_CONFIG_DIRS");
    return folder.isEmpty() ? String("/etc/xdg") : folder;
}

struct FolderRule {
    i32 kind;
    String (*find)();
};

constexpr FolderRule kFolderRules[] = {
    {kFolderHost, hostFolder},
    {kFolderPackage, hostFolder},
    {kFolderSystem, systemFolder},
    {kFolderTemporary, temporaryFolder},
    {kFolderAllUsersData, allUsersDataFolder},
    {kFolderUserData, userConfigFolder},
    {kFolderCommonFiles, commonFilesFolder},
    {kFolderDocuments, documentsFolder},
    {kFolderDesktop, desktopFolder},
    {kFolderCommonFiles32, commonFilesFolder},
};

constexpr i32 kNoFolderKind = 4;

// The executable's folder, cut at its last "/" ("/" itself for the root).
String readHostFolder() {
    std::string exe = LxBase::readLink("/proc/self/exe");
    size_t slash = exe.rfind('/');
    if (exe.empty() || slash == std::string::npos)
        return String();
    return fromNative(exe.data(), slash == 0 ? 1 : slash);
}

// The object that holds this function: a library names its file, the
// executable has an empty name and is found through /proc.
std::string findModulePath() {
    Dl_info info;
    struct link_map* map = nullptr;
    std::string path;
    if (dladdr1(reinterpret_cast<void*>(&findModulePath), &info, reinterpret_cast<void**>(&map),
                RTLD_DL_LINKMAP) &&
        map && map->l_name && map->l_name[0])
        path = map->l_name;
    else
        path = LxBase::readLink("/proc/self/exe");
    if (!path.empty() && path[0] != '/') {
        std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
        path = cwd && cwd.get()[0] == '/' ? std::string(cwd.get()) + "/" + path : std::string();
    }
    return path.size() < PATH_MAX ? path : std::string();
}

}  // namespace

i32 platformGetSpecialFolder(i32 kind, String& out) {
    out.clear();
    if (kind == kNoFolderKind)
        return Err::kNotImplemented;
    for (const FolderRule& rule : kFolderRules) {
        if (rule.kind != kind)
            continue;
        out = rule.find();
        return out.isEmpty() ? Err::kIOError : 0;
    }
    return Err::kCannotExecute;
}

i32 getHomeFolder(String& out) {
    GlobalLockGuard guard(kDialogLock);
    if (globals && !globals->homeFolder.isEmpty()) {
        out = globals->homeFolder;
        return 0;
    }
    String home = folderVariable("HOME");
    if (home.isEmpty())
        home = passwordHome();
    out = home;
    if (home.isEmpty())
        return Err::kIOError;
    if (globals)
        globals->homeFolder = home;
    return 0;
}

const char* platformGetModulePath() {
    static const std::string path = findModulePath();
    return path.c_str();
}

void initPlatformFileSystem(bool start) {
    if (!start) {
        // The current folder ends here too: the start-up table ends it with
        // nothing of its own.
        initCurrentFolder(false);
        delete globals;
        globals = nullptr;
        return;
    }
    // Read first, so that a start that throws leaves nothing behind.
    String host = readHostFolder();
    if (!globals)
        globals = new FileSystemGlobals;
    globals->hostFolder = host;
}

}  // namespace LxCore
