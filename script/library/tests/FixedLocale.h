// A localizer that answers one locale, for the number texts that follow it.
#pragma once
#include "core/Localizer.h"
#include "core/String.h"

namespace LxScript {

class FixedLocale : public LxCore::Localizer {
public:
    explicit FixedLocale(const char* name) : name(name) {}
    bool getLocale(LxCore::String& out) override {
        out = name;
        return true;
    }

private:
    const char* name;
};

}  // namespace LxScript
