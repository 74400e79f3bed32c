// The session the program runs in, made the one way the process start, the
// tests and the benchmarks make it: the program's resources served, the
// camera port made from its backend, and the observers (the image log and
// the status line following the port, the files and the capture) attached
// before the session's first use, so that none of them can be forgotten.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "core/session.h"
#include "port/port_backend.h"

namespace plat {

struct ProgramSessionParts {
    SessionOptions options;
    // The program's compiled resource file (its menus, dialogs, icons).
    std::span<const std::uint8_t> resources;
    // Null: the backend the root's configuration names.
    std::unique_ptr<PortBackend> portBackend;
    // What the backend reported before the session: told once it runs.
    std::vector<PortFailure> portFailures;
};

std::unique_ptr<Session> makeProgramSession(ProgramSessionParts parts);

}  // namespace plat
