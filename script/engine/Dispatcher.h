// Native class tables. A Dispatcher serves one or more script classes whose
// members are native functions and values, described by static PropEntry
// tables; every access to such a member ends in a handler call with one
// Arguments record. A dispatcher may inherit the rows of a parent.
#pragma once
#include <atomic>

#include "core/Array.h"
#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Variant.h"
#include "script/engine/DispatcherFlags.h"
#include "script/engine/Engine.h"
#include "script/frontend/DataPool.h"

namespace LxCore {
class ClassInfo;
}  // namespace LxCore

namespace LxScript {

using LxCore::u8;
using LxCore::Variant;

class Arguments;
class Dispatcher;
class DispatcherData;

using Handler = void (*)(Arguments& args);

// One row of a static table; a table ends at a row whose name is null.
// Special names: "" the call entry, the class name the constructor, ".index",
// ".number" and ".name" the catch-all entries, operator spellings the
// operator methods. id: a method's argument count, or the value id handed to
// the class's get and put when the row has no handler.
struct PropEntry {
    const char* name;
    i32 id;
    i32 flags;                  // bits of DispatcherFlags.h
    Handler handler;
    const char* signature;      // "number,text:string,base:number"; null when none
};

// A registered row: its owner, name symbol and a copy of the signature.
struct PropEntryCopy : public LxCore::Root {
    PropEntryCopy(Dispatcher* owner, DataPoolId symbol, i32 id, i32 flags, Handler handler,
                  const char* signature);
    PropEntryCopy(const PropEntryCopy& other);
    PropEntryCopy& operator=(const PropEntryCopy&) = delete;
    ~PropEntryCopy();

    bool isMethod() const { return (flags & kMethod) != 0; }
    bool isStatic() const { return (flags & kStatic) != 0; }
    bool isWithdrawn() const { return (flags & kWithdrawn) != 0; }

    Dispatcher* owner;
    DataPoolId symbol;
    i32 id;
    i32 flags;
    Handler handler;
    char* signature = nullptr;  // core heap; null when none
};

using PropInfo = PropEntryCopy;

// The registered table of one class of a dispatcher.
struct TableEntry : public LxCore::Root {
    TableEntry(Dispatcher* owner, DataPoolId classSymbol, const LxCore::String& className);
    ~TableEntry();
    TableEntry(const TableEntry&) = delete;
    TableEntry& operator=(const TableEntry&) = delete;

    // The special row a symbol names, or null for any other symbol.
    PropEntryCopy** specialRow(DataPoolId symbol);
    bool hasDotRows() const { return indexRow || numberRow || nameRow; }

    Dispatcher* owner;
    Variant classReference;         // unbound reference: id 0, the class name
    LxCore::IntHashTable names;     // symbol -> row
    LxCore::TSimpleArray<PropEntryCopy> rows;   // name-table rows, in registration order
    DataPoolId classSymbol;
    PropEntryCopy* constructorRow = nullptr;
    PropEntryCopy* callRow = nullptr;
    PropEntryCopy* indexRow = nullptr;
    PropEntryCopy* numberRow = nullptr;
    PropEntryCopy* nameRow = nullptr;
    u8 hasOperators = 0;
};

// What every handler receives. mode: 'call', 'ctor', 'get ', 'put ',
// 'test', or for a value access without handler the row's id.
class Arguments {
public:
    static constexpr u32 kCall = LxCore::fourCharCode("call");
    static constexpr u32 kConstruct = LxCore::fourCharCode("ctor");
    static constexpr u32 kGet = LxCore::fourCharCode("get ");
    static constexpr u32 kPut = LxCore::fourCharCode("put ");
    static constexpr u32 kTest = LxCore::fourCharCode("test");

    Dispatcher* dispatcher = nullptr;
    Engine* engine = nullptr;
    Variant* thisValue = nullptr;
    Variant* name = nullptr;
    u32 mode = 0;
    const LxCore::BasicArray* args = nullptr;
    Variant* result = nullptr;

    u32 count() const { return args ? args->length() : 0; }
    // Argument i, or undefined past the end.
    const Variant& arg(u32 i) const;
};

// The record of a dispatcher's classes, tables and parent.
class DispatcherData : public LxCore::Root {
public:
    explicit DispatcherData(const char* name);
    ~DispatcherData();

    LxCore::String name;
    LxCore::TSimpleArray<TableEntry> tables;
    LxCore::SimpleArray classSymbols;           // in order of addition
    LxCore::TSimpleArray<LxCore::String> classNames;
    Dispatcher* parent = nullptr;
    TableEntry* lastTable = nullptr;            // one-entry cache
    DataPoolId lastClass = 0;
    u32 operatorTables = 0;                     // tables with an operator row: most have none
};

class Dispatcher : public LxCore::Root, public LxCore::Lockable {
public:
    explicit Dispatcher(const char* name = "All");
    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    virtual ~Dispatcher();
    virtual const PropInfo* findProperty(i32 classId, i32 symbol, LxCore::Root* nativeData,
                                         bool special, bool isStatic);
    // Hooks for members and names a subclass makes up at run time.
    virtual const PropEntry* hasProperty(const Variant& object, const Variant& name, bool);
    virtual void getEnumNames(const Variant& object,
                              LxCore::TSimpleArray<LxCore::String>& names);
    // Value access of a row without handler; the parent's, else nothing.
    virtual void get(Arguments& args);
    virtual void put(Arguments& args);
    virtual void call(Arguments& args, Handler handler);
    virtual void getProperties(i32 classId, i32 unused,
                               LxCore::TSimpleArray<const PropInfo>& out);
    virtual void getEnumerableProperties(const Variant& object, LxCore::SimpleArray& ids,
                                         i32 filter);
    virtual LxCore::ClassInfo* getClassInfo(const LxCore::String& className);

    void addClass(const LxCore::String& name);
    void addClass(const char* name);
    void registerProperties(i32 unused, const PropEntry* table, const LxCore::String& className);
    void registerProperties(i32 unused, const PropEntry* table, const char* className);
    void registerProperties(i32 unused, const PropEntry* table);
    void addProperties(i32 unused, const PropEntry* table, const char* className);

    const LxCore::String& getClass(i32 index) const;
    i32 getClassCount() const;
    i32 getClassID(i32 index) const;
    bool isClass(i32 symbol) const;
    bool isClass(const LxCore::String& name) const;
    bool isClass(const char* name) const;
    const LxCore::String& getName() const;

    // False, changing nothing, when the parent's chain reaches this dispatcher.
    bool subClass(Dispatcher& parent);
    Dispatcher* getParent() const;

    // The row symbols of the class along the chain that pass a listing
    // filter (the object listing's bits), withdrawn rows taken out.
    void getRowIDs(i32 classId, LxCore::SimpleArray& ids, i32 filter);

    bool hasDotProperties(i32 classId);
    bool hasOperators(i32 classId);
    // Whether this dispatcher or a parent makes up members at run time.
    bool makesUpMembers() const;
    // Counts every change of any dispatcher that can make a lookup find a
    // row it did not find before (a row, a table, a parent, a dispatcher
    // made or gone): a remembered miss holds while the count stays.
    static LxCore::u64 changeCount() { return changes.load(std::memory_order_relaxed); }
    static void noteChange() { changes.fetch_add(1, std::memory_order_relaxed); }
    const TableEntry* getTable(i32 classId);

    void call(Arguments& args, const char* name);

    UserData* getUserData() const { return userData; }
    // Owned user data goes with the dispatcher.
    void setUserData(UserData* data, bool own);

    // Every named dispatcher of the process, in registration order; shared.
    static void getAll(LxCore::TSimpleArray<Dispatcher>& out);

protected:
    // A subclass whose hasProperty makes up members says so: the name is
    // built for it only then, keeping row lookups free of allocation.
    void setDynamicMembers(bool on) {
        dynamicMembers = on;
        noteChange();
    }

private:
    DispatcherData* data;
    UserData* userData = nullptr;
    bool ownsUserData = false;
    bool dynamicMembers = false;
    static std::atomic<LxCore::u64> changes;

    TableEntry* tableFor(DataPoolId classSymbol, const LxCore::String& className);
    PropEntryCopy* registerRow(TableEntry& table, DataPoolId symbol, const PropEntry& row);
    void collectChain(LxCore::TSimpleArray<Dispatcher>& chain);
    template <class Visit>
    void forEachRow(i32 classId, Visit visit);
    bool isBuiltInListingClass() const;
};

// Holds a dispatcher's lock for a scope.
class DispatcherLock {
public:
    explicit DispatcherLock(Dispatcher* d) : held(d) {
        if (held)
            held->lock();
    }
    ~DispatcherLock() {
        if (held)
            held->unlock();
    }
    DispatcherLock(const DispatcherLock&) = delete;
    DispatcherLock& operator=(const DispatcherLock&) = delete;

private:
    Dispatcher* held;
};

}  // namespace LxScript
