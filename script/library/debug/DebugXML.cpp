// The XML debug command protocol over one engine's debugger service: one
// table row per command, each a small function that builds its reply. The
// reply pieces (values, errors, properties, profiling) are in DebugXMLValues.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

#include "base/platform/MemoryReserve.h"
#include "core/Clock.h"
#include "core/Dictionary.h"
#include "core/Encoder.h"
#include "core/ErrorCodes.h"
#include "core/File.h"
#include "core/FileSpec.h"
#include "core/XML.h"
#include "core/platform/FileSystem.h"
#include "script/engine/Function.h"
#include "script/engine/ObjectSlots.h"
#include "script/engine/RealEngine.h"
#include "script/engine/Runner.h"
#include "script/engine/Workspace.h"
#include "script/frontend/Node.h"
#include "script/library/debug/DebugAPI.h"
#include "script/library/debug/DebugXMLValues.h"

namespace LxScript {

using LxCore::Error;
using LxCore::String;
using LxCore::XML;
using namespace DebugXML;
namespace Err = LxCore::Err;

namespace {

constexpr u32 kDebuggerFlags = 0x403;      // the bits the protocol sets and reports
constexpr i32 kMaxProfilingLevel = 4;
constexpr u32 kParameterTextLimit = 99999999;
constexpr i32 kReadWholeFile = 0x7FFFFFFF;

// One command being served.
struct Call {
    DebugAPI* api;              // null for the static commands
    const XML& request;
    Error& errors;
    ChangeResets resets;

    RealEngine& engine() const { return api->getRealEngine(); }
};

using Handler = XML* (*)(Call&);

// ---- Helpers of several commands ----

bool holdsError(const Error& errors) {
    for (const LxCore::ErrorRecord* r = errors.getRecord(); r; r = r->next)
        if (r->code != 0)
            return true;
    return false;
}

void setDebuggerFlags(Engine& engine, i32 bits) {
    engine.setDebugFlags((engine.getDebugFlags() & ~kDebuggerFlags) | (u32(bits) & kDebuggerFlags));
}

// "profiling" as a level: clamped first, so that the most negative number
// has an absolute value too.
i32 profilingOf(const XML& request) {
    const i32 asked = intAttribute(request, "profiling");
    return asked < -kMaxProfilingLevel ? -kMaxProfilingLevel : asked > kMaxProfilingLevel ? kMaxProfilingLevel : asked;
}

// While a command runs, new nodes and parsing use no default namespace.
class DefaultNamespaceScope {
public:
    DefaultNamespaceScope() : savedURI(XML::setDefaultNamespaceURI(String())) {}
    ~DefaultNamespaceScope() { XML::setDefaultNamespaceURI(savedURI); }
    DefaultNamespaceScope(const DefaultNamespaceScope&) = delete;
    DefaultNamespaceScope& operator=(const DefaultNamespaceScope&) = delete;

private:
    String savedURI;
    LxCore::NewNodeNamespaceScope noNamespace{nullptr};
};

// The breakpoints of a "breakpoints" element replace the engine's.
void applyBreakpoints(DebugAPI& api, const XML& element) {
    RealEngine& engine = api.getRealEngine();
    if (engine.getDebugLevel() == 0)
        engine.setDebugLevel(1);
    if (hasAttribute(element, "flags"))
        setDebuggerFlags(engine, intAttribute(element, "flags"));
    std::vector<std::unique_ptr<BreakpointInfo>> owned;
    LxCore::TSimpleArray<BreakpointInfo> list;
    for (i32 i = 0; i < element.getChildCount(); i++) {
        const XML* child = element.getChild(i);
        if (child->getKind() != XML::kElement || child->getName().compare("breakpoint") != 0)
            continue;
        owned.emplace_back(new BreakpointInfo);
        BreakpointInfo& b = *owned.back();
        const String file = textAttribute(*child, "file");
        b.file = i32(DataPool::get().add(file.chars(), file.length()));
        const i32 line = intAttribute(*child, "line");
        b.line = line > 0 ? line - 1 : 0;
        b.hits = intAttribute(*child, "hits");
        b.count = textAttribute(*child, "count").isEmpty() ? -1 : intAttribute(*child, "count");
        b.enabled = boolAttribute(*child, "enabled") ? 1 : 0;
        child->toString(b.condition, -1);
        list.add(&b);
    }
    api.setBreakpoints(&list);
}

String functionName(Object& callee) {
    if (callee.getNameID())
        return symbolText(i32(callee.getNameID()));
    if (Function* function = callee.asFunction())
        if (function->getInferredName())
            return symbolText(i32(function->getInferredName()));
    return String("function");
}

// The context level for a scope, put back on every way out.
class ContextLevelScope {
public:
    ContextLevelScope(DebugAPI& api, i32 level) : api(api), saved(api.getContextLevel()) {
        api.setContextLevel(level);
    }
    ~ContextLevelScope() { api.setContextLevel(saved); }
    ContextLevelScope(const ContextLevelScope&) = delete;
    ContextLevelScope& operator=(const ContextLevelScope&) = delete;

private:
    DebugAPI& api;
    i32 saved;
};

// The "frame" element of "get-frame", "set-frame" and "get-break"; null
// when no frame runs (or when its properties failed, with the error).
XML* frameElement(Call& c) {
    i32 level = intAttribute(c.request, "frame");
    level = level < 0 ? 0 : level;
    RuntimeEnv* frame = c.api->frameAt(level);
    if (!frame)
        return nullptr;
    XMLHold element(newElement("frame"));
    setAttribute(*element.get(), "file", symbolText(i32(frame->fileId)));
    setNumber(*element.get(), "line", i64(frame->line) + 1);
    if (frame->isCompiled()) {
        setAttribute(*element.get(), "type", String("compiled"));
        return element.take();
    }
    setAttribute(*element.get(), "type", String("script"));
    Workspace* scope = frame->getScope();
    if (Object* callee = scope ? scope->getCallee() : nullptr) {
        setAttribute(*element.get(), "name", functionName(*callee));
        LxCore::Array texts;
        scope->getArgumentTexts(texts, kParameterTextLimit);
        for (i32 i = 0; i < i32(texts.length()); i++)
            addCDATAChild(*element.get(), "param", texts[i].toString());
    }
    if (wantsProperties(c.request)) {
        ContextLevelScope context(*c.api, level);
        XML* properties = propertiesElement(*c.api, c.request, c.errors, c.resets);
        if (!properties)
            return nullptr;
        element->insert(properties, XML::kAppend, true);
    }
    if (const ScopeInfo* info = frame->getScopeInfo())
        if (!info->source.isEmpty())
            addCDATAChild(*element.get(), "source", info->source);
    return element.take();
}

// Between the blocks of the script file that "eval" reads: the eval's
// deadline ends the read with -35, and a <halt/> with -34. The debugger
// hook is polled for the halt as it is while a script runs, about once a
// tick of the engine's clock.
class ScriptFileWatch : public LxCore::ReadWatch {
public:
    // Without a timeout of its own the eval has the engine's default, but
    // only when it does not run inside a stopped script.
    ScriptFileWatch(RealEngine& engine, i32 timeoutMs)
        : engine(engine),
          timeoutMs(timeoutMs > 0 ? timeoutMs : engine.isRunning() ? 0 : defaultTimeout(engine)),
          start(LxCore::getMicroseconds()), lastPoll(start - kPollMicroseconds) {}

    i32 check() override {
        if (LxCore::getMicroseconds() - lastPoll >= kPollMicroseconds) {
            if (Debugger* hook = engine.getDebugger()) {
                LxCore::LockableGuard guard(*hook);
                hook->poll(engine);
            }
            lastPoll = LxCore::getMicroseconds();
        }
        if (engine.getError().getCode() == Err::kExecutionHalted)
            return Err::kExecutionHalted;
        const i64 spent = LxCore::getMicroseconds() - start;
        return timeoutMs > 0 && spent >= i64(timeoutMs) * 1000 ? Err::kEngineTimeout : 0;
    }

    // The eval's timeout less the time the read took (at least 1 ms); 0
    // without a timeout.
    i32 remainingMs() const {
        if (timeoutMs <= 0)
            return 0;
        const i64 left = i64(timeoutMs) - (LxCore::getMicroseconds() - start) / 1000;
        return left < 1 ? 1 : i32(left);
    }

private:
    static constexpr i64 kPollMicroseconds = 50000;

    // The engine keeps its default to itself: asked by setting it back.
    static i32 defaultTimeout(RealEngine& engine) {
        const i32 ms = engine.setTimeout(0);
        engine.setTimeout(ms);
        return ms;
    }

    RealEngine& engine;
    const i32 timeoutMs;
    const i64 start;
    i64 lastPoll;
};

// Reads a script file for "eval": a byte-order mark names the encoding;
// without one UTF-8, and the system's encoding when that does not decode.
// Only a regular file of a bounded size is read.
i32 readSourceFile(const String& path, String& out, LxCore::ReadWatch& watch) {
    static const char* const kMarked[] = {"UCS-2LE", "UCS-2BE", "UCS-4LE", "UCS-4BE", "UTF8", "UTF-8"};
    LxCore::FileSpec spec(path, false);
    if (spec.getAttributes() & 8) {
        LxCore::FileSpec target;
        if (spec.resolveAlias(target) == 0)
            spec = target;
    }
    LxCore::File file(spec);
    i32 status = file.openScript();
    if (status != 0)
        return status;
    file.setReadWatch(&watch);
    bool marked = false;
    for (const char* name : kMarked)
        marked = marked || file.getEncoding().compare(name) == 0;
    if (!marked)
        file.setEncoding(String("UTF-8"));
    status = file.read(kReadWholeFile, out);
    LxCore::Encoder* system = LxCore::systemEncoder();
    if (!marked && system && (status == Err::kCharConversion || status == Err::kPartialCharacter)) {
        String names;
        system->getNames(names);
        file.setEncoding(names.nextToken(','));
        file.seek(0, 0);
        out.clear();
        status = file.read(kReadWholeFile, out);
    }
    file.close();
    return status;
}

// The error of a script file that could not be read, naming the file; one
// that is no regular file says so.
void pushReadError(Error& errors, i32 status, const String& path) {
    String native;
    LxCore::FileSpec(path, false).getNativePath(native);
    if (status == Err::kIOError && LxCore::platformGetAttributes(native) != 0 &&
        !LxCore::platformIsRegularFile(native)) {
        String text = path;
        text += " is not a regular file";
        errors.push(status, text, nullptr, false);
    } else {
        errors.push(status, path, nullptr, true);
    }
    errors.setFileName(path);
}

// The debug level, debug flags and profiling level "eval" changes for its run.
class LevelsKeep {
public:
    explicit LevelsKeep(Engine& engine)
        : engine(engine), debug(engine.getDebugLevel()), profiling(engine.getProfilingLevel()),
          flags(engine.getDebugFlags()) {}
    ~LevelsKeep() {
        engine.setProfilingLevel(profiling);
        engine.setDebugLevel(debug);
        engine.setDebugFlags(flags);
    }
    LevelsKeep(const LevelsKeep&) = delete;
    LevelsKeep& operator=(const LevelsKeep&) = delete;

private:
    Engine& engine;
    i32 debug;
    i32 profiling;
    u32 flags;
};

// While frames run, the error they stopped at, put back after an
// evaluation on every way out; idle, the error is only cleared.
class StoppedErrorKeep {
public:
    explicit StoppedErrorKeep(RealEngine& engine)
        : engine(engine), saved(engine.getError()), active(engine.isRunning()) {
        engine.clearError();
    }
    ~StoppedErrorKeep() { restore(); }
    StoppedErrorKeep(const StoppedErrorKeep&) = delete;
    StoppedErrorKeep& operator=(const StoppedErrorKeep&) = delete;
    void restore() {
        if (active)
            engine.restoreError(saved);
        active = false;
    }

private:
    RealEngine& engine;
    Error saved;
    bool active;
};

// ---- The commands ----

XML* getInfo(Call&);

XML* getProperties(Call& c) { return propertiesElement(*c.api, c.request, c.errors, c.resets); }

XML* evalCommand(Call& c) {
    RealEngine& engine = c.engine();
    const XML& r = c.request;
    const bool reset = boolAttribute(r, "reset");
    // Re-initialising under live frames would pull the engine from under them.
    if (reset && engine.isRunning()) {
        c.errors.push(Err::kBadArgument, String("reset"), nullptr, true);
        return nullptr;
    }
    // Stopped at an error, the stopped frame keeps it: the evaluation's own
    // error is reported, not left in its place.
    StoppedErrorKeep stopped(engine);
    String source;
    if (const XML* text = childElement(r, "source"))
        text->toString(source, -1);
    const String file = textAttribute(r, "file");
    i32 timeout = intAttribute(r, "timeout");
    if (source.isEmpty() && !file.isEmpty()) {
        ScriptFileWatch watch(engine, timeout);
        const i32 status = readSourceFile(file, source, watch);
        if (status != 0) {
            // A halt taken in while reading ends the read alone.
            if (engine.getError().getCode() == Err::kExecutionHalted)
                engine.clearError();
            if (!holdsError(c.errors))
                pushReadError(c.errors, status, file);
            return nullptr;
        }
        timeout = watch.remainingMs();
    }
    if (reset) {
        engine.initialize();
        // The objects the old globals held went to the object heap's
        // lists. After memory ran out (the reserve is gone) what they
        // filled whole goes back, to serve any need: the memory a reset is
        // asked to give back. Otherwise the lists are kept for reuse, not
        // walked.
        if (!LxBase::MemoryReserve::isHeld())
            ObjectHeap::releaseFreeChunks();
    }
    // Held while the script runs, so that one that uses up memory leaves
    // room for the answer; given up when it did.
    LxBase::MemoryReserve::take(0);
    const i32 profiling = profilingOf(r);
    Variant result;
    {
        LevelsKeep levels(engine);
        engine.setDebugLevel(intAttribute(r, "debug"));
        setDebuggerFlags(engine, intAttribute(r, "flags"));
        engine.setProfilingLevel(std::abs(profiling));
        if (countChildElements(r, "breakpoints") == 1)
            applyBreakpoints(*c.api, *childElement(r, "breakpoints"));
        engine.clearProfilerData();
        engine.eval(source, &result, timeout, 0, nullptr, file.isEmpty() ? nullptr : &file);
    }
    Error failure;
    if (engine.getError().getCode() != 0) {
        failure = engine.getError();
        engine.clearError();
    }
    if (failure.getCode() == Err::kOutOfMemory)
        LxBase::MemoryReserve::release();
    stopped.restore();
    XMLHold reply(newElement("evalresult"));
    if (XML* outcome = failure.getCode() != 0 ? errorElement(failure) : valueElement(engine, result, nullptr))
        reply->insert(outcome, XML::kAppend, true);
    if (wantsProperties(r)) {
        XML* properties = propertiesElement(*c.api, r, c.errors, c.resets);
        if (!properties)
            return nullptr;
        reply->insert(properties, XML::kAppend, true);
    }
    reply->insert(profilingElement(*c.api, std::abs(profiling), profiling < 0), XML::kAppend, true);
    return reply.take();
}

XML* getBreakpoints(Call& c) {
    XMLHold reply(newElement("breakpoints"));
    setNumber(*reply.get(), "flags", c.engine().getDebugFlags() & kDebuggerFlags);
    LxCore::TSimpleArray<BreakpointInfo> list;
    c.api->getBreakpoints(list);
    std::vector<std::unique_ptr<BreakpointInfo>> owned;
    for (i32 i = 0; i < list.getCount(); i++)
        owned.emplace_back(list.get(i));
    for (const auto& b : owned) {
        XML* element = newElement("breakpoint");
        reply->insert(element, XML::kAppend, true);
        setAttribute(*element, "file", symbolText(b->file));
        setNumber(*element, "line", i64(b->line) + 1);
        setNumber(*element, "hits", b->hits);
        setNumber(*element, "count", b->count);
        if (!b->condition.isEmpty())
            addCDATA(*element, b->condition);
    }
    return reply.take();
}

XML* setBreakpoints(Call& c) {
    applyBreakpoints(*c.api, c.request);
    return nullptr;
}

XML* getProfiling(Call& c) {
    return profilingElement(*c.api, c.engine().getProfilingLevel(), boolAttribute(c.request, "erase"));
}

XML* clearProfiling(Call& c) {
    if (c.engine().getProfilerRecords())
        c.engine().clearProfilerData();
    return nullptr;
}

XML* getDictionaries(Call&) {
    XMLHold reply(newElement("dictionaries"));
    LxCore::SimpleArray entries;
    LxCore::Dictionary::getRegistry()->getEntries(entries);
    for (i32 i = 0; i < entries.getCount(); i++) {
        const auto* entry = reinterpret_cast<const LxCore::DictionaryRegistry::Entry*>(entries.get(i));
        XML* element = newElement("dictionary");
        reply->insert(element, XML::kAppend, true);
        addText(*element, entry->value->getName());
        if (entry->value->isDefault())
            setAttribute(*element, "default", String("true"));
    }
    return reply.take();
}

XML* getDictionary(Call& c) {
    LxCore::Dictionary* dictionary = LxCore::Dictionary::find(textAttribute(c.request, "dictname"));
    const String prefix = textAttribute(c.request, "prefix");
    XML* map = dictionary ? dictionary->toXML(&prefix) : nullptr;
    if (!map)
        c.errors.push(Err::kNotImplemented, String(), nullptr, true);
    return map;
}

// Appends the class's description; error 2 when the dictionary lacks it.
bool appendClass(Call& c, LxCore::Dictionary& dictionary, XML& package, const String& name) {
    XML* description = dictionary.getClassXML(name);
    if (!description) {
        c.errors.push(Err::kUndefined, name, nullptr, true);
        return false;
    }
    package.insert(description, XML::kAppend, true);
    return true;
}

XML* getPackage(Call& c) {
    LxCore::Dictionary* dictionary = LxCore::Dictionary::find(textAttribute(c.request, "dictname"));
    if (!dictionary) {
        c.errors.push(Err::kNotImplemented, String(), nullptr, true);
        return nullptr;
    }
    String group = textAttribute(c.request, "group");
    if (group.isEmpty())
        group = "All";
    const String prefix = textAttribute(c.request, "prefix");
    XMLHold package(newElement("package"));
    const bool named = countChildElements(c.request, "element") > 0;
    if (named) {
        for (i32 i = 0; i < c.request.getChildCount(); i++) {
            const XML* child = c.request.getChild(i);
            if (child->getKind() != XML::kElement || child->getName().compare("element") != 0)
                continue;
            String name;
            child->toString(name, -1);
            if (!appendClass(c, *dictionary, *package.get(), name))
                return nullptr;
        }
    } else {
        LxCore::StringList classes;
        dictionary->getClasses(group, classes);
        bool complete = true;
        for (i32 i = 0; i < classes.getCount() && complete; i++)
            complete = appendClass(c, *dictionary, *package.get(), *classes.get(i));
        LxCore::freeStrings(classes);
        if (!complete)
            return nullptr;
    }
    if (named || group.compare("All") != 0)
        return package.take();
    XMLHold reply(newElement("dictionary"));
    if (XML* map = dictionary->toXML(&prefix))
        reply->insert(map, XML::kAppend, true);
    reply->insert(package.take(), XML::kAppend, true);
    return reply.take();
}

XML* getBreak(Call& c) {
    RealEngine& engine = c.engine();
    c.api->setContextLevel(0);
    XMLHold reply(newElement("break"));
    setNumber(*reply.get(), "flags", engine.getDebugFlags() & kDebuggerFlags);
    if (XML* error = errorElement(engine.getError()))
        reply->insert(error, XML::kAppend, true);
    // One frame a line, the outermost first; walked here, not cut from the
    // stack text, since a frame's text may hold line breaks of its own.
    XML* stack = newElement("stack");
    reply->insert(stack, XML::kAppend, true);
    std::vector<RuntimeEnv*> frames;
    for (RuntimeEnv* frame = engine.getCurrentFrame(); frame; frame = frame->previous)
        frames.push_back(frame);
    String text;
    for (auto it = frames.rbegin(); it != frames.rend(); ++it)
        addCDATAChild(*stack, "frameinfo", (*it)->getFrameText(text));
    if (XML* frame = frameElement(c))
        reply->insert(frame, XML::kAppend, true);
    reply->insert(profilingElement(*c.api, engine.getProfilingLevel(), false), XML::kAppend, true);
    return reply.take();
}

XML* getFrame(Call& c) { return frameElement(c); }

XML* setFrame(Call& c) {
    const i32 level = intAttribute(c.request, "frame");
    c.api->setContextLevel(level >= 1 ? level : 0);
    return frameElement(c);
}

// The run-control commands: profiling, debug flags, breakpoints, then the command.
XML* runControl(Call& c, DebugAPI::Cmd cmd, bool withBreakpoints) {
    RealEngine& engine = c.engine();
    engine.setProfilingLevel(std::abs(profilingOf(c.request)));
    setDebuggerFlags(engine, intAttribute(c.request, "flags"));
    if (withBreakpoints)
        if (const XML* breakpoints = childElement(c.request, "breakpoints"))
            applyBreakpoints(*c.api, *breakpoints);
    c.api->command(cmd, boolAttribute(c.request, "ignore-errors"));
    return nullptr;
}

XML* continueCommand(Call& c) { return runControl(c, DebugAPI::kContinue, true); }
XML* breakCommand(Call& c) { return runControl(c, DebugAPI::kBreak, false); }
XML* haltCommand(Call& c) { return runControl(c, DebugAPI::kHalt, false); }
XML* stepInto(Call& c) { return runControl(c, DebugAPI::kStepInto, true); }
XML* stepOver(Call& c) { return runControl(c, DebugAPI::kStepOver, true); }
XML* stepOut(Call& c) { return runControl(c, DebugAPI::kStepOut, true); }

XML* print(Call& c) {
    LxCore::File* stream = c.api->getOutputStream();
    if (!stream)
        return nullptr;
    String text, piece;
    for (i32 i = 0; i < c.request.getChildCount(); i++)
        text += c.request.getChild(i)->toXMLString(piece, -1);
    stream->write(text, true);
    return nullptr;
}

// Windows only: there are no windows to bring to the front here.
XML* toFront(Call&) { return nullptr; }

struct Command {
    const char* name;
    Handler run;
    bool listed;                // reported by "get-info"
    bool isStatic;              // served without an engine
    bool named;                 // the reply carries the engine's name
};

// In the order "get-info" lists them.
const Command kCommands[] = {
    {"get-properties", getProperties, true, false, true},
    {"eval", evalCommand, true, false, true},
    {"get-breakpoints", getBreakpoints, true, false, true},
    {"breakpoints", setBreakpoints, true, false, true},
    {"get-profiling", getProfiling, true, false, true},
    {"clear-profiling", clearProfiling, true, false, true},
    {"get-break", getBreak, true, false, true},
    {"get-frame", getFrame, true, false, true},
    {"set-frame", setFrame, true, false, true},
    {"continue", continueCommand, true, false, true},
    {"break", breakCommand, true, false, true},
    {"halt", haltCommand, true, false, true},
    {"stepinto", stepInto, true, false, true},
    {"stepover", stepOver, true, false, true},
    {"stepout", stepOut, true, false, true},
    {"print", print, true, false, true},
    {"get-dictionaries", getDictionaries, true, true, false},
    {"get-map", getDictionary, true, true, false},
    {"get-package", getPackage, true, true, false},
    {"tofront", toFront, true, true, true},
    {"get-info", getInfo, false, true, true},
    {"get-dictionary", getDictionary, false, true, false},
};

XML* getInfo(Call&) {
    char version[16];
    std::snprintf(version, sizeof version, "%d.%d.%d", (Engine::kVersion >> 16) & 0xFF,
                  (Engine::kVersion >> 8) & 0xFF, Engine::kVersion & 0xFF);
    XMLHold reply(newElement("info"));
    setAttribute(*reply.get(), "tvversion", String(version));
    for (const Command& command : kCommands) {
        if (!command.listed)
            continue;
        XML* element = newElement("command");
        reply->insert(element, XML::kAppend, true);
        addText(*element, String(command.name));
        setAttribute(*element, "version", String("1"));
        setAttribute(*element, "static", String(command.isStatic ? "true" : "false"));
    }
    return reply.take();
}

const Command* findCommand(const XML& request, bool staticOnly) {
    if (request.getKind() != XML::kElement)
        return nullptr;
    for (const Command& command : kCommands)
        if (request.getName().compare(command.name) == 0)
            return staticOnly && !command.isStatic ? nullptr : &command;
    return nullptr;
}

// Runs one request; a reply only when no error record is left, and only
// then are the reported changes forgotten. No exception leaves.
XML* serve(DebugAPI* api, const XML& request, Error& errors) {
    try {
        DefaultNamespaceScope defaultNamespace;
        const Command* command = findCommand(request, api == nullptr);
        if (!command) {
            errors.push(Err::kBadArgument, request.getKind() == XML::kElement ? request.getName() : String(),
                        nullptr, true);
            return nullptr;
        }
        Call call{api, request, errors, {}};
        XMLHold reply(command->run(call));
        if (!reply.get() || holdsError(errors))
            return nullptr;
        if (api && command->named)
            setAttribute(*reply.get(), "engine", api->getRealEngine().getName());
        call.resets.apply();
        return reply.take();
    } catch (const std::bad_alloc&) {
        // The room held back is what the answer to this needs.
        LxBase::MemoryReserve::release();
        errors.push(Err::kOutOfMemory, String(), nullptr, true);
    } catch (const std::exception& e) {
        errors.push(Err::kUncaughtException, String(e.what()), nullptr, true);
    } catch (...) {
        errors.push(Err::kUncaughtException, String("Unknown"), nullptr, true);
    }
    return nullptr;
}

}  // namespace

XML* DebugAPI::executeXML(const XML& request, Error& errors) { return serve(this, request, errors); }

XML* DebugAPI::executeStaticXML(const XML& request, Error& errors) { return serve(nullptr, request, errors); }

}  // namespace LxScript
