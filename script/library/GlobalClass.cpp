// The global functions.
#include "script/library/GlobalClass.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/Localizer.h"
#include "core/NumberText.h"
#include "script/engine/RealEngine.h"
#include "script/engine/TVContext.h"
#include "script/frontend/ParserAPI.h"
#include "script/library/LibrarySupport.h"
#include "script/library/SourceText.h"
#include "script/library/e4x/XMLObject.h"

namespace LxScript {

using LxCore::String;
using LxCore::unit;
namespace Err = LxCore::Err;

namespace {

constexpr i32 kEvalGlobalScope = 0x10;

// What encodeURI and encodeURIComponent keep besides letters and digits.
constexpr const char* kURIKept = "-_.!~*'();/?:@&=+$,#";
constexpr const char* kComponentKept = "-_.!~*'()";
// What escape() keeps besides letters and digits.
constexpr const char* kEscapeKept = "*@-_+./";

i32 hexValue(unit c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isAsciiAlnum(unit c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The text without its leading white space (the library's class).
String trimLeading(const String& text) {
    i32 i = 0;
    while (i < text.length() && LxCore::isWhiteSpaceChar(text[i]))
        i++;
    return i == 0 ? text : text.substr(i);
}

void encode(Arguments& args, const char* kept) {
    String text = args.arg(0).toString();
    const String original = text;
    if (!text.encodeURI(kept)) {
        raise(args, Err::kBadURI, original);
        args.result->setString(original);
        return;
    }
    args.result->setString(text);
}

void encodeURI(Arguments& args) { encode(args, kURIKept); }

void encodeURIComponent(Arguments& args) { encode(args, kComponentKept); }

// Reserved characters are decoded as well; both names share this.
void decodeURI(Arguments& args) {
    String text = args.arg(0).toString();
    const String original = text;
    if (!text.decodeURI())
        raise(args, Err::kBadURI, original);
    args.result->setString(text);
}

void escape(Arguments& args) { args.result->setString(escapeText(args.arg(0).toString())); }

void unescape(Arguments& args) { args.result->setString(unescapeText(args.arg(0).toString())); }

// Runs only on the global object; anything but a string is its own value.
void eval(Arguments& args) {
    const Variant& source = args.arg(0);
    if (source.getType() != Variant::kString) {
        *args.result = source;
        return;
    }
    Object* self = thisObject(args);
    if (!self || self->getObjectID() != kGlobalObjectId) {
        raise(args, Err::kEvaluation, String());
        return;
    }
    const Variant& second = args.arg(1);
    const i32 flags = second.getType() == Variant::kBoolean && second.toBoolean() ? kEvalGlobalScope : 0;
    RealEngine& engine = engineOf(args);
    engine.eval(source.toString(), args.result, engine.timeoutWithinRun(0), flags, nullptr, nullptr);
}

void uneval(Arguments& args) {
    String out;
    if (appendValueSource(engineOf(args), args.arg(0), out, false))
        args.result->setString(out);
}

void isFinite(Arguments& args) { args.result->setBool(args.arg(0).isFinite()); }

void isNaN(Arguments& args) { args.result->setBool(args.arg(0).isNaN()); }

// A leading 0 reads as octal, as it always has here.
void parseInt(Arguments& args) {
    const String text = trimLeading(args.arg(0).toString());
    const u32 radix = args.count() >= 2 ? u32(args.arg(1).toInt()) : 0;
    if (text.isEmpty()) {
        args.result->setNaN();
        return;
    }
    args.result->setNumber(LxCore::parseInteger(text, radix, LxCore::kParsePrefix));
}

void parseFloat(Arguments& args) {
    const String text = trimLeading(args.arg(0).toString());
    if (text.isEmpty()) {
        args.result->setNaN();
        return;
    }
    constexpr u32 kFlags = LxCore::kParsePrefix | LxCore::kParseNoOctal | LxCore::kParseNoHex;
    args.result->setNumber(LxCore::parseNumber(text, kFlags));
}

// Raises the thread's localisation nesting for a scope, so that objects
// converted inside print their text for the locale.
class LocalizeScope {
public:
    LocalizeScope() : context(TVContext::get()) { context.localizeNesting++; }
    ~LocalizeScope() { context.localizeNesting--; }
    LocalizeScope(const LocalizeScope&) = delete;
    LocalizeScope& operator=(const LocalizeScope&) = delete;

private:
    TVContext& context;
};

void localize(Arguments& args) {
    LocalizeScope scope;
    const String text = args.arg(0).toString();
    if (errorPending(args))
        return;
    LxCore::Array rest;
    for (u32 i = 1; i < args.count(); i++)
        rest.getOrCreate(i - 1) = args.arg(i);
    args.result->setString(LxCore::Localizer::localize(text, &rest));
}

void debugOnly(Arguments& args) { raise(args, Err::kText, String("Only available in the debug version")); }

// The parse tree of a text in its printed form.
void parse(Arguments& args) {
    auto* parser = static_cast<ParserAPI*>(args.engine->getAPI(API::kParser));
    if (!parser)
        return;
    ScopeNode* root = parser->parse(args.arg(0).toString());
    if (root && !errorPending(args))
        args.result->setString(root->toString());
    delete root;
}

void isXMLNameFunction(Arguments& args) { args.result->setBool(isXMLName(*args.engine, args.arg(0))); }

// Also what the "default xml namespace = ..." statement calls.
void setDefaultXMLNamespaceFunction(Arguments& args) { setDefaultXMLNamespace(args.arg(0), *args.result); }

const PropEntry kGlobalTable[] = {
    {"NaN", 'N', kDontEnum, nullptr, "number"},
    {"Infinity", 'I', kDontEnum, nullptr, "number"},
    {"undefined", 'U', kDontEnum, nullptr, "undefined"},
    {"encodeURI", 1, kMethod | kArgsToString, encodeURI, "string,text:string"},
    {"encodeURIComponent", 1, kMethod | kArgsToString, encodeURIComponent, "string,text:string"},
    {"decodeURI", 1, kMethod | kArgsToString, decodeURI, "string,uri:string"},
    {"decodeURIComponent", 1, kMethod | kArgsToString, decodeURI, "string,uri:string"},
    {"escape", 1, kMethod | kArgsToString, escape, "string,text:string"},
    {"eval", 1, kMethod, eval, "any,source:string"},
    {"uneval", 1, kMethod, uneval, "string,what:any"},
    {"isFinite", 1, kMethod | kArgsToNumber, isFinite, "boolean,what:number"},
    {"isNaN", 1, kMethod | kArgsToNumber, isNaN, "boolean,what:number"},
    {"parseInt", 2, kMethod | kArgsToNumber, parseInt, "number,text:string,base:number"},
    {"parseFloat", 1, kMethod | kArgsToNumber, parseFloat, "number,txt:string"},
    {"unescape", 1, kMethod | kArgsToString, unescape, "string,uri:string"},
    {"localize", 1, kMethod, localize, "string,what:any"},
    {"_c", 1, kHiddenMethod | kArgsToString, debugOnly, nullptr},
    {"__parse", 1, kHiddenMethod | kArgsToString, parse, nullptr},
    {"isXMLName", 1, kMethod, isXMLNameFunction, "boolean,name:string"},
    {"setDefaultXMLNamespace", 1, kMethod, setDefaultXMLNamespaceFunction, "ns:Namespace"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

String escapeText(const String& text) {
    String out;
    char code[8];
    for (i32 i = 0; i < text.length(); i++) {
        const unit c = text[i];
        if (isAsciiAlnum(c) || (c < 128 && c != 0 && std::strchr(kEscapeKept, char(c)))) {
            out += c;
            continue;
        }
        std::snprintf(code, sizeof code, c < 256 ? "%%%02X" : "%%u%04X", unsigned(c));
        out += code;
    }
    return out;
}

String unescapeText(const String& text) {
    String out;
    const i32 n = text.length();
    for (i32 i = 0; i < n; i++) {
        const unit c = text[i];
        if (c != '%') {
            out += c;
            continue;
        }
        const bool wide = i + 1 < n && (text[i + 1] == 'u' || text[i + 1] == 'U');
        const i32 first = wide ? i + 2 : i + 1;
        const i32 digits = wide ? 4 : 2;
        u32 value = 0;
        bool valid = first + digits <= n;
        for (i32 k = 0; valid && k < digits; k++) {
            const i32 d = hexValue(text[first + k]);
            valid = d >= 0;
            value = value * 16 + u32(d);
        }
        if (!valid) {
            out += c;   // kept; the scan goes on after the "%"
            continue;
        }
        out += unit(value);
        i = first + digits - 1;
    }
    return out;
}

jsGlobalClass::jsGlobalClass() : Dispatcher("JavaScript") {
    addClass("global");
    registerProperties(0, kGlobalTable);
}

void jsGlobalClass::get(Arguments& args) {
    switch (args.mode) {
        case 'I': args.result->setInfinity(); break;
        case 'N': args.result->setNaN(); break;
        case 'U': args.result->clear(); break;
        default: break;
    }
}

Dispatcher* newGlobalClass(const char*) { return new jsGlobalClass; }

}  // namespace LxScript
