// The XML debug command protocol over one engine's debugger service.
#include "core/XML.h"
#include "script/library/debug/DebugAPI.h"

namespace LxScript {

// Not yet built: every command is unknown.
LxCore::XML* DebugAPI::executeXML(const LxCore::XML& request, LxCore::Error& errors) {
    return executeStaticXML(request, errors);
}

LxCore::XML* DebugAPI::executeStaticXML(const LxCore::XML&, LxCore::Error& errors) {
    errors.push(19);
    return nullptr;
}

}  // namespace LxScript
