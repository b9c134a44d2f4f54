// System calls that a signal may cut short: called again on EINTR, and reads
// and writes carried on until every byte has gone through.
#pragma once
#include <cerrno>
#include <cstddef>
#include <string>
#include <string_view>
#include <unistd.h>

namespace LxBase {

// call() again while it fails with EINTR; its last result.
template <class Call>
auto retryInterrupted(Call call) {
    auto result = call();
    while (result < 0 && errno == EINTR)
        result = call();
    return result;
}

// step(done) moves what is left after the first done bytes and tells how
// many it moved; called until all size bytes have gone through. False when
// a step fails or moves nothing.
template <class Step>
bool carryThrough(size_t size, Step step) {
    size_t done = 0;
    while (done < size) {
        const ssize_t n = step(done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

// Every byte, in one write unless the system takes less.
inline bool writeAll(int fd, std::string_view bytes) {
    return carryThrough(bytes.size(),
                        [&](size_t done) { return ::write(fd, bytes.data() + done, bytes.size() - done); });
}

// Exactly size bytes into buffer; false on a read error or an end before them.
inline bool readExactly(int fd, char* buffer, size_t size) {
    return carryThrough(size, [&](size_t done) { return ::read(fd, buffer + done, size - done); });
}

// Appends the rest of fd to out, ChunkBytes a read. False on a read error or
// when out would grow past limit bytes; what was read before stays in out.
template <size_t ChunkBytes>
bool readToEnd(int fd, size_t limit, std::string& out) {
    char chunk[ChunkBytes];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (out.size() + size_t(n) > limit)
            return false;
        out.append(chunk, size_t(n));
    }
}

}  // namespace LxBase
