// The specifier parser: name, instance, version, locale and engine taken
// apart and put together again, one part replaced.
#include <string>

#include "fuzz/FuzzSupport.h"
#include "objects/LoString.h"
#include "objects/Specifier.h"

using LxObjects::LoString;
using Specifier = LxObjects::Tellwire::Specifier;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text, part;
    TavrelFuzz::split(data, size, text, part);
    Specifier specifier(text.c_str(), false);
    LoString out;
    specifier.getName(out);
    specifier.getInstance(out);
    specifier.getVersion(out);
    specifier.getLocale(out);
    specifier.getEngine(out);
    LoString replacement(part.data(), int(part.size()));
    Specifier copy(specifier);
    copy.setInstance(replacement);
    copy.setEngine(replacement);
    copy.getName(out);
    copy.setInstance(LoString());
    copy.setEngine(LoString());
    return 0;
}
