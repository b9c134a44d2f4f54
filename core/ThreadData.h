// The core's thread record: every piece of per-thread state of the core. One
// record, made on first use, serves every thread of the process.
#pragma once
#include "core/Heap.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxScript {
class Engine;
class TVContext;
}  // namespace LxScript

namespace LxCore {

class Encoder;
class Localizer;
class Lock;
class XML;
struct ModalRecord;

// Base of the one object a thread record owns; deleted at the last exit and
// with the record.
class ThreadOwned : public Root {
public:
    virtual ~ThreadOwned() = default;
};

// The core's current folder, against which relative paths are resolved: the
// process's working folder belongs to the host and is never changed.
struct CurrentDirectory {
    String path;
    bool known = false;     // false: read from the process's working folder on first need
};

// Asked while a native dialog is up whether the engine's script may go on.
using KeepRunningHook = bool (*)(LxScript::Engine* engine);

// Frees a thread record's script context. The core cannot: the context is
// the engine's, so the engine installs this when it makes one.
using ScriptContextFree = void (*)(LxScript::TVContext* context);

// Allocated with the C runtime, not the core heap: the heap keeps its cache here.
// The engine reads word 2 (current engine) and word 5 (script context).
class ThreadData {
public:
    Encoder* encoder = nullptr;                 // null until first asked for
    Localizer* localizer = nullptr;
    LxScript::Engine* engine = nullptr;
    ThreadOwned* ownedObject = nullptr;
    Lock* lockTable = nullptr;                  // the global lock table when the record was made
    LxScript::TVContext* scriptContext = nullptr;   // owned; freed through the installed hook
    KeepRunningHook keepRunningHook = nullptr;
    Variant scratchVariant;                     // handed out for missing array elements
    CurrentDirectory currentDirectory;          // kept by core/platform/FileSystem.cpp
    XML* parseNamespace = nullptr;              // default namespace for parsing
    XML* newNodeNamespace = nullptr;            // namespace given to new nodes
    char* scratchBytes = nullptr;               // core heap; String::encode's output
    ModalRecord* dialogs = nullptr;             // open native dialogs, innermost first
    i64 timerMark = 0;                          // microseconds
    i32 scratchSize = 0;                        // bytes allocated at scratchBytes
    u32 scratchLength = 0;                      // bytes of the last text encoded there
    u32 dstMinute = kNoMinute;                  // daylight-saving cache
    i32 dstAnswer = -1;
    u32 unitBaseCode = kInch;                   // default base of unit values: one point
    f64 unitBaseValue = 1.0 / 72;
    HeapCache heapCache;
    // Made off the main thread, so its own XML thread data was set up; the
    // teardown ends only what was set up.
    bool offMainThreadData = false;

    static constexpr u32 kInch = 0x696E6368;    // 'inch'
    static constexpr u32 kNoMinute = 0xFFFFFFFF; // no minute cached yet

    // The record; made on first use. Never null (throws std::bad_alloc).
    static ThreadData* get();
    // The record when there is one, else null; never makes one.
    static ThreadData* find();
    // Tears down and frees a record held in the thread-local slot.
    static void freeCurrent();
    // Process-wide; a null hook leaves contexts alone.
    static void setScriptContextFree(ScriptContextFree hook);

private:
    ThreadData() = default;
    ~ThreadData() = default;
    static void destroy(ThreadData* record) noexcept;
    friend void initThreadData(bool start);
};

// Module start/end: the thread-local slot at start; at end the process-wide
// record is torn down, and the record pointer and the slot are cleared.
void initThreadData(bool start);

// Module start/end: the id of the thread that runs the first init.
void initMainThreadId(bool start);

// The calling thread's system id, or 0 on the thread that ran the first init.
u32 getCurrentThreadId();

}  // namespace LxCore
