// The localisation-file loader: a file of "$$$/key=translation" lines in
// any encoding its byte-order mark names, loaded and asked for keys.
#include <string>

#include "core/String.h"
#include "core/ZStringLocalizer.h"
#include "fuzz/FuzzSupport.h"

using LxCore::String;

namespace {
std::string file;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    file = TavrelFuzz::setUp() + "/tavrel-en_US.dat";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    TavrelFuzz::writeFile(file, data, size);
    LxObjects::ZStringLocalizer localizer(String(file.c_str()));
    for (const char* zstring : {"$$$/CT/Tavrel/Errors/Err48=File or folder does not exist", "$$$/a=b", "$$$/=",
                                "\"$$$/x\""}) {
        String text(zstring);
        localizer.translate(text, String("en_US"), String());
    }
    return 0;
}
