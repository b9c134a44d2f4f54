// Dictionaries: named catalogues of scriptable classes sorted into groups,
// each class described over its property table. A dictionary may hold
// attached dictionaries, asked before its own classes; dictionaries are
// found by name in a process-wide registry; one can be the main one. Each
// writes itself as an XML help map and hands out "classdef" descriptions.
//
// Texts of groups and classes take the form "name\ttitle": the part before
// the first TAB (trimmed) is the name, the rest the display title.
//
// Ownership: a dictionary owns its attached ones; the registry owns the
// registered ones. A dictionary is attached to one parent at most, is never
// both attached and registered, and no chain of attachments comes back to
// where it began. A dictionary deleted while registered leaves the registry
// (and stops being the main one).
#pragma once
#include "core/HashTable.h"
#include "core/Heap.h"
#include "core/SimpleArray.h"
#include "core/String.h"
#include "core/TypeInfo.h"
#include "core/Types.h"

namespace LxCore {

class LivePropertyManager;
struct LivePropertyInfo;
class XML;

// A row of Dictionary::addClasses; the table ends at a null property table.
struct DictionaryEntry {
    const LivePropertyInfo* table;
    const char* group;
    const char* className;
};

// A class described over its static property table.
class PropertyManagerClassInfo : public ClassInfo {
public:
    // Throws std::bad_alloc.
    PropertyManagerClassInfo(const LivePropertyInfo* table, const String& name,
                             const String& description, u32 clientMask);
    ~PropertyManagerClassInfo() override;      // the delegate's reference goes with it

    void getSuperClassName(String& out) const override { out.clear(); }
    u32 getClients() const override { return clientMask; }
    u32 getKind() const override { return 1; }
    void getName(String& out) const override { out = name; }
    void getDescription(bool longText, String& out) const override;
    i32 getServiceNames(StringList& out, u32 flags) override;
    i32 getServiceIDs(SimpleArray& out, u32 flags) override;
    ServiceInfo* getServiceInfoByName(const String& name) override;
    ServiceInfo* getServiceInfo(i32 id) override;
    ServiceInfo* getStaticServiceInfoByName(const String& name) override;
    ServiceInfo* getStaticServiceInfo(i32 id) override;
    bool getSampleFile(String&) const override { return false; }
    bool getSampleText(String& out) const override;

    // More rows for the same class; throws std::bad_alloc.
    void addRows(const LivePropertyInfo* table);
    void setDescription(const String& text) { description = text; }
    const String& getDescriptionText() const { return description; }
    // A description asked after this one's own; one reference is taken.
    void setDelegate(ClassInfo* info);

private:
    LivePropertyManager* manager;       // owned
    String name;
    String description;
    ClassInfo* delegate = nullptr;      // one reference
    u32 clientMask;
};

class DictionaryData;
class Dictionary;
using DictionaryRegistry = THashTable<Dictionary, THashTableBase::hashAll>;

class Dictionary : public Root {
public:
    explicit Dictionary(u32 clientMask);
    virtual ~Dictionary();
    Dictionary(const Dictionary&) = delete;
    Dictionary& operator=(const Dictionary&) = delete;

    // Lists hold new Strings, the caller's to free (freeStrings).
    virtual void getGroups(StringList& out);
    virtual void getClasses(const String& group, StringList& out);
    // A new reference, or null.
    virtual ClassInfo* getClass(const String& name);
    // Group and class are "name\ttitle" texts in Latin-1. Throw std::bad_alloc.
    virtual void addClass(const LivePropertyInfo* table, const char* group, const char* className);
    virtual void addClasses(const DictionaryEntry* entries);
    // The map's time attribute; empty here.
    virtual void getTimeStamp(String& out);

    // The class's "classdef" element (new), or null when it is unknown.
    XML* getClassXML(const String& className);
    // The help map: a "map" element with "topicref" children; new.
    XML* toXML(const String* hrefPrefix);
    bool isDefault() const;
    const String& getName() const;
    void setName(const String& name);

    // Takes ownership of child, asked before this one's classes. Refused
    // (false, nothing owned) for this dictionary itself, one attached or
    // registered already, or one this dictionary is attached under.
    bool attach(Dictionary* child);

    // The registry. Registering hands the dictionary to it under its name
    // (false, nothing owned, for an attached one or a name already taken);
    // unregistering hands it back. Both take the dictionary lock.
    static bool registerDictionary(Dictionary* dictionary);
    static bool unregisterDictionary(Dictionary* dictionary);
    static Dictionary* find(const String& name);
    // Made on first use; valid until the module ends.
    static DictionaryRegistry* getRegistry();
    static Dictionary* getMainDictionary();
    // Null clears; a dictionary that goes stops being the main one.
    static void setMainDictionary(Dictionary* dictionary);

private:
    DictionaryData* d;

    friend class DictionaryData;
    friend Dictionary* topOf(Dictionary* dictionary);
};

// Module start/end: the dictionary lock; at the end every registered
// dictionary leaves the registry and is deleted, and the registry goes.
void initDictionaries(bool start);

}  // namespace LxCore
