// XML and XMLList objects: the live collection over one node, its names as
// properties, its items, construction and the settings of the class object.
// The methods are in XMLMethods.cpp.
#include "script/library/e4x/XMLObject.h"

#include <cstring>

#include "core/ErrorCodes.h"
#include "core/LivePropertyManager.h"
#include "script/engine/Engine.h"
#include "script/engine/Function.h"
#include "script/engine/Object.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Symbols.h"
#include "script/library/GlobalDialogs.h"
#include "script/library/e4x/QNameObject.h"
#include "script/library/e4x/XMLMethods.h"

namespace LxScript {

using LxCore::Array;
using LxCore::Error;
using LxCore::LiveObject;
using LxCore::String;
using LxCore::Variant;
using LxCore::XML;
namespace Err = LxCore::Err;

namespace {

// Indexes above this are no items.
constexpr u32 kMaxIndex = 0x7FFFFFFF;

// The settings members of the "XML" class object.
enum : i32 {
    kSettings = 100001,
    kSetSettings = 100002,
    kDefaultSettings = 100003,
    kIgnoreComments = 110001,
    kIgnoreProcessingInstructions = 110002,
    kIgnoreWhitespace = 110003,
    kPrettyPrinting = 110004,
    kPrettyIndent = 110005,
};

const LxCore::LivePropertyInfo kClassRows[] = {
    {"settings", kSettings, 0x65, "Object"},
    {"setSettings", kSetSettings, 0x65, "settings:Object"},
    {"defaultSettings", kDefaultSettings, 0x65, "Object"},
    {"ignoreComments", kIgnoreComments, 0x42, "boolean"},
    {"ignoreProcessingInstructions", kIgnoreProcessingInstructions, 0x42, "boolean"},
    {"ignoreWhitespace", kIgnoreWhitespace, 0x42, "boolean"},
    {"prettyPrinting", kPrettyPrinting, 0x42, "boolean"},
    {"prettyIndent", kPrettyIndent, 0x42, "number"},
    {nullptr, 0, 0, nullptr},
};

const LxCore::LivePropertyInfo kNoRows[] = {{nullptr, 0, 0, nullptr}};

LxCore::LivePropertyManager* instanceTable = nullptr;
LxCore::LivePropertyManager* xmlClassTable = nullptr;
LxCore::LivePropertyManager* listClassTable = nullptr;

RealEngine* currentEngine() { return dynamic_cast<RealEngine*>(Engine::getCurrent()); }

String nameOfId(i32 id) {
    String name;
    if (instanceTable && instanceTable->getPropertyName(id, name, LxCore::kScriptClient) == 0)
        return name;
    return DataPool::get().getSymbol(id);
}

// Whether node is candidate or lies below it (parent links).
bool isAncestorOrSelf(const XML* candidate, const XML* node) {
    for (const XML* at = node; at; at = at->getParent())
        if (at == candidate)
            return true;
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Settings and the default namespace

DefaultNamespaceScope::DefaultNamespaceScope() {
    const XMLSettings* s = XMLSettings::current();
    previous = XML::setDefaultNamespaceURI(s ? s->defaultNamespace : String());
}

DefaultNamespaceScope::~DefaultNamespaceScope() { XML::setDefaultNamespaceURI(previous); }

namespace {

// The namespace new elements take for a name (a new reference, or null):
// the engine's default for a name without a namespace part, so that the
// name finds what it made.
XML* newElementNamespace(const String& name) {
    const XMLSettings* s = XMLSettings::current();
    if (!s || s->defaultNamespace.isEmpty() || s->defaultNamespace.compare("*") == 0 ||
        name.find(LxCore::unit(':')) >= 0 || isAttributeName(name))
        return nullptr;
    XML* ns = new XML(XML::kNamespace, String());
    ns->setValue(s->defaultNamespace);
    return ns;
}

}  // namespace

// ---------------------------------------------------------------------------
// Helpers

XML* xmlOf(const Variant& value) { return getXMLFromLiveObject(value.getLiveObject(), false); }

XML* getXMLFromLiveObject(LiveObject* live, bool addRef) {
    if (!live)
        return nullptr;
    auto* object = static_cast<XMLObject*>(live->getInterface(kXMLObjectInterface));
    if (!object)
        return nullptr;
    XML* node = object->getNode();
    if (addRef)
        node->addRef();
    return node;
}

void makeXMLVariant(XML* node, Variant& out) {
    node->addRef();
    auto* made = new XMLObject(node, node->getKind() == XML::kList);
    out.setLiveObject(*made, 0);
    made->release();
}

void deleteXMLValue(Variant& value) {
    XML* node = xmlOf(value);
    if (node) {
        node->addRef();
        NodeRef hold(node);
        if (node->getKind() == XML::kList) {
            for (i32 i = node->getChildCount() - 1; i >= 0; i--)
                if (XML* parent = node->getChild(i)->getParent())
                    parent->removeChild(node->getChild(i));
        } else if (XML* parent = node->getParent()) {
            parent->removeChild(node);
        }
    }
    value.setBool(true);
}

bool isAttributeName(const String& name) {
    const i32 split = name.find(String("::"), -1, true);
    return name[split < 0 ? 0 : split + 2] == '@' || name[0] == '@';
}

XML* namespaceFromValue(const Variant& value) {
    if (const QNameObject* q = qnameObjectOf(value)) {
        if (q->anyNamespace)
            return nullptr;
        NamespaceObject ns(q->prefix.isEmpty() ? String("?") : q->prefix, q->uri);
        return ns.newNode();
    }
    if (const NamespaceObject* ns = namespaceObjectOf(value))
        return ns->newNode();
    XML* made = new XML(XML::kNamespace, String("*"));
    made->setValue(value.toString());
    return made;
}

LxCore::WorkMeter* scriptMeter(LxCore::WorkMeter& meter) {
    // The library runs only inside the concrete engine.
    const auto* engine = static_cast<const RealEngine*>(Engine::getCurrent());
    return engine && engine->isRunning() && engine->getPendingCode() == 0 ? &meter : nullptr;
}

XML* copyApart(const XML* node, LxCore::WorkMeter* meter) {
    if (node->getKind() != XML::kList)
        return node->copy(true, meter);
    NodeRef list(new XML(XML::kList));
    for (i32 i = 0; i < node->getChildCount() && !(meter && meter->isStopped()); i++)
        list.get()->insert(node->getChild(i)->copy(true, meter), XML::kAppend, true);
    return list.take();
}

// A value as a node for the tree (a new reference): an XML value itself,
// or a deep copy when it sits in a tree already, so that no node ever has
// two parents; any other value a text node of its string.
XML* nodeForInsert(const Variant& value) {
    XML* node = xmlOf(value);
    if (!node)
        return new XML(XML::kText, value.toString());
    bool placed = node->getParent() != nullptr;
    if (node->getKind() == XML::kList)
        for (i32 i = 0; i < node->getChildCount() && !placed; i++)
            placed = node->getChild(i)->getParent() != nullptr;
    if (placed)
        return copyApart(node);
    node->addRef();
    return node;
}

// True when putting value into target would make target its own ancestor.
bool wouldNest(const XML* value, const XML* target) {
    if (value->getKind() != XML::kList)
        return isAncestorOrSelf(value, target) || value == target;
    for (i32 i = 0; i < value->getChildCount(); i++)
        if (wouldNest(value->getChild(i), target))
            return true;
    if (target->getKind() == XML::kList)
        for (i32 i = 0; i < target->getChildCount(); i++)
            if (value == target->getChild(i))
                return true;
    return value == target;
}

// ---------------------------------------------------------------------------
// Construction

namespace {

bool isWrapperObjectValue(const Variant& value) {
    if (value.getType() == Variant::kLiveObject)
        return false;
    const Object* object = objectOf(value);
    if (!object)
        return value.getType() != Variant::kScriptObject;
    const DataPoolId cls = object->getClassID();
    return cls == Sym::kBoolean || cls == Sym::kNumber || cls == Sym::kString;
}

bool startsWith(const String& text, const char* prefix) {
    const i32 n = i32(std::strlen(prefix));
    return text.length() >= n && text.compare(prefix, n) == 0;
}

}  // namespace

// Steps 1 to 5 of the constructor; the node comes back with a reference.
i32 buildXML(const Variant& value, bool list, XML*& out, Error* error) {
    out = nullptr;
    if (XML* held = xmlOf(value)) {
        if (list) {
            if (held->getKind() == XML::kList) {
                out = held->copy(false);
            } else {
                out = new XML(XML::kList);
                out->insertContent(held, XML::kAppend, false);
            }
            return 0;
        }
        if (held->getKind() == XML::kList) {
            if (held->getChildCount() != 1)
                return Err::kJunkAfterDocument;
            held = held->getChild(0);
        }
        out = held->copy(true);
        return 0;
    }
    const u32 type = value.getType();
    if (type == Variant::kNull || ((type == Variant::kScriptObject || type == Variant::kLiveObject) &&
                                   !isWrapperObjectValue(value)))
        return Err::kCannotConvert;
    String text;
    if (type != Variant::kUndefined)
        text = value.toString();
    if (text.find(LxCore::unit('<')) < 0) {
        if (!list) {
            out = new XML(XML::kText, text);
        } else {
            out = new XML(XML::kList);
            if (type != Variant::kUndefined)
                out->insert(new XML(XML::kText, text), XML::kAppend, true);
        }
        return 0;
    }
    text.trim();
    const bool cdata = !list && startsWith(text, "<![CDATA[");
    if (list) {
        text.insert("<>", 0);
        text += "</>";
    } else if (cdata) {
        text.insert("<parent>", 0);
        text += "</parent>";
    }
    const XMLSettings* s = XMLSettings::current();
    DefaultNamespaceScope scope;
    Error parseError;
    i32 position = 0;
    XML* parsed = LxCore::parseXMLText(text, position, parseError, !s || s->ignoreWhitespace,
                                       !s || s->ignoreComments, !s || s->ignoreProcessingInstructions);
    if (!parsed) {
        if (error)
            *error = parseError;
        return parseError.getCode() ? parseError.getCode() : Err::kSyntaxError;
    }
    if (cdata) {
        XML* first = parsed->getChild(0);
        out = first ? first : new XML(XML::kText, String());
        if (first)
            first->addRef();
        parsed->release();
        if (out->getParent())
            out->getParent()->removeChild(out);
        return 0;
    }
    if (parsed->getKind() == XML::kList && parsed->getChildCount() > 0 &&
        parsed->getChild(0)->getKind() == XML::kComment) {
        parsed->release();
        return Err::kSyntaxError;
    }
    out = parsed;
    return 0;
}

// ---------------------------------------------------------------------------
// XMLObject

XMLObject::XMLObject(XML* held, bool list)
    : LiveCollection(list ? "XMLList" : "XML", kXMLLength, false), node(held), listMode(list) {
    propertyManager = instanceTable;
}

XMLObject::~XMLObject() {
    if (node)
        node->release();
}

void* XMLObject::getInterface(u32 code) {
    if (code == kXMLNodeInterface)
        return getNode();
    if (code == kXMLObjectInterface)
        return this;
    return LiveCollection::getInterface(code);
}

const void* XMLObject::getInterface(u32 code) const {
    return const_cast<XMLObject*>(this)->getInterface(code);
}

XML* XMLObject::getNode() {
    if (!node)
        node = new XML(XML::kList);
    return node;
}

XML* XMLObject::working() {
    XML* n = getNode();
    if (n->getKind() == XML::kList && n->getChildCount() == 1)
        return n->getChild(0);
    return n;
}

i32 XMLObject::initialize(const Array& args, Error* error) {
    return LxCore::statusOf([&] {
        XML* made = nullptr;
        const i32 status = buildXML(argumentAt(args, 0), listMode, made, error);
        if (status != 0)
            return status;
        if (node)
            node->release();
        node = made;
        // An object made around a list (a list literal) is a list.
        listMode = listMode || made->getKind() == XML::kList;
        return 0;
    });
}

i32 XMLObject::findProperty(const String& name, i32& id, u32& kind, u32 flags) {
    if (!usable()) {
        id = 0;
        kind = LxCore::kKindNone;
        return Err::kInvalidObject;
    }
    if (propertyManager && propertyManager->findProperty(name, id, kind, flags) == 0)
        return 0;
    // Every other name is a property of an XML object: its children.
    return LxCore::statusOf([&] {
        id = DataPool::get().add(name.chars());
        kind = LxCore::kKindReadWrite;
        return 0;
    });
}

i32 XMLObject::getPropertyName(i32 id, String& name, u32 flags) {
    if (propertyManager && propertyManager->getPropertyName(id, name, flags) == 0)
        return 0;
    return LxCore::statusOf([&] {
        name = DataPool::get().getSymbol(id);
        return 0;
    });
}

u32 XMLObject::getPropertyKind(i32 id) {
    if (propertyManager) {
        const u32 kind = propertyManager->getPropertyKind(id);
        if (kind != LxCore::kKindNone)
            return kind;
    }
    return LxCore::isOperatorId(id) ? LxCore::kKindNone : LxCore::kKindReadWrite;
}

i32 XMLObject::removeProperty(i32 id) {
    return LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        working()->removeByName(nameOfId(id));
        return 0;
    });
}

i32 XMLObject::get(i32 id, Variant& result, Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    return setPropertyError(LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        LxCore::WorkMeter meter;
        wrapFound(working()->find(nameOfId(id), 0, scriptMeter(meter)), result);
        if (meter.isStopped())
            result.clear();
        return 0;
    }), id, error);
}

i32 XMLObject::put(i32 id, const Variant& value, Error* error) {
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    String name;
    const i32 status = LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        name = nameOfId(id);
        return putNamed(name, value);
    });
    if (status == Err::kCannotSet && error && error->isEmpty())
        error->push(status, name, nullptr, true);
    return setPropertyError(status, id, error);
}

i32 XMLObject::putNamed(const String& name, const Variant& value) {
    XML* w = working();
    XML* held = xmlOf(value);
    if (!held) {
        if (w->getKind() == XML::kList)
            return Err::kCannotSet;
        NodeRef ns(newElementNamespace(name));
        LxCore::NewNodeNamespaceScope made(ns.get());
        w->put(name, value.toString());
        return 0;
    }
    if (isAttributeName(name)) {
        String text;
        if (held->getKind() == XML::kList) {
            for (i32 i = 0; i < held->getChildCount(); i++) {
                String one;
                if (i > 0)
                    text += ' ';
                text += held->getChild(i)->toString(one, -1);
            }
        } else {
            held->toString(text, -1);
        }
        w->put(name, text);
        return 0;
    }
    if (wouldNest(held, w))
        return Err::kCannotSet;
    NodeRef copy(copyApart(held));
    const i32 at = w->removeByName(name);
    w->insert(copy.get(), at < 0 ? XML::kAppend : at, false);
    return 0;
}

i32 XMLObject::call(i32 id, const Array& args, Variant& result, Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, id, error);
    const i32 status = LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        result.setLiveObject(*this, 0);
        return runXMLMethod(*this, id, args, result, error);
    });
    if (status != 0 && status != Err::kUndefined && error && error->isEmpty()) {
        String name = nameOfId(id);
        error->push(status, name, nullptr, true);
    }
    return setPropertyError(status, id, error);
}

void XMLObject::valueOf(Variant& result) { result.clear(); }

void XMLObject::toString(String& text) {
    text.clear();
    LxCore::statusOf([&] {
        LxCore::WorkMeter meter;
        getNode()->toString(text, XMLSettings::formatting(), scriptMeter(meter));
        return 0;
    });
}

i32 XMLObject::getLength(u32& length) {
    XML* w = working();
    length = w->getKind() == XML::kList ? u32(w->getChildCount()) : 1;
    return 0;
}

i32 XMLObject::getItem(u32 index, Variant& result, Error* error) {
    result.clear();
    if (!usable())
        return setPropertyError(Err::kInvalidObject, i32(index), error, true);
    return setPropertyError(LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        XML* n = getNode();
        if (n->getKind() != XML::kList) {
            if (index == 0)
                result.setLiveObject(*this, 0);
            return 0;
        }
        if (index < u32(n->getChildCount()))
            makeXMLVariant(n->getChild(i32(index)), result);
        return 0;
    }), i32(index), error, true);
}

namespace {

// The list of the parent's children named like element (same name and
// namespace URI); a new reference.
XML* siblingsNamedLike(XML* element) {
    XML* parent = element->getParent();
    XML* list = new XML(XML::kList);
    const XML* ns = element->getNamespace();
    for (i32 i = 0; i < parent->getChildCount(); i++) {
        XML* child = parent->getChild(i);
        const XML* childNs = child->getNamespace();
        if (child->getKind() == XML::kElement && child->getName() == element->getName() &&
            (childNs ? childNs->getValue() : String()) == (ns ? ns->getValue() : String()))
            list->insert(child, XML::kAppend, false);
    }
    return list;
}

}  // namespace

i32 XMLObject::putItem(u32 index, const Variant& value, Error* error) {
    if (!usable())
        return setPropertyError(Err::kInvalidObject, i32(index), error, true);
    if (index > kMaxIndex)
        return 0;
    const i32 status = LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        XML* held = xmlOf(value);
        XML* target = getNode();
        // The value goes in as a copy that shares nothing with any tree, so
        // no cycle can form, even when it holds the item it replaces.
        XML* fresh = held ? copyApart(held) : new XML(XML::kText, value.toString());
        NodeRef hold(fresh);
        if (fresh->getKind() == XML::kList && fresh->getChildCount() == 1) {
            XML* only = fresh->getChild(0);
            only->addRef();
            hold.reset(only);
            fresh = only;
        }
        if (target->getKind() != XML::kList) {
            XML* list;
            if (target->getKind() == XML::kElement && target->getParent()) {
                list = siblingsNamedLike(target);
            } else {
                list = new XML(XML::kList);
                list->insert(target, XML::kAppend, false);
            }
            node->release();
            node = target = list;
        }
        const i32 count = target->getChildCount();
        const bool valueIsElement = fresh->getKind() == XML::kElement || fresh->getKind() == XML::kList;
        if (i32(index) < count) {
            XML* item = target->getChild(i32(index));
            if (item->getKind() == XML::kElement && !valueIsElement) {
                while (item->getChildCount() > 0)
                    item->removeChildAt(item->getChildCount() - 1, 0);
                item->insert(fresh, XML::kAppend, false);
                return 0;
            }
            item->addRef();
            NodeRef keep(item);
            if (XML* parent = item->getParent()) {
                const i32 at = parent->indexOf(item, false);
                parent->removeChild(item);
                parent->insert(fresh, at < 0 ? XML::kAppend : at, false);
            }
            target->removeChildAt(i32(index), 0);
            target->insert(fresh, i32(index), false);
            return 0;
        }
        XML* last = count > 0 ? target->getChild(count - 1) : nullptr;
        XML* add = fresh;
        NodeRef wrapper;
        if (last && last->getKind() == XML::kElement && !valueIsElement) {
            add = new XML(last->getName());
            wrapper.reset(add);
            add->setNamespace(last->getNamespace());
            add->insert(fresh, XML::kAppend, false);
        }
        if (last && last->getParent()) {
            XML* parent = last->getParent();
            parent->insert(add, parent->indexOf(last, false) + 1, false);
        }
        target->insert(add, XML::kAppend, false);
        return 0;
    });
    return setPropertyError(status, i32(index), error, true);
}

i32 XMLObject::removeItem(u32 index) {
    return LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        XML* n = getNode();
        if (n->getKind() != XML::kList) {
            if (index == 0 && n->getParent())
                n->getParent()->removeChild(n);
            return 0;
        }
        if (index >= u32(n->getChildCount()))
            return 0;
        XML* item = n->getChild(i32(index));
        if (XML* parent = item->getParent())
            parent->removeChild(item);
        n->removeChildAt(i32(index), 0);
        return 0;
    });
}

// ---------------------------------------------------------------------------
// The class objects

namespace {

// "XML" and "XMLList": callable and constructible; XML also carries the
// settings.
class XMLFactory : public LiveObject {
public:
    explicit XMLFactory(bool list) : LiveObject(list ? "XMLList" : "XML", false), list(list) {
        propertyManager = list ? listClassTable : xmlClassTable;
        flags |= LxCore::kLiveFactory;
    }

    i32 clone(LiveObject*& out, bool) override {
        out = new XMLObject(nullptr, list);
        return 0;
    }

    i32 get(i32 id, Variant& result, Error* error) override {
        result.clear();
        XMLSettings* s = XMLSettings::current();
        if (list || id < kIgnoreComments || id > kPrettyIndent)
            return LiveObject::get(id, result, error);
        if (!s)
            return setPropertyError(Err::kCannotExecute, id, error);
        switch (id) {
            case kIgnoreComments: result.setBool(s->ignoreComments); break;
            case kIgnoreProcessingInstructions: result.setBool(s->ignoreProcessingInstructions); break;
            case kIgnoreWhitespace: result.setBool(s->ignoreWhitespace); break;
            case kPrettyPrinting: result.setBool(s->prettyPrinting); break;
            default: result.setInt(s->prettyIndent); break;
        }
        return 0;
    }

    i32 put(i32 id, const Variant& value, Error* error) override {
        if (list || id < kIgnoreComments || id > kPrettyIndent)
            return LiveObject::put(id, value, error);
        XMLSettings* s = XMLSettings::current();
        if (!s)
            return setPropertyError(Err::kCannotExecute, id, error);
        setField(*s, id, value);
        return 0;
    }

    i32 call(i32 id, const Array& args, Variant& result, Error* error) override {
        result.clear();
        if (!list && !currentEngine())
            return setPropertyError(Err::kCannotExecute, id, error);
        const i32 status = LxCore::statusOf([&] {
            if (id == LxCore::kSelfCallId)
                return callSelf(args, result, error);
            if (!list && id >= kSettings && id <= kDefaultSettings)
                return settingsCall(id, args, result);
            return Err::kUndefined;
        });
        return setPropertyError(status, id, error);
    }

private:
    bool list;

    static void setField(XMLSettings& s, i32 id, const Variant& value) {
        switch (id) {
            case kIgnoreComments: s.ignoreComments = value.toBoolean(); break;
            case kIgnoreProcessingInstructions: s.ignoreProcessingInstructions = value.toBoolean(); break;
            case kIgnoreWhitespace: s.ignoreWhitespace = value.toBoolean(); break;
            case kPrettyPrinting: s.prettyPrinting = value.toBoolean(); break;
            // Any integer: the printer counts indent times depth in 64 bits
            // and refuses a text past a String's length.
            default: s.prettyIndent = value.toInt(); break;
        }
    }

    i32 callSelf(const Array& args, Variant& result, Error* error) {
        const Variant& value = argumentAt(args, 0);
        if (auto* held = static_cast<XMLObject*>(value.getLiveObject()
                                                     ? value.getLiveObject()->getInterface(kXMLObjectInterface)
                                                     : nullptr)) {
            if (held->isListMode() == list) {
                result.setLiveObject(*held, 0);
                return 0;
            }
            if (list) {
                XML* made = new XML(XML::kList);
                NodeRef hold(made);
                made->insert(held->getNode(), XML::kAppend, false);
                makeXMLVariant(made, result);
                return 0;
            }
        }
        auto* made = new XMLObject(nullptr, list);
        LxCore::RefcountablePtr hold(made);
        const i32 status = made->initialize(args, error);
        if (status == 0)
            result.setLiveObject(*made, 0);
        return status;
    }

    // settings() and defaultSettings() evaluate an object literal text;
    // setSettings() reads the fields of its argument.
    i32 settingsCall(i32 id, const Array& args, Variant& result) {
        RealEngine* engine = currentEngine();
        XMLSettings* s = XMLSettings::current();
        const XMLSettings defaults;
        if (id == kSetSettings) {
            Object* from = args.length() > 0 ? objectOf(args[0]) : nullptr;
            if (!from) {
                *s = defaults;
                return 0;
            }
            static const struct { const char* name; i32 id; } kFields[] = {
                {"ignoreProcessingInstructions", kIgnoreProcessingInstructions},
                {"ignoreWhitespace", kIgnoreWhitespace},
                {"ignoreComments", kIgnoreComments},
                {"prettyPrinting", kPrettyPrinting},
                {"prettyIndent", kPrettyIndent},
            };
            for (const auto& field : kFields) {
                const DataPoolId symbol = DataPool::get().add(field.name);
                if (!from->findProperty(symbol, 0))
                    continue;
                Variant v;
                from->get(symbol, v, 0);
                setField(*s, field.id, v);
            }
            return 0;
        }
        const XMLSettings& shown = id == kSettings ? *s : defaults;
        auto word = [](bool b) { return b ? "true" : "false"; };
        String text;
        text.sprintf("({ignoreComments:%s, ignoreProcessingInstructions:%s,ignoreWhitespace:%s,"
                     "prettyPrinting:%s,prettyIndent:%d})",
                     word(shown.ignoreComments), word(shown.ignoreProcessingInstructions),
                     word(shown.ignoreWhitespace), word(shown.prettyPrinting), shown.prettyIndent);
        engine->eval(text, &result, 0, 0, nullptr, nullptr);
        return engine->getError().getCode();
    }
};

XML* bridgedNode(const Variant& value, bool addRef) {
    return getXMLFromLiveObject(value.getLiveObject(), addRef);
}

// How the engine's 'live' interface reaches XML values.
const XMLBridge kBridge = {bridgedNode, makeXMLVariant};

}  // namespace

const LxCore::DictionaryEntry* getXMLClassTable() {
    static const LxCore::DictionaryEntry kTable[] = {
        {getQNameRows(), "JavaScript", "QName"},
        {getNamespaceRows(), "JavaScript", "Namespace"},
        {kXMLRows, "JavaScript", "XML"},
        {nullptr, nullptr, nullptr},
    };
    return kTable;
}

void registerXmlClasses() {
    LiveObject::registerBuiltInClass(kXMLRows, kClassRows, instanceTable, xmlClassTable,
                                     [] { return static_cast<LiveObject*>(new XMLFactory(false)); },
                                     LxCore::kScriptClient);
    LxCore::LivePropertyManager* unused = nullptr;
    LiveObject::registerBuiltInClass(kNoRows, kNoRows, unused, listClassTable,
                                     [] { return static_cast<LiveObject*>(new XMLFactory(true)); },
                                     LxCore::kScriptClient);
    delete unused;
    initQNameClasses(true);
    setXMLBridge(&kBridge);
}

void invalidateXMLClasses() {
    setXMLBridge(nullptr);
    for (const char* name : {"XML", "QName", "Namespace", "XMLList"}) {
        LiveObject::unregisterClass(String(name));
        try {
            Engine::invalidateClassAll(String(name));
        } catch (...) {
        }
    }
    initQNameClasses(false);
    delete instanceTable;
    delete xmlClassTable;
    delete listClassTable;
    instanceTable = xmlClassTable = listClassTable = nullptr;
}

// ---------------------------------------------------------------------------
// Global function support and object-model hooks

bool isXMLName(Engine& engine, const Variant& value) {
    const Error saved = engine.getError();
    engine.clearError();
    const String text = value.toString();
    const i32 code = engine.getError().getCode();
    if (code == 0) {
        engine.restoreError(saved);
        return XML::isValidName(text);
    }
    if (code != Err::kScriptException)
        engine.restoreError(saved);
    return false;
}

void setDefaultXMLNamespace(const Variant& value, Variant& result) {
    XMLSettings* s = XMLSettings::current();
    if (!s) {
        result.setNull();
        return;
    }
    String uri;
    if (const QNameObject* q = qnameObjectOf(value))
        uri = q->uri;
    else if (const NamespaceObject* ns = namespaceObjectOf(value))
        uri = ns->uri;
    else if (value.getType() != Variant::kNull && value.getType() != Variant::kUndefined)
        uri = value.toString();
    result.setString(s->defaultNamespace);
    s->defaultNamespace = uri;
}

void ensureXMLChildElement(Object& object, i32 symbol) {
    XML* node = getXMLFromLiveObject(object.getLiveObject(), false);
    if (!node)
        return;
    LxCore::statusOf([&] {
        DefaultNamespaceScope scope;
        XMLObject* xml = static_cast<XMLObject*>(object.getLiveObject()->getInterface(kXMLObjectInterface));
        XML* w = xml->working();
        const String name = DataPool::get().getSymbol(symbol);
        if (w->getKind() != XML::kElement || name.isEmpty() || name.compare("*") == 0 ||
            isAttributeName(name))
            return 0;
        XML* found = w->find(name, 0);
        const bool missing = found->getChildCount() == 0;
        found->release();
        if (missing) {
            NodeRef ns(newElementNamespace(name));
            LxCore::NewNodeNamespaceScope made(ns.get());
            w->addChild(name);
        }
        return 0;
    });
}

bool xmlObjectHasSymbol(Object& object, i32 symbol) {
    if (object.getClassID() != Sym::kXML && object.getClassID() != Sym::kXMLList)
        return false;
    LiveObject* live = object.getLiveObject();
    auto* xml = live ? static_cast<XMLObject*>(live->getInterface(kXMLObjectInterface)) : nullptr;
    if (!xml)
        return false;
    bool has = false;
    LxCore::statusOf([&] {
        const String name = DataPool::get().getSymbol(symbol);
        i32 id;
        u32 kind;
        if (instanceTable && instanceTable->findProperty(name, id, kind, LxCore::kScriptClient) == 0 &&
            LxCore::isCallableKind(kind)) {
            has = true;
            return 0;
        }
        DefaultNamespaceScope scope;
        XML* found = xml->working()->find(name, 0);
        has = found->getChildCount() > 0;
        found->release();
        return 0;
    });
    return has;
}

namespace {

// Whether live is the class object of the class named.
bool isFactoryOf(LiveObject* live, const char* name) {
    return live && (live->getFlags() & LxCore::kLiveFactory) && live->getClassName().compare(name) == 0;
}

}  // namespace

void attachXMLPrototype(Object& function, Object& prototype) {
    if (!isFactoryOf(function.getLiveObject(), "XML"))
        return;
    auto* made = new XMLObject(nullptr, false);
    LxCore::RefcountablePtr hold(made);
    const Array none;
    if (made->initialize(none, nullptr) == 0)
        prototype.setLiveObject(made);
}

Object* linkXMLListPrototype(Object& function, Object* global) {
    if (!global || !isFactoryOf(function.getLiveObject(), "XMLList"))
        return nullptr;
    Variant xmlClass;
    if (!global->get(Sym::kXML, xmlClass, 0))
        return nullptr;
    Object* constructor = objectOf(xmlClass);
    Function* f = constructor ? constructor->asFunction() : nullptr;
    return f && f != &function ? f->getPrototypeObject() : nullptr;
}

namespace {

XMLObject* xmlObjectOf(LiveObject* live) {
    return live ? static_cast<XMLObject*>(live->getInterface(kXMLObjectInterface)) : nullptr;
}

}  // namespace

bool xmlSimpleText(Object& object, String& text) {
    XMLObject* xml = xmlObjectOf(object.getLiveObject());
    if (!xml)
        return false;
    return LxCore::statusOf([&] {
        XML* w = xml->working();
        if (!w->hasSimpleContent())
            return 1;
        w->toString(text, -1);
        return 0;
    }) == 0;
}

void collectXMLForInKeys(LiveObject* live, Array& out) {
    XMLObject* xml = xmlObjectOf(live);
    if (!xml)
        return;
    XML* w = xml->working();
    XML* items = nullptr;
    if (w->getKind() == XML::kList) {
        w->addRef();
        items = w;
    } else {
        items = w->find(String("*"), 0);
    }
    NodeRef hold(items);
    for (i32 i = 0; i < items->getChildCount(); i++)
        if (items->getChild(i)->getKind() == XML::kElement)
            out.appendNumber(i);
}

void collectXMLForEachValues(LiveObject* live, Array& out) {
    XMLObject* xml = xmlObjectOf(live);
    if (!xml)
        return;
    // A list's items, even a one-item list's; a single node's children.
    XML* n = xml->getNode();
    for (i32 i = 0; i < n->getChildCount(); i++) {
        Variant v;
        makeXMLVariant(n->getChild(i), v);
        out.getOrCreate(out.length()) = v;
    }
}

}  // namespace LxScript
