#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>

#include "core/String.h"
#include "core/Variant.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"
#include "script/frontend/ConstantOps.h"
#include "script/frontend/Node.h"
#include "script/frontend/Scanner.h"
#include "script/frontend/tests/FrontEndTestSupport.h"

namespace LxScript {
namespace {

using LxCore::String;
using LxCore::Variant;

// Leaves as the scanner would hand them to the parser.
Node* number(double value) {
    ScanInfo t;
    t.kind = ScanInfo::kNumber;
    t.value.setNumber(value);
    return new Node(t);
}
Node* text(const char* value) {
    ScanInfo t;
    t.kind = ScanInfo::kString;
    t.value.setString(value);
    return new Node(t);
}
Node* regExp(const char* value) {
    ScanInfo t;
    t.kind = ScanInfo::kRegExp;
    t.value.setString(value);
    return new Node(t);
}
Node* word(DataPoolId id) {
    ScanInfo t;
    t.kind = ScanInfo::kOperator;
    t.code = id;
    return new Node(t);
}
Node* name(const char* text) {
    ScanInfo t;
    t.kind = ScanInfo::kName;
    t.code = DataPool::get().add(text);
    return new Node(t);
}
Node* unary(i32 code, Node* operand) { return new UnaryNode(ScanInfo(), code, Node::kOperator, operand); }
Node* binary(i32 code, Node* left, Node* right) { return new BinaryNode(ScanInfo(), code, Node::kOperator, left, right); }
ListNode* list(i32 code, i32 kind, std::initializer_list<Node*> nodes) {
    ListNode* l = new ListNode(ScanInfo(), code, kind);
    for (Node* node : nodes)
        l->add(node);
    return l;
}

// kind:code:value of a constant node, or the tree's text when it did not fold.
std::string folded(Node* tree) {
    const bool operatorNode = tree->getOperandCount() > 0;
    Node* result = tree->foldConstants();
    std::string out;
    if (operatorNode && result == tree)
        out = "unfolded " + utf8(result->toString());
    else if (!result->getConstant())
        out = "no constant";
    else
        out = std::to_string(result->kind) + ":" + std::to_string(result->code) + ":" +
              utf8(result->getConstant()->toString());
    delete result;
    return out;
}

class NodeTest : public FrontEndTest {};

TEST_F(NodeTest, FoldTable) {
    struct FoldCase {
        const char* what;
        std::function<Node*()> tree;
        const char* result;
    } cases[] = {
        {"null == 0", [] { return binary(kOpEqual, word(kWordNull), number(0)); }, "1:68:false"},
        {"null == undefined-ish", [] { return binary(kOpNotEqual, word(kWordNull), word(kWordFalse)); }, "1:100:true"},
        {"'1' == 1", [] { return binary(kOpEqual, text("1"), number(1)); }, "1:100:true"},
        {"true == '1'", [] { return binary(kOpEqual, word(kWordTrue), text("1")); }, "1:100:true"},
        {"'abc' > 1", [] { return binary(kOpGreater, text("abc"), number(1)); }, "1:68:false"},
        {"'abc' != 1", [] { return binary(kOpNotEqual, text("abc"), number(1)); }, "1:100:true"},
        {"'a' < 'b'", [] { return binary(kOpLess, text("a"), text("b")); }, "1:100:true"},
        {"-(-0)", [] { return unary(kOpMinus, unary(kOpMinus, number(0))); }, "4:0:0"},
        {"-0", [] { return unary(kOpMinus, number(0)); }, "4:130:0"},
        {"0 * -1", [] { return binary(kOpMultiply, number(0), number(-1)); }, "4:130:0"},
        {"+true", [] { return unary(kOpPlus, word(kWordTrue)); }, "4:0:1"},
        {"+'12'", [] { return unary(kOpPlus, text("12")); }, "4:0:12"},
        {"~'abc'", [] { return unary(kOpBitNot, text("abc")); }, "4:0:-1"},
        {"!''", [] { return unary(kOpNot, text("")); }, "1:100:true"},
        {"1 << 31", [] { return binary(kOpShiftLeft, number(1), number(31)); }, "4:0:-2147483648"},
        {"1 << 33", [] { return binary(kOpShiftLeft, number(1), number(33)); }, "4:0:2"},
        {"-1 >> 1", [] { return binary(kOpShiftRight, number(-1), number(1)); }, "4:0:-1"},
        {"-1 >>> 0", [] { return binary(kOpShiftRightUnsigned, number(-1), number(0)); }, "4:0:4294967295"},
        {"5 & 3 | 8 ^ 1", [] { return binary(kOpBitXor, binary(kOpBitOr, binary(kOpBitAnd, number(5), number(3))->foldConstants(), number(8))->foldConstants(), number(1)); }, "4:0:8"},
        {"1 / 0", [] { return binary(kOpDivide, number(1), number(0)); }, "4:0:Infinity"},
        {"-1 / 0", [] { return binary(kOpDivide, number(-1), number(0)); }, "4:0:-Infinity"},
        {"0 / 0", [] { return binary(kOpDivide, number(0), number(0)); }, "4:0:NaN"},
        {"5 % 0", [] { return binary(kOpModulo, number(5), number(0)); }, "4:0:NaN"},
        {"-5 % 3", [] { return binary(kOpModulo, number(-5), number(3)); }, "4:0:-2"},
        {"5 % Infinity", [] { return binary(kOpModulo, number(5), number(INFINITY)); }, "4:0:5"},
        {"'a' + 1", [] { return binary(kOpAdd, text("a"), number(1)); }, "5:0:a1"},
        {"1 + 'a'", [] { return binary(kOpAdd, number(1), text("a")); }, "5:0:1a"},
        {"true + 1", [] { return binary(kOpAdd, word(kWordTrue), number(1)); }, "4:0:2"},
        {"null + 1", [] { return binary(kOpAdd, word(kWordNull), number(1)); }, "4:0:1"},
        {"1 + 2 * 3", [] { return binary(kOpAdd, number(1), binary(kOpMultiply, number(2), number(3))->foldConstants()); }, "4:0:7"},
        {"0 || null", [] { return binary(kOpOr, number(0), word(kWordNull)); }, "1:85:null"},
        {"1 && 'x'", [] { return binary(kOpAnd, number(1), text("x")); }, "5:0:x"},
        {"'' && 2", [] { return binary(kOpAnd, text(""), number(2)); }, "5:0:"},
        {"/a/ + 1", [] { return binary(kOpAdd, regExp("a\n"), number(1)); }, "unfolded +(/a/,1)"},
        {"/a/ || 1", [] { return binary(kOpOr, regExp("a\n"), number(1)); }, "unfolded ||(/a/,1)"},
        {"-/a/", [] { return unary(kOpMinus, regExp("a\n")); }, "unfolded -(/a/)"},
        {"typeof /a/g", [] { return unary(kOpTypeof, regExp("a\ng")); }, "5:0:function"},
        {"!/a/", [] { return unary(kOpNot, regExp("a\n")); }, "1:68:false"},
        {"typeof null", [] { return unary(kOpTypeof, word(kWordNull)); }, "5:0:object"},
        {"typeof 1", [] { return unary(kOpTypeof, number(1)); }, "5:0:number"},
        {"typeof typeof 1", [] { return unary(kOpTypeof, unary(kOpTypeof, number(1))); }, "5:0:string"},
        {"delete 1", [] { return unary(kOpDelete, number(1)); }, "1:100:true"},
        {"void 1", [] { return unary(kOpVoid, number(1)); }, "unfolded void(1)"},
        {"1 === 1", [] { return binary(kOpStrictEqual, number(1), number(1)); }, "unfolded ===(1,1)"},
        {"'x' in 1", [] { return binary(kOpIn, text("x"), number(1)); }, "unfolded in('x',1)"},
        {"a + 1", [] { return binary(kOpAdd, name("a"), number(1)); }, "unfolded +(a,1)"},
        {"true ? a : b", [] { return new TernaryNode(ScanInfo(), kOpConditional, Node::kOperator, word(kWordTrue), name("a"), name("b")); }, "no constant"},
        {"/x/ ? 1 : 2", [] { return new TernaryNode(ScanInfo(), kOpConditional, Node::kOperator, regExp("x\n"), number(1), number(2)); }, "4:0:1"},
        {"!0 ? 1 : 2", [] { return new TernaryNode(ScanInfo(), kOpConditional, Node::kOperator, unary(kOpNot, number(0)), number(1), number(2)); }, "4:0:1"},
        {"a ? 1 : 2", [] { return new TernaryNode(ScanInfo(), kOpConditional, Node::kOperator, name("a"), number(1), number(2)); }, "unfolded ?:(a,1,2)"},
        {"(1, 2)", [] { return list(kOpComma, Node::kOperator, {number(1), number(2)}); }, "4:0:2"},
        {"(-1, 2)", [] { return list(kOpComma, Node::kOperator, {unary(kOpMinus, number(1)), unary(kOpMinus, number(2))}); }, "4:0:-2"},
        {"(f, 2)", [] { return list(kOpComma, Node::kOperator, {name("f"), number(2)}); }, "unfolded {f,2}"},
        {"()", [] { return list(kOpComma, Node::kOperator, {}); }, "no constant"},
    };
    for (const FoldCase& c : cases)
        EXPECT_EQ(folded(c.tree()), c.result) << c.what;
}

TEST_F(NodeTest, NegativeZeroIsExact) {
    Node* zero = unary(kOpMinus, unary(kOpMinus, number(0)))->foldConstants();
    EXPECT_EQ(1 / zero->getConstant()->toNumber(), INFINITY);
    delete zero;
    Node* negative = unary(kOpMinus, number(0))->foldConstants();
    EXPECT_EQ(1 / negative->getConstant()->toNumber(), -INFINITY);
    delete negative;
}

TEST_F(NodeTest, Texts) {
    ScanInfo at;
    Node* call = new BinaryNode(at, 0, Node::kName, name("f"), list(0, Node::kArguments, {name("x"), name("y")}));
    EXPECT_EQ(utf8(call->toBinaryNode()->right->toString()), "(x,y)");
    EXPECT_EQ(utf8(call->toString()), "(f,(x,y))");
    delete call;

    Node* mixed = list(0, Node::kArray, {text("say \"hi\""), regExp("a+\ngi"), number(1.5), word(kWordTrue), new EmptyNode(at)});
    EXPECT_EQ(utf8(mixed->toString()), "['say \\\"hi\\\"',/a+/gi,1.5,,]");
    delete mixed;

    LabelNode* labelled = new LabelNode(at);
    labelled->addLabel(DataPool::get().add("outer"));
    labelled->addLabel(DataPool::get().add("inner"));
    labelled->statement = new UnaryNode(at, kWordBreak, Node::kOperator, name("outer"));
    EXPECT_TRUE(labelled->hasLabel(DataPool::get().add("inner")));
    EXPECT_EQ(utf8(labelled->toString()), "outer: inner:break(outer)");
    delete labelled;

    at.code = kWordFunction;
    ScopeNode* scope = new ScopeNode(at, kWordFunction);
    scope->info->name = DataPool::get().add("f");
    scope->info->addVariable(DataPool::get().add("v"));
    scope->info->addParameter(DataPool::get().add("a"));
    scope->info->addConstant(DataPool::get().add("c"));
    scope->info->addParameter(DataPool::get().add("b"));
    scope->body = list(0, Node::kOperator, {binary(kOpAssign, name("v"), name("a"))});
    EXPECT_EQ(utf8(scope->toString()), "SCOPE:f{(P:a,P:b,V:v,C:c){=(v,a)}}");
    EXPECT_EQ(scope->info->lookup(DataPool::get().add("b")), ScopeInfo::kParameterSlot + 1);
    EXPECT_EQ(scope->info->lookup(DataPool::get().add("w")), 0);
    delete scope;
}

// The heap bytes folding may ask for per unit of the folded text: its growth
// and a node per step.
constexpr int kBytesPerFoldedUnit = 256;

// Trees deeper than any stack: folding, printing and destruction walk them
// without recursion, and string folding appends in place.
TEST_F(NodeTest, DeepTreesOnASmallStack) {
    constexpr int kDepth = 1000000;
    LxCore::runOnStack(256 * 1024, [] {
        // - - - ... - 1, a million deep, folds to one node.
        Node* chain = number(1);
        for (int i = 0; i < kDepth; i++)
            chain = unary(kOpMinus, chain);
        Node* one = chain->foldConstants();
        EXPECT_EQ(one->getOperandCount(), 0);
        EXPECT_EQ(one->getConstant()->toNumber(), 1);
        delete one;

        // A million names joined by "+": printed and destroyed.
        Node* sum = name("a");
        for (int i = 0; i < kDepth; i++)
            sum = binary(kOpAdd, sum, name("a"));
        EXPECT_EQ(sum->foldConstants(), sum);
        const String printed = sum->toString();
        EXPECT_EQ(printed.length(), 5 * kDepth + 1);
        EXPECT_EQ(utf8(printed.substr(0, 6)), "+(+(+(");
        EXPECT_EQ(utf8(printed.substr(printed.length() - 6)), ",a),a)");
        delete sum;

        // 1 MB of "a"+"a"+... folded as the parser folds, one "+" at a time:
        // the text grows in place, so the heap is asked for a few times its
        // size in all, where a copy at every step would ask for its square.
        constexpr int kUnits = 1000000 / 4;
        LxCore::TestAllocator allocator;
        {
            LxCore::UsingAllocator counted(&allocator);
            Node* joined = text("a");
            for (int i = 1; i < kUnits; i++)
                joined = binary(kOpAdd, joined, text("a"))->foldConstants();
            EXPECT_EQ(joined->getConstant()->toString().length(), kUnits);
            delete joined;
        }
        EXPECT_LT(allocator.bytesRequested, u64(kBytesPerFoldedUnit) * kUnits) << "each step appends in place";
    });
}

TEST_F(NodeTest, LongListsGrowGeometrically) {
    ListNode* elements = new ListNode(ScanInfo(), 0, Node::kArray);
    for (int i = 0; i < 300000; i++)
        elements->add(new EmptyNode(ScanInfo()));
    EXPECT_EQ(elements->length(), 300000);
    delete elements;
}

// Element access at the edges, across the growth steps of the list's block
// (small blocks come from the node heap, large ones from the core heap).
TEST_F(NodeTest, ListElementsAtTheEdges) {
    for (const int size : {0, 1, 3, 4, 5, 16, 17, 40}) {
        ListNode* elements = new ListNode(ScanInfo(), 0, Node::kArray);
        for (int i = 0; i < size; i++)
            elements->add(i % 3 == 2 ? nullptr : number(i));   // null: a hole
        ASSERT_EQ(elements->length(), size);
        EXPECT_EQ(elements->getNode(-1), nullptr) << size;
        EXPECT_EQ(elements->getNode(size), nullptr) << size;
        Node* outside = number(0.5);
        elements->setNode(size, outside);                       // outside: nothing, still the caller's
        delete outside;
        elements->setNode(-1, nullptr);
        EXPECT_EQ(elements->length(), size);
        EXPECT_EQ(elements->removeNode(size), nullptr) << size;
        for (int i = 0; i < size; i++) {
            const Node* node = elements->getNode(i);
            if (i % 3 == 2)
                EXPECT_EQ(node, nullptr) << size << " " << i;
            else
                EXPECT_EQ(node->getConstant()->toNumber(), i) << size << " " << i;
        }
        if (size > 1) {
            // Below 0 takes the first; the rest move up.
            delete elements->removeNode(-5);
            EXPECT_EQ(elements->length(), size - 1);
            EXPECT_EQ(elements->getNode(0)->getConstant()->toNumber(), 1);
            Node* last = elements->removeNode(elements->length() - 1);
            if ((size - 1) % 3 == 2)
                EXPECT_EQ(last, nullptr);
            else
                EXPECT_EQ(last->getConstant()->toNumber(), size - 1);
            delete last;
            EXPECT_EQ(elements->length(), size - 2);
            elements->add(text("end"));
            EXPECT_EQ(utf8(elements->getNode(size - 2)->getConstant()->toString()), "end");
        }
        delete elements;
    }
}

TEST(ConstantOps, LooseEquality) {
    LxCore::CoreStarted core;
    Variant undefined, null, yes(true), one(1), text1("1"), nan(std::nan(""));
    null.setNull();
    EXPECT_TRUE(ConstantOps::looseEquals(undefined, null));
    EXPECT_FALSE(ConstantOps::looseEquals(null, Variant(0)));
    EXPECT_FALSE(ConstantOps::looseEquals(undefined, Variant(false)));
    EXPECT_TRUE(ConstantOps::looseEquals(yes, one));
    EXPECT_TRUE(ConstantOps::looseEquals(text1, one));
    EXPECT_TRUE(ConstantOps::looseEquals(yes, text1));
    EXPECT_FALSE(ConstantOps::looseEquals(nan, nan));
    EXPECT_FALSE(ConstantOps::strictEquals(text1, one));
    EXPECT_TRUE(ConstantOps::strictEquals(Variant(0.0), Variant(-0.0)));
}

}  // namespace
}  // namespace LxScript
