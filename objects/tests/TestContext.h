// Contexts for the tests, with a stand-in for the endpoints: an endpoint
// that is only its specifier (no mailbox). Every context runs its real pump
// thread, so the tests that make contexts need their own user folders.
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
        : Tellwire(LoString(specifier)), specifier(specifier), deletions(deletions)
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

// Makes a fresh context current, whose main endpoint has the specifier own
// (none when own is empty); the context before it goes without handing
// anything over.
inline TellwireContext* useContext(const char* own)
{
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
