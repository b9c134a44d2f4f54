#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/FileSpec.h"
#include "core/ThreadData.h"
#include "core/tests/FileTestSupport.h"

namespace LxCore {
namespace {

class FileSpecTest : public FileFolderTest {
protected:
    std::string nativePath(const FileSpec& spec) {
        String out;
        spec.getNativePath(out);
        return N(out);
    }
    std::string uri(const FileSpec& spec, bool tilde) {
        String out;
        spec.toURI(out, tilde);
        return N(out);
    }
    std::string fromURI(const std::string& text) { return nativePath(FileSpec(S(text), false)); }
    std::string relative(const FileSpec& spec, const std::string& base) {
        String out;
        spec.getRelativePath(out, FileSpec(S(base), true));
        return N(out);
    }
    std::string resolved(const std::string& base, const std::string& text) {
        FileSpec spec(S(base), true);
        EXPECT_TRUE(spec.resolveRelative(S(text)));
        return nativePath(spec);
    }
};

// ---------------------------------------------------------------------------
// Paths as they stand, URIs and back

TEST_F(FileSpecTest, ALiteralPathIsTakenAsItStandsAndComesBackFromItsURI) {
    const std::string names[] = {
        "plain.txt",  "a%41",  "50%",         "with space", "a#b",        "q?x=1",
        "back\\slash", "~tilde", "Gr\xC3\xBC\xC3\x9F" "e", "\xE6\x97\xA5\xE6\x9C\xAC",
        "\xF0\x9F\x98\x80", "semi;colon&amp", "'quoted'(x)", "%25%",
    };
    for (const std::string& name : names) {
        for (const std::string& folder : {work, home}) {
            const std::string full = folder + "/" + name;
            FileSpec spec(S(full), true);
            EXPECT_EQ(nativePath(spec), full);
            EXPECT_EQ(fromURI(uri(spec, false)), full) << uri(spec, false);
            EXPECT_EQ(fromURI(uri(spec, true)), full) << uri(spec, true);
            EXPECT_EQ(fromURI("file://" + uri(spec, false)), full);
        }
    }
}

TEST_F(FileSpecTest, URIsArePercentEncodedAsUTF8KeepingTheirMarks) {
    const std::pair<std::string, std::string> cases[] = {
        {"/a%41", "/a%2541"},
        {"/with space", "/with%20space"},
        {"/Gr\xC3\xBC\xC3\x9F" "e", "/Gr%C3%BC%C3%9Fe"},
        {"/keep-_.!~*'();?:@&=+$,#", "/keep-_.!~*'();?:@&=+$,#"},
        {"/x/\"<>\\^`{|}", "/x/%22%3C%3E%5C%5E%60%7B%7C%7D"},
        {"/", "/"},
    };
    for (const auto& [path, expected] : cases) {
        String out;
        pathToURI(out, S(path), false);
        EXPECT_EQ(N(out), expected) << path;
    }
    String out = S("x");
    pathToURI(out, String(), true);
    EXPECT_TRUE(out.isEmpty());
}

TEST_F(FileSpecTest, TextThatIsNotLiteralIsReadAsAURI) {
    const std::pair<std::string, std::string> cases[] = {
        {"file://" + work + "/a%20b", work + "/a b"},
        {work + "/a%41", work + "/aA"},
        {work + "/50%", work + "/50%"},           // not an escape: kept
        {work + "/%zz", work + "/%zz"},
        {work + "/sub/", work + "/sub"},
        {"file://rel", work + "/rel"},
        {"", ""},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(fromURI(text), expected) << text;
    // The literal form keeps even what looks like a scheme.
    EXPECT_EQ(nativePath(FileSpec(S("file://x"), true)), work + "/file:/x");
}

TEST_F(FileSpecTest, URIsBecomePathsWithTheirLastSlashRemoved) {
    const std::pair<std::string, std::string> cases[] = {
        {"/a/b/", "/a/b"}, {"/", "/"}, {"%2Fx", "/x"}, {"file:///tmp", "/tmp"}, {"", ""}, {"rel/", "rel"},
    };
    for (const auto& [text, expected] : cases) {
        String out;
        uriToPath(out, S(text));
        EXPECT_EQ(N(out), expected) << text;
    }
}

// ---------------------------------------------------------------------------
// The current folder and the home folder

TEST_F(FileSpecTest, RelativePathsResolveAgainstTheCoreFolderNotTheProcessFolder) {
    const std::string before = processFolder();
    EXPECT_EQ(nativePath(FileSpec(S("x/../y/./z/"), true)), work + "/y/z");
    EXPECT_EQ(nativePath(FileSpec(S("a%20b"), false)), work + "/a b");
    ASSERT_EQ(platformSetCurrentFolder(S(home)), 0);
    EXPECT_EQ(nativePath(FileSpec(S("n.txt"), true)), home + "/n.txt");
    EXPECT_EQ(nativePath(FileSpec(S(".."), true)), root + "/home");
    EXPECT_EQ(processFolder(), before);

    FileSpec current;
    ASSERT_EQ(FileSpec::getCurrentFolder(current), 0);
    EXPECT_EQ(nativePath(current), home);
    EXPECT_EQ(N(ThreadData::get()->currentDirectory.path), home);
}

TEST_F(FileSpecTest, TildeStandsForTheHomeFolder) {
    EXPECT_EQ(fromURI("~/x"), home + "/x");
    EXPECT_EQ(fromURI("~"), home);
    EXPECT_EQ(fromURI("~/"), home);
    EXPECT_EQ(fromURI("file://~/x"), home + "/x");
    EXPECT_EQ(fromURI("~x"), work + "/~x");  // a name, not someone's home
    FileSpec inHome(S(home + "/notes/a b.txt"), true);
    EXPECT_EQ(uri(inHome, true), "~/notes/a%20b.txt");
    EXPECT_EQ(uri(inHome, false), home + "/notes/a%20b.txt");
    EXPECT_EQ(uri(FileSpec(S(home), true), true), "~");
}

TEST_F(FileSpecTest, TheHomeFolderIsReplacedOnlyAtAComponentBoundary) {
    for (const std::string& sibling : {root + "/home/me2/f", root + "/home/me.old", root + "/home/m"}) {
        FileSpec spec(S(sibling), true);
        EXPECT_EQ(uri(spec, true), sibling);
        EXPECT_EQ(fromURI(uri(spec, true)), sibling);
    }
}

TEST_F(FileSpecTest, AHomeAtTheRootStillRoundTrips) {
    InitTerm::exit();
    setenv("HOME", "/", 1);
    InitTerm::init();
    FileSpec spec(S("/etc/x"), true);
    EXPECT_EQ(uri(spec, true), "~/etc/x");
    EXPECT_EQ(fromURI("~/etc/x"), "/etc/x");
    EXPECT_EQ(fromURI("~"), "/");
    EXPECT_EQ(uri(FileSpec(S("/"), true), true), "~");
}

// ---------------------------------------------------------------------------
// Comparing, copying, names

TEST_F(FileSpecTest, EqualityTellsCaseApartAndCopiesAreIndependent) {
    FileSpec upper(S(work + "/File"), true), lower(S(work + "/file"), true);
    EXPECT_FALSE(upper == lower);
    EXPECT_TRUE(upper == upper);
    FileSpec copy(upper);
    EXPECT_TRUE(copy == upper);
    copy.set(S("other"), true);
    EXPECT_EQ(nativePath(upper), work + "/File");
    FileSpec assigned;
    EXPECT_EQ(nativePath(assigned), "");
    assigned = lower;
    EXPECT_TRUE(assigned == lower);
    EXPECT_TRUE(FileSpec(S("a/../File"), true) == upper);
}

TEST_F(FileSpecTest, TheNameIsTheLastComponent) {
    const std::pair<std::string, std::string> cases[] = {
        {"/a/b.txt", "b.txt"}, {"/a/b/", "b"}, {"/", ""}, {"/a/x.lnk", "x.lnk"}, {"/a/.hidden", ".hidden"},
    };
    for (const auto& [path, expected] : cases) {
        String name;
        FileSpec(S(path), true).getName(name);
        EXPECT_EQ(N(name), expected) << path;
    }
}

// ---------------------------------------------------------------------------
// Relative paths

TEST_F(FileSpecTest, RelativeTextsResolveAgainstTheSpec) {
    const std::string base = work + "/a/b";
    const std::pair<std::string, std::string> cases[] = {
        {"../x", work + "/a/x"},
        {"./c", base + "/c"},
        {".//c", base + "/c"},
        {"..", work + "/a"},
        {"../../..", root},
        {"c/../d", base + "/d"},
        {"/abs/p", "/abs/p"},
        {"~/n", home + "/n"},
        {"~", home},
        {"~x", base + "/~x"},
        {".hidden", base + "/.hidden"},
        {"...", base + "/..."},
        {"a b/%41", base + "/a b/%41"},
        {"", base},
    };
    for (const auto& [text, expected] : cases)
        EXPECT_EQ(resolved(base, text), expected) << text;
}

TEST_F(FileSpecTest, ResolvingUpwardStopsAtTheRootAndWalksOutOfHome) {
    EXPECT_EQ(resolved("/", "../x"), "/x");
    EXPECT_EQ(resolved("/", "../../x"), "/x");
    EXPECT_EQ(resolved("/top", ".."), "/");
    EXPECT_EQ(resolved(home, "../x"), root + "/home/x");
    EXPECT_EQ(resolved(home + "/a", "../../x"), root + "/home/x");
}

TEST_F(FileSpecTest, RelativePathsBetweenTwoSpecs) {
    FileSpec spec(S(work + "/a/b/c"), true);
    EXPECT_EQ(relative(spec, work + "/a/d"), "../b/c");
    EXPECT_EQ(relative(spec, work + "/a"), "b/c");
    EXPECT_EQ(relative(spec, work + "/a/b/c"), ".");
    EXPECT_EQ(relative(spec, work + "/a/b/c/d/e"), "../..");
    EXPECT_EQ(relative(spec, "/elsewhere"), work + "/a/b/c");
    EXPECT_EQ(relative(FileSpec(S(work + "/A/b"), true), work + "/a"), "../A/b");  // case counts
    EXPECT_EQ(relative(FileSpec(S(work + "/sp ace"), true), work), "sp%20ace");
    EXPECT_EQ(relative(FileSpec(S("/"), true), "/x"), "/");
    EXPECT_EQ(relative(FileSpec(S("/"), true), "/"), ".");

    String out;
    FileSpec(S(work + "/in/here"), true).getRelativePath(out);  // against the current folder
    EXPECT_EQ(N(out), "in/here");
}

// ---------------------------------------------------------------------------
// What is on disk

TEST_F(FileSpecTest, AttributesTellWhatIsThere) {
    writeFile(work + "/f", "x");
    mkdir((work + "/d").c_str(), 0700);
    u32 created = 0, modified = 0;
    EXPECT_EQ(FileSpec(S("f"), true).getAttributes(&created, &modified), 4);
    EXPECT_NE(modified, 0u);
    EXPECT_EQ(FileSpec(S("d"), true).getAttributes(), 2);
    EXPECT_EQ(FileSpec(S("missing"), true).getAttributes(&created, &modified), 0);
    EXPECT_EQ(modified, 0u);
}

TEST_F(FileSpecTest, LinksResolveToTheirFinalTarget) {
    writeFile(work + "/target", "x");
    ASSERT_EQ(symlink("target", (work + "/one").c_str()), 0);
    ASSERT_EQ(symlink((work + "/one").c_str(), (work + "/two").c_str()), 0);
    ASSERT_EQ(symlink("loop-b", (work + "/loop-a").c_str()), 0);
    ASSERT_EQ(symlink("loop-a", (work + "/loop-b").c_str()), 0);

    FileSpec out;
    EXPECT_EQ(FileSpec(S("two"), true).resolveAlias(out), 0);
    EXPECT_EQ(nativePath(out), work + "/target");
    EXPECT_EQ(FileSpec(S("target"), true).resolveAlias(out), 0);
    EXPECT_EQ(nativePath(out), work + "/target");
    EXPECT_EQ(FileSpec(S("missing"), true).resolveAlias(out), 0);
    EXPECT_EQ(nativePath(out), work + "/missing");

    EXPECT_EQ(FileSpec(S("loop-a"), true).resolveAlias(out), 52);
    String path = S("left over");
    FileSpec(S("loop-a"), true).getResolvedPath(path);
    EXPECT_TRUE(path.isEmpty());
    FileSpec(S("two"), true).getResolvedPath(path);
    EXPECT_EQ(N(path), work + "/target");
}

TEST_F(FileSpecTest, SpecialFoldersAndTheModulePath) {
    FileSpec folder;
    i32 status;
    {
        SavedEnvironment tmpdir{"TMPDIR"};
        setenv("TMPDIR", root.c_str(), 1);
        status = FileSpec::getSpecialFolder(5, folder);
    }
    EXPECT_EQ(status, 0);
    EXPECT_EQ(nativePath(folder), root);
    EXPECT_EQ(FileSpec::getSpecialFolder(4, folder), -36);
    EXPECT_EQ(FileSpec::getSpecialFolder(12, folder), 32);
    EXPECT_EQ(FileSpec::getSpecialFolder(7, folder), 0);
    EXPECT_NE(FileSpec::getModulePath(), nullptr);
    EXPECT_EQ(FileSpec::getModulePath()[0], '/');
}

}  // namespace
}  // namespace LxCore
