// Descriptions of native classes for reflection: a class of a dispatcher
// and the rows of its table as the core's ClassInfo, ServiceInfo and
// ParamInfo. A row's signature text gives its type, descriptions and
// parameters.
#pragma once
#include "core/TypeInfo.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

// The member names of a service listing: the text of each symbol id, in order.
void appendSymbolNames(const LxCore::SimpleArray& ids, LxCore::StringList& out);

class DispParamInfo : public LxCore::ParamInfo {
public:
    // Takes over type.
    DispParamInfo(const LxCore::String& name, const LxCore::String& brief, const LxCore::String& full,
                  LxCore::TypeInfo* type);
    ~DispParamInfo() override { delete type; }
    u32 getClients() const override { return kClients; }
    u32 getKind() const override { return 0; }
    void getName(LxCore::String& out) const override { out = name; }
    void getDescription(u8 which, LxCore::String& out) const override { out = which ? full : brief; }
    LxCore::TypeInfo* getDataType() override { return type; }

    static constexpr u32 kClients = 0x10000;

private:
    LxCore::String name, brief, full;
    LxCore::TypeInfo* type;
};

class DispServiceInfo : public LxCore::ServiceInfo {
public:
    // Throws std::bad_alloc.
    DispServiceInfo(DataPoolId symbol, i32 rowFlags, const char* signature);
    ~DispServiceInfo() override { delete type; }

    u32 getClients() const override { return DispParamInfo::kClients; }
    u32 getCategory() const override { return kind == 5 ? 5 : 1; }
    i32 getName(LxCore::String& out) const override;
    void getDescription(u8 which, LxCore::String& out) const override { out = which ? full : brief; }
    i32 getID() const override { return symbol; }
    u32 getKind() const override { return kind; }
    LxCore::TypeInfo* getDataType() override { return type; }
    LxCore::TypeInfo* getPropertyDataType() override { return type; }
    u32 getParamCount() const override { return parameters; }
    LxCore::ParamInfo* getParamInfo(u32 index) override;
    bool getSampleFile(LxCore::String&) const override { return false; }
    bool getSampleText(LxCore::String&) const override { return false; }
    u32 getAccess() const { return access; }

    // The description of a registered row.
    static DispServiceInfo* of(const PropEntryCopy& row);

private:
    DataPoolId symbol;
    u32 kind;
    u32 access;
    u32 parameters = 0;     // methods only
    LxCore::String signature, brief, full;
    LxCore::TypeInfo* type = nullptr;
};

// One class of a dispatcher. The dispatcher must outlive the description
// (class tables live as long as the engine library).
class DispClassInfo : public LxCore::ClassInfo {
public:
    DispClassInfo(Dispatcher& dispatcher, DataPoolId classSymbol)
        : dispatcher(dispatcher), classSymbol(classSymbol) {}

    void getSuperClassName(LxCore::String& out) const override;
    u32 getClients() const override { return DispParamInfo::kClients; }
    u32 getKind() const override { return 1; }
    void getName(LxCore::String& out) const override;
    void getDescription(bool, LxCore::String& out) const override { out.clear(); }
    i32 getServiceNames(LxCore::StringList& out, u32 flags) override;
    i32 getServiceIDs(LxCore::SimpleArray& out, u32 flags) override;
    LxCore::ServiceInfo* getServiceInfoByName(const LxCore::String& name) override;
    LxCore::ServiceInfo* getServiceInfo(i32 id) override { return describe(id, false); }
    LxCore::ServiceInfo* getStaticServiceInfoByName(const LxCore::String& name) override;
    LxCore::ServiceInfo* getStaticServiceInfo(i32 id) override { return describe(id, true); }
    bool getSampleFile(LxCore::String&) const override { return false; }
    bool getSampleText(LxCore::String&) const override { return false; }

private:
    Dispatcher& dispatcher;
    DataPoolId classSymbol;

    LxCore::ServiceInfo* describe(i32 id, bool isStatic);
};

}  // namespace LxScript
