// Text encoders: each turns bytes into UTF-16 units and back. Every
// conversion between String and bytes goes through one.
#pragma once
#include "core/Heap.h"
#include "core/Types.h"

namespace LxCore {

class String;

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

class UTF8Encoder : public Encoder {
public:
    UTF8Encoder() { width = 0; }

    void getNames(String& out) const override;
    i32 getCharCount(const char* bytes, i32 byteCount, u32& unitCount) const override;
    i32 getByteCount(const unit* units, i32 unitCount, u32& byteCount) const override;
    i32 decode(const char* bytes, u32& byteCount, unit* out, u32& unitCount) const override;
    i32 encode(const unit* units, u32& unitCount, char* out, u32& byteCount) const override;
};

// The calling thread's encoder for conversions that name none. Null until
// the encoder registry exists; String then converts bytes as Latin-1.
Encoder* currentEncoder();

// The process-wide UTF-8 encoder.
Encoder* utf8Encoder();

}  // namespace LxCore
