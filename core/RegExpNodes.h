// The nodes of a compiled regular expression, shared by its compiler and its
// matcher. A pattern is a doubly linked list of nodes; a container node
// (quantifier, group, alternation) owns lists of its own, whose nodes point
// back at it through `up`. Nodes never change after compiling.
#pragma once
#include "core/Heap.h"
#include "core/RegExp.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxCore {

// One range of units in a set, both ends included.
struct SetRange {
    unit low;
    unit high;
};

// The units of a set: a bitmap for ASCII, sorted ranges above it, and the
// class escapes whose complements it includes (\D, \S, \W inside a set), so
// that its size follows the pattern text, never the ranges it names.
struct SetData {
    static constexpr u8 kNotDigit = 1;
    static constexpr u8 kNotSpace = 2;
    static constexpr u8 kNotWord = 4;

    u32 ascii[4] = {};
    const SetRange* ranges = nullptr;   // above U+007F, sorted, not overlapping
    u32 rangeCount = 0;
    u8 complements = 0;

    bool contains(unit c) const;
};

// The sets of the class escapes, shared by every pattern: the upper-case
// forms are the complements of the lower-case ones.
enum ClassEscape : u8 { kDigitClass, kNotDigitClass, kSpaceClass, kNotSpaceClass, kWordClass, kNotWordClass };
const SetData& classEscapeSet(ClassEscape which);

bool isRegExpWordChar(unit c);          // 0-9, A-Z, '_', a-z

class reAtom : public Root {
public:
    enum Kind : u8 {
        kBol = 1,
        kEol = 2,
        kAnyChar = 3,
        kString = 4,
        kBackRef = 5,
        kQuantifier = 6,
        kAlternative = 7,
        kSubExpr = 8,
        kSet = 9,
        kWordBoundary = 10,
    };

    explicit reAtom(Kind k) : kind(k) {}
    virtual ~reAtom() = default;
    reAtom(const reAtom&) = delete;
    reAtom& operator=(const reAtom&) = delete;

    Kind kind;
    u8 backtracks = 0;                  // the node can offer another way to match
    reAtom* next = nullptr;
    reAtom* prev = nullptr;
    reAtom* up = nullptr;               // the container whose list holds it; null at the top
};

class reBol : public reAtom {
public:
    reBol() : reAtom(kBol) {}
};

class reEol : public reAtom {
public:
    reEol() : reAtom(kEol) {}
};

class reAnyChar : public reAtom {
public:
    explicit reAnyChar(i32 n) : reAtom(kAnyChar), count(n) {}
    i32 count;
};

class reString : public reAtom {
public:
    explicit reString(const String& t) : reAtom(kString), text(t) {}
    String text;                        // lower-cased under ignoreCase
};

class reBackRef : public reAtom {
public:
    explicit reBackRef(i32 g) : reAtom(kBackRef), group(g) {}
    i32 group;
};

class reSet : public reAtom {
public:
    reSet(const SetData* s, bool own, bool neg) : reAtom(kSet), set(s), owned(own), negated(neg) {}
    ~reSet() override;
    const SetData* set;                 // a class escape's shared set, or one of its own
    bool owned;
    bool negated;
};

class reWordBoundary : public reAtom {
public:
    explicit reWordBoundary(bool neg) : reAtom(kWordBoundary), negated(neg) {}
    bool negated;
};

class reContainer : public reAtom {
public:
    using reAtom::reAtom;
    // Takes the child list over; the node backtracks when any child does.
    void setChildren(reAtom* first);
    reAtom* first = nullptr;
    // The capture groups opened inside: [groupsFrom, groupsTo).
    i32 groupsFrom = 0;
    i32 groupsTo = 0;
};

class reQuantifier : public reContainer {
public:
    reQuantifier(i32 i, i32 lo, i32 hi, bool l) : reContainer(kQuantifier), index(i), min(lo), max(hi), lazy(l) {}
    i32 index;
    i32 min;
    i32 max;
    bool lazy;
    // A child of fixed width that cannot backtrack and captures nothing is
    // repeated without the general machinery: its completed repetitions are
    // positions start + k * width.
    i32 simpleWidth = 0;                // 0: the general path
    // The unit the node after this one must start with, when it is a plain
    // string: a greedy back-off skips the positions where it cannot match.
    i32 followedBy = -1;
};

class reAlternative : public reAtom {
public:
    explicit reAlternative(i32 i) : reAtom(kAlternative), index(i) { backtracks = 1; }
    ~reAlternative() override;
    i32 index;
    reAtom** alternatives = nullptr;    // heads of the alternative lists
    u8* alternativeBacktracks = nullptr;
    i32 count = 0;
};

class reSubExpr : public reContainer {
public:
    enum GroupKind : u8 { kCapture = 0, kNonCapturing = 1, kLookahead = 2, kNegativeLookahead = 3 };
    reSubExpr(i32 g, GroupKind k) : reContainer(kSubExpr), group(g), groupKind(k) {}
    i32 group;                          // capture groups only; else -1
    GroupKind groupKind;
    i32 slot = -1;                      // lookaheads: the register of their barrier
};

// Frees a node list and every list below it, without recursion.
void freeNodeList(reAtom* head);

// A growable array of plain values on the core heap: the compiler's open
// groups and the matcher's backtracking state. Growth throws std::bad_alloc.
template <class T>
class PodStack {
public:
    PodStack() = default;
    ~PodStack() { Heap::free(items); }
    PodStack(const PodStack&) = delete;
    PodStack& operator=(const PodStack&) = delete;

    u32 size() const { return count; }
    bool empty() const { return count == 0; }
    T& operator[](u32 index) { return items[index]; }
    T& back() { return items[count - 1]; }
    void pop() { --count; }
    void truncate(u32 n) { count = n; }
    void push(const T& value) {
        if (count == capacity) grow();
        items[count++] = value;
    }

private:
    void grow() {
        const u32 more = capacity ? capacity * 2 : 16;
        items = static_cast<T*>(items ? Heap::realloc(items, u64(more) * sizeof(T)) : Heap::alloc(u64(more) * sizeof(T)));
        capacity = more;
    }

    T* items = nullptr;
    u32 count = 0;
    u32 capacity = 0;
};

}  // namespace LxCore
