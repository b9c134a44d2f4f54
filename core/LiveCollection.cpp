// Collections: the "length" member, items served by a providing component or
// by listeners, and LiveArray's own items and text.
#include "core/ErrorCodes.h"
#include "core/LiveCollection.h"

#include <new>

namespace LxCore {

namespace {

constexpr u32 kMaxPrintedItems = 1000;

}  // namespace

LiveCollection::LiveCollection(const char* name, i32 id, bool isReadOnly)
    : LiveObject(name, !isReadOnly), lengthId(id ? id : nextSerial()), readOnly(isReadOnly) {}

void* LiveCollection::getInterface(u32 code) {
    return code == kCollectionInterface ? this : LiveObject::getInterface(code);
}

const void* LiveCollection::getInterface(u32 code) const {
    return const_cast<LiveCollection*>(this)->getInterface(code);
}

const String& LiveCollection::getClassName() {
    if (className.isEmpty())
        className = "Collection";
    return className;
}

i32 LiveCollection::findProperty(const String& name, i32& id, u32& kind, u32 flags) {
    if (!usable()) {
        id = 0;
        kind = kKindNone;
        return Err::kInvalidObject;
    }
    if (sameName(name, "length", flags & kCaseBlindClient)) {
        id = lengthId;
        kind = lengthKind();
        return 0;
    }
    return LiveObject::findProperty(name, id, kind, flags);
}

i32 LiveCollection::getPropertyName(i32 id, String& name, u32 flags) {
    if (!usable()) {
        name.clear();
        return Err::kInvalidObject;
    }
    if (id == lengthId) {
        name = flags == kCaseBlindClient ? "Length" : "length";
        return 0;
    }
    return LiveObject::getPropertyName(id, name, kScriptClient);
}

u32 LiveCollection::getPropertyKind(i32 id) {
    if (!usable())
        return kKindNone;
    return id == lengthId ? lengthKind() : LiveObject::getPropertyKind(id);
}

i32 LiveCollection::getPropertyIDs(SimpleArray& ids, u32 flags) {
    i32 status = LiveObject::getPropertyIDs(ids, flags);
    if (status == 0 && flags & (readOnly ? kListReadOnly : kListReadWrite)) {
        try {
            ids.add(lengthId);
        } catch (const std::bad_alloc&) {
            return Err::kOutOfMemory;
        }
    }
    return status;
}

i32 LiveCollection::get(i32 id, Variant& result, Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    if (id != lengthId)
        return LiveObject::get(id, result, error);
    u32 length;
    i32 status = getLength(length);
    if (status == 0)
        result.setUInt(length);
    return setPropertyError(status, id, error);
}

i32 LiveCollection::put(i32 id, const Variant& value, Error* error) {
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    if (id != lengthId)
        return LiveObject::put(id, value, error);
    return setPropertyError(setLength(u32(value.toInt())), id, error);
}

// The last attached component that provides items, held for the caller.
LiveComponent* LiveCollection::holdItemProvider() {
    if (!data)
        return nullptr;
    const TSimpleArray<LiveComponent> components = data->components;
    for (i32 i = components.getCount() - 1; i >= 0; i--) {
        LiveComponent* component = components.get(i);
        LockableGuard guard(*component);
        if (component->providesItems()) {
            component->addRef();
            return component;
        }
    }
    return nullptr;
}

// Sends an item request when someone listens for it: -1 when nobody
// answered, else the listener's status (the answer copied on 0).
i32 LiveCollection::itemRequest(u32 code, u32 index, const Variant* value, Variant* answer) {
    if (!hasListeners(code))
        return -1;
    LiveMessage ask(*this, code, i32(index), nullptr);
    if (value)
        *ask.getData() = *value;
    if (!send(ask))
        return -1;
    if (ask.status == 0 && answer)
        *answer = *ask.getData();
    return ask.status;
}

// Each runs the provider's operation when there is a provider, held for the
// call, and the listeners' answer otherwise.
template <class Provided, class Requested>
static i32 serveItem(LiveComponent* provider, Provided provided, Requested requested) {
    if (!provider)
        return requested();
    RefcountablePtr held(provider);
    return provided(*provider);
}

i32 LiveCollection::getLength(u32& length) {
    length = 0;
    if (!usable())
        return Err::kInvalidObject;
    return statusOf([&] {
        return serveItem(
            holdItemProvider(), [&](LiveComponent& c) { return c.getLength(*this, length); },
            [&] {
                Variant answer;
                i32 status = itemRequest(kMsgGetLength, 0, nullptr, &answer);
                if (status == 0)
                    length = u32(answer.toInt());
                return status < 0 ? 0 : status;
            });
    });
}

// A change of the items: refused on a read-only collection; one that
// succeeds writes the collection back into its container.
template <class Provided>
i32 LiveCollection::changeItems(u32 code, u32 index, const Variant* value, i32 unanswered,
                                Provided provided) {
    if (!usable())
        return Err::kInvalidObject;
    if (readOnly)
        return Err::kReadOnly;
    return statusOf([&] {
        i32 status = serveItem(holdItemProvider(), provided, [&] {
            i32 answered = itemRequest(code, index, value, nullptr);
            return answered < 0 ? unanswered : answered;
        });
        return status != 0 ? status : updateContainer(nullptr);
    });
}

i32 LiveCollection::setLength(u32 length) {
    return changeItems(kMsgSetLength, length, nullptr, 0,
                       [&](LiveComponent& c) { return c.setLength(*this, length); });
}

i32 LiveCollection::getItem(u32 index, Variant& result, Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, i32(index), error, true);
    i32 status = statusOf([&] {
        return serveItem(
            holdItemProvider(),
            [&](LiveComponent& c) { return c.getItem(*this, index, result, nullptr); },
            [&] {
                i32 answered = itemRequest(kMsgGetItem, index, nullptr, &result);
                return answered < 0 ? Err::kOutOfRange : answered;
            });
    });
    if (status == Err::kOutOfMemory || status == Err::kUncaughtException)
        result.clear();
    return setPropertyError(status, i32(index), error, true);
}

i32 LiveCollection::putItem(u32 index, const Variant& value, Error* error) {
    i32 status = changeItems(kMsgPutItem, index, &value, 41, [&](LiveComponent& c) {
        return c.putItem(*this, index, value, nullptr);
    });
    return setPropertyError(status, i32(index), error, true);
}

i32 LiveCollection::removeItem(u32 index) {
    return changeItems(kMsgRemoveItem, index, nullptr, 41,
                       [&](LiveComponent& c) { return c.removeItem(*this, index); });
}

// ---------------------------------------------------------------------------
// LiveArray

LiveArray::LiveArray(const Array& initial, const char* name, i32 id, bool isReadOnly)
    : LiveCollection(name, id, isReadOnly), items(initial) {}

void* LiveArray::getInterface(u32 code) {
    if (code == kArrayItemsInterface)
        return &items;
    if (code == kArrayObjectInterface)
        return this;
    return LiveCollection::getInterface(code);
}

const void* LiveArray::getInterface(u32 code) const {
    return const_cast<LiveArray*>(this)->getInterface(code);
}

i32 LiveArray::getLength(u32& length) {
    length = items.length();
    return 0;
}

i32 LiveArray::setLength(u32 length) {
    if (!usable())
        return Err::kInvalidObject;
    try {
        items.setLength(length);
    } catch (const std::bad_alloc&) {
        return Err::kOutOfMemory;
    }
    updateContainer(nullptr);
    return 0;
}

i32 LiveArray::getItem(u32 index, Variant& result, Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, i32(index), error, true);
    if (const Variant* item = items.get(index))
        result = *item;
    return 0;
}

// Indexes stop one below 2^32 - 1, so that the length fits 32 bits.
i32 LiveArray::putItem(u32 index, const Variant& value, Error* error) {
    if (!usable())
        return setPropertyError(Err::kInvalidObject, i32(index), error, true);
    if (index > Array::kMaxIndex)
        return setPropertyError(Err::kOutOfRange, i32(index), error, true);
    try {
        items.getOrCreate(index) = value;
    } catch (const std::bad_alloc&) {
        return setPropertyError(Err::kOutOfMemory, i32(index), error, true);
    }
    updateContainer(nullptr);
    return 0;
}

void LiveArray::reset() {
    LiveObject::reset();
    items.setLength(0);
    updateContainer(nullptr);
}

void LiveArray::toString(String& text) {
    try {
        i32 id;
        u32 kind;
        if (findProperty(String("toString"), id, kind, kScriptClient) == 0 &&
            kind == kKindMethod) {
            ObjectBusy busy(*this, ObjectBusy::kConverting);
            Variant result;
            if (busy.entered() && callMethod(id, result) == 0) {
                text = *Variant::asString(result);
                return;
            }
        }
        text.clear();
        if (!isValid()) {
            text = "[Invalid Object]";
            return;
        }
        // An array already being printed, or nested too deep, shows as an object.
        ObjectBusy printing(*this, ObjectBusy::kPrinting);
        if (!printing.entered()) {
            text.sprintf("[object %ls]", getClassName().chars());
            return;
        }
        appendItemTexts(text);
    } catch (...) {
        text.clear();
    }
}

void LiveArray::appendItemTexts(String& text) {
    u32 length;
    if (getLength(length) != 0) {
        text += "[error]";
        return;
    }
    if (length > kMaxPrintedItems) {
        text += "[too many elements]";
        return;
    }
    for (u32 i = 0; i < length; i++) {
        if (i > 0)
            text += ',';
        Variant item;
        if (getItem(i, item, nullptr) != 0) {
            text = "[error]";
            return;
        }
        if (item.getLiveObject() == this && item.getType() == Variant::kLiveObject) {
            String self;
            self.sprintf("[object %ls]", getClassName().chars());
            text += self;
        } else if (item.getType() != Variant::kUndefined) {
            text += *Variant::asString(item);
        }
    }
}

}  // namespace LxCore
