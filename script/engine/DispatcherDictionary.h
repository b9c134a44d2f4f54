// The dictionary of every named dispatcher's classes: its groups are the
// dispatchers' names, its classes their class names, each listed once.
#pragma once
#include "core/Dictionary.h"

namespace LxScript {

class DispatcherDictionary : public LxCore::Dictionary {
public:
    static constexpr LxCore::u32 kClients = 0x10000;

    DispatcherDictionary() : LxCore::Dictionary(kClients) {}
    void getGroups(LxCore::StringList& out) override;
    // "All" lists the classes of every dispatcher.
    void getClasses(const LxCore::String& group, LxCore::StringList& out) override;
    // The first dispatcher, in registration order, that serves the class.
    LxCore::ClassInfo* getClass(const LxCore::String& name) override;
};

}  // namespace LxScript
