// alert, confirm and prompt for scripts: a live component an embedding
// attaches to a script's global object; the dialogs are the core's.
// And the engine's 'live' interface: the live object behind the global
// object, and E4X values as core XML nodes and back.
#pragma once
#include "core/LiveBase.h"
#include "core/LiveObject.h"
#include "script/engine/Engine.h"

namespace LxCore {
class XML;
}  // namespace LxCore

namespace LxScript {

class RealEngine;

class GlobalDialogs : public LxCore::LiveComponent {
public:
    static constexpr i32 kAlert = i32(LxCore::fourCharCode("TVAL"));
    static constexpr i32 kConfirm = i32(LxCore::fourCharCode("TVCO"));
    static constexpr i32 kPrompt = i32(LxCore::fourCharCode("TVPR"));

    GlobalDialogs();                    // throws std::bad_alloc
    ~GlobalDialogs() override;

    static const LxCore::LivePropertyInfo* getPropertyTable();
    i32 call(LxCore::LiveObject& self, i32 id, const LxCore::Array& args, LxCore::Variant& result,
             LxCore::Error* error) override;
};

class LiveObjectAPI : public API {
public:
    explicit LiveObjectAPI(RealEngine& engine);

    // After the engine's lazy set-up.
    LxCore::LiveObject& getGlobalObject() const;
    void setGlobalObject(LxCore::LiveObject& live) const;
    // The node behind an E4X value with a reference added; null for others.
    LxCore::XML* getXML(const LxCore::Variant& value) const;
    // A new E4X object (a list for a list node) over the node; the caller
    // keeps its own reference.
    void makeXMLObject(const LxCore::XML& node, LxCore::Variant& result) const;

private:
    RealEngine& real;
};

// Where the E4X classes hook in: how a value's node is found and how a node
// becomes a value. Unset, getXML gives null and makeXMLObject undefined.
struct XMLBridge {
    LxCore::XML* (*nodeOf)(const LxCore::Variant& value, bool addRef);
    void (*wrap)(LxCore::XML* node, LxCore::Variant& out);
};
void setXMLBridge(const XMLBridge* bridge);

}  // namespace LxScript
