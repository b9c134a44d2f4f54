// The parser: recursive descent over the scanner's tokens into one
// ScopeNode for the script, with a ScopeNode per function, and the slots of
// every scope's parameters, variables and constants.
//
// Shapes beyond the plain operator nodes (kind 1 unless said otherwise):
//   a.b        Binary kind 2 code 0 (a, Node kind 3 code b)
//   a[e]       Binary kind 2 code 0 (a, ListNode kind 8 [e]); a constant e
//              gives the selector Node kind 3 whose code is e's pool id
//   f(x, y)    Binary kind 2 code 0 (f, ListNode kind 7 [x, y])
//   new C(x)   Unary 84 over the call shape
//   @b, @[e]   Unary "@" (Node kind 2 b, or the index selector)
//   a.@b       Binary kind 2 code 0 (a, Unary "@" ...)
//   ns::b      Binary kind 2 code "::" (Node kind 2 ns, Node kind 3 b or index)
//   a..b       Binary ".." (a, Node kind 2 b, or an "@" or "::" selector)
//   a.(c)      Binary kind 2 code 0 (a, Unary kind 3 code "()" (c))
//   *          Node kind 2 code 12
//   XML        ListNode code "XML": string nodes (kind 5) and embedded
//              comma lists of kind 1 (content), 13 (in a tag) or 14 (an
//              attribute value)
#pragma once
#include <memory>

#include "core/Error.h"
#include "core/Heap.h"
#include "core/String.h"
#include "script/frontend/Node.h"
#include "script/frontend/Scanner.h"

namespace LxScript {

class TVContext;

class jsParser : public LxCore::Root {
public:
    // Expressions nest at most this deep through parentheses, brackets,
    // braces and argument lists; deeper is a stack overrun (27).
    static constexpr i32 kMaxNesting = 100;
    // More index suffixes than this on one expression: a stack overrun.
    static constexpr i32 kMaxIndexes = 1000;
    // The stack a parse may use when its caller set no limit.
    static constexpr i32 kStackBudget = 0x100000;

    // Errors go to `errors`, only the first one.
    jsParser(const FrontEndOptions* options, DataPoolId file, const LxCore::String& text, LxCore::Error& errors);
    ~jsParser();
    jsParser(const jsParser&) = delete;
    jsParser& operator=(const jsParser&) = delete;

    // The root, which belongs to the caller, also after an error: the caller
    // reads the error list, not the tree. Call once.
    ScopeNode* parse();

private:
    using Holder = std::unique_ptr<Node>;
    struct Frame;               // a statement, for break and continue

    jsScanner scanner;
    LxCore::Error& errors;
    ScanInfo token;
    TokenPosition openBrace;    // the innermost open "{"; line -1: none
    ScopeNode* root;
    ScopeNode* scope;           // the scope that receives declarations
    TVContext* context = nullptr;
    Frame* frames = nullptr;
    i32 nesting = 0;            // of expressions
    i32 xmlDepth = 0;           // expressions embedded in XML literals
    i32 lastLine = 0;
    bool ok = true;
    bool noIn = false;          // a for header's own level: "in" is no operator
    bool lineEndBefore = false; // before the current token
    bool semicolon = false;     // a ";" ended the last statement
    bool braceEnded = false;    // the last statement ended with "}"

    void next(bool operandExpected = false);
    bool expect(i32 code);
    bool stackOK() const;
    void error(i32 code, DataPoolId what = 0);
    void fatal(i32 code, const LxCore::String& text);
    bool isReservedWord() const;
    DataPoolId wordId() const;

    // Statements
    Holder statementList(bool topLevel);
    bool listItem(ListNode& list);
    Holder statement();
    Holder dispatch();
    Holder block(TokenPosition* closing = nullptr);
    Holder ifStatement();
    Holder whileStatement();
    Holder doStatement();
    Holder forStatement();
    Holder switchStatement();
    Holder tryStatement();
    Holder jumpStatement();
    Holder returnStatement();
    Holder declarations(bool forHeader);
    void declare(DataPoolId name, bool constant);
    Holder function(bool expression);

    // Expressions
    Holder expression(i32 minimum);
    Holder unaryExpression();
    Holder operand();
    Holder newExpression();
    Holder primary();
    Holder suffixes(Holder base, bool calls);
    Holder selector(i32 kind);
    Holder indexSelector();
    Holder descendantSelector();
    Holder qualifiedName(Holder space);
    Holder arguments();
    Holder arrayLiteral();
    Holder objectLiteral();
    Holder regExpLiteral();
    Holder xmlLiteral();
    Holder defaultNamespace();
    bool isTarget(const Node* node) const;
    Node* stringNode(const TokenPosition& at, const LxCore::String& text) const;

    class Nested;
};

}  // namespace LxScript
