// Script objects: the listings of their members, and the bulk reads and
// writes made over a listing.
#include "script/engine/ObjectInternals.h"

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <vector>

#include "script/engine/LiveHold.h"

namespace LxScript {

using namespace objectmodel;

namespace {

// Slot bits that say nothing of what a slot is, only of its state.
constexpr u32 kBookkeepingBits = kFetched | kWatched | kWatchpoint | kRemoved;

// The listing of a large object sorts its slots; small ones do with insertion.
constexpr size_t kSmallListing = 16;

// Ids merged into a listing once each; a set keeps long listings linear.
class IdMerger {
public:
    explicit IdMerger(LxCore::SimpleArray& ids) : ids(ids) {}
    void add(DataPoolId id) {
        if (contains(id))
            return;
        ids.add(id);
        if (set)
            set->insert(id);
    }
    bool contains(DataPoolId id) {
        const i32 n = ids.getCount();
        if (!set && n > 32) {
            set.reset(new std::unordered_set<i32>);
            for (i32 i = 0; i < n; i++)
                set->insert(i32(ids.get(i)));
        }
        if (set)
            return set->count(id) != 0;
        for (i32 i = 0; i < n; i++)
            if (ids.get(i) == id)
                return true;
        return false;
    }

private:
    LxCore::SimpleArray& ids;
    std::unique_ptr<std::unordered_set<i32>> set;
};

// A method, or a plain slot without attributes holding a function.
bool methodLike(u32 attributes, Object* held) {
    if (attributes & kMethod)
        return true;
    if ((attributes & ~kBookkeepingBits) != 0)
        return false;
    return held && held->asFunction();
}

bool passesFilter(u32 a, bool isMethod, u32 filter) {
    if ((a & kRemoved) && !(filter & kListRemoved))
        return false;
    if ((filter & kListNoBuiltIn) && (a & kBuiltIn))
        return false;
    if ((a & kHidden) && !(filter & kListHidden))
        return false;
    if ((a & kDontEnum) && !(filter & kListDontEnum))
        return false;
    if (isMethod)
        return (filter & kListMethods) != 0;
    return (filter & ((a & kReadOnly) ? kListReadOnly : kListWritable)) != 0;
}

}  // namespace

bool Property::isMethodLike() const {
    if (attributes & kMethod)
        return true;
    if (kind != kPlain)
        return false;
    return methodLike(attributes, objectOf(value));
}

// Own slots in creation order: the passing slots sorted by ordinal, so that
// the cost follows the slots, not the ordinals ever handed out.
void Object::collectOwnIDs(LxCore::SimpleArray& ids, u32 filter) {
    if ((traits & kArrayStore) && static_cast<ArrayObject*>(this)->lengthState)
        materializeLengthSlot();
    std::vector<std::pair<u32, DataPoolId>> passing;
    passing.reserve(liveSlotCount());
    bool emptyName = false, hasLength = false;
    auto visit = [&](DataPoolId symbol, const SlotCell& c, i32 place) {
        if (symbol == Sym::kLength)
            hasLength = true;
        const u32 a = cellAttributes(c, place);
        const bool method = c.isSlot() ? c.slot->isMethodLike() : methodLike(a, c.heldObject());
        if (!passesFilter(a, method, filter))
            return;
        if (symbol == Sym::kEmpty)
            emptyName = true;
        else
            passing.emplace_back(c.isSlot() ? c.slot->ordinal : c.ordinal, symbol);
    };
    forEachPlace(visit);
    if (passing.size() <= kSmallListing) {
        for (size_t i = 1; i < passing.size(); i++)
            for (size_t j = i; j > 0 && passing[j].first < passing[j - 1].first; j--)
                std::swap(passing[j], passing[j - 1]);
    } else {
        std::sort(passing.begin(), passing.end());
    }
    IdMerger merged(ids);
    for (auto& [ordinal, symbol] : passing)
        merged.add(symbol);
    if (!hasLength && (filter & kListDontEnum) && !(filter & kListMethods) &&
        (classId == Sym::kArray || collectionOf(getLiveObject())))
        merged.add(Sym::kLength);
    if (emptyName)
        merged.add(Sym::kEmpty);
}

void Object::getIDs(Object* receiver, LxCore::SimpleArray& ids, u32 filter) {
    if ((objectId == kPrototypeId || objectId == kGlobalObjectId) && getDispatcher()) {
        Dispatcher* d = getDispatcher();
        LxCore::SimpleArray native;
        {
            DispatcherLock lock(d);
            d->getEnumerableProperties(Variant(receiver), native, i32(filter));
        }
        IdMerger merged(ids);
        for (i32 i = 0; i < native.getCount(); i++)
            merged.add(DataPoolId(native.get(i)));
    }
    if (getLiveObject())
        collectLiveIDs(ids, filter);
    collectOwnIDs(ids, filter);
}

void Object::getPropertyIDs(LxCore::SimpleArray& ids, u32 filter) {
    ids.setCount(0);
    ids.setGrowBy(64);
    getIDs(this, ids, filter);
    if (!(filter & kListOwnOnly))
        for (Object* p = prototype; p && p->classId == classId; p = p->prototype)
            p->getIDs(this, ids, filter);
    constexpr u32 kAllThree = kListReadOnly | kListWritable | kListDontEnum;
    if (!(filter & kListNoBuiltIn) && objectId != kWorkspaceId && (filter & kAllThree) == kAllThree)
        IdMerger(ids).add(Sym::kProto);
    ObjectSpace& s = getSpace();
    if (objectId == kGlobalObjectId && data && data->dispatcher &&
        data->dispatcher == s.getDefaultDispatcher(1) && s.getDefaultDispatcher(0)) {
        Dispatcher* saved = data->dispatcher;
        data->dispatcher = s.getDefaultDispatcher(0);
        struct Restore {
            ObjectData* d;
            Dispatcher* saved;
            ~Restore() { d->dispatcher = saved; }
        } restore{data, saved};
        getIDs(this, ids, filter);
    }
}

i32 Object::getPropertyValues(LxCore::THashTable<Variant>& out, u32 filter, LxCore::Error* err) {
    Engine& engine = getSpace().getEngine();
    LxCore::Error saved = engine.getError();
    engine.clearError();
    LxCore::SimpleArray ids;
    getPropertyIDs(ids, filter);
    i32 code = 0;
    for (i32 i = 0; i < ids.getCount() && code == 0; i++) {
        const DataPoolId symbol = DataPoolId(ids.get(i));
        Variant value;
        getValue(symbol, value, 0);
        code = engine.getError().getCode();
        if (code == 0)
            out.put(pool().getSymbol(symbol), new Variant(value));
    }
    if (code != 0 && err)
        *err = engine.getError();
    engine.restoreError(saved);
    return code;
}

i32 Object::putPropertyValues(const LxCore::THashTable<Variant>& values, LxCore::Error* err) {
    Engine& engine = getSpace().getEngine();
    LxCore::Error saved = engine.getError();
    engine.clearError();
    LxCore::THashTable<Variant> copy(values);
    LxCore::SimpleArray entries;
    copy.getEntries(entries);
    i32 code = 0;
    for (i32 i = 0; i < entries.getCount() && code == 0; i++) {
        auto* e = reinterpret_cast<LxCore::THashTable<Variant>::Entry*>(entries.get(i));
        Variant value(e->value);
        getSpace().importValue(value, true);
        put(pool().add(e->key.chars()), value, 0);
        code = engine.getError().getCode();
    }
    if (code != 0 && err)
        *err = engine.getError();
    engine.restoreError(saved);
    return code;
}

}  // namespace LxScript
