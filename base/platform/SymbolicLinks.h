// Symbolic links read and followed as the kernel follows them.
#pragma once
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace LxBase {

constexpr int kMaxLinkHops = 40;  // as many as the kernel follows for one lookup

// The bytes a symbolic link holds, however many; empty when it cannot be read.
inline std::string readLink(const char* path) {
    std::vector<char> buffer(PATH_MAX);
    for (;;) {
        const ssize_t n = ::readlink(path, buffer.data(), buffer.size());
        if (n < 0)
            return std::string();
        if (size_t(n) < buffer.size())
            return std::string(buffer.data(), size_t(n));
        buffer.resize(buffer.size() * 2);
    }
}

// Follows path while it names a symbolic link, a relative target taken from
// the link's folder, and tells how many links it followed. -1 when a link
// cannot be read or holds more than longestTarget bytes, or when more than
// kMaxLinkHops links follow one another (a loop).
inline int followLinks(std::string& path, size_t longestTarget = SIZE_MAX) {
    int hops = 0;
    for (struct stat st; ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode); ++hops) {
        if (hops == kMaxLinkHops)
            return -1;
        std::string target = readLink(path.c_str());
        if (target.empty() || target.size() > longestTarget)
            return -1;
        if (target[0] != '/')
            target = path.substr(0, path.rfind('/') + 1) + target;
        path = target;
    }
    return hops;
}

}  // namespace LxBase
