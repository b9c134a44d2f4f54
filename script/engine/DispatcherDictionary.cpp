#include "script/engine/DispatcherDictionary.h"

#include "core/LivePropertyManager.h"
#include "core/Refcountable.h"
#include "core/TypeInfo.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

using LxCore::String;
using LxCore::StringList;

namespace {

void appendOnce(StringList& out, const String& name) {
    for (i32 i = 0; i < out.getCount(); i++)
        if (*out.get(i) == name)
            return;
    LxCore::appendString(out, name);
}

// The named dispatchers, with the list's lock held for the caller's scope.
struct AllDispatchers {
    AllDispatchers() { Dispatcher::getAll(list); }
    LxCore::GlobalLockGuard guard{LxCore::kDispatcherLock};
    LxCore::TSimpleArray<Dispatcher> list;
};

}  // namespace

void DispatcherDictionary::getGroups(StringList& out) {
    AllDispatchers all;
    for (i32 i = 0; i < all.list.getCount(); i++)
        appendOnce(out, all.list.get(i)->getName());
}

void DispatcherDictionary::getClasses(const String& group, StringList& out) {
    const bool every = group.compare("All") == 0;
    AllDispatchers all;
    for (i32 i = 0; i < all.list.getCount(); i++) {
        Dispatcher* d = all.list.get(i);
        if (!every && !(d->getName() == group))
            continue;
        for (i32 k = 0; k < d->getClassCount(); k++)
            appendOnce(out, d->getClass(k));
    }
}

LxCore::ClassInfo* DispatcherDictionary::getClass(const String& name) {
    AllDispatchers all;
    for (i32 i = 0; i < all.list.getCount(); i++) {
        DispatcherLock held(all.list.get(i));
        if (LxCore::ClassInfo* info = all.list.get(i)->getClassInfo(name))
            return info;
    }
    return nullptr;
}

}  // namespace LxScript
