#include "script/engine/Engine.h"

#include <new>
#include <stdexcept>

#include "core/ErrorCodes.h"
#include "core/InitTerm.h"
#include "core/Localizer.h"
#include "core/Variant.h"
#include "script/engine/TVContext.h"

namespace LxScript {

using LxCore::Error;
using LxCore::String;
namespace Err = LxCore::Err;

class EngineData : public LxCore::Root {
public:
    explicit EngineData(u32 id) : id(id) {}
    virtual ~EngineData() = default;

    String name;
    RuntimeError errorInfo;             // what getErrorInfo hands out
    Callback* callback = nullptr;
    LxCore::Localizer* localizer = nullptr;
    u32 id;

    // A thrown value whose record is not built yet, and where it was thrown.
    struct Thrown {
        LxCore::Variant value;
        String text;                    // an object's; a primitive's is its own
        bool textFromValue = false;
        bool wherePending = false;      // line, source and file still to be read off the frame
        i32 line = -1;
        String source;
        String fileName;
    } thrown;
};

namespace {

u32 lastEngineId = 0;                   // ids are never reused
Engine::Factory factory = nullptr;
bool libraryStarted = false;           // the engine library's start says so

// An anonymous script's name: its number in decimal, or "-0".
bool isAnonymousScriptName(const String& name) {
    if (name.compare("-0") == 0 || name.compare("0") == 0)
        return true;
    i32 length = name.length();
    if (length == 0 || name[0] < '1' || name[0] > '9')
        return false;
    i64 value = 0;
    for (i32 i = 0; i < length; i++) {
        if (name[i] < '0' || name[i] > '9')
            return false;
        value = value * 10 + (name[i] - '0');
        if (value > 0x7FFFFFFF)
            return false;
    }
    return true;
}

// Makes the engine's localizer current for a scope, when it has one.
class CurrentLocalizer {
public:
    explicit CurrentLocalizer(LxCore::Localizer* localizer) : active(localizer != nullptr) {
        if (!active)
            return;
        LxCore::ThreadData* record = LxCore::ThreadData::find();
        previous = record ? record->localizer : nullptr;
        LxCore::Localizer::setCurrent(localizer);
    }
    ~CurrentLocalizer() {
        if (active)
            LxCore::Localizer::setCurrent(previous);
    }
    CurrentLocalizer(const CurrentLocalizer&) = delete;
    CurrentLocalizer& operator=(const CurrentLocalizer&) = delete;

private:
    bool active;
    LxCore::Localizer* previous = nullptr;
};

// The live list; engines leave it even after the context is gone.
LxCore::TSimpleArray<Engine>* engineList() {
    TVContext* context = TVContext::find();
    return context ? &context->getEngines() : nullptr;
}

}  // namespace

// ---- RuntimeError ----

void RuntimeError::set(const Error& error) {
    code = error.getCode();
    error.getMessage(message);
    if (const LxCore::ErrorRecord* record = error.getRecord()) {
        source = record->source;
        line = record->line;
        start = record->start;
        column = i16(u16(record->further & 0xFFFF));
        length = record->length;
    } else {
        source.clear();
        line = -1;
        start = 0;
        column = 0;
        length = 0;
    }
}

// ---- life ----

Engine::Engine() {
    if (!isLibraryStarted())
        throw std::logic_error("An engine is made while the engine library is not started");
    data = new EngineData(LxCore::atomicIncrement(&lastEngineId));
    try {
        TVContext::get().getEngines().add(this);
    } catch (...) {
        delete data;
        throw;
    }
}

Engine::~Engine() {
    if (LxCore::TSimpleArray<Engine>* list = engineList())
        list->remove(this);
    delete data;
    if (ownsUserData)
        delete userData;
}

void Engine::setLibraryStarted(bool started) { libraryStarted = started; }

bool Engine::isLibraryStarted() { return LxCore::InitTerm::isInitialized() && libraryStarted; }

Engine::Factory Engine::setFactory(Factory newFactory) {
    Factory old = factory;
    factory = newFactory;
    return old;
}

Engine* Engine::createEngine(u32 type) {
    if (!factory || !isLibraryStarted())
        return nullptr;
    try {
        return factory();
    } catch (...) {
        return nullptr;
    }
}

i32 Engine::clone(Engine** out) const {
    if (!factory || !isLibraryStarted())
        return Err::kNotImplemented;
    Engine* copy = createEngine(0);
    if (!copy)
        return Err::kOutOfMemory;
    copy->data->errorInfo = data->errorInfo;
    copy->data->callback = data->callback;
    copy->data->localizer = data->localizer;
    copy->error = settledError();
    copy->debugFlags = debugFlags;
    copy->levels = levels;
    copy->levelsChanged();
    copy->userData = userData;
    copy->ownsUserData = false;
    if (out)
        *out = copy;
    else
        delete copy;
    return 0;
}

// ---- registry ----

Engine* Engine::findEngine(const String& name) {
    LxCore::TSimpleArray<Engine>* list = engineList();
    for (i32 i = 0; list && i < list->getCount(); i++)
        if (list->get(i)->getName() == name)
            return list->get(i);
    return nullptr;
}

void Engine::getAll(LxCore::TSimpleArray<Engine>& out) {
    if (LxCore::TSimpleArray<Engine>* list = engineList())
        out = *list;
    else
        out.setCount(0);
}

// Walks a copy, since a collection may make or destroy engines; an engine
// that has left the list meanwhile is skipped.
void Engine::gcAll() {
    LxCore::TSimpleArray<Engine> engines;
    getAll(engines);
    for (i32 i = 0; i < engines.getCount(); i++) {
        Engine* engine = engines.get(i);
        LxCore::TSimpleArray<Engine>* list = engineList();
        if (!list || list->find(engine) < 0)
            continue;
        engine->lock();
        try {
            engine->collectGarbage();
        } catch (...) {
            engine->unlock();
            throw;
        }
        engine->unlock();
    }
}

void Engine::invalidateClassAll(const String& name) {
    LxCore::TSimpleArray<Engine> engines;
    getAll(engines);
    for (i32 i = 0; i < engines.getCount(); i++) {
        Engine* engine = engines.get(i);
        LxCore::TSimpleArray<Engine>* list = engineList();
        if (list && list->find(engine) >= 0)
            engine->invalidateClass(name);
    }
}

// ---- members ----

u32 Engine::getID() const { return data->id; }

const String& Engine::getName() const { return data->name; }

bool Engine::setName(const String& name) {
    if (findEngine(name))
        return false;
    data->name = name;
    return true;
}

Callback* Engine::getCallback() const { return data->callback; }

void Engine::setCallback(Callback* callback) { data->callback = callback; }

LxCore::Localizer* Engine::getLocalizer() const { return data->localizer; }

void Engine::setLocalizer(LxCore::Localizer* localizer) { data->localizer = localizer; }

void Engine::setUserData(UserData* newData, bool owns) {
    if (ownsUserData && userData != newData)
        delete userData;
    userData = newData;
    ownsUserData = owns;
}

void Engine::setDebugLevel(i32 level) {
    level = level < 0 ? 0 : level > 2 ? 2 : level;
    levels = (levels & ~0xFFu) | u32(level);
    levelsChanged();
}

void Engine::setProfilingLevel(i32 level) {
    level = level < 0 ? 0 : level > 4 ? 4 : level;
    levels = (levels & ~0xFF00u) | (u32(level) << 8);
    levelsChanged();
}

// ---- errors ----

void Engine::clearError() {
    dropThrown();
    error.clear();
}

void Engine::restoreError(const Error& saved) {
    dropThrown();
    error = saved;
}

i32 Engine::getErrorCode() const { return thrownPending ? i32(Err::kScriptException) : error.getCode(); }

// The precedence rule: a fatal code empties a list holding an ordinary
// error; otherwise the first error stays.
bool Engine::acceptsError(i32 code) {
    if (code < 0 && getErrorCode() >= 1) {
        dropThrown();
        error.clear();
    }
    return code != 0 && getErrorCode() == 0;
}

void Engine::dropThrown() {
    if (!thrownPending)
        return;
    thrownPending = false;
    EngineData::Thrown& thrown = data->thrown;
    thrown.value.clear();
    // Only what this throw set holds anything: a caught number frees nothing.
    if (!thrown.textFromValue)
        thrown.text.clear();
    if (!thrown.wherePending) {
        thrown.source.clear();
        thrown.fileName.clear();
    }
    thrown.wherePending = false;
}

void Engine::setThrownError(const LxCore::Variant& value, const String* text, bool whereLater) {
    if (!acceptsError(Err::kScriptException))
        return;
    EngineData::Thrown& thrown = data->thrown;
    try {
        thrown.wherePending = whereLater;
        if (!whereLater)
            takeThrownWhere();
        thrown.value = value;
        thrown.textFromValue = text == nullptr;
        if (text)
            thrown.text = *text;
    } catch (const std::bad_alloc&) {
        // No room to keep it aside: the record is built at once, as the list
        // can always report a shortage.
        thrown.value.clear();
        thrown.wherePending = false;
        setError(Err::kScriptException, text ? *text : String(), -1, false);
        return;
    }
    thrownPending = true;
    onRuntimeError();
}

void Engine::takeThrownWhere() const {
    EngineData::Thrown& thrown = data->thrown;
    thrown.wherePending = false;
    FrameInfo frame;
    const bool running = innermostFrame(frame);
    thrown.line = running ? frame.line : -1;
    thrown.source = frame.source;
    thrown.fileName = namedScript(running ? &frame : nullptr);
}

void Engine::settleThrownWhere() const {
    if (thrownPending && data->thrown.wherePending) {
        try {
            takeThrownWhere();
        } catch (const std::bad_alloc&) {
            // The record goes without the file's name.
        }
    }
}

bool Engine::peekThrownValue(LxCore::Variant& out) const {
    if (!thrownPending)
        return false;
    out = data->thrown.value;
    return true;
}

// As setError and attaching the value would have built it at the throw.
void Engine::buildThrownRecord() const {
    EngineData::Thrown& thrown = data->thrown;
    settleThrownWhere();
    thrownPending = false;
    try {
        const String text = thrown.textFromValue ? thrown.value.toString() : thrown.text;
        {
            CurrentLocalizer scope(data->localizer);
            error.push(Err::kScriptException, text, nullptr, true);
        }
        error.setSource(thrown.source, thrown.line, 0, 0, 0);
        if (!thrown.fileName.isEmpty())
            error.setFileName(thrown.fileName);
        if (LxCore::ErrorRecord* record = error.editRecord())
            *record->getData() = thrown.value;
    } catch (const std::bad_alloc&) {
        error.clear();
        error.push(Err::kOutOfMemory);
    }
    thrown.value.clear();
    thrown.text.clear();
    thrown.source.clear();
    thrown.fileName.clear();
}

void Engine::setError(i32 code) { setError(code, String(), -1, false); }

void Engine::setError(i32 code, const String& text, i32 line, bool literal) {
    if (!acceptsError(code))
        return;
    FrameInfo frame;
    bool running = innermostFrame(frame);
    if (line < 0)
        line = running ? frame.line : -1;
    {
        CurrentLocalizer scope(data->localizer);
        error.push(code, text, nullptr, !literal);
    }
    error.setSource(running ? frame.source : String(), line, 0, 0, 0);
    completeFileName();
    onRuntimeError();
}

void Engine::setError(const RuntimeError& record) {
    if (!acceptsError(record.code))
        return;
    FrameInfo frame;
    bool running = innermostFrame(frame);
    i32 line = record.line >= 0 ? record.line : running ? frame.line : -1;
    String source = !record.source.isEmpty() ? record.source : running ? frame.source : String();
    error.push(record.code, record.message, nullptr, false);
    error.setSource(source, line, record.start, record.column, record.length);
    completeFileName();
    onRuntimeError();
}

void Engine::setError(const Error& given) {
    const LxCore::ErrorRecord* newest = given.getRecord();
    if (!newest)
        return;
    i32 code = newest->code;
    if (code >= 0 && (getErrorCode() != 0 || code == 0))
        return;
    dropThrown();
    error = given;
    FrameInfo frame;
    bool running = innermostFrame(frame);
    i32 line = newest->line >= 0 ? newest->line : running ? frame.line : -1;
    String source = !newest->source.isEmpty() ? newest->source : running ? frame.source : String();
    error.setSource(source, line, newest->start, newest->further, newest->length);
    completeFileName();
    onRuntimeError();
}

// Reporting an error never fails, and it is most often reported for want
// of memory: the frame's details are left out when there is no room for
// them (the error list itself falls back to its shared record).
bool Engine::innermostFrame(FrameInfo& out) const {
    try {
        return getFrameInfo(0, out);
    } catch (const std::bad_alloc&) {
        out = FrameInfo();
        return false;
    }
}

// An error without a file, or raised in an anonymous script, is charged to
// the nearest running script that has a name.
void Engine::completeFileName() {
    const LxCore::ErrorRecord* record = error.getRecord();
    if (!record || (!record->fileName.isEmpty() && !isAnonymousScriptName(record->fileName)))
        return;
    try {
        const String name = namedScript(nullptr);
        if (!name.isEmpty())
            error.setFileName(name);
    } catch (const std::bad_alloc&) {
        // No room for the name: the error goes without it.
    }
}

// The nearest running script that has a name, from the innermost frame
// (given when already read) outwards; empty when none has.
String Engine::namedScript(const FrameInfo* innermost) const {
    if (innermost && !innermost->scriptName.isEmpty() && !isAnonymousScriptName(innermost->scriptName))
        return innermost->scriptName;
    FrameInfo frame;
    for (i32 depth = innermost ? 1 : 0; getFrameInfo(depth, frame); depth++)
        if (!frame.scriptName.isEmpty() && !isAnonymousScriptName(frame.scriptName))
            return frame.scriptName;
    return String();
}

const RuntimeError& Engine::getErrorInfo() const {
    data->errorInfo.set(settledError());
    return data->errorInfo;
}

}  // namespace LxScript
