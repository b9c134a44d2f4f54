// The thread record. The switch that would keep one record per thread is
// never turned on: the first record made is stored process-wide and shared.
#include "core/ThreadData.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <new>

#include "core/Refcountable.h"
#include "core/Variant.h"
#include "core/XML.h"
#include "core/platform/PlatformThread.h"

namespace LxCore {

// The engine finds its fields by word position.
static_assert(offsetof(ThreadData, engine) == 2 * sizeof(void*));
static_assert(offsetof(ThreadData, scriptContext) == 5 * sizeof(void*));
// The fields after the hook keep their places: five words of Variant first.
static_assert(offsetof(ThreadData, scratchVariant) == 7 * sizeof(void*));
static_assert(sizeof(Variant) == 5 * sizeof(void*));
static_assert(offsetof(ThreadData, currentDirectory) == 12 * sizeof(void*));

namespace {

// Another thread (Tellwire's pump) may ask for the record first, so it is
// published with one compare-and-swap: two first callers cannot both keep one.
std::atomic<ThreadData*> processRecord{nullptr};
i32 slotIndex = -1;                             // -1: no thread-local slot
thread_local ThreadData* slotRecord = nullptr;  // the slot's value on this thread
std::atomic<u32> mainThreadId{0};
std::atomic<ScriptContextFree> scriptContextFree{nullptr};

// Modules that keep data of their own for a record made off the main thread
// (XML's namespaces), each started and ended with the record.
struct OffMainThreadHook {
    const char* name;
    void (*run)(ThreadData* record, bool start);
};
constexpr OffMainThreadHook kOffMainThreadHooks[] = {
    {"XML thread data", initXMLThreadData},
};

void runOffMainThreadHooks(ThreadData* record, bool start) {
    for (const OffMainThreadHook& hook : kOffMainThreadHooks)
        if (hook.run)
            hook.run(record, start);
}

}  // namespace

ThreadData* ThreadData::find() {
    if (ThreadData* record = processRecord.load(std::memory_order_acquire))
        return record;
    return slotIndex >= 0 ? slotRecord : nullptr;
}

ThreadData* ThreadData::get() {
    if (ThreadData* record = find())
        return record;
    void* memory = std::calloc(1, sizeof(ThreadData));
    if (!memory)
        throw std::bad_alloc();
    ThreadData* record = new (memory) ThreadData;
    record->lockTable = *getGlobalLockTable();
    record->heapCache.setBudget(Heap::kDefaultCacheSize);
    ThreadData* first = nullptr;
    if (!processRecord.compare_exchange_strong(first, record, std::memory_order_acq_rel)) {
        record->~ThreadData();
        std::free(memory);
        return first;
    }
    if (getCurrentThreadId() != 0) {
        record->offMainThreadData = true;
        runOffMainThreadHooks(record, true);
    }
    return record;
}

// Blocks released during teardown still land in the cache, so it is flushed
// and switched off only after them; later releases go straight back.
void ThreadData::destroy(ThreadData* record) noexcept {
    delete record->ownedObject;
    record->ownedObject = nullptr;
    // Decided by how the record began: the main thread id may already be
    // gone when the record ends.
    if (record->offMainThreadData)
        runOffMainThreadHooks(record, false);
    Heap::free(record->scratchBytes);
    record->scratchBytes = nullptr;
    record->scratchSize = 0;
    record->scratchLength = 0;
    record->heapCache.setBudget(0);
    // Emptied here, while the record is whole, rather than by its destructor.
    record->currentDirectory.path.clear();
    record->currentDirectory.known = false;
    // Its text goes back now too; the destructor then has nothing to free.
    record->scratchVariant.~Variant();
    ::new (&record->scratchVariant) Variant;
    if (record->scriptContext)
        if (ScriptContextFree dispose = scriptContextFree.load(std::memory_order_acquire))
            dispose(record->scriptContext);
    record->scriptContext = nullptr;
    record->~ThreadData();
    std::free(record);
}

void ThreadData::setScriptContextFree(ScriptContextFree hook) {
    scriptContextFree.store(hook, std::memory_order_release);
}

void ThreadData::freeCurrent() {
    if (slotIndex < 0 || !slotRecord)
        return;
    ThreadData* record = slotRecord;
    slotRecord = nullptr;
    destroy(record);
}

// The record stays findable while it is torn down, so that releases made by
// the teardown reach its cache rather than make a new record.
void initThreadData(bool start) {
    if (start) {
        slotIndex = 0;
        return;
    }
    if (ThreadData* record = processRecord.load(std::memory_order_acquire)) {
        ThreadData::destroy(record);
        processRecord.store(nullptr, std::memory_order_release);
    }
    slotRecord = nullptr;
    slotIndex = -1;
}

void initMainThreadId(bool start) {
    mainThreadId.store(start ? platformThreadId() : 0, std::memory_order_relaxed);
}

u32 getCurrentThreadId() {
    u32 id = platformThreadId();
    return id == mainThreadId.load(std::memory_order_relaxed) ? 0 : id;
}

}  // namespace LxCore
