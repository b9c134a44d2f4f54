// The XPath compiler: tokens to word code by recursive descent, nesting
// bounded by kXPathMaxNesting.
#include <cmath>
#include <cstring>

#include "core/CharClass.h"
#include "core/XPathInternal.h"

namespace LxCore::xpathdetail {

namespace {

struct Function {
    const char* name;
    u32 op;
    i32 minArgs;
    i32 maxArgs;    // -1: no limit
};

constexpr Function kFunctions[] = {
    {"boolean", kBoolean, 1, 1},          {"ceiling", kCeiling, 1, 1},
    {"concat", kConcat, 2, -1},           {"contains", kContains, 2, 2},
    {"count", kCount, 1, 1},              {"false", kFalse, 0, 0},
    {"floor", kFloor, 1, 1},              {"id", kId, 1, 1},
    {"lang", kLang, 1, 1},                {"last", kLast, 0, 0},
    {"local-name", kLocalName, 0, 1},     {"name", kName, 0, 1},
    {"namespace-uri", kNamespaceURI, 0, 1}, {"normalize-space", kNormalizeSpace, 0, 1},
    {"not", kNot, 1, 1},                  {"number", kNumberOf, 1, 1},
    {"position", kPosition, 0, 0},        {"round", kRound, 1, 1},
    {"starts-with", kStartsWith, 2, 2},   {"string", kString, 0, 1},
    {"string-length", kStringLength, 0, 1}, {"substring", kSubstring, 2, 3},
    {"substring-after", kSubstringAfter, 2, 2}, {"substring-before", kSubstringBefore, 2, 2},
    {"sum", kSum, 1, -1},                 {"translate", kTranslate, 3, 3},
    {"true", kTrue, 0, 0},
};

constexpr struct {
    const char* name;
    i32 axis;
} kAxes[] = {
    {"child", kXPathChild},
    {"descendant", kXPathDescendant},
    {"parent", kXPathParent},
    {"ancestor", kXPathAncestor},
    {"following-sibling", kXPathFollowingSibling},
    {"preceding-sibling", kXPathPrecedingSibling},
    {"following", kXPathFollowing},
    {"preceding", kXPathPreceding},
    {"attribute", kXPathAttribute},
    {"namespace", kXPathNamespace},
    {"self", kXPathSelf},
    {"descendant-or-self", kXPathDescendantOrSelf},
    {"ancestor-or-self", kXPathAncestorOrSelf},
};

class Compiler {
public:
    Compiler(XPathContext* c, const unit* t, const Vector<Token>& tokens, Code& out)
        : context(c), text(t), tokens(tokens), code(out) {}

    // A location path from the first token; the index of the first token
    // left over.
    size_t locationPath() {
        pos = 0;
        depth = 0;
        parseLocationPath();
        return pos;
    }

    size_t expression() {
        pos = 0;
        depth = 0;
        parseExpr();
        return pos;
    }

private:
    XPathContext* context;
    const unit* text;
    const Vector<Token>& tokens;
    Code& code;
    size_t pos = 0;
    i32 depth = 0;

    bool failed() const { return context->errorCode != 0; }
    const Token& token() const { return tokens[std::min(pos, tokens.size() - 1)]; }
    const Token& peek(size_t ahead = 1) const { return tokens[std::min(pos + ahead, tokens.size() - 1)]; }
    Tok kind() const { return token().kind; }

    void fail(u32 errorCode) { setError(context, errorCode, token().start, u32(token().length)); }

    bool isWord(const Token& t, const char* ascii) const {
        return t.kind == Tok::Name && size_t(t.length) == std::strlen(ascii) &&
               utf16CompareAscii(text + t.start, ascii, t.length) == 0;
    }

    void emit(u32 w) { code.words.push_back(w); }

    // The pool index of a text; past 16 bits a syntax error.
    u32 addString(const unit* units, i32 n) {
        const size_t index = code.strings.size();
        if (index > kMaxOperand) {
            fail(kXPathSyntax);
            return 0;
        }
        code.strings.insert(code.strings.end(), units, units + n);
        code.strings.push_back(0);
        return u32(index);
    }

    void emitNumber(f64 v) {
        if (v >= 0 && v <= 65535 && v == std::floor(v) && !std::signbit(v)) {
            emit(word(kOpNumber, u32(v)));
            return;
        }
        if (code.numbers.size() > kMaxOperand)
            return fail(kXPathSyntax);
        emit(word(kOpPoolNumber, u32(code.numbers.size())));
        code.numbers.push_back(v);
    }

    bool enter() {
        if (++depth > kXPathMaxNesting) {
            fail(kXPathTooDeep);
            return false;
        }
        return true;
    }

    // Binary operators by level, loosest first; all bind to the left.
    static i32 level(Tok t, u32& op) {
        switch (t) {
        case Tok::Pipe: op = kOpUnion; return 0;
        case Tok::Or: op = kOpOr; return 1;
        case Tok::And: op = kOpAnd; return 2;
        case Tok::Equal: op = kOpEqual; return 3;
        case Tok::NotEqual: op = kOpNotEqual; return 3;
        case Tok::Less: op = kOpLess; return 4;
        case Tok::LessEqual: op = kOpLessEqual; return 4;
        case Tok::Greater: op = kOpGreater; return 4;
        case Tok::GreaterEqual: op = kOpGreaterEqual; return 4;
        case Tok::Plus: op = kOpAdd; return 5;
        case Tok::Minus: op = kOpSubtract; return 5;
        case Tok::Multiply: op = kOpMultiply; return 6;
        case Tok::Div: op = kOpDiv; return 6;
        case Tok::Mod: op = kOpMod; return 6;
        default: return -1;
        }
    }

    // Operands and operators without recursion per level: operators wait on
    // a stack until one of a looser or equal level comes.
    void parseExpr() {
        if (!enter())
            return;
        struct Pending {
            i32 level;
            u32 op;
        };
        Vector<Pending> waiting{ContextAllocator<Pending>(context)};
        parsePrimary();
        while (!failed()) {
            u32 op = 0;
            const i32 l = level(kind(), op);
            if (l < 0)
                break;
            while (!waiting.empty() && waiting.back().level >= l) {
                emit(word(waiting.back().op, 0));
                waiting.pop_back();
            }
            waiting.push_back({l, op});
            pos++;
            parsePrimary();
        }
        while (!waiting.empty()) {
            emit(word(waiting.back().op, 0));
            waiting.pop_back();
        }
        depth--;
    }

    const Function* function(const Token& t) const {
        for (const Function& f : kFunctions)
            if (isWord(t, f.name))
                return &f;
        return nullptr;
    }

    bool isNodeType(const Token& t) const {
        return isWord(t, "node") || isWord(t, "text") || isWord(t, "comment") ||
               isWord(t, "processing-instruction");
    }

    void parsePrimary() {
        const Token& t = token();
        switch (t.kind) {
        case Tok::Open:
            pos++;
            parseExpr();
            if (failed())
                return;
            if (kind() != Tok::Close)
                return fail(kXPathCloseExpected);
            pos++;
            return;
        case Tok::Number:
            emitNumber(t.number);
            pos++;
            return;
        case Tok::Literal: {
            const bool closed = t.length >= 2 && text[t.start + t.length - 1] == text[t.start];
            const u32 index = addString(text + t.start + 1, t.length - (closed ? 2 : 1));
            emit(word(kOpString, index));
            pos++;
            return;
        }
        case Tok::Variable:
            emit(word(kOpVariable, addString(text + t.start + 1, t.length - 1)));
            pos++;
            return;
        case Tok::Name:
            if (peek().kind == Tok::Open && !isNodeType(t)) {
                if (const Function* f = function(t))
                    return parseCall(*f);
                return fail(kXPathUnknownFunction);
            }
            return parseLocationPath();
        case Tok::Slash:
        case Tok::At:
        case Tok::Dot:
        case Tok::DotDot:
            return parseLocationPath();
        default:
            return fail(kXPathOperandExpected);
        }
    }

    void parseCall(const Function& f) {
        const Token& name = token();
        pos += 2;
        i32 count = 0;
        if (!enter())
            return;
        if (kind() != Tok::Close) {
            for (;;) {
                parseExpr();
                if (failed())
                    return;
                count++;
                if (kind() == Tok::Comma) {
                    pos++;
                    continue;
                }
                if (kind() != Tok::Close)
                    return fail(kXPathCloseExpected);
                break;
            }
        }
        pos++;
        depth--;
        if (count < f.minArgs || (f.maxArgs >= 0 && count > f.maxArgs))
            return setError(context, kXPathArgumentCount, name.start, u32(name.length));
        emitNumber(count);
        emit(word(f.op, 0));
    }

    bool startsStep(const Token& t) const {
        return t.kind == Tok::Name || t.kind == Tok::At || t.kind == Tok::Dot || t.kind == Tok::DotDot;
    }

    // A step is written once the next is known, so that a predicate-free
    // descendant-or-self::node() and a predicate-free child step become one
    // descendant step.
    struct Step {
        i32 axis = 0;
        i32 test = 0;
        u32 name = kNoName;
        bool absolute = false;
        bool held = false;
    };

    void write(Step& step) {
        if (step.held)
            emit(stepWord(step.axis, step.test, step.name, step.absolute));
        step.held = false;
    }

    void parseLocationPath() {
        emit(word(kOpContext, 0));
        Step held;
        bool absolute = false;
        if (kind() == Tok::Slash) {
            pos++;
            absolute = true;
            if (kind() == Tok::Slash) {
                pos++;
                held = {kXPathDescendantOrSelf, kXPathAnyNode, kNoName, true, true};
                absolute = false;
            } else if (!startsStep(token())) {
                emit(stepWord(kXPathSelf, kXPathAnyNode, kNoName, true));
                return;
            }
        }
        for (;;) {
            parseStep(held, absolute);
            absolute = false;
            if (failed())
                return;
            if (kind() != Tok::Slash)
                break;
            pos++;
            if (kind() == Tok::Slash) {
                pos++;
                write(held);
                held = {kXPathDescendantOrSelf, kXPathAnyNode, kNoName, false, true};
            }
        }
        write(held);
    }

    void parseStep(Step& held, bool absolute) {
        Step step;
        step.absolute = absolute;
        if (kind() == Tok::Dot || kind() == Tok::DotDot) {
            step.axis = kind() == Tok::Dot ? kXPathSelf : kXPathParent;
            step.test = kXPathAnyNode;
            pos++;
        } else {
            step.axis = kXPathChild;
            if (kind() == Tok::At) {
                step.axis = kXPathAttribute;
                pos++;
            } else if (kind() == Tok::Name && peek().kind == Tok::AxisSeparator) {
                step.axis = 0;
                for (const auto& a : kAxes)
                    if (isWord(token(), a.name))
                        step.axis = a.axis;
                if (!step.axis)
                    return fail(kXPathUnknownAxis);
                pos += 2;
                if (kind() == Tok::At)
                    return fail(kXPathNodeTestExpected);
            }
            parseNodeTest(step);
            if (failed())
                return;
        }
        const bool predicates = kind() == Tok::OpenBracket;
        if (held.held) {
            if (step.axis == kXPathChild && !predicates) {
                step.axis = kXPathDescendant;
                step.absolute = held.absolute;
                held.held = false;
            } else {
                write(held);
            }
        }
        step.held = true;
        if (!predicates && step.axis == kXPathDescendantOrSelf && step.test == kXPathAnyNode) {
            held = step;
            return;
        }
        write(step);
        if (!predicates)
            return;
        const i32 stepAt = i32(code.words.size()) - 1;
        while (!failed() && kind() == Tok::OpenBracket)
            parsePredicate();
        // Inner steps with predicates come first: keep the list by step index.
        const StepRun run{stepAt, i32(code.words.size())};
        auto at = code.stepRuns.end();
        while (at != code.stepRuns.begin() && (at - 1)->step > stepAt)
            --at;
        code.stepRuns.insert(at, run);
    }

    void parseNodeTest(Step& step) {
        const Token& t = token();
        if (t.kind != Tok::Name)
            return fail(kXPathNodeTestExpected);
        if (isNodeType(t)) {
            step.test = isWord(t, "node") ? kXPathAnyNode
                        : isWord(t, "text") ? kXPathText
                        : isWord(t, "comment") ? kXPathComment
                                               : kXPathInstruction;
            pos++;
            if (kind() != Tok::Open)
                return fail(kXPathOpenExpected);
            pos++;
            if (step.test == kXPathInstruction && kind() == Tok::Literal) {
                const Token& literal = token();
                const bool closed = literal.length >= 2 && text[literal.start + literal.length - 1] == text[literal.start];
                step.name = addString(text + literal.start + 1, literal.length - (closed ? 2 : 1));
                pos++;
            }
            if (kind() != Tok::Close)
                return fail(kXPathCloseExpected);
            pos++;
            return;
        }
        step.test = kXPathName;
        step.name = addString(text + t.start, t.length);
        pos++;
    }

    void parsePredicate() {
        const i32 open = token().start;
        pos++;
        if (!enter())
            return;
        const size_t number = code.predicates.size();
        if (number > kMaxOperand)
            return fail(kXPathSyntax);
        const u32 w = word(kOpPredicate, u32(number));
        code.predicates.push_back({i32(code.words.size()), 0, open + 1, 0});
        emit(w);
        parseExpr();
        if (failed())
            return;
        if (kind() != Tok::CloseBracket)
            return fail(kXPathBracketExpected);
        Predicate& p = code.predicates[number];
        p.end = i32(code.words.size());
        p.sourceLength = token().start - p.sourceStart;
        emit(w);
        pos++;
        depth--;
    }
};

}  // namespace

// Compiles as a location path, else as an expression; text left over after
// a good parse is a syntax error on that text.
bool compile(XPathContext* context, const unit* expression, i32 length, Code& code) {
    Vector<Token> tokens{ContextAllocator<Token>(context)};
    Tokenizer(context, expression, length).run(tokens);
    if (context->errorCode)
        return false;
    auto leftover = [&](size_t at) { return at < tokens.size() && tokens[at].kind != Tok::End; };
    const size_t pathEnd = Compiler(context, expression, tokens, code).locationPath();
    if (!context->errorCode && !leftover(pathEnd))
        return true;
    context->errorCode = 0;
    code.clear();
    // The expression grammar holds the location path: its error is the
    // better one.
    const size_t exprEnd = Compiler(context, expression, tokens, code).expression();
    if (context->errorCode)
        return false;
    if (leftover(exprEnd)) {
        setError(context, kXPathSyntax, tokens[exprEnd].start, u32(length - tokens[exprEnd].start));
        return false;
    }
    return true;
}

}  // namespace LxCore::xpathdetail
