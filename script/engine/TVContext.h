// The script context: what the engine keeps per thread beside the core's
// thread record, which owns it and deletes it through its destructor.
#pragma once
#include <cstdint>

#include "core/Heap.h"
#include "core/SimpleArray.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {
class ThreadData;
}  // namespace LxCore

namespace LxScript {

class Engine;

class TVContext : public LxCore::Root {
public:
    // Inline, so that the core can make and delete one without the engine.
    explicit TVContext(LxCore::ThreadData* record = nullptr) : record(record) {}
    virtual ~TVContext() = default;
    TVContext(const TVContext&) = delete;
    TVContext& operator=(const TVContext&) = delete;

    // The calling thread's context, made on first use (throws
    // std::bad_alloc, also while the core library is not started).
    static TVContext& get();
    // The context when there is one; never makes one.
    static TVContext* find();

    // True while the stack position of the caller lies above the limit.
    bool checkStack() const;
    // Sets the limit that many bytes below the caller's stack position, but
    // never closer than kStackReserve to the thread's real stack end, so that
    // a small thread reports a stack overrun instead of overflowing. Zero or
    // fewer bytes remove the limit.
    void setStackBottom(LxCore::i32 bytes);
    // What stays free below the limit: room for the error path and for the
    // frames between two checks.
    static constexpr uintptr_t kStackReserve = 64 * 1024;
    // The bytes between the caller's stack position and the end of its
    // thread's stack, at most kMaxStackRoom; 0 when the end is not known. A
    // host whose scripts run on this thread may give it to the engine as its
    // stack budget: the limit still keeps kStackReserve free.
    static LxCore::i32 stackRoom();
    // A thread whose stack has no set size (ulimit -s unlimited) would let a
    // runaway recursion take gigabytes and minutes before its stack overrun.
    static constexpr LxCore::i32 kMaxStackRoom = 64 * 1024 * 1024;
    uintptr_t getStackLimit() const { return stackLimit; }
    void setStackLimit(uintptr_t limit) { stackLimit = limit; }   // 0: no limit

    LxCore::ThreadData* getThreadData() const { return record; }
    LxCore::Variant& getValue() { return value; }
    LxCore::TSimpleArray<Engine>& getEngines() { return engines; }

    LxCore::u32 localizeNesting = 0;    // raised around the script's localize()
    LxCore::u32 sourceDepth = 0;        // nesting of source serialization (toSource, uneval)
    bool sourceListing = false;         // Array.__120__
    bool spareFlag = false;
    bool usDaylightSaving = false;      // Date.__usdst__

private:
    LxCore::ThreadData* record;
    LxCore::Variant value;
    LxCore::TSimpleArray<Engine> engines;
    uintptr_t stackLimit = 0;
};

// For the life of a scope: a stack limit `bytes` below the caller's position
// when the context has none; the limit as it was is put back at the end.
class StackLimitScope {
public:
    StackLimitScope(TVContext& context, LxCore::i32 bytes) : context(context), saved(context.getStackLimit()) {
        if (saved == 0)
            context.setStackBottom(bytes);
    }
    ~StackLimitScope() { context.setStackLimit(saved); }
    StackLimitScope(const StackLimitScope&) = delete;
    StackLimitScope& operator=(const StackLimitScope&) = delete;

private:
    TVContext& context;
    uintptr_t saved;
};

}  // namespace LxScript
