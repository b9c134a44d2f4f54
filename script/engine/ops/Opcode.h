// The operation tree: the code generator (and the compiled-script reader)
// build it once per script, runners execute it any number of times. Every
// operation owns its children and computes its value into the caller's
// result; the status it returns tells the caller how it ended.
//
// Statements add a line, a script id, labels, a parent link and one inner
// statement. Nothing a run changes lives in the tree: a pending break or
// continue is the runner's (see jsRunner::takeCompletion), so the same tree
// can run in nested activations. Property sites only remember where they
// last found their name, a hint each use checks before it trusts it.
#pragma once
#include "core/Heap.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/ops/OpArena.h"
#include "script/frontend/DataPool.h"

namespace LxScript {

using LxCore::i32;
using LxCore::u32;
using LxCore::Variant;

class CompiledScriptWriter;
class jsOpFunction;
class jsOpStatement;
class jsOpVariable;
class jsRunner;
class Object;
class Script;

// How a condition ended and, when its status is 0, whether it holds. Small
// enough to come back in registers, so a test leaves nothing on the stack.
struct Truth {
    Status status;
    bool holds;
};

// Whether caches may be filled: not under the engine's general-paths switch
// (docs/engine-caches.md). Asked where a cache is filled, never on a hit.
inline bool fastPathsOn(const jsRunner& runner) { return !runner.engine->takesGeneralPaths(); }

// Whether the tree being built takes only the general paths: operands and
// element sites decide it once, when they are made, so that a run pays
// nothing for the switch. The engine sets it around each tree it builds.
class GeneralBuild {
public:
    static bool on() { return current; }

    class Scope {
    public:
        explicit Scope(bool general) : previous(current) { current = general; }
        ~Scope() { current = previous; }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        bool previous;
    };

private:
    static inline thread_local bool current = false;
};

// Variant::toBoolean with the common types decided here, without a call.
inline bool truthOf(const Variant& value) {
    switch (value.getType()) {
        case Variant::kUndefined:
        case Variant::kNull: return false;
        case Variant::kBoolean:
        case Variant::kString: return value.toBoolean();
        case Variant::kNumber: {
            const LxCore::f64 x = value.toNumber();
            return x != 0 && x == x;    // NaN, +0 and -0 are false
        }
        case Variant::kScriptObject: return true;
        default: return value.toBoolean();
    }
}

// What a node is, for the builders and the operations that treat some
// kinds apart. The compiled-script letter is the writer's and reader's
// alone; everything else asks this.
enum class OpKind : u8 {
    kOther,             // none of those below
    kName,              // a plain name resolved along the scope chain
    kLocal,             // a name the running function declares
    kProperty,          // object.name
    kIndex,             // object[index]
    kBinary,            // a binary operator (not && or ||)
    kLogical,           // && and ||
    kConditional,       // ?:
    kList,              // a comma expression or a list of entries
    kXMLDescendants,    // object..name
    kXMLPredicate,      // object.(condition)
};

class jsOpcode : public LxCore::Root {
public:
    jsOpcode() = default;
    jsOpcode(const jsOpcode&) = delete;
    jsOpcode& operator=(const jsOpcode&) = delete;

    virtual ~jsOpcode() = default;                                   // deletes owned children

    // From the current arena while the code generator builds a tree, else
    // from the core heap.
    static void* operator new(size_t size) {
        if (OpArena* arena = OpArena::getCurrent())
            return arena->alloc(size);
        return LxCore::Heap::alloc(size);
    }
    static void operator delete(void* block) {
        if (block && !OpArena::holds(block))
            LxCore::Heap::free(block);
    }

    virtual Status execute(jsRunner& runner, Variant& result) = 0;
    // The value as a condition (if, the loops, ?:, && and ||): execute, then
    // its truth. Operations that know it without making the value override.
    virtual Truth test(jsRunner& runner);
    virtual void appendSource(LxCore::String& out) const {}
    // The class letter, then the fields. A class without a letter writes
    // nothing.
    virtual void write(CompiledScriptWriter& writer) const;
    virtual void writeOperands(CompiledScriptWriter& writer) const {}
    virtual bool isConstant() const { return false; }
    virtual jsOpVariable* asVariable() { return nullptr; }
    // The object this operation would give, when reading it has no other
    // effect (this, a local holding an object); null: run it.
    virtual Object* peekObject(jsRunner& runner) const { return nullptr; }

    // The letter of the compiled-script format; 0 for none. Only the
    // writer and the reader ask it.
    virtual char letter() const { return 0; }
    virtual OpKind kind() const { return OpKind::kOther; }
    bool is(OpKind k) const { return kind() == k; }
    // Typed views, so that builders and readers never downcast blindly.
    virtual jsOpStatement* asStatement() { return nullptr; }
    virtual jsOpFunction* asFunctionBody() { return nullptr; }

    // The source form as a new text (messages, the debugger).
    LxCore::String sourceText() const;
};

// op as T when it is of T's kind (T::kKind), else null.
template <class T>
T* kindCast(jsOpcode* op) {
    return op && op->kind() == T::kKind ? static_cast<T*>(op) : nullptr;
}
template <class T>
const T* kindCast(const jsOpcode* op) {
    return op && op->kind() == T::kKind ? static_cast<const T*>(op) : nullptr;
}

// One statement. Whoever takes a statement as its child or list entry sets
// the entry's parent to itself (setChild and the list builders do).
class jsOpStatement : public jsOpcode {
public:
    jsOpStatement() = default;
    ~jsOpStatement() override;

    // The statement header: line, child, labels.
    void writeOperands(CompiledScriptWriter& writer) const override;
    jsOpStatement* asStatement() override { return this; }

    // Whether a break or continue with this label (0: none) ends here.
    // A pure question: what is pending lives in the runner.
    virtual bool isBreakTarget(DataPoolId label, bool isBreak) const;
    // Function declarations hoisted into receiver; 0 or an error number.
    virtual i32 declareFunctions(Script* script, Object* receiver, bool deletable);
    // The statement that starts at line; a negative line asks for the
    // first statement that has a line.
    virtual jsOpStatement* findStatement(i32 line);

    // Building.
    void setPosition(DataPoolId script, i32 statementLine) {
        scriptId = script;
        line = statementLine;
    }
    void setChild(jsOpStatement* statement);    // owned; becomes its parent
    jsOpStatement* takeChild();
    void addLabel(DataPoolId label);
    bool hasLabel(DataPoolId label) const;
    i32 getLabelCount() const { return labels ? labels->getCount() : 0; }
    DataPoolId getLabel(i32 index) const { return labels ? DataPoolId(labels->get(index)) : 0; }

    jsOpStatement* getParent() const { return parent; }
    void setParent(jsOpStatement* p) { parent = p; }
    jsOpStatement* getChild() const { return child; }
    DataPoolId getScriptId() const { return scriptId; }
    i32 getLine() const { return line; }

    // Every execute begins with this: the line hook runs when the statement
    // has a line of its own that the runner is not on yet (without
    // debugging, line profiling or tracing, the frame only takes the line).
    // False: the run is to stop (halted, or an error is pending); return
    // kStatusError.
    inline bool prologue(jsRunner& runner) const;
    // Whether the statement has a line of its own that the runner is not
    // on yet.
    bool startsLine(const jsRunner& runner) const {
        return line >= 0 && (runner.line != line || runner.fileId != scriptId);
    }

    // Labelled statements that are not breakables end with this, so that a
    // break naming them stops here.
    inline Status settle(jsRunner& runner, Status status) const;

protected:
    jsOpStatement* parent = nullptr;
    DataPoolId scriptId = 0;
    i32 line = -1;                      // 0-based; negative: no line of its own
    LxCore::SimpleArray* labels = nullptr;
    jsOpStatement* child = nullptr;

private:
    void settleLabel(jsRunner& runner) const;
};

// Loops, switch and statement lists: what break and continue can leave.
class jsOpBreakable : public jsOpStatement {
public:
    // Unlabelled: a loop takes break and continue, a switch only break
    // (a continue inside a switch goes on to the loop around it).
    bool isBreakTarget(DataPoolId label, bool isBreak) const override;
    virtual bool isLoop() const { return true; }
};

// break and continue. After the prologue it walks the parents up to the
// function body and leaves the pending completion in the runner; every
// statement on the way stops when it sees it.
class jsOpBreak : public jsOpStatement {
public:
    jsOpBreak(DataPoolId label, bool isBreak) : label(label), isBreak(isBreak) {}

    Status execute(jsRunner& runner, Variant& result) override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'D'; }

    DataPoolId getTargetLabel() const { return label; }
    bool breaks() const { return isBreak; }

private:
    DataPoolId label;
    bool isBreak;
};

// The frame takes the line, then profiling, tracing and the debugger's
// stop run for it; false: return kStatusError.
bool hookedLine(jsRunner& runner, DataPoolId script, i32 line);

// The frame takes the line, as it does when no hook wants it; false:
// return kStatusError.
inline bool takeLine(jsRunner& runner, DataPoolId script, i32 line) {
    runner.fileId = script;
    runner.line = line;
    return !runner.errorPending();
}

// The line hook, for statements whose prologue found a new line and for
// the closing line of a function body: without debugging, line profiling
// or tracing the frame only takes the line. False: return kStatusError.
inline bool lineHook(const jsOpStatement* statement, jsRunner& runner, DataPoolId script, i32 line) {
    if (line < 0)
        return !runner.errorPending();
    if (runner.engine->wantsStatementHooks())
        return hookedLine(runner, script, line);
    return takeLine(runner, script, line);
}

inline bool jsOpStatement::prologue(jsRunner& runner) const {
    return !startsLine(runner) || lineHook(this, runner, scriptId, line);
}

inline Status jsOpStatement::settle(jsRunner& runner, Status status) const {
    if (labels && runner.getCompletion())
        settleLabel(runner);
    return status;
}

}  // namespace LxScript
