#include "script/frontend/DataPool.h"

#include <algorithm>

#include <cmath>
#include <cstring>
#include <new>
#include <stdexcept>

#include "core/CharClass.h"
#include "core/NumberText.h"
#include "core/Refcountable.h"
#include "core/Variant.h"

namespace LxScript {

using LxCore::f64;
using LxCore::String;
using LxCore::unit;
using LxCore::Variant;

namespace {

// The pool's entry of the core's lock table; the table is never made, so the
// guard only stands for the rule that texts are read and added under it.
constexpr LxCore::GlobalLockId kDataPoolLock = LxCore::GlobalLockId(8);

constexpr u32 kFirstSlots = 8192;

// Interned in this order, so that a text's place is its id.
constexpr const char* kPredefined[] = {
    // Operators, 0..48; the unary and prefix forms come first.
    "", "typeof", "delete", "void", "++", "--", "++", "--", "~", "!", "+", "-",
    "*", "/", "%", "+", "-", "<<", ">>", ">>>", "<", "<=", ">", ">=", "in",
    "instanceof", "==", "!=", "===", "!==", "&", "|", "^", "&&", "||", "?:", ",",
    "*=", "/=", "%=", "+=", "-=", "<<=", ">>=", ">>>=", "=", "&=", "|=", "^=",
    // Reserved words, 49..107.
    "abstract", "boolean", "break", "byte", "case", "catch", "char", "class",
    "const", "continue", "debugger", "default", "delete", "do", "double", "else",
    "enum", "export", "extends", "false", "final", "finally", "float", "for",
    "function", "goto", "if", "implements", "import", "in", "instanceof", "int",
    "interface", "long", "native", "new", "null", "package", "private",
    "protected", "public", "return", "short", "static", "super", "switch",
    "synchronized", "this", "throw", "throws", "transient", "true", "try",
    "typeof", "var", "void", "volatile", "while", "with",
    // Common names, 108..155.
    ".index", ".number", ".name", "callee", "arguments", "prototype", "toString",
    "valueOf", "length", "undefined", "number", "string", "object", "get",
    "getter", "set", "setter", "constructor", "__proto__", "[eval]",
    "[toplevel]", "anonymous", "-0", "$", "AND", "OR", "XOR", "Infinity", "NaN",
    "Array", "Boolean", "Date", "Error", "Function", "Math", "Number", "Object",
    "RegExp", "String", "LiveObject", "Reflection", "ReflectionInfo",
    "Dictionary", "XML", "XMLList", "each", "namespace", "xml",
};
static_assert(sizeof(kPredefined) / sizeof(kPredefined[0]) == DataPool::kLastPredefined + 1);

DataPool thePool;

u32 hashOf(const unit* text, u32 length) {
    u32 hash = DataPool::kHashStart;
    for (u32 i = 0; i < length; i++)
        hash = DataPool::hashStep(hash, text[i]);
    return hash;
}

// Names are short: a loop beats a library call for them.
bool sameUnits(const unit* a, const unit* b, u32 length) {
    constexpr u32 kShort = 16;
    if (length > kShort)
        return std::memcmp(a, b, length * sizeof(unit)) == 0;
    for (u32 i = 0; i < length; i++)
        if (a[i] != b[i])
            return false;
    return true;
}

bool isDigit(unit c) { return c >= '0' && c <= '9'; }

// "0", or digits without a leading zero whose value stays within the
// integer ids; anything else (the empty text, "007", "+1", "1e3") is not.
template <class Char>
bool readIntegerLiteral(const Char* text, u32 length, i32& value) {
    if (length == 0 || (text[0] == '0' && length > 1))
        return false;
    u64 sum = 0;
    for (u32 i = 0; i < length; i++) {
        unit c = unit(text[i]);
        if (!isDigit(c))
            return false;
        sum = sum * 10 + u32(c - '0');
        if (sum > u64(DataPool::kMaxInteger))
            return false;
    }
    value = i32(sum);
    return true;
}

DataPoolId taggedSymbol(u32 index, const unit* text, u32 length) {
    bool upper = length > 0 && text[0] >= 'A' && text[0] <= 'Z';
    return i32(index) | (upper ? DataPool::kUpperCaseTag : 0);
}

// No text can be longer than a String.
u32 checkedLength(size_t length) {
    if (length > size_t(String::kMaxLength))
        throw std::bad_alloc();
    return u32(length);
}

}  // namespace

// ---- store ----

DataPoolData::DataPoolData() {
    buffer = static_cast<unit*>(LxCore::Heap::alloc(kFirstCapacity));
    capacity = kFirstCapacity;
    try {
        slots = static_cast<DataPoolSlot*>(LxCore::Heap::alloc(kFirstSlots * sizeof(DataPoolSlot)));
    } catch (...) {
        LxCore::Heap::free(buffer);
        throw;
    }
    std::memset(slots, 0, kFirstSlots * sizeof(DataPoolSlot));
    slotCount = kFirstSlots;
    offsets.setGrowBy(kFirstRoom);
}

DataPoolData::~DataPoolData() {
    LxCore::Heap::free(buffer);
    LxCore::Heap::free(slots);
}

const unit* DataPoolData::textOf(u32 index, u32& length) const {
    u64 start = u64(offsets.get(i32(index)));
    u64 end = index + 1 < count ? u64(offsets.get(i32(index + 1))) : used;
    length = u32((end - start) / sizeof(unit) - 1);
    return buffer + start / sizeof(unit);
}

DataPoolSlot* DataPoolData::findSlot(const unit* text, u32 length, u32 hash) const {
    u32 mask = slotCount - 1;
    for (u32 i = hash & mask;; i = (i + 1) & mask) {
        DataPoolSlot* slot = &slots[i];
        if (slot->symbol == 0)
            return slot;
        if (slot->hash != hash)
            continue;
        // The text runs up to the next one's start, less its 0 unit.
        const u32 index = slot->symbol - 1;
        const u64 start = u64(offsets.get(i32(index)));
        const u64 end = index + 1 < count ? u64(offsets.get(i32(index + 1))) : used;
        if ((end - start) / sizeof(unit) - 1 == length && sameUnits(buffer + start / sizeof(unit), text, length))
            return slot;
    }
}

void DataPoolData::growSlots() {
    u32 newCount = slotCount * 2;
    u64 bytes = u64(newCount) * sizeof(DataPoolSlot);
    auto* fresh = static_cast<DataPoolSlot*>(LxCore::Heap::alloc(bytes));
    std::memset(fresh, 0, bytes);
    u32 mask = newCount - 1;
    for (u32 i = 0; i < slotCount; i++) {
        if (slots[i].symbol == 0)
            continue;
        u32 j = slots[i].hash & mask;
        while (fresh[j].symbol != 0)
            j = (j + 1) & mask;
        fresh[j] = slots[i];
    }
    LxCore::Heap::free(slots);
    slots = fresh;
    slotCount = newCount;
}

// Grows in whole pages of 4096 bytes; a text longer than a page gets room
// for itself and a page more in one step.
// Small buffers grow page by page; from kGeometricGrowth on by a quarter at
// least, so that interning many names copies each text a bounded number of
// times instead of once per page.
void DataPoolData::growBuffer(u64 need) {
    constexpr u64 kGeometricGrowth = 1 << 20;
    u64 grow = need <= 4096 ? 4096 : ((need - 2 - 4095) & ~u64(4095)) + 8192;
    if (capacity >= kGeometricGrowth)
        grow = std::max(grow, (capacity / 4 + 4095) & ~u64(4095));
    u64 newCapacity = capacity + grow;
    auto* fresh = static_cast<unit*>(LxCore::Heap::alloc(newCapacity));
    std::memcpy(fresh, buffer, used);
    LxCore::Heap::free(buffer);
    buffer = fresh;
    capacity = newCapacity;
}

u32 DataPoolData::append(const unit* text, u32 length, u32 hash) {
    if (count >= maxSymbols)
        throw std::bad_alloc();
    if (unsignedSpelled.size() == unsignedSpelled.capacity())
        unsignedSpelled.reserve(std::max<size_t>(kFirstRoom, unsignedSpelled.size() * 2));
    // Room first, so that a failure leaves the pool as it was.
    if (u64(count + 1) * 2 > slotCount)
        growSlots();
    u64 need = u64(length) * sizeof(unit) + sizeof(unit);
    if (used + need > capacity)
        growBuffer(need);
    offsets.add(LxCore::SimpleArray::Value(used));

    // Searched while the store still ends at the last symbol: a text that is
    // there already gives its slot, which the new symbol takes over.
    DataPoolSlot* slot = findSlot(text, length, hash);
    std::memcpy(reinterpret_cast<char*>(buffer) + used, text, u64(length) * sizeof(unit));
    buffer[(used + need) / sizeof(unit) - 1] = 0;
    used += need;
    slot->hash = hash;
    slot->symbol = count + 1;
    unsignedSpelled.push_back(DataPool::spelledUnsigned(text, length, 0xFFFFFFFF, nullptr) ? 1 : 0);
    return count++;
}

// ---- pool ----

DataPool& DataPool::get() { return thePool; }

void DataPool::init(bool start) {
    if (!start) {
        delete thePool.data;
        thePool.data = nullptr;
        thePool.lastPredefined = 0;
        return;
    }
    if (thePool.data)
        return;
    auto* fresh = new DataPoolData;
    try {
        for (const char* name : kPredefined) {
            String text(name);
            u32 length = u32(text.length());
            fresh->append(text.chars(), length, hashOf(text.chars(), length));
        }
    } catch (...) {
        delete fresh;
        throw;
    }
    thePool.data = fresh;
    thePool.lastPredefined = kLastPredefined;
}

DataPoolData& DataPool::store() const {
    if (!data)
        throw std::logic_error("The data pool is used while the engine library is not started");
    return *data;
}

DataPoolId DataPool::intern(const unit* text, u32 length) { return intern(text, length, hashOf(text, length)); }

DataPoolId DataPool::intern(const unit* text, u32 length, u32 hash) {
    DataPoolData& d = store();
    LxCore::GlobalLockGuard guard(kDataPoolLock);
    DataPoolSlot* slot = d.findSlot(text, length, hash);
    u32 index = slot->symbol ? slot->symbol - 1 : d.append(text, length, hash);
    return taggedSymbol(index, text, length);
}

DataPoolId DataPool::addText(const unit* text, u32 length) {
    i32 value;
    if (readIntegerLiteral(text, length, value))
        return kIntegerTag | value;
    return intern(text, length);
}

DataPoolId DataPool::add(const unit* text) {
    if (!text)
        return addText(u"", 0);
    return addText(text, checkedLength(LxCore::utf16Length(text)));
}

DataPoolId DataPool::add(const unit* text, i32 length) {
    if (!text || length <= 0)
        return addText(u"", 0);
    return addText(text, u32(length));
}

DataPoolId DataPool::addName(const unit* text, i32 length, u32 hash) { return intern(text, u32(length), hash); }

DataPoolId DataPool::add(const char* text) {
    if (!text)
        text = "";
    i32 value;
    u32 length = checkedLength(std::strlen(text));
    if (readIntegerLiteral(reinterpret_cast<const unsigned char*>(text), length, value))
        return kIntegerTag | value;
    String wide(text);
    return intern(wide.chars(), u32(wide.length()));
}

DataPoolId DataPool::add(const Variant& value) {
    switch (value.getType()) {
        case Variant::kNumber:
            return add(value.toNumber());
        default: {
            // An object whose text is an index names that index, as the text does.
            String text = value.toString();
            return addText(text.chars(), u32(text.length()));
        }
    }
}

DataPoolId DataPool::add(u32 n) {
    if (n <= u32(kMaxInteger))
        return kIntegerTag | i32(n);
    String text;
    text.sprintf("%lu", n);
    return intern(text.chars(), u32(text.length()));
}

DataPoolId DataPool::add(f64 d) {
    // NaN fails both tests; -0 is the integer 0.
    if (d >= 0 && d <= f64(kMaxInteger) && d == std::floor(d))
        return kIntegerTag | i32(d);
    String text = Variant(d).toString();
    return intern(text.chars(), u32(text.length()));
}

String DataPool::getSymbol(DataPoolId id) const {
    String out;
    switch (id & kTagMask) {
        case kPackedTag:
            for (i32 shift = 0; shift < 24; shift += 8) {
                char c = char((u32(id) >> shift) & 0x7F);
                if (!c)
                    break;
                out += c;
            }
            return out;
        case kUnitTag:
            out += unit(id & 0xFFFF);
            return out;
        case kIntegerTag:
            out.sprintf("%d", id & kPayloadMask);
            return out;
        default: {
            DataPoolData& d = store();
            LxCore::GlobalLockGuard guard(kDataPoolLock);
            u32 index = u32(id & kPayloadMask);
            if (index >= d.count)
                return out;
            u32 length;
            const unit* text = d.textOf(index, length);
            out.append(text, i32(length));
            return out;
        }
    }
}

void DataPool::getValue(DataPoolId id, Variant& out) const {
    switch (id) {
        case kFalse:
            out.setBool(false);
            return;
        case kNull:
            out.setNull();
            return;
        case kTrue:
            out.setBool(true);
            return;
    }
    if (isIntegerId(id))
        out.setNumber(f64(id & kPayloadMask));
    else
        out.setString(getSymbol(id));
}

f64 DataPool::getNumber(DataPoolId id) const {
    switch (id & kTagMask) {
        case kSymbolTag:
            return LxCore::parseNumber(getSymbol(id), LxCore::kParseWholeText);
        case kUnitTag:
            return f64(id & 0xFFFF);
        case kUpperCaseTag:
        case kPackedTag:
            return 0;
        default:    // integer ids and the tags never made
            return f64(id & kPayloadMask);
    }
}

i32 DataPool::getInteger(DataPoolId id) const {
    if (isIntegerId(id))
        return id - kIntegerTag;
    Variant value;
    getValue(id, value);
    return value.toInt();
}

bool DataPool::isNumber(DataPoolId id) const {
    if ((id & kTagMask) != kSymbolTag)
        return isIntegerId(id);
    String text = getSymbol(id);
    unit c = text[0];
    if (!isDigit(c) && c != '+' && c != '-' && c != '.')
        return false;
    return !std::isnan(LxCore::parseNumber(text, LxCore::kParseWholeText));
}

// Read in place: property lookups ask this of every new name.
bool DataPool::isUnsignedText(DataPoolId id, u32 limit, u32* valueOut) const {
    i32 tag = id & kTagMask;
    if (tag == kUnitTag || tag == kPackedTag || tag == kIntegerTag) {
        String spelled = getSymbol(id);
        return spelledUnsigned(spelled.chars(), u32(spelled.length()), limit, valueOut);
    }
    DataPoolData& d = store();
    u32 index = u32(id & kPayloadMask);
    if (!d.mayBeUnsigned(index))
        return false;
    LxCore::GlobalLockGuard guard(kDataPoolLock);
    if (index >= d.count)
        return false;
    u32 length;
    const unit* text = d.textOf(index, length);
    return spelledUnsigned(text, length, limit, valueOut);
}

bool DataPool::spelledUnsigned(const unit* text, u32 length, u32 limit, u32* valueOut) {
    if (length == 0 || text[0] == '0')
        return false;
    u64 value = 0;
    for (u32 i = 0; i < length; i++) {
        if (!isDigit(text[i]))
            return false;
        value = value * 10 + u32(text[i] - '0');
        if (value > limit)
            return false;
    }
    if (valueOut)
        *valueOut = u32(value);
    return true;
}

bool DataPool::_isInteger(DataPoolId id) const { return isUnsignedText(id, 0x7FFFFFFF); }

bool DataPool::_isUInteger(DataPoolId id) const { return isUnsignedText(id, 0xFFFFFFFF); }

}  // namespace LxScript
