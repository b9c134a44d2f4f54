// Library start-up and shut-down: one table of modules, started in its order
// and ended in the order of the end list below.
#include "core/InitTerm.h"

#include <string_view>

#include "core/Array.h"
#include "core/ByteArray.h"
#include "core/Dictionary.h"
#include "core/Clock.h"
#include "core/Encoder.h"
#include "core/Error.h"
#include "core/Heap.h"
#include "core/LiveObject.h"
#include "core/Localizer.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/UnitValue.h"
#include "core/XML.h"
#include "core/platform/FileSystem.h"
#include "core/platform/Folders.h"

namespace LxCore {

namespace {

u32 initCount = 0;
bool startingUp = true;
SimpleArray* atExitList = nullptr;
i64 timerMarkToBe = 0;

using AtExitFunction = void (*)();

void readTimerMark(bool start) {
    if (start)
        timerMarkToBe = getMicroseconds();
}

struct Module {
    std::string_view name;
    void (*run)(bool start);   // true: start, false: end
};

// Start order, each module with its start/end function. The table names
// each function directly, so that a module the rest of the program never
// mentions (a class object found only by name) is still linked and started.
// A start that throws must leave nothing behind.
constexpr Module kModules[] = {
    {"clock", initClock},
    {"timer mark", readTimerMark},
    {"allocators", initAllocators},
    {"thread record", initThreadData},          // the thread-local slot
    {"main thread id", initMainThreadId},
    {"String", initString},
    {"localizers", initLocalizers},
    {"encoders", initEncoders},
    {"Error", initError},
    {"Array", initArray},
    {"live-object class registry", initLiveObjectRegistry},
    {"dictionaries", initDictionaries},
    {"unit types", initUnitTypes},
    {"unit registry", initUnitRegistry},
    {"UnitValue class", initUnitValueClass},
    {"file-system globals", initPlatformFileSystem},
    {"current directory", initCurrentFolder},             // into the thread record
    {"XML", initXML},
    {"ByteArray class", initByteArrayClass},
    {"lock table", initLockTable},
};

// End order, by module name. Modules not named here are only started: the
// timer mark and the current directory (it goes with the thread record). The
// ByteArray class goes with the live-object class registry; its end step
// after it frees the member tables the class used. The thread record and the
// allocators go last because every other end may still free core memory.
constexpr std::string_view kEndOrder[] = {
    "lock table",
    "XML",
    "file-system globals",
    "UnitValue class",
    "unit registry",
    "unit types",
    "dictionaries",
    "live-object class registry",
    "ByteArray class",
    "Array",
    "clock",
    "Error",
    "encoders",
    "localizers",
    "String",
    "main thread id",
    "thread record",
    "allocators",
};

constexpr i32 kModuleCount = i32(sizeof(kModules) / sizeof(kModules[0]));

constexpr i32 findModule(std::string_view name) {
    for (i32 i = 0; i < kModuleCount; i++)
        if (kModules[i].name == name)
            return i;
    return -1;
}

constexpr bool endOrderIsSound() {
    for (std::string_view name : kEndOrder) {
        if (findModule(name) < 0)
            return false;
        i32 times = 0;
        for (std::string_view other : kEndOrder)
            times += other == name;
        if (times != 1)
            return false;
    }
    return true;
}
static_assert(endOrderIsSound(), "every end step names one module, once");

// Ends the modules among the first `started` of the start order. A throwing
// end step would leave the library half torn down: terminate instead.
void endModules(i32 started) noexcept {
    for (std::string_view name : kEndOrder) {
        i32 index = findModule(name);
        if (index < started && kModules[index].run)
            kModules[index].run(false);
    }
}

// Functions registered while the list runs are run too, in their turn.
void runAtExitList() noexcept {
    if (!atExitList)
        return;
    for (i32 i = 0; i < atExitList->getCount(); i++)
        reinterpret_cast<AtExitFunction>(atExitList->get(i))();
    delete atExitList;
    atExitList = nullptr;
}

}  // namespace

void InitTerm::init() {
    if (atomicIncrement(&initCount) != 1)
        return;
    startingUp = true;
    i32 started = 0;
    try {
        for (; started < kModuleCount; started++)
            if (kModules[started].run)
                kModules[started].run(true);
        atExitList = new SimpleArray;
        ThreadData::get()->timerMark = timerMarkToBe;
    } catch (...) {
        delete atExitList;
        atExitList = nullptr;
        endModules(started);
        atomicDecrement(&initCount);
        ThreadData::freeCurrent();
        throw;
    }
    startingUp = false;
}

void InitTerm::exit() {
    i32 count = i32(initCount);
    if (count != 1) {
        if (count > 1)
            atomicDecrement(&initCount);
        ThreadData::freeCurrent();
        return;
    }
    runAtExitList();
    if (ThreadData* record = ThreadData::find()) {
        delete record->ownedObject;
        record->ownedObject = nullptr;
    }
    endModules(kModuleCount);
    atomicDecrement(&initCount);
    ThreadData::freeCurrent();
}

bool InitTerm::isInitialized() { return i32(initCount) > 0; }

bool InitTerm::isStartingUp() { return startingUp; }

void InitTerm::atExit(void (*function)()) {
    if (function && atExitList)
        atExitList->add(reinterpret_cast<SimpleArray::Value>(function));
}

}  // namespace LxCore
