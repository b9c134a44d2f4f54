// The methods of XML and XMLList objects. Each works on the object's
// working node; the result is preset to the object itself.
#include "script/library/e4x/XMLMethods.h"

#include "core/ErrorCodes.h"
#include "script/engine/Engine.h"
#include "script/engine/RealEngine.h"
#include "script/library/e4x/QNameObject.h"
#include "script/library/e4x/XMLObject.h"

namespace LxScript {

using LxCore::Array;
using LxCore::Error;
using LxCore::String;
using LxCore::Variant;
using LxCore::XML;
namespace Err = LxCore::Err;

namespace {

// Method ids: the last digits count on as if decimal.
enum : i32 {
    kEquals = 0x1ff10112,
    kPlus = 0x1ff10107,
    kAddNamespace = 0x7ffff000,
    kAppendChild = 0x7ffff001,
    kAttribute = 0x7ffff002,
    kAttributes = 0x7ffff003,
    kChild = 0x7ffff004,
    kChildIndex = 0x7ffff005,
    kChildren = 0x7ffff006,
    kComments = 0x7ffff007,
    kContains = 0x7ffff008,
    kCopy = 0x7ffff009,
    kDescendants = 0x7ffff010,
    kElements = 0x7ffff011,
    kHasOwnProperty = 0x7ffff012,
    kHasComplexContent = 0x7ffff013,
    kHasSimpleContent = 0x7ffff014,
    kInScopeNamespaces = 0x7ffff015,
    kInsertChildAfter = 0x7ffff016,
    kInsertChildBefore = 0x7ffff017,
    kLength = kXMLLength,
    kLocalName = 0x7ffff019,
    kName = 0x7ffff020,
    kNamespace = 0x7ffff021,
    kNamespaceDeclarations = 0x7ffff022,
    kNodeKind = 0x7ffff023,
    kNormalize = 0x7ffff024,
    kParent = 0x7ffff025,
    kProcessingInstructions = 0x7ffff026,
    kPrependChild = 0x7ffff027,
    kPropertyIsEnumerable = 0x7ffff028,
    kRemoveNamespace = 0x7ffff029,
    kReplace = 0x7ffff030,
    kSetChildren = 0x7ffff031,
    kSetLocalName = 0x7ffff032,
    kSetName = 0x7ffff033,
    kSetNamespace = 0x7ffff034,
    kText = 0x7ffff035,
    kToString = 0x1ff1ffff,
    kToXMLString = 0x7ffff037,
    kValueOf = 0x1ff1fffe,
    kXPath = 0x7ffff039,
    kToLocaleString = 0x7ffff100,
    kIsPrototypeOf = 0x7ffff102,
    kToSource = 0x7ffff103,
    kUnwatch = 0x7ffff104,
    kWatch = 0x7ffff105,
};

void wrapNew(XML* adopted, Variant& out) {
    NodeRef hold(adopted);
    makeXMLVariant(adopted, out);
}

bool pushBadArgument(Error* error, const String& text) {
    if (error && error->isEmpty())
        error->push(Err::kBadArgument, text, nullptr, true);
    return false;
}

// A name argument's text; undefined or null is error 19.
bool nameText(const Variant& v, String& out, Error* error) {
    if (isAbsent(v))
        return pushBadArgument(error, v.toString());
    out = v.toString();
    return true;
}

void newNamespaceValue(const String& prefix, const String& uri, Variant& out) {
    auto* made = new NamespaceObject(prefix, uri);
    out.setLiveObject(*made, 0);
    made->release();
}

void newNamespaceValue(const XML* ns, Variant& out) {
    newNamespaceValue(ns->getName().compare("*") == 0 ? String("?") : ns->getName(), ns->getValue(), out);
}

// Namespace nodes of a list as a script Array of Namespace objects.
void namespaceArray(const XML* list, Variant& out) {
    Array items;
    for (i32 i = 0; i < list->getChildCount(); i++)
        newNamespaceValue(list->getChild(i), items.getOrCreate(u32(i)));
    auto* engine = dynamic_cast<RealEngine*>(Engine::getCurrent());
    if (!engine) {
        out.setArray(items);
        return;
    }
    for (u32 i = 0; i < items.length(); i++)
        engine->importValue(items.getOrCreate(i), true);
    engine->newArray(items, out);
}

// Whether a value is an unsigned integer (or its text); its value to index.
bool indexOfValue(const Variant& v, u32& index) {
    if (v.getType() == Variant::kNumber) {
        const f64 d = v.toNumber();
        if (d >= 0 && d <= 4294967294.0 && d == f64(u32(d))) {
            index = u32(d);
            return true;
        }
        return false;
    }
    if (v.getType() != Variant::kString)
        return false;
    const String text = v.toString();
    if (text.isEmpty() || text.length() > 10 || (text.length() > 1 && text[0] == '0'))
        return false;
    u64 n = 0;
    for (i32 i = 0; i < text.length(); i++) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        n = n * 10 + u32(text[i] - '0');
    }
    if (n > 4294967294ull)
        return false;
    index = u32(n);
    return true;
}

// The value inserted into w at the index. The node itself or one of w's
// ancestors is refused before any copy could hide it.
i32 insertValue(XML* w, const Variant& value, i32 at, Error* error) {
    const XML* held = xmlOf(value);
    if ((held && wouldNest(held, w)) || !w->insert(nodeForInsert(value), at, true))
        return pushBadArgument(error, value.toString()), Err::kBadArgument;
    return 0;
}

i32 insertAround(XML* w, const Array& args, bool after, Error* error) {
    const Variant& anchor = argumentAt(args, 0);
    i32 at;
    if (isAbsent(anchor)) {
        at = after ? 0 : XML::kAppend;
    } else {
        XML* anchorNode = xmlOf(anchor);
        if (anchorNode && anchorNode->getKind() == XML::kList && anchorNode->getChildCount() == 1)
            anchorNode = anchorNode->getChild(0);
        const i32 found = anchorNode ? w->indexOf(anchorNode, false) : -1;
        if (found < 0)
            return pushBadArgument(error, anchor.toString()), Err::kBadArgument;
        at = after ? found + 1 : found;
    }
    return insertValue(w, argumentAt(args, 1), at, error);
}

// replace(name, value): the value goes where the first child of the name
// was; checked before anything is removed.
i32 replaceChildren(XML* w, const Array& args, Error* error) {
    const Variant& which = argumentAt(args, 0);
    const Variant& value = argumentAt(args, 1);
    XML* held = xmlOf(value);
    if ((w->getKind() != XML::kElement && w->getKind() != XML::kList) || (held && wouldNest(held, w)))
        return pushBadArgument(error, value.toString()), Err::kBadArgument;
    NodeRef fresh(nodeForInsert(value));
    u32 index;
    if (indexOfValue(which, index)) {
        if (index < u32(w->getChildCount())) {
            w->removeChildAt(i32(index), 0);
            w->insertContent(fresh.get(), i32(index), false);
        } else {
            w->insertContent(fresh.get(), XML::kAppend, false);
        }
        return 0;
    }
    String name;
    if (!nameText(which, name, error))
        return Err::kBadArgument;
    const i32 at = w->removeByName(name);
    if (!w->insertContent(fresh.get(), at < 0 ? XML::kAppend : at, false))
        return pushBadArgument(error, value.toString()), Err::kBadArgument;
    return 0;
}

const XML* singleOrList(const XML* node) {
    return node->getKind() == XML::kList && node->getChildCount() == 1 ? node->getChild(0) : node;
}

// Two XML values compared by value: a one-item list as its item, lists
// item by item, so that a text equals an attribute of the same value.
bool equalByValue(const XML* a, const XML* b) {
    a = singleOrList(a);
    b = singleOrList(b);
    if (a->getKind() != XML::kList && b->getKind() != XML::kList)
        return a->equals(b, true);
    if (a->getKind() != b->getKind() || a->getChildCount() != b->getChildCount())
        return false;
    for (i32 i = 0; i < a->getChildCount(); i++)
        if (!a->getChild(i)->equals(b->getChild(i), true))
            return false;
    return true;
}

i32 equalsMethod(XMLObject& self, const Array& args, Variant& result) {
    XML* w = self.working();
    const Variant& other = argumentAt(args, 0);
    String mine;
    w->toString(mine, -1);
    if (other.getType() == Variant::kUndefined) {
        result.setBool(w->getKind() == XML::kList && w->getChildCount() == 0);
    } else if (const XML* node = xmlOf(other)) {
        result.setBool(equalByValue(w, node));
    } else if (other.getType() == Variant::kNumber) {
        result.setBool(Variant(mine).toNumber() == other.toNumber());
    } else {
        result.setBool(mine == other.toString());
    }
    return 0;
}

// "+": a list of both; a value without XML gives undefined, so the
// ordinary "+" runs.
i32 plusMethod(XMLObject& self, const Array& args, Variant& result) {
    XML* other = xmlOf(argumentAt(args, 0));
    if (!other) {
        result.clear();
        return 0;
    }
    if (args.length() < 2)
        return 0;
    XML* list = new XML(XML::kList);
    NodeRef hold(list);
    const bool reversed = argumentAt(args, 1).toBoolean();
    list->insert(reversed ? other : self.getNode(), XML::kAppend, false);
    list->insert(reversed ? self.getNode() : other, XML::kAppend, false);
    makeXMLVariant(list, result);
    return 0;
}

i32 nameMethod(XML* w, Variant& result) {
    if (w->getKind() == XML::kText || w->getKind() == XML::kComment || w->getKind() == XML::kList) {
        result.setNull();
        return 0;
    }
    auto* q = new QNameObject;
    LxCore::RefcountablePtr hold(q);
    if (const XML* ns = w->getNamespace()) {
        q->uri = ns->getValue();
        if (ns->getName().compare("*") != 0)
            q->prefix = ns->getName();
    }
    q->localName = w->getName();
    result.setLiveObject(*q, 0);
    return 0;
}

i32 namespaceMethod(XML* w, const Array& args, Variant& result) {
    if (args.length() > 0 && !isAbsent(args[0])) {
        const String prefix = args[0].toString();
        const XML* found = w->findNamespace(&prefix, nullptr, true);
        if (found)
            newNamespaceValue(found, result);
        else
            result.clear();
        return 0;
    }
    const i32 kind = w->getKind();
    const XML* ns = w->getNamespace();
    if (!ns && kind == XML::kElement) {
        const String empty;
        ns = w->findNamespace(&empty, nullptr, true);
    }
    if (ns) {
        newNamespaceValue(ns, result);
    } else if (kind == XML::kElement || kind == XML::kAttribute) {
        newNamespaceValue(String(), String(), result);     // no namespace: the empty one
    } else if (kind == XML::kList) {
        result.clear();
    } else {
        result.setNull();
    }
    return 0;
}

i32 setNameMethod(XML* w, const Array& args, bool localOnly, Error* error) {
    const i32 kind = w->getKind();
    if (kind != XML::kElement && kind != XML::kAttribute && kind != XML::kProcessingInstruction)
        return 0;
    if (localOnly) {
        String name;
        if (!nameText(argumentAt(args, 0), name, error))
            return Err::kBadArgument;
        w->setName(name);
        return 0;
    }
    auto* q = new QNameObject;
    LxCore::RefcountablePtr hold(q);
    Array qArgs;
    qArgs.getOrCreate(0) = argumentAt(args, 0);
    if (const i32 status = q->initialize(qArgs, error))
        return status;
    w->setName(q->localName);
    if (kind == XML::kProcessingInstruction)
        return 0;
    if (q->anyNamespace || q->uri.isEmpty()) {
        w->setNamespace(nullptr);
        return 0;
    }
    NamespaceObject ns(q->prefix.isEmpty() ? String("?") : q->prefix, q->uri);
    NodeRef node(ns.newNode());
    w->setNamespace(node.get());
    return 0;
}

i32 setNamespaceMethod(XML* w, const Array& args, Error* error) {
    if (w->getKind() != XML::kElement && w->getKind() != XML::kAttribute)
        return 0;
    auto* ns = new NamespaceObject;
    LxCore::RefcountablePtr hold(ns);
    if (const i32 status = ns->initialize(args, error))
        return status;
    NodeRef node(ns->newNode());
    w->setNamespace(node.get());
    return 0;
}

i32 parentMethod(XML* w, Variant& result) {
    XML* parent = nullptr;
    if (w->getKind() == XML::kList) {
        for (i32 i = 0; i < w->getChildCount(); i++) {
            XML* p = w->getChild(i)->getParent();
            if (!p || (parent && p != parent)) {
                parent = nullptr;
                break;
            }
            parent = p;
        }
    } else {
        parent = w->getParent();
    }
    if (parent)
        makeXMLVariant(parent, result);
    else
        result.clear();
    return 0;
}

i32 xpathMethod(XMLObject& self, const Array& args, Variant& result, Error* error) {
    LxCore::THashTable<String> variables;
    bool haveVariables = false;
    Object* bag = args.length() > 1 ? objectOf(args[1]) : nullptr;
    auto* engine = dynamic_cast<RealEngine*>(Engine::getCurrent());
    if (bag && engine) {
        LxCore::SimpleArray ids;
        bag->getPropertyIDs(ids, 0);
        for (i32 i = 0; i < ids.getCount(); i++) {
            const DataPoolId id = DataPoolId(ids.get(i));
            Variant v;
            bag->get(id, v, 0);
            variables.put(DataPool::get().getSymbol(id), new String(v.toString()));
            haveVariables = true;
        }
    }
    XML* on = self.isListMode() ? self.getNode() : self.working();
    Error failed;
    result.clear();
    XML* found = on->xpath(argumentAt(args, 0).toString(), result, failed, haveVariables ? &variables : nullptr);
    if (!failed.isEmpty()) {
        if (error)
            *error = failed;
        return failed.getCode();
    }
    if (found)
        wrapNew(found, result);
    return 0;
}

}  // namespace

void wrapFound(XML* adopted, Variant& out) {
    NodeRef hold(adopted);
    makeXMLVariant(adopted->getChildCount() == 1 ? adopted->getChild(0) : adopted, out);
}

const LxCore::LivePropertyInfo kXMLRows[] = {
    {"==", kEquals, 0xe5, nullptr},
    {"+", kPlus, 0xe5, nullptr},
    {"addNamespace", kAddNamespace, 0x66, "undefined/XML,namespace:Namespace"},
    {"appendChild", kAppendChild, 0x66, "XML/XML,child:XML"},
    {"attribute", kAttribute, 0x66, "XML/XML,name:string"},
    {"attributes", kAttributes, 0x66, "XML/XML"},
    {"child", kChild, 0x66, "XML/XML,name:string"},
    {"childIndex", kChildIndex, 0x66, "number/XML"},
    {"children", kChildren, 0x66, "XML/XML"},
    {"comments", kComments, 0x66, "XML/XML"},
    {"contains", kContains, 0x66, "boolean/XML,xml:XML"},
    {"copy", kCopy, 0x66, "XML/XML"},
    {"descendants", kDescendants, 0x66, "XML/XML,name:string"},
    {"elements", kElements, 0x66, "XML/XML,name:string"},
    {"hasOwnProperty", kHasOwnProperty, 0x66, "XML/XML,name:string"},
    {"hasComplexContent", kHasComplexContent, 0x66, "boolean/XML,name:string"},
    {"hasSimpleContent", kHasSimpleContent, 0x66, "boolean/XML"},
    {"inScopeNamespaces", kInScopeNamespaces, 0x66, "Array/XML"},
    {"insertChildAfter", kInsertChildAfter, 0x66, "undefined/XML,child1:XML,child2:XML"},
    {"insertChildBefore", kInsertChildBefore, 0x66, "undefined/XML,child1:XML,child2:XML"},
    {"length", kLength, 0x66, "number/XML"},
    {"localName", kLocalName, 0x66, "string/XML"},
    {"name", kName, 0x66, "QName/XML"},
    {"namespace", kNamespace, 0x66, "Namespace/XML"},
    {"namespaceDeclarations", kNamespaceDeclarations, 0x66, "Array/XML"},
    {"nodeKind", kNodeKind, 0x66, "string/XML"},
    {"normalize", kNormalize, 0x66, "XML/XML"},
    {"parent", kParent, 0x66, "XML/XML"},
    {"processingInstructions", kProcessingInstructions, 0x66, "XML/XML,name:string"},
    {"prependChild", kPrependChild, 0x66, "XML/XML,value:XML"},
    {"propertyIsEnumerable", kPropertyIsEnumerable, 0x66, "boolean/XML,name:string"},
    {"removeNamespace", kRemoveNamespace, 0x66, "XML/XML,namespace:Namespace"},
    {"replace", kReplace, 0x66, "XML/XML,name:string,value:XML"},
    {"setChildren", kSetChildren, 0x66, "XML/XML,children:XML"},
    {"setLocalName", kSetLocalName, 0x66, "undefined/XML,name:string"},
    {"setName", kSetName, 0x66, "undefined/XML,name:QName"},
    {"setNamespace", kSetNamespace, 0x66, "undefined/XML,namespace:Namespace"},
    {"text", kText, 0x66, "XML/XML"},
    {"toString", kToString, 0x66, "string/XML"},
    {"toXMLString", kToXMLString, 0x66, "string/XML"},
    {"valueOf", kValueOf, 0x66, "string/XML"},
    {"xpath", kXPath, 0x66, "XML/XML,expr:string"},
    {"toLocaleString", kToLocaleString, 0x66, "string"},
    {"isPrototypeOf", kIsPrototypeOf, 0x66, "boolean,what:object"},
    {"toSource", kToSource, 0x66, "string"},
    {"unwatch", kUnwatch, 0x66, "undefined"},
    {"watch", kWatch, 0x66, "undefined"},
    {nullptr, 0, 0, nullptr},
};

namespace {

i32 runMethod(XMLObject& self, i32 id, const Array& args, Variant& result, Error* error,
              LxCore::WorkMeter& work) {
    // Asked only by the methods that walk.
    auto meter = [&work] { return scriptMeter(work); };
    XML* w = self.working();
    String text;
    switch (id) {
        case kEquals:
            return equalsMethod(self, args, result);
        case kPlus:
            return plusMethod(self, args, result);
        case kAddNamespace: {
            auto* ns = new NamespaceObject;
            LxCore::RefcountablePtr hold(ns);
            if (const i32 status = ns->initialize(args, error))
                return status;
            if (!ns->prefixUndefined)
                w->insert(ns->newNode(), XML::kAppend, true);
            return 0;
        }
        case kAppendChild:
        case kPrependChild:
            return insertValue(w, argumentAt(args, 0), id == kAppendChild ? XML::kAppend : 0, error);
        case kAttribute:
        case kChild: {
            const Variant& which = argumentAt(args, 0);
            u32 index;
            if (id == kChild && which.getType() == Variant::kNumber) {
                XML* list = new XML(XML::kList);
                if (indexOfValue(which, index) && index < u32(w->getChildCount()))
                    list->insert(w->getChild(i32(index)), XML::kAppend, false);
                wrapFound(list, result);
                return 0;
            }
            if (!nameText(which, text, error))
                return Err::kBadArgument;
            if (id == kAttribute) {
                if (text[0] != '@')
                    text.insert("@", 0);
            } else {
                i32 skip = 0;
                while (text[skip] == '@')
                    skip++;
                text = text.substr(skip);
            }
            wrapFound(w->find(text, 0, meter()), result);
            return 0;
        }
        case kAttributes:
            wrapFound(w->find(String("@*"), 0, meter()), result);
            return 0;
        case kChildren:
            wrapFound(w->find(String("*"), 0, meter()), result);
            return 0;
        case kChildIndex: {
            const XML* parent = w->getParent();
            result.setInt(parent ? parent->indexOf(w, false) : -1);
            return 0;
        }
        case kComments:
        case kText:
        case kProcessingInstructions: {
            const i32 kind = id == kComments ? XML::kComment : id == kText ? XML::kText : XML::kProcessingInstruction;
            XML* found = w->findByKind(kind, 0, meter());
            const Variant& which = argumentAt(args, 0);
            if (id == kProcessingInstructions && !isAbsent(which) && which.toString().compare("*") != 0) {
                NodeRef all(found);
                found = new XML(XML::kList);
                const String name = which.toString();
                for (i32 i = 0; i < all.get()->getChildCount(); i++)
                    if (all.get()->getChild(i)->getName() == name)
                        found->insert(all.get()->getChild(i), XML::kAppend, false);
            }
            wrapFound(found, result);
            return 0;
        }
        case kContains: {
            XML* node = xmlOf(argumentAt(args, 0));
            result.setBool(node && w->contains(node, false));
            return 0;
        }
        case kCopy:
            wrapNew(copyApart(self.getNode(), meter()), result);
            return 0;
        case kDescendants: {
            const Variant& which = argumentAt(args, 0);
            text = isAbsent(which) ? String() : which.toString();
            if (text.isEmpty() || text.compare("*") == 0)
                wrapFound(w->getDescendants(meter()), result);
            else
                wrapFound(w->find(text, XML::kDescendants, meter()), result);
            return 0;
        }
        case kElements: {
            const Variant& which = argumentAt(args, 0);
            text = isAbsent(which) ? String() : which.toString();
            XML* found = text.isEmpty() ? w->findByKind(XML::kElement, 0, meter()) : nullptr;
            if (!found) {
                NodeRef named(w->find(text, 0, meter()));
                found = new XML(XML::kList);
                for (i32 i = 0; i < named.get()->getChildCount(); i++)
                    if (named.get()->getChild(i)->getKind() == XML::kElement)
                        found->insert(named.get()->getChild(i), XML::kAppend, false);
            }
            wrapFound(found, result);
            return 0;
        }
        case kHasOwnProperty: {
            const Variant& which = argumentAt(args, 0);
            u32 index;
            if (indexOfValue(which, index)) {
                result.setBool(index < (w->getKind() == XML::kList ? u32(w->getChildCount()) : 1u));
                return 0;
            }
            text = which.toString();
            i32 memberId;
            u32 kind;
            if (self.getPropertyManager() &&
                self.getPropertyManager()->findProperty(text, memberId, kind, LxCore::kScriptClient) == 0) {
                result.setBool(false);
                return 0;
            }
            NodeRef found(w->find(text, 0, meter()));
            result.setBool(found.get()->getChildCount() > 0);
            return 0;
        }
        case kHasComplexContent:
            result.setBool(!w->hasSimpleContent());
            return 0;
        case kHasSimpleContent:
            result.setBool(w->hasSimpleContent());
            return 0;
        case kInScopeNamespaces: {
            NodeRef list(w->getInScopeNamespaces());
            namespaceArray(list.get(), result);
            return 0;
        }
        case kNamespaceDeclarations: {
            NodeRef list(new XML(XML::kList));
            for (i32 i = 0; i < w->getDeclarationCount(); i++)
                list.get()->insert(w->getDeclaration(i), XML::kAppend, false);
            namespaceArray(list.get(), result);
            return 0;
        }
        case kInsertChildAfter:
        case kInsertChildBefore:
            return insertAround(w, args, id == kInsertChildAfter, error);
        case kLength:
            result.setInt(w->getKind() == XML::kList ? w->getChildCount() : 1);
            return 0;
        case kLocalName:
            if (w->getKind() == XML::kText || w->getKind() == XML::kComment)
                result.setNull();
            else
                result.setString(w->getName());
            return 0;
        case kName:
            return nameMethod(w, result);
        case kNamespace:
            return namespaceMethod(w, args, result);
        case kNodeKind:
            result.setString(w->getKindName());
            return 0;
        case kNormalize:
            w->normalize();
            return 0;
        case kParent:
            return parentMethod(w, result);
        case kPropertyIsEnumerable:
            result.setBool(argumentAt(args, 0).toString().compare("0") == 0);
            return 0;
        case kRemoveNamespace: {
            NodeRef ns(namespaceFromValue(argumentAt(args, 0)));
            if (ns.get())
                w->removeNamespace(ns.get(), false);
            wrapNew(copyApart(w, meter()), result);
            return 0;
        }
        case kReplace:
            return replaceChildren(w, args, error);
        case kSetChildren: {
            const Variant& value = argumentAt(args, 0);
            XML* held = xmlOf(value);
            if (held && wouldNest(held, w))
                return Err::kCannotSet;
            if (held)
                w->put(String("*"), nodeForInsert(value), true);
            else
                w->put(String("*"), value.toString());
            return 0;
        }
        case kSetLocalName:
            return setNameMethod(w, args, true, error);
        case kSetName:
            return setNameMethod(w, args, false, error);
        case kSetNamespace:
            return setNamespaceMethod(w, args, error);
        case kToString:
        case kToLocaleString:
            self.toString(text);
            result.setString(text);
            return 0;
        case kToXMLString:
            self.getNode()->toXMLString(text, XMLSettings::formatting(), meter());
            result.setString(text);
            return 0;
        case kValueOf:
            return 0;
        case kXPath:
            return xpathMethod(self, args, result, error);
        case kIsPrototypeOf:
            result.setBool(false);
            return 0;
        case kToSource:
            result.setString("({})");
            return 0;
        case kWatch:
        case kUnwatch:
            return 0;
        default:
            return Err::kUndefined;
    }
}

}  // namespace

i32 runXMLMethod(XMLObject& self, i32 id, const Array& args, Variant& result, Error* error) {
    LxCore::WorkMeter meter;
    const i32 status = runMethod(self, id, args, result, error, meter);
    // What a stopped walk made is dropped: the engine holds the error.
    if (meter.isStopped())
        result.clear();
    return status;
}

}  // namespace LxScript
