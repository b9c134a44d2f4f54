// XML text: parsed with the options of the first byte (ignore whitespace,
// comments, processing instructions in its low bits), then printed plainly
// and pretty, copied, compared, and the plain print parsed again: it must
// give an equal tree.
#include "core/Error.h"
#include "core/String.h"
#include "core/XML.h"
#include "fuzz/FuzzSupport.h"

using namespace LxCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const u8 options = data[0];
    const String text = TavrelFuzz::text(data + 1, size - 1);
    Error error;
    i32 position = 0;
    XML* node = parseXMLText(text, position, error, options & 1, options & 2, options & 4);
    if (!node) return 0;
    String plain, pretty, value;
    node->toXMLString(plain, -1);
    node->toXMLString(pretty, 2);
    node->toString(value, -1);
    XML* copy = node->copy(true);
    if (!copy->equals(node, false)) __builtin_trap();
    XML* found = node->find(String("*"), XML::kDescendants);
    found->release();
    copy->release();
    // Whitespace kept, the plain print reads back as the same tree.
    if (!(options & 7) && node->getKind() == XML::kElement) {
        Error again;
        i32 start = 0;
        XML* reread = parseXMLText(plain, start, again, false, false, false);
        if (!reread || !reread->equals(node, false)) __builtin_trap();
        reread->release();
    }
    node->release();
    return 0;
}
