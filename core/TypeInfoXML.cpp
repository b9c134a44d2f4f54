// The "classdef" XML that describes a class: its superclass, descriptions,
// constructor and groups of properties and methods, each with its types.
#include <cmath>
#include <memory>

#include "core/CharClass.h"
#include "core/LivePropertyManager.h"
#include "core/TypeInfo.h"
#include "core/XML.h"

namespace LxCore {

namespace {

// Releases a node that is not (yet) part of a tree.
struct NodeRef {
    XML* node;
    explicit NodeRef(XML* made) : node(made) {}
    ~NodeRef() {
        if (node)
            node->release();
    }
    XML* release() {
        XML* kept = node;
        node = nullptr;
        return kept;
    }
    XML* operator->() const { return node; }
};

// Names the classdef links to only when they are no built-in class.
const char* const kBuiltInClasses[] = {
    "Array", "Boolean", "ByteArray", "Date",       "File",           "Folder", "Function", "Math",
    "Number", "Object", "Reflection", "ReflectionInfo", "RegExp", "Socket", "String", "UnitValue",
};

bool isBuiltInClass(const String& name) {
    for (const char* builtIn : kBuiltInClasses)
        if (name.compare(builtIn) == 0)
            return true;
    return false;
}

// The type names the XML uses.
String xmlTypeName(const TypeInfo& type) {
    String name;
    type.getTypeName(name);
    if (name.compare("undefined") == 0 || name.compare("unknown") == 0)
        return String("any");
    if (name.compare("boolean") == 0)
        return String("bool");
    if (name.compare("object") == 0)
        return String("Object");
    return name;
}

// "shortdesc" and "description" when not empty; a long text alone is the short one.
void addDescriptions(XML& element, const String& shortText, const String& longText) {
    if (shortText.isEmpty()) {
        if (!longText.isEmpty())
            element.addChild(String("shortdesc"), longText);
        return;
    }
    element.addChild(String("shortdesc"), shortText);
    if (!longText.isEmpty())
        element.addChild(String("description"), longText);
}

template <class Source>
void addExamples(XML& element, Source& source) {
    String sample;
    if (source.getSampleFile(sample)) {
        XML* example = element.addChild(String("example"));
        if (example)
            example->addChild(String("@href"), sample);
    }
    if (source.getSampleText(sample))
        element.addChild(String("example"), sample);
}

void addParameters(XML& method, ServiceInfo& service) {
    XML* parameters = method.addChild(String("parameters"));
    if (!parameters)
        return;
    for (u32 i = 0; i < service.getParamCount(); i++) {
        ParamInfo* param = service.getParamInfo(i);
        if (!param)
            continue;
        RefcountablePtr held(param);
        XML* element = parameters->addChild(String("parameter"));
        String name, shortText, longText;
        param->getName(name);
        param->getDescription(0, shortText);
        param->getDescription(1, longText);
        element->addChild(String("@name"), name);
        addDescriptions(*element, shortText, longText);
        if (TypeInfo* type = param->getDataType())
            type->toXML(*element, true);
    }
}

bool isPropertyKind(u32 kind) { return kind == 1 || kind == 2 || kind == 6 || kind == 7; }

}  // namespace

void TypeInfo::toXML(XML& parent, bool parameter) const {
    XML* type = parent.addChild(String("datatype"));
    if (!type)
        return;
    String description;
    getDescription(description);
    if (!description.isEmpty())
        type->addChild(String("shortdesc"), description);
    type->addChild(String("type"), xmlTypeName(*this));
    f64 min, max;
    getRange(&min, &max);
    if (std::isfinite(min))
        type->addChild(String("min"), Variant(min).toString());
    if (std::isfinite(max))
        type->addChild(String("max"), Variant(max).toString());
    Variant given;
    if (getDefault(given)) {
        if (parameter && parent.getName().compare("parameter") == 0) {
            parent.addChild(String("@optional"), String("true"));
            if (given.getType() != Variant::kUndefined)
                type->addChild(String("value"), given.toString());
        } else {
            type->addChild(String("value"), given.toString());
        }
    }
    if (isArray())
        type->addChild(String("array"));
}

XML* ServiceInfo::toXML(ServiceInfo& service, u32 kind, bool) {
    NodeRef element(new XML(String(kind == kKindMethod ? "method" : "property")));
    String name, shortText, longText;
    service.getName(name);
    element->addChild(String("@name"), name);
    if (kind == kKindReadOnly || service.getCategory() == 6)
        element->addChild(String("@rwaccess"), String("readonly"));
    service.getDescription(0, shortText);
    service.getDescription(1, longText);
    addDescriptions(*element.node, shortText, longText);
    if (kind == kKindMethod)
        addParameters(*element.node, service);
    const bool propertySide = kind != kKindMethod && isCallableKind(service.getKind());
    if (TypeInfo* type = propertySide ? service.getPropertyDataType() : service.getDataType())
        type->toXML(*element.node, false);
    addExamples(*element.node, service);
    return element.release();
}

XML* ServiceInfo::toXMLList(ServiceInfo& service) {
    const u32 kind = service.getKind();
    switch (kind) {
        case kKindReadOnly:
        case kKindReadWrite:
        case kKindMethod:
            return toXML(service, kind, false);
        case kKindCallableReadWrite:
        case kKindCallableReadOnly: {
            NodeRef list(new XML(XML::kList));
            list->insert(toXML(service, kKindMethod, false), XML::kAppend, true);
            u32 propertyKind = kind == kKindCallableReadWrite ? kKindReadWrite : kKindReadOnly;
            list->insert(toXML(service, propertyKind, false), XML::kAppend, true);
            return list.release();
        }
        default:
            return nullptr;
    }
}

namespace {

// One group of elements: static or instance, properties or methods.
struct Group {
    bool isStatic;
    bool methods;
};

void addGroup(XML& classdef, ClassInfo& info, const String& className, Group group) {
    StringList names;
    // Members hidden from enumerations are documented too.
    u32 flags = kListReadWrite | kListReadOnly | kListMethods | kListHidden | kScriptClient |
                (group.isStatic ? ClassInfo::kStaticServices : 0);
    info.getServiceNames(names, flags);
    XML* elements = nullptr;
    try {
        for (i32 i = 0; i < names.getCount(); i++) {
            const String& name = *names.get(i);
            if (name == className)
                continue;
            ServiceInfo* service = group.isStatic ? info.getStaticServiceInfoByName(name)
                                                  : info.getServiceInfoByName(name);
            if (!service)
                continue;
            RefcountablePtr held(service);
            const u32 kind = service->getKind();
            const bool wanted = group.methods ? isCallableKind(kind) : isPropertyKind(kind);
            if (!wanted)
                continue;
            if (group.methods ? name.compare("constructor") == 0
                              : name.compare("prototype") == 0 || name.compare("__proto__") == 0)
                continue;
            u32 written = group.methods ? kKindMethod
                          : kind == kKindCallableReadWrite ? kKindReadWrite
                          : kind == kKindCallableReadOnly ? kKindReadOnly
                                                          : kind;
            if (!elements) {
                elements = classdef.addChild(String("elements"));
                elements->addChild(String("@type"), String(group.isStatic ? "class" : "instance"));
            }
            elements->insert(ServiceInfo::toXML(*service, written, group.isStatic), XML::kAppend,
                             true);
        }
    } catch (...) {
        freeStrings(names);
        throw;
    }
    freeStrings(names);
}

}  // namespace

XML* ClassInfo::toXML(ClassInfo& info) {
    String name, superclass, text;
    info.getName(name);
    NodeRef classdef(new XML(String("classdef")));
    classdef->addChild(String("@name"), name);
    const bool enumeration = info.getKind() == 6;
    classdef->addChild(String(enumeration ? "@enumeration" : "@dynamic"), String("true"));
    info.getSuperClassName(superclass);
    if (!superclass.isEmpty()) {
        XML* element = classdef->addChild(String("superclass"), superclass);
        if (element && toUpperChar(superclass[0]) == superclass[0] && !isBuiltInClass(superclass)) {
            String href("#/");
            href += superclass;
            element->addChild(String("@href"), href);
        }
    }
    String longText;
    info.getDescription(false, text);
    info.getDescription(true, longText);
    addDescriptions(*classdef.node, text, longText);
    if (!enumeration) {
        XML* constructor = classdef->addChild(String("elements"));
        constructor->addChild(String("@type"), String("constructor"));
        if (ServiceInfo* service = info.getStaticServiceInfoByName(name)) {
            RefcountablePtr held(service);
            constructor->insert(ServiceInfo::toXML(*service, kKindMethod, true), XML::kAppend, true);
        }
    }
    addGroup(*classdef.node, info, name, {true, false});
    if (!enumeration) {
        addGroup(*classdef.node, info, name, {true, true});
        addGroup(*classdef.node, info, name, {false, false});
        addGroup(*classdef.node, info, name, {false, true});
    }
    addExamples(*classdef.node, info);
    return classdef.release();
}

}  // namespace LxCore
