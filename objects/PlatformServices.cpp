#include "objects/PlatformServices.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "objects/platform/Crypto.h"
#include "objects/platform/Process.h"
#include "objects/platform/System.h"
#include "objects/platform/UserValues.h"

namespace LxObjects {

namespace {

const int kMaxIdLength = 40;
const int kIdBytes = 16;

// The id caches are read by the host's thread and the pump thread alike.
std::mutex idsMutex;
LoString* hashKeyCache = nullptr;
LoString* userIdCache = nullptr;

// Each byte "%X": upper-case hexadecimal without a leading zero.
LoString printBytes(const unsigned char* bytes, int count)
{
    LoString out;
    for (int i = 0; i < count; ++i) {
        char digits[4];
        int n = std::snprintf(digits, sizeof digits, "%X", unsigned(bytes[i]));
        out.append(digits, n);
    }
    return out;
}

LoString generateId()
{
    unsigned char bytes[kIdBytes];
    if (!Platform::randomBytes(bytes, sizeof bytes))
        return LoString();
    return printBytes(bytes, kIdBytes);
}

// The value of the first line "name=value" of the values file.
LoString findValue(const std::string& content, const char* name)
{
    size_t nameLength = std::strlen(name);
    for (size_t start = 0; start < content.size();) {
        size_t end = content.find('\n', start);
        if (end == std::string::npos)
            end = content.size();
        if (end - start > nameLength && content[start + nameLength] == '='
            && content.compare(start, nameLength, name) == 0) {
            size_t value = start + nameLength + 1;
            return LoString(content.data() + value, int(end - value));
        }
        start = end + 1;
    }
    return LoString();
}

LoString cachedId(LoString*& cache, const char* name)
{
    std::lock_guard<std::mutex> guard(idsMutex);
    if (!cache) {
        cache = new LoString;
        if (!cache)
            throw std::bad_alloc();
    }
    if (cache->isEmpty()) {
        LoString value = readOrCreateRegistryId(name);
        if (value.length() >= 1 && value.length() <= kMaxIdLength)
            *cache = value;
    }
    return *cache;
}

void dropCaches()
{
    delete hashKeyCache;
    delete userIdCache;
    hashKeyCache = nullptr;
    userIdCache = nullptr;
}

// Percent-encodes what a query value may not hold as it is ("#" would cut
// the sender off into a fragment).
void appendQueryValue(LoString& out, const LoString& value)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (int i = 0; i < value.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(value.text()[i]);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("-._~", c)) {
            out += char(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
}

// The program's folder; the current folder when the program names none.
std::string workingFolder(const std::string& program)
{
    size_t slash = program.rfind('/');
    if (slash == std::string::npos)
        return std::string();
    return slash == 0 ? "/" : program.substr(0, slash);
}

}  // namespace

LoString md5Hex(const LoString& text, const LoString& key)
{
    LoString input(key);
    input += '+';
    input += text;
    input += '+';
    input += key;
    unsigned char digest[Platform::kMd5Size];
    if (!Platform::md5(input.text(), size_t(input.length()), digest))
        return LoString();
    return printBytes(digest, Platform::kMd5Size);
}

LoString messageDigest(const LoString& text)
{
    return md5Hex(text, getHashKey());
}

LoString getHashKey()
{
    return cachedId(hashKeyCache, "MD5ID");
}

LoString getUserId()
{
    return cachedId(userIdCache, "UserID");
}

void initPlatformIds()
{
    {
        std::lock_guard<std::mutex> guard(idsMutex);
        dropCaches();
    }
    getUserId();
    getHashKey();
}

LoString readOrCreateRegistryId(const char* name)
{
    if (!name || !*name)
        return LoString();
    std::string content;
    Platform::UserValuesState state = Platform::readUserValues(content);
    if (state == Platform::UserValuesState::Missing) {
        // Without random bytes nothing is created, so a later start tries again.
        LoString value = generateId();
        if (value.isEmpty())
            return LoString();
        std::string line = std::string(name) + "=" + value.text() + "\n";
        if (!Platform::createUserValues(line))
            return LoString();
        state = Platform::readUserValues(content);
    }
    if (state != Platform::UserValuesState::Present)
        return LoString();
    return findValue(content, name);
}

void releasePlatformServices()
{
    std::lock_guard<std::mutex> guard(idsMutex);
    dropCaches();
}

LoString getSenderId()
{
    LoString id("localhost:win");
    id += u32(Platform::currentProcessId());
    return id;
}

bool isProcessAlive(u32 pid)
{
    return Platform::processIsAlive(pid);
}

bool launchProcess(const LoString& sender, const LoString& path, const LoString* args, bool background,
                   u32* pid)
{
    if (pid)
        *pid = 0;
    if (path.isEmpty())
        return false;
    try {
        if (std::strncmp(path.text(), "https://", 8) == 0) {
            LoString address(path);
            address += "?sender=";
            appendQueryValue(address, sender);
            return Platform::openAddress(address.text());
        }
        LoString commandLine;
        std::string program;
        if (path.text()[0] == '"') {
            commandLine = path;
        } else {
            // A quote inside would end the quoted path early and name another program.
            if (std::strchr(path.text(), '"'))
                return false;
            commandLine += '"';
            commandLine += path;
            commandLine += '"';
            program = path.text();
        }
        if (args) {
            commandLine += ' ';
            commandLine += *args;
        }
        if (program.empty())
            program = Platform::splitCommandLine(commandLine.text())[0];
        u32 id = 0;
        bool started = Platform::createProcess(commandLine.text(), workingFolder(program).c_str(), &id);
        if (pid)
            *pid = id;
        return started;
    } catch (...) {
        return false;
    }
}

LoString resolveShortcut(const LoString& path)
{
    std::string target = Platform::linkTarget(path.text());
    return target.empty() ? path : LoString(target.c_str(), int(target.size()));
}

void bringWindowToFront(const LoString&)
{
}

LoString getLocaleName()
{
    std::string name = Platform::localeName();
    return LoString(name.c_str(), int(name.size())).lowerCased();
}

bool fileExists(const LoString& path)
{
    return Platform::fileExists(path.text());
}

LoString pathSeparator()
{
    return LoString("/");
}

}  // namespace LxObjects
