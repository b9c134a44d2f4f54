// The code generator: turns the parse tree of one script into its
// operation tree. It picks the specialised operation for each node,
// resolves the names of the running function to local slots, stamps
// statements with file and line, and hoists function declarations.
#pragma once
#include <memory>
#include <vector>

#include "core/Heap.h"
#include "core/String.h"
#include "script/engine/ops/Opcode.h"
#include "script/frontend/Node.h"

namespace LxScript {

class jsOpFunction;
class jsOpFunctionDecl;
class jsOpList;
class jsOpStatements;
class jsOpVariable;
class TVContext;

class jsCodeGen : public LxCore::Root {
public:
    using Op = std::unique_ptr<jsOpcode>;

    // Over the root scope (the script, or the function of a Function
    // constructor); the tree stays the caller's.
    explicit jsCodeGen(ScopeNode& root);
    ~jsCodeGen();
    jsCodeGen(const jsCodeGen&) = delete;
    jsCodeGen& operator=(const jsCodeGen&) = delete;

    // The root function, the caller's from then on; null on an error.
    jsOpFunction* generate();

    // The error that stopped generation, with its text and line.
    i32 getError() const { return error; }
    const LxCore::String& getErrorText() const { return errorText; }
    i32 getErrorLine() const { return errorLine; }

private:
    // Expressions.
    Op expression(Node* node);
    Op operatorExpression(Node* node);
    Op reference(Node* node, bool attribute);
    Op member(BinaryNode* node);
    Op selector(Op base, Node* selectorNode, bool attribute);
    Op call(BinaryNode* node, bool construct);
    Op binary(Node* node, i32 op, bool logical);
    Op assignment(BinaryNode* node);
    Op incDec(UnaryNode* node);
    std::unique_ptr<jsOpVariable> assignmentTarget(Node* node);
    Op deleteOperation(UnaryNode* node);
    Op objectLiteral(ListNode* node);
    Op regExpLiteral(Node* node);
    // E4X.
    Op xmlLiteral(ListNode* node);
    Op qualifiedName(Op base, BinaryNode* node, bool attribute);
    Op descendants(BinaryNode* node);
    std::unique_ptr<jsOpList> list(ListNode* node, bool comma, bool skipEmpty);
    Op function(ScopeNode* node);

    // Statements.
    Op statement(Node* node);
    Op statementByCode(Node* node);
    std::unique_ptr<jsOpStatement> statementList(Node* block);
    std::unique_ptr<jsOpStatement> asStatement(Op op);
    Op loop(BinaryNode* node);
    Op simpleFor(TernaryNode* header, Node* body);
    Op switchStatement(BinaryNode* node);
    Op tryStatement(TernaryNode* node);
    // A statement's position, claimed before its inner statements are made.
    struct Stamp {
        DataPoolId file = 0;
        i32 line = -1;
        bool set = false;
    };
    Stamp claim(const Node* node);
    // Takes op with its position.
    Op place(jsOpStatement* op, const Stamp& stamp);

    // A name the running function declares: its slot, or -1 where only
    // the declaration is known (script scope, with and catch bodies).
    bool localSlot(DataPoolId name, i32& slot) const;
    bool inFunctionScope() const;
    bool stackLow();
    bool fail(i32 code, const Node* node, const char* text = nullptr);
    // Deletes an operation that will not be used, with the function
    // expressions made inside it.
    void discard(Op op, size_t declarationMark);

    ScopeNode& rootNode;
    jsOpFunction* root = nullptr;
    jsOpFunction* current = nullptr;
    jsOpStatements* currentList = nullptr;
    TVContext* context = nullptr;
    DataPoolId currentFile = 0;
    i32 lastLine = -1;
    i32 withDepth = 0;          // enclosing with bodies and catch clauses
    i32 error = 0;
    LxCore::String errorText;
    i32 errorLine = -1;
    // Function expressions made since their statement began; registered
    // with its list once the statement stands.
    std::vector<jsOpFunctionDecl*> declarations;
    std::vector<i32> lines;     // lines that hold statements
};

}  // namespace LxScript
