// Statement lists, expression/return/debugger statements, if, loops and
// switch.
#include "script/engine/ops/Statements.h"

#include <cmath>

#include "core/ErrorCodes.h"
#include "script/engine/Arguments.h"
#include "script/engine/LibraryHooks.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/Symbols.h"
#include "script/engine/Workspace.h"
#include "script/engine/ops/Literals.h"
#include "script/engine/ops/References.h"
#include "script/frontend/ConstantOps.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::f64;
using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// The end of a loop's pass: the debugger sees the loop's line, and the
// condition and a body on the loop's own line (no line of their own) run on
// it, so an error there names it. The body's first statement still runs the
// line hook in each pass: standing on another line, or second on the loop's
// line and then line-less, it never carries the loop's line. A loop that is
// itself second on its line has no line to give.
inline void endOfPass(jsRunner& runner, const jsOpStatement& loop, i32 line) {
    if (runner.engine->wantsStatementHooks())
        runner.setLine(loop.getScriptId(), line);
    runner.fileId = loop.getScriptId();
    runner.line = line >= 0 ? line : -1;
}

// Runs a loop's body into result. True: the loop goes on. False: it ends
// and status is what it returns: the body's status when not 0, else the
// runner's. Inline: it is every loop's step.
inline bool runLoopBody(jsRunner& runner, const jsOpStatement& loop, Variant& result, Status& status) {
    jsOpStatement* body = loop.getChild();
    status = body ? body->execute(runner, result) : kStatusOK;
    switch (runner.takeCompletion(&loop)) {
        case jsRunner::kTakeNone:
        case jsRunner::kTakeContinue:
            return status == kStatusOK;
        case jsRunner::kTakeBreak:
            if (status == kStatusOK)
                status = runner.status();
            return false;
        default:
            return false;
    }
}

// A condition's truth: its own test when that answers without a value (see
// answersTest), else its value in scratch, converted. Inline, so scratch is
// the caller's.
[[gnu::always_inline]] inline Truth conditionTruth(jsOpcode* condition, bool tests, jsRunner& runner,
                                                   Variant& scratch) {
    if (tests)
        return condition->test(runner);
    const Status status = condition->execute(runner, scratch);
    return {status, status == kStatusOK && scratch.toBoolean()};
}

// Between passes: the engine's periodic check, then a collection when due.
inline bool check(jsRunner& runner) { return runner.engine->checkStatus(); }
inline void collect(jsRunner& runner) { runner.engine->maybeCollectGarbage(); }

template <class T>
void writeList(CompiledScriptWriter& writer, const LxCore::TSimpleArray<T>& list) {
    writer.writeInteger(list.getCount());
    for (i32 i = 0; i < list.getCount(); i++)
        writer.writeNode(list.get(i));
}

}  // namespace

// ---------------------------------------------------------------------------
// Statement lists

jsOpStatements::~jsOpStatements() {
    deleteEntries(statements);
    deleteEntries(hoisted);
}

void jsOpStatements::appendStatement(jsOpStatement* statement) {
    addOwned(statements, statement);
    if (statement)
        statement->setParent(this);
}

void jsOpStatements::appendHoisted(jsOpFunction* body) { addOwned(hoisted, body); }

void jsOpStatements::appendDeclaration(jsOpFunctionDecl* decl) { declarations.add(decl); }

bool jsOpStatements::isBreakTarget(DataPoolId label, bool isBreak) const {
    return jsOpStatement::isBreakTarget(label, isBreak);
}

// Declarations made here may outlive the activation as closures. They can
// be deleted only in evaluated code (top-level code run from another frame).
void jsOpStatements::declareHoisted(jsRunner& runner) {
    runner.getScope()->setArgumentsNeeded();
    const ScopeInfo* info = runner.getScopeInfo();
    const bool topLevel = !info || (info->flags & ScopeInfo::kScriptScope);
    declareFunctions(runner.function->getScript(), runner.getScope(), topLevel && runner.previous);
}

Status jsOpStatements::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (hoisted.getCount() > 0)
        declareHoisted(runner);
    Status status = kStatusOK;
    for (i32 i = 0; i < statements.getCount(); i++) {
        status = statements.get(i)->execute(runner, result);
        if (runner.takeCompletion(this) != jsRunner::kTakeNone || status != kStatusOK)
            return status;
        if (!check(runner))
            return kStatusError;
        collect(runner);
    }
    return status;
}

i32 jsOpStatements::declareFunctions(Script* script, Object* receiver, bool deletable) {
    RealEngine& engine = *static_cast<RealEngine*>(receiver->getEngine());
    for (i32 i = 0; i < hoisted.getCount(); i++) {
        jsOpFunction* body = hoisted.get(i);
        const ScopeInfo* info = body->getScopeInfo();
        const DataPoolId name = info ? info->name : 0;
        if (!name)
            continue;
        // Running the list again keeps the function this body made.
        Variant current;
        receiver->get(name, current, kFindOwn);
        auto* existing = dynamic_cast<jsFunction*>(objectOf(current));
        if (existing && existing->getBody() == body)
            continue;
        const ObjectRef made = ObjectRef::adopt(new jsFunction(engine, script, body, receiver, false));
        receiver->put(name, Variant(made.get()), deletable ? 0 : u32(kDontDelete));
    }
    return 0;
}

jsOpStatement* jsOpStatements::findStatement(i32 wanted) {
    for (i32 i = 0; i < statements.getCount(); i++)
        if (jsOpStatement* found = statements.get(i)->findStatement(wanted))
            return found;
    for (i32 i = 0; i < hoisted.getCount(); i++)
        if (jsOpStatement* found = hoisted.get(i)->findStatement(wanted))
            return found;
    for (i32 i = 0; i < declarations.getCount(); i++)
        if (jsOpStatement* found = declarations.get(i)->findStatement(wanted))
            return found;
    return nullptr;
}

void jsOpStatements::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writeList(writer, hoisted);
    writeList(writer, statements);
}

// ---------------------------------------------------------------------------
// Expression, return and debugger statements

jsOpExprStatement::jsOpExprStatement(jsOpcode* expression) : expression(expression) {}

jsOpExprStatement::~jsOpExprStatement() { delete expression; }

// The prologue spelt out so that without the line hook every way on is a
// jump: to the expression, or to the hooked run.
Status jsOpExprStatement::execute(jsRunner& runner, Variant& result) {
    if (startsLine(runner)) {
        if (runner.engine->wantsStatementHooks())
            return executeHooked(runner, result);
        if (!takeLine(runner, scriptId, line))
            return kStatusError;
    }
    return expression->execute(runner, result);
}

Status jsOpExprStatement::executeHooked(jsRunner& runner, Variant& result) {
    if (!hookedLine(runner, scriptId, line))
        return kStatusError;
    return expression->execute(runner, result);
}

void jsOpExprStatement::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(expression);
}

jsOpReturn::jsOpReturn(jsOpcode* value) : value(value) {}

jsOpReturn::~jsOpReturn() { delete value; }

Status jsOpReturn::execute(jsRunner& runner, Variant& result) {
    if (!prologue(runner))
        return kStatusError;
    if (!value) {
        result.clear();
        return kStatusReturn;
    }
    const Status s = value->execute(runner, result);
    return s != kStatusOK ? s : kStatusReturn;
}

void jsOpReturn::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(value);
}

Status jsOpDebugger::execute(jsRunner& runner, Variant&) {
    if (!prologue(runner))
        return kStatusError;
    RealEngine& engine = *runner.engine;
    if (engine.getDebugLevel() != 0)
        engine.enterDebugger(String());
    return kStatusOK;
}

// ---------------------------------------------------------------------------
// if

jsOpIf::jsOpIf(jsOpcode* condition, jsOpStatement* thenBranch, jsOpStatement* elseBranch)
    : condition(condition), elseBranch(elseBranch), conditionTests(answersTest(condition)) {
    setChild(thenBranch);
    if (elseBranch)
        elseBranch->setParent(this);
}

jsOpIf::~jsOpIf() {
    delete condition;
    delete elseBranch;
}

Status jsOpIf::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    jsOpStatement* branch;
    {
        Variant value;
        const Truth chosen = conditionTruth(condition, conditionTests, runner, value);
        if (chosen.status != kStatusOK)
            return chosen.status;
        branch = chosen.holds ? child : elseBranch;
    }
    // Without labels there is nothing to settle: the branch runs as a jump,
    // and a recursion through it keeps no frame of the if.
    if (!labels)
        return branch ? branch->execute(runner, result) : kStatusOK;
    return settle(runner, branch ? branch->execute(runner, result) : kStatusOK);
}

jsOpStatement* jsOpIf::findStatement(i32 wanted) {
    if (jsOpStatement* found = jsOpStatement::findStatement(wanted))
        return found;
    return elseBranch ? elseBranch->findStatement(wanted) : nullptr;
}

void jsOpIf::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(condition);
    writer.writeNode(elseBranch);
}

// ---------------------------------------------------------------------------
// do, while, for

jsOpDo::jsOpDo(jsOpcode* condition, jsOpStatement* body, i32 whileLine)
    : condition(condition), whileLine(whileLine), conditionTests(answersTest(condition)) {
    setChild(body);
}

jsOpDo::~jsOpDo() { delete condition; }

Status jsOpDo::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    if (!check(runner))
        return runner.status();
    Variant value;
    for (;;) {
        collect(runner);
        Status status;
        if (!runLoopBody(runner, *this, result, status))
            return status;
        endOfPass(runner, *this, whileLine);
        const Truth again = conditionTruth(condition, conditionTests, runner, value);
        if (again.status != kStatusOK)
            return again.status;
        if (!again.holds || !check(runner))
            return runner.status();
    }
}

void jsOpDo::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(condition);
}

jsOpWhile::jsOpWhile(jsOpcode* condition, jsOpStatement* body)
    : condition(condition), conditionTests(answersTest(condition)) {
    setChild(body);
}

jsOpWhile::~jsOpWhile() { delete condition; }

Status jsOpWhile::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    if (!check(runner))
        return runner.status();
    Variant value;
    for (;;) {
        collect(runner);
        if (condition) {
            const Truth again = conditionTruth(condition, conditionTests, runner, value);
            if (again.status != kStatusOK)
                return again.status;
            if (!again.holds)
                return runner.status();
        }
        Status status;
        if (!runLoopBody(runner, *this, result, status))
            return status;
        endOfPass(runner, *this, line);
        if (!check(runner))
            return runner.status();
    }
}

void jsOpWhile::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(condition);
}

jsOpFor::jsOpFor(jsOpcode* init, jsOpcode* condition, jsOpcode* update, jsOpStatement* body)
    : init(init), condition(condition), update(update), conditionTests(answersTest(condition)) {
    setChild(body);
}

jsOpFor::~jsOpFor() {
    delete init;
    delete condition;
    delete update;
}

Status jsOpFor::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    Variant value;
    if (init)
        if (const Status s = init->execute(runner, value))
            return s;
    if (!check(runner))
        return runner.status();
    for (;;) {
        collect(runner);
        if (condition) {
            const Truth again = conditionTruth(condition, conditionTests, runner, value);
            if (again.status != kStatusOK)
                return again.status;
            if (!again.holds)
                return runner.status();
        }
        Status status;
        if (!runLoopBody(runner, *this, result, status))
            return status;
        if (update)
            if (const Status s = update->execute(runner, value))
                return s;
        if (child)
            endOfPass(runner, *this, line);
        if (!check(runner))
            return runner.status();
    }
}

void jsOpFor::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(init);
    writer.writeNode(condition);
    writer.writeNode(update);
}

// ---------------------------------------------------------------------------
// The counting loop

jsOpSimpleFor::jsOpSimpleFor(jsOpcode* counter, i32 slot, f64 start, jsOpcode* limit, f64 step,
                             i32 compareOp, jsOpStatement* body)
    : counter(counter),
      counterReference(counter ? counter->asVariable() : nullptr),
      limit(Operand::of(limit)),
      start(start),
      step(step),
      slot(slot),
      compareOp(compareOp) {
    setChild(body);
}

jsOpSimpleFor::~jsOpSimpleFor() {
    delete counter;
    delete limit.getOperation();
}

inline bool jsOpSimpleFor::goesOn(f64 v, f64 bound) const {
    switch (compareOp) {
        case kOpLess: return v < bound;
        case kOpLessEqual: return v <= bound;
        case kOpGreater: return v > bound;
        case kOpGreaterEqual: return v >= bound;
        default: return false;
    }
}

// A constant, or a number in a local of the running call, is read where it
// is: reading it has no effect. Anything else runs.
inline Status jsOpSimpleFor::evaluateLimit(jsRunner& runner, Variant& scratch, f64& bound) const {
    if (limit.peekNumber(runner, bound))
        return kStatusOK;
    if (const Status s = limit.read(runner, scratch))
        return s;
    bound = scratch.toNumber();
    return kStatusOK;
}

Status jsOpSimpleFor::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    return counterReference ? runWithReference(runner, result) : runWithSlot(runner, result);
}

// A local of the running function: the slot is the variable.
Status jsOpSimpleFor::runWithSlot(jsRunner& runner, Variant& result) {
    Variant* variable = runner.slot(slot);
    if (!variable)
        return runner.status();
    Variant bound;
    f64 v = start;
    for (;;) {
        variable->setNumber(v);
        f64 boundNumber;
        if (const Status s = evaluateLimit(runner, bound, boundNumber))
            return s;
        if (!goesOn(v, boundNumber))
            return runner.status();
        Status status;
        if (!runLoopBody(runner, *this, result, status))
            return status;
        collect(runner);
        if (!check(runner))
            return kStatusError;
        // The body may have changed the variable.
        v = variable->toNumber() + step;
        if (child)
            endOfPass(runner, *this, line);
    }
}

// Any other variable: written and read back through its reference, whose
// slot is found once.
Status jsOpSimpleFor::runWithReference(jsRunner& runner, Variant& result) {
    Reference reference;
    if (const Status s = counterReference->getReference(runner, reference, 0))
        return s;
    Variant number(start);
    assignReference(reference, number);
    if (runner.errorPending())
        return kStatusError;
    Variant bound;
    f64 v = start;
    for (;;) {
        Property* property = reference.property;
        if (!property || property->isRemoved()) {
            // The variable was deleted meanwhile.
            if (reference.object == runner.engine->getGlobal() && counterReference->isPlainName()) {
                const String name = DataPool::get().getSymbol(reference.symbol);
                runner.setError(Err::kUndefined, &name);
                return runner.status();
            }
            if (reference.object) {
                Variant nan;
                nan.setNaN();
                reference.object->put(reference.symbol, nan, 0);
            }
            return kStatusOK;
        }
        number.setNumber(v);
        property->put(reference.object, number);
        f64 boundNumber;
        if (const Status s = evaluateLimit(runner, bound, boundNumber))
            return s;
        if (!goesOn(v, boundNumber))
            return runner.status();
        Status status;
        if (!runLoopBody(runner, *this, result, status))
            return status;
        collect(runner);
        if (!check(runner))
            return kStatusError;
        const Variant* now = property->isRemoved() ? nullptr : property->get(reference.object, 0);
        v = (now ? now->toNumber() : LxCore::f64(NAN)) + step;
        if (child)
            endOfPass(runner, *this, line);
    }
}

void jsOpSimpleFor::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(counter);
    writer.writeNumber(start);
    writer.writeNode(limit.getOperation());
    writer.writeNumber(step);
    writer.writeInteger(slot);
    writer.writeSymbol(compareOp);
}

// ---------------------------------------------------------------------------
// for-in and for-each-in

jsOpForIn::jsOpForIn(jsOpcode* target, i32 slot, DataPoolId symbol, jsOpcode* object,
                     jsOpStatement* body, bool each)
    : target(target),
      targetReference(target ? target->asVariable() : nullptr),
      object(object),
      symbol(symbol),
      slot(slot),
      each(each) {
    setChild(body);
}

jsOpForIn::~jsOpForIn() {
    delete target;
    delete object;
}

Status jsOpForIn::assign(jsRunner& runner, const Variant& value) {
    if (!targetReference && slot >= 0) {
        Variant* variable = runner.slot(slot);
        if (!variable)
            return runner.status();
        *variable = value;
        return kStatusOK;
    }
    Reference reference;
    if (targetReference) {
        if (const Status s = targetReference->getReference(runner, reference, kRefQuiet))
            return s;
    } else {
        reference.symbol = symbol;
        runner.getScope()->resolveForWrite(symbol, reference, 0);
    }
    assignReference(reference, value);
    return runner.errorPending() ? kStatusError : kStatusOK;
}

Status jsOpForIn::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    Variant value;
    if (const Status s = object->execute(runner, value))
        return s;
    ObjectRef holder;
    if (!toObjectValue(runner, value, holder))
        return runner.status();
    const DataPoolId cls = holder->getClassID();
    if ((cls == Sym::kXML || cls == Sym::kXMLList) && holder->getLiveObject())
        return overXML(runner, result, holder.get());
    // The names as they stand now: names deleted by the body are still
    // visited (for each skips them), names added are not.
    LxCore::SimpleArray ids;
    holder->getPropertyIDs(ids, kListForIn);
    const DataPool& pool = DataPool::get();
    for (i32 i = 0; i < ids.getCount(); i++) {
        const DataPoolId id = DataPoolId(ids.get(i));
        if (each) {
            Property* property = holder->findProperty(id, 0);
            if (runner.errorPending())
                return runner.status();
            if (!property)
                continue;
            const Variant* v = property->get(holder.get(), 0);
            if (runner.errorPending())
                return runner.status();
            if (v)
                value = *v;
            else
                value.clear();
        } else {
            value.setString(pool.getSymbol(id));
        }
        Status status;
        if (!pass(runner, result, value, status))
            return status;
    }
    return runner.status();
}

// One pass with the loop variable set to value; false: the loop ends with
// status.
bool jsOpForIn::pass(jsRunner& runner, Variant& result, const Variant& value, Status& status) {
    if (assign(runner, value) != kStatusOK) {
        status = kStatusError;
        return false;
    }
    if (!runLoopBody(runner, *this, result, status))
        return false;
    if (child)
        endOfPass(runner, *this, line);
    collect(runner);
    const bool goOn = check(runner);
    status = runner.status();
    return goOn;
}

// E4X objects give their own names (item indexes) and values (the items).
Status jsOpForIn::overXML(jsRunner& runner, Variant& result, Object* holder) {
    LxCore::Array entries;
    if (each)
        libraryHooks().collectXMLForEachValues(holder->getLiveObject(), entries);
    else
        libraryHooks().collectXMLForInKeys(holder->getLiveObject(), entries);
    for (u32 i = 0; i < entries.length(); i++) {
        Variant value = entries[i];
        if (each)
            runner.engine->importValue(value, true);
        else
            value.setString(value.toString());
        Status status;
        if (!pass(runner, result, value, status))
            return status;
    }
    return runner.status();
}

void jsOpForIn::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(target);
    writer.writeNode(object);
    writer.writeInteger(slot);
    writer.writeSymbol(symbol);
    writer.writeBool(each);
}

// ---------------------------------------------------------------------------
// switch

jsOpSwitch::jsOpSwitch(jsOpcode* discriminant) : discriminant(discriminant) {}

jsOpSwitch::~jsOpSwitch() {
    delete discriminant;
    deleteEntries(groups);
    deleteEntries(bodies);
}

void jsOpSwitch::appendCase(jsOpList* group, jsOpStatement* body) {
    Handover<jsOpList> holdGroup(group);
    Handover<jsOpStatement> holdBody(body);
    groups.add(group);
    try {
        bodies.add(body);
    } catch (...) {
        groups.removeAt(groups.getCount() - 1);
        throw;
    }
    holdGroup.taken();
    holdBody.taken();
    if (body)
        body->setParent(this);
}

// Cases match strictly, or through a "===" method of the discriminant (or,
// failing that, of the first case value that has one).
Status jsOpSwitch::select(jsRunner& runner, const Variant& value, i32& chosen) {
    chosen = -1;
    Object* holder = objectOf(value);
    Property* method = holder && holder->hasOperators() ? holder->findOperator(kOpStrictEqual) : nullptr;
    bool reversed = false;
    ObjectRef holdMethodHolder;
    i32 defaultGroup = -1;
    Variant caseValue;
    for (i32 g = 0; g < groups.getCount(); g++) {
        const jsOpList* group = groups.get(g);
        for (i32 e = 0; group && e < group->length(); e++) {
            jsOpcode* expression = group->get(e);
            if (!expression) {
                defaultGroup = g;
                continue;
            }
            if (const Status s = expression->execute(runner, caseValue))
                return s;
            if (!method && !runner.errorPending()) {
                Object* candidate = objectOf(caseValue);
                if (candidate && candidate->hasOperators())
                    method = candidate->findOperator(kOpStrictEqual);
                if (method) {
                    holder = candidate;
                    holdMethodHolder = ObjectRef(candidate);
                    reversed = true;
                }
            }
            bool match;
            if (method) {
                TVVariantArray args(2);
                args.at(0) = reversed ? value : caseValue;
                args.at(1).setBool(reversed);
                Variant answer;
                match = callOperatorMethod(runner, holder, method, args, answer) && answer.toBoolean();
            } else {
                match = ConstantOps::strictEquals(value, caseValue);
            }
            if (runner.errorPending())
                return runner.status();
            if (match) {
                chosen = g;
                return kStatusOK;
            }
        }
    }
    chosen = defaultGroup;
    return kStatusOK;
}

Status jsOpSwitch::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    Variant value;
    if (const Status s = discriminant->execute(runner, value))
        return s;
    i32 chosen;
    if (const Status s = select(runner, value, chosen))
        return s;
    if (chosen < 0)
        return runner.status();
    // From the chosen group on, falling through the later bodies.
    Status status = kStatusOK;
    for (i32 i = chosen; i < bodies.getCount(); i++) {
        jsOpStatement* body = bodies.get(i);
        if (!body)
            continue;
        status = body->execute(runner, result);
        if (runner.takeCompletion(this) != jsRunner::kTakeNone || status != kStatusOK)
            return status;
    }
    return runner.status();
}

jsOpStatement* jsOpSwitch::findStatement(i32 wanted) {
    if (jsOpStatement* found = jsOpStatement::findStatement(wanted))
        return found;
    for (i32 i = 0; i < bodies.getCount(); i++)
        if (jsOpStatement* body = bodies.get(i))
            if (jsOpStatement* found = body->findStatement(wanted))
                return found;
    return nullptr;
}

void jsOpSwitch::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(discriminant);
    writeList(writer, groups);
    writeList(writer, bodies);
}

}  // namespace LxScript
