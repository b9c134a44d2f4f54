// Activation workspaces: the activation object of a function call, and the
// class of the engine's global object. A workspace holds the activation's
// locals in a slot array laid out by the function's ScopeInfo, the callee,
// the arguments object once made, and the chain of with-scope objects.
//
// Slot layout (A variables, B constants of the scope, argc arguments):
// 0 .. A+B-1 the locals, A+B+i parameter i. A call keeps its slots in its
// frame's block on the slot stack and makes the workspace only when
// something asks for the activation object (a closure, the arguments object,
// with, catch, eval, the debugger); the workspace then reads the frame's
// block. When the frame ends while anything still holds the workspace, the
// values move into a block of its own: a closure that outlives the call sees
// the values it left.
#pragma once
#include "core/Array.h"
#include "core/SimpleArray.h"
#include "core/Variant.h"
#include "script/engine/Object.h"
#include "script/engine/Runner.h"
#include "script/frontend/Node.h"

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

    // The activation object of a running call of function: its slotCount
    // slots (argumentCount of them passed) stay in the frame's block until
    // leaveFrame.
    Workspace(jsFunction& function, Variant* frameSlots, u32 slotCount, u32 argumentCount);
    // The global object's form: no scope information, no slots.
    explicit Workspace(ObjectSpace& space);
    ~Workspace() override;

    // The frame that lent the slots ends. Held by anything else, the
    // workspace takes the values into a block of its own; otherwise it lets
    // the frame's block go and keeps no slots.
    void leaveFrame();

    // The slot layout of a scope: the locals (A + B), and the slots of an
    // activation passed argumentCount arguments.
    static u32 localCountOf(const ScopeInfo* info) {
        return info ? u32(info->variables) + u32(info->constants) : 0;
    }
    static u32 slotCountOf(const ScopeInfo* info, u32 argumentCount) {
        const u32 parameters = info ? u32(info->parameters) : 0;
        return localCountOf(info) + (argumentCount > parameters ? argumentCount : parameters);
    }

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
    // A catch clause's scope object kept for this activation's next catch
    // (counted): taken while a catch runs, so that a nested catch makes its
    // own; given back only when nothing else holds it. Dropped when the
    // frame ends.
    Object* takeSpareScope() {
        Object* o = spareScope;
        spareScope = nullptr;
        return o;
    }
    void keepSpareScope(Object* object);

    // Fill reference: holder and property of the name along the scope
    // chain (with-objects, this workspace, the callee's closures, the
    // global object). Read: not found leaves the global object as holder,
    // no property. Write: not found creates the property on the workspace.
    bool resolveForRead(DataPoolId symbol, Reference& reference, u32 flags);
    bool resolveForWrite(DataPoolId symbol, Reference& reference, u32 flags);
    // const: error 40 when the name is a constant already.
    void declareConstant(DataPoolId symbol, i32 slot, const Variant& value);
    // One display text per passed argument, each cut after maxLength.
    void getArgumentTexts(LxCore::Array& out, u32 maxLength);
    static void argumentTexts(const Variant* arguments, u32 count, LxCore::Array& out, u32 maxLength);
    // The last steps of a name's lookup from an activation of callee: its
    // closure scopes, then the global object. Null when neither has it.
    static Object* findInClosure(Function* callee, DataPoolId symbol, Property*& found, u32 flags);
    // A closure or a hoisted declaration may outlive the activation.
    void setArgumentsNeeded() { argumentsNeeded = 1; }
    bool argumentsAreNeeded() const { return argumentsNeeded != 0; }

    ScopeInfo* getScopeInfo() const { return scopeInfo; }
    u32 getArgumentCount() const { return argumentCount; }
    u32 getSlotCount() const { return slotCount; }
    Object* getCallee() const { return objectOf(callee); }
    bool isGlobal() const { return objectId == kGlobalObjectId; }

    // Object operations.
    void getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) override;
    Variant* getLocal(u32 slot) override;
    void setLocal(u32 slot, const Variant& value) override;
    void clear() override;
    void markReferences() override;
    void getScopeObjects(LxCore::SimpleArray& out) override;
    Property* findOwnProperty(DataPoolId symbol, u32 flags) override;

private:
    Variant* getSpecialSlot(i32 index);
    Object* makeArgumentsObject();
    // The workspace's own lookup without creating: own slots, then the
    // local of the name. Null when neither.
    Property* findLocalProperty(DataPoolId symbol, u32 flags);
    // The with-chain walk of both resolves; null when no object has it.
    Object* findInWithChain(DataPoolId symbol, Property*& found, u32 flags);

    Variant callee;                 // the running function
    Variant argumentsObject;        // made on first use
    ScopeChain* withChain = nullptr;
    ScopeChain* spareChain = nullptr;   // a popped node, for the next push
    Object* spareScope = nullptr;
    ScopeInfo* scopeInfo = nullptr; // counted
    u32 argumentCount = 0;
    u32 localCount = 0;             // A + B
    u32 slotCount = 0;
    Variant* slots = nullptr;       // the frame's block, or slotCount Variants of its own, each flagged as a slot
    u8 ownsSlots = 0;
    u8 argumentsNeeded = 0;
    u8 argumentsMade = 0;           // once per activation: a value written there stays
};

}  // namespace LxScript
