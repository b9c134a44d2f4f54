// Reflection over one live object as it is now: its class, its members with
// their ids, kinds and value types. Descriptions hold the object without a
// reference and forget it at its 'DELE'; from then on they answer 45 or null.
#pragma once
#include "core/Broadcaster.h"
#include "core/LiveObject.h"
#include "core/TypeInfo.h"

namespace LxCore {

// The type of a member's current value.
class LiveObjectTypeInfo : public TypeInfo, public Listener {
public:
    LiveObjectTypeInfo() = default;
    ~LiveObjectTypeInfo() override { bind(nullptr, 0); }
    LiveObjectTypeInfo(const LiveObjectTypeInfo&) = delete;
    LiveObjectTypeInfo& operator=(const LiveObjectTypeInfo&) = delete;

    // Describes the member id of the object; null describes "any".
    void bind(LiveObject* object, i32 id);

    u32 getType() const override;
    void getClassName(String& out) const override;
    bool isArray() const override;
    bool getRange(f64* min, f64* max) const override;
    bool getDefault(Variant& out) const override;
    bool onMessage(Message& message) override;

private:
    LiveObject* object = nullptr;
    i32 id = 0;

    bool readValue(Variant& out) const;
};

class LiveObjectParamInfo : public ParamInfo {
public:
    u32 getClients() const override { return kScriptClient; }
    u32 getKind() const override { return 1; }
    void getName(String& out) const override { out = name; }
    void getDescription(u8, String& out) const override { out.clear(); }
    TypeInfo* getDataType() override { return &type; }

    String name;

private:
    LiveObjectTypeInfo type;        // never bound: "any"
};

class LiveObjectServiceInfo : public ServiceInfo, public Listener {
public:
    LiveObjectServiceInfo(LiveObject& object, i32 id);
    ~LiveObjectServiceInfo() override;

    u32 getClients() const override;
    u32 getCategory() const override;
    i32 getName(String& out) const override;
    void getDescription(u8, String& out) const override { out.clear(); }
    i32 getID() const override { return id; }
    u32 getKind() const override;
    // Bound to the member's current id at each call.
    TypeInfo* getDataType() override;
    TypeInfo* getPropertyDataType() override { return getDataType(); }
    u32 getParamCount() const override { return 0; }
    ParamInfo* getParamInfo(u32 index) override;
    bool getSampleFile(String&) const override { return false; }
    bool getSampleText(String& out) const override;
    bool onMessage(Message& message) override;

    void setID(i32 newId) { id = newId; }

private:
    String name;
    LiveObject* object;
    LiveObjectTypeInfo valueType;
    LiveObjectTypeInfo resultType;
    LiveObjectParamInfo* lastParam = nullptr;   // one reference
    i32 id;

    const LiveProperty* ownRecord() const;
};

class LiveObjectClassInfo : public ClassInfo, public Listener {
public:
    explicit LiveObjectClassInfo(LiveObject& object);
    ~LiveObjectClassInfo() override;

    void getSuperClassName(String& out) const override { out.clear(); }
    u32 getClients() const override { return kScriptClient; }
    u32 getKind() const override;
    void getName(String& out) const override;
    void getDescription(bool, String& out) const override { out.clear(); }
    i32 getServiceNames(StringList& out, u32 flags) override;
    i32 getServiceIDs(SimpleArray& out, u32 flags) override;
    ServiceInfo* getServiceInfoByName(const String& name) override;
    ServiceInfo* getServiceInfo(i32 id) override;
    ServiceInfo* getStaticServiceInfoByName(const String& name) override;
    ServiceInfo* getStaticServiceInfo(i32 id) override;
    bool getSampleFile(String&) const override { return false; }
    bool getSampleText(String& out) const override;
    bool onMessage(Message& message) override;

private:
    LiveObject* object;
    LiveObjectServiceInfo* last = nullptr;      // one reference

    template <class Ask>
    ServiceInfo* askClassObject(Ask ask);
};

}  // namespace LxCore
