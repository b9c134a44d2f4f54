// The script engine as the core sees it. The engine library completes this
// class; the core only ever asks which engine is current.
#pragma once
#include "core/ThreadData.h"

namespace LxScript {

class Engine {
public:
    // The current-engine field of the core's thread record; null when no
    // engine is current or there is no record.
    static Engine* getCurrent();
};

inline Engine* Engine::getCurrent() {
    LxCore::ThreadData* record = LxCore::ThreadData::find();
    return record ? record->engine : nullptr;
}

}  // namespace LxScript
