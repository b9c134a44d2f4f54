// Copy-on-write UTF-16 strings over reference-counted core-heap buffers.
#include "core/String.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "core/CharClass.h"
#include "core/Heap.h"
#include "core/Refcountable.h"

namespace LxCore {

namespace {

constexpr u32 kNoShareBit = 0x80000000u;
constexpr u32 kCapacityMask = 0x7FFFFFFFu;
constexpr i32 kKeepSpare = 2048;   // a buffer shrinks only past this many spare units
constexpr i32 kNaiveNeedle = 16;   // longer needles use a linear-time search

// Every empty string shares this buffer; its count starts at 1 so it never reaches 0.
StringData gSharedEmpty = {0, 0, 1, {0}};

alignas(String) unsigned char gEmptyStringStorage[sizeof(String)];
bool gEmptyStringMade = false;

void checkLength(i64 n) {
    if (n > String::kMaxLength) throw std::bad_alloc();
}

// 16, or the smallest power of two from 16 up that holds n units and the 0.
u64 capacityFor(i64 n) {
    checkLength(n);
    u64 capacity = 16;
    while (capacity < u64(n) + 1) capacity <<= 1;
    return capacity;
}

u64 blockBytes(u64 capacity) {
    return offsetof(StringData, units) + capacity * sizeof(unit);
}

u64 capacityOf(const StringData* p) {
    return u64(p->capacityWord & kCapacityMask) + 1;
}

StringData* makeData(i64 n, u64 capacity) {
    auto* p = static_cast<StringData*>(Heap::alloc(blockBytes(capacity)));
    p->length = u32(n);
    p->capacityWord = u32(capacity - 1);
    p->refCount = 1;
    unit* units = p->units;
    units[n] = 0;
    return p;
}

StringData* makeData(i64 n) { return makeData(n, capacityFor(n)); }

StringData* copyData(const StringData* from, i64 n, u64 capacity) {
    StringData* p = makeData(n, capacity);
    std::memcpy(p->units, from->units, size_t(n) * sizeof(unit));
    return p;
}

void releaseData(StringData* p) {
    if (atomicDecrement(&p->refCount) == 0 && p != &gSharedEmpty) Heap::free(p);
}

StringData* emptyData() {
    atomicIncrement(&gSharedEmpty.refCount);
    return &gSharedEmpty;
}

// A counted reference to p; a must-not-share buffer is copied instead.
StringData* shareData(StringData* p) {
    if (p->capacityWord & kNoShareBit) {
        if (p->length == 0) return emptyData();
        return copyData(p, p->length, capacityFor(p->length));
    }
    atomicIncrement(&p->refCount);
    return p;
}

bool isShared(const StringData* p) { return p->refCount > 1 || p == &gSharedEmpty; }

i32 byteLength(const char* bytes) {
    if (!bytes) return 0;
    size_t n = std::strlen(bytes);
    checkLength(i64(n));
    return i32(n);
}

i32 unitLength(const unit* units) {
    if (!units) return 0;
    size_t n = utf16Length(units);
    checkLength(i64(n));
    return i32(n);
}

void widen(unit* to, const char* from, i32 n) {
    for (i32 i = 0; i < n; i++) to[i] = unit(u8(from[i]));
}

unit upperByte(char c) {
    u8 b = u8(c);
    return unit(b >= 'a' && b <= 'z' ? b - 32 : b);
}

// Compares two unit sequences after mapping each unit; the shorter of two
// otherwise equal sequences is the smaller.
template <typename A, typename B>
i32 compareMapped(i32 aLength, A a, i32 bLength, B b) {
    i32 n = aLength < bLength ? aLength : bLength;
    for (i32 i = 0; i < n; i++) {
        i32 diff = i32(a(i)) - i32(b(i));
        if (diff != 0) return diff;
    }
    return aLength == bLength ? 0 : aLength < bLength ? -1 : 1;
}

// First match of the needle in hay[from..to] (match starts), stepping by dir.
// Long needles go through a failure table so that no input is quadratic.
i32 searchUnits(const unit* hay, i32 hayLength, const unit* needle, i32 needleLength,
                i32 from, bool backward) {
    if (needleLength <= kNaiveNeedle) {
        i32 step = backward ? -1 : 1;
        i32 last = backward ? -1 : hayLength - needleLength + 1;
        for (i32 i = from; i != last; i += step) {
            if (hay[i] == needle[0] &&
                std::memcmp(hay + i, needle, size_t(needleLength) * sizeof(unit)) == 0)
                return i;
        }
        return -1;
    }
    // Knuth-Morris-Pratt, reading both texts in the search direction.
    auto pat = [&](i32 k) { return backward ? needle[needleLength - 1 - k] : needle[k]; };
    struct Table {
        i32* p;
        ~Table() { Heap::free(p); }
    } fail{static_cast<i32*>(Heap::alloc(u64(needleLength) * sizeof(i32)))};
    fail.p[0] = 0;
    for (i32 k = 1, m = 0; k < needleLength; k++) {
        while (m > 0 && pat(k) != pat(m)) m = fail.p[m - 1];
        if (pat(k) == pat(m)) m++;
        fail.p[k] = m;
    }
    // In search direction the text runs from begin to end (end exclusive).
    i64 begin = backward ? i64(from) + needleLength - 1 : from;
    i64 count = backward ? begin + 1 : i64(hayLength) - from;
    for (i64 j = 0, m = 0; j < count; j++) {
        unit c = backward ? hay[begin - j] : hay[begin + j];
        while (m > 0 && c != pat(i32(m))) m = fail.p[m - 1];
        if (c == pat(i32(m))) m++;
        if (m == needleLength) {
            i64 end = backward ? begin - j : begin + j;  // last unit read
            return i32(backward ? end : end - needleLength + 1);
        }
    }
    return -1;
}

bool isBlank(unit c) { return c <= 32; }

}  // namespace

// ---- construction, assignment, release ----

String::String() : d(emptyData()) {}

String::String(const String& other) : d(shareData(other.d)) {}

String::String(const char* bytes) : d(emptyData()) {
    i32 n = byteLength(bytes);
    if (n == 0) return;
    StringData* p = makeData(n);
    widen(p->units, bytes, n);
    adopt(p);
}

String::String(const char* bytes, Encoder* encoder) : d(emptyData()) {
    i32 n = byteLength(bytes);
    if (n > 0) decode(bytes, n, encoder);
}

String::String(const unit* units, i32 length) : d(emptyData()) {
    if (length < 0) length = unitLength(units);
    if (!units || length == 0) return;
    StringData* p = makeData(length);
    std::memcpy(p->units, units, size_t(length) * sizeof(unit));
    adopt(p);
}

String::~String() { releaseData(d); }

// Takes over a fresh buffer (count 1) and lets the old one go.
void String::adopt(StringData* data) {
    StringData* old = d;
    d = data;
    releaseData(old);
}

String& String::operator=(const String& other) {
    if (d != other.d) adopt(shareData(other.d));
    return *this;
}

String& String::operator=(char c) { return *this = unit(i16(static_cast<signed char>(c))); }

String& String::operator=(unit c) {
    assign(&c, c == 0 ? 0 : 1);
    return *this;
}

String& String::operator=(const char* bytes) {
    *this = String(bytes);
    return *this;
}

String& String::operator=(const unit* units) {
    assign(units, unitLength(units));
    return *this;
}

// A shared buffer is not copied only to be overwritten; the units may lie in it.
void String::assign(const unit* units, i32 n) {
    if (n == 0) {
        clear();
    } else if (isShared(d)) {
        StringData* p = makeData(n);
        std::memcpy(p->units, units, size_t(n) * sizeof(unit));
        adopt(p);
    } else {
        replaceRange(0, length(), units, n);
    }
}

void String::clear() {
    if (d != &gSharedEmpty) adopt(emptyData());
}

void String::reset() {
    if (d == &gSharedEmpty) return;
    if (isShared(d)) {
        adopt(makeData(0, capacityOf(d)));
        return;
    }
    d->length = 0;
    d->units[0] = 0;
}

const String& String::emptyString() {
    if (!gEmptyStringMade) {
        new (gEmptyStringStorage) String();
        gEmptyStringMade = true;
    }
    return *std::launder(reinterpret_cast<String*>(gEmptyStringStorage));
}

void initString(bool start) {
    if (start) {
        String::emptyString();
    } else if (gEmptyStringMade) {
        std::launder(reinterpret_cast<String*>(gEmptyStringStorage))->~String();
        gEmptyStringMade = false;
    }
}

unit String::operator[](i32 index) const {
    return index >= 0 && index < length() ? d->units[index] : unit(0);
}

// ---- size and content ----

void String::allocate(i32 n) {
    if (n <= 0) {
        clear();
        return;
    }
    adopt(makeData(n));
}

void String::setLength(i32 n) {
    if (n <= 0) {
        clear();
        return;
    }
    if (isShared(d)) {
        u32 keep = d->length < u32(n) ? d->length : u32(n);
        adopt(copyData(d, keep, capacityFor(n)));
    } else {
        u64 spare = capacityOf(d) - 1;
        bool fits = spare >= u64(n) && spare - u64(n) <= u64(kKeepSpare);
        if (!fits) {
            u64 capacity = capacityFor(n);
            try {
                d = static_cast<StringData*>(Heap::realloc(d, blockBytes(capacity)));
                d->capacityWord = (d->capacityWord & kNoShareBit) | u32(capacity - 1);
            } catch (const std::bad_alloc&) {
                // Shrinking is only an economy: keep the larger buffer.
                if (spare < u64(n)) throw;
            }
        }
    }
    d->length = u32(n);
    unit* units = d->units;
    units[n] = 0;
}

void String::fill(unit c, i32 count) {
    if (count <= 0) {
        clear();
        return;
    }
    if (isShared(d)) {
        allocate(count);
    } else {
        setLength(count);
    }
    unit* units = d->units;
    for (i32 i = 0; i < count; i++) units[i] = c;
}

void String::setAt(i32 index, unit c) {
    if (index < 0 || index >= length()) return;
    detach();
    d->units[index] = c;
}

void String::detach() {
    if (d != &gSharedEmpty && d->refCount > 1) adopt(copyData(d, d->length, capacityOf(d)));
}

unit* String::getBuffer() {
    if (d == &gSharedEmpty) adopt(makeData(0));
    detach();
    return d->units;
}

void String::setShareable(bool shareable) {
    if (shareable) {
        if (d != &gSharedEmpty) d->capacityWord &= ~kNoShareBit;
        return;
    }
    if (d == &gSharedEmpty) adopt(makeData(0));
    detach();
    d->capacityWord |= kNoShareBit;
}

// Replaces count units at start by withLength units; the text may come from
// this string's own buffer.
void String::replaceRange(i32 start, i32 count, const unit* with, i32 withLength) {
    i32 oldLength = length();
    i64 newLength = i64(oldLength) - count + withLength;
    checkLength(newLength);
    auto at = reinterpret_cast<uintptr_t>(with);
    auto base = reinterpret_cast<uintptr_t>(d->units);
    if (withLength > 0 && at >= base && at < base + capacityOf(d) * sizeof(unit)) {
        const String copy(with, withLength);
        replaceRange(start, count, copy.chars(), withLength);
        return;
    }
    if (newLength == 0) {
        clear();
        return;
    }
    i32 tail = oldLength - start - count;
    if (newLength > oldLength) {
        setLength(i32(newLength));
    } else {
        detach();
    }
    unit* units = d->units;
    if (tail > 0 && count != withLength)
        std::memmove(units + start + withLength, units + start + count, size_t(tail) * sizeof(unit));
    if (withLength > 0) std::memcpy(units + start, with, size_t(withLength) * sizeof(unit));
    if (newLength < oldLength) setLength(i32(newLength));
}

// ---- appending and inserting ----

String& String::operator+=(const String& s) { return append(s.chars(), s.length()); }

String& String::operator+=(char c) { return *this += unit(u8(c)); }

String& String::operator+=(const char* bytes) {
    i32 n = byteLength(bytes);
    if (n == 0) return *this;
    i32 old = length();
    checkLength(i64(old) + n);
    setLength(old + n);
    widen(d->units + old, bytes, n);
    return *this;
}

String& String::operator+=(unit c) { return append(&c, 1); }

String& String::operator+=(const unit* units) { return append(units, -1); }

String& String::append(const unit* units, i32 count) {
    if (count < 0) count = unitLength(units);
    if (units && count > 0) replaceRange(length(), 0, units, count);
    return *this;
}

String& String::insert(const String& s, i32 pos) {
    if (pos < 0) pos = 0;
    if (pos > length()) pos = length();
    if (!s.isEmpty()) replaceRange(pos, 0, s.chars(), s.length());
    return *this;
}

String& String::insert(unit c, i32 pos) { return insert(String(&c, 1), pos); }

String& String::insert(const char* bytes, i32 pos) { return insert(String(bytes), pos); }

// ---- comparison and search ----

bool String::operator==(const String& other) const {
    return d == other.d || (d->length == other.d->length &&
                            std::memcmp(d->units, other.d->units, d->length * sizeof(unit)) == 0);
}

i32 String::compare(const String& other) const {
    if (d == other.d) return 0;
    const unit* a = d->units;
    const unit* b = other.d->units;
    return compareMapped(length(), [a](i32 i) { return a[i]; },
                         other.length(), [b](i32 i) { return b[i]; });
}

i32 String::compare(const char* bytes) const { return compare(bytes, kMaxLength); }

i32 String::compare(const char* bytes, i32 maxLength) const {
    if (maxLength < 1) return 0;
    const unit* a = d->units;
    i32 aLength = length() < maxLength ? length() : maxLength;
    i32 bLength = bytes ? i32(strnlen(bytes, size_t(maxLength))) : 0;
    return compareMapped(aLength, [a](i32 i) { return a[i]; },
                         bLength, [bytes](i32 i) { return unit(u8(bytes[i])); });
}

i32 String::compareIgnoreCase(const String& other) const {
    return compareIgnoreCase(other, kMaxLength);
}

i32 String::compareIgnoreCase(const String& other, i32 maxLength) const {
    if (maxLength < 1) return 0;
    const unit* a = d->units;
    const unit* b = other.d->units;
    i32 aLength = length() < maxLength ? length() : maxLength;
    i32 bLength = other.length() < maxLength ? other.length() : maxLength;
    return compareMapped(aLength, [a](i32 i) { return toUpperChar(a[i]); },
                         bLength, [b](i32 i) { return toUpperChar(b[i]); });
}

i32 String::compareIgnoreCase(const char* bytes) const {
    return compareIgnoreCase(bytes, kMaxLength);
}

i32 String::compareIgnoreCase(const char* bytes, i32 maxLength) const {
    if (maxLength < 1) return 0;
    const unit* a = d->units;
    i32 aLength = length() < maxLength ? length() : maxLength;
    i32 bLength = bytes ? i32(strnlen(bytes, size_t(maxLength))) : 0;
    return compareMapped(aLength, [a](i32 i) { return toUpperChar(a[i]); },
                         bLength, [bytes](i32 i) { return upperByte(bytes[i]); });
}

i32 String::find(const String& needle, i32 start, bool backward) const {
    return backward ? lastIndexOf(needle.chars(), needle.length(), start)
                    : indexOf(needle.chars(), needle.length(), start);
}

i32 String::find(unit c, i32 start, bool backward) const {
    return backward ? lastIndexOf(&c, 1, start) : indexOf(&c, 1, start);
}

i32 String::find(const char* bytes, i32 start, bool backward) const {
    return find(String(bytes), start, backward);
}

i32 String::indexOf(const unit* needle, i32 needleLength, i32 start) const {
    if (needleLength < 0) needleLength = unitLength(needle);
    if (!needle) needleLength = 0;
    i32 n = length();
    if (start < 0) start = 0;
    if (needleLength == 0) return start < n ? start : n;
    if (start > n || needleLength > n - start) return -1;
    return searchUnits(d->units, n, needle, needleLength, start, false);
}

i32 String::lastIndexOf(const unit* needle, i32 needleLength, i32 start) const {
    if (needleLength < 0) needleLength = unitLength(needle);
    if (!needle) needleLength = 0;
    i32 n = length();
    if (start < 0 || start > n) start = n;
    if (needleLength == 0) return start;
    if (needleLength > n) return -1;
    if (start > n - needleLength) start = n - needleLength;
    return searchUnits(d->units, n, needle, needleLength, start, true);
}

i32 String::findFirstOf(const char* set, i32 start) const {
    i32 n = length();
    if (start < 0 || start > n) return -1;
    if (!set || !*set) return start;
    for (i32 i = start; i < n; i++) {
        unit c = d->units[i];
        if (c != 0 && c < 256 && std::strchr(set, char(c))) return i;
    }
    return -1;
}

// ---- replacing and cutting ----

i32 String::replace(const String& find, const String& replacement, i32 start) {
    if (find.isEmpty()) {
        insert(replacement, 0);
        return 0;
    }
    i32 at = indexOf(find.chars(), find.length(), start);
    if (at >= 0) replaceRange(at, find.length(), replacement.chars(), replacement.length());
    return at;
}

i32 String::replace(unit find, unit replacement, i32 start) {
    return replace(String(&find, 1), String(&replacement, 1), start);
}

i32 String::replace(const unit* find, const unit* replacement, i32 start) {
    return replace(String(find), String(replacement), start);
}

// Counts the matches first, so the result is sized (and checked) once and
// the text is built in one pass whatever the number of matches.
i32 String::replaceAllUnits(const unit* find, i32 findLength, const unit* with, i32 withLength,
                            i32 start) {
    if (findLength <= 0) return 0;
    if (start < 0) start = 0;
    i64 count = 0;
    for (i32 at = indexOf(find, findLength, start); at >= 0;
         at = indexOf(find, findLength, at + findLength))
        count++;
    if (count == 0) return 0;
    i64 newLength = i64(length()) + count * (i64(withLength) - findLength);
    checkLength(newLength);
    if (newLength == 0) {
        clear();
        return i32(count);
    }
    StringData* p = makeData(newLength);
    const unit* from = d->units;
    unit* to = p->units;
    i32 copied = 0;
    for (i32 at = indexOf(find, findLength, start); at >= 0;
         at = indexOf(find, findLength, at + findLength)) {
        std::memcpy(to, from + copied, size_t(at - copied) * sizeof(unit));
        to += at - copied;
        if (withLength > 0) std::memcpy(to, with, size_t(withLength) * sizeof(unit));
        to += withLength;
        copied = at + findLength;
    }
    std::memcpy(to, from + copied, size_t(length() - copied) * sizeof(unit));
    if (!isShared(d)) p->capacityWord |= d->capacityWord & kNoShareBit;
    adopt(p);
    return i32(count);
}

i32 String::replaceAll(const String& find, const String& replacement, i32 start) {
    return replaceAllUnits(find.chars(), find.length(), replacement.chars(),
                           replacement.length(), start);
}

i32 String::replaceAll(unit find, unit replacement, i32 start) {
    if (start < 0) start = 0;
    i32 count = 0;
    for (i32 i = start; i < length(); i++) {
        if (d->units[i] != find) continue;
        if (count++ == 0) detach();
        d->units[i] = replacement;
    }
    return count;
}

i32 String::replaceAll(const char* find, const char* replacement, i32 start) {
    return replaceAll(String(find), String(replacement), start);
}

i32 String::replaceAll(const char* find, const String& replacement, i32 start) {
    return replaceAll(String(find), replacement, start);
}

void String::erase(i32 start, i32 count) {
    i32 n = length();
    if (start < 0 || start >= n || count == 0) return;
    if (count < 0 || count > n - start) count = n - start;
    replaceRange(start, count, nullptr, 0);
}

String String::substr(i32 start, i32 length) const {
    i32 n = this->length();
    if (start < 0) start = 0;
    if (start >= n) return String();
    if (length < 0 || length > n - start) length = n - start;
    if (start == 0 && length == n) return *this;
    return String(d->units + start, length);
}

void String::trim() {
    i32 n = length();
    i32 end = n;
    while (end > 0 && isBlank(d->units[end - 1])) end--;
    i32 begin = 0;
    while (begin < end && isBlank(d->units[begin])) begin++;
    if (end < n) erase(end, -1);
    if (begin > 0) erase(0, begin);
}

// The text before the separator, trimmed, is handed out and removed with the
// separator. No separator (or an empty one) hands out all of the text.
String String::takeToken(const unit* separator, i32 separatorLength) {
    i32 at = separatorLength > 0 ? indexOf(separator, separatorLength, 0) : -1;
    String token;
    if (at < 0) {
        token = *this;
        clear();
    } else {
        token = substr(0, at);
        erase(0, at + separatorLength);
    }
    token.trim();
    return token;
}

String String::nextToken(char separator) { return nextToken(unit(u8(separator))); }

String String::nextToken(unit separator) { return takeToken(&separator, 1); }

String String::nextToken(const char* separator) {
    const String s(separator);
    return takeToken(s.chars(), s.length());
}

}  // namespace LxCore
