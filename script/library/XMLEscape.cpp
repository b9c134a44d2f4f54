#include "script/library/XMLEscape.h"

namespace LxScript {

using LxCore::i32;
using LxCore::String;
using LxCore::unit;

namespace {

// Copies text, putting the entity `escape` gives in place of each unit that
// has one; text without any comes back shared.
template <class Escape>
String escapeWith(const String& text, Escape escape) {
    String out;
    i32 copied = 0;
    for (i32 i = 0; i < text.length(); i++) {
        const char* entity = escape(text[i]);
        if (!entity)
            continue;
        out.append(text.chars() + copied, i - copied);
        out += entity;
        copied = i + 1;
    }
    if (copied == 0)
        return text;
    out.append(text.chars() + copied, text.length() - copied);
    return out;
}

}  // namespace

String escapeXMLText(const String& text) {
    return escapeWith(text, [](unit c) -> const char* {
        switch (c) {
            case '&': return "&amp;";
            case '<': return "&lt;";
            case '>': return "&gt;";
            default: return nullptr;
        }
    });
}

String escapeXMLAttributeValue(const String& text) {
    return escapeWith(text, [](unit c) -> const char* {
        switch (c) {
            case '&': return "&amp;";
            case '<': return "&lt;";
            case '"': return "&quot;";
            case '\t': return "&#x9;";
            case '\n': return "&#xA;";
            case '\r': return "&#xD;";
            default: return nullptr;
        }
    });
}

}  // namespace LxScript
