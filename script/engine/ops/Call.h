// Calls and construction: f(args), o.m(args), o[k](args) and new. The callee
// and its holder come from the callee's reference when it is one; the
// arguments are evaluated into one block of the engine's slot stack.
#pragma once
#include "script/engine/ops/Operators.h"

namespace LxScript {

class jsFunction;
class jsOpLocalVariable;
class jsOpName;

class jsOpCall : public jsOpcode {
public:
    // Owns callee and arguments (null: none); construct for "new".
    jsOpCall(jsOpcode* callee, jsOpList* arguments, bool construct);
    ~jsOpCall() override;

    // The callee first, the call's value at the end.
    Status execute(jsRunner& runner, Variant& result) override;
    // "f()": arguments are not shown.
    void appendSource(LxCore::String& out) const override;
    void writeOperands(CompiledScriptWriter& writer) const override;
    char letter() const override { return 'E'; }

    jsOpcode* getCallee() const { return callee; }
    jsOpList* getArguments() const { return arguments; }
    bool isConstruct() const { return construct; }

private:
    // Step 1: the callee into found when a slot holds it as an object, else
    // its value into result; its holder into holder.
    Status findCallee(jsRunner& runner, Variant& result, ObjectRef& holder, Object*& found);
    Status invoke(jsRunner& runner, Object* function, Object* holder, Variant& result);
    Status callScript(jsRunner& runner, jsFunction& function, Object* thisObject, Variant& result);
    Status constructScript(jsRunner& runner, jsFunction& function, Variant& result);
    Status notCallable(jsRunner& runner, Variant& result);

    jsOpcode* callee;
    jsOpVariable* calleeReference;      // callee seen as a reference, or null
    Operand local;                      // callee as a local read in its slot
    jsOpName* name = nullptr;           // callee as a free name, or null
    jsOpList* arguments;
    bool construct;
    bool ownName = false;               // callee as a plain name
    bool onText = false;                // textBase is read in place
    Operand textBase;                   // text.name(...): the local or constant text
};

}  // namespace LxScript
