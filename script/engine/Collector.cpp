// The collector: reference counts free most objects at once; cycles (closures
// and their workspaces, prototypes and constructors, objects pointing at each
// other) are reclaimed by marking what is reachable and sweeping the ring.
//
// Pass 1 marks everything held from outside the object graph (a reference
// count above the internal count: native Variants, frames, tasks) and the
// global object; pass 2 clears every unmarked object held only from inside,
// which breaks the cycles; pass 3 deletes what came down to zero.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/Encoder.h"
#include "core/LiveObject.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Object.h"
#include "script/engine/RealEngine.h"

namespace LxScript {

namespace {

bool sweepChecks = false;

}  // namespace

// ---------------------------------------------------------------------------
// The sweep

// Restores the collecting byte on every way out; when host code throws out
// of a pass, the marks set so far are taken away so that the next sweep
// starts clean.
class SweepScope {
public:
    explicit SweepScope(ObjectSpace& space) : space(space), collecting(space) {}
    ~SweepScope() {
        if (!finished)
            space.clearMarks();
    }
    SweepScope(const SweepScope&) = delete;
    SweepScope& operator=(const SweepScope&) = delete;

    bool finished = false;

private:
    ObjectSpace& space;
    CollectingScope collecting;
};

void ObjectSpace::checkSweeps(bool on) { sweepChecks = on; }

void ObjectSpace::sweep() {
    if (!ringHead || collecting)
        return;
    SweepScope scope(*this);
    if (globalObject)
        globalObject->mark();
    markHeldObjects();
    clearUnreached();
    deleteUnheld();
    scope.finished = true;
    if (sweepChecks)
        checkSurvivors();
}

// Pass 1. Every walk counts the objects present when it starts and reads the
// next link before it touches an object: host code reached from a pass may
// add objects (they join at the ring's far end), and nothing is deleted
// before pass 3.
void ObjectSpace::markHeldObjects() {
    Object* o = ringHead;
    for (u32 n = objectCount; n > 0; n--) {
        Object* next = o->ringNext;
        if (!o->isMarked()) {
            const bool heldOutside = o->counts.references > o->getInternalCount();
            if (LxCore::LiveObject* live = o->getLiveObject()) {
                if (!o->valid)
                    o->setLiveObject(nullptr);
                else if (heldOutside || (live->getRefCount() >= 2 && o->liveSlotCount() > 0))
                    o->mark();
            } else if (heldOutside) {
                o->mark();
            }
        }
        o = next;
    }
}

// Pass 2: unmarked and held only from inside the graph (the internal word,
// mark bit included, equals the reference count).
void ObjectSpace::clearUnreached() {
    ReleaseBatch batch(*this);
    Object* o = ringHead;
    for (u32 n = objectCount; n > 0; n--) {
        Object* next = o->ringNext;
        if (o->counts.locks == o->counts.references)
            o->clear();
        o = next;
    }
}

// Pass 3: objects that came down to no holder at all go; survivors lose their
// marks, and the first of them becomes the head.
void ObjectSpace::deleteUnheld() {
    ReleaseBatch batch(*this);
    const bool idle = isIdle();
    Object* o = ringHead;
    Object* newHead = nullptr;
    for (u32 n = objectCount; n > 0; n--) {
        Object* next = o->ringNext;
        if (o->counts.locks == 0 && o->counts.references == 0) {
            delete o;
        } else {
            o->clearMark();
            if (idle)
                o->freeRemovedSlotsNow();
            if (!newHead)
                newHead = o;
        }
        o = next;
    }
    if (newHead)
        ringHead = newHead;
}

void ObjectSpace::clearMarks() {
    Object* o = ringHead;
    for (u32 n = objectCount; n > 0 && o; n--, o = o->ringNext)
        o->clearMark();
}

// Each survivor's references, gathered by its own marking code (with the
// work list held back) and checked against the ring.
// (A sorted list, not a hash set: this runs after every sweep of the
// collect-at-every-trigger runs.)
void ObjectSpace::checkSurvivors() {
    std::vector<const Object*> ring;
    ring.reserve(objectCount);
    Object* o = ringHead;
    for (u32 n = objectCount; n > 0; n--, o = o->ringNext)
        ring.push_back(o);
    std::sort(ring.begin(), ring.end());
    marking = 1;
    leafRunning = 1;    // every reference onto the work list, leaves too
    o = ringHead;
    for (u32 n = objectCount; n > 0; n--, o = o->ringNext) {
        if (o->cleared)
            continue;
        o->markReferences();
        for (Object* target : markStack) {
            const bool inRing = std::binary_search(ring.begin(), ring.end(), target);
            if (inRing)
                target->clearMark();
            if (!inRing || target->cleared) {
                const LxCore::String line = o->describe();
                const char* holder = line.encode(LxCore::utf8Encoder());
                std::fprintf(stderr, "sweep check: %s holds %s object %p\n", holder ? holder : "?",
                             inRing ? "a cleared" : "a lost", static_cast<void*>(target));
                std::abort();
            }
        }
        markStack.clear();
    }
    marking = 0;
    leafRunning = 0;
}

// ---------------------------------------------------------------------------
// The engine's operations

void RealEngine::triggerCollection() {
    LxCore::LockableGuard guard(*this);
    collectGarbage();
}

void RealEngine::collectGarbage() {
    if (objects.isCollecting())
        return;
    if (Callback* callback = getCallback())
        if (!callback->garbageCollecting(*this))
            return;
    HoldScope hold(*this);
    objects.sweep();
    renewCollectionBaseline();
}

void RealEngine::renewCollectionBaseline() {
    const u32 count = objects.getObjectCount();
    objects.objectCountAtCollection = count;
    collectionAllowance = std::max(kCollectionThreshold, i32(std::min<u32>(count / 2, 0x40000000)));
}

bool RealEngine::holdCollection(bool hold) {
    if (hold)
        return ++collectionHolds != 0;
    if (collectionHolds == 0)
        return false;
    return --collectionHolds != 0;
}

void RealEngine::releaseObject(Variant& value) {
    if (!isInitialized())
        return;
    Object* object = resolveObject(value);
    // Activations and the special objects (ids -10 to -1) are never let go.
    if (object && u32(object->getObjectID()) < u32(kWorkspaceId)) {
        {
            ObjectRef held(object);
            getGlobalObject()->dropReferencesTo(object);
        }
        value.clear();
        if (collectionHolds == 0) {
            HoldScope hold(*this);
            objects.sweep();
        }
        renewCollectionBaseline();
    }
    value.clear();
}

void RealEngine::invalidateObject(Variant& value) {
    if (!isInitialized())
        return;
    if (Object* object = resolveObject(value)) {
        ObjectRef held(object);
        object->invalidate();
    }
}

}  // namespace LxScript
