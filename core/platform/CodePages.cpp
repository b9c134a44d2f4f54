#include "core/platform/CodePages.h"

#include <iconv.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace LxCore {

namespace {

// Windows code-page numbers and the glibc names of the same character sets.
// Pages are looked up by number only: a page missing here is not known, even
// when iconv has a set of a similar name.
struct PageName {
    u32 codePage;
    const char* iconvName;
};

constexpr PageName kPages[] = {
    {37, "IBM037"},         {437, "IBM437"},        {500, "IBM500"},
    {708, "ASMO-708"},      {737, "CP737"},         {775, "IBM775"},
    {850, "IBM850"},        {852, "IBM852"},        {855, "IBM855"},
    {857, "IBM857"},        {858, "IBM858"},        {860, "IBM860"},
    {861, "IBM861"},        {862, "IBM862"},        {863, "IBM863"},
    {864, "IBM864"},        {865, "IBM865"},        {866, "IBM866"},
    {869, "IBM869"},        {870, "IBM870"},        {874, "WINDOWS-874"},
    {875, "IBM875"},        {932, "CP932"},         {936, "CP936"},
    {949, "CP949"},         {950, "CP950"},         {1026, "IBM1026"},
    {1047, "IBM1047"},      {1140, "IBM1140"},      {1141, "IBM1141"},
    {1142, "IBM1142"},      {1143, "IBM1143"},      {1144, "IBM1144"},
    {1145, "IBM1145"},      {1146, "IBM1146"},      {1147, "IBM1147"},
    {1148, "IBM1148"},      {1149, "IBM1149"},      {1250, "CP1250"},
    {1251, "CP1251"},       {1252, "CP1252"},       {1253, "CP1253"},
    {1254, "CP1254"},       {1255, "CP1255"},       {1256, "CP1256"},
    {1257, "CP1257"},       {1258, "CP1258"},       {1361, "JOHAB"},
    {10000, "MACINTOSH"},   {10007, "MAC-CYRILLIC"}, {10017, "MACUKRAINIAN"},
    {10029, "MAC-CENTRALEUROPE"}, {10079, "MAC-IS"}, {20127, "ANSI_X3.4-1968"},
    {20866, "KOI8-R"},      {20932, "EUC-JP"},      {20936, "GB2312"},
    {21866, "KOI8-U"},      {28591, "ISO-8859-1"},  {28592, "ISO-8859-2"},
    {28593, "ISO-8859-3"},  {28594, "ISO-8859-4"},  {28595, "ISO-8859-5"},
    {28596, "ISO-8859-6"},  {28597, "ISO-8859-7"},  {28598, "ISO-8859-8"},
    {28599, "ISO-8859-9"},  {28600, "ISO-8859-10"}, {28603, "ISO-8859-13"},
    {28604, "ISO-8859-14"}, {28605, "ISO-8859-15"}, {28606, "ISO-8859-16"},
    {38598, "ISO-8859-8"},  {50220, "ISO-2022-JP"}, {50225, "ISO-2022-KR"},
    {51932, "EUC-JP"},      {51936, "GB2312"},      {51949, "EUC-KR"},
    {54936, "GB18030"},     {65000, "UTF-7"},       {65001, "UTF-8"},
};

const char* iconvNameOf(u32 codePage) {
    for (const PageName& page : kPages)
        if (page.codePage == codePage)
            return page.iconvName;
    return nullptr;
}

// Our side of every conversion: UTF-16 in the machine's byte order, no mark.
const char* utf16Name() {
    return std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";
}

class Converter {
public:
    Converter(const char* to, const char* from)
        : cd(to && from ? iconv_open(to, from) : kNone) {}
    ~Converter() {
        if (ok())
            iconv_close(cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd != kNone; }
    iconv_t get() const { return cd; }

private:
    static inline const iconv_t kNone = reinterpret_cast<iconv_t>(-1);
    iconv_t cd;
};

// Where a conversion writes: the caller's buffer while it has room, then a
// scratch buffer that only counts, so that the full size is always known.
class Output {
public:
    Output(char* out, size_t room)
        : start(out ? out : scratch), at(start), left(out ? room : sizeof scratch) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;

    char** position() { return &at; }
    size_t* room() { return &left; }
    u64 produced() const { return done + u64(at - start); }

    // The next piece does not fit: go on in the scratch buffer. False when
    // even an empty scratch buffer could not take it.
    bool overflow() {
        if (start == scratch && at == scratch)
            return false;
        done += u64(at - start);
        start = at = scratch;
        left = sizeof scratch;
        return true;
    }

    bool write(const void* bytes, size_t n) {
        if (left < n && !overflow())
            return false;
        std::memcpy(at, bytes, n);
        at += n;
        left -= n;
        return true;
    }

private:
    char scratch[1024];
    char* start;
    char* at;
    size_t left;
    u64 done = 0;
};

bool isFull() { return errno == E2BIG; }

// Converts `n` bytes of input, making room as needed.
bool convertAll(iconv_t cd, char* input, size_t n, Output& out) {
    while (iconv(cd, &input, &n, out.position(), out.room()) == size_t(-1))
        if (!isFull() || !out.overflow())
            return false;
    return true;
}

// Writes what the converter still holds (a character kept back to see what
// follows it) and the sequence back to the initial shift state.
bool finish(iconv_t cd, Output& out) {
    while (iconv(cd, nullptr, nullptr, out.position(), out.room()) == size_t(-1))
        if (!isFull() || !out.overflow())
            return false;
    return true;
}

// How the two directions differ.
struct Direction {
    size_t inputUnit;       // bytes of one input unit
    size_t outputUnit;      // bytes of one output unit
    bool failOnInvalid;     // stop at input the page cannot take, else replace it
};

// Replacements: U+FFFD on our side, the page's own '?' on the other.
bool writeReplacement(iconv_t cd, Output& out, const Direction& d) {
    if (d.outputUnit == sizeof(unit)) {
        const unit replacement = 0xFFFD;
        return out.write(&replacement, sizeof replacement);
    }
    unit question = '?';
    return convertAll(cd, reinterpret_cast<char*>(&question), sizeof question, out);
}

CodePageResult run(iconv_t cd, const char* input, size_t inputBytes, Output& out,
                   const Direction& d) {
    CodePageResult result;
    char* in = const_cast<char*>(input);
    size_t left = inputBytes;
    while (left > 0) {
        if (iconv(cd, &in, &left, out.position(), out.room()) != size_t(-1))
            break;
        const int err = errno;
        if (err == E2BIG && out.overflow())
            continue;
        if (err == EILSEQ && !d.failOnInvalid) {
            // One unit at a time: a pair the page cannot hold gives two.
            if (!writeReplacement(cd, out, d)) {
                result.stop = CodePageStop::kNoConverter;
                break;
            }
            in += d.inputUnit;
            left -= d.inputUnit;
            result.substituted = true;
            continue;
        }
        result.stop = err == EILSEQ   ? CodePageStop::kInvalid
                      : err == EINVAL ? CodePageStop::kIncomplete
                                      : CodePageStop::kNoConverter;
        break;
    }
    if (result.stop != CodePageStop::kNoConverter && !finish(cd, out))
        result.stop = CodePageStop::kNoConverter;
    result.consumed = u32((size_t(in - input)) / d.inputUnit);
    result.produced = out.produced() / d.outputUnit;
    return result;
}

CodePageResult noConverter() {
    CodePageResult result;
    result.stop = CodePageStop::kNoConverter;
    return result;
}

}  // namespace

bool platformCodePageKnown(u32 codePage) {
    const char* name = iconvNameOf(codePage);
    if (!name)
        return false;
    Converter in(utf16Name(), name), out(name, utf16Name());
    return in.ok() && out.ok();
}

CodePageResult platformCodePageToUnicode(u32 codePage, u32 flags, const char* bytes,
                                         u32 byteCount, unit* out, u32 room) {
    Converter cd(utf16Name(), iconvNameOf(codePage));
    if (!cd.ok())
        return noConverter();
    Output output(reinterpret_cast<char*>(out), out ? size_t(room) * sizeof(unit) : 0);
    const Direction d{1, sizeof(unit), (flags & kCodePageFailOnInvalid) != 0};
    return run(cd.get(), bytes, bytes ? byteCount : 0, output, d);
}

CodePageResult platformCodePageFromUnicode(u32 codePage, u32 flags, const unit* units,
                                           u32 unitCount, char* out, u32 room) {
    Converter cd(iconvNameOf(codePage), utf16Name());
    if (!cd.ok())
        return noConverter();
    Output output(out, out ? room : 0);
    const Direction d{sizeof(unit), 1, false};
    return run(cd.get(), reinterpret_cast<const char*>(units),
               units ? size_t(unitCount) * sizeof(unit) : 0, output, d);
}

}  // namespace LxCore
