// The debugger service of one engine, handed out as its 'debg' API object:
// run control, the context level later queries refer to, the stack, source
// and properties of the stopped engine, evaluation in a frame, breakpoints,
// profiler records and watchpoints, and the XML command protocol.
#pragma once
#include "core/Error.h"
#include "core/File.h"
#include "core/HashTable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Engine.h"
#include "script/engine/EngineDebug.h"
#include "script/engine/RealEngine.h"

namespace LxCore { class XML; class Array; }

namespace LxScript {

class RealEngine;
class RuntimeEnv;
class Object;
class Property;
class Script;

class DebugAPI : public API {
public:
    // Run-control commands.
    enum Cmd : char { kHalt = '!', kBreak = 'b', kStepOut = 'i', kStepOver = 'o', kContinue = 'r', kStepInto = 's' };
    // 'R' not stopped, 'B' stopped, 'E' stopped with a catchable error or
    // -34, 'F' stopped with another fatal error.
    enum State : char { kRunning = 'R', kStopped = 'B', kError = 'E', kFatal = 'F' };
    enum WatchAction { kWatchSet = 0, kWatchClear = 1, kWatchQuery = 2 };

    explicit DebugAPI(RealEngine& engine);

    void command(Cmd cmd, bool ignoreErrors);
    bool isCommandEnabled(Cmd cmd) const;
    State getDebugState() const;

    // Stops in the debugger when the debug level is not 0 and the condition
    // is empty or true in the stopping frame.
    void debugBreak(const LxCore::String& condition) const;

    // Frames counted outward from the innermost; negative levels are 0 and
    // a level past the outermost frame means the outermost.
    void setContextLevel(i32 level) { contextLevel = level < 0 ? 0 : level; }
    i32 getContextLevel() const { return contextLevel; }

    // Where printed text goes; not owned, null by default.
    void setOutputStream(LxCore::File* stream) { output = stream; }
    LxCore::File* getOutputStream() const { return output; }

    i32 getStackDepth() const;
    // The frame at the context level: its file symbol (0 without a frame)
    // and its 0-based line (-1 without a frame).
    i32 getSourceFileID() const;
    i32 getSourceLine() const;
    LxCore::String getSource() const;
    // One more reference for the caller; null without a frame.
    Script* getScript() const;
    // Frames start .. start + count - 1 (0 the innermost), each frame's text
    // and a line feed, the outermost chosen frame first.
    LxCore::String getStackTrace(i32 start, i32 count) const;
    // The frame at that absolute level: its function's name and argument
    // values; its parameter count, or -1 without such a frame.
    i32 getContextInfo(i32 level, LxCore::String& function, LxCore::Array& arguments) const;

    i32 eval(const LxCore::String& source, LxCore::Variant& result);

    bool getProperties(const LxCore::Variant& object, LxCore::THashTable<LxCore::Variant>& out, i32 flags);
    bool getProperties(const LxCore::Variant& object, LxCore::THashTable<LxCore::Variant>& out, bool all,
                       bool withPrototypes);
    bool isReadOnly(const LxCore::Variant& object, const LxCore::String& name);

    // Appends copies the caller owns.
    void getBreakpoints(LxCore::TSimpleArray<BreakpointInfo>& out) const;
    // The caller keeps its entries.
    void setBreakpoints(const LxCore::TSimpleArray<BreakpointInfo>* list);
    // Copies ordered by file, function and line, owned by the caller.
    void getProfilerData(LxCore::TSimpleArray<ProfilerData>* out, bool erase);

    bool watchpoint(const LxCore::Variant& object, const LxCore::Variant& name, WatchAction action) const;
    bool getWatchpointInfo(LxCore::Variant& object, LxCore::Variant& name, LxCore::Variant& value);
    // Set by the property layer while the engine is stopped for a watchpoint.
    Property* swapWatchpoint(Property* property) {
        Property* previous = watched;
        watched = property;
        return previous;
    }

    // The XML command protocol: a new reply the caller releases, or null.
    LxCore::XML* executeXML(const LxCore::XML& request, LxCore::Error& errors);
    static LxCore::XML* executeStaticXML(const LxCore::XML& request, LxCore::Error& errors);

    RealEngine& getRealEngine() const { return real; }
    // The frame `level` frames outward from the innermost (at most the
    // outermost); null when none runs.
    RuntimeEnv* frameAt(i32 level) const;

    // While values are read for the debugger: the engine's error list is
    // kept aside and errors do not break in; both come back on every way out.
    class QuietReading {
    public:
        explicit QuietReading(RealEngine& engine);
        ~QuietReading();
        QuietReading(const QuietReading&) = delete;
        QuietReading& operator=(const QuietReading&) = delete;

    private:
        RealEngine& engine;
        const LxCore::Error kept;
        const RealEngine::ErrorHookQuiet quiet;    // lowered after the error is back
    };

private:
    RealEngine& real;
    Property* watched = nullptr;
    LxCore::File* output = nullptr;
    i32 contextLevel = 0;

    // An undefined value: the selected frame's scope, else the global
    // object; other values as objects; null for what is none.
    Object* resolve(const LxCore::Variant& object) const;
    // One object's ids under the filter, values stored under names not yet
    // in out.
    void collect(Object& object, LxCore::u32 filter, LxCore::THashTable<LxCore::Variant>& out);
};

// The engine's debugger service; null when it cannot be made.
DebugAPI* debugAPIOf(Engine& engine);

}  // namespace LxScript
