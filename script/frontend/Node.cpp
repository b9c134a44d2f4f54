// Parse-tree nodes: construction, destruction and printing without
// recursion (a tree may be a million levels deep), and constant folding.
#include "script/frontend/Node.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "core/Heap.h"
#include "script/frontend/ConstantOps.h"
#include "script/frontend/Scanner.h"

namespace LxScript {

using LxCore::String;
using LxCore::unit;
using LxCore::Variant;

namespace {

void appendSymbol(String& out, DataPoolId id) { out += DataPool::get().getSymbol(id); }

// A list grows by half its length at least, so that long lists fill in
// linear time (core arrays grow by a fixed step).
void addGrowing(LxCore::SimpleArray& array, LxCore::SimpleArray::Value value) {
    const i32 count = array.getCount();
    if (count >= 8 && (count & (count - 1)) == 0)
        array.setGrowBy(count);
    array.add(value);
}

#if defined(__SANITIZE_ADDRESS__)
#define TAVREL_NODE_HEAP_OFF 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TAVREL_NODE_HEAP_OFF 1
#endif
#endif

// Trees are built and destroyed whole, and often: their nodes and constants
// come from chunks of the node heap and go back to its free lists, one size
// class per 16 bytes, instead of costing a heap allocation each. When the
// last block in use goes, the chunks go back to the core heap. Like the core
// heap's caches, it serves one thread at a time. The sanitizers see every
// block on its own.
#if defined(TAVREL_NODE_HEAP_OFF)
class NodeHeap {
public:
    static void* alloc(size_t size) { return LxCore::Heap::alloc(size); }
    static void free(void* block, size_t) { LxCore::Heap::free(block); }
};
#else
class NodeHeap {
public:
    static void* alloc(size_t size) {
        const size_t sizeClass = (size + kGrain - 1) / kGrain;
        if (sizeClass >= kClasses)
            return LxCore::Heap::alloc(size);
        void* block = freeBlocks[sizeClass];
        if (block) {
            freeBlocks[sizeClass] = *static_cast<void**>(block);
        } else {
            const size_t bytes = sizeClass * kGrain;
            if (!chunk || chunkUsed + bytes > kChunkBytes)
                newChunk();
            block = reinterpret_cast<LxCore::u8*>(chunk) + chunkUsed;
            chunkUsed += bytes;
        }
        live++;
        return block;
    }

    static void free(void* block, size_t size) {
        const size_t sizeClass = (size + kGrain - 1) / kGrain;
        if (sizeClass >= kClasses) {
            LxCore::Heap::free(block);
            return;
        }
        *static_cast<void**>(block) = freeBlocks[sizeClass];
        freeBlocks[sizeClass] = block;
        if (--live == 0)
            releaseChunks();
    }

private:
    static constexpr size_t kGrain = 16;
    static constexpr size_t kClasses = 9;               // blocks up to 128 bytes
    static constexpr size_t kChunkBytes = 64 * 1024;
    static constexpr size_t kChunkHeader = 16;          // the link to the older chunk

    static inline void* freeBlocks[kClasses] = {};
    static inline void* chunk = nullptr;                // the newest; each links the one before
    static inline size_t chunkUsed = 0;
    static inline size_t live = 0;

    static void newChunk() {
        void* fresh = LxCore::Heap::alloc(kChunkBytes);
        *static_cast<void**>(fresh) = chunk;
        chunk = fresh;
        chunkUsed = kChunkHeader;
    }
    static void releaseChunks() {
        while (chunk) {
            void* older = *static_cast<void**>(chunk);
            LxCore::Heap::free(chunk);
            chunk = older;
        }
        chunkUsed = 0;
        for (void*& list : freeBlocks)
            list = nullptr;
    }
};
#endif

}  // namespace

// ---------------------------------------------------------------------------
// Node

void* Node::operator new(size_t size) { return NodeHeap::alloc(size); }

void Node::operator delete(void* block, size_t size) { NodeHeap::free(block, size); }

void Node::makeConstant(const Variant& value) {
    void* block = NodeHeap::alloc(sizeof(Variant));
    try {
        constant = ::new (block) Variant(value);
    } catch (...) {
        NodeHeap::free(block, sizeof(Variant));
        throw;
    }
}

Node::Node(const ScanInfo& token)
    : code(token.code), file(token.file), line(token.line), column(token.column), length(token.length),
      kind(token.kind) {
    switch (token.kind) {
        case kNumber: case kString: case kRegExp:
            makeConstant(token.value);
            break;
        default:
            if (code == kWordFalse || code == kWordTrue) {
                makeConstant(Variant(code == kWordTrue));
            } else if (code == kWordNull) {
                Variant null;
                null.setNull();
                makeConstant(null);
            }
            break;
    }
}

Node::Node(const TokenPosition& token, i32 code, i32 kind)
    : code(code), file(token.file), line(token.line), column(token.column), length(token.length), kind(kind) {}

Node::~Node() {
    if (constant) {
        constant->~Variant();
        NodeHeap::free(constant, sizeof(Variant));
    }
}

// Each node's operands go onto the list before the node is deleted, so no
// destructor ever finds operands to destroy: the depth costs no stack.
void Node::destroyOperands() {
    Node* list = nullptr;
    takeOperands(list);
    while (list) {
        Node* node = list;
        list = node->link;
        node->takeOperands(list);
        delete node;
    }
}

void Node::setConstant(const Variant& value) {
    if (constant)
        *constant = value;
    else
        makeConstant(value);
    takeKindFromConstant();
}

// Booleans and null are operator nodes with their word as code; numbers and
// strings are literals (-0 keeps the code of "-0").
void Node::takeKindFromConstant() {
    switch (constant->getType()) {
        case Variant::kBoolean:
            code = constant->toBoolean() ? kWordTrue : kWordFalse;
            kind = kOperator;
            break;
        case Variant::kNull:
            code = kWordNull;
            kind = kOperator;
            break;
        case Variant::kNumber:
            code = constant->isNegativeZero() ? kNameMinusZero : 0;
            kind = kNumber;
            break;
        case Variant::kString:
            code = 0;
            kind = kString;
            break;
        default:
            kind = kOperator;
            break;
    }
}

String Node::constantText() const { return constant ? constant->toString() : String(); }

void Node::appendOpening(String& out) const {
    switch (kind) {
        case kName:
            appendSymbol(out, code);
            break;
        case kSelector:
            out += unit('.');
            if (constant)
                out += constant->toString();
            else
                appendSymbol(out, code);
            break;
        case kNumber:
            if (code == kNameMinusZero)
                out += "-0";
            else
                out += constantText();
            break;
        case kString: {
            out += unit('\'');
            const String text = constantText();
            for (i32 i = 0; i < text.length(); i++) {
                if (text[i] == '"')
                    out += unit('\\');
                out += text[i];
            }
            out += unit('\'');
            break;
        }
        case kRegExp: {
            const String text = constantText();
            const i32 cut = text.find(unit('\n'));
            out += unit('/');
            out += text.substr(0, cut);
            out += unit('/');
            if (cut >= 0)
                out += text.substr(cut + 1);
            break;
        }
        case kLabel:
            out += unit(':');
            break;
        default:
            break;
    }
}

String Node::toString() const {
    struct Step {
        const Node* node;
        i32 next;               // the operand to print next; -1 before the opening
    };
    String out;
    std::vector<Step> steps{{this, -1}};
    while (!steps.empty()) {
        Step& step = steps.back();
        const Node* node = step.node;
        if (step.next < 0) {
            node->appendOpening(out);
            step.next = 0;
        }
        if (step.next < node->getOperandCount()) {
            if (step.next > 0 && node->separatesOperands())
                out += unit(',');
            const Node* operand = node->getOperand(step.next++);
            if (operand)
                steps.push_back({operand, -1});
            continue;
        }
        node->appendClosing(out);
        steps.pop_back();
    }
    return out;
}

// ---------------------------------------------------------------------------
// Unary

void UnaryNode::takeOperands(Node*& list) {
    if (operand) {
        operand->link = list;
        list = operand;
        operand = nullptr;
    }
}

void UnaryNode::appendOpening(String& out) const {
    appendSymbol(out, code);
    out += unit('(');
}

namespace {
bool isUnaryFolding(i32 code) { return code >= kOpTypeof && code <= kLastOperator; }
}  // namespace

Node* UnaryNode::foldConstants() {
    if (!isUnaryFolding(code))
        return this;
    // Down the chain of foldable unary nodes, linking each to its parent...
    UnaryNode* inner = this;
    link = nullptr;
    while (inner->operand) {
        UnaryNode* next = inner->operand->toUnaryNode();
        if (!next || !isUnaryFolding(next->code))
            break;
        next->link = inner;
        inner = next;
    }
    if (inner->operand)
        inner->operand = inner->operand->foldConstants();
    // ...then up again, each node folding over its folded operand.
    for (UnaryNode* node = inner;;) {
        UnaryNode* parent = static_cast<UnaryNode*>(node->link);
        node->link = nullptr;
        Node* folded = node->foldOne();
        if (!parent)
            return folded;
        parent->operand = folded;
        node = parent;
    }
}

// The result of this node's operator on its constant operand, in the
// operand node, which then stands in this node's place.
Node* UnaryNode::foldOne() {
    Node* value = operand;
    if (!value || !value->constant)
        return this;
    const bool regExp = value->kind == kRegExp;
    Variant result;
    switch (code) {
        case kOpTypeof: {
            const char* name = regExp ? "function" : ConstantOps::typeOfPrimitive(*value->constant);
            result.setString(name ? name : "undefined");
            break;
        }
        case kOpDelete:
            if (regExp)
                return this;
            result.setBool(true);
            break;
        case kOpNot:
            result.setBool(!value->constant->toBoolean());
            break;
        case kOpBitNot: case kOpPlus: case kOpMinus:
            if (regExp)
                return this;
            result = *value->constant;
            ConstantOps::applyUnary(code, result);
            break;
        default:
            return this;
    }
    value->setConstant(result);
    operand = nullptr;
    delete this;
    return value;
}

// ---------------------------------------------------------------------------
// Binary

void BinaryNode::takeOperands(Node*& list) {
    if (right) {
        right->link = list;
        list = right;
        right = nullptr;
    }
    if (left) {
        left->link = list;
        list = left;
        left = nullptr;
    }
}

void BinaryNode::appendOpening(String& out) const {
    appendSymbol(out, code);
    out += unit('(');
}

Node* BinaryNode::foldConstants() {
    if (code < kOpMultiply || code > kOpOr || code == kOpIn || code == kOpInstanceof || code == kOpStrictEqual ||
        code == kOpStrictNotEqual)
        return this;
    if (!left || !right || !left->isFoldable() || !right->isFoldable())
        return this;
    Variant& value = *left->constant;
    const Variant& other = *right->constant;
    if (code == kOpAnd || code == kOpOr) {
        // The left value decides unless it lets the right one through.
        if (value.toBoolean() == (code == kOpAnd))
            value = other;
    } else if (!ConstantOps::applyBinary(code, value, other)) {
        return this;
    }
    left->takeKindFromConstant();
    Node* result = left;
    left = nullptr;
    delete this;
    return result;
}

// ---------------------------------------------------------------------------
// Ternary

void TernaryNode::takeOperands(Node*& list) {
    for (Node** slot : {&third, &second, &first}) {
        if (*slot) {
            (*slot)->link = list;
            list = *slot;
            *slot = nullptr;
        }
    }
}

void TernaryNode::appendOpening(String& out) const {
    appendSymbol(out, code);
    out += unit('(');
}

Node* TernaryNode::foldConstants() {
    if (code != kOpConditional || !first)
        return this;
    first = first->foldConstants();
    if (!first->isConstant())
        return this;
    Node*& chosen = first->constant->toBoolean() ? second : third;
    Node* result = chosen;
    chosen = nullptr;
    delete this;
    return result;
}

// ---------------------------------------------------------------------------
// Lists

namespace {
// Most lists are short: the first block holds a few elements and each
// growth doubles it, so that long lists fill in linear time.
constexpr i32 kFirstListCapacity = 4;
constexpr i32 kMaxListCapacity = 0x7FFFFFFF / i32(sizeof(Node*));
}  // namespace

void ListNode::add(Node* node) {
    if (count == capacity) {
        if (capacity >= kMaxListCapacity)
            throw std::bad_alloc();
        const i32 grown = capacity == 0 ? kFirstListCapacity
                          : capacity > kMaxListCapacity / 2 ? kMaxListCapacity
                                                            : capacity * 2;
        auto** fresh = static_cast<Node**>(NodeHeap::alloc(size_t(grown) * sizeof(Node*)));
        if (count > 0)
            std::memcpy(fresh, elements, size_t(count) * sizeof(Node*));
        releaseElements();
        elements = fresh;
        capacity = grown;
    }
    elements[count++] = node;
}

Node* ListNode::removeNode(i32 index) {
    index = std::max(index, 0);
    if (index >= count)
        return nullptr;
    Node* node = elements[index];
    std::memmove(elements + index, elements + index + 1, size_t(count - index - 1) * sizeof(Node*));
    count--;
    return node;
}

void ListNode::releaseElements() {
    if (elements)
        NodeHeap::free(elements, size_t(capacity) * sizeof(Node*));
    elements = nullptr;
    capacity = 0;
}

void ListNode::takeOperands(Node*& list) {
    for (i32 i = count - 1; i >= 0; i--) {
        if (Node* node = elements[i]) {
            node->link = list;
            list = node;
        }
    }
    count = 0;
}

void ListNode::appendOpening(String& out) const {
    out += unit(kind == kArguments ? '(' : kind == kArray ? '[' : '{');
}

void ListNode::appendClosing(String& out) const {
    out += unit(kind == kArguments ? ')' : kind == kArray ? ']' : '}');
}

Node* ListNode::foldConstants() {
    if (code != kOpComma || length() == 0)
        return this;
    bool constant = true;
    for (i32 i = 0; i < length(); i++) {
        Node* folded = getNode(i)->foldConstants();
        setNode(i, folded);
        constant = constant && folded->isConstant();
    }
    if (!constant)
        return this;
    Node* last = removeNode(length() - 1);
    delete this;
    return last;
}

// ---------------------------------------------------------------------------
// Labels and scopes

void LabelNode::addLabel(DataPoolId label) { addGrowing(labels, LxCore::SimpleArray::Value(label)); }

void LabelNode::takeOperands(Node*& list) {
    if (statement) {
        statement->link = list;
        list = statement;
        statement = nullptr;
    }
}

void LabelNode::appendOpening(String& out) const {
    for (i32 i = 0; i < labels.getCount(); i++) {
        if (i > 0)
            out += unit(' ');
        appendSymbol(out, getLabel(i));
        out += unit(':');
    }
}

ScopeNode::ScopeNode(const TokenPosition& token, i32 code) : Node(token, code, kOperator), info(new ScopeInfo) {
    info->incRef();
    info->file = token.file;
    info->line = token.line;
}

ScopeNode::~ScopeNode() {
    destroyOperands();
    info->decRef();
}

void ScopeNode::takeOperands(Node*& list) {
    if (body) {
        body->link = list;
        list = body;
        body = nullptr;
    }
}

// "SCOPE:name{(P:a,V:b,C:c)" in slot order: parameters, variables, constants.
void ScopeNode::appendOpening(String& out) const {
    out += "SCOPE:";
    appendSymbol(out, info->name);
    out += "{(";
    LxCore::SimpleArray keys;
    info->symbols.getKeys(keys);
    std::vector<std::pair<i32, DataPoolId>> entries;
    for (i32 i = 0; i < keys.getCount(); i++) {
        const DataPoolId name = DataPoolId(keys.get(i));
        entries.emplace_back(info->lookup(name), name);
    }
    std::sort(entries.begin(), entries.end());
    for (size_t i = 0; i < entries.size(); i++) {
        if (i > 0)
            out += unit(',');
        const i32 tag = entries[i].first & ScopeInfo::kSlotTagMask;
        out += unit(tag == ScopeInfo::kParameterSlot  ? 'P'
                    : tag == ScopeInfo::kVariableSlot ? 'V'
                    : tag == ScopeInfo::kConstantSlot ? 'C'
                                                      : '?');
        out += unit(':');
        appendSymbol(out, entries[i].second);
    }
    out += unit(')');
}

}  // namespace LxScript
