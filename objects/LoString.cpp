#include "objects/LoString.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace LxObjects {

namespace {

const int kStep = 128;

// The smallest multiple of 128 above n: room for n bytes and the NUL.
int capacityFor(long long n)
{
    if (n < 0 || n > INT_MAX - kStep)
        throw std::bad_alloc();
    return int((n + kStep) & ~(long long)(kStep - 1));
}

// The block for needed bytes when a text outgrows its own: at least twice
// the old one, so that appending costs amortised constant time (the rule
// alone would copy the whole text every 128 bytes).
int grownCapacity(long long needed, int capacity)
{
    long long doubled = std::min(2LL * capacity - 1, (long long)INT_MAX - kStep);
    return capacityFor(std::max(needed, doubled));
}

char* newBlock(int capacity)
{
    char* block = static_cast<char*>(std::malloc(size_t(capacity)));
    if (!block)
        throw std::bad_alloc();
    return block;
}

int byteCount(const char* s, int len)
{
    if (!s)
        return 0;
    if (len < 0) {
        size_t n = std::strlen(s);
        if (n > size_t(INT_MAX - kStep))
            throw std::bad_alloc();
        return int(n);
    }
    return len;
}

// UTF-8 forms of up to six bytes: the largest code point each length holds
// (exclusive) and its lead marker.
struct Utf8Form {
    u32 limit;
    u8 lead;
};
const Utf8Form kForms[] = {
    {0x80, 0x00}, {0x800, 0xC0}, {0x10000, 0xE0},
    {0x200000, 0xF0}, {0x4000000, 0xF8}, {0x7FFFFFFF, 0xFC},
};

int utf8Length(u32 cp)
{
    for (int i = 0; i < 6; ++i)
        if (cp < kForms[i].limit)
            return i + 1;
    return 3;  // written as U+FFFD
}

char* putUtf8(char* out, u32 cp)
{
    int n = utf8Length(cp);
    if (cp >= kForms[5].limit)
        cp = 0xFFFD;
    for (int i = n - 1; i > 0; --i) {
        out[i] = char(0x80 | (cp & 0x3F));
        cp >>= 6;
    }
    out[0] = char(kForms[n - 1].lead | cp);
    return out + n;
}

// Code point of the UTF-16 units at s[i] (a pair when both halves lie within
// n); advances i.
u32 nextCodePoint(const char16_t* s, int n, int& i)
{
    u32 unit = s[i++];
    if (unit >= 0xD800 && unit <= 0xDBFF && i < n && s[i] >= 0xDC00 && s[i] <= 0xDFFF) {
        u32 low = s[i++];
        return (unit - 0xD800) * 0x400 + (low - 0xDC00) + 0x10000;
    }
    return unit;
}

// Bytes of the sequence a lead byte starts; 0 for a byte that cannot lead.
int sequenceLength(u8 b)
{
    if (b < 0x80) return 1;
    if (b < 0xC0) return 0;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    if (b < 0xF8) return 4;
    if (b < 0xFC) return 5;
    return 6;
}

const u8 kLeadMarker[7] = {0, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

}  // namespace

LoString::LoString() : text_(nullptr), length_(0), capacity_(0)
{
    allocate(0);
}

LoString::LoString(const LoString& other) : text_(nullptr), length_(0), capacity_(0)
{
    allocate(other.length_);
    std::memcpy(text_, other.text_, size_t(other.length_));
    length_ = other.length_;
    text_[length_] = 0;
}

LoString::LoString(const char* s, int len) : text_(nullptr), length_(0), capacity_(0)
{
    int n = byteCount(s, len);
    allocate(n);
    if (n)
        std::memcpy(text_, s, size_t(n));
    length_ = n;
    text_[n] = 0;
}

LoString::LoString(const char16_t* s, int len) : text_(nullptr), length_(0), capacity_(0)
{
    int n = 0;
    if (s && len < 0) {
        while (n < 65536 && s[n])
            ++n;
    } else if (s) {
        n = len;
    }
    long long bytes = 0;
    for (int i = 0; i < n;)
        bytes += utf8Length(nextCodePoint(s, n, i));
    if (bytes > INT_MAX - kStep)
        throw std::bad_alloc();
    allocate(int(bytes));
    char* out = text_;
    for (int i = 0; i < n;)
        out = putUtf8(out, nextCodePoint(s, n, i));
    length_ = int(bytes);
    text_[length_] = 0;
}

LoString::~LoString()
{
    std::free(text_);
}

LoString& LoString::operator=(const LoString& other)
{
    if (this != &other)
        assign(other.text_, other.length_);
    return *this;
}

void LoString::allocate(int n)
{
    int capacity = capacityFor(n);
    text_ = newBlock(capacity);
    capacity_ = capacity;
    text_[0] = 0;
}

// Moves the text into a block with room for needed bytes.
void LoString::grow(int needed)
{
    int capacity = grownCapacity(needed, capacity_);
    char* block = newBlock(capacity);
    std::memcpy(block, text_, size_t(length_) + 1);
    std::free(text_);
    text_ = block;
    capacity_ = capacity;
}

void LoString::assign(const char* s, int len)
{
    int n = byteCount(s, len);
    if (capacity_ >= n + 1) {
        if (n)
            std::memmove(text_, s, size_t(n));  // s may lie inside this text
    } else {
        // The source may be this very text: copy before the old block goes.
        int capacity = capacityFor(n);
        char* block = newBlock(capacity);
        std::memcpy(block, s, size_t(n));
        std::free(text_);
        text_ = block;
        capacity_ = capacity;
    }
    length_ = n;
    text_[n] = 0;
}

void LoString::append(const char* s, int len)
{
    int n = byteCount(s, len);
    if (n == 0)
        return;
    long long total = (long long)length_ + n;
    if (total >= capacity_) {
        // The source may lie inside this text: append it before freeing.
        int capacity = grownCapacity(total, capacity_);
        char* block = newBlock(capacity);
        std::memcpy(block, text_, size_t(length_));
        std::memcpy(block + length_, s, size_t(n));
        std::free(text_);
        text_ = block;
        capacity_ = capacity;
    } else {
        std::memmove(text_ + length_, s, size_t(n));
    }
    length_ = int(total);
    text_[length_] = 0;
}

LoString& LoString::operator+=(const char* s)
{
    append(s, -1);
    return *this;
}

LoString& LoString::operator+=(const LoString& s)
{
    append(s.text_, s.length_);
    return *this;
}

LoString& LoString::operator+=(char c)
{
    if (length_ + 1 >= capacity_)
        grow(length_ + 1);
    text_[length_++] = c;
    text_[length_] = 0;
    return *this;
}

LoString& LoString::operator+=(u32 n)
{
    char buffer[16];
    int len = std::snprintf(buffer, sizeof buffer, "%lu", (unsigned long)n);
    append(buffer, len);
    return *this;
}

LoString& LoString::operator+=(u64 n)
{
    return *this += u32(n);
}

LoString& LoString::operator+=(double d)
{
    char buffer[400];  // room for every finite double without decimals
    int len = std::snprintf(buffer, sizeof buffer, "%.0f", d);
    if (len > 0)
        append(buffer, len < int(sizeof buffer) ? len : int(sizeof buffer) - 1);
    return *this;
}

int LoString::compare(const char* other) const
{
    int r = std::strcmp(text_, other ? other : "");
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

LoString LoString::lowerCased() const
{
    LoString copy(*this);
    for (int i = 0; i < copy.length_; ++i) {
        char c = copy.text_[i];
        if (c >= 'A' && c <= 'Z')
            copy.text_[i] = char(c - 'A' + 'a');
    }
    return copy;
}

void LoString::truncate(int n)
{
    if (n >= 0 && n < length_) {
        length_ = n;
        text_[n] = 0;
    }
}

int LoString::toWide(char16_t* out, int count) const
{
    if (!out)
        return 0;
    const u8* bytes = reinterpret_cast<const u8*>(text_);
    int written = 0;
    int i = 0;
    while (written < count) {
        u32 cp = 0;
        if (i < length_) {
            int n = sequenceLength(bytes[i]);
            if (n == 0) {
                cp = 0xFFFD;
                i += 1;
            } else if (n > length_ - i) {
                cp = 0xFFFD;  // cut short by the end of the text
                i = length_;
            } else {
                cp = bytes[i] - kLeadMarker[n];
                for (int k = 1; k < n; ++k)
                    cp = (cp << 6) + (u32(bytes[i + k]) - 0x80);
                i += n;
            }
        }
        if (cp == 0) {
            out[written++] = 0;
            break;
        }
        if (cp < 0x10000) {
            out[written++] = char16_t(cp);
        } else if (cp < 0x110000) {
            if (count - written < 2)
                break;  // no room for the whole pair
            out[written++] = char16_t(0xD800 + ((cp - 0x10000) >> 10));
            out[written++] = char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out[written++] = 0xFFFD;
        }
    }
    return written;
}

}  // namespace LxObjects
