// What the engine asks of the library, answered by the library's classes.
#include "script/library/LibraryHooks.h"

#include "script/engine/LibraryHooks.h"
#include "script/engine/Runner.h"
#include "script/library/debug/DebugAPI.h"
#include "script/library/e4x/XMLObject.h"
#include "script/library/reflection/Reflection.h"

namespace LxScript {

namespace {

LxCore::XML* xmlNode(LxCore::LiveObject* live) { return getXMLFromLiveObject(live, false); }

DebugAPI& debugAPI(API& debug) { return static_cast<DebugAPI&>(debug); }

Workspace* frameScope(API& debug) {
    const DebugAPI& d = debugAPI(debug);
    return d.frameAt(d.getContextLevel())->getScope();
}

Property* swapWatchpoint(API& debug, Property* slot) { return debugAPI(debug).swapWatchpoint(slot); }

constexpr LibraryHooks kLibrary = {
    xmlNode,
    namespaceFromValue,
    makeXMLVariant,
    deleteXMLValue,
    collectXMLForInKeys,
    collectXMLForEachValues,
    xmlSimpleText,
    ensureXMLChildElement,
    xmlObjectHasSymbol,
    attachXMLPrototype,
    linkXMLListPrototype,
    makeDictionaryObject,
    frameScope,
    swapWatchpoint,
};

}  // namespace

void installLibraryHooks(bool start) { setLibraryHooks(start ? &kLibrary : nullptr); }

}  // namespace LxScript
