// The operation base, statements, break and continue, and the line hook.
#include "script/engine/ops/Opcode.h"

#include "script/engine/CompiledScript.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;

void jsOpcode::write(CompiledScriptWriter& writer) const {
    if (const char c = letter()) {
        writer.putChar(c);
        writeOperands(writer);
    }
}

String jsOpcode::sourceText() const {
    String out;
    appendSource(out);
    return out;
}

Truth jsOpcode::test(jsRunner& runner) {
    Variant value;
    const Status status = execute(runner, value);
    return {status, status == kStatusOK && truthOf(value)};
}

// ---------------------------------------------------------------------------
// Statements

jsOpStatement::~jsOpStatement() {
    delete child;
    delete labels;
}

void jsOpStatement::writeOperands(CompiledScriptWriter& writer) const {
    writer.writeInteger(line);
    writer.writeNode(child);
    const i32 count = getLabelCount();
    writer.writeInteger(count);
    for (i32 i = 0; i < count; i++)
        writer.writeSymbol(getLabel(i));
}

bool jsOpStatement::isBreakTarget(DataPoolId label, bool) const {
    return label != 0 && hasLabel(label);
}

i32 jsOpStatement::declareFunctions(Script* script, Object* receiver, bool deletable) {
    return child ? child->declareFunctions(script, receiver, deletable) : 0;
}

jsOpStatement* jsOpStatement::findStatement(i32 wanted) {
    if (wanted < 0 ? line >= 0 : line == wanted)
        return this;
    return child ? child->findStatement(wanted) : nullptr;
}

void jsOpStatement::setChild(jsOpStatement* statement) {
    delete child;
    child = statement;
    if (child)
        child->parent = this;
}

jsOpStatement* jsOpStatement::takeChild() {
    jsOpStatement* taken = child;
    child = nullptr;
    return taken;
}

void jsOpStatement::addLabel(DataPoolId label) {
    if (!labels)
        labels = new LxCore::SimpleArray;
    labels->add(LxCore::SimpleArray::Value(label));
}

bool jsOpStatement::hasLabel(DataPoolId label) const {
    return labels && labels->find(LxCore::SimpleArray::Value(label)) >= 0;
}

void jsOpStatement::settleLabel(jsRunner& runner) const { runner.takeCompletion(this); }

bool jsOpBreakable::isBreakTarget(DataPoolId label, bool isBreak) const {
    if (label)
        return hasLabel(label);
    return isBreak || isLoop();
}

// ---------------------------------------------------------------------------
// break and continue

Status jsOpBreak::execute(jsRunner& runner, Variant&) {
    if (!prologue(runner))
        return kStatusError;
    const jsOpStatement* target = nullptr;
    for (jsOpStatement* s = parent; s && !s->asFunctionBody(); s = s->getParent()) {
        if (s->isBreakTarget(label, isBreak)) {
            target = s;
            break;
        }
    }
    // Without a target everything up to the function body stops; the body
    // clears what is left.
    runner.setCompletion(isBreak ? jsRunner::kBreak : jsRunner::kContinue, target);
    return kStatusOK;
}

void jsOpBreak::writeOperands(CompiledScriptWriter& writer) const {
    jsOpStatement::writeOperands(writer);
    writer.writeSymbol(label);
    writer.writeBool(isBreak);
}

// ---------------------------------------------------------------------------
// The line hook

namespace {

// Line `line` (0-based) of text: from after the line-th line feed to the
// next one; empty past the end.
String sourceLine(const String& text, i32 line) {
    i32 start = 0;
    for (i32 n = 0; n < line; n++) {
        const i32 feed = text.find(LxCore::unit('\n'), start);
        if (feed < 0)
            return String();
        start = feed + 1;
    }
    const i32 end = text.find(LxCore::unit('\n'), start);
    return text.substr(start, end < 0 ? -1 : end - start);
}

void traceLine(jsRunner& runner, i32 line) {
    ScopeInfo* info = runner.getScopeInfo();
    const String text = sourceLine(info ? info->source : String(), line);
    String formatted;
    formatted.sprintf("%3d %ls", line, text.chars());
    writeTraceLine(runner, formatted);
}

}  // namespace

bool hookedLine(jsRunner& runner, DataPoolId script, i32 line) {
    runner.fileId = script;
    runner.line = line;
    RealEngine& engine = *runner.engine;
    if (engine.getProfilingLevel() >= RealEngine::kLineProfilingLevel)
        engine.profileLine(runner, script, line);
    if (engine.getRunFlags() & RealEngine::kTraceFlag)
        traceLine(runner, line);
    runner.setLine(script, line);
    return !runner.errorPending();
}

}  // namespace LxScript
