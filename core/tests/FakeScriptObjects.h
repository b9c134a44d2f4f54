// Script objects for core tests: plain records behind the script-object
// hook table, installed for the life of a FakeScriptObjects.
#pragma once
#include <functional>

#include "core/ScriptObjectHooks.h"
#include "core/String.h"
#include "core/Variant.h"

namespace LxCore {

struct FakeObject {
    ScriptObjectCounts counts{1, 0};  // the maker holds the first reference
    u32 id = 0;
    u32 classID = 0x20000090;
    String className = "Object";
    bool valid = true;
    Root* nativeData = nullptr;       // not owned: tests keep what they attach
    const FileSpec* fileSpec = nullptr;
    Variant internalValue;
    Variant defaultValue;             // undefined: the object gives none
    int finalized = 0;
    std::function<void()> onFinalize;

    LxScript::Object& handle() { return *reinterpret_cast<LxScript::Object*>(this); }
    static FakeObject& of(LxScript::Object& object) { return reinterpret_cast<FakeObject&>(object); }
};

class FakeScriptObjects {
public:
    FakeScriptObjects() { setScriptObjectHooks(&table); }
    ~FakeScriptObjects() { setScriptObjectHooks(nullptr); }
    FakeScriptObjects(const FakeScriptObjects&) = delete;
    FakeScriptObjects& operator=(const FakeScriptObjects&) = delete;

private:
    using Object = LxScript::Object;
    static FakeObject& fake(Object& o) { return FakeObject::of(o); }

    const ScriptObjectHooks table = {
        [](Object& o) -> ScriptObjectCounts& { return fake(o).counts; },
        [](Object& o) {
            FakeObject& f = fake(o);
            ++f.finalized;
            if (f.onFinalize) f.onFinalize();
        },
        [](Object& o) { return fake(o).id; },
        [](Object& o) { return fake(o).classID; },
        [](Object& o) { return fake(o).valid; },
        [](Object& o, String& out) { out = fake(o).className; },
        [](Object& o, Variant& out, i32) {
            out = fake(o).defaultValue;
            return out.getType() != Variant::kUndefined;
        },
        [](Object& o) -> const Variant* { return &fake(o).internalValue; },
        [](Object&) -> LiveObject* { return nullptr; },
        [](Object& o) { return fake(o).nativeData; },
        [](Object& o, Root* data) { fake(o).nativeData = data; },
        [](Object& o) { return fake(o).fileSpec; },
    };
};

}  // namespace LxCore
