// The Node-API module "tvdcorelibinterface": its 17 script-callable
// functions and the message callback that hands the session's messages to
// the function given to "tvdPumpSession". The module registers itself when
// the library is loaded.
#pragma once
#include <cstdint>

#include "modules/node-addon/source/TVDCoreAPI.h"

// Handed to TVDInitialize: builds the message's host object and calls the
// pump's function; -33 outside a pump.
int32_t tvdMessageCallback(int32_t kind, LxObjects::Tellwire::Message& message, LxObjects::LoString* reply);
