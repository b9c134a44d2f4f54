// FileSpec: one absolute path naming a file or folder, and its
// URI form as scripts see it ("/home/me/notes.txt", "~/notes.txt",
// percent-encoded). Relative paths are taken against the core's current
// folder; the process's working folder is never changed.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

class SpecData : public Root {
public:
    virtual ~SpecData() = default;
};

// The absolute path: "/" separated, no trailing "/" except the root itself.
class FileSpecData : public SpecData {
public:
    String path;
};

class FileSpec {
public:
    FileSpec();                                    // an empty path
    FileSpec(const FileSpec& other);               // copies the data, never shares it
    FileSpec(const String& path, bool literal);    // runs set
    FileSpec& operator=(const FileSpec& other);
    ~FileSpec();

    // The same object, or the same path (case counts, as on the file system).
    bool operator==(const FileSpec& other) const;
    bool operator!=(const FileSpec& other) const { return !(*this == other); }

    // A literal path is taken as it stands; any other text may be a URI
    // ("file://" form, "~", percent escapes). Either is then made absolute.
    // Always true.
    bool set(const String& path, bool literal);

    // The URI form; with tilde the home folder is written "~".
    void toURI(String& out, bool tilde) const;
    void getNativePath(String& out) const;
    // The last component ("" for the root).
    void getName(String& out) const;
    // The attribute bits of platformGetAttributes, 0 when nothing is there;
    // optional times in seconds since 1970.
    i32 getAttributes(u32* created = nullptr, u32* modified = nullptr) const;

    // Re-points this spec (a folder) at a path relative to it: "./" goes,
    // each leading "../" takes a component off, and a text that begins with
    // "/" or "~" replaces it. Always true.
    bool resolveRelative(const String& relative);
    // This spec's URI relative to a base folder (the current folder when
    // none is given): "../b/c"; the whole URI when they share no component;
    // "." for the folder itself.
    void getRelativePath(String& out, const FileSpec& base) const;
    void getRelativePath(String& out) const;

    // The final target of a symbolic link into out, else a copy: 0, or 52
    // when links loop or cannot be read (out then holds this path).
    i32 resolveAlias(FileSpec& out) const;
    // The path of the resolved target; empty when resolving fails.
    void getResolvedPath(String& out) const;

    // The core's current folder: 0, or 52 when the system gives none.
    static i32 getCurrentFolder(FileSpec& out);
    // A special folder by kind (core/platform/Folders.h): 0, 32, -36 or 52.
    static i32 getSpecialFolder(i32 kind, FileSpec& out);
    // The path of this library's file as UTF-8 bytes; empty when unknown.
    static const char* getModulePath();

private:
    FileSpecData* d;
};

// The URI form of a path: the home folder as "~" when asked (only when the
// path lies in it), trailing "/" removed, percent-encoded as UTF-8 with
// "-_.!~*'();/?:@&=+$,#" kept.
void pathToURI(String& out, const String& path, bool tilde);
// The path of a URI: a leading "file://" removed, percent escapes decoded,
// "~" (alone or before "/") made the home folder, one trailing "/" removed.
void uriToPath(String& out, const String& uri);

}  // namespace LxCore
