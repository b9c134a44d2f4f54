#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/InitTerm.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/platform/Platform.h"
#include "core/tests/TestSupport.h"

using namespace LxCore;

namespace {

std::string executablePath() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

bool eventually(const std::function<bool()>& done) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Each test runs with the library and the layer's modules started, in its
// own folder with its own HOME and configuration folder.
class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = makeTemporaryFolder("tvplatform");
        ASSERT_FALSE(root.empty());
        home = root + "/home";
        config = root + "/config";
        mkdir(home.c_str(), 0700);
        mkdir(config.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        InitTerm::init();
    }

    void TearDown() override {
        InitTerm::exit();
        removeTree(root);
    }

    // Starts the layer's globals again, as a new session of the library would.
    void restartLayer() {
        initPlatformFileSystem(false);
        initPlatformFileSystem(true);
        initCurrentFolder(true);
    }

    std::string path(const std::string& name) const { return root + "/" + name; }
    u32 attributes(const std::string& p) const { return platformGetAttributes(S(p)); }

    // The variables the layer reads, put back after each test.
    SavedEnvironment environment{"HOME",   "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "TMPDIR",
                                 "LC_ALL", "LC_MESSAGES",     "LANG",            "PATH"};
    std::string root, home, config;
};

// ---------------------------------------------------------------------------
// Text and errors across the boundary

class PlatformText : public ::testing::Test {
protected:
    CoreStarted core;
};

TEST_F(PlatformText, UTF8RoundTrips) {
    const std::string samples[] = {"", "plain", "Gr\xC3\xBC\xC3\x9F" "e", "\xE6\x97\xA5\xE6\x9C\xAC",
                                   "\xF0\x9F\x98\x80 smile"};
    for (const std::string& bytes : samples) {
        String text = fromNative(bytes.data(), bytes.size());
        std::string back;
        EXPECT_TRUE(toNative(text, back)) << bytes;
        EXPECT_EQ(back, bytes);
    }
    EXPECT_EQ(fromNative("\xF0\x9F\x98\x80").length(), 2);  // a surrogate pair
    EXPECT_TRUE(fromNative(nullptr).isEmpty());
}

TEST_F(PlatformText, EachBadByteBecomesOneReplacementAndTheRestStays) {
    struct Case {
        std::string bytes;
        std::u16string units;
    } cases[] = {
        {"a\xFF" "b", u"a\uFFFDb"},
        {"\xC3" "A", u"\uFFFDA"},                 // a lead without its continuation
        {"\x80\x80x", u"\uFFFD\uFFFDx"},          // stray continuations
        {"\xC0\xAF", u"\uFFFD\uFFFD"},            // overlong
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // past U+10FFFF
        {"ok\xE6\x97", u"ok\uFFFD\uFFFD"},        // cut off at the end
        {"\xE6\x97\xA5\xFF", u"\u65E5\uFFFD"},
    };
    for (const Case& c : cases) {
        String text = fromNative(c.bytes.data(), c.bytes.size());
        EXPECT_EQ(std::u16string(text.chars(), size_t(text.length())), c.units) << c.bytes;
    }
}

TEST_F(PlatformText, TextsNoSystemStringCanCarryAreRefused) {
    std::string out = "untouched";
    const unit withZero[] = {'a', 0, 'b'};
    EXPECT_FALSE(toNative(String(withZero, 3), out));
    const unit loneHigh[] = {'a', 0xD800};
    EXPECT_FALSE(toNative(String(loneHigh, 2), out));
    const unit loneLow[] = {0xDC00, 'a'};
    EXPECT_FALSE(toNative(String(loneLow, 2), out));
}

TEST_F(PlatformText, ErrnoValuesMapToCoreErrorNumbers) {
    const std::pair<int, i32> cases[] = {
        {ENOENT, 48}, {ENOTDIR, 48}, {EEXIST, 49}, {EACCES, 53}, {EPERM, 53},
        {EROFS, 53},  {EIO, 52},     {ENOSPC, 52}, {EISDIR, 52}, {0, 52},
    };
    for (const auto& [err, expected] : cases)
        EXPECT_EQ(errorFromErrno(err), expected) << err;
}

// ---------------------------------------------------------------------------
// Paths and the current folder

TEST_F(PlatformTest, FullPathsAreMadeLexically) {
    String current;
    ASSERT_EQ(platformSetCurrentFolder(S(root)), 0);
    const std::pair<std::string, std::string> cases[] = {
        {"/", "/"},
        {"/a/./b//c/", "/a/b/c"},
        {"/a/b/..", "/a"},
        {"/..", "/"},
        {"/a/../../..", "/"},
        {"//a", "/a"},
        {"/a/.b/..c", "/a/.b/..c"},
        {"x", root + "/x"},
        {"./x/../y/", root + "/y"},
        {"..", root.substr(0, root.rfind('/')).empty() ? "/" : root.substr(0, root.rfind('/'))},
        {"", ""},
    };
    for (const auto& [in, expected] : cases)
        EXPECT_EQ(N(platformGetFullPath(S(in))), expected) << in;
    EXPECT_EQ(getPathSeparator(), unit('/'));
}

TEST_F(PlatformTest, TheCurrentFolderMovesWithoutTheProcessFolder) {
    const std::string before = processFolder();
    String current;
    ASSERT_EQ(platformGetCurrentFolder(current), 0);
    EXPECT_EQ(N(current), before);

    mkdir(path("sub").c_str(), 0700);
    writeFile(path("sub/inside.txt"), "x");
    ASSERT_EQ(platformSetCurrentFolder(S(root)), 0);
    ASSERT_EQ(platformSetCurrentFolder(S("sub/")), 0);  // relative to the one before
    ASSERT_EQ(platformGetCurrentFolder(current), 0);
    EXPECT_EQ(N(current), path("sub"));
    EXPECT_EQ(processFolder(), before);

    // Relative paths reach the system against the core's folder.
    EXPECT_EQ(attributes("inside.txt"), kAttrFile);
    FILE* stream = nullptr;
    ASSERT_EQ(platformOpenStream(S("inside.txt"), "rb", stream), 0);
    std::fclose(stream);
}

TEST_F(PlatformTest, OnlyAnExistingFolderCanBeMadeCurrent) {
    writeFile(path("file"), "x");
    const std::pair<std::string, i32> cases[] = {
        {path("missing"), 48}, {path("file"), 48}, {path("file/below"), 48}, {"", 48},
    };
    for (const auto& [folder, expected] : cases)
        EXPECT_EQ(platformSetCurrentFolder(S(folder)), expected) << folder;
    const unit withZero[] = {'/', 't', 0, 'x'};
    EXPECT_EQ(platformSetCurrentFolder(String(withZero, 4)), 48);
    String current;
    ASSERT_EQ(platformGetCurrentFolder(current), 0);
    EXPECT_EQ(N(current), processFolder());
}

TEST_F(PlatformTest, AFolderThatMayNotBeEnteredIsRefused) {
    if (geteuid() == 0)
        GTEST_SKIP() << "the superuser enters every folder";
    mkdir(path("closed").c_str(), 0600);
    EXPECT_EQ(platformSetCurrentFolder(S(path("closed"))), 53);
}

TEST_F(PlatformTest, TheCurrentFolderIsReadOnFirstNeedWithoutTheModule) {
    ASSERT_EQ(platformSetCurrentFolder(S(root)), 0);
    initCurrentFolder(false);  // forgets the folder set, so it is read again
    String current;
    EXPECT_EQ(platformGetCurrentFolder(current), 0);
    EXPECT_EQ(N(current), processFolder());
    EXPECT_EQ(readCurrentDirectory(current), 0);
    EXPECT_EQ(N(current), processFolder());
}

TEST_F(PlatformTest, TheCurrentFolderLivesInTheThreadRecord) {
    ASSERT_EQ(platformSetCurrentFolder(S(root)), 0);
    const CurrentDirectory& record = ThreadData::get()->currentDirectory;
    EXPECT_TRUE(record.known);
    EXPECT_EQ(N(record.path), root);
    initCurrentFolder(false);
    EXPECT_FALSE(record.known);
    EXPECT_TRUE(record.path.isEmpty());
}

TEST_F(PlatformTest, SameFileLooksThroughLinksAndNames) {
    writeFile(path("file"), "x");
    writeFile(path("other"), "x");
    symlink("file", path("soft").c_str());
    link(path("file").c_str(), path("hard").c_str());
    EXPECT_TRUE(platformSameFile(S(path("file")), S(path("soft"))));
    EXPECT_TRUE(platformSameFile(S(path("hard")), S(path("./file"))));
    EXPECT_FALSE(platformSameFile(S(path("file")), S(path("other"))));
    EXPECT_FALSE(platformSameFile(S(path("missing")), S(path("missing"))));
}

TEST_F(PlatformTest, PathsCompareWithCase) {
    EXPECT_TRUE(platformSamePath(S("/a/File"), S("/a/File")));
    EXPECT_FALSE(platformSamePath(S("/a/File"), S("/a/file")));
}

// ---------------------------------------------------------------------------
// Attributes

TEST_F(PlatformTest, AttributesTellWhatIsThere) {
    writeFile(path("file.txt"), "x");
    writeFile(path(".hidden"), "x");
    writeFile(path("locked"), "x");
    chmod(path("locked").c_str(), 0444);
    writeFile(path(".hidden-locked"), "x");
    chmod(path(".hidden-locked").c_str(), 0444);
    mkdir(path("folder").c_str(), 0700);
    mkdir(path("shut").c_str(), 0555);
    mkdir(path("x.lnk").c_str(), 0700);
    symlink(path("file.txt").c_str(), path("to-file").c_str());
    symlink("folder", path("to-folder").c_str());
    symlink(path("nowhere").c_str(), path("dangling").c_str());
    symlink("file.txt", path(".hidden-link").c_str());

    const std::pair<std::string, u32> cases[] = {
        {"file.txt", 4},        {".hidden", 20},       {"locked", 36},
        {".hidden-locked", 52}, {"folder", 2},         {"shut", 34},
        {"x.lnk", 2},           {"to-file", 8},        {"to-folder", 10},
        {"dangling", 8},        {".hidden-link", 24},  {"missing", 0},
        {"file.txt/below", 0},  {"folder/./..", 2},    {"", 0},
    };
    for (const auto& [name, bits] : cases)
        EXPECT_EQ(attributes(name.empty() ? "" : path(name)), bits) << name;
    EXPECT_EQ(attributes("/") & (kAttrFolder | kAttrFile), kAttrFolder);
    const unit withZero[] = {'/', 't', 'm', 'p', 0};
    EXPECT_EQ(platformGetAttributes(String(withZero, 5)), 0u);
}

TEST_F(PlatformTest, AttributeTimesAreSecondsSince1970) {
    writeFile(path("dated"), "x");
    const struct timespec times[2] = {{1000000000, 0}, {1234567890, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path("dated").c_str(), times, 0), 0);
    u32 created = 0, modified = 0;
    EXPECT_EQ(platformGetAttributes(S(path("dated")), &created, &modified), kAttrFile);
    EXPECT_EQ(modified, 1234567890u);
    EXPECT_NE(created, 0u);

    const struct timespec before1970[2] = {{-5, 0}, {-5, 0}};
    if (utimensat(AT_FDCWD, path("dated").c_str(), before1970, 0) == 0) {
        platformGetAttributes(S(path("dated")), &created, &modified);
        EXPECT_EQ(modified, 0u);
    }

    created = modified = 7;
    EXPECT_EQ(platformGetAttributes(S(path("missing")), &created, &modified), 0u);
    EXPECT_EQ(created, 0u);
    EXPECT_EQ(modified, 0u);
}

TEST_F(PlatformTest, NamesOutsideASCIIReachTheFileSystemAsUTF8) {
    const std::string name = "Gr\xC3\xBC\xC3\x9F" "e-\xE6\x97\xA5\xE6\x9C\xAC.txt";
    FILE* stream = nullptr;
    ASSERT_EQ(platformOpenStream(S(path(name)), "wb", stream), 0);
    std::fclose(stream);
    EXPECT_TRUE(exists(path(name)));
    EXPECT_EQ(attributes(path(name)), kAttrFile);
}

// ---------------------------------------------------------------------------
// Streams, removal, length

TEST_F(PlatformTest, StreamsOpenWithTheCoreErrorNumbers) {
    mkdir(path("folder").c_str(), 0700);
    writeFile(path("file"), "x");
    struct Case {
        std::string name;
        const char* mode;
        i32 status;
    } cases[] = {
        {"missing", "rb", 48},      {"none/new", "wb", 48}, {"file/new", "wb", 48}, {"folder", "rb", 52},
        {"folder", "a+b", 52},      {"file", "xb", 52},     {"file", "rb", 0},      {"new", "w+b", 0},
        {"appended", "a+b", 0},
    };
    for (const Case& c : cases) {
        FILE* stream = reinterpret_cast<FILE*>(1);
        EXPECT_EQ(platformOpenStream(S(path(c.name)), c.mode, stream), c.status) << c.name << " " << c.mode;
        EXPECT_EQ(stream == nullptr, c.status != 0);
        if (stream)
            std::fclose(stream);
    }
}

TEST_F(PlatformTest, AStreamWritesReadsAndIsNotInherited) {
    FILE* stream = nullptr;
    ASSERT_EQ(platformOpenStream(S(path("data")), "w+b", stream), 0);
    EXPECT_NE(fcntl(fileno(stream), F_GETFD) & FD_CLOEXEC, 0);
    EXPECT_EQ(fcntl(fileno(stream), F_GETFL) & O_NONBLOCK, 0);
    std::fputs("hello", stream);
    std::fclose(stream);
    ASSERT_EQ(platformOpenStream(S(path("data")), "ab", stream), 0);
    std::fputs(" world", stream);
    std::fclose(stream);
    EXPECT_EQ(readFile(path("data")), "hello world");
    ASSERT_EQ(platformOpenStream(S(path("data")), "wb", stream), 0);  // truncates
    std::fclose(stream);
    EXPECT_EQ(readFile(path("data")), "");
}

TEST_F(PlatformTest, APipeNeverHoldsTheOpener) {
    ASSERT_EQ(mkfifo(path("pipe").c_str(), 0600), 0);
    FILE* stream = nullptr;
    EXPECT_EQ(platformOpenStream(S(path("pipe")), "wb", stream), 52);  // nobody reads
    ASSERT_EQ(platformOpenStream(S(path("pipe")), "rb", stream), 0);   // nobody writes
    EXPECT_EQ(std::fgetc(stream), EOF);
    std::fclose(stream);
    EXPECT_EQ(attributes(path("pipe")), kAttrFile);
}

TEST_F(PlatformTest, RemovingTakesFilesLinksAndEmptyFolders) {
    writeFile(path("file"), "x");
    mkdir(path("empty").c_str(), 0700);
    mkdir(path("full").c_str(), 0700);
    writeFile(path("full/inner"), "x");
    symlink("full", path("link").c_str());
    const std::pair<std::string, i32> cases[] = {
        {"file", 0}, {"file", 48}, {"empty", 0}, {"full", 52}, {"link", 0}, {"missing/x", 48},
    };
    for (const auto& [name, status] : cases)
        EXPECT_EQ(platformRemoveFile(S(path(name))), status) << name;
    EXPECT_FALSE(exists(path("link")));
    EXPECT_TRUE(exists(path("full/inner")));
    EXPECT_EQ(platformRemoveFile(String()), 48);
}

TEST_F(PlatformTest, RemovingWithoutPermissionIsRefused) {
    if (geteuid() == 0)
        GTEST_SKIP() << "the superuser removes anything";
    mkdir(path("shut").c_str(), 0700);
    writeFile(path("shut/file"), "x");
    chmod(path("shut").c_str(), 0500);
    EXPECT_EQ(platformRemoveFile(S(path("shut/file"))), 53);
}

TEST_F(PlatformTest, FileLengthIsSetBothWays) {
    writeFile(path("file"), "0123456789");
    mkdir(path("folder").c_str(), 0700);
    struct stat st;
    ASSERT_EQ(platformSetFileLength(S(path("file")), 100), 0);
    ASSERT_EQ(stat(path("file").c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 100);
    ASSERT_EQ(platformSetFileLength(S(path("file")), 4), 0);
    EXPECT_EQ(readFile(path("file")), "0123");
    EXPECT_EQ(platformSetFileLength(S(path("missing")), 4), 48);
    EXPECT_FALSE(exists(path("missing")));
    EXPECT_EQ(platformSetFileLength(S(path("folder")), 4), 52);
}

TEST_F(PlatformTest, TypeAndCreatorAreUnknown) {
    u32 type = 0, creator = 0;
    EXPECT_EQ(platformGetTypeCreator(S(path("any")), type, creator), 0);
    EXPECT_EQ(type, 0x3F3F3F3Fu);
    EXPECT_EQ(creator, 0x3F3F3F3Fu);
    EXPECT_EQ(platformSetTypeCreator(S(path("any")), 1, 2), 0);
}

// ---------------------------------------------------------------------------
// Shortcuts

TEST_F(PlatformTest, ShortcutsResolveToTheirFinalTarget) {
    mkdir(path("dir").c_str(), 0700);
    writeFile(path("dir/target"), "x");
    symlink("target", path("dir/near").c_str());           // relative to its folder
    symlink("dir/near", path("chain").c_str());            // through another link
    symlink(path("dir/target").c_str(), path("absolute").c_str());
    symlink("../gone", path("dir/dangling").c_str());
    symlink("loop-b", path("loop-a").c_str());
    symlink("loop-a", path("loop-b").c_str());

    const std::pair<std::string, std::string> cases[] = {
        {path("chain"), path("dir/target")},
        {path("absolute"), path("dir/target")},
        {path("dir/dangling"), path("gone")},
        {path("dir/target"), path("dir/target")},
        {path("missing"), path("missing")},
    };
    for (const auto& [link, target] : cases) {
        String out;
        EXPECT_EQ(platformResolveShortcut(S(link), out), 0) << link;
        EXPECT_EQ(N(out), target) << link;
    }
    String out;
    EXPECT_EQ(platformResolveShortcut(S(path("loop-a")), out), 52);
    EXPECT_EQ(N(out), path("loop-a"));
}

// ---------------------------------------------------------------------------
// Opening with the desktop

TEST_F(PlatformTest, ExecuteHandsTheFileToTheDesktopOpener) {
    const std::string bin = path("bin"), marker = path("opened");
    mkdir(bin.c_str(), 0700);
    // Builtins only: the opener runs with nothing else on its PATH.
    writeFile(bin + "/xdg-open", "#!/bin/sh\nprintf '%s' \"$1\" > '" + marker + "'\n");
    chmod((bin + "/xdg-open").c_str(), 0755);
    writeFile(path("doc.txt"), "x");
    setenv("PATH", bin.c_str(), 1);

    EXPECT_EQ(platformExecute(S(path("doc.txt"))), 0);
    EXPECT_TRUE(eventually([&] { return readFile(marker) == path("doc.txt"); }));
    EXPECT_EQ(platformExecute(S(path("missing"))), 48);
}

TEST_F(PlatformTest, ExecuteWithoutAnOpenerFails) {
    const std::string bin = path("empty-bin");
    mkdir(bin.c_str(), 0700);
    writeFile(path("doc.txt"), "x");
    setenv("PATH", bin.c_str(), 1);
    EXPECT_EQ(platformExecute(S(path("doc.txt"))), 52);
}

// ---------------------------------------------------------------------------
// Folders

TEST_F(PlatformTest, SpecialFoldersComeFromTheEnvironment) {
    const std::string exe = executablePath();
    const std::string exeFolder = exe.substr(0, exe.rfind('/'));
    setenv("TMPDIR", (root + "/tmp/").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", "relative:/etc/first/:/etc/second", 1);
    const std::pair<i32, std::string> cases[] = {
        {1, exeFolder},           {2, exeFolder},        {3, "/usr/lib"},
        {5, root + "/tmp"},       {6, "/etc/first"},     {7, config},
        {8, "/usr/local/share"},  {9, home + "/Documents"}, {10, home + "/Desktop"},
        {11, "/usr/local/share"},
    };
    for (const auto& [kind, folder] : cases) {
        String out;
        EXPECT_EQ(platformGetSpecialFolder(kind, out), 0) << kind;
        EXPECT_EQ(N(out), folder) << kind;
    }
    const std::pair<i32, i32> refused[] = {{4, -36}, {0, 32}, {12, 32}, {-1, 32}};
    for (const auto& [kind, status] : refused) {
        String out("stale");
        EXPECT_EQ(platformGetSpecialFolder(kind, out), status) << kind;
        EXPECT_TRUE(out.isEmpty());
    }
}

TEST_F(PlatformTest, FolderVariablesThatAreNotAbsoluteAreIgnored) {
    setenv("TMPDIR", "relative/tmp", 1);
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    setenv("XDG_CONFIG_DIRS", "", 1);
    const std::pair<i32, std::string> cases[] = {
        {5, "/tmp"}, {6, "/etc/xdg"}, {7, home + "/.config"},
    };
    for (const auto& [kind, folder] : cases) {
        String out;
        EXPECT_EQ(platformGetSpecialFolder(kind, out), 0) << kind;
        EXPECT_EQ(N(out), folder) << kind;
    }
    unsetenv("TMPDIR");
    unsetenv("XDG_CONFIG_DIRS");
    String out;
    EXPECT_EQ(platformGetSpecialFolder(5, out), 0);
    EXPECT_EQ(N(out), "/tmp");
    EXPECT_EQ(platformGetSpecialFolder(6, out), 0);
    EXPECT_EQ(N(out), "/etc/xdg");
}

TEST_F(PlatformTest, DocumentsAndDesktopFollowTheUserFolderList) {
    writeFile(config + "/user-dirs.dirs",
              "# written by hand\n"
              "XDG_DOCUMENTS_DIR=\"$HOME/Old\"\n"
              "  XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"/\"\n"  // the last one wins
              "XDG_DESKTOP_DIR=\"/srv/desk\"\n"
              "XDG_DESKTOP_DIR=\"relative\"\n"                     // not a folder: ignored
              "XDG_DESKTOP_DIR=\"$HOMEWARD\"\n"                    // not $HOME: ignored
              "XDG_DESKTOP_DIR=\"/unclosed\n");
    String out;
    EXPECT_EQ(platformGetSpecialFolder(9, out), 0);
    EXPECT_EQ(N(out), home + "/My \"Docs\"");
    EXPECT_EQ(platformGetSpecialFolder(10, out), 0);
    EXPECT_EQ(N(out), "/srv/desk");
}

TEST_F(PlatformTest, AnOversizedUserFolderListIsNotRead) {
    writeFile(config + "/user-dirs.dirs",
              "XDG_DESKTOP_DIR=\"/srv/desk\"\n" + std::string(70000, '#') + "\n");
    String out;
    EXPECT_EQ(platformGetSpecialFolder(10, out), 0);
    EXPECT_EQ(N(out), home + "/Desktop");
}

TEST_F(PlatformTest, TheHomeFolderIsFoundOnceAndCleaned) {
    setenv("HOME", (home + "//").c_str(), 1);
    String out;
    ASSERT_EQ(getHomeFolder(out), 0);
    EXPECT_EQ(N(out), home);
    setenv("HOME", "/elsewhere", 1);
    ASSERT_EQ(getHomeFolder(out), 0);
    EXPECT_EQ(N(out), home);
    restartLayer();
    ASSERT_EQ(getHomeFolder(out), 0);
    EXPECT_EQ(N(out), "/elsewhere");
}

TEST_F(PlatformTest, WithoutHomeThePasswordEntryServes) {
    struct passwd* entry = getpwuid(geteuid());
    if (!entry || !entry->pw_dir || entry->pw_dir[0] != '/')
        GTEST_SKIP() << "no password entry";
    for (const char* value : {static_cast<const char*>(nullptr), "", "relative"}) {
        if (value)
            setenv("HOME", value, 1);
        else
            unsetenv("HOME");
        restartLayer();
        String out;
        ASSERT_EQ(getHomeFolder(out), 0);
        EXPECT_EQ(N(out), N(platformGetFullPath(S(entry->pw_dir))));
    }
}

TEST_F(PlatformTest, TheModulePathIsThisProgramsFile) {
    const char* module = platformGetModulePath();
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(std::string(module), executablePath());
}

// ---------------------------------------------------------------------------
// Locale, code page, windows

TEST_F(PlatformTest, TheLocaleComesFromTheLocaleVariables) {
    struct Case {
        const char* all;
        const char* messages;
        const char* lang;
        const char* locale;
    } cases[] = {
        {nullptr, nullptr, nullptr, "en_US"},
        {"", "", "", "en_US"},
        {"de_DE.UTF-8", "fr_FR", "it_IT", "de_DE"},
        {"", "fr_CA@euro", "de_DE", "fr_CA"},
        {nullptr, nullptr, "ja_JP.eucJP", "ja_JP"},
        {"C", "fr_FR", "it_IT", "en_US"},   // the first one set decides
        {"POSIX", nullptr, nullptr, "en_US"},
        {"C.UTF-8", nullptr, nullptr, "en_US"},
        {"no_NO.UTF-8", nullptr, nullptr, "nb_NO"},
        {"pt", nullptr, nullptr, "pt"},
        {"es_419", nullptr, nullptr, "es_419"},
        {"ast_ES", nullptr, nullptr, "ast_ES"},
        {"../../etc", nullptr, nullptr, "en_US"},
        {"en_US/x", nullptr, nullptr, "en_US"},
        {"e", nullptr, nullptr, "en_US"},
        {"de_DEU", nullptr, nullptr, "en_US"},
    };
    for (const Case& c : cases) {
        const char* values[] = {c.all, c.messages, c.lang};
        const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
        for (int i = 0; i < 3; ++i) {
            if (values[i])
                setenv(names[i], values[i], 1);
            else
                unsetenv(names[i]);
        }
        EXPECT_EQ(N(localeName()), c.locale) << (c.all ? c.all : "-") << " " << (c.lang ? c.lang : "-");
    }
}

TEST_F(PlatformTest, TheCodePageIsWesternAndThereAreNoWindows) {
    EXPECT_EQ(N(getAnsiCodePageName()), "CP1252");
    EXPECT_EQ(getHostWindow(), nullptr);
    bringHostWindowToFront();
}

}  // namespace
