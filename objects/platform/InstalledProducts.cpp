#include "objects/platform/InstalledProducts.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "base/platform/EnvironmentLock.h"
#include "base/platform/InterruptedCalls.h"

namespace LxObjects::Platform {

namespace {

const char kDefaultPath[] = "/etc/morvane/installed-products.xml";
constexpr size_t kReadChunk = 65536;

// Closes the descriptor on every way out.
struct Descriptor {
    explicit Descriptor(int f) : fd(f) {}
    ~Descriptor()
    {
        if (fd >= 0)
            close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd;
};

enum class ReadResult { Missing, Read, Failed };

// At most limit bytes of a regular file. Opening does not wait on a FIFO
// and a device is refused, so a list path that names one cannot hang the
// scan or read forever.
ReadResult readSmallFile(const std::string& path, size_t limit, std::string& content)
{
    Descriptor file(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (file.fd < 0)
        return errno == ENOENT || errno == ENOTDIR ? ReadResult::Missing : ReadResult::Failed;
    struct stat info;
    if (fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) || uint64_t(info.st_size) > limit)
        return ReadResult::Failed;
    content.clear();
    // Past limit only when it grew since fstat.
    return LxBase::readToEnd<kReadChunk>(file.fd, limit, content) ? ReadResult::Read : ReadResult::Failed;
}

// Bytes that follow a lead byte; -1 for a byte that cannot lead.
int trailCount(unsigned char b)
{
    if (b < 0x80) return 0;
    if (b >= 0xC2 && b <= 0xDF) return 1;
    if (b >= 0xE0 && b <= 0xEF) return 2;
    if (b >= 0xF0 && b <= 0xF4) return 3;
    return -1;
}

// UTF-8 to UTF-16; every byte that does not begin a well-formed sequence
// becomes U+FFFD, so nothing of the file is silently dropped.
void appendUtf16(const std::string& in, std::u16string& out)
{
    static const uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    size_t i = 0;
    if (in.compare(0, 3, "\xEF\xBB\xBF") == 0)
        i = 3;  // a byte-order mark is no part of the text
    while (i < in.size()) {
        unsigned char lead = static_cast<unsigned char>(in[i]);
        int trail = trailCount(lead);
        uint32_t cp = 0xFFFD;
        size_t used = 1;
        if (trail >= 0 && in.size() - i > size_t(trail)) {
            uint32_t value = trail == 0 ? lead : lead & (0x3F >> trail);
            bool ok = true;
            for (int k = 1; k <= trail && ok; ++k) {
                unsigned char c = static_cast<unsigned char>(in[i + size_t(k)]);
                ok = (c & 0xC0) == 0x80;
                value = (value << 6) | (c & 0x3F);
            }
            if (ok && value >= kMinimum[trail] && value <= 0x10FFFF && !(value >= 0xD800 && value <= 0xDFFF)) {
                cp = value;
                used = size_t(trail) + 1;
            }
        }
        if (cp >= 0x10000) {
            out += char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
        i += used;
    }
}

}  // namespace

std::string installedProductsPath()
{
    std::string path;
    return LxBase::readEnvironment("MORVANE_INSTALLED_PRODUCTS", path) ? path : std::string(kDefaultPath);
}

bool KRNGetInstalledProductsList(bool, char16_t* buffer, uint32_t* size)
{
    if (!buffer || !size || *size == 0)
        return false;
    try {
        // Text of *size - 1 units takes at most three bytes a unit, and a mark.
        size_t limit = size_t(*size - 1) * 3 + 3;
        std::string content;
        ReadResult result = readSmallFile(installedProductsPath(), limit, content);
        if (result == ReadResult::Failed)
            return false;
        std::u16string text;
        appendUtf16(content, text);
        if (text.size() >= *size)
            return false;
        text.copy(buffer, text.size());
        buffer[text.size()] = 0;
        *size = uint32_t(text.size());
        return true;
    } catch (...) {
        return false;
    }
}

bool readConfigurationFile(const std::string& path, std::string& content)
{
    try {
        return readSmallFile(path, kMaxConfigurationBytes, content) == ReadResult::Read;
    } catch (...) {
        return false;
    }
}

}  // namespace LxObjects::Platform
