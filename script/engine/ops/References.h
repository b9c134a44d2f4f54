// Reference operations: names, properties, indexes, locals and this. Each
// computes its value like any operation and can also fill a Reference (the
// holder object and the property slot) for assignment, ++/--, delete,
// typeof and calls.
#pragma once
#include "script/engine/Property.h"
#include "script/engine/access/Operand.h"
#include "script/engine/ops/Opcode.h"

namespace LxScript {

class SlotCell;
class jsOpBinary;
class jsOpName;

// What a slot's read answered; none reads as undefined.
inline void takeValue(const Variant* value, Variant& result) {
    if (value)
        result = *value;
    else
        result.clear();
}

// A slot's own read, which may run native code: the holder is held meanwhile.
void readSlotThrough(Property& slot, Object* holder, Variant& result);

// A found slot's value: a plain slot's in place, any other by its own read.
inline void readSlot(Property& slot, Object* holder, Variant& result) {
    if (slot.getKind() == Property::kPlain && !(slot.getAttributes() & kReResolve))
        result = slot.cachedValue();
    else
        readSlotThrough(slot, holder, result);
}

// getReference flags.
enum ReferenceFlag : u32 {
    kRefForCall = 0x20,     // the reference is made for a call
    kRefOwnOnly = 0x40,     // own properties only
    kRefQuiet = 0x80,       // the object part is itself evaluated quietly
};

// A plain name, resolved along the activation's scope chain.
class jsOpVariable : public jsOpcode {
public:
    // attribute: the name stood behind an E4X "@"; the symbol becomes
    // "@name".
    jsOpVariable(DataPoolId symbol, bool attribute);

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'j'; }
    static constexpr OpKind kKind = OpKind::kName;
    OpKind kind() const override { return kKind; }
    jsOpVariable* asVariable() override { return this; }
    Object* peekObject(jsRunner& runner) const override;
    virtual jsOpName* asName() { return nullptr; }

    // Fills reference; a non-zero status is an error.
    virtual Status getReference(jsRunner& runner, Reference& reference, u32 flags);
    // The value without raising error 2 for a missing name.
    virtual Status evaluateQuietly(jsRunner& runner, Variant& result);

    DataPoolId getSymbol() const { return symbol; }
    bool isAttribute() const { return attribute; }
    // A plain name (not a property, index or this access): ++ of a missing
    // one raises error 2.
    virtual bool isPlainName() const { return true; }
    // target = value: the reference made with the object part evaluated
    // quietly, then the store through it.
    virtual Status assign(jsRunner& runner, const Variant& value);

protected:
    DataPoolId symbol;
    bool attribute;
};

// What a free-name site remembers of where its last lookup ended beyond
// the running frame: a local of an enclosing activation (known by its
// scope's serial, with the slot) or an own slot of the global object (its
// table's serial and the place). The enclosing activations passed on the
// way are known by their scopes' serials too. Nothing is held: a use checks
// every scope on the way again, so that an eval's var, a with or catch
// scope, a deleted or replaced global or another shape of scopes sends the
// site the general way.
struct NameHit {
    static constexpr u32 kMaxScopes = 5;    // closure scopes looked through
    enum Kind : u8 { kNone, kClosure, kGlobal };
    u64 scopes[kMaxScopes] = {};    // the activations passed, then (kClosure) the holder
    u64 table = 0;                  // kGlobal: the global object's table
    u32 place = 0;                  // the holder's slot, or the global's cell
    u8 depth = 0;                   // closure scopes passed
    u8 kind = kNone;
};

// A plain name the running code does not declare (no "@"): a global, a
// variable of an enclosing function, or one an eval or with brings in.
class jsOpName final : public jsOpVariable {
public:
    jsOpName(DataPoolId symbol, bool attribute);

    Status execute(jsRunner& runner, Variant& result) override;
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;
    Object* peekObject(jsRunner& runner) const override;
    jsOpName* asName() override { return this; }

    // The callee of name(...) from the remembered hit when reading it runs
    // nothing and gives an object; null: the general way answers. Its
    // holder is the global object or an activation: the call's this is the
    // global object.
    Object* findCallee(jsRunner& runner) const;

private:
    // Where a hit leads: the global's slot, or the value in an enclosing
    // activation, and the holder.
    struct Found {
        Property* property = nullptr;
        Variant* value = nullptr;
        Object* holder = nullptr;
    };
    static constexpr u8 kMaxRefills = 32;   // then the site stays with the general way

    [[gnu::always_inline]] inline bool lookUp(jsRunner& runner, Found& found) const;
    [[gnu::always_inline]] inline bool matchHit(jsRunner& runner, Found& found) const;
    [[gnu::noinline]] bool remember(jsRunner& runner, Found& found) const;
    // Nothing of the frame itself answers the name before its closure
    // scopes: no with or catch scope, no own name of its activation.
    [[gnu::always_inline]] inline bool framePasses(jsRunner& runner) const;
    // One of the frame's closure scopes passed on the way.
    bool passes(Object* scope, u64 serial) const;
    Status readGeneral(jsRunner& runner, Variant& result);

    mutable NameHit hit;
    mutable u8 refills = 0;
    bool cacheable;
};

// What a property site remembers of one hit: the serials of the shared
// slot tables met from the receiver up to the object that holds the name,
// and the place of the name's cell there. Nothing is held or pointed at: a
// use compares the serials with the tables of the objects it meets, so a
// table or object that went can never be taken for the one remembered.
struct PropertyHit {
    static constexpr u32 kMaxDepth = 3;     // prototypes passed on the way
    u64 tables[kMaxDepth + 1] = {};         // 0 matches no table
    u32 place = 0;
    u32 depth = 0;
};

// object.name. A site whose name is neither an index nor "prototype"
// remembers where its last hits were (the operation tree runs on one engine
// thread at a time), so that a receiver shaped like one met before is
// answered from the cell without a lookup; anything else goes the general
// way.
class jsOpProperty : public jsOpVariable {
public:
    jsOpProperty(jsOpcode* object, DataPoolId symbol, bool attribute);   // owns object
    ~jsOpProperty() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'X'; }
    static constexpr OpKind kKind = OpKind::kProperty;
    OpKind kind() const override { return kKind; }
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;
    Status evaluateQuietly(jsRunner& runner, Variant& result) override;
    bool isPlainName() const override { return false; }
    Status assign(jsRunner& runner, const Variant& value) override;
    Object* peekObject(jsRunner& runner) const override;

    jsOpcode* getObject() const { return object; }

protected:
    // No element: the name is no integer a dense store could hold.
    static constexpr u32 kNoElement = 0xFFFFFFFFu;

    // The object expression's value as an object into reference.
    Status referObject(jsRunner& runner, Reference& reference, u32 flags);
    Status referValue(jsRunner& runner, Reference& reference, const Variant& value);
    Status findMember(jsRunner& runner, Reference& reference, u32 flags);
    Status readLength(jsRunner& runner, Variant& result);
    Status readOfValue(jsRunner& runner, const Variant& value, Variant& result);
    // Stores value into a compact element as the element's Property would
    // take it.
    static void storeElement(DataPoolId symbol, SlotCell& cell, const Variant& value);

    jsOpcode* object;

private:
    static constexpr u32 kHits = 2;

    Status readGeneral(jsRunner& runner, Variant& result);
    Status assignValue(jsRunner& runner, const Variant& value);
    Status assignThrough(jsRunner& runner, Reference& reference, SlotCell* c, const Variant& value);
    // The write of a name neither the receiver nor its chain has, made in
    // place; false: the general way writes it.
    bool addNew(jsRunner& runner, Object* receiver, const Variant& value) const;
    Status readFrom(jsRunner& runner, Object* receiver, Variant& result);
    // The name's read off receiver by the general lookup.
    Status readByLookup(jsRunner& runner, Object* receiver, Variant& result);
    // object[12] with the index written as a constant: the element read and
    // written in its cell as jsOpIndex does (Elements.cpp), else the general
    // way.
    Status readElement(jsRunner& runner, Variant& result);
    Status readElementOf(jsRunner& runner, Object* receiver, Variant& result);
    Status assignElement(jsRunner& runner, const Variant& value);
    Object* peekElement(jsRunner& runner) const;
    // The live cell of the name on receiver's chain that a remembered hit
    // names, else the one a walk that makes nothing finds (then
    // remembered); null when the general lookup must answer. depth: the
    // prototypes passed.
    [[gnu::always_inline]] inline SlotCell* lookUpCell(Object* receiver, u32 flags, u32& depth) const;
    [[gnu::always_inline]] inline SlotCell* matchHit(const PropertyHit& hit, Object* receiver) const;
    [[gnu::noinline]] SlotCell* walkChain(Object* receiver, u32 flags, u32& depth) const;
    // An object the own-miss of this name is final on and that has no
    // inherited lookup of its own before its prototype's.
    bool passesOn(Object* o) const;

    mutable PropertyHit hits[kHits];
    mutable u8 nextHit = 0;
    mutable u64 addFrom = 0;        // the table the site's last new name was added to
    bool cacheable;
    u32 element = kNoElement;
};

// object[index], and object.@[index] with the attribute flag.
class jsOpIndex final : public jsOpProperty {
public:
    jsOpIndex(jsOpcode* object, jsOpcode* index, bool attribute);   // owns both
    ~jsOpIndex() override;

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'Q'; }
    static constexpr OpKind kKind = OpKind::kIndex;
    OpKind kind() const override { return kKind; }
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;

    jsOpcode* getIndex() const { return key.getOperation(); }

    // What assignments and ++/-- do to this target, with the element of an
    // array's store read and written in its cell when the key names one
    // (Elements.cpp); anything else goes the way of getReference.
    // target = value with value computed already.
    Status assign(jsRunner& runner, const Variant& value) override;
    // target op= value: update combines the target's value, left in
    // result, with its right side; append is update when it is a sum, which
    // may grow the target's text in place.
    Status assignCompound(jsRunner& runner, jsOpcode& update, jsOpBinary* append, Variant& result);
    // ++/--: fills reference as getReference does, or stores the new value
    // itself (done; result the operation's value).
    Status step(jsRunner& runner, Reference& reference, LxCore::f64 delta, bool postfix, Variant& result,
                bool& done);

private:
    // getReference in two steps: the object and the key, evaluated in that
    // order, then the lookup of the key's name.
    Status evaluate(jsRunner& runner, Reference& reference, Variant& key, u32 flags);
    Status lookUp(jsRunner& runner, Reference& reference, const Variant& key, u32 flags);
    // evaluate into a fresh reference, a receiver that reading has no effect
    // for held without a call (Elements.cpp).
    Status evaluateInPlace(jsRunner& runner, Reference& reference, Variant& key, u32 flags);
    // The receiver's own live element the key names in its store, the
    // reference made to name it; null: the key goes the general way.
    SlotCell* elementOf(jsRunner& runner, Reference& reference, const Variant& key, u32& at) const;
    Status updateElement(jsRunner& runner, Reference& reference, u32 at, jsOpcode& update,
                         jsOpBinary* append, Variant& result);
    // The receiver when reading the object part has no effect (null:
    // evaluate it), a local's read in its frame slot without a call.
    Object* peekReceiver(jsRunner& runner) const;
    Object* localReceiver(jsRunner& runner) const;
    // The key in its frame slot when the index is a local there; null:
    // execute the index.
    const Variant* localKey(jsRunner& runner) const;
    Status executeIndex(jsRunner& runner, Variant& key);
    // execute and assign past their first test: a peeked receiver's element
    // that holds its value in its cell, any key.
    [[gnu::noinline]] Status readPeeked(jsRunner& runner, Variant& result);
    [[gnu::noinline]] Status assignPeeked(jsRunner& runner, const Variant& value);
    static void writeCell(SlotCell& cell, u32 at, const Variant& value);
    // The general ways: peek false when the receiver could not be peeked;
    // keyed, with the receiver (counted, taken over) and the key evaluated
    // already.
    [[gnu::noinline]] Status readGeneral(jsRunner& runner, Variant& result, bool peek);
    [[gnu::noinline]] Status readKeyed(jsRunner& runner, Object* receiver, const Variant& key, Variant& result);
    Status readThrough(jsRunner& runner, Reference& reference, const Variant& key, Variant& result);
    [[gnu::noinline]] Status assignGeneral(jsRunner& runner, const Variant& value, bool peek);
    [[gnu::noinline]] Status assignKeyed(jsRunner& runner, Object* receiver, const Variant& key, const Variant& value);
    Status assignThrough(jsRunner& runner, Reference& reference, const Variant& key, const Variant& value);
    Operand key;                // the index, read in its frame slot when a local
    i32 receiverSlot = -1;      // the object part is a local in this frame slot
    bool bothLocal = false;     // both are, and no "@" stands before the index
    // Elements may be read and written in their cells: no "@" stands before
    // the index and the tree was not built for the general paths, which
    // reach every cell fast path only through a peeked receiver or here.
    bool inCells = true;
};

// A name the running function declares: its slot in the workspace, or -1
// where the code generator only knew the name is declared (script scope,
// with and catch bodies).
class jsOpLocalVariable : public jsOpVariable {
public:
    jsOpLocalVariable(i32 slot, DataPoolId symbol);

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'V'; }
    static constexpr OpKind kKind = OpKind::kLocal;
    OpKind kind() const override { return kKind; }
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;
    Status evaluateQuietly(jsRunner& runner, Variant& result) override;
    Object* peekObject(jsRunner& runner) const override;

    i32 getSlot() const { return slot; }

private:
    [[gnu::noinline]] Status readOutsideFrame(jsRunner& runner, Variant& result);
    [[gnu::noinline]] Object* peekByName(jsRunner& runner) const;

    i32 slot;
};

// The frame slot a plain local read names (-1 for none), or -1 for any other
// operation.
i32 localSlotOf(const jsOpcode* op);

// this: a value, not a place. It does not offer itself as a reference, so
// typeof and calls use the value, assignment and ++ find no target (error
// 3), and nothing named "this" is ever created on the object. Its
// reference, when asked directly, holds the this-object and no property.
class jsOpThis : public jsOpVariable {
public:
    jsOpThis();

    Status execute(jsRunner& runner, Variant& result) override;
    void appendSource(LxCore::String& out) const override;
    char letter() const override { return 'e'; }
    OpKind kind() const override { return OpKind::kOther; }
    jsOpVariable* asVariable() override { return nullptr; }
    Status getReference(jsRunner& runner, Reference& reference, u32 flags) override;
    Status evaluateQuietly(jsRunner& runner, Variant& result) override;
    Object* peekObject(jsRunner& runner) const override;
    bool isPlainName() const override { return false; }
};

// The live element of o's dense store at index, or null: no store, an
// invalid object, an index past the store, a hole or a removed element
// (Elements.cpp).
SlotCell* liveElementAt(const jsRunner& runner, Object* o, u32 index);

// Reading through a reference, with the host's undefined-name hook. With
// report, a missing name raises error 2.
Status getReferenceValue(jsRunner& runner, Reference& reference, Variant& result, bool report);
// A name's value along the scope chain, error 2 when it is missing.
Status readName(jsRunner& runner, DataPoolId symbol, Variant& result);

}  // namespace LxScript
