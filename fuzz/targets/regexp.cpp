// Regular expressions: a pattern compiled with the flags of the first byte
// (global, ignoreCase, multiline in its low bits) and matched over the text
// after the zero byte as a global search walks it. Each match may take a
// million steps, so a runaway pattern stops with 27 well inside the time
// a fuzzer allows one input.
#include <string>

#include "core/RegExp.h"
#include "core/String.h"
#include "fuzz/FuzzSupport.h"

using namespace LxCore;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    TavrelFuzz::setUp();
    setRegExpStepBudgetForTests(1000000);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const u32 flags = data[0] & 7;
    std::string first, second;
    TavrelFuzz::split(data + 1, size - 1, first, second);
    const String pattern = TavrelFuzz::text(reinterpret_cast<const uint8_t*>(first.data()), first.size());
    const String text = TavrelFuzz::text(reinterpret_cast<const uint8_t*>(second.data()), second.size());
    const RegExp re = compileRegExp(pattern, flags);
    CapturePair* pairs = re.allocCaptures();
    i32 at = 0;
    for (int round = 0; round < 8; ++round) {
        bool matched = false;
        if (execRegExp(re, text, at, pairs, matched) || !matched) break;
        for (i32 g = 0; g < re.getGroupCount(); ++g)
            if (pairs[g].start >= 0 && (pairs[g].start > pairs[g].end || pairs[g].end > text.length())) __builtin_trap();
        at = pairs[0].end > at ? pairs[0].end : at + 1;
    }
    Heap::free(pairs);
    return 0;
}
