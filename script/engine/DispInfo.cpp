#include "script/engine/DispInfo.h"

namespace LxScript {

using LxCore::String;

namespace {

DataPool& pool() { return DataPool::get(); }

}  // namespace

DispParamInfo::DispParamInfo(const String& name, const String& brief, const String& full, LxCore::TypeInfo* type)
    : name(name), brief(brief), full(full), type(type) {}

DispServiceInfo::DispServiceInfo(DataPoolId symbol, i32 rowFlags, const char* text)
    : symbol(symbol),
      kind((rowFlags & kMethod) ? 5 : (rowFlags & kReadOnly) ? 1 : 2),
      access((rowFlags & kNativeValue) ? 1 : 5),
      signature(text ? text : "") {
    parameters = kind == 5 ? LxCore::countHelpParameters(signature) : 0;
    type = LxCore::parseTypeInfo(signature, -1, nullptr, &brief, &full, nullptr);
}

DispServiceInfo* DispServiceInfo::of(const PropEntryCopy& row) {
    return new DispServiceInfo(row.symbol, row.flags, row.signature);
}

i32 DispServiceInfo::getName(String& out) const {
    out = pool().getSymbol(symbol);
    return 0;
}

LxCore::ParamInfo* DispServiceInfo::getParamInfo(u32 index) {
    if (index >= parameters)
        return nullptr;
    String name, brief, full;
    LxCore::TypeInfo* parsed = LxCore::parseTypeInfo(signature, i32(index), &name, &brief, &full, nullptr);
    return new DispParamInfo(name, brief, full, parsed);
}

void DispClassInfo::getSuperClassName(String& out) const {
    Dispatcher* parent = dispatcher.getParent();
    out = parent ? parent->getClass(0) : String();
}

void DispClassInfo::getName(String& out) const { out = pool().getSymbol(classSymbol); }

i32 DispClassInfo::getServiceIDs(LxCore::SimpleArray& out, u32 flags) {
    DispatcherLock held(&dispatcher);
    out.setCount(0);
    dispatcher.getRowIDs(classSymbol, out, i32(flags));
    return 0;
}

void appendSymbolNames(const LxCore::SimpleArray& ids, LxCore::StringList& out) {
    for (i32 i = 0; i < ids.getCount(); i++)
        LxCore::appendString(out, pool().getSymbol(DataPoolId(ids.get(i))));
}

i32 DispClassInfo::getServiceNames(LxCore::StringList& out, u32 flags) {
    LxCore::SimpleArray ids;
    getServiceIDs(ids, flags);
    appendSymbolNames(ids, out);
    return 0;
}

LxCore::ServiceInfo* DispClassInfo::describe(i32 id, bool isStatic) {
    DispatcherLock held(&dispatcher);
    const PropInfo* row = dispatcher.findProperty(classSymbol, id, nullptr, false, isStatic);
    return row ? DispServiceInfo::of(*row) : nullptr;
}

LxCore::ServiceInfo* DispClassInfo::getServiceInfoByName(const String& name) {
    return getServiceInfo(pool().add(name.chars()));
}

LxCore::ServiceInfo* DispClassInfo::getStaticServiceInfoByName(const String& name) {
    return getStaticServiceInfo(pool().add(name.chars()));
}

}  // namespace LxScript
