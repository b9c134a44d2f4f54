// What the core asks of the user's session: the locale, the system's
// ANSI code page and the host's window.
#pragma once
#include "core/SimpleArray.h"
#include "core/String.h"

namespace LxCore {

// The first non-empty of LC_ALL, LC_MESSAGES and LANG without its codeset
// and modifier ("de_DE.UTF-8@euro" gives "de_DE"). None, "C", "POSIX", or a
// name that is not a language (two or three letters) with an optional "_"
// and region (two letters or three digits) give "en_US"; "no_NO" is "nb_NO".
String localeName();

// The code page the system encoder is built for: "CP1252", as on a Western
// Windows machine, whatever the locale.
String getAnsiCodePageName();

// Windows do not exist here: there is no host window, and bringing it to the
// front does nothing.
void* getHostWindow();
void bringHostWindowToFront();

struct Rect;

// "Linux%s %ld.%ld %s %s": "/64" on a 64-bit kernel, the kernel's major and
// minor number, its release text, and "(32-bit emulation)" for a 32-bit
// process on a 64-bit kernel (else empty).
String getOSVersionString();

// The monitors' rectangles, the primary first. There are none here: the
// list is left empty.
void getMonitorRects(TSimpleArray<Rect>& out);

// Environment variables, read and written under the process's environment
// lock (base/platform/EnvironmentLock.h). False when the variable is unset,
// or the name is empty or holds "=" or U+0000: such a name names nothing
// and setting it changes nothing (nor does a value holding U+0000).
bool getEnvironmentVariable(const String& name, String& out);
bool setEnvironmentVariable(const String& name, const String& value);

}  // namespace LxCore
