// Descriptions of script objects for reflection: the class of an object and
// its members as the core's ClassInfo, ServiceInfo, ParamInfo and TypeInfo.
// A member is described from its property and current value: a function
// is a method whose arguments are named arg1, arg2, ...; any other value a
// read-only or read-write property of the value's type.
#pragma once
#include <vector>

#include "core/TypeInfo.h"
#include "script/engine/Object.h"

namespace LxScript {

class ScriptTypeInfo : public LxCore::TypeInfo {
public:
    ScriptTypeInfo(u32 type, const LxCore::String& className) : type(type), className(className) {}
    u32 getType() const override { return type; }
    void getClassName(LxCore::String& out) const override { out = className; }
    bool isArray() const override { return false; }
    bool getRange(LxCore::f64*, LxCore::f64*) const override { return false; }
    bool getDefault(Variant&) const override { return false; }

private:
    u32 type;
    LxCore::String className;
};

class ScriptParamInfo : public LxCore::ParamInfo {
public:
    explicit ScriptParamInfo(const LxCore::String& name) : name(name), type(LxCore::kTypeAny, LxCore::String()) {}
    u32 getClients() const override { return kScriptClients; }
    u32 getKind() const override { return 0; }
    void getName(LxCore::String& out) const override { out = name; }
    void getDescription(u8, LxCore::String& out) const override { out.clear(); }
    LxCore::TypeInfo* getDataType() override { return &type; }

    static constexpr u32 kScriptClients = 0x10000;

private:
    LxCore::String name;
    ScriptTypeInfo type;
};

class ScriptServiceInfo : public LxCore::ServiceInfo {
public:
    // From a property and the value it holds now.
    ScriptServiceInfo(DataPoolId symbol, u32 attributes, const Variant& value);

    u32 getClients() const override { return ScriptParamInfo::kScriptClients; }
    u32 getCategory() const override { return kind == 5 ? 5 : 1; }
    i32 getName(LxCore::String& out) const override;
    void getDescription(u8, LxCore::String& out) const override { out.clear(); }
    i32 getID() const override { return symbol; }
    u32 getKind() const override { return kind; }
    LxCore::TypeInfo* getDataType() override { return &type; }
    LxCore::TypeInfo* getPropertyDataType() override { return &type; }
    u32 getParamCount() const override { return u32(parameters.size()); }
    LxCore::ParamInfo* getParamInfo(u32 index) override;
    bool getSampleFile(LxCore::String&) const override { return false; }
    bool getSampleText(LxCore::String&) const override { return false; }
    u32 getAccess() const { return access; }

private:
    DataPoolId symbol;
    u32 kind;
    u32 access;
    ScriptTypeInfo type;
    std::vector<LxCore::String> parameters;
};

class ScriptClassInfo : public LxCore::ClassInfo {
public:
    explicit ScriptClassInfo(Object& object);

    void getSuperClassName(LxCore::String& out) const override;
    u32 getClients() const override { return ScriptParamInfo::kScriptClients; }
    u32 getKind() const override;
    void getName(LxCore::String& out) const override;
    void getDescription(bool longText, LxCore::String& out) const override;
    i32 getServiceNames(LxCore::StringList& out, u32 flags) override;
    i32 getServiceIDs(LxCore::SimpleArray& out, u32 flags) override;
    LxCore::ServiceInfo* getServiceInfoByName(const LxCore::String& name) override;
    LxCore::ServiceInfo* getServiceInfo(i32 id) override;
    LxCore::ServiceInfo* getStaticServiceInfoByName(const LxCore::String& name) override;
    LxCore::ServiceInfo* getStaticServiceInfo(i32 id) override;
    bool getSampleFile(LxCore::String&) const override { return false; }
    bool getSampleText(LxCore::String&) const override { return false; }

private:
    ObjectRef object;

    // The class object the engine keeps under the class name, for static queries.
    Object* classObject() const;
    // The native class behind the object: the first object along the
    // prototype chain with a live object or a dispatcher; a new reference.
    LxCore::ClassInfo* nativeClass() const;
    static LxCore::ServiceInfo* describe(Object* holder, i32 id);
};

}  // namespace LxScript
