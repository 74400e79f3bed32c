// What the port announces of the writes it logs, to subscribers that must
// not bring the port up by listening (the status line, through the layer
// above): each write of the session's port as soon as it is logged, before
// the port's own listeners hear of it. The port knows nothing of who
// listens.
#pragma once

#include <functional>

#include "core/observer_list.h"
#include "port/parallel_port.h"

namespace plat {

// Observers of the session in force, told in the order they subscribed,
// while their subscriptions live. An observer runs inside the write: it must
// not allocate nor write to the port.
Subscription subscribeToPortWrites(std::function<void(const PortWrite &)> observer);

}  // namespace plat
