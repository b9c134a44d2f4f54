#include "core/platform/FileSystem.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "base/platform/DetachedSpawn.h"
#include "base/platform/InterruptedCalls.h"
#include "base/platform/SymbolicLinks.h"
#include "core/ErrorCodes.h"
#include "core/Heap.h"
#include "core/ThreadData.h"
#include "core/platform/NativeText.h"

extern char** environ;

namespace LxCore {

namespace {

constexpr u32 kUnknownCode = 0x3F3F3F3F;  // '????'

bool missing(int err) { return err == ENOENT || err == ENOTDIR; }

// The system's form of a path. A relative path is joined to the core's
// current folder, so the process's working folder never plays a part.
bool osPath(const String& path, std::string& out) {
    if (path.isEmpty())
        return false;
    if (path[0] == '/')
        return toNative(path, out);
    String full;
    if (platformGetCurrentFolder(full) != 0)
        return false;
    if (full[full.length() - 1] != '/')
        full += unit('/');
    full += path;
    return toNative(full, out);
}

// Appends the components of a path to a stack, dropping "." and empty ones
// and letting ".." take the one before it.
struct Component {
    const unit* start;
    i32 length;
};

void pushComponents(const String& path, std::vector<Component>& parts) {
    const unit* s = path.chars();
    const i32 n = path.length();
    for (i32 i = 0; i < n;) {
        i32 end = i;
        while (end < n && s[end] != '/')
            ++end;
        const i32 length = end - i;
        const bool dot = length == 1 && s[i] == '.';
        const bool dotDot = length == 2 && s[i] == '.' && s[i + 1] == '.';
        if (dotDot) {
            if (!parts.empty())
                parts.pop_back();
        } else if (length > 0 && !dot) {
            parts.push_back({s + i, length});
        }
        i = end + 1;
    }
}

String joinComponents(const std::vector<Component>& parts) {
    String out;
    if (parts.empty())
        return String("/");
    for (const Component& part : parts) {
        out += unit('/');
        out.append(part.start, part.length);
    }
    return out;
}

// What lstat tells, with the birth time where the file system keeps one.
struct Info {
    u32 mode;
    uid_t uid;
    gid_t gid;
    i64 created;
    i64 modified;
};

bool readInfo(const std::string& native, Info& info) {
    struct statx sx;
    if (statx(AT_FDCWD, native.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
        info = {sx.stx_mode, sx.stx_uid, sx.stx_gid, i64(sx.stx_mtime.tv_sec), i64(sx.stx_mtime.tv_sec)};
        if (sx.stx_mask & STATX_BTIME)
            info.created = i64(sx.stx_btime.tv_sec);
        return true;
    }
    // Old kernels, and sandboxes that forbid statx, still have lstat.
    if (errno != ENOSYS && errno != EPERM)
        return false;
    struct stat st;
    if (lstat(native.c_str(), &st) != 0)
        return false;
    info = {st.st_mode, st.st_uid, st.st_gid, i64(st.st_mtime), i64(st.st_mtime)};
    return true;
}

u32 toSeconds(i64 t) { return t < 0 ? 0 : t > i64(0xFFFFFFFF) ? 0xFFFFFFFFu : u32(t); }

bool inGroup(gid_t gid) {
    if (gid == getegid())
        return true;
    int n = getgroups(0, nullptr);
    if (n <= 0)
        return false;
    std::vector<gid_t> groups(static_cast<size_t>(n));
    n = getgroups(n, groups.data());
    for (int i = 0; i < n; ++i)
        if (groups[size_t(i)] == gid)
            return true;
    return false;
}

// Read-only is what the permission bits say for this user: the owner's,
// the group's or the others' write bit. The superuser's power to write
// anyway is not counted, so a file made read-only reads so for everyone.
bool isReadOnly(const Info& info) {
    if (info.uid == geteuid())
        return !(info.mode & S_IWUSR);
    if (inGroup(info.gid))
        return !(info.mode & S_IWGRP);
    return !(info.mode & S_IWOTH);
}

bool hasHiddenName(const String& path) {
    String full = platformGetFullPath(path);
    i32 slash = full.find(unit('/'), full.length() - 1, true);
    return slash >= 0 && full[slash + 1] == '.';
}

int openFlags(const char* mode) {
    if (!mode)
        return -1;
    const int access = std::strchr(mode, '+') ? O_RDWR : mode[0] == 'r' ? O_RDONLY : O_WRONLY;
    switch (mode[0]) {
        case 'r': return access;
        case 'w': return access | O_CREAT | O_TRUNC;
        case 'a': return access | O_CREAT | O_APPEND;
        default: return -1;
    }
}

// The shell ends as soon as it has started the opener in the background, so
// waiting for it is short and no child of ours is left behind. Exit 127
// tells that the desktop has no opener.
constexpr const char* kOpenScript =
    "command -v xdg-open >/dev/null 2>&1 || exit 127\n"
    "xdg-open \"$1\" &\n";

// The opener's shell, detached: it must not inherit what the host ignores
// or blocks. Its standard error has a /dev/null of its own.
bool startOpener(const std::string& native, pid_t& pid) {
    LxBase::DetachedSpawn spawn(LxBase::DetachedSpawn::ErrorStream::OwnNullDevice);
    char* argv[] = {const_cast<char*>("sh"), const_cast<char*>("-c"), const_cast<char*>(kOpenScript),
                    const_cast<char*>("sh"), const_cast<char*>(native.c_str()), nullptr};
    return posix_spawn(&pid, "/bin/sh", spawn.actions(), spawn.attributes(), argv, environ) == 0;
}

bool openWithDesktop(const std::string& native) {
    pid_t pid = 0;
    if (!startOpener(native, pid))
        return false;
    // Our own child only: the host may have children of its own.
    int status = 0;
    if (LxBase::retryInterrupted([&] { return waitpid(pid, &status, 0); }) < 0)
        return errno == ECHILD;  // reaped by a host that ignores SIGCHLD: it did start
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

u32 platformGetAttributes(const String& path, u32* created, u32* modified) {
    if (created)
        *created = 0;
    if (modified)
        *modified = 0;
    std::string native;
    Info info;
    if (!osPath(path, native) || !readInfo(native, info))
        return 0;
    u32 bits;
    if (S_ISLNK(info.mode)) {
        bits = kAttrShortcut;
        struct stat target;
        if (stat(native.c_str(), &target) == 0 && S_ISDIR(target.st_mode))
            bits |= kAttrFolder;
    } else {
        bits = S_ISDIR(info.mode) ? kAttrFolder : kAttrFile;
        if (isReadOnly(info))
            bits |= kAttrReadOnly;
    }
    if (hasHiddenName(path))
        bits |= kAttrHidden;
    if (created)
        *created = toSeconds(info.created);
    if (modified)
        *modified = toSeconds(info.modified);
    return bits;
}

String platformGetFullPath(const String& path) {
    if (path.isEmpty())
        return String();
    std::vector<Component> parts;
    String base;
    if (path[0] != '/') {
        if (platformGetCurrentFolder(base) != 0 || base.isEmpty())
            return String();
        pushComponents(base, parts);
    }
    pushComponents(path, parts);
    return joinComponents(parts);
}

unit getPathSeparator() { return '/'; }

bool platformSamePath(const String& a, const String& b) { return a == b; }

i32 readCurrentDirectory(String& out) {
    out.clear();
    std::unique_ptr<char, decltype(&std::free)> cwd(getcwd(nullptr, 0), &std::free);
    // Linux writes "(unreachable)" before a folder outside the process's root.
    if (!cwd || cwd.get()[0] != '/')
        return Err::kIOError;
    out = fromNative(cwd.get());
    return 0;
}

// The folder lives in the thread record; without one (the library is not
// started) the process's working folder stands in, read each time.
i32 platformGetCurrentFolder(String& out) {
    ThreadData* record = ThreadData::find();
    if (!record)
        return readCurrentDirectory(out);
    CurrentDirectory& current = record->currentDirectory;
    if (!current.known) {
        if (i32 status = readCurrentDirectory(current.path)) {
            out.clear();
            return status;
        }
        current.known = true;
    }
    out = current.path;
    return 0;
}

// Checks what chdir would check, then changes only the core's record.
i32 platformSetCurrentFolder(const String& path) {
    String full = platformGetFullPath(path);
    std::string native;
    if (full.isEmpty() || !toNative(full, native))
        return Err::kFileNotFound;
    struct stat st;
    if (stat(native.c_str(), &st) != 0)
        return errorFromErrno(errno);
    if (!S_ISDIR(st.st_mode))
        return Err::kFileNotFound;
    if (faccessat(AT_FDCWD, native.c_str(), X_OK, AT_EACCESS) != 0)
        return errorFromErrno(errno);
    ThreadData* record = ThreadData::find();
    if (!record)
        return Err::kIOError;  // the library is not started
    record->currentDirectory.path = full;
    record->currentDirectory.known = true;
    return 0;
}

namespace {

// A descriptor opened without blocking, made blocking again and wrapped in a
// stream when what it names may be read as a file (never a folder; with
// regularOnly, a regular file alone); closed otherwise. st: what it names.
i32 streamOfDescriptor(int fd, const char* mode, bool regularOnly, FILE*& stream, struct stat& st) {
    const int status = fcntl(fd, F_GETFL);
    const bool accepted = fstat(fd, &st) == 0 && (regularOnly ? S_ISREG(st.st_mode) : !S_ISDIR(st.st_mode)) &&
                          status >= 0 && fcntl(fd, F_SETFL, status & ~O_NONBLOCK) == 0;
    FILE* file = accepted ? fdopen(fd, mode) : nullptr;
    if (!file) {
        close(fd);
        return Err::kIOError;
    }
    stream = file;
    return 0;
}

}  // namespace

// Opened without blocking, so that a pipe without a writer or reader cannot
// hold the caller; blocking comes back once it is open.
i32 platformOpenStream(const String& path, const char* mode, FILE*& stream) {
    stream = nullptr;
    const int flags = openFlags(mode);
    if (flags < 0)
        return Err::kIOError;
    std::string native;
    if (!osPath(path, native))
        return Err::kFileNotFound;
    const int fd = open(native.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0)
        return missing(errno) ? Err::kFileNotFound : Err::kIOError;
    struct stat st;
    return streamOfDescriptor(fd, mode, false, stream, st);
}

i32 platformOpenRegularFile(const String& path, FILE*& stream, i64& size) {
    stream = nullptr;
    size = 0;
    std::string native;
    if (!osPath(path, native))
        return Err::kFileNotFound;
    struct stat st;
    if (stat(native.c_str(), &st) != 0)
        return errorFromErrno(errno);
    if (!S_ISREG(st.st_mode))
        return Err::kIOError;
    const int fd = open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return errorFromErrno(errno);
    if (const i32 code = streamOfDescriptor(fd, "rb", true, stream, st))
        return code;
    size = i64(st.st_size);
    return 0;
}

bool platformIsRegularFile(const String& path) {
    std::string native;
    struct stat st;
    return osPath(path, native) && stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool platformSameFile(const String& a, const String& b) {
    std::string first, second;
    struct stat one, two;
    return osPath(a, first) && osPath(b, second) && stat(first.c_str(), &one) == 0 &&
           stat(second.c_str(), &two) == 0 && one.st_dev == two.st_dev && one.st_ino == two.st_ino;
}

i32 platformRemoveFile(const String& path) {
    std::string native;
    if (!osPath(path, native))
        return Err::kFileNotFound;
    struct stat st;
    if (lstat(native.c_str(), &st) != 0)
        return errorFromErrno(errno);
    if (!S_ISDIR(st.st_mode))
        return unlink(native.c_str()) == 0 ? 0 : errorFromErrno(errno);
    if (rmdir(native.c_str()) == 0)
        return 0;
    // Some file systems say EEXIST for a folder that is not empty.
    return errno == ENOTEMPTY || errno == EEXIST ? Err::kIOError : errorFromErrno(errno);
}

i32 platformSetFileLength(const String& path, u32 length) {
    std::string native;
    if (!osPath(path, native))
        return Err::kFileNotFound;
    if (truncate(native.c_str(), off_t(length)) == 0)
        return 0;
    return missing(errno) ? Err::kFileNotFound : Err::kIOError;
}

i32 platformResolveShortcut(const String& path, String& out) {
    out = path;
    std::string native;
    if (!osPath(path, native))
        return 0;
    const int hops = LxBase::followLinks(native);
    if (hops < 0)
        return Err::kIOError;
    if (hops > 0)
        out = platformGetFullPath(fromNative(native.data(), native.size()));
    return 0;
}

i32 platformExecute(const String& path) {
    std::string native;
    if (!osPath(path, native))
        return Err::kFileNotFound;
    struct stat st;
    if (stat(native.c_str(), &st) != 0)
        return missing(errno) ? Err::kFileNotFound : Err::kIOError;
    return openWithDesktop(native) ? 0 : Err::kIOError;
}

i32 platformGetTypeCreator(const String&, u32& type, u32& creator) {
    type = kUnknownCode;
    creator = kUnknownCode;
    return 0;
}

i32 platformSetTypeCreator(const String&, u32, u32) { return 0; }

void initCurrentFolder(bool start) {
    if (!start) {
        if (ThreadData* record = ThreadData::find()) {
            record->currentDirectory.path.clear();
            record->currentDirectory.known = false;
        }
        return;
    }
    // Read first, so that a start that throws leaves nothing behind.
    String path;
    const bool known = readCurrentDirectory(path) == 0;
    CurrentDirectory& current = ThreadData::get()->currentDirectory;
    current.path = path;
    current.known = known;
}

}  // namespace LxCore
