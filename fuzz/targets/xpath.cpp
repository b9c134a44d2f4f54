// XPath: a document (before the zero byte, parsed without whitespace) and an
// expression (after it), evaluated on the document's root with one variable.
#include <string>

#include "core/Error.h"
#include "core/HashTable.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/XML.h"
#include "fuzz/FuzzSupport.h"

using namespace LxCore;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string document, expression;
    TavrelFuzz::split(data, size, document, expression);
    Error error;
    i32 position = 0;
    XML* root = parseXMLText(TavrelFuzz::text(reinterpret_cast<const uint8_t*>(document.data()), document.size()),
                             position, error, true, true, true);
    if (!root) return 0;
    THashTable<String> variables;
    String value("v");
    variables.put(String("x"), &value);
    Variant result;
    Error failure;
    const String text = TavrelFuzz::text(reinterpret_cast<const uint8_t*>(expression.data()), expression.size());
    if (XML* nodes = root->xpath(text, result, failure, &variables)) {
        String printed;
        nodes->toXMLString(printed, -1);
        nodes->release();
    }
    root->release();
    return 0;
}
