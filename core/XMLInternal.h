// What the XML sources share: arrays of nodes, namespace scopes in constant
// time, the qualified-name reader and the walks without recursion.
#pragma once
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/String.h"
#include "core/XML.h"

namespace LxCore {

inline std::u16string_view unitView(const String& s) {
    return std::u16string_view(s.chars(), size_t(s.length()));
}

inline bool isAscii(const String& s, const char* ascii) { return s.compare(ascii) == 0; }

// Space, TAB, LF and CR: the blanks XML text is trimmed of.
inline bool isXMLBlank(unit c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
String trimXMLBlanks(const String& s);

// Characters of XML names: ':' is none, and neither are '$' and '@'.
bool isXMLNameStart(unit c);
bool isXMLNameChar(unit c);

// Keys of the hash tables below: UTF-16 texts, looked up without copying.
struct UnitKeyHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view key) const noexcept;
};
struct UnitKeyEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const noexcept { return a == b; }
};
template <class V>
using UnitKeyMap = std::unordered_map<std::u16string, V, UnitKeyHash, UnitKeyEqual>;
using UnitKeySet = std::unordered_set<std::u16string, UnitKeyHash, UnitKeyEqual>;

// Namespace bindings of nested scopes: the innermost binding of a prefix and
// of a URI are found in constant time, and the bindings made since a mark go
// again at once. Nodes are not owned.
class NamespaceScope {
public:
    struct Binding {
        String prefix;
        String uri;
        XML* node;
        i32 outerByPrefix;      // the binding of the prefix it hides, -1 none
        i32 outerByURI;
    };

    i32 mark() const { return i32(bindings.size()); }
    void bind(const String& prefix, const String& uri, XML* node);
    void unwind(i32 mark);
    // Indexes of the innermost bindings; -1 when there is none.
    i32 byPrefix(const String& prefix) const;
    i32 byURI(const String& uri) const;
    const Binding& at(i32 index) const { return bindings[size_t(index)]; }

private:
    std::vector<Binding> bindings;
    UnitKeyMap<i32> prefixes;
    UnitKeyMap<i32> uris;
};

// A qualified name of find, put and removeByName, read against a node.
struct QualifiedName {
    String local;               // empty: any name
    String uri;                 // with hasNamespace
    String prefix;              // a prefix that named no namespace
    const XML* node = nullptr;  // the namespace node named, when there is one
    bool attribute = false;
    bool hasNamespace = false;
    bool anyNamespace = false;
    bool unresolved = false;    // a prefix that names no namespace: nothing matches

    void read(const String& text, const XML* context);
    // inherited: the namespace of the node's nearest ancestor that has one.
    bool matches(const XML* node, const XML* inherited) const;
};

// A walk's view of one node: the namespace its nearest ancestor has.
using Visit = bool (*)(XML* node, const XML* inherited, void* context);

struct XMLTree {
    // Child arrays grow geometrically.
    static void append(TSimpleArray<XML>*& array, XML* node);
    static void insertAt(TSimpleArray<XML>*& array, XML* node, i32 index);
    // Puts a node the caller holds a reference to at the index (appended
    // past the end); the reference goes to the array, or is released when
    // that fails.
    static void own(TSimpleArray<XML>*& array, XML* node, i32 index);
    // An element's (or list's) new last child, attribute, as own does;
    // the element becomes its parent.
    static void adoptChild(XML* element, XML* child);
    static void adoptAttribute(XML* element, XML* attribute);
    static void clearParent(XML* node) { node->parent = nullptr; }
    static void adoptDeclaration(XML* element, XML* ns);    // adds a reference
    // Replaces a node's namespace without searching declarations.
    static void useNamespace(XML* node, XML* ns);
    // A node of the kind with nothing set, no namespace.
    static XML* blank(i32 kind);
    // The namespace the nearest of node's ancestors (or node) has.
    static const XML* effectiveNamespace(const XML* node);
    // The candidates of find and walk in document order; visit answers false
    // to stop, and so does this.
    static bool forEachCandidate(const XML* root, u32 flags, Visit visit, void* context);
    // Every element below root (root first), without recursion; enter answers
    // false to skip an element's children, leave follows its children.
    template <class Enter, class Leave>
    static void walkElements(XML* root, Enter enter, Leave leave);
    // Every node below top (attributes aside) in document order, without
    // recursion; visit answers whether to go below the node it was given.
    template <class Visit>
    static void forEachBelow(XML* top, Visit visit);
    static void takeNewNodeNamespace(XML* node, bool checked);
    static void setValueOf(XML* node, const String& value) { node->value = value; }
    static TSimpleArray<XML>* childArray(const XML* node) { return node->children; }
    static TSimpleArray<XML>* attributeArray(const XML* node) { return node->attributes; }
    static TSimpleArray<XML>* declarationArray(const XML* node) { return node->declarations; }
};

template <class Enter, class Leave>
void XMLTree::walkElements(XML* root, Enter enter, Leave leave) {
    struct Frame {
        XML* element;
        i32 next;
    };
    if (!root || root->kind != XML::kElement)
        return;
    std::vector<Frame> stack;
    if (!enter(root))
        return;
    stack.push_back({root, 0});
    while (!stack.empty()) {
        Frame& top = stack.back();
        XML* element = top.element;
        TSimpleArray<XML>* kids = element->children;
        if (kids && top.next < kids->getCount()) {
            XML* child = kids->get(top.next++);
            if (child->kind == XML::kElement && enter(child))
                stack.push_back({child, 0});
            continue;
        }
        stack.pop_back();
        leave(element);
    }
}

template <class Visit>
void XMLTree::forEachBelow(XML* top, Visit visit) {
    struct Frame {
        XML* element;
        i32 next;
    };
    std::vector<Frame> stack{{top, 0}};
    while (!stack.empty()) {
        Frame& f = stack.back();
        TSimpleArray<XML>* kids = f.element->children;
        if (!kids || f.next >= kids->getCount()) {
            stack.pop_back();
            continue;
        }
        XML* child = kids->get(f.next++);
        if (visit(child) && child->kind == XML::kElement)
            stack.push_back({child, 0});
    }
}

}  // namespace LxCore
