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

// Units of long work between two looks at whether the script it serves has
// to stop (its deadline passed, it was halted). A unit is a piece of work
// of tens to hundreds of nanoseconds: an element, a match, a comparison, a
// node.
constexpr u32 kWorkPollUnits = 1024;

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
    // Long work done for a running script hands its units of work over as
    // it goes (through a WorkMeter); false: stop, the script has to end and
    // its engine holds the error. True when no script runs.
    virtual bool pollWork(u32 units);

    // The installed object; null removes it. The caller keeps ownership.
    static void setCurrent(Callbacks* callbacks);
    static Callbacks* getCurrent();
};

// Counts the units of one piece of long core work and hands them to the
// installed callbacks every kWorkPollUnits units. Core work polls only when
// its caller hands it a meter, and callers hand one only for work done for a
// running script: work for the host (a debugger's reply, the text of an
// error being reported) is never cut short.
class WorkMeter {
public:
    // False once the callbacks have said to stop, and from then on.
    bool add(u32 units = 1) {
        left -= i32(units);
        return left > 0 || report();
    }
    bool isStopped() const { return stopped; }

private:
    i32 left = i32(kWorkPollUnits);     // units before the next report
    bool stopped = false;

    bool report();
};

}  // namespace LxCore
