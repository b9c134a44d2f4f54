// String: every method reads the text of this (rows that convert this have it
// as a primitive already; an object gives its string default value).
// Positions and lengths count UTF-16 units; bad positions never raise errors.
#include "script/library/StringClass.h"

#include <climits>

#include "core/Localizer.h"
#include "script/engine/Symbols.h"
#include "script/library/ArrayClass.h"
#include "script/library/LibrarySupport.h"
#include "script/library/RegExpClass.h"
#include "script/library/SourceText.h"

namespace LxScript {

using LxCore::String;
using LxCore::unit;

namespace {

String thisText(const Arguments& args) { return args.thisValue ? args.thisValue->toString() : String(); }

void answer(Arguments& args, const String& text) { args.result->setString(text); }

// The text of a wrapper's internal value (length and indexing).
String internalText(const Arguments& args) { return internalValueOf(args).toString(); }

i32 clamped(const Arguments& args, u32 i, i32 min, i32 max) { return args.arg(i).toInt(min, max); }

// Limits a position to 0..length.
i32 within(i64 position, i32 length) {
    return position < 0 ? 0 : (position > length ? length : i32(position));
}

bool isRegExpObject(const Variant& v) {
    Object* o = objectOf(v);
    return o && o->getClassID() == Sym::kRegExp;
}

// ---------------------------------------------------------------------------
// Construction and conversion

void stringConstructor(Arguments& args) {
    const String text = args.count() > 0 ? args.arg(0).toString() : String();
    if (args.mode == Arguments::kConstruct) {
        if (Object* self = thisObject(args)) {
            self->getPrivateValue().setString(text);
            self->setClassID(Sym::kString);
        }
        return;
    }
    answer(args, text);
}

// Each code cut to 16 bits: 4294967361 wraps to 65, "A".
void stringFromCharCode(Arguments& args) {
    String text;
    const u32 n = args.count();
    if (n > 0) {
        text.setLength(i32(n));
        unit* out = text.getBuffer();
        for (u32 i = 0; i < n; i++)
            out[i] = unit(args.arg(i).toInt());
    }
    answer(args, text);
}

void stringToSource(Arguments& args) {
    String text("(new String(");
    appendQuoted(text, internalText(args), true);
    text += "))";
    answer(args, text);
}

// ---------------------------------------------------------------------------
// Characters

void stringCharAt(Arguments& args) {
    const String text = thisText(args);
    const i32 index = clamped(args, 0, -1, INT_MAX);
    answer(args, index >= 0 && index < text.length() ? text.substr(index, 1) : String());
}

void stringCharCodeAt(Arguments& args) {
    const String text = thisText(args);
    const i32 index = args.count() == 0 ? 0 : clamped(args, 0, -1, INT_MAX);
    if (index >= 0 && index < text.length())
        args.result->setNumber(text[index]);
    else
        args.result->setNaN();
}

// s[i]: the unit at a name below the length, else nothing (also the probe).
void stringIndex(Arguments& args) {
    const String text = internalText(args);
    const u32 index = u32(args.name ? args.name->toInt() : 0);
    if (index < u32(text.length()))
        answer(args, text.substr(i32(index), 1));
}

void stringLength(Arguments& args) {
    if (args.mode == Arguments::kGet)
        args.result->setNumber(internalText(args).length());
}

// ---------------------------------------------------------------------------
// Searching

void stringConcat(Arguments& args) {
    String text = thisText(args);
    for (u32 i = 0; i < args.count(); i++)
        text += args.arg(i).toString();
    answer(args, text);
}

// The start is limited to the text, so a start far beyond it finds nothing
// but the empty text, which is found at the end.
void stringIndexOf(Arguments& args) {
    const String text = thisText(args);
    const String what = args.arg(0).toString();
    const i32 start = within(args.count() > 1 ? clamped(args, 1, 0, INT_MAX) : 0, text.length());
    args.result->setNumber(text.find(what, start, false));
}

void stringLastIndexOf(Arguments& args) {
    const String text = thisText(args);
    const String what = args.arg(0).toString();
    const Variant& from = args.arg(1);
    i32 start = INT_MAX;
    if (args.count() > 1 && from.getType() != Variant::kUndefined && !from.isNaN())
        start = from.toInt(0, INT_MAX);
    args.result->setNumber(text.find(what, within(start, text.length()), true));
}

// ---------------------------------------------------------------------------
// Extraction

void stringSlice(Arguments& args) {
    const String text = thisText(args);
    const i64 length = text.length();
    i64 start = args.arg(0).toInt();
    i64 end = args.count() >= 2 ? args.arg(1).toInt() : INT_MAX;
    if (start < 0)
        start += length;
    if (end < 0)
        end += length;
    const i32 from = within(start, i32(length)), to = within(end, i32(length));
    answer(args, from < to ? text.substr(from, to - from) : String());
}

void stringSubstring(Arguments& args) {
    const String text = thisText(args);
    const i32 start = within(clamped(args, 0, 0, INT_MAX), text.length());
    const i32 end = within(args.count() >= 2 ? clamped(args, 1, -1, INT_MAX) : INT_MAX, text.length());
    const i32 from = start < end ? start : end, to = start < end ? end : start;
    answer(args, text.substr(from, to - from));
}

// With one argument the rest of the text; with none, nothing.
void stringSubstr(Arguments& args) {
    const String text = thisText(args);
    i64 start = args.arg(0).toInt();
    if (start < 0)
        start += text.length();
    const i32 from = within(start, text.length());
    const i32 count = args.count() == 1 ? text.length() : clamped(args, 1, 0, INT_MAX);
    if (count < 1 || from >= text.length())
        return answer(args, String());
    answer(args, text.substr(from, count < text.length() - from ? count : text.length() - from));
}

// ---------------------------------------------------------------------------
// Case and comparison

void changeCase(Arguments& args, bool toLower, bool locale) {
    String text = thisText(args);
    if (locale)
        text = LxCore::Localizer::toLocaleCase(text, toLower);
    else if (toLower)
        text.toLower();
    else
        text.toUpper();
    answer(args, text);
}

void stringToLowerCase(Arguments& args) { changeCase(args, true, false); }
void stringToUpperCase(Arguments& args) { changeCase(args, false, false); }
void stringToLocaleLowerCase(Arguments& args) { changeCase(args, true, true); }
void stringToLocaleUpperCase(Arguments& args) { changeCase(args, false, true); }

void stringLocaleCompare(Arguments& args) {
    const i32 r = LxCore::Localizer::localeCompare(thisText(args), args.arg(0).toString());
    args.result->setNumber(r < 0 ? -1 : (r > 0 ? 1 : 0));
}

// ---------------------------------------------------------------------------
// Patterns

// A RegExp object made by the engine from pattern arguments; null with the
// engine's error set when the pattern does not compile.
ObjectRef makeRegExp(Arguments& args, const LxCore::BasicArray& patternArgs) {
    Variant made;
    engineOf(args).newObject(made, Sym::kRegExp, &patternArgs, nullptr);
    if (errorPending(args))
        return ObjectRef();
    return ObjectRef(objectOf(made));
}

// The pattern of match and search: the argument itself when it is a RegExp,
// else one made from all the call's arguments (the second being the flags).
ObjectRef patternArgument(Arguments& args) {
    if (isRegExpObject(args.arg(0)))
        return ObjectRef(objectOf(args.arg(0)));
    LxCore::Array none;
    return makeRegExp(args, args.args ? *args.args : none);
}

void stringMatch(Arguments& args) {
    if (ObjectRef pattern = patternArgument(args))
        patternMatch(engineOf(args), *pattern, thisText(args), *args.result);
}

void stringSearch(Arguments& args) {
    if (ObjectRef pattern = patternArgument(args))
        patternSearch(engineOf(args), *pattern, thisText(args), *args.result);
}

// A function as the replacement is called for each match instead.
void replaceByPattern(Arguments& args, const ObjectRef& pattern) {
    if (!pattern)
        return;
    Object* replacer = objectOf(args.arg(1));
    if (replacer && !replacer->asFunction())
        replacer = nullptr;
    ObjectRef held(replacer);
    const String replacement = replacer ? String() : args.arg(1).toString();
    if (!errorPending(args))
        patternReplace(engineOf(args), *pattern, thisText(args), replacement, replacer, *args.result);
}

// A string pattern with two arguments: the first occurrence, replaced
// literally ("$&" stays "$&"; a function counts by its text).
void stringReplace(Arguments& args) {
    if (isRegExpObject(args.arg(0)))
        return replaceByPattern(args, ObjectRef(objectOf(args.arg(0))));
    if (args.count() >= 3) {
        LxCore::Array patternArgs;
        patternArgs.getOrCreate(0) = args.arg(0);
        patternArgs.getOrCreate(1) = args.arg(2);
        return replaceByPattern(args, makeRegExp(args, patternArgs));
    }
    String text = thisText(args);
    const String what = args.arg(0).toString();
    const i32 at = text.find(what, 0, false);
    if (at >= 0) {
        text.erase(at, what.length());
        text.insert(args.arg(1).toString(), at);
    }
    answer(args, text);
}

// A string separator; undefined is the text "undefined". The limit counts
// elements, taken unsigned from the 32-bit conversion. Each piece is a unit
// of the engine's pollWork: a stopped split answers nothing.
void stringSplit(Arguments& args) {
    RealEngine& engine = engineOf(args);
    const bool unlimited = args.arg(1).getType() == Variant::kUndefined;
    const u32 limit = unlimited ? 0xFFFFFFFF : u32(args.arg(1).toInt());
    LxCore::Array pieces;
    if (limit != 0) {
        if (isRegExpObject(args.arg(0)))
            return patternSplit(engine, *objectOf(args.arg(0)), thisText(args), limit, *args.result);
        const String text = thisText(args);
        const String separator = args.arg(0).toString();
        const i32 n = text.length();
        if (separator.isEmpty()) {
            const u32 count = u32(n) < limit ? u32(n) : limit;
            for (u32 i = 0; i < count; i++) {
                if (!engine.pollWork())
                    return;
                pieces.getOrCreate(i).setString(text.substr(i32(i), 1));
            }
        } else {
            i32 p = 0;
            for (;;) {
                if (!engine.pollWork())
                    return;
                const i32 found = text.find(separator, p, false);
                if (found < 0) {
                    pieces.getOrCreate(pieces.length()).setString(text.substr(p));
                    break;
                }
                pieces.getOrCreate(pieces.length()).setString(text.substr(p, found - p));
                p = found + separator.length();
                if (pieces.length() >= limit)
                    break;
            }
        }
    }
    newArrayOf(engine, pieces, *args.result);
}

// ---------------------------------------------------------------------------
// HTML wrappers: "<" + the tag with the argument in place of "%ls" + ">",
// the text, and the closing tag, the format up to its first space.

void wrap(Arguments& args, const char* format) {
    String open(format);
    const i32 slot = open.find("%ls");
    if (slot >= 0) {
        open.erase(slot, 3);
        open.insert(args.count() > 0 ? args.arg(0).toString() : String(), slot);
    }
    String close(format);
    const i32 space = close.find(unit(' '));
    if (space >= 0)
        close.setLength(space);
    String text("<");
    text += open;
    text += ">";
    text += thisText(args);
    text += "</";
    text += close;
    text += ">";
    answer(args, text);
}

void stringAnchor(Arguments& args) { wrap(args, "a name=\"%ls\""); }
void stringBig(Arguments& args) { wrap(args, "big"); }
void stringBlink(Arguments& args) { wrap(args, "blink"); }
void stringBold(Arguments& args) { wrap(args, "b"); }
void stringFixed(Arguments& args) { wrap(args, "tt"); }
void stringFontcolor(Arguments& args) { wrap(args, "font color=\"%ls\""); }
void stringFontsize(Arguments& args) { wrap(args, "font size=\"%ls\""); }
void stringItalics(Arguments& args) { wrap(args, "i"); }
void stringLink(Arguments& args) { wrap(args, "a href=\"%ls\""); }
void stringSmall(Arguments& args) { wrap(args, "small"); }
void stringStrike(Arguments& args) { wrap(args, "strike"); }
void stringSub(Arguments& args) { wrap(args, "sub"); }
void stringSup(Arguments& args) { wrap(args, "sup"); }

const PropEntry kStringTable[] = {
    {"String", 1, kHiddenMethod | kArgsToString, stringConstructor, "String,what:any"},
    {"fromCharCode", 1, kStaticMethod | kThisToString | kArgsToString, stringFromCharCode, "String,code:number"},
    {"toString", 0, kInstanceMethod, internalValueHandler, "string"},
    {"toSource", 0, kInstanceMethod, stringToSource, "string"},
    {"valueOf", 0, kInstanceMethod, internalValueHandler, "string"},
    {"charAt", 1, kMethod | kThisToString | kArgsToString, stringCharAt, "string,index:number"},
    {"charCodeAt", 1, kMethod | kThisToString | kArgsToString, stringCharCodeAt, "number,index:number"},
    {"concat", 1, kMethod | kThisToString | kArgsToString, stringConcat, "string,text:string"},
    {"indexOf", 1, kMethod | kThisToString | kArgsToString, stringIndexOf, "number,what:string"},
    {"lastIndexOf", 1, kMethod | kThisToString | kArgsToString, stringLastIndexOf, "number,what:string"},
    {"slice", 2, kMethod | kThisToString | kArgsToString, stringSlice, "string,start:number,end:number"},
    {"toLowerCase", 0, kMethod | kThisToString | kArgsToString, stringToLowerCase, "string"},
    {"toUpperCase", 0, kMethod | kThisToString | kArgsToString, stringToUpperCase, "string"},
    {"toLocaleLowerCase", 0, kMethod | kThisToString | kArgsToString, stringToLocaleLowerCase, "string"},
    {"toLocaleUpperCase", 0, kMethod | kThisToString | kArgsToString, stringToLocaleUpperCase, "string"},
    {"localeCompare", 1, kMethod | kThisToString | kArgsToString, stringLocaleCompare, "string,what:string"},
    {"match", 1, kMethod | kThisToString, stringMatch, "Array,regexp:RegExp"},
    {"replace", 2, kMethod | kThisToString, stringReplace, "string,what:any,with:string"},
    {"search", 1, kMethod | kThisToString, stringSearch, "number,search:RegExp"},
    {"split", 2, kMethod | kThisToString, stringSplit, "string,sep:string,limit:number"},
    {"substr", 2, kMethod | kThisToString | kArgsToNumber, stringSubstr, "string,start:number,end:number"},
    {"substring", 2, kMethod | kThisToString | kArgsToNumber, stringSubstring, "string,start:number,end:number"},
    {".index", 0, kReadOnlyValue, stringIndex, nullptr},
    {"length", 0, kReadOnlyValue, stringLength, "number"},
    {"anchor", 1, kMethod | kThisToString | kArgsToString, stringAnchor, "string,text:string"},
    {"big", 0, kMethod | kThisToString | kArgsToString, stringBig, "string"},
    {"blink", 0, kMethod | kThisToString | kArgsToString, stringBlink, "string"},
    {"bold", 0, kMethod | kThisToString | kArgsToString, stringBold, "string"},
    {"fixed", 0, kMethod | kThisToString | kArgsToString, stringFixed, "string"},
    {"fontcolor", 1, kMethod | kThisToString | kArgsToString, stringFontcolor, "string,text:string"},
    {"fontsize", 1, kMethod | kThisToString | kArgsToString, stringFontsize, "string,text:string"},
    {"italics", 0, kMethod | kThisToString | kArgsToString, stringItalics, "string"},
    {"link", 1, kMethod | kThisToString | kArgsToString, stringLink, "string,text:string"},
    {"small", 0, kMethod | kThisToString | kArgsToString, stringSmall, "string"},
    {"strike", 0, kMethod | kThisToString | kArgsToString, stringStrike, "string"},
    {"sub", 0, kMethod | kThisToString | kArgsToString, stringSub, "string"},
    {"sup", 0, kMethod | kThisToString | kArgsToString, stringSup, "string"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

jsStringClass::jsStringClass() : Dispatcher("JavaScript") {
    addClass("String");
    registerProperties(0, kStringTable);
}

Dispatcher* newStringClass(const char*) { return new jsStringClass; }

}  // namespace LxScript
