// Regular expressions: the backtracking matcher.
//
// One loop walks the node lists; choices it may come back to are kept on a
// heap stack, never on the C++ stack, and every register it changes (group
// pairs, repetition counts) is logged on a trail, so going back to a choice
// puts exactly the changes since then back. Lookaheads cut the choices made
// inside them when they succeed, which makes them atomic.
//
// A match for a script carries a meter: every kPollSteps steps, and every
// kScanChunk units a scan skips, it reports its work, and it stops when the
// meter says so.
#include <algorithm>
#include <new>

#include "core/Callbacks.h"
#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/RegExp.h"
#include "core/RegExpNodes.h"

namespace LxCore {

namespace {

// Backtracking memory per match: past these a match stops with 27, as it
// does when its steps run out.
constexpr u32 kMaxChoices = 1u << 22;   // 24 bytes each: 96 MB
constexpr u32 kMaxTrail = 1u << 23;     // 8 bytes each: 64 MB

// Steps between two reports to the meter.
constexpr u64 kPollSteps = u64(kWorkPollUnits) * kRegExpStepsPerWorkUnit;

u64 gStepBudget = kRegExpStepBudget;
// Where a match with a meter first looks: its first report, or the budget.
u64 gFirstLook = kPollSteps;
// Units the first-unit scan skips between two reports.
constexpr i32 kScanChunk = i32(kPollSteps);
// Rounds of a simple repetition between two looks at the budget and the
// meter (a power of two).
constexpr i32 kRoundsPerLook = 4096;

bool isLineBreak(unit c) { return c == 0x0A || c == 0x0D || c == 0x2028 || c == 0x2029; }

struct Choice {
    enum Op : u8 {
        kNextAlternative,   // count: the alternative to try
        kQuantifierExit,    // leave a greedy repetition here
        kQuantifierIterate, // repeat a lazy repetition once more
        kSimpleGreedy,      // count: repetitions held; back off one
        kSimpleLazy,        // count: repetitions made; add one
        kLookahead,         // the body failed
    };
    const reAtom* node;
    i32 pos;
    u32 trail;              // trail height when the choice was made
    i32 count;
    Op op;
};

struct TrailEntry {
    u32 slot;
    i32 old;
};

class Matcher {
public:
    Matcher(const RegExpData& data, const String& subject, WorkMeter* meter)
        : re(data),
          text(subject.chars()),
          length(subject.length()),
          ignoreCase(data.flags & kRegExpIgnoreCase),
          multiline(data.flags & kRegExpMultiline),
          pendingBase(2 * data.groupCount),
          quantifierBase(3 * data.groupCount),
          lookaheadBase(3 * data.groupCount + 2 * data.quantifierCount),
          meter(meter),
          checkAt(meter ? gFirstLook : gStepBudget) {}
    ~Matcher() {
        if (regs != inlineRegs) Heap::free(regs);
    }
    Matcher(const Matcher&) = delete;
    Matcher& operator=(const Matcher&) = delete;

    i32 search(i32 start, CapturePair* pairs, bool& matched);

private:
    enum Step { kMatch, kAdvance, kFail, kFound, kNotFound, kStopped };

    const RegExpData& re;
    const unit* text;
    const i32 length;
    const bool ignoreCase;
    const bool multiline;
    const i32 pendingBase;      // a capture group's start while it is open
    const i32 quantifierBase;   // a repetition's count and the start of its current round
    const i32 lookaheadBase;    // a lookahead's barrier on the choice stack

    i32 inlineRegs[48];
    i32* regs = inlineRegs;
    PodStack<Choice> choices;
    PodStack<TrailEntry> trail;
    u64 steps = 0;
    bool stopped = false;
    WorkMeter* const meter;
    u64 checkAt;                // the next step count that needs a look: the budget or a report
    u64 reportedSteps = 0;
    bool interrupted = false;   // the meter said to stop

    const reAtom* node = nullptr;
    i32 pos = 0;

    bool checkpoint();
    bool report(u64 work);
    // One more step in a loop of its own; false (stopped set) when the
    // match has to stop.
    bool tick() {
        if (++steps <= checkAt || checkpoint()) return true;
        stopped = true;
        return false;
    }
    i32 skipTo(unit wanted, i32 at);
    Step run(const reAtom* head, i32 start);
    Step matchNode();
    Step advance();
    Step backtrack();
    Step repeat(const reQuantifier* q);
    Step startRound(const reQuantifier* q);
    Step matchSimple(const reQuantifier* q);
    Step resumeSimple(Choice& c, const reQuantifier* q, bool more, i32 count, i32 at);
    i32 matchAtom(const reAtom* a, i32 at) const;
    bool sameText(i32 at, const unit* other, i32 n, bool otherLowered) const;

    void set(i32 slot, i32 value) {
        if (regs[slot] == value) return;
        if (trail.size() >= kMaxTrail) {
            stopped = true;
        } else {
            trail.push({u32(slot), regs[slot]});
        }
        regs[slot] = value;
    }
    void unwind(u32 height) {
        while (trail.size() > height) {
            const TrailEntry& e = trail.back();
            regs[e.slot] = e.old;
            trail.pop();
        }
    }
    void choose(Choice::Op op, const reAtom* at, i32 count) {
        if (choices.size() >= kMaxChoices) {
            stopped = true;
            return;
        }
        choices.push({at, pos, trail.size(), count, op});
    }
    i32 countSlot(const reQuantifier* q) const { return quantifierBase + 2 * q->index; }
    i32 roundSlot(const reQuantifier* q) const { return quantifierBase + 2 * q->index + 1; }
};

// ---------------------------------------------------------------------------
// Single atoms

bool Matcher::sameText(i32 at, const unit* other, i32 n, bool otherLowered) const {
    const unit* t = text + at;
    if (!ignoreCase) {
        for (i32 k = 0; k < n; ++k)
            if (t[k] != other[k]) return false;
        return true;
    }
    for (i32 k = 0; k < n; ++k) {
        const unit o = otherLowered ? other[k] : toLowerChar(other[k]);
        if (toLowerChar(t[k]) != o) return false;
    }
    return true;
}

// The position after the atom matched at `at`, or -1. Nothing is read past
// the text: a node fails when the text ends first.
i32 Matcher::matchAtom(const reAtom* a, i32 at) const {
    switch (a->kind) {
        case reAtom::kBol:
            return at == 0 || (multiline && isLineBreak(text[at - 1])) ? at : -1;
        case reAtom::kEol:
            return at == length || (multiline && isLineBreak(text[at])) ? at : -1;
        case reAtom::kAnyChar: {
            const i32 n = static_cast<const reAnyChar*>(a)->count;
            if (length - at < n) return -1;
            for (i32 k = 0; k < n; ++k)
                if (text[at + k] == 0x0A) return -1;
            return at + n;
        }
        case reAtom::kString: {
            const String& s = static_cast<const reString*>(a)->text;
            const i32 n = s.length();
            if (length - at < n || !sameText(at, s.chars(), n, true)) return -1;
            return at + n;
        }
        case reAtom::kBackRef: {
            const i32 g = static_cast<const reBackRef*>(a)->group;
            if (g >= re.groupCount) return -1;
            const i32 from = regs[2 * g], to = regs[2 * g + 1];
            if (from < 0 || to <= from) return at;  // unset or empty: matches empty
            const i32 n = to - from;
            if (length - at < n || !sameText(at, text + from, n, false)) return -1;
            return at + n;
        }
        case reAtom::kSet: {
            if (at >= length) return -1;
            const reSet* s = static_cast<const reSet*>(a);
            const unit c = text[at];
            const bool in = ignoreCase ? s->set->contains(toLowerChar(c)) || s->set->contains(toUpperChar(c))
                                       : s->set->contains(c);
            return in != s->negated ? at + 1 : -1;
        }
        case reAtom::kWordBoundary: {
            if (at == length) return at;  // both forms hold at the end
            const bool before = at > 0 && isRegExpWordChar(text[at - 1]);
            const bool boundary = before != isRegExpWordChar(text[at]);
            return boundary != static_cast<const reWordBoundary*>(a)->negated ? at : -1;
        }
        default:
            return -1;
    }
}

// ---------------------------------------------------------------------------
// Budget and meter

// At checkAt: past the budget the match stops; before it the meter hears of
// the steps since the last report.
bool Matcher::checkpoint() {
    if (steps > gStepBudget || !report(steps - reportedSteps)) return false;
    reportedSteps = steps;
    checkAt = std::min(gStepBudget, steps + kPollSteps);
    return true;
}

// work in steps; false when the meter says to stop.
bool Matcher::report(u64 work) {
    if (!meter || meter->add(u32(work / kRegExpStepsPerWorkUnit))) return true;
    interrupted = true;
    return false;
}

// The first position from at on that holds wanted, or length; -1 when the
// meter stopped the scan.
i32 Matcher::skipTo(unit wanted, i32 at) {
    while (at < length) {
        const i32 end = length - at > kScanChunk ? at + kScanChunk : length;
        while (at < end && text[at] != wanted) ++at;
        if (at < end) return at;
        if (!report(kPollSteps)) return -1;
    }
    return length;
}

// ---------------------------------------------------------------------------
// The walk

Matcher::Step Matcher::run(const reAtom* head, i32 start) {
    node = head;
    pos = start;
    Step step = kMatch;
    for (;;) {
        if ((++steps > checkAt && !checkpoint()) || stopped) return kStopped;
        switch (step) {
            case kMatch:
                step = matchNode();
                break;
            case kAdvance:
                step = advance();
                break;
            case kFail:
                step = backtrack();
                break;
            default:
                return step;
        }
    }
}

Matcher::Step Matcher::matchNode() {
    switch (node->kind) {
        case reAtom::kSubExpr: {
            const reSubExpr* s = static_cast<const reSubExpr*>(node);
            if (s->groupKind == reSubExpr::kCapture) {
                set(pendingBase + s->group, pos);
            } else if (s->groupKind != reSubExpr::kNonCapturing) {
                regs[lookaheadBase + s->slot] = i32(choices.size());
                choose(Choice::kLookahead, s, 0);
            }
            node = s->first;
            return kMatch;
        }
        case reAtom::kQuantifier: {
            const reQuantifier* q = static_cast<const reQuantifier*>(node);
            if (q->simpleWidth > 0) return matchSimple(q);
            set(countSlot(q), 0);
            return repeat(q);
        }
        case reAtom::kAlternative: {
            const reAlternative* alt = static_cast<const reAlternative*>(node);
            if (alt->count > 1) choose(Choice::kNextAlternative, alt, 1);
            node = alt->alternatives[0];
            return kMatch;
        }
        default: {
            const i32 next = matchAtom(node, pos);
            if (next < 0) return kFail;
            pos = next;
            return kAdvance;
        }
    }
}

// At a repetition boundary: another round, or on past the repetition (node
// left on the quantifier, kAdvance).
Matcher::Step Matcher::repeat(const reQuantifier* q) {
    const i32 count = regs[countSlot(q)];
    node = q;
    if (count < q->min) return startRound(q);
    if (count >= q->max) return kAdvance;
    if (q->lazy) {
        choose(Choice::kQuantifierIterate, q, 0);
        return kAdvance;
    }
    choose(Choice::kQuantifierExit, q, 0);
    return startRound(q);
}

// A round starts with the groups inside unset, as each round makes its own.
Matcher::Step Matcher::startRound(const reQuantifier* q) {
    set(roundSlot(q), pos);
    for (i32 g = q->groupsFrom; g < q->groupsTo; ++g) {
        set(2 * g, -1);
        set(2 * g + 1, 0);
    }
    node = q->first;
    return kMatch;
}

// Repetitions of a fixed-width child: the rounds are positions, so one
// choice covers them all and each back-off or raise is one step.
Matcher::Step Matcher::matchSimple(const reQuantifier* q) {
    const reAtom* child = q->first;
    const i32 limit = q->lazy ? q->min : q->max;
    i32 count = 0;
    i32 at = pos;
    while (count < limit) {
        const i32 next = matchAtom(child, at);
        if (next < 0) break;
        at = next;
        if ((++count & (kRoundsPerLook - 1)) == 0) {
            steps += kRoundsPerLook;
            if (steps > checkAt && !checkpoint()) {
                stopped = true;
                return kFail;
            }
        }
    }
    steps += u64(count & (kRoundsPerLook - 1));
    if (count < q->min) return kFail;
    pos = at;
    if (q->lazy ? count < q->max : count > q->min)
        choose(q->lazy ? Choice::kSimpleLazy : Choice::kSimpleGreedy, q, count);
    node = q;
    return kAdvance;
}

Matcher::Step Matcher::advance() {
    for (;;) {
        if (node->next) {
            node = node->next;
            return kMatch;
        }
        const reAtom* owner = node->up;
        if (!owner) return kFound;
        ++steps;
        switch (owner->kind) {
            case reAtom::kSubExpr: {
                const reSubExpr* s = static_cast<const reSubExpr*>(owner);
                if (s->groupKind == reSubExpr::kCapture) {
                    set(2 * s->group, regs[pendingBase + s->group]);
                    set(2 * s->group + 1, pos);
                } else if (s->groupKind != reSubExpr::kNonCapturing) {
                    const u32 barrier = u32(regs[lookaheadBase + s->slot]);
                    const Choice made = choices[barrier];
                    choices.truncate(barrier);
                    if (s->groupKind == reSubExpr::kNegativeLookahead) {
                        unwind(made.trail);
                        return kFail;
                    }
                    pos = made.pos;
                }
                node = s;
                break;
            }
            case reAtom::kQuantifier: {
                const reQuantifier* q = static_cast<const reQuantifier*>(owner);
                const i32 count = regs[countSlot(q)];
                if (pos == regs[roundSlot(q)]) {
                    // A round that consumed nothing ends the repetition; it
                    // stands for the rounds still missing, never for more.
                    if (count >= q->min) return kFail;
                    set(countSlot(q), q->min);
                    node = q;
                    break;
                }
                set(countSlot(q), count + 1);
                if (repeat(q) == kMatch) return kMatch;
                break;
            }
            default:
                node = owner;
                break;
        }
    }
}

// A simple repetition goes on after `count` rounds, at `at`; its choice
// stays for the next back-off or raise while `more` are left.
Matcher::Step Matcher::resumeSimple(Choice& c, const reQuantifier* q, bool more, i32 count, i32 at) {
    if (more) {
        c.count = count;
        c.pos = at;
    } else {
        choices.pop();
    }
    pos = at;
    node = q;
    return kAdvance;
}

Matcher::Step Matcher::backtrack() {
    if (choices.empty()) return kNotFound;
    Choice& c = choices.back();
    unwind(c.trail);
    pos = c.pos;
    switch (c.op) {
        case Choice::kNextAlternative: {
            const reAlternative* alt = static_cast<const reAlternative*>(c.node);
            node = alt->alternatives[c.count];
            if (c.count + 1 < alt->count)
                ++c.count;
            else
                choices.pop();
            return kMatch;
        }
        case Choice::kQuantifierExit:
            node = c.node;
            choices.pop();
            return kAdvance;
        case Choice::kQuantifierIterate: {
            const reQuantifier* q = static_cast<const reQuantifier*>(c.node);
            choices.pop();
            return startRound(q);
        }
        case Choice::kSimpleGreedy: {
            const reQuantifier* q = static_cast<const reQuantifier*>(c.node);
            i32 count = c.count - 1;
            i32 at = c.pos - q->simpleWidth;
            if (q->followedBy >= 0) {
                while (count > q->min && text[at] != unit(q->followedBy)) {
                    --count;
                    at -= q->simpleWidth;
                    if (!tick()) return kFail;
                }
            }
            return resumeSimple(c, q, count > q->min, count, at);
        }
        case Choice::kSimpleLazy: {
            // One more round, and more while the text after them cannot
            // start what follows.
            const reQuantifier* q = static_cast<const reQuantifier*>(c.node);
            i32 count = c.count;
            i32 at = c.pos;
            do {
                at = matchAtom(q->first, at);
                if (at < 0) {
                    choices.pop();
                    return kFail;
                }
                ++count;
                if (!tick()) return kFail;
            } while (q->followedBy >= 0 && count < q->max && (at == length || text[at] != unit(q->followedBy)));
            return resumeSimple(c, q, count < q->max, count, at);
        }
        case Choice::kLookahead: {
            const reSubExpr* s = static_cast<const reSubExpr*>(c.node);
            choices.pop();
            if (s->groupKind == reSubExpr::kLookahead) return kFail;
            node = s;  // a negative lookahead holds where its body failed
            return kAdvance;
        }
    }
    return kFail;
}

// ---------------------------------------------------------------------------
// The search

i32 Matcher::search(i32 start, CapturePair* pairs, bool& matched) {
    matched = false;
    for (i32 g = 0; g < re.groupCount; ++g) pairs[g] = {-1, 0};
    if (!re.head || start < 0 || (length > 0 && start >= length)) return 0;

    if (re.slotCount > i32(sizeof inlineRegs / sizeof inlineRegs[0]))
        regs = static_cast<i32*>(Heap::alloc(u64(re.slotCount) * sizeof(i32)));
    for (i32 g = 0; g < re.groupCount; ++g) {
        regs[2 * g] = -1;
        regs[2 * g + 1] = 0;
        regs[pendingBase + g] = -1;
    }
    for (i32 s = quantifierBase; s < re.slotCount; ++s) regs[s] = 0;

    // A pattern that starts with plain text can only match where its first
    // unit stands.
    i32 first = -1;
    if (re.head->kind == reAtom::kString && !ignoreCase) {
        const String& s = static_cast<const reString*>(re.head)->text;
        if (!s.isEmpty()) first = s[0];
    }
    for (i32 at = start; at <= length; ++at) {
        if (first >= 0) {
            at = skipTo(unit(first), at);
            if (at < 0) return kRegExpInterrupted;
            if (at == length) break;
        }
        const Step step = run(re.head, at);
        if (step == kStopped) return interrupted ? kRegExpInterrupted : Err::kStackOverrun;
        if (step == kFound) {
            for (i32 g = 1; g < re.groupCount; ++g) pairs[g] = {regs[2 * g], regs[2 * g + 1]};
            pairs[0] = {at, pos};
            matched = true;
            return 0;
        }
        unwind(0);
        choices.truncate(0);
    }
    return 0;
}

}  // namespace

void setRegExpStepBudgetForTests(u64 steps) {
    gStepBudget = steps ? steps : kRegExpStepBudget;
    gFirstLook = std::min(gStepBudget, kPollSteps);
}

i32 execRegExp(const RegExp& re, const String& text, i32 start, CapturePair* pairs, bool& matched,
               WorkMeter* meter) {
    Matcher matcher(re.data(), text, meter);
    return matcher.search(start, pairs, matched);
}

bool execRegExp(const RegExp& re, const String& text, i32 start, CapturePair* pairs) {
    bool matched = false;
    return execRegExp(re, text, start, pairs, matched) == 0 && matched;
}

}  // namespace LxCore
