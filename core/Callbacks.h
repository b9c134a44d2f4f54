// The hooks through which the core asks the script engine for what only the
// engine knows. The engine installs its implementation at its init and
// removes it at its exit; until then there is none.
#pragma once
#include <cstdint>

#include "core/Heap.h"
#include "core/Types.h"

namespace LxScript {
class Engine;
}  // namespace LxScript

namespace LxCore {

class Dictionary;
class String;
class Variant;

class Callbacks : public Root {
public:
    virtual ~Callbacks() = 0;
    // The locale and localisation information scripts have set; an out left
    // empty means none.
    virtual void getLocaleInfo(String& locale, String& info) = 0;
    virtual Dictionary* createDictionary() = 0;               // owned by the caller
    virtual void getCurrentScriptFile(String& out) = 0;       // empty when none runs
    virtual Dictionary* createDefaultDictionary() = 0;        // owned by the caller
    virtual void getSymbolName(String& out, u32 id) = 0;      // a data-pool symbol
    virtual LxScript::Engine* getCurrentEngine() = 0;         // null when none
    // The value attached to the script object a Variant holds, or to one
    // process-wide slot for any other value.
    virtual intptr_t getObjectData(const Variant& value) = 0;
    virtual void setObjectData(const Variant& value, intptr_t data) = 0;

    // The installed object; null removes it. The caller keeps ownership.
    static void setCurrent(Callbacks* callbacks);
    static Callbacks* getCurrent();
};

}  // namespace LxCore
