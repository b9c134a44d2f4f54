// The engine's share of the object model: the ring and its teardown, the
// class table, the reference table, the native maps and the object listings.
#include <unordered_map>

#include "core/LiveObject.h"
#include "script/engine/Function.h"
#include "script/engine/Object.h"
#include "script/engine/Property.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::String;

namespace {

// Pointer keys: the low bits of heap addresses carry nothing.
i64 pointerKey(const void* p) { return i64(uintptr_t(p) >> 4); }

String cut(const String& text, i32 width) {
    return text.length() <= width ? text : text.substr(0, width);
}

}  // namespace

ObjectSpace::ObjectSpace(Engine& engine) : engine(engine), rootTable(SlotTable::newRoot(*this)) {}

ObjectSpace::~ObjectSpace() {
    destroyAll();
    clearReferences();
    rootTable->release();
}

void ObjectSpace::clearReferences() {
    references.forEach(
        [](i64, void** value, void*) {
            delete static_cast<LxCore::IntHashTable*>(*value);
            return false;
        },
        nullptr);
}

void ObjectSpace::invalidateClassObjects(DataPoolId classId) {
    CollectingScope collecting(*this);
    ReleaseBatch batch(*this);
    Object* o = ringHead;
    for (u32 n = objectCount; n > 0 && o; n--) {
        Object* next = o->ringNext;
        o->invalidateClass(classId);
        o = next;
    }
}

// The kept prototypes are about to go with everything else: forget them
// without counting.
void ObjectSpace::dropPrototypes() {
    objectPrototype = functionPrototype = errorPrototype = globalObject = nullptr;
}

void ObjectSpace::destroyAll() {
    if (!ringHead)
        return;
    dropPrototypes();
    CollectingScope collecting(*this);
    {
        ReleaseBatch batch(*this);
        // Clearing makes no object go (collecting): the ring stays as it is.
        Object* o = ringHead;
        for (u32 n = objectCount; n > 0; n--) {
            Object* next = o->ringNext;
            o->clear();
            o = next;
        }
    }
    while (ringHead)
        delete ringHead;
}

Dispatcher* ObjectSpace::getDispatcherByID(DataPoolId classId) const {
    return static_cast<Dispatcher*>(classTable.get(classId));
}

void ObjectSpace::setDispatcher(DataPoolId classId, Dispatcher* dispatcher) {
    if (!classTable.get(classId))
        classOrder.push_back(classId);
    classTable.put(classId, dispatcher);
}

Object* ObjectSpace::findRegistered(DataPoolId classId, i32 id) const {
    auto* table = static_cast<LxCore::IntHashTable*>(references.get(classId));
    return table ? static_cast<Object*>(table->get(id)) : nullptr;
}

Object* ObjectSpace::findObjectOfLiveObject(const LxCore::LiveObject* live) const {
    return static_cast<Object*>(liveObjects.get(pointerKey(live)));
}

Object* ObjectSpace::findObjectOfNativeData(const LxCore::Root* native) const {
    return static_cast<Object*>(nativeDataMap.get(pointerKey(native)));
}

Object* ObjectSpace::resolveObject(const Variant& value) { return objectOf(value); }

void ObjectSpace::newInstance(Variant& result, DataPoolId classId, Object* constructor) {
    ObjectRef made = ObjectRef::adopt(Object::make(*this, classId));
    if (Function* f = constructor ? constructor->asFunction() : nullptr)
        if (Object* proto = f->getPrototypeObject())
            made->setPrototype(proto);
    result.setObject(made.get());
}

void ObjectSpace::callMethod(Object& self, Object& method, const LxCore::BasicArray& args,
                             Variant& result) {
    ObjectRef held(&method);
    method.call(&self, args, result);
}

bool ObjectSpace::checkStack() const {
    TVContext* context = TVContext::find();
    return !context || context->checkStack();
}

// ---------------------------------------------------------------------------
// Listings

String Object::describe() const {
    String cls;
    getClassName(cls);
    String name = nameId ? DataPool::get().getSymbol(nameId) : cls;
    String tag;
    switch (objectId) {
        case 0:
            break;
        case kWorkspaceId:
            tag = "[workspace]";
            break;
        case kArgumentsId:
            tag = "[arguments]";
            break;
        case kPrototypeId:
            tag = "[proto]";
            break;
        case kGlobalObjectId:
            tag = "[global]";
            break;
        default:
            tag.sprintf("[%ld]", objectId);
            break;
    }
    String line;
    line.sprintf("%08lx %c %4d %4d %-10ls %-16ls %ls", u32(uintptr_t(this)), getLiveObject() ? 'L' : ' ',
                 i32(counts.references), i32(getInternalCount()), cut(cls, 10).chars(),
                 cut(name, 16).chars(), tag.chars());
    return line;
}

// Who holds each object, built by one scan of the ring: referrers in ring
// order, their slots in scan order.
struct ReferrerIndex {
    struct Holder {
        const Object* referrer;
        std::vector<DataPoolId> slots;
    };
    std::unordered_map<const Object*, std::vector<Holder>> byTarget;

    explicit ReferrerIndex(const Object* head, u32 count) {
        const Object* o = head;
        for (u32 n = count; n > 0 && o; n--, o = o->ringNextObject()) {
            o->forEachCell([&](DataPoolId symbol, const SlotCell& c) {
                const Object* target = c.isSlot() ? (c.slot->isRemoved() ? nullptr : objectOf(c.slot->cachedValue()))
                                                  : c.heldObject();
                if (!target)
                    return;
                std::vector<Holder>& holders = byTarget[target];
                if (holders.empty() || holders.back().referrer != o)
                    holders.push_back(Holder{o, {}});
                holders.back().slots.push_back(symbol);
            });
        }
    }
};

// The block that follows an object in a listing when anything refers to it.
void ObjectSpace::appendReferrers(String& out, const Object& target,
                                  const ReferrerIndex& index) const {
    auto found = index.byTarget.find(&target);
    if (found == index.byTarget.end())
        return;
    out += " referenced by:\n";
    DataPool& pool = DataPool::get();
    for (const ReferrerIndex::Holder& h : found->second) {
        out += h.referrer->describe();
        for (DataPoolId s : h.slots) {
            out += ' ';
            out += pool.getSymbol(s);
        }
        out += '\n';
    }
    out += '\n';
}

String ObjectSpace::listObjects(const String& classFilter) {
    String out("\nAddress  L Refs Prop Class      Name\n");
    ReferrerIndex index(ringHead, objectCount);
    Object* o = ringHead;
    for (u32 n = objectCount; n > 0 && o; n--, o = o->ringNext) {
        String cls;
        o->getClassName(cls);
        if (!classFilter.isEmpty() && !(cls == classFilter))
            continue;
        out += o->describe();
        out += '\n';
        appendReferrers(out, *o, index);
    }
    return out;
}

String ObjectSpace::listLiveObjects(const String& classFilter) {
    String out("\nAddress              Class\n");
    ReferrerIndex index(ringHead, objectCount);
    Object* o = ringHead;
    for (u32 n = objectCount; n > 0 && o; n--, o = o->ringNext) {
        LxCore::LiveObject* live = o->getLiveObject();
        if (!live)
            continue;
        const String cls = live->getClassName();
        if (!classFilter.isEmpty() && !(cls == classFilter))
            continue;
        String line;
        line.sprintf("%08lx             %ls\n", u32(uintptr_t(live)), cls.chars());
        out += line;
        appendReferrers(out, *o, index);
    }
    return out;
}

String ObjectSpace::summarizeObjects(const String& classFilter) {
    String out;
    Object* o = ringHead;
    if (!classFilter.isEmpty()) {
        i32 count = 0;
        for (u32 n = objectCount; n > 0 && o; n--, o = o->ringNext) {
            String cls;
            o->getClassName(cls);
            if (cls == classFilter)
                count++;
        }
        out.sprintf("%ld", count);
        return out;
    }
    // Names in the order they are first met along the ring.
    std::vector<std::pair<String, i32>> counts;
    for (u32 n = objectCount; n > 0 && o; n--, o = o->ringNext) {
        String cls;
        o->getClassName(cls);
        if (o->getClassID() == Sym::kObject && o->getObjectID() == kWorkspaceId)
            cls = "(workspace)";
        else if (o->getClassID() == Sym::kObject && o->getObjectID() == kArgumentsId)
            cls = "(arguments)";
        auto at = std::find_if(counts.begin(), counts.end(),
                               [&](const std::pair<String, i32>& e) { return e.first == cls; });
        if (at == counts.end())
            counts.emplace_back(cls, 1);
        else
            at->second++;
    }
    for (const auto& e : counts) {
        String line;
        line.sprintf("\n%5d %ls", e.second, e.first.chars());
        out += line;
    }
    return out;
}

}  // namespace LxScript
