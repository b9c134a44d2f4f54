// The parse tree: nodes whose meaning is their kind and code (the class
// only tells how many operands a node has), and the scope records the
// parser fills for the script and each function. The code generator walks
// the tree once; constant sub-expressions fold on the way.
#pragma once
#include <atomic>

#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"
#include "script/frontend/DataPool.h"
#include "script/frontend/Scanner.h"

namespace LxScript {

class Engine;
class UnaryNode;
class BinaryNode;
class TernaryNode;
class ListNode;
class LabelNode;
class ScopeNode;

// Node codes beside operator and word ids and token codes.
namespace NodeCode {
constexpr i32 kParentheses = i32(0x80002928);   // "()": a filter predicate
constexpr i32 kAttribute = 0x40000040;          // "@"
constexpr i32 kDescendants = i32(0x80002e2e);   // ".."
constexpr i32 kQualifiedName = i32(0x80003a3a); // "::"
constexpr i32 kXMLLiteral = kNameXML;
constexpr i32 kObjectLiteral = kNameObject;
}  // namespace NodeCode

// One function or script scope: its text and the slots of its names.
// Counted by incRef and decRef; deleted at 0.
class ScopeInfo : public LxCore::Root {
public:
    // A slot value is its tag plus the index within its sort.
    static constexpr i32 kParameterSlot = 0x20000000;
    static constexpr i32 kVariableSlot = 0x40000000;
    static constexpr i32 kConstantSlot = 0x60000000;
    static constexpr i32 kSlotTagMask = i32(0xE0000000);
    static constexpr u32 kScriptScope = 0x10000;        // "return" is refused
    static constexpr u32 kFunctionExpression = 0x20000;

    ScopeInfo() : serial(nextSerial()) {}
    ScopeInfo(const ScopeInfo&) = delete;
    ScopeInfo& operator=(const ScopeInfo&) = delete;

    void incRef() { refCount++; }
    void decRef() {
        if (--refCount == 0)
            delete this;
    }

    // The slot of a name; 0 when the scope declares none.
    i32 lookup(DataPoolId name) const { return i32(intptr_t(symbols.get(name))); }
    // lookup for the running code, which asks for the same free names (a
    // global, a closure's variable) on every call: a name found undeclared
    // is remembered, so that the next ask takes no hash lookup.
    i32 lookupRunning(DataPoolId name) const {
        DataPoolId& seen = undeclared[u32(name) % kUndeclaredMemo];
        if (seen == name && name != 0)
            return 0;
        const i32 slot = lookup(name);
        if (slot == 0)
            seen = name;
        return slot;
    }
    // Gives the name the next slot of the sort (a repeated parameter takes
    // the later index).
    i32 addParameter(DataPoolId name) { return addSlot(name, kParameterSlot | parameters++); }
    i32 addVariable(DataPoolId name) { return addSlot(name, kVariableSlot | variables++); }
    i32 addConstant(DataPoolId name) { return addSlot(name, kConstantSlot | constants++); }

    u32 refCount = 0;
    LxCore::String source;          // the text the range below lies in
    DataPoolId file = 0;
    i32 start = 0;                  // of the function's text
    i32 length = -1;                // -1: the whole text (the script scope)
    LxCore::IntHashTable symbols;   // name id -> slot value
    i32 parameters = 0;
    i32 variables = 0;
    i32 constants = 0;
    i32 line = 0;
    DataPoolId name = 0;
    u32 flags = 0;                  // the kinds above; the low bits are directive flags
    // No two scopes of the process's life share one: a name site that
    // remembers the scopes its lookup passed needs no reference to them.
    const u64 serial;

private:
    static u64 nextSerial() {
        static std::atomic<u64> last{0};
        return last.fetch_add(1, std::memory_order_relaxed) + 1;
    }

    // Entries of lookupRunning's memo; a name maps to one by its id.
    static constexpr u32 kUndeclaredMemo = 8;

    ~ScopeInfo() = default;
    i32 addSlot(DataPoolId name, i32 slot) {
        DataPoolId& seen = undeclared[u32(name) % kUndeclaredMemo];
        if (seen == name)
            seen = 0;   // declared now
        symbols.put(name, reinterpret_cast<void*>(intptr_t(slot)));
        return slot;
    }

    mutable DataPoolId undeclared[kUndeclaredMemo] = {};
};

class Node : public LxCore::Root {
public:
    enum Kind : i32 {
        kEmpty = 0,
        kOperator = 1,      // operators, statements, and the constants false, null, true
        kName = 2,          // with an argument list on the right: a call
        kSelector = 3,      // a member's name; code "()": a filter
        kNumber = 4,
        kString = 5,
        kRegExp = 6,        // constant: pattern, line end, flags
        kArguments = 7,
        kArray = 8,         // an array literal, or an index selector
        kLabel = 9,
        kObject = 10,
        kInitialiser = 11,  // a declaration's "=": generated as kind 1
        kXMLTag = 13,       // an expression inside a tag
        kXMLAttribute = 14, // an expression as an attribute value
    };

    // Code, kind and position from the token; literals and false, null
    // and true take their value as the constant.
    explicit Node(const ScanInfo& token);
    // Position from the token; no constant.
    Node(const TokenPosition& token, i32 code, i32 kind);
    // Destroys the operands too, without recursion however deep the tree.
    virtual ~Node();
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;

    // Nodes and their constants come from the node heap (Node.cpp).
    static void* operator new(size_t size);
    static void operator delete(void* block, size_t size);

    // The node that stands in this one's place after folding; when it is
    // another node, this one has been destroyed.
    virtual Node* foldConstants() { return this; }
    virtual UnaryNode* toUnaryNode() { return nullptr; }
    virtual BinaryNode* toBinaryNode() { return nullptr; }
    virtual TernaryNode* toTernaryNode() { return nullptr; }
    virtual ListNode* toListNode() { return nullptr; }
    virtual LabelNode* toLabelNode() { return nullptr; }
    virtual ScopeNode* toScopeNode() { return nullptr; }
    const UnaryNode* toUnaryNode() const { return const_cast<Node*>(this)->toUnaryNode(); }
    const BinaryNode* toBinaryNode() const { return const_cast<Node*>(this)->toBinaryNode(); }
    const TernaryNode* toTernaryNode() const { return const_cast<Node*>(this)->toTernaryNode(); }
    const ListNode* toListNode() const { return const_cast<Node*>(this)->toListNode(); }
    const LabelNode* toLabelNode() const { return const_cast<Node*>(this)->toLabelNode(); }
    const ScopeNode* toScopeNode() const { return const_cast<Node*>(this)->toScopeNode(); }
    // A one-line form for debugging, built without recursion.
    virtual LxCore::String toString() const;
    virtual void dump(Engine& engine, i32 indent) const {}

    const LxCore::Variant* getConstant() const { return constant; }
    bool isEmpty() const { return kind == kEmpty; }
    bool isConstant() const { return constant != nullptr; }
    // A constant that may take part in operators: a regular expression
    // stands for a new object each time, so it is constant only for typeof,
    // "!" and conditions.
    bool isFoldable() const { return constant != nullptr && kind != kRegExp; }
    // Makes the value this node's constant; kind and code follow its type.
    void setConstant(const LxCore::Variant& value);
    // The constant's text as the runtime would give it; empty when none.
    LxCore::String constantText() const;

    // Operands in order, for walks that must not recurse.
    virtual i32 getOperandCount() const { return 0; }
    virtual Node* getOperand(i32 index) const { return nullptr; }

    LxCore::Variant* constant = nullptr;   // owned
    i32 code;
    DataPoolId file;
    i32 line;
    i32 column;
    i32 length;
    i32 kind;

protected:
    Node* link = nullptr;       // the next node of a work list

    // Moves every operand onto the work list and forgets it.
    virtual void takeOperands(Node*& list) {}
    // Destroys the operands after takeOperands, one node at a time.
    void destroyOperands();
    // Fixes kind and code after the constant changed.
    void takeKindFromConstant();
    void makeConstant(const LxCore::Variant& value);
    virtual void appendOpening(LxCore::String& out) const;
    virtual void appendClosing(LxCore::String& out) const {}
    virtual bool separatesOperands() const { return true; }

    friend class UnaryNode;
    friend class BinaryNode;
    friend class TernaryNode;
    friend class ListNode;
    friend class LabelNode;
    friend class ScopeNode;
};

class EmptyNode : public Node {
public:
    explicit EmptyNode(const TokenPosition& token) : Node(token, 0, kEmpty) {}
};

class UnaryNode : public Node {
public:
    UnaryNode(const TokenPosition& token, i32 code, i32 kind, Node* operand = nullptr)
        : Node(token, code, kind), operand(operand) {}
    ~UnaryNode() override { destroyOperands(); }
    // Codes 1..48: the operand folds first; then a constant operand takes the
    // result of typeof, delete, "~", "!", "+" and "-" and stands in this
    // node's place. Chains of them fold without recursion.
    Node* foldConstants() override;
    UnaryNode* toUnaryNode() override { return this; }
    i32 getOperandCount() const override { return 1; }
    Node* getOperand(i32 index) const override { return index == 0 ? operand : nullptr; }

    Node* operand;

protected:
    void takeOperands(Node*& list) override;
    void appendOpening(LxCore::String& out) const override;
    void appendClosing(LxCore::String& out) const override { out += LxCore::unit(')'); }

private:
    Node* foldOne();
};

class BinaryNode : public Node {
public:
    BinaryNode(const TokenPosition& token, i32 code, i32 kind, Node* left = nullptr, Node* right = nullptr)
        : Node(token, code, kind), left(left), right(right) {}
    ~BinaryNode() override { destroyOperands(); }
    // Codes 12..34 but "in", "instanceof", "===" and "!==": when both
    // operands are constant (they are not folded here), the left one takes
    // the result and stands in this node's place.
    Node* foldConstants() override;
    BinaryNode* toBinaryNode() override { return this; }
    i32 getOperandCount() const override { return 2; }
    Node* getOperand(i32 index) const override { return index == 0 ? left : index == 1 ? right : nullptr; }

    Node* left;
    Node* right;

protected:
    void takeOperands(Node*& list) override;
    void appendOpening(LxCore::String& out) const override;
    void appendClosing(LxCore::String& out) const override { out += LxCore::unit(')'); }
};

class TernaryNode : public Node {
public:
    TernaryNode(const TokenPosition& token, i32 code, i32 kind, Node* first = nullptr, Node* second = nullptr,
                Node* third = nullptr)
        : Node(token, code, kind), first(first), second(second), third(third) {}
    ~TernaryNode() override { destroyOperands(); }
    // "?:": the condition folds; a constant one selects its branch, which
    // stands in this node's place.
    Node* foldConstants() override;
    TernaryNode* toTernaryNode() override { return this; }
    i32 getOperandCount() const override { return 3; }
    Node* getOperand(i32 index) const override {
        return index == 0 ? first : index == 1 ? second : index == 2 ? third : nullptr;
    }

    Node* first;
    Node* second;
    Node* third;

protected:
    void takeOperands(Node*& list) override;
    void appendOpening(LxCore::String& out) const override;
    void appendClosing(LxCore::String& out) const override { out += LxCore::unit(')'); }
};

class ListNode : public Node {
public:
    // Code 0 and kind 1 unless given.
    explicit ListNode(const TokenPosition& token, i32 code = 0, i32 kind = kOperator) : Node(token, code, kind) {}
    ~ListNode() override {
        destroyOperands();
        releaseElements();
    }
    // A comma list folds every element; when all are constant the last one
    // stands in the list's place. An empty list stays.
    Node* foldConstants() override;
    ListNode* toListNode() override { return this; }
    i32 getOperandCount() const override { return length(); }
    Node* getOperand(i32 index) const override { return getNode(index); }

    i32 length() const { return count; }
    // Null outside the list.
    Node* getNode(i32 index) const { return index >= 0 && index < count ? elements[index] : nullptr; }
    // Appends, growing the list geometrically; throws std::bad_alloc and
    // leaves the list as it was when there is no room.
    void add(Node* node);
    // Nothing outside the list.
    void setNode(i32 index, Node* node) {
        if (index >= 0 && index < count)
            elements[index] = node;
    }
    // Takes the element out of the list (the list gets shorter); an index
    // below 0 acts as 0, one past the end gives null.
    Node* removeNode(i32 index);

protected:
    void takeOperands(Node*& list) override;
    void appendOpening(LxCore::String& out) const override;
    void appendClosing(LxCore::String& out) const override;

private:
    // The elements lie in a block of the node heap, like the nodes.
    Node** elements = nullptr;
    i32 count = 0;
    i32 capacity = 0;

    void releaseElements();
};

class LabelNode : public Node {
public:
    explicit LabelNode(const TokenPosition& token) : Node(token, 0, kLabel) {}
    ~LabelNode() override { destroyOperands(); }
    LabelNode* toLabelNode() override { return this; }
    i32 getOperandCount() const override { return 1; }
    Node* getOperand(i32 index) const override { return index == 0 ? statement : nullptr; }

    i32 getLabelCount() const { return labels.getCount(); }
    DataPoolId getLabel(i32 index) const { return DataPoolId(labels.get(index)); }
    bool hasLabel(DataPoolId label) const { return labels.find(label) >= 0; }
    // Appends, growing the list geometrically.
    void addLabel(DataPoolId label);

    Node* statement = nullptr;

protected:
    void takeOperands(Node*& list) override;
    void appendOpening(LxCore::String& out) const override;
    bool separatesOperands() const override { return false; }

private:
    LxCore::SimpleArray labels;
};

class ScopeNode : public Node {
public:
    // A new ScopeInfo with the token's file and line.
    ScopeNode(const TokenPosition& token, i32 code);
    ~ScopeNode() override;
    ScopeNode* toScopeNode() override { return this; }
    i32 getOperandCount() const override { return 1; }
    Node* getOperand(i32 index) const override { return index == 0 ? body : nullptr; }

    ScopeInfo* info;            // one counted reference
    i32 value = 0;              // the line of the closing brace; the script's last line
    Node* body = nullptr;

protected:
    void takeOperands(Node*& list) override;
    void appendOpening(LxCore::String& out) const override;
    void appendClosing(LxCore::String& out) const override { out += LxCore::unit('}'); }
    bool separatesOperands() const override { return false; }
};

}  // namespace LxScript
