// Script objects for core tests: plain records behind script-object hooks
// installed for the life of a FakeScriptObjects.
#pragma once
#include <functional>

#include "core/ScriptObjectHooks.h"
#include "core/String.h"
#include "core/Variant.h"

namespace LxCore {

struct FakeObject : ScriptObject {
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

    ScriptObject& handle() { return *this; }
    static FakeObject& of(ScriptObject& object) { return static_cast<FakeObject&>(object); }
};

class FakeScriptObjects final : public ScriptObjectHooks {
public:
    FakeScriptObjects() { setCurrent(this); }
    ~FakeScriptObjects() override { setCurrent(nullptr); }
    FakeScriptObjects(const FakeScriptObjects&) = delete;
    FakeScriptObjects& operator=(const FakeScriptObjects&) = delete;

    void finalize(ScriptObject& o) override {
        FakeObject& f = FakeObject::of(o);
        ++f.finalized;
        if (f.onFinalize) f.onFinalize();
    }
    u32 getObjectID(ScriptObject& o) override { return FakeObject::of(o).id; }
    u32 getClassID(ScriptObject& o) override { return FakeObject::of(o).classID; }
    bool isValid(ScriptObject& o) override { return FakeObject::of(o).valid; }
    void getClassName(ScriptObject& o, String& out) override { out = FakeObject::of(o).className; }
    bool getDefaultValue(ScriptObject& o, Variant& out, i32) override {
        out = FakeObject::of(o).defaultValue;
        return out.getType() != Variant::kUndefined;
    }
    const Variant* getInternalValue(ScriptObject& o) override { return &FakeObject::of(o).internalValue; }
    LiveObject* getLiveObject(ScriptObject&) override { return nullptr; }
    Root* getNativeData(ScriptObject& o) override { return FakeObject::of(o).nativeData; }
    void setNativeData(ScriptObject& o, Root* data) override { FakeObject::of(o).nativeData = data; }
    const FileSpec* getFileSpec(ScriptObject& o) override { return FakeObject::of(o).fileSpec; }
};

}  // namespace LxCore
