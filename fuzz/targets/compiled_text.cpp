// The compiled-script reader: a document read into an operation tree,
// which is then written out again.
#include "core/String.h"
#include "fuzz/FuzzSupport.h"
#include "script/engine/CompiledScript.h"
#include "script/engine/Script.h"

using LxCore::String;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TavrelFuzz::setUp();
    TavrelFuzz::startEngine();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String text = TavrelFuzz::text(data, size);
    LxScript::BinaryScriptReader reader(text);
    LxScript::jsOpFunction* root = nullptr;
    if (reader.read(root, String("fuzz.tvs")) != 0)
        return 0;
    LxScript::jsScript script(root);
    String out;
    script.writeBinary(out);
    return 0;
}
