// XML text to nodes: expat reads the text (handed over as UTF-16 in host
// order) and a tree builder turns its events into XML nodes.
//
// Hostile text stays bounded: nesting past kMaxNesting stops with error 27,
// expat's amplification limits stop entity bombs, and entities that refer to
// other entities are limited in number, since expat expands them by
// recursion. Nothing may throw through expat (C): the handlers catch, stop
// the parser and leave the error for the caller.
#include <expat.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>
#include <string>

#include "core/Array.h"
#include "core/Encoder.h"
#include "core/Error.h"
#include "core/ErrorCodes.h"
#include "core/Heap.h"
#include "core/Localizer.h"
#include "core/Variant.h"
#include "core/XML.h"
#include "core/XMLInternal.h"

namespace LxCore {

// One parse's expat parser and options.
struct XMLParser {
    XML_Parser expat = nullptr;
    bool ignoreWhitespace = false;
    bool ignoreComments = false;
    bool ignorePIs = false;
};

namespace {

// Deeper element nesting stops the parse with error 27.
constexpr i32 kMaxNesting = 4096;
// Entities whose text refers to other entities: expat expands them by
// recursion, so their number bounds its depth (a few hundred bytes of stack
// a level).
constexpr i32 kMaxReferringEntities = 64;
// expat's entity-amplification limits: output past the threshold may be at
// most this many times the input.
constexpr float kMaxAmplification = 100.0f;
constexpr unsigned long long kAmplificationThreshold = 1ull << 20;
// XML_Parse takes an int of bytes: longer texts go in pieces.
constexpr i64 kPieceBytes = i64(1) << 30;

const char* const kHostUTF16 = std::endian::native == std::endian::little ? "UTF-16LE" : "UTF-16BE";

void* heapMalloc(size_t size) {
    try {
        return Heap::alloc(size);
    } catch (...) {
        return nullptr;
    }
}

void* heapRealloc(void* p, size_t size) {
    try {
        return p ? Heap::realloc(p, size) : Heap::alloc(size);
    } catch (...) {
        return nullptr;
    }
}

void heapFree(void* p) { Heap::free(p); }

const XML_Memory_Handling_Suite kHeapSuite = {heapMalloc, heapRealloc, heapFree};

// Appends UTF-8 (always well formed from expat) as UTF-16.
void appendUTF8(String& out, const char* bytes, size_t count) {
    if (count == 0)
        return;
    const i64 old = out.length();
    if (old + i64(count) > String::kMaxLength)
        throw std::bad_alloc();
    out.setLength(i32(old + i64(count)));
    unit* to = out.getBuffer() + old;
    const u8* p = reinterpret_cast<const u8*>(bytes);
    const u8* end = p + count;
    unit* start = to;
    while (p < end) {
        if (*p < 0x80) {
            *to++ = *p++;
            continue;
        }
        u32 length = utf8LeadLength(*p);
        u32 value = 0xFFFD;
        if (length == 0 || p + length > end || !readUtf8(p, length, value))
            length = 1;
        p += length;
        if (value >= 0x10000) {
            value -= 0x10000;
            *to++ = unit(0xD800 + (value >> 10));
            *to++ = unit(0xDC00 + (value & 0x3FF));
        } else {
            *to++ = unit(value);
        }
    }
    out.setLength(i32(old + (to - start)));
}

String fromUTF8(const char* bytes) {
    String out;
    if (bytes)
        appendUTF8(out, bytes, std::char_traits<char>::length(bytes));
    return out;
}

// 0-based line and column (in units) of a position; lines end at LF, CR or CR LF.
void lineAndColumn(const String& text, i32 position, i32& line, i32& column) {
    line = 0;
    i32 lineStart = 0;
    const unit* units = text.chars();
    const i32 end = std::min(position, text.length());
    for (i32 i = 0; i < end; i++) {
        if (units[i] == '\r' && i + 1 < end && units[i + 1] == '\n')
            i++;
        if (units[i] == '\r' || units[i] == '\n') {
            line++;
            lineStart = i + 1;
        }
    }
    column = std::max(0, position - lineStart);
}

// An error record that says what went wrong: its number's text.
void pushNamed(Error& error, i32 code) { error.push(code, String(), nullptr, true); }

// The error, its place, then error 1 with "XML error in line N" on top.
void reportError(Error& error, i32 code, const String& text, i32 position, u16 length) {
    i32 line = 0;
    i32 column = 0;
    lineAndColumn(text, position, line, column);
    pushNamed(error, code);
    error.setSource(text, line, position, column, length);
    Array args;
    args[0] = Variant(line + 1);
    String message = Localizer::localize(String("$$$/CT/Tavrel/Errors/XML=XML error in line %1"), &args);
    error.push(Err::kText, message, nullptr, true);
}

i32 coreErrorOf(XML_Error code) {
    switch (code) {
    case XML_ERROR_NONE:
    case XML_ERROR_NO_ELEMENTS:
        return 0;
    case XML_ERROR_NO_MEMORY:
        return Err::kOutOfMemory;
    case XML_ERROR_SYNTAX:
        return Err::kSyntaxError;
    case XML_ERROR_INVALID_TOKEN:
        return Err::kNotWellFormed;
    case XML_ERROR_UNCLOSED_TOKEN:
        return Err::kUnclosedToken;
    case XML_ERROR_PARTIAL_CHAR:
        return Err::kPartialCharacter;
    case XML_ERROR_TAG_MISMATCH:
        return Err::kMismatchedTag;
    case XML_ERROR_DUPLICATE_ATTRIBUTE:
        return Err::kDuplicateAttribute;
    case XML_ERROR_JUNK_AFTER_DOC_ELEMENT:
        return Err::kJunkAfterDocument;
    case XML_ERROR_PARAM_ENTITY_REF:
    case XML_ERROR_UNDEFINED_ENTITY:
    case XML_ERROR_RECURSIVE_ENTITY_REF:
    case XML_ERROR_ASYNC_ENTITY:
    case XML_ERROR_BAD_CHAR_REF:
    case XML_ERROR_BINARY_ENTITY_REF:
    case XML_ERROR_ATTRIBUTE_EXTERNAL_ENTITY_REF:
    case XML_ERROR_EXTERNAL_ENTITY_HANDLING:
    case XML_ERROR_ENTITY_DECLARED_IN_PE:
        return Err::kEntityParsing;
    case XML_ERROR_MISPLACED_XML_PI:
        return Err::kMisplacedXMLDeclaration;
    case XML_ERROR_UNKNOWN_ENCODING:
        return Err::kUnknownEncoding;
    case XML_ERROR_INCORRECT_ENCODING:
        return Err::kIncorrectEncoding;
    case XML_ERROR_UNCLOSED_CDATA_SECTION:
        return Err::kUnclosedCDATA;
    case XML_ERROR_NOT_STANDALONE:
    case XML_ERROR_UNEXPECTED_STATE:
    case XML_ERROR_CANT_CHANGE_FEATURE_ONCE_PARSING:
        return Err::kInternal;
    case XML_ERROR_FEATURE_REQUIRES_XML_DTD:
        return Err::kNeedsDTD;
    case XML_ERROR_UNBOUND_PREFIX:
        return Err::kUnboundPrefix;
    default:
        return Err::kSyntaxError;
    }
}

// The first unpaired surrogate from `from`, or -1: expat would pair a lone
// high surrogate with whatever follows.
i32 findLoneSurrogate(const String& text, i32 from) {
    const unit* units = text.chars();
    const i32 n = text.length();
    for (i32 i = from; i < n; i++) {
        const unit c = units[i];
        if (c < 0xD800 || c > 0xDFFF)
            continue;
        if (c <= 0xDBFF && i + 1 < n && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            i++;
            continue;
        }
        return i;
    }
    return -1;
}

// A list literal is parsed inside a wrapper element; its error positions
// are put back into the caller's text.
struct WrapperPlaces {
    const String* text;     // the caller's text
    i32 wrapperPrefix;      // units before the literal's content in the wrapper
    i32 contentStart;       // where that content starts in the caller's text
    i32 contentLength;
    i32 closeAt;            // the "</>"

    i32 map(i64 position) const {
        if (position < wrapperPrefix)
            return contentStart;
        position -= wrapperPrefix;
        return position <= contentLength ? contentStart + i32(position) : closeAt;
    }
};

// Releases the expat parser of a holder when the parse ends.
class ParserHolder {
public:
    explicit ParserHolder(XMLParser& p) : parser(p) {}
    ~ParserHolder() {
        if (parser.expat)
            XML_ParserFree(parser.expat);
    }
    ParserHolder(const ParserHolder&) = delete;
    ParserHolder& operator=(const ParserHolder&) = delete;

private:
    XMLParser& parser;
};

}  // namespace

// The expat user data of one parse.
struct XMLBuilder {
    XML_Parser parser;
    const String* source;
    i32 start;                      // where the parsed part of source begins
    String pending;                 // character data since the last flush
    i32 sectionFrom = -1;           // where the open CDATA section begins in pending
    NamespaceScope bindings;        // each binding holds one reference to its node
    i32 pendingFrom = 0;            // bindings from here wait for the next start tag
    i32 baseBindings = 0;           // bindings no end event may pop
    XML* root = nullptr;
    XML* current = nullptr;
    bool ignoreComments;
    bool ignorePIs;
    bool ignoreWhitespace;
    bool sawElement = false;
    i32 depth = 0;
    i32 referringEntities = 0;
    i32 failure = 0;                // a core error that stopped the parse
    XML_Index failedAt = -1;        // expat's byte index then

    // Element and attribute names repeat: the last few decoded are kept.
    struct CachedName {
        std::string bytes;
        String text;
    };
    CachedName names[64];

    XMLBuilder(XML_Parser p, const String& text, i32 from, const XMLParser& holder)
        : parser(p), source(&text), start(from), ignoreComments(holder.ignoreComments),
          ignorePIs(holder.ignorePIs), ignoreWhitespace(holder.ignoreWhitespace) {}

    ~XMLBuilder() {
        for (i32 i = bindings.mark() - 1; i >= 0; i--)
            bindings.at(i).node->release();
        bindings.unwind(0);
        if (root)
            root->release();
    }

    void fail(i32 code) {
        if (!failure) {
            failure = code;
            failedAt = XML_GetCurrentByteIndex(parser);
        }
        XML_StopParser(parser, XML_FALSE);
    }

    const String& name(const char* bytes, size_t count) {
        size_t h = 0;
        for (size_t i = 0; i < count; i++)
            h = h * 31 + u8(bytes[i]);
        CachedName& slot = names[h % 64];
        if (slot.bytes.size() != count || slot.bytes.compare(0, count, bytes, count) != 0) {
            String text;
            appendUTF8(text, bytes, count);
            slot.bytes.assign(bytes, count);
            slot.text = text;
        }
        return slot.text;
    }

    // expat's "URI" LF "local", or "local" alone.
    void splitName(const char* qualified, String& uri, String& local, bool& hasURI) {
        const char* separator = std::strchr(qualified, '\n');
        hasURI = separator != nullptr;
        if (!hasURI) {
            local = name(qualified, std::strlen(qualified));
            return;
        }
        uri = name(qualified, size_t(separator - qualified));
        local = name(separator + 1, std::strlen(separator + 1));
    }

    XML* boundNamespace(const String& uri, bool hasURI) const {
        const i32 b = hasURI ? bindings.byURI(uri) : bindings.byPrefix(String());
        return b >= 0 ? bindings.at(b).node : nullptr;
    }

    void bind(XML* ns, bool pendingToo) {
        try {
            bindings.bind(ns->getName(), ns->getValue(), ns);
        } catch (...) {
            ns->release();
            throw;
        }
        if (!pendingToo)
            pendingFrom = bindings.mark();
    }

    XML* flush(bool dropBlank) {
        if (pending.isEmpty())
            return nullptr;
        String text = pending;
        pending.clear();
        if (dropBlank) {
            const unit* units = text.chars();
            i32 i = 0;
            while (i < text.length() && isXMLBlank(units[i]))
                i++;
            if (i == text.length())
                return nullptr;
        }
        XML* node = new XML(XML::kText, text);
        XMLTree::adoptChild(current, node);
        return node;
    }

    void startElement(const char* qualified, const char** attributes) {
        flush(ignoreWhitespace);
        if (++depth > kMaxNesting) {
            fail(Err::kStackOverrun);
            return;
        }
        sawElement = true;
        String uri, local;
        bool hasURI = false;
        splitName(qualified, uri, local, hasURI);
        XML* element = new XML(local);
        XMLTree::adoptChild(current, element);
        current = element;
        for (i32 i = pendingFrom; i < bindings.mark(); i++)
            XMLTree::adoptDeclaration(element, bindings.at(i).node);
        pendingFrom = bindings.mark();
        if (XML* ns = boundNamespace(uri, hasURI))
            XMLTree::useNamespace(element, ns);
        for (; attributes[0]; attributes += 2) {
            splitName(attributes[0], uri, local, hasURI);
            XML* attribute = new XML(XML::kAttribute, local);
            XMLTree::adoptAttribute(element, attribute);
            String text;
            appendUTF8(text, attributes[1], std::strlen(attributes[1]));
            XMLTree::setValueOf(attribute, text);
            if (hasURI)
                if (XML* ns = boundNamespace(uri, true))
                    XMLTree::useNamespace(attribute, ns);
        }
    }

    void endElement() {
        flush(ignoreWhitespace);
        if (ignoreWhitespace && current->getChildCount() > 1) {
            for (i32 i = 0; i < current->getChildCount(); i++) {
                XML* child = current->getChild(i);
                if (child->getKind() == XML::kText)
                    XMLTree::setValueOf(child, trimXMLBlanks(child->getValue()));
            }
        }
        current = current->getParent() ? current->getParent() : root;
        depth--;
    }

    void startNamespace(const char* prefix, const char* uri) {
        XML* ns = new XML(XML::kNamespace, fromUTF8(prefix));
        try {
            XMLTree::setValueOf(ns, fromUTF8(uri));
        } catch (...) {
            ns->release();
            throw;
        }
        bind(ns, true);
    }

    void endNamespace() {
        const i32 newest = bindings.mark() - 1;
        if (newest < baseBindings)
            return;
        XML* ns = bindings.at(newest).node;
        bindings.unwind(newest);
        pendingFrom = std::min(pendingFrom, newest);
        ns->release();
    }

    // A lone LF stands for the line end the source has there: CR LF, CR, or
    // LF (also an LF from a character reference or an entity).
    void characters(const char* bytes, int count) {
        if (count == 1 && bytes[0] == '\n') {
            const XML_Index index = XML_GetCurrentByteIndex(parser);
            const i64 at = index >= 0 ? start + index / 2 : -1;
            if (at >= 0 && at < source->length() && (*source)[i32(at)] == '\r') {
                pending += unit('\r');
                if ((*source)[i32(at + 1)] == '\n')
                    pending += unit('\n');
            } else {
                pending += unit('\n');
            }
            return;
        }
        appendUTF8(pending, bytes, size_t(count));
    }

    void comment(const char* text) {
        flush(ignoreWhitespace);
        if (!ignoreComments)
            XMLTree::adoptChild(current, new XML(XML::kComment, fromUTF8(text)));
    }

    void instruction(const char* target, const char* data) {
        flush(ignoreWhitespace);
        if (ignorePIs)
            return;
        XML* node = new XML(XML::kProcessingInstruction, fromUTF8(target));
        XMLTree::adoptChild(current, node);
        XMLTree::setValueOf(node, fromUTF8(data));
    }

    // The text before a section stays pending until the section proves to
    // hold characters: an empty one is no characters, so the text around it
    // stays one node (as its printed form reads back).
    void startCDATA() { sectionFrom = pending.length(); }

    void endCDATA() {
        const i32 from = sectionFrom;
        sectionFrom = -1;
        if (from < 0 || pending.length() == from)
            return;
        String section = pending.substr(from);
        pending.setLength(from);
        flush(ignoreWhitespace);
        pending = section;
        if (XML* node = flush(false))
            node->setName(String("CDATA"));
    }

    void entity(const char* value, int count) {
        for (int i = 0; i + 1 < count; i++) {
            if (value[i] == '&' && value[i + 1] != '#') {
                if (++referringEntities > kMaxReferringEntities)
                    fail(Err::kStackOverrun);
                return;
            }
        }
    }
};

namespace {

template <class Body>
void guarded(void* user, Body body) {
    auto* builder = static_cast<XMLBuilder*>(user);
    if (!builder || builder->failure)
        return;
    try {
        body(*builder);
    } catch (const std::bad_alloc&) {
        builder->fail(Err::kOutOfMemory);
    } catch (...) {
        builder->fail(Err::kUncaughtException);
    }
}

void XMLCALL onStartElement(void* user, const XML_Char* name, const XML_Char** attributes) {
    guarded(user, [&](XMLBuilder& b) { b.startElement(name, attributes); });
}

void XMLCALL onEndElement(void* user, const XML_Char*) {
    guarded(user, [&](XMLBuilder& b) { b.endElement(); });
}

void XMLCALL onStartNamespace(void* user, const XML_Char* prefix, const XML_Char* uri) {
    guarded(user, [&](XMLBuilder& b) { b.startNamespace(prefix, uri); });
}

void XMLCALL onEndNamespace(void* user, const XML_Char*) {
    guarded(user, [&](XMLBuilder& b) { b.endNamespace(); });
}

void XMLCALL onCharacters(void* user, const XML_Char* text, int count) {
    guarded(user, [&](XMLBuilder& b) { b.characters(text, count); });
}

void XMLCALL onComment(void* user, const XML_Char* text) {
    guarded(user, [&](XMLBuilder& b) { b.comment(text); });
}

void XMLCALL onInstruction(void* user, const XML_Char* target, const XML_Char* data) {
    guarded(user, [&](XMLBuilder& b) { b.instruction(target, data); });
}

void XMLCALL onStartCDATA(void* user) {
    guarded(user, [&](XMLBuilder& b) { b.startCDATA(); });
}

void XMLCALL onEndCDATA(void* user) {
    guarded(user, [&](XMLBuilder& b) { b.endCDATA(); });
}

void XMLCALL onEntity(void* user, const XML_Char*, int isParameter, const XML_Char* value, int count,
                      const XML_Char*, const XML_Char*, const XML_Char*, const XML_Char*) {
    if (!isParameter && value)
        guarded(user, [&](XMLBuilder& b) { b.entity(value, count); });
}

// One run of expat over text from position; errors are reported against
// the caller's text (through places for a list literal).
XML* runParse(XMLParser& holder, const String& text, i32& position, Error& error,
              const WrapperPlaces* places) {
    const i32 start = std::clamp(position, 0, text.length());
    XML_Parser parser = holder.expat;
    XMLBuilder builder(parser, text, start, holder);
    auto report = [&](i32 code, i64 at) {
        const String& shown = places ? *places->text : text;
        reportError(error, code, shown, places ? places->map(at) : i32(at), 1);
        return nullptr;
    };
    builder.root = builder.current = new XML(XML::kList);
    XML* xmlNamespace = XML::getXMLNamespace();
    if (xmlNamespace) {
        xmlNamespace->addRef();
        builder.bind(xmlNamespace, false);
    }
    String defaultURI;
    XML::getDefaultNamespaceURI(defaultURI);
    if (!defaultURI.isEmpty()) {
        XML* ns = new XML(XML::kNamespace);
        XMLTree::setValueOf(ns, defaultURI);
        builder.bind(ns, true);
    }
    builder.baseBindings = builder.bindings.mark();

    if (const i32 lone = findLoneSurrogate(text, start); lone >= 0)
        return report(Err::kNotWellFormed, lone);
    if (XML_ParserReset(parser, kHostUTF16) != XML_TRUE)
        return report(Err::kInternal, start);
    XML_SetBillionLaughsAttackProtectionMaximumAmplification(parser, kMaxAmplification);
    XML_SetBillionLaughsAttackProtectionActivationThreshold(parser, kAmplificationThreshold);
    XML_SetUserData(parser, &builder);
    XML_SetElementHandler(parser, onStartElement, onEndElement);
    XML_SetNamespaceDeclHandler(parser, onStartNamespace, onEndNamespace);
    XML_SetCharacterDataHandler(parser, onCharacters);
    XML_SetCommentHandler(parser, onComment);
    XML_SetProcessingInstructionHandler(parser, onInstruction);
    XML_SetCdataSectionHandler(parser, onStartCDATA, onEndCDATA);
    XML_SetEntityDeclHandler(parser, onEntity);

    const char* bytes = reinterpret_cast<const char*>(text.chars() + start);
    const i64 total = i64(text.length() - start) * 2;
    i64 done = 0;
    XML_Status status = XML_STATUS_OK;
    do {
        const i64 piece = std::min(total - done, kPieceBytes);
        done += piece;
        status = XML_Parse(parser, bytes + done - piece, int(piece), done == total);
    } while (status == XML_STATUS_OK && done < total);
    XML_SetUserData(parser, nullptr);

    const XML_Index index = builder.failure ? builder.failedAt : XML_GetCurrentByteIndex(parser);
    const i64 at = index >= 0 ? start + index / 2 : start;
    i32 code = builder.failure;
    if (!code && status != XML_STATUS_OK) {
        const XML_Error expatError = XML_GetErrorCode(parser);
        // Text ended before an element did: only text without any start tag
        // ("no element found") is whole.
        code = expatError == XML_ERROR_NO_ELEMENTS ? (builder.sawElement ? Err::kUnclosedToken : 0)
                                                   : coreErrorOf(expatError);
        if (!code && expatError != XML_ERROR_NO_ELEMENTS)
            code = Err::kSyntaxError;
    }
    if (code)
        return report(code, at);
    position = i32(std::min<i64>(at, text.length()));

    XML* root = builder.root;
    builder.root = nullptr;
    const i32 count = root->getChildCount();
    if (count > 1)
        return root;
    XML* result = count == 1 ? root->getChild(0) : new XML(XML::kText);
    if (count == 1)
        result->addRef();
    root->release();
    return result;
}

// "<>" content "</>": parsed inside a wrapper element whose children become
// the list's items.
XML* parseListLiteral(XMLParser& holder, const String& text, i32& position, Error& error, i32 open,
                      const String& defaultURI) {
    const i32 close = text.find(String("</>"), open + 2);
    if (close < 0) {
        i32 line = 0;
        i32 column = 0;
        lineAndColumn(text, open, line, column);
        pushNamed(error, Err::kMismatchedTag);
        error.setSource(text, line, open, column, 2);
        return nullptr;
    }
    String wrapper("<parent");
    if (!defaultURI.isEmpty()) {
        wrapper += " xmlns=\"";
        XML::appendEscapedAttributeValue(wrapper, defaultURI);
        wrapper += unit('"');
    }
    wrapper += unit('>');
    const WrapperPlaces places{&text, wrapper.length(), open + 2, close - (open + 2), close};
    wrapper.append(text.chars() + open + 2, close - (open + 2));
    wrapper += "</parent>";
    i32 at = 0;
    XML* parsed = runParse(holder, wrapper, at, error, &places);
    if (!parsed)
        return nullptr;
    XML* list = new XML(XML::kList);
    try {
        if (parsed->getKind() == XML::kElement) {
            for (i32 i = 0; i < parsed->getChildCount(); i++) {
                XML* item = parsed->getChild(i);
                item->addRef();
                XMLTree::adoptChild(list, item);
            }
        } else {
            parsed->addRef();
            XMLTree::adoptChild(list, parsed);
        }
        // The wrapper goes; its children lose it as their parent.
        parsed->release();
        parsed = nullptr;
        if (!defaultURI.isEmpty()) {
            XML* ns = new XML(XML::kNamespace);
            try {
                XMLTree::setValueOf(ns, defaultURI);
                for (i32 i = 0; i < list->getChildCount(); i++) {
                    XML* item = list->getChild(i);
                    if (item->getKind() != XML::kElement)
                        continue;
                    bool declared = false;
                    for (i32 d = 0; d < item->getDeclarationCount() && !declared; d++)
                        declared = item->getDeclaration(d)->getValue() == defaultURI;
                    if (!declared)
                        XMLTree::adoptDeclaration(item, ns);
                }
            } catch (...) {
                ns->release();
                throw;
            }
            ns->release();
        }
    } catch (...) {
        if (parsed)
            parsed->release();
        list->release();
        throw;
    }
    position = close + 3;
    return list;
}

// Nothing leaves the parser as an exception: it becomes the error's record.
template <class Parse>
XML* parseCatching(Error& error, Parse parse) {
    try {
        return parse();
    } catch (const std::bad_alloc&) {
        pushNamed(error, Err::kOutOfMemory);
    } catch (...) {
        pushNamed(error, Err::kUncaughtException);
    }
    return nullptr;
}

}  // namespace

XML* parseWithTokenizer(XMLParser& holder, const String& text, i32& position, Error& error) {
    return parseCatching(error, [&] { return runParse(holder, text, position, error, nullptr); });
}

XML* parseXMLText(const String& text, i32& position, Error& error, bool ignoreWhitespace,
                  bool ignoreComments, bool ignorePIs) {
    return parseCatching(error, [&]() -> XML* {
        const i32 start = std::clamp(position, 0, text.length());
        const i32 open = text.find(unit('<'), start);
        if (open < 0) {
            String plain = text.substr(start);
            if (ignoreWhitespace)
                plain.trim();       // units up to U+0020
            return new XML(XML::kText, plain);
        }
        String defaultURI;
        XML::getDefaultNamespaceURI(defaultURI);
        XMLParser holder;
        holder.ignoreWhitespace = ignoreWhitespace;
        holder.ignoreComments = ignoreComments;
        holder.ignorePIs = ignorePIs;
        ParserHolder owner(holder);
        holder.expat = XML_ParserCreate_MM(nullptr, &kHeapSuite, "\n");
        if (!holder.expat) {
            reportError(error, Err::kOutOfMemory, text, start, 1);
            return nullptr;
        }
        if (text.length() - open > 4 && text[open + 1] == '>')
            return parseListLiteral(holder, text, position, error, open, defaultURI);
        i32 at = start;
        XML* result = runParse(holder, text, at, error, nullptr);
        if (result)
            position = at;
        return result;
    });
}

}  // namespace LxCore
