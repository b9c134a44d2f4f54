// The debugger service of one engine, handed out as its 'debg' API object:
// the context level later queries refer to, the stack read through the
// frame chain, breaking from script, and the output stream text goes to.
// Run control, properties, breakpoints and profiling come with the debug
// protocol.
#pragma once
#include "core/File.h"
#include "core/String.h"
#include "script/engine/Engine.h"

namespace LxScript {

class RealEngine;
class RuntimeEnv;

class DebugAPI : public API {
public:
    explicit DebugAPI(RealEngine& engine);

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
    // Frames start .. start + count - 1 (0 the innermost), each frame's text
    // and a line feed, the outermost chosen frame first.
    LxCore::String getStackTrace(i32 start, i32 count) const;

private:
    RealEngine& real;
    LxCore::File* output = nullptr;
    i32 contextLevel = 0;

    RuntimeEnv* frameAt(i32 level) const;
};

// The engine's debugger service; null when it cannot be made.
DebugAPI* debugAPIOf(Engine& engine);

}  // namespace LxScript
