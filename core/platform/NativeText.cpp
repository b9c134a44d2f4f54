#include "core/platform/NativeText.h"

#include <cerrno>
#include <cstring>
#include <new>

#include "core/Encoder.h"
#include "core/ErrorCodes.h"

namespace LxCore {

namespace {

// Bytes a well-formed sequence starting with b takes; 0 when b cannot start
// one (a continuation byte, or a lead of five or six bytes, whose values all
// lie past U+10FFFF).
u32 leadLength(u8 b) {
    const u32 n = utf8LeadLength(b);
    return n <= 4 ? n : 0;
}

}  // namespace

bool toNative(const String& text, std::string& out) {
    out.clear();
    const unit* units = text.chars();
    const u32 n = u32(text.length());
    for (u32 i = 0; i < n; ++i)
        if (units[i] == 0)
            return false;
    if (n == 0)
        return true;
    const Encoder& e = *utf8Encoder();  // never null, at any stage of start-up
    u32 count = 0;
    if (e.getByteCount(units, i32(n), count) != 0 || count == kEncoderNoCount)
        return false;
    out.resize(count);
    u32 in = n, room = count;
    if (e.encode(units, in, out.data(), room) != 0 || in != n)
        return false;
    out.resize(room);
    return true;
}

// UTF-8 never takes fewer bytes than UTF-16 units, and a replaced byte gives
// one unit, so `length` units are always room enough.
String fromNative(const char* bytes, size_t length) {
    String text;
    if (!bytes || length == 0)
        return text;
    if (length > size_t(String::kMaxLength))
        throw std::bad_alloc();
    const Encoder& e = *utf8Encoder();
    text.setLength(i32(length));
    unit* out = text.getBuffer();
    u32 in = u32(length), room = u32(length);
    if (e.decode(bytes, in, out, room) == 0 && in == length) {
        text.setLength(i32(room));
        return text;
    }
    // Not well-formed: one sequence at a time, so that a bad byte costs
    // only itself and never the characters after it.
    size_t i = 0;
    u32 o = 0;
    while (i < length) {
        u32 n = leadLength(u8(bytes[i]));
        if (n > 0 && length - i >= n) {
            u32 took = n, made = n == 4 ? 2 : 1;
            if (e.decode(bytes + i, took, out + o, made) == 0 && took == n) {
                i += n;
                o += made;
                continue;
            }
        }
        out[o++] = 0xFFFD;
        ++i;
    }
    text.setLength(i32(o));
    return text;
}

String fromNative(const char* bytes) { return bytes ? fromNative(bytes, std::strlen(bytes)) : String(); }

i32 errorFromErrno(int err) {
    switch (err) {
        case ENOENT:
        case ENOTDIR:
            return Err::kFileNotFound;
        case EEXIST:
            return Err::kFileExists;
        case EACCES:
        case EPERM:
        case EROFS:
            return Err::kPermissionDenied;
        default:
            return Err::kIOError;
    }
}

}  // namespace LxCore
