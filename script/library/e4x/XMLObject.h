// The E4X classes "XML" and "XMLList": script values over one node of the
// core's XML model, their class objects with the per-engine settings, and
// the helpers the engine's E4X operations and object model reach through
// the library's hooks (script/engine/LibraryHooks.h).
#pragma once
#include "core/Dictionary.h"
#include "core/LiveCollection.h"
#include "core/String.h"
#include "core/Variant.h"
#include "core/XML.h"
#include "script/engine/XMLSettings.h"

namespace LxScript {

using LxCore::i32;
using LxCore::u32;

class Engine;
class Object;
class RealEngine;

// getInterface codes: the node behind an XML object, and the object itself.
constexpr u32 kXMLNodeInterface = 0x20786D6C;      // ' xml'
constexpr u32 kXMLObjectInterface = 0x20786F62;    // ' xob'

// The core's default namespace set to the engine's for a scope.
class DefaultNamespaceScope {
public:
    DefaultNamespaceScope();
    ~DefaultNamespaceScope();
    DefaultNamespaceScope(const DefaultNamespaceScope&) = delete;
    DefaultNamespaceScope& operator=(const DefaultNamespaceScope&) = delete;

private:
    LxCore::String previous;
};

class XMLObject : public LxCore::LiveCollection {
public:
    // Takes over the caller's reference to node (null: made on first use).
    XMLObject(LxCore::XML* node, bool listMode);
    ~XMLObject() override;

    void* getInterface(u32 code) override;
    const void* getInterface(u32 code) const override;
    i32 initialize(const LxCore::Array& args, LxCore::Error* error) override;
    i32 findProperty(const LxCore::String& name, i32& id, u32& kind, u32 flags) override;
    i32 getPropertyName(i32 id, LxCore::String& name, u32 flags) override;
    u32 getPropertyKind(i32 id) override;
    i32 removeProperty(i32 id) override;
    i32 get(i32 id, LxCore::Variant& result, LxCore::Error* error) override;
    i32 put(i32 id, const LxCore::Variant& value, LxCore::Error* error) override;
    i32 call(i32 id, const LxCore::Array& args, LxCore::Variant& result, LxCore::Error* error) override;
    void valueOf(LxCore::Variant& result) override;
    void toString(LxCore::String& text) override;
    i32 getLength(u32& length) override;
    i32 getItem(u32 index, LxCore::Variant& result, LxCore::Error* error) override;
    i32 putItem(u32 index, const LxCore::Variant& value, LxCore::Error* error) override;
    i32 removeItem(u32 index) override;

    // The node held (an empty list made on first need); borrowed.
    LxCore::XML* getNode();
    // The node methods work on: a one-item list stands for its item.
    LxCore::XML* working();
    bool isListMode() const { return listMode; }

private:
    LxCore::XML* node;
    bool listMode;

    i32 runMethod(i32 id, const LxCore::Array& args, LxCore::Variant& result, LxCore::Error* error);
    i32 putNamed(const LxCore::String& name, const LxCore::Variant& value);
};

// The node a value holds through its live object, or null; borrowed.
LxCore::XML* xmlOf(const LxCore::Variant& value);
// The node behind a live object, with a reference of its own when addRef.
LxCore::XML* getXMLFromLiveObject(LxCore::LiveObject* live, bool addRef);
// Wraps node in a new XML object (list mode for a list) as a live value.
void makeXMLVariant(LxCore::XML* node, LxCore::Variant& out);
// The E4X delete: every node behind the value leaves its parent.
void deleteXMLValue(LxCore::Variant& value);
// A namespace node for a value (new reference), or null for any namespace.
LxCore::XML* namespaceFromValue(const LxCore::Variant& value);
// Whether the text of name marks an attribute: '@' after the last "::".
bool isAttributeName(const LxCore::String& name);

// The global functions' support: isXMLName and setDefaultXMLNamespace.
bool isXMLName(Engine& engine, const LxCore::Variant& value);
void setDefaultXMLNamespace(const LxCore::Variant& value, LxCore::Variant& result);

// Object-model hooks.
void ensureXMLChildElement(Object& object, LxCore::i32 symbol);
bool xmlObjectHasSymbol(Object& object, LxCore::i32 symbol);
// While the "XML" class object builds its prototype: an empty XML instance
// is attached to it.
void attachXMLPrototype(Object& function, Object& prototype);
// For the "XMLList" class object: the prototype it shares with "XML" (the
// global's "XML" class object's), or null for any other function.
Object* linkXMLListPrototype(Object& function, Object* global);
// The E4X text of the object's XML node when that has simple content.
bool xmlSimpleText(Object& object, LxCore::String& text);
// for-in names (item indexes as texts) and for-each values, as live values.
void collectXMLForInKeys(LxCore::LiveObject* live, LxCore::Array& out);
void collectXMLForEachValues(LxCore::LiveObject* live, LxCore::Array& out);

// The descriptions of "QName", "Namespace" and "XML" (group "JavaScript")
// for the engine's default dictionary; ends at a null table.
const LxCore::DictionaryEntry* getXMLClassTable();

// Engine library start and exit: the four class objects.
void registerXmlClasses();
void invalidateXMLClasses();

}  // namespace LxScript
