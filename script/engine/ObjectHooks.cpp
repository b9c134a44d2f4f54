// The table through which the core's Variant holds script objects.
#include "core/ScriptObjectHooks.h"
#include "script/engine/Object.h"

namespace LxScript {

namespace {

LxCore::ScriptObjectCounts& counts(Object& o) { return o.getCounts(); }

// The core has dropped the count to 0.
void finalize(Object& o) { o.release(); }

u32 objectID(Object& o) { return u32(o.getObjectID()); }

u32 classID(Object& o) { return u32(o.getClassID()); }

bool valid(Object& o) { return o.isValid(); }

void className(Object& o, LxCore::String& out) { o.getClassName(out); }

bool defaultValue(Object& o, Variant& out, i32 hint) { return o.getDefaultValue(out, u8(hint)); }

const Variant* internalValue(Object& o) {
    ObjectData* data = o.getData();
    return data ? &data->privateValue : nullptr;
}

LxCore::LiveObject* liveObject(Object& o) { return o.getLiveObject(); }

LxCore::Root* nativeData(Object& o) { return o.getNativeData(); }

void setNativeData(Object& o, LxCore::Root* data) { o.setNativeData(data); }

// File and Folder objects come with the File class.
const LxCore::FileSpec* fileSpec(Object&) { return nullptr; }

constexpr LxCore::ScriptObjectHooks kHooks = {
    counts,        finalize,   objectID,     classID,       valid,    className, defaultValue,
    internalValue, liveObject, nativeData,   setNativeData, fileSpec,  Object::countsOffset(),
};

}  // namespace

void installObjectHooks(bool start) { LxCore::setScriptObjectHooks(start ? &kHooks : nullptr); }

}  // namespace LxScript
