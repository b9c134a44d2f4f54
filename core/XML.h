// The core's XML node: one reference-counted class for elements, lists, text
// (plain or CDATA), attributes, comments, processing instructions and
// namespaces, with the operations on trees, the printer and the parser.
//
// Ownership: a new node has one reference. An element owns one reference to
// each child, attribute and declaration and is the parent of its children and
// attributes (declarations have no parent). A list owns one reference to each
// item but is never an item's parent, so one node can be an item of many
// lists. Pointers handed out by getters are borrowed; functions that say "new"
// give a reference the caller releases.
//
// Depth never reaches the C++ stack: every walk over a tree (destruction,
// copies, comparison, searches, printing) keeps its own stack.
//
// Long work for a script: the searches, descendants, printing and deep
// copies take an optional meter (core/Callbacks.h) and count a unit a node;
// when the meter says to stop, the walk ends and answers what it made so
// far, which the caller drops.
//
// Failures: operations on the wrong kind of node answer false, null or -1 and
// change nothing. Exhausted memory throws std::bad_alloc, as everywhere in the
// core; the parser never throws (it reports through its Error).
#pragma once
#include "core/HashTable.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

class Error;
class NamespaceScope;
class ThreadData;
class Variant;
class WorkMeter;
struct XMLParser;

class XML : public Refcountable {
public:
    enum Kind : i32 {
        kElement = 1,
        kList = 2,
        kText = 3,
        kAttribute = 4,
        kComment = 5,
        kProcessingInstruction = 6,
        kNamespace = 7,
    };

    // Flags of find, findByKind and walk.
    enum FindFlags : u32 {
        kIncludeSelf = 1,       // the node itself (elements and namespaces; walk: not lists)
        kDescendants = 2,       // descend into element children
        kAnyKind = 4,           // findByKind: every kind
        kAttributes = 8,        // attributes instead of children (with 2: of descendants too)
        kAnyNamespace = 16,     // no namespace test
    };

    // removeChildAt: the index counts attributes.
    static constexpr u32 kAttributeIndex = 8;
    // insert and insertContent append at this index (and at any past the end).
    static constexpr i32 kAppend = 0x7FFFFFFF;

    // The URI bound to the prefix "xml".
    static const char* const kXMLNamespaceURI;

    // Construction; each node starts with one reference and no parent.
    // An element (or, by kind, an element or attribute) takes the thread's
    // namespace for new nodes when one is set whose URI is neither empty nor "*".
    explicit XML(const String& name);
    explicit XML(i32 kind);
    // Text and comments: the text is the value; every other kind: the name.
    // Elements and attributes take the thread's namespace for new nodes
    // whenever one is set.
    XML(i32 kind, const String& text);
    ~XML() override;
    XML(const XML&) = delete;
    XML& operator=(const XML&) = delete;

    // Drops one reference; a whole tree that goes with it is freed without
    // recursion.
    u32 release() override;

    // ---- fields ----
    i32 getKind() const { return kind; }
    // Element and attribute local name, processing-instruction target,
    // namespace prefix ("*": none chosen yet); "CDATA" on a CDATA text node.
    const String& getName() const { return name; }
    // Text, attribute and comment text, processing-instruction data, namespace URI.
    const String& getValue() const { return value; }
    XML* getNamespace() const { return ns; }     // of an element or attribute; null: none
    XML* getParent() const { return parent; }
    bool isCDATA() const;
    bool hasChildArray() const { return children != nullptr; }
    i32 getAttributeCount() const;
    XML* getAttribute(i32 index) const;
    i32 getDeclarationCount() const;
    XML* getDeclaration(i32 index) const;

    // ---- thread namespace state ----
    // Stores ns (the thread takes a reference of its own) as the namespace
    // given to new nodes; the previous one comes back with its reference,
    // for the caller to release.
    static XML* setDefaultNamespace(XML* ns);
    // Sets the URI of the parsing default namespace; returns the previous URI.
    static String setDefaultNamespaceURI(const String& uri);
    static void getDefaultNamespaceURI(String& out);
    // The shared namespace node of the prefix "xml" (borrowed).
    static XML* getXMLNamespace();

    // ---- building ----
    // Into an element or list only. A list argument inserts each of its items
    // at rising indexes. Refused: this node, or one of its ancestors. An
    // attribute replaces the one of the same name and namespace URI; a
    // namespace joins the declarations unless its prefix and URI are in scope
    // already (then uses of it below are switched to the one in scope). With
    // adopt the caller's reference passes to this call, refused or not.
    bool insert(XML* node, i32 index, bool adopt);
    // As insert, but into an element an attribute, processing instruction or
    // namespace goes in as a new text node holding its value.
    bool insertContent(XML* node, i32 index, bool adopt);
    // Append a new element (a name beginning with '@' sets that attribute);
    // the result is borrowed, null for an empty name or the wrong kind.
    XML* addChild(const String& name);
    XML* addChild(const String& name, const String& text);
    XML* addChild(const String& name, XML* content, bool adopt);
    // E4X assignment: the children (attributes for "@name") of that name are
    // replaced by one new element (attribute) holding the value, at the first
    // one's place. "a/b/c" (no "::") creates missing elements on the way.
    // The result is borrowed, null when nothing could be put.
    XML* put(const String& name, const String& text);
    XML* put(const String& name, XML* content, bool adopt);
    // Removes every child (attribute for '@' names) of that name: the index
    // of the first removed, or -1.
    i32 removeByName(const String& name);
    void removeChild(XML* node);
    void removeChildAt(i32 index, u32 flags);
    bool setName(const String& name);
    bool setValue(const String& text);
    bool setNamespace(XML* ns);
    void normalize();
    XML* copy(bool deep, WorkMeter* meter = nullptr) const;    // new reference

    // ---- queries ----
    XML* getChild(i32 index) const;             // borrowed; null out of range
    i32 getChildCount() const;
    XML* asElement() const;
    String getKindName() const;
    static const char* kindName(i32 kind);      // "" for an unknown kind
    bool hasSimpleContent() const;
    i32 indexOf(const XML* node, bool fromEnd) const;
    i32 indexOf(const String& name, bool fromEnd) const;
    bool contains(const XML* node, bool identityOnly) const;
    bool containsName(const XML* node) const;
    bool equals(const XML* other, bool byValue) const;
    XML* getDescendants(WorkMeter* meter = nullptr) const;     // new list

    // Names: "local", "*" (any), "@local", "prefix:local", "URI::local",
    // "*::local" (any namespace), "URI::@local" or "@URI::local"; '/' without
    // "::" makes a path. The results are new lists.
    XML* find(const String& name, u32 flags, WorkMeter* meter = nullptr) const;
    XML* findByKind(i32 kind, u32 flags, WorkMeter* meter = nullptr) const;
    // Visits what find would look at; the callback answers false to stop,
    // and walk then answers false.
    using WalkCallback = bool (*)(XML* node, void* context);
    bool walk(WalkCallback callback, u32 flags, void* context) const;

    void getString(const String& name, String& out) const;
    bool getBool(const String& name) const;
    i32 getInt(const String& name) const;
    void getTrimmedValue(String& out) const;

    // Borrowed; a null prefix or URI matches any.
    XML* findNamespace(const String* prefix, const String* uri, bool deep) const;
    XML* getInScopeNamespaces() const;          // new list
    void addNamespacesTo(XML* list, bool withDeclarations) const;
    bool removeNamespace(XML* ns, bool clearUses);

    static bool isValidName(const String& name);

    // ---- printing ----
    // indent < 0: no pretty printing; else that many spaces a level.
    String& toXMLString(String& out, i32 indent, WorkMeter* meter = nullptr) const;
    // The E4X string value.
    String& toString(String& out, i32 indent, WorkMeter* meter = nullptr) const;
    static String escapeText(const String& text);
    static String escapeAttributeValue(const String& text);
    static void appendEscapedText(String& out, const String& text);
    static void appendEscapedAttributeValue(String& out, const String& text);

    // ---- XPath (XMLXPath.cpp) ----
    // Runs the expression with this node as context node. A node-set comes
    // back as a new reference (a list, or this node itself); other results
    // go to result, and null is returned. Variables are looked up by name,
    // case-sensitive, in the table (null: none). Errors go to error.
    XML* xpath(const String& expression, Variant& result, Error& error,
               const THashTable<String>* variables = nullptr) const;

private:
    String name;
    String value;
    XML* ns = nullptr;                          // counted
    XML* parent = nullptr;                      // not counted
    TSimpleArray<XML>* children = nullptr;      // counted entries
    TSimpleArray<XML>* attributes = nullptr;
    TSimpleArray<XML>* declarations = nullptr;
    i32 kind;

    XML* findPath(const String& path, WorkMeter* meter) const;
    void insertOne(XML* node, i32 index);
    void swapNamespace(XML* old, XML* fresh);
    XML* addChildWith(const String& name, const String* text, XML* content, bool adopt);
    XML* putValue(const String& name, const String* text, XML* content);
    XML* placeNew(const String& name, bool attribute, i32 index, const String* text, XML* content);
    static XML* copyOne(const XML* source, NamespaceScope& scope, bool inScopeDeclarations);

    friend struct XMLTree;                      // the tree walks (XML.cpp)
    friend struct XMLNames;                     // names and matching (XML.cpp)
    friend struct XMLPrinter;                   // XMLSerialize.cpp
    friend struct XMLBuilder;                   // XMLParse.cpp
};

// The thread's namespace for new nodes set for a scope (null: none); the
// previous one comes back at its end.
class NewNodeNamespaceScope {
public:
    explicit NewNodeNamespaceScope(XML* ns) : previous(XML::setDefaultNamespace(ns)) {}
    ~NewNodeNamespaceScope();
    NewNodeNamespaceScope(const NewNodeNamespaceScope&) = delete;
    NewNodeNamespaceScope& operator=(const NewNodeNamespaceScope&) = delete;

private:
    XML* previous;
};

// Parses XML text from position (UTF-16 units). Text without '<' gives a
// text node; "<>" ... "</>" gives a list. On success position is just past
// what was read; on failure the result is null and error holds the parser's
// error under error 1 "XML error in line N". Never throws.
XML* parseXMLText(const String& text, i32& position, Error& error, bool ignoreWhitespace,
                  bool ignoreComments, bool ignorePIs);
// One expat run over text from position to its end with the parser's options.
XML* parseWithTokenizer(XMLParser& parser, const String& text, i32& position, Error& error);

// Module start/end: the shared "xml" namespace and the first thread's
// namespaces.
void initXML(bool start);
// A thread record's own namespaces, for a record made off the main thread.
void initXMLThreadData(ThreadData* record, bool start);

}  // namespace LxCore
