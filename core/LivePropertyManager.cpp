// Property managers: the static table served in place, the hash form it
// turns into, and the member descriptions built from a row's signature.
#include "core/ErrorCodes.h"
#include "core/LivePropertyManager.h"

#include <cstring>
#include <new>

namespace LxCore {

namespace {

// The operator symbols 8 to 32 of the engine's data pool, in order: the
// texts of the operator ids 0x1FF10100 to 0x1FF10118.
const char* const kOperatorTexts[] = {
    "~",  "!",  "+",  "-",   "*",  "/",  "%",  "+",  "-",          "<<", ">>", ">>>", "<",
    "<=", ">",  ">=", "in", "instanceof", "==", "!=", "===", "!==", "&",  "|",  "^",
};
static_assert(sizeof kOperatorTexts / sizeof kOperatorTexts[0] ==
              kLastOperatorId - kFirstOperatorId + 1);

unit foldAscii(unit c) { return c >= 'A' && c <= 'Z' ? unit(c + 32) : c; }

bool endOfTable(const LivePropertyInfo* row) { return !row || !row->name; }

}  // namespace

const char* operatorText(i32 id) {
    return isOperatorId(id) ? kOperatorTexts[id - kFirstOperatorId] : nullptr;
}

bool passesListing(u32 memberFlags, u32 requestFlags) {
    switch (memberFlags & kKindMask) {
        case kKindReadOnly:
            if (!(requestFlags & kListReadOnly))
                return false;
            break;
        case kKindReadWrite:
            if (!(requestFlags & kListReadWrite))
                return false;
            break;
        case kKindMethod:
            if (!(requestFlags & kListMethods))
                return false;
            break;
        default:
            break;
    }
    if ((memberFlags & kMemberUnlisted) && !(requestFlags & kListUnlisted))
        return false;
    if ((memberFlags & kMemberHidden) && !(requestFlags & kListHidden))
        return false;
    return passesClient(memberFlags, requestFlags);
}

bool sameName(const String& a, const String& b, bool caseBlind) {
    if (!caseBlind)
        return a == b;
    if (a.length() != b.length())
        return false;
    for (i32 i = 0; i < a.length(); i++)
        if (foldAscii(a[i]) != foldAscii(b[i]))
            return false;
    return true;
}

bool sameName(const String& a, const char* b, bool caseBlind) {
    const unit* units = a.chars();
    i32 i = 0;
    for (; i < a.length(); i++) {
        unit c = u8(b[i]);
        if (c == 0)
            return false;
        if (caseBlind ? foldAscii(units[i]) != foldAscii(c) : units[i] != c)
            return false;
    }
    return b[i] == 0;
}

ByteCopy::ByteCopy(const char* from) {
    if (!from)
        return;
    size_t n = std::strlen(from) + 1;
    bytes = static_cast<char*>(Heap::alloc(n));
    std::memcpy(bytes, from, n);
}

// ---------------------------------------------------------------------------
// Descriptions

PropServiceInfo* PropServiceInfo::make(i32 id, const String& name, u32 kind,
                                       const char* signature) {
    std::unique_ptr<PropServiceInfo> info(new PropServiceInfo);
    info->id = id;
    info->name = name;
    info->kind = kind;
    if (signature)
        info->signature = String(signature, nullptr);
    TypeInfo* alternative = nullptr;
    info->dataType.reset(parseTypeInfo(info->signature, -1, nullptr, &info->shortDescription,
                                       &info->description, &alternative));
    info->altType.reset(alternative);
    info->paramCount = countHelpParameters(info->signature);
    if (info->name.isEmpty())
        info->dataType->getTypeName(info->name);
    return info.release();
}

i32 PropServiceInfo::getName(String& out) const {
    out = name;
    return 0;
}

void PropServiceInfo::getDescription(u8 which, String& out) const {
    out = which == 0 ? shortDescription : description;
}

bool PropServiceInfo::getSampleText(String& out) const {
    out.clear();
    return false;
}

ParamInfo* PropServiceInfo::getParamInfo(u32 index) {
    if (index >= paramCount)
        return nullptr;
    try {
        std::unique_ptr<PropParamInfo> param(new PropParamInfo);
        param->dataType.reset(parseTypeInfo(signature, i32(index), &param->name,
                                            &param->shortDescription, &param->description,
                                            nullptr));
        return param.release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// ---------------------------------------------------------------------------
// StaticPropertyManager

StaticPropertyManager::StaticPropertyManager(const LivePropertyInfo* rows) { addProperties(rows); }

void StaticPropertyManager::addProperties(const LivePropertyInfo* rows) {
    table = rows;
    operators = false;
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++)
        operators |= isOperatorId(row->id);
}

i32 StaticPropertyManager::findProperty(const String& name, i32& id, u32& kind, u32 flags) {
    id = 0;
    kind = kKindNone;
    if (name.isEmpty())
        return Err::kUndefined;
    const bool caseBlind = isCaseBlindRequest(flags);
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++) {
        if (sameName(name, row->name, caseBlind) && passesClient(row->flags, flags)) {
            id = row->id;
            kind = row->flags & kKindMask;
            return 0;
        }
    }
    return Err::kUndefined;
}

// The first row with the id decides, whether or not it passes.
i32 StaticPropertyManager::getPropertyName(i32 id, String& name, u32 flags) {
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++) {
        if (row->id != id)
            continue;
        if (!passesClient(row->flags, flags))
            break;
        name = row->name;
        return 0;
    }
    name.clear();
    return Err::kUndefined;
}

u32 StaticPropertyManager::getPropertyKind(i32 id) {
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++)
        if (row->id == id)
            return row->flags & kKindMask;
    return kKindNone;
}

i32 StaticPropertyManager::getPropertyIDs(SimpleArray& ids, u32 flags) {
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++)
        if (passesListing(row->flags, flags))
            ids.add(row->id);
    return 0;
}

PropServiceInfo* StaticPropertyManager::getConstructorInfo(u32 flags) {
    const LivePropertyInfo* found = nullptr;
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++)
        if (row->name[0] == 0 && passesClient(row->flags, flags))
            found = row;
    return found ? PropServiceInfo::make(0, String(), kKindMethod, found->signature) : nullptr;
}

PropServiceInfo* StaticPropertyManager::getServiceInfo(const String& name, u32 flags) {
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++)
        if (sameName(name, row->name, false) && passesClient(row->flags, flags))
            return PropServiceInfo::make(row->id, name, row->flags & kKindMask, row->signature);
    return nullptr;
}

PropServiceInfo* StaticPropertyManager::getServiceInfo(i32 id, u32 flags) {
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++)
        if (row->id == id && passesClient(row->flags, flags))
            return PropServiceInfo::make(id, String(row->name), row->flags & kKindMask,
                                         row->signature);
    return nullptr;
}

// ---------------------------------------------------------------------------
// DynamicPropertyManager

namespace {

bool deleteNameEntry(THashTable<dynPropNameInfo, THashTableBase::hashAll>::Entry*,
                     dynPropNameInfo** value, void*) {
    delete *value;
    return false;
}

bool deleteIdEntry(i64, void** value, void*) {
    delete static_cast<propIDInfo*>(*value);
    return false;
}

}  // namespace

DynamicPropertyManager::~DynamicPropertyManager() {
    names.forEach(deleteNameEntry, nullptr);
    ids.forEach(deleteIdEntry, nullptr);
}

// Every step that may fail comes before the first change, or is undone.
void DynamicPropertyManager::addProperty(const char* name, i32 id, u32 flags,
                                         const char* signature) {
    std::unique_ptr<dynPropNameInfo> entry;
    if (name)
        entry.reset(new dynPropNameInfo(name, id, flags, nextOrder, signature));
    propIDInfo* target = idEntry(id);
    std::unique_ptr<propIDInfo> fresh;
    if (!target) {
        fresh.reset(new propIDInfo(flags, signature));
        ids.put(id, fresh.get());
        target = fresh.get();
    }
    if (entry) {
        dynPropNameInfo* old = names.get(entry->name);
        try {
            names.put(entry->name, entry.get());
        } catch (...) {
            if (fresh)
                ids.remove(id);
            throw;
        }
        if (old) {
            unlinkName(old);
            delete old;
        }
        entry->sameId = target->names;
        target->names = entry.release();
        nextOrder++;
    }
    if (fresh)
        fresh.release();
    else
        target->flags |= flags & kClientMaskBits;
    operators |= isOperatorId(id);
}

void DynamicPropertyManager::addProperties(const LivePropertyInfo* table) {
    for (const LivePropertyInfo* row = table; !endOfTable(row); row++)
        addProperty(row->name, row->id, row->flags, row->signature);
}

void DynamicPropertyManager::unlinkName(dynPropNameInfo* entry) {
    propIDInfo* owner = idEntry(entry->id);
    if (!owner)
        return;
    for (dynPropNameInfo** at = &owner->names; *at; at = &(*at)->sameId) {
        if (*at == entry) {
            *at = entry->sameId;
            return;
        }
    }
}

// Case-blind, of several spellings the one added first wins, as in a table.
dynPropNameInfo* DynamicPropertyManager::findName(const String& name, u32 flags) const {
    if (!isCaseBlindRequest(flags)) {
        dynPropNameInfo* entry = names.get(name);
        return entry && passesClient(entry->flags, flags) ? entry : nullptr;
    }
    dynPropNameInfo* best = nullptr;
    for (auto* e = names.findEntry(name, true); e; e = names.findNextEntry(e, name, true)) {
        dynPropNameInfo* entry = e->value;
        if (sameName(entry->name, name, true) && passesClient(entry->flags, flags) &&
            (!best || entry->order < best->order))
            best = entry;
    }
    return best;
}

i32 DynamicPropertyManager::findProperty(const String& name, i32& id, u32& kind, u32 flags) {
    id = 0;
    kind = kKindNone;
    if (name.isEmpty())
        return Err::kUndefined;
    dynPropNameInfo* entry = findName(name, flags);
    if (!entry)
        return Err::kUndefined;
    id = entry->id;
    kind = idEntry(id)->flags & kKindMask;
    return 0;
}

i32 DynamicPropertyManager::getPropertyName(i32 id, String& name, u32 flags) {
    if (propIDInfo* entry = idEntry(id)) {
        for (dynPropNameInfo* n = entry->names; n; n = n->sameId) {
            if (passesClient(n->flags, flags)) {
                name = n->name;
                return 0;
            }
        }
    }
    name.clear();
    return Err::kUndefined;
}

u32 DynamicPropertyManager::getPropertyKind(i32 id) {
    propIDInfo* entry = idEntry(id);
    return entry ? entry->flags & kKindMask : kKindNone;
}

i32 DynamicPropertyManager::getPropertyIDs(SimpleArray& out, u32 flags) {
    SimpleArray keys;
    ids.getKeys(keys);
    for (i32 i = 0; i < keys.getCount(); i++) {
        i32 id = i32(keys.get(i));
        if (passesListing(idEntry(id)->flags, flags))
            out.add(id);
    }
    return 0;
}

PropServiceInfo* DynamicPropertyManager::getConstructorInfo(u32 flags) {
    dynPropNameInfo* entry = names.get(String());
    if (!entry || !passesClient(entry->flags, flags))
        return nullptr;
    return PropServiceInfo::make(0, String(), kKindMethod, entry->signature.get());
}

PropServiceInfo* DynamicPropertyManager::getServiceInfo(const String& name, u32 flags) {
    dynPropNameInfo* entry = names.get(name);
    if (!entry || !passesClient(entry->flags, flags))
        return nullptr;
    return PropServiceInfo::make(entry->id, name, entry->flags & kKindMask,
                                 entry->signature.get());
}

PropServiceInfo* DynamicPropertyManager::getServiceInfo(i32 id, u32 flags) {
    propIDInfo* entry = idEntry(id);
    if (!entry)
        return nullptr;
    for (dynPropNameInfo* n = entry->names; n; n = n->sameId)
        if (passesClient(n->flags, flags))
            return PropServiceInfo::make(id, n->name, n->flags & kKindMask, n->signature.get());
    if (!passesClient(entry->flags, flags))
        return nullptr;
    return PropServiceInfo::make(id, String(), entry->flags & kKindMask, entry->signature.get());
}

// ---------------------------------------------------------------------------
// LivePropertyManager

LivePropertyManager::LivePropertyManager(const LivePropertyInfo* table)
    : impl(new StaticPropertyManager(table)) {}

LivePropertyManager::~LivePropertyManager() { delete impl; }

i32 LivePropertyManager::findProperty(const String& name, i32& id, u32& kind, u32 flags) {
    return impl->findProperty(name, id, kind, flags);
}

i32 LivePropertyManager::getPropertyName(i32 id, String& name, u32 flags) {
    return impl->getPropertyName(id, name, flags);
}

u32 LivePropertyManager::getPropertyKind(i32 id) { return impl->getPropertyKind(id); }

i32 LivePropertyManager::getPropertyIDs(SimpleArray& ids, u32 flags) {
    return impl->getPropertyIDs(ids, flags);
}

// Descriptions are optional answers: lack of memory gives none.
PropServiceInfo* LivePropertyManager::getConstructorInfo(u32 flags) {
    try {
        return impl->getConstructorInfo(flags);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PropServiceInfo* LivePropertyManager::getServiceInfo(const String& name, u32 flags) {
    try {
        return impl->getServiceInfo(name, flags);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

PropServiceInfo* LivePropertyManager::getServiceInfo(i32 id, u32 flags) {
    try {
        return impl->getServiceInfo(id, flags);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void LivePropertyManager::addProperty(const LivePropertyInfo& row) {
    if (auto* fixed = dynamic_cast<StaticPropertyManager*>(impl)) {
        std::unique_ptr<DynamicPropertyManager> grown(new DynamicPropertyManager);
        grown->addProperties(fixed->getStaticTable());
        grown->addProperty(row.name, row.id, row.flags, row.signature);
        delete impl;
        impl = grown.release();
        return;
    }
    impl->addProperty(row.name, row.id, row.flags, row.signature);
}

}  // namespace LxCore
