// Helpers of the objects-library tests: temporary folders, a fixture that
// gives each test its own per-user folders, small file helpers and a way to
// run a peer process.
#pragma once
#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <ftw.h>
#include <functional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "objects/PlatformServices.h"

namespace TestFolders {

inline std::string makeTemporaryFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tvobjects-XXXXXX";
    if (!mkdtemp(&pattern[0]))
        ADD_FAILURE() << "mkdtemp: " << errno;
    return pattern;
}

inline void removeTree(const std::string& path)
{
    nftw(
        path.c_str(),
        [](const char* name, const struct stat*, int, struct FTW*) { return remove(name); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

inline void writeFile(const std::string& path, const std::string& content, mode_t mode = 0600)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    chmod(path.c_str(), mode);
}

inline mode_t modeOf(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

// Polls until done() or the limit passes; the result of the last poll.
inline bool eventually(const std::function<bool()>& done, int limitMs = 10000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// Each test gets its own HOME, XDG_CONFIG_HOME, XDG_RUNTIME_DIR (mode 0700)
// and product list, so tests run in parallel and never touch real files.
class UserFolders : public ::testing::Test {
protected:
    void SetUp() override
    {
        root = makeTemporaryFolder();
        home = root + "/home";
        config = root + "/config";
        runtime = root + "/run";
        for (const std::string& folder : {home, config, runtime})
            mkdir(folder.c_str(), 0700);
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        setenv("MORVANE_INSTALLED_PRODUCTS", (root + "/installed-products.xml").c_str(), 1);
        LxObjects::releasePlatformServices();
    }

    void TearDown() override
    {
        LxObjects::releasePlatformServices();
        removeTree(root);
    }

    std::string valuesFile() const { return config + "/morvane/IAC"; }

    std::string root, home, config, runtime;
};

}  // namespace TestFolders
