// The E4X operations.
#include "script/engine/ops/E4X.h"

#include "core/ErrorCodes.h"
#include "core/LiveCollection.h"
#include "core/XML.h"
#include "script/engine/Arguments.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/LibraryHooks.h"
#include "script/engine/LiveHold.h"
#include "script/engine/Object.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Symbols.h"
#include "script/engine/Workspace.h"

namespace LxScript {

using LxCore::String;
using LxCore::XML;
namespace Err = LxCore::Err;

namespace {

constexpr DataPoolId kAnyName = 12;                     // "*"
constexpr DataPoolId kDescendantsName = DataPoolId(0x80002e2e);   // ".."
constexpr u32 kLookupFlags = kFindCallable | kFindOwn | kFindMakeXMLChild;

DataPool& pool() { return DataPool::get(); }

// The node a value holds through its live object, or null; borrowed.
XML* xmlOf(const Variant& value) { return libraryHooks().xmlNodeOf(value.getLiveObject()); }

// The XML object behind a value: an "XML" or "XMLList" object with a node.
bool isXMLObject(const Object* object) {
    if (!object)
        return false;
    const DataPoolId cls = object->getClassID();
    return (cls == Sym::kXML || cls == Sym::kXMLList) &&
           libraryHooks().xmlNodeOf(object->getLiveObject()) != nullptr;
}

// Executes the object part into holder as an object.
Status objectOfPart(jsRunner& runner, jsOpcode* part, ObjectRef& holder) {
    Variant value;
    if (const Status s = part->execute(runner, value))
        return s;
    if (!toObjectValue(runner, value, holder))
        return kStatusError;
    return kStatusOK;
}

Status wrongClass(jsRunner& runner, const char* what) {
    const String text(what);
    runner.setError(Err::kWrongClass, &text);
    return kStatusError;
}

// Pops the with-scope on every way out.
class WithScope {
public:
    WithScope(Workspace* scope, Object* object) : scope(scope) { scope->pushWith(object); }
    ~WithScope() { scope->popWith(); }
    WithScope(const WithScope&) = delete;
    WithScope& operator=(const WithScope&) = delete;

private:
    Workspace* scope;
};

}  // namespace

// ---------------------------------------------------------------------------
// Literals

jsOpXMLConstant::~jsOpXMLConstant() {
    for (i32 i = 0; i < parts.getCount(); i++)
        delete parts.get(i);
}

void jsOpXMLConstant::append(jsOpcode* part, i32 kind) {
    try {
        kinds.add(kind);
        try {
            parts.add(part);
        } catch (...) {
            kinds.removeAt(kinds.getCount() - 1);
            throw;
        }
    } catch (...) {
        delete part;
        throw;
    }
}

Status jsOpXMLConstant::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    String text;
    Variant value;
    for (i32 i = 0; i < parts.getCount(); i++) {
        if (const Status s = parts.get(i)->execute(runner, value))
            return s;
        const i32 kind = i32(kinds.get(i));
        XML* node = xmlOf(value);
        String piece;
        if (node && kind == 3) {
            node->toXMLString(piece, 2);
            text += piece;
            continue;
        }
        if (node)
            node->toString(piece, -1);
        else
            value.toString(piece);
        if (runner.errorPending())
            return kStatusError;
        if (kind == 0) {
            text += piece;
        } else if (kind == 2) {
            text += '"';
            XML::appendEscapedAttributeValue(text, piece);
            text += '"';
        } else {
            XML::appendEscapedText(text, piece);
        }
    }
    TVVariantArray args(1);
    args.at(0).setString(text);
    runner.engine->newObject(result, Sym::kXML, &args, nullptr);
    return runner.status();
}

void jsOpXMLConstant::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeInteger(parts.getCount());
    for (i32 i = 0; i < parts.getCount(); i++) {
        writer.writeNode(parts.get(i));
        writer.writeInteger(i32(kinds.get(i)));
    }
}

// ---------------------------------------------------------------------------
// Qualified names

jsOpXMLQualifiedName::jsOpXMLQualifiedName(jsOpcode* object, DataPoolId nsSymbol, jsOpVariable* nsExpression,
                                           jsOpcode* localExpression, DataPoolId localSymbol, bool attribute)
    : jsOpVariable(nsSymbol, attribute),
      object(object),
      nsExpression(nsExpression),
      localExpression(localExpression),
      localSymbol(localSymbol) {}

jsOpXMLQualifiedName::~jsOpXMLQualifiedName() {
    delete object;
    delete nsExpression;
    delete localExpression;
}

Status jsOpXMLQualifiedName::getReference(jsRunner& runner, Reference& reference, u32 flags) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    if (object) {
        ObjectRef holder;
        if (const Status s = objectOfPart(runner, object, holder))
            return s;
        reference.setObject(holder.get());
    }
    String text("*::");
    if (symbol != kAnyName) {
        Variant ns;
        const Status s = nsExpression ? nsExpression->execute(runner, ns) : readName(runner, symbol, ns);
        if (s)
            return s;
        if (ns.getType() != Variant::kNull) {
            XML* node = libraryHooks().namespaceFromValue(ns);
            if (node) {
                const String& uri = node->getValue();
                text = uri.compare("*") == 0 ? String("*err*\n") : uri;
                text += "::";
                node->release();
            }
        }
    }
    if (attribute)
        text += '@';
    if (localExpression) {
        Variant local;
        if (const Status s = localExpression->execute(runner, local))
            return s;
        String localText;
        local.toString(localText);
        if (runner.errorPending())
            return kStatusError;
        text += localText;
    } else {
        text += pool().getSymbol(localSymbol);
    }
    const DataPoolId id = pool().add(text.chars());
    reference.symbol = id;
    if (reference.object) {
        reference.property = reference.object->findProperty(id, flags & kLookupFlags);
        reference.member = 1;
    } else {
        runner.resolveForRead(id, reference, flags);
    }
    return runner.status();
}

Status jsOpXMLQualifiedName::read(jsRunner& runner, Variant& result, u32 flags) {
    Reference reference;
    if (const Status s = getReference(runner, reference, flags))
        return s;
    return getReferenceValue(runner, reference, result, !object);
}

Status jsOpXMLQualifiedName::execute(jsRunner& runner, Variant& result) { return read(runner, result, 0); }

Status jsOpXMLQualifiedName::evaluateQuietly(jsRunner& runner, Variant& result) {
    return read(runner, result, kRefQuiet);
}

void jsOpXMLQualifiedName::writeOperands(CompiledScriptWriter& writer) const {
    jsOpVariable::writeOperands(writer);
    writer.writeNode(object);
    writer.writeNode(nsExpression);
    writer.writeNode(localExpression);
    writer.writeSymbol(localSymbol);
}

// ---------------------------------------------------------------------------
// Descendants

jsOpXMLDescendants::jsOpXMLDescendants(jsOpcode* object, jsOpVariable* nameReference, jsOpcode* nameExpression,
                                       DataPoolId symbol, bool attribute)
    : jsOpVariable(nameReference || nameExpression ? kDescendantsName : symbol, attribute),
      object(object),
      nameReference(nameReference),
      nameExpression(nameExpression) {}

jsOpXMLDescendants::~jsOpXMLDescendants() {
    delete object;
    delete nameReference;
    delete nameExpression;
}

Status jsOpXMLDescendants::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    ObjectRef holder;
    if (const Status s = objectOfPart(runner, object, holder))
        return s;
    if (!isXMLObject(holder.get()))
        return wrongClass(runner, "XML.descendants()");
    DataPoolId id = symbol;
    if (nameReference) {
        Reference reference;
        if (const Status s = nameReference->getReference(runner, reference, 0))
            return s;
        id = reference.symbol;
    } else if (nameExpression) {
        Variant name;
        if (const Status s = nameExpression->execute(runner, name))
            return s;
        id = pool().add(name);
    }
    String text = pool().getSymbol(id);
    if (attribute)
        text.insert("@", 0);
    LxCore::LiveObject* live = holder->getLiveObject();
    LiveHold hold(live);
    LxCore::Array args;
    args.getOrCreate(0).setString(text);
    LxCore::Error error;
    result.clear();
    if (live->callMethod(String("descendants"), args, result, &error) != 0) {
        result.clear();
        runner.engine->setError(error);
        return kStatusError;
    }
    runner.engine->importValue(result, true);
    return runner.status();
}

Status jsOpXMLDescendants::getReference(jsRunner& runner, Reference& reference, u32) {
    ObjectRef holder;
    if (const Status s = objectOfPart(runner, object, holder))
        return s;
    if (holder->getClassID() != Sym::kXML)
        return wrongClass(runner, "..");
    reference.setObject(holder.get());
    reference.symbol = kDescendantsName;
    reference.member = 1;
    return kStatusOK;
}

void jsOpXMLDescendants::writeOperands(CompiledScriptWriter& writer) const {
    jsOpVariable::writeOperands(writer);
    writer.writeNode(object);
    writer.writeNode(nameReference);
    writer.writeNode(nameExpression);
}

// ---------------------------------------------------------------------------
// Predicates

jsOpXMLPredicate::jsOpXMLPredicate(jsOpcode* object, jsOpcode* predicate)
    : jsOpVariable(0, false), object(object), predicate(predicate) {}

jsOpXMLPredicate::~jsOpXMLPredicate() {
    delete object;
    delete predicate;
}

Status jsOpXMLPredicate::execute(jsRunner& runner, Variant& result) {
    if (runner.stackExhausted())
        return runner.stackOverrun();
    ObjectRef holder;
    if (const Status s = objectOfPart(runner, object, holder))
        return s;
    if (!isXMLObject(holder.get()))
        return wrongClass(runner, "(predicate expression)");
    LxCore::LiveObject* live = holder->getLiveObject();
    LiveHold hold(live);
    auto* collection = static_cast<LxCore::LiveCollection*>(live->getInterface(LxCore::kCollectionInterface));
    u32 count = 0;
    if (!collection || collection->getLength(count) != 0)
        count = 0;
    XML* list = new XML(XML::kList);
    struct Release {
        XML* node;
        ~Release() { node->release(); }
    } releaseList{list};
    // The condition is an expression, which meets no statement's check:
    // each item is a unit of the engine's pollWork.
    for (u32 i = 0; i < count; i++) {
        if (!runner.engine->pollWork())
            return kStatusError;
        Variant item;
        LxCore::Error error;
        if (collection->getItem(i, item, &error) != 0)
            break;
        if (item.getType() == Variant::kUndefined)
            continue;
        XML* node = xmlOf(item);
        runner.engine->importValue(item, true);
        Object* scopeObject = objectOf(item);
        if (!scopeObject || !node)
            continue;
        node->addRef();
        struct Drop {
            XML* node;
            ~Drop() { node->release(); }
        } keepNode{node};
        Variant condition;
        Status s;
        {
            WithScope with(runner.getScope(), scopeObject);
            s = predicate->execute(runner, condition);
        }
        if (s)
            return s;
        if (condition.toBoolean())
            list->insert(node, XML::kAppend, false);
    }
    libraryHooks().makeXMLValue(list, result);
    runner.engine->importValue(result, true);
    return runner.status();
}

Status jsOpXMLPredicate::getReference(jsRunner& runner, Reference& reference, u32) {
    ObjectRef holder;
    if (const Status s = objectOfPart(runner, object, holder))
        return s;
    reference.setObject(holder.get());
    reference.member = 1;
    return kStatusOK;
}

void jsOpXMLPredicate::writeOperands(CompiledScriptWriter& writer) const {
    jsOpVariable::writeOperands(writer);
    writer.writeNode(object);
    writer.writeNode(predicate);
}

// ---------------------------------------------------------------------------
// typeof and delete

Status jsOpXMLUnaryRef::execute(jsRunner& runner, Variant& result) {
    if (const Status s = operand->execute(runner, result))
        return s;
    if (op == kOpTypeof)
        typeOfName(result);
    else if (op == kOpDelete)
        libraryHooks().deleteXMLValue(result);
    return runner.status();
}

}  // namespace LxScript
