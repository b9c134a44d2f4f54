// QName and Namespace objects and their class objects.
#include "script/library/e4x/QNameObject.h"

#include "core/ErrorCodes.h"
#include "core/LivePropertyManager.h"
#include "script/library/e4x/XMLMethods.h"
#include "script/library/e4x/XMLObject.h"

namespace LxScript {

using LxCore::Array;
using LxCore::Error;
using LxCore::LiveObject;
using LxCore::String;
using LxCore::Variant;
using LxCore::XML;
namespace Err = LxCore::Err;

namespace {

enum : i32 {
    kUri = 10001,
    kLocalName = 10002,
    kPrefix = 10003,
    kEquals = 0x1ff10112,
};

const LxCore::LivePropertyInfo kNamespaceRows[] = {
    {"prefix", kPrefix, 0x41, "string"},
    {"uri", kUri, 0x41, "string"},
    {"==", kEquals, 0xe5, nullptr},
    {nullptr, 0, 0, nullptr},
};

const LxCore::LivePropertyInfo kQNameRows[] = {
    {"prefix", kPrefix, 0xc1, "string"},
    {"uri", kUri, 0x41, "string"},
    {"localName", kLocalName, 0x41, "string"},
    {"==", kEquals, 0xe5, nullptr},
    {nullptr, 0, 0, nullptr},
};

const LxCore::LivePropertyInfo kNoRows[] = {{nullptr, 0, 0, nullptr}};

LxCore::LivePropertyManager* namespaceTable = nullptr;
LxCore::LivePropertyManager* namespaceClassTable = nullptr;
LxCore::LivePropertyManager* qnameTable = nullptr;
LxCore::LivePropertyManager* qnameClassTable = nullptr;

String defaultNamespaceURI() {
    const XMLSettings* s = XMLSettings::current();
    return s ? s->defaultNamespace : String();
}

// "==": the two objects' texts are equal.
i32 equalTexts(LiveObject& self, const Array& args, Variant& result) {
    String mine, theirs;
    self.toString(mine);
    const Variant& other = argumentAt(args, 0);
    if (LiveObject* live = other.getLiveObject())
        live->toString(theirs);
    else
        theirs = other.toString();
    result.setBool(mine == theirs);
    return 0;
}

// The class objects: called with an object of their class they give it
// back; else, and for new, a fresh object initialised with the arguments.
template <class Made>
class NameFactory : public LiveObject {
public:
    NameFactory(const char* name) : LiveObject(name, false) {
        flags |= LxCore::kLiveFactory;
    }

    i32 clone(LiveObject*& out, bool) override {
        out = new Made;
        return 0;
    }

    i32 call(i32 id, const Array& args, Variant& result, Error* error) override {
        result.clear();
        if (id != LxCore::kSelfCallId)
            return LiveObject::call(id, args, result, error);
        return setPropertyError(LxCore::statusOf([&] {
            LiveObject* live = argumentAt(args, 0).getLiveObject();
            if (args.length() == 1 && live && live->getClassName() == getClassName()) {
                result.setLiveObject(*live, 0);
                return 0;
            }
            auto* made = new Made;
            LxCore::RefcountablePtr hold(made);
            const i32 status = made->initialize(args, error);
            if (status == 0)
                result.setLiveObject(*made, 0);
            return status;
        }), id, error);
    }
};

}  // namespace

NamespaceObject* namespaceObjectOf(const Variant& value) {
    LiveObject* live = value.getLiveObject();
    return live && live->getClassName().compare("Namespace") == 0 ? dynamic_cast<NamespaceObject*>(live)
                                                                    : nullptr;
}

QNameObject* qnameObjectOf(const Variant& value) {
    LiveObject* live = value.getLiveObject();
    return live && live->getClassName().compare("QName") == 0 ? dynamic_cast<QNameObject*>(live) : nullptr;
}

// ---------------------------------------------------------------------------
// Namespace

NamespaceObject::NamespaceObject() : LiveObject("Namespace", false) { propertyManager = namespaceTable; }

NamespaceObject::NamespaceObject(const String& p, const String& u) : NamespaceObject() {
    uri = u;
    if (p.compare("?") == 0)
        prefixUndefined = true;
    else
        prefix = p;
}

i32 NamespaceObject::initialize(const Array& args, Error* error) {
    return LxCore::statusOf([&] {
        const Variant& first = argumentAt(args, 0);
        if (args.length() == 1) {
            if (const QNameObject* q = qnameObjectOf(first)) {
                if (!q->anyNamespace)
                    uri = q->uri;
            } else if (const NamespaceObject* ns = namespaceObjectOf(first)) {
                prefix = ns->prefix;
                uri = ns->uri;
                prefixUndefined = ns->prefixUndefined;
            } else {
                uri = first.toString();
                prefixUndefined = !uri.isEmpty();
            }
        } else if (args.length() >= 2) {
            const Variant& second = argumentAt(args, 1);
            const QNameObject* q = qnameObjectOf(second);
            const String newUri = q && !q->anyNamespace ? q->uri : second.toString();
            if (newUri.isEmpty()) {
                if (error && error->isEmpty())
                    error->push(Err::kBadArgument, newUri, nullptr, true);
                return Err::kBadArgument;
            }
            uri = newUri;
            if (first.getType() == Variant::kUndefined) {
                prefix.clear();
                prefixUndefined = true;
            } else {
                prefix = first.toString();
                prefixUndefined = false;
            }
        }
        if (!prefix.isEmpty() && !XML::isValidName(prefix)) {
            prefix.clear();
            prefixUndefined = true;
        }
        return 0;
    });
}

i32 NamespaceObject::get(i32 id, Variant& result, Error* error) {
    result.clear();
    if (id == kUri)
        result.setString(uri);
    else if (id == kPrefix && !prefixUndefined)
        result.setString(prefix);
    else if (id != kPrefix)
        return LiveObject::get(id, result, error);
    return 0;
}

i32 NamespaceObject::call(i32 id, const Array& args, Variant& result, Error* error) {
    if (id == kEquals)
        return equalTexts(*this, args, result);
    return LiveObject::call(id, args, result, error);
}

void NamespaceObject::toString(String& text) { text = uri; }

XML* NamespaceObject::newNode() const {
    XML* node = new XML(XML::kNamespace, prefixUndefined ? String("*") : prefix);
    node->setValue(uri);
    return node;
}

// ---------------------------------------------------------------------------
// QName

QNameObject::QNameObject() : LiveObject("QName", false) { propertyManager = qnameTable; }

i32 QNameObject::initialize(const Array& args, Error*) {
    return LxCore::statusOf([&] {
        anyNamespace = true;
        const Variant& first = argumentAt(args, 0);
        bool fromObject = false;
        if (const QNameObject* q = qnameObjectOf(first)) {
            prefix = q->prefix;
            uri = q->uri;
            localName = q->localName;
            anyNamespace = q->anyNamespace;
            fromObject = true;
        } else if (const NamespaceObject* ns = namespaceObjectOf(first)) {
            prefix = ns->prefix;
            uri = ns->uri;
            anyNamespace = false;
            fromObject = true;
        }
        if (args.length() == 1 && !fromObject) {
            localName = first.toString();
            uri = defaultNamespaceURI();
            anyNamespace = localName.compare("*") == 0;
        } else if (args.length() >= 2) {
            if (!fromObject && !isAbsent(first)) {
                anyNamespace = false;
                uri = first.toString();
            }
            localName = argumentAt(args, 1).toString();
        }
        if (localName.compare("*") == 0 && !anyNamespace)
            uri = defaultNamespaceURI();
        return 0;
    });
}

i32 QNameObject::get(i32 id, Variant& result, Error* error) {
    result.clear();
    switch (id) {
        case kUri:
            if (anyNamespace)
                result.setNull();
            else
                result.setString(uri);
            return 0;
        case kLocalName:
            result.setString(localName);
            return 0;
        case kPrefix:
            result.setString(prefix);
            return 0;
        default:
            return LiveObject::get(id, result, error);
    }
}

i32 QNameObject::call(i32 id, const Array& args, Variant& result, Error* error) {
    if (id == kEquals)
        return equalTexts(*this, args, result);
    return LiveObject::call(id, args, result, error);
}

void QNameObject::toString(String& text) {
    text.clear();
    if (localName.isEmpty())
        return;
    if (anyNamespace) {
        text = "*::";
        text += localName;
    } else if (!uri.isEmpty()) {
        text = uri;
        text += "::";
        text += localName;
    } else {
        text = localName;
    }
}

// ---------------------------------------------------------------------------
// Classes

const LxCore::LivePropertyInfo* getQNameRows() { return kQNameRows; }

const LxCore::LivePropertyInfo* getNamespaceRows() { return kNamespaceRows; }

void initQNameClasses(bool start) {
    if (start) {
        LiveObject::registerBuiltInClass(kQNameRows, kNoRows, qnameTable, qnameClassTable,
                                         [] { return static_cast<LiveObject*>(new NameFactory<QNameObject>("QName")); },
                                         LxCore::kScriptClient);
        LiveObject::registerBuiltInClass(
            kNamespaceRows, kNoRows, namespaceTable, namespaceClassTable,
            [] { return static_cast<LiveObject*>(new NameFactory<NamespaceObject>("Namespace")); },
            LxCore::kScriptClient);
        return;
    }
    for (LxCore::LivePropertyManager** table : {&qnameTable, &qnameClassTable, &namespaceTable, &namespaceClassTable}) {
        delete *table;
        *table = nullptr;
    }
}

}  // namespace LxScript
