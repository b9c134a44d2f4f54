// Contexts for the tests, with stand-ins for the endpoints and the pump
// thread that the context hooks describe: an endpoint that is only its
// specifier, and a pump thread that is only a token the hooks recognise.
#pragma once
#include <string>

#include "objects/Specifier.h"
#include "objects/TellwireContext.h"

namespace TestContexts {

using LxObjects::LoString;
using LxObjects::Tellwire;
using LxObjects::TellwireContext;

// An endpoint that has a specifier and counts its deletions.
class StandInEndpoint : public Tellwire {
public:
    explicit StandInEndpoint(const char* specifier, int* deletions = nullptr)
        : specifier(specifier), deletions(deletions)
    {
    }
    ~StandInEndpoint() override
    {
        if (deletions)
            ++*deletions;
    }

    std::string specifier;
    int* deletions;
};

// What the stand-in pump thread hooks saw and answer.
struct PumpRecord {
    int started = 0;
    int stopped = 0;
    int deleted = 0;
    bool stopInTime = true;
    bool startOne = false;
    std::string mailboxName;
    std::string status;
    int setupWaits = 0;
};

inline PumpRecord& pumpRecord()
{
    static PumpRecord record;
    return record;
}

inline LxObjects::TellwireThread* pumpToken()
{
    static int token;
    return reinterpret_cast<LxObjects::TellwireThread*>(&token);
}

inline const LxObjects::ContextHooks& standInHooks()
{
    static const LxObjects::ContextHooks hooks = {
        [](const Tellwire& endpoint, LoString& out) {
            const auto* standIn = dynamic_cast<const StandInEndpoint*>(&endpoint);
            out.assign(standIn ? standIn->specifier.c_str() : "");
        },
        [](TellwireContext&, const Tellwire::Specifier&) -> LxObjects::TellwireThread* {
            if (!pumpRecord().startOne)
                return nullptr;
            ++pumpRecord().started;
            return pumpToken();
        },
        [](LxObjects::TellwireThread&) {
            ++pumpRecord().stopped;
            return pumpRecord().stopInTime;
        },
        [](LxObjects::TellwireThread*) { ++pumpRecord().deleted; },
        [](LxObjects::TellwireThread&, LoString& out) { out.assign(pumpRecord().mailboxName.c_str()); },
        [](LoString& out, const LoString&) { out.assign(pumpRecord().status.c_str()); },
        [] { ++pumpRecord().setupWaits; },
        nullptr,
    };
    return hooks;
}

// Makes a fresh context current, whose main endpoint has the specifier own
// (none when own is empty); the context before it goes without handing
// anything over.
inline TellwireContext* useContext(const char* own)
{
    LxObjects::setContextHooks(&standInHooks());
    LxObjects::setCurrentContext(nullptr);
    TellwireContext* context = new TellwireContext(Tellwire::Specifier(own, false));
    if (*own) {
        Tellwire* endpoint = new StandInEndpoint(own);
        context->addEndpoint(endpoint);
        context->setMainEndpoint(endpoint);
    }
    LxObjects::setCurrentContext(context);
    return context;
}

}  // namespace TestContexts
