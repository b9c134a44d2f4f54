#include "script/engine/TVContext.h"

#include <new>

#include "core/InitTerm.h"
#include "core/ThreadData.h"
#include "core/platform/PlatformThread.h"

namespace LxScript {

namespace {

void freeContext(TVContext* context) { delete context; }

}  // namespace

// Without the core library there is no heap for it, and a thread record made
// now would outlive everything.
TVContext& TVContext::get() {
    if (!LxCore::InitTerm::isInitialized())
        throw std::bad_alloc();
    LxCore::ThreadData* record = LxCore::ThreadData::get();
    if (!record->scriptContext) {
        LxCore::ThreadData::setScriptContextFree(freeContext);
        record->scriptContext = new TVContext(record);
    }
    return *record->scriptContext;
}

TVContext* TVContext::find() {
    LxCore::ThreadData* record = LxCore::ThreadData::find();
    return record ? record->scriptContext : nullptr;
}

// The frame address rather than a local's: sanitizers may move locals off
// the machine stack.
bool TVContext::checkStack() const {
    return stackLimit == 0 || uintptr_t(__builtin_frame_address(0)) > stackLimit;
}

LxCore::i32 TVContext::stackRoom() {
    const uintptr_t here = uintptr_t(__builtin_frame_address(0));
    const uintptr_t end = LxCore::platformStackEnd();
    if (end == 0 || here <= end)
        return 0;
    const uintptr_t room = here - end;
    return room > uintptr_t(kMaxStackRoom) ? kMaxStackRoom : LxCore::i32(room);
}

void TVContext::setStackBottom(LxCore::i32 bytes) {
    uintptr_t here = uintptr_t(__builtin_frame_address(0));
    if (bytes <= 0) {
        stackLimit = 0;
        return;
    }
    uintptr_t limit = here > uintptr_t(bytes) ? here - uintptr_t(bytes) : 1;
    const uintptr_t end = LxCore::platformStackEnd();
    if (end != 0 && limit < end + kStackReserve)
        limit = end + kStackReserve;
    stackLimit = limit;
}

}  // namespace LxScript
