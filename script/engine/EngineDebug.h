// The records the engine's debugging state keeps and the debugger interface
// exchanges: breakpoints and profiler records.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"

namespace LxScript {

using LxCore::i32;
using LxCore::u64;
using LxCore::u8;

class BreakpointInfo : public LxCore::Root {
public:
    BreakpointInfo() = default;
    BreakpointInfo(const BreakpointInfo&) = default;
    BreakpointInfo& operator=(const BreakpointInfo&) = default;
    virtual ~BreakpointInfo() = default;

    LxCore::String condition;   // evaluated in the stopping frame; empty: none
    i32 file = 0;               // data-pool symbol of the script's file name
    i32 line = 0;               // from 0
    i32 hits = 1;               // stops once count has reached it
    i32 count = 0;              // negative in a new list: keep the old count
    u8 enabled = 1;
};

// One profiler record: per activation of a function (levels 1, 2) or per
// line (levels 3, 4). Time is in units of the core's high-resolution clock.
class ProfilerData : public LxCore::Root {
public:
    ProfilerData* next = nullptr;   // the engine's chain, newest first; null in copies
    u64 time = 0;
    i32 file = 0;
    i32 function = 0;
    i32 line = 0;
    i32 hits = 0;
};

}  // namespace LxScript
