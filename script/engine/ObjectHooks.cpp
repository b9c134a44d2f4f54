// The hooks through which the core's Variant holds script objects.
#include "core/ScriptObjectHooks.h"
#include "script/engine/Object.h"

namespace LxScript {

namespace {

class ObjectHooks final : public LxCore::ScriptObjectHooks {
public:
    // The core has dropped the count to 0.
    void finalize(LxCore::ScriptObject& o) override { of(o).release(); }

    u32 getObjectID(LxCore::ScriptObject& o) override { return u32(of(o).getObjectID()); }

    u32 getClassID(LxCore::ScriptObject& o) override { return u32(of(o).getClassID()); }

    bool isValid(LxCore::ScriptObject& o) override { return of(o).isValid(); }

    void getClassName(LxCore::ScriptObject& o, LxCore::String& out) override { of(o).getClassName(out); }

    bool getDefaultValue(LxCore::ScriptObject& o, Variant& out, i32 hint) override {
        return of(o).getDefaultValue(out, u8(hint));
    }

    const Variant* getInternalValue(LxCore::ScriptObject& o) override {
        ObjectData* data = of(o).getData();
        return data ? &data->privateValue : nullptr;
    }

    LxCore::LiveObject* getLiveObject(LxCore::ScriptObject& o) override { return of(o).getLiveObject(); }

    LxCore::Root* getNativeData(LxCore::ScriptObject& o) override { return of(o).getNativeData(); }

    void setNativeData(LxCore::ScriptObject& o, LxCore::Root* data) override { of(o).setNativeData(data); }

    // File and Folder objects come with the File class.
    const LxCore::FileSpec* getFileSpec(LxCore::ScriptObject&) override { return nullptr; }

private:
    // Every script object the core holds is one of the engine's.
    static Object& of(LxCore::ScriptObject& o) { return static_cast<Object&>(o); }
};

ObjectHooks hooks;

}  // namespace

void installObjectHooks(bool start) { LxCore::ScriptObjectHooks::setCurrent(start ? &hooks : nullptr); }

}  // namespace LxScript
