// What the core asks of the user's session: the locale, the system's
// ANSI code page and the host's window.
#pragma once
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

}  // namespace LxCore
