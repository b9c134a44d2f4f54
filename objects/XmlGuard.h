// A check made before text is handed to TinyXML. Its parser and its
// destructor recurse once per level of nesting, so a deeply nested document
// would exhaust the stack. The check walks the text the way TinyXML reads
// it, without recursion, and refuses a document that nests deeper than
// maxDepth. To stay sure of the nesting it also refuses what it cannot read
// exactly as TinyXML does: malformed UTF-8, text or close tags outside the
// elements, attribute values without quotes, and declarations beyond plain
// name="value" pairs. Well-formed configuration data passes unchanged.
#pragma once

namespace LxObjects {

// text ends at its first NUL, as it does for TinyXML.
bool xmlWithinDepth(const char* text, int maxDepth);

}  // namespace LxObjects
