#include "fuzz/FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Encoder.h"
#include "core/Heap.h"
#include "core/InitTerm.h"
#include "script/composition/InitTerm.h"

namespace TavrelFuzz {

const std::string& setUp() {
    static const std::string root = [] {
        char pattern[] = "/tmp/tavrel-fuzz-XXXXXX";
        const char* made = mkdtemp(pattern);
        if (!made) {
            std::perror("mkdtemp");
            std::abort();
        }
        std::string folder(made);
        // Gone at a normal exit (a crash leaves it for a look). The name is
        // kept apart: the string below may be destroyed before this runs.
        static char removed[sizeof pattern];
        std::memcpy(removed, made, sizeof pattern);
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removed, ignored);
        });
        for (const char* name : {"home", "run", "config"})
            mkdir((folder + "/" + name).c_str(), 0700);
        setenv("HOME", (folder + "/home").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (folder + "/run").c_str(), 1);
        setenv("XDG_CONFIG_HOME", (folder + "/config").c_str(), 1);
        const std::string products = folder + "/installed-products.xml";
        writeFile(products, reinterpret_cast<const uint8_t*>("<InstalledProducts/>\n"), 21);
        setenv("MORVANE_INSTALLED_PRODUCTS", products.c_str(), 1);
        unsetenv("JSINCLUDE");
        if (chdir(folder.c_str()) != 0)
            std::abort();
        LxCore::InitTerm::init();
        // Reused blocks would hide a use after free from the sanitizers.
        LxCore::Heap::setCacheSize(0);
        return folder;
    }();
    return root;
}

void startEngine() {
    static const bool started = [] {
        setUp();
        LxScript::InitTerm::init();
        return true;
    }();
    (void)started;
}

LxCore::String text(const uint8_t* data, size_t size) {
    LxCore::String out;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        size_t units = (size - 2) / 2;
        std::u16string buffer(units, u'\0');
        std::memcpy(buffer.data(), data + 2, units * 2);
        out = LxCore::String(reinterpret_cast<const LxCore::unit*>(buffer.data()), LxCore::i32(units));
    } else {
        out.decode(reinterpret_cast<const char*>(data), LxCore::i32(size), LxCore::utf8Encoder());
    }
    return out;
}

void split(const uint8_t* data, size_t size, std::string& first, std::string& second) {
    const void* zero = size ? std::memchr(data, 0, size) : nullptr;
    size_t cut = zero ? size_t(static_cast<const uint8_t*>(zero) - data) : size;
    first.assign(reinterpret_cast<const char*>(data), cut);
    second.assign(cut < size ? reinterpret_cast<const char*>(data) + cut + 1 : "", cut < size ? size - cut - 1 : 0);
}

void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file || (size && std::fwrite(data, 1, size, file) != size) || std::fclose(file) != 0) {
        std::perror(path.c_str());
        std::abort();
    }
}

}  // namespace TavrelFuzz

// The set-up of a target that needs no more than setUp; a target with more
// to prepare defines its own.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int*, char***) {
    TavrelFuzz::setUp();
    return 0;
}
