// Library start-up and shut-down: one table of modules, started in its order
// and ended in the order of the end list below.
#include "core/InitTerm.h"

#include <string_view>

#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/String.h"
#include "core/ThreadData.h"

namespace LxCore {

namespace {

u32 initCount = 0;

struct Module {
    std::string_view name;
    void (*run)(bool start);   // true: start, false: end
};

// Start order. Modules not built yet go where the comments stand.
constexpr Module kModules[] = {
    // clock; then the high-resolution time read as the timer mark
    {"allocators", initAllocators},
    {"thread record", initThreadData},   // the thread-local slot
    // main thread id
    {"String", initString},
    // localizers, encoders, Error, Array, live-object class registry,
    // dictionaries, unit types, unit registry, UnitValue class,
    // file-system globals, current directory, XML, ByteArray class
    {"lock table", initLockTable},
};

// End order, by module name; the thread record and the allocators go last
// because every other end may still free core memory.
constexpr std::string_view kEndOrder[] = {
    "lock table",
    // XML, file-system globals, UnitValue class, unit registry, unit types,
    // dictionaries, live-object class registry, Array, clock, Error,
    // encoders, localizers
    "String",
    // main thread id
    "thread record",
    "allocators",
};

constexpr const Module* findModule(std::string_view name) {
    for (const Module& module : kModules)
        if (module.name == name)
            return &module;
    return nullptr;
}

constexpr bool everyEndNamesAModule() {
    for (std::string_view name : kEndOrder)
        if (!findModule(name))
            return false;
    return true;
}
static_assert(everyEndNamesAModule(), "an end step names no module");

// A throwing end step would leave the library half torn down: terminate instead.
void endModules() noexcept {
    for (std::string_view name : kEndOrder)
        findModule(name)->run(false);
}

}  // namespace

void InitTerm::init() {
    if (atomicIncrement(&initCount) != 1)
        return;
    for (const Module& module : kModules)
        module.run(true);
    ThreadData::get();
}

void InitTerm::exit() {
    i32 count = i32(initCount);
    if (count != 1) {
        if (count > 1)
            atomicDecrement(&initCount);
        ThreadData::freeCurrent();
        return;
    }
    if (ThreadData* record = ThreadData::find()) {
        delete record->ownedObject;
        record->ownedObject = nullptr;
    }
    endModules();
    atomicDecrement(&initCount);
    ThreadData::freeCurrent();
}

bool InitTerm::isInitialized() { return i32(initCount) > 0; }

}  // namespace LxCore
