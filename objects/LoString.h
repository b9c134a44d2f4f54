// 8-bit string of the objects library. Holds UTF-8 by convention, compares
// bytes, and keeps its blocks to multiples of 128 bytes; a text that outgrows
// its block at least doubles it, so that building message texts line by line
// allocates rarely however long they get.
#pragma once
#include "objects/LoHeap.h"
#include "objects/LoTypes.h"

namespace LxObjects {

class LoString : public LoHeap {
public:
    LoString();
    LoString(const LoString& other);
    // len -1 (any negative): up to the NUL. A null s gives the empty string.
    LoString(const char* s, int len = -1);
    // From UTF-16; len -1 counts up to the NUL, at most 65,536 units.
    LoString(const char16_t* s, int len = -1);
    ~LoString() override;

    LoString& operator=(const LoString& other);

    const char* text() const { return text_; }
    int length() const { return length_; }
    int capacity() const { return capacity_; }
    bool isEmpty() const { return length_ == 0; }

    void assign(const char* s, int len = -1);
    void append(const char* s, int len = -1);
    LoString& operator+=(const char* s);
    LoString& operator+=(const LoString& s);
    LoString& operator+=(char c);
    // Numbers go through "%lu", whose unsigned long is 32 bits on the
    // system this format comes from: a 64-bit value prints its low 32 bits.
    LoString& operator+=(u32 n);
    LoString& operator+=(u64 n);
    LoString& operator+=(double d);  // "%.0f"

    // Byte-wise unsigned comparison like strcmp; a null other counts as "".
    int compare(const char* other) const;
    // Copy with the ASCII letters folded to lower case.
    LoString lowerCased() const;
    // When 0 <= n < length the text is cut to n bytes; otherwise nothing.
    void truncate(int n);
    // UTF-8 to UTF-16 into out, which has room for count units. Returns the
    // units written, the terminating NUL included when one was written.
    int toWide(char16_t* out, int count) const;

private:
    void allocate(int n);
    void grow(int needed);

    char* text_;
    int length_;
    int capacity_;
};

}  // namespace LxObjects
