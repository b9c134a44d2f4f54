// Wakes a waiting thread when a message arrives in any of a set of mailbox
// folders, or when another thread asks it to. The watch only tells that
// something may be there; the mailboxes themselves say what.
#pragma once
#include <map>
#include <string>
#include <string_view>

namespace LxObjects::Platform {

class FolderWatch {
public:
    FolderWatch();
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Watches the folder of the mailbox name of userId; false when the folder
    // does not exist or cannot be watched. Watching twice costs nothing.
    bool watch(std::string_view userId, std::string_view name);
    bool isWatching(std::string_view userId, std::string_view name) const;

    // Waits up to ms milliseconds for an arrival in a watched folder or a
    // wake; at once when one came since the last wait. Without a watch it
    // waits for a wake or the time only.
    void wait(int ms);
    // Wakes one wait, now or the next one. Safe from any thread.
    void wake();

    // Messages that arrived in the folder of the name since it was last
    // counted down; count down by one when one was taken.
    int arrivals(std::string_view userId, std::string_view name) const;
    void taken(std::string_view userId, std::string_view name);
    // Whether any watched folder saw an arrival not yet counted down.
    bool anyArrivals() const;
    // A pass over the mailboxes: the arrivals of a folder that no pass
    // takes from any more (its mailbox closed) are forgotten at its end.
    void beginPass();
    void endPass();

private:
    void drain();
    std::string key(std::string_view userId, std::string_view name) const;

    int notifyFd_ = -1;
    int wakeFd_ = -1;
    std::map<std::string, int> watches_;  // folder key -> watch descriptor
    std::map<int, int> arrivals_;         // watch descriptor -> messages not yet taken
    std::map<int, bool> taken_;           // watch descriptor -> looked into in this pass
};

}  // namespace LxObjects::Platform
