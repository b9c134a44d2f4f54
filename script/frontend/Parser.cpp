// The parser. Every recursion through statements, primaries, "new",
// selectors and functions checks the stack against the script context's
// limit, and expression nesting has its own bound, so that no input reaches
// the machine stack unchecked; long chains (operators of one level, prefix
// operators, labels, list elements) are loops.
#include "script/frontend/Parser.h"

#include <exception>
#include <new>

#include "core/ErrorCodes.h"
#include "core/Heap.h"
#include "core/HashTable.h"
#include "core/XML.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr i32 kMaxErrorLength = 0xFFFF;

using TokenCode::kColon;
using TokenCode::kColonColon;
using TokenCode::kEnd;
using TokenCode::kLeftBrace;
using TokenCode::kLeftBracket;
using TokenCode::kLeftParen;
using TokenCode::kRightBrace;
using TokenCode::kRightBracket;
using TokenCode::kRightParen;
using TokenCode::kSemicolon;

// Binding strength of binary operators by id; 0: none.
i32 precedence(i32 op) {
    if (op >= kOpMultiply && op <= kOpModulo) return 11;
    if (op == kOpAdd || op == kOpSubtract) return 10;
    if (op >= kOpShiftLeft && op <= kOpShiftRightUnsigned) return 9;
    if (op >= kOpLess && op <= kOpInstanceof) return 8;
    if (op >= kOpEqual && op <= kOpStrictNotEqual) return 7;
    if (op >= kOpBitAnd && op <= kOpBitXor) return 6;
    if (op == kOpAnd || op == kOpOr) return 5;
    if (op >= kOpMultiplyAssign && op <= kOpBitXorAssign) return 3;
    if (op == kOpConditional) return 2;
    if (op == kOpComma) return 1;
    return 0;
}

constexpr i32 kAssignmentLevel = 3;

bool isLoop(i32 code) { return code == kWordDo || code == kWordFor || code == kWordWhile; }

// The clause frame of a switch: what an unlabelled break also ends.
constexpr i32 kSwitchFrame = kWordCase;

bool isPlainName(const Node* node) { return node->kind == Node::kName && node->getOperandCount() == 0; }

// Whether an out-of-memory exception must pass on instead of becoming an
// error: the allocator says memory is exhausted for good.
bool allocatorGaveUp() {
    auto* allocator = dynamic_cast<LxCore::DefaultAllocator*>(LxCore::Allocator::getCurrent());
    return allocator && allocator->outOfMemory;
}

}  // namespace

struct jsParser::Frame {
    i32 code;
    Frame* outer;
    const LabelNode* labels;
};

// For the life of a scope: one more level of expression nesting, in which
// "in" is an operator again.
class jsParser::Nested {
public:
    explicit Nested(jsParser& parser) : parser(parser), noIn(parser.noIn) {
        parser.nesting++;
        parser.noIn = false;
    }
    ~Nested() {
        parser.nesting--;
        parser.noIn = noIn;
    }
    Nested(const Nested&) = delete;
    Nested& operator=(const Nested&) = delete;

private:
    jsParser& parser;
    bool noIn;
};

// ---------------------------------------------------------------------------
// The parser object

jsParser::jsParser(const FrontEndOptions* options, DataPoolId file, const String& text, LxCore::Error& errors)
    : scanner(options, file, text, errors), errors(errors) {
    ScanInfo start;
    start.file = file;
    start.line = -1;
    root = new ScopeNode(start, 0);
    root->info->flags = ScopeInfo::kScriptScope;
    root->info->source = text;
    scope = root;
    openBrace.line = -1;
}

jsParser::~jsParser() { delete root; }

ScopeNode* jsParser::parse() {
    try {
        TVContext& thread = TVContext::get();
        StackLimitScope limit(thread, kStackBudget);
        context = &thread;
        Holder body;
        next();
        if (ok && token.code != kEnd) {
            root->info->flags = u32(scanner.getFlags()) | ScopeInfo::kScriptScope;
            body = statementList(true);
        }
        if (ok && token.code != kEnd)
            error(token.code == kRightBrace ? Err::kTooManyClosingBraces : Err::kSyntaxError);
        if (!body || !body->toListNode())
            body.reset(new ListNode(token));
        root->body = body.release();
        context = nullptr;
    } catch (const std::bad_alloc&) {
        context = nullptr;
        if (allocatorGaveUp())
            throw;
        fatal(Err::kOutOfMemory, String());
    } catch (const std::exception& e) {
        context = nullptr;
        fatal(Err::kUncaughtException, String(e.what()));
    } catch (...) {
        context = nullptr;
        fatal(Err::kUncaughtException, String("Unknown"));
    }
    root->value = lastLine;
    root->info->source = scanner.getText();
    if (!scanner.getScriptName().isEmpty())
        root->info->name = DataPool::get().add(scanner.getScriptName().chars(), scanner.getScriptName().length());
    ScopeNode* result = root;
    root = nullptr;
    return result;
}

// Comments and directive lines are skipped; the scanner's line ends tell
// whether one came before the token.
void jsParser::next(bool operandExpected) {
    const LxCore::u32 before = scanner.getLineEndCount();
    do {
        if (!scanner.next(token, operandExpected)) {
            ok = false;
            token.code = 0;
            token.kind = ScanInfo::kNone;
            break;
        }
    } while (token.code == TokenCode::kComment);
    lineEndBefore = scanner.getLineEndsBeforeToken() != before;
    if (token.code != kEnd)
        lastLine = token.line;
}

bool jsParser::expect(i32 code) {
    if (!ok)
        return false;
    if (token.code != code) {
        error(Err::kExpected, code);
        return false;
    }
    next();
    return true;
}

bool jsParser::stackOK() const { return !context || context->checkStack(); }

bool jsParser::isReservedWord() const {
    return token.kind == ScanInfo::kOperator && token.code >= kFirstReservedWord && token.code <= kLastReservedWord;
}

// The id of a word usable as a property name: a name, a reserved word, or
// AND, OR and XOR, which the scanner turns into operators. 0 for others.
DataPoolId jsParser::wordId() const {
    if (token.kind == ScanInfo::kName || isReservedWord())
        return token.code;
    if (token.kind == ScanInfo::kOperator && token.code >= kOpBitAnd && token.code <= kOpBitXor) {
        const LxCore::unit first = scanner.getSource()[token.offset];
        if (first >= 'A' && first <= 'Z')
            return token.code - kOpBitAnd + kNameAND;
    }
    return 0;
}

// Only the first error is recorded, at the current token (error 14 at the
// open brace); it ends the parse.
void jsParser::error(i32 code, DataPoolId what) {
    if (!ok)
        return;
    ok = false;
    if (!scanner.isOK() || !errors.isEmpty())
        return;
    scanner.stop();
    if (code == Err::kNameExpected && isReservedWord()) {
        code = Err::kReservedWord;
        what = token.code;
    }
    const TokenPosition& at = code == Err::kNoClosingBrace && openBrace.line >= 0 ? openBrace : token;
    DataPool& pool = DataPool::get();
    errors.push(code, what ? pool.getSymbol(what) : String(), nullptr, true);
    const i32 length = at.length < 1 ? 1 : at.length > kMaxErrorLength ? kMaxErrorLength : at.length;
    errors.setSource(scanner.getSource(), at.line, at.offset, at.column, LxCore::u16(length));
    errors.setFileName(pool.getSymbol(at.file));
}

// A failure of the parse itself replaces whatever was recorded.
void jsParser::fatal(i32 code, const String& text) {
    ok = false;
    scanner.stop();
    errors.clear();
    errors.push(code, text, nullptr, true);
}

// ---------------------------------------------------------------------------
// Statements

jsParser::Holder jsParser::statementList(bool topLevel) {
    std::unique_ptr<ListNode> list(new ListNode(token));
    while (ok) {
        while (ok && token.code == kSemicolon)
            next();
        if (!ok || token.code == kEnd || token.code == kRightBrace)
            break;
        if (!listItem(*list))
            break;
    }
    if (!topLevel && list->length() == 0)
        return Holder(new EmptyNode(token));
    return Holder(list.release());
}

// One statement of a list, kept unless empty; statements on one line need
// a ";" between them.
bool jsParser::listItem(ListNode& list) {
    Holder statement = this->statement();
    if (!ok)
        return false;
    if (!semicolon && !lineEndBefore && !braceEnded && token.code != kSemicolon && token.code != kRightBrace &&
        token.code != kEnd) {
        error(Err::kExpected, kSemicolon);
        return false;
    }
    if (!statement->isEmpty())
        list.add(statement.release());
    return true;
}

jsParser::Holder jsParser::statement() {
    semicolon = braceEnded = false;
    if (!stackOK()) {
        error(Err::kStackOverrun);
        return Holder(new EmptyNode(token));
    }
    // Labels; a set catches a repeated one among many.
    std::unique_ptr<LabelNode> labels;
    std::unique_ptr<LxCore::IntHashTable> seen;
    while (ok && token.kind == ScanInfo::kName && token.code != kOpMultiply && scanner.peekChar() == ':') {
        const TokenPosition name = token;
        const bool lineEnd = lineEndBefore;
        next();
        if (token.code == kColonColon) {
            scanner.pushBack(token);
            token = name;
            lineEndBefore = lineEnd;
            break;
        }
        if (!labels)
            labels.reset(new LabelNode(name));
        if (labels->getLabelCount() == 8) {
            seen.reset(new LxCore::IntHashTable);
            for (i32 i = 0; i < 8; i++)
                seen->put(labels->getLabel(i), labels.get());
        }
        if (seen ? seen->get(name.code) != nullptr : labels->hasLabel(name.code)) {
            token = name;
            error(Err::kLabelNotFound);
            break;
        }
        if (seen)
            seen->put(name.code, labels.get());
        labels->addLabel(name.code);
        next();
    }
    Frame frame{token.code == kWordSwitch ? kSwitchFrame : token.code, frames, labels.get()};
    frames = &frame;
    Holder node;
    try {
        node = dispatch();
    } catch (...) {
        frames = frame.outer;
        throw;
    }
    frames = frame.outer;
    if (!node)
        node.reset(new EmptyNode(token));
    while (ok && token.code == kSemicolon) {
        semicolon = true;
        next();
    }
    if (!labels)
        return node;
    // "a: break a;" leaves nothing to do.
    if (node->code == kWordBreak) {
        const Node* target = node->getOperand(0);
        if (target && target->kind == Node::kLabel && labels->hasLabel(target->code))
            return Holder(new EmptyNode(token));
    }
    labels->statement = node.release();
    return Holder(labels.release());
}

// The statement by its first token. Those that do not end in another
// statement or a block do not count as ended with "}".
jsParser::Holder jsParser::dispatch() {
    switch (token.code) {
        case kLeftBrace:
            return block();
        case kSemicolon:
            return nullptr;
        case kRightBrace:
            if (openBrace.line < 0) {
                error(Err::kTooManyClosingBraces);
                return nullptr;
            }
            break;
        case kEnd:
            error(openBrace.line >= 0 ? Err::kNoClosingBrace : Err::kReadPastEnd);
            return nullptr;
        case kWordVar: case kWordConst: {
            if (xmlDepth > 0) {
                error(Err::kSyntaxError);
                return nullptr;
            }
            Holder node = declarations(false);
            braceEnded = false;
            return node;
        }
        case kWordDebugger: {
            Holder node(new Node(token, kWordDebugger, Node::kOperator));
            next();
            return node;
        }
        case kWordIf: return ifStatement();
        case kWordWhile: return whileStatement();
        case kWordDo: return doStatement();
        case kWordFor: return forStatement();
        case kWordFunction: return function(false);
        case kWordReturn: return returnStatement();
        case kWordThrow: {
            const TokenPosition at = token;
            next();
            // A restricted production: the value starts on the throw's line.
            if (lineEndBefore) {
                error(Err::kSyntaxError);
                return nullptr;
            }
            Holder value = expression(0);
            braceEnded = false;
            return Holder(new UnaryNode(at, kWordThrow, Node::kOperator, value.release()));
        }
        case kWordWith: {
            const TokenPosition at = token;
            next();
            expect(kLeftParen);
            Holder object = expression(0);
            expect(kRightParen);
            Holder body = statement();
            return Holder(new BinaryNode(at, kWordWith, Node::kOperator, object.release(), body.release()));
        }
        case kWordSwitch: return switchStatement();
        case kWordTry: return tryStatement();
        case kWordBreak: case kWordContinue: return jumpStatement();
        case kWordCatch: case kWordFinally:
            error(Err::kCatchWithoutTry);
            return nullptr;
        default:
            break;
    }
    Holder node = expression(0);
    braceEnded = false;
    return node;
}

// "{" statements "}": a list, or Empty when none.
jsParser::Holder jsParser::block(TokenPosition* closing) {
    const TokenPosition outerBrace = openBrace;
    openBrace = token;
    next();
    Holder list = statementList(false);
    if (ok) {
        if (token.code == kRightBrace) {
            if (closing)
                *closing = token;
            next();
        } else {
            error(token.code == kEnd ? Err::kNoClosingBrace : Err::kExpected, kRightBrace);
        }
    }
    openBrace = outerBrace;
    semicolon = false;
    braceEnded = true;
    return list;
}

jsParser::Holder jsParser::ifStatement() {
    const TokenPosition at = token;
    next();
    expect(kLeftParen);
    Holder condition = expression(0);
    expect(kRightParen);
    Holder then = statement();
    Holder otherwise;
    if (ok && token.code == kWordElse) {
        next();
        otherwise = statement();
    } else {
        braceEnded = true;      // an "if" without "else" counts as ended
        otherwise.reset(new EmptyNode(at));
    }
    if (condition->isConstant())
        return condition->getConstant()->toBoolean() ? std::move(then) : std::move(otherwise);
    return Holder(new TernaryNode(at, kWordIf, Node::kOperator, condition.release(), then.release(), otherwise.release()));
}

jsParser::Holder jsParser::whileStatement() {
    const TokenPosition at = token;
    next();
    expect(kLeftParen);
    Holder condition = expression(0);
    expect(kRightParen);
    Holder body = statement();
    if (condition->isConstant() && !condition->getConstant()->toBoolean())
        return Holder(new EmptyNode(at));
    return Holder(new BinaryNode(at, kWordWhile, Node::kOperator, condition.release(), body.release()));
}

jsParser::Holder jsParser::doStatement() {
    const TokenPosition at = token;
    next();
    Holder body = statement();
    if (ok && token.code != kWordWhile)
        error(Err::kExpected, kWordWhile);
    next();
    expect(kLeftParen);
    Holder condition = expression(0);
    expect(kRightParen);
    semicolon = braceEnded = false;
    return Holder(new BinaryNode(at, kWordDo, Node::kOperator, body.release(), condition.release()));
}

jsParser::Holder jsParser::forStatement() {
    const TokenPosition at = token;
    next();
    const bool each = token.kind == ScanInfo::kName && token.code == kNameEach;
    if (each)
        next();
    expect(kLeftParen);
    Holder init;
    {
        const bool outer = noIn;
        noIn = true;
        if (token.code == kWordVar)
            init = declarations(true);
        else if (token.code == kSemicolon)
            init.reset(new EmptyNode(token));
        else
            init = expression(0);
        noIn = outer;
    }
    Holder header;
    if (ok && token.code == kWordIn) {
        if (init->kind != Node::kName)
            error(Err::kSyntaxError);
        next();
        Holder object = expression(0);
        expect(kRightParen);
        header.reset(new BinaryNode(at, each ? kNameEach : kOpIn, Node::kOperator, init.release(), object.release()));
    } else {
        if (each)
            error(Err::kSyntaxError);
        expect(kSemicolon);
        Holder condition(token.code == kSemicolon ? new EmptyNode(token) : expression(0).release());
        expect(kSemicolon);
        Holder update(token.code == kRightParen ? new EmptyNode(token) : expression(0).release());
        expect(kRightParen);
        header.reset(new TernaryNode(at, 0, Node::kOperator, init.release(), condition.release(), update.release()));
    }
    Holder body = statement();
    TernaryNode* classic = header->toTernaryNode();
    if (classic && classic->first->isEmpty() && classic->second->isEmpty() && classic->third->isEmpty()) {
        // for (;;) is while (true), an empty body too: it runs until a break,
        // a deadline or a halt, never ends at once.
        ScanInfo yes(at);
        yes.code = kWordTrue;
        yes.kind = ScanInfo::kOperator;
        return Holder(new BinaryNode(at, kWordWhile, Node::kOperator, new Node(yes), body.release()));
    }
    return Holder(new BinaryNode(at, kWordFor, Node::kOperator, header.release(), body.release()));
}

// Clauses: Binary 53 (their case expressions and default markers, their
// statements); consecutive labels share one clause.
jsParser::Holder jsParser::switchStatement() {
    const TokenPosition at = token;
    next();
    expect(kLeftParen);
    Holder discriminant = expression(0);
    expect(kRightParen);
    if (ok && token.code != kLeftBrace)
        error(Err::kExpected, kLeftBrace);
    const TokenPosition outerBrace = openBrace;
    openBrace = token;
    next();
    std::unique_ptr<ListNode> clauses(new ListNode(at));
    ListNode* cases = nullptr;
    ListNode* statements = nullptr;
    bool hasDefault = false;
    while (ok && token.code != kRightBrace) {
        const bool label = token.code == kWordCase || (token.code == kWordDefault && scanner.peekChar() == ':');
        if (label) {
            if (!statements || statements->length() > 0) {
                cases = new ListNode(token);
                statements = new ListNode(token);
                clauses->add(new BinaryNode(token, kWordCase, Node::kOperator, cases, statements));
            }
            if (token.code == kWordCase) {
                next();
                cases->add(expression(0).release());
            } else {
                if (hasDefault)
                    error(Err::kTwoDefaults);
                hasDefault = true;
                cases->add(new Node(token, kWordDefault, Node::kOperator));
                next();
            }
            expect(kColon);
        } else if (token.code == kEnd) {
            error(Err::kNoClosingBrace);
        } else if (!statements) {
            error(Err::kExpected, kWordCase);
        } else {
            listItem(*statements);
        }
    }
    if (ok)
        next();
    openBrace = outerBrace;
    semicolon = false;
    braceEnded = true;
    return Holder(new BinaryNode(at, kWordSwitch, Node::kOperator, discriminant.release(), clauses.release()));
}

jsParser::Holder jsParser::tryStatement() {
    const TokenPosition at = token;
    next();
    if (ok && token.code != kLeftBrace)
        error(Err::kExpected, kLeftBrace);
    Holder body = block();
    std::unique_ptr<ListNode> catches(new ListNode(at, kWordCatch));
    bool unconditional = false;
    while (ok && token.code == kWordCatch) {
        const TokenPosition catchAt = token;
        if (unconditional)
            error(Err::kCatchAfterUnconditional);
        next();
        expect(kLeftParen);
        if (ok && token.kind != ScanInfo::kName)
            error(Err::kNameExpected);
        Holder name(new Node(token));
        next();
        Holder condition;
        if (ok && token.code == kWordIf) {
            next();
            condition = expression(0);
        } else {
            unconditional = true;
            condition.reset(new EmptyNode(token));
        }
        expect(kRightParen);
        if (ok && token.code != kLeftBrace)
            error(Err::kExpected, kLeftBrace);
        Holder handler = block();
        catches->add(new TernaryNode(catchAt, kWordCatch, Node::kOperator, name.release(), condition.release(),
                                     handler.release()));
    }
    Holder last;
    if (ok && token.code == kWordFinally) {
        next();
        if (ok && token.code != kLeftBrace)
            error(Err::kExpected, kLeftBrace);
        last = block();
        if (!last->isEmpty())
            last->code = kWordFinally;
    } else {
        if (ok && catches->length() == 0)
            error(Err::kTryWithoutCatch);
        last.reset(new EmptyNode(at));
    }
    semicolon = false;
    braceEnded = true;
    return Holder(new TernaryNode(at, kWordTry, Node::kOperator, body.release(), catches.release(), last.release()));
}

// break and continue: a label only on their own line.
jsParser::Holder jsParser::jumpStatement() {
    const TokenPosition at = token;
    const i32 code = token.code;
    next();
    Holder label;
    DataPoolId name = 0;
    if (ok && token.kind == ScanInfo::kName && !lineEndBefore) {
        name = token.code;
        label.reset(new Node(token, name, Node::kLabel));
        next();
    } else {
        if (ok && !lineEndBefore && token.code != kSemicolon && token.code != kRightBrace && token.code != kEnd)
            error(Err::kExpected, kSemicolon);
        label.reset(new EmptyNode(token));
    }
    const Frame* target = nullptr;
    for (const Frame* f = frames; f && !target; f = f->outer) {
        if (name ? f->labels && f->labels->hasLabel(name)
                 : isLoop(f->code) || (code == kWordBreak && f->code == kSwitchFrame))
            target = f;
    }
    if (!target)
        error(name ? Err::kLabelNotFound : Err::kJumpOutsideLoop);
    else if (code == kWordContinue && !isLoop(target->code))
        error(Err::kJumpOutsideLoop);
    braceEnded = false;
    return Holder(new UnaryNode(at, code, Node::kOperator, label.release()));
}

jsParser::Holder jsParser::returnStatement() {
    const TokenPosition at = token;
    if (scope->info->flags & ScopeInfo::kScriptScope) {
        error(Err::kReturnOutsideFunction);
        return nullptr;
    }
    next();
    Holder value;
    if (lineEndBefore || token.code == kSemicolon || token.code == kRightBrace || token.code == kEnd)
        value.reset(new EmptyNode(token));
    else
        value = expression(0);
    braceEnded = false;
    return Holder(new UnaryNode(at, kWordReturn, Node::kOperator, value.release()));
}

// var / const: Empty, one node, or a comma list of initialisers (and, in a
// for header, of names without one).
jsParser::Holder jsParser::declarations(bool forHeader) {
    const bool constant = token.code == kWordConst;
    next();
    std::unique_ptr<ListNode> list;
    Holder single;
    while (ok) {
        if (token.kind != ScanInfo::kName || token.code == kOpMultiply) {
            error(Err::kNameExpected);
            break;
        }
        const TokenPosition name = token;
        declare(name.code, constant);
        next();
        Holder item;
        if (ok && token.code == kOpAssign) {
            next();
            Holder value = expression(1);
            item.reset(new BinaryNode(name, constant ? kWordConst : kOpAssign, Node::kInitialiser, new Node(name, name.code, name.kind),
                                      value.release()));
        } else if (forHeader) {
            item.reset(new Node(name, name.code, name.kind));
        }
        if (item) {
            if (list) {
                list->add(item.release());
            } else if (single) {
                list.reset(new ListNode(name, kOpComma));
                list->add(single.release());
                list->add(item.release());
            } else {
                single = std::move(item);
            }
        }
        if (!ok || token.code != kOpComma)
            break;
        next();
    }
    if (list)
        return Holder(list.release());
    return single ? std::move(single) : Holder(new EmptyNode(token));
}

void jsParser::declare(DataPoolId name, bool constant) {
    ScopeInfo& info = *scope->info;
    if (name == kNameArguments) {
        if (constant)
            error(Err::kRedeclared, name);
        return;
    }
    if (const i32 slot = info.lookup(name)) {
        const i32 tag = slot & ScopeInfo::kSlotTagMask;
        if (tag == ScopeInfo::kParameterSlot || tag == (constant ? ScopeInfo::kConstantSlot : ScopeInfo::kVariableSlot)) {
            if (constant)
                error(Err::kRedeclared, name);
            return;
        }
    }
    if (constant)
        info.addConstant(name);
    else
        info.addVariable(name);
}

// function [name] (parameters) { body }: a scope of its own, which neither
// statement frames nor declarations cross.
jsParser::Holder jsParser::function(bool expression) {
    const TokenPosition at = token;
    if (!stackOK()) {
        error(Err::kStackOverrun);
        return Holder(new EmptyNode(at));
    }
    std::unique_ptr<ScopeNode> node(new ScopeNode(at, kWordFunction));
    ScopeInfo& info = *node->info;
    info.flags = u32(scanner.getFlags()) | (expression ? ScopeInfo::kFunctionExpression : 0);
    info.source = scanner.getSource();
    Frame* const outerFrames = frames;
    ScopeNode* const outerScope = scope;
    frames = nullptr;
    scope = node.get();
    TokenPosition closing;
    closing.line = -1;
    Holder body;
    try {
        next();
        if (ok && token.kind == ScanInfo::kName && token.code != kOpMultiply) {
            info.name = token.code;
            next();
        }
        expect(kLeftParen);
        while (ok && token.code != kRightParen) {
            if (token.kind != ScanInfo::kName || token.code == kOpMultiply) {
                error(Err::kNameExpected);
                break;
            }
            info.addParameter(token.code);
            next();
            if (ok && token.code == kOpComma)
                next();
            else
                break;
        }
        expect(kRightParen);
        if (ok && token.code != kLeftBrace)
            error(Err::kExpected, kLeftBrace);
        if (ok)
            body = block(&closing);
    } catch (...) {
        frames = outerFrames;
        scope = outerScope;
        throw;
    }
    frames = outerFrames;
    scope = outerScope;
    if (!body || !body->toListNode())
        body.reset(new ListNode(at));
    node->body = body.release();
    node->value = closing.line;
    // The text runs to the body's own "}" when it lies in the same file;
    // otherwise (an include ended the body) to the end of the function's file.
    info.start = at.offset;
    info.length = closing.line >= 0 && closing.file == at.file ? closing.offset + 1 - at.offset
                                                                : info.source.length() - at.offset;
    braceEnded = !expression;
    return Holder(node.release());
}

// ---------------------------------------------------------------------------
// Expressions

// Operators above `minimum` by precedence climbing: equal levels group from
// the left, assignments from the right; constant operands fold at once.
jsParser::Holder jsParser::expression(i32 minimum) {
    Holder left = unaryExpression();
    std::unique_ptr<ListNode> items;
    while (ok) {
        i32 op = 0;
        if (token.kind == ScanInfo::kOperator) {
            if (token.code >= kOpMultiply && token.code <= kLastOperator)
                op = token.code;
            else if (token.code == kWordIn && !noIn)
                op = kOpIn;
            else if (token.code == kWordInstanceof)
                op = kOpInstanceof;
            else if (token.code == TokenCode::kQuestion)
                op = kOpConditional;
        }
        const i32 level = precedence(op);
        if (level <= minimum)
            break;
        const TokenPosition at = token;
        if (level == kAssignmentLevel && !isTarget(left.get()))
            error(Err::kCannotAssign, left->code);
        next();
        if (op == kOpComma) {
            // An item that is constant does nothing when another follows.
            if (!items) {
                items.reset(new ListNode(at, kOpComma));
                items->add(left.release());
            }
            Holder item = expression(1);
            if (items->getNode(items->length() - 1)->isConstant())
                delete items->removeNode(items->length() - 1);
            items->add(item.release());
            continue;
        }
        if (op == kOpConditional) {
            Holder second = expression(1);
            if (ok && token.code != kColon)
                error(Err::kExpected, kColon);
            next();
            Holder third = expression(1);
            Node* node = new TernaryNode(at, kOpConditional, Node::kOperator, left.release(), second.release(),
                                         third.release());
            left.reset(node->foldConstants());
            continue;
        }
        if (level == kAssignmentLevel) {
            Holder right = expression(1);
            left.reset(new BinaryNode(at, op, Node::kOperator, left.release(), right.release()));
            continue;
        }
        Holder right = expression(level);
        Node* node = new BinaryNode(at, op, Node::kOperator, left.release(), right.release());
        left.reset(node->foldConstants());
    }
    if (!items)
        return left;
    if (items->length() == 1)
        return Holder(items->removeNode(0));
    return Holder(items.release());
}

// Prefix operators (a loop, however many), the operand, a postfix "++" or
// "--"; a constant operand folds the chain at once.
jsParser::Holder jsParser::unaryExpression() {
    Holder top;
    UnaryNode* tail = nullptr;
    UnaryNode* step = nullptr;      // the innermost "++" or "--"
    TokenPosition stepAt;
    while (ok) {
        i32 op;
        switch (token.code) {
            case kOpAdd: op = kOpPlus; break;
            case kOpSubtract: op = kOpMinus; break;
            case kWordDelete: op = kOpDelete; break;
            case kWordTypeof: op = kOpTypeof; break;
            case kWordVoid: op = kOpVoid; break;
            case kOpPreIncrement: case kOpPreDecrement: case kOpBitNot: case kOpNot: op = token.code; break;
            default: op = 0; break;
        }
        if (!op || token.kind != ScanInfo::kOperator)
            break;
        UnaryNode* node = new UnaryNode(token, op, Node::kOperator);
        if (tail)
            tail->operand = node;
        else
            top.reset(node);
        tail = node;
        if (op == kOpPreIncrement || op == kOpPreDecrement) {
            step = node;
            stepAt = token;
        }
        next();
    }
    Holder value = operand();
    if (ok && (token.code == kOpPreIncrement || token.code == kOpPreDecrement)) {
        if (step) {
            error(Err::kSyntaxError);
        } else {
            step = new UnaryNode(token, token.code == kOpPreIncrement ? kOpPostIncrement : kOpPostDecrement,
                                 Node::kOperator, value.release());
            stepAt = token;
            value.reset(step);
            if (!isTarget(step->operand)) {
                error(Err::kCannotAssign, step->operand->code);
                return value;
            }
            next();
        }
    }
    if (top) {
        const bool constant = value->isConstant();
        tail->operand = value.release();
        if (constant)
            top.reset(top.release()->foldConstants());
        value = std::move(top);
    }
    if (step && ok && !isTarget(step->operand)) {
        token = stepAt;
        error(Err::kCannotAssign, step->operand->code);
    }
    return value;
}

// A name, a member (reference, attribute, qualified name, descendants), or
// "@" and a selector; a filter is not a place to store into.
bool jsParser::isTarget(const Node* node) const {
    if (!node)
        return false;
    if (isPlainName(node) || node->code == NodeCode::kAttribute || node->code == NodeCode::kQualifiedName ||
        node->code == NodeCode::kDescendants)
        return true;
    if (node->kind != Node::kName || node->code != 0)
        return false;
    const Node* selector = node->getOperand(1);
    if (!selector)
        return false;
    return (selector->kind == Node::kSelector && selector->code != NodeCode::kParentheses) ||
           selector->kind == Node::kArray || selector->code == NodeCode::kAttribute ||
           selector->code == NodeCode::kQualifiedName;
}

jsParser::Holder jsParser::operand() {
    if (token.code == kWordFunction)
        return suffixes(function(true), true);
    if (token.code == kWordNew)
        return suffixes(newExpression(), true);
    return suffixes(primary(), true);
}

// new C(args): Unary 84 over a call shape; the constructor takes member
// suffixes but no calls, a missing argument list is an empty one.
jsParser::Holder jsParser::newExpression() {
    const TokenPosition at = token;
    if (!stackOK()) {
        error(Err::kStackOverrun);
        return Holder(new EmptyNode(at));
    }
    next();
    Holder constructor;
    if (token.code == kWordNew)
        constructor = newExpression();
    else if (token.code == kWordFunction)
        constructor = function(true);
    else
        constructor = primary();
    if (!constructor)
        constructor.reset(new EmptyNode(at));
    constructor = suffixes(std::move(constructor), false);
    Holder list(ok && token.code == kLeftParen ? arguments().release() : new ListNode(at, 0, Node::kArguments));
    Node* call = new BinaryNode(at, 0, Node::kName, constructor.release(), list.release());
    return Holder(new UnaryNode(at, kWordNew, Node::kOperator, call));
}

jsParser::Holder jsParser::primary() {
    if (nesting > kMaxNesting || !stackOK()) {
        error(Err::kStackOverrun);
        return Holder(new EmptyNode(token));
    }
    switch (token.code) {
        case kWordTrue: case kWordFalse: case kWordNull: case kWordThis: {
            Holder node(new Node(token));
            next();
            return node;
        }
        case kLeftParen: {
            Nested nested(*this);
            next();
            Holder inner = expression(0);
            expect(kRightParen);
            return inner;
        }
        case kLeftBracket: return arrayLiteral();
        case kLeftBrace: return objectLiteral();
        // In operand position "/=" can only begin a pattern that starts with "=".
        case kOpDivide: case kOpDivideAssign: return regExpLiteral();
        case kOpLess: return xmlLiteral();
        case TokenCode::kAt: {
            const TokenPosition at = token;
            next(true);
            Holder inner = selector(Node::kName);
            return Holder(new UnaryNode(at, NodeCode::kAttribute, Node::kOperator, inner.release()));
        }
        case kOpMultiply: {
            Holder node(new Node(token, kOpMultiply, Node::kName));
            next();
            return node;
        }
        case kWordDefault: return defaultNamespace();
        default: break;
    }
    switch (token.kind) {
        case ScanInfo::kName: case ScanInfo::kNumber: case ScanInfo::kString: case ScanInfo::kRegExp: {
            Holder node(new Node(token));
            next();
            return node;
        }
        default: break;
    }
    if (isReservedWord())
        error(Err::kReservedWord, token.code);
    else
        error(Err::kNoValue, token.code);
    return Holder(new EmptyNode(token));
}

// ".name", "[index]", "(arguments)", "..selector" and "::name" after an
// operand, as long as they come.
jsParser::Holder jsParser::suffixes(Holder base, bool calls) {
    i32 indexes = 0;
    bool suffixed = false;
    while (ok) {
        const TokenPosition at = token;
        Holder selector;
        i32 code = 0;
        i32 kind = Node::kName;
        switch (token.code) {
            case TokenCode::kDot:
                next(true);
                if (token.code == kLeftParen) {
                    Nested nested(*this);
                    next();
                    Holder condition = expression(0);
                    expect(kRightParen);
                    selector.reset(new UnaryNode(at, NodeCode::kParentheses, Node::kSelector, condition.release()));
                } else if (token.code == kLeftBracket) {
                    error(Err::kSyntaxError);
                    return base;
                } else {
                    selector = this->selector(Node::kSelector);
                }
                break;
            case kLeftBracket:
                if (++indexes > kMaxIndexes) {
                    error(Err::kStackOverrun);
                    return base;
                }
                if (base->kind == Node::kNumber && base->getOperandCount() == 0) {
                    error(Err::kNotAnObject, DataPool::get().add(*base->getConstant()));
                    return base;
                }
                selector = indexSelector();
                break;
            case kLeftParen:
                if (!calls)
                    return base;
                selector = arguments();
                break;
            case TokenCode::kDotDot:
                next(true);
                selector = descendantSelector();
                code = NodeCode::kDescendants;
                kind = Node::kOperator;
                break;
            case kColonColon:
                if (suffixed) {
                    error(Err::kExpected, kSemicolon);
                    return base;
                }
                if (!isPlainName(base.get())) {
                    error(Err::kNameExpected);
                    return base;
                }
                base = qualifiedName(std::move(base));
                suffixed = true;
                continue;
            default:
                return base;
        }
        if (!ok)
            return base;
        base.reset(new BinaryNode(at, code, kind, base.release(), selector.release()));
        suffixed = true;
    }
    return base;
}

// After ".", "@" or "::" (the token read with an operand expected): "@" and
// a selector, an index, or a name, wildcard or reserved word as a node of
// the given kind, which a "::" makes a namespace.
jsParser::Holder jsParser::selector(i32 kind) {
    if (!stackOK()) {
        error(Err::kStackOverrun);
        return Holder(new EmptyNode(token));
    }
    const TokenPosition at = token;
    if (token.code == TokenCode::kAt) {
        next(true);
        Holder inner = selector(Node::kName);
        return Holder(new UnaryNode(at, NodeCode::kAttribute, Node::kOperator, inner.release()));
    }
    if (token.code == kLeftBracket)
        return indexSelector();
    const DataPoolId id = wordId();
    if (!id) {
        error(Err::kSyntaxError);
        return Holder(new EmptyNode(at));
    }
    if (id == kNameGetter || id == kNameSetter) {
        error(Err::kFeatureNotSupported, id);
        return Holder(new EmptyNode(at));
    }
    next();
    if (ok && token.code == kColonColon)
        return qualifiedName(Holder(new Node(at, id, Node::kName)));
    return Holder(new Node(at, id, kind));
}

// "[" expression "]": a constant index is the selector of its pool id.
jsParser::Holder jsParser::indexSelector() {
    const TokenPosition at = token;
    Holder index;
    {
        Nested nested(*this);
        next();
        index = expression(0);
    }
    expect(kRightBracket);
    if (index->isFoldable())
        return Holder(new Node(at, DataPool::get().add(*index->getConstant()), Node::kSelector));
    ListNode* list = new ListNode(at, 0, Node::kArray);
    list->add(index.release());
    return Holder(list);
}

// ns::name, ns::*, ns::[index]; the token is "::".
jsParser::Holder jsParser::qualifiedName(Holder space) {
    const TokenPosition at = token;
    next(true);
    Holder local;
    if (token.code == TokenCode::kAt) {
        error(Err::kSyntaxError);
        return space;
    }
    if (token.code == kLeftBracket) {
        local = indexSelector();
    } else if (const DataPoolId id = wordId()) {
        local.reset(new Node(token, id, Node::kSelector));
        next();
    } else {
        error(Err::kSyntaxError);
        return space;
    }
    return Holder(new BinaryNode(at, NodeCode::kQualifiedName, Node::kName, space.release(), local.release()));
}

// After "..": a name or wildcard, possibly qualified, or "@" with a name or
// an index.
jsParser::Holder jsParser::descendantSelector() {
    const TokenPosition at = token;
    if (token.code == TokenCode::kAt) {
        next(true);
        Holder inner;
        if (token.code == kLeftBracket) {
            inner = indexSelector();
        } else if (const DataPoolId id = wordId()) {
            inner.reset(new Node(token, id, Node::kName));
            next();
        } else {
            error(Err::kSyntaxError);
            return Holder(new EmptyNode(at));
        }
        return Holder(new UnaryNode(at, NodeCode::kAttribute, Node::kOperator, inner.release()));
    }
    if (token.code == kLeftBracket) {
        error(Err::kWrongClass, TokenCode::kDotDot);
        return Holder(new EmptyNode(at));
    }
    const DataPoolId id = wordId();
    if (!id) {
        error(Err::kSyntaxError);
        return Holder(new EmptyNode(at));
    }
    next();
    Holder name(new Node(at, id, Node::kName));
    if (ok && token.code == kColonColon)
        return qualifiedName(std::move(name));
    return name;
}

jsParser::Holder jsParser::arguments() {
    const TokenPosition at = token;
    std::unique_ptr<ListNode> list(new ListNode(at, 0, Node::kArguments));
    {
        Nested nested(*this);
        next();
        while (ok && token.code != kRightParen) {
            list->add(expression(1).release());
            if (!ok || token.code != kOpComma)
                break;
            next();
        }
    }
    expect(kRightParen);
    return Holder(list.release());
}

// [a, , b,]: a "," with no element before it is an Empty element; a
// trailing one adds nothing.
jsParser::Holder jsParser::arrayLiteral() {
    const TokenPosition at = token;
    std::unique_ptr<ListNode> list(new ListNode(at, 0, Node::kArray));
    {
        Nested nested(*this);
        next();
        bool element = false;
        while (ok && token.code != kRightBracket) {
            if (token.code == kOpComma) {
                if (!element)
                    list->add(new EmptyNode(token));
                element = false;
                next();
                continue;
            }
            if (element) {
                error(Err::kExpected, kRightBracket);
                break;
            }
            list->add(expression(1).release());
            element = true;
        }
    }
    expect(kRightBracket);
    return Holder(list.release());
}

// {key: value, ...}: keys are names, numbers or strings.
jsParser::Holder jsParser::objectLiteral() {
    const TokenPosition at = token;
    std::unique_ptr<ListNode> list(new ListNode(at, NodeCode::kObjectLiteral, Node::kObject));
    {
        Nested nested(*this);
        next();
        while (ok && token.code != kRightBrace) {
            const bool name = token.kind == ScanInfo::kName && token.code != kOpMultiply;
            if (!name && token.kind != ScanInfo::kNumber && token.kind != ScanInfo::kString) {
                error(Err::kNameExpected);
                break;
            }
            if (name && (token.code == kNameGetter || token.code == kNameSetter)) {
                error(Err::kFeatureNotSupported, token.code);
                break;
            }
            const TokenPosition keyAt = token;
            Holder key(new Node(token));
            next();
            expect(kColon);
            Holder value = expression(1);
            list->add(new BinaryNode(keyAt, 0, Node::kOperator, key.release(), value.release()));
            if (!ok || token.code != kOpComma) {
                if (ok && token.code != kRightBrace)
                    error(Err::kExpected, kRightBrace);
                break;
            }
            next();
        }
    }
    expect(kRightBrace);
    return Holder(list.release());
}

// The "/" is read again, as the start of a regular expression.
jsParser::Holder jsParser::regExpLiteral() {
    const bool lineEnd = lineEndBefore;
    scanner.rewind(token);
    next(true);
    lineEndBefore = lineEnd;
    Holder node(new Node(token));
    next();
    return node;
}

Node* jsParser::stringNode(const TokenPosition& at, const String& text) const {
    ScanInfo literal(at);
    literal.code = 0;
    literal.kind = ScanInfo::kString;
    literal.value.setString(text);
    return new Node(literal);
}

// <...>: the scanner reads the markup piece by piece; each embedded
// expression is a statement, whose constant value joins the markup, escaped
// for where it stands.
jsParser::Holder jsParser::xmlLiteral() {
    const TokenPosition at = token;
    std::unique_ptr<ListNode> list(new ListNode(at, NodeCode::kXMLLiteral));
    String text;
    TokenPosition textAt = at;
    ScanInfo piece = token;
    while (ok) {
        const bool complete = scanner.readXMLPiece(piece);
        if (!scanner.isOK()) {
            ok = false;
            break;
        }
        if (text.isEmpty())
            textAt = piece;
        text += piece.value.toString();
        const jsScanner::XMLStop stop = scanner.getXMLStop();
        next();
        if (complete || !ok)
            break;
        next();
        Holder embedded;
        const bool outerNoIn = noIn;
        noIn = false;
        xmlDepth++;
        try {
            embedded = statement();
        } catch (...) {
            xmlDepth--;
            noIn = outerNoIn;
            throw;
        }
        xmlDepth--;
        noIn = outerNoIn;
        if (!ok)
            break;
        if (embedded->isEmpty()) {
            error(Err::kSyntaxError);        // "{;}" holds no expression
            break;
        }
        if (token.code != kRightBrace) {
            error(Err::kExpected, kRightBrace);
            break;
        }
        ListNode* items = embedded->code == kOpComma ? embedded->toListNode() : nullptr;
        if (items) {
            embedded.release();
        } else {
            items = new ListNode(token, kOpComma);
            items->add(embedded.release());
        }
        Holder value(items->foldConstants());
        if (value->isFoldable()) {
            const String valueText = value->getConstant()->toString();
            if (stop == jsScanner::kInAttributeValue) {
                text += LxCore::unit('"');
                LxCore::XML::appendEscapedAttributeValue(text, valueText);
                text += LxCore::unit('"');
            } else if (stop == jsScanner::kInQuotedValue) {
                LxCore::XML::appendEscapedAttributeValue(text, valueText);
            } else {
                LxCore::XML::appendEscapedText(text, valueText);
            }
        } else {
            if (!text.isEmpty()) {
                list->add(stringNode(textAt, text));
                text.clear();
            }
            if (value->code != kOpComma || !value->toListNode()) {
                ListNode* wrapper = new ListNode(token, kOpComma);
                wrapper->add(value.release());
                value.reset(wrapper);
            }
            value->kind = stop == jsScanner::kInAttributeValue ? Node::kXMLAttribute
                          : stop == jsScanner::kInContent      ? Node::kOperator
                                                               : Node::kXMLTag;
            list->add(value.release());
        }
        piece = token;
    }
    if (!text.isEmpty())
        list->add(stringNode(textAt, text));
    return Holder(list.release());
}

// default xml namespace = e: void setDefaultXMLNamespace(e).
jsParser::Holder jsParser::defaultNamespace() {
    const TokenPosition at = token;
    next();
    for (DataPoolId word : {kNameXml, kNameNamespace}) {
        if (!ok || token.kind != ScanInfo::kName || token.code != word) {
            error(Err::kExpected, word);
            return Holder(new EmptyNode(at));
        }
        next();
    }
    if (!expect(kOpAssign))
        return Holder(new EmptyNode(at));
    Holder value = expression(1);
    std::unique_ptr<ListNode> list(new ListNode(at, 0, Node::kArguments));
    list->add(value.release());
    Node* callee = new Node(at, DataPool::get().add("setDefaultXMLNamespace"), Node::kName);
    Node* call = new BinaryNode(at, 0, Node::kName, callee, list.release());
    return Holder(new UnaryNode(at, kWordVoid, Node::kOperator, call));
}

}  // namespace LxScript
