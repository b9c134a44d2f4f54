// Dictionaries, their class descriptions over property tables, the help map
// they write, and the registry that finds them by name.
#include "core/Dictionary.h"

#include <new>
#include <vector>

#include "core/LiveObject.h"
#include "core/LivePropertyManager.h"
#include "core/Refcountable.h"
#include "core/XML.h"

namespace LxCore {

namespace {

using NameTable = THashTable<String, THashTableBase::hashAll>;

DictionaryRegistry* registry = nullptr;
Dictionary* mainDictionary = nullptr;
Lock* dictionaryLock = nullptr;

class RegistryGuard {
public:
    RegistryGuard() {
        if (dictionaryLock)
            dictionaryLock->enter();
    }
    ~RegistryGuard() {
        if (dictionaryLock)
            dictionaryLock->leave();
    }
    RegistryGuard(const RegistryGuard&) = delete;
    RegistryGuard& operator=(const RegistryGuard&) = delete;
};

// "name\ttitle": the name before the first TAB, trimmed of units up to
// U+0020, and the title after it.
void splitNameTitle(const String& text, String& name, String* title) {
    const i32 tab = text.find(unit('\t'));
    name = tab < 0 ? text : text.substr(0, tab);
    name.trim();
    if (title)
        *title = tab < 0 ? String() : text.substr(tab + 1);
}

String nameOf(const String& text) {
    String name;
    splitNameTitle(text, name, nullptr);
    return name;
}

// Keeps a non-empty title unless one is kept already.
void keepTitle(NameTable& titles, const String& name, const String& title) {
    if (title.isEmpty())
        return;
    const String* kept = titles.get(name);
    if (kept && !kept->isEmpty())
        return;
    String* copy = new String(title);
    if (kept)
        delete titles.remove(name);
    try {
        titles.put(name, copy);
    } catch (...) {
        delete copy;
        throw;
    }
}

void deleteValues(NameTable& table) {
    SimpleArray entries;
    table.getEntries(entries);
    for (i32 i = 0; i < entries.getCount(); i++)
        delete reinterpret_cast<NameTable::Entry*>(entries.get(i))->value;
    table.clear();
}

}  // namespace

// ---------------------------------------------------------------------------
// PropertyManagerClassInfo

PropertyManagerClassInfo::PropertyManagerClassInfo(const LivePropertyInfo* table, const String& className,
                                                   const String& text, u32 mask)
    : manager(new LivePropertyManager(table)), name(className), description(text), clientMask(mask) {}

PropertyManagerClassInfo::~PropertyManagerClassInfo() {
    if (delegate)
        delegate->release();
    delete manager;
}

void PropertyManagerClassInfo::setDelegate(ClassInfo* info) {
    if (info)
        info->addRef();
    if (delegate)
        delegate->release();
    delegate = info;
}

void PropertyManagerClassInfo::addRows(const LivePropertyInfo* table) {
    for (const LivePropertyInfo* row = table; row && row->name; row++)
        manager->addProperty(*row);
}

void PropertyManagerClassInfo::getDescription(bool longText, String& out) const {
    out = longText ? description : String();
}

bool PropertyManagerClassInfo::getSampleText(String& out) const {
    out.clear();
    return false;
}

namespace {

// The class object's members as a static property manager sees them.
LivePropertyManager* staticManagerOf(const String& className, u32 clientMask) {
    LiveObject* classObject = LiveObject::findClass(className, clientMask);
    return classObject ? classObject->getPropertyManager() : nullptr;
}

u32 staticRequest(u32 flags) {
    return (flags & ~(ClassInfo::kStaticServices | kClientMaskBits)) | kScriptClient;
}

}  // namespace

i32 PropertyManagerClassInfo::getServiceIDs(SimpleArray& out, u32 flags) {
    if (!(flags & kStaticServices)) {
        manager->getPropertyIDs(out, flags);
    } else if (LivePropertyManager* statics = staticManagerOf(name, clientMask)) {
        statics->getPropertyIDs(out, staticRequest(flags));
    }
    if (delegate) {
        SimpleArray more;
        delegate->getServiceIDs(more, flags);
        out.merge(more, false);
    }
    return 0;
}

i32 PropertyManagerClassInfo::getServiceNames(StringList& out, u32 flags) {
    auto addNames = [&](LivePropertyManager& from, u32 request) {
        SimpleArray ids;
        from.getPropertyIDs(ids, request);
        for (i32 i = 0; i < ids.getCount(); i++) {
            String text;
            if (from.getPropertyName(i32(ids.get(i)), text, request) == 0)
                appendString(out, text);
        }
    };
    if (!(flags & kStaticServices)) {
        addNames(*manager, flags);
    } else if (LiveObject* classObject = LiveObject::findClass(name, clientMask)) {
        appendString(out, classObject->getClassName());
        if (LivePropertyManager* statics = classObject->getPropertyManager())
            addNames(*statics, staticRequest(flags));
    }
    if (delegate) {
        StringList more;
        delegate->getServiceNames(more, flags);
        for (i32 i = 0; i < more.getCount(); i++) {
            bool known = false;
            for (i32 j = 0; j < out.getCount() && !known; j++)
                known = *out.get(j) == *more.get(i);
            if (!known)
                appendString(out, *more.get(i));
        }
        freeStrings(more);
    }
    return 0;
}

ServiceInfo* PropertyManagerClassInfo::getServiceInfoByName(const String& member) {
    if (ServiceInfo* info = manager->getServiceInfo(member, kScriptClient))
        return info;
    return delegate ? delegate->getServiceInfoByName(member) : nullptr;
}

ServiceInfo* PropertyManagerClassInfo::getServiceInfo(i32 id) {
    if (ServiceInfo* info = manager->getServiceInfo(id, kScriptClient))
        return info;
    return delegate ? delegate->getServiceInfo(id) : nullptr;
}

ServiceInfo* PropertyManagerClassInfo::getStaticServiceInfoByName(const String& member) {
    if (member == name)
        return manager->getConstructorInfo(kScriptClient);
    if (LivePropertyManager* statics = staticManagerOf(name, clientMask)) {
        i32 id = 0;
        u32 kind = 0;
        if (statics->findProperty(member, id, kind, kScriptClient) == 0)
            return getStaticServiceInfo(id);
    }
    return delegate ? delegate->getStaticServiceInfoByName(member) : nullptr;
}

ServiceInfo* PropertyManagerClassInfo::getStaticServiceInfo(i32 id) {
    if (LivePropertyManager* statics = staticManagerOf(name, clientMask))
        if (ServiceInfo* info = statics->getServiceInfo(id, kScriptClient))
            return info;
    return delegate ? delegate->getStaticServiceInfo(id) : nullptr;
}

// ---------------------------------------------------------------------------
// DictionaryData

class DictionaryData : public Root {
public:
    String name;
    THashTable<StringList, THashTableBase::hashAll> groups;     // group -> class names, in order
    StringList groupOrder;
    NameTable groupTitles;
    THashTable<PropertyManagerClassInfo, THashTableBase::hashAll> classes;   // one reference each
    StringList classOrder;
    NameTable classTitles;
    TSimpleArray<Dictionary> attached;      // owned
    Dictionary* parent = nullptr;           // the one this is attached to
    Dictionary* treeLink = nullptr;         // toward the top of its tree; null at the top
    u32 clientMask;
    u8 defaultFlag = 1;
    bool registered = false;

    explicit DictionaryData(u32 mask) : clientMask(mask) {}

    ~DictionaryData() {
        for (i32 i = 0; i < groupOrder.getCount(); i++) {
            StringList* list = groups.get(*groupOrder.get(i));
            if (list) {
                freeStrings(*list);
                delete list;
            }
        }
        freeStrings(groupOrder);
        for (i32 i = 0; i < classOrder.getCount(); i++)
            if (PropertyManagerClassInfo* info = classes.get(*classOrder.get(i)))
                info->release();
        freeStrings(classOrder);
        deleteValues(groupTitles);
        deleteValues(classTitles);
        // Attached ones go with their parent, a long chain of them without
        // recursion: each gives its own attached ones to the work list first.
        std::vector<Dictionary*> doomed;
        auto takeAttached = [&doomed](TSimpleArray<Dictionary>& list) {
            for (i32 i = 0; i < list.getCount(); i++) {
                list.get(i)->d->parent = nullptr;
                doomed.push_back(list.get(i));
            }
            list.setCount(0);
        };
        takeAttached(attached);
        while (!doomed.empty()) {
            Dictionary* child = doomed.back();
            doomed.pop_back();
            takeAttached(child->d->attached);
            delete child;
        }
    }

    // Names merged into out as the lists of attached dictionaries give
    // them; their titles kept in titles. seen holds out's names.
    template <class Ask>
    void mergeAttached(StringList& out, NameTable& seen, NameTable& titles, Ask ask) {
        for (i32 i = 0; i < attached.getCount(); i++) {
            StringList theirs;
            try {
                ask(*attached.get(i), theirs);
                for (i32 j = 0; j < theirs.getCount(); j++) {
                    String entryName, title;
                    splitNameTitle(*theirs.get(j), entryName, &title);
                    mergeName(out, seen, entryName);
                    keepTitle(titles, entryName, title);
                }
            } catch (...) {
                freeStrings(theirs);
                throw;
            }
            freeStrings(theirs);
        }
    }

    static void mergeName(StringList& out, NameTable& seen, const String& entryName) {
        if (seen.contains(entryName))
            return;
        seen.put(entryName, nullptr);
        appendString(out, entryName);
    }

    // Each name gets TAB and its localised title, when one is known.
    static void addTitles(StringList& out, NameTable& titles) {
        for (i32 i = 0; i < out.getCount(); i++) {
            const String* title = titles.get(*out.get(i));
            if (!title || title->isEmpty())
                continue;
            String shown = *title;
            shown.localize(nullptr);
            *out.get(i) += unit('\t');
            *out.get(i) += shown;
        }
    }
};

// ---------------------------------------------------------------------------
// Dictionary

Dictionary::Dictionary(u32 clientMask) : d(new DictionaryData(clientMask)) {}

Dictionary::~Dictionary() {
    if (d->registered)
        unregisterDictionary(this);
    {
        RegistryGuard guard;
        if (mainDictionary == this)
            mainDictionary = nullptr;
    }
    if (d->parent)
        d->parent->d->attached.remove(this);
    delete d;
}

const String& Dictionary::getName() const { return d->name; }

void Dictionary::setName(const String& text) { d->name = text; }

bool Dictionary::isDefault() const { return d->defaultFlag != 0; }

void Dictionary::getTimeStamp(String& out) { out.clear(); }

void Dictionary::addClass(const LivePropertyInfo* table, const char* group, const char* className) {
    String groupName, groupTitle, name, title;
    splitNameTitle(String(group), groupName, &groupTitle);
    splitNameTitle(String(className), name, &title);

    StringList* list = d->groups.get(groupName);
    if (!list) {
        list = new StringList;
        try {
            d->groups.put(groupName, list);
        } catch (...) {
            delete list;
            throw;
        }
        appendString(d->groupOrder, groupName);
    }
    bool listed = false;
    for (i32 i = 0; i < list->getCount() && !listed; i++)
        listed = *list->get(i) == name;
    if (!listed)
        appendString(*list, name);
    keepTitle(d->groupTitles, groupName, groupTitle);
    keepTitle(d->classTitles, name, title);

    const String* kept = d->classTitles.get(name);
    const String classTitle = kept ? *kept : String();
    if (PropertyManagerClassInfo* known = d->classes.get(name)) {
        if (known->getDescriptionText().isEmpty())
            known->setDescription(classTitle);
        known->addRows(table);
        return;
    }
    auto* info = new PropertyManagerClassInfo(table, name, classTitle, d->clientMask);
    try {
        d->classes.put(name, info);
        appendString(d->classOrder, name);
    } catch (...) {
        d->classes.remove(name);
        info->release();
        throw;
    }
}

void Dictionary::addClasses(const DictionaryEntry* entries) {
    for (const DictionaryEntry* row = entries; row && row->table; row++)
        addClass(row->table, row->group, row->className);
}

void Dictionary::getGroups(StringList& out) {
    NameTable seen;
    for (i32 i = 0; i < out.getCount(); i++)
        seen.put(*out.get(i), nullptr);
    d->mergeAttached(out, seen, d->groupTitles,
                     [](Dictionary& child, StringList& theirs) { child.getGroups(theirs); });
    for (i32 i = 0; i < d->groupOrder.getCount(); i++)
        DictionaryData::mergeName(out, seen, *d->groupOrder.get(i));
    DictionaryData::addTitles(out, d->groupTitles);
}

void Dictionary::getClasses(const String& group, StringList& out) {
    const String groupName = nameOf(group);
    if (groupName.isEmpty())
        return;
    NameTable seen;
    for (i32 i = 0; i < out.getCount(); i++)
        seen.put(*out.get(i), nullptr);
    d->mergeAttached(out, seen, d->classTitles,
                     [&](Dictionary& child, StringList& theirs) { child.getClasses(groupName, theirs); });
    if (StringList* list = d->groups.get(groupName)) {
        for (i32 i = 0; i < list->getCount(); i++)
            DictionaryData::mergeName(out, seen, *list->get(i));
    } else if (groupName.compare("All") == 0) {
        for (i32 i = 0; i < d->classOrder.getCount(); i++)
            DictionaryData::mergeName(out, seen, *d->classOrder.get(i));
    }
    DictionaryData::addTitles(out, d->classTitles);
}

// Attached dictionaries first; a listed "name\ttitle" finds the class too.
ClassInfo* Dictionary::getClass(const String& text) {
    const String name = nameOf(text);
    for (i32 i = 0; i < d->attached.getCount(); i++)
        if (ClassInfo* found = d->attached.get(i)->getClass(name))
            return found;
    PropertyManagerClassInfo* info = d->classes.get(name);
    if (info)
        info->addRef();
    return info;
}

XML* Dictionary::getClassXML(const String& className) {
    ClassInfo* info = getClass(className);
    if (!info)
        return nullptr;
    RefcountablePtr held(info);
    return ClassInfo::toXML(*info);
}

XML* Dictionary::toXML(const String* hrefPrefix) {
    XML* map = new XML(String("map"));
    StringList groups;
    try {
        map->put(String("@name"), d->name);
        String time;
        getTimeStamp(time);
        if (!time.isEmpty())
            map->put(String("@time"), time);
        if (isDefault())
            map->put(String("@default"), String("true"));
        getGroups(groups);
        for (i32 i = 0; i < groups.getCount(); i++) {
            String groupName, title;
            splitNameTitle(*groups.get(i), groupName, &title);
            XML* topic = map->addChild(String("topicref"));
            topic->put(String("@navtitle"), title.isEmpty() ? groupName : title);
            StringList classes;
            try {
                getClasses(groupName, classes);
                for (i32 j = 0; j < classes.getCount(); j++) {
                    const String className = nameOf(*classes.get(j));
                    XML* entry = topic->addChild(String("topicref"));
                    entry->put(String("@navtitle"), className);
                    String href = hrefPrefix ? *hrefPrefix : String();
                    href += className;
                    entry->put(String("@href"), href);
                }
            } catch (...) {
                freeStrings(classes);
                throw;
            }
            freeStrings(classes);
        }
    } catch (...) {
        freeStrings(groups);
        map->release();
        throw;
    }
    freeStrings(groups);
    return map;
}

// The top of a dictionary's tree, found through links that each search
// shortens, so that long chains are not walked again and again.
Dictionary* topOf(Dictionary* dictionary) {
    Dictionary* top = dictionary;
    while (top->d->treeLink)
        top = top->d->treeLink;
    while (dictionary != top) {
        Dictionary* next = dictionary->d->treeLink;
        dictionary->d->treeLink = top;
        dictionary = next;
    }
    return top;
}

// A child has no parent, so it is the top of its own tree: it would close
// a cycle exactly when it is the top of this one's.
bool Dictionary::attach(Dictionary* child) {
    if (!child || child->d->parent || child->d->registered)
        return false;
    Dictionary* top = topOf(this);
    if (top == child)
        return false;
    d->attached.add(child);
    child->d->parent = this;
    child->d->treeLink = top;
    return true;
}

// ---------------------------------------------------------------------------
// The registry

bool Dictionary::registerDictionary(Dictionary* dictionary) {
    if (!dictionary || dictionary->d->parent || dictionary->d->registered)
        return false;
    RegistryGuard guard;
    if (!registry)
        registry = new DictionaryRegistry;
    if (registry->contains(dictionary->d->name))
        return false;
    registry->put(dictionary->d->name, dictionary);
    dictionary->d->registered = true;
    return true;
}

bool Dictionary::unregisterDictionary(Dictionary* dictionary) {
    if (!dictionary || !dictionary->d->registered)
        return false;
    RegistryGuard guard;
    if (registry && registry->get(dictionary->d->name) == dictionary)
        registry->remove(dictionary->d->name);
    else if (registry)
        if (auto* entry = registry->findByValue(dictionary))
            registry->remove(entry->key);
    dictionary->d->registered = false;
    if (mainDictionary == dictionary)
        mainDictionary = nullptr;
    return true;
}

Dictionary* Dictionary::find(const String& name) {
    RegistryGuard guard;
    return registry ? registry->get(name) : nullptr;
}

DictionaryRegistry* Dictionary::getRegistry() {
    RegistryGuard guard;
    if (!registry)
        registry = new DictionaryRegistry;
    return registry;
}

Dictionary* Dictionary::getMainDictionary() { return mainDictionary; }

void Dictionary::setMainDictionary(Dictionary* dictionary) {
    RegistryGuard guard;
    mainDictionary = dictionary;
}

void initDictionaries(bool start) {
    if (start) {
        dictionaryLock = new Lock;
        return;
    }
    {
        RegistryGuard guard;
        // Each leaves the registry before it is deleted.
        while (registry && registry->getCount() > 0) {
            SimpleArray entries;
            registry->getEntries(entries);
            Dictionary* dictionary = reinterpret_cast<DictionaryRegistry::Entry*>(entries.get(0))->value;
            Dictionary::unregisterDictionary(dictionary);
            delete dictionary;
        }
        delete registry;
        registry = nullptr;
        mainDictionary = nullptr;
    }
    delete dictionaryLock;
    dictionaryLock = nullptr;
}

}  // namespace LxCore
