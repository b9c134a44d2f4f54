// Tellwire mailboxes on Linux: a named, one-reader, many-writer queue of whole
// messages, private to one user, kept as one folder of message files.
#pragma once
#include <cstddef>
#include <deque>
#include <set>
#include <string>
#include <string_view>

namespace LxObjects::Platform {

class Mailbox {
public:
    static constexpr size_t kMaxMessage = size_t(64) << 20;   // larger ones are refused
    static constexpr size_t kMaxEncodedName = 200;
    // A dead writer's unfinished file older than this goes, in sweeps at most
    // this far apart.
    static constexpr unsigned long long kSweepIntervalNs = 1000000000ULL;
    static constexpr unsigned long long kPartialFileAgeNs = 1000000000ULL;

    // Wall-clock nanoseconds since 1970 (CLOCK_REALTIME unless a test sets its own).
    using Clock = unsigned long long (*)();

    Mailbox() = default;
    ~Mailbox();
    Mailbox(const Mailbox&) = delete;
    Mailbox& operator=(const Mailbox&) = delete;

    // Becomes the holder of the name; false while anyone (this process included)
    // holds it, or when the runtime folder is unusable. Messages left over from an
    // earlier holder are cleared.
    bool create(std::string_view userId, std::string_view name);
    void close();               // frees the name
    bool isOpen() const { return lockFd >= 0; }

    // Never block. readOne replaces out with the next whole message; false when
    // none is waiting or the waiting ones had to be dropped.
    bool hasMessage();
    bool readOne(std::string& out);

    // Waits up to timeoutMs (negative counts as 0) for a message; returns at once
    // when one is waiting.
    bool wait(int timeoutMs);
    // Readable when something arrived in the folder (-1 without a watch); wait(0)
    // clears it.
    int notifyDescriptor() const { return notifyFd; }

    // Probes without creating or taking anything; a missing mailbox is free.
    static bool isHeld(std::string_view userId, std::string_view name);
    // One whole message to the holder of the name; false when nobody holds it,
    // the text exceeds kMaxMessage or the write fails.
    static bool send(std::string_view userId, std::string_view name, std::string_view bytes);

    static std::string encodeName(std::string_view name);      // empty stays empty
    static std::string encodeUserId(std::string_view userId);  // empty gives "_"
    // The per-user runtime folder; empty when it is unusable or not made yet
    // (only create() makes the /tmp fallback).
    static std::string runtimeFolder();
    // Where the mailbox lives, without creating anything; empty when the name is
    // empty or the runtime folder unusable.
    static std::string folderPath(std::string_view userId, std::string_view name);

    // For tests: the clock that ages files and spaces the sweeps, and how many
    // sweeps this holder has made since it was created.
    void setClock(Clock c) { clock = c; }
    unsigned long sweepCount() const { return sweeps; }

private:
    struct Entry {
        std::string name;
        unsigned char type;     // d_type of the scan
    };

    static unsigned long long systemTime();
    void refill();
    void sweepDeadWriters();
    bool take(const Entry& e, std::string& out);
    void drop(const std::string& name);
    void drainNotifications();

    int dirFd = -1;
    int lockFd = -1;
    int notifyFd = -1;
    std::deque<Entry> batch;            // known messages, lowest name first
    std::set<std::string> unremovable;  // dropped entries that could not be removed
    Clock clock = systemTime;
    unsigned long long lastSweep = 0;   // clock time of the last sweep
    unsigned long sweeps = 0;
};

}  // namespace LxObjects::Platform
