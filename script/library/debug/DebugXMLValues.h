// The pieces the XML debug commands build their replies from: request
// attributes, reply texts kept well-formed, CDATA runs, and the "value",
// "error", "properties" and "profiling" elements.
#pragma once
#include <utility>
#include <vector>

#include "core/Error.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/XML.h"
#include "script/engine/Object.h"

namespace LxScript {

class DebugAPI;
class Property;
class RealEngine;
class RuntimeEnv;

namespace DebugXML {

using LxCore::String;
using LxCore::XML;

// One reference to a reply node, released on every way out unless taken.
class XMLHold {
public:
    explicit XMLHold(XML* node = nullptr) : node(node) {}
    ~XMLHold() { reset(nullptr); }
    XMLHold(const XMLHold&) = delete;
    XMLHold& operator=(const XMLHold&) = delete;
    XML* get() const { return node; }
    XML* operator->() const { return node; }
    XML* take() {
        XML* out = node;
        node = nullptr;
        return out;
    }
    void reset(XML* fresh) {
        if (node)
            node->release();
        node = fresh;
    }

private:
    XML* node;
};

// ---- Requests ----
bool hasAttribute(const XML& request, const char* name);
String textAttribute(const XML& request, const char* name);
// Base 10, an optional sign and digits only; anything else, and numbers
// outside 32 bits, read as 0.
i32 intAttribute(const XML& request, const char* name);
// "true" or a non-zero base-10 number.
bool isTrueText(const String& text);
bool boolAttribute(const XML& request, const char* name);
// The first child element of that name, or null (borrowed).
XML* childElement(const XML& request, const char* name);
// How many child elements carry that name.
i32 countChildElements(const XML& request, const char* name);

// ---- Replies ----
// Control units (but TAB, LF and CR), U+FFFE, U+FFFF and lone surrogates
// would make the reply ill-formed or not UTF-8: they become U+FFFD.
String wellFormed(const String& text);
XML* newElement(const char* name);
void setAttribute(XML& element, const char* name, const String& text);
void setNumber(XML& element, const char* name, i64 number);
// Plain text content (the printer escapes it).
void addText(XML& element, const String& text);
// Free text as CDATA: cut behind the "]]" of every "]]>", one section a piece.
void addCDATA(XML& element, const String& text);
// A child element holding the text as CDATA.
XML* addCDATAChild(XML& element, const char* name, const String& text);
// The text of a data-pool symbol (file and function names).
String symbolText(i32 symbol);

// Slots whose changes a reply reports: their change states are reset only
// when the reply is really handed out. The owners are held meanwhile, so
// the slots stay in their chains.
class ChangeResets {
public:
    void add(Object* owner, Property* slot);
    void apply();

private:
    std::vector<std::pair<ObjectRef, Property*>> slots;
};

// What a "properties" request leaves out.
struct Exclusions {
    std::vector<String> types;      // type and class names
    bool builtIn = false;
    bool prototypes = false;

    explicit Exclusions(const String& list);
    bool excludes(const String& typeName) const;
};

// Null when the value's type is left out.
XML* valueElement(RealEngine& engine, const Variant& value, const Exclusions* excluded);
// Null for an empty list or code 0.
XML* errorElement(const LxCore::Error& list);
// "get-properties" over the request; null with the failure in errors.
XML* propertiesElement(DebugAPI& api, const XML& request, LxCore::Error& errors, ChangeResets& resets);
// Whether the request asks for a "properties" element beside its own reply.
bool wantsProperties(const XML& request);
XML* profilingElement(DebugAPI& api, i32 level, bool erase);

}  // namespace DebugXML
}  // namespace LxScript
