#include "script/engine/access/Operand.h"

#include "script/engine/ops/Operators.h"
#include "script/engine/ops/References.h"

namespace LxScript {

Operand Operand::decide(jsOpcode* op, const Variant* constant) {
    Operand made;
    made.operation = op;
    made.constant = constant;
    if (!constant && !GeneralBuild::on())
        made.slot = localSlotOf(op);
    return made;
}

Operand Operand::of(jsOpcode* op) {
    const bool constant = op && op->isConstant();
    return decide(op, constant ? &static_cast<const jsOpConstant*>(op)->getValue() : nullptr);
}

}  // namespace LxScript
