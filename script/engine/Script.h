// Compiled scripts and script functions. The compiler hands out a jsScript:
// the root of an operation tree with its name. Running it, and every
// function the script defines, goes through jsFunction: made over a body
// operation, it captures its closure scopes when it is created and runs a
// frame (and, for functions, a workspace) for every call.
#pragma once
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "script/engine/Function.h"

namespace LxScript {

class jsOpFunction;
class RealEngine;
class ScopeInfo;

class Script : public LxCore::Refcountable {
public:
    Script() = default;
    ~Script() override = default;
    virtual bool isCompiled() const = 0;                        // read from compiled text
    virtual const LxCore::String& getSource() const = 0;
    virtual const LxCore::String& getName() = 0;
    virtual DataPoolId getFileID() const = 0;
    virtual void getFileIDs(LxCore::SimpleArray& out) const = 0;
    // The compiled-script text; 0 or an error number.
    virtual i32 writeBinary(LxCore::String& out) = 0;

    // Whether a statement starts at line (0-based).
    static bool isValidLine(const Script& script, i32 line);
    virtual jsOpFunction* getRoot() const = 0;
};

class jsScript : public Script {
public:
    explicit jsScript(jsOpFunction* root);     // owns root
    ~jsScript() override;

    bool isCompiled() const override;
    const LxCore::String& getSource() const override;
    const LxCore::String& getName() override;
    DataPoolId getFileID() const override { return fileSymbol; }
    void getFileIDs(LxCore::SimpleArray& out) const override;
    i32 writeBinary(LxCore::String& out) override;
    jsOpFunction* getRoot() const override { return root; }

private:
    jsOpFunction* root;
    LxCore::String name;
    DataPoolId fileSymbol;
};

class jsFunction : public Function {
public:
    // Over body, a function of script (one reference held). The defining
    // scope gives the closure scopes (the global object when global).
    jsFunction(RealEngine& engine, Script* script, jsOpFunction* body, Object* definingScope,
               bool global);
    ~jsFunction() override;

    void getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) override;
    void clear() override;
    void markReferences() override;
    void construct(Object* newObject, const LxCore::BasicArray& args, Variant& result) override;
    void call(Object* thisObject, const LxCore::BasicArray& args, Variant& result) override;
    i32 declareFunctions(Object* scope) override;
    Script* getScript() override { return script; }
    LxCore::SimpleArray* getClosureScopes() override;
    // The same scopes without a virtual call, empty when there are none.
    const LxCore::SimpleArray& closureScopes() const { return closure; }
    ScopeInfo* getScopeInfo() override;
    // A script function's prototype is always a plain object.
    bool mayBeClassConstructor() const override { return false; }

    jsOpFunction* getBody() const { return body; }
    bool isScriptLevel() const;
    bool isGlobal() const { return global != 0; }
    RealEngine& getRealEngine() const;

private:
    void runActivation(Object* thisObject, const LxCore::BasicArray& args, Variant& result);
    // Out of line: a call's frame holds only the runner it needs.
    [[gnu::noinline]] void runScriptLevel(Object* thisObject, Variant& result);

    Script* script;
    jsOpFunction* body;
    LxCore::SimpleArray closure;    // scope objects, each counted and locked
    u8 global;
    u8 cleared = 0;
};

}  // namespace LxScript
