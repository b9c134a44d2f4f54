// The data pool: one process-wide table that gives every name, keyword,
// operator spelling and simple constant of the engine a 32-bit id, so that
// the scanner, the trees and the runtime compare integers instead of texts.
#pragma once
#include <vector>

#include "core/Heap.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {
class Variant;
}  // namespace LxCore

namespace LxScript {

using LxCore::i32;
using LxCore::u32;
using LxCore::u64;

// The top three bits of an id are its tag; see DataPool's constants.
using DataPoolId = i32;

// Predefined ids the front end and the engine name: operators (1..48, also
// the codes of operator nodes and operations), reserved words (49..107) and
// common names. Where a text has two ids, the earlier is the prefix or unary
// form, reached only by number.
enum PoolId : DataPoolId {
    kOpTypeof = 1, kOpDelete, kOpVoid, kOpPreIncrement, kOpPreDecrement, kOpPostIncrement,
    kOpPostDecrement, kOpBitNot, kOpNot, kOpPlus, kOpMinus, kOpMultiply, kOpDivide, kOpModulo,
    kOpAdd, kOpSubtract, kOpShiftLeft, kOpShiftRight, kOpShiftRightUnsigned, kOpLess, kOpLessEqual,
    kOpGreater, kOpGreaterEqual, kOpIn, kOpInstanceof, kOpEqual, kOpNotEqual, kOpStrictEqual,
    kOpStrictNotEqual, kOpBitAnd, kOpBitOr, kOpBitXor, kOpAnd, kOpOr, kOpConditional, kOpComma,
    kOpMultiplyAssign, kOpDivideAssign, kOpModuloAssign, kOpAddAssign, kOpSubtractAssign,
    kOpShiftLeftAssign, kOpShiftRightAssign, kOpShiftRightUnsignedAssign, kOpAssign,
    kOpBitAndAssign, kOpBitOrAssign, kOpBitXorAssign,
    kLastOperator = kOpBitXorAssign,

    kFirstReservedWord = 49,
    kWordBreak = 51, kWordCase = 53, kWordCatch = 54, kWordConst = 57, kWordContinue = 58,
    kWordDebugger = 59, kWordDefault = 60, kWordDelete = 61, kWordDo = 62, kWordElse = 64,
    kWordFalse = 68, kWordFinally = 70, kWordFor = 72, kWordFunction = 73, kWordIf = 75,
    kWordIn = 78, kWordInstanceof = 79, kWordNew = 84, kWordNull = 85, kWordReturn = 90,
    kWordSwitch = 94, kWordThis = 96, kWordThrow = 97, kWordTrue = 100, kWordTry = 101,
    kWordTypeof = 102, kWordVar = 103, kWordVoid = 104, kWordWhile = 106, kWordWith = 107,
    kLastReservedWord = 107,

    kNameArguments = 112, kNameGetter = 122, kNameSetter = 124, kNameMinusZero = 130,
    kNameEach = 153, kNameNamespace = 154, kNameXml = 155,
    kNameAND = 0x20000084, kNameOR = 0x20000085, kNameXOR = 0x20000086,
    kNameObject = 0x20000090, kNameXML = 0x20000097,
};

// One slot of the text index; symbol 0 marks an empty slot.
struct DataPoolSlot {
    u32 hash;
    u32 symbol;             // symbol index + 1
};

// The pool's store. Texts lie one after the other in one buffer, each
// followed by a 0 unit; a text's length is the distance to the next one, so
// texts that hold a 0 unit keep their full length.
class DataPoolData : public LxCore::Root {
public:
    static constexpr u64 kFirstCapacity = 16384;        // bytes
    static constexpr i32 kFirstRoom = 4096;             // symbols
    // Symbol indexes must stay below the tag bits.
    static constexpr u32 kMaxSymbols = 0x20000000;

    DataPoolData();         // throws std::bad_alloc
    ~DataPoolData();
    DataPoolData(const DataPoolData&) = delete;
    DataPoolData& operator=(const DataPoolData&) = delete;

    LxCore::unit* buffer = nullptr;     // core heap
    u64 capacity = 0;                   // bytes
    u64 used = 0;                       // bytes
    LxCore::SimpleArray offsets;        // symbol index -> byte offset in the buffer
    DataPoolSlot* slots = nullptr;      // open addressing; a power of two of them
    u32 slotCount = 0;
    u32 count = 0;                      // symbols
    u32 maxSymbols = kMaxSymbols;
    // Per symbol: whether its text is decimal digits without a leading zero
    // and at most 2^32 - 1. Decided once as the text enters, so that the
    // index test of a name needs neither the lock nor the text.
    std::vector<LxCore::u8> unsignedSpelled;

    bool mayBeUnsigned(u32 index) const { return index < unsignedSpelled.size() && unsignedSpelled[index]; }

    const LxCore::unit* textOf(u32 index, u32& length) const;
    // The slot that holds the text, or the empty slot where it would go.
    DataPoolSlot* findSlot(const LxCore::unit* text, u32 length, u32 hash) const;
    // Stores the text as the next symbol and points its slot at it, also when
    // the text is there already (the later symbol wins). Throws
    // std::bad_alloc and changes nothing when memory or ids run out.
    u32 append(const LxCore::unit* text, u32 length, u32 hash);

private:
    void growSlots();
    void growBuffer(u64 need);
};

class DataPool : public LxCore::Root {
public:
    static constexpr i32 kTagMask = i32(0xE0000000);
    static constexpr i32 kSymbolTag = 0;
    static constexpr i32 kUpperCaseTag = 0x20000000;    // text begins with 'A'..'Z'
    static constexpr i32 kUnitTag = 0x40000000;         // one UTF-16 unit
    static constexpr i32 kIntegerTag = 0x60000000;      // 0 .. kMaxInteger
    static constexpr i32 kPackedTag = i32(0x80000000);  // up to three 7-bit characters
    static constexpr i32 kPayloadMask = 0x1FFFFFFF;
    static constexpr i32 kMaxInteger = 0x1FFFFFFF;
    static constexpr i32 kLastPredefined = 155;

    // Predefined ids the engine names directly.
    static constexpr DataPoolId kFalse = 68;
    static constexpr DataPoolId kNull = 85;
    static constexpr DataPoolId kTrue = 100;
    static constexpr DataPoolId kMinusZero = 130;

    // The pool. It holds symbols only while the engine library is started:
    // reading or adding a symbol at any other time throws std::logic_error.
    static DataPool& get();
    // Library start/end: makes the store (throws std::bad_alloc, leaving
    // none) or frees it.
    static void init(bool start);

    // A text that is an integer literal gives its integer id; any other text
    // is interned. Null counts as the empty text.
    DataPoolId add(const LxCore::unit* text);
    DataPoolId add(const LxCore::unit* text, i32 length);   // the units as they are
    DataPoolId add(const char* text);                   // Latin-1
    DataPoolId add(const LxCore::Variant& value);
    DataPoolId add(u32 n);
    DataPoolId add(LxCore::f64 d);
    DataPoolId add(LxCore::unit c) { return kUnitTag | i32(c); }

    // The hash a text is filed under, one unit at a time from kHashStart, so
    // that the scanner can fold it into its pass over a name.
    static constexpr u32 kHashStart = 2166136261u;
    static u32 hashStep(u32 hash, LxCore::unit c) { return (hash ^ c) * 16777619u; }
    // The id of a name: at least one unit, the first no decimal digit (so
    // never an integer literal), whose hash the caller made with hashStep.
    // The same id as add(text, length).
    DataPoolId addName(const LxCore::unit* text, i32 length, u32 hash);

    LxCore::String getSymbol(DataPoolId id) const;
    void getValue(DataPoolId id, LxCore::Variant& out) const;
    LxCore::f64 getNumber(DataPoolId id) const;
    i32 getInteger(DataPoolId id) const;
    u32 getUInteger(DataPoolId id) const { return u32(getInteger(id)); }
    bool isNumber(DataPoolId id) const;

    bool isInteger(DataPoolId id) const {
        return isIntegerId(id) || id == kMinusZero ||
               (!isPredefined(id) && _isInteger(id));
    }
    bool isUInteger(DataPoolId id) const {
        return isIntegerId(id) || id == kMinusZero ||
               (!isPredefined(id) && _isUInteger(id));
    }
    // Whether the id's text is a decimal number without a leading zero that
    // fits a signed (unsigned) 32-bit integer.
    bool _isInteger(DataPoolId id) const;
    bool _isUInteger(DataPoolId id) const;
    // The value of a symbol after the predefined ones whose text is a
    // decimal number without a leading zero, at most limit; false otherwise.
    bool getUnsignedText(DataPoolId id, u32 limit, u32& value) const {
        return (id & kTagMask) == kSymbolTag && !isPredefined(id) &&
               (!data || data->mayBeUnsigned(u32(id & kPayloadMask))) && isUnsignedText(id, limit, &value);
    }

    static bool isUpperCase(DataPoolId id) { return (id & kTagMask) == kUpperCaseTag; }
    static bool isIntegerId(DataPoolId id) { return (id & kTagMask) == kIntegerTag; }

private:
    DataPoolData* data = nullptr;
    i32 lastPredefined = 0;

    static bool isPredefined(DataPoolId id) { return u32(id) <= u32(kLastPredefined); }

    DataPoolData& store() const;
    DataPoolId intern(const LxCore::unit* text, u32 length);
    DataPoolId intern(const LxCore::unit* text, u32 length, u32 hash);
    DataPoolId addText(const LxCore::unit* text, u32 length);
    bool isUnsignedText(DataPoolId id, u32 limit, u32* value = nullptr) const;
    static bool spelledUnsigned(const LxCore::unit* text, u32 length, u32 limit, u32* value);

    friend struct DataPoolProbe;        // tests reach the store through it
    friend class DataPoolData;          // decides each new text's index spelling
};

}  // namespace LxScript
