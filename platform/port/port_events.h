// What the port announces of the writes it logs, to subscribers that must
// not bring the port up by listening (the status line, through the layer
// above): each write of the session's port as soon as it is logged, before
// the port's own listeners hear of it. The port knows nothing of who
// listens.
#pragma once

#include "port/parallel_port.h"

namespace plat {

class PortObserver {
public:
    virtual ~PortObserver() = default;
    // Runs inside the write: must not allocate, write to the port, nor
    // subscribe or unsubscribe.
    virtual void portWritten(const PortWrite &write) = 0;
};

// Observers of the session in force, told in the order they subscribed.
void subscribeToPortWrites(PortObserver &observer);
void unsubscribeFromPortWrites(PortObserver &observer);

}  // namespace plat
