// Windows code pages, by number, converted by the C library's iconv: the
// layer under the code-page encoders.
#pragma once
#include "core/Types.h"

namespace LxCore {

// Flags of the conversion to UTF-16, with the values the code-page flags of
// the design have. Composed forms are what iconv gives wherever a page has
// them, so kCodePagePrecomposed asks for nothing more.
constexpr u32 kCodePagePrecomposed = 1;
constexpr u32 kCodePageFailOnInvalid = 8;   // stop at bytes the page does not define

// Why a conversion ended.
enum class CodePageStop : u8 {
    kDone,          // all input converted
    kInvalid,       // at input the page cannot take (see the flags)
    kIncomplete,    // the input ends inside a character
    kNoConverter,   // the system cannot convert this page now
};

// Each conversion starts from the page's initial shift state and ends back
// in it, so that every call stands alone; pieces of a text in a stateful
// page (ISO-2022, UTF-7) are therefore no substitute for the whole text.
struct CodePageResult {
    u32 consumed = 0;       // input converted: bytes, or UTF-16 units
    u64 produced = 0;       // output for that input: UTF-16 units, or bytes
    CodePageStop stop = CodePageStop::kDone;
    bool substituted = false;   // a replacement character stands for some input
};

// Whether the page has a number this layer knows and iconv converts it both
// ways (in place of asking the system for the page's description).
bool platformCodePageKnown(u32 codePage);

// Bytes of a page to UTF-16. The input is converted up to its end or to the
// stop, and `produced` is the full size of that result even when it is larger
// than `room`; the output then holds only part of it and is not to be used.
// A null `out` only counts. Without kCodePageFailOnInvalid, bytes the page
// does not define each become U+FFFD and the conversion goes on.
CodePageResult platformCodePageToUnicode(u32 codePage, u32 flags, const char* bytes,
                                         u32 byteCount, unit* out, u32 room);

// UTF-16 to bytes of a page, in the same way. A unit the page cannot hold,
// a lone surrogate among them, becomes the page's '?' and the conversion
// goes on; a high surrogate that ends the input stops it (kIncomplete).
// No flags are known.
CodePageResult platformCodePageFromUnicode(u32 codePage, u32 flags, const unit* units,
                                           u32 unitCount, char* out, u32 room);

}  // namespace LxCore
