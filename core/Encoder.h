// Text encoders: each turns bytes into UTF-16 units and back. Every
// conversion between String and bytes goes through one. The registry knows
// each encoder under its alias names and builds code-page encoders on demand.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// Counting slots store this when they cannot tell a length in advance.
constexpr u32 kEncoderNoCount = 0xFFFFFFFFu;

class Encoder : public Root {
public:
    Encoder() : width(1) {}
    virtual ~Encoder() = default;

    // The comma-separated alias list; the first alias is the canonical name.
    virtual void getNames(String& out) const = 0;
    // Lets a registered encoder supply one for a name the registry does not know.
    virtual Encoder* createEncoder(const String& name) const;
    virtual i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const;
    virtual i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const;
    // On entry the counts are the input length and the output room; on return
    // the input consumed and the output produced.
    virtual i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const;
    virtual i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const;

    u32 width;  // bytes per UTF-16 unit, 0 when variable
};

// Bytes 0x80 and up decode to U+FFFD, units 0x80 and up encode to '?'; both
// report 37 and go on.
class AsciiEncoder : public Encoder {
public:
    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;
};

// Each byte is the unit of the same value; a unit is written as its low byte.
class BinaryEncoder : public Encoder {
public:
    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;
};

// Windows-1252 without the operating system; with `flag` set, strict ISO-8859-1.
class CP1252Encoder : public Encoder {
public:
    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;

    u8 flag = 0;    // 1: bytes and results 0x80..0x9F are refused
};

class ISO88591Encoder : public CP1252Encoder {
public:
    ISO88591Encoder() { flag = 1; }
    void getNames(String& out) const override;
};

// Mac OS Roman, with the euro sign at 0xDB.
class MacRomanEncoder : public Encoder {
public:
    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;
};

// Two bytes per unit, no byte-order mark.
class UCS2Encoder : public Encoder {
public:
    UCS2Encoder() { width = 2; }
    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;

    u8 flag = 1;    // byte order: 1 little-endian, 0 big-endian
};

class UCS2beEncoder : public UCS2Encoder {
public:
    UCS2beEncoder() { flag = 0; }
    void getNames(String& out) const override;
};

class UCS2leEncoder : public UCS2Encoder {
public:
    void getNames(String& out) const override;
};

// Four bytes per code point. Decoding keeps the low 16 bits of each code
// point as one unit; encoding joins surrogate pairs.
class UCS4Encoder : public Encoder {
public:
    UCS4Encoder() { width = 4; }
    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;

    u8 flag = 1;    // byte order: 1 little-endian, 0 big-endian
};

class UCS4beEncoder : public UCS4Encoder {
public:
    UCS4beEncoder() { flag = 0; }
    void getNames(String& out) const override;
};

class UCS4leEncoder : public UCS4Encoder {
public:
    void getNames(String& out) const override;
};

class UTF8Encoder : public Encoder {
public:
    UTF8Encoder() { width = 0; }

    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;
};

// UTF-8 sequences one at a time: the UTF-8 encoder reads with these, and so
// do the places that look at UTF-8 bytes themselves (the encoding check of
// files, system text).

// The length a lead byte announces, up to 6 as early UTF-8 allowed; 0 for a
// byte that cannot lead (a continuation byte, 0xFE, 0xFF).
u32 utf8LeadLength(u8 lead);
// The value of the sequence of `length` (1 to 6) bytes at p; false when a
// byte after the lead is no continuation byte. Overlong forms and values
// past U+10FFFF are the caller's to judge.
bool readUtf8(const u8* p, u32 length, u32& value);

// What a code-page encoder hands to the system's converter.
class EncoderData : public Root {
public:
    u32 codePage = 0;
    u32 toUnicodeFlags = 0;
    u32 fromUnicodeFlags = 0;
};

// An encoder for a Windows code page, built by name. Counting is exact, so
// that callers can size the output first. A conversion takes its whole input
// or, when the result does not fit the room given, nothing (status 38); it
// stops at input it cannot take after delivering what came before it, when
// that fits.
class UniversalEncoder : public Encoder {
public:
    ~UniversalEncoder() override;

    // A new encoder for a code-page name, or null when the name names no page
    // the system converts. An empty name gives the current encoder, which the
    // caller does not own.
    static Encoder* create(const String& name);

    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;

    u32 codePage() const { return data->codePage; }

    String names;
    EncoderData* data;  // owned

private:
    UniversalEncoder(u32 codePage, u32 width, const String& names);
};

// ---------------------------------------------------------------------------
// The registry

// Module start/end. Start registers the built-in encoders; end deletes every
// encoder the registry made or was given.
void initEncoders(bool start);

// Takes ownership of `encoder` and maps each of its aliases to it; an alias
// another encoder had moves over. An encoder left without names is kept (a
// file or the current encoder may still use it) until the registry ends; the
// ASCII, BINARY and system pointers and the current encoder move to the new
// one. Ignored for null and while there is no registry.
void registerEncoder(Encoder* encoder);

// The encoder for a name (case, '_' for '-' and a leading "X-" do not count),
// building a code-page encoder when the name reads as one. Null when none;
// an empty name gives the current encoder.
Encoder* findEncoder(const String& name);
Encoder* findEncoder(const char* name);

// The distinguished encoders; null while there is no registry. UTF-8 is never
// null: a built-in one stands in until the registry has its own.
Encoder* asciiEncoder();
Encoder* binaryEncoder();
Encoder* utf8Encoder();
// The encoder of the system's ANSI code page, made on first use; ASCII when
// it cannot be made.
Encoder* systemEncoder();

// The calling thread's encoder for conversions that name none: ASCII while
// the library starts, else the one set, else the system encoder. Null only
// while there is no registry; String then converts bytes as Latin-1.
Encoder* currentEncoder();
// Not owned by the thread; null goes back to the system encoder.
void setCurrentEncoder(Encoder* encoder);

}  // namespace LxCore
