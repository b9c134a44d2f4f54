// Activation workspaces: the activation object of a function call, and the
// class of the engine's global object. A workspace holds the activation's
// locals in a slot array laid out by the function's ScopeInfo, the callee,
// the arguments object once made, and the chain of with-scope objects.
//
// Slot layout (A variables, B constants of the scope, argc arguments):
// 0 .. A+B-1 the locals, A+B+i parameter i. The passed arguments are copied
// into the slots at the call, so an activation never reads its caller's
// array: a closure that outlives the call sees the values it left.
#pragma once
#include "core/Array.h"
#include "core/SimpleArray.h"
#include "core/Variant.h"
#include "script/engine/Object.h"
#include "script/engine/Runner.h"

namespace LxScript {

class Function;
class jsFunction;
class ScopeInfo;

// One object in front of the scope chain (with, catch).
class ScopeChain : public LxCore::Root {
public:
    ScopeChain(ScopeChain* next, Object* object);   // counted
    ~ScopeChain();
    ScopeChain(const ScopeChain&) = delete;
    ScopeChain& operator=(const ScopeChain&) = delete;

    ScopeChain* next;
    Object* object;
};

class Workspace : public Object {
public:
    // Slot indexes that name no local.
    static constexpr i32 kArgumentsSlot = 10000001;
    static constexpr i32 kCalleeSlot = 10000002;

    // An activation of function called with args; the values are copied.
    Workspace(jsFunction& function, const LxCore::BasicArray& args);
    // The global object's form: no scope information, no slots.
    explicit Workspace(ObjectSpace& space);
    ~Workspace() override;

    // Slot by index: the locals and parameters, kCalleeSlot and
    // kArgumentsSlot (the arguments object, made on first use). An index
    // outside the layout raises error -33 and gives null.
    Variant* getSlot(i32 index) {
        if (u32(index) < slotCount)
            return &slots[index];
        return getSpecialSlot(index);
    }
    // The slot of a name the scope declares; false when it declares none.
    static bool resolveLocal(const ScopeInfo* info, DataPoolId symbol, i32& index);
    i32 firstParameterSlot(i32 i) const { return i + localCount; }

    void pushWith(Object* object);
    void popWith();
    ScopeChain* getWithChain() const { return withChain; }

    // Fill reference: holder and property of the name along the scope
    // chain (with-objects, this workspace, the callee's closures, the
    // global object). Read: not found leaves the global object as holder,
    // no property. Write: not found creates the property on the workspace.
    bool resolveForRead(DataPoolId symbol, Reference& reference, u32 flags);
    bool resolveForWrite(DataPoolId symbol, Reference& reference, u32 flags);
    // const: error 40 when the name is a constant already.
    void declareConstant(DataPoolId symbol, i32 slot, const Variant& value);
    // The arguments are copied into the slots when the activation starts,
    // so nothing is left to detach; kept as the point calls go through.
    void detachArguments() {}
    // One display text per passed argument, each cut after maxLength.
    void getArgumentTexts(LxCore::Array& out, u32 maxLength);
    // A closure or a hoisted declaration may outlive the activation.
    void setArgumentsNeeded() { argumentsNeeded = 1; }
    bool argumentsAreNeeded() const { return argumentsNeeded != 0; }

    ScopeInfo* getScopeInfo() const { return scopeInfo; }
    u32 getArgumentCount() const { return argumentCount; }
    u32 getSlotCount() const { return slotCount; }
    Object* getCallee() const { return objectOf(calleeSlot()); }
    bool isGlobal() const { return objectId == kGlobalObjectId; }

    // Object operations.
    void getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) override;    // 2
    Variant* getLocal(u32 slot) override;                                            // 19
    void setLocal(u32 slot, const Variant& value) override;                          // 20
    void clear() override;                                                           // 24
    void markReferences() override;                                                  // 25
    void getScopeObjects(LxCore::SimpleArray& out) override;                         // 35
    Property* findOwnProperty(DataPoolId symbol, u32 flags) override;                // 36

private:
    Variant* getSpecialSlot(i32 index);
    Object* makeArgumentsObject();
    // The workspace's own lookup without creating: own slots, then the
    // local of the name. Null when neither.
    Property* findLocalProperty(DataPoolId symbol, u32 flags);
    // The with-chain walk of both resolves; null when no object has it.
    Object* findInWithChain(DataPoolId symbol, Property*& found, u32 flags);

    // In front of the locals in the slot block (see newSlots).
    Variant& calleeSlot() const { return slots[-2]; }       // the running function
    Variant& argumentsSlot() const { return slots[-1]; }    // made on first use
    ScopeChain* withChain = nullptr;
    ScopeInfo* scopeInfo = nullptr; // counted
    u32 argumentCount = 0;
    u32 localCount = 0;             // A + B
    u32 slotCount = 0;
    Variant* slots = nullptr;       // slotCount Variants, each flagged as a slot, after the two above
    u8 argumentsNeeded = 0;
    u8 argumentsMade = 0;           // once per activation: a value written there stays
};

}  // namespace LxScript
