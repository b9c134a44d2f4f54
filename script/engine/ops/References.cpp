// Reference operations and reading through a reference.
#include "script/engine/ops/References.h"

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Workspace.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

DataPool& pool() { return DataPool::get(); }

// The lookup flags a reference passes on to the object.
constexpr u32 kLookupFlags = kFindCallable | kFindOwn | kFindMakeXMLChild;

bool isIdentifier(const String& name) {
    if (name.isEmpty() || !LxCore::isIdentifierStart(name[0]))
        return false;
    for (i32 i = 1; i < name.length(); i++)
        if (!LxCore::isIdentifierPart(name[i]))
            return false;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Reading through a reference

// The object a slot holds when reading it runs nothing (no getter, no
// class object asked for again); null otherwise.
static Object* plainObjectOf(Property* slot) {
    if (!slot || slot->getKind() != Property::kPlain || (slot->getAttributes() & kReResolve))
        return nullptr;
    return objectOf(slot->cachedValue());
}

Status getReferenceValue(jsRunner& runner, Reference& reference, Variant& result, bool report) {
    if (!reference.property) {
        result.clear();
        RealEngine& engine = *runner.engine;
        if (Callback* callback = engine.getCallback()) {
            Variant holder(reference.object);
            Variant name;
            pool().getValue(reference.symbol, name);
            if (callback->undefinedError(engine, holder, name, result) &&
                result.getType() != Variant::kUndefined && reference.object)
                reference.property = reference.object->createProperty(reference.symbol, result, 0);
        }
        if (!reference.property) {
            result.clear();
            if (!report)
                return runner.status();
            engine.setError(Err::kUndefined, pool().getSymbol(reference.symbol), -1, false);
            return runner.status();
        }
    }
    const Variant* value = reference.property->get(reference.object, 0);
    if (value)
        result = *value;
    else
        result.clear();
    return runner.status();
}

Status readName(jsRunner& runner, DataPoolId symbol, Variant& result) {
    Reference reference;
    reference.symbol = symbol;
    runner.resolveForRead(symbol, reference, 0);
    return getReferenceValue(runner, reference, result, true);
}

// ---------------------------------------------------------------------------
// Names

jsOpVariable::jsOpVariable(DataPoolId symbol, bool attribute) : symbol(symbol), attribute(attribute) {}

Status jsOpVariable::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    reference.symbol = symbol;
    runner.resolveForRead(symbol, reference, flags);
    return kStatusOK;
}

Status jsOpVariable::execute(jsRunner& runner, Variant& result) {
    Reference reference;
    if (const Status status = getReference(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, true);
}

Status jsOpVariable::evaluateQuietly(jsRunner& runner, Variant& result) { return execute(runner, result); }

Object* jsOpVariable::peekObject(jsRunner& runner) const {
    if (attribute || letter() != 'j')
        return nullptr;     // a plain name only, not the kinds built on it
    Reference reference;
    runner.resolveForRead(symbol, reference, 0);
    return plainObjectOf(reference.property);
}

void jsOpVariable::appendSource(String& out) const { out += pool().getSymbol(symbol); }

void jsOpVariable::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeSymbol(symbol);
    writer.writeBool(attribute);
}

// ---------------------------------------------------------------------------
// object.name

jsOpProperty::jsOpProperty(jsOpcode* object, DataPoolId symbol, bool attribute)
    : jsOpVariable(symbol, attribute), object(object) {}

jsOpProperty::~jsOpProperty() { delete object; }

Status jsOpProperty::referObject(jsRunner& runner, Reference& reference, u32 flags) {
    // this.x and local.x: no value copied, no holder made.
    if (Object* direct = object->peekObject(runner)) {
        reference.setObject(direct);
        return kStatusOK;
    }
    Variant value;
    jsOpVariable* quiet = (flags & kRefQuiet) ? object->asVariable() : nullptr;
    if (const Status status = quiet ? quiet->evaluateQuietly(runner, value) : object->execute(runner, value))
        return status;
    return referValue(runner, reference, value);
}

// A failed conversion raised an error; should a host callback have cleared
// it, the reference goes on without an object.
Status jsOpProperty::referValue(jsRunner& runner, Reference& reference, const Variant& value) {
    ObjectRef holder;
    if (!toObjectValue(runner, value, holder))
        return runner.status();
    reference.setObject(holder.get());
    return kStatusOK;
}

Status jsOpProperty::findMember(jsRunner& runner, Reference& reference, u32 flags) {
    if (reference.object)
        reference.property = reference.object->findProperty(symbol, flags & kLookupFlags);
    reference.member = 1;
    return runner.status();
}

Status jsOpProperty::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    reference.symbol = symbol;
    if (const Status status = referObject(runner, reference, flags))
        return status;
    return findMember(runner, reference, flags);
}

Status jsOpProperty::execute(jsRunner& runner, Variant& result) {
    Reference reference;
    if (symbol == Sym::kLength && letter() == 'X' && !object->peekObject(runner))
        return readLength(runner, reference, result);
    if (const Status status = getReference(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

// text.length is the text's own: no String wrapper is made to answer it.
Status jsOpProperty::readLength(jsRunner& runner, Reference& reference, Variant& result) {
    Variant value;
    if (const Status status = object->execute(runner, value))
        return status;
    if (const LxCore::String* text = value.getType() == Variant::kString ? Variant::asString(value) : nullptr) {
        result.setInt(text->length());
        return kStatusOK;
    }
    reference.symbol = symbol;
    if (const Status status = referValue(runner, reference, value))
        return status;
    if (const Status status = findMember(runner, reference, 0))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

Status jsOpProperty::evaluateQuietly(jsRunner& runner, Variant& result) {
    Reference reference;
    if (const Status status = getReference(runner, reference, kRefQuiet))
        return status;
    return getReferenceValue(runner, reference, result, false);
}

// x.name, or x["a \"b\""], x[12]: numbers and "-0" go unquoted.
void jsOpProperty::appendSource(String& out) const {
    object->appendSource(out);
    const String name = pool().getSymbol(symbol);
    if (isIdentifier(name)) {
        out += '.';
        out += name;
        return;
    }
    out += '[';
    if (symbol == DataPool::kMinusZero || pool().isNumber(symbol)) {
        out += name;
    } else {
        String quoted(name);
        quoted.replaceAll("\"", "\\\"");
        out += '"';
        out += quoted;
        out += '"';
    }
    out += ']';
}

void jsOpProperty::writeOperands(CompiledScriptWriter& writer) const {
    jsOpVariable::writeOperands(writer);
    writer.writeNode(object);
}

// ---------------------------------------------------------------------------
// object[index]

jsOpIndex::jsOpIndex(jsOpcode* object, jsOpcode* index, bool attribute)
    : jsOpProperty(object, 0, attribute), index(index) {}

jsOpIndex::~jsOpIndex() { delete index; }

Status jsOpIndex::evaluate(jsRunner& runner, Reference& reference, Variant& key, u32 flags) {
    if (const Status status = referObject(runner, reference, flags))
        return status;
    return index->execute(runner, key);
}

Status jsOpIndex::lookUp(jsRunner& runner, Reference& reference, const Variant& key, u32 flags) {
    // An object key's text may run script; what it leaves pending stops
    // everything, so nothing is looked up, stored or deleted under a name
    // that was never made.
    if (attribute) {
        String name("@");
        name += key.toString();
        reference.symbol = pool().add(name.chars());
    } else {
        reference.symbol = pool().add(key);
    }
    if (runner.errorPending() || !reference.object)
        return runner.status();
    Property* found = reference.object->findProperty(reference.symbol, 0);
    if ((flags & kRefForCall) && found && (found->getAttributes() & kNativeBacked) &&
        !(found->getAttributes() & kMethod))
        found = nullptr;
    reference.property = found;
    reference.member = 1;
    return runner.status();
}

void jsOpIndex::appendSource(String& out) const {
    object->appendSource(out);
    if (attribute)
        out += ".@";
    out += '[';
    index->appendSource(out);
    out += ']';
}

void jsOpIndex::writeOperands(CompiledScriptWriter& writer) const {
    jsOpProperty::writeOperands(writer);
    writer.writeNode(index);
}

// ---------------------------------------------------------------------------
// Locals

jsOpLocalVariable::jsOpLocalVariable(i32 slot, DataPoolId symbol) : jsOpVariable(symbol, false), slot(slot) {}

Status jsOpLocalVariable::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    reference.setObject(runner.getScope());
    reference.symbol = symbol;
    reference.property = nullptr;
    if (slot < 0)
        runner.getScope()->resolveForWrite(symbol, reference, flags);
    return runner.status();
}

Status jsOpLocalVariable::execute(jsRunner& runner, Variant& result) {
    if (slot >= 0) {
        Variant* local = runner.slot(slot);
        if (!local)
            return runner.status();
        result = *local;
        return kStatusOK;
    }
    Reference reference;
    getReference(runner, reference, 0);
    const Variant* value = reference.property ? reference.property->get(reference.object, 0) : nullptr;
    if (value)
        result = *value;
    else
        result.clear();
    return runner.status();
}

Status jsOpLocalVariable::evaluateQuietly(jsRunner& runner, Variant& result) { return execute(runner, result); }

Object* jsOpLocalVariable::peekObject(jsRunner& runner) const {
    if (slot < 0) {
        Reference reference;
        reference.symbol = symbol;
        runner.getScope()->resolveForWrite(symbol, reference, 0);
        return plainObjectOf(reference.property);
    }
    if (u32(slot) >= runner.getSlotCount())
        return nullptr;     // the callee and arguments slots
    return objectOf(*runner.slot(slot));
}

void jsOpLocalVariable::writeOperands(CompiledScriptWriter& writer) const {
    jsOpVariable::writeOperands(writer);
    writer.writeInteger(slot);
}

// ---------------------------------------------------------------------------
// this

jsOpThis::jsOpThis() : jsOpVariable(kWordThis, false) {}

Status jsOpThis::execute(jsRunner& runner, Variant& result) {
    result.setObject(runner.thisObject);
    return kStatusOK;
}

Status jsOpThis::evaluateQuietly(jsRunner& runner, Variant& result) { return execute(runner, result); }

Object* jsOpThis::peekObject(jsRunner& runner) const { return runner.thisObject; }

Status jsOpThis::getReference(jsRunner& runner, Reference& reference, u32) {
    reference.setObject(runner.thisObject);
    reference.symbol = symbol;
    reference.property = nullptr;
    reference.member = 1;
    return kStatusOK;
}

void jsOpThis::appendSource(String& out) const { out += "this"; }

}  // namespace LxScript
