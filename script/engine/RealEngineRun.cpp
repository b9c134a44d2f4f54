// The road from source text to a run result: guarded entries, compile,
// eval, execute, the run core, evaluation in a stopped frame, deadlines,
// halting and the status checks the operation tree makes.
#include <algorithm>
#include <cstdint>
#include <new>
#include <stdexcept>

#include "core/Clock.h"
#include "core/ErrorCodes.h"
#include "core/Localizer.h"
#include "core/ThreadData.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/engine/TVContext.h"
#include "script/engine/Workspace.h"
#include "script/engine/XMLSettings.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {

constexpr u32 kTickMs = 50;
constexpr u32 kFlagToPrimitive = 0x1 | 0x2;
constexpr u32 kFlagStringHint = 0x1;
constexpr u32 kFlagGlobalScope = 0x10;
constexpr u32 kFlagErrorResult = 0x40;
constexpr u32 kFlagDeclareOnly = 0x80;
constexpr u32 kFlagConstruct = 0x100;

constexpr i32 kNotifyStart = i32(LxCore::fourCharCode("star"));
constexpr i32 kNotifyStop = i32(LxCore::fourCharCode("stop"));
constexpr i32 kNotifyAccess = i32(LxCore::fourCharCode("accs"));

}  // namespace

Workspace* RealEngine::getGlobal() const { return static_cast<Workspace*>(getGlobalObject()); }

// ---------------------------------------------------------------------------
// Guarded entries

void RealEngine::enterRun(EntryState& entry, i32 timeoutMs) {
    LxCore::ThreadData* record = LxCore::ThreadData::get();
    entry.previousEngine = record->engine;
    record->engine = this;
    TVContext& context = TVContext::get();
    entry.previousLimit = context.getStackLimit();
    if (entry.previousLimit == 0)
        setStackLimit();
    entry.previousLocalizer = LxCore::Localizer::getCurrent();
    if (LxCore::Localizer* own = getLocalizer())
        LxCore::Localizer::setCurrent(own);
    entry.outermost = currentFrame == nullptr;
    if (entry.outermost && timeoutMs == 0)
        timeoutMs = i32(defaultTimeout);
    if (entry.outermost)
        entry.previousXMLNamespace = defaultXMLNamespaceOf(*this);
    entry.previousDeadline = deadline;
    deadline = timeoutMs > 0 ? LxCore::getTicks() + u32(timeoutMs) / kTickMs : 0;
    entry.entered = true;
}

void RealEngine::leaveRun(EntryState& entry) {
    if (!entry.entered)
        return;
    entry.entered = false;
    deadline = entry.previousDeadline;
    LxCore::Localizer::setCurrent(entry.previousLocalizer);
    if (entry.outermost)
        restoreDefaultXMLNamespace(*this, entry.previousXMLNamespace);
    TVContext::get().setStackLimit(entry.previousLimit);
    if (LxCore::ThreadData* record = LxCore::ThreadData::find())
        record->engine = entry.previousEngine;
}

// Native exceptions become engine errors at every entry.
void RealEngine::mapException() {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        try {
            collectGarbage();
        } catch (...) {
        }
        setError(Err::kOutOfMemory);
    } catch (const std::exception& e) {
        setError(Err::kUncaughtException, String(e.what()), -1, false);
    } catch (...) {
        setError(Err::kUncaughtException, String("Unknown"), -1, false);
    }
}

void RealEngine::notifyAccess(bool enter) {
    if (enter) {
        if (accessNesting++ == 0 && !currentFrame)
            if (Callback* callback = getCallback())
                callback->engineNotify(*this, kNotifyAccess, 1);
        return;
    }
    if (accessNesting > 0 && --accessNesting == 0 && !currentFrame)
        if (Callback* callback = getCallback())
            callback->engineNotify(*this, kNotifyAccess, 0);
}

// ---------------------------------------------------------------------------
// Compile, eval, execute

Script* RealEngine::compile(const String& source, const String* name) {
    if (destroying)
        return nullptr;
    try {
        prepareToCompile();
        Script* script = compileSource(source, name, nullptr);
        if (!script) {
            // A failed compile always leaves an error behind.
            if (getError().getCode() == 0)
                setError(Err::kOutOfMemory);
            pendingCode = getError().getCode();
        }
        return script;
    } catch (...) {
        mapException();
        return nullptr;
    }
}

bool RealEngine::eval(const String& source, Variant* result, i32 timeout, i32 flags, Variant* scope,
                      const String* name) {
    if (destroying)
        return false;
    try {
        ensureInitialized();
    } catch (...) {
        mapException();
        return false;
    }
    if (result)
        result->clear();
    if (source.isEmpty())
        return true;
    Script* script = compile(source, name);
    if (!script)
        return false;
    const bool ok = execute(script, result, timeout, flags, scope);
    script->release();
    return ok;
}

bool RealEngine::execute(Script* script, Variant* result, i32 timeout, i32 flags, Variant* scope) {
    if (destroying || !script)
        return false;
    Variant scratch;
    Variant& out = result ? *result : scratch;
    EntryState entry;
    try {
        ensureInitialized();
        out.clear();
        enterRun(entry, timeout < 0 ? 0 : timeout);
        Object* thisObject = valueConversionObject   ? valueConversionObject
                             : currentFrame          ? currentFrame->thisObject
                                                     : getGlobal();
        if (scope) {
            importValue(*scope, true);
            thisObject = objectOf(*scope);
            if (!thisObject) {
                setError(Err::kNotAnObject, scope->toString(), -1, false);
                leaveRun(entry);
                return false;
            }
        }
        Variant function;
        newFunctionObject(function, script, (u32(flags) & kFlagGlobalScope) != 0);
        LxCore::Array none;
        runScript((u32(flags) & kFlagDeclareOnly) ? 'L' : 'C', objectOf(function), thisObject, none, &out,
                  u32(flags));
    } catch (...) {
        mapException();
    }
    leaveRun(entry);
    return pendingCode == 0;
}

// ---------------------------------------------------------------------------
// The run core

namespace {

// A value stored in an error must outlive the engine's objects: its text.
void detachErrorValues(LxCore::Error& list) {
    list.detach();
    for (auto* record = const_cast<LxCore::ErrorRecord*>(list.getRecord()); record; record = record->next) {
        if (!record->data)
            continue;
        if (objectOf(*record->data))
            record->data->setString(record->data->toString());
    }
}

}  // namespace

void RealEngine::runScript(char mode, Object* function, Object* thisObject, LxCore::BasicArray& args,
                           Variant* result, u32 flags) {
    if (destroying)
        return;
    Variant scratch;
    Variant& out = result ? *result : scratch;
    if (mode != 'P')
        out.clear();
    if (globalPending)
        ensureInitialized();
    if (!isInitialized()) {
        setError(Err::kText, String("Engine not initialized"), -1, false);
        return;
    }
    LxCore::Array imported;
    const LxCore::BasicArray* arguments = &args;
    if (mode == 'C') {
        for (u32 i = 0; i < args.length(); i++) {
            Variant& slot = imported.getOrCreate(i);
            if (const Variant* value = args.get(i))
                slot = *value;
            importValue(slot, true);
        }
        arguments = &imported;
    }
    const i64 nested = currentFrame ? 1 : 0;
    Callback* callback = getCallback();
    if (callback)
        callback->engineNotify(*this, kNotifyStart, nested);
    ObjectRef heldFunction(function);
    ObjectRef heldThis(thisObject);
    if (pendingCode == 0 && function) {
        switch (mode) {
            case 'C':
                if (flags & kFlagConstruct)
                    newObject(out, function->getClassID(), arguments, function);
                else
                    function->call(thisObject, *arguments, out);
                break;
            case 'G':
                function->get(DataPool::get().add((*arguments)[0]), out, 0);
                break;
            case 'L':
                function->declareFunctions(thisObject);
                break;
            case 'P':
                function->put(DataPool::get().add((*arguments)[0]), out, 0);
                break;
            default:
                break;
        }
    }
    if (pendingCode != 0) {
        out.clear();
    } else if (Object* object = objectOf(out)) {
        if (flags)
            importValue(out, true);
        if (flags & kFlagToPrimitive) {
            ObjectRef held(object);
            Object* saved = valueConversionObject;
            valueConversionObject = object;
            Variant primitive;
            const bool ok = object->getDefaultValue(primitive, (flags & kFlagStringHint) ? 1 : 0);
            valueConversionObject = saved;
            if (ok && !objectOf(primitive)) {
                out = primitive;
            } else if (pendingCode == 0) {
                String name;
                object->getClassName(name);
                setError(Err::kNoValue, name, -1, false);
            }
        }
    }
    if (mode == 'C' && getProfilingLevel() != 0)
        profileRunEnd();
    if (callback)
        callback->engineNotify(*this, kNotifyStop, nested);
    if (pendingCode != 0 && (flags & kFlagErrorResult)) {
        if (flags & kFlagStringHint) {
            String text;
            getError().getMessage(text);
            out.setString(text);
        } else {
            makeErrorObject(out);
        }
    }
    if (pendingCode != 0 && !currentFrame) {
        LxCore::Error list = getError();
        detachErrorValues(list);
        Engine::restoreError(list);
    }
}

// ---------------------------------------------------------------------------
// Evaluation in a stopped frame

i32 RealEngine::evalInFrame(Object* frameObject, const String& source, Variant* result) {
    Variant scratch;
    Variant& out = result ? *result : scratch;
    const LxCore::Error kept = getError();
    clearError();
    try {
        Script* script = compileSource(source, nullptr, nullptr);
        if (!script) {
            makeErrorObject(out);
        } else {
            Variant function;
            newFunctionObject(function, script, false);
            script->release();
            const u32 savedFlags = getDebugFlags();
            const i32 savedDebug = getDebugLevel();
            const i32 savedProfiling = getProfilingLevel();
            setDebugLevel(0);
            setProfilingLevel(0);
            // The outer run's clock is paused while it is stopped: this
            // evaluation keeps a deadline of its own and its own pause count.
            const u32 savedPauseCount = pauseNesting;
            const u32 savedPauseStart = pauseStart;
            pauseNesting = 0;
            pauseStart = 0;
            EntryState entry;
            enterRun(entry, frameEvalTimeout);
            LxCore::Array none;
            try {
                runScript('C', objectOf(function), frameObject, none, &out, kFlagErrorResult);
            } catch (...) {
                mapException();
            }
            leaveRun(entry);
            pauseNesting = savedPauseCount;
            pauseStart = savedPauseStart;
            setDebugFlags(savedFlags);
            setDebugLevel(savedDebug);
            setProfilingLevel(savedProfiling);
        }
    } catch (...) {
        mapException();
    }
    const i32 code = pendingCode;
    restoreError(kept);
    return code;
}

// ---------------------------------------------------------------------------
// Halting, deadlines and status checks

void RealEngine::halt() {
    clearTasks();
    if (!currentFrame)
        return;
    setError(Err::kExecutionHalted);
    if (stoppedInDebugger) {
        clearStepFlags();       // as the debugger's own halt
        resumeDebugger();
    }
}

i32 RealEngine::setTimeout(i32 ms) {
    const i32 previous = i32(defaultTimeout);
    defaultTimeout = u32(ms > 0 ? ms : 0);
    return previous;
}

void RealEngine::pauseTimeout(bool pause) {
    if (pause) {
        if (pauseNesting++ == 0)
            pauseStart = LxCore::getTicks();
        return;
    }
    if (pauseNesting == 0 || --pauseNesting != 0)
        return;
    if (deadline)
        deadline += LxCore::getTicks() - pauseStart;
    pauseStart = 0;
    renewProfilingStamp();
}

void RealEngine::periodicCheck(u32 now) {
    if (now - lastCheckTick > 1) {
        lastCheckTick = now;
        if (!stoppedInDebugger)
            if (Callback* callback = getCallback())
                callback->running(*this);
        if (Debugger* hook = getDebugger()) {
            LxCore::LockableGuard guard(*hook);
            hook->poll(*this);
        }
    }
    if (pauseNesting == 0 && deadline != 0 && i32(now - deadline) >= 0) {
        deadline = 0;
        setError(Err::kEngineTimeout);
    }
}

void RealEngine::statusCheckDue() {
    statusChecks += statusReload;
    statusReload = kStatusCheckInterval;
    statusCountdown = kStatusCheckInterval;
    periodicCheck(LxCore::getTicks());
}

bool RealEngine::pollWorkNow() {
    workUnits += u64(i64(LxCore::kWorkPollUnits) - workCountdown);
    workCountdown = i32(LxCore::kWorkPollUnits);
    if (deadline != 0 || getCallback() || getDebugger())
        periodicCheck(LxCore::getTicks());
    return pendingCode == 0;
}

i32 RealEngine::timeoutWithinRun(i32 ownMs) const {
    if (!currentFrame || deadline == 0)
        return ownMs;
    // A deadline already reached is the current tick's, seen at the next check.
    const i64 leftTicks = i32(deadline - LxCore::getTicks());
    const i64 leftMs = leftTicks <= 0 ? 1 : std::min<i64>(leftTicks * kTickMs, INT32_MAX);
    return ownMs > 0 && ownMs < leftMs ? ownMs : i32(leftMs);
}

bool RealEngine::checkTimeoutNow() {
    if (currentFrame) {
        lastCheckTick = 0;
        periodicCheck(LxCore::getTicks());
    }
    return pendingCode == 0;
}

}  // namespace LxScript
