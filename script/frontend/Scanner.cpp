// The scanner: one pass over the units of a text range, one token per call.
// Every lookahead stops at the range end, so a range that ends inside a
// token reads as a text that ends there.
#include "script/frontend/Scanner.h"

#include <cmath>

#include "core/CharClass.h"
#include "core/ErrorCodes.h"
#include "core/FileSpec.h"
#include "core/NumberText.h"
#include "core/platform/FileSystem.h"
#include "script/frontend/Preprocessor.h"

namespace LxScript {

using LxCore::f64;
using LxCore::i64;
using LxCore::String;
using LxCore::u32;
namespace Err = LxCore::Err;

namespace {

constexpr i32 kMaxErrorLength = 0xFFFF;

// ASCII classes: bit 1 starts a name, bit 2 continues one, bit 4 is a
// decimal digit, bit 8 a hexadecimal digit.
constexpr LxCore::u8 kStart = 1, kPart = 2, kDigit = 4, kHex = 8;

struct AsciiClasses {
    LxCore::u8 bits[128] = {};
    constexpr AsciiClasses() {
        for (int c = 'a'; c <= 'z'; c++)
            bits[c] = kStart | kPart;
        for (int c = 'A'; c <= 'Z'; c++)
            bits[c] = kStart | kPart;
        bits[int('$')] = bits[int('_')] = kStart | kPart;
        for (int c = '0'; c <= '9'; c++)
            bits[c] = kPart | kDigit | kHex;
        for (int c = 'a'; c <= 'f'; c++)
            bits[c] |= kHex;
        for (int c = 'A'; c <= 'F'; c++)
            bits[c] |= kHex;
    }
};
constexpr AsciiClasses kAscii;

bool hasClass(i32 c, LxCore::u8 bit) { return c >= 0 && c < 128 && (kAscii.bits[c] & bit); }
bool isDigit(i32 c) { return c >= '0' && c <= '9'; }
bool isHexDigit(i32 c) { return hasClass(c, kHex); }
i32 hexValue(i32 c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }
bool isNameStart(i32 c) { return c < 128 ? hasClass(c, kStart) : LxCore::isIdentifierStart(unit(c)); }
bool isNamePart(i32 c) { return c < 128 ? hasClass(c, kPart) : LxCore::isIdentifierPart(unit(c)); }
bool isRawLineEnd(unit c) { return c == 10 || c == 13 || c == 0x2028 || c == 0x2029; }
bool isBlank(i32 c) {
    if (c == ' ' || c == '\t')
        return true;
    if (c > ' ' && c < 128)
        return false;
    return c > 0 && c != '\n' && LxCore::isWhiteSpaceChar(unit(c));
}

// A text of at most 15 decimal digits is exact as a double; -1 for others,
// which the number reader converts.
f64 smallInteger(const unit* digits, i32 n) {
    if (n > 15)
        return -1;
    LxCore::i64 value = 0;
    for (i32 i = 0; i < n; i++) {
        const unit c = digits[i];
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return f64(value);
}

// Punctuation that stands for itself: 0x40000000 plus its code.
i32 punctuation(unit c) { return 0x40000000 | c; }

}  // namespace

// One text being read; included texts link the text that included them.
class ScannerSource : public LxCore::Root {
public:
    String text;
    String identity;            // native full path, for recognising include loops
    ScannerSource* including = nullptr;
    DataPoolId file = 0;
    i32 pos = 0;
    i32 end = 0;
    i32 line = 0;
    i32 lineStart = 0;
    i32 depth = 0;
    bool identityKnown = false;
};

// The state of one XML literal; literals nest through embedded expressions.
class XMLLiteralState : public LxCore::Root {
public:
    XMLLiteralState* outer = nullptr;
    i32 depth = 0;
    unit quote = 0;             // the quote of an attribute value being read
    bool inTag = false;
    bool closing = false;       // "</"
    bool selfClosing = false;   // "/>"
    bool afterEquals = false;
};

// ---------------------------------------------------------------------------
// Construction

jsScanner::jsScanner(const FrontEndOptions* options, DataPoolId fileId, const String& source, LxCore::Error& errors,
                     i32 start, i32 length)
    : errors(errors), source(new ScannerSource), file(fileId) {
    const i32 size = source.length();
    if (start < 0 || start > size)
        start = size;
    i32 stop = length < 0 || length > size - start ? size : start + length;
    this->source->text = source;
    this->source->file = fileId;
    this->source->end = stop;
    text = this->source->text.chars();
    pos = start;
    end = stop;
    lineStart = start;
    if (options) {
        includePath = options->getIncludePath();
        preprocessorOn = options->isPreprocessorOn();
    }
}

jsScanner::~jsScanner() {
    delete pending;
    while (source) {
        ScannerSource* including = source->including;
        delete source;
        source = including;
    }
    while (xml) {
        XMLLiteralState* outer = xml->outer;
        delete xml;
        xml = outer;
    }
}

const String& jsScanner::getText() const {
    const ScannerSource* s = source;
    while (s->including)
        s = s->including;
    return s->text;
}

const String& jsScanner::getSource() const { return source->text; }

// ---------------------------------------------------------------------------
// The character reader

namespace {

// One character from `at` on: see jsScanner::get. Only a line end reads
// as '\n'.
inline i32 readChar(const unit* text, i32& at, i32 end) {
    while (at < end) {
        const unit c = text[at++];
        if (c >= 32 && c < 127)
            return c;
        if (c == 13) {
            if (at < end && text[at] == 10)
                at++;
            return '\n';
        }
        if (isRawLineEnd(c))
            return '\n';
        if (c == 0)
            return ' ';
        if (c > 255 && LxCore::isFormatChar(c))
            continue;
        return c;
    }
    return -1;
}

}  // namespace

i32 jsScanner::get() {
    const i32 c = readChar(text, pos, end);
    if (c == '\n')
        newLine();
    return c;
}

i32 jsScanner::peekAt(i32& at) const { return readChar(text, at, end); }

i32 jsScanner::peek() const {
    i32 at = pos;
    return peekAt(at);
}

unit jsScanner::peekChar() const {
    if (hasPushed)
        return pushed.offset < end ? text[pushed.offset] : 0;
    i32 at = pos;
    for (;;) {
        const i32 c = peekAt(at);
        if (c == kEndChar)
            return 0;
        if (c != '\n' && !isBlank(c))
            return unit(c);
    }
}

// Skips white space and line ends; false when every source has ended.
bool jsScanner::skipBlanks() {
    for (;;) {
        while (pos < end && (text[pos] == ' ' || text[pos] == '\t'))
            pos++;
        if (pos < end && text[pos] > ' ' && text[pos] < 127)
            return true;        // most tokens start so
        const i32 at = pos;
        const i32 c = get();
        if (c == '\n') {
            atLineStart = true;
            continue;
        }
        if (c == kEndChar) {
            if (!popSource())
                return false;
            continue;
        }
        if (isBlank(c))
            continue;
        pos = at;       // no line end lies between
        return true;
    }
}

// Goes on in the text that included the current one.
bool jsScanner::popSource() {
    ScannerSource* ended = source;
    if (!ended->including)
        return false;
    source = ended->including;
    delete ended;
    text = source->text.chars();
    pos = source->pos;
    end = source->end;
    line = source->line;
    lineStart = source->lineStart;
    file = source->file;
    return true;
}

// An included text starts once its directive line has been read.
void jsScanner::enterPending() {
    ScannerSource* entered = pending;
    pending = nullptr;
    source->pos = pos;
    source->line = line;
    source->lineStart = lineStart;
    entered->including = source;
    source = entered;
    text = source->text.chars();
    pos = 0;
    end = source->end;
    line = 0;
    lineStart = 0;
    file = source->file;
    atLineStart = true;
}

void jsScanner::pushBack(const ScanInfo& t) {
    pushed = t;
    hasPushed = true;
}

void jsScanner::setPosition(i32 offset) {
    if (offset < 0)
        offset = 0;
    if (offset > end)
        offset = end;
    if (offset < lineStart) {
        // Count the lines again from the start of the text.
        line = 0;
        lineStart = 0;
        for (i32 at = 0; at < offset;) {
            const unit c = text[at++];
            if (c == 13 && at < offset && text[at] == 10)
                at++;
            if (isRawLineEnd(c)) {
                line++;
                lineStart = at;
            }
        }
    }
    pos = offset;
    hasPushed = false;
    atEnd = false;
}

void jsScanner::rewind(const ScanInfo& t) {
    pos = t.offset < 0 ? 0 : t.offset > end ? end : t.offset;
    line = t.line;
    lineStart = t.offset - t.column;
    hasPushed = false;
    atEnd = false;
}

// ---------------------------------------------------------------------------
// Tokens

bool jsScanner::next(ScanInfo& t, bool operandExpected) {
    token = &t;
    if (hasPushed) {
        t = pushed;
        hasPushed = false;
        tokenLineEnds = lineEnds;
        return ok;
    }
    if (!ok) {
        t.code = 0;
        t.kind = ScanInfo::kNone;
        t.length = 0;
        return false;
    }
    if (pending)
        enterPending();
    // The value is set by the tokens that have one; others leave it be.
    const bool more = skipBlanks();
    t.offset = pos;
    t.file = file;
    t.line = line;
    t.column = pos - lineStart;
    tokenLineEnds = lineEnds;
    if (!more) {
        atEnd = true;
        t.code = TokenCode::kEnd;
        t.kind = ScanInfo::kOperator;
        t.length = 0;
        return ok;
    }
    const bool lineStartHere = atLineStart;
    atLineStart = false;
    const i32 first = text[pos] > ' ' && text[pos] < 127 ? text[pos++] : get();
    scanToken(t, first, operandExpected, lineStartHere);
    if (ok) {
        t.length = pos - t.offset;
    } else {
        t.code = 0;
        t.kind = ScanInfo::kNone;
        t.length = pos > t.offset ? pos - t.offset : 0;
    }
    return ok;
}

void jsScanner::operatorToken(ScanInfo& t, i32 code, bool compound) {
    // "*=" ... "^=": the operators 12..19 and 30..32 directly followed by "=".
    if (compound && pos < end && text[pos] == '=') {
        pos++;
        code = code <= kOpShiftRightUnsigned ? code - kOpMultiply + kOpMultiplyAssign
                                             : code - kOpBitAnd + kOpBitAndAssign;
    }
    t.code = code;
    t.kind = ScanInfo::kOperator;
}

void jsScanner::scanToken(ScanInfo& t, i32 c, bool operandExpected, bool lineStartHere) {
    auto follows = [this](unit u) {
        if (pos < end && text[pos] == u) {
            pos++;
            return true;
        }
        return false;
    };
    switch (c) {
        case '(': case ')': case ';': case '?': case '@': case '[': case ']': case '{': case '}':
            t.code = punctuation(unit(c));
            t.kind = ScanInfo::kOperator;
            return;
        case ',':
            return operatorToken(t, kOpComma, false);
        case '.':
            if (isDigit(peek()))
                return scanNumber(t, c);
            t.code = follows('.') ? TokenCode::kDotDot : TokenCode::kDot;
            t.kind = ScanInfo::kOperator;
            return;
        case ':':
            t.code = follows(':') ? TokenCode::kColonColon : TokenCode::kColon;
            t.kind = ScanInfo::kOperator;
            return;
        case '~':
            return operatorToken(t, kOpBitNot, false);
        case '!':
            if (follows('='))
                return operatorToken(t, follows('=') ? kOpStrictNotEqual : kOpNotEqual, false);
            return operatorToken(t, kOpNot, false);
        case '%':
            return operatorToken(t, kOpModulo, true);
        case '&':
            return follows('&') ? operatorToken(t, kOpAnd, false) : operatorToken(t, kOpBitAnd, true);
        case '|':
            return follows('|') ? operatorToken(t, kOpOr, false) : operatorToken(t, kOpBitOr, true);
        case '^':
            return operatorToken(t, kOpBitXor, true);
        case '+':
            return follows('+') ? operatorToken(t, kOpPreIncrement, false) : operatorToken(t, kOpAdd, true);
        case '-':
            return follows('-') ? operatorToken(t, kOpPreDecrement, false) : operatorToken(t, kOpSubtract, true);
        case '*':
            if (peek() == '/')
                return error(Err::kSyntaxError);  // a comment end without its start
            if (operandExpected) {
                t.code = kOpMultiply;           // the E4X wildcard, read as a name
                t.kind = ScanInfo::kName;
                return;
            }
            return operatorToken(t, kOpMultiply, true);
        case '/': {
            const i32 n = peek();
            if (n == '/') {
                get();
                t.code = TokenCode::kComment;
                t.kind = ScanInfo::kOperator;
                i32 at = pos;
                while (at < end && (text[at] == ' ' || text[at] == '\t'))
                    at++;
                if (preprocessorOn && at < end && text[at] == '@' && !(at + 1 < end && text[at + 1] == '@')) {
                    pos = at + 1;
                    return directive();
                }
                return skipLineComment();
            }
            if (n == '*') {
                get();
                t.code = TokenCode::kComment;
                t.kind = ScanInfo::kOperator;
                return skipBlockComment();
            }
            if (operandExpected)
                return scanRegExp(t);
            return operatorToken(t, kOpDivide, true);
        }
        case '<':
            if (follows('<'))
                return operatorToken(t, kOpShiftLeft, true);
            return operatorToken(t, follows('=') ? kOpLessEqual : kOpLess, false);
        case '>':
            if (follows('>'))
                return operatorToken(t, follows('>') ? kOpShiftRightUnsigned : kOpShiftRight, true);
            return operatorToken(t, follows('=') ? kOpGreaterEqual : kOpGreater, false);
        case '=':
            if (follows('='))
                return operatorToken(t, follows('=') ? kOpStrictEqual : kOpEqual, false);
            return operatorToken(t, kOpAssign, false);
        case '"': case '\'':
            return scanString(t, unit(c));
        case '#':
            if (!lineStartHere)
                return error(Err::kSyntaxError);
            t.code = TokenCode::kComment;
            t.kind = ScanInfo::kOperator;
            return directive();
        default:
            break;
    }
    if (isDigit(c))
        return scanNumber(t, c);
    if (c == '\\' || isNameStart(c))
        return scanName(t, c);
    error(Err::kSyntaxError);
}

// ---------------------------------------------------------------------------
// Names

void jsScanner::scanName(ScanInfo& t, i32 first) {
    DataPool& pool = DataPool::get();
    const i32 start = pos - 1;
    bool escaped = false;
    DataPoolId id;
    // Most names are plain ASCII: intern them where they stand, hashed on
    // the way.
    i32 at = pos;
    u32 hash = DataPool::hashStep(DataPool::kHashStart, text[start]);
    while (at < end && text[at] < 128 && hasClass(text[at], kPart))
        hash = DataPool::hashStep(hash, text[at++]);
    const bool plain = first != '\\' && text[start] == first &&
                       (at == end || (text[at] != '\\' && (text[at] < 128 || !isNamePart(text[at]))));
    if (plain && !(at < end && text[at] > 255 && LxCore::isFormatChar(text[at]))) {
        pos = at;
        id = pool.addName(text + start, at - start, hash);
    } else {
        buffer.clear();
        i32 c = first;
        for (;;) {
            if (c == '\\') {
                escaped = true;
                i32 value = 0;
                if (get() != 'u')
                    return error(Err::kSyntaxError);
                for (int i = 0; i < 4; i++) {
                    const i32 h = get();
                    if (!isHexDigit(h))
                        return error(Err::kSyntaxError);
                    value = value * 16 + hexValue(h);
                }
                // An escape stands for a character the name could hold as it is.
                if (!(buffer.isEmpty() ? isNameStart(value) : isNamePart(value)))
                    return error(Err::kSyntaxError);
                c = value;
            }
            buffer += unit(c);
            c = peek();
            if (c != '\\' && (c == kEndChar || !isNamePart(c)))
                break;
            get();
        }
        id = pool.add(buffer.chars(), buffer.length());
    }
    switch (id) {
        case kNameAND: t.code = kOpBitAnd; t.kind = ScanInfo::kOperator; return;
        case kNameOR: t.code = kOpBitOr; t.kind = ScanInfo::kOperator; return;
        case kNameXOR: t.code = kOpBitXor; t.kind = ScanInfo::kOperator; return;
        default: break;
    }
    t.code = id;
    // A reserved word spelt with an escape stays a name.
    t.kind = id >= kFirstReservedWord && id <= kLastReservedWord && !escaped ? ScanInfo::kOperator : ScanInfo::kName;
}

// ---------------------------------------------------------------------------
// Numbers

void jsScanner::scanNumber(ScanInfo& t, i32 first) {
    t.code = 0;
    t.kind = ScanInfo::kNumber;
    f64 value;
    if (first == '0' && (peek() == 'x' || peek() == 'X')) {
        get();
        numberText.clear();
        while (isHexDigit(peek()))
            numberText += unit(get());
        value = numberText.isEmpty() ? 0 : LxCore::parseInteger(numberText, 16, 0);
    } else if (first == '0' && peek() != '.' && peek() != 'e' && peek() != 'E') {
        // Octal, unless an 8 or a 9 makes it decimal; a letter is no digit.
        numberText.clear();
        bool decimal = false;
        for (i32 c = peek(); isHexDigit(c); c = peek()) {
            if (!isDigit(c))
                return error(Err::kBadDigit);
            decimal |= c >= '8';
            numberText += unit(get());
        }
        value = numberText.isEmpty() ? 0 : LxCore::parseInteger(numberText, decimal ? 10 : 8, 0);
    } else if (!scanDecimal(first, value)) {
        return;
    }
    t.value.setNumber(value);
}

// Digits, at most one ".", then an optional exponent. A "." that begins a
// member access ends the number before it.
bool jsScanner::scanDecimal(i32 first, f64& value) {
    const i32 start = pos - 1;
    bool plain = text[start] == first;      // no unit was skipped: the text is the number
    bool dot = first == '.';
    auto take = [&] {
        const i32 before = pos;
        get();
        plain = plain && pos == before + 1;
    };
    for (;;) {
        while (pos < end && text[pos] >= '0' && text[pos] <= '9')
            pos++;
        const i32 c = peek();
        if (isDigit(c)) {
            take();
            continue;
        }
        if (c != '.')
            break;
        i32 at = pos;
        peekAt(at);
        const i32 after = peekAt(at);
        if (after == 'e' || after == 'E') {
            const i32 third = peekAt(at);
            if (!isDigit(third) && third != '+' && third != '-')
                break;          // 1.each: the number 1, then ".each"
        } else if (after != kEndChar && after != '\\' && isNameStart(after)) {
            if (dot)
                break;          // 1.5.toString
            error(Err::kBadDigit);  // 1.toString
            return false;
        }
        if (dot) {
            error(Err::kBadDigit);
            return false;
        }
        dot = true;
        take();
    }
    const i32 e = peek();
    if (e == 'e' || e == 'E') {
        take();
        if (peek() == '+' || peek() == '-')
            take();
        if (!isDigit(peek())) {
            error(Err::kBadDigit);
            return false;
        }
        while (isDigit(peek()))
            take();
    }
    value = plain ? smallInteger(text + start, pos - start) : -1;
    if (value >= 0)
        return true;
    numberText.clear();
    if (plain) {
        numberText.append(text + start, pos - start);
    } else {
        // Format characters stood between the units: leave them out.
        for (i32 at = start; at < pos; at++)
            if (text[at] < 127 && text[at] > ' ')
                numberText += text[at];
    }
    value = LxCore::parseNumber(numberText, 0);
    if (std::isnan(value)) {
        error(Err::kBadDigit);
        return false;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Strings

void jsScanner::scanString(ScanInfo& t, unit quote) {
    t.code = 0;
    t.kind = ScanInfo::kString;
    if (readQuoted(quote, buffer))
        t.value.setString(buffer);
}

// Reads a quoted text after its opening quote into out. Two more quotes
// open a triple-quoted text that may span lines and ends at the next run of
// three or more quotes, the quotes before its last three being text.
bool jsScanner::readQuoted(unit quote, String& out) {
    out.clear();
    i32 more = 0;
    while (pos + more < end && text[pos + more] == quote)
        more++;
    if (more == 1) {
        pos++;
        return true;            // ''
    }
    const bool triple = more >= 2;
    if (triple)
        pos += 2;
    for (;;) {
        // Plain units go in as one run.
        i32 run = pos;
        while (run < end && text[run] >= 32 && text[run] < 127 && text[run] != quote && text[run] != '\\')
            run++;
        if (run > pos) {
            out.append(text + pos, run - pos);
            pos = run;
        }
        const i32 c = get();
        if (c == kEndChar) {
            error(Err::kUnterminatedString);
            return false;
        }
        if (c == quote) {
            if (!triple)
                return true;
            i32 count = 1;
            while (pos < end && text[pos] == quote) {
                pos++;
                count++;
            }
            for (i32 i = count >= 3 ? 3 : 0; i < count; i++)
                out += quote;
            if (count >= 3)
                return true;
        } else if (c == '\n') {
            if (!triple) {
                error(Err::kUnterminatedString);
                return false;
            }
            out += unit('\n');
        } else if (c == '\\') {
            if (!readEscape(out))
                return false;
        } else {
            out += unit(c);
        }
    }
}

// After a backslash. Too few hexadecimal digits leave the letter itself.
bool jsScanner::readEscape(String& out) {
    const i32 c = get();
    auto hexDigits = [this](i32 count, u32& value) {
        if (end - pos < count)
            return false;
        value = 0;
        for (i32 i = 0; i < count; i++) {
            if (!isHexDigit(text[pos + i]))
                return false;
            value = value * 16 + u32(hexValue(text[pos + i]));
        }
        pos += count;
        return true;
    };
    u32 value = 0;
    switch (c) {
        case kEndChar:
            error(Err::kUnterminatedString);
            return false;
        case 'b': out += unit(8); return true;
        case 'f': out += unit(12); return true;
        case 'n': out += unit(10); return true;
        case 'r': out += unit(13); return true;
        case 't': out += unit(9); return true;
        case 'v': out += unit(11); return true;
        case 'x': case 'X':
            out += hexDigits(2, value) ? unit(value) : unit(c);
            return true;
        case 'u':
            out += hexDigits(4, value) ? unit(value) : unit(c);
            return true;
        case 'U': {
            const i32 start = pos;
            if (!hexDigits(8, value)) {
                out += unit(c);
                return true;
            }
            if (value > 0x10FFFF) {
                error(Err::kOutOfRange, String(text + start - 2, 10));
                return false;
            }
            if (value >= 0x10000) {
                value -= 0x10000;
                out += unit(0xD800 + (value >> 10));
                out += unit(0xDC00 + (value & 0x3FF));
            } else {
                out += unit(value);
            }
            return true;
        }
        default:
            break;
    }
    if (c >= '0' && c <= '7') {
        value = u32(c - '0');
        const i32 digits = c <= '3' ? 3 : 2;
        for (i32 i = 1; i < digits && pos < end && text[pos] >= '0' && text[pos] <= '7'; i++)
            value = value * 8 + u32(text[pos++] - '0');
        out += unit(value);
        return true;
    }
    out += unit(c);             // a line end too: it becomes part of the text
    return true;
}

// ---------------------------------------------------------------------------
// Regular expressions, comments

void jsScanner::scanRegExp(ScanInfo& t) {
    buffer.clear();
    for (;;) {
        // Plain units go in as one run.
        i32 run = pos;
        while (run < end && text[run] >= 32 && text[run] < 127 && text[run] != '/' && text[run] != '\\')
            run++;
        if (run > pos) {
            buffer.append(text + pos, run - pos);
            pos = run;
        }
        const i32 c = get();
        if (c == kEndChar || c == '\n')
            return error(Err::kSyntaxError);
        if (c == '/')
            break;
        buffer += unit(c);
        if (c == '\\') {
            const i32 escaped = get();
            if (escaped == kEndChar || escaped == '\n')
                return error(Err::kSyntaxError);
            buffer += unit(escaped);
        }
    }
    buffer += unit('\n');
    for (i32 f = peek(); f == 'g' || f == 'i' || f == 'm'; f = peek())
        buffer += unit(get());
    t.code = 0;
    t.kind = ScanInfo::kRegExp;
    t.value.setString(buffer);
}

void jsScanner::skipLineComment() {
    while (pos < end && !isRawLineEnd(text[pos]))
        pos++;
}

void jsScanner::skipBlockComment() {
    for (;;) {
        // Units that are neither "*" nor a possible line end go by at once.
        while (pos < end && text[pos] != '*' && text[pos] >= 32 && text[pos] != 0x2028 && text[pos] != 0x2029)
            pos++;
        const i32 c = get();
        if (c == kEndChar)
            return error(Err::kUnterminatedComment);
        if (c == '*' && peek() == '/') {
            get();
            return;
        }
    }
}

// ---------------------------------------------------------------------------
// Directive lines

void jsScanner::directive() {
    String word;
    for (i32 c = peek(); c >= 'a' && c <= 'z'; c = peek())
        word += unit(get());
    String argument;
    bool hasArgument = false;
    i32 c = peek();
    if (c != '\n') {
        while (c != kEndChar && isBlank(c)) {
            get();
            c = peek();
        }
        if (c == '"' || c == '\'') {
            get();
            if (!readQuoted(unit(c), argument))
                return;
            hasArgument = true;
        } else {
            for (; c != kEndChar && c != '\n' && c != ';' && !isBlank(c); c = peek())
                argument += unit(get());
            hasArgument = !argument.isEmpty();
        }
    }
    skipLineComment();
    actOn(word, argument, hasArgument);
}

void jsScanner::actOn(const String& word, const String& argument, bool hasArgument) {
    if (word.compare("include") == 0) {
        if (directivesApplied)
            include(argument);
    } else if (word.compare("script") == 0) {
        if (directivesApplied)
            scriptName = argument;
    } else if (word.compare("strict") == 0) {
        if (directivesApplied)
            flags = argument.compare("off") == 0 ? flags & ~kDirectiveStrict : flags | kDirectiveStrict;
    } else if (word.compare("debug") == 0) {
        if (directivesApplied)
            flags = hasArgument ? LxCore::utf16ToInt(argument.chars()) : 0;
    } else if (word.compare("includepath") == 0) {
        if (!includePath.isEmpty())
            includePath += unit(';');
        includePath += argument;
    } else if (word.compare("show") == 0) {
        if (argument.compare("include") != 0)
            error(Err::kSyntaxError);
    } else if (word.compare("engine") != 0 && word.compare("target") != 0 && word.compare("targetengine") != 0) {
        error(Err::kSyntaxError);  // an unknown or misspelt directive
    }
}

// Resolves, checks and reads an include; its text is entered at the next
// token, after the directive line.
void jsScanner::include(const String& argument) {
    DataPool& pool = DataPool::get();
    LxCore::FileSpec spec;
    const String folder = Preprocessor::getFolderOf(pool.getSymbol(file));
    if (!Preprocessor::resolveIncludeFile(folder, argument, includePath, spec))
        return includeError(Err::kFileNotFound, argument);
    String path, identity;
    spec.toURI(path, false);
    spec.getNativePath(identity);
    for (ScannerSource* s = source; s; s = s->including) {
        if (!s->identityKnown) {
            const String name = pool.getSymbol(s->file);
            if (!name.isEmpty())
                LxCore::FileSpec(name, false).getNativePath(s->identity);
            s->identityKnown = true;
        }
        if (!s->identity.isEmpty() && LxCore::platformSamePath(s->identity, identity))
            return includeError(Err::kStackOverrun, path);
    }
    if (source->depth + 1 > Preprocessor::kMaxIncludeDepth)
        return includeError(Err::kStackOverrun, path);
    if (++includeCount > Preprocessor::kMaxIncludeCount)
        return includeError(Err::kOutOfRange, path);
    String included;
    if (i32 status = Preprocessor::readIncludeFile(spec, included))
        return includeError(status, path);
    includedText += included.length();
    if (includedText > Preprocessor::kMaxIncludedText)
        return includeError(Err::kOutOfRange, path);
    if (included.isEmpty())
        return;
    pending = new ScannerSource;
    pending->text = included;
    pending->identity = identity;
    pending->identityKnown = true;
    pending->file = pool.add(path.chars(), path.length());
    pending->end = included.length();
    pending->depth = source->depth + 1;
}

// ---------------------------------------------------------------------------
// XML pieces

bool jsScanner::matchRaw(i32 at, const char* ascii) const {
    for (; *ascii; ascii++, at++)
        if (at >= end || text[at] != unit(*ascii))
            return false;
    return true;
}

// Reads on to just after `close`; false (error 61) when the text ends first.
bool jsScanner::xmlSkipTo(const char* close) {
    for (;;) {
        if (matchRaw(pos, close)) {
            for (const char* c = close; *c; c++)
                get();
            return true;
        }
        if (get() == kEndChar) {
            error(Err::kUnclosedToken);
            return false;
        }
    }
}

bool jsScanner::readXMLPiece(ScanInfo& t) {
    token = &t;
    const bool resume = t.code == TokenCode::kRightBrace && xml;
    rewind(t);
    if (resume) {
        if (pos < end && text[pos] == '}')
            pos++;
    } else {
        XMLLiteralState* state = new XMLLiteralState;
        state->outer = xml;
        xml = state;
    }
    XMLLiteralState& s = *xml;
    t.code = TokenCode::kXMLPiece;
    t.kind = ScanInfo::kString;
    t.offset = pos;
    t.line = line;
    t.column = pos - lineStart;
    t.file = file;
    t.value.clear();
    tokenLineEnds = lineEnds;
    const i32 start = pos;
    auto finish = [&](bool done) {
        t.length = pos - start;
        t.value.setString(String(text + start, pos - start));
        if (done) {
            xml = s.outer;
            delete &s;
        }
    };
    while (ok) {
        const i32 at = pos;
        const i32 c = get();
        if (c == kEndChar) {
            error(Err::kUnclosedToken);
            break;
        }
        if (c == '{') {
            // An embedded expression follows: stop before its brace.
            pos = at;
            xmlStop = s.quote ? kInQuotedValue : !s.inTag ? kInContent : s.afterEquals ? kInAttributeValue : kInTag;
            finish(false);
            return false;
        }
        if (s.quote) {
            if (c == s.quote)
                s.quote = 0;    // "/>" and ">" inside the quotes were text
            continue;
        }
        if (c == '<') {
            if (s.inTag) {
                error(Err::kNotWellFormed);
                break;
            }
            const char* close = matchRaw(pos, "![CDATA[") ? "]]>" : matchRaw(pos, "!--") ? "-->"
                                : matchRaw(pos, "?")         ? "?>" : nullptr;
            if (close) {
                if (!xmlSkipTo(close))
                    break;
                if (s.depth == 0) {
                    finish(true);
                    return true;
                }
                continue;
            }
            s.inTag = true;
            s.afterEquals = false;
            if (pos < end && text[pos] == '/') {
                if (s.depth == 0) {
                    error(Err::kNotWellFormed);  // a closing tag with nothing open
                    break;
                }
                get();
                s.closing = true;
            } else {
                s.depth++;
            }
            continue;
        }
        if (!s.inTag) {
            if (c == '>') {
                error(Err::kNotWellFormed);
                break;
            }
            continue;
        }
        switch (c) {
            case '"': case '\'':
                s.quote = unit(c);
                s.afterEquals = false;
                break;
            case '=':
                s.afterEquals = true;
                break;
            case ' ':
                s.afterEquals = false;
                break;
            case '/':
                if (pos < end && text[pos] == '>') {
                    if (s.closing) {
                        error(Err::kNotWellFormed);
                        break;
                    }
                    s.selfClosing = true;
                }
                break;
            case '>':
                if (s.closing || s.selfClosing)
                    s.depth--;
                s.inTag = s.closing = s.selfClosing = s.afterEquals = false;
                if (s.depth == 0) {
                    finish(true);
                    return true;
                }
                break;
            default:
                break;
        }
    }
    t.length = pos - start;
    return false;
}

// ---------------------------------------------------------------------------
// Errors

void jsScanner::error(i32 code) { error(code, String()); }

void jsScanner::error(i32 code, const String& text) { record(code, text, true); }

void jsScanner::includeError(i32 code, const String& name) {
    record(code, Preprocessor::includeErrorText(code, name), false);
}

// Only the first error is recorded; from then on every token is lost.
void jsScanner::record(i32 code, const String& text, bool useDefaultText) {
    if (!ok)
        return;
    ok = false;
    if (!errors.isEmpty())
        return;
    ScanInfo& t = *token;
    const i32 read = pos - t.offset;
    const i32 length = read < 1 ? 1 : read > kMaxErrorLength ? kMaxErrorLength : read;
    errors.push(code, text, nullptr, useDefaultText);
    errors.setSource(source->text, t.line, t.offset, t.column, LxCore::u16(length));
    errors.setFileName(DataPool::get().getSymbol(file));
    t.code = 0;
    t.kind = ScanInfo::kNone;
}

}  // namespace LxScript
