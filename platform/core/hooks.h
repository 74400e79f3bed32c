// Hooks the layers above core register, so that core calls them without
// knowing them: what puts the camera port at rest from a signal handler,
// and what a session that names no display shows on.
#pragma once

#include <memory>

namespace plat {

class Display;

// Puts the camera lines at rest with a call prepared in advance, from a
// signal handler: async-signal-safe only. True when a write was made and
// succeeded.
using SignalRestHook = bool (*)() noexcept;
// The port registers its rest when a backend opens; registering the same
// hook again is harmless.
void addSignalRestHook(SignalRestHook hook);
// Runs every registered hook; true when one of them put lines at rest.
bool runSignalRestHooks() noexcept;

// Makes the display of a session whose options name none (the tests' headless
// display). Without one such a session does not start.
using DefaultDisplayHook = std::shared_ptr<Display> (*)();
void setDefaultDisplayHook(DefaultDisplayHook hook);
std::shared_ptr<Display> makeDefaultDisplay();

}  // namespace plat
