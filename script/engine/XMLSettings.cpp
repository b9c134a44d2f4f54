#include "script/engine/XMLSettings.h"

#include <new>

#include "script/engine/RealEngine.h"

namespace LxScript {

using LxCore::String;

XMLSettings* XMLSettings::current() {
    auto* engine = dynamic_cast<RealEngine*>(Engine::getCurrent());
    if (!engine)
        return nullptr;
    LxCore::Root*& slot = engine->xmlSettingsSlot();
    if (!slot)
        slot = new XMLSettings;
    return static_cast<XMLSettings*>(slot);
}

i32 XMLSettings::formatting() {
    const XMLSettings* s = current();
    if (!s)
        return 2;
    return s->prettyPrinting ? s->prettyIndent : -1;
}

String defaultXMLNamespaceOf(RealEngine& engine) {
    const auto* s = static_cast<const XMLSettings*>(engine.xmlSettingsSlot());
    return s ? s->defaultNamespace : String();
}

XMLNamespaceKeeper::XMLNamespaceKeeper(RealEngine& engine)
    : settings(&engine.xmlSettingsSlot()), had(*settings != nullptr) {
    if (had)
        new (&before) String(defaultXMLNamespaceOf(engine));
}

// Settings made during the activation go back to the empty namespace.
void XMLNamespaceKeeper::restore() noexcept {
    auto* s = static_cast<XMLSettings*>(*settings);
    if (had) {
        if (s)
            s->defaultNamespace = before;
        before.~String();
    } else if (s) {
        s->defaultNamespace = String();
    }
}

void restoreDefaultXMLNamespace(RealEngine& engine, const String& uri) noexcept {
    if (auto* s = static_cast<XMLSettings*>(engine.xmlSettingsSlot()))
        s->defaultNamespace = uri;
}

}  // namespace LxScript
