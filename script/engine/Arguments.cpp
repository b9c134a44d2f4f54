// Argument arrays and the arguments object.
#include "script/engine/Arguments.h"

#include <new>

#include "script/engine/Property.h"
#include "script/engine/Workspace.h"

namespace LxScript {

TVVariantArray::TVVariantArray(u32 n) : count(n) {
    values = n <= kInline ? reinterpret_cast<Variant*>(room)
                          : static_cast<Variant*>(LxCore::Heap::alloc(u64(n) * sizeof(Variant)));
    for (u32 i = 0; i < n; i++)
        ::new (&values[i]) Variant;
}

TVVariantArray::~TVVariantArray() {
    for (u32 i = 0; i < count; i++)
        values[i].~Variant();
    if (values != reinterpret_cast<Variant*>(room))
        LxCore::Heap::free(values);
}

ArgumentObject::ArgumentObject(Workspace& w) : Object(w.getSpace()), workspace(&w) {
    objectId = kArgumentsId;
    w.addRef();
    w.addInternalRef();
}

ArgumentObject::~ArgumentObject() {
    if (!cleared)
        ArgumentObject::clear();
}

// "length" and "callee" first, then the indexes; own slots are not listed.
void ArgumentObject::getIDs(Object*, LxCore::SimpleArray& ids, u32 filter) {
    if ((filter & kListNoBuiltIn) || !(filter & (kListWritable | kListReadOnly)) || !workspace)
        return;
    ids.add(Sym::kLength);
    ids.add(Sym::kCallee);
    DataPool& pool = DataPool::get();
    for (u32 i = 0; i < workspace->getArgumentCount(); i++)
        ids.add(pool.add(i));
}

Variant* ArgumentObject::getLocal(u32 slot) { return workspace ? workspace->getSlot(i32(slot)) : nullptr; }

void ArgumentObject::setLocal(u32 slot, const Variant& value) {
    if (Variant* v = getLocal(slot))
        *v = value;
}

void ArgumentObject::clear() {
    if (cleared)
        return;
    ReleaseBatch batch(getSpace());
    Object::clear();
    if (Workspace* w = workspace) {
        workspace = nullptr;
        w->dropInternalRef();
        w->dropRef();
    }
}

void ArgumentObject::markReferences() {
    Object::markReferences();
    if (workspace)
        workspace->mark();
}

// Slots made on first lookup stay; an index at or past the argument count
// makes nothing (a write there makes an ordinary property).
Property* ArgumentObject::findOwnProperty(DataPoolId symbol, u32 flags) {
    Property* p = Object::findOwnProperty(symbol, flags | kFindRemoved);
    if (p)
        return !p->isRemoved() || (flags & kFindRemoved) ? p : nullptr;
    if (!valid || !workspace)
        return nullptr;
    u32 index;
    if (isIndexId(symbol, index)) {
        if (index >= workspace->getArgumentCount())
            return nullptr;
        return createRefProperty(symbol, u32(workspace->firstParameterSlot(i32(index))), kDontEnum);
    }
    if (symbol == Sym::kCallee) {
        Variant callee(workspace->getCallee());
        return createProperty(symbol, callee, kDontEnum);
    }
    if (symbol == Sym::kLength) {
        Variant count;
        count.setUInt(workspace->getArgumentCount());
        return createProperty(symbol, count, kDontEnum);
    }
    return nullptr;
}

}  // namespace LxScript
