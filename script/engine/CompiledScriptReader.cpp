// The compiled-script reader. The text comes from outside, so each field
// is checked against what its operation will do with it before the
// operation is built: an operation reads only children its execute copes
// with, slots its activation has, and operators its tables hold.
#include "script/engine/CompiledScript.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "core/ErrorCodes.h"
#include "script/engine/TVContext.h"
#include "script/engine/Workspace.h"
#include "script/engine/ops/Assignments.h"
#include "script/engine/ops/Call.h"
#include "script/engine/ops/E4X.h"
#include "script/engine/ops/Exceptions.h"
#include "script/engine/ops/Literals.h"
#include "script/engine/ops/Statements.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
using LxCore::unit;
using LxCore::Variant;
namespace Err = LxCore::Err;

namespace {

constexpr i32 kHeaderLength = 15;
constexpr const char* kHeaders[] = {"@TVSBIN@TV@1.0@", "@TVSBIN@TV@2.0@", "@TVSBIN@TV@2.1@"};
constexpr i32 kVersions[] = {10, 20, 21};
// Versions from 2.0 on carry the attribute and "for each" booleans.
constexpr i32 kFirstVersionWithFlags = 20;

// The reader's stack allowance when no run has set a limit.
constexpr i32 kReaderStack = 1 << 20;
// Parameter and slot-group counts of one function: activations allocate
// their sum, so each stays small enough that no sum can wrap.
constexpr i32 kMaxLayoutCount = 65535;
// The 16-bit flags: bit 0 marks top-level code, bit 2 compiled code.
constexpr u32 kTopLevelFlag = 1;
constexpr u32 kCompiledFlag = 4;
constexpr const char* kCompiledSource = "[compiled code]";

// Operators each class runs (after the stored id is mapped).
constexpr i32 kBinaryOperators[] = {kOpMultiply, kOpDivide, kOpModulo, kOpAdd, kOpSubtract, kOpShiftLeft,
                                    kOpShiftRight, kOpShiftRightUnsigned, kOpLess, kOpLessEqual, kOpGreater,
                                    kOpGreaterEqual, kOpIn, kOpInstanceof, kOpEqual, kOpNotEqual, kOpStrictEqual,
                                    kOpStrictNotEqual, kOpBitAnd, kOpBitOr, kOpBitXor};
constexpr i32 kLogicalOperators[] = {kOpAnd, kOpOr};
constexpr i32 kUnaryOperators[] = {kOpTypeof, kOpDelete, kOpVoid, kOpBitNot, kOpNot, kOpPlus, kOpMinus};
constexpr i32 kReferenceOperators[] = {kOpTypeof, kOpDelete};
constexpr i32 kComparisons[] = {kOpLess, kOpLessEqual, kOpGreater, kOpGreaterEqual};

template <class T>
using Own = std::unique_ptr<T>;
using Op = Own<jsOpcode>;

template <class T, size_t N>
constexpr i32 countOf(const T (&)[N]) {
    return i32(N);
}

i32 sameOperator(i32 id) { return id; }

// The classes that derive from jsOpVariable, by letter.
bool isVariableLetter(char c) { return c && std::strchr("jXQVepqr", c) != nullptr; }

// Letters whose fields begin with the statement header.
bool isStatementLetter(unit c) { return c < 128 && std::strchr("DHIJKLNOZabcfglm", char(c)) != nullptr; }

}  // namespace

struct BinaryScriptReader::Header {
    i32 line = -1;
    Own<jsOpStatement> child;
    std::vector<DataPoolId> labels;
};

// One 'M' being read: its slots are checked once its layout is known,
// which the format gives after the body.
struct BinaryScriptReader::FunctionFrame {
    i32 highestSlot = -1;
    bool specialSlot = false;
};

BinaryScriptReader::BinaryScriptReader(const String& text) : text(text), end(text.length()) {}

BinaryScriptReader::~BinaryScriptReader() = default;

void BinaryScriptReader::fail(i32 code) {
    error = code;
    throw code;
}

bool BinaryScriptReader::isBinaryScript() {
    if (end < kHeaderLength)
        return false;
    for (i32 h = 0; h < countOf(kVersions); h++) {
        i32 i = 0;
        while (i < kHeaderLength && (text[i] & 0xFF) == unit(kHeaders[h][i]))
            i++;
        if (i == kHeaderLength) {
            version = kVersions[h];
            cursor = kHeaderLength;
            return true;
        }
    }
    return false;
}

i32 BinaryScriptReader::read(jsOpFunction*& root, const String& fileName) {
    root = nullptr;
    error = 0;
    Own<jsOpFunction> made;
    try {
        context = &TVContext::get();
        const StackLimitScope limit(*context, kReaderStack);
        fileId = DataPool::get().add(fileName.chars(), fileName.length());
        if (!isBinaryScript())
            fail(Err::kSyntaxError);
        made.reset(readFunction());
        if (!made)
            fail(Err::kSyntaxError);
        made->getScopeInfo()->file = fileId;
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        for (i32 line : lines)
            made->lines.add(LxCore::SimpleArray::Value(line));
    } catch (i32 code) {
        error = code ? code : Err::kOutOfMemory;
    } catch (...) {
        if (!error)
            error = Err::kOutOfMemory;
    }
    if (error)
        return error;
    root = made.release();
    return 0;
}

jsOpStatements* BinaryScriptReader::setCurrentStatements(jsOpStatements* statements) {
    jsOpStatements* previous = currentStatements;
    currentStatements = statements;
    return previous;
}

// ---------------------------------------------------------------------------
// Items

unit BinaryScriptReader::nextChar() {
    while (cursor < end) {
        const unit c = text[cursor++] & 0xFF;
        if (c != '\n' && c != '\r')
            return c;
    }
    fail(Err::kReadPastEnd);
}

// Letters stand for themselves, never for one of a run's zeros.
unit BinaryScriptReader::letterChar() {
    if (pendingZeros > 0)
        fail(Err::kSyntaxError);
    return nextChar();
}

i32 BinaryScriptReader::readByte() {
    if (pendingZeros > 0) {
        pendingZeros--;
        return 0;
    }
    const unit c = nextChar();
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'g' && c <= 'n') {
        const unit low = nextChar();
        i32 bits;
        if (low >= 'A' && low <= 'Z')
            bits = low - 'A';
        else if (low >= 'a' && low <= 'f')
            bits = low - 'a' + 26;
        else
            fail(Err::kSyntaxError);
        return (c - 'g') * 32 + bits;
    }
    if (c == '0') {
        const unit run = nextChar();
        if (run < 'A' || run > 'Z')
            fail(Err::kSyntaxError);
        pendingZeros = run - 64;
        return 0;
    }
    fail(Err::kSyntaxError);
}

f64 BinaryScriptReader::readNumber() {
    if (pendingZeros > 0) {
        pendingZeros--;
        return 0;
    }
    f64 sign = 1;
    unit c = nextChar();
    if (c == 'y') {
        sign = -1;
        c = nextChar();
    }
    switch (c) {
        case '2': {
            const u32 low = u32(readByte());
            return sign * f64(low | u32(readByte()) << 8);
        }
        case '4': {
            u32 value = 0;
            for (i32 i = 0; i < 4; i++)
                value |= u32(readByte()) << (8 * i);
            return sign * (value == 0x80000000u ? -2147483648.0 : f64(value));
        }
        case '8': {
            u64 bits = 0;
            for (i32 i = 0; i < 8; i++)
                bits |= u64(readByte()) << (8 * i);
            f64 value;
            std::memcpy(&value, &bits, sizeof value);
            return sign * value;
        }
        default:
            cursor--;
            return sign * readByte();
    }
}

// NaN, infinities and values outside the 32-bit ranges have no integer
// conversion; values from 2^31 on wrap as the writer's unsigned form does.
i32 BinaryScriptReader::readInt32() {
    const f64 value = readNumber();
    if (!(value >= -2147483648.0 && value <= 4294967295.0))
        fail(Err::kSyntaxError);
    const f64 whole = std::trunc(value);
    return whole >= 2147483648.0 ? i32(u32(whole)) : i32(whole);
}

i32 BinaryScriptReader::readInt16() { return i32(LxCore::i16(readInt32())); }

bool BinaryScriptReader::readBool() {
    const unit c = letterChar();
    if (c != 't' && c != 'f')
        fail(Err::kSyntaxError);
    return c == 't';
}

void BinaryScriptReader::readString(String& out) {
    out = String();
    const i32 length = readInt32();
    for (i32 i = 0; i < length; i++)
        out += unit(readInt32());
}

void BinaryScriptReader::readConstant(Variant& out) {
    switch (letterChar()) {
        case 'a':
            out.clear();
            break;
        case 'b':
            out.setNull();
            break;
        case 'c':
            out.setBool(readBool());
            break;
        case 'd':
            out.setNumber(readNumber());
            break;
        case 'e': {
            String value;
            readString(value);
            out.setString(value);
            break;
        }
        default:
            fail(Err::kSyntaxError);
    }
}

bool BinaryScriptReader::readOptionalConstant(Variant& out) {
    if (letterChar() == 'n')
        return false;
    cursor--;
    readConstant(out);
    return true;
}

DataPoolId BinaryScriptReader::readSymbol() {
    if (pendingZeros == 0) {
        if (nextChar() == 'z') {
            String name;
            readString(name);
            const DataPoolId id = DataPool::get().add(name.chars(), name.length());
            symbols.put(readInt32(), reinterpret_cast<void*>(intptr_t(id)));
            return id;
        }
        cursor--;
    }
    return DataPoolId(intptr_t(symbols.get(readInt32())));
}

i32 BinaryScriptReader::readOperator(const i32* allowed, i32 count, i32 (*map)(i32)) {
    const i32 op = map(readSymbol());
    if (std::find(allowed, allowed + count, op) == allowed + count)
        fail(Err::kSyntaxError);
    return op;
}

// ---------------------------------------------------------------------------
// Typed child reads

jsOpcode* BinaryScriptReader::readNode() { return readAnyNode(false); }

jsOpcode* BinaryScriptReader::readRequired() {
    jsOpcode* node = readNode();
    if (!node)
        fail(Err::kSyntaxError);
    return node;
}

// A function or statement of another class is read and dropped, together
// with the declarations it held, so none is left registered.
void BinaryScriptReader::drop(jsOpcode* node, size_t declarationMark) {
    if (declarations.size() > declarationMark)
        declarations.resize(declarationMark);
    delete node;
}

jsOpFunction* BinaryScriptReader::readFunction() {
    const size_t mark = declarations.size();
    jsOpcode* node = readAnyNode(true);
    if (!node || node->asFunctionBody())
        return node ? node->asFunctionBody() : nullptr;
    drop(node, mark);
    return nullptr;
}

jsOpStatement* BinaryScriptReader::readStatement() {
    const size_t mark = declarations.size();
    jsOpcode* node = readNode();
    if (!node || node->asStatement())
        return node ? node->asStatement() : nullptr;
    drop(node, mark);
    return nullptr;
}

jsOpList* BinaryScriptReader::readList() {
    jsOpcode* node = readNode();
    if (node && node->letter() != 'R') {
        delete node;
        fail(Err::kSyntaxError);
    }
    return static_cast<jsOpList*>(node);
}

jsOpVariable* BinaryScriptReader::readVariable() {
    jsOpcode* node = readNode();
    if (node && !isVariableLetter(node->letter())) {
        delete node;
        fail(Err::kSyntaxError);
    }
    return static_cast<jsOpVariable*>(node);
}

// ---------------------------------------------------------------------------
// Nodes

jsOpcode* BinaryScriptReader::readAnyNode(bool functionAllowed) {
    if (!context->checkStack())
        fail(Err::kStackOverrun);
    const unit c = letterChar();
    if (c == 'n')
        return nullptr;
    if (c < 'A' || c > 's' || (c > 'Z' && c < 'a'))
        fail(Err::kSyntaxError);
    if (c == 'M') {
        if (!functionAllowed)
            fail(Err::kSyntaxError);
        return readFunctionBody();
    }
    if (!isStatementLetter(c))
        return build(c);
    Header header;
    readHeader(header);
    Own<jsOpcode> node(build(c));
    return finish(static_cast<jsOpStatement*>(node.release()), header);
}

void BinaryScriptReader::readHeader(Header& header) {
    header.line = readInt32();
    header.child.reset(readStatement());
    const i32 count = readInt32();
    if (count < 0)
        fail(Err::kSyntaxError);
    for (i32 i = 0; i < count; i++)
        header.labels.push_back(readSymbol());
}

jsOpStatement* BinaryScriptReader::finish(jsOpStatement* statement, Header& header) {
    Own<jsOpStatement> owned(statement);
    statement->setPosition(fileId, header.line);
    if (header.child)
        statement->setChild(header.child.release());
    for (DataPoolId label : header.labels)
        statement->addLabel(label);
    // A second statement on a line carries the line negated.
    if (header.line >= 0 || header.line < -1)
        lines.push_back(header.line >= 0 ? header.line : -header.line);
    return owned.release();
}

// -1 names no slot; the two special slots exist in every activation;
// others are checked against the layout when it has been read.
void BinaryScriptReader::noteSlot(i32 slot) {
    if (slot == -1)
        return;
    if (functions.empty())
        fail(Err::kSyntaxError);
    FunctionFrame& frame = functions.back();
    if (slot == Workspace::kArgumentsSlot || slot == Workspace::kCalleeSlot)
        frame.specialSlot = true;
    else if (slot < 0)
        fail(Err::kSyntaxError);
    else
        frame.highestSlot = std::max(frame.highestSlot, slot);
}

jsOpFunction* BinaryScriptReader::readFunctionBody() {
    // The body's declarations belong to its own statement lists.
    jsOpStatements* const outerStatements = setCurrentStatements(nullptr);
    functions.push_back(FunctionFrame());
    Header header;
    readHeader(header);

    std::vector<std::pair<DataPoolId, i32>> entries;
    const i32 count = readInt32();
    if (count < 0)
        fail(Err::kSyntaxError);
    for (i32 i = 0; i < count; i++) {
        const DataPoolId name = readSymbol();
        entries.emplace_back(name, readInt32());
    }
    i32 sizes[3];   // parameters, variables (A), constants (B)
    for (i32& size : sizes) {
        size = readInt32();
        if (size < 0 || size > kMaxLayoutCount)
            fail(Err::kSyntaxError);
    }
    const DataPoolId name = readSymbol();
    const u32 flags = u16(readInt16());
    const i32 closingLine = readInt32();

    for (const auto& entry : entries) {
        const i32 index = entry.second & ~ScopeInfo::kSlotTagMask;
        i32 limit;
        switch (entry.second & ScopeInfo::kSlotTagMask) {
            case ScopeInfo::kParameterSlot: limit = sizes[0]; break;
            case ScopeInfo::kVariableSlot: limit = sizes[1]; break;
            case ScopeInfo::kConstantSlot: limit = sizes[2]; break;
            default: limit = 0; break;
        }
        if (index >= limit)
            fail(Err::kSyntaxError);
    }
    const FunctionFrame frame = functions.back();
    functions.pop_back();
    const bool topLevel = functions.empty() || (flags & kTopLevelFlag);
    if (topLevel ? (frame.highestSlot >= 0 || frame.specialSlot)
                 : frame.highestSlot >= sizes[0] + sizes[1] + sizes[2])
        fail(Err::kSyntaxError);

    ScopeInfo* info = new ScopeInfo;
    info->incRef();
    struct Release {
        ScopeInfo* info;
        ~Release() { info->decRef(); }
    } release{info};
    for (const auto& entry : entries)
        info->symbols.put(entry.first, reinterpret_cast<void*>(intptr_t(entry.second)));
    info->parameters = sizes[0];
    info->variables = sizes[1];
    info->constants = sizes[2];
    info->name = name;
    info->flags = (flags | kCompiledFlag) << 16;
    info->source = kCompiledSource;

    Own<jsOpFunction> body(new jsOpFunction(info, closingLine));
    body->setPosition(fileId, header.line);
    if (header.child)
        body->setChild(header.child.release());
    for (DataPoolId label : header.labels)
        body->addLabel(label);
    setCurrentStatements(outerStatements);
    return body.release();
}

jsOpcode* BinaryScriptReader::readStatements() {
    Own<jsOpStatements> list(new jsOpStatements);
    jsOpStatements* const outer = setCurrentStatements(list.get());
    const size_t mark = declarations.size();
    i32 count = readInt32();
    if (count < 0)
        fail(Err::kSyntaxError);
    for (i32 i = 0; i < count; i++) {
        // The builders own what they are given, even when they fail.
        if (jsOpFunction* function = readFunction())
            list->appendHoisted(function);
    }
    count = readInt32();
    if (count < 0)
        fail(Err::kSyntaxError);
    for (i32 i = 0; i < count; i++) {
        if (jsOpStatement* statement = readStatement())
            list->appendStatement(statement);
    }
    setCurrentStatements(outer);
    for (size_t d = mark; d < declarations.size(); d++)
        list->appendDeclaration(declarations[d]);
    declarations.resize(mark);
    return list.release();
}

jsOpcode* BinaryScriptReader::readSwitch() {
    Op discriminant(readRequired());
    std::vector<Own<jsOpList>> groups;
    i32 count = readInt32();
    if (count < 0)
        fail(Err::kSyntaxError);
    for (i32 i = 0; i < count; i++) {
        groups.emplace_back(readList());
        if (!groups.back())
            fail(Err::kSyntaxError);
    }
    count = readInt32();
    if (count != i32(groups.size()))
        fail(Err::kSyntaxError);
    std::vector<Own<jsOpStatement>> bodies;
    for (i32 i = 0; i < count; i++)
        bodies.emplace_back(readStatement());
    Own<jsOpSwitch> made(new jsOpSwitch(discriminant.get()));
    discriminant.release();
    for (size_t i = 0; i < groups.size(); i++)
        made->appendCase(groups[i].release(), bodies[i].release());
    return made.release();
}

// 'o': a count, then that many parts, each with its kind (0 markup, 1 in a
// tag, 2 an attribute value, 3 content).
jsOpcode* BinaryScriptReader::readXMLLiteral() {
    const i32 count = readInt32();
    if (count < 0)
        fail(Err::kSyntaxError);
    Own<jsOpXMLConstant> literal(new jsOpXMLConstant);
    for (i32 i = 0; i < count; i++) {
        Op part(readRequired());
        const i32 kind = readInt32();
        if (kind < 0 || kind > 3)
            fail(Err::kSyntaxError);
        literal->append(part.release(), kind);
    }
    return literal.release();
}

jsOpcode* BinaryScriptReader::readTry() {
    struct Clause {
        DataPoolId variable;
        Op guard;
        Own<jsOpStatement> body;
    };
    const i32 count = readInt32();
    if (count < 0)
        fail(Err::kSyntaxError);
    Own<jsOpStatement> finallyBlock(readStatement());
    std::vector<Clause> clauses;
    for (i32 i = 0; i < count; i++) {
        Clause clause;
        clause.variable = readSymbol();
        clause.guard.reset(readNode());
        clause.body.reset(readStatement());
        clauses.push_back(std::move(clause));
    }
    Own<jsOpTry> made(new jsOpTry(nullptr, finallyBlock.get()));
    finallyBlock.release();
    for (Clause& clause : clauses)
        made->appendCatch(clause.variable, clause.guard.release(), clause.body.release());
    return made.release();
}

// The fields after the letter (and after the statement header), in the
// order of the format's table.
jsOpcode* BinaryScriptReader::build(unit letter) {
    const bool flagged = version >= kFirstVersionWithFlags;
    switch (letter) {
        case 'A': {
            Own<jsOpList> elements(readList());
            return new jsOpArray(elements.release());
        }
        case 'B': {
            Own<jsOpVariable> target(readVariable());
            Op value(readNode());
            Variant constant;
            const bool hasConstant = readOptionalConstant(constant);
            const bool compound = readBool();
            if (!value && (compound || !hasConstant))
                fail(Err::kSyntaxError);
            return new jsOpAssign(target.release(), value.release(), hasConstant ? &constant : nullptr, compound);
        }
        case 'C':
        case 'U': {
            const i32 op = letter == 'C' ? readOperator(kBinaryOperators, countOf(kBinaryOperators),
                                                        jsOpBinary::mapStoredOperator)
                                         : readOperator(kLogicalOperators, countOf(kLogicalOperators), sameOperator);
            Op left(readNode());
            Op right(readNode());
            Variant leftConstant, rightConstant;
            const bool hasLeft = readOptionalConstant(leftConstant);
            const bool hasRight = readOptionalConstant(rightConstant);
            if (!right && !hasRight)
                fail(Err::kSyntaxError);
            const Variant* lc = hasLeft ? &leftConstant : nullptr;
            const Variant* rc = hasRight ? &rightConstant : nullptr;
            if (letter == 'C')
                return new jsOpBinary(op, left.release(), right.release(), lc, rc);
            return new jsOpLogAndOr(op, left.release(), right.release(), lc, rc);
        }
        case 'D': {
            const DataPoolId label = readSymbol();
            return new jsOpBreak(label, readBool());
        }
        case 'E': {
            Op callee(readRequired());
            Own<jsOpList> arguments(readList());
            const bool construct = readBool();
            return new jsOpCall(callee.release(), arguments.release(), construct);
        }
        case 'F': {
            Variant value;
            readConstant(value);
            return new jsOpConstant(value);
        }
        case 'G':
        case 'S': {
            const DataPoolId name = readSymbol();
            const i32 slot = readInt32();
            noteSlot(slot);
            Op value(readNode());
            Variant constant;
            const bool hasConstant = readOptionalConstant(constant);
            const bool compound = readBool();
            const bool discard = readBool();
            if (!value && ((compound && letter == 'S') || !hasConstant))
                fail(Err::kSyntaxError);
            const Variant* c = hasConstant ? &constant : nullptr;
            if (letter == 'G')
                return new jsOpConstAssign(slot, name, value.release(), c, discard);
            return new jsOpLocalAssign(slot, name, value.release(), c, compound, discard);
        }
        case 'H':
            return new jsOpDebugger;
        case 'I': {
            Op condition(readRequired());
            return new jsOpDo(condition.release(), nullptr);
        }
        case 'J': {
            Op expression(readRequired());
            return new jsOpExprStatement(expression.release());
        }
        case 'K': {
            Op init(readNode());
            Op condition(readNode());
            Op update(readNode());
            return new jsOpFor(init.release(), condition.release(), update.release(), nullptr);
        }
        case 'L': {
            Own<jsOpVariable> target(readVariable());
            Op object(readRequired());
            const i32 slot = readInt32();
            noteSlot(slot);
            const DataPoolId name = readSymbol();
            const bool each = flagged && readBool();
            return new jsOpForIn(target.release(), slot, name, object.release(), nullptr, each);
        }
        case 'N': {
            if (!currentStatements)
                fail(Err::kSyntaxError);
            Own<jsOpFunction> function(readFunction());
            if (!function)
                fail(Err::kSyntaxError);
            Own<jsOpFunctionDecl> declaration(new jsOpFunctionDecl(function.get()));
            function.release();
            declarations.push_back(declaration.get());
            return declaration.release();
        }
        case 'O': {
            Op condition(readRequired());
            Own<jsOpStatement> elseBranch(readStatement());
            return new jsOpIf(condition.release(), nullptr, elseBranch.release());
        }
        case 'P': {
            Own<jsOpVariable> target(readVariable());
            const i32 step = readInt16();
            const bool postfix = readBool();
            return new jsOpIncDec(target.release(), step, postfix);
        }
        case 'Q':
        case 'X':
        case 'V':
        case 'e':
        case 'j': {
            const DataPoolId name = readSymbol();
            const bool attribute = flagged && readBool();
            if (letter == 'j')
                return new jsOpName(name, attribute);
            if (letter == 'e')
                return new jsOpThis;
            if (letter == 'V') {
                const i32 slot = readInt32();
                noteSlot(slot);
                return new jsOpLocalVariable(slot, name);
            }
            Op object(readRequired());
            if (letter == 'X')
                return new jsOpProperty(object.release(), name, attribute);
            Op index(readRequired());
            return new jsOpIndex(object.release(), index.release(), attribute);
        }
        case 'R': {
            const i32 count = readInt32();
            if (count < 0)
                fail(Err::kSyntaxError);
            std::vector<Op> entries;
            for (i32 i = 0; i < count; i++)
                entries.emplace_back(readNode());
            Own<jsOpList> list(new jsOpList(readBool()));
            for (Op& entry : entries)
                list->append(entry.release());
            return list.release();
        }
        case 'T': {
            const DataPoolId name = readSymbol();
            const i32 slot = readInt32();
            noteSlot(slot);
            const f64 step = readNumber();
            return new jsOpLocalIncDec(slot, name, step, readBool());
        }
        case 'W': {
            Own<jsOpObject> object(new jsOpObject(readSymbol()));
            const i32 count = readInt32();
            if (count < 0)
                fail(Err::kSyntaxError);
            for (i32 i = 0; i < count; i++) {
                const DataPoolId name = readSymbol();
                object->append(name, readRequired());
            }
            return object.release();
        }
        case 'Y': {
            String pattern, flags;
            readString(pattern);
            readString(flags);
            return new jsOpRegExp(pattern, flags);
        }
        case 'Z': {
            Op value(readNode());
            return new jsOpReturn(value.release());
        }
        case 'a': {
            Own<jsOpVariable> counter(readVariable());
            const f64 start = readNumber();
            Op limit(readRequired());
            const f64 step = readNumber();
            const i32 slot = readInt32();
            noteSlot(slot);
            const i32 compare = readOperator(kComparisons, countOf(kComparisons), sameOperator);
            if ((!counter || !counter->asVariable()) && slot == -1)
                fail(Err::kSyntaxError);
            return new jsOpSimpleFor(counter.release(), slot, start, limit.release(), step, compare, nullptr);
        }
        case 'b':
            return readStatements();
        case 'c':
            return readSwitch();
        case 'd': {
            Op condition(readRequired());
            Op thenValue(readRequired());
            Op elseValue(readRequired());
            return new jsOpTernary(condition.release(), thenValue.release(), elseValue.release());
        }
        case 'f': {
            Op value(readRequired());
            return new jsOpThrow(value.release());
        }
        case 'g':
            return readTry();
        case 'h':
        case 'i': {
            const i32 op = letter == 'h'
                               ? readOperator(kUnaryOperators, countOf(kUnaryOperators), jsOpUnary::mapStoredOperator)
                               : readOperator(kReferenceOperators, countOf(kReferenceOperators),
                                              jsOpUnary::mapStoredOperator);
            Op operand(readRequired());
            if (letter == 'h')
                return new jsOpUnary(op, operand.release());
            if (!isVariableLetter(operand->letter()))
                fail(Err::kSyntaxError);
            return new jsOpUnaryRef(op, operand.release());
        }
        case 'k': {
            Op operand(readRequired());
            return new jsOpVoid(operand.release());
        }
        case 'l': {
            Op condition(readNode());
            return new jsOpWhile(condition.release(), nullptr);
        }
        case 'm': {
            Op object(readRequired());
            return new jsOpWith(object.release(), nullptr);
        }
        case 'o':
            return readXMLLiteral();
        case 'p': {
            const DataPoolId nsName = readSymbol();
            const bool attribute = flagged && readBool();
            Op object(readNode());
            Own<jsOpVariable> nsExpression(readVariable());
            Op localExpression(readNode());
            const DataPoolId localName = readSymbol();
            return new jsOpXMLQualifiedName(object.release(), nsName, nsExpression.release(), localExpression.release(),
                                            localName, attribute);
        }
        case 'q': {
            const DataPoolId name = readSymbol();
            const bool attribute = flagged && readBool();
            Op object(readRequired());
            Own<jsOpVariable> nameReference(readVariable());
            Op nameExpression(readNode());
            return new jsOpXMLDescendants(object.release(), nameReference.release(), nameExpression.release(), name,
                                          attribute);
        }
        case 'r': {
            readSymbol();
            if (flagged)
                readBool();
            Op object(readRequired());
            Op predicate(readRequired());
            return new jsOpXMLPredicate(object.release(), predicate.release());
        }
        case 's': {
            const i32 op = readOperator(kUnaryOperators, countOf(kUnaryOperators), jsOpUnary::mapStoredOperator);
            Op operand(readRequired());
            return new jsOpXMLUnaryRef(op, operand.release());
        }
        default:
            fail(Err::kSyntaxError);
    }
}

}  // namespace LxScript
