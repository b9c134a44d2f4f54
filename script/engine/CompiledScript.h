// The compiled-script text: the operation tree written as plain text, so a
// script can be shipped and run without its source. Every operation class
// writes its letter and then its fields through these primitives.
#pragma once
#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"
#include "script/frontend/DataPool.h"

namespace LxScript {

using LxCore::f64;
using LxCore::i32;
using LxCore::u32;
using LxCore::u8;

class jsOpcode;
class Script;

class CompiledScriptWriter : public LxCore::Root {
public:
    static constexpr const char* kMagic = "@TVSBIN@TV@2.0@";
    // Thrown (as an i32) for a constant of a type the format cannot hold.
    static constexpr i32 kErrorCannotWrite = 32;

    // Replaces out's text by the header.
    explicit CompiledScriptWriter(LxCore::String& out);
    // Flushes pending zeros.
    ~CompiledScriptWriter();
    CompiledScriptWriter(const CompiledScriptWriter&) = delete;
    CompiledScriptWriter& operator=(const CompiledScriptWriter&) = delete;

    // The script's root, or 'n'; 0 or an error number.
    i32 write(Script& script);
    i32 getError() const { return error; }

    // Pending zeros first, then a line feed at each multiple of 80.
    void putChar(char c);
    void flushZeros();
    void writeByte(u32 byte);
    void writeInteger(i32 value);
    void writeInt16(i32 value) { writeInteger(i32(LxCore::i16(value))); }
    void writeNumber(f64 value);
    void writeBool(bool value) { putChar(value ? 't' : 'f'); }
    void writeString(const LxCore::String& text);
    void writeSymbol(DataPoolId id);
    // 'n' for none.
    void writeConstant(const LxCore::Variant* value);
    void writeNode(const jsOpcode* node);

private:
    LxCore::String& out;
    LxCore::IntHashTable symbols;   // id -> index
    i32 lastIndex = 0;
    i32 pendingZeros = 0;
    i32 error = 0;
};

}  // namespace LxScript
