// The E4X classes "QName" and "Namespace": a qualified name and a
// namespace as small live objects, and their class objects.
#pragma once
#include "core/LiveObject.h"
#include "core/String.h"
#include "core/XML.h"

namespace LxScript {

using LxCore::i32;
using LxCore::u32;

class NamespaceObject : public LxCore::LiveObject {
public:
    NamespaceObject();
    // A prefix of "?" is undefined.
    NamespaceObject(const LxCore::String& prefix, const LxCore::String& uri);

    i32 initialize(const LxCore::Array& args, LxCore::Error* error) override;
    i32 get(i32 id, LxCore::Variant& result, LxCore::Error* error) override;
    i32 call(i32 id, const LxCore::Array& args, LxCore::Variant& result, LxCore::Error* error) override;
    void toString(LxCore::String& text) override;

    // A new namespace node of this prefix ("*" when undefined) and URI.
    LxCore::XML* newNode() const;

    LxCore::String prefix;
    LxCore::String uri;
    bool prefixUndefined = false;
};

class QNameObject : public LxCore::LiveObject {
public:
    QNameObject();

    i32 initialize(const LxCore::Array& args, LxCore::Error* error) override;
    i32 get(i32 id, LxCore::Variant& result, LxCore::Error* error) override;
    i32 call(i32 id, const LxCore::Array& args, LxCore::Variant& result, LxCore::Error* error) override;
    void toString(LxCore::String& text) override;

    LxCore::String prefix;
    LxCore::String uri;
    LxCore::String localName;
    bool anyNamespace = false;
};

// The objects a value holds, or null.
NamespaceObject* namespaceObjectOf(const LxCore::Variant& value);
QNameObject* qnameObjectOf(const LxCore::Variant& value);

// The member rows of "QName" and "Namespace" objects.
const LxCore::LivePropertyInfo* getQNameRows();
const LxCore::LivePropertyInfo* getNamespaceRows();

// The class objects and their member tables; registered with the XML ones.
void initQNameClasses(bool start);

}  // namespace LxScript
