// Engine library start-up and shut-down: one table of steps, started in its
// order and undone in the reverse order.
#include "script/composition/InitTerm.h"

#include <cstdio>

#include "core/InitTerm.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "script/composition/TVCallbacks.h"
#include "script/composition/jsEngine.h"
#include "script/engine/Engine.h"
#include "script/frontend/DataPool.h"
#include "script/library/LibraryHooks.h"
#include "script/library/dollar/DollarClass.h"
#include "script/library/e4x/XMLObject.h"

namespace LxScript {

void installObjectHooks(bool start);

namespace {

// The core library's version number; engine and core must agree.
constexpr i32 kCoreVersion = 0x40505;

using AtExitFunction = void (*)();

u32 initCount = 0;
LxCore::SimpleArray* atExitList = nullptr;
LxCore::Lock** lockTable = nullptr;

// The core's alert, as the platform shows it: on standard error.
void alert(const char* text) {
    std::fputs(text, stderr);
    std::fputc('\n', stderr);
}

// A mismatch is only reported; start-up goes on.
void checkVersion(bool start) {
    if (start && ((Engine::getVersion() ^ kCoreVersion) & 0x7FFFFFFF) != 0)
        alert("Tavrel version does not match LxCore version!");
}

void keepLockTable(bool start) { lockTable = start ? LxCore::getGlobalLockTable() : nullptr; }

// The E4X classes: registered at start; at exit whatever engines still know
// of them goes before the class objects do.
void initE4XClasses(bool start) {
    if (start)
        registerXmlClasses();
    else
        invalidateXMLClasses();
}

// Functions registered while the list runs are run too, in their turn.
void initAtExitList(bool start) {
    if (start) {
        atExitList = new LxCore::SimpleArray;
        return;
    }
    if (!atExitList)
        return;
    for (i32 i = 0; i < atExitList->getCount(); i++)
        reinterpret_cast<AtExitFunction>(atExitList->get(i))();
    delete atExitList;
    atExitList = nullptr;
}

struct Step {
    const char* name;
    void (*run)(bool start);    // true: do, false: undo
};

// The steps in start order; exit and a failed init undo them last first. A
// step that throws must leave nothing behind.
constexpr Step kSteps[] = {
    {"version check", checkVersion},
    {"lock table", keepLockTable},
    {"data pool", DataPool::init},
    {"script objects in values", installObjectHooks},
    {"library services", installLibraryHooks},
    {"$ class object", initDollarClass},
    {"built-in class objects", jsEngine::setUpClasses},
    {"E4X classes", initE4XClasses},
    {"core callbacks", LxCore::TVCallbacks::install},
    {"at-exit list", initAtExitList},
};

constexpr i32 kStepCount = i32(sizeof(kSteps) / sizeof(kSteps[0]));

// Undoes the first `done` steps, last first.
void undoSteps(i32 done) noexcept {
    for (i32 i = done - 1; i >= 0; i--)
        if (kSteps[i].run)
            kSteps[i].run(false);
}

// The count falls from 1 to 0. The engine is told that the library is
// started from the count's rise to 1 until here.
void lowerCountToZero() {
    LxCore::atomicDecrement(&initCount);
    Engine::setLibraryStarted(false);
}

}  // namespace

void InitTerm::init() {
    if (LxCore::atomicIncrement(&initCount) != 1)
        return;
    Engine::setLibraryStarted(true);
    try {
        LxCore::InitTerm::init();
    } catch (...) {
        lowerCountToZero();
        throw;
    }
    i32 done = 0;
    try {
        for (; done < kStepCount; done++)
            if (kSteps[done].run)
                kSteps[done].run(true);
    } catch (...) {
        undoSteps(done);
        lowerCountToZero();
        LxCore::InitTerm::exit();
        throw;
    }
}

void InitTerm::exit() {
    i32 count = i32(initCount);
    if (count != 1) {
        if (count > 1)
            LxCore::atomicDecrement(&initCount);
        return;
    }
    undoSteps(kStepCount);
    lowerCountToZero();
    LxCore::InitTerm::exit();
}

bool InitTerm::isInitialized() { return Engine::isLibraryStarted(); }

void InitTerm::atExit(void (*function)()) {
    if (function && atExitList)
        atExitList->add(reinterpret_cast<LxCore::SimpleArray::Value>(function));
}

LxCore::Lock** InitTerm::getLockTable() { return lockTable; }

}  // namespace LxScript
