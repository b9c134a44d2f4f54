#include "script/library/debug/DebugAPI.h"

#include <vector>

#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"

namespace LxScript {

using LxCore::String;

DebugAPI::DebugAPI(RealEngine& engine) : API(engine, API::kDebug), real(engine) {}

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

// ---- Not yet built: answers as with no frame and no state ----

void DebugAPI::command(Cmd, bool) {}
bool DebugAPI::isCommandEnabled(Cmd cmd) const { return cmd == kHalt; }
DebugAPI::State DebugAPI::getDebugState() const { return real.isStoppedInDebugger() ? kStopped : kRunning; }
String DebugAPI::getSource() const { return String(); }
Script* DebugAPI::getScript() const { return nullptr; }
i32 DebugAPI::getContextInfo(i32, String& function, LxCore::Array&) const {
    function = String();
    return -1;
}
i32 DebugAPI::eval(const String&, LxCore::Variant&) { return 0; }
bool DebugAPI::getProperties(const LxCore::Variant&, LxCore::THashTable<LxCore::Variant>&, i32) { return true; }
bool DebugAPI::getProperties(const LxCore::Variant& object, LxCore::THashTable<LxCore::Variant>& out, bool, bool) {
    return getProperties(object, out, 0);
}
bool DebugAPI::isReadOnly(const LxCore::Variant&, const String&) { return false; }
void DebugAPI::getBreakpoints(LxCore::TSimpleArray<BreakpointInfo>& out) const { real.getBreakpoints(out); }
void DebugAPI::setBreakpoints(const LxCore::TSimpleArray<BreakpointInfo>* list) { real.setBreakpoints(list); }
void DebugAPI::getProfilerData(LxCore::TSimpleArray<ProfilerData>*, bool) {}
bool DebugAPI::watchpoint(const LxCore::Variant&, const LxCore::Variant&, WatchAction) const { return false; }
bool DebugAPI::getWatchpointInfo(LxCore::Variant& object, LxCore::Variant& name, LxCore::Variant& value) {
    object.clear();
    name.clear();
    value.clear();
    return false;
}

}  // namespace LxScript
