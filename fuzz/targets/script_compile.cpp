// Script text, compiled as the check-syntax and compile workers do. By the
// first byte: preprocessing on or off, and the path taken: one engine kept
// for the process (scanner, preprocessor, parser, code generator, then the
// compiled-script writer), or the check-syntax worker itself (a fresh
// engine per request), whose error report must be well-formed XML. Includes
// resolve against a folder of two small files.
#include <string>

#include "core/Error.h"
#include "core/String.h"
#include "core/XML.h"
#include "fuzz/FuzzSupport.h"
#include "modules/node-addon/source/TVDWorkers.h"
#include "script/engine/Engine.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"

using LxCore::String;
using namespace LxScript;

namespace {
RealEngine* engine = nullptr;
String fileName;
String folder;

void checkReport(const String& report) {
    if (report.isEmpty()) return;
    LxCore::Error error;
    LxCore::i32 position = 0;
    LxCore::XML* tree = LxCore::parseXMLText(report, position, error, false, false, false);
    if (!tree) __builtin_trap();
    tree->release();
}
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const std::string& root = TavrelFuzz::setUp();
    TavrelFuzz::startEngine();
    const char one[] = "#target \"one\"\nvar one = 1;\nfunction f(a) { return a + one; }\n";
    const char two[] = "//@include \"one.tvs\"\nvar two = <x a=\"2\">{one}</x>;\n";
    TavrelFuzz::writeFile(root + "/one.tvs", reinterpret_cast<const uint8_t*>(one), sizeof one - 1);
    TavrelFuzz::writeFile(root + "/two.tvs", reinterpret_cast<const uint8_t*>(two), sizeof two - 1);
    fileName = String((root + "/main.tvs").c_str());
    folder = String(root.c_str());
    // One engine for the process, as a host that compiles often keeps one.
    engine = static_cast<RealEngine*>(Engine::createEngine(0));
    engine->setIncludePath(folder);
    engine->initialize();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const String text = TavrelFuzz::text(data + 1, size - 1);
    if (data[0] & 2) {
        checkReport(checkSyntax(text, fileName, folder));
        return 0;
    }
    engine->setPreprocessorOn(data[0] & 1);
    if (Script* script = engine->compile(text, &fileName)) {
        String compiled;
        script->writeBinary(compiled);
        script->release();
    }
    engine->clearError();
    return 0;
}
