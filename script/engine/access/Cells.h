// Writes into a value cell of an object's slots or element store that the
// operations make in place, so that each rule has one home.
#pragma once
#include "core/Types.h"
#include "core/Variant.h"
#include "script/engine/ObjectSlots.h"
#include "script/engine/Property.h"

namespace LxScript {

// A number written into a cell that holds a number.
[[gnu::always_inline]] inline void writeNumber(SlotCell& cell, LxCore::f64 number) {
    cell.number = number;
    cell.state = u8(kStateWritten);
}

// A number stored over a number in place: true, the cell written; false,
// nothing done, when either is of another kind (the caller stores it).
[[gnu::always_inline]] inline bool storeNumberOver(SlotCell& cell, const Variant& value) {
    if (!cell.isNumber() || value.getType() != Variant::kNumber)
        return false;
    writeNumber(cell, value.toNumber());
    return true;
}

}  // namespace LxScript
