// Script text: scanned, preprocessed when the first byte's low bit says so,
// parsed and compiled as the engine compiles a check-syntax request, with
// includes resolved against a folder of two small files. A compiled script
// is written out as compiled-script text, then freed.
#include <string>

#include "core/String.h"
#include "fuzz/FuzzSupport.h"
#include "script/engine/Engine.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"

using LxCore::String;
using namespace LxScript;

namespace {
RealEngine* engine = nullptr;
String fileName;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& root = TavrelFuzz::setUp();
    TavrelFuzz::startEngine();
    const char one[] = "#target \"one\"\nvar one = 1;\nfunction f(a) { return a + one; }\n";
    const char two[] = "//@include \"one.tvs\"\nvar two = <x a=\"2\">{one}</x>;\n";
    TavrelFuzz::writeFile(root + "/one.tvs", reinterpret_cast<const uint8_t*>(one), sizeof one - 1);
    TavrelFuzz::writeFile(root + "/two.tvs", reinterpret_cast<const uint8_t*>(two), sizeof two - 1);
    fileName = String((root + "/main.tvs").c_str());
    // One engine for the process, as the add-on keeps one for its workers.
    engine = static_cast<RealEngine*>(Engine::createEngine(0));
    engine->setIncludePath(String(root.c_str()));
    engine->initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    engine->setPreprocessorOn(data[0] & 1);
    if (Script* script = engine->compile(TavrelFuzz::text(data + 1, size - 1), &fileName)) {
        String compiled;
        script->writeBinary(compiled);
        script->release();
    }
    engine->clearError();
    return 0;
}
