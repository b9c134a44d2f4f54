// XPath over XML nodes: the callbacks that bind the engine to the node
// model, and XML::xpath with its error table.
//
// Axes walk without recursion and drop repeats: a step's result holds each
// node once, the first time it is found. Walks from several input nodes stop
// where an earlier walk has been already (its nodes below, above or after
// are in the result then), so overlapping inputs cost no more than one walk.
#include <cstring>
#include <new>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/CharClass.h"
#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/Variant.h"
#include "core/XML.h"
#include "core/XMLInternal.h"
#include "core/XPath.h"

namespace LxCore {

namespace {

XML* asNode(XPathNode n) { return static_cast<XML*>(n); }

// A copy of a text on the core heap, for the engine to free.
unit* heapText(const unit* units, i32 length) {
    auto* text = static_cast<unit*>(Heap::alloc(u64(length + 1) * sizeof(unit)));
    std::memcpy(text, units, size_t(length) * sizeof(unit));
    text[length] = 0;
    return text;
}

unit* heapText(const String& s) { return heapText(s.chars(), s.length()); }

void* allocate(u64 bytes, void*) {
    try {
        return Heap::alloc(bytes);
    } catch (...) {
        return nullptr;
    }
}

void release(void* memory) { Heap::free(memory); }

// ---- the node test of one step ----

class NodeTest {
public:
    NodeTest(i32 axis, i32 test, const unit* name) : axis(axis), test(test) {
        if (name)
            text = String(name);
        if (test != kXPathName)
            return;
        const i32 colon = text.find(unit(':'));
        if (colon > 0) {
            prefix = text.substr(0, colon);
            local = text.substr(colon + 1);
            if (isAscii(local, "*"))
                local.clear();
            prefixed = true;
        }
    }

    bool matches(XML* node) {
        switch (test) {
        case kXPathAnyNode:
            return true;
        case kXPathText:
            return node->getKind() == XML::kText;
        case kXPathComment:
            return node->getKind() == XML::kComment;
        case kXPathInstruction:
            return node->getKind() == XML::kProcessingInstruction &&
                   (text.isEmpty() || node->getName() == text);
        default:
            break;
        }
        const i32 principal = axis == kXPathAttribute ? XML::kAttribute
                              : axis == kXPathNamespace ? XML::kNamespace
                                                        : XML::kElement;
        if (node->getKind() != principal)
            return false;
        if (principal == XML::kNamespace)
            return isAscii(text, "*") || node->getName() == text;
        return qualified(node).matches(node, namespaces.effective(node->getParent()));
    }

private:
    i32 axis;
    i32 test;
    String text;
    String prefix;
    String local;
    bool prefixed = false;

    // What the namespaces in scope say, remembered per node so that deep
    // trees are walked up once.
    struct Memo {
        std::unordered_map<const XML*, const XML*> effectives;
        template <class Own>
        const XML* upwards(std::unordered_map<const XML*, const XML*>& memo, const XML* from, Own own) {
            std::vector<const XML*> path;
            const XML* found = nullptr;
            const XML* at = from;
            for (; at; at = at->getParent()) {
                auto hit = memo.find(at);
                if (hit != memo.end()) {
                    found = hit->second;
                    break;
                }
                if ((found = own(at)))
                    break;
                path.push_back(at);
            }
            if (at && !memo.count(at))
                memo[at] = found;
            for (const XML* p : path)
                memo[p] = found;
            return found;
        }

        const XML* effective(const XML* node) {
            return upwards(effectives, node, [](const XML* n) { return n->getNamespace(); });
        }
    } namespaces;

    std::unordered_map<const XML*, const XML*> prefixMemo;
    QualifiedName plain;
    bool plainRead = false;

    // A prefixed name's namespace is the one its prefix has in scope at the
    // node's parent; an unknown prefix matches nothing.
    QualifiedName qualified(XML* node) {
        if (!prefixed) {
            if (!plainRead) {
                plain.read(text, node->getParent() ? node->getParent() : node);
                plainRead = true;
            }
            return plain;
        }
        QualifiedName q;
        q.local = local;
        const XML* scope = node->getParent() ? node->getParent() : node;
        const String& p = prefix;
        const XML* ns = isAscii(p, "xml")
                            ? XML::getXMLNamespace()
                            : namespaces.upwards(prefixMemo, scope, [&p](const XML* n) -> const XML* {
                                  return n->findNamespace(&p, nullptr, false);
                              });
        if (!ns) {
            q.unresolved = true;
            return q;
        }
        q.hasNamespace = true;
        q.node = ns;
        q.uri = ns->getValue();
        return q;
    }
};

// ---- one axis over every node of an input set ----

class AxisWalk {
public:
    AxisWalk(i32 axis, NodeTest& test, XML* result) : axis(axis), test(test), result(result) {}

    void from(XML* node, bool selfToo) {
        if (selfToo)
            offer(node);
        switch (axis) {
        case kXPathChild:
            for (i32 i = 0; i < node->getChildCount(); i++)
                offer(node->getChild(i));
            break;
        case kXPathDescendant:
            below(node);
            break;
        case kXPathDescendantOrSelf:
            offer(node);
            below(node);
            break;
        case kXPathParent:
            if (node->getParent())
                offer(node->getParent());
            break;
        case kXPathAncestorOrSelf:
            offer(node);
            [[fallthrough]];
        case kXPathAncestor:
            for (XML* at = node->getParent(); at && walked.insert(at).second; at = at->getParent())
                offer(at);
            break;
        case kXPathFollowingSibling:
        case kXPathPrecedingSibling:
            siblings(node, axis == kXPathFollowingSibling ? 1 : -1);
            break;
        case kXPathAttribute:
            for (i32 i = 0; i < node->getAttributeCount(); i++)
                offer(node->getAttribute(i));
            break;
        case kXPathNamespace:
            if (node->getKind() == XML::kElement) {
                XML* inScope = node->getInScopeNamespaces();
                for (i32 i = 0; i < inScope->getChildCount(); i++)
                    offer(inScope->getChild(i));
                inScope->release();
            }
            break;
        case kXPathSelf:
            offer(node);
            break;
        default:    // following and preceding select nothing
            break;
        }
    }

private:
    i32 axis;
    NodeTest& test;
    XML* result;
    std::unordered_set<const XML*> taken;     // in the result
    std::unordered_set<const XML*> walked;    // reached by an earlier walk
    std::unordered_map<const XML*, std::unordered_map<const XML*, i32>> places;

    void offer(XML* node) {
        if (taken.count(node) || !test.matches(node))
            return;
        taken.insert(node);
        node->addRef();
        XMLTree::adoptChild(result, node);
    }

    // Depth first; a subtree walked before is walked whole already.
    void below(XML* top) {
        XMLTree::forEachBelow(top, [&](XML* child) {
            if (!walked.insert(child).second)
                return false;
            offer(child);
            return true;
        });
    }

    i32 placeOf(const XML* parent, const XML* node) {
        const i32 n = parent->getChildCount();
        if (n <= 32)
            return parent->indexOf(node, false);
        auto& map = places[parent];
        if (map.empty())
            for (i32 i = 0; i < n; i++)
                map.emplace(parent->getChild(i), i);
        auto it = map.find(node);
        return it == map.end() ? -1 : it->second;
    }

    // Nearest first; stops at a sibling an earlier walk reached.
    void siblings(XML* node, i32 direction) {
        XML* parent = node->getParent();
        if (!parent || node->getKind() == XML::kAttribute || node->getKind() == XML::kNamespace)
            return;
        const i32 at = placeOf(parent, node);
        if (at < 0)
            return;
        for (i32 i = at + direction; i >= 0 && i < parent->getChildCount(); i += direction) {
            XML* sibling = parent->getChild(i);
            if (!walked.insert(sibling).second)
                break;
            offer(sibling);
        }
    }
};

// ---- the callbacks ----

i32 countOf(XML* set) {
    if (!set)
        return 0;
    return set->getKind() == XML::kList ? set->getChildCount() : 1;
}

XML* itemOf(XML* set, i32 index) {
    if (!set)
        return nullptr;
    if (set->getKind() == XML::kList)
        return set->getChild(index);
    return index == 0 ? set : nullptr;
}

XML* topmost(XML* node) {
    while (node->getParent())
        node = node->getParent();
    return node;
}

XPathNode onAxis(XPathContext*, XPathNode set, i32 axis, i32 test, const unit* name, bool absolute,
                 bool* temporary) {
    XML* input = asNode(set);
    XML* result = new XML(XML::kList);
    *temporary = true;
    try {
        NodeTest nodeTest(axis, test, name);
        AxisWalk walk(axis, nodeTest, result);
        // An absolute path starts at the topmost ancestor, a candidate itself.
        std::unordered_set<const XML*> roots;
        const bool listInput = input && input->getKind() == XML::kList;
        for (i32 i = 0; i < countOf(input); i++) {
            XML* node = itemOf(input, i);
            if (absolute && !listInput) {
                node = topmost(node);
                if (!roots.insert(node).second)
                    continue;
            }
            walk.from(node, absolute);
        }
    } catch (...) {
        result->release();
        return nullptr;
    }
    return result;
}

XPathNode onNewNodeSet(XPathContext*, bool* temporary) {
    *temporary = true;
    try {
        return new XML(XML::kList);
    } catch (...) {
        return nullptr;
    }
}

void onRelease(XPathContext*, XPathNode node) {
    if (node)
        asNode(node)->release();
}

bool onAdd(XPathContext*, XPathNode set, XPathNode node) {
    try {
        return set && node && asNode(set)->insert(asNode(node), XML::kAppend, false);
    } catch (...) {
        return false;
    }
}

i32 onCount(XPathContext*, XPathNode set) { return countOf(asNode(set)); }

XPathNode onItem(XPathContext*, XPathNode set, i32 index, bool* temporary) {
    *temporary = false;
    return itemOf(asNode(set), index);
}

unit* onName(XPathContext*, XPathNode handle, i32 part) {
    XML* node = asNode(handle);
    if (node && node->getKind() == XML::kList)
        node = node->getChild(0);
    if (!node)
        return nullptr;
    try {
        const XML* ns = node->getNamespace();
        if (part == 2)
            return heapText(ns ? ns->getValue() : String());
        if (part == 1 && ns && !ns->getName().isEmpty() && !isAscii(ns->getName(), "*")) {
            String qualified = ns->getName();
            qualified += unit(':');
            qualified += node->getName();
            return heapText(qualified);
        }
        return heapText(node->getName());
    } catch (...) {
        return nullptr;
    }
}

unit* onStringValue(XPathContext*, XPathNode node) {
    if (!node)
        return nullptr;
    try {
        String value;
        return heapText(asNode(node)->toString(value, 0));
    } catch (...) {
        return nullptr;
    }
}

XPathNode onTextNode(XPathContext*, const unit* text, bool* temporary) {
    *temporary = true;
    try {
        return new XML(XML::kText, String(text));
    } catch (...) {
        return nullptr;
    }
}

unit* onVariable(XPathContext* context, const unit* name, bool* mustFree) {
    auto* variables = static_cast<const THashTable<String>*>(getXPathUserData(context));
    *mustFree = true;
    if (!variables)
        return nullptr;
    try {
        const String* value = variables->get(String(name));
        return value ? heapText(*value) : nullptr;
    } catch (...) {
        return nullptr;
    }
}

const XPathCallbacks kBinding = {
    onAxis, onNewNodeSet, onRelease, onAdd, onCount, onItem, onName, onStringValue, onTextNode,
    onVariable, allocate, release,
};

// XPath codes to core errors and the text the error carries.
struct ErrorRow {
    u32 xpath;
    i32 core;
    const char* text;       // null: the expression's token; "": none
};

constexpr ErrorRow kErrors[] = {
    {kXPathOpenExpected, Err::kExpected, "("},
    {kXPathCloseExpected, Err::kExpected, ")"},
    {kXPathBracketExpected, Err::kExpected, "]"},
    {kXPathUnknownAxis, Err::kUnknownAxis, nullptr},
    {kXPathOperandExpected, Err::kOperandExpected, nullptr},
    {kXPathAxisFailed, Err::kUnsupportedAxis, ""},
    {kXPathUndefinedVariable, Err::kUndefined, "XPath var"},
    {kXPathNoMemory, Err::kOutOfMemory, ""},
    {kXPathSyntax, Err::kSyntaxError, ""},
    {kXPathArgumentCount, Err::kBadArgumentList, ""},
    {kXPathNoContext, Err::kNodeSetExpected, ""},
    {kXPathOutOfRange, Err::kOutOfRange, nullptr},
    {kXPathNodeTestExpected, Err::kNodeTestExpected, nullptr},
    {kXPathUnknownFunction, Err::kNotAFunction, nullptr},
    {kXPathTooDeep, Err::kStackOverrun, ""},
};

void reportXPathError(XPathContext* context, const String& expression, Error& error) {
    i32 position = -1;
    u32 length = 0;
    const u32 code = getXPathError(context, &position, &length);
    const ErrorRow* row = nullptr;
    for (const ErrorRow& r : kErrors)
        if (r.xpath == code)
            row = &r;
    String text;
    if (row && row->text) {
        text = row->text;
    } else if (position >= 0 && position <= expression.length()) {
        text = expression.substr(position, i32(std::min<u32>(length, u32(expression.length() - position))));
    }
    error.push(row ? row->core : Err::kInternal, text, nullptr, true);
}

}  // namespace

XML* XML::xpath(const String& expression, Variant& result, Error& error,
                const THashTable<String>* variables) const {
    result.clear();
    XPathContext* context = createXPathContext(&kBinding, const_cast<THashTable<String>*>(variables));
    if (!context) {
        error.push(Err::kOutOfMemory);
        return nullptr;
    }
    XPathResult answer;
    answer.type = kXPathNodeSet;
    answer.value = reinterpret_cast<uintptr_t>(this);
    XML* nodes = nullptr;
    try {
        if (!evaluateXPath(context, expression.chars(), &answer)) {
            reportXPathError(context, expression, error);
        } else if (answer.type == kXPathNodeSet) {
            nodes = asNode(reinterpret_cast<XPathNode>(uintptr_t(answer.value)));
            if (nodes == this)
                nodes->addRef();
        } else if (answer.type == kXPathString) {
            result.setString(String(reinterpret_cast<const unit*>(uintptr_t(answer.value))));
        } else {
            f64 v = 0;
            std::memcpy(&v, &answer.value, sizeof v);
            if (answer.type == kXPathBoolean)
                result.setBool(v != 0);
            else
                result.setNumber(v);
        }
    } catch (...) {
        freeXPathResult(context, &answer);
        destroyXPathContext(context);
        throw;
    }
    if (answer.type == kXPathString)
        freeXPathResult(context, &answer);
    destroyXPathContext(context);
    return nodes;
}

}  // namespace LxCore
