// The engine behind Engine: everything one engine owns while scripts run
// (the global object, the class table, the object ring, the current frame,
// the pending error, timing, tasks, breakpoints, API objects) and the lazy
// set-up that builds the global object and registers the native classes.
// The concrete engine derives from it and supplies the five factories.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/Array.h"
#include "core/Callbacks.h"
#include "core/HashTable.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/Engine.h"
#include "script/engine/EngineDebug.h"
#include "script/engine/Function.h"
#include "script/engine/Object.h"
#include "script/engine/SlotStack.h"
#include "script/frontend/Scanner.h"

namespace LxCore {
class ClassInfo;
class RegExp;
}  // namespace LxCore

namespace LxScript {

class RealEngine;
class RuntimeEnv;
class Script;
class Workspace;
class jsRunner;

// The engine's object space: its services are the engine's own operations.
class EngineObjects : public ObjectSpace {
public:
    explicit EngineObjects(RealEngine& engine);

    u32 getEffectiveDebugFlags() const override;
    void importValue(Variant& value, bool import) override;
    void watchpointHit(Property& slot) override;
    bool isIdle() const override;
    Object* resolveObject(const Variant& value) override;
    void newInstance(Variant& result, DataPoolId classId, Object* constructor) override;

private:
    RealEngine& real;
};

// Also the front end's options: the include path and the "//@" switch.
class RealEngine : public Engine, public FrontEndOptions {
public:
    static constexpr i32 kDefaultStackBudget = 0x40000;
    static constexpr i32 kMinStackBudget = 32768;

    RealEngine();
    ~RealEngine() override;

    i32 clone(Engine** out) const override;
    virtual i32 getStackBudget() const { return stackBudget; }
    // At least kMinStackBudget; the limit it gives always lies inside the
    // thread's stack (the script context clamps it).
    virtual void setStackBudget(i32 bytes);
    // Lazy set-up, also a reset: tears the global state down and builds it
    // again. Refused (error 19) while a script runs.
    virtual void initialize();
    // For an engine that only compiles, as the syntax check's: a compile
    // resets it as set-up does but builds no global object or class objects
    // (it needs none); the first entry that runs script or hands out objects
    // (execute, eval, the value services, the other interfaces) builds them.
    void deferGlobalState() { deferGlobal = true; }
    // The entries' lazy set-up; finishes what a deferred compile left.
    void ensureInitialized();
    void collectGarbage() override;
    API* getAPI(i32 code) override;
    void invalidateClass(const LxCore::String& name) override;
    // Every class of the dispatcher goes into the class table; a default
    // dispatcher fills the first free default slot. Null is ignored.
    virtual void registerDispatcher(Dispatcher* dispatcher, bool isDefault);
    // The empty name gives the first default dispatcher.
    virtual Dispatcher* getDispatcher(const LxCore::String& className);
    virtual bool isRunning() const { return currentFrame != nullptr; }
    SlotStack& getSlotStack() { return slotStack; }
    virtual Dispatcher* getDispatcherByID(i32 classSymbol);

    // The five factories of the concrete engine.
    virtual void newArray(const LxCore::Array& elements, Variant& result) = 0;
    // A new activation workspace (the global object's form); the concrete
    // engine may narrow the type.
    virtual Object* newWorkspace() = 0;
    virtual void newFunctionObject(Variant& result, void* functionData, bool global) = 0;
    virtual Script* compileSource(const LxCore::String& source, const LxCore::String* name,
                                  const LxCore::String* parameters) = 0;
    virtual LxCore::RegExp* newRegExp(const Variant& value) = 0;

    // Value services the object model needs.
    // A new object of the class in result; see the algorithm in the source.
    virtual void newObject(Variant& result, i32 classSymbol, const LxCore::BasicArray* args,
                           Object* constructor);
    // Steps 1 to 4 of newObject: an instance of the class with the
    // constructor's prototype, no constructor run.
    void newInstance(Variant& result, i32 classSymbol, Object* constructor);
    Object* getPrototypeOf(Object* constructor);

    // ---- Value services for native code and scheduled tasks (EngineValues.cpp) ----
    // In place: script forms of native values; with import, unbound
    // references whose objects are gone are made again.
    virtual void importValue(Variant& value, bool import);
    // A bound object, the global object (id -1), or the registered object of
    // (class, id).
    Object* resolveObject(const Variant& value);
    virtual bool toObject(Variant& value, bool import);
    // An object becomes its default value; 23 when that is an object.
    void checkPrimitive(Variant& value);
    virtual bool toPrimitive(Variant& value);
    virtual bool getProperty(const Variant& object, const Variant& name, Variant* result, u32 flags);
    virtual bool putProperty(const Variant& object, const Variant& name, const Variant& value, u32 flags);
    virtual bool callFunction(const Variant& function, LxCore::BasicArray& args, Variant* result, u32 flags,
                              const Variant* thisValue);
    virtual bool callMethod(const Variant& object, const LxCore::String& name, LxCore::BasicArray& args,
                            Variant* result, u32 flags);
    virtual void getPropertyIDs(const Variant& object, LxCore::SimpleArray& ids);
    // out[k] is element start + k, up to the object's length.
    virtual void getElements(const Variant& object, LxCore::Array& out, u32 start, u32 count);
    virtual LxCore::ClassInfo* getClassInfo(const Variant& object);
    virtual void objectOperation23(const Variant& object, u32 value);
    // Keep and let go of an object for native code; false for non-objects
    // and for an unprotect without its protect.
    virtual bool protectValue(const Variant& value);
    virtual bool unprotectValue(const Variant& value);
    // The global constructor of a class, made (a native Function stored on
    // the global object) when missing; null when its property forbids it.
    Function* getConstructor(DataPoolId classSymbol);
    // Tasks: ids from 1; 0 when the source does not compile (the error is
    // the engine's). A delay is held in ticks of 50 ms, at most 10^7.
    virtual u32 schedule(const LxCore::String& source, double delayMs, bool repeat);
    u32 scheduleTask(const LxCore::String& source, double delayMs, bool repeat, const LxCore::Array* args,
                     Variant* result);
    virtual void cancelTask(u32 id);
    // Runs the first due task in list order, one per call.
    virtual void runDueTasks();

    // The live object that stands for the global object, made at set-up.
    LxCore::LiveObject* getGlobalLiveObject();
    void setGlobalLiveObject(LxCore::LiveObject* live);

    // The limit the stack budget gives, below the caller; kept inside the stack.
    void setStackLimit();
    ObjectSpace& getObjects() { return objects; }
    Object* getGlobalObject() const { return objects.globalObject; }
    bool isInitialized() const { return objects.globalObject != nullptr; }
    bool isDestroying() const { return destroying != 0; }
    u32 getEffectiveDebugFlags() const { return effectiveDebugFlags; }
    // Every body's entry and exit sets them: the word beside them is kept
    // with two operations.
    void setEffectiveDebugFlags(u32 flags) {
        effectiveDebugFlags = flags;
        statementHooks = levelHooks | (flags & kTraceFlag);
    }
    const LxCore::String& getIncludePath() const override { return includePath; }
    void setIncludePath(const LxCore::String& path) override { includePath = path; }
    bool isPreprocessorOn() const override { return preprocessorOn; }
    void setPreprocessorOn(bool on) override { preprocessorOn = on; }
    RuntimeEnv* getCurrentFrame() const { return currentFrame; }
    // The locale the engine localises for; empty: the current localizer's.
    const LxCore::String& getLocaleText() const { return localeText; }
    void setLocaleText(const LxCore::String& text) { localeText = text; }
    Function* getObjectConstructor() const { return objectConstructor; }
    Function* getRegExpConstructor() const { return regExpConstructor; }
    // The RegExp class's match globals: made on first use by that class,
    // disposed of with the engine.
    LxCore::NativeData*& regExpGlobalsSlot() { return regExpGlobals; }
    // The E4X settings record (made by the XML classes on first use).
    LxCore::Root*& xmlSettingsSlot() { return xmlSettings; }

    // ---- Runs: guarded entries, compile, eval, execute, the run core,
    // deadlines and status checks (RealEngineRun.cpp) ----

    // One guarded entry's saved state, on the caller's stack.
    struct EntryState {
        Engine* previousEngine = nullptr;
        LxCore::Localizer* previousLocalizer = nullptr;
        uintptr_t previousLimit = 0;
        u32 previousDeadline = 0;
        LxCore::String previousXMLNamespace;   // outermost entries only
        bool outermost = false;     // no frame was current
        bool entered = false;
    };
    // Makes this engine current, installs the stack limit and localizer and
    // starts the deadline (0 ms: none, or the default for an outermost run).
    void enterRun(EntryState& entry, i32 timeoutMs);
    void leaveRun(EntryState& entry);
    // Inside a catch: the native exception as an engine error (-28, -29).
    void mapException();
    virtual Script* compile(const LxCore::String& source, const LxCore::String* name);
    virtual bool execute(Script* script, Variant* result, i32 timeout, i32 flags, Variant* scope);
    virtual bool eval(const LxCore::String& source, Variant* result, i32 timeout, i32 flags, Variant* scope,
                      const LxCore::String* name);
    // Mode 'C' call, 'G' get, 'L' declare functions, 'P' put.
    void runScript(char mode, Object* function, Object* thisObject, LxCore::BasicArray& args,
                   Variant* result, u32 flags);
    // For the debugger: the pending code of the evaluation; the engine's
    // error stays as it was.
    virtual i32 evalInFrame(Object* frameObject, const LxCore::String& source, Variant* result);
    // The deadline of such an evaluation (10 s; tests shorten it).
    void setFrameEvalTimeout(i32 ms) { frameEvalTimeout = ms; }
    virtual void halt();
    virtual i32 setTimeout(i32 ms);
    virtual void pauseTimeout(bool pause);
    // The tree's check at statement boundaries; false: stop. Every
    // kStatusCheckInterval-th call while a frame runs looks at the clock,
    // the callback and the debugger's poll.
    static constexpr u32 kStatusCheckInterval = 32;
    bool checkStatus() {
        if (currentFrame && --statusCountdown == 0)
            statusCheckDue();
        return pendingCode == 0;
    }
    // Long native work (the built-ins' loops, and core work through the
    // callbacks' pollWork) counts its units of work here: between two looks
    // a unit costs a subtraction. Every LxCore::kWorkPollUnits units it looks
    // at the clock, the callback and the debugger's poll, as the status
    // check does, whether a frame runs or not (with nothing to look at, no
    // deadline, callback or debugger, it reads no clock), and at the pending
    // error. False: stop, an error is pending (the deadline, a halt, or one
    // the work itself raised); the work leaves nothing half made.
    bool pollWork(u32 units = 1) {
        workCountdown -= i32(units);
        return workCountdown > 0 || pollWorkNow();
    }
    // The units of work polled since the engine was made (tests count work
    // with it).
    u64 getWorkUnits() const { return workUnits + u64(i64(LxCore::kWorkPollUnits) - workCountdown); }
    bool checkTimeoutNow();
    // The timeout for text the running script has run (eval, a file's
    // evaluation): its own when that ends sooner, else what is left of the
    // run's deadline, so that no script outlives its deadline by evaluating
    // text. ownMs <= 0: none of its own.
    i32 timeoutWithinRun(i32 ownMs) const;
    // For tests: the status checks made while frames ran, a count of work.
    u32 getStatusChecks() const { return statusChecks + (statusReload - statusCountdown); }
    void periodicCheck(u32 now);
    // The countdown of checkStatus ran out: the periodic check, and the
    // countdown set again.
    [[gnu::noinline, gnu::cold]] void statusCheckDue();
    bool pollWorkNow();
    void notifyAccess(bool enter);

    // ---- Errors (RealEngineErrors.cpp) ----
    void clearError() override;
    void restoreError(const LxCore::Error& saved) override;
    void onRuntimeError() override;
    // A script Error object of the current error's class.
    void makeErrorObject(Variant& result);
    void adoptError(const LxCore::Error& list, i32 code, const LxCore::String& text);
    void adoptErrorForSymbol(const LxCore::Error& list, i32 code, DataPoolId symbol);
    // A copy of value on the newest error record (a thrown value); false
    // when there is no record.
    bool attachErrorValue(const Variant& value);

    // ---- What frames and the operation tree read and write ----
    i32 getPendingCode() const { return pendingCode; }
    bool isStoppedInDebugger() const { return stoppedInDebugger != 0; }
    u32 getRunFlags() const { return effectiveDebugFlags; }
    void setRunFlags(u32 flags) { setEffectiveDebugFlags(flags); }
    // Run flag: trace each new line through the "$" object.
    static constexpr u32 kTraceFlag = 0x2;
    // From this profiling level on, every line has a record.
    static constexpr i32 kLineProfilingLevel = 3;
    // Whether a statement on a new line must run the line hook: debugging,
    // per-line profiling or tracing is on. Otherwise it only notes its
    // line in the frame.
    bool wantsStatementHooks() const { return statementHooks != 0; }
    // Only the general paths: every cache of the operations stays empty and
    // every in-place fast path declines (tvrun --general; the suites run
    // both ways). Set before a run; see docs/engine-caches.md.
    void setGeneralPaths(bool on) { generalPaths = on; }
    bool takesGeneralPaths() const { return generalPaths; }
    // For tests: how often a site has remembered something (a cache
    // filled); stays 0 with the general paths.
    u64 getCacheFills() const { return cacheFills; }
    void noteCacheFill() { cacheFills++; }
    u32& tryDepthWord() { return tryDepth; }
    // The global object as the workspace it is.
    Workspace* getGlobal() const;
    // Wrappers and plain objects of a class, with its constructor's prototype.
    void newPlainObject(Variant& result, i32 classSymbol);
    void newObjectRef(Object*& holder, i32 classSymbol);

    // ---- Debugging and profiling state (RealEngineDebug.cpp) ----
    // Stops in the debugger hook (nothing without a hook or a frame, while
    // stopped, or in compiled code); a condition must evaluate to true.
    virtual void enterDebugger(const LxCore::String& condition);
    // While stopped with a DebugAPI: the scope of the frame the debugger
    // selected (its context level frames outward, at most the outermost).
    Workspace* getFrameScope();
    Debugger* getDebugger() const { return debugger; }
    void setDebugger(Debugger* hook) { debugger = hook; }
    // The first breakpoint at (file, line), or null.
    BreakpointInfo* findBreakpoint(u32 file, i32 line);
    // Appends a new copy of each breakpoint; the caller owns them.
    void getBreakpoints(LxCore::TSimpleArray<BreakpointInfo>& out) const;
    // Copies of the entries (null ones skipped; a null list clears all); a
    // negative count takes the count of the old breakpoint at that place.
    void setBreakpoints(const LxCore::TSimpleArray<BreakpointInfo>* list);
    // The record of (file, line), made at the head of the chain when missing.
    ProfilerData* findProfilerRecord(i32 file, i32 line, i32 function);
    // Charges the time since the last stamp to the current record; next
    // becomes current.
    void chargeProfilerRecord(ProfilerData* next);
    // Frees the chain, clears the current record and the stamp, and lets
    // every running frame forget its record (its pop writes nothing).
    void clearProfilerData();
    // The chain, newest first.
    const ProfilerData* getProfilerRecords() const { return profilerChain; }
    // What the runner calls.
    void reachLine(RuntimeEnv& frame, DataPoolId file, i32 line, bool stopRequested);
    void profileEnter(jsRunner& runner);
    void profileLeave(jsRunner& runner);
    void profileLine(jsRunner& runner, DataPoolId file, i32 line);
    void profileRunEnd();
    void renewProfilingStamp();
    void resumeDebugger();
    // Continue and halt: no frame keeps a step request.
    void clearStepFlags();
    // Errors raised while the count is raised do not reach the runtime-error
    // hook (the debugger reading values).
    void suppressErrorHook(bool raise) {
        if (raise)
            hookSuppression++;
        else if (hookSuppression)
            hookSuppression--;
    }
    // The suppression for a scope, lowered on every way out.
    class ErrorHookQuiet {
    public:
        explicit ErrorHookQuiet(RealEngine& engine) : engine(engine) { engine.suppressErrorHook(true); }
        ~ErrorHookQuiet() { engine.suppressErrorHook(false); }
        ErrorHookQuiet(const ErrorHookQuiet&) = delete;
        ErrorHookQuiet& operator=(const ErrorHookQuiet&) = delete;

    private:
        RealEngine& engine;
    };
    u8 tracing = 0;                 // a trace line is being written
    i32 frameEvalTimeout = 10000;
    void writeTrace(const LxCore::String& line);
    virtual void clearTasks();

    // ---- Collection (Collector.cpp) ----
    // More than this many new objects since the last collection trigger one;
    // past twice as many survivors, half their number does, so that a growing
    // heap is not swept whole every 300 objects (linear, not quadratic).
    static constexpr i32 kCollectionThreshold = 300;
    static constexpr u32 kCollectAtEveryTrigger = 64;      // effective debug flag
    // The trigger at loop iterations and calls: two comparisons.
    void maybeCollectGarbage() {
        if (i32(objects.getObjectCount() - objects.objectCountAtCollection) > collectionAllowance ||
            ((effectiveDebugFlags & kCollectAtEveryTrigger) && collectionHolds == 0))
            triggerCollection();
    }
    // A hold stops collections at every trigger and releaseObject's sweep.
    // Hold: true when held afterwards; release: whether still held (false,
    // changing nothing, when not held).
    virtual bool holdCollection(bool hold);
    // Native code lets go of an object: the global object drops its
    // references to it, then a sweep unless held. v is cleared.
    virtual void releaseObject(Variant& value);
    virtual void invalidateObject(Variant& value);
    bool isCollectionHeld() const { return collectionHolds != 0; }

protected:
    bool getFrameInfo(i32 depth, FrameInfo& out) const override;
    void levelsChanged() override {
        levelHooks = getDebugLevel() != 0 || getProfilingLevel() >= kLineProfilingLevel ? 1 : 0;
        setEffectiveDebugFlags(effectiveDebugFlags);
    }

public:
protected:
    // The API object of a code, made on first request; null for a code the
    // engine has no interface for.
    virtual API* createAPI(i32 code);
    // A debugger watchpoint was written: a stop with the slot as the
    // debugger interface's watchpoint record.
    virtual void watchpointHit(Property& slot);
    // The concrete engine's set-up of the global object's live object.
    virtual void setUpGlobal(LxCore::LiveObject& live) {}

    RuntimeEnv* currentFrame = nullptr;

private:
    // Raises the hold for a scope, restored on every way out.
    struct HoldScope {
        explicit HoldScope(RealEngine& e) : engine(e), saved(e.collectionHolds) { e.collectionHolds++; }
        ~HoldScope() { engine.collectionHolds = saved; }
        RealEngine& engine;
        u32 saved;
    };
    void triggerCollection();
    void clearDebugState();
    void importNew(Variant& value, DataPoolId classSymbol, const LxCore::BasicArray* args);
    void importLiveObject(Variant& value);
    void importObjectValue(Variant& value, bool import);
    // The baseline becomes the object count.
    void renewCollectionBaseline();
    // The class object of one class of a dispatcher, put on the global object.
    void registerClass(Dispatcher& dispatcher, DataPoolId classSymbol);
    void tearDownGlobalState();
    void buildGlobalState();
    // A compile's set-up: all of it, or for a deferring engine the reset only.
    void prepareToCompile();
    void buildPendingGlobalState();
    void releaseAPIs();

    // Profiling clock.
    u64 lastTimeStamp = 0;
    ProfilerData* chargedRecord = nullptr;
    Variant spare;                              // cleared by the object factories
    EngineObjects objects;                      // ring, maps, class and reference tables
    SlotStack slotStack;                        // the running calls' arguments and slots
    LxCore::IntHashTable apis;                  // four-character code -> API
    LxCore::LiveObject* globalLiveObject = nullptr;
    Debugger* debugger = nullptr;
    LxCore::TSimpleArray<LxCore::Refcountable> tasks;
    LxCore::TSimpleArray<LxCore::Refcountable> records;    // released at re-initialisation
    std::vector<BreakpointInfo> breakpoints;
    std::unordered_map<u64, u32> breakpointIndex;   // (file, line) -> first entry
    std::unordered_map<u64, ProfilerData*> profilerIndex;   // (file, line) -> record
    Object* valueConversionObject = nullptr;
    // Timing words.
    u32 lastCheckTick = 0;
    u32 defaultTimeout = 0;
    u32 deadline = 0;
    u32 pauseStart = 0;
    u32 pauseNesting = 0;
    u32 statusChecks = 0;                           // checks made before the current countdown
    u32 statusReload = 1;                           // what the countdown started from
    u32 statusCountdown = 1;                        // checks left before the periodic one (the first check is one)
    u64 cacheFills = 0;
    bool generalPaths = false;
    i32 workCountdown = i32(LxCore::kWorkPollUnits);   // units left before pollWork looks
    u64 workUnits = 0;                              // units polled before the current countdown
    u32 collectionHolds = 0;
    i32 collectionAllowance = kCollectionThreshold;
    u32 taskCounter = 0;
    u32 accessNesting = 0;
    std::unordered_map<Object*, u32> protects;  // protectValue's counts
    i32 pendingCode = 0;
    // The name of the file errors were last charged to (getFrameInfo).
    mutable DataPoolId lastFileId = 0;
    mutable LxCore::String lastFileName;
    u8 resetByte = 0;
    u8 stoppedInDebugger = 0;
    u8 debuggerEntered = 0;
    // The classes kept beside the global object (the global object and the
    // prototypes are the object space's).
    Function* objectConstructor = nullptr;      // counted
    Function* regExpConstructor = nullptr;      // counted
    LxCore::NativeData* regExpGlobals = nullptr;
    i32 stackBudget = kDefaultStackBudget;
    LxCore::Root* xmlSettings = nullptr;
    ProfilerData* profilerChain = nullptr;
    LxCore::String includePath;
    LxCore::String localeText;                  // $.locale; empty: the localizer's
    u32 tryDepth = 0;
    u32 effectiveDebugFlags = 0;
    u32 hookSuppression = 0;
    u32 levelHooks = 0;                         // 1: debugging or line profiling is on
    u32 statementHooks = 0;                     // levelHooks | the trace flag
    u8 flagByte = 1;
    u8 destroying = 0;
    bool preprocessorOn = true;
    bool deferGlobal = false;
    bool globalPending = false;                 // reset done, global state not built

    friend class EngineObjects;
    friend class RuntimeEnv;
    friend class jsRunner;
};

}  // namespace LxScript
