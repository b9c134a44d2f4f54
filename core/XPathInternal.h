// What the XPath engine's three parts share: the context, memory through
// its allocate and free, the tokens the tokenizer hands the compiler, and the
// word code the compiler hands the evaluator.
#pragma once
#include <cstddef>
#include <new>
#include <string>
#include <vector>

#include "core/Types.h"
#include "core/XPath.h"

namespace LxCore {

struct XPathContext {
    u32 magic;
    XPathCallbacks callbacks;
    void* userData;
    u32 errorCode;
    i32 errorPosition;
    u32 errorLength;
    void* evaluator;
};

namespace xpathdetail {

inline void setError(XPathContext* context, u32 code, i32 position, u32 length) {
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

// ---- tokens (XPathTokenizer.cpp) ----

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

// A number in the "C" form, whole text, optional sign and surrounding
// blanks: anything else (hexadecimal, "inf", other digits) is NaN.
f64 readNumber(const unit* text, size_t n);

class Tokenizer {
public:
    Tokenizer(XPathContext* c, const unit* t, i32 n) : context(c), text(t), length(n) {}

    // All tokens, the end token last.
    void run(Vector<Token>& out);

private:
    XPathContext* context;
    const unit* text;
    i32 length;

    unit at(i32 i) const;
    i32 single(i32 i, Token& token, Tok kind, i32 size);
    static bool afterOperand(Tok previous, bool any);
    i32 number(i32 i, i32 signLength, Token& token);
    i32 read(i32 i, Token& token, Tok previous, bool any);
};

// ---- code (XPathCompiler.cpp writes it, XPathEvaluator.cpp runs it) ----

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

inline u32 word(u32 op, u32 operand) { return (op << 16) | operand; }

inline u32 stepWord(i32 axis, i32 test, u32 name, bool absolute) {
    return (absolute ? 0x80000000u : 0) | (u32(axis) << 24) | (u32(test) << 16) | name;
}

enum FunctionOp : u32 {
    kBoolean = 0x1f, kCeiling = 0x20, kConcat = 0x21, kContains = 0x22, kCount = 0x23, kFalse = 0x24,
    kFloor = 0x25, kLang = 0x26, kLast = 0x27, kLocalName = 0x28, kName = 0x29, kNamespaceURI = 0x2a,
    kNormalizeSpace = 0x2b, kNot = 0x2c, kNumberOf = 0x2d, kPosition = 0x2e, kRound = 0x2f,
    kStartsWith = 0x30, kString = 0x31, kStringLength = 0x32, kSubstring = 0x33,
    kSubstringAfter = 0x34, kSubstringBefore = 0x35, kSum = 0x36, kTranslate = 0x37, kTrue = 0x38,
    kId = 0x39,
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

// Tokenizes and compiles the expression into code; false with the
// context's error set when it is no XPath.
bool compile(XPathContext* context, const unit* expression, i32 length, Code& code);

}  // namespace xpathdetail

}  // namespace LxCore
