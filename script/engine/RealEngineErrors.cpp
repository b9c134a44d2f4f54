// Engine errors: the pending code every run loop tests, the error marker of
// the current frame, the runtime-error hook, and the conversion of the
// current error into a script Error object.
#include "core/ErrorCodes.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr u32 kQuietInTryFlag = 0x400;

}  // namespace

void RealEngine::clearError() {
    Engine::clearError();
    pendingCode = 0;
    if (currentFrame)
        currentFrame->errorMarker = 0;
}

void RealEngine::restoreError(const LxCore::Error& saved) {
    Engine::restoreError(saved);
    pendingCode = saved.getCode();
    if (currentFrame)
        currentFrame->errorMarker = pendingCode > 0 ? u32(Sym::kError) : 0;
}

void RealEngine::onRuntimeError() {
    pendingCode = getErrorCode();
    if (hookSuppression != 0)
        return;
    if (currentFrame)
        currentFrame->errorMarker = u32(Sym::kError);
    const bool quiet = (getEffectiveDebugFlags() & kQuietInTryFlag) && pendingCode > 0 && tryDepth >= 1;
    if (!stoppedInDebugger && currentFrame) {
        if (Callback* callback = getCallback()) {
            // The host may run script before it reads the error.
            settleThrownWhere();
            callback->runtimeError(*this);
            pendingCode = getErrorCode();
        }
    }
    if (!quiet && getDebugger() && getDebugLevel() != 0 && pendingCode != Err::kExecutionHalted && pendingCode != 0) {
        settleThrownWhere();
        enterDebugger(String());
    }
}

// The class of the oldest record's number ("Error" when it has none), made
// through its global constructor, which reads the current error.
void RealEngine::makeErrorObject(Variant& result) {
    i32 code = Err::kText;
    for (const LxCore::ErrorRecord* record = getError().getRecord(); record; record = record->next)
        code = record->code;
    String message;
    String className;
    if (!LxCore::Error::getInfo(code, message, className) || className.isEmpty())
        className = "Error";
    const DataPoolId classSymbol = DataPool::get().add(className.chars());
    Object* constructor = nullptr;
    Variant value;
    if (Object* global = getGlobal()) {
        global->get(classSymbol, value, 0);
        constructor = objectOf(value);
    }
    LxCore::Array none;
    newObject(result, classSymbol, &none, constructor);
}

void RealEngine::adoptError(const LxCore::Error& list, i32 code, const String& text) {
    if (list.getCode() != 0)
        setError(list);
    else
        setError(code, text, -1, false);
}

void RealEngine::adoptErrorForSymbol(const LxCore::Error& list, i32 code, DataPoolId symbol) {
    adoptError(list, code, DataPool::get().getSymbol(symbol));
}

bool RealEngine::attachErrorValue(const Variant& value) {
    LxCore::Error list = getError();
    if (list.isEmpty())
        return false;
    list.detach();
    LxCore::ErrorRecord* record = list.editRecord();
    if (!record)
        return false;
    *record->getData() = value;
    Engine::restoreError(list);
    return true;
}

// Frames as error reports see them, innermost first.
bool RealEngine::getFrameInfo(i32 depth, FrameInfo& out) const {
    const RuntimeEnv* frame = currentFrame;
    for (i32 i = 0; frame && i < depth; i++)
        frame = frame->previous;
    if (!frame || depth < 0)
        return false;
    out.line = frame->line;
    const ScopeInfo* info = frame->getScopeInfo();
    out.source = info ? info->source : String();
    // The file of the running statement: an included file has its own.
    Script* script = frame->function ? frame->function->getScript() : nullptr;
    if (frame->fileId) {
        // Errors raised in a loop ask for the same file's name again and again.
        if (frame->fileId != lastFileId) {
            lastFileName = DataPool::get().getSymbol(frame->fileId);
            lastFileId = frame->fileId;
        }
        out.scriptName = lastFileName;
    }
    else
        out.scriptName = script ? script->getName() : String();
    return true;
}

}  // namespace LxScript
