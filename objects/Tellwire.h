// The Tellwire endpoint: one named participant of this process in the
// messaging between applications. Its messages, their headers, the
// specifiers that address them and the handlers that receive them are its
// nested classes, each defined in a header of its own (Message.h,
// Specifier.h).
#pragma once
#include "objects/LoLock.h"

namespace LxObjects {

class Tellwire : public LoLockable {
public:
    class Header;
    class Message;
    class Specifier;
    class MsgHandler;

    ~Tellwire() override;

    // --- The endpoint proper goes here: its construction from a specifier,
    // handler, main flag and context, the static facility functions
    // (bringApplicationToFront, getInstalledSpecifierCount,
    // getInstalledSpecifier, getDisplayName) and its owned private data. ---
};

}  // namespace LxObjects
