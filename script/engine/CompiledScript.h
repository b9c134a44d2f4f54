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

#include <vector>

namespace LxScript {

using LxCore::f64;
using LxCore::i32;
using LxCore::u32;
using LxCore::u8;

class jsOpcode;
class jsOpFunction;
class jsOpFunctionDecl;
class jsOpList;
class jsOpStatement;
class jsOpStatements;
class jsOpVariable;
class Script;
class TVContext;

class CompiledScriptWriter : public LxCore::Root {
public:
    static constexpr const char* kMagic = "@TVSBIN@TV@2.0@";

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

// Rebuilds an operation tree from compiled text. The text comes from
// outside: every field is checked against what its operation can run
// before the operation is built, so hostile text ends in an error code
// (8 malformed, 51 cut short, 27 nested too deep, -28 out of memory) and
// never in a tree that misbehaves. Counts never size an allocation: lists
// grow as their entries are read, so a false count runs into the end.
class BinaryScriptReader : public LxCore::Root {
public:
    explicit BinaryScriptReader(const LxCore::String& text);
    ~BinaryScriptReader();
    BinaryScriptReader(const BinaryScriptReader&) = delete;
    BinaryScriptReader& operator=(const BinaryScriptReader&) = delete;

    // Whether the text starts with one of the three headers; sets the
    // version and places the cursor after it.
    bool isBinaryScript();
    // The tree in root (null on failure); 0 or an error number.
    i32 read(jsOpFunction*& root, const LxCore::String& fileName);
    i32 getVersion() const { return version; }

    // Primitives (each throws the error number once stored).
    LxCore::unit nextChar();
    i32 readByte();
    f64 readNumber();
    i32 readInt16();
    i32 readInt32();
    void readString(LxCore::String& out);
    void readConstant(LxCore::Variant& out);
    bool readOptionalConstant(LxCore::Variant& out);    // false: 'n'
    bool readBool();
    DataPoolId readSymbol();
    jsOpcode* readNode();
    jsOpFunction* readFunction();
    jsOpList* readList();
    jsOpStatement* readStatement();
    jsOpVariable* readVariable();
    // The statements node whose entries are being read; the previous one.
    jsOpStatements* setCurrentStatements(jsOpStatements* statements);

    struct Header;
    struct FunctionFrame;

private:
    [[noreturn]] void fail(i32 code);
    LxCore::unit letterChar();
    jsOpcode* readAnyNode(bool functionAllowed);
    jsOpcode* build(LxCore::unit letter);
    jsOpcode* readRequired();
    void readHeader(Header& header);
    jsOpStatement* finish(jsOpStatement* statement, Header& header);
    void noteSlot(i32 slot);
    i32 readOperator(const i32* allowed, i32 count, i32 (*map)(i32));
    jsOpFunction* readFunctionBody();
    jsOpcode* readStatements();
    jsOpcode* readSwitch();
    jsOpcode* readTry();
    jsOpcode* readXMLLiteral();
    void drop(jsOpcode* node, size_t declarationMark);

    const LxCore::String& text;
    i32 cursor = 0;
    i32 end;
    i32 version = 10;
    i32 pendingZeros = 0;
    i32 error = 0;
    DataPoolId fileId = 0;
    TVContext* context = nullptr;
    LxCore::IntHashTable symbols;               // index -> id
    jsOpStatements* currentStatements = nullptr;
    std::vector<jsOpFunctionDecl*> declarations; // read, not yet registered
    std::vector<FunctionFrame> functions;       // the 'M' nodes being read
    std::vector<i32> lines;                     // statement lines, for the root
};

}  // namespace LxScript
