// LiveObject: construction, the class name and the interface query. The
// member operations answer "Not implemented" until they are built.
#include "core/LiveObject.h"

namespace LxCore {

namespace {

constexpr i32 kNotImplemented = -36;

}  // namespace

LiveObject::LiveObject(const char* name, bool dynamic) : className(name) {
    if (dynamic)
        flags |= 1;
}

LiveObject::~LiveObject() = default;

void* LiveObject::getInterface(u32 code) {
    return code == kObjectInterface ? this : nullptr;
}

const void* LiveObject::getInterface(u32 code) const {
    return code == kObjectInterface ? this : nullptr;
}

const String& LiveObject::getClassName() {
    if (className.isEmpty())
        className = "Object";
    return className;
}

LiveProperty* LiveObject::createProperty(const String&, i32, u32) { return nullptr; }
i32 LiveObject::createObject(LiveObject*& out, const String&, u32) {
    out = nullptr;
    return kNotImplemented;
}
i32 LiveObject::clone(LiveObject*& out, bool) {
    out = nullptr;
    return kNotImplemented;
}
i32 LiveObject::initialize(const Array&, Error*) { return kNotImplemented; }
bool LiveObject::equals(const LiveObject&) const { return false; }
void LiveObject::setNativeData(Root*) {}
Root* LiveObject::getNativeData() const { return nullptr; }
i32 LiveObject::addComponent(LiveComponent&) { return kNotImplemented; }
i32 LiveObject::removeComponent(LiveComponent&) { return kNotImplemented; }
i32 LiveObject::findProperty(const String&, i32& id, u32& kind, u32) {
    id = 0;
    kind = kKindNone;
    return kNotImplemented;
}
i32 LiveObject::addProperty(const String&, i32*, u32) { return kNotImplemented; }
i32 LiveObject::addProperty(const String&, i32, u32) { return kNotImplemented; }
i32 LiveObject::getPropertyName(i32, String& name, u32) {
    name.clear();
    return kNotImplemented;
}
void LiveObject::removeProperties(bool) {}
bool LiveObject::hasOperators() { return false; }
i32 LiveObject::removeProperty(i32) { return kNotImplemented; }
void LiveObject::reset() {}
i32 LiveObject::getPropertyIDs(SimpleArray&, u32) { return kNotImplemented; }
u32 LiveObject::getPropertyKind(i32) { return kKindNone; }
ClassInfo* LiveObject::getClassInfo() { return nullptr; }
i32 LiveObject::get(i32, Variant& result, Error*) {
    result.clear();
    return kNotImplemented;
}
i32 LiveObject::put(i32, const Variant&, Error*) { return kNotImplemented; }
i32 LiveObject::call(i32, const Array&, Variant& result, Error*) {
    result.clear();
    return kNotImplemented;
}
i32 LiveObject::invoke(LiveObject&, i32, const Array&, Variant& result, Error*) {
    result.clear();
    return kNotImplemented;
}
void LiveObject::valueOf(Variant& result) { result.clear(); }
void LiveObject::toString(String& text) { text.clear(); }

}  // namespace LxCore
