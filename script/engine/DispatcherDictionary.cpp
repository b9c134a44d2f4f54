#include "script/engine/DispatcherDictionary.h"

#include "core/TypeInfo.h"
#include "script/engine/Dispatcher.h"

namespace LxScript {

using LxCore::String;

namespace {

void appendOnce(LxCore::StringList& out, const String& text) {
    for (i32 i = 0; i < out.getCount(); i++)
        if (*out.get(i) == text)
            return;
    LxCore::appendString(out, text);
}

}  // namespace

void DispatcherDictionary::getGroups(LxCore::StringList& out) {
    LxCore::TSimpleArray<Dispatcher> all;
    Dispatcher::getAll(all);
    for (i32 i = 0; i < all.getCount(); i++)
        appendOnce(out, all.get(i)->getName());
}

void DispatcherDictionary::getClasses(const String& group, LxCore::StringList& out) {
    const bool every = group == String("All");
    LxCore::TSimpleArray<Dispatcher> all;
    Dispatcher::getAll(all);
    for (i32 i = 0; i < all.getCount(); i++) {
        Dispatcher* d = all.get(i);
        if (!every && !(d->getName() == group))
            continue;
        for (i32 c = 0; c < d->getClassCount(); c++)
            appendOnce(out, d->getClass(c));
    }
}

LxCore::ClassInfo* DispatcherDictionary::getClass(const String& name) {
    LxCore::TSimpleArray<Dispatcher> all;
    Dispatcher::getAll(all);
    for (i32 i = 0; i < all.getCount(); i++) {
        DispatcherLock held(all.get(i));
        if (LxCore::ClassInfo* info = all.get(i)->getClassInfo(name))
            return info;
    }
    return nullptr;
}

}  // namespace LxScript
