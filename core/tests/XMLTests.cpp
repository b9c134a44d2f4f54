// The XML node model, its printer and its parser.
#include <gtest/gtest.h>
#include <pthread.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "core/Error.h"
#include "core/ThreadData.h"
#include "core/XML.h"
#include "core/tests/TestAllocator.h"
#include "core/tests/TestSupport.h"

namespace LxCore {
namespace {

class XMLTest : public ::testing::Test {
protected:
    CoreStarted core;

    void TearDown() override {
        if (XML* old = XML::setDefaultNamespace(nullptr))
            old->release();
        XML::setDefaultNamespaceURI(String());
    }
};

// Owns one reference for a test.
struct Node {
    XML* p;
    explicit Node(XML* node) : p(node) {}
    ~Node() {
        if (p)
            p->release();
    }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    XML* operator->() const { return p; }
    XML* get() const { return p; }
};

XML* parse(const std::string& text, Error& error, i32 start = 0, bool ignoreWhitespace = false) {
    i32 position = start;
    return parseXMLText(S(text), position, error, ignoreWhitespace, false, false);
}

XML* parseOk(const std::string& text) {
    Error error;
    XML* node = parse(text, error);
    EXPECT_NE(node, nullptr) << text;
    EXPECT_TRUE(error.isEmpty()) << text;
    return node;
}

std::string print(const XML* node, i32 indent = -1) {
    String out;
    return N(node->toXMLString(out, indent));
}

XML* namespaceNode(const char* prefix, const char* uri) {
    XML* ns = new XML(XML::kNamespace, String(prefix));
    ns->setValue(String(uri));
    return ns;
}

TEST_F(XMLTest, ConstructorsTakeTheNamespaceForNewNodes) {
    struct Case {
        const char* uri;
        bool byName;        // XML(name) and XML(kind) take it
    } cases[] = {{"u", true}, {"", false}, {"*", false}};
    Node outer(namespaceNode("o", "outer"));
    NewNodeNamespaceScope outerScope(outer.get());
    for (const Case& c : cases) {
        Node ns(namespaceNode("p", c.uri));
        NewNodeNamespaceScope scope(ns.get());
        Node byName(new XML(String("a")));
        Node byKind(new XML(XML::kAttribute));
        Node byKindAndText(new XML(XML::kElement, String("a")));
        Node text(new XML(XML::kText, String("a")));
        EXPECT_EQ(byName->getNamespace() == ns.get(), c.byName) << c.uri;
        EXPECT_EQ(byKind->getNamespace() == ns.get(), c.byName) << c.uri;
        EXPECT_EQ(byKindAndText->getNamespace(), ns.get()) << c.uri;
        EXPECT_EQ(text->getNamespace(), nullptr);
        EXPECT_EQ(str(text->getValue()), u"a");
    }
    // Each scope put back the one before it.
    Node after(new XML(String("a")));
    EXPECT_EQ(after->getNamespace(), outer.get());
}

TEST_F(XMLTest, PrintsElementsTextAndEscapes) {
    struct Case {
        std::function<XML*()> build;
        i32 indent;
        const char* expected;
    } cases[] = {
        {[] { XML* a = new XML(String("a")); a->addChild(String("b"), String("x&<>\"")); return a; }, -1,
         "<a><b>x&amp;&lt;&gt;\"</b></a>"},
        {[] { XML* a = new XML(String("a")); a->addChild(String("b")); a->addChild(String("c")); return a; }, 2,
         "<a>\n  <b/>\n  <c/>\n</a>"},
        {[] {
             XML* a = new XML(String("a"));
             XML* b = a->addChild(String("b"));
             b->addChild(String("c"), String("t"));
             b->insert(new XML(XML::kComment, String("k")), XML::kAppend, true);
             return a;
         }, 1, "<a>\n <b>\n  <c>t</c>\n  <!--k-->\n </b>\n</a>"},
        {[] {
             XML* a = new XML(String("a"));
             a->insert(new XML(XML::kText, String("x")), 0, true);
             a->removeChildAt(0, 0);
             return a;
         }, -1, "<a></a>"},
        {[] { XML* a = new XML(String("a")); a->put(S("@x"), S("\"\t>&<\n\r")); return a; }, -1,
         "<a x=\"&quot;&#x9;>&amp;&lt;&#xA;&#xD;\"/>"},
        {[] {
             XML* a = new XML(String("a"));
             XML* t = new XML(XML::kText, S("a]]>b"));
             t->setName(String("CDATA"));
             a->insert(t, XML::kAppend, true);
             return a;
         }, -1, "<a><![CDATA[a]]]]><![CDATA[>b]]></a>"},
        {[] {
             XML* a = new XML(String("a"));
             a->insert(new XML(XML::kProcessingInstruction, String("pi")), XML::kAppend, true);
             return a;
         }, -1, "<a><?pi?></a>"},
        // Made prefixes: the last name-like piece of the URI, then -1, -2.
        {[] {
             XML* a = new XML(String("a"));
             XML* b = a->addChild(String("b"));
             XML* c = a->addChild(String("c"));
             Node n1(namespaceNode("*", "http://x/my.ns"));
             Node n2(namespaceNode("*", "http://y/my"));
             b->setNamespace(n1.get());
             c->setNamespace(n2.get());
             return a;
         }, -1, "<a><my:b xmlns:my=\"http://x/my.ns\"/><my:c xmlns:my=\"http://y/my\"/></a>"},
        {[] {
             XML* a = new XML(String("a"));
             Node n1(namespaceNode("*", "http://x/my.ns"));
             Node n2(namespaceNode("*", "http://y/my"));
             a->setNamespace(n1.get());
             a->addChild(String("c"))->setNamespace(n2.get());
             return a;
         }, -1, "<my:a xmlns:my=\"http://x/my.ns\"><my-1:c xmlns:my-1=\"http://y/my\"/></my:a>"},
        {[] {
             XML* a = new XML(String("a"));
             Node n(namespaceNode("*", "http://x/XmlThing/9/"));
             a->setNamespace(n.get());
             return a;
         }, -1, "<a:a xmlns:a=\"http://x/XmlThing/9/\"/>"},
    };
    for (const Case& c : cases) {
        Node node(c.build());
        EXPECT_EQ(print(node.get(), c.indent), c.expected);
    }
}

TEST_F(XMLTest, RoundTripGivesEqualTrees) {
    const char* texts[] = {
        "<r xmlns=\"urn:d\"><a xmlns:p=\"urn:p\"><p:x p:y=\"1\"/></a>"
        "<b xmlns:p=\"urn:p\"><p:x/></b><c xmlns:p=\"urn:q\"><p:x/></c></r>",
        "<r>line1\r\nline2\rline3\nend<a q='\"&#9;x'/></r>",
        "<r><![CDATA[ <b> ]]><!--c--><?pi data?><e xml:lang=\"en\"/></r>",
    };
    for (const char* text : texts) {
        Node first(parseOk(text));
        std::string printed = print(first.get());
        Error error;
        Node second(parse(printed, error));
        ASSERT_NE(second.get(), nullptr) << printed;
        EXPECT_TRUE(first->equals(second.get(), false)) << printed;
        EXPECT_EQ(print(second.get()), printed);
    }
    // The siblings each declare p again once the first one's scope is closed.
    Node siblings(parseOk("<r><a xmlns:p=\"urn:p\"><p:x/></a><b xmlns:p=\"urn:p\"><p:x/></b></r>"));
    EXPECT_EQ(print(siblings.get()),
              "<r><a xmlns:p=\"urn:p\"><p:x/></a><b xmlns:p=\"urn:p\"><p:x/></b></r>");
    Node lines(parseOk("<a>x\r\ny&#10;z</a>"));
    String value;
    EXPECT_EQ(str(lines->toString(value, -1)), u"x\r\ny\nz");
}

TEST_F(XMLTest, BuiltTreesReparseInTheirNamespaces) {
    // A made prefix under an explicit one of the same name, and one prefix
    // on two URIs on one element.
    Node root(new XML(String("r")));
    Node mine(namespaceNode("my", "urn:explicit"));
    root->setNamespace(mine.get());
    XML* inner = root->addChild(String("i"));
    Node made(namespaceNode("*", "urn:made/my"));
    inner->setNamespace(made.get());
    XML* twice = root->addChild(String("t"));
    Node p1(namespaceNode("p", "urn:one"));
    Node p2(namespaceNode("p", "urn:two"));
    twice->setNamespace(p1.get());
    XML* attribute = twice->put(S("@x"), S("v"));
    attribute->setNamespace(p2.get());

    std::string printed = print(root.get());
    Node back(parseOk(printed));
    struct Expect {
        const char* name;
        i32 count;
    } expects[] = {{"urn:made/my::i", 1}, {"urn:explicit::i", 0}, {"urn:one::t", 1},
                   {"urn:two::t", 0}};
    for (const Expect& e : expects) {
        Node found(back->find(S(e.name), 0));
        EXPECT_EQ(found->getChildCount(), e.count) << e.name << " in " << printed;
    }
    Node t(back->find(S("urn:one::t"), 0));
    ASSERT_EQ(t->getChildCount(), 1);
    Node x(t->getChild(0)->find(S("urn:two::@x"), 0));
    EXPECT_EQ(x->getChildCount(), 1) << printed;
    EXPECT_EQ(str(back->getNamespace()->getValue()), u"urn:explicit");
}

TEST_F(XMLTest, QualifiedNamesFindPutAndRemove) {
    const char* text =
        "<r xmlns:p=\"urn:p\"><b/><p:b/><c xmlns=\"urn:q\"><b/></c><a x=\"1\" p:x=\"2\"/></r>";
    struct Case {
        const char* name;
        const char* on;         // "" the root, else the first child of that name
        i32 found;
    } cases[] = {
        {"b", "", 1},          {"urn:p::b", "", 1},   {"*::b", "", 2},      {"p:b", "", 1},
        {"*", "", 4},          {"urn:q::b", "*::c", 1},  {"b", "*::c", 0},        {"urn:p::@x", "a", 1},
        {"@urn:p::x", "a", 1}, {"@x", "a", 1},        {"@*", "a", 2},       {"*::@x", "a", 2},
        {"q:b", "", 0},        {"urn:none::b", "", 0},
    };
    for (const Case& c : cases) {
        Node root(parseOk(text));
        XML* on = root.get();
        if (*c.on) {
            Node found(root->find(S(c.on), 0));
            on = found->getChild(0);
        }
        Node found(on->find(S(c.name), 0));
        EXPECT_EQ(found->getChildCount(), c.found) << c.name;
    }
    Node root(parseOk(text));
    EXPECT_EQ(root->removeByName(S("urn:p::b")), 1);
    EXPECT_EQ(print(root.get()),
              "<r xmlns:p=\"urn:p\"><b/><c xmlns=\"urn:q\"><b/></c><a x=\"1\" p:x=\"2\"/></r>");
    XML* put = root->put(S("urn:p::b"), S("v"));
    ASSERT_NE(put, nullptr);
    EXPECT_EQ(str(put->getName()), u"b");
    EXPECT_EQ(str(put->getNamespace()->getName()), u"p");
    XML* any = root->put(S("*::z"), S("w"));
    EXPECT_EQ(any->getNamespace(), nullptr);
    EXPECT_EQ(str(any->getName()), u"z");
    Node a(root->find(S("a"), 0));
    XML* attribute = a->getChild(0)->put(S("urn:n::@y"), S("3"));
    EXPECT_EQ(str(attribute->getNamespace()->getValue()), u"urn:n");
    Node back(parseOk(print(root.get())));
    Node again(back->find(S("a"), 0));
    Node y(again->getChild(0)->find(S("@urn:n::y"), 0));
    EXPECT_EQ(y->getChildCount(), 1) << print(root.get());
    // A path makes what is missing on its way.
    root->put(S("m/n"), S("deep"));
    String deep;
    root->getString(S("m/n"), deep);
    EXPECT_EQ(str(deep), u"deep");
}

TEST_F(XMLTest, RemovedNodesForgetTheirParent) {
    XML* r = parseOk("<r a=\"1\"><x/><y/><z/><w/> <v/></r>");
    auto keep = [](XML* node) {
        node->addRef();
        return node;
    };
    Node x(keep(r->getChild(0)));
    Node y(keep(r->getChild(1)));
    Node z(keep(r->getChild(2)));
    Node w(keep(r->getChild(3)));
    Node space(keep(r->getChild(4)));
    Node a(keep(r->getAttribute(0)));
    r->removeChild(x.get());
    r->removeChildAt(0, 0);                 // y
    EXPECT_EQ(r->removeByName(S("z")), 0);
    r->put(S("w"), S("new"));
    space->setValue(String());
    r->normalize();
    for (XML* node : {x.get(), y.get(), z.get(), w.get(), space.get()})
        EXPECT_EQ(node->getParent(), nullptr);
    EXPECT_EQ(a->getParent(), r);
    r->release();
    EXPECT_EQ(a->getParent(), nullptr);
    EXPECT_EQ(str(a->getValue()), u"1");
}

void* deepTreeWork(void*) {
    const i32 depth = 100000;
    XML* top = new XML(String("e"));
    for (i32 i = 1; i < depth; i++) {
        XML* parent = new XML(String("e"));
        parent->insert(top, XML::kAppend, true);
        top = parent;
    }
    XML* copy = top->copy(true);
    bool same = top->equals(copy, false) && copy->equals(top, false);
    String printed;
    top->toXMLString(printed, -1);
    bool printedAll = printed.length() == 7 * (depth - 1) + 4;
    XML* all = top->getDescendants();
    bool counted = all->getChildCount() == depth - 1;
    all->release();
    XML* found = top->find(String("e"), XML::kDescendants);
    counted = counted && found->getChildCount() == depth - 1;
    found->release();
    bool contained = top->contains(copy, false);
    top->release();
    copy->release();
    return reinterpret_cast<void*>(intptr_t(same && printedAll && counted && contained));
}

TEST_F(XMLTest, DeepTreesNeedNoStack) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, 256 * 1024);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, deepTreeWork, nullptr), 0);
    void* result = nullptr;
    pthread_join(thread, &result);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(result, reinterpret_cast<void*>(1));
}

std::string repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; i++)
        out += piece;
    return out;
}

std::string billionLaughs() {
    std::string text = "<!DOCTYPE r [<!ENTITY l0 \"lol\">";
    for (int i = 1; i < 10; i++)
        text += "<!ENTITY l" + std::to_string(i) + " \"" +
                repeat("&l" + std::to_string(i - 1) + ";", 10) + "\">";
    return text + "]><r>&l9;</r>";
}

// What a parse may ask of the heap before it gives up on any of the inputs
// below (some 2 MB for the entity bomb, whose full text would take gigabytes).
constexpr u64 kBadInputBytes = u64(16) << 20;

TEST_F(XMLTest, BadInputFailsWithItsCodeAndFreesAll) {
    std::string chain = "<!DOCTYPE r [<!ENTITY e0 \"x\">";
    for (int i = 1; i < 200; i++)
        chain += "<!ENTITY e" + std::to_string(i) + " \"&e" + std::to_string(i - 1) + ";\">";
    chain += "]><r>&e199;</r>";
    const std::u16string lead = u"x = 1;\n  ";     // parsing starts after it
    std::u16string lone = u"<a>";
    lone += char16_t(0xD800);
    lone += u"<b/></a>";
    auto units = [](const std::string& ascii) { return std::u16string(ascii.begin(), ascii.end()); };
    struct Case {
        std::u16string text;
        i32 code;
        i32 line;           // of the error, counted in the whole text
        i32 position;       // -1: not checked
    } cases[] = {
        {units(billionLaughs()), 8, 0, -1},
        {units(repeat("<a>", 4097) + repeat("</a>", 4097)), 27, 0, 4096 * 3},
        {lone, 60, 0, 3},
        {u"<a><b>", 61, 0, -1},
        {u"<a/><b/>", 64, 0, 4},
        {u"<a>\n<b></a>", 62, 1, 9},
        {u"<a x='1' x='2'/>", 63, 0, -1},
        {u"<p:a/>", 72, 0, -1},
        {units(chain), 27, 0, -1},
    };
    {
        // The localizer keeps what it learns on first use.
        Error warmUp;
        Node none(parse("<a/><b/>", warmUp));
    }
    for (const Case& c : cases) {
        std::string shown;
        for (char16_t u : c.text.substr(0, 40))
            shown += u < 128 ? char(u) : '?';
        for (bool fromLead : {false, true}) {
            const i32 offset = fromLead ? i32(lead.size()) : 0;
            String source = make(fromLead ? lead + c.text : c.text);
            TestAllocator allocator;
            {
                UsingAllocator use(&allocator);
                Error error;
                i32 position = offset;
                XML* node = parseXMLText(source, position, error, false, false, false);
                EXPECT_EQ(node, nullptr);
                EXPECT_LT(allocator.bytesRequested, kBadInputBytes) << shown;
                EXPECT_EQ(position, offset);
                ASSERT_EQ(error.getCode(), 1) << shown;
                const ErrorRecord* record = error.getRecord()->next;
                ASSERT_NE(record, nullptr);
                EXPECT_EQ(record->code, c.code) << shown;
                EXPECT_EQ(record->line, c.line + (fromLead ? 1 : 0)) << shown;
                if (c.position >= 0) {
                    EXPECT_EQ(record->start, c.position + offset) << shown;
                }
                if (c.code == 64 && !fromLead) {
                    EXPECT_EQ(str(error.getRecord()->message), u"XML error in line 1");
                }
            }
            EXPECT_EQ(allocator.blockRequests, allocator.frees) << shown;
        }
    }
}

// Grants a number of requests, then refuses every further one.
class CountdownAllocator : public Allocator {
public:
    int allowed = 0;
    int outstanding = 0;

    void* alloc(u64 size) override { return allocBlock(size); }
    void* allocBlock(u64 size) override {
        if (allowed-- <= 0)
            return nullptr;
        outstanding++;
        return std::malloc(size);
    }
    void free(void* p) override {
        if (p)
            outstanding--;
        std::free(p);
    }
    void* realloc(void* p, u64 size) override { return allowed-- > 0 ? std::realloc(p, size) : nullptr; }
    void trim() override {}
};

TEST_F(XMLTest, ExhaustedMemoryIsAnErrorNeverACrash) {
    const String text = S("<r xmlns:p=\"urn:p\" a=\"1\"><p:x y=\"2\">text<!--c--><?pi d?></p:x>"
                          "<![CDATA[z]]>" + repeat("<e/>", 50) + "</r>");
    {
        Error warmUp;
        Node none(parse("<a/><b/>", warmUp));
    }
    bool succeeded = false;
    for (int allowed = 0; !succeeded && allowed < 2000; allowed += 7) {
        CountdownAllocator allocator;
        {
            UsingAllocator use(&allocator);
            allocator.allowed = allowed;
            Error error;
            i32 position = 0;
            XML* node = parseXMLText(text, position, error, false, false, false);
            succeeded = node != nullptr;
            if (node)
                node->release();
            else
                EXPECT_TRUE(error.getCode() == -28 || error.getCode() == 1) << allowed;
        }
        EXPECT_EQ(allocator.outstanding, 0) << allowed;
    }
    EXPECT_TRUE(succeeded);
}

TEST_F(XMLTest, IndentationPastTheStringLimitIsExhaustedMemory) {
    Node root(parseOk("<a><b><c/></b></a>"));
    String out;
    EXPECT_THROW(root->toXMLString(out, 0x7FFFFFFF), std::bad_alloc);
}

TEST_F(XMLTest, ParsesTextListsAndOptions) {
    Error error;
    i32 position = 0;
    Node text(parseXMLText(S("  abc  "), position, error, true, false, false));
    EXPECT_EQ(text->getKind(), XML::kText);
    EXPECT_EQ(str(text->getValue()), u"abc");

    const std::string literal = "v = <>x<a/></>;";
    position = 4;
    Node list(parseXMLText(S(literal), position, error, false, false, false));
    ASSERT_NE(list.get(), nullptr);
    EXPECT_EQ(list->getKind(), XML::kList);
    ASSERT_EQ(list->getChildCount(), 2);
    EXPECT_EQ(list->getChild(0)->getKind(), XML::kText);
    EXPECT_EQ(list->getChild(1)->getParent(), nullptr);
    EXPECT_EQ(position, i32(literal.size()) - 1);

    position = 0;
    EXPECT_EQ(parseXMLText(S("<>x<a/>"), position, error, false, false, false), nullptr);
    EXPECT_EQ(error.getCode(), 62);
    error.clear();
    // An error inside a list literal is placed in the caller's text.
    const std::string broken = "v =\n <><a></b></>;";
    position = 5;
    EXPECT_EQ(parseXMLText(S(broken), position, error, false, false, false), nullptr);
    ASSERT_EQ(error.getCode(), 1);
    EXPECT_EQ(error.getRecord()->next->code, 62);
    EXPECT_EQ(error.getRecord()->next->start, i32(broken.find("</b>")) + 2);
    EXPECT_EQ(error.getRecord()->next->line, 1);
    EXPECT_EQ(position, 5);
    error.clear();

    XML::setDefaultNamespaceURI(S("urn:d&\""));
    Node inDefault(parseOk("<a><b/></a>"));
    EXPECT_EQ(str(inDefault->getNamespace()->getValue()), u"urn:d&\"");
    position = 0;
    Node items(parseXMLText(S("<><a/><b/></>"), position, error, false, false, false));
    ASSERT_NE(items.get(), nullptr) << N(error.getRecord() ? error.getRecord()->message : String());
    for (i32 i = 0; i < items->getChildCount(); i++)
        EXPECT_EQ(str(items->getChild(i)->getDeclaration(0)->getValue()), u"urn:d&\"");
    XML::setDefaultNamespaceURI(String());

    Node spaced(parseXMLText(S("<a>\n  <b> t </b>\n  <c/>\n</a>"), position = 0, error, true, true, true));
    EXPECT_EQ(print(spaced.get()), "<a><b> t </b><c/></a>");
    Node cdata(parseOk("<a><![CDATA[<b>]]></a>"));
    EXPECT_TRUE(cdata->getChild(0)->isCDATA());
    EXPECT_EQ(str(cdata->getChild(0)->getValue()), u"<b>");
    // An empty section is no characters: the text around it stays one node,
    // as its print reads back; a section with characters still splits it.
    Node empty(parseOk("<a>$<![CDATA[]]>]U]<![CDATA[>]]></a>"));
    ASSERT_EQ(empty->getChildCount(), 2);
    EXPECT_EQ(str(empty->getChild(0)->getValue()), u"$]U]");
    EXPECT_FALSE(empty->getChild(0)->isCDATA());
    EXPECT_TRUE(empty->getChild(1)->isCDATA());
    Node split(parseOk("<a>x<![CDATA[y]]>z</a>"));
    ASSERT_EQ(split->getChildCount(), 3);
    EXPECT_EQ(print(split.get()), "<a>x<![CDATA[y]]>z</a>");
}

TEST_F(XMLTest, ComparesCopiesAndNormalizes) {
    Node a(parseOk("<a x=\"1\" y=\"2\"><b/>t</a>"));
    Node b(parseOk("<a y=\"2\" x=\"1\"><b/>t</a>"));
    Node c(parseOk("<a x=\"1\" y=\"2\">t<b/></a>"));
    EXPECT_TRUE(a->equals(b.get(), false));
    EXPECT_FALSE(a->equals(c.get(), false));
    EXPECT_TRUE(c->contains(c->getChild(1), true));

    Node doc(parseOk("<r xmlns:p=\"urn:p\"><p:a><p:b/></p:a></r>"));
    Node inner(doc->find(S("urn:p::a"), 0));
    Node copied(inner->getChild(0)->copy(true));
    EXPECT_EQ(copied->getParent(), nullptr);
    EXPECT_EQ(print(copied.get()), "<p:a xmlns:p=\"urn:p\"><p:b/></p:a>");
    EXPECT_EQ(copied->getChild(0)->getNamespace(), copied->getDeclaration(0));

    Node texts(new XML(String("a")));
    for (const char* t : {"x", "", "y"})
        texts->insert(new XML(XML::kText, String(t)), XML::kAppend, true);
    texts->addChild(String("b"));
    texts->insert(new XML(XML::kText, String("z")), XML::kAppend, true);
    texts->normalize();
    EXPECT_EQ(print(texts.get()), "<a>xy<b/>z</a>");
    EXPECT_FALSE(texts->insert(texts.get(), 0, false));
    EXPECT_FALSE(texts->getChild(1)->insert(texts.get(), 0, false));
}

}  // namespace
}  // namespace LxCore
