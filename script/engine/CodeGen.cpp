// The code generator: parse tree to operation tree.
#include "script/engine/CodeGen.h"

#include <algorithm>
#include <new>

#include "core/ErrorCodes.h"
#include "script/engine/TVContext.h"
#include "script/engine/Workspace.h"
#include "script/engine/ops/Assignments.h"
#include "script/engine/ops/Call.h"
#include "script/engine/ops/E4X.h"
#include "script/engine/ops/Exceptions.h"
#include "script/engine/ops/Literals.h"
#include "script/engine/ops/Operators.h"
#include "script/engine/ops/References.h"
#include "script/engine/ops/Statements.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr i32 kCaseDefault = kWordDefault;
constexpr i32 kForEach = kNameEach;
constexpr DataPoolId kAnyNamespace = 12;    // "*"

DataPool& pool() { return DataPool::get(); }

// A name standing alone: no operands.
bool isPlainName(const Node* node) {
    return node && node->kind == Node::kName && node->getOperandCount() == 0;
}

// A block, or the block of a finally clause; a comma list is an expression.
bool isBlock(const Node* node) {
    return node && const_cast<Node*>(node)->toListNode() && node->kind == Node::kOperator &&
           (node->code == 0 || node->code == kWordFinally);
}

bool isEmptyStatement(const Node* node) {
    if (!node || node->kind == Node::kEmpty)
        return true;
    const ListNode* list = const_cast<Node*>(node)->toListNode();
    return list && node->kind == Node::kOperator && node->code == 0 && list->length() == 0;
}

bool isConstantNumber(const Node* node) {
    return node && node->kind == Node::kNumber && node->getConstant();
}

DataPoolId attributeName(DataPoolId name) {
    String text("@");
    text += pool().getSymbol(name);
    return pool().add(text.chars());
}

// The symbol a member selector or object key names.
DataPoolId selectorId(const Node* node) {
    return node->getConstant() ? pool().add(*node->getConstant()) : node->code;
}

// Descendants and predicates: typeof and delete take their values.
bool isXMLOperation(jsOpcode* op) { return op->is(OpKind::kXMLDescendants) || op->is(OpKind::kXMLPredicate); }

template <class T>
std::unique_ptr<T> adoptAs(jsCodeGen::Op& op) {
    return std::unique_ptr<T>(static_cast<T*>(op.release()));
}

}  // namespace

jsCodeGen::jsCodeGen(ScopeNode& root) : rootNode(root) {}

jsCodeGen::~jsCodeGen() { delete root; }

// ---------------------------------------------------------------------------
// Driving

jsOpFunction* jsCodeGen::generate() {
    try {
        context = &TVContext::get();
        root = new jsOpFunction(rootNode.info, -1);
        root->adoptArena(new OpArena);
        OpArena::Scope building(root->getArena());
        root->setPosition(rootNode.file, rootNode.line);
        current = root;
        currentFile = rootNode.file;
        lastLine = -1;
        std::unique_ptr<jsOpStatement> body = statementList(rootNode.body);
        if (!error)
            root->setChild(body.release());
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        root->lines.setCount(i32(lines.size()));
        for (size_t i = 0; i < lines.size(); i++)
            root->lines.set(i32(i), LxCore::SimpleArray::Value(lines[i]));
    } catch (const std::bad_alloc&) {
        error = Err::kOutOfMemory;
    } catch (const std::exception& e) {
        error = Err::kUncaughtException;
        errorText = e.what();
    } catch (...) {
        error = Err::kUncaughtException;
        errorText = "Unknown";
    }
    if (error || !root) {
        if (!error)
            error = Err::kOutOfMemory;
        delete root;
        root = nullptr;
        return nullptr;
    }
    jsOpFunction* result = root;
    root = nullptr;
    return result;
}

bool jsCodeGen::stackLow() {
    if (context->checkStack())
        return false;
    fail(Err::kStackOverrun, nullptr);
    return true;
}

bool jsCodeGen::fail(i32 code, const Node* node, const char* text) {
    if (!error) {
        error = code;
        errorText = text ? text : "";
        errorLine = node ? node->line : -1;
    }
    return false;
}

void jsCodeGen::discard(Op op, size_t declarationMark) {
    if (declarations.size() > declarationMark)
        declarations.resize(declarationMark);
    op.reset();
}

bool jsCodeGen::inFunctionScope() const {
    const ScopeInfo* info = current->getScopeInfo();
    return info && !(info->flags & ScopeInfo::kScriptScope);
}

bool jsCodeGen::localSlot(DataPoolId name, i32& slot) const {
    const ScopeInfo* info = current->getScopeInfo();
    const bool declared = info && info->lookup(name) != 0;
    const bool special = inFunctionScope() && (name == kNameArguments || name == Sym::kCallee);
    if (!declared && !special)
        return false;
    if (!inFunctionScope() || withDepth > 0) {
        slot = -1;
        return true;
    }
    return Workspace::resolveLocal(info, name, slot);
}

// ---------------------------------------------------------------------------
// Expressions

jsCodeGen::Op jsCodeGen::expression(Node* node) {
    if (!node || error || stackLow())
        return nullptr;
    if (node->getConstant() && (node->kind == Node::kOperator || node->kind == Node::kInitialiser))
        return Op(new jsOpConstant(*node->getConstant(), node->kind));
    switch (node->kind) {
        case Node::kOperator:
        case Node::kInitialiser:
            return operatorExpression(node);
        case Node::kName: {
            BinaryNode* shape = node->toBinaryNode();
            if (shape && shape->right && shape->right->kind == Node::kArguments)
                return call(shape, false);
            return reference(node, false);
        }
        case Node::kNumber:
        case Node::kString:
            return Op(new jsOpConstant(*node->getConstant(), node->kind));
        case Node::kRegExp:
            return regExpLiteral(node);
        case Node::kArray: {
            std::unique_ptr<jsOpList> elements = list(node->toListNode(), false, false);
            if (error)
                return nullptr;
            if (elements && elements->length() == 0)
                elements.reset();
            return Op(new jsOpArray(elements.release()));
        }
        case Node::kObject:
            return objectLiteral(node->toListNode());
        default:
            return nullptr;
    }
}

jsCodeGen::Op jsCodeGen::operatorExpression(Node* node) {
    const i32 code = node->code;
    UnaryNode* unary = node->toUnaryNode();
    switch (code) {
        case kWordVoid: {
            Node* operand = unary ? unary->operand : nullptr;
            if (!operand || operand->getConstant())
                return Op(new jsOpConstant(Variant(), 0));
            Op value = expression(operand);
            if (!value)
                return nullptr;
            return Op(new jsOpVoid(value.release()));
        }
        case kOpTypeof: {
            Op operand = expression(unary ? unary->operand : nullptr);
            if (!operand)
                return nullptr;
            if (isXMLOperation(operand.get()))
                return Op(new jsOpXMLUnaryRef(kOpTypeof, operand.release()));
            if (operand->asVariable())
                return Op(new jsOpUnaryRef(kOpTypeof, operand.release()));
            return Op(new jsOpUnary(kOpTypeof, operand.release()));
        }
        case kOpDelete:
            return deleteOperation(unary);
        case kOpVoid:
        case kOpBitNot:
        case kOpNot:
        case kOpPlus:
        case kOpMinus: {
            Op operand = expression(unary ? unary->operand : nullptr);
            if (!operand)
                return nullptr;
            return Op(new jsOpUnary(code, operand.release()));
        }
        case kOpPreIncrement:
        case kOpPreDecrement:
        case kOpPostIncrement:
        case kOpPostDecrement:
            return incDec(unary);
        case kOpConditional: {
            TernaryNode* t = node->toTernaryNode();
            if (!t)
                return nullptr;
            Op condition = expression(t->first);
            Op thenValue = expression(t->second);
            Op elseValue = expression(t->third);
            if (error)
                return nullptr;
            return Op(new jsOpTernary(condition.release(), thenValue.release(), elseValue.release()));
        }
        case kOpComma: {
            std::unique_ptr<jsOpList> items = list(node->toListNode(), true, true);
            return Op(items.release());
        }
        case kWordFunction:
            return function(node->toScopeNode());
        case kWordNew: {
            BinaryNode* shape = unary && unary->operand ? unary->operand->toBinaryNode() : nullptr;
            if (!shape || shape->kind != Node::kName)
                return fail(Err::kSyntaxError, node), nullptr;
            return call(shape, true);
        }
        case kWordThis:
            return Op(new jsOpThis);
        case NodeCode::kAttribute:
            return reference(node, false);
        case NodeCode::kXMLLiteral:
            return xmlLiteral(node->toListNode());
        case NodeCode::kDescendants:
            return descendants(node->toBinaryNode());
        default:
            break;
    }
    if (code >= kOpMultiply && code <= kOpBitXor)
        return binary(node, code, false);
    if (code == kOpAnd || code == kOpOr)
        return binary(node, code, true);
    if ((code >= kOpMultiplyAssign && code <= kOpBitXorAssign) || code == kWordConst)
        return assignment(node->toBinaryNode());
    return nullptr;
}

jsCodeGen::Op jsCodeGen::binary(Node* node, i32 op, bool logical) {
    BinaryNode* b = node->toBinaryNode();
    if (!b || !b->left || !b->right)
        return fail(Err::kSyntaxError, node), nullptr;
    if (b->left->isFoldable()) {
        Op right = expression(b->right);
        if (!right)
            return nullptr;
        return logical ? Op(new jsOpLogAndOr(op, *b->left->getConstant(), b->left->kind, right.release()))
                       : Op(new jsOpBinary(op, *b->left->getConstant(), b->left->kind, right.release()));
    }
    Op left = expression(b->left);
    if (!left)
        return nullptr;
    if (b->right->isFoldable())
        return logical ? Op(new jsOpLogAndOr(op, left.release(), *b->right->getConstant(), b->right->kind))
                       : Op(new jsOpBinary(op, left.release(), *b->right->getConstant(), b->right->kind));
    Op right = expression(b->right);
    if (!right)
        return nullptr;
    return logical ? Op(new jsOpLogAndOr(op, left.release(), right.release()))
                   : Op(new jsOpBinary(op, left.release(), right.release()));
}

std::unique_ptr<jsOpList> jsCodeGen::list(ListNode* node, bool comma, bool skipEmpty) {
    auto out = std::make_unique<jsOpList>(comma);
    if (!node)
        return out;
    for (i32 i = 0; i < node->length() && !error; i++) {
        Op entry = expression(node->getNode(i));
        if (!entry && skipEmpty)
            continue;
        out->append(entry.release());
    }
    if (error)
        return nullptr;
    return out;
}

jsCodeGen::Op jsCodeGen::call(BinaryNode* node, bool construct) {
    Op callee = expression(node->left);
    if (!callee)
        return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
    std::unique_ptr<jsOpList> arguments = list(node->right ? node->right->toListNode() : nullptr, false, false);
    if (error)
        return nullptr;
    if (arguments && arguments->length() == 0)
        arguments.reset();
    return Op(new jsOpCall(callee.release(), arguments.release(), construct));
}

// Names, members and attributes.
jsCodeGen::Op jsCodeGen::reference(Node* node, bool attribute) {
    if (!node || error)
        return nullptr;
    if (node->code == NodeCode::kAttribute) {
        UnaryNode* at = node->toUnaryNode();
        Node* inner = at ? at->operand : nullptr;
        if (isPlainName(inner) || (inner && inner->kind == Node::kSelector && inner->getOperandCount() == 0))
            return Op(new jsOpName(attributeName(selectorId(inner)), false));
        return reference(inner, true);
    }
    if (node->code == kWordThis && node->kind == Node::kOperator)
        return Op(new jsOpThis);
    if (isPlainName(node)) {
        i32 slot;
        if (!attribute && localSlot(node->code, slot))
            return Op(new jsOpLocalVariable(slot, node->code));
        return Op(new jsOpName(attribute ? attributeName(node->code) : node->code, attribute));
    }
    BinaryNode* shape = node->toBinaryNode();
    if (shape && node->kind == Node::kName) {
        if (node->code == NodeCode::kQualifiedName)
            return qualifiedName(nullptr, shape, attribute);
        return member(shape);
    }
    return nullptr;
}

jsCodeGen::Op jsCodeGen::member(BinaryNode* node) {
    if (node->right && node->right->kind == Node::kArguments)
        return call(node, false);
    Op base = expression(node->left);
    if (!base)
        return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
    return selector(std::move(base), node->right, false);
}

jsCodeGen::Op jsCodeGen::selector(Op base, Node* sel, bool attribute) {
    if (!sel)
        return fail(Err::kSyntaxError, nullptr), nullptr;
    if (sel->code == NodeCode::kAttribute) {
        UnaryNode* at = sel->toUnaryNode();
        Node* inner = at ? at->operand : nullptr;
        if (inner && inner->getOperandCount() == 0 && (inner->kind == Node::kSelector || inner->kind == Node::kName))
            return Op(new jsOpProperty(base.release(), attributeName(selectorId(inner)), false));
        return selector(std::move(base), inner, true);
    }
    if (sel->kind == Node::kSelector) {
        if (sel->code == NodeCode::kParentheses) {
            UnaryNode* filter = sel->toUnaryNode();
            Op condition = expression(filter ? filter->operand : nullptr);
            if (!condition)
                return error ? nullptr : (fail(Err::kSyntaxError, sel), nullptr);
            return Op(new jsOpXMLPredicate(base.release(), condition.release()));
        }
        const DataPoolId id = selectorId(sel);
        return Op(new jsOpProperty(base.release(), attribute ? attributeName(id) : id, attribute));
    }
    if (sel->kind == Node::kArray) {
        ListNode* brackets = sel->toListNode();
        Op index = expression(brackets ? brackets->getNode(0) : nullptr);
        if (!index)
            return error ? nullptr : (fail(Err::kSyntaxError, sel), nullptr);
        return Op(new jsOpIndex(base.release(), index.release(), attribute));
    }
    if (sel->code == NodeCode::kQualifiedName && sel->toBinaryNode())
        return qualifiedName(std::move(base), sel->toBinaryNode(), attribute);
    return fail(Err::kSyntaxError, sel), nullptr;
}

jsCodeGen::Op jsCodeGen::assignment(BinaryNode* node) {
    if (!node || !node->left || !node->right)
        return fail(Err::kSyntaxError, node), nullptr;
    const i32 code = node->code;
    const bool compound = code != kOpAssign && code != kWordConst;
    const bool declaration = node->kind == Node::kInitialiser;
    Op value;
    Variant constant;
    bool hasConstant = false;
    if (compound) {
        const i32 op = code <= kOpShiftRightUnsignedAssign ? code - (kOpMultiplyAssign - kOpMultiply)
                                                            : code - (kOpBitAndAssign - kOpBitAnd);
        if (node->right->isFoldable()) {
            value.reset(new jsOpBinary(op, nullptr, *node->right->getConstant(), node->right->kind));
        } else {
            Op right = expression(node->right);
            if (!right)
                return nullptr;
            value.reset(new jsOpBinary(op, nullptr, right.release()));
        }
    } else {
        const size_t mark = declarations.size();
        value = expression(node->right);
        if (error)
            return nullptr;
        if (value && value->isConstant()) {
            constant = static_cast<jsOpConstant*>(value.get())->getValue();
            hasConstant = true;
            discard(std::move(value), mark);
        }
    }
    const Variant* constantOrNull = hasConstant ? &constant : nullptr;
    i32 slot;
    if (isPlainName(node->left) && localSlot(node->left->code, slot)) {
        const DataPoolId name = node->left->code;
        if (code == kWordConst)
            return Op(new jsOpConstAssign(slot, name, value.release(), constantOrNull, declaration));
        return Op(new jsOpLocalAssign(slot, name, value.release(), constantOrNull, compound, declaration));
    }
    std::unique_ptr<jsOpVariable> target = assignmentTarget(node->left);
    if (error)
        return nullptr;
    return Op(new jsOpAssign(target.release(), value.release(), constantOrNull, compound));
}

// What = and ++ store into: a reference operation, or none (the operation
// then raises error 3 when it runs).
std::unique_ptr<jsOpVariable> jsCodeGen::assignmentTarget(Node* node) {
    const size_t mark = declarations.size();
    Op target = reference(node, false);
    jsOpVariable* variable = target ? target->asVariable() : nullptr;
    if (!variable) {
        discard(std::move(target), mark);
        return nullptr;
    }
    target.release();
    return std::unique_ptr<jsOpVariable>(variable);
}

jsCodeGen::Op jsCodeGen::incDec(UnaryNode* node) {
    if (!node || !node->operand)
        return fail(Err::kSyntaxError, node), nullptr;
    const i32 code = node->code;
    const i32 step = code == kOpPreIncrement || code == kOpPostIncrement ? 1 : -1;
    const bool postfix = code == kOpPostIncrement || code == kOpPostDecrement;
    i32 slot;
    if (isPlainName(node->operand) && localSlot(node->operand->code, slot))
        return Op(new jsOpLocalIncDec(slot, node->operand->code, step, postfix));
    std::unique_ptr<jsOpVariable> target = assignmentTarget(node->operand);
    if (error)
        return nullptr;
    return Op(new jsOpIncDec(target.release(), step, postfix));
}

// delete of a declared local is false; of a reference, the property goes;
// of anything else the operand still runs and the value is false.
jsCodeGen::Op jsCodeGen::deleteOperation(UnaryNode* node) {
    Node* operand = node ? node->operand : nullptr;
    if (!operand)
        return fail(Err::kSyntaxError, node), nullptr;
    if (inFunctionScope() && isPlainName(operand) && current->getScopeInfo()->lookup(operand->code) != 0)
        return Op(new jsOpConstant(Variant(false), 0));
    if (operand->code == kWordThis && operand->kind == Node::kOperator)
        return Op(new jsOpConstant(Variant(true), 0));
    if (operand->code == NodeCode::kXMLLiteral)
        return Op(new jsOpConstant(Variant(true), 0));
    Op value = isPlainName(operand) || operand->kind == Node::kName || operand->code == NodeCode::kAttribute
                   ? reference(operand, false)
                   : expression(operand);
    if (!value)
        return error ? nullptr : Op(new jsOpConstant(Variant(false), 0));
    if (isXMLOperation(value.get()))
        return Op(new jsOpXMLUnaryRef(kOpDelete, value.release()));
    if (value->asVariable())
        return Op(new jsOpUnaryRef(kOpDelete, value.release()));
    return Op(new jsOpUnary(kOpDelete, value.release()));
}

jsCodeGen::Op jsCodeGen::objectLiteral(ListNode* node) {
    if (!node)
        return nullptr;
    auto literal = std::make_unique<jsOpObject>(DataPoolId(node->code));
    for (i32 i = 0; i < node->length(); i++) {
        BinaryNode* pair = node->getNode(i) ? node->getNode(i)->toBinaryNode() : nullptr;
        if (!pair || !pair->left)
            return fail(Err::kSyntaxError, node), nullptr;
        Op value = expression(pair->right);
        if (error)
            return nullptr;
        literal->append(selectorId(pair->left), value.release());
    }
    return Op(literal.release());
}

jsCodeGen::Op jsCodeGen::regExpLiteral(Node* node) {
    const String text = node->getConstant() ? node->getConstant()->toString() : String();
    const i32 feed = text.find(LxCore::unit('\n'));
    const String pattern = feed < 0 ? text : text.substr(0, feed);
    const String flags = feed < 0 ? String() : text.substr(feed + 1);
    return Op(new jsOpRegExp(pattern, flags));
}

jsCodeGen::Op jsCodeGen::function(ScopeNode* node) {
    if (!node)
        return fail(Err::kSyntaxError, nullptr), nullptr;
    auto body = std::make_unique<jsOpFunction>(node->info, node->value);
    if (node->line >= 0)
        body->setPosition(node->file, node->line);
    jsOpFunction* savedFunction = current;
    jsOpStatements* savedList = currentList;
    const DataPoolId savedFile = currentFile;
    const i32 savedLine = lastLine;
    const i32 savedWith = withDepth;
    current = body.get();
    lastLine = -1;
    withDepth = 0;
    std::unique_ptr<jsOpStatement> statements = statementList(node->body);
    current = savedFunction;
    currentList = savedList;
    currentFile = savedFile;
    lastLine = savedLine;
    withDepth = savedWith;
    if (error)
        return nullptr;
    body->setChild(statements.release());
    if (node->info->flags & ScopeInfo::kFunctionExpression) {
        auto* declaration = new jsOpFunctionDecl(body.release());
        declarations.push_back(declaration);
        return Op(declaration);
    }
    if (!currentList)
        return fail(Err::kSyntaxError, node), nullptr;
    currentList->appendHoisted(body.release());
    return nullptr;
}

// ---------------------------------------------------------------------------
// Statements

// Lines are claimed in source order, before a statement's inner statements
// are generated: a second statement on a line stores the line negated.
jsCodeGen::Stamp jsCodeGen::claim(const Node* node) {
    Stamp stamp;
    if (!node || node->line < 0)
        return stamp;
    stamp.file = currentFile;
    stamp.line = node->line == lastLine ? -node->line : node->line;
    stamp.set = true;
    lastLine = node->line;
    lines.push_back(node->line);
    return stamp;
}

jsCodeGen::Op jsCodeGen::place(jsOpStatement* op, const Stamp& stamp) {
    if (stamp.set)
        op->setPosition(stamp.file, stamp.line);
    return Op(op);
}

std::unique_ptr<jsOpStatement> jsCodeGen::asStatement(Op op) {
    jsOpStatement* statement = op ? op->asStatement() : nullptr;
    if (!statement)
        return nullptr;
    op.release();
    return std::unique_ptr<jsOpStatement>(statement);
}

jsCodeGen::Op jsCodeGen::statement(Node* node) {
    if (!node || error || stackLow())
        return nullptr;
    if (node->file != currentFile) {
        currentFile = node->file;
        lastLine = -1;
        if (currentFile != rootNode.file &&
            root->fileIds.find(LxCore::SimpleArray::Value(currentFile)) < 0)
            root->fileIds.add(LxCore::SimpleArray::Value(currentFile));
    }
    if (LabelNode* labelled = node->toLabelNode()) {
        Op inner = statement(labelled->statement);
        if (jsOpStatement* s = inner ? inner->asStatement() : nullptr)
            for (i32 i = 0; i < labelled->getLabelCount(); i++)
                s->addLabel(labelled->getLabel(i));
        return inner;
    }
    if (node->kind == Node::kEmpty)
        return nullptr;
    if (isBlock(node))
        return Op(statementList(node).release());
    if (node->kind == Node::kOperator && !node->getConstant())
        if (Op op = statementByCode(node))
            return op;
    if (error)
        return nullptr;
    // A function declaration is hoisted into the list and gives no
    // operation of its own.
    if (node->code == kWordFunction && node->toScopeNode() &&
        !(node->toScopeNode()->info->flags & ScopeInfo::kFunctionExpression)) {
        function(node->toScopeNode());
        return nullptr;
    }
    Op value = expression(node);
    if (!value)
        return nullptr;
    if (jsOpStatement* s = value->asStatement()) {
        value.release();
        return place(s, claim(node));
    }
    return place(new jsOpExprStatement(value.release()), claim(node));
}

// The statements with codes of their own; null for everything else (then
// an expression statement), and for those that give no operation.
jsCodeGen::Op jsCodeGen::statementByCode(Node* node) {
    UnaryNode* unary = node->toUnaryNode();
    BinaryNode* binary = node->toBinaryNode();
    TernaryNode* ternary = node->toTernaryNode();
    switch (node->code) {
        case kWordBreak:
        case kWordContinue: {
            Node* label = unary ? unary->operand : nullptr;
            const DataPoolId id = label && label->kind == Node::kLabel ? label->code : 0;
            return place(new jsOpBreak(id, node->code == kWordBreak), claim(node));
        }
        case kWordDebugger:
            return place(new jsOpDebugger, claim(node));
        case kWordReturn: {
            const Stamp stamp = claim(node);
            Node* value = unary ? unary->operand : nullptr;
            Op v;
            if (value && value->kind != Node::kEmpty && !(v = expression(value)))
                return nullptr;
            return place(new jsOpReturn(v.release()), stamp);
        }
        case kWordThrow: {
            const Stamp stamp = claim(node);
            Op v = expression(unary ? unary->operand : nullptr);
            if (!v)
                return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
            return place(new jsOpThrow(v.release()), stamp);
        }
        case kWordIf: {
            if (!ternary)
                return nullptr;
            const Stamp stamp = claim(node);
            Op condition = expression(ternary->first);
            if (!condition)
                return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
            std::unique_ptr<jsOpStatement> thenBranch = asStatement(statement(ternary->second));
            std::unique_ptr<jsOpStatement> elseBranch = asStatement(statement(ternary->third));
            if (error)
                return nullptr;
            lastLine = node->line;
            return place(new jsOpIf(condition.release(), thenBranch.release(), elseBranch.release()), stamp);
        }
        case kWordWhile: {
            if (!binary)
                return nullptr;
            Node* test = binary->left;
            const bool constant = test && test->isFoldable();
            if (constant && !test->getConstant()->toBoolean())
                return nullptr;
            const Stamp stamp = claim(node);
            Op condition;
            if (!constant && !(condition = expression(test)))
                return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
            std::unique_ptr<jsOpStatement> body = asStatement(statement(binary->right));
            if (error)
                return nullptr;
            lastLine = node->line;
            return place(new jsOpWhile(condition.release(), body.release()), stamp);
        }
        case kWordDo: {
            if (!binary || !binary->right)
                return fail(Err::kSyntaxError, node), nullptr;
            // The loop stands on the line of its while clause.
            const Stamp stamp = claim(binary->right);
            std::unique_ptr<jsOpStatement> body = asStatement(statement(binary->left));
            Op condition = expression(binary->right);
            if (!condition)
                return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
            lastLine = binary->right->line;
            return place(new jsOpDo(condition.release(), body.release()), stamp);
        }
        case kWordFor:
            return binary ? loop(binary) : nullptr;
        case kWordSwitch:
            return binary ? switchStatement(binary) : nullptr;
        case kWordTry:
            return ternary ? tryStatement(ternary) : nullptr;
        case kWordWith: {
            if (!binary || isEmptyStatement(binary->right))
                return nullptr;
            const Stamp stamp = claim(node);
            const size_t mark = declarations.size();
            Op object = expression(binary->left);
            if (!object)
                return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
            withDepth++;
            std::unique_ptr<jsOpStatement> body = asStatement(statement(binary->right));
            withDepth--;
            if (error)
                return nullptr;
            if (!body) {
                discard(std::move(object), mark);
                return nullptr;
            }
            return place(new jsOpWith(object.release(), body.release()), stamp);
        }
        default:
            return nullptr;
    }
}

std::unique_ptr<jsOpStatement> jsCodeGen::statementList(Node* block) {
    if (!block || block->kind == Node::kEmpty || error)
        return nullptr;
    ListNode* nodes = isBlock(block) ? block->toListNode() : nullptr;
    auto list = std::make_unique<jsOpStatements>();
    jsOpStatements* saved = currentList;
    currentList = list.get();
    const i32 count = nodes ? nodes->length() : 1;
    for (i32 i = 0; i < count && !error; i++) {
        const size_t mark = declarations.size();
        Op op = statement(nodes ? nodes->getNode(i) : block);
        if (error)
            break;
        if (std::unique_ptr<jsOpStatement> s = asStatement(std::move(op)))
            list->appendStatement(s.release());
        for (size_t d = mark; d < declarations.size(); d++)
            list->appendDeclaration(declarations[d]);
        declarations.resize(mark);
    }
    currentList = saved;
    if (error || (list->getStatementCount() == 0 && list->getHoistedCount() == 0))
        return nullptr;
    return std::unique_ptr<jsOpStatement>(list.release());
}

jsCodeGen::Op jsCodeGen::loop(BinaryNode* node) {
    Node* header = node->left;
    if (!header)
        return fail(Err::kSyntaxError, node), nullptr;
    const Stamp stamp = claim(node);
    Op op;
    if (header->code == kOpIn || header->code == kWordIn || header->code == kForEach) {
        BinaryNode* forIn = header->toBinaryNode();
        if (!forIn || !forIn->left)
            return fail(Err::kSyntaxError, node), nullptr;
        const bool each = header->code == kForEach;
        Op object = expression(forIn->right);
        if (!object)
            return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
        i32 slot;
        const bool local = isPlainName(forIn->left) && localSlot(forIn->left->code, slot);
        Op target;
        if (!local) {
            target = reference(forIn->left, false);
            if (!target || !target->asVariable())
                return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
        }
        std::unique_ptr<jsOpStatement> body = asStatement(statement(node->right));
        if (error)
            return nullptr;
        if (local)
            op.reset(new jsOpForIn(nullptr, slot, forIn->left->code, object.release(), body.release(), each));
        else
            op.reset(new jsOpForIn(target.release(), -1, 0, object.release(), body.release(), each));
    } else if (TernaryNode* parts = header->toTernaryNode()) {
        op = simpleFor(parts, node->right);
        if (!op && !error) {
            Op init = expression(parts->first);
            Op condition = expression(parts->second);
            Op update = expression(parts->third);
            std::unique_ptr<jsOpStatement> body = asStatement(statement(node->right));
            if (error)
                return nullptr;
            op.reset(new jsOpFor(init.release(), condition.release(), update.release(), body.release()));
        }
    } else {
        return fail(Err::kSyntaxError, node), nullptr;
    }
    if (error || !op)
        return nullptr;
    lastLine = node->line;
    jsOpStatement* statement = op.release()->asStatement();
    return place(statement, stamp);
}

// for (i = start; i < limit; i++ / i += step): the counting loop.
jsCodeGen::Op jsCodeGen::simpleFor(TernaryNode* header, Node* bodyNode) {
    BinaryNode* init = header->first ? header->first->toBinaryNode() : nullptr;
    if (!init || init->code != kOpAssign || !isPlainName(init->left) || !isConstantNumber(init->right))
        return nullptr;
    const DataPoolId name = init->left->code;
    BinaryNode* test = header->second ? header->second->toBinaryNode() : nullptr;
    if (!test || test->code < kOpLess || test->code > kOpGreaterEqual || !isPlainName(test->left) ||
        test->left->code != name || !test->right)
        return nullptr;
    Node* update = header->third;
    LxCore::f64 step;
    if (BinaryNode* add = update ? update->toBinaryNode() : nullptr) {
        if ((add->code != kOpAddAssign && add->code != kOpSubtractAssign) || !isPlainName(add->left) ||
            add->left->code != name || !isConstantNumber(add->right))
            return nullptr;
        step = add->right->getConstant()->toNumber();
        if (add->code == kOpSubtractAssign)
            step = -step;
    } else if (UnaryNode* inc = update ? update->toUnaryNode() : nullptr) {
        if (inc->code < kOpPreIncrement || inc->code > kOpPostDecrement || !isPlainName(inc->operand) ||
            inc->operand->code != name)
            return nullptr;
        step = inc->code == kOpPreIncrement || inc->code == kOpPostIncrement ? 1 : -1;
    } else {
        return nullptr;
    }
    const LxCore::f64 start = init->right->getConstant()->toNumber();
    i32 slot = -1;
    Op counter;
    if (!(localSlot(name, slot) && slot >= 0)) {
        slot = -1;
        counter = reference(init->left, false);
        if (!counter || !counter->asVariable())
            return nullptr;
    }
    Op limit = expression(test->right);
    if (!limit)
        return nullptr;
    std::unique_ptr<jsOpStatement> body = asStatement(statement(bodyNode));
    if (error)
        return nullptr;
    return Op(new jsOpSimpleFor(counter.release(), slot, start, limit.release(), step, test->code, body.release()));
}

jsCodeGen::Op jsCodeGen::switchStatement(BinaryNode* node) {
    const Stamp stamp = claim(node);
    Op discriminant = expression(node->left);
    if (!discriminant)
        return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
    // new, not make_unique: the operand is released only once the
    // operation's memory is there.
    std::unique_ptr<jsOpSwitch> op(new jsOpSwitch(discriminant.release()));
    ListNode* clauses = node->right ? node->right->toListNode() : nullptr;
    for (i32 i = 0; clauses && i < clauses->length() && !error; i++) {
        BinaryNode* clause = clauses->getNode(i) ? clauses->getNode(i)->toBinaryNode() : nullptr;
        if (!clause)
            return fail(Err::kSyntaxError, node), nullptr;
        auto group = std::make_unique<jsOpList>(false);
        ListNode* labels = clause->left ? clause->left->toListNode() : nullptr;
        for (i32 k = 0; labels && k < labels->length() && !error; k++) {
            Node* label = labels->getNode(k);
            if (label && label->code == kCaseDefault && label->kind == Node::kOperator) {
                group->append(nullptr);
                continue;
            }
            Op value = expression(label);
            if (!value)
                return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
            group->append(value.release());
        }
        std::unique_ptr<jsOpStatement> body = statementList(clause->right);
        if (error)
            return nullptr;
        op->appendCase(group.release(), body.release());
    }
    if (error)
        return nullptr;
    return place(op.release(), stamp);
}

jsCodeGen::Op jsCodeGen::tryStatement(TernaryNode* node) {
    const Stamp stamp = claim(node);
    std::unique_ptr<jsOpStatement> block = statementList(node->first);
    struct Clause {
        DataPoolId name;
        Op condition;
        std::unique_ptr<jsOpStatement> body;
    };
    std::vector<Clause> clauses;
    ListNode* catches = node->second ? node->second->toListNode() : nullptr;
    withDepth++;
    for (i32 i = 0; catches && i < catches->length() && !error; i++) {
        TernaryNode* clause = catches->getNode(i) ? catches->getNode(i)->toTernaryNode() : nullptr;
        if (!clause || !clause->first) {
            fail(Err::kSyntaxError, node);
            break;
        }
        Clause c;
        c.name = clause->first->code;
        if (clause->second && clause->second->kind != Node::kEmpty)
            c.condition = expression(clause->second);
        c.body = statementList(clause->third);
        clauses.push_back(std::move(c));
    }
    withDepth--;
    std::unique_ptr<jsOpStatement> finallyBlock = statementList(node->third);
    if (error)
        return nullptr;
    std::unique_ptr<jsOpTry> op(new jsOpTry(block.release(), finallyBlock.release()));
    for (Clause& c : clauses)
        op->appendCatch(c.name, c.condition.release(), c.body.release());
    return place(op.release(), stamp);
}

}  // namespace LxScript

namespace LxScript {

// ---------------------------------------------------------------------------
// E4X

// One part per element: markup as a constant (kind 0), an embedded
// expression list by where it stands (1 in a tag, 2 an attribute value,
// 3 element content).
jsCodeGen::Op jsCodeGen::xmlLiteral(ListNode* node) {
    if (!node)
        return fail(Err::kSyntaxError, nullptr), nullptr;
    auto literal = std::make_unique<jsOpXMLConstant>();
    for (i32 i = 0; i < node->length() && !error; i++) {
        Node* part = node->getNode(i);
        if (!part)
            continue;
        if (part->kind == Node::kString && part->getConstant()) {
            literal->append(new jsOpConstant(*part->getConstant(), part->kind), 0);
            continue;
        }
        std::unique_ptr<jsOpList> items = list(part->toListNode(), true, true);
        if (!items)
            return error ? nullptr : (fail(Err::kSyntaxError, part), nullptr);
        const i32 kind = part->kind == Node::kXMLTag ? 1 : part->kind == Node::kXMLAttribute ? 2 : 3;
        literal->append(items.release(), kind);
    }
    if (error)
        return nullptr;
    return Op(literal.release());
}

// ns::name: the namespace by its variable ("*": any), the local name by its
// symbol or, for an index, by its expression.
jsCodeGen::Op jsCodeGen::qualifiedName(Op base, BinaryNode* node, bool attribute) {
    if (!node || !node->left || !node->right)
        return fail(Err::kSyntaxError, node), nullptr;
    const DataPoolId nsSymbol = node->left->code;
    std::unique_ptr<jsOpVariable> nsExpression;
    if (nsSymbol != kAnyNamespace) {
        Op ns = reference(node->left, false);
        if (!ns || !ns->asVariable())
            return error ? nullptr : (fail(Err::kSyntaxError, node->left), nullptr);
        nsExpression.reset(ns.release()->asVariable());
    }
    Op localExpression;
    DataPoolId localSymbol = 0;
    if (node->right->kind == Node::kArray) {
        ListNode* brackets = node->right->toListNode();
        localExpression = expression(brackets ? brackets->getNode(0) : nullptr);
        if (!localExpression)
            return error ? nullptr : (fail(Err::kSyntaxError, node->right), nullptr);
    } else {
        localSymbol = selectorId(node->right);
    }
    return Op(new jsOpXMLQualifiedName(base.release(), nsSymbol, nsExpression.release(),
                                       localExpression.release(), localSymbol, attribute));
}

// a..sel: by name, qualified name or index expression; "@" sets the
// attribute flag.
jsCodeGen::Op jsCodeGen::descendants(BinaryNode* node) {
    if (!node || !node->left || !node->right)
        return fail(Err::kSyntaxError, node), nullptr;
    Op base = expression(node->left);
    if (!base)
        return error ? nullptr : (fail(Err::kSyntaxError, node), nullptr);
    Node* sel = node->right;
    bool attribute = false;
    if (sel->code == NodeCode::kAttribute && sel->toUnaryNode()) {
        attribute = true;
        sel = sel->toUnaryNode()->operand;
        if (!sel)
            return fail(Err::kSyntaxError, node), nullptr;
    }
    if (sel->code == NodeCode::kQualifiedName && sel->toBinaryNode()) {
        Op name = qualifiedName(nullptr, sel->toBinaryNode(), false);
        if (!name)
            return nullptr;
        return Op(new jsOpXMLDescendants(base.release(), name.release()->asVariable(), nullptr, 0, attribute));
    }
    if (sel->kind == Node::kArray) {
        ListNode* brackets = sel->toListNode();
        Op index = expression(brackets ? brackets->getNode(0) : nullptr);
        if (!index)
            return error ? nullptr : (fail(Err::kSyntaxError, sel), nullptr);
        return Op(new jsOpXMLDescendants(base.release(), nullptr, index.release(), 0, attribute));
    }
    if (sel->getOperandCount() == 0 && (sel->kind == Node::kName || sel->kind == Node::kSelector))
        return Op(new jsOpXMLDescendants(base.release(), nullptr, nullptr, selectorId(sel), attribute));
    return Op(new jsOpXMLDescendants(base.release(), nullptr, nullptr, NodeCode::kDescendants, false));
}

}  // namespace LxScript
