// Small services of the operating system: process id, locale, links, files.
#pragma once
#include <cstdint>
#include <string>

namespace LxObjects::Platform {

uint32_t currentProcessId();

// The first non-empty of LC_ALL, LC_MESSAGES and LANG without codeset and
// modifier; "en_US" when there is none or it is C or POSIX.
std::string localeName();

// The final target of a symbolic link (relative targets taken from the
// link's folder); the path itself when it is not a link; empty when the
// chain of links cannot be followed.
std::string linkTarget(const std::string& path);

bool fileExists(const char* path);

}  // namespace LxObjects::Platform
