// What hears a broadcaster's messages (core/Broadcaster.h).
#pragma once

namespace LxCore {

class Message;

// A base without Root, so that classes of the core heap can mix it in.
class Listener {
public:
    virtual ~Listener() = default;
    // True means handled: the delivery stops.
    virtual bool onMessage(Message& message) { return false; }
};

}  // namespace LxCore
