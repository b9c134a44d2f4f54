// A fixture for tests of file specifications and files: a fresh folder of
// its own with a home folder inside it, HOME pointing there, the library
// started and the core's current folder set to a work folder. The process's
// working folder is never changed.
#pragma once
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <ftw.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/InitTerm.h"
#include "core/String.h"
#include "core/platform/Platform.h"

namespace LxCore {

class FileFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* saved = std::getenv("HOME");
        savedHome = saved ? std::optional<std::string>(saved) : std::nullopt;
        const char* base = std::getenv("TMPDIR");
        root = std::string(base && base[0] == '/' ? base : "/tmp") + "/tvfiles-XXXXXX";
        ASSERT_NE(mkdtemp(&root[0]), nullptr) << errno;
        home = root + "/home/me";
        work = root + "/work";
        mkdir((root + "/home").c_str(), 0700);
        mkdir(home.c_str(), 0700);
        mkdir(work.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
        InitTerm::init();
        ASSERT_EQ(platformSetCurrentFolder(S(work)), 0);
    }

    void TearDown() override {
        InitTerm::exit();
        if (savedHome)
            setenv("HOME", savedHome->c_str(), 1);
        else
            unsetenv("HOME");
        nftw(
            root.c_str(),
            [](const char* name, const struct stat* info, int, struct FTW*) {
                if (S_ISDIR(info->st_mode))
                    chmod(name, 0700);
                return remove(name);
            },
            16, FTW_DEPTH | FTW_PHYS);
    }

    // Texts in tests are written as UTF-8.
    static String S(const std::string& utf8) { return fromNative(utf8.data(), utf8.size()); }
    static std::string N(const String& text) {
        std::string out;
        EXPECT_TRUE(toNative(text, out));
        return out;
    }
    static std::u16string U(const String& text) { return std::u16string(text.chars(), size_t(text.length())); }

    static void writeBytes(const std::string& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    }
    static std::string readBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }
    static bool exists(const std::string& path) {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }
    static std::string processFolder() {
        char buffer[4096];
        return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
    }

    std::string path(const std::string& name) const { return root + "/" + name; }

    std::optional<std::string> savedHome;
    std::string root, home, work;
};

}  // namespace LxCore
