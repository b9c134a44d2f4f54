// The concrete engine: what needs the parser, the code generator and the
// concrete object classes (compiling, function objects, workspaces, arrays
// and regular expressions), and the process-wide class objects of the
// built-in classes that every engine registers.
#pragma once
#include "script/engine/RealEngine.h"
#include "script/engine/Workspace.h"

namespace LxScript {

class jsOpFunction;
class ScopeNode;

class jsEngine : public RealEngine {
public:
    // Registers the built-in class objects; the Global class is the default
    // dispatcher.
    jsEngine();
    ~jsEngine() override;

    void newArray(const LxCore::Array& elements, Variant& result) override;
    Workspace* newWorkspace() override;
    // functionData is the Script to run; its function runs in the global
    // scope when global is set or no frame runs, else in the current
    // frame's.
    void newFunctionObject(Variant& result, void* functionData, bool global) override;
    // Source text, or with a parameter list the body of
    // "function anonymous(parameters)"; null on an error, which the engine
    // holds.
    Script* compileSource(const LxCore::String& source, const LxCore::String* name,
                          const LxCore::String* parameters) override;
    LxCore::RegExp* newRegExp(const Variant& value) override;

protected:
    // The library's interfaces: the debugger service ('debg') and the
    // live-object interface ('live').
    API* createAPI(i32 code) override;

public:

    // Library start (true) and stop (false): the built-in class objects,
    // made in their order and deleted in the same order; the engine
    // factory. A class object that cannot be made stops the start.
    static void setUpClasses(bool start);
    static Engine* make();

private:
    ScopeNode* parseAndGenerate(const LxCore::String& text, const LxCore::String& scriptName, bool functionBody,
                                jsOpFunction*& root);
    Script* adoptRoot(jsOpFunction* root);
};

}  // namespace LxScript
