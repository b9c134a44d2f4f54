#include "script/composition/TVCallbacks.h"

#include "core/Dictionary.h"
#include "core/Localizer.h"
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/DispatcherDictionary.h"
#include "script/engine/Property.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/frontend/DataPool.h"
#include "script/library/dollar/DollarClass.h"
#include "script/library/e4x/XMLObject.h"

namespace LxCore {

using LxScript::DataPool;
using LxScript::Object;
using LxScript::Property;
using LxScript::RealEngine;

namespace {

TVCallbacks* installed = nullptr;
intptr_t sharedWord = 0;            // the host word of values that are no script object
thread_local u32 localeNesting = 0;

RealEngine* currentEngine() { return dynamic_cast<RealEngine*>(LxScript::Engine::getCurrent()); }

// A plain own slot's value; null for any other kind of slot, which would run
// native or script code to answer.
const Variant* plainValue(Object* object, const char* name) {
    if (!object)
        return nullptr;
    Property* slot = object->findOwnProperty(DataPool::get().add(name), 0);
    return slot && slot->getKind() == Property::kPlain ? &slot->cachedValue() : nullptr;
}

// Keeps the nesting count for one call on every way out.
struct Nesting {
    Nesting() { localeNesting++; }
    ~Nesting() { localeNesting--; }
    Nesting(const Nesting&) = delete;
    Nesting& operator=(const Nesting&) = delete;
};

}  // namespace

void TVCallbacks::getLocaleInfo(String& locale, String& info) {
    RealEngine* engine = currentEngine();
    if (!engine || localeNesting > 0)
        return;
    const Nesting nesting;
    // What "$".locale reads: the engine's own setting, else the localizer's.
    locale = engine->getLocaleText().isEmpty() ? Localizer::getCurrentLocale() : engine->getLocaleText();
    if (!engine->isInitialized())
        return;
    const Variant* dollar = plainValue(engine->getGlobalObject(), "$");
    const Variant* zstring = dollar ? plainValue(LxScript::objectOf(*dollar), "zstringInfo") : nullptr;
    if (zstring && zstring->getType() == Variant::kString)
        info = zstring->toString();
}

Dictionary* TVCallbacks::createDictionary() { return new LxScript::DispatcherDictionary; }

void TVCallbacks::getCurrentScriptFile(String& out) {
    out.clear();
    RealEngine* engine = currentEngine();
    if (!engine)
        return;
    for (LxScript::RuntimeEnv* frame = engine->getCurrentFrame(); frame; frame = frame->previous) {
        if (LxScript::hasProperFileName(*frame)) {
            out = DataPool::get().getSymbol(frame->fileId);
            return;
        }
    }
}

Dictionary* TVCallbacks::createDefaultDictionary() {
    Dictionary* dictionary = new Dictionary(kScriptClient);
    try {
        dictionary->addClasses(LxScript::getXMLClassTable());
    } catch (...) {
        delete dictionary;
        throw;
    }
    return dictionary;
}

void TVCallbacks::getSymbolName(String& out, u32 id) { out = DataPool::get().getSymbol(LxScript::DataPoolId(id)); }

LxScript::Engine* TVCallbacks::getCurrentEngine() { return LxScript::Engine::getCurrent(); }

intptr_t TVCallbacks::getObjectData(const Variant& value) {
    Object* object = LxScript::objectOf(value);
    return object ? intptr_t(*object->getHostDataSlot()) : sharedWord;
}

void TVCallbacks::setObjectData(const Variant& value, intptr_t data) {
    if (Object* object = LxScript::objectOf(value))
        *object->getHostDataSlot() = u64(data);
    else
        sharedWord = data;
}

bool TVCallbacks::pollWork(u32 units) {
    RealEngine* engine = currentEngine();
    return !engine || engine->pollWork(units);
}

void TVCallbacks::install(bool start) {
    Callbacks::setCurrent(nullptr);
    delete installed;
    installed = start ? new TVCallbacks : nullptr;
    Callbacks::setCurrent(installed);
}

}  // namespace LxCore
