// XPath over XML nodes: steps, predicates, operators, functions, errors and
// the inputs that would blow up a careless engine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "core/Error.h"
#include "core/HashTable.h"
#include "core/Variant.h"
#include "core/XML.h"
#include "core/XPath.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class XPathTest : public ::testing::Test {
protected:
    CoreStarted core;
};

XML* parseOk(const std::string& text) {
    Error error;
    i32 position = 0;
    XML* node = parseXMLText(S(text), position, error, true, false, false);
    EXPECT_NE(node, nullptr) << text;
    return node;
}

// A node as a test reads it: its name, and its id attribute when it has one.
std::string describe(const XML* node) {
    std::string name = N(node->getKind() == XML::kText ? node->getValue() : node->getName());
    String id;
    if (node->getKind() == XML::kElement)
        node->getString(S("@id"), id);
    return name + N(id);
}

// The result as text: the nodes' names, or the value's type and text.
std::string run(const XML* context, const std::string& expression, Error& error,
                const THashTable<String>* variables = nullptr) {
    Variant value;
    XML* nodes = context->xpath(S(expression), value, error, variables);
    if (!error.isEmpty())
        return "error";
    if (!nodes) {
        String text;
        value.toString(text);
        return N(text);
    }
    std::string out;
    if (nodes->getKind() != XML::kList) {
        out = describe(nodes);
    } else {
        for (i32 i = 0; i < nodes->getChildCount(); i++)
            out += (i ? " " : "") + describe(nodes->getChild(i));
    }
    nodes->release();
    return "[" + out + "]";
}

const char* const kDocument =
    "<r><a id=\"1\">x</a><a id=\"2\">y</a><b>z</b>"
    "<a id=\"3\" xml:lang=\"en-GB\"><c>w</c><a id=\"4\"/></a><café/></r>";

TEST_F(XPathTest, Expressions) {
    XML* root = parseOk(kDocument);
    XML* a3 = root->getChild(3);
    XML* c = a3->getChild(0);
    THashTable<String> variables;
    String v("v");
    variables.put(String("x"), &v);
    struct Case {
        XML* context;
        const char* expression;
        const char* expected;
    } cases[] = {
        {root, "a", "[a1 a2 a3]"},
        {root, "a[2]/@id", "[id]"},
        {root, "a[last()]", "[a3]"},
        {root, "//a[1]", "[a1 a4]"},
        {root, "//a", "[a1 a2 a3 a4]"},
        {c, "../a", "[a4]"},
        {a3, "./a", "[a4]"},
        {root, ". | a", "[r a1 a2 a3]"},
        {root, "a | b | a", "[a1 a2 a3 b a1 a2 a3]"},
        {root, "count(.)", "1"},
        {root, "count(a)-1", "2"},
        {root, "5-3", "2"},
        {root, "2*3 - -1", "7"},
        {root, "count(*)*2", "10"},
        {root, "number('0x10')", "NaN"},
        {root, "number(' 12 ')", "12"},
        {root, "number('1e2')", "100"},
        {root, "number('inf')", "NaN"},
        {root, "string(1.5)", "2"},
        {root, "string(0 div 0)", "NaN"},
        {root, "string(-1 div 0)", "-Infinity"},
        {root, "string(round(-0.3))", "-0"},
        {root, "substring('abcde', 2)", "bcde"},
        {root, "substring('abcde', 0, 3)", "ab"},
        {root, "substring('12345', 0 div 0, 3)", ""},
        {root, "substring('12345', 1, 0 div 0)", ""},
        {root, "substring('12345', -42, 1 div 0)", "12345"},
        {root, "substring('12345', -1 div 0, 1 div 0)", ""},
        {root, "café", "[café]"},
        {root, "boolean(number('x'))", "true"},
        {root, "0 div 0 = 0 div 0", "false"},
        {root, "0 div 0 != 0 div 0", "true"},
        {root, "following::a", "[]"},
        {root, "$x", "v"},
        {root, "translate('abc', 'ab', 'x')", "xc"},
        {root, "normalize-space('  a   b ')", "a b"},
        {root, "concat('a', 'b', 'c')", "abc"},
        {root, "substring-before('a/b', '/')", "a"},
        {root, "substring-after('a/b', '/')", "b"},
        {root, "sum(1, 2, 3)", "6"},
        {root, "name(a)", "a"},
        {root, "local-name(nothing)", ""},
        {a3, "lang('en')", "true"},
        {root, "lang('en')", "false"},
        {root, "a[1]/text()", "[x]"},
        {root, "/r/b", "[b]"},
        {c, "ancestor::*", "[a3 r]"},
        {c, "following-sibling::*", "[a4]"},
    };
    for (const Case& k : cases) {
        Error error;
        EXPECT_EQ(run(k.context, k.expression, error, &variables), k.expected) << k.expression;
        EXPECT_TRUE(error.isEmpty()) << k.expression;
    }
    EXPECT_EQ(root->getChildCount(), 5);    // the union made a list of its own
    root->release();
}

// A chain of elements named a, each the only child of the one above.
XML* chainOf(int depth) {
    XML* chain = new XML(String("a"));
    for (int i = 1; i < depth; i++) {
        XML* parent = new XML(String("a"));
        parent->insert(chain, XML::kAppend, true);
        chain = parent;
    }
    return chain;
}

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; i++)
        out += piece;
    return out;
}

TEST_F(XPathTest, ErrorsCarryTheirCoreCodeAndText) {
    XML* root = parseOk(kDocument);
    const std::string literal = "'" + repeat("x", 70000) + "'";
    struct Case {
        std::string expression;
        i32 code;
        const char* text;       // null: not checked
    } cases[] = {
        {"a[5]", 41, "5"},
        {"$nope", 2, "XPath var"},
        {"foo(1)", 24, "foo"},
        {"count()", 20, nullptr},
        {"child::a[1", 25, "]"},
        {"bogus::a", 73, "bogus"},
        {"text", 25, "("},
        {"1 +", 75, nullptr},
        {"a[0.5]", 41, "0.5"},
        {"a[0 div 0]", 41, nullptr},
        {repeat("(", 100000), 27, nullptr},
        {"concat(" + literal + ", " + literal + ")", 8, nullptr},
        {"a" + repeat("[1]", 70000), 8, nullptr},
    };
    for (const Case& k : cases) {
        Error error;
        EXPECT_EQ(run(root, k.expression, error), "error") << k.expression.substr(0, 30);
        ASSERT_FALSE(error.isEmpty());
        EXPECT_EQ(error.getCode(), k.code) << k.expression.substr(0, 30);
        if (k.text) {
            EXPECT_EQ(N(error.getRecord()->message).find(k.text) != std::string::npos, true)
                << N(error.getRecord()->message);
        }
    }
    root->release();
}

TEST_F(XPathTest, LargeInputsStayLinear) {
    // Many siblings, each asking for its following ones: every node once.
    XML* wide = new XML(String("r"));
    for (int i = 0; i < 10000; i++)
        wide->addChild(String("e"));
    Error error;
    Variant value;
    XML* found = wide->xpath(S("*/following-sibling::*"), value, error);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->getChildCount(), 9999);
    found->release();
    wide->release();

    // A deep chain, searched from every node at three levels.
    XML* chain = chainOf(4096);
    found = chain->xpath(S("//*//*//*"), value, error);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->getChildCount(), 4094);
    found->release();
    chain->release();

    // A long sum compiles and runs in a loop.
    std::string sum = "1" + repeat("+1", 500000);
    XML* text = new XML(XML::kText);
    EXPECT_EQ(run(text, sum, error), "500001");
    text->release();

    // A 100,000-deep tree: descendants and its string value.
    XML* deep = chainOf(100000);
    found = deep->xpath(S("//a"), value, error);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->getChildCount(), 100000);
    found->release();
    EXPECT_EQ(deep->xpath(S("string-length(string(.)) > 0"), value, error), nullptr);
    EXPECT_TRUE(value.toBoolean());
    deep->release();
    EXPECT_TRUE(error.isEmpty());
}

TEST_F(XPathTest, ContextsNeedTheirAllocator) {
    XPathCallbacks none{};
    EXPECT_EQ(createXPathContext(&none, nullptr), nullptr);
    EXPECT_EQ(createXPathContext(nullptr, nullptr), nullptr);
    i32 position = 0;
    u32 length = 1;
    EXPECT_EQ(getXPathError(nullptr, &position, &length), u32(kXPathInternal));
    EXPECT_EQ(position, -1);
    EXPECT_EQ(length, 0u);

    // Only memory given: numbers work, a path without a context node is 12.
    XPathCallbacks memory{};
    memory.allocate = [](u64 bytes, void*) { return std::malloc(bytes); };
    memory.free = [](void* p) { std::free(p); };
    XPathContext* context = createXPathContext(&memory, nullptr);
    ASSERT_NE(context, nullptr);
    XPathResult result;
    ASSERT_TRUE(evaluateXPath(context, u"1 + 1", &result));
    f64 number = 0;
    std::memcpy(&number, &result.value, sizeof number);
    EXPECT_EQ(result.type, u32(kXPathNumber));
    EXPECT_EQ(number, 2);
    EXPECT_FALSE(evaluateXPath(context, u"a", &result));
    EXPECT_EQ(getXPathError(context, &position, &length), u32(kXPathNoContext));
    destroyXPathContext(context);
}

}  // namespace
}  // namespace LxCore
