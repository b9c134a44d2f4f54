// throw, try/catch/finally and with.
#include "script/engine/ops/Exceptions.h"

#include "core/ErrorCodes.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Workspace.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

// The engine's try depth while a try statement runs, lowered on every way
// out: it decides whether a debugger break is skipped for caught errors.
class TryDepthScope {
public:
    explicit TryDepthScope(RealEngine& engine) : engine(engine) { engine.tryDepthWord()++; }
    ~TryDepthScope() {
        if (engine.tryDepthWord() > 0)
            engine.tryDepthWord()--;
    }
    TryDepthScope(const TryDepthScope&) = delete;
    TryDepthScope& operator=(const TryDepthScope&) = delete;

private:
    RealEngine& engine;
};

bool fatalPending(const jsRunner& runner) { return runner.engine->getError().getCode() < 0; }

}  // namespace

Status raiseException(jsRunner& runner, const Variant& value, bool whereLater) {
    RealEngine& engine = *runner.engine;
    if (!objectOf(value)) {
        // A primitive's text is its own and runs nothing: taken when read.
        engine.setThrownError(value, nullptr, whereLater);
        return runner.status();
    }
    // The message is only for a report; a default value that fails must not
    // take the thrown value's place.
    String text;
    errorText(text, value);
    if (runner.errorPending()) {
        runner.clearError();
        text = "[object ";
        String name;
        objectOf(value)->getClassName(name);
        text += name;
        text += "]";
    }
    engine.setThrownError(value, &text, whereLater);
    // A host callback may have cleared the error meanwhile.
    return runner.status();
}

// ---------------------------------------------------------------------------
// throw

jsOpThrow::jsOpThrow(jsOpcode* value) : value(value) {}

jsOpThrow::~jsOpThrow() { delete value; }

Status jsOpThrow::execute(jsRunner& runner, Variant& result) {
    if (!prologue(runner))
        return kStatusError;
    if (const Status s = value->execute(runner, result))
        return s;
    return raiseException(runner, result, insideTry());
}

bool jsOpThrow::insideTry() {
    u8 known = tryAround.load(std::memory_order_relaxed);
    if (known == kNotKnown) {
        known = kOutside;
        const jsOpStatement* from = this;
        for (jsOpStatement* s = parent; s && !s->asFunctionBody(); from = s, s = s->getParent()) {
            if (dynamic_cast<jsOpTry*>(s) && s->getChild() == from) {
                known = kInside;
                break;
            }
        }
        tryAround.store(known, std::memory_order_relaxed);
    }
    return known == kInside;
}

void jsOpThrow::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(value);
}

// ---------------------------------------------------------------------------
// try

jsOpTry::jsOpTry(jsOpStatement* block, jsOpStatement* finallyBlock) : finallyBlock(finallyBlock) {
    setChild(block);
    if (finallyBlock)
        finallyBlock->setParent(this);
}

jsOpTry::~jsOpTry() {
    delete finallyBlock;
    for (i32 i = 0; i < clauses.getCount(); i++) {
        Clause* clause = clauses.get(i);
        delete clause->condition;
        delete clause->body;
        delete clause;
    }
}

void jsOpTry::appendCatch(DataPoolId variable, jsOpcode* condition, jsOpStatement* body) {
    Handover<jsOpcode> holdCondition(condition);
    Handover<jsOpStatement> holdBody(body);
    auto* clause = new Clause;
    Handover<Clause> holdClause(clause);
    clause->variable = variable;
    clause->condition = condition;
    clause->body = body;
    clauses.add(clause);
    holdClause.taken();
    holdCondition.taken();
    holdBody.taken();
    if (body)
        body->setParent(this);
}

// What a catch clause sees: a thrown value as it was thrown (also
// undefined), the message of an error 54 raised without a value, and an
// Error object of its class for any other error.
bool jsOpTry::takeException(jsRunner& runner, Variant& exception) {
    RealEngine& engine = *runner.engine;
    if (engine.peekThrownValue(exception)) {
        engine.importValue(exception, true);
        runner.clearError();
        return true;
    }
    const LxCore::Error& error = engine.getError();
    const i32 code = error.getCode();
    if (code < 0)
        return false;
    const LxCore::ErrorRecord* record = error.getRecord();
    if (code == Err::kScriptException && record && record->data) {
        exception = *record->data;
        engine.importValue(exception, true);
    } else if (code == Err::kScriptException) {
        if (record && !record->message.isEmpty())
            exception.setString(record->message);
    } else {
        engine.makeErrorObject(exception);
    }
    runner.clearError();
    return true;
}

namespace {

// What a catch scope object is right after its variable is stored: a later
// catch may take it again only if nothing changed it since (a function
// called from the body may get it as this, a closure or an eval keep it).
struct ScopeState {
    explicit ScopeState(Object* scope)
        : prototype(scope->getPrototype()), name(scope->getNameID()), length(scope->getStoredLength()),
          serial(scope->slotTable()->getSerial()) {}

    // Held by nobody else, its variable alone in a shared table (names and
    // attributes fixed), no side record (watches, host data), no elements.
    bool holds(Object* scope) const {
        const SlotTable* table = scope->slotTable();
        return scope->getRefCount() == 1 && scope->getInternalCount() == 0 && scope->isValidByte() &&
               !scope->isCleared() && !scope->getData() && !scope->elementStore() && scope->getObjectID() == 0 &&
               scope->getClassID() == Sym::kObject && scope->getPrototype() == prototype &&
               scope->getNameID() == name && scope->getStoredLength() == length && table->isShared() &&
               table->getSerial() == serial && table->size() == 1 && scope->getRemovedSlotCount() == 0;
    }

    Object* prototype;
    DataPoolId name;
    u32 length;
    u64 serial;
};

// A catch's scope object (one reference, the caller's): the activation's
// spare when it was kept for the same variable, else a new one.
Object* acquireCatchScope(jsRunner& runner, DataPoolId variable) {
    if (Object* spare = runner.getScope()->takeSpareScope()) {
        if (spare->slotTable()->at(0).symbol == variable)
            return spare;
        spare->dropRef();
    }
    Object* scope = nullptr;
    runner.engine->newObjectRef(scope, Sym::kObject);
    return scope;
}

}  // namespace

Status jsOpTry::runClauses(jsRunner& runner, const Variant& exception, Variant& result, bool& caught) {
    caught = false;
    Object* scope = acquireCatchScope(runner, clauses.get(0)->variable);
    if (!scope)
        return runner.status();
    Workspace* workspace = runner.getScope();
    workspace->pushWith(scope);
    Status status = kStatusOK;
    bool kept = false;
    for (i32 i = 0; i < clauses.getCount(); i++) {
        const Clause* clause = clauses.get(i);
        // The catch variable cannot be deleted by the script.
        scope->put(clause->variable, exception, kPutDefine | kDontDelete);
        if (clause->condition) {
            Variant accepted;
            if (const Status s = clause->condition->execute(runner, accepted)) {
                workspace->popWith();
                scope->dropRef();
                return s;
            }
            if (!accepted.toBoolean()) {
                scope->removeProperty(clause->variable, false);
                continue;
            }
        }
        caught = true;
        const ScopeState made(scope);
        if (clause->body)
            status = clause->body->execute(runner, result);
        workspace->popWith();
        Variant left;
        if (made.holds(scope) && scope->getOwnValue(clause->variable, left)) {
            // A value that holds anything (an object, a text) goes now, as
            // it would with the object.
            kept = true;
            if (left.getType() > Variant::kNumber) {
                scope->put(clause->variable, Variant(), kPutDefine | kDontDelete);
                kept = made.holds(scope);
            }
        }
        break;
    }
    if (!caught)
        workspace->popWith();
    if (kept && runner.getScope() == workspace)
        workspace->keepSpareScope(scope);
    else
        scope->dropRef();
    return status;
}

// The finally block runs with the error and any pending break or continue
// set aside. An error it raises stays (the one set aside is dropped); if it
// ends normally, what was set aside comes back.
Status jsOpTry::runFinally(jsRunner& runner, Status status, Variant& result) {
    RealEngine& engine = *runner.engine;
    const Variant kept(result);
    const LxCore::Error keptError(engine.getError());
    const jsRunner::Aside aside = runner.setAside();
    engine.clearError();
    const Status f = finallyBlock->execute(runner, result);
    if (runner.errorPending())
        return kStatusError;
    engine.restoreError(keptError);
    if (f == kStatusError)
        return kStatusError;
    if (f == kStatusOK)
        runner.restoreAside(aside);
    if (f != kStatusReturn && status == kStatusReturn) {
        result = kept;
        return kStatusReturn;
    }
    return status != kStatusOK ? status : f;
}

Status jsOpTry::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    const TryDepthScope depth(*runner.engine);
    Status status = child ? child->execute(runner, result) : kStatusOK;
    Variant exception;
    bool pending = false;
    if (status == kStatusError && runner.errorPending()) {
        if (!takeException(runner, exception))
            return kStatusError;
        status = kStatusOK;
        pending = true;
        if (clauses.getCount() > 0) {
            bool caught;
            status = runClauses(runner, exception, result, caught);
            if (status != kStatusOK && !caught)
                return status;      // a failing condition skips finally
            pending = !caught;
        }
    }
    // A fatal error (from a catch body) skips finally as well.
    if (finallyBlock && !(status == kStatusError && fatalPending(runner)))
        status = runFinally(runner, status, result);
    if (status == kStatusOK && pending)
        status = raiseException(runner, exception);
    return settle(runner, status);
}

jsOpStatement* jsOpTry::findStatement(i32 wanted) {
    if (jsOpStatement* found = jsOpStatement::findStatement(wanted))
        return found;
    for (i32 i = 0; i < clauses.getCount(); i++)
        if (jsOpStatement* body = clauses.get(i)->body)
            if (jsOpStatement* found = body->findStatement(wanted))
                return found;
    return finallyBlock ? finallyBlock->findStatement(wanted) : nullptr;
}

void jsOpTry::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeInteger(clauses.getCount());
    writer.writeNode(finallyBlock);
    for (i32 i = 0; i < clauses.getCount(); i++) {
        const Clause* clause = clauses.get(i);
        writer.writeSymbol(clause->variable);
        writer.writeNode(clause->condition);
        writer.writeNode(clause->body);
    }
}

// ---------------------------------------------------------------------------
// with

jsOpWith::jsOpWith(jsOpcode* object, jsOpStatement* body) : object(object) { setChild(body); }

jsOpWith::~jsOpWith() { delete object; }

Status jsOpWith::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (!prologue(runner))
        return kStatusError;
    if (const Status s = object->execute(runner, result))
        return s;
    ObjectRef scope;
    if (!toObjectValue(runner, result, scope))
        return runner.status();
    if (!child) {
        result.clear();
        return kStatusOK;
    }
    runner.getScope()->pushWith(scope.get());
    const Status status = child->execute(runner, result);
    runner.getScope()->popWith();
    return settle(runner, status);
}

void jsOpWith::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeNode(object);
}

}  // namespace LxScript
