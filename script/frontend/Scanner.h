// The scanner: turns Tavrel source (UTF-16) into token records for the
// parser and the colouring interface, and carries out directive lines
// ("#name argument", or "//@name argument" while the engine's preprocessor
// option is on) as it meets them, includes among them.
#pragma once
#include "core/Error.h"
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"
#include "script/frontend/DataPool.h"

namespace LxScript {

using LxCore::unit;

// What the front end reads of the engine it works for: the include path and
// the option that makes "//@" lines directives. The engine implements it.
class FrontEndOptions {
public:
    virtual ~FrontEndOptions() = default;
    virtual const LxCore::String& getIncludePath() const = 0;
    virtual void setIncludePath(const LxCore::String& path) = 0;
    virtual bool isPreprocessorOn() const = 0;
    virtual void setPreprocessorOn(bool on) = 0;
};

// Token codes beside the data-pool ids of names, words and operators.
namespace TokenCode {
constexpr i32 kLeftParen = 0x40000000 | '(';
constexpr i32 kRightParen = 0x40000000 | ')';
constexpr i32 kSemicolon = 0x40000000 | ';';
constexpr i32 kQuestion = 0x40000000 | '?';
constexpr i32 kAt = 0x40000000 | '@';
constexpr i32 kLeftBracket = 0x40000000 | '[';
constexpr i32 kRightBracket = 0x40000000 | ']';
constexpr i32 kLeftBrace = 0x40000000 | '{';
constexpr i32 kRightBrace = 0x40000000 | '}';
constexpr i32 kDot = 0x40000000 | '.';
constexpr i32 kColon = 0x40000000 | ':';
constexpr i32 kDotDot = i32(0x80002e2e);
constexpr i32 kColonColon = i32(0x80003a3a);
constexpr i32 kComment = i32(0x80002f2f);   // also a directive line
constexpr i32 kEnd = 0x4000000a;
constexpr i32 kXMLPiece = kNameXML;
}  // namespace TokenCode

// What a token is and where it lies: all that nodes keep of it.
struct TokenPosition {
    i32 code = 0;
    i32 kind = 0;           // ScanInfo::Kind
    i32 offset = 0;         // of the first unit, in the source text it lies in
    DataPoolId file = 0;
    i32 line = 0;           // 0-based, of the first unit
    i32 column = 0;         // units since that line's start
    i32 length = 0;
};

// One token with its value. Copies take everything but the value, which
// stays undefined in a copy.
class ScanInfo : public LxCore::Root, public TokenPosition {
public:
    enum Kind : i32 {
        kNone = 0,          // no token, or one lost to an error
        kOperator = 1,      // operator, punctuation, reserved word
        kName = 2,
        kNumber = 4,
        kString = 5,        // also a piece of XML text
        kRegExp = 6,        // value: pattern, line end, flags
    };

    ScanInfo() = default;
    ScanInfo(const ScanInfo& other) : LxCore::Root(), TokenPosition(other) {}
    explicit ScanInfo(const TokenPosition& position) : TokenPosition(position) {}
    ScanInfo& operator=(const ScanInfo& other) {
        TokenPosition::operator=(other);
        value.clear();
        return *this;
    }
    ScanInfo& operator=(const TokenPosition& position) {
        TokenPosition::operator=(position);
        value.clear();
        return *this;
    }

    LxCore::Variant value;
};

class ScannerSource;
class XMLLiteralState;

class jsScanner : public LxCore::Root {
public:
    // Where an XML piece stopped before an embedded expression.
    enum XMLStop : i32 {
        kInContent = 1,         // element content
        kInTag = 13,            // a tag, where names stand
        kInAttributeValue = 14, // right after "=" in a tag
        kInQuotedValue = 15,    // inside a quoted attribute value
    };
    static constexpr i32 kDirectiveStrict = 0x100;

    // Scans `length` units of text from `start`: a negative start is the
    // text's end, a negative or too long length runs to the end. The first
    // error goes to `errors`. Options may be null: no include path, "//@"
    // lines are directives.
    jsScanner(const FrontEndOptions* options, DataPoolId file, const LxCore::String& text,
              LxCore::Error& errors, i32 start = 0, i32 length = -1);
    virtual ~jsScanner();
    jsScanner(const jsScanner&) = delete;
    jsScanner& operator=(const jsScanner&) = delete;

    // Fills the record; false once an error was raised. With operandExpected
    // "/" starts a regular expression and "*" is the E4X wildcard (a name).
    bool next(ScanInfo& token, bool operandExpected);
    // The next call of next returns a copy of this record.
    void pushBack(const ScanInfo& token);
    // The first character after white space and line ends, without reading
    // it; 0 at the end.
    unit peekChar() const;
    // Goes back to an offset of the current text (clamped).
    void setPosition(i32 offset);
    // Goes back to the start of a token of the current text.
    void rewind(const ScanInfo& token);
    // Reads a piece of an XML literal: called with the "<" that starts one,
    // or with the "}" that closes an embedded expression of one. True when
    // the literal is complete, false when an embedded expression follows.
    bool readXMLPiece(ScanInfo& token);
    XMLStop getXMLStop() const { return xmlStop; }

    bool isOK() const { return ok; }
    // Records no error from now on; the parser calls it at its own first error.
    void stop() { ok = false; }
    bool isAtEnd() const { return atEnd; }
    // The directive flags: strict mode (kDirectiveStrict) and the debug setting.
    i32 getFlags() const { return flags; }
    const LxCore::String& getScriptName() const { return scriptName; }
    // The whole text given at construction, and the one being read now.
    const LxCore::String& getText() const;
    const LxCore::String& getSource() const;
    DataPoolId getFile() const { return file; }
    // Line ends read so far, and before the last token began: a difference
    // tells that a line end came before that token.
    LxCore::u32 getLineEndCount() const { return lineEnds; }
    LxCore::u32 getLineEndsBeforeToken() const { return tokenLineEnds; }
    // Colouring reads directives without carrying them out.
    void setDirectivesApplied(bool applied) { directivesApplied = applied; }

protected:
    i32 getPosition() const { return pos; }
    // Colouring goes on after a bad token.
    void clearError() { ok = true; }

private:
    LxCore::Error& errors;
    LxCore::String includePath;
    LxCore::String scriptName;
    ScannerSource* source;          // the text being read; included ones link the including
    ScannerSource* pending = nullptr; // an include to enter at the next token
    XMLLiteralState* xml = nullptr; // the innermost XML literal being read
    ScanInfo* token = nullptr;      // the record being filled
    ScanInfo pushed;
    const unit* text;               // of the current source
    i32 pos;
    i32 end;
    i32 line = 0;
    i32 lineStart;
    DataPoolId file;
    i32 flags = 0;
    i32 includeCount = 0;
    LxCore::i64 includedText = 0;
    LxCore::u32 lineEnds = 0;
    LxCore::u32 tokenLineEnds = 0;
    XMLStop xmlStop = kInContent;
    bool ok = true;
    bool atEnd = false;
    bool atLineStart = true;
    bool hasPushed = false;
    bool directivesApplied = true;
    bool preprocessorOn = true;
    LxCore::String buffer;          // a string, pattern or argument being read
    LxCore::String numberText;

    // The character reader: 0 reads as a space; CR, CR LF, LF, U+2028 and
    // U+2029 as one line end ('\n'); format characters are skipped; kEndChar
    // at the end of the range.
    static constexpr i32 kEndChar = -1;
    i32 get();
    i32 peek() const;
    i32 peekAt(i32& at) const;      // reads from `at` on, without counting lines
    void newLine() {
        line++;
        lineStart = pos;
        lineEnds++;
    }
    bool skipBlanks();              // false at the end of every source
    bool popSource();
    void enterPending();

    void scanToken(ScanInfo& t, i32 c, bool operandExpected, bool lineStartHere);
    void operatorToken(ScanInfo& t, i32 code, bool compound);
    void scanName(ScanInfo& t, i32 first);
    void scanNumber(ScanInfo& t, i32 first);
    bool scanDecimal(i32 first, LxCore::f64& value);
    void scanString(ScanInfo& t, unit quote);
    bool readQuoted(unit quote, LxCore::String& out);
    bool readEscape(LxCore::String& out);
    void scanRegExp(ScanInfo& t);
    void skipLineComment();
    void skipBlockComment();
    void directive();
    void actOn(const LxCore::String& word, const LxCore::String& argument, bool hasArgument);
    void include(const LxCore::String& argument);
    bool matchRaw(i32 at, const char* ascii) const;
    bool xmlSkipTo(const char* close);

    void error(i32 code);
    void error(i32 code, const LxCore::String& text);
    // An include that failed: its message names the file.
    void includeError(i32 code, const LxCore::String& name);
    void record(i32 code, const LxCore::String& text, bool useDefaultText);
};

}  // namespace LxScript
