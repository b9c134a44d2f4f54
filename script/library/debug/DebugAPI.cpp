#include "script/library/debug/DebugAPI.h"

#include <vector>

#include "core/ErrorCodes.h"
#include "core/LiveObject.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Script.h"
#include "script/engine/Workspace.h"
#include "script/frontend/Node.h"

namespace LxScript {

using LxCore::String;
using LxCore::u32;
namespace Err = LxCore::Err;

namespace {

// getProperties: bits the caller cannot ask for, and the one always set.
constexpr u32 kFilterCleared = 0x00FE0000;
constexpr u32 kFilterAlways = 0x10000;
constexpr u32 kOwnObjectOnly = 0x4000000;
constexpr u32 kLeaveOutBuiltIns = 0x2000000;
constexpr u32 kListedSlots = 0xE8010000;     // methods, read-only, writable, don't-enumerate
// Prototype chains are acyclic, but a walk is bounded all the same.
constexpr i32 kMaxPrototypeWalk = 100000;
constexpr u32 kLookupOwnFirst = 64;

// The step flags a command gives the innermost frame.
constexpr u16 kStopAtNextLine = 0x2;
constexpr u16 kStepOverFlags = 0x6;

bool profilerLess(const ProfilerData& a, const ProfilerData& b) {
    if (a.file != b.file)
        return a.file < b.file;
    if (a.function != b.function)
        return a.function < b.function;
    return a.line < b.line;
}

}  // namespace

DebugAPI::DebugAPI(RealEngine& engine) : API(engine, API::kDebug), real(engine) {}

DebugAPI::QuietReading::QuietReading(RealEngine& engine) : engine(engine), kept(engine.getError()), quiet(engine) {
    engine.clearError();
}

DebugAPI::QuietReading::~QuietReading() { engine.restoreError(kept); }

void DebugAPI::debugBreak(const String& condition) const {
    if (real.getDebugLevel() != 0)
        real.enterDebugger(condition);
}

RuntimeEnv* DebugAPI::frameAt(i32 level) const {
    RuntimeEnv* frame = real.getCurrentFrame();
    for (i32 i = 0; frame && frame->previous && i < level; i++)
        frame = frame->previous;
    return frame;
}

i32 DebugAPI::getStackDepth() const {
    const RuntimeEnv* frame = real.getCurrentFrame();
    return frame ? frame->depth() : 0;
}

i32 DebugAPI::getSourceFileID() const {
    const RuntimeEnv* frame = frameAt(contextLevel);
    return frame ? frame->fileId : 0;
}

i32 DebugAPI::getSourceLine() const {
    const RuntimeEnv* frame = frameAt(contextLevel);
    return frame ? frame->line : -1;
}

String DebugAPI::getStackTrace(i32 start, i32 count) const {
    RuntimeEnv* frame = real.getCurrentFrame();
    for (i32 i = 0; frame && i < start; i++)
        frame = frame->previous;
    std::vector<RuntimeEnv*> chosen;
    for (i32 i = 0; frame && i < count; i++, frame = frame->previous)
        chosen.push_back(frame);
    String trace, line;
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        trace += (*it)->getFrameText(line);
        trace += LxCore::unit('\n');
    }
    return trace;
}

DebugAPI* debugAPIOf(Engine& engine) { return static_cast<DebugAPI*>(engine.getAPI(API::kDebug)); }

// ---------------------------------------------------------------------------
// Run control

DebugAPI::State DebugAPI::getDebugState() const {
    if (!real.isStoppedInDebugger())
        return kRunning;
    const i32 code = real.getError().getCode();
    if (code == 0)
        return kStopped;
    return code > 0 || code == Err::kExecutionHalted ? kError : kFatal;
}

bool DebugAPI::isCommandEnabled(Cmd cmd) const {
    const State state = getDebugState();
    switch (cmd) {
    case kHalt:
        return true;
    case kBreak:
        return state == kRunning;
    case kContinue:
    case kStepInto:
    case kStepOver:
    case kStepOut:
        return state == kStopped || state == kError;
    }
    return false;
}

// Continue and halt clear every frame: a caller may still hold the request
// of a step out or over that met a breakpoint on its way. A halt with no
// script running leaves no error behind, which would refuse the next run.
void DebugAPI::command(Cmd cmd, bool ignoreErrors) {
    if (!real.getDebugger() || !isCommandEnabled(cmd))
        return;
    if (cmd == kHalt) {
        if (real.getCurrentFrame())
            real.setError(Err::kExecutionHalted);
        real.clearStepFlags();
        real.resumeDebugger();
        return;
    }
    if (RuntimeEnv* frame = real.getCurrentFrame()) {
        if (ignoreErrors && cmd != kBreak)
            real.clearError();
        switch (cmd) {
        case kBreak:
        case kStepInto:
            frame->stepFlags = kStopAtNextLine;
            break;
        case kStepOver:
            frame->stepFlags = kStepOverFlags;
            break;
        case kStepOut:
            if (frame->previous)
                frame->previous->stepFlags = kStopAtNextLine;
            break;
        default:
            real.clearStepFlags();
            break;
        }
    }
    setContextLevel(0);
    if (cmd != kBreak)
        real.resumeDebugger();
}

// ---------------------------------------------------------------------------
// The selected frame

String DebugAPI::getSource() const {
    const RuntimeEnv* frame = frameAt(contextLevel);
    const ScopeInfo* info = frame ? frame->getScopeInfo() : nullptr;
    return info ? info->source : String();
}

Script* DebugAPI::getScript() const {
    const RuntimeEnv* frame = frameAt(contextLevel);
    Script* script = frame && frame->function ? frame->function->getScript() : nullptr;
    if (script)
        script->addRef();
    return script;
}

i32 DebugAPI::getContextInfo(i32 level, String& function, LxCore::Array& arguments) const {
    RuntimeEnv* frame = level < 0 ? nullptr : real.getCurrentFrame();
    for (i32 i = 0; frame && i < level; i++)
        frame = frame->previous;
    if (!frame) {
        function = String();
        arguments.setLength(0);
        return -1;
    }
    return i32(frame->getFunctionInfo(function, arguments));
}

i32 DebugAPI::eval(const String& source, LxCore::Variant& result) {
    const RuntimeEnv* frame = frameAt(contextLevel);
    Object* self = frame ? frame->thisObject : real.getGlobalObject();
    return real.evalInFrame(self, source, &result);
}

// ---------------------------------------------------------------------------
// Properties

Object* DebugAPI::resolve(const LxCore::Variant& object) const {
    if (object.getType() == LxCore::Variant::kUndefined) {
        RuntimeEnv* frame = frameAt(contextLevel);
        Workspace* scope = frame ? frame->getScope() : nullptr;
        return scope ? static_cast<Object*>(scope) : real.getGlobalObject();
    }
    LxCore::Variant value(object);
    real.importValue(value, true);
    return objectOf(value);
}

void DebugAPI::collect(Object& object, u32 filter, LxCore::THashTable<LxCore::Variant>& out) {
    const DataPoolId enumError = DataPool::get().add("EnumError");
    LxCore::SimpleArray ids;
    object.getPropertyIDs(ids, filter);
    for (i32 i = 0; i < ids.getCount(); i++) {
        const DataPoolId id = DataPoolId(ids.get(i));
        const String name = DataPool::get().getSymbol(id);
        if (out.contains(name))
            continue;
        LxCore::Variant value;
        if (!object.get(id, value, 0))
            continue;
        if (LxCore::LiveObject* live = value.getLiveObject())
            value.setLiveObject(live, 0);
        if (real.getError().getCode() != 0) {
            real.makeErrorObject(value);
            if (Object* error = objectOf(value))
                error->setClassID(enumError);
            real.clearError();
        }
        out.put(name, new LxCore::Variant(value));
    }
}

bool DebugAPI::getProperties(const LxCore::Variant& object, LxCore::THashTable<LxCore::Variant>& out, i32 flags) {
    QuietReading quiet(real);
    const u32 filter = (u32(flags) & ~kFilterCleared) | kFilterAlways;
    ObjectRef current(resolve(object));
    for (i32 walked = 0; current && walked < kMaxPrototypeWalk; walked++) {
        // An invalidated live object leaves its script object invalid.
        LxCore::LiveObject* live = current->getLiveObject();
        if (!current->isValid() || (live && !live->isValid()))
            return false;
        collect(*current, filter, out);
        if (filter & kOwnObjectOnly)
            break;
        current = ObjectRef(current->getPrototype());
    }
    return true;
}

bool DebugAPI::getProperties(const LxCore::Variant& object, LxCore::THashTable<LxCore::Variant>& out, bool all,
                             bool withPrototypes) {
    u32 flags = kListedSlots;
    if (!all)
        flags |= kLeaveOutBuiltIns;
    if (!withPrototypes)
        flags |= kOwnObjectOnly;
    return getProperties(object, out, i32(flags));
}

bool DebugAPI::isReadOnly(const LxCore::Variant& object, const String& name) {
    ObjectRef held(resolve(object));
    if (!held)
        return false;
    const Property* slot = held->findProperty(DataPool::get().add(name.chars(), name.length()), 0);
    return slot && slot->isReadOnly();
}

// ---------------------------------------------------------------------------
// Breakpoints and profiler records

void DebugAPI::getBreakpoints(LxCore::TSimpleArray<BreakpointInfo>& out) const { real.getBreakpoints(out); }

void DebugAPI::setBreakpoints(const LxCore::TSimpleArray<BreakpointInfo>* list) { real.setBreakpoints(list); }

// Copies go before the first greater one, so equal keys keep chain order.
void DebugAPI::getProfilerData(LxCore::TSimpleArray<ProfilerData>* out, bool erase) {
    const ProfilerData* chain = real.getProfilerRecords();
    if (!chain)
        return;
    for (const ProfilerData* record = chain; out && record; record = record->next) {
        auto* copy = new ProfilerData(*record);
        copy->next = nullptr;
        i32 at = 0;
        while (at < out->getCount() && !profilerLess(*copy, *out->get(at)))
            at++;
        out->insert(copy, at);
    }
    if (erase)
        real.clearProfilerData();
}

// ---------------------------------------------------------------------------
// Watchpoints

// A method is not marked, yet setting one answers true.
bool DebugAPI::watchpoint(const LxCore::Variant& object, const LxCore::Variant& name, WatchAction action) const {
    ObjectRef held(resolve(object));
    if (!held)
        return false;
    Property* slot = held->findProperty(DataPool::get().add(name), kLookupOwnFirst);
    if (!slot)
        return false;
    switch (action) {
    case kWatchSet:
        if (!slot->isMethod())
            slot->addAttributes(kWatchpoint);
        return true;
    case kWatchClear:
        slot->removeAttributes(kWatchpoint);
        return true;
    case kWatchQuery:
        return (slot->getAttributes() & kWatchpoint) != 0;
    }
    return false;
}

bool DebugAPI::getWatchpointInfo(LxCore::Variant& object, LxCore::Variant& name, LxCore::Variant& value) {
    if (!watched) {
        object.clear();
        name.clear();
        value.clear();
        return false;
    }
    u32 symbol = 0;
    watched->getWatchpointInfo(object, symbol, value);
    name.setString(DataPool::get().getSymbol(DataPoolId(symbol)));
    return true;
}

}  // namespace LxScript
