// The pattern algorithms behind RegExp and String's match, search, replace
// and split, over the core's regular expressions, and the per-engine record
// of the last successful match that RegExp's class-level properties report.
// Nothing here runs script except through a Replacer; every operation holds
// its own counted pattern and text, so script that recompiles or drops them
// meanwhile changes nothing under it. Each operation counts its work (a unit
// a match, with the matcher's steps and the text a replacement writes) on a
// meter of its own, so a running script's deadline or halt stops it.
#pragma once
#include <optional>

#include "core/Array.h"
#include "core/Callbacks.h"
#include "core/Refcountable.h"
#include "core/RegExp.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxScript {

using LxCore::f64;
using LxCore::i32;
using LxCore::u16;
using LxCore::u32;

// What the operations answer besides 0: the core's 27 when a match ran too
// long to tell, or a negative status when the engine holds the error
// already: this when a replacer failed, the core's kRegExpInterrupted when
// the work was stopped (a deadline or a halt).
constexpr i32 kPatternScriptFailed = -2;

// Class-level switches of reGlobals::flags (the same bits as a pattern's).
constexpr u16 kClassGlobal = 1;
constexpr u16 kClassIgnoreCase = 2;
constexpr u16 kClassMultiline = 4;

// A pattern's capture pairs on the core heap.
class CaptureArray {
public:
    explicit CaptureArray(const LxCore::RegExp& pattern) : pairs(pattern.allocCaptures()) {}
    ~CaptureArray() { LxCore::Heap::free(pairs); }
    CaptureArray(const CaptureArray&) = delete;
    CaptureArray& operator=(const CaptureArray&) = delete;
    LxCore::CapturePair& operator[](i32 i) { return pairs[i]; }
    LxCore::CapturePair* get() { return pairs; }

private:
    LxCore::CapturePair* pairs;
};

// One engine's match globals, made on first use; the engine deletes them.
class reGlobals : public LxCore::NativeData {
public:
    LxCore::Array matches;      // the last match: whole text, then each group (undefined: unset)
    LxCore::String lastInput;   // the text of the last match
    LxCore::String input;       // RegExp.input, set only by assignment
    i32 leftEnd = 0;            // start of the last match
    f64 rightStart = 0;         // end of the last match
    u16 flags = 0;              // kClass... switches

    // The matching step: searches text from start with the pattern's flags
    // joined by the class-level ones; a match fills the globals. Returns 0
    // with end set to the match end (-1 when nothing matched), 27, or with a
    // meter kRegExpInterrupted when the meter said to stop (a unit counts
    // the step itself).
    i32 match(const LxCore::RegExp& pattern, const LxCore::String& text, i32 start,
              CaptureArray& pairs, i32& end, LxCore::WorkMeter* meter = nullptr);

private:
    // The pattern recompiled with the class-level flags, kept while the
    // pattern and the flags stay the same.
    std::optional<LxCore::RegExp> base;
    std::optional<LxCore::RegExp> effective;

    const LxCore::RegExp& effectivePattern(const LxCore::RegExp& pattern);
};

// A replace that calls script for each match.
class Replacer {
public:
    virtual ~Replacer() = default;
    // args: each group's text (undefined for one that did not take part),
    // the match's offset and the text. False when the call failed.
    virtual bool replace(const LxCore::Array& args, LxCore::String& out) = 0;
};

// String.prototype.match: the group texts of one match, or with the
// pattern's own global flag every whole match; index is the start of the
// last successful match. An empty list means null.
i32 collectMatches(reGlobals& globals, const LxCore::RegExp& pattern, const LxCore::String& text,
                 LxCore::Array& list, i32& index);
// String.prototype.search: the first match's start, -1 when none.
i32 findFirstMatch(reGlobals& globals, const LxCore::RegExp& pattern, const LxCore::String& text,
                  i32& position);
// String.prototype.replace: the matches in the original text replaced, by
// the replacer when given, else by the replacement text with its "$" forms.
i32 replaceMatches(reGlobals& globals, const LxCore::RegExp& pattern, const LxCore::String& text,
                   const LxCore::String& replacement, Replacer* replacer, LxCore::String& out);
// String.prototype.split: the pieces between matches, each followed by the
// groups; limit counts separators.
i32 splitAtMatches(reGlobals& globals, const LxCore::RegExp& pattern, const LxCore::String& text,
                 u32 limit, LxCore::Array& pieces);

}  // namespace LxScript
