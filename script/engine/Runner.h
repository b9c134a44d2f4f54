// Activations. Every run of script code (a call, a construction, a script's
// top level, an evaluation) has one frame: a RuntimeEnv that the engine's
// current-frame chain links and the debugger walks, made concrete by
// jsRunner, which executes the operation tree. Frames live on the native
// stack: construction pushes, destruction pops.
//
// Beside them, the small run-time operations the operation tree shares:
// references, loose equality, conversion to an object, error texts,
// assignment through a reference and typeof names.
#pragma once
#include <cstdint>

#include "core/Array.h"
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"
#include "script/frontend/DataPool.h"

namespace LxScript {

using LxCore::i32;
using LxCore::u16;
using LxCore::u32;
using LxCore::u64;
using LxCore::u8;
using LxCore::Variant;

class jsFunction;
class jsOpFunction;
class jsOpStatement;
class Object;
class ObjectRef;
class ProfilerData;
class Property;
class RealEngine;
class ScopeInfo;
class Workspace;

// What every operation's execute returns. Any other non-zero status a child
// returns is passed upwards unchanged.
using Status = i32;
constexpr Status kStatusOK = 0;
constexpr Status kStatusReturn = 90;                // the pool id of "return"
constexpr Status kStatusError = i32(0x2000008C);    // the pool id of "Error": an error is pending

// What a reference operation names: the object that holds (or should hold)
// the property, the slot found, the name, and whether a write creates a
// missing property as a member (flag 8). The object is counted; the
// reference gives it back when it goes or is reset.
struct Reference {
    Object* object = nullptr;
    Property* property = nullptr;
    DataPoolId symbol = 0;
    i32 member = 0;

    Reference() = default;
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;
    ~Reference() { release(); }

    void setObject(Object* holder);     // counted
    void release();
};

class RuntimeEnv : public LxCore::Root {
public:
    // Pushes: this frame becomes the engine's current frame.
    RuntimeEnv(RealEngine& engine, jsFunction* function, Workspace* scope, Object* thisObject);
    RuntimeEnv(const RuntimeEnv&) = delete;
    RuntimeEnv& operator=(const RuntimeEnv&) = delete;

    virtual ~RuntimeEnv();                                              // pops
    virtual ScopeInfo* getScopeInfo() const = 0;
    // A script's top level: "[file]"; a function: name(arguments).
    virtual LxCore::String& getFrameText(LxCore::String& out);
    // The running function's name and its parameters' current values;
    // returns the declared parameter count.
    virtual u32 getFunctionInfo(LxCore::String& name, LxCore::Array& values);

    // Called by the line hook before each statement.
    void setLine(DataPoolId file, i32 line);
    void setError(i32 code, const LxCore::String* text = nullptr);
    void clearError();
    // The running code was read from a compiled script.
    bool isCompiled() const;
    // kStatusError while an error is pending in the engine (or the run was
    // halted), else kStatusOK.
    Status status() const { return *pendingCode ? kStatusError : kStatusOK; }
    bool errorPending() const { return *pendingCode != 0; }
    // Frames from this one to the outermost, both included.
    i32 depth() const;

    // The activation object, or the global or frame scope. A call's
    // activation object is made when first asked for.
    Workspace* getScope() { return scope ? scope : makeScope(); }
    // The scope when it exists already; null for a call that made none.
    Workspace* peekScope() const { return scope; }

    RuntimeEnv* previous;           // the frame current when this one was pushed
    jsFunction* function;
    RealEngine* engine;
    Object* thisObject;
    DataPoolId fileId = 0;          // the current statement's script
    i32 line = -1;                  // 0-based; -1 before the first statement
    u32 errorMarker = 0;            // the symbol "Error" while an error raised here is pending
    u16 stepFlags = 0;              // 0x2: stop at the next line
    bool scriptLevel = false;       // a script's top level (or evaluated code)

protected:
    // The constructor above, inline for the runner's (Runner.cpp only).
    struct Inline {};
    RuntimeEnv(RealEngine& engine, jsFunction* function, Workspace* scope, Object* thisObject, Inline);

    virtual Workspace* makeScope() { return nullptr; }

    Workspace* scope;               // see getScope
    const i32* pendingCode;         // the engine's
};

class jsRunner : public RuntimeEnv {
public:
    // A pending break or continue: set by the break statement's walk, taken
    // by the statement it names.
    enum Completion : u32 { kNoCompletion = 0, kBreak = 1, kContinue = 2 };
    // What takeCompletion tells the statement that ran a child.
    enum Take { kTakeNone, kTakeBreak, kTakeContinue, kTakePassOn };
    // A completion set aside while a finally block runs.
    struct Aside {
        u32 completion;
        const jsOpStatement* target;
    };

    // Script-level code over a scope the caller holds.
    jsRunner(jsFunction& function, Workspace& scope, Object* thisObject, jsOpFunction* body);
    // A call: slotCount slots in the frame's block (argumentCount of them
    // passed); its workspace is made on demand and left at the end. A call
    // from script shares its caller's stack limit; 0 takes the thread's.
    jsRunner(jsFunction& function, Variant* slots, u32 slotCount, u32 argumentCount, Object* thisObject,
             jsOpFunction* body, uintptr_t callerStackLimit);
    ~jsRunner() override;

    ScopeInfo* getScopeInfo() const override;
    LxCore::String& getFrameText(LxCore::String& out) override;
    u32 getFunctionInfo(LxCore::String& name, LxCore::Array& values) override;
    u32 getCompletion() const { return completion; }
    const jsOpStatement* getCompletionTarget() const { return target; }

    // Executes the body: the stack check, the body, and the result by how
    // it ended.
    void runBody(Variant& result);

    // A slot by index, as Workspace::getSlot numbers them: a call's locals
    // and parameters are read in the frame's block without the workspace.
    Variant* slot(i32 index) {
        if (u32(index) < slotCount)
            return &slots[index];
        return specialSlot(index);
    }
    u32 getSlotCount() const { return slotCount; }
    // A slot of the frame's block: index below getSlotCount().
    Variant& frameSlot(u32 index) { return slots[index]; }
    // The same for any index: null outside the block (negative, the callee
    // and arguments slots, past the block).
    Variant* frameSlotAt(i32 index) { return u32(index) < slotCount ? slots + index : nullptr; }
    // Workspace::resolveForRead from this frame. A call that made no
    // workspace has no own names beyond its slots, no with-chain: the
    // closure scopes and the global object answer without making one.
    bool resolveForRead(DataPoolId symbol, Reference& reference, u32 flags);
    // The running function called through its own name: true, with the
    // function in out, when no workspace had to be made for it.
    bool readOwnName(DataPoolId symbol, Variant& out);

    // After a child statement ran. kTakePassOn: something outside is
    // named; stop and return the status.
    Take takeCompletion(const jsOpStatement* self) {
        if (!completion)
            return kTakeNone;
        if (target != self)
            return kTakePassOn;
        const Take take = completion == kBreak ? kTakeBreak : kTakeContinue;
        completion = kNoCompletion;
        target = nullptr;
        return take;
    }
    void setCompletion(u32 kind, const jsOpStatement* statement) {
        completion = kind;
        target = statement;
    }
    Aside setAside() {
        const Aside aside{completion, target};
        completion = kNoCompletion;
        target = nullptr;
        return aside;
    }
    // The finally block's own break or continue wins over the one set aside.
    void restoreAside(const Aside& aside) {
        if (!completion) {
            completion = aside.completion;
            target = aside.target;
        }
    }

    // Recursive executes test this before they go deeper: one comparison
    // with the limit the frame took when it was pushed.
    bool stackExhausted() const {
        char probe;
        return uintptr_t(&probe) <= stackLimit;
    }
    // Error 27; returns the runner's status.
    Status stackOverrun();
    uintptr_t getStackLimit() const { return stackLimit; }

    ProfilerData* profiler = nullptr;
    u64 startStamp = 0;
    jsOpFunction* body;

private:
    Workspace* makeScope() override;
    // The callee and arguments slots (and a bad index) are the workspace's.
    Variant* specialSlot(i32 index);
    // Whether the name resolves in the activation object (a declared name,
    // arguments, callee, the function's own name).
    bool declaresName(DataPoolId symbol) const;
    void takeStackLimit(uintptr_t callerStackLimit);

    u32 completion = kNoCompletion;
    const jsOpStatement* target = nullptr;
    uintptr_t stackLimit = 0;
    Variant* slots = nullptr;       // a call's block on the slot stack
    u32 slotCount = 0;
    u32 argumentCount = 0;
    bool madeScope = false;         // the workspace is this frame's: left and let go at the end
};

// The run-time operations the operation tree calls.

// Equality of "==": same types by value (objects by identity), undefined
// and null equal each other, booleans as numbers, strings against numbers
// as numbers, objects against primitives by their default value. An object
// whose default value is still an object equals nothing (error 23).
bool looseEquals(const Variant& a, const Variant& b);
// Objects as they are; booleans, numbers and strings in a new wrapper; any
// other value raises error 21 and gives false.
bool toObjectValue(jsRunner& runner, const Variant& value, ObjectRef& out);
// An object's default text without a leading "Error: "; other values' text.
// Runs no script beyond the default value.
LxCore::String& errorText(LxCore::String& out, const Variant& value);
// Writes value through the reference: names an anonymous function, keeps a
// read-only property (error 46 in strict mode), writes the found slot or
// puts a new property on the holder. The reference keeps the slot.
void assignReference(Reference& reference, const Variant& value);
// Replaces v by its typeof text.
void typeOfName(Variant& v);
// One trace line through the global "$" object's write: the depth, the
// text and a line feed. Nothing is traced while it writes.
void writeTraceLine(RuntimeEnv& frame, const LxCore::String& text);

}  // namespace LxScript
