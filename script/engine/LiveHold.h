// Every call into a live object holds a reference and the object's lock.
#pragma once
#include "core/LiveCollection.h"
#include "core/LiveObject.h"

namespace LxScript {

class LiveHold {
public:
    explicit LiveHold(LxCore::LiveObject* live) : live(live) {
        if (live) {
            live->addRef();
            live->lock();
        }
    }
    ~LiveHold() {
        if (live) {
            live->unlock();
            live->release();
        }
    }
    LiveHold(const LiveHold&) = delete;
    LiveHold& operator=(const LiveHold&) = delete;

    LxCore::LiveObject* operator->() const { return live; }

private:
    LxCore::LiveObject* live;
};

// The collection interface of a live object, or null.
inline LxCore::LiveCollection* collectionOf(LxCore::LiveObject* live) {
    return live ? static_cast<LxCore::LiveCollection*>(live->getInterface(LxCore::kCollectionInterface))
                : nullptr;
}

}  // namespace LxScript
