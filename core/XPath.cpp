// The XPath engine: tokens, a compiler to word code, and an evaluator over a
// value stack. All memory comes through the context's allocate and free.
#include "core/XPath.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include "core/CharClass.h"
#include "core/XMLInternal.h"

namespace LxCore {

namespace {

constexpr u32 kMagic = 0xcafef00d;

}  // namespace

struct XPathContext {
    u32 magic;
    XPathCallbacks callbacks;
    void* userData;
    u32 errorCode;
    i32 errorPosition;
    u32 errorLength;
    void* evaluator;
};

namespace {

bool valid(const XPathContext* context) { return context && context->magic == kMagic; }

void setError(XPathContext* context, u32 code, i32 position, u32 length) {
    if (context->errorCode)
        return;
    context->errorCode = code;
    context->errorPosition = position;
    context->errorLength = length;
}

// std containers whose memory comes from the context: a refused request
// throws std::bad_alloc, which the entry point turns into error 8.
template <class T>
struct ContextAllocator {
    using value_type = T;
    XPathContext* context;

    explicit ContextAllocator(XPathContext* c) : context(c) {}
    template <class U>
    ContextAllocator(const ContextAllocator<U>& other) : context(other.context) {}

    T* allocate(size_t n) {
        if (n > size_t(-1) / sizeof(T))
            throw std::bad_alloc();
        void* p = context->callbacks.allocate(u64(n * sizeof(T)), context->userData);
        if (!p)
            throw std::bad_alloc();
        return static_cast<T*>(p);
    }
    void deallocate(T* p, size_t) { context->callbacks.free(p); }
    template <class U>
    bool operator==(const ContextAllocator<U>& other) const { return context == other.context; }
};

template <class T>
using Vector = std::vector<T, ContextAllocator<T>>;
using Text = std::basic_string<unit, std::char_traits<unit>, ContextAllocator<unit>>;

// ---- default callbacks: do nothing, report failure ----

XPathNode noAxis(XPathContext*, XPathNode, i32, i32, const unit*, bool, bool*) { return nullptr; }
XPathNode noNodeSet(XPathContext*, bool*) { return nullptr; }
void noRelease(XPathContext*, XPathNode) {}
bool noAdd(XPathContext*, XPathNode, XPathNode) { return false; }
i32 noCount(XPathContext*, XPathNode) { return 0; }
XPathNode noItem(XPathContext*, XPathNode, i32, bool*) { return nullptr; }
unit* noName(XPathContext*, XPathNode, i32) { return nullptr; }
unit* noString(XPathContext*, XPathNode) { return nullptr; }
XPathNode noText(XPathContext*, const unit*, bool*) { return nullptr; }
unit* noVariable(XPathContext*, const unit*, bool*) { return nullptr; }

// ---- tokens ----

enum class Tok : u8 {
    End, Open, Close, Comma, OpenBracket, CloseBracket, Slash, At, AxisSeparator, Dot, DotDot,
    Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual, Plus, Minus, Pipe, Multiply,
    And, Or, Div, Mod, Number, Literal, Variable, Name,
};

struct Token {
    Tok kind;
    i32 start;      // in the expression, units
    i32 length;
    f64 number;
};

bool isOperator(Tok t) {
    switch (t) {
    case Tok::Slash: case Tok::Pipe: case Tok::Plus: case Tok::Minus: case Tok::Multiply:
    case Tok::Equal: case Tok::NotEqual: case Tok::Less: case Tok::LessEqual: case Tok::Greater:
    case Tok::GreaterEqual: case Tok::And: case Tok::Or: case Tok::Div: case Tok::Mod:
        return true;
    default:
        return false;
    }
}

bool isDigit(unit c) { return c >= '0' && c <= '9'; }

bool isNameStartUnit(unit c) {
    return c < 0x80 ? (c == '_' || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z')) : isXMLNameStart(c);
}

bool isNameUnit(unit c) {
    return c < 0x80 ? (isNameStartUnit(c) || isDigit(c) || c == '-' || c == '.') : isXMLNameChar(c);
}

// The length of an XPath number at text (digits with one '.', then an
// optional exponent); 0 when none.
i32 numberLength(const unit* text, i32 n) {
    i32 i = 0;
    bool digits = false;
    while (i < n && isDigit(text[i])) {
        i++;
        digits = true;
    }
    if (i < n && text[i] == '.') {
        i++;
        while (i < n && isDigit(text[i])) {
            i++;
            digits = true;
        }
    }
    if (!digits)
        return 0;
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        i32 j = i + 1;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            j++;
        if (j < n && isDigit(text[j])) {
            while (j < n && isDigit(text[j]))
                j++;
            i = j;
        }
    }
    return i;
}

// A number in the "C" form, whole text, optional sign and surrounding
// blanks: anything else (hexadecimal, "inf", other digits) is NaN.
f64 readNumber(const unit* text, size_t n) {
    size_t begin = 0;
    while (begin < n && isXMLBlank(text[begin]))
        begin++;
    while (n > begin && isXMLBlank(text[n - 1]))
        n--;
    bool negative = false;
    if (begin < n && (text[begin] == '-' || text[begin] == '+'))
        negative = text[begin++] == '-';
    const i32 length = numberLength(text + begin, i32(std::min<size_t>(n - begin, 0x7FFFFFFF)));
    if (length == 0 || begin + size_t(length) != n)
        return NAN;
    std::string ascii(size_t(length), '0');
    for (i32 i = 0; i < length; i++)
        ascii[size_t(i)] = char(text[begin + size_t(i)]);
    f64 value = 0;
    std::from_chars(ascii.data(), ascii.data() + ascii.size(), value);
    return negative ? -value : value;
}

class Tokenizer {
public:
    Tokenizer(XPathContext* c, const unit* t, i32 n) : context(c), text(t), length(n) {}

    // All tokens, the end token last.
    void run(Vector<Token>& out) {
        i32 i = 0;
        for (;;) {
            while (i < length && isXMLBlank(text[i]))
                i++;
            Token token{Tok::End, i, 0, 0};
            if (i >= length) {
                out.push_back(token);
                return;
            }
            i = read(i, token, out.empty() ? Tok::Open : out.back().kind, !out.empty());
            if (token.kind != Tok::End || token.length > 0)
                out.push_back(token);
        }
    }

private:
    XPathContext* context;
    const unit* text;
    i32 length;

    unit at(i32 i) const { return i < length ? text[i] : 0; }

    i32 single(i32 i, Token& token, Tok kind, i32 size) {
        token.kind = kind;
        token.length = size;
        return i + size;
    }

    // After an operand a '*' multiplies and a '+' or '-' is an operator
    // (XPath 1.0's rule on the preceding token).
    static bool afterOperand(Tok previous, bool any) {
        if (!any)
            return false;
        switch (previous) {
        case Tok::At: case Tok::AxisSeparator: case Tok::Open: case Tok::OpenBracket: case Tok::Comma:
            return false;
        default:
            return !isOperator(previous);
        }
    }

    i32 number(i32 i, i32 signLength, Token& token) {
        const i32 n = numberLength(text + i + signLength, length - i - signLength);
        token.kind = Tok::Number;
        token.length = signLength + n;
        token.number = readNumber(text + i, size_t(token.length));
        return i + token.length;
    }

    i32 read(i32 i, Token& token, Tok previous, bool any) {
        const unit c = text[i];
        switch (c) {
        case '(': return single(i, token, Tok::Open, 1);
        case ')': return single(i, token, Tok::Close, 1);
        case ',': return single(i, token, Tok::Comma, 1);
        case '[': return single(i, token, Tok::OpenBracket, 1);
        case ']': return single(i, token, Tok::CloseBracket, 1);
        case '/': return single(i, token, Tok::Slash, 1);
        case '@': return single(i, token, Tok::At, 1);
        case '|': return single(i, token, Tok::Pipe, 1);
        case '=': return single(i, token, Tok::Equal, 1);
        case ':':
            if (at(i + 1) == ':')
                return single(i, token, Tok::AxisSeparator, 2);
            setError(context, kXPathSyntax, i, 1);
            return single(i, token, Tok::AxisSeparator, 1);
        case '!':
            if (at(i + 1) != '=')
                setError(context, kXPathSyntax, i, 1);
            return single(i, token, Tok::NotEqual, at(i + 1) == '=' ? 2 : 1);
        case '<': return single(i, token, at(i + 1) == '=' ? Tok::LessEqual : Tok::Less, at(i + 1) == '=' ? 2 : 1);
        case '>':
            return single(i, token, at(i + 1) == '=' ? Tok::GreaterEqual : Tok::Greater, at(i + 1) == '=' ? 2 : 1);
        case '.':
            if (at(i + 1) == '.')
                return single(i, token, Tok::DotDot, 2);
            if (isDigit(at(i + 1)))
                return number(i, 0, token);
            return single(i, token, Tok::Dot, 1);
        case '+':
        case '-':
            if (!afterOperand(previous, any) && (isDigit(at(i + 1)) || (at(i + 1) == '.' && isDigit(at(i + 2)))))
                return number(i, 1, token);
            return single(i, token, c == '+' ? Tok::Plus : Tok::Minus, 1);
        case '*':
            if (afterOperand(previous, any))
                return single(i, token, Tok::Multiply, 1);
            return single(i, token, Tok::Name, 1);
        case '"':
        case '\'': {
            i32 end = i + 1;
            while (end < length && text[end] != c)
                end++;
            token.kind = Tok::Literal;
            token.length = (end < length ? end + 1 : end) - i;
            return i + token.length;
        }
        case '$': {
            i32 end = i + 1;
            while (end < length && isNameUnit(text[end]))
                end++;
            if (end == i + 1)
                setError(context, kXPathSyntax, i, 1);
            token.kind = Tok::Variable;
            token.length = end - i;
            return end;
        }
        default:
            break;
        }
        if (isDigit(c))
            return number(i, 0, token);
        if (!isNameStartUnit(c)) {
            token.kind = Tok::End;      // anything else is passed over
            token.length = 0;
            return i + 1;
        }
        i32 end = i + 1;
        bool colon = false;
        while (end < length) {
            if (isNameUnit(text[end])) {
                end++;
            } else if (text[end] == ':' && !colon && at(end + 1) != ':' &&
                       (isNameStartUnit(at(end + 1)) || at(end + 1) == '*')) {
                colon = true;
                end++;
                if (text[end] == '*') {
                    end++;
                    break;
                }
            } else {
                break;
            }
        }
        token.kind = Tok::Name;
        token.length = end - i;
        static const struct {
            const char* word;
            Tok kind;
        } words[] = {{"and", Tok::And}, {"or", Tok::Or}, {"div", Tok::Div}, {"mod", Tok::Mod}};
        for (const auto& w : words)
            if (size_t(token.length) == std::strlen(w.word) && utf16CompareAscii(text + i, w.word, token.length) == 0)
                token.kind = w.kind;
        return end;
    }
};

// ---- code ----

enum Op : u32 {
    kOpMultiply = 0x0a, kOpDiv = 0x0b, kOpMod = 0x0c, kOpAdd = 0x0d, kOpSubtract = 0x0e,
    kOpLessEqual = 0x0f, kOpLess = 0x10, kOpGreaterEqual = 0x11, kOpGreater = 0x12,
    kOpEqual = 0x13, kOpNotEqual = 0x14, kOpAnd = 0x15, kOpOr = 0x16, kOpUnion = 0x17,
    kOpFirstFunction = 0x1f, kOpLastFunction = 0x39,
    kOpNumber = 0x50, kOpPoolNumber = 0x51, kOpString = 0x52, kOpEnd = 0x54,
    kOpVariable = 0x56, kOpPredicate = 0x57, kOpContext = 0x58,
};

constexpr u32 kNoName = 0xFFFF;         // a step without a name
constexpr u32 kMaxOperand = 0xFFFE;     // 16-bit operands stop short of kNoName

u32 word(u32 op, u32 operand) { return (op << 16) | operand; }

u32 stepWord(i32 axis, i32 test, u32 name, bool absolute) {
    return (absolute ? 0x80000000u : 0) | (u32(axis) << 24) | (u32(test) << 16) | name;
}

struct Function {
    const char* name;
    u32 op;
    i32 minArgs;
    i32 maxArgs;    // -1: no limit
};

enum FunctionOp : u32 {
    kBoolean = 0x1f, kCeiling = 0x20, kConcat = 0x21, kContains = 0x22, kCount = 0x23, kFalse = 0x24,
    kFloor = 0x25, kLang = 0x26, kLast = 0x27, kLocalName = 0x28, kName = 0x29, kNamespaceURI = 0x2a,
    kNormalizeSpace = 0x2b, kNot = 0x2c, kNumberOf = 0x2d, kPosition = 0x2e, kRound = 0x2f,
    kStartsWith = 0x30, kString = 0x31, kStringLength = 0x32, kSubstring = 0x33,
    kSubstringAfter = 0x34, kSubstringBefore = 0x35, kSum = 0x36, kTranslate = 0x37, kTrue = 0x38,
    kId = 0x39,
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

struct Predicate {
    i32 start;          // code index of its start word
    i32 end;            // of its end word
    i32 sourceStart;    // its expression in the source, for error 13
    i32 sourceLength;
};

// A step with predicates: they filter what it selects from each input node
// on its own, as XPath has it.
struct StepRun {
    i32 step;           // code index of the step word
    i32 after;          // of the word after its last predicate
};

struct Code {
    Vector<u32> words;
    Vector<unit> strings;       // each 0-terminated
    Vector<f64> numbers;
    Vector<Predicate> predicates;
    Vector<StepRun> stepRuns;   // by rising step index

    explicit Code(XPathContext* c)
        : words(ContextAllocator<u32>(c)), strings(ContextAllocator<unit>(c)),
          numbers(ContextAllocator<f64>(c)), predicates(ContextAllocator<Predicate>(c)),
          stepRuns(ContextAllocator<StepRun>(c)) {}

    void clear() {
        words.clear();
        strings.clear();
        numbers.clear();
        predicates.clear();
        stepRuns.clear();
    }

    // Where the predicates of the step at pc end, or -1 when it has none.
    i32 stepRunAfter(i32 pc) const {
        size_t low = 0, high = stepRuns.size();
        while (low < high) {
            const size_t mid = (low + high) / 2;
            if (stepRuns[mid].step < pc)
                low = mid + 1;
            else
                high = mid;
        }
        return low < stepRuns.size() && stepRuns[low].step == pc ? stepRuns[low].after : -1;
    }

    u32 at(i32 pc) const { return pc >= 0 && size_t(pc) < words.size() ? words[size_t(pc)] : word(kOpEnd, 0); }
};

// ---- the compiler ----

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

// ---- values and the evaluator ----

struct Value {
    u32 type;
    f64 number;
    Text text;
    XPathNode node;
    bool temporary;     // the node-set is ours to release

    explicit Value(XPathContext* c) : type(kXPathBoolean), number(0), text(ContextAllocator<unit>(c)), node(nullptr), temporary(false) {}
};

// One predicate being applied: the node-set it filters and what it keeps.
struct Filter {
    i32 predicate;
    bool lenient;       // a number past the end selects nothing (one of several inputs)
    XPathNode set;
    bool setTemporary;
    XPathNode kept;
    bool keptTemporary;
    i32 size;
    i32 position;
    XPathNode savedNode;
    i32 savedPosition;
    i32 savedSize;
};

// A step with predicates run for one input node after another; what each
// keeps joins one set, each node once.
using NodeSet = std::unordered_set<XPathNode, std::hash<XPathNode>, std::equal_to<XPathNode>,
                                   ContextAllocator<XPathNode>>;

struct PerNode {
    u32 stepWord;
    i32 step;
    i32 after;
    XPathNode input;
    bool inputTemporary;
    i32 count;
    i32 index = 0;
    XPathNode joined;
    bool joinedTemporary;
    NodeSet seen;

    PerNode(XPathContext* c, u32 w, i32 pc, i32 end, XPathNode in, bool inTemporary, i32 n, XPathNode out,
            bool outTemporary)
        : stepWord(w), step(pc), after(end), input(in), inputTemporary(inTemporary), count(n), joined(out),
          joinedTemporary(outTemporary),
          seen(0, std::hash<XPathNode>(), std::equal_to<XPathNode>(), ContextAllocator<XPathNode>(c)) {}
};

class Evaluator {
public:
    Evaluator(XPathContext* c, const Code& program, const unit* source)
        : context(c), cb(c->callbacks), code(program), expression(source),
          stack(ContextAllocator<Value>(c)), filters(ContextAllocator<Filter>(c)),
          runs(ContextAllocator<PerNode>(c)) {}

    ~Evaluator() { clear(); }

    bool run(XPathNode contextNode, XPathResult* result) {
        node = contextNode;
        position = 1;
        size = 1;
        i32 pc = 0;
        while (!context->errorCode) {
            if (!runs.empty() && runs.back().after == pc) {
                pc = nextInput(pc);
                continue;
            }
            const u32 w = code.at(pc);
            const u32 op = (w >> 16) & 0xFF;
            if ((w >> 24) != 0 && op >= 1 && op <= 5) {
                pc = stepAt(w, pc);
                continue;
            }
            if (op == kOpEnd)
                break;
            pc = execute(w, op, pc);
        }
        if (context->errorCode)
            return false;
        if (stack.empty()) {
            setError(context, kXPathInternal, -1, 0);
            return false;
        }
        return hand(stack.back(), result);
    }

private:
    XPathContext* context;
    const XPathCallbacks& cb;
    const Code& code;
    const unit* expression;
    Vector<Value> stack;
    Vector<Filter> filters;
    Vector<PerNode> runs;
    XPathNode node = nullptr;
    i32 position = 1;
    i32 size = 1;

    void fail(u32 errorCode) { setError(context, errorCode, -1, 0); }

    void releaseNode(XPathNode n, bool temporary) {
        if (n && temporary)
            cb.release(context, n);
    }

    void drop(Value& v) {
        releaseNode(v.node, v.temporary && v.type == kXPathNodeSet);
        v.node = nullptr;
        v.temporary = false;
    }

    void pop() {
        drop(stack.back());
        stack.pop_back();
    }

    void clear() {
        while (!stack.empty())
            pop();
        for (Filter& f : filters) {
            releaseNode(f.set, f.setTemporary);
            releaseNode(f.kept, f.keptTemporary);
        }
        filters.clear();
        for (PerNode& r : runs) {
            releaseNode(r.input, r.inputTemporary);
            releaseNode(r.joined, r.joinedTemporary);
        }
        runs.clear();
    }

    Value& push(u32 type) {
        stack.emplace_back(context);
        stack.back().type = type;
        return stack.back();
    }

    void pushNumber(f64 v) { push(kXPathNumber).number = v; }
    void pushBoolean(bool v) { push(kXPathBoolean).number = v ? 1 : 0; }
    Value& pushText() { return push(kXPathString); }
    void pushNodeSet(XPathNode set, bool temporary) {
        Value& v = push(kXPathNodeSet);
        v.node = set;
        v.temporary = temporary;
    }

    // A text the callbacks allocated, copied and freed.
    bool take(unit* owned, Text& out) {
        if (!owned)
            return false;
        out.assign(owned, utf16Length(owned));
        cb.free(owned);
        return true;
    }

    XPathNode firstNode(XPathNode set) {
        bool temporary = false;
        return set && cb.count(context, set) > 0 ? cb.item(context, set, 0, &temporary) : nullptr;
    }

    void stringOfNode(XPathNode n, Text& out) {
        out.clear();
        if (n && !take(cb.stringValue(context, n), out))
            out.clear();
    }

    // ---- conversions ----

    bool toBoolean(const Value& v) {
        switch (v.type) {
        case kXPathNumber: return v.number != 0;       // NaN too
        case kXPathString: return !v.text.empty();
        case kXPathNodeSet: return v.node && cb.count(context, v.node) != 0;
        default: return v.number != 0;
        }
    }

    void toText(const Value& v, Text& out) {
        switch (v.type) {
        case kXPathBoolean:
            out.clear();
            for (const char* p = v.number != 0 ? "true" : "false"; *p; p++)
                out += unit(*p);
            return;
        case kXPathNumber:
            return formatNumber(v.number, out);
        case kXPathString:
            out = v.text;
            return;
        default:
            return stringOfNode(firstNode(v.node), out);
        }
    }

    f64 toNumber(const Value& v) {
        switch (v.type) {
        case kXPathBoolean:
        case kXPathNumber:
            return v.number;
        case kXPathString:
            return readNumber(v.text.data(), v.text.size());
        default: {
            Text text{ContextAllocator<unit>(context)};
            stringOfNode(firstNode(v.node), text);
            return readNumber(text.data(), text.size());
        }
        }
    }

    static void formatNumber(f64 v, Text& out) {
        out.clear();
        const char* word = std::isnan(v) ? "NaN" : std::isinf(v) ? (v > 0 ? "Infinity" : "-Infinity") : nullptr;
        if (word) {
            for (; *word; word++)
                out += unit(*word);
            return;
        }
        // Without fractional digits a double has at most 309 digits and a sign.
        char digits[330];
        const auto done = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::fixed, 0);
        for (const char* p = digits; p < done.ptr; p++)
            out += unit(*p);
    }

    // ---- steps and predicates ----

    void step(u32 w) {
        if (stack.empty())
            return fail(kXPathInternal);
        Value& top = stack.back();
        const i32 axis = i32((w >> 24) & 0x7F);
        const i32 test = i32((w >> 16) & 0xFF);
        const u32 nameIndex = w & 0xFFFF;
        const bool absolute = (w & 0x80000000u) != 0;
        if (top.type == kXPathNumber || top.type == kXPathBoolean)
            return;
        if (top.type == kXPathString) {
            bool temporary = false;
            XPathNode text = cb.textNode(context, top.text.c_str(), &temporary);
            if (!text)
                return fail(kXPathAxisFailed);
            top.type = kXPathNodeSet;
            top.node = text;
            top.temporary = temporary;
        }
        if (axis == kXPathSelf && test == kXPathAnyNode && !absolute)
            return;
        const unit* name = nameIndex == kNoName ? nullptr : code.strings.data() + nameIndex;
        bool temporary = false;
        XPathNode selected = cb.axis(context, top.node, axis, test, name, absolute, &temporary);
        if (!selected)
            return fail(kXPathAxisFailed);
        drop(top);
        top.node = selected;
        top.temporary = temporary;
    }

    // A step whose predicates go node by node when it has several inputs.
    i32 stepAt(u32 w, i32 pc) {
        const i32 after = code.stepRunAfter(pc);
        if (after < 0 || stack.empty() || stack.back().type != kXPathNodeSet || !stack.back().node) {
            step(w);
            return pc + 1;
        }
        Value& top = stack.back();
        const i32 count = cb.count(context, top.node);
        if (count <= 1) {
            step(w);
            return pc + 1;
        }
        bool joinedTemporary = false;
        XPathNode joined = cb.newNodeSet(context, &joinedTemporary);
        if (!joined)
            return fail(kXPathNoMemory), pc;
        runs.emplace_back(context, w, pc, after, top.node, top.temporary, count, joined, joinedTemporary);
        top.node = nullptr;
        top.temporary = false;
        return startInput(runs.back()) ? pc + 1 : pc;
    }

    bool startInput(PerNode& r) {
        bool temporary = false;
        XPathNode item = cb.item(context, r.input, r.index, &temporary);
        if (!item) {
            fail(kXPathInternal);
            return false;
        }
        Value& top = stack.back();
        drop(top);
        top.type = kXPathNodeSet;
        top.node = item;
        top.temporary = temporary;
        step(r.stepWord);
        return !context->errorCode;
    }

    // One input's nodes join the set; then the next input, or the joined set.
    i32 nextInput(i32 pc) {
        PerNode& r = runs.back();
        Value& top = stack.back();
        if (top.type == kXPathNodeSet && top.node) {
            const i32 n = cb.count(context, top.node);
            for (i32 i = 0; i < n; i++) {
                bool temporary = false;
                XPathNode item = cb.item(context, top.node, i, &temporary);
                if (item && r.seen.insert(item).second && !cb.add(context, r.joined, item))
                    return fail(kXPathNoMemory), pc;
            }
        }
        if (++r.index < r.count)
            return startInput(r) ? r.step + 1 : pc;
        drop(top);
        top.type = kXPathNodeSet;
        top.node = r.joined;
        top.temporary = r.joinedTemporary;
        releaseNode(r.input, r.inputTemporary);
        runs.pop_back();
        return pc;
    }

    // Error 13 carries the predicate's source.
    void outOfRange(i32 predicate) {
        const Predicate& p = code.predicates[size_t(predicate)];
        setError(context, kXPathOutOfRange, p.sourceStart, u32(p.sourceLength));
    }

    bool moveTo(Filter& f) {
        bool temporary = false;
        node = cb.item(context, f.set, f.position - 1, &temporary);
        if (!node) {
            outOfRange(f.predicate);
            return false;
        }
        position = f.position;
        size = f.size;
        return true;
    }

    i32 startFilter(i32 predicate, i32 pc) {
        const Predicate& p = code.predicates[size_t(predicate)];
        if (stack.empty())
            return fail(kXPathInternal), pc;
        Value& top = stack.back();
        const i32 count = top.type == kXPathNodeSet && top.node ? cb.count(context, top.node) : 0;
        if (count == 0)
            return p.end + 1;
        bool keptTemporary = false;
        XPathNode kept = cb.newNodeSet(context, &keptTemporary);
        if (!kept)
            return fail(kXPathNoMemory), pc;
        const bool lenient = !runs.empty() && runs.back().step < pc && pc < runs.back().after;
        filters.push_back({predicate, lenient, top.node, top.temporary, kept, keptTemporary, count, 1, node,
                           position, size});
        top.node = nullptr;     // the filter holds it now
        top.temporary = false;
        if (!moveTo(filters.back()))
            return pc;
        return p.start + 1;
    }

    i32 endFilter(i32 pc) {
        Filter& f = filters.back();
        const Predicate& p = code.predicates[size_t(f.predicate)];
        if (stack.empty())
            return fail(kXPathInternal), pc;
        Value& result = stack.back();
        bool done = false;
        if (result.type == kXPathNumber) {
            const f64 n = result.number;
            const bool integral = n == std::floor(n) && !std::isinf(n);
            if (!(n >= 1 && n <= f.size && integral) && !(f.lenient && integral)) {
                outOfRange(f.predicate);
                return pc;
            }
            if (n >= 1 && n <= f.size) {
                f.position = i32(n);
                if (!moveTo(f))
                    return pc;
                if (!cb.add(context, f.kept, node))
                    return fail(kXPathNoMemory), pc;
            }
            done = true;
        } else if (toBoolean(result) && !cb.add(context, f.kept, node)) {
            return fail(kXPathNoMemory), pc;
        }
        pop();
        if (!done && ++f.position <= f.size)
            return moveTo(f) ? p.start + 1 : pc;
        // The set on the stack becomes what was kept.
        Value& top = stack.back();
        drop(top);
        top.type = kXPathNodeSet;
        top.node = f.kept;
        top.temporary = f.keptTemporary;
        releaseNode(f.set, f.setTemporary);
        node = f.savedNode;
        position = f.savedPosition;
        size = f.savedSize;
        filters.pop_back();
        return p.end + 1;
    }

    // ---- operations ----

    i32 execute(u32 w, u32 op, i32 pc) {
        const u32 operand = w & 0xFFFF;
        switch (op) {
        case kOpNumber:
            pushNumber(operand);
            return pc + 1;
        case kOpPoolNumber:
            pushNumber(code.numbers[operand]);
            return pc + 1;
        case kOpString:
            pushText().text = code.strings.data() + operand;
            return pc + 1;
        case kOpVariable: {
            bool mustFree = false;
            unit* text = cb.variable(context, code.strings.data() + operand, &mustFree);
            if (!text) {
                fail(kXPathUndefinedVariable);
                return pc;
            }
            Value& v = pushText();
            v.text = text;
            if (mustFree)
                cb.free(text);
            return pc + 1;
        }
        case kOpContext:
            if (!node) {
                fail(kXPathNoContext);
                return pc;
            }
            pushNodeSet(node, false);
            return pc + 1;
        case kOpPredicate: {
            const i32 predicate = i32(operand);
            if (size_t(predicate) >= code.predicates.size())
                return fail(kXPathInternal), pc;
            if (!filters.empty() && filters.back().predicate == predicate &&
                code.predicates[size_t(predicate)].end == pc)
                return endFilter(pc);
            return startFilter(predicate, pc);
        }
        default:
            break;
        }
        if (op >= kOpFirstFunction && op <= kOpLastFunction) {
            call(op);
            return pc + 1;
        }
        if (op >= kOpMultiply && op <= kOpUnion) {
            binary(op);
            return pc + 1;
        }
        fail(kXPathInternal);
        return pc;
    }

    static i32 compareTexts(const Text& a, const Text& b) {
        if (a.size() != b.size())
            return a.size() < b.size() ? -1 : 1;
        return std::memcmp(a.data(), b.data(), a.size() * sizeof(unit));
    }

    void binary(u32 op) {
        if (stack.size() < 2)
            return fail(kXPathInternal);
        Value& left = stack[stack.size() - 2];
        Value& right = stack.back();
        if (op == kOpUnion)
            return unite(left, right);
        bool truth = false;
        f64 number = 0;
        bool isNumber = false;
        switch (op) {
        case kOpMultiply: case kOpDiv: case kOpMod: case kOpAdd: case kOpSubtract: {
            const f64 a = toNumber(left);
            const f64 b = toNumber(right);
            number = op == kOpMultiply ? a * b : op == kOpDiv ? a / b : op == kOpMod ? std::fmod(a, b)
                     : op == kOpAdd ? a + b : a - b;
            isNumber = true;
            break;
        }
        case kOpAnd: case kOpOr: {
            const bool a = toBoolean(left);
            const bool b = toBoolean(right);
            truth = op == kOpAnd ? a && b : a || b;
            break;
        }
        default:
            truth = compare(op, left, right);
            break;
        }
        pop();
        drop(stack.back());
        Value& result = stack.back();
        result.text.clear();
        result.type = isNumber ? kXPathNumber : kXPathBoolean;
        result.number = isNumber ? number : truth ? 1 : 0;
    }

    // Numbers when either side is one (NaN equals nothing); else the texts,
    // by length and then by their bytes.
    bool compare(u32 op, const Value& left, const Value& right) {
        if (left.type == kXPathNumber || right.type == kXPathNumber) {
            const f64 a = toNumber(left);
            const f64 b = toNumber(right);
            switch (op) {
            case kOpEqual: return a == b;
            case kOpNotEqual: return !(a == b);
            case kOpLess: return a < b;
            case kOpLessEqual: return a <= b;
            case kOpGreater: return a > b;
            default: return a >= b;
            }
        }
        Text a{ContextAllocator<unit>(context)}, b{ContextAllocator<unit>(context)};
        toText(left, a);
        toText(right, b);
        const i32 c = compareTexts(a, b);
        switch (op) {
        case kOpEqual: return c == 0;
        case kOpNotEqual: return c != 0;
        case kOpLess: return c < 0;
        case kOpLessEqual: return c <= 0;
        case kOpGreater: return c > 0;
        default: return c >= 0;
        }
    }

    // A new node-set: the left's nodes, then the right's.
    void unite(Value& left, Value& right) {
        if (left.type != kXPathNodeSet || right.type != kXPathNodeSet)
            return fail(kXPathNoContext);
        bool temporary = false;
        XPathNode set = cb.newNodeSet(context, &temporary);
        if (!set)
            return fail(kXPathNoMemory);
        if (!cb.add(context, set, left.node) || !cb.add(context, set, right.node)) {
            releaseNode(set, temporary);
            return fail(kXPathNoMemory);
        }
        pop();
        drop(stack.back());
        stack.back().node = set;
        stack.back().temporary = temporary;
    }

    // ---- functions ----

    // The node a name function asks: the argument's first node or the
    // context node; false with no node to ask (an empty node-set).
    bool nameTarget(i32 argc, XPathNode& target) {
        if (argc == 0) {
            target = node;
            return node != nullptr;
        }
        const Value& arg = stack.back();
        if (arg.type != kXPathNodeSet) {
            fail(kXPathNoContext);
            return false;
        }
        target = firstNode(arg.node);
        return target != nullptr;
    }

    void call(u32 op) {
        if (stack.empty() || stack.back().type != kXPathNumber)
            return fail(kXPathInternal);
        const i32 argc = i32(stack.back().number);
        pop();
        if (i32(stack.size()) < argc)
            return fail(kXPathInternal);
        Value result(context);
        result.type = kXPathString;
        const size_t first = stack.size() - size_t(argc);
        auto arg = [&](i32 i) -> Value& { return stack[first + size_t(i)]; };
        auto textOf = [&](i32 i) {
            Text t{ContextAllocator<unit>(context)};
            toText(arg(i), t);
            return t;
        };
        auto contextText = [&]() {
            Text t{ContextAllocator<unit>(context)};
            stringOfNode(node, t);
            return t;
        };
        auto number = [&](f64 v) {
            result.type = kXPathNumber;
            result.number = v;
        };
        auto boolean = [&](bool v) {
            result.type = kXPathBoolean;
            result.number = v ? 1 : 0;
        };
        switch (op) {
        case kBoolean: boolean(toBoolean(arg(0))); break;
        case kNot: boolean(!toBoolean(arg(0))); break;
        case kTrue: boolean(true); break;
        case kFalse: boolean(false); break;
        case kNumberOf: number(toNumber(arg(0))); break;
        case kCeiling: number(std::ceil(toNumber(arg(0)))); break;
        case kFloor: number(std::floor(toNumber(arg(0)))); break;
        case kRound: number(roundHalfUp(toNumber(arg(0)))); break;
        case kLast: number(size); break;
        case kPosition: number(position); break;
        case kSum: {
            f64 total = 0;
            for (i32 i = 0; i < argc; i++)
                total += toNumber(arg(i));
            number(total);
            break;
        }
        case kCount:
            if (arg(0).type != kXPathNodeSet)
                return fail(kXPathNoContext);
            number(arg(0).node ? cb.count(context, arg(0).node) : 0);
            break;
        case kConcat:
            for (i32 i = 0; i < argc; i++)
                result.text += textOf(i);
            break;
        case kContains: boolean(textOf(0).find(textOf(1)) != Text::npos); break;
        case kStartsWith: {
            const Text a = textOf(0), b = textOf(1);
            boolean(a.compare(0, b.size(), b) == 0);
            break;
        }
        case kSubstringBefore:
        case kSubstringAfter: {
            const Text a = textOf(0), b = textOf(1);
            const size_t at = a.find(b);
            if (at != Text::npos) {
                if (op == kSubstringBefore)
                    result.text.assign(a, 0, at);
                else
                    result.text.assign(a, at + b.size(), Text::npos);
            }
            break;
        }
        case kString:
            result.text = argc ? textOf(0) : contextText();
            break;
        case kStringLength:
            number(f64((argc ? textOf(0) : contextText()).size()));
            break;
        case kNormalizeSpace:
            normalizeSpace(argc ? textOf(0) : contextText(), result.text);
            break;
        case kSubstring:
            substring(textOf(0), toNumber(arg(1)), argc > 2 ? toNumber(arg(2)) : INFINITY, argc > 2,
                      result.text);
            break;
        case kTranslate:
            translate(textOf(0), textOf(1), textOf(2), result.text);
            break;
        case kLang:
            boolean(lang(textOf(0)));
            break;
        case kLocalName:
        case kName:
        case kNamespaceURI: {
            XPathNode target = nullptr;
            if (!nameTarget(argc, target)) {
                if (context->errorCode)
                    return;
                break;      // an empty node-set has the empty name
            }
            const i32 part = op == kLocalName ? 0 : op == kName ? 1 : 2;
            if (!take(cb.name(context, target, part), result.text))
                return fail(op == kName ? kXPathNoMemory : kXPathNoName);
            break;
        }
        case kId:
        default:
            return fail(kXPathNoId);
        }
        if (context->errorCode)
            return;
        while (i32(stack.size()) > i32(first))
            pop();
        stack.push_back(std::move(result));
    }

    // floor(x + 0.5) with the sign of x: -0.3 gives -0.
    static f64 roundHalfUp(f64 x) {
        if (std::isnan(x) || std::isinf(x))
            return x;
        return std::copysign(std::floor(x + 0.5), x);
    }

    static void normalizeSpace(const Text& in, Text& out) {
        bool space = false;
        for (unit c : in) {
            if (isXMLBlank(c)) {
                space = !out.empty();
                continue;
            }
            if (space)
                out += u' ';
            space = false;
            out += c;
        }
    }

    // In doubles: a NaN start or length, or an empty span, gives "".
    static void substring(const Text& in, f64 start, f64 count, bool hasCount, Text& out) {
        f64 s = roundHalfUp(start);
        f64 l = hasCount ? roundHalfUp(count) : INFINITY;
        if (s < 1) {
            l -= 1 - s;
            s = 1;
        }
        if (std::isnan(s) || std::isnan(l) || l < 1 || s > f64(in.size()))
            return;
        const f64 end = std::min(s - 1 + l, f64(in.size()));
        out.assign(in, size_t(s - 1), size_t(end - (s - 1)));
    }

    static void translate(const Text& in, const Text& from, const Text& to, Text& out) {
        for (unit c : in) {
            const size_t at = from.find(c);
            if (at == Text::npos)
                out += c;
            else if (at < to.size())
                out += to[at];
        }
    }

    // The context node's own xml:lang against the argument, ignoring case;
    // "en" also matches "en-GB".
    bool lang(const Text& wanted) {
        if (!node)
            return false;
        static const unit kXMLLang[] = {'x', 'm', 'l', ':', 'l', 'a', 'n', 'g', 0};
        bool temporary = false;
        XPathNode found = cb.axis(context, node, kXPathAttribute, kXPathName, kXMLLang, false, &temporary);
        if (!found)
            return false;
        Text value{ContextAllocator<unit>(context)};
        stringOfNode(firstNode(found), value);
        const bool any = cb.count(context, found) > 0;
        releaseNode(found, temporary);
        if (!any || value.size() < wanted.size())
            return false;
        for (size_t i = 0; i < wanted.size(); i++)
            if (toLowerChar(value[i]) != toLowerChar(wanted[i]))
                return false;
        return value.size() == wanted.size() || value[wanted.size()] == '-';
    }

    // The result record gets the top value; a string as new text.
    bool hand(Value& top, XPathResult* result) {
        result->type = top.type;
        switch (top.type) {
        case kXPathNodeSet:
            result->value = reinterpret_cast<uintptr_t>(top.node);
            top.node = nullptr;         // the caller's now
            top.temporary = false;
            return true;
        case kXPathString: {
            auto* text = static_cast<unit*>(cb.allocate(u64(top.text.size() + 1) * sizeof(unit), context->userData));
            if (!text) {
                fail(kXPathNoMemory);
                return false;
            }
            std::memcpy(text, top.text.c_str(), (top.text.size() + 1) * sizeof(unit));
            result->value = reinterpret_cast<uintptr_t>(text);
            return true;
        }
        default: {
            f64 v = top.number;
            std::memcpy(&result->value, &v, sizeof v);
            return true;
        }
        }
    }
};

}  // namespace

XPathContext* createXPathContext(const XPathCallbacks* callbacks, void* userData) {
    if (!callbacks || !callbacks->allocate || !callbacks->free)
        return nullptr;
    void* memory = callbacks->allocate(sizeof(XPathContext), userData);
    if (!memory)
        return nullptr;
    auto* context = new (memory) XPathContext{};
    context->magic = kMagic;
    context->callbacks = *callbacks;
    XPathCallbacks& cb = context->callbacks;
    cb.axis = cb.axis ? cb.axis : noAxis;
    cb.newNodeSet = cb.newNodeSet ? cb.newNodeSet : noNodeSet;
    cb.release = cb.release ? cb.release : noRelease;
    cb.add = cb.add ? cb.add : noAdd;
    cb.count = cb.count ? cb.count : noCount;
    cb.item = cb.item ? cb.item : noItem;
    cb.name = cb.name ? cb.name : noName;
    cb.stringValue = cb.stringValue ? cb.stringValue : noString;
    cb.textNode = cb.textNode ? cb.textNode : noText;
    cb.variable = cb.variable ? cb.variable : noVariable;
    context->userData = userData;
    context->errorPosition = -1;
    return context;
}

void destroyXPathContext(XPathContext* context) {
    if (!valid(context))
        return;
    context->magic = 0;
    void (*release)(void*) = context->callbacks.free;
    context->~XPathContext();
    release(context);
}

namespace {

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

}  // namespace

bool evaluateXPath(XPathContext* context, const unit* expression, XPathResult* result) {
    if (!valid(context) || !expression || !result)
        return false;
    XPathNode contextNode = result->type == kXPathNodeSet ? reinterpret_cast<XPathNode>(uintptr_t(result->value)) : nullptr;
    const size_t n = utf16Length(expression);
    if (n > 0x7FFFFFFF) {
        setError(context, kXPathSyntax, 0, 0);
        return false;
    }
    try {
        Code code(context);
        if (!compile(context, expression, i32(n), code))
            return false;
        Evaluator evaluator(context, code, expression);
        context->evaluator = &evaluator;
        const bool ok = evaluator.run(contextNode, result);
        context->evaluator = nullptr;
        return ok;
    } catch (const std::bad_alloc&) {
        context->evaluator = nullptr;
        setError(context, kXPathNoMemory, -1, 0);
    } catch (...) {
        context->evaluator = nullptr;
        setError(context, kXPathInternal, -1, 0);
    }
    return false;
}

u32 getXPathError(XPathContext* context, i32* position, u32* length) {
    if (!valid(context)) {
        if (position)
            *position = -1;
        if (length)
            *length = 0;
        return kXPathInternal;
    }
    if (position)
        *position = context->errorPosition;
    if (length)
        *length = context->errorLength;
    return context->errorCode;
}

void setXPathError(XPathContext* context, u32 code) {
    if (!valid(context))
        return;
    if (code == 0) {
        context->errorCode = 0;
        context->errorPosition = -1;
        context->errorLength = 0;
        return;
    }
    setError(context, code, -1, 0);
}

void* getXPathUserData(XPathContext* context) { return valid(context) ? context->userData : nullptr; }

void freeXPathResult(XPathContext* context, XPathResult* result) {
    if (!result)
        return;
    if (result->type == kXPathString && result->value && valid(context))
        context->callbacks.free(reinterpret_cast<void*>(uintptr_t(result->value)));
    result->type = kXPathBoolean;
    result->value = 0;
}

}  // namespace LxCore
