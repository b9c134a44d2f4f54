#include <algorithm>
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "base/tests/TestNames.h"
#include "core/Error.h"
#include "core/String.h"
#include "core/tests/TestSupport.h"
#include "script/engine/TVContext.h"
#include "script/frontend/Node.h"
#include "script/frontend/Parser.h"
#include "script/frontend/tests/FrontEndTestSupport.h"

namespace LxScript {
namespace {

using LxCore::Error;
using LxCore::S;
using LxCore::String;

constexpr bool kSanitized = LxCore::kSanitizedBuild;

// A parse of hostile text may take at most kMaxSlowdown times as long as a
// parse of plain statements of the same size, timed in the same run, each the
// shortest of kTries runs taken in turn: the machine's load and its caches
// weigh on both alike. The slowest hostile text takes some twice as long as
// plain statements; work that grew with the square of the text takes twenty
// times as long for a million labels compared one by one, and thousands of
// times for most shapes.
constexpr size_t kHostileBytes = 1000000;
constexpr double kMaxSlowdown = 8.0;
constexpr int kTries = 3;
constexpr size_t kParseStack = 512 * 1024;

class ParserTest : public FrontEndTest {
protected:
    TestOptions options;
    Error errors;

    void TearDown() override {
        errors.clear();
        options.includePath.clear();
        FrontEndTest::TearDown();
    }

    // The root's body as text, or the error as !code@line:column+length.
    std::string parse(const String& text, DataPoolId file = 0) {
        errors.clear();
        jsParser parser(&options, file, text, errors);
        ScopeNode* root = parser.parse();
        std::string out;
        if (const LxCore::ErrorRecord* e = errors.getRecord())
            out = "!" + std::to_string(e->code) + "@" + std::to_string(e->line) + ":" + std::to_string(e->further) +
                  "+" + std::to_string(e->length);
        else
            out = utf8(root->body->toString());
        delete root;
        return out;
    }
    std::string parse(const char* text) { return parse(S(text)); }

    // The processor time of a parse of text against that of plain statements
    // of the same size; the error number of the text's parse goes to code.
    void expectAsFastAsPlain(const std::string& text, const std::string& what, i32& code) {
        std::string plain;
        while (plain.size() < text.size())
            plain += "a;";
        const String source = S(text), reference = S(plain);
        double took = 1e9, plainTook = 1e9;
        for (int i = 0; i < kTries; i++) {
            double seconds = 0;
            LxCore::runOnStack(kParseStack, [&] { code = timedParse(source, seconds); });
            took = std::min(took, seconds);
            LxCore::runOnStack(kParseStack, [&] { timedParse(reference, seconds); });
            plainTook = std::min(plainTook, seconds);
        }
        EXPECT_LT(took, kMaxSlowdown * plainTook) << what << ": " << took << " s, plain statements " << plainTook << " s";
    }

    // The error number of a parse, and the seconds it took (the tree's
    // destruction included).
    i32 timedParse(const String& text, double& seconds) {
        errors.clear();
        const double started = threadSeconds();
        {
            jsParser parser(&options, 0, text, errors);
            delete parser.parse();
        }
        seconds = threadSeconds() - started;
        return errors.getCode();
    }
};

struct ShapeCase {
    const char* source;
    const char* shape;
};

TEST_F(ParserTest, StatementShapes) {
    const ShapeCase cases[] = {
        {"// only a comment", "{}"},
        {"a\nb", "{a,b}"},
        {"a; b;;", "{a,b}"},
        {"function f(a){ var a; return\n1 }", "{SCOPE:f{(P:a){return(),1}}}"},
        {"function f(){}", "{SCOPE:f{(){}}}"},
        {"var a; var a; var b = 1, c, d = a", "{{=(b,1),=(d,a)}}"},
        {"var a = 1, b, c = 2", "{{=(a,1),=(c,2)}}"},
        {"x: y: z", "{x: y:z}"},
        {"a: break a;", "{}"},
        {"a: while (b) { break a; continue }", "{a:while(b,{break(:),continue()})}"},
        {"a: while (1) { break\na }", "{a:while(1,{break(),a})}"},
        {"if (a) b; else if (c) d", "{if(a,b,if(c,d,))}"},
        {"if (1) a; else b", "{a}"},
        {"if (0) a", "{}"},
        {"if ('') a; else b", "{b}"},
        {"if (/x/) a", "{a}"},
        {"while (0) a", "{}"},
        {"do x; while (a)", "{do(x,a)}"},
        {"do x\nwhile (a)\ny", "{do(x,a),y}"},
        {"for (;;) x", "{while(,x)}"},
        {"for (;;) ;", "{while(,)}"},   // endless, not nothing
        {"for (;;) {}", "{while(,)}"},
        {"for (var i = 0; i < n; i++) x", "{for((=(i,0),<(i,n),++(i)),x)}"},
        {"for (x in o) ;", "{for(in(x,o),)}"},
        {"for (var x in o) f(x)", "{for(in(x,o),(f,(x)))}"},
        {"for each (var x in o) f(x)", "{for(each(x,o),(f,(x)))}"},
        {"for (var i = (a in b); i in c;) ;", "{for((=(i,in(a,b)),in(i,c),),)}"},
        {"for (f(function(){ a in b }); ;) ;", "{for(((f,(SCOPE:{(){in(a,b)}})),,),)}"},
        {"with (o) x", "{with(o,x)}"},
        {"switch (x) { case 1: case 2: a; default: b }", "{switch(x,{case({1,2},{a}),case({},{b})})}"},
        {"switch (x) { case 1: while (y) { break } break }", "{switch(x,{case({1},{while(y,{break()}),break()})})}"},
        {"try { a } catch (e if e > 1) { b } catch (e) { c } finally { d }",
         "{try({a},{catch(e,>(e,1),{b}),catch(e,,{c})},{d})}"},
        {"try { a } finally { }", "{try({a},{},)}"},
        {"throw a + 1", "{throw(+(a,1))}"},
        {"default xml namespace = 'u'", "{void((setDefaultXMLNamespace,('u')))}"},
    };
    for (const ShapeCase& c : cases)
        EXPECT_EQ(parse(c.source), c.shape) << c.source;
}

TEST_F(ParserTest, ExpressionShapes) {
    const ShapeCase cases[] = {
        {"a & b ^ c", "{^(&(a,b),c)}"},
        {"a || b && c", "{&&(||(a,b),c)}"},
        {"a + b * c - d", "{-(+(a,*(b,c)),d)}"},
        {"a = b = c", "{=(a,=(b,c))}"},
        {"a += b ? c : d", "{+=(a,?:(b,c,d))}"},
        {"a ? b : c ? d : e", "{?:(a,b,?:(c,d,e))}"},
        {"a ? b ? c : d : e", "{?:(a,?:(b,c,d),e)}"},
        {"a ? b : c = d", "{?:(a,b,=(c,d))}"},
        {"1 + 2 * 3", "{7}"},
        {"'a' + 1 + 2", "{'a12'}"},
        {"x = 1 ? y : z", "{=(x,y)}"},
        {"-a - -1", "{-(-(a),-1)}"},
        {"!!a", "{!(!(a))}"},
        {"typeof x, delete a.b, void 0", "{{typeof(x),delete((a,.b)),void(0)}}"},
        {"(1, f(), 2, g())", "{{(f,()),(g,())}}"},
        {"(1, 2)", "{2}"},
        {"x['y'] + x.y", "{+((x,.y),(x,.y))}"},
        {"x[1 + 1]", "{(x,.2)}"},
        {"x[y][0]", "{((x,[y]),.0)}"},
        {"f(a, b)(c)", "{((f,(a,b)),(c))}"},
        {"new C", "{new((C,()))}"},
        {"new new X()()", "{new((new((X,())),()))}"},
        {"new Date().getTime()", "{((new((Date,())),.getTime),())}"},
        {"new a.b.C(1).d", "{(new((((a,.b),.C),(1))),.d)}"},
        {"x = function(a) { return a }(1)", "{=(x,(SCOPE:{(P:a){return(a)}},(1)))}"},
        {"[1,,2,]", "{[1,,2]}"},
        {"[,]", "{[]}"},
        {"o = {a: 1, 'b': 2, 3: c, get: d}", "{=(o,{(a,1),('b',2),(3,c),(get,d)})}"},
        {"a.class + a.AND", "{+((a,.class),(a,.AND))}"},
        {"x = /a+b/g", "{=(x,/a+b/g)}"},
        {"x = /=a/", "{=(x,/=a/)}"},
        {"s.split(/=/)", "{((s,.split),(/=/))}"},
        {"x /= 2", "{/=(x,2)}"},
        {"x = a / b / c", "{=(x,/(/(a,b),c))}"},
        {"a++ + ++b", "{+(++(a),++(b))}"},
        {"x = *", "{=(x,*)}"},
        {"@a + a.@b + a.@[c] + @ns::x", "{+(+(+(@(a),(a,@(b))),(a,@([c]))),@(::(ns,.x)))}"},
        {"a..b + a..@c + a..* + a..ns::d", "{+(+(+(..(a,b),..(a,@(c))),..(a,*)),..(a,::(ns,.d)))}"},
        {"ns::x + a.ns::y + *::z + ns::[e]", "{+(+(+(::(ns,.x),(a,::(ns,.y))),::(*,.z)),::(ns,[e]))}"},
        {"a.*.(b == 1)", "{((a,.*),()(==(b,1)))}"},
        {"a.b::c + a.@b::c", "{+((a,::(b,.c)),(a,@(::(b,.c))))}"},
        {"x..y = 1; ns::x = 2; @a = 3; a.@b++; a[0] = 4", "{=(..(x,y),1),=(::(ns,.x),2),=(@(a),3),++((a,@(b))),=((a,.0),4)}"},
    };
    for (const ShapeCase& c : cases)
        EXPECT_EQ(parse(c.source), c.shape) << c.source;
}

TEST_F(ParserTest, XMLLiterals) {
    const ShapeCase cases[] = {
        {"x = <a>{1}{'<'}</a>", "{=(x,{'<a>1&lt;</a>'})}"},
        {"x = <a b={x}>t</a>", "{=(x,{'<a b=',{x},'>t</a>'})}"},
        {"x = <a b={1 + 1}/>", "{=(x,{'<a b=\\\"2\\\"/>'})}"},
        {"x = <a b=\"{'\"<'}\" c='{\"&\"}'/>", "{=(x,{'<a b=\\\"&quot;&lt;\\\" c='&amp;'/>'})}"},
        {"x = <a b={'\"\\n'}/>", "{=(x,{'<a b=\\\"&quot;&#xA;\\\"/>'})}"},
        {"x = <{n} {m}='1'>{c}</{n}>", "{=(x,{'<',{n},' ',{m},'='1'>',{c},'</',{n},'>'})}"},
        {"x = <a>{/x/}</a>", "{=(x,{'<a>',{/x/},'</a>'})}"},
        {"x = <a>{c ? <b/> : <c>{d}</c>}</a>", "{=(x,{'<a>',{?:(c,{'<b/>'},{'<c>',{d},'</c>'})},'</a>'})}"},
        {"x = <a>{a, 1}</a>", "{=(x,{'<a>',{a,1},'</a>'})}"},
        {"x = <><a/></>", "{=(x,{'<><a/></>'})}"},
        {"<a/>.b", "{({'<a/>'},.b)}"},
    };
    for (const ShapeCase& c : cases)
        EXPECT_EQ(parse(c.source), c.shape) << c.source;
}

// The error, its line, column and token length.
TEST_F(ParserTest, Errors) {
    const ShapeCase cases[] = {
        {"return 1", "!30@0:0+6"},
        {"a b", "!25@0:2+1"},
        {"x;\n  { a", "!14@1:2+1"},
        {"a }", "!13@0:2+1"},
        {"}", "!13@0:0+1"},
        {"if (a)", "!51@0:6+1"},
        {"const a = 1; const a = 2", "!40@0:19+1"},
        {"function f(a) { const a }", "!40@0:22+1"},
        {"var class", "!9@0:4+5"},
        {"function f(a, if) {}", "!9@0:14+2"},
        {"for each (x; y; z) ;", "!8@0:11+1"},
        {"for (var a, b in o);", "!8@0:14+2"},
        {"switch (a) { case 1: continue; }", "!10@0:29+1"},
        {"break", "!10@0:5+1"},
        {"continue a", "!11@0:10+1"},
        {"a: { continue a }", "!10@0:16+1"},
        {"a: a: x", "!11@0:3+1"},
        {"switch (a) { default: a; default: b }", "!39@0:25+7"},
        {"switch (a) { a }", "!25@0:13+1"},
        {"try { a }", "!15@0:9+1"},
        {"catch (e) {}", "!16@0:0+5"},
        {"try {} catch (e) {} catch (f) {}", "!42@0:20+5"},
        {"try {} catch (1) {}", "!17@0:14+1"},
        {"f() = 1", "!3@0:4+1"},
        {"1 = 2", "!3@0:2+1"},
        {"a.(b) = 1", "!3@0:6+1"},
        {"++a++", "!8@0:3+2"},
        {"++f()", "!3@0:0+2"},
        {"f()++", "!3@0:3+2"},
        {"1[0]", "!21@0:1+1"},
        {"x = )", "!23@0:4+1"},
        {"x = class", "!9@0:4+5"},
        {"x = %=a", "!23@0:4+2"},
        {"a.getter", "!7@0:2+6"},
        {"o = {setter: 1}", "!7@0:5+6"},
        {"o = {if: 1}", "!9@0:5+2"},
        {"[1 2]", "!25@0:3+1"},
        {"{a: 1 b: 2}", "!25@0:6+1"},
        {"default namespace xml = 1", "!25@0:8+9"},
        {"a::b::c", "!25@0:4+2"},
        {"a[0]::c", "!25@0:4+2"},
        {"f()::c", "!25@0:3+2"},
        {"1::c", "!17@0:1+2"},
        {"ns::@x", "!8@0:4+1"},
        {"a.[b]", "!8@0:2+1"},
        {"a..[b]", "!26@0:3+1"},
        {"a..1", "!8@0:3+1"},
        {"x = <a>{;}</a>", "!8@0:9+1"},
        {"x = <a>{var b}</a>", "!8@0:8+3"},
        {"x = <a>{b c}</a>", "!25@0:10+1"},
        {"x = <a>b > c</a>", "!60@0:4+6"},
        {"x = 'ab", "!4@0:4+3"},
        {"#include", "!48@0:0+8"},
    };
    for (const ShapeCase& c : cases)
        EXPECT_EQ(parse(c.source), c.shape) << c.source;
}

// Positions, flags and slots of the scope records.
TEST_F(ParserTest, Scopes) {
    errors.clear();
    const String text = S("#strict\n#script 'Main'\nvar v;\nconst c = 1;\nfunction f(a, b, a) {\n  var x = function g() {};\n}\nlast");
    jsParser parser(&options, 0, text, errors);
    ScopeNode* root = parser.parse();
    ASSERT_TRUE(errors.isEmpty());
    const ScopeInfo& info = *root->info;
    EXPECT_EQ(info.flags, ScopeInfo::kScriptScope | jsScanner::kDirectiveStrict);
    EXPECT_EQ(symbol(info.name), "Main");
    EXPECT_EQ(root->value, 7);
    EXPECT_EQ(info.lookup(DataPool::get().add("v")), ScopeInfo::kVariableSlot);
    EXPECT_EQ(info.lookup(DataPool::get().add("c")), ScopeInfo::kConstantSlot);
    EXPECT_EQ(info.length, -1);
    EXPECT_TRUE(info.source == text);

    const ScopeNode* f = root->body->toListNode()->getNode(1)->toScopeNode();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(symbol(f->info->name), "f");
    EXPECT_EQ(f->info->line, 4);
    EXPECT_EQ(f->value, 6);
    EXPECT_EQ(f->info->parameters, 3);
    EXPECT_EQ(f->info->lookup(DataPool::get().add("a")), ScopeInfo::kParameterSlot + 2);
    EXPECT_EQ(f->info->flags, u32(jsScanner::kDirectiveStrict));
    EXPECT_EQ(utf8(f->info->source.substr(f->info->start, f->info->length)),
              "function f(a, b, a) {\n  var x = function g() {};\n}");
    const Node* g = f->body->toListNode()->getNode(0)->toBinaryNode()->right;
    EXPECT_EQ(g->code, kWordFunction);
    EXPECT_EQ(g->kind, Node::kOperator);
    ASSERT_NE(g->toScopeNode(), nullptr);
    EXPECT_EQ(g->toScopeNode()->info->flags, ScopeInfo::kFunctionExpression | jsScanner::kDirectiveStrict);
    EXPECT_EQ(utf8(f->info->source.substr(g->toScopeNode()->info->start, g->toScopeNode()->info->length)),
              "function g() {}");
    delete root;
}

// Inputs a megabyte long and built to nest or chain: a stack overrun or a
// tree, soon, on a thread with a small stack. One test each, so that they
// run side by side.
struct Hostile {
    const char* head;
    const char* unit;
    const char* tail;
};

const Hostile kHostile[] = {
    {"", "(", ""}, {"", "[", ""}, {"", "{", ""}, {"", "new ", "X"}, {"", "if(a)x;else ", "y"},
    {"", "a=", "1"}, {"x=", "<a>{", "1"}, {"", "\"a\"+", "\"a\""}, {"", "- ", "1"}, {"", "!", "1"},
    {"", "- ", "a"}, {"", "a+", "a"}, {"", "@", "a"}, {"", "f(", ""}, {"", "function(){", ""},
    {"x", ".y", ""}, {"a", "[0]", ""}, {"", "a, ", "1"}, {"", "a?a:", "a"},
};

// Failures show a case as its text, the unit repeated; test names spell out
// head, unit and tail.
void PrintTo(const Hostile& c, std::ostream* out) {
    *out << '"' << c.head << c.unit << c.unit << "..." << c.tail << '"';
}

std::string hostileName(const ::testing::TestParamInfo<Hostile>& info) {
    return TestNames::caseName(std::string(info.param.head) + info.param.unit + info.param.tail);
}

class HostileTest : public ParserTest, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileTest, OverrunOrTree) {
    const Hostile& c = GetParam();
    std::string text = c.head;
    const size_t unit = strlen(c.unit);
    text.reserve(kHostileBytes + 16);
    while (text.size() + unit <= kHostileBytes)
        text += c.unit;
    text += c.tail;
    i32 code = -1;
    expectAsFastAsPlain(text, c.unit, code);
    EXPECT_TRUE(code == 0 || code == 27) << c.unit << ": " << code;
}

INSTANTIATE_TEST_SUITE_P(Megabyte, HostileTest, ::testing::ValuesIn(kHostile), hostileName);

// A million labels on one statement: a set finds the repeat.
TEST_F(ParserTest, MillionLabels) {
    std::string labels;
    for (int i = 0; labels.size() < kHostileBytes; i++)
        labels += "a" + std::to_string(i) + ":";
    const struct {
        const char* tail;
        i32 code;
    } rows[] = {{"a7:x", 11}, {"x", 0}};
    for (const auto& row : rows) {
        i32 code = -1;
        expectAsFastAsPlain(labels + row.tail, row.tail, code);
        EXPECT_EQ(code, row.code) << row.tail;
    }
}

TEST_F(ParserTest, HundredParenthesesFitIn256KB) {
    const std::string text = std::string(100, '(') + "1" + std::string(100, ')');
    TVContext& context = TVContext::get();
    {
        StackLimitScope limit(context, 256 * 1024);
        const std::string result = parse(S(text));
        if (!kSanitized) {
            EXPECT_EQ(result, "{1}");
        }
    }
    EXPECT_EQ(parse(S(std::string(101, '(') + "1" + std::string(101, ')'))).substr(0, 4), "!27@");
}

// ---- includes and function texts ----

class ParserIncludeTest : public ParserTest {
protected:
    std::string root;

    void SetUp() override {
        ParserTest::SetUp();
        root = LxCore::makeTemporaryFolder("tvparse");
    }
    void TearDown() override {
        LxCore::removeTree(root);
        ParserTest::TearDown();
    }
    std::string path(const std::string& name) const { return root + "/" + name; }
    void write(const std::string& name, const std::string& text) const { LxCore::writeFile(path(name), text); }
};

// A function's text runs to its own "}" in its own file; a body that an
// include ends runs to the end of the function's file.
TEST_F(ParserIncludeTest, FunctionTexts) {
    write("lib.tvs", "function inLib(a) { return a }\n");
    write("body.tvs", "  return 1;\n}\n");
    write("main.tvs", "#include lib.tvs\nfunction open() {\n#include body.tvs\nvar after = 2;\n");
    const String name = S(path("main.tvs"));
    errors.clear();
    jsParser parser(&options, DataPool::get().add(name.chars(), name.length()), S(LxCore::readFile(path("main.tvs"))),
                    errors);
    ScopeNode* top = parser.parse();
    ASSERT_TRUE(errors.isEmpty()) << utf8(errors.getRecord()->message);
    const ListNode* body = top->body->toListNode();
    ASSERT_EQ(body->length(), 3);
    const ScopeInfo& lib = *body->getNode(0)->toScopeNode()->info;
    EXPECT_EQ(utf8(lib.source.substr(lib.start, lib.length)), "function inLib(a) { return a }");
    EXPECT_EQ(symbol(lib.file), path("lib.tvs"));
    const ScopeInfo& open = *body->getNode(1)->toScopeNode()->info;
    EXPECT_EQ(utf8(open.source.substr(open.start, open.length)),
              "function open() {\n#include body.tvs\nvar after = 2;\n");
    delete top;
}

}  // namespace
}  // namespace LxScript
