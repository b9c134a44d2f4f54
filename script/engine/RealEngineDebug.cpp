// The engine's debugging and profiling state: stopping in the debugger
// hook (with conditions), breakpoints, profiler records, the scope of the
// frame the debugger selected, and the $.write trace. None of it costs
// anything while the debug and profiling levels are 0: the runner calls in
// only when they are not.
#include <climits>

#include "core/Clock.h"
#include "script/engine/LibraryHooks.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;

// A stop in the debugger hook: the deadline clock is paused while it holds.
// The condition is evaluated from a copy: its script may reach the hook's
// poll, which may replace the breakpoint list the text came from. Its
// errors (a syntax error too) do not break in: they only mean "no stop".
void RealEngine::enterDebugger(const String& condition) {
    if (!debugger || stoppedInDebugger || !currentFrame || currentFrame->isCompiled())
        return;
    if (!condition.isEmpty()) {
        const String text = condition;
        Variant value;
        const ErrorHookQuiet quiet(*this);
        if (evalInFrame(currentFrame->thisObject, text, &value) != 0 || !value.toBoolean())
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

// The scope of the frame the debugger selected.
Workspace* RealEngine::getFrameScope() {
    auto* debug = static_cast<API*>(apis.get(API::kDebug));
    if (!stoppedInDebugger || !currentFrame || !debug)
        return nullptr;
    return libraryHooks().debuggerFrameScope(*debug);
}

// The DebugAPI's resume: the hook's break operation returns.
void RealEngine::resumeDebugger() { stoppedInDebugger = 0; }

void RealEngine::clearStepFlags() {
    for (RuntimeEnv* frame = currentFrame; frame; frame = frame->previous)
        frame->stepFlags = 0;
}

// Only the concrete engine hands out a DebugAPI under 'debg'; without one
// the stop happens all the same, with no record to read.
void RealEngine::watchpointHit(Property& slot) {
    auto* debug = static_cast<API*>(apis.get(API::kDebug));
    Property* previous = debug ? libraryHooks().swapWatchpoint(*debug, &slot) : nullptr;
    struct Restore {
        API* debug;
        Property* previous;
        ~Restore() {
            if (debug)
                libraryHooks().swapWatchpoint(*debug, previous);
        }
    } restore{debug, previous};
    enterDebugger(String());
}

namespace {

u64 placeKey(u32 file, i32 line) { return (u64(file) << 32) | u32(line); }

ProfilerData* freeChain(ProfilerData* chain) {
    while (ProfilerData* r = chain) {
        chain = r->next;
        delete r;
    }
    return nullptr;
}

}  // namespace

// ---------------------------------------------------------------------------
// Breakpoints

BreakpointInfo* RealEngine::findBreakpoint(u32 file, i32 line) {
    auto found = breakpointIndex.find(placeKey(file, line));
    return found == breakpointIndex.end() ? nullptr : &breakpoints[found->second];
}

void RealEngine::getBreakpoints(LxCore::TSimpleArray<BreakpointInfo>& out) const {
    for (const BreakpointInfo& b : breakpoints)
        out.add(new BreakpointInfo(b));
}

void RealEngine::setBreakpoints(const LxCore::TSimpleArray<BreakpointInfo>* list) {
    std::vector<BreakpointInfo> fresh;
    std::unordered_map<u64, u32> index;
    for (i32 i = 0; list && i < list->getCount(); i++) {
        const BreakpointInfo* entry = list->get(i);
        if (!entry)
            continue;
        fresh.push_back(*entry);
        BreakpointInfo& copy = fresh.back();
        if (copy.count < 0) {
            const BreakpointInfo* old = findBreakpoint(u32(copy.file), copy.line);
            copy.count = old ? old->count : 0;
        }
        index.emplace(placeKey(u32(copy.file), copy.line), u32(fresh.size() - 1));
    }
    breakpoints.swap(fresh);
    breakpointIndex.swap(index);
}

// A breakpoint counts its hit and stops when enabled at its threshold; a
// requested step stops too, still under the breakpoint's condition.
void RealEngine::reachLine(RuntimeEnv&, DataPoolId file, i32 line, bool stopRequested) {
    BreakpointInfo* b = breakpoints.empty() ? nullptr : findBreakpoint(file, line);
    if (!b) {
        if (stopRequested)
            enterDebugger(String());
        return;
    }
    if (b->count < INT_MAX)
        b->count++;
    if ((b->enabled && b->count >= b->hits) || stopRequested) {
        const String condition = b->condition;      // the hook may replace the list
        enterDebugger(condition);
    }
}

// ---------------------------------------------------------------------------
// Profiler records: a chain newest first, indexed by (file, line) so that
// the per-line levels find theirs at once.

ProfilerData* RealEngine::findProfilerRecord(i32 file, i32 line, i32 function) {
    const u64 key = placeKey(u32(file), line);
    auto found = profilerIndex.find(key);
    if (found != profilerIndex.end())
        return found->second;
    auto* record = new ProfilerData;
    record->file = file;
    record->line = line;
    record->function = function;
    try {
        profilerIndex.emplace(key, record);
    } catch (...) {
        delete record;
        throw;
    }
    record->next = profilerChain;
    profilerChain = record;
    return record;
}

void RealEngine::chargeProfilerRecord(ProfilerData* next) {
    const u64 now = u64(LxCore::getMicroseconds());
    if (lastTimeStamp && chargedRecord)
        chargedRecord->time += now - lastTimeStamp;
    lastTimeStamp = now;
    chargedRecord = next;
}

// Running frames forget their records: a pop writes to none of the freed.
void RealEngine::clearProfilerData() {
    profilerIndex.clear();
    profilerChain = freeChain(profilerChain);
    for (RuntimeEnv* frame = currentFrame; frame; frame = frame->previous)
        if (auto* runner = dynamic_cast<jsRunner*>(frame))
            runner->profiler = nullptr;
    chargedRecord = nullptr;
    lastTimeStamp = 0;
}

void RealEngine::clearDebugState() {
    breakpoints.clear();
    breakpointIndex.clear();
    clearProfilerData();
}

void RealEngine::profileEnter(jsRunner& runner) {
    const ScopeInfo* info = runner.getScopeInfo();
    const i32 level = getProfilingLevel();
    ProfilerData* record =
        findProfilerRecord(info ? i32(info->file) : 0, info ? info->line : 0, info ? i32(info->name) : 0);
    runner.profiler = record;
    if (level <= 2 && record->hits < INT_MAX)
        record->hits++;
    if (level == 2)
        runner.startStamp = u64(LxCore::getMicroseconds());
}

void RealEngine::profileLeave(jsRunner& runner) {
    ProfilerData* record = runner.profiler;
    const i32 level = getProfilingLevel();
    if (level == 2)
        record->time += u64(LxCore::getMicroseconds()) - runner.startStamp;
    else if (level == 4)
        chargeProfilerRecord(record);
    if (record->hits == 0)
        record->hits = 1;
    runner.profiler = nullptr;
}

void RealEngine::profileLine(jsRunner& runner, DataPoolId file, i32 line) {
    DataPoolId function = 0;
    if (jsFunction* f = runner.function)
        function = f->getNameID() ? f->getNameID() : f->getClassID();
    ProfilerData* record = findProfilerRecord(i32(file), line, i32(function));
    if (record->hits < INT_MAX)
        record->hits++;
    if (getProfilingLevel() == 4)
        chargeProfilerRecord(record);
}

// The end of an outermost call: the time since the last stamp goes to the
// current record.
void RealEngine::profileRunEnd() {
    if (!currentFrame && chargedRecord)
        chargeProfilerRecord(chargedRecord);
}

// After a pause (a stop in the debugger): time stopped is charged to nobody.
void RealEngine::renewProfilingStamp() {
    if (lastTimeStamp)
        lastTimeStamp = u64(LxCore::getMicroseconds());
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

}  // namespace LxScript
