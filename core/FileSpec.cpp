// FileSpec and the two conversions between paths and URIs.
#include "core/FileSpec.h"

#include <cstring>
#include <vector>

#include "core/Refcountable.h"
#include "core/platform/FileSystem.h"
#include "core/platform/Folders.h"

namespace LxCore {

namespace {

// What a URI keeps as it is, beside letters and digits.
constexpr char kUriKeep[] = "-_.!~*'();/?:@&=+$,#";
constexpr char kFileScheme[] = "file://";

bool startsWith(const String& text, const char* prefix) {
    const i32 n = i32(std::strlen(prefix));
    return text.length() >= n && text.compare(prefix, n) == 0;
}

void dropFileScheme(String& text) {
    if (startsWith(text, kFileScheme))
        text.erase(0, i32(sizeof kFileScheme) - 1);
}

// "~" alone or before a "/" is the home folder; "~x" is a name like any other.
bool isHomeForm(const String& text) { return text[0] == '~' && (text.length() == 1 || text[1] == '/'); }

// The folder itself or a path below it, never a sibling that merely begins
// with the same letters (/home/me2 does not lie in /home/me).
bool liesIn(const String& path, const String& folder) {
    const i32 n = folder.length();
    if (n == 0 || path.length() < n || String(path.chars(), n) != folder)
        return false;
    return path.length() == n || path[n] == '/' || folder[n - 1] == '/';
}

// The home folder, empty when there is none.
String homeFolder() {
    String home;
    getHomeFolder(home);
    return home;
}

// The components of a URI path, without its leading '/'.
std::vector<String> splitComponents(const String& uri) {
    std::vector<String> parts;
    const i32 n = uri.length();
    i32 start = uri[0] == '/' ? 1 : 0;
    while (start < n) {
        i32 end = uri.find(unit('/'), start);
        if (end < 0)
            end = n;
        parts.push_back(uri.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

}  // namespace

// ---------------------------------------------------------------------------
// Paths and URIs

void pathToURI(String& out, const String& path, bool tilde) {
    if (path.isEmpty()) {
        out.clear();
        return;
    }
    String text = path;
    if (tilde) {
        const String home = homeFolder();
        if (liesIn(text, home)) {
            text.erase(0, home.length());
            if (!text.isEmpty() && text[0] != '/')
                text.insert(unit('/'), 0);
            text.insert(unit('~'), 0);
        }
    }
    while (text.length() > 1 && text[text.length() - 1] == '/')
        text.setLength(text.length() - 1);
    // A text no UTF-8 can carry (a lone surrogate) stays as it is.
    text.encodeURI(kUriKeep);
    out = text;
}

void uriToPath(String& out, const String& uri) {
    String text = uri;
    if (text.isEmpty()) {
        out.clear();
        return;
    }
    // A '%' that does not begin an escape leaves the text as it is.
    text.decodeURI();
    dropFileScheme(text);
    if (isHomeForm(text)) {
        const String home = homeFolder();
        if (!home.isEmpty()) {
            text.erase(0, 1);
            if (home[home.length() - 1] == '/' && text[0] == '/')
                text.erase(0, 1);  // a home of "/"
            text.insert(home, 0);
        }
    }
    if (text.length() > 1 && text[text.length() - 1] == '/')
        text.setLength(text.length() - 1);
    out = text;
}

// ---------------------------------------------------------------------------
// FileSpec

FileSpec::FileSpec() : d(new FileSpecData) {}

FileSpec::FileSpec(const FileSpec& other) : d(new FileSpecData) {
    try {
        d->path = other.d->path;
    } catch (...) {
        delete d;
        throw;
    }
}

FileSpec::FileSpec(const String& path, bool literal) : d(new FileSpecData) {
    try {
        set(path, literal);
    } catch (...) {
        delete d;
        throw;
    }
}

FileSpec& FileSpec::operator=(const FileSpec& other) {
    d->path = other.d->path;
    return *this;
}

FileSpec::~FileSpec() { delete d; }

bool FileSpec::operator==(const FileSpec& other) const {
    return this == &other || platformSamePath(d->path, other.d->path);
}

bool FileSpec::set(const String& path, bool literal) {
    String result;
    if (literal) {
        result = path;
    } else {
        String work = path;
        dropFileScheme(work);
        uriToPath(result, work);
    }
    // Relative paths are taken against the core's current folder; nothing
    // changes the process's working folder.
    GlobalLockGuard guard(kFileSystemLock);
    String full = platformGetFullPath(result);
    d->path = full.isEmpty() ? result : full;
    return true;
}

void FileSpec::toURI(String& out, bool tilde) const { pathToURI(out, d->path, tilde); }

void FileSpec::getNativePath(String& out) const { out = d->path; }

void FileSpec::getName(String& out) const {
    const i32 slash = d->path.find(unit('/'), -1, true);
    out = d->path.substr(slash + 1);
}

i32 FileSpec::getAttributes(u32* created, u32* modified) const {
    return i32(platformGetAttributes(d->path, created, modified));
}

bool FileSpec::resolveRelative(const String& relative) {
    String base, text;
    pathToURI(base, d->path, true);
    pathToURI(text, relative, true);
    if (text.isEmpty())
        return true;
    if (text[0] == '/' || isHomeForm(text))
        return set(text, false);
    while (text[0] == '.') {
        if (startsWith(text, "./")) {
            text.erase(0, 2);
        } else if (startsWith(text, "../") || text.compare("..") == 0) {
            const i32 slash = base.find(unit('/'), -1, true);
            if (slash < 0)
                break;  // "~" has no component left to take: "~/.." stays
            base.setLength(slash);
            text.erase(0, 3);
        } else {
            break;  // ".name", "..."
        }
        if (text[0] == '/')
            text.erase(0, 1);
    }
    base += unit('/');
    base += text;
    return set(base, false);
}

void FileSpec::getRelativePath(String& out, const FileSpec& base) const {
    String ownUri, baseUri;
    pathToURI(ownUri, d->path, false);
    pathToURI(baseUri, base.d->path, false);
    const std::vector<String> own = splitComponents(ownUri);
    const std::vector<String> from = splitComponents(baseUri);
    size_t common = 0;
    while (common < own.size() && common < from.size() && own[common] == from[common])
        ++common;
    String text;
    if (common > 0) {
        for (size_t i = common; i < from.size(); ++i) {
            if (!text.isEmpty())
                text += unit('/');
            text += "..";
        }
    }
    for (size_t i = common; i < own.size(); ++i) {
        if (!text.isEmpty() || common == 0)
            text += unit('/');
        text += own[i];
    }
    if (text.isEmpty())
        text = common == 0 && !from.empty() ? "/" : ".";  // the root against another folder
    out = text;
}

void FileSpec::getRelativePath(String& out) const {
    FileSpec current;
    getCurrentFolder(current);
    getRelativePath(out, current);
}

i32 FileSpec::resolveAlias(FileSpec& out) const {
    String target;
    const i32 status = platformResolveShortcut(d->path, target);
    out.d->path = target;
    return status;
}

void FileSpec::getResolvedPath(String& out) const {
    FileSpec target;
    if (resolveAlias(target) == 0)
        out = target.d->path;
    else
        out.clear();
}

i32 FileSpec::getCurrentFolder(FileSpec& out) {
    GlobalLockGuard guard(kFileSystemLock);
    return platformGetCurrentFolder(out.d->path);
}

i32 FileSpec::getSpecialFolder(i32 kind, FileSpec& out) { return platformGetSpecialFolder(kind, out.d->path); }

const char* FileSpec::getModulePath() { return platformGetModulePath(); }

}  // namespace LxCore
