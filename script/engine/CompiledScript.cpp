// The compiled-script writer's primitives: items, zero runs, symbols and
// the 80-column rule.
#include "script/engine/CompiledScript.h"

#include <cstring>
#include <new>

#include "core/ErrorCodes.h"
#include "script/engine/Script.h"
#include "script/engine/ops/Opcode.h"

namespace LxScript {

using LxCore::String;
using LxCore::Variant;
namespace Err = LxCore::Err;

namespace {

constexpr i32 kLineWidth = 80;
constexpr i32 kLongestZeroRun = 27;
constexpr const char* kHighBits = "ghijklmn";
constexpr const char* kLowBits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdef";

}  // namespace

CompiledScriptWriter::CompiledScriptWriter(String& out) : out(out) { out = kMagic; }

CompiledScriptWriter::~CompiledScriptWriter() {
    try {
        flushZeros();
    } catch (...) {
    }
}

i32 CompiledScriptWriter::write(Script& script) {
    error = 0;
    try {
        writeNode(reinterpret_cast<const jsOpcode*>(script.getRoot()));
        // Here, not in the destructor, so that a shortage in the last run
        // of zeros is an error rather than a text cut short.
        flushZeros();
    } catch (i32 code) {
        error = code ? code : Err::kOutOfMemory;
    } catch (...) {
        error = Err::kOutOfMemory;
    }
    return error;
}

void CompiledScriptWriter::flushZeros() {
    while (pendingZeros > 0) {
        const i32 n = pendingZeros;
        pendingZeros = 0;
        if (n == 1) {
            putChar('A');
            break;
        }
        const i32 k = n < kLongestZeroRun ? n : kLongestZeroRun;
        putChar('0');
        putChar(char(k + 63));
        pendingZeros = n - k;
    }
}

void CompiledScriptWriter::putChar(char c) {
    if (pendingZeros)
        flushZeros();
    if (out.length() % kLineWidth == 0)
        out += '\n';
    out += c;
}

void CompiledScriptWriter::writeByte(u32 byte) {
    byte &= 0xFF;
    if (byte == 0) {
        pendingZeros++;
    } else if (byte < 26) {
        putChar(char('A' + byte));
    } else {
        putChar(kHighBits[byte / 32]);
        putChar(kLowBits[byte % 32]);
    }
}

void CompiledScriptWriter::writeInteger(i32 value) {
    u32 magnitude = u32(value);
    if (value < 0 && value != i32(0x80000000)) {
        putChar('y');
        magnitude = u32(-value);
    }
    if (magnitude < 256) {
        writeByte(magnitude);
    } else if (magnitude < 65536) {
        putChar('2');
        writeByte(magnitude);
        writeByte(magnitude >> 8);
    } else {
        putChar('4');
        for (i32 i = 0; i < 4; i++)
            writeByte(magnitude >> (8 * i));
    }
}

void CompiledScriptWriter::writeNumber(f64 value) {
    const Variant probe(value);
    probe.updateNumberFlags();
    if ((probe.getFlags() & Variant::kInt32) && !(probe.getFlags() & Variant::kNegativeZero)) {
        writeInteger(i32(value));
        return;
    }
    putChar('8');
    u64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    for (i32 i = 0; i < 8; i++)
        writeByte(u32(bits >> (8 * i)));
}

void CompiledScriptWriter::writeString(const String& text) {
    writeInteger(text.length());
    for (i32 i = 0; i < text.length(); i++)
        writeInteger(i32(text[i]));
}

void CompiledScriptWriter::writeSymbol(DataPoolId id) {
    if (void* known = symbols.get(id)) {
        writeInteger(i32(intptr_t(known)));
        return;
    }
    const i32 index = ++lastIndex;
    symbols.put(id, reinterpret_cast<void*>(intptr_t(index)));
    putChar('z');
    writeString(DataPool::get().getSymbol(id));
    writeInteger(index);
}

void CompiledScriptWriter::writeConstant(const Variant* value) {
    if (!value) {
        putChar('n');
        return;
    }
    const u32 type = value->getType();
    if (type > Variant::kString)
        throw Err::kCannotExecute;  // as an i32: the format cannot hold the type
    putChar(char('a' + type));
    switch (type) {
        case Variant::kBoolean:
            writeBool(value->toBoolean());
            break;
        case Variant::kNumber:
            writeNumber(value->toNumber());
            break;
        case Variant::kString:
            writeString(value->toString());
            break;
        default:
            break;
    }
}

void CompiledScriptWriter::writeNode(const jsOpcode* node) {
    if (node)
        node->write(*this);
    else
        putChar('n');
}

}  // namespace LxScript
