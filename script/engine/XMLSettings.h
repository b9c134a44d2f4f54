// The per-engine E4X settings and default namespace. The engine keeps the
// record and puts the default namespace back where a function activation or
// an outermost run ends; the E4X classes read and change it.
#pragma once
#include "core/Heap.h"
#include "core/String.h"

namespace LxScript {

using LxCore::i32;

class RealEngine;

// One record per engine, made on first use and kept by the engine.
class XMLSettings : public LxCore::Root {
public:
    LxCore::String defaultNamespace;
    i32 prettyIndent = 2;
    bool prettyPrinting = true;
    bool ignoreComments = true;
    bool ignoreProcessingInstructions = true;
    bool ignoreWhitespace = true;

    // The current engine's record (made when missing), or null without one.
    static XMLSettings* current();
    // The formatting value of toString and toXMLString: the indent when
    // pretty printing, -1 without; 2 without an engine.
    static i32 formatting();
};

// The engine's default XML namespace URI (empty without settings), and
// putting one back (a function activation and an outermost run keep it).
LxCore::String defaultXMLNamespaceOf(RealEngine& engine);
void restoreDefaultXMLNamespace(RealEngine& engine, const LxCore::String& uri) noexcept;
// Puts back at its end the default namespace a function activation began
// with. Nothing is copied while the engine has no settings; made during the
// activation, they go back to the empty namespace.
class XMLNamespaceKeeper {
public:
    explicit XMLNamespaceKeeper(RealEngine& engine);
    // Most activations meet no settings at either end: one load, no text.
    ~XMLNamespaceKeeper() {
        if (had || *settings)
            restore();
    }
    XMLNamespaceKeeper(const XMLNamespaceKeeper&) = delete;
    XMLNamespaceKeeper& operator=(const XMLNamespaceKeeper&) = delete;

private:
    void restore() noexcept;

    LxCore::Root* const* settings;      // the engine's record, null until made
    bool had;
    // The namespace at the start; made only when the settings existed then.
    union {
        LxCore::String before;
    };
};

}  // namespace LxScript
