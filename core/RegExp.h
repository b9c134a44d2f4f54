// Regular expressions: a compiler from a UTF-16 pattern to a list of nodes,
// and a backtracking matcher over UTF-16 text. A compiled expression is
// immutable and shared by reference; all state of a match lives in one call.
#pragma once
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

class WorkMeter;
class reAtom;

// Flags of a compiled expression.
constexpr u32 kRegExpGlobal = 1;
constexpr u32 kRegExpIgnoreCase = 2;
constexpr u32 kRegExpMultiline = 4;

// Groups nest at most this deep; one more does not compile (27).
constexpr i32 kRegExpMaxNesting = 1000;
// Steps one match may take over all its start positions before it stops
// with 27; every node tried, given up or reset is a step. Catastrophic
// backtracking ends here instead of hanging the caller.
constexpr u64 kRegExpStepBudget = 100000000;

// For tests and fuzzing only: the step budget of the matches that follow;
// 0 puts kRegExpStepBudget back.
void setRegExpStepBudgetForTests(u64 steps);

// A match's steps are cheaper than the units of work a meter counts: this
// many make one unit.
constexpr u32 kRegExpStepsPerWorkUnit = 16;
// What a match answers when its meter told it to stop (the script it
// served has to end; its engine holds the error).
constexpr i32 kRegExpInterrupted = -1;

// A group's match: start and end; an unset group has start -1.
struct CapturePair {
    i32 start;
    i32 end;
};

class RegExpData : public Refcountable {
public:
    String source;
    reAtom* head = nullptr;             // null when the pattern did not compile
    i32 groupCount = 0;                 // capture groups + 1 (the whole match)
    i32 quantifierCount = 0;
    i32 alternativeCount = 0;
    u32 flags = 0;
    i32 status = 0;                     // 0, Err::kSyntaxError or Err::kStackOverrun
    i32 slotCount = 0;                  // per-match registers the nodes use

    RegExpData() = default;
    ~RegExpData() override;
    RegExpData(const RegExpData&) = delete;
    RegExpData& operator=(const RegExpData&) = delete;
};

// A handle holding one reference to its compiled data.
class RegExp : public Root {
public:
    explicit RegExp(RegExpData* data);  // takes over the caller's reference
    RegExp(const RegExp& other);        // shares the data
    RegExp& operator=(const RegExp& other);
    ~RegExp();

    bool isValid() const { return d->head != nullptr; }
    // Why the pattern did not compile: 0 when it did.
    i32 getStatus() const { return d->status; }
    const String& getSource() const { return d->source; }
    u32 getFlags() const { return d->flags; }
    i32 getGroupCount() const { return d->groupCount; }
    const RegExpData& data() const { return *d; }

    // The same compiled pattern, or the same source and flags.
    bool operator==(const RegExp& other) const;

    // groupCount pairs, each {-1, 0}, on the core heap: free with Heap::free.
    // Throws std::bad_alloc.
    CapturePair* allocCaptures() const;

private:
    RegExpData* d;
};

// Always makes the data; RegExp::isValid tells whether the pattern compiled.
// Throws std::bad_alloc.
RegExp compileRegExp(const String& pattern, u32 flags);

// Searches text from start on. pairs holds at least getGroupCount() pairs;
// on a match pair 0 is the whole match and the others are the groups.
// Returns 0 with matched set, or 27 when the match stopped before it could
// tell (its step budget or its backtracking memory ran out): a stopped match
// must never read as no match. With a meter the match reports its work as it
// goes and answers kRegExpInterrupted when the meter says to stop. Throws
// std::bad_alloc.
i32 execRegExp(const RegExp& re, const String& text, i32 start, CapturePair* pairs, bool& matched,
               WorkMeter* meter = nullptr);
// The same for callers that cannot fail: a stopped match is false.
bool execRegExp(const RegExp& re, const String& text, i32 start, CapturePair* pairs);

}  // namespace LxCore
