// The thread record. The switch that would keep one record per thread is
// never turned on: the first record made is stored process-wide and shared.
#include "core/ThreadData.h"

#include <cstddef>
#include <cstdlib>
#include <new>

#include "core/Refcountable.h"

namespace LxCore {

// The engine finds its fields by word position.
static_assert(offsetof(ThreadData, engine) == 2 * sizeof(void*));
static_assert(offsetof(ThreadData, scriptContext) == 5 * sizeof(void*));

namespace {

ThreadData* processRecord = nullptr;
i32 slotIndex = -1;                             // -1: no thread-local slot
thread_local ThreadData* slotRecord = nullptr;  // the slot's value on this thread

}  // namespace

ThreadData* ThreadData::find() {
    if (processRecord)
        return processRecord;
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
    processRecord = record;
    record->heapCache.setBudget(Heap::kDefaultCacheSize);
    return record;
}

// Blocks released during teardown still land in the cache, so it is flushed
// and switched off only after them; later releases go straight back.
void ThreadData::destroy(ThreadData* record) noexcept {
    delete record->ownedObject;
    record->ownedObject = nullptr;
    Heap::free(record->scratchBytes);
    record->scratchBytes = nullptr;
    record->scratchSize = 0;
    record->scratchLength = 0;
    record->heapCache.setBudget(0);
    // The current-directory record, the scratch Variant and the script
    // context are destroyed here once they exist.
    record->~ThreadData();
    std::free(record);
}

void ThreadData::freeCurrent() {
    if (slotIndex < 0 || !slotRecord)
        return;
    ThreadData* record = slotRecord;
    slotRecord = nullptr;
    destroy(record);
}

void initThreadData(bool start) {
    if (start) {
        slotIndex = 0;
        return;
    }
    if (ThreadData* record = processRecord) {
        ThreadData::destroy(record);
        processRecord = nullptr;
    }
    slotRecord = nullptr;
    slotIndex = -1;
}

}  // namespace LxCore
