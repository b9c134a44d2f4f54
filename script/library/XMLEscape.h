// Escaping of text put into XML markup, for XML literals at compile time
// and at run time alike.
#pragma once
#include "core/String.h"

namespace LxScript {

// "&", "<" and ">" as entities: text that may stand in element content.
LxCore::String escapeXMLText(const LxCore::String& text);
// "&", "<", '"', tab, line feed and carriage return as entities: text that
// may stand inside a double-quoted attribute value.
LxCore::String escapeXMLAttributeValue(const LxCore::String& text);

}  // namespace LxScript
