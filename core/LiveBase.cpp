// LiveBase: error texts that name an object's member, and fresh member ids;
// LiveComponent: the defaults of a component that serves nothing itself.
#include "core/LiveBase.h"

#include <new>

#include "core/ErrorCodes.h"
#include "core/LiveObject.h"

namespace LxCore {

namespace {

i32 serial = kFirstSerialId;

// Runs a text-building step; when it fails the text is emptied.
template <class Build>
i32 buildText(String& text, Build build) {
    i32 status = statusOf([&] {
        build();
        return 0;
    });
    if (status != 0)
        text.clear();
    return status;
}

}  // namespace

void* LiveBase::getInterface(u32) { return nullptr; }

const void* LiveBase::getInterface(u32) const { return nullptr; }

i32 LiveBase::nextSerial() {
    i32 id = serial;
    serial = id >= kLastSerialId ? kFirstSerialId : id + 1;
    return id;
}

void LiveBase::setNextSerial(i32 id) {
    serial = id < kFirstSerialId || id > kLastSerialId ? kFirstSerialId : id;
}

i32 LiveBase::describeProperty(String& out, i32 id, bool isIndex) {
    return buildText(out, [&] {
        out.clear();
        auto* object = static_cast<LiveObject*>(getInterface(kObjectInterface));
        if (isIndex) {
            out.sprintf("[%lu]", unsigned(id));
        } else if (id == kSelfCallId) {
            out = object ? object->getClassName() : String("LiveObject");
            out += "()";
        } else if (const char* symbol = operatorText(id)) {
            out.sprintf("operator \"%s\"()", symbol);
        } else if (object && object->getPropertyName(id, out, kListMethods | kListReadOnly |
                                                                  kListReadWrite | kScriptClient) != 0) {
            const unit* name = object->getClassName().chars();
            if (id >= -9999 && id <= 9999) {
                out.sprintf("{LiveObject(\"%ls\").property(%ld)}", name, int(id));
            } else if ((u32(id) & 0xF0F0F0F0) < 0x20202020) {
                out.sprintf("{LiveObject(\"%ls\").property(0x%08lx)}", name, unsigned(id));
            } else {
                // Each byte as one unit, so that codes outside ASCII still print.
                u32 code = u32(id);
                out.sprintf(" {LiveObject(\"%ls\").property('%lc%lc%lc%lc')}", name,
                            int(code >> 24), int((code >> 16) & 0xFF), int((code >> 8) & 0xFF),
                            int(code & 0xFF));
            }
        }
    });
}

i32 LiveBase::formatError(String& text, i32 code, const String* argument) {
    return buildText(text, [&] {
        text.clear();
        errorTextForCode(code, text);
        text.replaceAll("%1", argument ? *argument : String());
        text.trim();
    });
}

// Without a description the text keeps its "%1".
i32 LiveBase::formatError(String& text, i32 code, i32 id, bool isIndex) {
    String description;
    if (describeProperty(description, id, isIndex) == 0)
        return formatError(text, code, &description);
    return buildText(text, [&] {
        text.clear();
        errorTextForCode(code, text);
        text.trim();
    });
}

i32 LiveBase::setPropertyError(i32 code, i32 id, Error* error, bool isIndex) {
    if (code == 0 || !error || !error->isEmpty())
        return code;
    String text;
    if (formatError(text, code, id, isIndex) == 0)
        error->push(code, text, nullptr, false);
    else
        error->push(code, String(), nullptr, true);
    return code;
}

// ---------------------------------------------------------------------------
// LiveComponent

i32 LiveComponent::findProperty(LiveObject&, const String& name, i32& id, u32& kind,
                                u32 flags) {
    if (!propertyManager || name.isEmpty()) {
        id = 0;
        kind = kKindNone;
        return Err::kUndefined;
    }
    LockableGuard guard(*propertyManager);
    return propertyManager->findProperty(name, id, kind, flags);
}

i32 LiveComponent::getPropertyName(LiveObject&, i32 id, String& name, u32 flags) {
    if (propertyManager)
        return propertyManager->getPropertyName(id, name, flags);
    name.clear();
    return Err::kUndefined;
}

u32 LiveComponent::getPropertyKind(LiveObject&, i32 id) {
    return propertyManager ? propertyManager->getPropertyKind(id) : kKindNone;
}

bool LiveComponent::hasOperators() { return propertyManager && propertyManager->hasOperators(); }

i32 LiveComponent::getPropertyIDs(LiveObject&, SimpleArray& ids, u32 flags) {
    return propertyManager ? propertyManager->getPropertyIDs(ids, flags) : 0;
}

PropServiceInfo* LiveComponent::getServiceInfo(LiveObject&, i32 id, u32 flags) {
    return propertyManager ? propertyManager->getServiceInfo(id, flags) : nullptr;
}

i32 LiveComponent::get(LiveObject& object, i32 id, Variant& result, Error* error) {
    result.clear();
    return object.setPropertyError(Err::kUndefined, id, error);
}

i32 LiveComponent::put(LiveObject& object, i32 id, const Variant&, Error* error) {
    return object.setPropertyError(Err::kUndefined, id, error);
}

i32 LiveComponent::call(LiveObject& object, i32 id, const Array&, Variant& result,
                        Error* error) {
    result.clear();
    return object.setPropertyError(Err::kUndefined, id, error);
}

i32 LiveComponent::getLength(LiveObject&, u32& length) {
    length = 0;
    return Err::kUndefined;
}

i32 LiveComponent::getItem(LiveObject& object, u32 index, Variant& result, Error* error) {
    result.clear();
    return object.setPropertyError(Err::kOutOfRange, i32(index), error, true);
}

i32 LiveComponent::putItem(LiveObject& object, u32 index, const Variant&, Error* error) {
    return object.setPropertyError(Err::kOutOfRange, i32(index), error, true);
}

}  // namespace LxCore
