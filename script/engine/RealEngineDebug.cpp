// What the runner asks of the engine's debugging and profiling state, in
// the plainest form that keeps runs correct: stopping in the debugger hook,
// the step request at a line, and the $.write trace. Breakpoints and
// profiler records belong to the debug-state work, which replaces the
// bodies marked below.
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"

namespace LxScript {

using LxCore::String;

// A stop in the debugger hook: the deadline clock is paused while it holds.
void RealEngine::enterDebugger(const String& condition) {
    if (!debugger || stoppedInDebugger || !currentFrame || currentFrame->isCompiled())
        return;
    if (!condition.isEmpty()) {
        Variant value;
        if (evalInFrame(currentFrame->thisObject, condition, &value) != 0 || !value.toBoolean())
            return;
    }
    pauseTimeout(true);
    struct Resume {
        RealEngine& engine;
        ~Resume() {
            engine.stoppedInDebugger = 0;
            engine.pauseTimeout(false);
        }
    } resume{*this};
    LxCore::LockableGuard guard(*debugger);
    stoppedInDebugger = 1;
    debuggerEntered = 1;
    Callback* callback = getCallback();
    if (callback)
        callback->enterDebugMode(*this);
    debugger->breakExecution(*this);
    if (callback) {
        const bool stepping =
            currentFrame->stepFlags != 0 || (currentFrame->previous && currentFrame->previous->stepFlags != 0);
        callback->leaveDebugMode(*this, stepping);
    }
}

// The scope of the frame the debugger selected: the current one here.
Workspace* RealEngine::getFrameScope() {
    if (!stoppedInDebugger || !currentFrame)
        return nullptr;
    return currentFrame->scope;
}

// Debug-state work: the DebugAPI's resume command.
void RealEngine::resumeDebugger() {}

// Debug-state work: breakpoints at (file, line); here only step requests.
void RealEngine::reachLine(RuntimeEnv&, DataPoolId, i32, bool stopRequested) {
    if (stopRequested)
        enterDebugger(String());
}

// Debug-state work: profiler records per activation and per line.
void RealEngine::profileEnter(jsRunner&) {}
void RealEngine::profileLeave(jsRunner&) {}
void RealEngine::profileLine(jsRunner&, DataPoolId, i32) {}
void RealEngine::profileRunEnd() {}
void RealEngine::renewProfilingStamp() {}

void RealEngine::clearTasks() {
    tasks.releaseAll();
    tasks.setCount(0);
}

// $.write(line); nothing when "$" or its write is missing.
void RealEngine::writeTrace(const String& line) {
    Object* global = getGlobalObject();
    if (!global)
        return;
    Variant dollar;
    global->get(DataPool::get().add("$"), dollar, 0);
    Object* object = objectOf(dollar);
    if (!object)
        return;
    Variant write;
    object->get(DataPool::get().add("write"), write, kFindCallable);
    Object* function = objectOf(write);
    if (!function)
        return;
    ObjectRef held(function);
    LxCore::Array args;
    args.getOrCreate(0).setString(line);
    Variant ignored;
    function->call(object, args, ignored);
}

// ---------------------------------------------------------------------------
// Value services the operation tree needs first

void RealEngine::newPlainObject(Variant& result, i32 classSymbol) {
    Object* constructor = nullptr;
    Variant value;
    if (classSymbol != Sym::kObject)
        if (Object* global = getGlobalObject()) {
            global->get(classSymbol, value, 0);
            constructor = objectOf(value);
        }
    newInstance(result, classSymbol, constructor);
}

void RealEngine::newObjectRef(Object*& holder, i32 classSymbol) {
    spare.clear();
    Variant made;
    newPlainObject(made, classSymbol);
    holder = objectOf(made);
    if (holder)
        holder->addRef();
}

}  // namespace LxScript
