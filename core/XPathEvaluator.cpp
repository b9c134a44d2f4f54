// The XPath evaluator: the word code run over a value stack, and the
// engine's entry points. All memory comes through the context's allocate and
// free.
#include <charconv>
#include <cmath>
#include <cstring>
#include <new>
#include <unordered_set>

#include "core/CharClass.h"
#include "core/XMLInternal.h"
#include "core/XPathInternal.h"

namespace LxCore {

using namespace xpathdetail;

namespace {

constexpr u32 kMagic = 0xcafef00d;

bool valid(const XPathContext* context) { return context && context->magic == kMagic; }

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
