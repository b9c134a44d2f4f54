#include "objects/platform/FolderWatch.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "base/platform/InterruptedCalls.h"
#include "objects/platform/Mailbox.h"

namespace LxObjects::Platform {

namespace {

bool isMessageFile(const char* name)
{
    size_t n = std::strlen(name);
    return n > 4 && std::strcmp(name + n - 4, ".msg") == 0 && std::strncmp(name, "tmp-", 4) != 0;
}

}  // namespace

FolderWatch::FolderWatch()
{
    notifyFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

FolderWatch::~FolderWatch()
{
    if (notifyFd_ >= 0)
        ::close(notifyFd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

std::string FolderWatch::key(std::string_view userId, std::string_view name) const
{
    std::string k(userId);
    k += '\n';
    k += Mailbox::encodeName(name);
    return k;
}

bool FolderWatch::watch(std::string_view userId, std::string_view name)
{
    std::string k = key(userId, name);
    if (notifyFd_ < 0 || name.empty())
        return false;
    if (watches_.count(k))
        return true;
    std::string path = Mailbox::folderPath(userId, name);
    if (path.empty())
        return false;
    int wd = inotify_add_watch(notifyFd_, path.c_str(), IN_MOVED_TO | IN_CREATE | IN_ONLYDIR | IN_DONT_FOLLOW);
    if (wd < 0)
        return false;
    watches_[k] = wd;
    // What arrived before the watch began is not counted; one look finds it.
    arrivals_[wd] = 1;
    return true;
}

bool FolderWatch::isWatching(std::string_view userId, std::string_view name) const
{
    return watches_.count(key(userId, name)) != 0;
}

void FolderWatch::drain()
{
    if (notifyFd_ < 0)
        return;
    alignas(struct inotify_event) char buffer[8192];
    for (;;) {
        ssize_t n = read(notifyFd_, buffer, sizeof buffer);
        if (n <= 0)
            return;
        for (ssize_t at = 0; at + ssize_t(sizeof(struct inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
            if (event->mask & IN_Q_OVERFLOW) {
                // Events were lost: look into every folder once more.
                for (auto& entry : arrivals_)
                    entry.second = entry.second > 0 ? entry.second : 1;
            } else if (event->len > 0 && isMessageFile(event->name)) {
                auto found = arrivals_.find(event->wd);
                if (found != arrivals_.end())
                    ++found->second;
            }
            at += ssize_t(sizeof(struct inotify_event) + event->len);
        }
    }
}

void FolderWatch::wait(int ms)
{
    drain();
    if (anyArrivals())
        return;
    struct pollfd fds[2];
    nfds_t count = 0;
    if (wakeFd_ >= 0)
        fds[count++] = {wakeFd_, POLLIN, 0};
    if (notifyFd_ >= 0)
        fds[count++] = {notifyFd_, POLLIN, 0};
    LxBase::retryInterrupted([&] { return poll(fds, count, ms < 0 ? 0 : ms); });
    uint64_t value;
    if (wakeFd_ >= 0)
        while (read(wakeFd_, &value, sizeof value) > 0) {
        }
    drain();
}

void FolderWatch::wake()
{
    uint64_t one = 1;
    if (wakeFd_ >= 0)
        LxBase::retryInterrupted([&] { return write(wakeFd_, &one, sizeof one); });
}

int FolderWatch::arrivals(std::string_view userId, std::string_view name) const
{
    auto w = watches_.find(key(userId, name));
    if (w == watches_.end())
        return 0;
    auto found = arrivals_.find(w->second);
    return found == arrivals_.end() ? 0 : found->second;
}

void FolderWatch::taken(std::string_view userId, std::string_view name)
{
    auto w = watches_.find(key(userId, name));
    if (w == watches_.end())
        return;
    taken_[w->second] = true;
    auto found = arrivals_.find(w->second);
    if (found != arrivals_.end() && found->second > 0)
        --found->second;
}

void FolderWatch::beginPass()
{
    taken_.clear();
}

void FolderWatch::endPass()
{
    for (auto& entry : arrivals_)
        if (!taken_.count(entry.first))
            entry.second = 0;
}

bool FolderWatch::anyArrivals() const
{
    for (const auto& entry : arrivals_)
        if (entry.second > 0)
            return true;
    return false;
}

}  // namespace LxObjects::Platform
