// Text and errors across the operating-system boundary: paths, variables
// and names are UTF-8 on the system's side and UTF-16 Strings on ours, and
// errno values become the core's error numbers.
#pragma once
#include <cstddef>
#include <string>

#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// The UTF-8 form of a text for the system. False when no system string can
// carry it: a U+0000 would cut it short, a lone surrogate has no UTF-8.
bool toNative(const String& text, std::string& out);

// A text from the system's UTF-8 bytes; each byte that is not part of a
// well-formed sequence becomes one U+FFFD, and the rest is kept.
String fromNative(const char* bytes, size_t length);
String fromNative(const char* bytes);  // up to the 0; null gives an empty text

// The core error number for an errno value: no such file or folder (also a
// path through a file) 48, already exists 49, permission denied or a
// read-only file system 53, anything else 52.
i32 errorFromErrno(int err);

}  // namespace LxCore
