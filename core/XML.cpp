// The XML node: construction and destruction, the thread's namespaces, tree
// building and removal, names, searches, comparison and copies. Printing is
// in XMLSerialize.cpp, parsing in XMLParse.cpp.
#include "core/XML.h"

#include <algorithm>
#include <new>

#include "core/Callbacks.h"
#include "core/CharClass.h"
#include "core/InitTerm.h"
#include "core/ThreadData.h"
#include "core/XMLInternal.h"

namespace LxCore {

const char* const XML::kXMLNamespaceURI = "http://www.w3.org/XML/1998/namespace";

namespace {

XML* sharedXMLNamespace = nullptr;

// Nodes whose last reference went wait here, linked through their parent
// field, while the first release frees them one by one: a deep tree goes
// without recursion.
thread_local XML* doomed = nullptr;
thread_local bool freeing = false;

// First units of the blocks of ten decimal digits that names may hold.
constexpr unit kDigitBlocks[] = {0x0030, 0x0660, 0x06F0, 0x07C0, 0x0966, 0x09E6, 0x0A66, 0x0AE6,
                                 0x0B66, 0x0BE6, 0x0C66, 0x0CE6, 0x0D66, 0x0E50, 0x0ED0, 0x0F20,
                                 0x1040, 0x17E0, 0x1810, 0x1946, 0x19D0, 0x1B50, 0xFF10};

bool isNameDigit(unit c) {
    for (unit first : kDigitBlocks)
        if (c >= first && c < first + 10)
            return true;
    return false;
}


const String& uriOf(const XML* ns) { return ns ? ns->getValue() : String::emptyString(); }

XML* newNodeNamespace() {
    ThreadData* record = ThreadData::find();
    return record ? record->newNodeNamespace : nullptr;
}

XML* parseNamespaceNode() {
    ThreadData* record = ThreadData::find();
    return record ? record->parseNamespace : nullptr;
}

i32 countOf(const TSimpleArray<XML>* array) { return array ? array->getCount() : 0; }

// Releases every node of an array and the array; nodes whose parent is owner
// lose it first.
void releaseArray(TSimpleArray<XML>*& array, const XML* owner);

bool isElementOrList(const XML* node) {
    return node->getKind() == XML::kElement || node->getKind() == XML::kList;
}

// Releases the caller's reference when a call was handed it, however it ends.
class Adopted {
public:
    Adopted(XML* n, bool adopt) : node(adopt ? n : nullptr) {}
    ~Adopted() {
        if (node)
            node->release();
    }
    Adopted(const Adopted&) = delete;
    Adopted& operator=(const Adopted&) = delete;

private:
    XML* node;
};

// A new list filled by fill(list); released again when filling throws.
template <class Fill>
XML* newList(Fill fill) {
    XML* list = new XML(XML::kList);
    try {
        fill(list);
    } catch (...) {
        list->release();
        throw;
    }
    return list;
}

// Decimal integer with an optional sign and nothing else around it.
bool readDecimal(const String& text, i64& out) {
    i32 n = text.length();
    i32 i = 0;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+'))
        negative = text[i++] == '-';
    if (i == n)
        return false;
    i64 v = 0;
    for (; i < n; i++) {
        unit c = text[i];
        if (c < '0' || c > '9')
            return false;
        if (v < (i64(1) << 40))
            v = v * 10 + (c - '0');
    }
    out = negative ? -v : v;
    return true;
}

}  // namespace

// ---- shared helpers ----

bool isXMLNameStart(unit c) { return c == '_' || (c != '$' && c != '@' && isIdentifierStart(c)); }

bool isXMLNameChar(unit c) { return isXMLNameStart(c) || c == '-' || c == '.' || isNameDigit(c); }

size_t UnitKeyHash::operator()(std::u16string_view key) const noexcept {
    u64 h = 0xcbf29ce484222325ull;
    for (char16_t c : key) {
        h ^= u64(c);
        h *= 0x100000001b3ull;
    }
    return size_t(h);
}

String trimXMLBlanks(const String& s) {
    i32 end = s.length();
    i32 begin = 0;
    while (end > 0 && isXMLBlank(s[end - 1]))
        end--;
    while (begin < end && isXMLBlank(s[begin]))
        begin++;
    if (begin == 0 && end == s.length())
        return s;
    return s.substr(begin, end - begin);
}

void NamespaceScope::bind(const String& prefix, const String& uri, XML* node) {
    const i32 index = mark();
    auto p = prefixes.find(unitView(prefix));
    auto u = uris.find(unitView(uri));
    bindings.push_back({prefix, uri, node, p == prefixes.end() ? -1 : p->second,
                        u == uris.end() ? -1 : u->second});
    try {
        if (p == prefixes.end())
            prefixes.emplace(std::u16string(unitView(prefix)), index);
        else
            p->second = index;
        if (u == uris.end())
            uris.emplace(std::u16string(unitView(uri)), index);
        else
            u->second = index;
    } catch (...) {
        unwind(index);
        throw;
    }
}

void NamespaceScope::unwind(i32 to) {
    while (mark() > to) {
        const Binding& b = bindings.back();
        const i32 index = mark() - 1;
        auto restore = [index](UnitKeyMap<i32>& map, const String& key, i32 outer) {
            auto it = map.find(unitView(key));
            if (it == map.end() || it->second != index)
                return;
            if (outer < 0)
                map.erase(it);
            else
                it->second = outer;
        };
        restore(prefixes, b.prefix, b.outerByPrefix);
        restore(uris, b.uri, b.outerByURI);
        bindings.pop_back();
    }
}

i32 NamespaceScope::byPrefix(const String& prefix) const {
    auto it = prefixes.find(unitView(prefix));
    return it == prefixes.end() ? -1 : it->second;
}

i32 NamespaceScope::byURI(const String& uri) const {
    auto it = uris.find(unitView(uri));
    return it == uris.end() ? -1 : it->second;
}

// ---- arrays and small tree helpers ----

namespace {

// The next slot of a full array doubles it.
void reserveOne(TSimpleArray<XML>& array) {
    i32 n = array.getCount();
    if (n >= 64 && (n & (n - 1)) == 0)
        array.setGrowBy(n);
}

void releaseArray(TSimpleArray<XML>*& array, const XML* owner) {
    if (!array)
        return;
    TSimpleArray<XML>* held = array;
    array = nullptr;
    for (i32 i = 0; i < held->getCount(); i++) {
        XML* node = held->get(i);
        if (node->getParent() == owner)
            XMLTree::clearParent(node);
        node->release();
    }
    delete held;
}

// Keeps the nodes for which drop answers false, in order, in one pass; the
// others are released (losing owner as parent). The index of the first
// dropped, or -1. An array left empty is freed when freeEmpty.
template <class Drop>
i32 compact(TSimpleArray<XML>*& array, const XML* owner, bool freeEmpty, Drop drop) {
    if (!array)
        return -1;
    TSimpleArray<XML> dropped;
    i32 first = -1;
    i32 kept = 0;
    const i32 n = array->getCount();
    for (i32 i = 0; i < n; i++) {
        XML* node = array->get(i);
        if (drop(node)) {
            if (first < 0)
                first = i;
            reserveOne(dropped);
            dropped.add(node);
        } else if (first >= 0) {
            array->set(kept++, node);
        } else {
            kept++;
        }
    }
    if (first < 0)
        return -1;
    array->setCount(kept);
    if (kept == 0 && freeEmpty) {
        delete array;
        array = nullptr;
    }
    for (i32 i = 0; i < dropped.getCount(); i++) {
        XML* node = dropped.get(i);
        if (node->getParent() == owner)
            XMLTree::clearParent(node);
        node->release();
    }
    return first;
}

}  // namespace

void XMLTree::append(TSimpleArray<XML>*& array, XML* node) {
    if (!array)
        array = new TSimpleArray<XML>;
    reserveOne(*array);
    array->add(node);
}

void XMLTree::insertAt(TSimpleArray<XML>*& array, XML* node, i32 index) {
    if (!array)
        array = new TSimpleArray<XML>;
    reserveOne(*array);
    array->insert(node, index);
}

void XMLTree::own(TSimpleArray<XML>*& array, XML* node, i32 index) {
    try {
        if (index < 0 || index >= countOf(array))
            append(array, node);
        else
            insertAt(array, node, index);
    } catch (...) {
        node->release();
        throw;
    }
}

void XMLTree::adoptChild(XML* element, XML* child) {
    own(element->children, child, XML::kAppend);
    if (element->kind == XML::kElement)
        child->parent = element;
}

void XMLTree::adoptAttribute(XML* element, XML* attribute) {
    own(element->attributes, attribute, XML::kAppend);
    attribute->parent = element;
}

void XMLTree::adoptDeclaration(XML* element, XML* ns) {
    append(element->declarations, ns);
    ns->addRef();
}

void XMLTree::useNamespace(XML* node, XML* ns) {
    if (node->ns == ns)
        return;
    if (ns)
        ns->addRef();
    if (node->ns)
        node->ns->release();
    node->ns = ns;
}

XML* XMLTree::blank(i32 kind) {
    XML* node = new XML(XML::kComment);
    node->kind = kind;
    return node;
}

const XML* XMLTree::effectiveNamespace(const XML* node) {
    for (; node; node = node->parent)
        if (node->ns)
            return node->ns;
    return nullptr;
}

void XMLTree::takeNewNodeNamespace(XML* node, bool checked) {
    XML* ns = newNodeNamespace();
    if (!ns)
        return;
    if (checked && (ns->value.isEmpty() || isAscii(ns->value, "*")))
        return;
    ns->addRef();
    node->ns = ns;
}

bool XMLTree::forEachCandidate(const XML* root, u32 flags, Visit visit, void* context) {
    const bool attributes = flags & XML::kAttributes;
    const bool descend = flags & XML::kDescendants;
    struct Frame {
        const XML* element;
        const XML* inherited;   // the namespace in force for its children
        i32 next;
    };
    std::vector<Frame> stack;
    auto enter = [&](const XML* element, const XML* outer) -> bool {
        const XML* inherited = element->ns ? element->ns : outer;
        if (attributes)
            for (i32 i = 0; i < countOf(element->attributes); i++)
                if (!visit(element->attributes->get(i), inherited, context))
                    return false;
        stack.push_back({element, inherited, 0});
        return true;
    };
    auto one = [&](const XML* node) -> bool {
        const XML* outer = effectiveNamespace(node->parent);
        if ((flags & XML::kIncludeSelf) &&
            (node->kind == XML::kElement || node->kind == XML::kNamespace) &&
            !visit(const_cast<XML*>(node), outer, context))
            return false;
        if (node->kind != XML::kElement)
            return true;
        if (!enter(node, outer))
            return false;
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next >= countOf(top.element->children)) {
                stack.pop_back();
                continue;
            }
            XML* child = top.element->children->get(top.next++);
            const XML* inherited = top.inherited;
            if (!attributes && !visit(child, inherited, context))
                return false;
            if (descend && child->kind == XML::kElement && !enter(child, inherited))
                return false;
        }
        return true;
    };
    if (root->kind != XML::kList)
        return one(root);
    for (i32 i = 0; i < countOf(root->children); i++) {
        const XML* item = root->children->get(i);
        if (item->kind == XML::kElement || (flags & XML::kIncludeSelf)) {
            if (!one(item))
                return false;
        }
    }
    return true;
}

// ---- construction and destruction ----

XML::XML(const String& elementName) : name(elementName), kind(kElement) {
    XMLTree::takeNewNodeNamespace(this, true);
}

XML::XML(i32 nodeKind) : kind(nodeKind) {
    if (kind == kElement || kind == kAttribute)
        XMLTree::takeNewNodeNamespace(this, true);
}

XML::XML(i32 nodeKind, const String& text) : kind(nodeKind) {
    if (kind == kText || kind == kComment)
        value = text;
    else
        name = text;
    if (kind == kElement || kind == kAttribute)
        XMLTree::takeNewNodeNamespace(this, false);
}

XML::~XML() {
    releaseArray(children, this);
    releaseArray(attributes, this);
    releaseArray(declarations, this);
    if (ns)
        ns->release();
}

u32 XML::release() {
    u32 count = atomicDecrement(&refCount);
    if (count != 0)
        return count;
    parent = doomed;
    doomed = this;
    if (freeing)
        return 0;
    freeing = true;
    while (XML* next = doomed) {
        doomed = next->parent;
        next->parent = nullptr;
        delete next;
    }
    freeing = false;
    return 0;
}

bool XML::isCDATA() const { return kind == kText && isAscii(name, "CDATA"); }

i32 XML::getAttributeCount() const { return countOf(attributes); }

XML* XML::getAttribute(i32 index) const { return attributes ? attributes->get(index) : nullptr; }

i32 XML::getDeclarationCount() const { return countOf(declarations); }

XML* XML::getDeclaration(i32 index) const {
    return declarations ? declarations->get(index) : nullptr;
}

// ---- thread namespace state ----

XML* XML::setDefaultNamespace(XML* nsNode) {
    ThreadData* record = ThreadData::get();
    XML* previous = record->newNodeNamespace;
    if (nsNode)
        nsNode->addRef();
    record->newNodeNamespace = nsNode;
    return previous;
}

NewNodeNamespaceScope::~NewNodeNamespaceScope() {
    if (XML* ours = XML::setDefaultNamespace(previous))
        ours->release();
    if (previous)
        previous->release();
}

String XML::setDefaultNamespaceURI(const String& uri) {
    ThreadData* record = ThreadData::get();
    XML* current = record->parseNamespace;
    String previous = current ? current->value : String();
    if (current && current->value == uri)
        return previous;
    XML* fresh = new XML(kNamespace);
    fresh->value = uri;
    record->parseNamespace = fresh;
    if (current)
        current->release();
    return previous;
}

void XML::getDefaultNamespaceURI(String& out) {
    XML* current = parseNamespaceNode();
    out = current ? current->value : String();
}

XML* XML::getXMLNamespace() { return sharedXMLNamespace; }

void initXML(bool start) {
    if (!start) {
        if (sharedXMLNamespace)
            sharedXMLNamespace->release();
        sharedXMLNamespace = nullptr;
        if (ThreadData* record = ThreadData::find())
            initXMLThreadData(record, false);
        return;
    }
    XML* xmlNamespace = new XML(XML::kNamespace, String("xml"));
    try {
        xmlNamespace->setValue(String(XML::kXMLNamespaceURI));
        initXMLThreadData(ThreadData::get(), true);
    } catch (...) {
        xmlNamespace->release();
        throw;
    }
    sharedXMLNamespace = xmlNamespace;
}

// A record made before the library starts gets its node from the XML
// module's start instead: there is no heap yet.
void initXMLThreadData(ThreadData* record, bool start) {
    if (start) {
        if (!record->parseNamespace && InitTerm::isInitialized())
            record->parseNamespace = new XML(XML::kNamespace);
        return;
    }
    if (record->parseNamespace)
        record->parseNamespace->release();
    if (record->newNodeNamespace)
        record->newNodeNamespace->release();
    record->parseNamespace = nullptr;
    record->newNodeNamespace = nullptr;
}

// ---- names ----

bool XML::isValidName(const String& text) {
    const i32 n = text.length();
    if (n == 0 || !isXMLNameStart(text[0]))
        return false;
    for (i32 i = 1; i < n; i++)
        if (!isXMLNameChar(text[i]))
            return false;
    return true;
}

namespace {

// The namespace a prefix names at a node: declarations (last first), the
// attributes' namespaces, the node's own, then its element children's; for
// a list the first item that knows it, searched deep.
XML* namespaceOfPrefix(const XML* context, const String& prefix) {
    if (isAscii(prefix, "xml"))
        return XML::getXMLNamespace();
    if (context->getKind() == XML::kList) {
        for (i32 i = 0; i < context->getChildCount(); i++)
            if (XML* found = context->getChild(i)->findNamespace(&prefix, nullptr, true))
                return found;
        return nullptr;
    }
    if (XML* found = context->findNamespace(&prefix, nullptr, false))
        return found;
    for (i32 i = 0; i < context->getChildCount(); i++) {
        XML* child = context->getChild(i);
        XML* childNs = child->getNamespace();
        if (child->getKind() == XML::kElement && childNs && childNs->getName() == prefix)
            return childNs;
    }
    return nullptr;
}

}  // namespace

void QualifiedName::read(const String& text, const XML* context) {
    String rest = text;
    if (rest[0] == '@') {
        attribute = true;
        rest = rest.substr(1);
    }
    bool namespacePart = false;
    const i32 uriEnd = rest.find(String("::"), -1, true);
    if (uriEnd >= 0) {
        namespacePart = true;
        String left = rest.substr(0, uriEnd);
        left.trim();
        rest = rest.substr(uriEnd + 2);
        if (rest[0] == '@') {
            attribute = true;
            rest = rest.substr(1);
        }
        if (isAscii(left, "*")) {
            anyNamespace = true;
        } else {
            hasNamespace = true;
            uri = left;
        }
    } else if (i32 colon = rest.find(unit(':'), -1, true); colon >= 0) {
        namespacePart = true;
        String left = rest.substr(0, colon);
        left.trim();
        rest = rest.substr(colon + 1);
        if (isAscii(left, "*")) {
            anyNamespace = true;
        } else if (const XML* found = namespaceOfPrefix(context, left)) {
            hasNamespace = true;
            node = found;
            uri = found->getValue();
        } else {
            unresolved = true;
            prefix = left;
        }
    }
    rest.trim();
    if (isAscii(rest, "*"))
        rest.clear();
    local = rest;
    if (namespacePart)
        return;
    // A bare "*" (or nothing) is everything; attribute names without a
    // namespace part are in no namespace, whatever the default.
    if (local.isEmpty()) {
        anyNamespace = true;
        return;
    }
    if (attribute)
        return;
    if (XML* forNew = newNodeNamespace()) {
        if (isAscii(forNew->getValue(), "*")) {
            anyNamespace = true;
        } else {
            hasNamespace = true;
            node = forNew;
            uri = forNew->getValue();
        }
    } else if (XML* forParsing = parseNamespaceNode(); forParsing && !forParsing->getValue().isEmpty()) {
        hasNamespace = true;
        node = forParsing;
        uri = forParsing->getValue();
    }
}

bool QualifiedName::matches(const XML* candidate, const XML* inherited) const {
    const i32 kind = candidate->getKind();
    if (local.isEmpty()) {
        if (kind == XML::kNamespace)
            return false;
    } else if ((kind != XML::kElement && kind != XML::kAttribute && kind != XML::kNamespace) ||
               !(candidate->getName() == local)) {
        return false;
    }
    if (unresolved)
        return false;
    if (anyNamespace)
        return true;
    const XML* own = candidate->getNamespace();
    if (!hasNamespace)
        return !own || own->getValue().isEmpty();
    const XML* effective = own ? own : inherited;
    if (!effective)
        return uri.isEmpty();
    return effective == node || effective->getValue() == uri;
}

namespace {

// "a/b/c" without "::" is a path.
bool isPath(const String& name) {
    return name.find(unit('/')) >= 0 && name.find(String("::")) < 0;
}

// The segments of a path, empty ones left out.
std::vector<String> pathSegments(const String& name) {
    std::vector<String> segments;
    i32 from = 0;
    while (from <= name.length()) {
        i32 slash = name.find(unit('/'), from);
        i32 end = slash < 0 ? name.length() : slash;
        if (end > from)
            segments.push_back(name.substr(from, end - from));
        if (slash < 0)
            break;
        from = slash + 1;
    }
    return segments;
}

// The first element of a list, borrowed from it.
XML* firstElement(const XML* list) {
    for (i32 i = 0; i < list->getChildCount(); i++)
        if (list->getChild(i)->getKind() == XML::kElement)
            return list->getChild(i);
    return nullptr;
}

// A unit of a walk's work; false when its meter says to stop.
inline bool counted(WorkMeter* meter) { return !meter || meter->add(); }

struct FindState {
    const QualifiedName* name;
    XML* result;
    WorkMeter* meter;
};

bool collectMatch(XML* node, const XML* inherited, void* context) {
    auto* state = static_cast<FindState*>(context);
    if (!counted(state->meter))
        return false;
    if (state->name->matches(node, inherited)) {
        node->addRef();
        XMLTree::adoptChild(state->result, node);
    }
    return true;
}

}  // namespace

// ---- searches ----

XML* XML::find(const String& qualifiedName, u32 flags, WorkMeter* meter) const {
    if (isPath(qualifiedName))
        return findPath(qualifiedName, meter);
    return newList([&](XML* result) {
        QualifiedName q;
        q.read(qualifiedName, this);
        if (flags & kAnyNamespace)
            q.anyNamespace = true;
        FindState state{&q, result, meter};
        XMLTree::forEachCandidate(this, flags | (q.attribute ? u32(kAttributes) : 0u), collectMatch,
                                  &state);
    });
}

// Each segment is looked up below the first element the one before found.
XML* XML::findPath(const String& path, WorkMeter* meter) const {
    std::vector<String> segments = pathSegments(path);
    const XML* at = this;
    XML* step = nullptr;
    for (const String& segment : segments) {
        if (step) {
            at = firstElement(step);
            if (!at) {
                step->release();
                return new XML(kList);
            }
        }
        XML* found = at->find(segment, 0, meter);
        if (step)
            step->release();
        step = found;
    }
    return step ? step : new XML(kList);
}

namespace {

struct KindState {
    i32 kind;
    bool any;
    XML* result;
    WorkMeter* meter;
};

bool collectKind(XML* node, const XML*, void* context) {
    auto* state = static_cast<KindState*>(context);
    if (!counted(state->meter))
        return false;
    if (state->any || node->getKind() == state->kind) {
        node->addRef();
        XMLTree::adoptChild(state->result, node);
    }
    return true;
}

void addDeclarations(const XML* node, XML* result) {
    for (i32 i = 0; i < node->getDeclarationCount(); i++) {
        node->getDeclaration(i)->addRef();
        XMLTree::adoptChild(result, node->getDeclaration(i));
    }
}

}  // namespace

XML* XML::findByKind(i32 wanted, u32 flags, WorkMeter* meter) const {
    return newList([&](XML* result) {
        if (wanted == kNamespace) {
            if (kind != kList)
                return addDeclarations(this, result);
            for (i32 i = 0; i < getChildCount(); i++)
                addDeclarations(getChild(i), result);
            return;
        }
        KindState state{wanted, (flags & kAnyKind) != 0, result, meter};
        XMLTree::forEachCandidate(this, flags | (wanted == kAttribute ? u32(kAttributes) : 0u),
                                  collectKind, &state);
    });
}

namespace {

struct WalkState {
    XML::WalkCallback callback;
    void* context;
};

bool walkVisit(XML* node, const XML*, void* context) {
    auto* state = static_cast<WalkState*>(context);
    return state->callback(node, state->context);
}

}  // namespace

bool XML::walk(WalkCallback callback, u32 flags, void* context) const {
    WalkState state{callback, context};
    return XMLTree::forEachCandidate(this, flags, walkVisit, &state);
}

XML* XML::getDescendants(WorkMeter* meter) const {
    return newList([&](XML* result) {
        std::unordered_set<const XML*> seen;
        const bool several = kind == kList && getChildCount() > 1;
        // Once stopped, nothing more is taken or entered.
        auto add = [&](XML* node) {
            if (!counted(meter) || (several && !seen.insert(node).second))
                return false;
            node->addRef();
            XMLTree::adoptChild(result, node);
            return true;
        };
        auto below = [&](XML* top) { XMLTree::forEachBelow(top, add); };
        if (kind == kElement)
            below(const_cast<XML*>(this));
        for (i32 i = 0; kind == kList && i < getChildCount(); i++)
            if (getChild(i)->getKind() == kElement)
                below(getChild(i));
    });
}

XML* XML::getChild(i32 index) const { return children ? children->get(index) : nullptr; }

i32 XML::getChildCount() const { return countOf(children); }

XML* XML::asElement() const {
    if (kind == kElement)
        return const_cast<XML*>(this);
    if (kind == kList && getChildCount() == 1 && getChild(0)->kind == kElement)
        return getChild(0);
    return nullptr;
}

const char* XML::kindName(i32 nodeKind) {
    static const char* const names[] = {"",        "element", "list",
                                        "text",    "attribute", "comment",
                                        "processing-instruction", "namespace"};
    return nodeKind >= 1 && nodeKind <= 7 ? names[nodeKind] : "";
}

String XML::getKindName() const { return String(kindName(kind)); }

bool XML::hasSimpleContent() const {
    switch (kind) {
    case kAttribute:
    case kText:
        return true;
    case kComment:
    case kProcessingInstruction:
        return false;
    default:
        break;
    }
    const i32 n = getChildCount();
    if (n == 0)
        return true;
    if (kind == kList && n == 1 && getChild(0)->kind == kElement)
        return getChild(0)->hasSimpleContent();
    for (i32 i = 0; i < n; i++)
        if (getChild(i)->kind == kElement)
            return false;
    return true;
}

i32 XML::indexOf(const XML* node, bool fromEnd) const {
    if (!node)
        return -1;
    const TSimpleArray<XML>* array =
        kind == kElement && node->kind == kAttribute ? attributes : children;
    const i32 n = countOf(array);
    for (i32 k = 0; k < n; k++) {
        i32 i = fromEnd ? n - 1 - k : k;
        if (array->get(i) == node)
            return i;
    }
    return -1;
}

i32 XML::indexOf(const String& qualifiedName, bool fromEnd) const {
    QualifiedName q;
    q.read(qualifiedName, this);
    const TSimpleArray<XML>* array = q.attribute && kind == kElement ? attributes : children;
    const XML* inherited = kind == kElement ? XMLTree::effectiveNamespace(this) : nullptr;
    const i32 n = countOf(array);
    for (i32 k = 0; k < n; k++) {
        i32 i = fromEnd ? n - 1 - k : k;
        const XML* node = array->get(i);
        if (q.matches(node, kind == kList ? XMLTree::effectiveNamespace(node->parent) : inherited))
            return i;
    }
    return -1;
}

bool XML::contains(const XML* node, bool identityOnly) const {
    if (!node)
        return false;
    auto same = [&](const XML* candidate) {
        return candidate == node || (!identityOnly && candidate->equals(node, false));
    };
    if (same(this))
        return true;
    auto arrayOf = [&](const XML* at) {
        if (at->kind == kElement && node->kind == kAttribute)
            return at->attributes;
        if (at->kind == kElement && node->kind == kNamespace)
            return at->declarations;
        return at->children;
    };
    std::vector<const XML*> stack{this};
    while (!stack.empty()) {
        const XML* at = stack.back();
        stack.pop_back();
        const TSimpleArray<XML>* array = arrayOf(at);
        for (i32 i = 0; i < countOf(array); i++)
            if (same(array->get(i)))
                return true;
        for (i32 i = countOf(at->children) - 1; i >= 0; i--)
            if (at->children->get(i)->kind == kElement)
                stack.push_back(at->children->get(i));
    }
    return false;
}

bool XML::containsName(const XML* node) const {
    if (!node)
        return false;
    for (i32 i = 0; i < getChildCount(); i++)
        if (getChild(i)->name == node->name)
            return true;
    return false;
}

namespace {

bool sameAttribute(const XML* a, const XML* b) {
    return a->getName() == b->getName() && a->getValue() == b->getValue() &&
           uriOf(a->getNamespace()) == uriOf(b->getNamespace());
}

bool attributeBefore(const XML* a, const XML* b) {
    if (i32 c = a->getName().compare(b->getName()))
        return c < 0;
    if (i32 c = uriOf(a->getNamespace()).compare(uriOf(b->getNamespace())))
        return c < 0;
    return a->getValue().compare(b->getValue()) < 0;
}

// Attributes compared as unordered sets: by sorting when there are many.
bool sameAttributes(const XML* a, const XML* b) {
    const i32 n = a->getAttributeCount();
    if (n != b->getAttributeCount())
        return false;
    if (n <= 8) {
        bool used[8] = {};
        for (i32 i = 0; i < n; i++) {
            bool found = false;
            for (i32 j = 0; j < n && !found; j++)
                if (!used[j] && sameAttribute(a->getAttribute(i), b->getAttribute(j)))
                    found = used[j] = true;
            if (!found)
                return false;
        }
        return true;
    }
    std::vector<const XML*> left, right;
    for (i32 i = 0; i < n; i++) {
        left.push_back(a->getAttribute(i));
        right.push_back(b->getAttribute(i));
    }
    std::sort(left.begin(), left.end(), attributeBefore);
    std::sort(right.begin(), right.end(), attributeBefore);
    for (i32 i = 0; i < n; i++)
        if (!sameAttribute(left[size_t(i)], right[size_t(i)]))
            return false;
    return true;
}

bool sameNode(const XML* a, const XML* b) {
    if (a->getKind() != b->getKind())
        return false;
    if (a->getKind() != XML::kNamespace && !(a->getName() == b->getName()))
        return false;
    return a->getValue() == b->getValue() &&
           uriOf(a->getNamespace()) == uriOf(b->getNamespace()) && sameAttributes(a, b) &&
           a->getChildCount() == b->getChildCount();
}

bool isTextOrAttribute(const XML* node) {
    return node->getKind() == XML::kText || node->getKind() == XML::kAttribute;
}

}  // namespace

bool XML::equals(const XML* other, bool byValue) const {
    if (!other)
        return false;
    if (byValue && (isTextOrAttribute(this) || isTextOrAttribute(other)) &&
        hasSimpleContent() && other->hasSimpleContent()) {
        String mine, theirs;
        return toString(mine, -1) == other->toString(theirs, -1);
    }
    std::vector<std::pair<const XML*, const XML*>> stack{{this, other}};
    while (!stack.empty()) {
        auto [a, b] = stack.back();
        stack.pop_back();
        if (a == b)
            continue;
        if (!sameNode(a, b))
            return false;
        for (i32 i = a->getChildCount() - 1; i >= 0; i--)
            stack.push_back({a->getChild(i), b->getChild(i)});
    }
    return true;
}

void XML::getString(const String& qualifiedName, String& out) const {
    out.clear();
    XML* found = find(qualifiedName, 0);
    if (found->getChildCount() > 0)
        found->getChild(0)->toString(out, -1);
    found->release();
}

bool XML::getBool(const String& qualifiedName) const {
    String text;
    getString(qualifiedName, text);
    if (isAscii(text, "true"))
        return true;
    i64 v = 0;
    return readDecimal(text, v) && v != 0;
}

i32 XML::getInt(const String& qualifiedName) const {
    String text;
    getString(qualifiedName, text);
    i64 v = 0;
    if (!readDecimal(text, v))
        return 0;
    return i32(std::clamp<i64>(v, INT32_MIN, INT32_MAX));
}

void XML::getTrimmedValue(String& out) const { out = trimXMLBlanks(value); }

// ---- namespaces ----

namespace {

bool namespaceFits(const XML* ns, const String* prefix, const String* uri) {
    return ns && (!prefix || ns->getName() == *prefix) && (!uri || ns->getValue() == *uri);
}

// The node's own namespaces in the search order of findNamespace.
XML* ownNamespaceFitting(const XML* node, const String* prefix, const String* uri) {
    for (i32 i = node->getDeclarationCount() - 1; i >= 0; i--)
        if (namespaceFits(node->getDeclaration(i), prefix, uri))
            return node->getDeclaration(i);
    for (i32 i = 0; i < node->getAttributeCount(); i++)
        if (namespaceFits(node->getAttribute(i)->getNamespace(), prefix, uri))
            return node->getAttribute(i)->getNamespace();
    if (namespaceFits(node->getNamespace(), prefix, uri))
        return node->getNamespace();
    return nullptr;
}

// In-scope sets keep one namespace per prefix; "*" is no prefix yet, so
// those are told apart by URI.
std::u16string scopeKey(const XML* ns) {
    std::u16string key(unitView(ns->getName()));
    if (key == u"*") {
        key += u'\n';
        key += unitView(ns->getValue());
    }
    return key;
}

}  // namespace

XML* XML::findNamespace(const String* prefix, const String* uri, bool deep) const {
    if (prefix && isAscii(*prefix, "xml"))
        return sharedXMLNamespace;
    auto searchFrom = [&](const XML* top) -> XML* {
        if (XML* found = ownNamespaceFitting(top, prefix, uri))
            return found;
        if (!deep || top->kind != kElement)
            return nullptr;
        XML* found = nullptr;
        XMLTree::walkElements(
            const_cast<XML*>(top),
            [&](XML* element) {
                if (found)
                    return false;
                if (element != top)
                    found = ownNamespaceFitting(element, prefix, uri);
                return !found;
            },
            [](XML*) {});
        return found;
    };
    if (kind != kList)
        return searchFrom(this);
    for (i32 i = 0; i < getChildCount(); i++)
        if (XML* found = searchFrom(getChild(i)))
            return found;
    return nullptr;
}

namespace {

// Adds a node's namespaces to a list unless the list has that prefix: its
// declarations (when asked), its attributes' (last first), its own.
void addOwnNamespaces(const XML* node, XML* list, UnitKeySet& seen, bool withDeclarations) {
    auto add = [&](XML* ns) {
        if (ns && seen.insert(scopeKey(ns)).second) {
            ns->addRef();
            XMLTree::adoptChild(list, ns);
        }
    };
    if (withDeclarations)
        for (i32 i = 0; i < node->getDeclarationCount(); i++)
            add(node->getDeclaration(i));
    for (i32 i = node->getAttributeCount() - 1; i >= 0; i--)
        add(node->getAttribute(i)->getNamespace());
    add(node->getNamespace());
}

}  // namespace

XML* XML::getInScopeNamespaces() const {
    return newList([&](XML* result) {
        UnitKeySet seen;
        if (kind != kList) {
            for (const XML* at = this; at; at = at->parent)
                addOwnNamespaces(at, result, seen, true);
            return;
        }
        for (i32 i = 0; i < getChildCount(); i++)
            addOwnNamespaces(getChild(i), result, seen, true);
    });
}

void XML::addNamespacesTo(XML* list, bool withDeclarations) const {
    if (!list || list->kind != kList)
        return;
    UnitKeySet seen;
    for (i32 i = 0; i < list->getChildCount(); i++)
        if (list->getChild(i)->kind == kNamespace)
            seen.insert(scopeKey(list->getChild(i)));
    addOwnNamespaces(this, list, seen, withDeclarations);
}

bool XML::removeNamespace(XML* target, bool clearUses) {
    if (!target || target->kind != kNamespace)
        return false;
    const bool byPrefix = !target->name.isEmpty() && !isAscii(target->name, "*");
    auto fits = [&](const XML* candidate) {
        return candidate && candidate->kind == kNamespace && candidate->value == target->value &&
               (!byPrefix || candidate->name == target->name);
    };
    bool changed = false;
    std::unordered_set<const XML*> used;
    auto visitUses = [&](XML* node) {
        if (!fits(node->ns))
            return;
        if (clearUses) {
            XMLTree::useNamespace(node, nullptr);
            changed = true;
        } else {
            used.insert(node->ns);
        }
    };
    auto eachElement = [&](auto&& action) {
        auto fromTop = [&](XML* top) {
            XMLTree::walkElements(top, [&](XML* element) { action(element); return true; },
                                  [](XML*) {});
        };
        if (kind == kList) {
            for (i32 i = 0; i < getChildCount(); i++)
                fromTop(getChild(i));
        } else {
            fromTop(this);
        }
    };
    eachElement([&](XML* element) {
        visitUses(element);
        for (i32 i = 0; i < element->getAttributeCount(); i++)
            visitUses(element->getAttribute(i));
    });
    eachElement([&](XML* element) {
        if (compact(element->declarations, nullptr, false, [&](XML* d) {
                return fits(d) && (clearUses || !used.count(d));
            }) >= 0)
            changed = true;
    });
    return changed;
}

// ---- building ----

namespace {

bool isAncestorOrSelf(const XML* candidate, const XML* node) {
    for (const XML* at = node; at; at = at->getParent())
        if (at == candidate)
            return true;
    return false;
}

// The namespace in scope at node for a prefix, when it has this URI.
XML* inScopeWithURI(const XML* node, const String& prefix, const String& uri) {
    for (const XML* at = node; at; at = at->getParent()) {
        XML* found = ownNamespaceFitting(at, &prefix, nullptr);
        if (found)
            return found->getValue() == uri ? found : nullptr;
    }
    return nullptr;
}

// The declaration of a URI nearest to node: its own first, then upwards.
XML* declarationWithURI(const XML* node, const String& uri) {
    for (const XML* at = node; at; at = at->getParent())
        for (i32 i = 0; i < at->getDeclarationCount(); i++)
            if (at->getDeclaration(i)->getValue() == uri)
                return at->getDeclaration(i);
    return nullptr;
}

}  // namespace

bool XML::insert(XML* node, i32 index, bool adopt) {
    Adopted handed(node, adopt);
    if (!node || !isElementOrList(this))
        return false;
    auto refused = [&](const XML* candidate) {
        return candidate == this || (kind == kElement && isAncestorOrSelf(candidate, this));
    };
    if (node->kind != kList) {
        if (refused(node))
            return false;
        insertOne(node, index);
        return true;
    }
    const i32 n = node->getChildCount();
    for (i32 i = 0; i < n; i++)
        if (refused(node->getChild(i)))
            return false;
    TSimpleArray<XML> items;
    if (node->children)
        items = *node->children;    // this list may change under the loop
    for (i32 i = 0; i < n; i++)
        insertOne(items.get(i), index == kAppend ? kAppend : index + i);
    return true;
}

void XML::insertOne(XML* node, i32 index) {
    if (kind == kList || (node->kind != kAttribute && node->kind != kNamespace)) {
        node->addRef();
        XMLTree::own(children, node, index);
        if (kind == kElement)
            node->parent = this;
        return;
    }
    if (node->kind == kAttribute) {
        node->addRef();
        node->parent = this;
        const String& uri = uriOf(node->ns);
        for (i32 i = 0; i < getAttributeCount(); i++) {
            XML* old = attributes->get(i);
            if (old->name == node->name && uriOf(old->ns) == uri) {
                attributes->set(i, node);
                if (old != node) {
                    if (old->parent == this)
                        old->parent = nullptr;
                }
                old->release();
                return;
            }
        }
        XMLTree::own(attributes, node, kAppend);
        return;
    }
    if (XML* inScope = inScopeWithURI(this, node->name, node->value)) {
        if (inScope != node)
            swapNamespace(node, inScope);
        return;
    }
    XMLTree::adoptDeclaration(this, node);
}

// Uses of old below this element go to the declaration of its URI nearest to
// them, or to fresh when there is none (added to the declarations then).
void XML::swapNamespace(XML* old, XML* fresh) {
    const String& uri = fresh->value;
    struct Frame {
        XML* element;
        XML* nearest;
        i32 next;
    };
    auto declared = [&](XML* element, XML* outer) {
        for (i32 i = 0; i < element->getDeclarationCount(); i++)
            if (element->getDeclaration(i) != old && element->getDeclaration(i)->value == uri)
                return element->getDeclaration(i);
        return outer;
    };
    auto fix = [&](XML* node, XML* nearest) -> XML* {
        if (node->ns != old)
            return nearest;
        if (!nearest) {
            XMLTree::adoptDeclaration(node, fresh);
            nearest = fresh;
        }
        XMLTree::useNamespace(node, nearest);
        return nearest;
    };
    auto enter = [&](XML* element, XML* outer) -> Frame {
        XML* nearest = declared(element, outer);
        for (i32 i = 0; i < element->getAttributeCount(); i++)
            fix(element->getAttribute(i), nearest);
        nearest = fix(element, nearest);
        return {element, nearest, 0};
    };
    std::vector<Frame> stack{enter(this, parent ? declarationWithURI(parent, uri) : nullptr)};
    while (!stack.empty()) {
        Frame& top = stack.back();
        if (top.next >= top.element->getChildCount()) {
            stack.pop_back();
            continue;
        }
        XML* child = top.element->getChild(top.next++);
        if (child->kind == kElement) {
            XML* nearest = top.nearest;
            stack.push_back(enter(child, nearest));
        }
    }
}

bool XML::insertContent(XML* node, i32 index, bool adopt) {
    Adopted handed(node, adopt);
    if (!node || !isElementOrList(this))
        return false;
    if (node->kind == kList) {
        const i32 n = node->getChildCount();
        TSimpleArray<XML> items;
        if (node->children)
            items = *node->children;
        for (i32 i = 0; i < n; i++) {
            XML* item = items.get(i);
            item->addRef();
            if (!insertContent(item, index == kAppend ? kAppend : index + i, true))
                return false;
        }
        return true;
    }
    if (kind == kElement &&
        (node->kind == kAttribute || node->kind == kProcessingInstruction || node->kind == kNamespace))
        return insert(new XML(kText, node->value), index, true);
    return insert(node, index, false);
}

namespace {

// A new element or attribute for a qualified name, without its namespace
// yet: "URI::b" and a prefix that names a namespace give b and that
// namespace (ns, a new reference or null); "*::b" gives b in none; a prefix
// that names nothing keeps the whole text as the name.
XML* makeNamed(const XML* context, const String& qualifiedName, bool attribute, XML*& ns,
               bool& clearNamespace) {
    String rest = qualifiedName;
    if (rest[0] == '@')
        rest = rest.substr(1);
    ns = nullptr;
    clearNamespace = false;
    String local = rest;
    const i32 uriEnd = rest.find(String("::"), -1, true);
    if (uriEnd >= 0) {
        String uri = rest.substr(0, uriEnd);
        uri.trim();
        local = rest.substr(uriEnd + 2);
        if (local[0] == '@')
            local = local.substr(1);
        clearNamespace = true;
        if (!isAscii(uri, "*") && !uri.isEmpty()) {
            ns = new XML(XML::kNamespace, String("*"));
            XMLTree::setValueOf(ns, uri);
        }
    } else if (i32 colon = rest.find(unit(':'), -1, true); colon >= 0) {
        String prefix = rest.substr(0, colon);
        prefix.trim();
        if (isAscii(prefix, "*")) {
            clearNamespace = true;
            local = rest.substr(colon + 1);
        } else if (XML* found = namespaceOfPrefix(context, prefix)) {
            clearNamespace = true;
            local = rest.substr(colon + 1);
            ns = found;
            ns->addRef();
        }
    }
    local.trim();
    XML* node = attribute ? new XML(XML::kAttribute, local) : new XML(local);
    if (clearNamespace)
        XMLTree::useNamespace(node, nullptr);
    return node;
}

}  // namespace

XML* XML::placeNew(const String& qualifiedName, bool attribute, i32 index,
                   const String* text, XML* content) {
    XML* ns = nullptr;
    bool clearNamespace = false;
    XML* node = makeNamed(this, qualifiedName, attribute, ns, clearNamespace);
    Adopted nsHeld(ns, true);
    try {
        if (attribute) {
            String v;
            if (text)
                v = *text;
            else if (content)
                content->toString(v, -1);
            node->value = v;
        } else if (text && !text->isEmpty()) {
            XMLTree::adoptChild(node, new XML(kText, *text));
        } else if (content) {
            node->insert(content, kAppend, false);
        }
    } catch (...) {
        node->release();
        throw;
    }
    if (attribute) {
        XMLTree::adoptAttribute(this, node);
    } else {
        XMLTree::own(children, node, index);
        if (kind == kElement)
            node->parent = this;
    }
    if (ns)
        node->setNamespace(ns);
    return node;
}

XML* XML::addChild(const String& childName) { return addChildWith(childName, nullptr, nullptr, false); }

XML* XML::addChild(const String& childName, const String& text) {
    return addChildWith(childName, &text, nullptr, false);
}

XML* XML::addChild(const String& childName, XML* content, bool adopt) {
    return addChildWith(childName, nullptr, content, adopt);
}

XML* XML::addChildWith(const String& childName, const String* text, XML* content, bool adopt) {
    Adopted handed(content, adopt);
    if (childName.isEmpty() || !isElementOrList(this))
        return nullptr;
    if (childName[0] == '@')
        return putValue(childName, text, content);
    return placeNew(childName, false, kAppend, text, content);
}

XML* XML::put(const String& childName, const String& text) {
    return putValue(childName, &text, nullptr);
}

XML* XML::put(const String& childName, XML* content, bool adopt) {
    Adopted handed(content, adopt);
    return putValue(childName, nullptr, content);
}

XML* XML::putValue(const String& childName, const String* text, XML* content) {
    if (childName.isEmpty() || !isElementOrList(this))
        return nullptr;
    if (isPath(childName)) {
        std::vector<String> segments = pathSegments(childName);
        if (segments.empty())
            return nullptr;
        XML* at = this;
        for (size_t i = 0; i + 1 < segments.size(); i++) {
            XML* found = at->find(segments[i], 0);
            XML* next = firstElement(found);
            found->release();
            if (!next)
                next = at->addChild(segments[i]);
            if (!next || next->kind != kElement)
                return nullptr;
            at = next;
        }
        return at->putValue(segments.back(), text, content);
    }
    QualifiedName q;
    q.read(childName, this);
    if (q.local.isEmpty() && q.attribute)
        return nullptr;
    const XML* inherited = kind == kElement ? XMLTree::effectiveNamespace(this) : nullptr;
    const bool onAttributes = q.attribute && kind == kElement;
    const i32 first = compact(onAttributes ? attributes : children, this, false, [&](XML* node) {
        return q.matches(node, kind == kList ? XMLTree::effectiveNamespace(node->parent) : inherited);
    });
    if (!q.local.isEmpty())
        return placeNew(childName, q.attribute, first, text, content);
    // "*": the value itself becomes the content.
    const i32 at = first < 0 ? kAppend : first;
    if (content) {
        return insertContent(content, at, false) ? content : nullptr;
    }
    if (!text || text->isEmpty())
        return nullptr;
    XML* node = new XML(kText, *text);
    insert(node, at, true);
    return node;
}

i32 XML::removeByName(const String& qualifiedName) {
    if (!isElementOrList(this))
        return -1;
    QualifiedName q;
    q.read(qualifiedName, this);
    const XML* inherited = kind == kElement ? XMLTree::effectiveNamespace(this) : nullptr;
    const bool onAttributes = q.attribute && kind == kElement;
    return compact(onAttributes ? attributes : children, this, true, [&](XML* node) {
        return q.matches(node, kind == kList ? XMLTree::effectiveNamespace(node->parent) : inherited);
    });
}

void XML::removeChild(XML* node) {
    if (!node)
        return;
    if (node->kind == kList) {
        TSimpleArray<XML> items;
        if (node->children)
            items = *node->children;
        for (i32 i = 0; i < items.getCount(); i++)
            if (XML* itemParent = items.get(i)->parent)
                itemParent->removeChild(items.get(i));
        return;
    }
    TSimpleArray<XML>** array = &children;
    if (kind == kElement && node->kind == kAttribute)
        array = &attributes;
    else if (kind == kElement && node->kind == kNamespace)
        array = &declarations;
    const i32 at = *array ? (*array)->find(node) : -1;
    if (at < 0)
        return;
    (*array)->removeAt(at);
    if (node->parent == this)
        node->parent = nullptr;
    if (array == &declarations && ns == node)
        XMLTree::useNamespace(this, nullptr);
    node->release();
}

void XML::removeChildAt(i32 index, u32 flags) {
    TSimpleArray<XML>* array = (flags & kAttributeIndex) ? attributes : children;
    if (!array || index < 0 || index >= array->getCount())
        return;
    XML* node = array->removeAt(index);
    if (node->parent == this)
        node->parent = nullptr;
    node->release();
}

bool XML::setName(const String& text) {
    switch (kind) {
    case kElement:
    case kAttribute:
    case kProcessingInstruction:
        name = text;
        return true;
    case kText:
        if (!isAscii(text, "CDATA"))
            return false;
        name = text;
        return true;
    default:
        return false;
    }
}

bool XML::setValue(const String& text) {
    if (isElementOrList(this))
        return false;
    value = text;
    return true;
}

bool XML::setNamespace(XML* nsNode) {
    if ((kind != kElement && kind != kAttribute) || (nsNode && nsNode->kind != kNamespace))
        return false;
    if (!nsNode) {
        XMLTree::useNamespace(this, nullptr);
        return true;
    }
    XML* found = declarationWithURI(this, nsNode->value);
    if (!found) {
        XMLTree::adoptDeclaration(this, nsNode);
        found = nsNode;
    }
    XMLTree::useNamespace(this, found);
    return true;
}

void XML::normalize() {
    auto tidy = [](XML* element) {
        if (!element->children)
            return true;
        XML* run = nullptr;     // the first text node of the current run
        compact(element->children, element, false, [&](XML* child) {
            if (child->kind != kText) {
                run = nullptr;
                return false;
            }
            if (child->value.isEmpty())
                return true;
            if (!run) {
                run = child;
                return false;
            }
            run->value += child->value;
            return true;
        });
        return true;
    };
    if (kind == kList) {
        for (i32 i = 0; i < getChildCount(); i++)
            XMLTree::walkElements(getChild(i), tidy, [](XML*) {});
        return;
    }
    XMLTree::walkElements(this, tidy, [](XML*) {});
}

// ---- copies ----

namespace {

XML* copyNamespaceNode(const XML* ns) {
    XML* copy = new XML(XML::kNamespace, ns->getName());
    XMLTree::setValueOf(copy, ns->getValue());
    return copy;
}

}  // namespace

XML* XML::copyOne(const XML* source, NamespaceScope& scope, bool inScopeDeclarations) {
    XML* copy = XMLTree::blank(source->kind);
    copy->name = source->name;
    copy->value = source->value;
    try {
        if (source->children && source->children->getCount() == 0)
            copy->children = new TSimpleArray<XML>;
        if (inScopeDeclarations) {
            XML* inScope = source->getInScopeNamespaces();
            Adopted held(inScope, true);
            for (i32 i = 0; i < inScope->getChildCount(); i++)
                XMLTree::own(copy->declarations, copyNamespaceNode(inScope->getChild(i)), kAppend);
        } else {
            for (i32 i = 0; i < source->getDeclarationCount(); i++)
                XMLTree::own(copy->declarations, copyNamespaceNode(source->getDeclaration(i)), kAppend);
        }
        for (i32 i = 0; i < copy->getDeclarationCount(); i++) {
            XML* d = copy->declarations->get(i);
            scope.bind(d->name, d->value, d);
        }
        // A namespace goes to the copy's declaration of its prefix and URI,
        // else of its URI, else stays the one it was.
        auto rebind = [&](XML* ns) -> XML* {
            if (!ns)
                return nullptr;
            i32 b = scope.byPrefix(ns->name);
            if (b >= 0 && scope.at(b).uri == ns->value)
                return scope.at(b).node;
            b = scope.byURI(ns->value);
            return b >= 0 ? scope.at(b).node : ns;
        };
        XMLTree::useNamespace(copy, rebind(source->ns));
        for (i32 i = 0; i < source->getAttributeCount(); i++) {
            const XML* attribute = source->attributes->get(i);
            XML* a = XMLTree::blank(kAttribute);
            XMLTree::adoptAttribute(copy, a);
            a->name = attribute->name;
            a->value = attribute->value;
            for (i32 j = 0; j < attribute->getDeclarationCount(); j++)
                XMLTree::own(a->declarations, copyNamespaceNode(attribute->getDeclaration(j)), kAppend);
            XMLTree::useNamespace(a, rebind(attribute->ns));
        }
    } catch (...) {
        copy->release();
        throw;
    }
    return copy;
}

XML* XML::copy(bool deep, WorkMeter* meter) const {
    if (kind == kList) {
        XML* list = new XML(kList);
        list->name = name;
        list->value = value;
        if (children) {
            list->children = new TSimpleArray<XML>;
            *list->children = *children;
            for (i32 i = 0; i < children->getCount(); i++)
                children->get(i)->addRef();
        }
        return list;
    }
    NamespaceScope scope;
    XML* root = copyOne(this, scope, kind == kElement);
    if (!deep || kind != kElement)
        return root;
    struct Frame {
        const XML* source;
        XML* copy;
        i32 next;
        i32 mark;
    };
    try {
        std::vector<Frame> stack{{this, root, 0, 0}};
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next >= top.source->getChildCount()) {
                scope.unwind(top.mark);
                stack.pop_back();
                continue;
            }
            if (!counted(meter))
                break;
            const XML* child = top.source->getChild(top.next++);
            XML* target = top.copy;
            const i32 mark = scope.mark();
            XML* made = copyOne(child, scope, false);
            XMLTree::adoptChild(target, made);
            if (child->kind == kElement)
                stack.push_back({child, made, 0, mark});
            else
                scope.unwind(mark);
        }
    } catch (...) {
        root->release();
        throw;
    }
    return root;
}

}  // namespace LxCore
