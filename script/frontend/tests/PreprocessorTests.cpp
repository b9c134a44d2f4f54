#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Error.h"
#include "core/FileSpec.h"
#include "core/InitTerm.h"
#include "core/String.h"
#include "core/platform/FileSystem.h"
#include "core/tests/TestSupport.h"
#include "script/frontend/Preprocessor.h"

using namespace LxCore;
using LxScript::Preprocessor;

namespace {

// Each test gets its own folder of fixture files and starts the core library;
// the core's current folder is the test's "cwd" folder, the process's
// working folder is never changed.
class PreprocessorTest : public ::testing::Test {
protected:
    void SetUp() override {
        unsetenv("JSINCLUDE");
        root = makeTemporaryFolder("tvpre");
        ASSERT_FALSE(root.empty());
        folder("cwd");
        folder("home");
        setenv("HOME", path("home").c_str(), 1);
        InitTerm::init();
        state.emplace();
        ASSERT_EQ(platformSetCurrentFolder(S(path("cwd"))), 0);
    }

    void TearDown() override {
        state.reset();  // core objects go before the library ends
        InitTerm::exit();
        removeTree(root);
    }

    std::string path(const std::string& name) const { return root + "/" + name; }
    void folder(const std::string& name) const { mkdir(path(name).c_str(), 0700); }
    void write(const std::string& name, const std::string& bytes) const { writeFile(path(name), bytes); }

    // Runs the preprocessor over a text in the file of that name.
    i32 run(Preprocessor& preprocessor, const std::string& text, const std::string& fileName) {
        output.clear();
        errors().clear();
        const i32 rc = preprocessor.process(S(text), S(fileName), result(), &errors());
        output = N(result());
        return rc;
    }
    i32 run(const std::string& text, const std::string& fileName) { return run(pre(), text, fileName); }

    std::optional<std::string> directive(const char* name) {
        const String* value = pre().getDirective(String(name));
        return value ? std::optional<std::string>(N(*value)) : std::nullopt;
    }

    std::string message() const {
        String text;
        errors().getMessage(text);
        return N(text);
    }

    struct State {
        Preprocessor pre;
        String result;
        Error errors;
    };

    Preprocessor& pre() { return state->pre; }
    String& result() { return state->result; }
    Error& errors() { return state->errors; }
    const Error& errors() const { return state->errors; }

    // The variables the preprocessor and the path layer read, put back after each test.
    SavedEnvironment environment{"JSINCLUDE", "HOME"};
    std::string root;
    std::optional<State> state;
    std::string output;
};

std::string begins(const std::string& p) { return "// +++++ #include " + p + " +++++\n"; }
std::string ends(const std::string& p) { return "// ----- #include " + p + " -----\n"; }

// ---------------------------------------------------------------------------
// Directive values

TEST_F(PreprocessorTest, DirectiveValuesAreCollected) {
    ASSERT_EQ(run("#target app\n#target other\n#script 'My Script';\n#strict\nvar x;\n#targetengine \"e\\x41\" ;\n",
                  ""),
              0);
    EXPECT_EQ(directive("target"), "other");
    EXPECT_EQ(directive("script"), "My Script");
    EXPECT_EQ(directive("strict"), "");
    EXPECT_EQ(directive("targetengine"), "eA");
    EXPECT_EQ(directive("debug"), std::nullopt);
    EXPECT_TRUE(errors().isEmpty());
}

TEST_F(PreprocessorTest, DirectiveLinesBecomeComments) {
    ASSERT_EQ(run("  #target app\nx = 1; # not at line start\n", ""), 0);
    EXPECT_EQ(output, "  //@target app\nx = 1; # not at line start\n");

    // "//@" lines are directives already; the text comes back as it was.
    const String text = S("//@target a\n//  @script s\n//@@debug 1\n// note\n");
    ASSERT_EQ(pre().process(text, String(), result(), nullptr), 0);
    EXPECT_TRUE(result().sharesBufferWith(text));
    EXPECT_EQ(directive("target"), "a");
    EXPECT_EQ(directive("script"), "s");
    EXPECT_EQ(directive("debug"), std::nullopt);
}

TEST_F(PreprocessorTest, BlockCommentsHideDirectives) {
    ASSERT_EQ(run("/*\n#target hidden\n*/\n/* one line */ #script hidden\n  /* x */\n#strict\n", ""), 0);
    EXPECT_EQ(directive("target"), std::nullopt);
    EXPECT_EQ(directive("script"), std::nullopt);
    EXPECT_EQ(directive("strict"), "");
    ASSERT_EQ(run("/* never closed\n#target hidden\n", ""), 0);
    EXPECT_EQ(directive("target"), std::nullopt);
}

TEST_F(PreprocessorTest, EachRunStartsWithAnEmptyTable) {
    ASSERT_EQ(run("#target app\n", ""), 0);
    ASSERT_EQ(run("#script s\n", ""), 0);
    EXPECT_EQ(directive("target"), std::nullopt);
    EXPECT_EQ(directive("script"), "s");
}

// A directive without an argument ends at its own line end, whatever the
// line ends are; the next line is a directive of its own.
TEST_F(PreprocessorTest, DirectiveWithoutArgumentKeepsToItsLine) {
    // Included text always has LF line ends, whatever the file holds.
    write("b.tvs", "#strict\r\n#include c.tvs\r\n");
    write("c.tvs", "#target from-c\n");
    const std::string main = path("main.tvs");
    for (const char* eol : {"\n", "\r\n", "\r", "\xE2\x80\xA8"}) {
        SCOPED_TRACE(testing::PrintToString(std::string(eol)));
        const std::string text = std::string("#strict") + eol + "#include \"b.tvs\"" + eol + "#script";
        ASSERT_EQ(run(text, main), 0) << message();
        EXPECT_EQ(directive("strict"), "");
        EXPECT_EQ(directive("target"), "from-c");
        EXPECT_EQ(directive("script"), "");
        EXPECT_NE(output.find(begins(path("b.tvs"))), std::string::npos);
        EXPECT_NE(output.find(begins(path("c.tvs"))), std::string::npos);
    }
}

TEST_F(PreprocessorTest, ArgumentMayFollowTheNameDirectly) {
    write("b.tvs", "#target b\n");
    ASSERT_EQ(run("#include\"b.tvs\"\n#debug2\n", path("main.tvs")), 0) << message();
    EXPECT_EQ(directive("target"), "b");
    EXPECT_EQ(directive("debug"), "2");
}

TEST_F(PreprocessorTest, MalformedLiteralIsASyntaxError) {
    const std::string cases[] = {"#target \"abc\n", "#include 'x.tvs\n", "#script \"a\\x4\"\n", "//@script 'a"};
    for (const std::string& text : cases) {
        SCOPED_TRACE(text);
        result() = S("stale");
        EXPECT_EQ(run("var a;\n" + text, path("main.tvs")), 8);
        EXPECT_EQ(output, "");
        EXPECT_EQ(message(), "Syntax error");
        ASSERT_NE(errors().getRecord(), nullptr);
        EXPECT_EQ(errors().getRecord()->line, 1);
        EXPECT_EQ(N(errors().getRecord()->fileName), path("main.tvs"));
    }
}

// ---------------------------------------------------------------------------
// Includes

TEST_F(PreprocessorTest, IncludeIsSplicedBetweenMarkerLines) {
    write("b.tvs", "x = 1;");
    ASSERT_EQ(run("a();\n#include \"b.tvs\"\nc();\n", path("main.tvs")), 0) << message();
    const std::string b = path("b.tvs");
    EXPECT_EQ(output, "a();\n//@include \"b.tvs\"\n" + begins(b) + "x = 1;\n" + ends(b) + "c();\n");

    // On the last line, without a line end, the markers still get lines of their own.
    ASSERT_EQ(run("//@include b.tvs", path("main.tvs")), 0) << message();
    EXPECT_EQ(output, "//@include b.tvs\n" + begins(b) + "x = 1;\n" + ends(b));
}

TEST_F(PreprocessorTest, IncludesNestRelativeToTheIncludingFile) {
    folder("lib");
    folder("lib/deep");
    write("lib/a.tvs", "#target a\n#include 'deep/b.tvs'\n");
    write("lib/deep/b.tvs", "#script b\n#include '../c.tvs'\n");
    write("lib/c.tvs", "c();\n");
    ASSERT_EQ(run("#include 'lib/a.tvs'\n", path("main.tvs")), 0) << message();
    EXPECT_EQ(directive("target"), "a");
    EXPECT_EQ(directive("script"), "b");
    const std::string a = path("lib/a.tvs"), b = path("lib/deep/b.tvs"), c = path("lib/c.tvs");
    EXPECT_EQ(output, "//@include 'lib/a.tvs'\n" + begins(a) + "//@target a\n//@include 'deep/b.tvs'\n" +
                          begins(b) + "//@script b\n//@include '../c.tvs'\n" + begins(c) + "c();\n" + ends(c) +
                          ends(b) + ends(a));
}

TEST_F(PreprocessorTest, EmptyIncludeInsertsNothing) {
    write("empty.tvs", "");
    ASSERT_EQ(run("#include empty.tvs\nx;\n", path("main.tvs")), 0) << message();
    EXPECT_EQ(output, "//@include empty.tvs\nx;\n");
}

TEST_F(PreprocessorTest, IncludeNamesArePercentDecoded) {
    write("my lib.tvs", "#target spaced\n");
    ASSERT_EQ(run("#include my%20lib.tvs\n", path("main.tvs")), 0) << message();
    EXPECT_EQ(directive("target"), "spaced");
    EXPECT_NE(output.find(begins(path("my%20lib.tvs"))), std::string::npos);
}

TEST_F(PreprocessorTest, IncludeLoopsAreStackOverruns) {
    write("a.tvs", "#include b.tvs\n");
    write("b.tvs", "#include a.tvs\n");
    write("self.tvs", "#include self.tvs\n");
    struct Case {
        std::string text, fileName, failingFile, includedAgain;
    } cases[] = {
        {"#include a.tvs\n", path("main.tvs"), path("b.tvs"), path("a.tvs")},
        {"#include b.tvs\n", path("a.tvs"), path("b.tvs"), path("a.tvs")},
        {"#include self.tvs\n", path("self.tvs"), path("self.tvs"), path("self.tvs")},
        // The same file named through a URI is the same file.
        {"#include self.tvs\n", "file://" + path("self.tvs"), "file://" + path("self.tvs"), path("self.tvs")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text + " in " + c.fileName);
        EXPECT_EQ(run(c.text, c.fileName), 27);
        EXPECT_EQ(output, "");
        EXPECT_EQ(message(), "Stack overrun: " + c.includedAgain);
        EXPECT_EQ(N(errors().getRecord()->fileName), c.failingFile);
    }
}

TEST_F(PreprocessorTest, LoopThroughALinkEnds) {
    // Every level names the file through one more "sub/", so no path repeats;
    // the system's limit on links or the nesting limit ends it.
    ASSERT_EQ(symlink(".", path("sub").c_str()), 0);
    write("a.tvs", "#include sub/a.tvs\n");
    const i32 rc = run("#include a.tvs\n", path("main.tvs"));
    EXPECT_TRUE(rc == 27 || rc == 48) << rc;
    EXPECT_EQ(output, "");
}

TEST_F(PreprocessorTest, DeepNestingIsAStackOverrun) {
    auto chain = [&](int levels) {
        std::string dir = "chain" + std::to_string(levels);
        folder(dir);
        for (int i = 0; i < levels; i++) {
            write(dir + "/a.tvs", "#include d/a.tvs\n");
            dir += "/d";
            folder(dir);
        }
        write(dir + "/a.tvs", "#target bottom\n");
        return "#include chain" + std::to_string(levels) + "/a.tvs\n";
    };
    ASSERT_EQ(run(chain(20), path("main.tvs")), 0) << message();
    EXPECT_EQ(directive("target"), "bottom");
    EXPECT_EQ(run(chain(150), path("main.tvs")), 27);
    EXPECT_EQ(output, "");
}

TEST_F(PreprocessorTest, RunawayIncludeFanOutIsRefused) {
    // Twenty levels that each include the next twice: a million includes.
    for (int i = 0; i < 20; i++)
        write("f" + std::to_string(i) + ".tvs",
              "#include f" + std::to_string(i + 1) + ".tvs\n#include f" + std::to_string(i + 1) + ".tvs\n");
    write("f20.tvs", "x;\n");
    EXPECT_EQ(run("#include f0.tvs\n", path("main.tvs")), 41);
    EXPECT_EQ(output, "");
}

TEST_F(PreprocessorTest, MissingIncludeNamesTheDirective) {
    write("b.tvs", "\n\n  #include 'missing.tvs'\n");
    EXPECT_EQ(run("x;\n#include b.tvs\n", path("main.tvs")), 48);
    EXPECT_EQ(output, "");
    EXPECT_EQ(message(), "File or folder does not exist: missing.tvs");
    const ErrorRecord* record = errors().getRecord();
    ASSERT_NE(record, nullptr);
    EXPECT_EQ(N(record->fileName), path("b.tvs"));
    EXPECT_EQ(record->line, 2);
    EXPECT_EQ(record->further, 2);
    EXPECT_EQ(record->length, 22);

    // Without an error list the number alone comes back.
    EXPECT_EQ(pre().process(S("#include nowhere.tvs"), String(), result(), nullptr), 48);
}

TEST_F(PreprocessorTest, UnreadableIncludesReportTheFileError) {
    folder("dir.tvs");
    EXPECT_EQ(run("#include dir.tvs\n", path("main.tvs")), 52);
    // An empty name names no file, not the including folder.
    EXPECT_EQ(run("#include ''\n", path("main.tvs")), 48);
    // Devices and pipes are not read: one never ends, the other waits for
    // a writer (or the host's own input); a link to one counts as it does.
    ASSERT_EQ(mkfifo(path("pipe.tvs").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", path("zero.tvs").c_str()), 0);
    for (const char* name : {"/dev/zero", "/dev/stdin", "pipe.tvs", "zero.tvs"})
        EXPECT_EQ(run(std::string("#include \"") + name + "\"\n", path("main.tvs")), 52) << name;
}

TEST_F(PreprocessorTest, OverlongIncludeIsRefused) {
    write("big.tvs", std::string(size_t(Preprocessor::kMaxIncludeLength), 'x'));
    ASSERT_EQ(run("#include big.tvs\n", path("main.tvs")), 0) << message();
    write("big.tvs", std::string(size_t(Preprocessor::kMaxIncludeLength) + 1, 'x'));
    EXPECT_EQ(run("#include big.tvs\n", path("main.tvs")), 41);
    EXPECT_EQ(output, "");
}

TEST_F(PreprocessorTest, ByteOrderMarksAreNotText) {
    write("utf8.tvs", "\xEF\xBB\xBF#target utf8\n");
    write("utf16.tvs", std::string("\xFF\xFE#\0s\0c\0r\0i\0p\0t\0 \0\xFC\0\r\0\n\0", 24));
    ASSERT_EQ(run("\xEF\xBB\xBF#include utf8.tvs\n#include utf16.tvs\n", path("main.tvs")), 0) << message();
    EXPECT_EQ(directive("target"), "utf8");
    EXPECT_EQ(directive("script"), "\xC3\xBC");
    EXPECT_NE(output.find(begins(path("utf8.tvs")) + "//@target utf8\n"), std::string::npos);
    EXPECT_NE(output.find(begins(path("utf16.tvs")) + "//@script \xC3\xBC\n"), std::string::npos);
}

TEST_F(PreprocessorTest, IncludedLineEndsBecomeLineFeeds) {
    write("crlf.tvs", "a;\r\nb;\rc;");
    ASSERT_EQ(run("#include crlf.tvs\n", path("main.tvs")), 0) << message();
    EXPECT_NE(output.find(begins(path("crlf.tvs")) + "a;\nb;\nc;\n" + ends(path("crlf.tvs"))), std::string::npos);
}

// ---------------------------------------------------------------------------
// The include path

TEST_F(PreprocessorTest, SearchOrderIsBesideThenPathFromFolderThenFromCurrentFolder) {
    folder("f");
    folder("f/inc");
    folder("cwd/inc");
    write("f/inc/lib.tvs", "#target f-inc\n");
    write("cwd/inc/lib.tvs", "#target cwd-inc\n");
    pre().setIncludes(S("inc"));
    const std::string main = path("f/main.tvs");

    ASSERT_EQ(run("#include lib.tvs\n", main), 0) << message();
    EXPECT_EQ(directive("target"), "f-inc");
    write("f/lib.tvs", "#target beside\n");
    ASSERT_EQ(run("#include lib.tvs\n", main), 0) << message();
    EXPECT_EQ(directive("target"), "beside");
    remove(path("f/lib.tvs").c_str());
    remove(path("f/inc/lib.tvs").c_str());
    ASSERT_EQ(run("#include lib.tvs\n", main), 0) << message();
    EXPECT_EQ(directive("target"), "cwd-inc");
    // A script without a file name looks from the current folder only.
    ASSERT_EQ(run("#include lib.tvs\n", ""), 0) << message();
    EXPECT_EQ(directive("target"), "cwd-inc");
}

TEST_F(PreprocessorTest, IncludePathSplitsAtSemicolonsAndColons) {
    folder("one");
    folder("two");
    folder("three drei");
    write("two/b.tvs", "#target two\n");
    write("three drei/c.tvs", "#script three\n");
    pre().setIncludes(S(" " + path("one") + " ;" + path("two") + ":" + root + "/three%20drei;;"));
    ASSERT_EQ(run("#include b.tvs\n#include c.tvs\n", ""), 0) << message();
    EXPECT_EQ(directive("target"), "two");
    EXPECT_EQ(directive("script"), "three");
}

TEST_F(PreprocessorTest, IncludePathDirectiveLastsOneRun) {
    folder("extra");
    write("extra/e.tvs", "#target extra\n");
    const std::string main = path("main.tvs");
    ASSERT_EQ(run("#includepath '" + path("extra") + "';\n#include e.tvs\n", main), 0) << message();
    EXPECT_EQ(directive("target"), "extra");
    EXPECT_EQ(run("#include e.tvs\n", main), 48);
}

TEST_F(PreprocessorTest, IncludePathStartsFromTheEnvironment) {
    folder("gr\xC3\xBC\xC3\x9F");
    write("gr\xC3\xBC\xC3\x9F/env.tvs", "#target env\n");
    setenv("JSINCLUDE", path("gr\xC3\xBC\xC3\x9F").c_str(), 1);
    Preprocessor fromEnvironment;
    ASSERT_EQ(run(fromEnvironment, "#include env.tvs\n", ""), 0) << message();
    const String* target = fromEnvironment.getDirective(String("target"));
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(N(*target), "env");
}

TEST_F(PreprocessorTest, AbsoluteAndHomeNames) {
    write("home/h.tvs", "#script home\n");
    write("abs.tvs", "#target abs\n");
    for (const std::string& fileName : {std::string(""), path("main.tvs")}) {
        SCOPED_TRACE(fileName);
        ASSERT_EQ(run("#include '" + path("abs.tvs") + "'\n#include ~/h.tvs\n", fileName), 0) << message();
        EXPECT_EQ(directive("target"), "abs");
        EXPECT_EQ(directive("script"), "home");
    }
    // A script in the home folder includes itself: caught at once.
    write("home/me.tvs", "x;\n");
    EXPECT_EQ(run("#include me.tvs\n", path("home/me.tvs")), 27);
    EXPECT_EQ(N(errors().getRecord()->fileName), path("home/me.tvs"));
}

TEST_F(PreprocessorTest, ResolverLooksBesideTheFolderFirst) {
    folder("f");
    write("f/x.tvs", "");
    folder("f/sub");
    FileSpec found;
    EXPECT_TRUE(Preprocessor::resolveIncludeFile(S(path("f")), S("x.tvs"), String(), found));
    String native;
    found.getNativePath(native);
    EXPECT_EQ(N(native), path("f/x.tvs"));
    // Beside the file anything that exists counts; along the path only files.
    EXPECT_TRUE(Preprocessor::resolveIncludeFile(S(path("f")), S("sub"), String(), found));
    EXPECT_FALSE(Preprocessor::resolveIncludeFile(String(), S("sub"), S(path("f")), found));
    EXPECT_FALSE(Preprocessor::resolveIncludeFile(S(path("f")), S("/nowhere/x.tvs"), S(path("f")), found));
    EXPECT_FALSE(Preprocessor::resolveIncludeFile(S(path("f")), String(), S(path("f")), found));
}

TEST_F(PreprocessorTest, FolderOfAFile) {
    folder("f");
    EXPECT_EQ(N(Preprocessor::getFolderOf(S(path("f/a.tvs")))), path("f"));
    EXPECT_EQ(N(Preprocessor::getFolderOf(S("a.tvs"))), path("cwd"));
    EXPECT_EQ(N(Preprocessor::getFolderOf(S(path("missing/a.tvs")))), "");
    EXPECT_EQ(N(Preprocessor::getFolderOf(String())), "");
}

TEST_F(PreprocessorTest, LinkedIncludeFileIsFoundAlongThePath) {
    folder("inc");
    write("real.tvs", "#target linked\n");
    ASSERT_EQ(symlink(path("real.tvs").c_str(), path("inc/link.tvs").c_str()), 0);
    pre().setIncludes(S(path("inc")));
    ASSERT_EQ(run("#include link.tvs\n", ""), 0) << message();
    EXPECT_EQ(directive("target"), "linked");
}

}  // namespace
