// The engine behind Engine: everything one engine owns while scripts run
// (the global object, the class table, the object ring, the current frame,
// the pending error, timing, tasks, breakpoints, API objects) and the lazy
// set-up that builds the global object and registers the native classes.
// The concrete engine derives from it and supplies the five factories.
#pragma once
#include "core/Array.h"
#include "core/HashTable.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/Dispatcher.h"
#include "script/engine/Engine.h"
#include "script/engine/Function.h"
#include "script/engine/Object.h"
#include "script/frontend/Scanner.h"

namespace LxCore {
class RegExp;
}  // namespace LxCore

namespace LxScript {

class ProfilerData;
class RealEngine;
class RuntimeEnv;
class Script;

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
    void collectGarbage() override;
    API* getAPI(i32 code) override;
    void invalidateClass(const LxCore::String& name) override;
    // Every class of the dispatcher goes into the class table; a default
    // dispatcher fills the first free default slot. Null is ignored.
    virtual void registerDispatcher(Dispatcher* dispatcher, bool isDefault);
    // The empty name gives the first default dispatcher.
    virtual Dispatcher* getDispatcher(const LxCore::String& className);
    virtual bool isRunning() const { return currentFrame != nullptr; }
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
    virtual void importValue(Variant& value, bool import);
    Object* resolveObject(const Variant& value);
    Object* getPrototypeOf(Object* constructor);

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
    void setEffectiveDebugFlags(u32 flags) { effectiveDebugFlags = flags; }
    const LxCore::String& getIncludePath() const override { return includePath; }
    void setIncludePath(const LxCore::String& path) override { includePath = path; }
    bool isPreprocessorOn() const override { return preprocessorOn; }
    void setPreprocessorOn(bool on) override { preprocessorOn = on; }
    RuntimeEnv* getCurrentFrame() const { return currentFrame; }
    Function* getObjectConstructor() const { return objectConstructor; }
    Function* getRegExpConstructor() const { return regExpConstructor; }
    // The RegExp class's match globals: made on first use by that class,
    // disposed of with the engine.
    LxCore::NativeData*& regExpGlobalsSlot() { return regExpGlobals; }

protected:
    // The API object of a code, made on first request; null for a code the
    // engine has no interface for.
    virtual API* createAPI(i32 code);
    // A debugger watchpoint was written: the debugger interface's part.
    virtual void watchpointHit(Property& slot) {}
    // The concrete engine's set-up of the global object's live object.
    virtual void setUpGlobal(LxCore::LiveObject& live) {}

    RuntimeEnv* currentFrame = nullptr;

private:
    // The class object of one class of a dispatcher, put on the global object.
    void registerClass(Dispatcher& dispatcher, DataPoolId classSymbol);
    void tearDownGlobalState();
    void buildGlobalState();
    void releaseAPIs();

    // Profiling clock.
    u64 lastTimeStamp = 0;
    ProfilerData* chargedRecord = nullptr;
    Variant spare;                              // cleared by the object factories
    EngineObjects objects;                      // ring, maps, class and reference tables
    LxCore::IntHashTable apis;                  // four-character code -> API
    LxCore::LiveObject* globalLiveObject = nullptr;
    Debugger* debugger = nullptr;
    LxCore::TSimpleArray<LxCore::Refcountable> tasks;
    LxCore::TSimpleArray<LxCore::Refcountable> records;    // released at re-initialisation
    LxCore::TSimpleArray<LxCore::Refcountable> breakpoints;
    Object* valueConversionObject = nullptr;
    // Timing words.
    u32 lastCheckTick = 0;
    u32 defaultTimeout = 0;
    u32 deadline = 0;
    u32 pauseStart = 0;
    u32 pauseNesting = 0;
    u32 statusChecks = 0;
    u32 collectionHolds = 0;
    u32 taskCounter = 0;
    u32 accessNesting = 0;
    i32 pendingCode = 0;
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
    LxCore::String secondText;
    u32 tryDepth = 0;
    u32 effectiveDebugFlags = 0;
    u32 hookSuppression = 0;
    u8 flagByte = 1;
    u8 destroying = 0;
    bool preprocessorOn = true;

    friend class EngineObjects;
};

}  // namespace LxScript
