// The front end's two interfaces of an engine: ParserAPI ('pars') parses a
// text into a tree and keeps the engine's include path and preprocessor
// option; HiliteAPI ('hilu') walks a text token by token for colouring.
#pragma once
#include "core/Error.h"
#include "core/String.h"
#include "core/Types.h"
#include "script/engine/Engine.h"
#include "script/frontend/Node.h"
#include "script/frontend/Scanner.h"

namespace LxScript {

class ParserAPI : public API {
public:
    // The stack a parse may use when the thread has no limit yet.
    static constexpr i32 kStackBudget = 0x100000;

    // What the engine keeps for the front end comes through options.
    ParserAPI(Engine& engine, FrontEndOptions& options) : API(engine, kParser), options(options) {}

    // The root of the tree, which the caller owns; errors go to the engine.
    ScopeNode* parse(const LxCore::String& text) const;
    // The text of the scope's source that the scope spans.
    LxCore::String decompile(const ScopeNode& scope) const;
    const LxCore::String& getIncludePath() const { return options.getIncludePath(); }
    // The path, then ":" and "JSINCLUDE" when that is set.
    void setIncludePath(const LxCore::String& path) const;
    // Whether "//@" lines are directives; returns the previous setting.
    bool enablePreProcessor(bool on) const;

private:
    FrontEndOptions& options;
};

// One token's range for colouring.
struct HiliteRange {
    enum Kind : u32 {
        kNothing = 0,       // the end, or a token lost to an error
        kPunctuation = 1,
        kReservedWord = 2,
        kNumber = 3,
        kString = 4,        // strings, XML pieces, regular expressions
        kName = 5,
        kOperator = 6,
        kComment = 7,       // comments and directive lines
    };
    u32 offset = 0;
    u32 length = 0;
    u32 kind = kNothing;
    u32 error = 0;          // the scanner error raised on this token
};

// Keeps the error list of a colouring run ahead of its scanner.
struct HiliteErrors {
    LxCore::Error runErrors;
};

// One colouring run: a scanner that carries out no directive.
class HiliteAPIData : private HiliteErrors, public jsScanner {
public:
    HiliteAPIData(FrontEndOptions* options, const LxCore::String& text, i32 start, i32 length);
    // The next token's range; false at the end.
    bool step(HiliteRange& range);

private:
    ScanInfo token;
    bool operandExpected = true;
};

class HiliteAPI : public API {
public:
    HiliteAPI(Engine& engine, FrontEndOptions& options) : API(engine, kHilite), options(options) {}

    // A run over `length` units from `start` (clamped as the scanner
    // clamps); while any run lasts, "//@" lines are no directives.
    HiliteAPIData* start(const LxCore::String& text, i32 start, i32 length);
    bool next(HiliteAPIData* run, HiliteRange& range);
    // Ends a run; the last one puts the preprocessor option back.
    void stop(HiliteAPIData* run);

private:
    FrontEndOptions& options;
    i32 runs = 0;
    bool savedOption = false;
};

}  // namespace LxScript
