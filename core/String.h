// The core's text type: a handle to a shared, reference-counted,
// copy-on-write buffer of UTF-16 units on the core heap.
#pragma once
#include <cstdarg>
#include "core/Types.h"

namespace LxCore {

class Array;
class Encoder;

// One string buffer: a single core-heap block, the units follow the header.
struct StringData {
    u32 length;        // in units; units[length] is always 0
    u32 capacityWord;  // low 31 bits: capacity - 1; bit 31: must not be shared
    u32 refCount;
    unit units[1];     // really capacity units: declared [1] so that compilers and
                       // the bounds sanitizer take it as a trailing array of any length
};

class String {
public:
    // Longest text a buffer can describe: capacity - 1 must fit 31 bits.
    static constexpr i32 kMaxLength = 0x7FFFFFFF;

    // Construction, assignment, release
    String();
    String(const String& other);
    String(const char* bytes);                     // Latin-1: each byte one unit
    String(const char* bytes, Encoder* encoder);   // null encoder: the current one
    String(const unit* units, i32 length = -1);    // negative length: up to the 0
    ~String();

    String& operator=(const String& other);
    String& operator=(char c);                     // sign-extended; 0 clears
    String& operator=(unit c);                     // 0 clears
    String& operator=(const char* bytes);
    String& operator=(const unit* units);

    void clear();
    void reset();
    static const String& emptyString();

    // Reading
    i32 length() const { return i32(d->length); }
    bool isEmpty() const { return d->length == 0; }
    const unit* chars() const { return d->units; }
    unit operator[](i32 index) const;              // 0 outside the text
    i64 capacity() const { return i64(d->capacityWord & 0x7FFFFFFF) + 1; }
    bool sharesBufferWith(const String& other) const { return d == other.d; }
    bool hasOtherHolders() const { return d->refCount > 1; }   // another handle shares the buffer
    bool isShareable() const { return (d->capacityWord & 0x80000000u) == 0; }

    // Size and content
    void allocate(i32 n);
    void setLength(i32 n);
    void fill(unit c, i32 count);
    void setAt(i32 index, unit c);
    void detach();
    unit* getBuffer();               // this string's own units, length() of them writable
    void setShareable(bool shareable);  // false: copies always get their own buffer

    // Appending and inserting
    String& operator+=(const String& s);
    String& operator+=(char c);
    String& operator+=(const char* bytes);
    String& operator+=(unit c);
    String& operator+=(const unit* units);
    String& append(const unit* units, i32 count);
    String& insert(const String& s, i32 pos);
    String& insert(unit c, i32 pos);
    String& insert(const char* bytes, i32 pos);

    // Comparison and search
    bool operator==(const String& other) const;
    i32 compare(const String& other) const;
    i32 compare(const char* bytes) const;
    i32 compare(const char* bytes, i32 maxLength) const;
    i32 compareIgnoreCase(const String& other) const;
    i32 compareIgnoreCase(const String& other, i32 maxLength) const;
    i32 compareIgnoreCase(const char* bytes) const;
    i32 compareIgnoreCase(const char* bytes, i32 maxLength) const;
    i32 find(const String& needle, i32 start = 0, bool backward = false) const;
    i32 find(unit c, i32 start = 0, bool backward = false) const;
    i32 find(const char* bytes, i32 start = 0, bool backward = false) const;
    i32 indexOf(const unit* needle, i32 length, i32 start = 0) const;
    i32 lastIndexOf(const unit* needle, i32 length, i32 start = -1) const;
    i32 findFirstOf(const char* set, i32 start = 0) const;

    // Replacing and cutting
    i32 replace(const String& find, const String& replacement, i32 start = 0);
    i32 replace(unit find, unit replacement, i32 start = 0);
    i32 replace(const unit* find, const unit* replacement, i32 start = 0);
    i32 replaceAll(const String& find, const String& replacement, i32 start = 0);
    i32 replaceAll(unit find, unit replacement, i32 start = 0);
    i32 replaceAll(const char* find, const char* replacement, i32 start = 0);
    i32 replaceAll(const char* find, const String& replacement, i32 start = 0);
    void erase(i32 start, i32 count = -1);
    String substr(i32 start, i32 length = -1) const;
    void trim();
    String nextToken(char separator);
    String nextToken(unit separator);
    String nextToken(const char* separator);

    // Formatting and conversion (StringFormat.cpp)
    void sprintf(const char* format, ...);
    void vsprintf(const unit* format, va_list args);
    void appendDouble(f64 value, char conversion, i32 precision, unit flag);
    String toSource(bool escapeNonAscii) const;
    bool parseLiteral(String& out, i32& pos) const;
    bool extractLiteral(String& out);
    // The position after the digits; kHexNotDigit at a unit that is not one;
    // kHexEndOfText when the text ends first (value holds the digits read).
    static constexpr i32 kHexNotDigit = -1;
    static constexpr i32 kHexEndOfText = -2;
    i32 parseHex(i32 pos, i32 maxDigits, u32& value) const;
    bool encodeURI(const char* keep);
    bool encodeURI(const unit* keep);
    bool decodeURI();
    i32 convertLineFeeds(i32 mode);
    bool toLower();
    bool toUpper();
    u32 decode(const char* bytes, i32 length, Encoder* encoder = nullptr);
    u32 encode(const char*& bytes, u32& length, Encoder* encoder = nullptr) const;
    const char* encode(Encoder* encoder = nullptr) const;
    void localize(const Array* args);

    // Localisation seam, filled by the localizer module; while unset, texts
    // that begin with "$$$" stay as they are.
    using ZStringResolver = void (*)(String& text);
    using TextLocalizer = void (*)(String& text, const Array* args);
    static void setLocalizationHooks(ZStringResolver resolve, TextLocalizer localize);

private:
    StringData* d;

    void adopt(StringData* data);
    void assign(const unit* units, i32 n);
    void replaceRange(i32 start, i32 count, const unit* with, i32 withLength);
    i32 replaceAllUnits(const unit* find, i32 findLength, const unit* with, i32 withLength,
                        i32 start);
    String takeToken(const unit* separator, i32 separatorLength);
};

// Line-break style of this platform for files: 1 CR LF, 2 CR, 3 LF.
i32 getPlatformLineFeed();

// Module start/end: the library-wide empty string.
void initString(bool start);

}  // namespace LxCore
