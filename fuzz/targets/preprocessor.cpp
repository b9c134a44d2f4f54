// The preprocessor: a script's directive lines, with includes resolved
// against a folder that holds two small files.
#include <string>

#include "core/Error.h"
#include "core/String.h"
#include "fuzz/FuzzSupport.h"
#include "script/frontend/Preprocessor.h"

using LxCore::String;

namespace {
String fileName;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& root = TavrelFuzz::setUp();
    TavrelFuzz::startEngine();
    const char one[] = "#target \"one\"\nvar one = 1;\n";
    const char two[] = "//@include \"one.tvs\"\nvar two = 2;\n";
    TavrelFuzz::writeFile(root + "/one.tvs", reinterpret_cast<const uint8_t*>(one), sizeof one - 1);
    TavrelFuzz::writeFile(root + "/two.tvs", reinterpret_cast<const uint8_t*>(two), sizeof two - 1);
    fileName = String((root + "/main.tvs").c_str());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LxScript::Preprocessor preprocessor;
    String result;
    LxCore::Error error;
    preprocessor.process(TavrelFuzz::text(data, size), fileName, result, &error);
    for (const char* name : {"script", "strict", "target", "targetengine", "includepath", "engine"})
        preprocessor.getDirective(String(name));
    return 0;
}
