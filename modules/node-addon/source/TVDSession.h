// The debug session: one per process. It owns the Tellwire debug endpoint,
// whose handler hands every delivered message to the caller's callback,
// and it loads the add-on's localisation file.
#pragma once
#include <string>

#include "modules/node-addon/source/TVDCoreAPI.h"
#include "objects/Tellwire.h"

namespace LxObjects {

class DebugTWHandler : public Tellwire::MsgHandler {
public:
    explicit DebugTWHandler(TVDMessageCallback callback) : callback_(callback) {}

    // The callback's result; -33 without a callback.
    int handle(int kind, Tellwire::Message& message, LoString* reply) override;

private:
    TVDMessageCallback callback_;
};

}  // namespace LxObjects

class TVDSession {
public:
    static TVDSession& get();

    // The core, the engine library and the endpoint all stand.
    bool isUp() const;
    LxObjects::Tellwire* getEndpoint() const { return endpoint_; }

    // Raises the core and engine inits, then Tellwire and the endpoint.
    // A start that leaves no session undoes what it raised.
    TVDCoreStatus start(const std::string& application, const std::string& version,
                        TVDMessageCallback callback);
    // Ends the session; inside a pump the end waits until the outermost
    // pump returns, so that nothing the pump still walks is freed under it.
    void stop();
    // Delivers the waiting messages until one's callback throws.
    void pump();
    // Ends the delivery of the innermost running pump.
    void haltDelivery() { deliveryHalted_ = true; }

private:
    TVDSession() = default;

    bool openEndpoint(const std::string& application, const std::string& version, TVDMessageCallback callback);
    void closeEndpoint();
    void finishStop();

    LxObjects::Tellwire* endpoint_ = nullptr;
    int pumpDepth_ = 0;
    bool stopPending_ = false;
    bool deliveryHalted_ = false;
};

// Registers the localizer of "tavrel-<locale>.dat" (else "tavrel-en_US.dat")
// in "Resources/localization" beside this library, once per start of the
// core library: the core's last exit deletes it and allows the next load.
void loadTVDLocalization(const std::string& locale);
