#include "script/library/reflection/Reflection.h"

#include "core/Dictionary.h"
#include "core/FileSpec.h"
#include "core/TypeInfo.h"
#include "core/XML.h"
#include "script/engine/Object.h"
#include "script/engine/RealEngine.h"
#include "script/library/reflection/ScriptInfo.h"

namespace LxScript {

using LxCore::ClassInfo;
using LxCore::ParamInfo;
using LxCore::ServiceInfo;
using LxCore::String;
using LxCore::TypeInfo;

namespace {

// Listing filters of the member arrays.
constexpr u32 kMethodsFilter = 0x80000000;
constexpr u32 kPropertiesFilter = 0x60000000;
constexpr u32 kStaticBit = 0x01000000;
constexpr u32 kListingExtra = 0x08010000;

// The native side of Reflection, Dictionary and ReflectionInfo objects. The
// described script object is the holder's internal value.
struct ReflectionData : public LxCore::NativeData {
    LxCore::Dictionary* dictionary = nullptr;      // not owned
    String className;
};

struct InfoData : public ReflectionData {
    String memberName;
    i32 argumentIndex = -1;
    bool isStatic = false;
    bool secondType = false;
};

struct DictData : public LxCore::NativeData {
    LxCore::Dictionary* dictionary = nullptr;      // not owned
};

// Holds one reference of a description for a scope.
template <class T>
class Held {
public:
    explicit Held(T* p = nullptr) : p(p) {}
    ~Held() {
        if (p)
            p->release();
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
    void reset(T* q) {
        if (p)
            p->release();
        p = q;
    }
    T* get() const { return p; }
    T* operator->() const { return p; }
    T& operator*() const { return *p; }
    explicit operator bool() const { return p != nullptr; }

private:
    T* p;
};

RealEngine* currentEngine() { return static_cast<RealEngine*>(Engine::getCurrent()); }

// The holder (this) of a handler when it is of the class, and its data.
template <class Data>
Object* holderOf(const Arguments& args, DataPoolId classSymbol, Data*& data) {
    data = nullptr;
    Object* o = args.thisValue ? objectOf(*args.thisValue) : nullptr;
    if (!o || o->getClassID() != classSymbol || !o->getNativeData())
        return nullptr;
    data = static_cast<Data*>(static_cast<LxCore::NativeData*>(o->getNativeData()));
    return o;
}

Object* describedObject(Object& holder) {
    return objectOf(holder.getPrivateValue());
}

ClassInfo* classInfoOf(Object& holder, const ReflectionData& data) {
    if (Object* o = describedObject(holder))
        return new ScriptClassInfo(*o);
    return data.dictionary ? data.dictionary->getClass(data.className) : nullptr;
}

ServiceInfo* lookUp(ClassInfo& info, const String& name, bool isStatic) {
    return isStatic ? info.getStaticServiceInfoByName(name) : info.getServiceInfoByName(name);
}

// Takes data over, also when no object can be made.
void makeHolder(Variant& result, DataPoolId classSymbol, Object* described, LxCore::NativeData* data) {
    struct Owned {
        LxCore::NativeData* data;
        ~Owned() {
            if (data)
                data->dispose();
        }
    } owned{data};
    result.clear();
    RealEngine* engine = described ? static_cast<RealEngine*>(described->getEngine()) : currentEngine();
    if (!engine)
        return;
    engine->newPlainObject(result, classSymbol);
    Object* made = objectOf(result);
    if (!made)
        return;
    made->setNativeData(data);
    owned.data = nullptr;
    if (described)
        made->getPrivateValue().setObject(described);
}

// Until the E4X classes serve the engine, a description arrives as its text.
void setXMLResult(LxCore::XML* xml, Variant& result) {
    String text;
    result.setString(xml->toXMLString(text, -1));
    xml->release();
}

void newArrayOf(const LxCore::Array& items, Variant& result) {
    if (RealEngine* engine = currentEngine())
        engine->newArray(items, result);
}

void stringArray(LxCore::StringList& names, Variant& result) {
    LxCore::Array items;
    for (i32 i = 0; i < names.getCount(); i++)
        items.getOrCreate(u32(i)).setString(*names.get(i));
    LxCore::freeStrings(names);
    newArrayOf(items, result);
}

void setOptionalText(bool present, const String& text, Variant& result) {
    if (present)
        result.setString(text);
    else
        result.setNull();
}

void setOptionalFile(bool present, const String& path, Variant& result) {
    if (present)
        result.setFileSpec(LxCore::FileSpec(path, false));
    else
        result.setNull();
}

// ---------------------------------------------------------------------------
// Reflection

struct ReflectionContext {
    Object* holder = nullptr;
    ReflectionData* data = nullptr;
    Held<ClassInfo> info;
};

bool reflectionOf(const Arguments& args, ReflectionContext& c) {
    c.holder = holderOf(args, Sym::kReflection, c.data);
    if (!c.holder)
        return false;
    c.info.reset(classInfoOf(*c.holder, *c.data));
    return bool(c.info);
}

void reflectionName(Arguments& args) {
    ReflectionContext c;
    if (!reflectionOf(args, c))
        return;
    String name;
    c.info->getName(name);
    args.result->setString(name);
}

void reflectionText(Arguments& args, bool longText) {
    ReflectionContext c;
    if (!reflectionOf(args, c))
        return;
    String text;
    c.info->getDescription(longText, text);
    args.result->setString(text);
}

void reflectionDescription(Arguments& args) { reflectionText(args, false); }
void reflectionHelp(Arguments& args) { reflectionText(args, true); }

void reflectionSampleCode(Arguments& args) {
    args.result->setNull();
    ReflectionContext c;
    if (!reflectionOf(args, c))
        return;
    String text;
    setOptionalText(c.info->getSampleText(text), text, *args.result);
}

void reflectionSampleFile(Arguments& args) {
    args.result->setNull();
    ReflectionContext c;
    if (!reflectionOf(args, c))
        return;
    String path;
    setOptionalFile(c.info->getSampleFile(path), path, *args.result);
}

void listMembers(Arguments& args, u32 filter) {
    ReflectionContext c;
    if (!reflectionOf(args, c))
        return;
    const bool isStatic = (filter & kStaticBit) != 0;
    const bool wantMethods = (filter & kMethodsFilter) != 0;
    const bool wantProperties = (filter & kPropertiesFilter) != 0;
    LxCore::StringList names;
    c.info->getServiceNames(names, filter | kListingExtra);
    Object* described = describedObject(*c.holder);
    LxCore::Array items;
    u32 count = 0;
    for (i32 i = 0; i < names.getCount(); i++) {
        const String& name = *names.get(i);
        Held<ServiceInfo> member(lookUp(*c.info, name, isStatic));
        if (!member)
            continue;
        const u32 kind = member->getKind();
        const bool always = kind == 6 || kind == 7;
        if (!always && !((kind == 1 || kind == 2) && wantProperties) && !(kind == 5 && wantMethods))
            continue;
        makeReflectionInfo(items.getOrCreate(count++), described, c.data->dictionary, c.data->className, name,
                           isStatic, always && wantProperties, -1);
    }
    LxCore::freeStrings(names);
    newArrayOf(items, *args.result);
}

void methods(Arguments& args) { listMembers(args, kMethodsFilter); }
void properties(Arguments& args) { listMembers(args, kPropertiesFilter); }
void staticMethods(Arguments& args) { listMembers(args, kMethodsFilter | kStaticBit); }
void staticProperties(Arguments& args) { listMembers(args, kPropertiesFilter | kStaticBit); }

void find(Arguments& args) {
    args.result->setNull();
    ReflectionContext c;
    if (!reflectionOf(args, c))
        return;
    const String name = args.arg(0).toString();
    const bool isStatic = args.arg(1).toBoolean();
    Held<ServiceInfo> member(lookUp(*c.info, name, isStatic));
    if (member)
        makeReflectionInfo(*args.result, describedObject(*c.holder), c.data->dictionary, c.data->className, name,
                           isStatic, false, -1);
}

void reflectionToXML(Arguments& args) {
    ReflectionContext c;
    if (!reflectionOf(args, c))
        return;
    LxCore::XML* xml = ClassInfo::toXML(*c.info.get());
    if (!xml)
        return;
    setXMLResult(xml, *args.result);
}

// ---------------------------------------------------------------------------
// Dictionary

LxCore::Dictionary* dictionaryOf(const Arguments& args) {
    DictData* data = nullptr;
    holderOf(args, Sym::kDictionary, data);
    return data ? data->dictionary : nullptr;
}

void getGroups(Arguments& args) {
    LxCore::Dictionary* dictionary = dictionaryOf(args);
    if (!dictionary)
        return;
    LxCore::StringList names;
    dictionary->getGroups(names);
    stringArray(names, *args.result);
}

void getClasses(Arguments& args) {
    LxCore::Dictionary* dictionary = dictionaryOf(args);
    if (!dictionary)
        return;
    const Variant& group = args.arg(0);
    LxCore::StringList names;
    dictionary->getClasses(group.getType() == Variant::kUndefined ? String("All") : group.toString(), names);
    stringArray(names, *args.result);
}

void getClass(Arguments& args) {
    args.result->setNull();
    LxCore::Dictionary* dictionary = dictionaryOf(args);
    if (!dictionary)
        return;
    const String name = args.arg(0).toString();
    Held<ClassInfo> info(dictionary->getClass(name));
    if (!info)
        return;
    auto* data = new ReflectionData;
    data->dictionary = dictionary;
    data->className = name;
    makeHolder(*args.result, Sym::kReflection, nullptr, data);
}

void dictionaryToXML(Arguments& args) {
    LxCore::Dictionary* dictionary = dictionaryOf(args);
    if (!dictionary)
        return;
    const Variant& prefix = args.arg(0);
    const String text = prefix.toString();
    LxCore::XML* xml = dictionary->toXML(prefix.getType() == Variant::kUndefined ? nullptr : &text);
    if (!xml)
        return;
    setXMLResult(xml, *args.result);
}

// ---------------------------------------------------------------------------
// ReflectionInfo

// What an info names now: a member may have changed since it was made, so
// an argument past the member's current count resolves to nothing.
struct InfoContext {
    Object* holder = nullptr;
    InfoData* data = nullptr;
    Held<ClassInfo> info;
    Held<ServiceInfo> member;
    Held<ParamInfo> param;
    TypeInfo* type = nullptr;       // owned by member or param

    bool resolved() const { return data && member && (data->argumentIndex < 0 || param); }
};

void resolve(const Arguments& args, InfoContext& c) {
    c.holder = holderOf(args, Sym::kReflectionInfo, c.data);
    if (!c.holder)
        return;
    c.info.reset(classInfoOf(*c.holder, *c.data));
    if (!c.info)
        return;
    c.member.reset(lookUp(*c.info, c.data->memberName, c.data->isStatic));
    if (!c.member)
        return;
    if (c.data->argumentIndex < 0) {
        c.type = c.data->secondType ? c.member->getPropertyDataType() : c.member->getDataType();
        return;
    }
    if (u32(c.data->argumentIndex) >= c.member->getParamCount())
        return;
    c.param.reset(c.member->getParamInfo(u32(c.data->argumentIndex)));
    if (c.param)
        c.type = c.param->getDataType();
}

const char* kindName(u32 kind) {
    switch (kind) {
    case 1: return "readonly";
    case 2: return "readwrite";
    case 3: return "createonly";
    case 5: return "method";
    case 0:
    case 4: return "";
    default: return "unknown";
    }
}

void infoParent(Arguments& args) {
    args.result->setNull();
    InfoContext c;
    c.holder = holderOf(args, Sym::kReflectionInfo, c.data);
    if (c.holder && c.data->argumentIndex < 0)
        if (Object* o = describedObject(*c.holder))
            args.result->setObject(o);
}

void infoName(Arguments& args) {
    InfoContext c;
    resolve(args, c);
    if (!c.resolved())
        return;
    String name;
    if (c.param)
        c.param->getName(name);
    else
        c.member->getName(name);
    args.result->setString(name);
}

void infoType(Arguments& args) {
    InfoContext c;
    resolve(args, c);
    if (!c.resolved())
        args.result->setString("unknown");
    else if (c.param)
        args.result->setString("argument");
    else
        args.result->setString(kindName(c.member->getKind()));
}

void infoDataType(Arguments& args) {
    InfoContext c;
    resolve(args, c);
    String name;
    if (c.resolved() && c.type)
        c.type->getTypeName(name);
    else
        name = LxCore::getTypeName(LxCore::kTypeUnknown);
    args.result->setString(name);
}

void infoArguments(Arguments& args) {
    InfoContext c;
    resolve(args, c);
    if (!c.resolved() || c.param)
        return;
    LxCore::Array items;
    const u32 count = c.member->getParamCount();
    for (u32 i = 0; i < count; i++)
        makeReflectionInfo(items.getOrCreate(i), describedObject(*c.holder), c.data->dictionary, c.data->className,
                           c.data->memberName, c.data->isStatic, false, i32(i));
    newArrayOf(items, *args.result);
}

void infoRange(Arguments& args, bool maximum) {
    InfoContext c;
    resolve(args, c);
    LxCore::f64 low = 0, high = 0;
    if (c.resolved() && c.type && c.type->getRange(&low, &high))
        args.result->setNumber(maximum ? high : low);
}

void infoMin(Arguments& args) { infoRange(args, false); }
void infoMax(Arguments& args) { infoRange(args, true); }

void infoDefault(Arguments& args) {
    InfoContext c;
    resolve(args, c);
    Variant value;
    if (c.resolved() && c.type && c.type->getDefault(value))
        *args.result = value;
}

void infoIsCollection(Arguments& args) {
    InfoContext c;
    resolve(args, c);
    args.result->setBool(c.resolved() && c.type && c.type->isArray());
}

void infoText(Arguments& args, u8 which) {
    InfoContext c;
    resolve(args, c);
    if (!c.resolved())
        return;
    String text;
    if (c.param)
        c.param->getDescription(which, text);
    else
        c.member->getDescription(which, text);
    args.result->setString(text);
}

void infoDescription(Arguments& args) { infoText(args, 0); }
void infoHelp(Arguments& args) { infoText(args, 1); }

void infoSampleCode(Arguments& args) {
    args.result->setNull();
    InfoContext c;
    resolve(args, c);
    String text;
    if (c.resolved())
        setOptionalText(c.member->getSampleText(text), text, *args.result);
}

void infoSampleFile(Arguments& args) {
    args.result->setNull();
    InfoContext c;
    resolve(args, c);
    String path;
    if (c.resolved())
        setOptionalFile(c.member->getSampleFile(path), path, *args.result);
}

const PropEntry kReflectionTable[] = {
    {"find", 1, kInstanceMethod, find, "ReflectionInfo,name:string,isStatic:boolean"},
    {"toXML", 0, kInstanceMethod, reflectionToXML, "XML"},
    {"name", 0, kReadOnlyValue, reflectionName, "string"},
    {"methods", 0, kReadOnlyValue, methods, "Array"},
    {"properties", 0, kReadOnlyValue, properties, "Array"},
    {"staticMethods", 0, kReadOnlyValue, staticMethods, "Array"},
    {"staticProperties", 0, kReadOnlyValue, staticProperties, "Array"},
    {"description", 0, kReadOnlyValue, reflectionDescription, "string"},
    {"help", 0, kReadOnlyValue, reflectionHelp, "string"},
    {"sampleCode", 0, kReadOnlyValue, reflectionSampleCode, "string"},
    {"sampleFile", 0, kReadOnlyValue, reflectionSampleFile, "File"},
    {nullptr, 0, 0, nullptr, nullptr},
};

const PropEntry kDictionaryTable[] = {
    {"getGroups", 0, kInstanceMethod, getGroups, "Array\tGets the list of groups."},
    {"getClasses", 0, kInstanceMethod, getClasses, "Array\tGets a list of classes by group.,group:string"},
    {"getClass", 0, kInstanceMethod, getClass, "Reflection\tGets a class description.,className:string"},
    {"toXML", 1, kInstanceMethod, dictionaryToXML,
     "XML\tConverts a Dictionary instance to XML.,prefix:string\tThe href prefix."},
    {nullptr, 0, 0, nullptr, nullptr},
};

const PropEntry kInfoTable[] = {
    {"parent", 0, kReadOnlyValue, infoParent, "Object"},
    {"name", 0, kReadOnlyValue, infoName, "string"},
    {"type", 0, kReadOnlyValue, infoType, "string"},
    {"dataType", 0, kReadOnlyValue, infoDataType, "string"},
    {"arguments", 0, kReadOnlyValue, infoArguments, "Array"},
    {"min", 0, kReadOnlyValue, infoMin, "number"},
    {"max", 0, kReadOnlyValue, infoMax, "number"},
    {"defaultValue", 0, kReadOnlyValue, infoDefault, "any"},
    {"isCollection", 0, kReadOnlyValue, infoIsCollection, "boolean"},
    {"description", 0, kReadOnlyValue, infoDescription, "string"},
    {"help", 0, kReadOnlyValue, infoHelp, "string"},
    {"sampleCode", 0, kReadOnlyValue, infoSampleCode, "string"},
    {"sampleFile", 0, kReadOnlyValue, infoSampleFile, "File"},
    {"toString", 0, kInstanceMethod, infoName, "string"},
    {nullptr, 0, 0, nullptr, nullptr},
};

Dispatcher* newTableClass(const char* className, const PropEntry* table) {
    auto* dispatcher = new Dispatcher("JavaScript");
    dispatcher->addClass(className);
    dispatcher->registerProperties(0, table);
    return dispatcher;
}

}  // namespace

Dispatcher* newReflectionClass(const char* className) {
    DataPool::get().add("Property");
    return newTableClass(className, kReflectionTable);
}

Dispatcher* newReflectionInfoClass(const char* className) { return newTableClass(className, kInfoTable); }

Dispatcher* newDictionaryClass(const char* className) { return newTableClass(className, kDictionaryTable); }

void makeReflectionObject(Variant& result, Object& object) {
    auto* data = new ReflectionData;
    object.getClassName(data->className);
    makeHolder(result, Sym::kReflection, &object, data);
}

void makeDictionaryObject(Variant& result, LxCore::Dictionary* dictionary) {
    auto* data = new DictData;
    data->dictionary = dictionary;
    makeHolder(result, Sym::kDictionary, nullptr, data);
}

void makeReflectionInfo(Variant& result, Object* object, LxCore::Dictionary* dictionary, const String& className,
                        const String& memberName, bool isStatic, bool secondType, i32 argumentIndex) {
    auto* data = new InfoData;
    data->dictionary = object ? nullptr : dictionary;
    data->className = className;
    data->memberName = memberName;
    data->isStatic = isStatic;
    data->secondType = secondType;
    data->argumentIndex = argumentIndex;
    makeHolder(result, Sym::kReflectionInfo, object, data);
}

}  // namespace LxScript
