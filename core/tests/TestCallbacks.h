// A stand-in for the engine's callbacks: answers from its own fields and
// counts the calls, so core code that asks the engine can be tested alone.
#pragma once
#include <cstdint>

#include "core/Callbacks.h"
#include "core/String.h"
#include "script/engine/Engine.h"

namespace LxCore {

class TestCallbacks : public Callbacks {
public:
    String locale;          // what getLocaleInfo answers; empty leaves the out alone
    String info;
    String scriptFile;
    intptr_t objectData = 0;   // one slot for every value
    int calls = 0;

    void getLocaleInfo(String& localeOut, String& infoOut) override {
        calls++;
        if (!locale.isEmpty())
            localeOut = locale;
        if (!info.isEmpty())
            infoOut = info;
    }
    Dictionary* createDictionary() override {
        calls++;
        return nullptr;
    }
    void getCurrentScriptFile(String& out) override {
        calls++;
        out = scriptFile;
    }
    Dictionary* createDefaultDictionary() override {
        calls++;
        return nullptr;
    }
    void getSymbolName(String& out, u32 id) override {
        calls++;
        out.sprintf("symbol%u", id);
    }
    LxScript::Engine* getCurrentEngine() override {
        calls++;
        return LxScript::Engine::getCurrent();
    }
    intptr_t getObjectData(const Variant&) override {
        calls++;
        return objectData;
    }
    void setObjectData(const Variant&, intptr_t data) override {
        calls++;
        objectData = data;
    }
};

// Installs callbacks for one scope.
class UsingCallbacks {
public:
    explicit UsingCallbacks(Callbacks* callbacks) { Callbacks::setCurrent(callbacks); }
    ~UsingCallbacks() { Callbacks::setCurrent(nullptr); }
    UsingCallbacks(const UsingCallbacks&) = delete;
    UsingCallbacks& operator=(const UsingCallbacks&) = delete;
};

}  // namespace LxCore
