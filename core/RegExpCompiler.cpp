// Regular expressions: the pattern compiler, the shared sets of the class
// escapes, node release and the RegExp handle.
#include <algorithm>
#include <new>

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/RegExp.h"
#include "core/RegExpNodes.h"

namespace LxCore {

namespace {

// Counts and digit runs stop here instead of wrapping.
constexpr i32 kSaturated = 0x7FFFFFFF;

bool isOctal(unit c) { return c >= '0' && c <= '7'; }
bool isDigit(unit c) { return c >= '0' && c <= '9'; }
bool isLetter(unit c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

i32 hexValue(unit c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// ---------------------------------------------------------------------------
// Sets

constexpr SetData makeAsciiSet(const char* members) {
    SetData s;
    for (const char* m = members; *m; ++m) s.ascii[u8(*m) >> 5] |= 1u << (u8(*m) & 31);
    return s;
}

constexpr char kDigits[] = "0123456789";
constexpr char kWordChars[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz";
constexpr char kAsciiSpaces[] = "\b\t\n\v\f\r ";
constexpr SetRange kSpaceRanges[] = {{0x00A0, 0x00A0}, {0x1680, 0x1680}, {0x180E, 0x180E},
                                     {0x2000, 0x200A}, {0x2028, 0x2029}, {0x202F, 0x202F},
                                     {0x205F, 0x205F}, {0x3000, 0x3000}};

SetData makeSpaceSet() {
    SetData s = makeAsciiSet(kAsciiSpaces);
    s.ranges = kSpaceRanges;
    s.rangeCount = sizeof kSpaceRanges / sizeof kSpaceRanges[0];
    return s;
}

SetData makeComplement(u8 which) {
    SetData s;
    s.complements = which;
    return s;
}

const SetData kClassSets[] = {
    makeAsciiSet(kDigits), makeComplement(SetData::kNotDigit),
    makeSpaceSet(),        makeComplement(SetData::kNotSpace),
    makeAsciiSet(kWordChars), makeComplement(SetData::kNotWord),
};

bool inRanges(const SetRange* ranges, u32 count, unit c) {
    u32 lo = 0, hi = count;
    while (lo < hi) {
        const u32 mid = (lo + hi) / 2;
        if (c < ranges[mid].low)
            hi = mid;
        else if (c > ranges[mid].high)
            lo = mid + 1;
        else
            return true;
    }
    return false;
}

bool inPlainSet(const SetData& s, unit c) {
    if (c < 128) return (s.ascii[c >> 5] >> (c & 31)) & 1;
    return inRanges(s.ranges, s.rangeCount, c);
}

}  // namespace

const SetData& classEscapeSet(ClassEscape which) { return kClassSets[which]; }

bool isRegExpWordChar(unit c) { return inPlainSet(kClassSets[kWordClass], c); }

bool SetData::contains(unit c) const {
    if (inPlainSet(*this, c)) return true;
    if (!complements) return false;
    return ((complements & kNotDigit) && !inPlainSet(kClassSets[kDigitClass], c)) ||
           ((complements & kNotSpace) && !inPlainSet(kClassSets[kSpaceClass], c)) ||
           ((complements & kNotWord) && !inPlainSet(kClassSets[kWordClass], c));
}

reSet::~reSet() {
    if (owned) {
        Heap::free(const_cast<SetRange*>(set->ranges));
        delete set;
    }
}

namespace {

// Collects the items of one bracketed set, then packs them into its SetData.
class SetBuilder {
public:
    void addRange(unit low, unit high) {
        if (low < 128) {
            for (u32 c = low; c <= high && c < 128; ++c) data.ascii[c >> 5] |= 1u << (c & 31);
            if (high < 128) return;
            low = 128;
        }
        ranges.push({low, high});
    }
    void addClass(ClassEscape which) {
        const SetData& s = kClassSets[which];
        for (int w = 0; w < 4; ++w) data.ascii[w] |= s.ascii[w];
        for (u32 r = 0; r < s.rangeCount; ++r) ranges.push(s.ranges[r]);
        data.complements |= s.complements;
    }
    // The packed set: ranges sorted and merged into one block of their own.
    SetData* finish() {
        SetData* out = new SetData(data);
        if (ranges.empty()) return out;
        SetRange* first = &ranges[0];
        std::sort(first, first + ranges.size(), [](const SetRange& a, const SetRange& b) { return a.low < b.low; });
        u32 merged = 0;
        for (u32 r = 1; r < ranges.size(); ++r) {
            if (u32(ranges[r].low) <= u32(ranges[merged].high) + 1)
                ranges[merged].high = std::max(ranges[merged].high, ranges[r].high);
            else
                ranges[++merged] = ranges[r];
        }
        try {
            SetRange* packed = static_cast<SetRange*>(Heap::alloc(u64(merged + 1) * sizeof(SetRange)));
            std::copy(first, first + merged + 1, packed);
            out->ranges = packed;
            out->rangeCount = merged + 1;
        } catch (...) {
            delete out;
            throw;
        }
        return out;
    }

private:
    SetData data;
    PodStack<SetRange> ranges;
};

// ---------------------------------------------------------------------------
// The compiler

// One token after a '\'.
struct Escape {
    enum Type : u8 { kChar, kClass, kBoundary, kNotBoundary, kBackRef, kInvalid };
    Type type;
    i32 value;                          // the unit, class, or group number
};

// A group being parsed (the pattern itself at the bottom).
struct Frame {
    reAtom* head;                       // the sequence being collected
    reAtom* tail;
    u32 alternativesFrom;               // its closed alternatives in `alternatives`
    bool alternation;
    i32 group;                          // -1 unless it captures
    reSubExpr::GroupKind kind;
    i32 groupsFrom;                     // the first group opened inside
};

class Compiler {
public:
    Compiler(const String& pattern, u32 flags, RegExpData& out)
        : p(pattern.chars()), n(pattern.length()), ignoreCase(flags & kRegExpIgnoreCase), data(out) {}
    ~Compiler();

    // 0, Err::kSyntaxError or Err::kStackOverrun; on 0 the list is in data.
    i32 run();

private:
    const unit* p;
    i32 n;
    i32 i = 0;
    bool ignoreCase;
    RegExpData& data;

    PodStack<Frame> frames;
    PodStack<reAtom*> alternatives;     // closed alternatives of the open frames
    String pending;                     // a run of ordinary characters not yet a node
    i32 pendingDots = 0;                // or a run of dots
    i32 groupsOpened = 0;
    i32 largestBackRef = 0;
    i32 lookaheads = 0;

    Frame& top() { return frames.back(); }
    bool at(unit c) const { return i < n && p[i] == c; }

    void append(reAtom* node);
    void flush(bool splitLast);
    void addChar(unit c);
    void addDot();
    Escape readEscape(bool inSet);
    i32 readDigits(i32 limitDigits, i32 radix);
    bool readBraces(i32& min, i32& max);
    i32 quantify(i32 min, i32 max);
    i32 openGroup();
    void closeGroup();
    reAtom* closeSequence(Frame& frame, reContainer* owner);
    i32 readSet(reAtom*& out);
    reAtom* newString(const unit* units, i32 length);
};

Compiler::~Compiler() {
    // Whatever was not handed over: the open sequences and alternatives.
    for (u32 f = 0; f < frames.size(); ++f) freeNodeList(frames[f].head);
    for (u32 a = 0; a < alternatives.size(); ++a) freeNodeList(alternatives[a]);
}

reAtom* Compiler::newString(const unit* units, i32 length) {
    String text(units, length);
    if (ignoreCase) text.toLower();
    return new reString(text);
}

void Compiler::append(reAtom* node) {
    Frame& f = top();
    node->prev = f.tail;
    if (f.tail)
        f.tail->next = node;
    else
        f.head = node;
    f.tail = node;
}

// The pending run becomes a node; with splitLast its last unit becomes a
// node of its own, for the quantifier that follows.
void Compiler::flush(bool splitLast) {
    if (pendingDots > 0) {
        const i32 dots = pendingDots;
        pendingDots = 0;
        if (splitLast && dots > 1) {
            append(new reAnyChar(dots - 1));
            append(new reAnyChar(1));
        } else {
            append(new reAnyChar(dots));
        }
    } else if (!pending.isEmpty()) {
        const i32 length = pending.length();
        if (splitLast && length > 1) {
            append(newString(pending.chars(), length - 1));
            append(newString(pending.chars() + length - 1, 1));
        } else {
            append(newString(pending.chars(), length));
        }
        pending.clear();
    }
}

void Compiler::addChar(unit c) {
    if (pendingDots) flush(false);
    pending += c;
}

void Compiler::addDot() {
    if (!pending.isEmpty()) flush(false);
    if (pendingDots < kSaturated) ++pendingDots;
}

// Up to limitDigits digits of the radix at i, saturating; -1 when none.
i32 Compiler::readDigits(i32 limitDigits, i32 radix) {
    i32 value = -1;
    for (i32 k = 0; k < limitDigits && i < n; ++k) {
        const i32 d = hexValue(p[i]);
        if (d < 0 || d >= radix) break;
        ++i;
        value = value < 0 ? d : (value > (kSaturated - d) / radix ? kSaturated : value * radix + d);
    }
    return value;
}

Escape Compiler::readEscape(bool inSet) {
    if (i >= n) return {Escape::kInvalid, 0};  // a final '\'
    const unit c = p[i++];
    switch (c) {
        case 'd': return {Escape::kClass, kDigitClass};
        case 'D': return {Escape::kClass, kNotDigitClass};
        case 's': return {Escape::kClass, kSpaceClass};
        case 'S': return {Escape::kClass, kNotSpaceClass};
        case 'w': return {Escape::kClass, kWordClass};
        case 'W': return {Escape::kClass, kNotWordClass};
        case 'b': return inSet ? Escape{Escape::kChar, 8} : Escape{Escape::kBoundary, 0};
        case 'B': return inSet ? Escape{Escape::kInvalid, 0} : Escape{Escape::kNotBoundary, 0};
        case 'f': return {Escape::kChar, 0x0C};
        case 'n': return {Escape::kChar, 0x0A};
        case 'r': return {Escape::kChar, 0x0D};
        case 't': return {Escape::kChar, 0x09};
        case 'v': return {Escape::kChar, 0x0B};
        case 'c':
            if (i < n && isLetter(p[i])) return {Escape::kChar, p[i++] & 31};
            return {Escape::kInvalid, 0};
        case '0':
            if (i + 1 < n && isOctal(p[i]) && isOctal(p[i + 1])) {
                const i32 v = (p[i] - '0') * 8 + (p[i + 1] - '0');
                i += 2;
                return {Escape::kChar, v};
            }
            return {Escape::kChar, 0};
        case 'o':
        case 'x':
        case 'u': {
            const i32 digits = c == 'o' ? 3 : c == 'x' ? 2 : 4;
            const i32 radix = c == 'o' ? 8 : 16;
            const i32 from = i;
            const i32 v = readDigits(digits, radix);
            if (i - from == digits) return {Escape::kChar, v};
            i = from;  // too few digits: the letter itself, the digits as text
            return {Escape::kChar, c};
        }
        default:
            break;
    }
    if (inSet || c < '1' || c > '9') return {Escape::kChar, c};
    // A back reference when it is one digit or names a group already opened;
    // else an octal escape of up to three digits, or the digit itself.
    const i32 from = i - 1;
    i = from;
    const i32 number = readDigits(kSaturated, 10);
    if (i - from == 1 || number <= groupsOpened) {
        largestBackRef = std::max(largestBackRef, number);
        return {Escape::kBackRef, number};
    }
    i = from;
    const i32 octal = readDigits(3, 8);
    if (octal >= 0) return {Escape::kChar, octal};
    i = from + 1;
    return {Escape::kChar, c};
}

// "{m}", "{m,}" or "{m,n}" at i (just past the '{'). False when the text is
// no such form; i then stands past what was read, which is taken literally.
bool Compiler::readBraces(i32& min, i32& max) {
    if (i >= n || !isDigit(p[i])) return false;
    min = readDigits(kSaturated, 10);
    max = min;
    if (at(',')) {
        ++i;
        max = i < n && isDigit(p[i]) ? std::max(readDigits(kSaturated, 10), min) : kSaturated;
    }
    if (!at('}')) return false;
    ++i;
    return true;
}

// Wraps the node before the quantifier just read into a reQuantifier.
i32 Compiler::quantify(i32 min, i32 max) {
    const bool lazy = at('?');
    if (lazy) ++i;
    if (at('*') || at('+') || at('?')) return Err::kSyntaxError;
    flush(true);
    if (!top().tail) return Err::kSyntaxError;
    reQuantifier* q = new reQuantifier(data.quantifierCount, min, max, lazy);
    Frame& f = top();
    reAtom* target = f.tail;
    f.tail = target->prev;
    if (f.tail)
        f.tail->next = nullptr;
    else
        f.head = nullptr;
    target->prev = nullptr;
    q->setChildren(target);
    if (data.quantifierCount < kSaturated) ++data.quantifierCount;
    if (min < max) q->backtracks = 1;
    if (target->kind == reAtom::kQuantifier || target->kind == reAtom::kSubExpr) {
        q->groupsFrom = static_cast<reContainer*>(target)->groupsFrom;
        q->groupsTo = static_cast<reContainer*>(target)->groupsTo;
    }
    // Children of fixed width that neither capture nor backtrack.
    i32 width = 0;
    switch (target->kind) {
        case reAtom::kString:
            width = static_cast<reString*>(target)->text.length();
            break;
        case reAtom::kAnyChar:
            width = static_cast<reAnyChar*>(target)->count;
            break;
        case reAtom::kSet:
            width = 1;
            break;
        default:
            break;
    }
    q->simpleWidth = width;
    append(q);
    return 0;
}

i32 Compiler::openGroup() {
    if (i32(frames.size()) > kRegExpMaxNesting) return Err::kStackOverrun;
    reSubExpr::GroupKind kind = reSubExpr::kCapture;
    const unit k = i + 1 < n && at('?') ? p[i + 1] : 0;
    if (k == ':' || k == '=' || k == '!') {
        kind = k == ':' ? reSubExpr::kNonCapturing : k == '=' ? reSubExpr::kLookahead : reSubExpr::kNegativeLookahead;
        i += 2;
    }
    i32 group = -1;
    if (kind == reSubExpr::kCapture) {
        if (groupsOpened >= kSaturated - 1) return Err::kStackOverrun;
        group = ++groupsOpened;
    }
    frames.push({nullptr, nullptr, alternatives.size(), false, group, kind, groupsOpened + (group < 0 ? 1 : 0)});
    // Any other '?' is the first unit of the group's text.
    if (kind == reSubExpr::kCapture && at('?')) addChar(p[i++]);
    return 0;
}

// The frame's sequence (or alternation) as one finished list, the nodes
// pointing at their owner.
reAtom* Compiler::closeSequence(Frame& frame, reContainer* owner) {
    auto finishList = [&](reAtom* head, reAtom* up) -> reAtom* {
        if (!head) head = new reString(String());
        for (reAtom* a = head; a; a = a->next) {
            a->up = up;
            // A greedy repetition followed by plain text backs off only to
            // where that text can start.
            if (a->kind == reAtom::kQuantifier && a->next && a->next->kind == reAtom::kString && !ignoreCase) {
                const String& t = static_cast<reString*>(a->next)->text;
                if (!t.isEmpty()) static_cast<reQuantifier*>(a)->followedBy = t[0];
            }
        }
        return head;
    };
    reAtom* head = frame.head;
    if (!frame.alternation) {
        frame.head = frame.tail = nullptr;
        return finishList(head, owner);
    }
    // The last alternative joins the closed ones; all become one node.
    alternatives.push(head);
    frame.head = frame.tail = nullptr;
    const u32 from = frame.alternativesFrom;
    const i32 count = i32(alternatives.size() - from);
    reAlternative* alt = new reAlternative(data.alternativeCount);
    if (data.alternativeCount < kSaturated) ++data.alternativeCount;
    try {
        alt->alternatives = static_cast<reAtom**>(Heap::alloc(u64(count) * sizeof(reAtom*)));
        alt->alternativeBacktracks = static_cast<u8*>(Heap::alloc(u64(count)));
    } catch (...) {
        delete alt;
        throw;
    }
    for (i32 k = 0; k < count; ++k) {
        alt->alternatives[k] = nullptr;
        alt->alternativeBacktracks[k] = 0;
    }
    alt->count = count;
    for (i32 k = 0; k < count; ++k) {
        reAtom* list = alternatives[from + k];
        alternatives[from + k] = nullptr;
        try {
            list = finishList(list, alt);
        } catch (...) {
            freeNodeList(list);
            freeNodeList(alt);
            throw;
        }
        alt->alternatives[k] = list;
        for (reAtom* a = list; a; a = a->next)
            if (a->backtracks) alt->alternativeBacktracks[k] = 1;
    }
    alternatives.truncate(from);
    frame.alternation = false;
    alt->up = owner;
    return alt;
}

void Compiler::closeGroup() {
    Frame& f = top();
    reSubExpr* group = new reSubExpr(f.group, f.kind);
    if (f.kind >= reSubExpr::kLookahead) group->slot = lookaheads < kSaturated ? lookaheads++ : lookaheads;
    group->groupsFrom = f.groupsFrom;
    group->groupsTo = groupsOpened + 1;
    reAtom* children;
    try {
        children = closeSequence(f, group);
    } catch (...) {
        delete group;
        throw;
    }
    group->setChildren(children);
    frames.pop();
    append(group);
}

// A bracketed set, at i just past the '['.
i32 Compiler::readSet(reAtom*& out) {
    SetBuilder set;
    const bool negated = at('^');
    if (negated) ++i;
    // One item: a unit, or a class escape (class >= 0).
    auto readItem = [&](i32& c, i32& cls) -> i32 {
        cls = -1;
        c = p[i++];
        if (c != '\\') return 0;
        const Escape e = readEscape(true);
        if (e.type == Escape::kInvalid) return Err::kSyntaxError;
        if (e.type == Escape::kClass)
            cls = e.value;
        else
            c = e.value;
        return 0;
    };
    for (;;) {
        if (i >= n) return Err::kSyntaxError;  // no ']'
        if (p[i] == ']') {
            ++i;
            break;
        }
        i32 c, cls;
        if (i32 status = readItem(c, cls)) return status;
        if (cls >= 0) {
            set.addClass(ClassEscape(cls));
            continue;
        }
        // A range, unless the '-' ends the set or the text.
        if (!(at('-') && i + 1 < n && p[i + 1] != ']')) {
            set.addRange(unit(c), unit(c));
            continue;
        }
        ++i;
        i32 end, endClass;
        if (i32 status = readItem(end, endClass)) return status;
        if (endClass >= 0) {  // "a-\d": the start, a '-' and the class
            set.addRange(unit(c), unit(c));
            set.addRange('-', '-');
            set.addClass(ClassEscape(endClass));
            continue;
        }
        if (c > end) return Err::kSyntaxError;
        set.addRange(unit(c), unit(end));
    }
    SetData* data = set.finish();
    try {
        out = new reSet(data, true, negated);
    } catch (...) {
        Heap::free(const_cast<SetRange*>(data->ranges));
        delete data;
        throw;
    }
    return 0;
}

i32 Compiler::run() {
    frames.push({nullptr, nullptr, 0, false, -1, reSubExpr::kNonCapturing, 1});
    while (i < n) {
        const unit c = p[i++];
        i32 status = 0;
        switch (c) {
            case '\\': {
                const Escape e = readEscape(false);
                switch (e.type) {
                    case Escape::kInvalid:
                        return Err::kSyntaxError;
                    case Escape::kChar:
                        addChar(unit(e.value));
                        break;
                    case Escape::kClass:
                        flush(false);
                        append(new reSet(&classEscapeSet(ClassEscape(e.value)), false, false));
                        break;
                    case Escape::kBoundary:
                    case Escape::kNotBoundary:
                        flush(false);
                        append(new reWordBoundary(e.type == Escape::kNotBoundary));
                        break;
                    case Escape::kBackRef:
                        flush(false);
                        append(new reBackRef(e.value));
                        break;
                }
                break;
            }
            case '.':
                addDot();
                break;
            case '^':
                flush(false);
                append(new reBol);
                break;
            case '$':
                flush(false);
                append(new reEol);
                break;
            case '[': {
                flush(false);
                reAtom* set = nullptr;
                status = readSet(set);
                if (set) append(set);
                break;
            }
            case '(':
                flush(false);
                status = openGroup();
                break;
            case ')':
                if (frames.size() == 1) {
                    addChar(c);  // no group is open
                    break;
                }
                flush(false);
                closeGroup();
                break;
            case '|': {
                flush(false);
                Frame& f = top();
                alternatives.push(f.head);
                f.head = f.tail = nullptr;
                f.alternation = true;
                break;
            }
            case '*':
                status = quantify(0, kSaturated);
                break;
            case '+':
                status = quantify(1, kSaturated);
                break;
            case '?':
                status = quantify(0, 1);
                break;
            case '{': {
                const i32 from = i;
                i32 min = 0, max = 0;
                if (readBraces(min, max)) {
                    status = quantify(min, max);
                } else {
                    addChar('{');  // taken literally, with what was read
                    for (i32 k = from; k < i; ++k) addChar(p[k]);
                }
                break;
            }
            default:
                addChar(c);  // '}' and ']' included
                break;
        }
        if (status) return status;
    }
    if (frames.size() > 1) return Err::kSyntaxError;  // a group left open
    if (largestBackRef > groupsOpened) return Err::kSyntaxError;
    flush(false);
    data.head = closeSequence(frames[0], nullptr);
    frames.pop();
    data.groupCount = groupsOpened + 1;
    data.slotCount = 3 * data.groupCount + 2 * data.quantifierCount + lookaheads;
    return 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Nodes

void reContainer::setChildren(reAtom* list) {
    first = list;
    for (reAtom* a = list; a; a = a->next) {
        a->up = this;
        if (a->backtracks) backtracks = 1;
    }
}

reAlternative::~reAlternative() {
    Heap::free(alternatives);
    Heap::free(alternativeBacktracks);
}

// Each container's lists are spliced in behind it before it goes, so the
// walk is one loop however deep the nesting.
void freeNodeList(reAtom* head) {
    reAtom* a = head;
    while (a) {
        auto splice = [&a](reAtom* list) {
            if (!list) return;
            reAtom* last = list;
            while (last->next) last = last->next;
            last->next = a->next;
            a->next = list;
        };
        if (a->kind == reAtom::kQuantifier || a->kind == reAtom::kSubExpr) {
            splice(static_cast<reContainer*>(a)->first);
            static_cast<reContainer*>(a)->first = nullptr;
        } else if (a->kind == reAtom::kAlternative) {
            reAlternative* alt = static_cast<reAlternative*>(a);
            for (i32 k = alt->count; k-- > 0;) splice(alt->alternatives[k]);
            alt->count = 0;
        }
        reAtom* next = a->next;
        delete a;
        a = next;
    }
}

// ---------------------------------------------------------------------------
// RegExpData and RegExp

RegExpData::~RegExpData() { freeNodeList(head); }

RegExp::RegExp(RegExpData* data) : d(data) {}

RegExp::RegExp(const RegExp& other) : Root(other), d(other.d) { d->addRef(); }

RegExp& RegExp::operator=(const RegExp& other) {
    other.d->addRef();
    d->release();
    d = other.d;
    return *this;
}

RegExp::~RegExp() { d->release(); }

bool RegExp::operator==(const RegExp& other) const {
    return d == other.d || (d->flags == other.d->flags && d->source == other.d->source);
}

CapturePair* RegExp::allocCaptures() const {
    const i32 count = std::max(d->groupCount, 1);
    CapturePair* pairs = static_cast<CapturePair*>(Heap::alloc(u64(count) * sizeof(CapturePair)));
    for (i32 g = 0; g < count; ++g) pairs[g] = {-1, 0};
    return pairs;
}

RegExp compileRegExp(const String& pattern, u32 flags) {
    RegExpData* data = new RegExpData;
    RegExp handle(data);
    data->source = pattern;
    data->flags = flags;
    Compiler compiler(pattern, flags, *data);
    const i32 status = compiler.run();
    if (status) {
        data->status = status;
        data->groupCount = 0;
        data->quantifierCount = data->alternativeCount = 0;
    }
    return handle;
}

}  // namespace LxCore
