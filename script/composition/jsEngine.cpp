// The concrete engine and the built-in class objects.
#include "script/composition/jsEngine.h"

#include <memory>
#include <new>
#include <stdexcept>

#include "core/ErrorCodes.h"
#include "core/RegExp.h"
#include "script/engine/CodeGen.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/Script.h"
#include "script/engine/TVContext.h"
#include "script/engine/Workspace.h"
#include "script/engine/ops/Literals.h"
#include "script/frontend/Parser.h"
#include "script/library/ArrayClass.h"
#include "script/library/BooleanClass.h"
#include "script/library/DateClass.h"
#include "script/library/ErrorClass.h"
#include "script/library/FunctionClass.h"
#include "script/library/GlobalClass.h"
#include "script/library/GlobalDialogs.h"
#include "script/library/MathClass.h"
#include "script/library/NumberClass.h"
#include "script/library/ObjectClass.h"
#include "script/library/RegExpClass.h"
#include "script/library/StringClass.h"
#include "script/library/debug/DebugAPI.h"
#include "script/library/dollar/DollarClass.h"
#include "script/library/reflection/Reflection.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// Anonymous scripts are numbered in the low 29 bits.
constexpr u32 kAnonymousMask = 0x1FFFFFFF;

u32 anonymousScripts = 0;

struct BuiltInClass {
    const char* className;
    Dispatcher* (*make)(const char* className);
    bool isDefault;             // the Global class serves the global object
    Dispatcher* object;
};

// In the order they are made; the engines register them in registerOrder.
BuiltInClass builtIns[] = {
    {"Object", newObjectClass, false, nullptr},
    {"Array", newArrayClass, false, nullptr},
    {"Math", newMathClass, false, nullptr},
    {"Date", newDateClass, false, nullptr},
    {"Function", newFunctionClass, false, nullptr},
    {"global", newGlobalClass, true, nullptr},
    {"String", newStringClass, false, nullptr},
    {"Number", newNumberClass, false, nullptr},
    {"Boolean", newBooleanClass, false, nullptr},
    {"RegExp", newRegExpClass, false, nullptr},
    {"Error", newErrorClass, false, nullptr},
    {"ReflectionInfo", newReflectionInfoClass, false, nullptr},
    {"Reflection", newReflectionClass, false, nullptr},
    {"Dictionary", newDictionaryClass, false, nullptr},
};

// Object, Function, Global, Array, Boolean, Number, String, Math, Date,
// Error, ReflectionInfo, Reflection, Dictionary, RegExp.
constexpr i32 kRegisterOrder[] = {0, 4, 5, 1, 8, 7, 6, 2, 3, 10, 11, 12, 13, 9};

// An error of the front end or generator, placed at its line in the script.
void reportCompileError(RealEngine& engine, i32 code, const String& text, i32 line, const String& source,
                        const String& name) {
    LxCore::Error list;
    list.push(code, text, nullptr, true);
    list.setSource(source, line, 0, 0, 0);
    list.setFileName(name);
    engine.setError(list);
}

}  // namespace

jsEngine::jsEngine() {
    for (i32 index : kRegisterOrder)
        registerDispatcher(builtIns[index].object, builtIns[index].isDefault);
    registerDispatcher(dollarDispatcher(), false);
}

API* jsEngine::createAPI(i32 code) {
    if (code == API::kDebug)
        return new DebugAPI(*this);
    if (code == API::kLiveObject)
        return new LiveObjectAPI(*this);
    return RealEngine::createAPI(code);
}

jsEngine::~jsEngine() = default;

Engine* jsEngine::make() { return new jsEngine; }

void jsEngine::setUpClasses(bool start) {
    if (start) {
        try {
            for (BuiltInClass& c : builtIns)
                c.object = c.make(c.className);
        } catch (...) {
            setUpClasses(false);
            throw;
        }
        Engine::setFactory(make);
        return;
    }
    Engine::setFactory(nullptr);
    for (BuiltInClass& c : builtIns) {
        delete c.object;
        c.object = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Factories

Workspace* jsEngine::newWorkspace() { return new Workspace(getObjects()); }

void jsEngine::newFunctionObject(Variant& result, void* functionData, bool global) {
    auto* script = static_cast<Script*>(functionData);
    const bool inGlobal = global || !getCurrentFrame();
    Object* scope = inGlobal ? getGlobalObject() : getCurrentFrame()->getScope();
    ObjectRef function = ObjectRef::adopt(new jsFunction(*this, script, script->getRoot(), scope, inGlobal));
    result.setObject(function.get());
}

void jsEngine::newArray(const LxCore::Array& elements, Variant& result) {
    EntryState entry;
    enterRun(entry, 0);
    try {
        newPlainObject(result, Sym::kArray);
        if (Object* array = objectOf(result))
            fillArrayElements(*this, *array, elements);
    } catch (...) {
        mapException();
    }
    leaveRun(entry);
}

LxCore::RegExp* jsEngine::newRegExp(const Variant& value) {
    return const_cast<LxCore::RegExp*>(patternOf(value));
}

// ---------------------------------------------------------------------------
// Compiling

Script* jsEngine::compileSource(const String& source, const String* name, const String* parameters) {
    TVContext& context = TVContext::get();
    const uintptr_t savedLimit = context.getStackLimit();
    EntryState entry;
    ScopeNode* tree = nullptr;
    jsOpFunction* root = nullptr;
    try {
        enterRun(entry, 0x7FFFFFFF);
        String scriptName;
        if (name) {
            scriptName = *name;
        } else {
            const u32 number = (++anonymousScripts) & kAnonymousMask;
            anonymousScripts = number;
            scriptName.sprintf("%ld", long(number));
        }
        String text;
        if (parameters) {
            text.sprintf("function anonymous(%ls) {\n", parameters->chars());
            if (!source.isEmpty()) {
                text += '\t';
                text += source;
                text += '\n';
            }
            text += "}\n";
        } else {
            text = source;
        }
        if (context.getStackLimit() == 0)
            setStackLimit();
        const GeneralBuild::Scope general(takesGeneralPaths());
        BinaryScriptReader reader(text);
        if (!parameters && reader.isBinaryScript()) {
            // Compiled text is read, not parsed; its errors have no line.
            if (const i32 code = reader.read(root, scriptName))
                reportCompileError(*this, code, String(), -1, String(), scriptName);
        } else {
            tree = parseAndGenerate(text, scriptName, parameters != nullptr, root);
        }
    } catch (...) {
        delete root;
        root = nullptr;
        mapException();
    }
    delete tree;
    context.setStackLimit(savedLimit);
    leaveRun(entry);
    return root ? adoptRoot(root) : nullptr;
}

// The parse tree is handed back for the caller to free.
ScopeNode* jsEngine::parseAndGenerate(const String& text, const String& scriptName, bool functionBody,
                                      jsOpFunction*& root) {
    LxCore::Error errors;
    jsParser parser(this, DataPool::get().add(scriptName.chars()), text, errors);
    ScopeNode* tree = parser.parse();
    if (errors.getCode() != 0) {
        setError(errors);
        return tree;
    }
    ScopeNode* unit = tree;
    if (functionBody) {
        // The text must stay one function: a "}" in the parameters
        // or the body would end it early and run the rest.
        ListNode* body = tree && tree->body ? tree->body->toListNode() : nullptr;
        Node* first = body && body->length() == 1 ? body->getNode(0) : nullptr;
        unit = first ? first->toScopeNode() : nullptr;
        if (!unit)
            reportCompileError(*this, Err::kSyntaxError, String(), 0, text, scriptName);
    }
    if (unit) {
        jsCodeGen generator(*unit);
        root = generator.generate();
        if (!root)
            reportCompileError(*this, generator.getError() ? generator.getError() : Err::kOutOfMemory,
                               generator.getErrorText(), generator.getErrorLine(), text, scriptName);
    }
    return tree;
}

Script* jsEngine::adoptRoot(jsOpFunction* root) {
    try {
        return new jsScript(root);
    } catch (...) {
        delete root;
        mapException();
        return nullptr;
    }
}

}  // namespace LxScript
