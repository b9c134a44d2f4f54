// What the files of the object model share: Object.cpp (life, slot storage,
// writing), ObjectLookup.cpp, ObjectElements.cpp and ObjectListing.cpp. No
// other file includes it.
#pragma once
#include "script/engine/Object.h"
#include "script/engine/Property.h"

namespace LxScript {

namespace objectmodel {

inline DataPool& pool() { return DataPool::get(); }

// Whether an operation of this thread pins an element (see ElementPin).
bool anyElementPinned();

}  // namespace objectmodel

// Hot in every lookup and write: inline wherever the object model runs.
[[gnu::always_inline]] inline bool Object::cellRemoved(const SlotCell& cell, i32 place) const {
    (void)place;
    return cell.isSlot() ? cell.slot->isRemoved() : cell.kind == SlotCell::kRemoved;
}

}  // namespace LxScript
