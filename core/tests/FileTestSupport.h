// A fixture for tests of FileSpec and File: a fresh folder of
// its own with a home folder inside it, HOME pointing there, the library
// started and the core's current folder set to a work folder. The process's
// working folder is never changed.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

#include "core/InitTerm.h"
#include "core/String.h"
#include "core/platform/Platform.h"
#include "core/tests/TestSupport.h"

namespace LxCore {

class FileFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = makeTemporaryFolder("tvfiles");
        ASSERT_FALSE(root.empty());
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
        removeTree(root);
    }

    std::string path(const std::string& name) const { return root + "/" + name; }

    SavedEnvironment environment{"HOME"};
    std::string root, home, work;
};

}  // namespace LxCore
