// Array: every method works on any object as this. Elements are properties
// named by index ids; the length is the stored length of an Array object, or
// another object's own "length".
#include "script/library/ArrayClass.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <new>
#include <unordered_set>
#include <utility>
#include <vector>

#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Symbols.h"
#include "script/engine/TVContext.h"
#include "script/engine/ops/Literals.h"
#include "script/library/ArraySort.h"
#include "script/library/LibrarySupport.h"
#include "script/library/SourceText.h"

namespace LxScript {

using LxCore::f64;
using LxCore::String;

namespace {

constexpr u32 kMaxLength = 0xFFFFFFFF;

DataPool& pool() { return DataPool::get(); }

DataPoolId indexId(u64 i) { return pool().add(u32(i)); }

bool isArray(const Object& o) { return o.getClassID() == Sym::kArray; }

bool isValidLength(f64 n) { return n >= 0 && n <= f64(kMaxLength) && n == std::trunc(n); }

void arrayLength(Arguments& args);

// ---------------------------------------------------------------------------
// Length

// An Array's stored length; another object's own "length" as a 32-bit
// integer taken unsigned (-1 is 4294967295, 2^32 is 0), unless it has none
// or it is the Array class's own row. An object value counts by its number.
u32 lengthOf(Object& o) {
    if (isArray(o))
        return o.getLength();
    Property* p = o.findOwnProperty(Sym::kLength, 0);
    if (!p)
        return o.getLength();
    if (p->isDispatcher() && static_cast<DispatcherProperty*>(p)->getEntry().handler == arrayLength)
        return o.getLength();
    const Variant* v = p->get(&o, 0);
    if (!v)
        return 0;
    const ObjectRef held(objectOf(*v));     // its valueOf may drop the property
    if (!held)
        return u32(v->toInt());
    Variant number;
    return held->getDefaultValue(number, 0) ? u32(number.toInt()) : 0;
}

// An Array sets its stored length (the elements above are gone already);
// another object gets its "length" property written.
void storeLength(Object& o, f64 length) {
    if (isArray(o) && isValidLength(length))
        o.setLength(u32(length));
    else
        o.put(Sym::kLength, Variant(length), 0);
}

// The length push and unshift write: an array whose native "length" slot
// is still only noted keeps it so, noted as written as the write through
// the slot would leave it, with no Property made; anything else is put.
void putLength(Object& o, const Variant& length) {
    const f64 n = length.toNumber();
    if (isArray(o) && isValidLength(n) && !o.getPutThrough() && o.noteLengthSlot(true))
        o.setLength(u32(n));
    else
        o.put(Sym::kLength, length, 0);
}

// ---------------------------------------------------------------------------
// Walking elements

// Whether every element of o is a slot of its own: arguments objects, live
// objects and classes with dot entries make theirs on lookup.
bool slotsAreElements(Object& o) {
    if (o.getObjectID() == kArgumentsId)
        return false;
    for (Object* p = &o; p; p = p->getPrototype())
        if (p->getLiveObject() || (p->getData() && p->getData()->dotFlag))
            return false;
    return true;
}

// f(index) for every live own element slot of o.
template <class F>
void forEachOwnIndex(const Object& o, F&& f) {
    o.forEachCell([&](DataPoolId symbol, const SlotCell& c) {
        u32 index;
        if (cellIsLive(c) && isIndexId(symbol, index))
            f(index);
    });
}

// One method's access to the elements of an object.
//
// An own element is found by index at once (an array's dense store, else
// the hashed names of the object's slot table). When the length far exceeds
// the elements held (more than twice their count plus kSparseSlack) the held
// indexes are gathered once, so that only they are walked and holes stay
// holes. Objects that make elements on lookup are walked index by index
// with lookups.
class Elements {
public:
    Elements(RealEngine& engine, Object& o, u64 length) : engine(engine), o(o), length(length) {
        if (!slotsAreElements(o)) {
            mode = kLookup;
            return;
        }
        u64 slots = 0;
        for (Object* p = &o; p; p = p->getPrototype())
            p->forEachCell([&](DataPoolId, const SlotCell& c) { slots += cellIsLive(c); });
        mode = length > kSparseSlack && length > 2 * slots + kSparseSlack ? kSparse : kDense;
        if (mode == kSparse)
            forEachOwnIndex(o, [&](u32 index) {
                if (index < length)
                    hashed.insert(index);
            });
        for (Object* p = o.getPrototype(); p && !inherited; p = p->getPrototype())
            forEachOwnIndex(*p, [&](u32) { inherited = true; });
    }

    bool isSparse() const { return mode == kSparse; }

    // visit(i) for every index of [from, to), or only for the held ones
    // (with inherited ones too when asked); false when a status check
    // stopped the walk.
    template <class Visit>
    bool each(u64 from, u64 to, bool withInherited, Visit&& visit) {
        if (mode != kSparse) {
            for (u64 i = from; i < to; i++) {
                if (!engine.pollWork())
                    return false;
                visit(i);
            }
            return true;
        }
        for (u32 index : held(from, to, withInherited)) {
            if (!engine.pollWork())
                return false;
            visit(u64(index));
        }
        return true;
    }

    // The held indexes of [from, to), ascending.
    std::vector<u32> held(u64 from, u64 to, bool withInherited) {
        std::vector<u32> out;
        for (u32 index : hashed)
            if (index >= from && index < to)
                out.push_back(index);
        if (withInherited && inherited) {
            for (Object* p = o.getPrototype(); p; p = p->getPrototype())
                forEachOwnIndex(*p, [&](u32 index) {
                    if (index >= from && index < to)
                        out.push_back(index);
                });
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return out;
    }

    // An own or inherited element; false for a hole (out undefined).
    bool read(u64 i, Variant& out) {
        if (readOwn(i, out))
            return true;
        if (mode != kLookup && !inherited) {
            out.clear();
            return false;
        }
        return o.get(indexId(i), out, 0) != nullptr;
    }

    // An own element only; false for a hole (out undefined).
    bool readOwn(u64 i, Variant& out) {
        if (mode == kLookup) {
            Property* s = o.findOwnProperty(indexId(i), 0);
            const Variant* v = s ? s->get(&o, 0) : nullptr;
            out = Variant(v);
            return s != nullptr;
        }
        if (i >= kMaxLength || (mode == kSparse && !hashed.count(u32(i)))) {
            out.clear();
            return false;
        }
        return o.getOwnValue(indexId(i), out);
    }

    Variant at(u64 i) {
        Variant v;
        read(i, v);
        return v;
    }

    // Writes as the object's put does.
    void write(u64 i, const Variant& value) {
        o.put(indexId(i), value, 0);
        if (mode == kSparse && i < kMaxLength && o.hasOwnValue(indexId(i)))
            hashed.insert(u32(i));
    }

    void erase(u64 i) {
        if (mode == kLookup) {
            if (o.findOwnProperty(indexId(i), 0))
                o.deleteProperty(indexId(i));
            return;
        }
        if (i >= kMaxLength || (mode == kSparse && !hashed.count(u32(i))))
            return;
        if (o.hasOwnValue(indexId(i)))
            o.deleteProperty(indexId(i));
        if (mode == kSparse && !o.hasOwnValue(indexId(i)))
            hashed.erase(u32(i));
    }

private:
    enum Mode { kLookup, kDense, kSparse };

    RealEngine& engine;
    Object& o;
    u64 length;
    Mode mode = kLookup;
    bool inherited = false;             // a prototype holds elements
    std::unordered_set<u32> hashed;     // sparse: the own indexes held
};

// Moves the own elements of [from, to) by `by` places, holes included: what
// lies in the target range afterwards is the source's element or a hole.
// Sources outside the target range keep their elements. False when stopped.
bool moveElements(RealEngine& engine, Elements& e, u64 from, u64 to, i64 by) {
    if (from >= to || by == 0)
        return true;
    auto move = [&](u64 k) {
        Variant v;
        if (e.readOwn(k, v))
            e.write(u64(i64(k) + by), v);
        else
            e.erase(u64(i64(k) + by));
    };
    if (!e.isSparse()) {
        if (by > 0) {
            for (u64 k = to; k-- > from;) {
                if (!engine.pollWork())
                    return false;
                move(k);
            }
        } else {
            for (u64 k = from; k < to; k++) {
                if (!engine.pollWork())
                    return false;
                move(k);
            }
        }
        return true;
    }
    // Held elements only: taken out first, then put at their new places.
    std::vector<std::pair<u32, Variant>> moved;
    for (u32 index : e.held(from, to, false)) {
        Variant v;
        e.readOwn(index, v);
        moved.emplace_back(index, v);
    }
    for (u32 index : e.held(u64(i64(from) + by), u64(i64(to) + by), false)) {
        if (!engine.pollWork())
            return false;
        e.erase(index);
    }
    for (auto& [index, value] : moved) {
        if (!engine.pollWork())
            return false;
        e.write(u64(i64(index) + by), value);
    }
    return true;
}

// Removes the own elements of [from, to): one pass over the slots.
void deleteRange(Object& o, u64 from, u64 to) {
    if (from < to)
        o.invalidateRange(u32(from), u32(to - 1));
}

void deleteOwn(Object& o, u64 i) {
    const DataPoolId id = indexId(i);
    if (o.findOwnProperty(id, 0))
        o.deleteProperty(id);
}

// A new, empty Array object in result, made without running a constructor.
Object* newArrayIn(RealEngine& engine, Variant& result) {
    engine.newPlainObject(result, Sym::kArray);
    return objectOf(result);
}

// ---------------------------------------------------------------------------
// Conversions to text

// The arrays being converted on this thread: one met again inside its own
// conversion stands for itself as "[object Array]".
thread_local std::vector<const Object*> converting;

class ConvertingScope {
public:
    explicit ConvertingScope(const Object& o) : object(&o) { converting.push_back(object); }
    ~ConvertingScope() { converting.pop_back(); }
    ConvertingScope(const ConvertingScope&) = delete;
    ConvertingScope& operator=(const ConvertingScope&) = delete;

    static bool isConverting(const Object* o) {
        return std::find(converting.begin(), converting.end(), o) != converting.end();
    }

private:
    const Object* object;
};

// Deep nesting ends in the stack-overrun error, not in a native overflow.
bool stackAllows(RealEngine& engine) {
    if (engine.getObjects().checkStack())
        return true;
    engine.setError(Err::kStackOverrun);
    return false;
}

// The text an element object gives through its method (toString,
// toLocaleString, toSource); error 23 when the method is missing.
bool methodText(RealEngine& engine, Object& element, DataPoolId method, String& out) {
    ObjectRef self(&element);
    Variant fn;
    element.get(method, fn, kFindCallable);
    Object* callee = objectOf(fn);
    if (!callee || !callee->asFunction()) {
        String name;
        element.getClassName(name);
        engine.setError(Err::kNoValue, name, -1, false);
        return false;
    }
    ObjectRef held(callee);
    Variant result;
    LxCore::Array none;
    callee->call(&element, none, result);
    if (engine.getError().getCode() != 0)
        return false;
    out = result.toString();
    return engine.getError().getCode() == 0;
}

enum class TextForm { kPlain, kListing, kSource };

// Appends one element's text; false when its conversion failed.
bool appendElement(RealEngine& engine, const Variant& v, DataPoolId method, TextForm form, String& out) {
    if (Object* o = objectOf(v)) {
        if (ConvertingScope::isConverting(o)) {
            out += "[object Array]";
            return true;
        }
        if (form == TextForm::kSource)
            return appendValueSource(engine, v, out, true);
        String text;
        if (!methodText(engine, *o, method, text))
            return false;
        out += text;
        return true;
    }
    const u32 type = v.getType();
    if (form == TextForm::kSource) {
        return appendValueSource(engine, v, out, true);
    } else if (type == Variant::kString && form == TextForm::kListing) {
        out += "\"";
        out += v.toString();
        out += "\"";
    } else if (type != Variant::kUndefined && type != Variant::kNull) {
        out += v.toString();
    }
    return true;
}

// count copies of piece; false (nothing appended) when the text would pass
// the longest String.
bool appendRepeated(String& out, const String& piece, u64 count) {
    if (count == 0 || piece.isEmpty())
        return true;
    if (u64(out.length()) + count * u64(piece.length()) > u64(String::kMaxLength))
        return false;
    String block = piece;
    while (count > 0) {
        if (count & 1)
            out += block;
        count >>= 1;
        if (count)
            block += block;
    }
    return true;
}

// The elements' texts between separators. A sparse object's holes come as
// runs of separators (and of hole texts), so a length of 2^32 - 1 with no
// elements fails at once for its size instead of walking.
void joinElements(RealEngine& engine, Object& self, const String& separator, DataPoolId method,
                  TextForm form, const String& holeText, String& out) {
    const u64 length = lengthOf(self);
    ConvertingScope scope(self);
    try {
        Elements e(engine, self, length);
        if (!e.isSparse()) {
            e.each(0, length, true, [&](u64 i) {
                if (engine.getError().getCode() != 0)
                    return;
                if (i > 0)
                    out += separator;
                Variant v;
                if (e.read(i, v) || form == TextForm::kSource)
                    appendElement(engine, v, method, form, out);
            });
            return;
        }
        String gap = holeText;
        gap += separator;
        u64 next = 0;       // the first index not yet written
        const bool done = e.each(0, length, true, [&](u64 i) {
            if (engine.getError().getCode() != 0)
                return;
            if (!appendRepeated(out, gap, i - next)) {
                engine.setError(Err::kOutOfMemory);
                return;
            }
            if (!appendElement(engine, e.at(i), method, form, out))
                return;
            if (i + 1 < length)
                out += separator;
            next = i + 1;
        });
        // The holes after the last element: the last one has no separator.
        if (done && engine.getError().getCode() == 0 && next < length) {
            if (!appendRepeated(out, gap, length - next - 1) || !appendRepeated(out, holeText, 1))
                engine.setError(Err::kOutOfMemory);
        }
    } catch (const std::bad_alloc&) {
        engine.mapException();
    }
}

// ---------------------------------------------------------------------------
// Handlers

void arrayConstructor(Arguments& args) {
    RealEngine& engine = engineOf(args);
    if (args.mode != Arguments::kConstruct) {
        engine.newObject(*args.result, Sym::kArray, args.args, nullptr);
        return;
    }
    Object* self = thisObject(args);
    if (!self)
        return;
    LxCore::Array none;
    fillArray(engine, *self, args.args ? *args.args : none, false);
}

// Read: the length. Write: an object value becomes a primitive, then a
// number; elements at and above a shorter length go.
void arrayLength(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    if (args.mode != Arguments::kPut) {
        args.result->setNumber(f64(self->getLength()));
        return;
    }
    Variant value = args.arg(0);
    if (Object* o = objectOf(value)) {
        Variant primitive;
        if (!o->getDefaultValue(primitive, 0))
            return;
        value = primitive;
    }
    const f64 n = value.toNumber();
    if (!isValidLength(n))
        return raiseOutOfRange(args, n);
    deleteRange(*self, u32(n), self->getLength());
    self->setLength(u32(n));
}

void arraySourceListing(Arguments& args) {
    TVContext& context = TVContext::get();
    if (args.mode == Arguments::kPut)
        context.sourceListing = args.arg(0).toBoolean();
    else
        args.result->setBool(context.sourceListing);
}

void arrayToString(Arguments& args) {
    Object* self = thisObject(args);
    RealEngine& engine = engineOf(args);
    if (!self || !stackAllows(engine))
        return;
    const bool listing = TVContext::get().sourceListing;
    String out(listing ? "[" : "");
    joinElements(engine, *self, String(listing ? ", " : ","), Sym::kToString,
                 listing ? TextForm::kListing : TextForm::kPlain, String(), out);
    if (listing)
        out += "]";
    args.result->setString(out);
}

// join and toLocaleString: one handler, told apart by the name it is called by.
void arrayJoin(Arguments& args) {
    Object* self = thisObject(args);
    RealEngine& engine = engineOf(args);
    if (!self || !stackAllows(engine))
        return;
    const bool locale = args.name && args.name->toString() == String("toLocaleString");
    const DataPoolId method = locale ? pool().add("toLocaleString") : Sym::kToString;
    String separator(",");
    const Variant& given = args.arg(0);
    if (Object* o = objectOf(given)) {
        if (!methodText(engine, *o, method, separator))
            return;
    } else if (given.getType() != Variant::kUndefined) {
        separator = given.toString();
    }
    String out;
    joinElements(engine, *self, separator, method, TextForm::kPlain, String(), out);
    args.result->setString(out);
}

// Holes and undefined print as "undefined". Nesting counts against the
// depth all source writers share.
void arrayToSource(Arguments& args) {
    Object* self = thisObject(args);
    RealEngine& engine = engineOf(args);
    if (!self)
        return;
    SourceNesting nesting(engine);
    if (!nesting.ok())
        return;
    String out("[");
    joinElements(engine, *self, String(", "), pool().add("toSource"), TextForm::kSource,
                 String("undefined"), out);
    out += "]";
    args.result->setString(out);
}

// Appends the elements of source at `at` of a new array: holes as
// undefined, or left out when the source is walked by its held elements.
bool appendElements(RealEngine& engine, Object& target, u64& at, Object& source, u64 length) {
    Elements e(engine, source, length);
    const u64 base = at;
    const bool done = e.each(0, length, true, [&](u64 i) {
        target.createProperty(indexId(base + i), e.at(i), 0);
    });
    at = base + length;
    return done;
}

void arrayConcat(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    RealEngine& engine = engineOf(args);
    // The whole length first: past 2^32 - 1 nothing is made.
    u64 total = lengthOf(*self);
    for (u32 k = 0; k < args.count(); k++) {
        Object* o = objectOf(args.arg(k));
        total += o && isArray(*o) ? o->getLength() : 1;
    }
    if (total > kMaxLength)
        return raiseOutOfRange(args, f64(total));
    Variant made;
    Object* result = newArrayIn(engine, made);
    if (!result)
        return;
    u64 at = 0;
    bool done = appendElements(engine, *result, at, *self, lengthOf(*self));
    for (u32 k = 0; done && k < args.count(); k++) {
        Variant item = args.arg(k);
        Object* o = objectOf(item);
        if (o && isArray(*o)) {
            done = appendElements(engine, *result, at, *o, o->getLength());
            continue;
        }
        engine.importValue(item, true);
        result->createProperty(indexId(at++), item, 0);
    }
    result->setLength(u32(at));
    *args.result = made;
}

// Swaps the values at i and length - 1 - i; holes become undefined, except
// in an object walked by its held elements, where they stay holes.
void arrayReverse(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    RealEngine& engine = engineOf(args);
    const u64 length = lengthOf(*self);
    *args.result = *args.thisValue;
    Elements e(engine, *self, length);
    if (!e.isSparse()) {
        e.each(0, length / 2, false, [&](u64 i) {
            const u64 j = length - 1 - i;
            const Variant low = e.at(i), high = e.at(j);
            e.write(i, high);
            e.write(j, low);
        });
        return;
    }
    std::vector<std::pair<u32, Variant>> held;
    if (!e.each(0, length, true, [&](u64 i) { held.emplace_back(u32(i), e.at(i)); }))
        return;
    for (auto& entry : held)
        e.erase(entry.first);
    for (auto& [index, value] : held) {
        if (!engine.pollWork())
            return;
        e.write(length - 1 - index, value);
    }
}

// A position argument: negative counts from the length; limited to 0..length.
u64 position(i64 value, u64 length) {
    if (value < 0)
        value += i64(length);
    return value < 0 ? 0 : std::min(u64(value), length);
}

// Copies own elements [from, to) of source to 0.. of a new Array in result.
bool copyRange(RealEngine& engine, Elements& e, u64 from, u64 to, Variant& result) {
    Object* made = newArrayIn(engine, result);
    if (!made)
        return false;
    const bool done = e.each(from, to, false, [&](u64 i) {
        Variant v;
        if (e.readOwn(i, v))
            made->createProperty(indexId(i - from), v, 0);
    });
    made->setLength(u32(to - from));
    return done;
}

// slice(1, undefined) copies nothing: a second argument counts when present.
void arraySlice(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    RealEngine& engine = engineOf(args);
    const u64 length = lengthOf(*self);
    const u64 start = position(args.count() > 0 ? args.arg(0).toInt() : 0, length);
    const u64 end = position(args.count() > 1 ? args.arg(1).toInt() : INT_MAX, length);
    Elements e(engine, *self, length);
    Variant made;
    copyRange(engine, e, start, std::max(start, end), made);
    *args.result = made;
}

// splice(start, count, items...): with count 0 the result stays undefined.
// Sums of positions run in 64 bits, and a length past 2^32 - 1 is refused
// before anything moves.
void arraySplice(Arguments& args) {
    Object* self = thisObject(args);
    if (!self || args.arg(0).getType() == Variant::kUndefined)
        return;
    RealEngine& engine = engineOf(args);
    const u64 length = lengthOf(*self);
    const u64 start = position(args.arg(0).toInt(), length);
    u64 count = u64(args.arg(1).toInt(0, INT_MAX));
    if (args.arg(1).getType() == Variant::kUndefined || start + count > length)
        count = length - start;
    const u64 items = args.count() > 2 ? args.count() - 2 : 0;
    const u64 newLength = length - count + items;
    if (newLength > kMaxLength)
        return raiseOutOfRange(args, f64(newLength));
    Elements e(engine, *self, std::max(length, newLength));
    if (count > 0) {
        Variant removed;
        if (!copyRange(engine, e, start, start + count, removed))
            return;
        *args.result = removed;
    }
    if (!moveElements(engine, e, start + count, length, i64(items) - i64(count)))
        return;
    deleteRange(*self, newLength, length);
    for (u64 k = 0; k < items; k++)
        e.write(start + k, args.arg(u32(k + 2)));
    storeLength(*self, f64(newLength));
}

void arrayPop(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    const u32 length = lengthOf(*self);
    if (length == 0)
        return;
    self->get(indexId(length - 1), *args.result, 0);
    deleteOwn(*self, length - 1);
    storeLength(*self, f64(length - 1));
}

void arrayPush(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    const u64 length = lengthOf(*self);
    const u32 n = args.count();
    for (u32 i = 0; i < n; i++) {
        if (length + i > kMaxLength) {
            raiseOutOfRange(args, f64(length + i));
            break;
        }
        self->put(indexId(length + i), args.arg(i), 0);
    }
    args.result->setNumber(f64(length + n));
    putLength(*self, *args.result);
}

void arrayShift(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    RealEngine& engine = engineOf(args);
    const u32 length = lengthOf(*self);
    self->get(indexId(0), *args.result, 0);
    if (length == 0)
        return;
    Elements e(engine, *self, length);
    if (!moveElements(engine, e, 1, length, -1))
        return;
    deleteOwn(*self, length - 1);
    storeLength(*self, f64(length - 1));
}

void arrayUnshift(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    RealEngine& engine = engineOf(args);
    const u64 length = lengthOf(*self);
    const u32 n = args.count();
    if (length + n > kMaxLength)
        return raiseOutOfRange(args, f64(length + n));
    Elements e(engine, *self, length + n);
    if (!moveElements(engine, e, 0, length, i64(n)))
        return;
    for (u32 i = 0; i < n; i++)
        e.write(i, args.arg(i));
    args.result->setNumber(f64(length + n));
    putLength(*self, *args.result);
}

// ---------------------------------------------------------------------------
// sort

struct SortEntry {
    Variant value;
    String key;             // the default order's text
    bool hole = false;
};

bool sortsLast(const SortEntry& e) { return e.hole || e.value.getType() == Variant::kUndefined; }

// Undefined values and holes after everything else; the rest by the text of
// their primitives, each made once.
bool sortByText(RealEngine& engine, std::vector<SortEntry>& entries, std::vector<u32>& order) {
    std::vector<u32> defined, last;
    for (u32 i = 0; i < entries.size(); i++) {
        SortEntry& e = entries[i];
        if (sortsLast(e)) {
            last.push_back(i);
            continue;
        }
        if (!engine.pollWork())
            return false;
        if (Object* o = objectOf(e.value)) {
            Variant primitive;
            if (!o->getDefaultValue(primitive, 1))
                return false;
            e.key = primitive.toString();
        } else {
            e.key = e.value.toString();
        }
        defined.push_back(i);
    }
    const bool done = sortEntries(defined.data(), u32(defined.size()), [&](u32 a, u32 b, i32& r) {
        if (!engine.pollWork())
            return false;
        r = entries[a].key.compare(entries[b].key);
        return true;
    });
    order = std::move(defined);
    order.insert(order.end(), last.begin(), last.end());
    return done;
}

// The comparison function with the global object as this; NaN counts as 0.
bool sortByFunction(RealEngine& engine, Object& compare, std::vector<SortEntry>& entries,
                    std::vector<u32>& order) {
    order.resize(entries.size());
    for (u32 i = 0; i < order.size(); i++)
        order[i] = i;
    Object* global = engine.getGlobalObject();
    LxCore::Array pair;
    return sortEntries(order.data(), u32(order.size()), [&](u32 a, u32 b, i32& r) {
        if (!engine.pollWork())
            return false;
        pair.getOrCreate(0) = entries[a].value;
        pair.getOrCreate(1) = entries[b].value;
        Variant result;
        compare.call(global, pair, result);
        if (engine.getError().getCode() != 0)
            return false;
        const f64 n = result.toNumber();
        r = n < 0 ? -1 : (n > 0 ? 1 : 0);
        return true;
    });
}

void arraySort(Arguments& args) {
    Object* self = thisObject(args);
    if (!self)
        return;
    RealEngine& engine = engineOf(args);
    Object* compare = nullptr;
    if (args.count() > 0) {
        compare = objectOf(args.arg(0));
        if (!compare)
            return raise(args, Err::kNotAFunction, args.arg(0).toString());
    }
    ObjectRef held(compare);
    const u32 length = lengthOf(*self);
    Elements e(engine, *self, length);
    std::vector<SortEntry> entries;
    std::vector<u32> indexes;
    e.each(0, length, false, [&](u64 i) {
        SortEntry entry;
        entry.hole = !e.readOwn(i, entry.value);
        if (!entry.hole)
            indexes.push_back(u32(i));
        entries.push_back(std::move(entry));
    });
    std::vector<u32> order;
    if (compare)
        sortByFunction(engine, *compare, entries, order);
    else
        sortByText(engine, entries, order);
    if (order.size() != entries.size()) {     // stopped before an order was made
        order.resize(entries.size());
        for (u32 i = 0; i < order.size(); i++)
            order[i] = i;
    }
    // Written back whole even when stopped, so that the elements stay a
    // permutation; the loop is bounded by what was read, so it needs no
    // status check. A dense object's holes become undefined; a sparse
    // object's values go to 0.. and its other elements become holes.
    for (u32 i = 0; i < order.size(); i++)
        e.write(i, entries[order[i]].value);
    if (e.isSparse())
        for (u32 index : indexes)
            if (index >= order.size())
                e.erase(index);
    storeLength(*self, f64(length));
    *args.result = *args.thisValue;
}

const PropEntry kArrayTable[] = {
    {"length", 0, kFixedValue, arrayLength, "number"},
    {"__120__", 0, kStatic | kFixedValue, arraySourceListing, "boolean"},
    {"Array", 1, kHiddenMethod, arrayConstructor, "Array,length:number"},
    {"concat", 1, kMethod, arrayConcat, "Array,item:any"},
    {"join", 1, kMethod, arrayJoin, "string,separator:string"},
    {"reverse", 0, kMethod, arrayReverse, "Array"},
    {"slice", 0, kMethod, arraySlice, "Array"},
    {"sort", 0, kMethod, arraySort, nullptr},
    {"pop", 0, kMethod, arrayPop, "any"},
    {"push", 1, kMethod, arrayPush, "number,what:any"},
    {"splice", 0, kMethod, arraySplice, "Array"},
    {"shift", 0, kMethod, arrayShift, "any"},
    {"toString", 0, kMethod, arrayToString, "string"},
    {"toLocaleString", 0, kMethod, arrayJoin, "string"},
    {"unshift", 1, kMethod, arrayUnshift, "number,what:any"},
    {"toSource", 0, kInstanceMethod, arrayToSource, "string"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

jsArrayClass::jsArrayClass() : Dispatcher("JavaScript") {
    addClass("Array");
    registerProperties(0, kArrayTable);
}

void fillArray(RealEngine& engine, Object& array, const LxCore::BasicArray& values, bool literal) {
    const u32 count = values.length();
    if (!literal && count == 1) {
        const Variant* only = values.get(0);
        if (only && only->getType() == Variant::kNumber) {
            const f64 n = only->toNumber();
            if (!isValidLength(n)) {
                String text;
                text.sprintf("%lg", n);
                engine.setError(Err::kOutOfRange, text, -1, false);
            }
            array.setLength(u32(only->toInt()));
            return;
        }
    }
    fillArrayElements(engine, array, values);
}

void newArrayOf(RealEngine& engine, const LxCore::BasicArray& values, Variant& result) {
    Variant made;
    Object* array = newArrayIn(engine, made);
    if (!array)
        return;
    fillArrayElements(engine, *array, values);
    if (engine.getPendingCode() == 0)
        result = made;
}

Dispatcher* newArrayClass(const char*) { return new jsArrayClass; }

}  // namespace LxScript
