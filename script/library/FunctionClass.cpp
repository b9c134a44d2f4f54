// The Function class and the text forms of functions.
#include "script/library/FunctionClass.h"

#include <cmath>
#include <vector>

#include "core/ErrorCodes.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/frontend/Node.h"
#include "script/frontend/Scanner.h"
#include "script/library/LibrarySupport.h"
#include "script/library/ObjectClass.h"

namespace LxScript {

using LxCore::String;
using LxCore::unit;
namespace Err = LxCore::Err;

namespace {

DataPool& pool() { return DataPool::get(); }

// ---------------------------------------------------------------------------
// Compacting a function's text

// Reading a function's text runs no directive and reads "//@" lines as the
// comments they are inside a function.
class PlainTextOptions : public FrontEndOptions {
public:
    const String& getIncludePath() const override { return path; }
    void setIncludePath(const String&) override {}
    bool isPreprocessorOn() const override { return false; }
    void setPreprocessorOn(bool) override {}

private:
    String path;
};

bool isLineEnd(unit c) { return c == 10 || c == 13 || c == 0x2028 || c == 0x2029; }

// Runs of four spaces become one, again until none is left.
void collapseSpaces(String& text) {
    const String four("    ");
    const String one(" ");
    while (text.find(four) >= 0)
        text.replaceAll(four, one);
}

// The text with its line ends kept (a text the scanner cannot read) or
// made spaces (the stand-in bodies of native and compiled functions).
String compactPlainly(const String& text, bool keepLineEnds) {
    String out = text;
    collapseSpaces(out);
    if (!keepLineEnds) {
        for (const unit end : {unit(13), unit(10), unit(0x2028), unit(0x2029)})
            out.replaceAll(end, unit(' '));
    }
    return out;
}

// What a line end next to a token may mean. The rules follow where the
// language inserts a semicolon: a line end matters after return, break,
// continue and throw, before ++ and --, and between a token that may end a
// statement and one that cannot continue it. What a "}" or ")" closes is
// tracked so that the end of a block counts as no statement end; where
// that is unsure (a "{" after ":"), the brace counts as an expression's.
class LineEndRules {
public:
    // Reads one significant token; true when a "/" after it starts a
    // regular expression.
    bool take(const ScanInfo& t);
    // Whether a line end between the last token taken and t must stay.
    bool keepBefore(const ScanInfo& t) const;

private:
    enum Bracket : u8 { kBlock, kExpression, kControlParen, kDeclarationParams, kExpressionParams, kPlainParen };
    enum After : u8 { kStatementStart, kContinues, kEnds, kRestricted };

    bool isWord(const ScanInfo& t, i32 word) const { return t.kind == ScanInfo::kOperator && t.code == word; }
    bool continuesBefore(const ScanInfo& t) const;
    Bracket pop(Bracket fallback);

    std::vector<Bracket> brackets;
    After after = kStatementStart;
    i32 lastCode = 0;                   // of a keyword or punctuation, else 0
    bool functionPending = false;       // "function" (and its name) read, "(" next
    bool functionIsExpression = false;
    i32 bodyAfterParen = -1;            // a function's body kind, for the "{" after its ")"
};

LineEndRules::Bracket LineEndRules::pop(Bracket fallback) {
    if (brackets.empty())
        return fallback;
    const Bracket b = brackets.back();
    brackets.pop_back();
    return b;
}

bool LineEndRules::take(const ScanInfo& t) {
    const i32 code = t.kind == ScanInfo::kOperator ? t.code : 0;
    const i32 body = bodyAfterParen;
    bodyAfterParen = -1;
    After next = kContinues;
    switch (code) {
        case TokenCode::kSemicolon: next = kStatementStart; break;
        case TokenCode::kLeftBrace: {
            Bracket b = body >= 0 ? Bracket(body) : after == kStatementStart ? kBlock : kExpression;
            brackets.push_back(b);
            next = b == kBlock ? kStatementStart : kContinues;
            break;
        }
        case TokenCode::kRightBrace: next = pop(kExpression) == kBlock ? kStatementStart : kEnds; break;
        case TokenCode::kLeftParen: {
            Bracket b = kPlainParen;
            if (functionPending)
                b = functionIsExpression ? kExpressionParams : kDeclarationParams;
            else if (lastCode == kWordIf || lastCode == kWordWhile || lastCode == kWordFor || lastCode == kWordWith ||
                     lastCode == kWordSwitch || lastCode == kWordCatch)
                b = kControlParen;
            brackets.push_back(b);
            break;
        }
        case TokenCode::kRightParen: {
            const Bracket b = pop(kPlainParen);
            if (b == kControlParen)
                next = kStatementStart;
            else if (b == kDeclarationParams || b == kExpressionParams)
                bodyAfterParen = b == kDeclarationParams ? kBlock : kExpression;     // the body's "{" next
            else
                next = kEnds;
            break;
        }
        case TokenCode::kRightBracket: next = kEnds; break;
        case kWordElse: case kWordDo: case kWordTry: case kWordFinally: next = kStatementStart; break;
        case kWordReturn: case kWordBreak: case kWordContinue: case kWordThrow: next = kRestricted; break;
        case kWordThis: case kWordTrue: case kWordFalse: case kWordNull: case kWordDebugger:
        case kOpPreIncrement: case kOpPreDecrement: case kOpPostIncrement: case kOpPostDecrement:
            next = kEnds;
            break;
        case kWordFunction:
            functionPending = true;
            functionIsExpression = after != kStatementStart;
            break;
        case 0: next = kEnds; break;    // a name, number, string or regular expression
        default: break;
    }
    if (code != kWordFunction && !(functionPending && t.kind == ScanInfo::kName))
        functionPending = false;
    lastCode = code;
    after = next;
    return next != kEnds;
}

// Tokens before which no semicolon is ever inserted: they continue what
// stands before them, or close it.
bool LineEndRules::continuesBefore(const ScanInfo& t) const {
    if (t.kind != ScanInfo::kOperator)
        return false;
    switch (t.code) {
        case TokenCode::kLeftParen: case TokenCode::kLeftBracket: case TokenCode::kDot: case TokenCode::kDotDot:
        case TokenCode::kColonColon: case TokenCode::kQuestion: case TokenCode::kColon: case TokenCode::kRightParen:
        case TokenCode::kRightBracket: case TokenCode::kRightBrace: case TokenCode::kSemicolon:
        case kWordIn: case kWordInstanceof: case kWordElse: case kWordCatch: case kWordFinally:
            return true;
        default:
            return t.code >= kOpMultiply && t.code <= kLastOperator;
    }
}

bool LineEndRules::keepBefore(const ScanInfo& t) const {
    if (after == kRestricted)
        return true;
    if (after != kEnds)
        return false;
    const bool incrementOrDecrement = t.kind == ScanInfo::kOperator && t.code >= kOpPreIncrement && t.code <= kOpPostDecrement;
    return incrementOrDecrement || !continuesBefore(t);
}

// The white space and comments between two tokens.
struct Piece {
    i32 from;
    i32 to;
    bool lineComment;       // "//" comment or directive line: its line end stays
};

// Writes the pieces; the first line end is written as one when owed.
void writePieces(String& out, const String& text, const std::vector<Piece>& pieces, bool lineEndOwed) {
    for (const Piece& piece : pieces) {
        String written;
        for (i32 i = piece.from; i < piece.to; i++) {
            const unit c = text[i];
            if (!isLineEnd(c)) {
                written += c;
                continue;
            }
            if (c == 13 && i + 1 < piece.to && text[i + 1] == 10)
                i++;
            written += lineEndOwed ? unit('\n') : unit(' ');
            lineEndOwed = false;
        }
        collapseSpaces(written);
        out += written;
        if (piece.lineComment)
            lineEndOwed = true;
    }
}

// ---------------------------------------------------------------------------
// Handlers

Function* thisFunction(const Arguments& args) {
    Object* self = thisObject(args);
    return self ? self->asFunction() : nullptr;
}

// The function that constructs the class prototype needs no code: the
// registration's construction of it makes nothing.
void construct(Arguments& args) {
    Object* self = thisObject(args);
    if (args.mode == Arguments::kConstruct && self && self->getObjectID() == kPrototypeId)
        return;
    String parameters;
    String body;
    const u32 n = args.count();
    for (u32 i = 0; i + 1 < n; i++) {
        if (i > 0)
            parameters += ',';
        parameters += args.arg(i).toString();
    }
    if (n > 0)
        body = args.arg(n - 1).toString();
    if (errorPending(args))
        return;
    RealEngine& engine = engineOf(args);
    Script* script = engine.compileSource(body, nullptr, &parameters);
    if (!script)
        return;
    engine.newFunctionObject(*args.result, script, true);
    script->release();
}

void callEntry(Arguments& args) { args.result->clear(); }

// The this-object of apply and call: the global object for nothing, a
// wrapper for a primitive, an object as it is.
bool thisForCall(Arguments& args, const Variant& value, ObjectRef& out) {
    RealEngine& engine = engineOf(args);
    const u32 type = value.getType();
    if (type == Variant::kUndefined || type == Variant::kNull) {
        out = ObjectRef(engine.getGlobalObject());
        return true;
    }
    if (const DataPoolId wrapper = wrapperClassOf(value)) {
        LxCore::Array one;
        one.getOrCreate(0) = value;
        Variant made;
        engine.newObject(made, wrapper, &one, nullptr);
        out = ObjectRef(objectOf(made));
        return out && !errorPending(args);
    }
    if (Object* o = objectOf(value)) {
        out = ObjectRef(o);
        return true;
    }
    raise(args, Err::kNotAnObject, value.toString());
    return false;
}

// The function that call and apply run, held, and its this-object; null
// when either is missing (the error raised).
Function* callTarget(Arguments& args, ObjectRef& held, ObjectRef& self) {
    Function* function = thisFunction(args);
    if (!function || !thisForCall(args, args.arg(0), self))
        return nullptr;
    held = ObjectRef(function);
    return function;
}

// The arguments after the first, seen in place as an array of their own: as
// a copy would read (a missing one is undefined, and not had), with no copy
// made. The caller's array outlives the call.
class ArgumentsAfterFirst : public LxCore::BasicArray {
public:
    explicit ArgumentsAfterFirst(const Arguments& args) : args(args), count(args.count() > 1 ? args.count() - 1 : 0) {}

    u32 length() const override { return count; }
    bool has(u32 i) const override {
        const Variant* v = get(i);
        return v && v->getType() != Variant::kUndefined;
    }
    const Variant* get(u32 i) const override { return i < count ? &args.arg(i + 1) : nullptr; }

private:
    const Arguments& args;
    u32 count;
};

void call(Arguments& args) {
    ObjectRef held, self;
    Function* function = callTarget(args, held, self);
    if (!function)
        return;
    const ArgumentsAfterFirst list(args);
    function->call(self.get(), list, *args.result);
}

// An array-like argument gives its elements 0 .. length - 1; a length past
// kMaxApplyArguments is refused before anything runs.
void apply(Arguments& args) {
    ObjectRef held, self;
    Function* function = callTarget(args, held, self);
    if (!function)
        return;
    LxCore::Array list;
    if (Object* source = objectOf(args.arg(1))) {
        ObjectRef keep(source);
        Variant lengthValue;
        if (!source->get(Sym::kLength, lengthValue, 0)) {
            raise(args, Err::kBadArgument, args.arg(1).toString());
            return;
        }
        // Read as a whole number: negative and huge lengths (which wrap
        // past the limit as unsigned) are refused, NaN gives nothing.
        const LxCore::f64 number = std::trunc(lengthValue.toNumber());
        if (errorPending(args))
            return;
        if (number < 0 || number > kMaxApplyArguments) {
            raise(args, Err::kOutOfRange, lengthValue.toString());
            return;
        }
        const u32 length = number == number ? u32(number) : 0;
        for (u32 i = 0; i < length; i++) {
            source->get(pool().add(i), list.getOrCreate(i), 0);
            if (errorPending(args))
                return;
        }
    }
    function->call(self.get(), list, *args.result);
}

// With a line end in front and one at the end; "function(" gets its space.
void toString(Arguments& args) {
    Function* function = thisFunction(args);
    if (!function)
        return;
    String text = functionSource(*function);
    if (text.compare("function(", 9) == 0)
        text.insert(unit(' '), 8);
    text.insert(unit('\n'), 0);
    if (text[text.length() - 1] != '\n')
        text += unit('\n');
    args.result->setString(text);
}

void toSource(Arguments& args) {
    Function* function = thisFunction(args);
    if (!function)
        return;
    String out("(");
    out += compactSource(functionSource(*function));
    out += ')';
    args.result->setString(out);
}

// The arguments of the innermost activation when it is this function's.
void argumentsOf(Arguments& args) {
    if (args.mode != Arguments::kGet)
        return;
    RuntimeEnv* frame = engineOf(args).getCurrentFrame();
    Object* self = thisObject(args);
    Workspace* scope = frame && self && static_cast<Object*>(frame->function) == self ? frame->getScope() : nullptr;
    if (scope && !scope->isGlobal()) {
        if (Variant* value = scope->getSlot(Workspace::kArgumentsSlot)) {
            *args.result = *value;
            return;
        }
    }
    args.result->setNull();
}

// The length a function's heirs inherit is the function's; the Function
// prototype, which declares no parameters, and an object inheriting from
// no function answer 0.
void length(Arguments& args) {
    Object* o = thisObject(args);
    while (o && !o->asFunction())
        o = o->getPrototype();
    args.result->setUInt(o ? o->getStoredLength() : 0);
}

void name(Arguments& args) {
    if (Function* function = thisFunction(args))
        args.result->setString(pool().getSymbol(function->getNameID() ? function->getNameID() : Sym::kAnonymous));
}

const PropEntry kFunctionTable[] = {
    {"", 0, kHiddenMethod, callEntry, nullptr},
    {"Function", 1, kHiddenMethod, construct, "Function,args:string,body:string"},
    {"apply", 2, kInstanceMethod, apply, "unknown,self:Object,args:Array"},
    {"call", 1, kInstanceMethod, call, "unknown,self:Object,args:any"},
    {"toSource", 0, kInstanceMethod, toSource, "string"},
    {"toString", 0, kInstanceMethod, toString, "string"},
    {"arguments", 0, kFixedValue, argumentsOf, "Object"},
    {"length", 0, kReadOnlyValue, length, "number"},
    {"arity", 0, kReadOnlyValue, length, "number"},
    {"name", 0, kReadOnlyValue, name, "string"},
    {nullptr, 0, 0, nullptr, nullptr},
};

}  // namespace

String functionSource(Function& function) {
    const DataPoolId nameId = function.getNameID() ? function.getNameID() : Sym::kAnonymous;
    const String name = pool().getSymbol(nameId);
    Script* script = function.getScript();
    ScopeInfo* info = function.getScopeInfo();
    String text;
    if (!script || !info)
        text.sprintf("function %ls() {\n    [native code]\n}\n", name.chars());
    else if (script->isCompiled())
        text.sprintf("function %ls() {\n    [compiled code]\n}\n", name.chars());
    else
        text = info->source.substr(info->start, info->length);
    return text;
}

String compactSource(const String& text) {
    PlainTextOptions options;
    LxCore::Error errors;
    jsScanner scanner(&options, 0, text, errors);
    scanner.setDirectivesApplied(false);
    LineEndRules rules;
    std::vector<Piece> pieces;
    String out;
    ScanInfo t;
    bool operandExpected = true;
    bool lastWasLineComment = false;
    i32 at = 0;
    for (;;) {
        if (!scanner.next(t, operandExpected))
            return compactPlainly(text, true);
        const bool end = scanner.isAtEnd();
        // An XML literal is read only at the parser's request.
        if (!end && operandExpected && t.kind == ScanInfo::kOperator && t.code == kOpLess)
            return compactPlainly(text, true);
        const i32 start = end ? text.length() : t.offset;
        if (start > at)
            pieces.push_back(Piece{at, start, false});
        if (end)
            break;
        at = t.offset + t.length;
        if (t.code == TokenCode::kComment) {
            const bool lineComment = text[t.offset] != '/' || text[t.offset + 1] == '/';
            pieces.push_back(Piece{t.offset, at, lineComment});
            lastWasLineComment = lineComment;
            continue;
        }
        writePieces(out, text, pieces, rules.keepBefore(t));
        pieces.clear();
        lastWasLineComment = false;
        out.append(text.chars() + t.offset, t.length);
        operandExpected = rules.take(t);
    }
    writePieces(out, text, pieces, false);
    if (lastWasLineComment && (out.isEmpty() || out[out.length() - 1] != '\n'))
        out += unit('\n');
    return out;
}

jsFunctionClass::jsFunctionClass() : Dispatcher("JavaScript") { registerProperties(0, kFunctionTable, "Function"); }

Dispatcher* newFunctionClass(const char*) { return new jsFunctionClass; }

}  // namespace LxScript
