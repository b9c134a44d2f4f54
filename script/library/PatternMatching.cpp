// Pattern algorithms. Replace and split walk the original text once and
// write what they make to a new buffer, so that each is linear in the text
// plus its matches, and no match ever sees a replacement.
#include "script/library/PatternMatching.h"

#include "core/Variant.h"

namespace LxScript {

using LxCore::Array;
using LxCore::RegExp;
using LxCore::String;
using LxCore::unit;
using LxCore::Variant;
using LxCore::WorkMeter;

namespace {

// Units of text a replacement writes for one unit of work: a replacement
// longer than this (a "$'" of a long text, say) counts for more than its
// match.
constexpr i32 kTextUnitsPerWorkUnit = 256;

void setPiece(Variant& slot, const String& text, i32 start, i32 end) {
    slot.setString(text.substr(start, end - start));
}

void appendVariant(Array& list, const Variant& value) { list.getOrCreate(list.length()) = value; }

void appendPiece(Array& list, const String& text, i32 start, i32 end) {
    setPiece(list.getOrCreate(list.length()), text, start, end);
}

// Group g of a match as a value: its text, or undefined when it took no part.
void appendGroup(Array& list, const String& text, CaptureArray& pairs, i32 g) {
    Variant& slot = list.getOrCreate(list.length());
    if (pairs[g].start >= 0)
        setPiece(slot, text, pairs[g].start, pairs[g].end);
}

void appendRange(String& out, const String& text, i32 start, i32 end) {
    if (end > start)
        out.append(text.chars() + start, end - start);
}

void appendValueText(String& out, const Variant* value) {
    if (value && value->getType() != Variant::kUndefined)
        out += value->toString();
}

bool isDigit(unit c) { return c >= '0' && c <= '9'; }

// The working text of the edit-in-place reading (what is written so far,
// then the original from `from`), for "$`" and "$_".
struct WorkingText {
    const String& written;
    const String& text;
    i32 from;
};

// Expands the "$" forms of a replacement text for one match (s..e).
void expand(const String& replacement, const String& text, CaptureArray& pairs, i32 groups,
            const reGlobals& globals, const WorkingText& working, String& out) {
    const unit* r = replacement.chars();
    const i32 n = replacement.length();
    const i32 s = pairs[0].start;
    const i32 e = pairs[0].end;
    i32 copied = 0;
    for (i32 i = 0; i < n; i++) {
        if (r[i] != '$')
            continue;
        out.append(r + copied, i - copied);
        if (i + 1 == n) {           // a final "$" stands for itself
            copied = i;
            break;
        }
        unit c = r[i + 1];
        i32 used = 2;
        if (c == '$') {
            out += unit('$');
        } else if (c == '&') {
            appendRange(out, text, s, e);
        } else if (c == '\'') {
            appendRange(out, text, e, text.length());
        } else if (c == '`') {
            out += working.written;
            appendRange(out, text, working.from, s);
        } else if (c == '_') {
            out += working.written;
            appendRange(out, text, working.from, text.length());
        } else if (c == '+') {
            u32 length = globals.matches.length();
            appendValueText(out, length ? globals.matches.get(length - 1) : nullptr);
        } else if (c >= '1' && c <= '9') {
            i32 g = c - '0';
            if (i + 2 < n && isDigit(r[i + 2]) && g * 10 + (r[i + 2] - '0') < groups) {
                g = g * 10 + (r[i + 2] - '0');
                used = 3;
            }
            if (g < groups && pairs[g].start >= 0)
                appendRange(out, text, pairs[g].start, pairs[g].end);
        } else {
            out += unit('$');
            out += c;
        }
        i += used - 1;
        copied = i + 1;
    }
    out.append(r + copied, n - copied);
}

}  // namespace

const RegExp& reGlobals::effectivePattern(const RegExp& pattern) {
    u32 extra = flags & (kClassIgnoreCase | kClassMultiline) & ~pattern.getFlags();
    if (!extra)
        return pattern;
    u32 wanted = pattern.getFlags() | extra;
    if (!base || !(&base->data() == &pattern.data()) || effective->getFlags() != wanted) {
        effective.reset();
        base.emplace(pattern);
        effective.emplace(LxCore::compileRegExp(pattern.getSource(), wanted));
    }
    return *effective;
}

i32 reGlobals::match(const RegExp& pattern, const String& text, i32 start, CaptureArray& pairs,
                     i32& end, WorkMeter* meter) {
    end = -1;
    if (meter && !meter->add())
        return LxCore::kRegExpInterrupted;
    // A copy: a later step may replace the kept one.
    const RegExp used = effectivePattern(pattern);
    bool matched = false;
    if (i32 status = LxCore::execRegExp(used, text, start, pairs.get(), matched, meter))
        return status;
    if (!matched)
        return 0;
    const i32 groups = used.getGroupCount();
    lastInput = text;
    leftEnd = pairs[0].start;
    rightStart = pairs[0].end;
    matches.setLength(u32(groups));
    for (i32 g = 0; g < groups; g++) {
        Variant& slot = matches.getOrCreate(u32(g));
        if (pairs[g].start >= 0)
            setPiece(slot, text, pairs[g].start, pairs[g].end);
        else
            slot.clear();
    }
    end = pairs[0].end;
    return 0;
}

i32 collectMatches(reGlobals& globals, const RegExp& pattern, const String& text, Array& list,
                 i32& index) {
    list.setLength(0);
    index = -1;
    CaptureArray pairs(pattern);
    WorkMeter meter;
    i32 end = -1;
    if (!(pattern.getFlags() & LxCore::kRegExpGlobal)) {
        if (i32 status = globals.match(pattern, text, 0, pairs, end, &meter))
            return status;
        if (end >= 0) {
            for (i32 g = 0; g < pattern.getGroupCount(); g++)
                appendGroup(list, text, pairs, g);
            index = pairs[0].start;
        }
        return 0;
    }
    // No empty match at the very end: the walk stops when it gets there.
    for (i32 start = 0;;) {
        if (i32 status = globals.match(pattern, text, start, pairs, end, &meter)) {
            list.setLength(0);
            return status;
        }
        if (end < 0)
            return 0;
        appendPiece(list, text, pairs[0].start, end);
        index = pairs[0].start;
        start = end + (end == pairs[0].start ? 1 : 0);
        if (start >= text.length())
            return 0;
    }
}

i32 findFirstMatch(reGlobals& globals, const RegExp& pattern, const String& text, i32& position) {
    CaptureArray pairs(pattern);
    WorkMeter meter;
    i32 end = -1;
    position = -1;
    if (i32 status = globals.match(pattern, text, 0, pairs, end, &meter))
        return status;
    if (end >= 0)
        position = pairs[0].start;
    return 0;
}

i32 replaceMatches(reGlobals& globals, const RegExp& pattern, const String& text,
                   const String& replacement, Replacer* replacer, String& out) {
    const bool global = (pattern.getFlags() & LxCore::kRegExpGlobal) != 0;
    const i32 groups = pattern.getGroupCount();
    CaptureArray pairs(pattern);
    WorkMeter meter;
    String written;
    String piece;
    Array args;
    i32 copiedTo = 0;                   // the original is written up to here
    for (i32 start = 0;;) {
        i32 end = -1;
        if (i32 status = globals.match(pattern, text, start, pairs, end, &meter))
            return status;
        if (end < 0)
            break;
        const i32 s = pairs[0].start;
        piece.clear();
        if (replacer) {
            args.setLength(0);
            for (i32 g = 0; g < groups; g++)
                appendGroup(args, text, pairs, g);
            appendVariant(args, Variant(f64(s)));
            appendVariant(args, Variant(text));
            if (!replacer->replace(args, piece))
                return kPatternScriptFailed;
        } else {
            expand(replacement, text, pairs, groups, globals, WorkingText{written, text, copiedTo},
                   piece);
        }
        if (piece.length() > kTextUnitsPerWorkUnit && !meter.add(u32(piece.length() / kTextUnitsPerWorkUnit)))
            return LxCore::kRegExpInterrupted;
        appendRange(written, text, copiedTo, s);
        written += piece;
        copiedTo = end;
        if (!global)
            break;
        // No empty match at the very end: the walk stops when it gets there.
        start = end + (end == s ? 1 : 0);
        if (start >= text.length())
            break;
    }
    appendRange(written, text, copiedTo, text.length());
    out = written;
    return 0;
}

i32 splitAtMatches(reGlobals& globals, const RegExp& pattern, const String& text, u32 limit,
                 Array& pieces) {
    pieces.setLength(0);
    if (limit == 0)
        return 0;
    const i32 groups = pattern.getGroupCount();
    const i32 length = text.length();
    CaptureArray pairs(pattern);
    WorkMeter meter;
    i32 p = 0;                          // where the next piece starts
    u32 separators = 0;
    for (i32 q = 0; q <= length;) {
        i32 end = -1;
        if (i32 status = globals.match(pattern, text, q, pairs, end, &meter)) {
            pieces.setLength(0);
            return status;
        }
        if (end < 0)
            break;
        const i32 s = pairs[0].start;
        if (end == s && s == p) {       // nothing to cut here: look one unit further
            q = p + 1;
            continue;
        }
        appendPiece(pieces, text, p, s);
        for (i32 g = 1; g < groups; g++)
            appendGroup(pieces, text, pairs, g);
        p = q = end;
        if (++separators == limit)
            return 0;
    }
    if (p < length)
        appendPiece(pieces, text, p, length);
    return 0;
}

}  // namespace LxScript
