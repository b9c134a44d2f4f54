// Operating-system services of the Tellwire facility: message digests, the
// two per-user ids, the sender id of this process, launching programs and
// web addresses, links, liveness of processes and the user's locale. Every
// service reports failure by an empty result or false.
#pragma once
#include "objects/LoString.h"
#include "objects/LoTypes.h"

namespace LxObjects {

// Digest of key + "+" + text + "+" + key: each MD5 byte printed "%X"
// (upper case, no leading zero), so 16 to 32 characters; empty on failure.
LoString md5Hex(const LoString& text, const LoString& key);
// md5Hex(text, getHashKey()).
LoString messageDigest(const LoString& text);

// The per-user values "MD5ID" and "UserID", cached once read when they are
// 1 to 40 bytes long; empty when they cannot be had.
LoString getHashKey();
LoString getUserId();
// At facility start: both caches anew, the user id read first.
void initPlatformIds();
// Reads a per-user value. Only when the values file does not exist yet is a
// value generated (16 random bytes printed "%X") and the file created with
// it; an existing file is never written, so a value missing there stays
// empty. The file is read back after creation, so that processes starting
// together agree.
LoString readOrCreateRegistryId(const char* name);
// At facility shutdown: drops both caches.
void releasePlatformServices();

// "localhost:win" and this process's id.
LoString getSenderId();
// False for pid 0 and for a process that does not exist.
bool isProcessAlive(u32 pid);

// Starts a program or opens a web address. A path that begins with
// "https://" is opened with "?sender=" and sender appended (sender is the
// specifier of the current context's main endpoint, empty when none).
// Otherwise the command line is the path in double quotes (unchanged when it
// begins with one), then a blank and *args when given; the program runs in
// its own folder. There are no windows here, so background changes nothing.
// *pid is the new process id (0 for web addresses and failures).
bool launchProcess(const LoString& sender, const LoString& path, const LoString* args, bool background,
                   u32* pid);

// A shortcut is a symbolic link: its final target, or the path itself.
LoString resolveShortcut(const LoString& path);
// Windows do not exist here: nothing to bring forward.
void bringWindowToFront(const LoString& windowClass);
// The user's locale, lower-cased: "en_us", "de_de", "fr".
LoString getLocaleName();
bool fileExists(const LoString& path);
LoString pathSeparator();

}  // namespace LxObjects
