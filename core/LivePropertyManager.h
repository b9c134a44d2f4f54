// Property tables of scriptable classes: the rows a native class describes
// its members with, the manager that answers name, id, kind, listing and
// description queries over them, and the member descriptions it builds.
#pragma once
#include <memory>

#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/TypeInfo.h"
#include "core/Types.h"

namespace LxCore {

// One row of a static table; a row whose name is null ends the table. An
// empty name marks the row of the class's constructor.
struct LivePropertyInfo {
    const char* name;
    i32 id;                 // mostly a four-character code
    u32 flags;              // kind in bits 0-3, flag bits, client mask in bits 16-23
    const char* signature;  // help text of the member's types; may be null
};

// Member kinds (flags & kKindMask), and the two answers of a kind query that
// are no kind of row.
constexpr u32 kKindMask = 15;
constexpr u32 kKindReadOnly = 1;
constexpr u32 kKindReadWrite = 2;
constexpr u32 kKindMethod = 5;
constexpr u32 kKindCallableReadWrite = 6;
constexpr u32 kKindCallableReadOnly = 7;
constexpr u32 kKindNone = 16;           // no such member
constexpr u32 kKindSuppressed = 17;     // a component hides the member

inline bool isReadableKind(u32 kind) { return kind == 1 || kind == 2 || kind == 6 || kind == 7; }
inline bool isWritableKind(u32 kind) { return kind == 2 || kind == 6; }
inline bool isCallableKind(u32 kind) { return kind == 5 || kind == 6 || kind == 7; }

// Flag bits of members.
constexpr u32 kMemberHidden = 0x20;     // listed only when the request sets kListHidden
constexpr u32 kMemberFixed = 0x40;      // never removed from a live object
constexpr u32 kMemberUnlisted = 0x80;   // listed only when the request sets kListUnlisted
constexpr u32 kClientMaskBits = 0xFF0000;

// Client masks of requests: the script engine asks as kScriptClient; a mask
// of exactly kCaseBlindClient compares names without ASCII case.
constexpr u32 kScriptClient = 0x10000;
constexpr u32 kCaseBlindClient = 0x40000;

// Request bits of listings.
constexpr u32 kListHidden = 1u << 27;
constexpr u32 kListUnlisted = 1u << 28;
constexpr u32 kListReadWrite = 1u << 29;
constexpr u32 kListReadOnly = 1u << 30;
constexpr u32 kListMethods = 1u << 31;

// Reserved member ids.
constexpr i32 kCloneMethodId = 0x1FF00000;      // a class's clone method
constexpr i32 kSelfCallId = 0x1FF10000;         // the object itself called as a function
constexpr i32 kFirstOperatorId = 0x1FF10100;
constexpr i32 kLastOperatorId = 0x1FF10118;
constexpr i32 kOperatorIdBase = 0x1FF100F8;     // + the operator's symbol number (8 to 32)

inline bool isOperatorId(i32 id) { return id >= kFirstOperatorId && id <= kLastOperatorId; }
// The operator's text ("*" for 0x1FF10104); null for other ids.
const char* operatorText(i32 id);

// Whether a member with these flags answers a request with these flags:
// its client mask is 0 or shares a bit with the request's.
inline bool passesClient(u32 memberFlags, u32 requestFlags) {
    u32 mask = memberFlags & kClientMaskBits;
    return mask == 0 || (mask & requestFlags) != 0;
}
// Whether a request compares names without ASCII case.
inline bool isCaseBlindRequest(u32 requestFlags) {
    return (requestFlags & kClientMaskBits) == kCaseBlindClient;
}
// The listing filter of property tables: kind, the two hiding flags, client.
bool passesListing(u32 memberFlags, u32 requestFlags);
// Name equality, exact or without ASCII case.
bool sameName(const String& a, const String& b, bool caseBlind);
bool sameName(const String& a, const char* b, bool caseBlind);

// A member description built from a row.
class PropServiceInfo : public ServiceInfo {
public:
    // Kind, id and name as given; the types and descriptions from the
    // signature, decoded with the current encoder. Throws std::bad_alloc.
    static PropServiceInfo* make(i32 id, const String& name, u32 kind, const char* signature);

    u32 getClients() const override { return kScriptClient; }
    u32 getCategory() const override { return access; }
    i32 getName(String& out) const override;
    void getDescription(u8 which, String& out) const override;
    i32 getID() const override { return id; }
    u32 getKind() const override { return kind; }
    TypeInfo* getDataType() override { return dataType.get(); }
    TypeInfo* getPropertyDataType() override {
        return altType ? altType.get() : dataType.get();
    }
    u32 getParamCount() const override { return paramCount; }
    ParamInfo* getParamInfo(u32 index) override;
    bool getSampleFile(String&) const override { return false; }
    bool getSampleText(String& out) const override;

private:
    String name;
    String signature;
    String shortDescription;
    String description;
    u32 kind = kKindNone;
    u32 access = 1;
    i32 id = 0;
    std::unique_ptr<TypeInfo> dataType;
    std::unique_ptr<TypeInfo> altType;
    u32 paramCount = 0;

    PropServiceInfo() = default;
};

class PropParamInfo : public ParamInfo {
public:
    u32 getClients() const override { return kScriptClient; }
    u32 getKind() const override { return 1; }     // an argument
    void getName(String& out) const override { out = name; }
    void getDescription(u8 which, String& out) const override {
        out = which == 0 ? shortDescription : description;
    }
    TypeInfo* getDataType() override { return dataType.get(); }

private:
    String name;
    String shortDescription;
    String description;
    std::unique_ptr<TypeInfo> dataType;

    PropParamInfo() = default;
    friend class PropServiceInfo;
};

// What the two forms of a manager answer.
class LivePropertyManagerImpl {
public:
    virtual ~LivePropertyManagerImpl() = default;
    virtual void addProperty(const char* name, i32 id, u32 flags, const char* signature) = 0;
    virtual void addProperties(const LivePropertyInfo* table) = 0;
    virtual i32 findProperty(const String& name, i32& id, u32& kind, u32 flags) = 0;
    virtual i32 getPropertyName(i32 id, String& name, u32 flags) = 0;
    virtual u32 getPropertyKind(i32 id) = 0;
    virtual i32 getPropertyIDs(SimpleArray& ids, u32 flags) = 0;
    virtual PropServiceInfo* getConstructorInfo(u32 flags) = 0;
    virtual PropServiceInfo* getServiceInfo(const String& name, u32 flags) = 0;
    virtual PropServiceInfo* getServiceInfo(i32 id, u32 flags) = 0;
    virtual const LivePropertyInfo* getStaticTable() const = 0;
    virtual bool hasOperators() const = 0;
};

class LivePropMgrData : public LivePropertyManagerImpl, public Root {
public:
    bool hasOperators() const override { return operators; }

protected:
    bool operators = false;
};

// The table served in place: neither copied nor owned.
class StaticPropertyManager : public LivePropMgrData {
public:
    explicit StaticPropertyManager(const LivePropertyInfo* table);
    void addProperty(const char*, i32, u32, const char*) override {}
    void addProperties(const LivePropertyInfo* table) override;
    i32 findProperty(const String& name, i32& id, u32& kind, u32 flags) override;
    i32 getPropertyName(i32 id, String& name, u32 flags) override;
    u32 getPropertyKind(i32 id) override;
    i32 getPropertyIDs(SimpleArray& ids, u32 flags) override;
    PropServiceInfo* getConstructorInfo(u32 flags) override;
    PropServiceInfo* getServiceInfo(const String& name, u32 flags) override;
    PropServiceInfo* getServiceInfo(i32 id, u32 flags) override;
    const LivePropertyInfo* getStaticTable() const override { return table; }

private:
    const LivePropertyInfo* table;
};

// A NUL-terminated copy of bytes on the core heap; null stays null.
class ByteCopy {
public:
    explicit ByteCopy(const char* bytes);       // throws std::bad_alloc
    ~ByteCopy() { Heap::free(bytes); }
    ByteCopy(const ByteCopy&) = delete;
    ByteCopy& operator=(const ByteCopy&) = delete;
    const char* get() const { return bytes; }

private:
    char* bytes = nullptr;
};

// One name of the hash form; it owns its copy of the signature.
struct dynPropNameInfo : public Root {
    String name;
    i32 id;
    u32 flags;
    u32 order;                          // place in the order of addition
    ByteCopy signature;
    dynPropNameInfo* sameId = nullptr;  // the next name of the same id

    dynPropNameInfo(const char* n, i32 i, u32 f, u32 o, const char* s)
        : name(n), id(i), flags(f), order(o), signature(s) {}
};

// One id of the hash form, with the names it goes by; it owns its copy of
// the signature.
struct propIDInfo : public Root {
    u32 flags;                          // the first row's, with every row's client bits
    ByteCopy signature;
    dynPropNameInfo* names = nullptr;

    propIDInfo(u32 f, const char* s) : flags(f), signature(s) {}
};

// The hash form a manager turns into at the first member added at run time.
class DynamicPropertyManager : public LivePropMgrData {
public:
    DynamicPropertyManager() = default;
    ~DynamicPropertyManager() override;
    void addProperty(const char* name, i32 id, u32 flags, const char* signature) override;
    void addProperties(const LivePropertyInfo* table) override;
    i32 findProperty(const String& name, i32& id, u32& kind, u32 flags) override;
    i32 getPropertyName(i32 id, String& name, u32 flags) override;
    u32 getPropertyKind(i32 id) override;
    i32 getPropertyIDs(SimpleArray& ids, u32 flags) override;
    PropServiceInfo* getConstructorInfo(u32 flags) override;
    PropServiceInfo* getServiceInfo(const String& name, u32 flags) override;
    PropServiceInfo* getServiceInfo(i32 id, u32 flags) override;
    const LivePropertyInfo* getStaticTable() const override { return nullptr; }

private:
    THashTable<dynPropNameInfo, THashTableBase::hashAll> names;
    IntHashTable ids;                   // id -> propIDInfo
    u32 nextOrder = 0;

    propIDInfo* idEntry(i32 id) const { return static_cast<propIDInfo*>(ids.get(id)); }
    dynPropNameInfo* findName(const String& name, u32 flags) const;
    void unlinkName(dynPropNameInfo* entry);
};

class LivePropertyManager : public Root, public Lockable {
public:
    // Serves the table in place; throws std::bad_alloc.
    explicit LivePropertyManager(const LivePropertyInfo* table);
    virtual ~LivePropertyManager();
    LivePropertyManager(const LivePropertyManager&) = delete;
    LivePropertyManager& operator=(const LivePropertyManager&) = delete;

    // An empty name gives 2 with id 0 and kind 16.
    virtual i32 findProperty(const String& name, i32& id, u32& kind, u32 flags);
    virtual i32 getPropertyName(i32 id, String& name, u32 flags);
    virtual u32 getPropertyKind(i32 id);        // the client mask plays no part
    virtual i32 getPropertyIDs(SimpleArray& ids, u32 flags);
    // Descriptions with one reference for the caller, or null.
    virtual PropServiceInfo* getConstructorInfo(u32 flags);
    virtual PropServiceInfo* getServiceInfo(const String& name, u32 flags);
    virtual PropServiceInfo* getServiceInfo(i32 id, u32 flags);

    // The first member added turns the manager into the hash form, which
    // copies the table. Throws std::bad_alloc with nothing changed.
    void addProperty(const LivePropertyInfo& row);
    bool hasOperators() const { return impl->hasOperators(); }
    // The table served in place; null once in the hash form.
    const LivePropertyInfo* getStaticTable() const { return impl->getStaticTable(); }

private:
    LivePropMgrData* impl;
};

}  // namespace LxCore
