// Printing nodes as XML text (toXMLString) and their E4X string value
// (toString), with the escapes of text and attribute values.
//
// Namespaces: the printer keeps the prefixes its output has bound so far in
// scopes that end with each element's end tag. A namespace is declared on the
// element that first needs it; a prefix "*" gets one made from its URI, and a
// prefix taken on the same element for another URI gets a fresh one.
#include <cstdio>
#include <new>
#include <string>

#include "core/Callbacks.h"
#include "core/XML.h"
#include "core/XMLInternal.h"

namespace LxCore {

namespace {

// The printer writes into a plain buffer and makes one String at the end.
using Buffer = std::u16string;

void put(Buffer& out, const char* ascii) {
    while (*ascii)
        out += char16_t(*ascii++);
}

void put(Buffer& out, const String& text) { out.append(text.chars(), size_t(text.length())); }

// Appends text with each unit that has an escape replaced by it.
template <class Out, class EscapeOf>
void appendEscaped(Out& out, const String& text, EscapeOf escapeOf) {
    const unit* units = text.chars();
    const i32 n = text.length();
    i32 done = 0;
    for (i32 i = 0; i < n; i++) {
        const char* escape = escapeOf(units[i]);
        if (!escape)
            continue;
        out.append(units + done, size_t(i - done));
        put(out, escape);
        done = i + 1;
    }
    out.append(units + done, size_t(n - done));
}

const char* textEscape(unit c) {
    switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '>': return "&gt;";
    default: return nullptr;
    }
}

const char* attributeEscape(unit c) {
    switch (c) {
    case '&': return "&amp;";
    case '<': return "&lt;";
    case '"': return "&quot;";
    case '\t': return "&#x9;";
    case '\n': return "&#xA;";
    case '\r': return "&#xD;";
    default: return nullptr;
    }
}

void appendSpaces(Buffer& out, i64 count) {
    if (count <= 0)
        return;
    if (i64(out.size()) + count > String::kMaxLength)
        throw std::bad_alloc();
    out.append(size_t(count), u' ');
}

// The prefix made from a URI: the longest start of its last '/' piece that
// is a name without '.', never one beginning with "xml", else "a".
String prefixFromURI(const String& uri) {
    String made;
    i32 from = 0;
    const i32 n = uri.length();
    while (from <= n) {
        i32 slash = uri.find(unit('/'), from);
        i32 end = slash < 0 ? n : slash;
        String piece = uri.substr(from, end - from);
        piece.trim();
        i32 length = 0;
        if (length < piece.length() && isXMLNameStart(piece[0]))
            for (length = 1; length < piece.length() && piece[length] != '.' && isXMLNameChar(piece[length]);)
                length++;
        if (length > 0)
            made = piece.substr(0, length);
        if (slash < 0)
            break;
        from = slash + 1;
    }
    if (made.length() >= 3 && made.substr(0, 3).compareIgnoreCase(String("xml")) == 0)
        made.clear();
    if (made.isEmpty())
        made = "a";
    return made;
}

}  // namespace

struct XMLPrinter {
    Buffer out;
    const i32 indent;
    const bool pretty;
    NamespaceScope bound;           // prefixes the output has bound
    UnitKeyMap<i64> nextSuffix;     // per stem, the next "-N" to try
    i32 elementMark = 0;            // bindings from here were made by the element being opened
    Buffer declarations;            // xmlns text of the element being opened
    const XML* inScope = nullptr;   // namespaces declared by outermost elements
    WorkMeter* const meter;         // a unit a node; null: not counted

    XMLPrinter(i32 indentation, WorkMeter* meter)
        : indent(indentation), pretty(indentation >= 0), meter(meter) {}

    bool stopped() const { return meter && meter->isStopped(); }

    void indentTo(i64 level) {
        if (indent > 0)
            appendSpaces(out, i64(indent) * level);
    }

    void declare(const String& prefix, const String& uri) {
        bound.bind(prefix, uri, nullptr);
        if (isAscii(prefix, "xml"))
            return;
        put(declarations, " xmlns");
        if (!prefix.isEmpty()) {
            declarations += u':';
            appendEscaped(declarations, prefix, textEscape);
        }
        put(declarations, "=\"");
        appendEscaped(declarations, uri, attributeEscape);
        declarations += u'"';
    }

    bool boundTo(const String& prefix, const String& uri) const {
        const i32 b = bound.byPrefix(prefix);
        return b >= 0 && bound.at(b).uri == uri;
    }

    // A prefix no binding in force has: the stem (the text before its first
    // '-') and "-1", "-2", ... after the stem itself.
    String freshPrefix(const String& base) {
        if (bound.byPrefix(base) < 0)
            return base;
        i32 dash = base.find(unit('-'));
        String stem = dash < 0 ? base : base.substr(0, dash);
        i64& next = nextSuffix[std::u16string(unitView(stem))];
        for (;;) {
            char digits[24];
            std::snprintf(digits, sizeof digits, "-%lld", static_cast<long long>(++next));
            String candidate = stem;
            candidate += digits;
            if (bound.byPrefix(candidate) < 0)
                return candidate;
        }
    }

    // The prefix the output uses for ns, declared on the element being
    // opened when nothing in force binds it. Attributes in a namespace need
    // a prefix that is not empty.
    String prefixFor(const XML* ns, bool attribute) {
        if (!ns)
            return String();
        const String& uri = ns->getValue();
        const String& own = ns->getName();
        const bool needsPrefix = attribute && !uri.isEmpty();
        const bool chosen = !isAscii(own, "*") && !(needsPrefix && own.isEmpty());
        if (chosen) {
            const i32 b = bound.byPrefix(own);
            if (b >= 0 && bound.at(b).uri == uri)
                return own;
            if (b < elementMark) {
                declare(own, uri);
                return own;
            }
        }
        const i32 u = bound.byURI(uri);
        if (u >= 0) {
            const String& other = bound.at(u).prefix;
            if (boundTo(other, uri) && !(needsPrefix && other.isEmpty()))
                return other;
        }
        String made = freshPrefix(chosen && !own.isEmpty() ? own : prefixFromURI(uri));
        declare(made, uri);
        return made;
    }

    void writeQualified(const String& prefix, const String& name) {
        if (!prefix.isEmpty()) {
            appendEscaped(out, prefix, textEscape);
            out += u':';
        }
        appendEscaped(out, name, textEscape);
    }

    void printLeaf(const XML* node) {
        switch (node->getKind()) {
        case XML::kText:
            if (node->isCDATA()) {
                put(out, "<![CDATA[");
                // "]]>" would end the section: split it over two.
                String text = node->getValue();
                text.replaceAll("]]>", String("]]]]><![CDATA[>"));
                put(out, text);
                put(out, "]]>");
            } else {
                appendEscaped(out, pretty ? trimXMLBlanks(node->getValue()) : node->getValue(), textEscape);
            }
            break;
        case XML::kAttribute:
            appendEscaped(out, node->getValue(), attributeEscape);
            break;
        case XML::kNamespace:
            put(out, node->getValue());
            break;
        case XML::kComment:
            put(out, "<!--");
            put(out, node->getValue());
            put(out, "-->");
            break;
        case XML::kProcessingInstruction:
            put(out, "<?");
            put(out, node->getName());
            if (!node->getValue().isEmpty()) {
                out += u' ';
                put(out, node->getValue());
            }
            put(out, "?>");
            break;
        default:
            break;
        }
    }

    struct Open {
        const XML* element;
        String prefix;
        i64 level;
        i32 mark;
        i32 next;
        bool layout;
    };

    // Writes an element's start tag; an element with children stays open.
    bool open(const XML* element, bool outermost, i64 level, Open& frame) {
        frame.element = element;
        frame.level = level;
        frame.mark = elementMark = bound.mark();
        frame.next = 0;
        declarations.clear();
        if (outermost && inScope)
            for (i32 i = 0; i < inScope->getChildCount(); i++)
                prefixFor(inScope->getChild(i), false);
        for (i32 i = 0; i < element->getDeclarationCount(); i++)
            prefixFor(element->getDeclaration(i), false);
        frame.prefix = prefixFor(element->getNamespace(), false);
        std::vector<String> attributePrefixes;
        for (i32 i = 0; i < element->getAttributeCount(); i++)
            attributePrefixes.push_back(prefixFor(element->getAttribute(i)->getNamespace(), true));

        out += u'<';
        writeQualified(frame.prefix, element->getName());
        out += declarations;
        for (i32 i = 0; i < element->getAttributeCount(); i++) {
            const XML* attribute = element->getAttribute(i);
            out += u' ';
            writeQualified(attributePrefixes[size_t(i)], attribute->getName());
            put(out, "=\"");
            appendEscaped(out, attribute->getValue(), attributeEscape);
            out += u'"';
        }
        if (!element->hasChildArray()) {
            put(out, "/>");
            bound.unwind(frame.mark);
            return false;
        }
        out += u'>';
        const i32 n = element->getChildCount();
        frame.layout = pretty && (n > 1 || (n == 1 && element->getChild(0)->getKind() != XML::kText));
        return true;
    }

    void close(const Open& frame) {
        if (frame.layout) {
            out += u'\n';
            indentTo(frame.level);
        }
        put(out, "</");
        writeQualified(frame.prefix, frame.element->getName());
        out += u'>';
        bound.unwind(frame.mark);
    }

    // One node and everything below it, without recursion.
    void printTree(const XML* top, bool outermost, i64 level) {
        if (top->getKind() != XML::kElement) {
            if (top->getKind() != XML::kText && top->getKind() != XML::kAttribute &&
                top->getKind() != XML::kNamespace)
                indentTo(level);
            printLeaf(top);
            return;
        }
        indentTo(level);
        std::vector<Open> stack(1);
        if (!open(top, outermost, level, stack.back()))
            return;
        while (!stack.empty()) {
            Open& frame = stack.back();
            if (frame.next >= frame.element->getChildCount()) {
                close(frame);
                stack.pop_back();
                continue;
            }
            if (meter && !meter->add())
                return;
            const XML* child = frame.element->getChild(frame.next++);
            const i64 childLevel = frame.level + (frame.layout ? 1 : 0);
            if (frame.layout) {
                out += u'\n';
                indentTo(childLevel);
            }
            if (child->getKind() != XML::kElement) {
                printLeaf(child);
                continue;
            }
            Open inner;
            if (open(child, false, childLevel, inner))
                stack.push_back(std::move(inner));
        }
    }

    void print(const XML* node) {
        bound.bind(String("xml"), String(XML::kXMLNamespaceURI), nullptr);
        XML* namespaces = node->getInScopeNamespaces();
        inScope = namespaces;
        try {
            if (node->getKind() != XML::kList) {
                printTree(node, true, 0);
            } else {
                for (i32 i = 0; i < node->getChildCount() && !stopped(); i++) {
                    if (i > 0 && pretty)
                        out += u'\n';
                    printTree(node->getChild(i), true, 0);
                }
            }
        } catch (...) {
            namespaces->release();
            throw;
        }
        namespaces->release();
    }
};

String& XML::toXMLString(String& out, i32 indentation, WorkMeter* meter) const {
    XMLPrinter printer(indentation, meter);
    printer.print(this);
    if (printer.stopped()) {
        out.clear();
        return out;
    }
    if (printer.out.size() > size_t(String::kMaxLength))
        throw std::bad_alloc();
    out = String(printer.out.data(), i32(printer.out.size()));
    return out;
}

String& XML::toString(String& out, i32 indentation, WorkMeter* meter) const {
    switch (kind) {
    case kComment:
    case kProcessingInstruction:
        out.clear();
        return out;
    case kText:
    case kAttribute:
        out = value;
        return out;
    default:
        break;
    }
    if (!hasSimpleContent())
        return toXMLString(out, indentation, meter);
    if (kind == kList && getChildCount() == 1 && getChild(0)->kind == kElement)
        return getChild(0)->toString(out, indentation, meter);
    if (getChildCount() == 0) {
        out = value;
        return out;
    }
    // Simple content has no element children: one level of string values.
    String result;
    for (i32 i = 0; i < getChildCount(); i++) {
        if (meter && !meter->add()) {
            out.clear();
            return out;
        }
        const XML* child = getChild(i);
        if (child->kind != kComment && child->kind != kProcessingInstruction)
            result += child->value;
    }
    out = result;
    return out;
}

namespace {

// String's append with the buffer's signature.
struct StringSink {
    String& text;
    void append(const unit* units, size_t count) { text.append(units, i32(count)); }
};

void put(StringSink& out, const char* ascii) { out.text += ascii; }

}  // namespace

void XML::appendEscapedText(String& out, const String& text) {
    StringSink sink{out};
    appendEscaped(sink, text, textEscape);
}

void XML::appendEscapedAttributeValue(String& out, const String& text) {
    StringSink sink{out};
    appendEscaped(sink, text, attributeEscape);
}

String XML::escapeText(const String& text) {
    String out;
    appendEscapedText(out, text);
    return out;
}

String XML::escapeAttributeValue(const String& text) {
    String out;
    appendEscapedAttributeValue(out, text);
    return out;
}

}  // namespace LxCore
