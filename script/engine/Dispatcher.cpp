// Native class tables: registration, row lookup along the parent chain,
// listings and calls by name.
#include "script/engine/Dispatcher.h"

#include <cstring>

#include "core/ErrorCodes.h"
#include "script/engine/DispInfo.h"
#include "script/engine/Object.h"
#include "script/engine/Symbols.h"

namespace LxScript {

using LxCore::String;
namespace Err = LxCore::Err;

namespace {


// Every dispatcher of the process, in registration order; made with the
// first and freed with the last.
LxCore::TSimpleArray<Dispatcher>* allDispatchers = nullptr;

DataPool& pool() { return DataPool::get(); }

char* copyText(const char* text) {
    if (!text)
        return nullptr;
    const size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(LxCore::Heap::alloc(n));
    std::memcpy(copy, text, n);
    return copy;
}

bool isOperatorSymbol(DataPoolId s) { return s >= 1 && s <= Sym::kLastOperator; }

// Whether a row may be listed under the filter (the object listing rules).
bool admits(const PropEntryCopy& row, i32 filter) {
    const u32 f = u32(filter);
    const u32 flags = u32(row.flags);
    if ((flags & kHidden) && !(f & 0x10000000))
        return false;
    if ((flags & kDontEnum) && !(f & 0x08000000))
        return false;
    if (flags & kMethod)
        return (f & 0x80000000) != 0;
    return (f & ((flags & kReadOnly) ? 0x40000000 : 0x20000000)) != 0;
}

i32 indexOfSymbol(const LxCore::SimpleArray& ids, DataPoolId s) {
    for (i32 i = 0; i < ids.getCount(); i++)
        if (ids.get(i) == s)
            return i;
    return -1;
}

}  // namespace

const Variant& Arguments::arg(u32 i) const {
    static const Variant undefined;
    const Variant* v = args ? args->get(i) : nullptr;
    return v ? *v : undefined;
}

// ---------------------------------------------------------------------------
// Rows and tables

PropEntryCopy::PropEntryCopy(Dispatcher* owner, DataPoolId symbol, i32 id, i32 flags,
                             Handler handler, const char* signatureText)
    : owner(owner), symbol(symbol), id(id), flags(flags), handler(handler),
      signature(copyText(signatureText)) {}

PropEntryCopy::PropEntryCopy(const PropEntryCopy& other)
    : PropEntryCopy(other.owner, other.symbol, other.id, other.flags, other.handler,
                    other.signature) {}

PropEntryCopy::~PropEntryCopy() { LxCore::Heap::free(signature); }

TableEntry::TableEntry(Dispatcher* owner, DataPoolId classSymbol, const String& className)
    : owner(owner), classSymbol(classSymbol) {
    classReference.setObjectReference(0, className, nullptr);     // any object of the class
}

TableEntry::~TableEntry() {
    for (i32 i = 0; i < rows.getCount(); i++)
        delete rows.get(i);
    for (PropEntryCopy* row : {constructorRow, callRow, indexRow, numberRow, nameRow})
        delete row;
}

PropEntryCopy** TableEntry::specialRow(DataPoolId symbol) {
    if (symbol == Sym::kEmpty)
        return &callRow;
    if (symbol == Sym::kIndexEntry)
        return &indexRow;
    if (symbol == Sym::kNumberEntry)
        return &numberRow;
    if (symbol == Sym::kNameEntry)
        return &nameRow;
    if (symbol == classSymbol)
        return &constructorRow;
    return nullptr;
}

DispatcherData::DispatcherData(const char* text) : name(text) {}

DispatcherData::~DispatcherData() {
    for (i32 i = 0; i < tables.getCount(); i++)
        delete tables.get(i);
    for (i32 i = 0; i < classNames.getCount(); i++)
        delete classNames.get(i);
}

// ---------------------------------------------------------------------------
// Life

std::atomic<LxCore::u64> Dispatcher::changes{1};

Dispatcher::Dispatcher(const char* name) : data(new DispatcherData(name ? name : "All")) {
    noteChange();
    LxCore::GlobalLockGuard guard(LxCore::kDispatcherLock);
    try {
        if (!allDispatchers)
            allDispatchers = new LxCore::TSimpleArray<Dispatcher>;
        allDispatchers->add(this);
    } catch (...) {
        delete data;
        throw;
    }
}

Dispatcher::~Dispatcher() {
    noteChange();
    {
        LxCore::GlobalLockGuard guard(LxCore::kDispatcherLock);
        if (allDispatchers) {
            allDispatchers->remove(this);
            if (allDispatchers->getCount() == 0) {
                delete allDispatchers;
                allDispatchers = nullptr;
            }
        }
    }
    if (ownsUserData)
        delete userData;
    delete data;
}

void Dispatcher::getAll(LxCore::TSimpleArray<Dispatcher>& out) {
    LxCore::GlobalLockGuard guard(LxCore::kDispatcherLock);
    if (allDispatchers)
        out = *allDispatchers;
    else
        out.setCount(0);
}

void Dispatcher::setUserData(UserData* user, bool own) {
    if (ownsUserData && userData != user)
        delete userData;
    userData = user;
    ownsUserData = own;
}

// ---------------------------------------------------------------------------
// Classes

void Dispatcher::addClass(const String& name) {
    const DataPoolId symbol = pool().add(name.chars());
    if (isClass(symbol))
        return;
    auto* copy = new String(name);
    try {
        data->classNames.add(copy);
    } catch (...) {
        delete copy;
        throw;
    }
    data->classSymbols.add(symbol);
    noteChange();
}

void Dispatcher::addClass(const char* name) { addClass(String(name)); }

const String& Dispatcher::getClass(i32 index) const {
    static const String empty;
    const String* name = data->classNames.get(index);
    return name ? *name : empty;
}

i32 Dispatcher::getClassCount() const { return data->classSymbols.getCount(); }

i32 Dispatcher::getClassID(i32 index) const { return i32(data->classSymbols.get(index)); }

bool Dispatcher::isClass(i32 symbol) const { return indexOfSymbol(data->classSymbols, symbol) >= 0; }

bool Dispatcher::isClass(const String& name) const { return isClass(pool().add(name.chars())); }

bool Dispatcher::isClass(const char* name) const { return isClass(pool().add(name)); }

const String& Dispatcher::getName() const { return data->name; }

bool Dispatcher::subClass(Dispatcher& parent) {
    for (Dispatcher* d = &parent; d; d = d->data->parent)
        if (d == this)
            return false;
    data->parent = &parent;
    noteChange();
    return true;
}

bool Dispatcher::makesUpMembers() const {
    for (const Dispatcher* d = this; d; d = d->data->parent)
        if (d->dynamicMembers)
            return true;
    return false;
}

Dispatcher* Dispatcher::getParent() const { return data->parent; }

// ---------------------------------------------------------------------------
// Registration

TableEntry* Dispatcher::tableFor(DataPoolId classSymbol, const String& className) {
    for (i32 i = 0; i < data->tables.getCount(); i++)
        if (data->tables.get(i)->classSymbol == classSymbol)
            return data->tables.get(i);
    auto* table = new TableEntry(this, classSymbol, className);
    try {
        data->tables.add(table);
    } catch (...) {
        delete table;
        throw;
    }
    noteChange();
    return table;
}

// The first registration of a name wins: a row already there stays.
PropEntryCopy* Dispatcher::registerRow(TableEntry& table, DataPoolId symbol, const PropEntry& row) {
    PropEntryCopy** special = table.specialRow(symbol);
    if (special) {
        if (!*special) {
            *special = new PropEntryCopy(this, symbol, row.id, row.flags, row.handler,
                                         row.signature);
            noteChange();
        }
        return *special;
    }
    if (auto* existing = static_cast<PropEntryCopy*>(table.names.get(symbol)))
        return existing;
    auto* copy = new PropEntryCopy(this, symbol, row.id, row.flags, row.handler, row.signature);
    try {
        table.rows.add(copy);
    } catch (...) {
        delete copy;
        throw;
    }
    table.names.put(symbol, copy);
    noteChange();
    if (isOperatorSymbol(symbol) && !table.hasOperators) {
        table.hasOperators = 1;
        data->operatorTables++;
    }
    return copy;
}

void Dispatcher::registerProperties(i32, const PropEntry* table, const String& className) {
    if (!table)
        return;
    String name = className;
    DataPoolId classSymbol;
    if (name.isEmpty()) {
        if (getClassCount() == 0)
            return;
        name = getClass(0);
        classSymbol = getClassID(0);
    } else {
        classSymbol = pool().add(name.chars());
        addClass(name);
    }
    TableEntry* entry = tableFor(classSymbol, name);
    for (const PropEntry* row = table; row->name; row++)
        registerRow(*entry, pool().add(row->name), *row);
    data->lastTable = entry;
    data->lastClass = classSymbol;
}

void Dispatcher::registerProperties(i32 unused, const PropEntry* table, const char* className) {
    registerProperties(unused, table, String(className));
}

void Dispatcher::registerProperties(i32 unused, const PropEntry* table) {
    registerProperties(unused, table, String());
}

void Dispatcher::addProperties(i32 unused, const PropEntry* table, const char* className) {
    registerProperties(unused, table, String(className));
}

// ---------------------------------------------------------------------------
// Lookup

const TableEntry* Dispatcher::getTable(i32 classId) {
    if (data->lastTable && data->lastClass == classId)
        return data->lastTable;
    for (i32 i = 0; i < data->tables.getCount(); i++) {
        TableEntry* t = data->tables.get(i);
        if (t->classSymbol == classId) {
            data->lastTable = t;
            data->lastClass = classId;
            return t;
        }
    }
    return nullptr;
}

const PropInfo* Dispatcher::findProperty(i32 classId, i32 symbol, LxCore::Root* nativeData,
                                         bool special, bool isStatic) {
    auto* table = const_cast<TableEntry*>(getTable(classId));
    const PropEntryCopy* row = nullptr;
    if (table) {
        if (special) {
            PropEntryCopy** slot = table->specialRow(symbol);
            row = slot ? *slot : nullptr;
        } else {
            const PropEntry* made = nullptr;
            if (dynamicMembers) {
                Variant name;
                pool().getValue(symbol, name);
                made = hasProperty(table->classReference, name, false);
            }
            row = made ? registerRow(*table, symbol, *made)
                       : static_cast<const PropEntryCopy*>(table->names.get(symbol));
        }
        if (row && row->isWithdrawn())
            return nullptr;
        if (row && row->isStatic() != isStatic)
            row = nullptr;
    }
    if (!row && data->parent)
        return data->parent->findProperty(data->parent->getClassID(0), symbol, nativeData, special,
                                          false);
    return row;
}

const PropEntry* Dispatcher::hasProperty(const Variant&, const Variant&, bool) { return nullptr; }

void Dispatcher::getEnumNames(const Variant&, LxCore::TSimpleArray<String>&) {}

void Dispatcher::get(Arguments& args) {
    if (data->parent)
        data->parent->get(args);
}

void Dispatcher::put(Arguments& args) {
    if (data->parent)
        data->parent->put(args);
}

void Dispatcher::call(Arguments& args, Handler handler) {
    if (handler)
        handler(args);
}

bool Dispatcher::hasDotProperties(i32 classId) {
    for (Dispatcher* d = this; d; d = d->data->parent)
        if (const TableEntry* t = d->getTable(classId))
            if (t->hasDotRows())
                return true;
    return false;
}

// Asked on every comparison of objects: a dispatcher without operator rows
// answers before its table is looked up.
bool Dispatcher::hasOperators(i32 classId) {
    for (Dispatcher* d = this; d; d = d->data->parent) {
        if (!d->data->operatorTables)
            continue;
        if (const TableEntry* t = d->getTable(classId))
            if (t->hasOperators)
                return true;
    }
    return false;
}

LxCore::ClassInfo* Dispatcher::getClassInfo(const String& className) {
    if (!isClass(className))
        return nullptr;
    return new DispClassInfo(*this, pool().add(className.chars()));
}

// ---------------------------------------------------------------------------
// Listings

// This dispatcher and its ancestors, the farthest first.
void Dispatcher::collectChain(LxCore::TSimpleArray<Dispatcher>& chain) {
    for (Dispatcher* d = this; d; d = d->data->parent)
        chain.insert(d, 0);
}

// The rows of the class along the chain, the farthest ancestor first (an
// ancestor's rows are those of its first class), each in registration order.
template <class Visit>
void Dispatcher::forEachRow(i32 classId, Visit visit) {
    LxCore::TSimpleArray<Dispatcher> chain;
    collectChain(chain);
    for (i32 c = 0; c < chain.getCount(); c++) {
        Dispatcher* d = chain.get(c);
        if (d->getClassCount() == 0)
            continue;
        const TableEntry* t = d->getTable(d == this ? classId : d->getClassID(0));
        for (i32 i = 0; t && i < t->rows.getCount(); i++)
            visit(*t->rows.get(i));
    }
}

void Dispatcher::getProperties(i32 classId, i32, LxCore::TSimpleArray<const PropInfo>& out) {
    out.setCount(0);
    forEachRow(classId, [&](const PropEntryCopy& row) {
        if (!row.isWithdrawn()) {
            out.add(&row);
            return;
        }
        for (i32 k = 0; k < out.getCount(); k++) {
            if (out.get(k)->symbol == row.symbol) {
                out.removeAt(k);
                return;
            }
        }
    });
}

bool Dispatcher::isBuiltInListingClass() const {
    const DataPoolId first = getClassID(0);
    return (first >= Sym::kArray && first <= Sym::kString) || first == pool().add("global");
}

void Dispatcher::getEnumerableProperties(const Variant& object, LxCore::SimpleArray& ids,
                                         i32 filter) {
    ids.setCount(0);
    if ((u32(filter) & 0x02000000) && isBuiltInListingClass())
        return;
    if (object.getType() != Variant::kScriptObject || !objectOf(object))
        return;
    const DataPoolId classSymbol = objectOf(object)->getClassID();
    if (getTable(classSymbol)) {
        LxCore::TSimpleArray<String> names;
        getEnumNames(object, names);
        if (names.getCount() > 0) {
            for (i32 i = 0; i < names.getCount(); i++) {
                ids.add(pool().add(names.get(i)->chars()));
                delete names.get(i);
            }
            return;
        }
    }
    getRowIDs(classSymbol, ids, filter);
}

void Dispatcher::getRowIDs(i32 classId, LxCore::SimpleArray& ids, i32 filter) {
    const bool wantStatic = (u32(filter) & 0x01000000) != 0;
    forEachRow(classId, [&](const PropEntryCopy& row) {
        const i32 at = indexOfSymbol(ids, row.symbol);
        if (row.isWithdrawn()) {
            if (at >= 0)
                ids.removeAt(at);
        } else if (at < 0 && row.isStatic() == wantStatic && admits(row, filter)) {
            ids.add(row.symbol);
        }
    });
}

// ---------------------------------------------------------------------------
// Calls by name

void Dispatcher::call(Arguments& args, const char* name) {
    Variant nameValue = name ? Variant(name) : args.name ? *args.name : Variant();
    String nameText = nameValue.toString();
    String className;
    if (args.thisValue && args.thisValue->getType() == Variant::kScriptObject &&
        objectOf(*args.thisValue))
        objectOf(*args.thisValue)->getClassName(className);
    else if (args.thisValue)
        className = args.thisValue->toString();
    if (isClass(nameText))
        className = nameText;
    Arguments record = args;
    record.dispatcher = this;
    record.name = &nameValue;
    const DataPoolId classSymbol = pool().add(className.chars());
    const DataPoolId nameSymbol = pool().add(nameText.chars());
    LxCore::Root* native = nullptr;
    if (args.thisValue && args.thisValue->getType() == Variant::kScriptObject &&
        objectOf(*args.thisValue))
        native = objectOf(*args.thisValue)->getNativeData();
    const PropInfo* row =
        findProperty(classSymbol, nameSymbol, native, nameSymbol == classSymbol, false);
    if (row && row->handler) {
        call(record, row->handler);
        return;
    }
    // The object as an unbound reference: its identity, class name and data.
    Variant self;
    self.setObjectReference(args.thisValue ? u32(args.thisValue->toInt()) : 0, className, native);
    for (bool second : {false, true}) {
        const PropEntry* made = hasProperty(self, nameValue, second);
        if (made && made->handler) {
            call(record, made->handler);
            return;
        }
    }
    if (args.engine)
        args.engine->setError(Err::kNotAFunction, nameText, -1, false);
}

}  // namespace LxScript
