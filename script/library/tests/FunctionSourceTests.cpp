// A function's text on one line: where line ends must stay, and that what
// stays reads back as the same function.
#include "script/library/FunctionClass.h"
#include "script/engine/Script.h"
#include "script/library/tests/LibraryTestEngine.h"

namespace LxScript {
namespace {

using LxCore::String;

std::string narrow(const String& s) {
    std::string out;
    for (i32 i = 0; i < s.length(); i++)
        out += s[i] < 128 ? char(s[i]) : '?';
    return out;
}

TEST_F(LibraryTest, CompactTextKeepsTheLineEndsThatCarryMeaning) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        // Spaces: runs of four become one; line ends after "{", ";" and
        // operators become spaces.
        {"function f(a) {\n    return a;\n}", "function f(a) {  return a; }"},
        {"function f(a) {\n    var b = a +\n        1;\n    return b;\n}",
         "function f(a) {  var b = a +   1;  return b; }"},
        // A "//" comment keeps its line end; "//" in a string or a
        // regular expression is none.
        {"function f() { // note\n  return 1 }", "function f() { // note\n  return 1 }"},
        {"function f() { return '//' + /\\/\\//.source }", "function f() { return '//' + /\\/\\//.source }"},
        {"function f() {\n  //@include nothing\n  return 1\n}", "function f() {   //@include nothing\n  return 1 }"},
        // Statements without ";" end at their line end.
        {"function f() {\n  var a = 1\n  return a\n}", "function f() {   var a = 1\n  return a }"},
        // return, break, continue and throw end at a line end.
        {"function f(x) {\n  return\n  x\n}", "function f(x) {   return\n  x }"},
        {"function f() { return /* a\n comment */ 1 }", "function f() { return /* a\n comment */ 1 }"},
        // ++ and -- after a line end start the next statement.
        {"function f(a, b) { a\n++b }", "function f(a, b) { a\n++b }"},
        // What continues a line needs no line end before it.
        {"function f(a) {\n  return a\n    .b\n    + 1\n}", "function f(a) {   return a  .b  + 1 }"},
        // A block's "}" ends no statement; an object literal's or a
        // function expression's may.
        {"function f() {\n  if (1) {\n  }\n  g()\n}", "function f() {   if (1) {   }   g() }"},
        {"function f() {\n  var o = {}\n  g()\n}", "function f() {   var o = {}\n  g() }"},
        {"function f() {\n  var h = function () {}\n  g()\n}", "function f() {   var h = function () {}\n  g() }"},
        // Strings keep their spaces and line continuations.
        {"function f() { return \"a    b\\\n c\" }", "function f() { return \"a    b\\\n c\" }"},
        // A text the scanner cannot read keeps its line ends.
        {"function f() {\n    return '\n}", "function f() {\n return '\n}"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(narrow(compactSource(String(c.in))), c.out) << c.in;
}

// The text reads back as a function giving the same results, and a second
// round changes nothing.
TEST_F(LibraryTest, CompactTextReadsBackAsTheSameFunction) {
    const char16_t* sources[] = {
        u"function (a) {\n  var x = a // the input\n  x++\n  return x * 2\n}",
        u"function (a) {\n  var s = 'a    b'\n  if (a) {\n    s += '//'\n  }\n  return s\n}",
        u"function (a) {\n  var o = { k: a }\n  var t = o.k\n  return t\n}",
        u"function (a) {\n  for (var i = 0; i < 2; i++)\n    a = a + i\n  return a\n}",
    };
    for (const char16_t* source : sources) {
        std::u16string script = u"var f = ";
        script += source;
        script += u";\nvar once = f.toSource(); var g = eval(once);\n"
                  u"(g(1) === f(1) && g(0) === f(0)) + ' ' + (g.toSource() === once)";
        std::u16string out;
        EXPECT_EQ(run(script, &out), 0);
        EXPECT_EQ(out, u"true true") << std::string(script.begin(), script.end());
    }
}

// A function read from compiled text has no source to show: both text forms
// name it around a stand-in body.
TEST_F(LibraryTest, FunctionsFromCompiledTextShowAStandInBody) {
    Script* script = engine->compile(String("function twice(a) { return a * 2; }"), nullptr);
    ASSERT_NE(script, nullptr);
    String compiled;
    ASSERT_EQ(script->writeBinary(compiled), 0);
    script->release();
    Variant result;
    ASSERT_TRUE(engine->eval(compiled, &result, 0, 0, nullptr, nullptr));
    std::u16string out;
    EXPECT_EQ(run(u"twice(4) + ' ' + twice.length + ' ' + twice.name", &out), 0);
    EXPECT_EQ(out, u"8 1 twice");
    EXPECT_EQ(run(u"twice.toString()", &out), 0);
    EXPECT_EQ(out, u"\nfunction twice() {\n    [compiled code]\n}\n");
    EXPECT_EQ(run(u"twice.toSource()", &out), 0);
    EXPECT_EQ(out, u"(function twice() {  [compiled code] } )");
}

}  // namespace
}  // namespace LxScript
