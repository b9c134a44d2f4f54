// The public face of a script engine, the per-thread list of engines, the
// engine's last error, and the small classes around it: the error record
// handed out to embeddings, the base of the API objects, the callback hooks
// of an embedding and the debugger hook.
#pragma once
#include "core/Broadcaster.h"
#include "core/Error.h"
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/ThreadData.h"
#include "core/Types.h"

namespace LxCore {
class Dictionary;
class LiveObject;
class Localizer;
class Variant;
}  // namespace LxCore

namespace LxScript {

using LxCore::i16;
using LxCore::i32;
using LxCore::i64;
using LxCore::u16;
using LxCore::u32;

class API;
class Engine;
class EngineData;

// What an embedding hangs on an engine. Owned data is deleted through this
// base, so it carries the virtual destructor that a plain Root lacks.
class UserData : public LxCore::Root {
public:
    virtual ~UserData() = default;
};

// An engine's error as embeddings read it; line is 0-based, -1 for none.
class RuntimeError : public LxCore::Root {
public:
    RuntimeError() = default;
    RuntimeError(const RuntimeError&) = default;
    RuntimeError& operator=(const RuntimeError&) = default;
    virtual ~RuntimeError() = default;

    // From the newest record of the list; every message of it, newest first.
    void set(const LxCore::Error& error);

    LxCore::String message;
    LxCore::String source;      // the script text the error lies in
    i32 line = -1;
    i32 start = 0;              // offset of the offending token
    i32 code = 0;
    i16 column = 0;
    u16 length = 0;             // of the offending token
};

// The hooks through which an embedding takes part in an engine's work. Each
// default is what an engine without a callback does.
class Callback : public LxCore::Root {
public:
    virtual ~Callback() = default;
    virtual void running(Engine& engine) {}
    virtual bool garbageCollecting(Engine& engine) { return true; }
    virtual void runtimeError(Engine& engine) {}
    virtual void enterDebugMode(Engine& engine) {}
    virtual void leaveDebugMode(Engine& engine, bool stepping) {}
    virtual bool undefinedError(Engine& engine, const LxCore::Variant& object,
                                const LxCore::Variant& name, LxCore::Variant& result) {
        return false;
    }
    virtual LxCore::LiveObject* getClassObject(Engine& engine, const LxCore::String& name,
                                               u32& id) {
        id = 0;
        return nullptr;
    }
    virtual bool isValidClassName(Engine& engine, const LxCore::String& name) { return false; }
    virtual void engineNotify(Engine& engine, i32 code, i64 value) {}
};

// The debugger hook an embedding sets on an engine; the engine calls it
// under its lock. A copy starts without a lock.
class Debugger : public LxCore::Lockable {
public:
    Debugger() = default;
    Debugger(const Debugger&) : LxCore::Lockable() {}
    Debugger& operator=(const Debugger&) { return *this; }
    virtual ~Debugger() = default;

    virtual void breakExecution(Engine& engine) = 0;   // returns when execution resumes
    virtual void endOfRun(Engine& engine) = 0;         // after a run that stopped in it
    virtual void poll(Engine& engine) = 0;             // from the periodic check
    // The script's text output ($.write), line breaks as CR LF; dropped by default.
    virtual void writeText(Engine& engine, const LxCore::String& text) {}
};

// The base of an engine's interface objects, one per code and engine, made
// only by the engine's getAPI.
class API : public LxCore::Root {
public:
    static constexpr i32 kDebug = i32(LxCore::fourCharCode("debg"));
    static constexpr i32 kParser = i32(LxCore::fourCharCode("pars"));
    static constexpr i32 kHilite = i32(LxCore::fourCharCode("hilu"));
    static constexpr i32 kLiveObject = i32(LxCore::fourCharCode("live"));

    virtual ~API() = default;
    API(const API&) = delete;
    API& operator=(const API&) = delete;

    Engine& getEngine() const { return engine; }
    i32 getName() const { return code; }

protected:
    API(Engine& engine, i32 code) : code(code), engine(engine) {}

private:
    i32 code;
    Engine& engine;
};

class DebugAPI;
class ParserAPI;
class HiliteAPI;
class LiveObjectAPI;

// Engines live on the standard heap, not the core's. Each is listed in the
// engine list of the thread that made it for its whole life.
class Engine : public LxCore::Lockable, public LxCore::Broadcaster {
public:
    // One byte each for 4, 5 and 5.
    static constexpr i32 kVersion = 0x40505;
    // Makes the concrete engine; the concrete engine's library sets it.
    using Factory = Engine* (*)();

    // Throws std::logic_error while the engine library is not started, and
    // std::bad_alloc.
    Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // A new engine with this one's error, callback, localizer, debug state
    // and user data (not owned); 0, or -28 when memory runs out and -36 when
    // no concrete engine can be made, leaving out unset.
    virtual i32 clone(Engine** out) const;
    virtual ~Engine();
    virtual LxCore::Dictionary* getDictionary() const { return nullptr; }
    virtual void setDictionary(LxCore::Dictionary* dictionary) {}

    // The first error stays until cleared, except that a fatal (negative)
    // one replaces an ordinary one; error 0 is never recorded.
    virtual void clearError();
    virtual void setError(const LxCore::Error& error);
    virtual void setError(const RuntimeError& error);
    virtual void setError(i32 code);
    // Literal: text is the message; else it replaces "%1" in the code's text.
    // A line below 0 is the running line.
    virtual void setError(i32 code, const LxCore::String& text, i32 line, bool literal);
    virtual const RuntimeError& getErrorInfo() const;
    virtual const LxCore::Error& getError() const { return settledError(); }
    virtual void restoreError(const LxCore::Error& saved);
    // The pending error's number without building a thrown value's record.
    i32 getErrorCode() const;
    // Error 54 for a thrown value, its text the value's (given for an
    // object, whose text may run script; taken from the value otherwise).
    // Where it lies is taken now (whereLater: when first read, which must
    // come before the frame runs on or ends); the record, its localised
    // message and the value on it are built when the error is first read,
    // so that a throw that is caught builds none. Nothing while an error is
    // pending.
    void setThrownError(const LxCore::Variant& value, const LxCore::String* text, bool whereLater = false);
    // A thrown value whose record is not built yet: copied to out; false,
    // out unchanged, when there is none.
    bool peekThrownValue(LxCore::Variant& out) const;

    virtual void collectGarbage() = 0;
    virtual API* getAPI(i32 code) = 0;
    virtual void invalidateClass(const LxCore::String& name) = 0;
    // Called after every recorded error.
    virtual void onRuntimeError() {}

    // Null when no concrete engine is set, the library is not started or
    // memory runs out. The type selects nothing.
    static Engine* createEngine(u32 type);
    // Returns the factory it replaces.
    static Factory setFactory(Factory factory);
    // The engine library's counted start, which stands above the engine,
    // says whether it is started; engines are made only while it is and the
    // core library is started too.
    static void setLibraryStarted(bool started);
    static bool isLibraryStarted();
    // The first engine of the calling thread's list with that name.
    static Engine* findEngine(const LxCore::String& name);
    static void getAll(LxCore::TSimpleArray<Engine>& out);     // shares the list
    static void gcAll();
    // The current-engine field of the core's thread record; null when no
    // engine is current or there is no record.
    static Engine* getCurrent();
    static void invalidateClassAll(const LxCore::String& name);
    static i32 getVersion() { return kVersion; }

    u32 getID() const;
    const LxCore::String& getName() const;
    // False, changing nothing, when an engine of the list has the name.
    bool setName(const LxCore::String& name);
    Callback* getCallback() const;
    void setCallback(Callback* callback);
    // Made current while the engine reports errors and runs.
    LxCore::Localizer* getLocalizer() const;
    void setLocalizer(LxCore::Localizer* localizer);
    UserData* getUserData() const { return userData; }
    // Owned data that is replaced is deleted.
    void setUserData(UserData* data, bool owns);
    u32 getDebugFlags() const { return debugFlags; }
    void setDebugFlags(u32 flags) { debugFlags = flags; }
    i32 getDebugLevel() const { return i32(levels & 0xFF); }
    void setDebugLevel(i32 level);              // clamped to 0..2
    i32 getProfilingLevel() const { return i32((levels >> 8) & 0xFF); }
    void setProfilingLevel(i32 level);          // clamped to 0..4
    void lockRef(const LxCore::Variant& value) {}
    void unlockRef(const LxCore::Variant& value) {}

protected:
    // One frame of the running code as error reports see it.
    struct FrameInfo {
        i32 line = -1;              // 0-based
        LxCore::String source;      // the script text
        LxCore::String scriptName;  // anonymous scripts have decimal names
    };
    // Frame `depth` counted outward from the innermost; false past the
    // outermost. An idle engine has no frames.
    virtual bool getFrameInfo(i32 depth, FrameInfo& out) const { return false; }
    // Where a thrown value lies, read off the frame now if it was left for
    // later: before anything else may run.
    void settleThrownWhere() const;
    // After the debug or profiling level changed.
    virtual void levelsChanged() {}

private:
    UserData* userData = nullptr;
    mutable LxCore::Error error;     // see settledError
    EngineData* data = nullptr;
    u32 debugFlags = 0;
    u32 levels = 0;                 // debug level, then profiling level << 8
    bool ownsUserData = false;
    mutable bool thrownPending = false;     // a thrown value's record is still to be built

    bool acceptsError(i32 code);
    // The error with a thrown value's record built.
    LxCore::Error& settledError() const;
    void buildThrownRecord() const;
    void takeThrownWhere() const;
    void dropThrown();
    bool innermostFrame(FrameInfo& out) const;     // false, no details, when short of memory
    void completeFileName();
    LxCore::String namedScript(const FrameInfo* innermost) const;
};

inline LxCore::Error& Engine::settledError() const {
    if (thrownPending)
        buildThrownRecord();
    return error;
}

inline Engine* Engine::getCurrent() {
    LxCore::ThreadData* record = LxCore::ThreadData::find();
    return record ? record->engine : nullptr;
}

}  // namespace LxScript
