// The engine's answers to what the core asks of its host: the locale a
// script set, the dictionaries of the script classes, the running script's
// file, symbol texts, the current engine, a host word per script object and
// the poll of long work.
// The engine library installs one at start and deletes it at exit.
#pragma once
#include "core/Callbacks.h"

namespace LxCore {

class TVCallbacks : public Callbacks {
public:
    ~TVCallbacks() override = default;
    // "$".locale and "$".zstringInfo when they are strings. Read from their
    // stores, so no script runs while an error is being localised; a call
    // made while one is under way answers nothing.
    void getLocaleInfo(String& locale, String& info) override;
    Dictionary* createDictionary() override;
    // The innermost running frame whose script has a proper name.
    void getCurrentScriptFile(String& out) override;
    // The E4X classes QName, Namespace and XML, group "JavaScript".
    Dictionary* createDefaultDictionary() override;
    void getSymbolName(String& out, u32 id) override;
    LxScript::Engine* getCurrentEngine() override;
    // A script object's host word; any other value uses one process-wide word.
    intptr_t getObjectData(const Variant& value) override;
    void setObjectData(const Variant& value, intptr_t data) override;
    // The current engine's pollWork.
    bool pollWork(u32 units) override;

    // The engine library's step "core callbacks".
    static void install(bool start);
};

}  // namespace LxCore
