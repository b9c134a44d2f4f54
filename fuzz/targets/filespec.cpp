// FileSpec paths and URIs: a text set as a path and as a URI, written in
// each form, re-pointed at the second part of the input and compared.
#include <string>

#include "core/FileSpec.h"
#include "core/String.h"
#include "fuzz/FuzzSupport.h"

using namespace LxCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string first, second;
    TavrelFuzz::split(data, size, first, second);
    String path = TavrelFuzz::text(reinterpret_cast<const uint8_t*>(first.data()), first.size());
    String relative = TavrelFuzz::text(reinterpret_cast<const uint8_t*>(second.data()), second.size());
    String out;
    pathToURI(out, path, true);
    uriToPath(out, path);
    for (bool literal : {true, false}) {
        FileSpec spec(path, literal);
        spec.toURI(out, true);
        spec.toURI(out, false);
        spec.getNativePath(out);
        spec.getName(out);
        FileSpec base(relative, literal);
        spec.getRelativePath(out, base);
        FileSpec moved(spec);
        moved.resolveRelative(relative);
        moved.getNativePath(out);
        (void)(moved == spec);
    }
    return 0;
}
