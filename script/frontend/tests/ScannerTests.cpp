#include <gtest/gtest.h>

#include <functional>
#include <sys/stat.h>
#include <string>
#include <vector>

#include "core/Error.h"
#include "core/String.h"
#include "core/tests/TestSupport.h"
#include "script/frontend/Scanner.h"
#include "script/frontend/tests/FrontEndTestSupport.h"

namespace LxScript {
namespace {

using LxCore::Error;
using LxCore::S;
using LxCore::String;

class ScannerTest : public FrontEndTest {
protected:
    TestOptions options;
    Error errors;

    // Core objects go before the library ends.
    void TearDown() override {
        errors.clear();
        options.includePath.clear();
        FrontEndTest::TearDown();
    }

    // Every token of the range, then "!N" for an error.
    std::string scan(const std::u16string& text, bool operand = false, i32 start = 0, i32 length = -1,
                     DataPoolId file = 0) {
        errors.clear();
        jsScanner scanner(&options, file, LxCore::make(text), errors, start, length);
        std::string out;
        ScanInfo t;
        for (int guard = 0; guard < 10000; guard++) {
            const bool ok = scanner.next(t, operand);
            if (!ok)
                return out + (out.empty() ? "" : " ") + "!" + std::to_string(errors.getCode());
            if (t.code == TokenCode::kEnd)
                return out;
            out += (out.empty() ? "" : " ") + describe(t);
        }
        return out + " (no end)";
    }
    std::string scan(const char* text, bool operand = false, i32 start = 0, i32 length = -1) {
        return scan(std::u16string(text, text + strlen(text)), operand, start, length);
    }
};

struct TokenCase {
    const char* source;
    const char* tokens;
    bool operand = false;
};

TEST_F(ScannerTest, TokenTable) {
    const TokenCase cases[] = {
        {"a+=1", "a += #1"},
        {"a+ =1", "a + = #1"},
        {"x AND y OR z XOR w", "x & y | z ^ w"},
        {"a<<=b>>>=c!==d===e>=f", "a <<= b >>>= c !== d === e >= f"},
        {"a||b|c&&d&e", "a || b | c && d & e"},
        {"++ -- *= %= &= |= ^= ! ~", "++ -- *= %= &= |= ^= ! ~"},
        {"(a)[b]{c};d?e:f@g,h", "( a ) [ b ] { c } ; d ? e : f @ g , h"},
        {"a..b::c.d", "a .. b :: c . d"},
        {"if iF \\u0069f", "[if] iF if"},
        {"1.5.toString", "#1.5 . toString"},
        {"1.toString", "!6"},
        {"1.e5 1.e+2", "#100000 #100"},
        {"1.each", "#1 . each"},
        {"1.5.3", "!6"},
        {"1e", "!6"},
        {"1e+x", "!6"},
        {".5 5.", "#0.5 #5"},
        {"08 0x1F 017 019 0x 0", "#8 #31 #15 #19 #0 #0"},
        {"0a", "!6"},
        {"0xfg", "#15 g"},
        {"'ab\ncd'", "!4"},
        {"'''a\nb'''", "s(a\nb)"},
        {"'' 'a' \"b\"", "s() s(a) s(b)"},
        {"''''x'''", "s('x)"},
        {"'''''x'''", "s(''x)"},
        {"'''''' ''''''' ''''''''", "s() s(') s('')"},
        {"'''a''b''''", "s(a''b')"},
        {"'\\x41\\u0042\\101\\q\\xZ\\u12'", "s(ABAqxZu12)"},
        {"'a\\\nb'", "s(a\nb)"},
        {"'\\U00110000'", "!41"},
        {"/ab+c/gi /x\\/y/", "/ab+c/gi /x\\/y/", true},
        {"/a\n/", "!8", true},
        {"a / b", "a / b"},
        {"* x", "<*> x", true},
        {"a */ b", "a !8"},
        {"a /* b */ c // d", "a // c //"},
        {"/* x", "!5"},
        {"#strict\n  #debug 2\nx", "// // x"},
        {"a # b", "a !8"},
        {"#foo", "!8"},
        {"//@foo", "!8"},
        {"//@", "!8"},
        {"// @strict\n//@@foo", "// //"},
        {"#show include\n#show other", "// !8"},
        {"a`b", "a !8"},
        {"a\xef\xbb\xbf" "b", "ab"},
    };
    for (const TokenCase& c : cases) {
        const std::string utf8Source(c.source);
        EXPECT_EQ(scan(LxCore::str(S(utf8Source)), c.operand), c.tokens) << c.source;
    }
}

TEST_F(ScannerTest, ZeroReadsAsSpaceAndFormatCharactersAreDropped) {
    EXPECT_EQ(scan(std::u16string(u"a\0b", 3)), "a b");
    EXPECT_EQ(scan(u"'x\uFEFFy' a\u200Eb"), "s(xy) ab");
    EXPECT_EQ(scan(u"'\\U0001F600'"), "s(\U0001F600)");
}

// "//@" lines are directives only while the engine's option is on.
TEST_F(ScannerTest, PreprocessorOption) {
    options.preprocessor = false;
    EXPECT_EQ(scan("//@foo\nx"), "// x");
    options.preprocessor = true;
    EXPECT_EQ(scan("//@foo\nx"), "!8");
}

// A range that ends inside a token reads as a text that ends there, even
// where the text beyond would have completed the token.
TEST_F(ScannerTest, RangesEndWhereTheyEnd) {
    struct RangeCase {
        const char* text;
        i32 start, length;
        bool operand;
        const char* tokens;
    } cases[] = {
        {"'abc' x", 0, 3, false, "!4"},
        {"'''a''' x", 0, 6, false, "!4"},
        {"'ab\\' x", 0, 4, false, "!4"},
        {"'\\x41'", 0, 4, false, "!4"},
        {"/* a */ x", 0, 6, false, "!5"},
        {"/ab/ x", 0, 3, true, "!8"},
        {"/a\\/ x", 0, 3, true, "!8"},
        {"a*/b", 0, 2, false, "a *"},
        {"//@foo\nx", 0, 2, false, "//"},
        {"x = 1.5", 4, 2, false, "#1"},
        {"abc def", 4, -1, false, "def"},
        {"abc def", -1, 5, false, ""},
        {"abc", 1, 100, false, "bc"},
    };
    for (const RangeCase& c : cases)
        EXPECT_EQ(scan(c.text, c.operand, c.start, c.length), c.tokens) << c.text << " " << c.start << "+" << c.length;
}

// A token's line and column are its first unit's; an error's length is what
// was read, 1 to 65,535.
TEST_F(ScannerTest, Positions) {
    struct PositionCase {
        std::u16string text;
        int index;
        i32 offset, line, column, length;
    } cases[] = {
        {u"x\n'''a\nb''' y", 1, 2, 1, 0, 9},
        {u"x\n'''a\nb''' y", 2, 12, 2, 5, 1},
        {u"/*a\r\nb*/c", 0, 0, 0, 0, 8},
        {u"/*a\r\nb*/c", 1, 8, 1, 3, 1},
        {u"a\r\nb\u2028c\rd", 3, 7, 3, 0, 1},
        {u"  abc", 0, 2, 0, 2, 3},
    };
    for (const PositionCase& c : cases) {
        errors.clear();
        jsScanner scanner(&options, 0, LxCore::make(c.text), errors);
        ScanInfo t;
        for (int i = 0; i <= c.index; i++)
            ASSERT_TRUE(scanner.next(t, false));
        EXPECT_EQ(t.offset, c.offset) << c.index;
        EXPECT_EQ(t.line, c.line) << c.index;
        EXPECT_EQ(t.column, c.column) << c.index;
        EXPECT_EQ(t.length, c.length) << c.index;
    }

    struct ErrorCase {
        std::u16string text;
        i32 code, line, start, column, length;
    } errorCases[] = {
        {u"x\n  'ab\ncd'", 4, 1, 4, 2, 4},
        {u"a\n'''b\n", 4, 1, 2, 0, 5},
        {u"\n\n  1.x", 6, 2, 4, 2, 1},
        {u"x\n/* a\n\nb", 5, 1, 2, 0, 7},
        {u"'" + std::u16string(70000, u'a'), 4, 0, 0, 0, 65535},
    };
    for (const ErrorCase& c : errorCases) {
        errors.clear();
        jsScanner scanner(&options, 0, LxCore::make(c.text), errors);
        ScanInfo t;
        while (scanner.next(t, false) && t.code != TokenCode::kEnd) {
        }
        ASSERT_EQ(errors.getCode(), c.code);
        const LxCore::ErrorRecord* record = errors.getRecord();
        EXPECT_EQ(record->line, c.line);
        EXPECT_EQ(record->start, c.start);
        EXPECT_EQ(record->further, c.column);
        EXPECT_EQ(record->length, c.length);
        EXPECT_EQ(t.kind, ScanInfo::kNone);
        EXPECT_EQ(t.code, 0);
        EXPECT_FALSE(scanner.next(t, false)) << "every later token is lost";
        EXPECT_EQ(t.code, 0);
        EXPECT_EQ(t.kind, ScanInfo::kNone);
        EXPECT_EQ(errors.getRecord(), record) << "only the first error is recorded";
    }
}

TEST_F(ScannerTest, DirectivesAndPushBack) {
    errors.clear();
    jsScanner scanner(&options, 0, S("#strict\n#script 'My Script';\nx\n#strict off\n#debug 2\ny: z"), errors);
    ScanInfo t;
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(scanner.getFlags(), jsScanner::kDirectiveStrict);
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(utf8(scanner.getScriptName()), "My Script");
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(describe(t), "x");
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(scanner.getFlags(), 0);
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(scanner.getFlags(), 2);
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(scanner.peekChar(), u':');
    const ScanInfo name = t;
    ASSERT_TRUE(scanner.next(t, false));
    scanner.pushBack(t);
    EXPECT_EQ(scanner.peekChar(), u':');
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(describe(t), ":");
    EXPECT_EQ(t.offset, name.offset + 1);
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_EQ(describe(t), "z");
    EXPECT_EQ(scanner.peekChar(), 0);
}

// ---- includes ----

class IncludeTest : public ScannerTest {
protected:
    std::string root;

    void SetUp() override {
        ScannerTest::SetUp();
        root = LxCore::makeTemporaryFolder("tvscan");
    }
    void TearDown() override {
        LxCore::removeTree(root);
        ScannerTest::TearDown();
    }
    std::string path(const std::string& name) const { return root + "/" + name; }
    void write(const std::string& name, const std::string& text) const { LxCore::writeFile(path(name), text); }

    // Scans a file's text with the file as the current file.
    std::string scanFile(const std::string& name, std::vector<std::string>* files = nullptr) {
        errors.clear();
        const String file = S(path(name));
        jsScanner scanner(&options, DataPool::get().add(file.chars(), file.length()), file.length() ? S(LxCore::readFile(path(name))) : String(), errors);
        std::string out;
        ScanInfo t;
        while (scanner.next(t, false) && t.code != TokenCode::kEnd) {
            out += (out.empty() ? "" : " ") + describe(t);
            if (files)
                files->push_back(symbol(t.file) + ":" + std::to_string(t.line));
        }
        if (!errors.isEmpty())
            out += (out.empty() ? "" : " ") + ("!" + std::to_string(errors.getCode()));
        return out;
    }
};

TEST_F(IncludeTest, IncludedTextStandsInPlaceOfTheDirective) {
    mkdir(path("lib").c_str(), 0700);
    write("lib/a.tvs", "b\nc");
    write("main.tvs", "x\n#include 'lib/a.tvs'\ny");
    std::vector<std::string> files;
    EXPECT_EQ(scanFile("main.tvs", &files), "x // b c y");
    const std::vector<std::string> expected = {path("main.tvs") + ":0", path("main.tvs") + ":1",
                                               path("lib/a.tvs") + ":0", path("lib/a.tvs") + ":1",
                                               path("main.tvs") + ":2"};
    EXPECT_EQ(files, expected);

    // Found along the include path, extended by the directive.
    write("main2.tvs", "#includepath lib\n#include a.tvs\n");
    EXPECT_EQ(scanFile("main2.tvs"), "// // b c");
}

TEST_F(IncludeTest, Failures) {
    write("self.tvs", "#include self.tvs\n");
    EXPECT_EQ(scanFile("self.tvs"), "!27");
    write("loop1.tvs", "x #include\n#include loop2.tvs\n");
    write("loop2.tvs", "#include loop1.tvs\n");
    EXPECT_EQ(scanFile("loop1.tvs"), "x !8");
    write("loop3.tvs", "x\n#include loop4.tvs\n");
    write("loop4.tvs", "y\n#include loop3.tvs\n");
    EXPECT_EQ(scanFile("loop3.tvs"), "x // y !27");
    EXPECT_EQ(utf8(errors.getRecord()->fileName), path("loop4.tvs")) << "charged to the including file";

    write("missing.tvs", "#include nowhere.tvs\n");
    EXPECT_EQ(scanFile("missing.tvs"), "!48");
    // The message names the include, which the directive may have found nowhere.
    EXPECT_EQ(utf8(errors.getRecord()->message), "File or folder does not exist: nowhere.tvs");

    // Twenty levels, each including the next twice: a million includes, cut
    // off by the include count.
    for (int i = 0; i < 20; i++) {
        const std::string next = "f" + std::to_string(i + 1) + ".tvs";
        write("f" + std::to_string(i) + ".tvs", "#include " + next + "\n#include " + next + "\n");
    }
    write("f20.tvs", "x\n");
    const std::string tokens = scanFile("f0.tvs");
    EXPECT_EQ(tokens.substr(tokens.size() - 3), "!41");
}

// ---- XML pieces ----

// Reads one XML literal as the parser would: pieces, with the tokens of each
// embedded expression between them (a "<" there starts a nested literal).
// Pieces are written x(text)k, k being where the piece stopped.
class XMLTest : public ScannerTest {
protected:
    std::string literal(const char* source) {
        errors.clear();
        jsScanner scanner(&options, 0, S(source), errors);
        ScanInfo t;
        std::string out;
        std::function<bool(ScanInfo&)> read = [&](ScanInfo& start) {
            for (ScanInfo piece = start;;) {
                const bool complete = scanner.readXMLPiece(piece);
                if (!scanner.isOK())
                    return false;
                out += describe(piece);
                if (complete)
                    return scanner.next(t, false);
                out += std::to_string(scanner.getXMLStop());
                ScanInfo inner;
                if (!scanner.next(inner, false) || inner.code != TokenCode::kLeftBrace)
                    return false;
                out += " {";
                bool operand = true;
                for (;;) {
                    if (!scanner.next(inner, operand))
                        return false;
                    if (inner.code == TokenCode::kRightBrace)
                        break;
                    if (inner.code == kOpLess && operand) {
                        out += " ";
                        if (!read(inner))
                            return false;
                        inner = t;
                        if (inner.code == TokenCode::kRightBrace)
                            break;
                    }
                    out += " " + describe(inner);
                    operand = inner.kind != ScanInfo::kName;
                }
                out += " } ";
                piece = inner;
            }
        };
        if (!scanner.next(t, false) || t.code != kOpLess)
            return "no literal";
        if (!read(t))
            out += (out.empty() ? "!" : " !") + std::to_string(errors.getCode());
        else if (t.code != TokenCode::kEnd)
            out += " then " + describe(t);
        return out;
    }
};

TEST_F(XMLTest, PieceTable) {
    const TokenCase cases[] = {
        {"<a>text</a> + 1", "x(<a>text</a>) then +"},
        {"<a/>", "x(<a/>)"},
        {"<a><b c='1'/></a>;", "x(<a><b c='1'/></a>) then ;"},
        {"<a>b > c</a>", "!60"},
        {"<a b=\"1/>2\" c='>'/>", "x(<a b=\"1/>2\" c='>'/>)"},
        {"<a b=\"{x}\"/>", "x(<a b=\")15 { x } x(\"/>)"},
        {"<a b='{x}'/>", "x(<a b=')15 { x } x('/>)"},
        {"<a b={x}/>", "x(<a b=)14 { x } x(/>)"},
        {"<a {x}='1'/>", "x(<a )13 { x } x(='1'/>)"},
        {"<a>{x}</a>", "x(<a>)1 { x } x(</a>)"},
        {"</a>", "!60"},
        {"<a></a></b>", "x(<a></a>) then <"},
        {"<a>{c ? <b/> : <c>{d}</c>}</a>", "x(<a>)1 { c ? x(<b/>) : x(<c>)1 { d } x(</c>) } x(</a>)"},
        {"<![CDATA[a<b]]> x", "x(<![CDATA[a<b]]>) then x"},
        {"<!-- c --> <?p?>", "x(<!-- c -->) then <"},
        {"<a><!-- c --></a>", "x(<a><!-- c --></a>)"},
        {"<a><![CDATA[", "!61"},
        {"<a><b>", "!61"},
        {"<a b='x", "!61"},
        {"<a <b>", "!60"},
        {"<a></a/>", "!60"},
    };
    for (const TokenCase& c : cases)
        EXPECT_EQ(literal(c.source), c.tokens) << c.source;
}

TEST_F(XMLTest, PiecePositionIsItsFirstUnit) {
    errors.clear();
    jsScanner scanner(&options, 0, S("x =\n  <a>\n{y}</a>"), errors);
    ScanInfo t;
    ASSERT_TRUE(scanner.next(t, false));
    ASSERT_TRUE(scanner.next(t, false));
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_FALSE(scanner.readXMLPiece(t));
    EXPECT_EQ(t.line, 1);
    EXPECT_EQ(t.column, 2);
    EXPECT_EQ(t.length, 4);
    ASSERT_TRUE(scanner.next(t, false));
    ASSERT_TRUE(scanner.next(t, false));
    ASSERT_TRUE(scanner.next(t, false));
    EXPECT_TRUE(scanner.readXMLPiece(t));
    EXPECT_EQ(t.line, 2);
    EXPECT_EQ(t.column, 3);
    EXPECT_EQ(utf8(t.value.toString()), "</a>");
}

}  // namespace
}  // namespace LxScript
