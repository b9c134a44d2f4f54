// Mailbox folders: R/morvane/mailslot/<user>/<name>/ holding ".lock" (byte 0 is
// the holder's lock, byte 1 guards creation) and one "<t>-<pid>-<seq>.msg" file
// per message. Every path step is opened relative to its parent without following
// links, so no name can lead outside the user's folder.
#include "objects/platform/Mailbox.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <new>
#include <thread>
#include <vector>

#include "base/platform/EnvironmentLock.h"
#include "base/platform/InterruptedCalls.h"

namespace LxObjects::Platform {

namespace {

constexpr char kLockName[] = ".lock";
constexpr std::string_view kPartialPrefix = "tmp-";   // a message still being written
constexpr size_t kStampDigits = 20;
constexpr size_t kIdDigits = 10;
constexpr unsigned long long kSeqModulus = 10000000000ULL;   // 10 digits

// Owns one descriptor.
class Fd {
public:
    explicit Fd(int fd = -1) : fd(fd) {}
    ~Fd() { reset(); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd; }
    bool ok() const { return fd >= 0; }
    int release() { int f = fd; fd = -1; return f; }
    void reset(int f = -1) { if (fd >= 0) ::close(fd); fd = f; }
private:
    int fd;
};

bool allowedByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' || c == '#'
        || c == '-';
}

std::string md5Hex(std::string_view bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr))
        return std::string();
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; i++) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string padded(unsigned long long value, size_t digits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*llu", int(digits), value);
    return buf;
}

// A folder of the layer: a real directory of ours that nobody else may write.
bool usableFolder(int fd) {
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid()
        && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

int openFolderAt(int parent, const char* name) {
    return openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// Opens the runtime folder and tells its path; only a mailbox being created
// makes the /tmp fallback.
int openRuntime(std::string& path, bool make) {
    std::string uid = std::to_string(static_cast<unsigned long>(geteuid()));
    const std::string xdg = LxBase::environmentValue("XDG_RUNTIME_DIR");
    bool fallback = false;
    struct stat st;
    if (!xdg.empty()) {
        path = xdg;
    } else if (lstat(("/run/user/" + uid).c_str(), &st) == 0) {
        path = "/run/user/" + uid;
    } else {
        path = "/tmp/morvane-" + uid;
        fallback = true;
    }
    bool made = make && fallback && mkdir(path.c_str(), 0700) == 0;
    Fd fd(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.ok())
        return -1;
    if (made)
        fchmod(fd.get(), 0700);   // whatever the umask left
    return usableFolder(fd.get()) ? fd.release() : -1;
}

// Steps from the runtime folder to the mailbox folder, making the folders when
// asked. -1 when a step is missing, unusable or the name cannot be encoded.
int openMailboxFolder(std::string_view userId, std::string_view name, bool make) {
    std::string n = Mailbox::encodeName(name);
    std::string u = Mailbox::encodeUserId(userId);
    if (n.empty() || u.empty())
        return -1;
    std::string path;
    Fd fd(openRuntime(path, make));
    const std::string steps[] = {"morvane", "mailslot", u, n};
    for (const std::string& step : steps) {
        if (!fd.ok())
            return -1;
        if (make && mkdirat(fd.get(), step.c_str(), 0700) != 0 && errno != EEXIST)
            return -1;
        Fd next(openFolderAt(fd.get(), step.c_str()));
        if (next.ok() && !usableFolder(next.get()))
            return -1;
        fd.reset(next.release());
    }
    return fd.release();
}

bool setLock(int fd, short type, off_t byte, bool waitForIt) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = byte;
    fl.l_len = 1;
    const int command = waitForIt ? F_OFD_SETLKW : F_OFD_SETLK;
    return LxBase::retryInterrupted([&] { return fcntl(fd, command, &fl); }) == 0;
}

enum class Holder { Free, Held, Unknown };

Holder probeLock(int lockFd) {
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    if (fcntl(lockFd, F_OFD_GETLK, &fl) != 0)
        return Holder::Unknown;
    return fl.l_type == F_UNLCK ? Holder::Free : Holder::Held;
}

// Never creates anything; O_NONBLOCK so a planted FIFO cannot stall the probe.
Holder probeFolder(int dirFd) {
    Fd lock(openat(dirFd, kLockName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!lock.ok())
        return errno == ENOENT ? Holder::Free : Holder::Unknown;
    struct stat st;
    if (fstat(lock.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Holder::Unknown;
    return probeLock(lock.get());
}

bool endsWith(std::string_view s, std::string_view tail) {
    return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool isPartialName(std::string_view s) {
    return s.substr(0, kPartialPrefix.size()) == kPartialPrefix;
}

bool isMessageName(std::string_view s) {
    return s.size() > 4 && endsWith(s, ".msg") && s[0] != '.' && !isPartialName(s);
}

bool isStaleName(std::string_view s) {
    return isMessageName(s) || isPartialName(s);
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The writer of a "tmp-<pid>-<seq>" file, both numbers as writers write them;
// 0 for any other name.
pid_t partialFileWriter(std::string_view name) {
    if (name.size() != kPartialPrefix.size() + 2 * kIdDigits + 1 || !isPartialName(name))
        return 0;
    std::string_view pid = name.substr(kPartialPrefix.size(), kIdDigits);
    std::string_view seq = name.substr(kPartialPrefix.size() + kIdDigits + 1);
    if (name[kPartialPrefix.size() + kIdDigits] != '-' || !allDigits(pid) || !allDigits(seq))
        return 0;
    unsigned long long value = 0;
    for (char c : pid)
        value = value * 10 + static_cast<unsigned>(c - '0');
    return value <= static_cast<unsigned long long>(INT_MAX) ? static_cast<pid_t>(value) : 0;
}

bool writerIsGone(pid_t pid) {
    return pid > 0 && kill(pid, 0) != 0 && errno == ESRCH;
}

unsigned long long nanosecondsOf(const struct timespec& ts) {
    if (ts.tv_sec < 0)
        return 0;
    return static_cast<unsigned long long>(ts.tv_sec) * 1000000000ULL
        + static_cast<unsigned long long>(ts.tv_nsec);
}

// Entries of the folder whose names pass the filter, read through a fresh
// description so the holder's own descriptor keeps no position.
template <class Filter>
std::vector<std::pair<std::string, unsigned char>> listFolder(int dirFd, Filter keep) {
    std::vector<std::pair<std::string, unsigned char>> out;
    int fd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return out;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return out;
    }
    while (struct dirent* d = readdir(dir)) {
        if (keep(std::string_view(d->d_name)))
            out.emplace_back(d->d_name, d->d_type);
    }
    closedir(dir);
    return out;
}

// The writer part of a message name ("<t>-<pid>-<seq>.msg"); a name of another
// form is its own writer.
std::string_view writerOf(std::string_view name) {
    if (name.size() == kStampDigits + 2 * kIdDigits + 6 && name[kStampDigits] == '-')
        return name.substr(kStampDigits + 1, kIdDigits);
    return name;
}

unsigned long long realtimeNs() {
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    return nanosecondsOf(ts);
}

std::atomic<unsigned long long> lastStamp{0};
std::atomic<unsigned long long> sendCounter{0};

// Later than both the clock and this process's previous stamp, so one writer's
// messages sort in the order it wrote them.
unsigned long long nextStamp() {
    unsigned long long now = realtimeNs();
    unsigned long long prev = lastStamp.load();
    unsigned long long t;
    do {
        t = std::max(now, prev + 1);
    } while (!lastStamp.compare_exchange_weak(prev, t));
    return t;
}

// The whole message of size bytes, and nothing after it.
bool readWhole(int fd, char* buf, size_t size) {
    if (!LxBase::readExactly(fd, buf, size))
        return false;
    char extra;
    // More is a file grown since fstat: not the message that was written.
    return LxBase::retryInterrupted([&] { return read(fd, &extra, 1); }) == 0;
}

// Moves the finished file into place without replacing anything.
int publish(int dirFd, const std::string& from, const std::string& to) {
    if (renameat2(dirFd, from.c_str(), dirFd, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (linkat(dirFd, from.c_str(), dirFd, to.c_str(), 0) != 0)
        return errno;
    unlinkat(dirFd, from.c_str(), 0);
    return 0;
}

}  // namespace

std::string Mailbox::encodeName(std::string_view name) {
    static const char hex[] = "0123456789ABCDEF";
    std::string folded(name);
    for (char& c : folded) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    std::string out;
    for (size_t i = 0; i < folded.size(); i++) {
        unsigned char c = static_cast<unsigned char>(folded[i]);
        if (allowedByte(c) && !(i == 0 && c == '.')) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
        if (out.size() > kMaxEncodedName)
            break;   // will be hashed; no need to encode the rest
    }
    if (out.size() > kMaxEncodedName) {
        std::string digest = md5Hex(folded);
        return digest.empty() ? std::string() : "~" + digest;
    }
    return out;
}

std::string Mailbox::encodeUserId(std::string_view userId) {
    return userId.empty() ? std::string("_") : encodeName(userId);
}

unsigned long long Mailbox::systemTime() {
    return realtimeNs();
}

std::string Mailbox::runtimeFolder() {
    std::string path;
    Fd fd(openRuntime(path, false));
    return fd.ok() ? path : std::string();
}

std::string Mailbox::folderPath(std::string_view userId, std::string_view name) {
    std::string n = encodeName(name);
    std::string u = encodeUserId(userId);
    std::string r = runtimeFolder();
    if (n.empty() || u.empty() || r.empty())
        return std::string();
    return r + "/morvane/mailslot/" + u + "/" + n;
}

Mailbox::~Mailbox() {
    close();
}

bool Mailbox::create(std::string_view userId, std::string_view name) {
    close();
    Fd dir(openMailboxFolder(userId, name, true));
    if (!dir.ok())
        return false;
    Fd lock(openat(dir.get(), kLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600));
    struct stat st;
    if (!lock.ok() || fstat(lock.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    if (!setLock(lock.get(), F_WRLCK, 1, true))
        return false;
    bool taken = false;
    if (probeLock(lock.get()) == Holder::Free) {
        // Nobody can send while byte 0 is free, so what is left is stale.
        for (const auto& entry : listFolder(dir.get(), isStaleName))
            unlinkat(dir.get(), entry.first.c_str(), 0);
        taken = setLock(lock.get(), F_WRLCK, 0, false);
    }
    setLock(lock.get(), F_UNLCK, 1, false);
    if (!taken)
        return false;

    // Without a watch, wait() falls back to short sleeps.
    Fd notify(inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (notify.ok()) {
        std::string self = "/proc/self/fd/" + std::to_string(dir.get());
        if (inotify_add_watch(notify.get(), self.c_str(), IN_MOVED_TO | IN_CREATE | IN_ONLYDIR) < 0)
            notify.reset();
    }
    dirFd = dir.release();
    lockFd = lock.release();
    notifyFd = notify.release();
    return true;
}

void Mailbox::close() {
    for (int* fd : {&notifyFd, &lockFd, &dirFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    batch.clear();
    unremovable.clear();
    lastSweep = 0;
    sweeps = 0;
}

// A sender killed mid-write leaves its tmp file, which nothing else would
// remove before the name is next created. It goes once its writer is gone and
// it is older than a second (the age spares a writer that kill() cannot see).
// One listing at most per interval, so a busy pump pays little for it.
void Mailbox::sweepDeadWriters() {
    const unsigned long long now = clock();
    if (sweeps != 0 && now >= lastSweep && now - lastSweep < kSweepIntervalNs)
        return;
    lastSweep = now;
    sweeps++;
    for (const auto& entry : listFolder(dirFd, [](std::string_view s) { return partialFileWriter(s) != 0; })) {
        if (!writerIsGone(partialFileWriter(entry.first)))
            continue;
        struct stat st;
        if (fstatat(dirFd, entry.first.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(st.st_mode))
            continue;   // folders stay, as everywhere in the layer
        const unsigned long long modified = nanosecondsOf(st.st_mtim);
        if (now > modified && now - modified > kPartialFileAgeNs)
            unlinkat(dirFd, entry.first.c_str(), 0);
    }
}

// One directory listing can miss a file made while it runs, even when it shows a
// later file of the same writer. So: list twice, take what the first listing
// saw, plus what the second adds before those of the same writer (they were in
// place before the first listing ended, so the second cannot miss them).
void Mailbox::refill() {
    sweepDeadWriters();
    auto keep = [this](std::string_view s) {
        return isMessageName(s) && unremovable.count(std::string(s)) == 0;
    };
    auto first = listFolder(dirFd, keep);
    if (first.empty())
        return;
    auto second = listFolder(dirFd, keep);
    std::set<std::string> seen;
    std::map<std::string, std::string, std::less<>> lastOfWriter;
    for (const auto& entry : first) {
        seen.insert(entry.first);
        std::string& last = lastOfWriter[std::string(writerOf(entry.first))];
        last = std::max(last, entry.first);
    }
    std::vector<Entry> found;
    for (auto& entry : second) {
        auto w = lastOfWriter.find(writerOf(entry.first));
        if (seen.count(entry.first) || (w != lastOfWriter.end() && entry.first < w->second))
            found.push_back({std::move(entry.first), entry.second});
    }
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
    batch.assign(std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
}

void Mailbox::drop(const std::string& name) {
    if (unlinkat(dirFd, name.c_str(), 0) == 0 || errno == ENOENT)
        return;
    if (errno == EISDIR && unlinkat(dirFd, name.c_str(), AT_REMOVEDIR) == 0)
        return;
    unremovable.insert(name);
}

bool Mailbox::take(const Entry& e, std::string& out) {
    if (e.type != DT_UNKNOWN && e.type != DT_REG) {
        drop(e.name);
        return false;
    }
    Fd fd(openat(dirFd, e.name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.ok()) {
        if (errno != ENOENT)
            drop(e.name);
        return false;
    }
    struct stat st;
    if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0
        || static_cast<unsigned long long>(st.st_size) > kMaxMessage) {
        drop(e.name);
        return false;
    }
    std::string bytes;
    try {
        bytes.resize(static_cast<size_t>(st.st_size));
    } catch (const std::bad_alloc&) {
        return false;   // left in place for a later pass
    }
    // Removed before reading, so a message is never delivered twice.
    if (unlinkat(dirFd, e.name.c_str(), 0) != 0) {
        if (errno != ENOENT)
            unremovable.insert(e.name);
        return false;
    }
    if (!readWhole(fd.get(), bytes.data(), bytes.size()))
        return false;
    out.swap(bytes);
    return true;
}

bool Mailbox::hasMessage() {
    if (!isOpen())
        return false;
    if (batch.empty())
        refill();
    return !batch.empty();
}

bool Mailbox::readOne(std::string& out) {
    if (!isOpen())
        return false;
    if (batch.empty())
        refill();
    while (!batch.empty()) {
        Entry e = std::move(batch.front());
        batch.pop_front();
        if (take(e, out))
            return true;
    }
    return false;
}

void Mailbox::drainNotifications() {
    if (notifyFd < 0)
        return;
    alignas(struct inotify_event) char buf[4096];
    while (read(notifyFd, buf, sizeof buf) > 0) {
    }
}

bool Mailbox::wait(int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    if (!isOpen())
        return false;
    auto deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        drainNotifications();
        if (hasMessage())
            return true;
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return false;
        if (notifyFd >= 0) {
            struct pollfd p = {notifyFd, POLLIN, 0};
            poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::min<long long>(left, 10)));
        }
    }
}

bool Mailbox::isHeld(std::string_view userId, std::string_view name) {
    Fd dir(openMailboxFolder(userId, name, false));
    return dir.ok() && probeFolder(dir.get()) == Holder::Held;
}

bool Mailbox::send(std::string_view userId, std::string_view name, std::string_view bytes) {
    if (bytes.size() > kMaxMessage)
        return false;
    Fd dir(openMailboxFolder(userId, name, false));
    if (!dir.ok() || probeFolder(dir.get()) != Holder::Held)
        return false;
    std::string pid = padded(static_cast<unsigned long long>(getpid()), kIdDigits);
    // A clash can only come from a stranger's file; a fresh sequence number avoids it.
    for (int attempt = 0; attempt < 4; attempt++) {
        std::string seq = padded(sendCounter.fetch_add(1) % kSeqModulus, kIdDigits);
        std::string tmp = std::string(kPartialPrefix) + pid + "-" + seq;
        Fd fd(openat(dir.get(), tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd.ok()) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        bool written = LxBase::writeAll(fd.get(), bytes);
        written = ::close(fd.release()) == 0 && written;
        if (!written) {
            unlinkat(dir.get(), tmp.c_str(), 0);
            return false;
        }
        std::string final = padded(nextStamp(), kStampDigits) + "-" + pid + "-" + seq + ".msg";
        int err = publish(dir.get(), tmp, final);
        if (err == 0)
            return true;
        unlinkat(dir.get(), tmp.c_str(), 0);
        if (err != EEXIST)
            return false;   // e.g. a new holder cleared our file
    }
    return false;
}

}  // namespace LxObjects::Platform
