// The "$" object every script sees: the engine's error, version, debug
// level and flags, locale, stack, current file and line, environment, text
// output to the debugger, sleeping, collection and object listings. One
// process-wide dispatcher serves it; each engine registers it.
#pragma once
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

class RuntimeEnv;

class DebuggerDisp : public Dispatcher {
public:
    DebuggerDisp();
    void get(Arguments& args) override;
    void put(Arguments& args) override;
};

// The engine library's step: makes the dispatcher at start, frees it at exit.
void initDollarClass(bool start);
// Null outside the library's life.
Dispatcher* dollarDispatcher();

// The current script's file name and 1-based line: the innermost frame
// whose file is named (anonymous scripts have decimal names); 0 without a
// frame.
void getCurrentScriptPosition(Engine& engine, LxCore::String* fileName, u32* line);
// The frame's script has a name of its own (not an anonymous eval's number).
bool hasProperFileName(const RuntimeEnv& frame);
void getCurrentScriptFile(Engine& engine, Variant& out);

// For tests: what $.sleep waits with, one step of at most 100 ms at a time
// (null: the real sleep).
using SleepStep = void (*)(u32 ms);
void setSleepStepForTests(SleepStep step);

}  // namespace LxScript
