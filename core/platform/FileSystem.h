// The core's file-system operations. Paths are POSIX paths with "/"; a
// relative path is taken against the core's own current folder. The
// process's working folder belongs to the host and is never changed.
// Results are core error numbers (0 for success).
#pragma once
#include <cstdio>

#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// Attribute bits of platformGetAttributes. A shortcut is a symbolic link; it
// carries the folder bit when it leads to a folder, and never the file bit.
constexpr u32 kAttrFolder = 2;
constexpr u32 kAttrFile = 4;        // anything that is not a folder
constexpr u32 kAttrShortcut = 8;
constexpr u32 kAttrHidden = 16;     // the name begins with "."
constexpr u32 kAttrReadOnly = 32;   // the user's write permission bit is clear

// The bits of what is at the path, 0 when nothing is. The optional times are
// whole seconds since 1970 (creation is the modification time where the file
// system keeps no birth time); both 0 when nothing is there.
u32 platformGetAttributes(const String& path, u32* created = nullptr, u32* modified = nullptr);

// The absolute form of a path, made lexically: "." and empty components go,
// ".." takes away the component before it (never above "/"), and no "/"
// trails except the root. Empty for an empty path, or when a relative path
// meets no current folder.
String platformGetFullPath(const String& path);

unit getPathSeparator();

// Whether two stored paths name the same thing: the file system tells case
// apart, so the comparison does too.
bool platformSamePath(const String& a, const String& b);

// The process's working folder; 52 when the system gives none.
i32 readCurrentDirectory(String& out);

// The core's current folder, kept in the thread record: the process's
// working folder until it is set (and, without a record, always).
i32 platformGetCurrentFolder(String& out);
// Makes an existing folder current for the core: 48 when it is missing or not
// a folder, 53 when it may not be entered, 52 without a thread record.
i32 platformSetCurrentFolder(const String& path);

// Opens a C stream with an fopen mode ("rb", "w+b", "a+b" ...): 48 when the
// file or a folder on its way is missing, 52 for any other failure. A folder
// is not a file, and opening never waits for the other end of a pipe.
i32 platformOpenStream(const String& path, const char* mode, FILE*& stream);

// Opens a regular file for reading, and nothing else. What the path names
// is looked at before it is opened, so that no device is touched, and again
// on the open descriptor, in case something else took the file's place
// meanwhile; opening never waits. size is the file's length in bytes.
// 48 missing, 53 not allowed, 52 for what is not a regular file and for
// any other failure.
i32 platformOpenRegularFile(const String& path, FILE*& stream, i64& size);

// Whether the path leads, through any links, to a regular file. A device or
// a pipe may never end or may wait for input: readers of whole files that
// a script names take nothing else.
bool platformIsRegularFile(const String& path);

// Whether both paths lead, through any links, to one existing file.
bool platformSameFile(const String& a, const String& b);

// Removes a file, a symbolic link (not what it leads to) or an empty folder:
// 48 missing, 53 not allowed, 52 otherwise (a folder that is not empty too).
i32 platformRemoveFile(const String& path);

// Cuts or extends an existing file to the length: 48 missing, 52 otherwise.
i32 platformSetFileLength(const String& path, u32 length);

// The final target of a symbolic link (each relative link taken against the
// folder that holds it); any other path comes back as it is. 52 when the
// links loop or cannot be read.
i32 platformResolveShortcut(const String& path, String& out);

// Opens the file or folder with the desktop's program for it (xdg-open), in
// the background: 48 when nothing is at the path, 52 when no opener runs.
i32 platformExecute(const String& path);

// Files carry no type and creator codes here: both read '????'; setting them
// does nothing. Both answer 0.
i32 platformGetTypeCreator(const String& path, u32& type, u32& creator);
i32 platformSetTypeCreator(const String& path, u32 type, u32 creator);

// Module start/end: the thread record's current folder, read from the
// process's working folder at start (a failure leaves it to be read on first
// need); the end empties it, so that it is read again when next needed.
void initCurrentFolder(bool start);

}  // namespace LxCore
