// Descriptions of value types, members and parameters, and the reader of the
// help texts they are built from: "bool\tConvert this instance.,unitName:string\tThe unit name."
// gives a result type with its description, then one parameter per item.
#pragma once
#include "core/Heap.h"
#include "core/Refcountable.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/Types.h"
#include "core/Variant.h"

namespace LxCore {

class XML;

// A list of names: each element a String made with new, which the list's
// holder frees with freeStrings.
using StringList = TSimpleArray<String>;
void appendString(StringList& list, const String& text);   // throws std::bad_alloc
void freeStrings(StringList& list);

// Type codes beyond the Variant tags 0 to 12.
constexpr u32 kTypeAny = 126;
constexpr u32 kTypeUnknown = 127;      // a description never filled

// "undefined" .. "unitvalue" for the Variant tags, "any" for 126, else "unknown".
const char* getTypeName(u32 type);

class TypeInfo : public Root {
public:
    virtual ~TypeInfo() = default;
    virtual u32 getType() const = 0;
    // For objects (5, 6) the class name when there is one, else "Object".
    virtual void getTypeName(String& out) const;
    virtual void getClassName(String& out) const = 0;
    virtual bool isArray() const = 0;
    virtual bool getRange(f64* min, f64* max) const = 0;
    virtual bool getDefault(Variant& out) const = 0;
    virtual void getDescription(String& out) const { out.clear(); }

    // Adds a "datatype" element to parent; a default makes a "parameter"
    // parent optional.
    void toXML(XML& parent, bool parameter) const;
};

class ParamInfo : public Refcountable {
public:
    virtual u32 getClients() const = 0;
    virtual u32 getKind() const = 0;
    virtual void getName(String& out) const = 0;
    virtual void getDescription(u8 which, String& out) const = 0;   // 0 short, 1 long
    virtual TypeInfo* getDataType() = 0;                              // owned by this
};

class ServiceInfo : public Refcountable {
public:
    virtual u32 getClients() const = 0;
    virtual u32 getCategory() const = 0;          // 5 a method, 1 a property
    virtual i32 getName(String& out) const = 0;
    virtual void getDescription(u8 which, String& out) const = 0;
    virtual i32 getID() const = 0;
    virtual u32 getKind() const = 0;              // a member kind: 1, 2, 5, 6, 7
    virtual TypeInfo* getDataType() = 0;          // owned by this
    virtual TypeInfo* getPropertyDataType() = 0;  // the property side of a callable property
    virtual u32 getParamCount() const = 0;
    virtual ParamInfo* getParamInfo(u32 index) = 0;   // a new reference, or null
    virtual bool getSampleFile(String& out) const = 0;
    virtual bool getSampleText(String& out) const = 0;

    // One "property" (kinds 1, 2) or "method" (kind 5) element; new.
    static XML* toXML(ServiceInfo& service, u32 kind, bool isStatic);
    // By the service's own kind: one element, or for 6 and 7 a list of the
    // method and the property; null for other kinds.
    static XML* toXMLList(ServiceInfo& service);
};

class ClassInfo : public Refcountable {
public:
    // Asks for the services of the class object rather than of its instances.
    static constexpr u32 kStaticServices = 0x1000000;

    virtual void getSuperClassName(String& out) const = 0;
    virtual u32 getClients() const = 0;
    virtual u32 getKind() const = 0;              // 1 a class, 6 an enumeration
    virtual void getName(String& out) const = 0;
    virtual void getDescription(bool longText, String& out) const = 0;
    virtual i32 getServiceNames(StringList& out, u32 flags) = 0;
    virtual i32 getServiceIDs(SimpleArray& out, u32 flags) = 0;
    // New references, or null.
    virtual ServiceInfo* getServiceInfoByName(const String& name) = 0;
    virtual ServiceInfo* getServiceInfo(i32 id) = 0;
    virtual ServiceInfo* getStaticServiceInfoByName(const String& name) = 0;
    virtual ServiceInfo* getStaticServiceInfo(i32 id) = 0;
    virtual bool getSampleFile(String& out) const = 0;
    virtual bool getSampleText(String& out) const = 0;

    // The "classdef" element describing the class; new.
    static XML* toXML(ClassInfo& info);
};

// One item of a help text, as read.
class SimpleTypeInfo : public TypeInfo {
public:
    u32 getType() const override { return type; }
    void getClassName(String& out) const override { out = className; }
    bool isArray() const override { return array; }
    bool getRange(f64* min, f64* max) const override;
    bool getDefault(Variant& out) const override;
    const String& getText(u8 which) const { return which == 0 ? shortDescription : description; }

private:
    Variant defaultValue;
    String className;
    String shortDescription;
    String description;
    u32 type = kTypeUnknown;
    f64 minimum;
    f64 maximum;
    bool array = false;
    bool hasRange = false;
    bool hasDefault = false;

    SimpleTypeInfo();
    void readItem(String item, String* name, String* shortDesc, String* desc);
    void readTypeSpec(String spec);
    friend SimpleTypeInfo* parseTypeInfo(const String&, i32, String*, String*, String*,
                                         TypeInfo**);
};

// Item `index` of a help text, or its result item for -1; the name and the
// two descriptions go where asked, and for the result item an alternative
// type after '/' goes to *altType (a new description, or null when none).
// Past the last item: type 127 named "arg<n>". Throws std::bad_alloc.
SimpleTypeInfo* parseTypeInfo(const String& help, i32 index, String* name, String* shortDesc,
                              String* description, TypeInfo** altType);

// Whether the first item of a help text is a parameter rather than a result:
// a ':' after its first character and before its first TAB.
bool helpStartsWithParameter(const String& help);

// How many parameters a help text describes.
u32 countHelpParameters(const String& help);

}  // namespace LxCore
