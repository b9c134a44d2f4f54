// The RegExp class table and its handlers; the matching itself is in
// PatternMatching.cpp. Every handler copies the pattern handle and the text
// it works on before anything can run script.
#include "script/library/RegExpClass.h"

#include <cmath>
#include <optional>

#include "core/ErrorCodes.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/library/ArrayClass.h"
#include "script/library/PatternMatching.h"

namespace LxScript {

using LxCore::Array;
using LxCore::RegExp;
using LxCore::String;
using LxCore::unit;
namespace Err = LxCore::Err;

namespace {

// Attributes of the instance properties a pattern brings.
constexpr u32 kFlagAttributes = kReadOnlyValue;
constexpr u32 kLastIndexAttributes = kFixedValue;

// The largest start exec takes from lastIndex.
constexpr f64 kLargestStart = 2147483647.0;

// Symbols the handlers use, made once with the class.
struct Symbols {
    DataPoolId lastIndex, index, input, global, ignoreCase, multiline, source;
};
Symbols sym;

RealEngine& realEngine(Arguments& args) { return *static_cast<RealEngine*>(args.engine); }

bool errorPending(Engine& engine) { return engine.getError().getCode() != 0; }

// Raises what an operation answered: 27, or nothing when the engine holds
// the error already (a replacer's own, a deadline, a halt).
void raise(Engine& engine, i32 status) {
    if (status > 0)
        engine.setError(status);
}

Object* regExpObject(const Variant& value) {
    Object* o = objectOf(value);
    return o && o->getClassID() == Sym::kRegExp ? o : nullptr;
}

// The flag bits of "g", "i" and "m" in any order, repeats allowed; false for
// any other character.
bool readFlags(const String& text, u32& flags) {
    flags = 0;
    for (i32 i = 0; i < text.length(); i++) {
        switch (text[i]) {
        case 'g': flags |= LxCore::kRegExpGlobal; break;
        case 'i': flags |= LxCore::kRegExpIgnoreCase; break;
        case 'm': flags |= LxCore::kRegExpMultiline; break;
        default: return false;
        }
    }
    return true;
}

// Sets an instance property whatever its attributes: installing a pattern
// resets read-only ones too.
void setOwn(Object& object, DataPoolId symbol, const Variant& value, u32 attributes) {
    if (Property* slot = object.findOwnProperty(symbol, 0)) {
        slot->cachedValue() = value;
        slot->setAttributes(attributes);
    } else {
        object.createProperty(symbol, value, attributes);
    }
}

void install(Object& object, const RegExp& pattern) {
    object.getPrivateValue().setRegExp(pattern);
    const u32 flags = pattern.getFlags();
    setOwn(object, sym.global, Variant((flags & LxCore::kRegExpGlobal) != 0), kFlagAttributes);
    setOwn(object, sym.ignoreCase, Variant((flags & LxCore::kRegExpIgnoreCase) != 0), kFlagAttributes);
    setOwn(object, sym.multiline, Variant((flags & LxCore::kRegExpMultiline) != 0), kFlagAttributes);
    setOwn(object, sym.source, Variant(pattern.getSource()), kFlagAttributes);
    setOwn(object, sym.lastIndex, Variant(0), kLastIndexAttributes);
}

// Compiles and installs; raises 8 (27 for a pattern nested too deep) and
// installs nothing when the flags or the pattern are bad.
void compileInto(Engine& engine, Object& object, const String& source, const String& flagText) {
    u32 flags = 0;
    if (!readFlags(flagText, flags)) {
        engine.setError(Err::kSyntaxError);
        return;
    }
    RegExp pattern = LxCore::compileRegExp(source, flags);
    if (!pattern.isValid()) {
        engine.setError(pattern.getStatus() ? pattern.getStatus() : Err::kSyntaxError);
        return;
    }
    install(object, pattern);
}

// The text of an argument, empty when it is undefined.
String textOrEmpty(const Variant& value) {
    return value.getType() == Variant::kUndefined ? String() : value.toString();
}

// A regular expression's source as it may stand between two slashes: "/"
// escaped, line ends as escapes, the empty source as an empty group.
String literalSource(const String& source) {
    if (source.isEmpty())
        return String("(?:)");
    String out;
    const unit* s = source.chars();
    const i32 n = source.length();
    auto lineEnd = [&out](unit c) {
        if (c == '\n')
            out += "n";
        else if (c == '\r')
            out += "r";
        else if (c == 0x2028)
            out += "u2028";
        else
            out += "u2029";
    };
    for (i32 i = 0; i < n; i++) {
        unit c = s[i];
        bool isLineEnd = c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029;
        if (c == '\\' && i + 1 < n) {
            out += c;
            c = s[++i];
            if (c == '\n' || c == '\r' || c == 0x2028 || c == 0x2029)
                lineEnd(c);
            else
                out += c;
        } else if (c == '/') {
            out += "\\/";
        } else if (isLineEnd) {
            out += unit('\\');
            lineEnd(c);
        } else {
            out += c;
        }
    }
    return out;
}

String patternText(const Variant& thisValue) {
    const RegExp* pattern = patternOf(thisValue);
    if (!pattern)
        return String("/[invalid]/");
    String text("/");
    text += literalSource(pattern->getSource());
    text += "/";
    const u32 flags = pattern->getFlags();
    if (flags & LxCore::kRegExpGlobal)
        text += "g";
    if (flags & LxCore::kRegExpIgnoreCase)
        text += "i";
    if (flags & LxCore::kRegExpMultiline)
        text += "m";
    return text;
}

// A new Array of the list with "index" and "input", in result.
void makeMatchArray(RealEngine& engine, const Array& list, i32 index, const String& text,
                    Variant& result) {
    Variant made;
    newArrayOf(engine, list, made);
    if (Object* array = objectOf(made)) {
        array->put(sym.index, Variant(f64(index)), 0);
        array->put(sym.input, Variant(text), 0);
        result = made;
    }
}

// ---------------------------------------------------------------------------
// Handlers

void construct(Arguments& args) {
    RealEngine& engine = realEngine(args);
    const Variant& first = args.arg(0);
    const Variant& second = args.arg(1);
    if (args.mode != Arguments::kConstruct) {
        if (regExpObject(first) && second.getType() == Variant::kUndefined)
            *args.result = first;
        else
            engine.newObject(*args.result, Sym::kRegExp, args.args, nullptr);
        return;
    }
    Object* self = objectOf(*args.thisValue);
    if (!self || patternOf(*args.thisValue))
        return;
    if (Object* other = regExpObject(first)) {
        if (second.getType() != Variant::kUndefined)
            engine.setError(Err::kBadArgument, second.toString(), -1, false);
        if (const RegExp* pattern = patternOf(Variant(other)))
            install(*self, RegExp(*pattern));
        return;
    }
    const String source = textOrEmpty(first);
    if (errorPending(engine))
        return;
    const String flags = textOrEmpty(second);
    if (errorPending(engine))
        return;
    compileInto(engine, *self, source, flags);
}

void compile(Arguments& args) {
    RealEngine& engine = realEngine(args);
    Object* self = objectOf(*args.thisValue);
    const String source = textOrEmpty(args.arg(0));
    if (errorPending(engine))
        return;
    const String flags = textOrEmpty(args.arg(1));
    if (self && !errorPending(engine))
        compileInto(engine, *self, source, flags);
}

// What exec and test work on, taken before any script can run: the object
// (held), its pattern (a counted copy) and the text (the argument's, else
// RegExp.input).
struct MatchCall {
    RealEngine& engine;
    reGlobals& globals;
    ObjectRef self;
    std::optional<RegExp> pattern;
    String text;
    bool fromInput = false;
    bool global = false;        // the pattern's flag or the class-level switch

    explicit MatchCall(Arguments& args)
        : engine(realEngine(args)), globals(regExpGlobals(engine)), self(objectOf(*args.thisValue)) {
        const RegExp* held = patternOf(*args.thisValue);
        if (!self || !held)
            return;
        pattern.emplace(*held);
        global = ((held->getFlags() | globals.flags) & LxCore::kRegExpGlobal) != 0;
        fromInput = args.count() == 0;
        text = fromInput ? globals.input : args.arg(0).toString();
    }
    // False when there is no pattern or the text's conversion raised an error.
    bool ready() const { return pattern && !errorPending(engine); }
    // lastIndex as a number; NaN when reading it raised an error.
    f64 lastIndex() {
        Variant value;
        self->get(sym.lastIndex, value, 0);
        const f64 n = value.toNumber();
        return errorPending(engine) ? NAN : n;
    }
    void setLastIndex(f64 n) { self->put(sym.lastIndex, Variant(n), 0); }
    // The matching step from start; false when it raised 27 or was stopped.
    bool match(i32 start, CaptureArray& pairs, i32& end) {
        LxCore::WorkMeter meter;
        if (i32 status = globals.match(*pattern, text, start, pairs, end, &meter)) {
            raise(engine, status);
            return false;
        }
        return true;
    }
};

void exec(Arguments& args) {
    args.result->setNull();
    MatchCall call(args);
    if (!call.ready())
        return;
    if (call.fromInput && call.text.isEmpty()) {
        call.engine.setError(Err::kSyntaxError);
        return;
    }
    i32 start = 0;
    if (call.global) {
        const f64 n = call.lastIndex();
        if (errorPending(call.engine))
            return;
        start = n >= 0 && n <= kLargestStart ? i32(n) : i32(kLargestStart);
        if (start >= call.text.length()) {
            call.setLastIndex(0);
            return;
        }
    }
    CaptureArray pairs(*call.pattern);
    i32 end = -1;
    if (!call.match(start, pairs, end))
        return;
    if (end < 0) {
        // A global search that finds nothing starts over next time.
        if (call.global)
            call.setLastIndex(0);
        return;
    }
    const Array list = call.globals.matches;
    makeMatchArray(call.engine, list, pairs[0].start, call.text, *args.result);
    call.setLastIndex(end);
}

// As exec, but lastIndex is read without bounds and never written.
void test(Arguments& args) {
    args.result->setBool(false);
    MatchCall call(args);
    if (!call.ready())
        return;
    i32 start = 0;
    if (call.global) {
        const f64 n = call.lastIndex();
        if (errorPending(call.engine))
            return;
        start = Variant(n).toInt(INT32_MIN, INT32_MAX);
    }
    CaptureArray pairs(*call.pattern);
    i32 end = -1;
    if (call.match(start, pairs, end))
        args.result->setBool(end >= 0);
}

void toString(Arguments& args) { args.result->setString(patternText(*args.thisValue)); }

void toSource(Arguments& args) {
    String text("(new RegExp(");
    text += patternText(*args.thisValue);
    text += "))";
    args.result->setString(text);
}

// Method rows: id = declared argument count. Class-level rows: id = the code
// get and put switch on.
const PropEntry kTable[] = {
    {"RegExp", 1, kHiddenMethod, construct, "RegExp,pattern:string,flags:string"},
    {"toString", 0, kInstanceMethod, toString, "string"},
    {"toSource", 0, kInstanceMethod, toSource, "string"},
    {"compile", 1, kInstanceMethod, compile, "boolean,pattern:string"},
    {"exec", 1, kInstanceMethod, exec, "Array,text:string"},
    {"", 1, kInstanceMethod, exec, nullptr},
    {"test", 1, kInstanceMethod, test, "boolean,text:string"},
    {"$1", 1, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$2", 2, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$3", 3, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$4", 4, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$5", 5, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$6", 6, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$7", 7, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$8", 8, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$9", 9, kStatic | kReadOnlyValue, nullptr, "string"},
    {"$&", '&', kStatic | kReadOnlyValue, nullptr, "string"},
    {"$'", '"', kStatic | kReadOnlyValue, nullptr, "string"},
    {"$`", '`', kStatic | kReadOnlyValue, nullptr, "string"},
    {"$+", '+', kStatic | kReadOnlyValue, nullptr, "string"},
    {"$_", '_', kStatic | kFixedValue, nullptr, "string"},
    {"$*", '*', kStatic | kFixedValue, nullptr, "string"},
    {"lastMatch", '&', kStatic | kReadOnlyValue, nullptr, "string"},
    {"lastParen", '+', kStatic | kReadOnlyValue, nullptr, "string"},
    {"leftContext", '`', kStatic | kReadOnlyValue, nullptr, "string"},
    {"rightContext", '"', kStatic | kReadOnlyValue, nullptr, "string"},
    {"global", 'G', kStatic | kFixedValue, nullptr, "boolean"},
    {"ignoreCase", 'I', kStatic | kFixedValue, nullptr, "boolean"},
    {"multiline", '*', kStatic | kFixedValue, nullptr, "boolean"},
    {"input", '_', kStatic | kFixedValue, nullptr, "string"},
    {nullptr, 0, 0, nullptr, nullptr},
};

// The text of element i of the match array, empty when missing or undefined.
String matchText(const reGlobals& globals, u32 i) {
    const Variant* v = globals.matches.get(i);
    return v && v->getType() != Variant::kUndefined ? v->toString() : String();
}

u16 flagOfId(u32 id) {
    return id == 'G' ? kClassGlobal : id == 'I' ? kClassIgnoreCase : id == '*' ? kClassMultiline : 0;
}

// Replaces the matches of one pattern by calling a script function.
class FunctionReplacer : public Replacer {
public:
    FunctionReplacer(RealEngine& engine, Object& function) : engine(engine), function(&function) {}

    bool replace(const Array& args, String& out) override {
        Variant result;
        function->call(engine.getGlobalObject(), args, result);
        if (errorPending(engine))
            return false;
        out = result.toString();
        return !errorPending(engine);
    }

private:
    RealEngine& engine;
    ObjectRef function;
};

}  // namespace

jsRegExpClass::jsRegExpClass() : Dispatcher("JavaScript") {
    DataPool& pool = DataPool::get();
    sym = {pool.add("lastIndex"), pool.add("index"),     pool.add("input"),
           pool.add("global"),    pool.add("ignoreCase"), pool.add("multiline"),
           pool.add("source")};
    addClass("RegExp");
    registerProperties(0, kTable, "RegExp");
}

void jsRegExpClass::get(Arguments& args) {
    const reGlobals& globals = regExpGlobals(realEngine(args));
    const u32 id = args.mode;
    Variant& result = *args.result;
    const u32 count = globals.matches.length();
    switch (id) {
    case '&':
        result.setString(matchText(globals, 0));
        break;
    case '+':
        result.setString(count >= 2 ? matchText(globals, count - 1) : String());
        break;
    case '`':
        result.setString(globals.lastInput.substr(0, globals.leftEnd));
        break;
    case '"':
        result.setString(globals.lastInput.substr(i32(globals.rightStart)));
        break;
    case '_':
        result.setString(globals.input);
        break;
    case 'G':
    case 'I':
    case '*':
        result.setBool((globals.flags & flagOfId(id)) != 0);
        break;
    default:
        if (id >= 1 && id <= 9)
            result.setString(matchText(globals, id));
        break;
    }
}

void jsRegExpClass::put(Arguments& args) {
    reGlobals& globals = regExpGlobals(realEngine(args));
    const Variant& value = args.arg(0);
    const u32 id = args.mode;
    if (u16 bit = flagOfId(id)) {
        if (value.toBoolean())
            globals.flags |= bit;
        else
            globals.flags &= u16(~bit);
    } else if (id == '_') {
        globals.input = value.toString();
    }
}

Dispatcher* newRegExpClass(const char*) { return new jsRegExpClass; }

const RegExp* patternOf(const Variant& value) {
    if (value.getType() == Variant::kRegExp)
        return value.getRegExp();
    Object* object = regExpObject(value);
    if (!object)
        return nullptr;
    const Variant& inside = object->getPrivateValue();
    return inside.getType() == Variant::kRegExp ? inside.getRegExp() : nullptr;
}

reGlobals& regExpGlobals(RealEngine& engine) {
    LxCore::NativeData*& slot = engine.regExpGlobalsSlot();
    if (!slot)
        slot = new reGlobals;
    return *static_cast<reGlobals*>(slot);
}

void patternMatch(RealEngine& engine, Object& regexp, const String& text, Variant& result) {
    const RegExp* held = patternOf(Variant(&regexp));
    if (!held) {
        result.setNull();
        return;
    }
    const RegExp pattern(*held);
    Array list;
    i32 index = -1;
    if (i32 status = collectMatches(regExpGlobals(engine), pattern, text, list, index)) {
        raise(engine, status);
        return;
    }
    if (list.length() == 0)
        result.setNull();
    else
        makeMatchArray(engine, list, index, text, result);
}

void patternSearch(RealEngine& engine, Object& regexp, const String& text, Variant& result) {
    const RegExp* held = patternOf(Variant(&regexp));
    if (!held) {
        result.setNaN();
        return;
    }
    const RegExp pattern(*held);
    i32 position = -1;
    if (i32 status = findFirstMatch(regExpGlobals(engine), pattern, text, position)) {
        raise(engine, status);
        return;
    }
    result.setNumber(position);
}

void patternReplace(RealEngine& engine, Object& regexp, const String& text,
                    const String& replacement, Object* replacer, Variant& result) {
    const RegExp* held = patternOf(Variant(&regexp));
    if (!held) {
        result.setString(String());
        return;
    }
    const RegExp pattern(*held);
    String out;
    i32 status;
    if (replacer) {
        FunctionReplacer calls(engine, *replacer);
        status = replaceMatches(regExpGlobals(engine), pattern, text, replacement, &calls, out);
    } else {
        status = replaceMatches(regExpGlobals(engine), pattern, text, replacement, nullptr, out);
    }
    if (status) {
        raise(engine, status);
        return;
    }
    result.setString(out);
}

void patternSplit(RealEngine& engine, Object& regexp, const String& text, u32 limit,
                  Variant& result) {
    const RegExp* held = patternOf(Variant(&regexp));
    Array pieces;
    if (held) {
        const RegExp pattern(*held);
        if (i32 status = splitAtMatches(regExpGlobals(engine), pattern, text, limit, pieces)) {
            raise(engine, status);
            return;
        }
    }
    newArrayOf(engine, pieces, result);
}

}  // namespace LxScript
