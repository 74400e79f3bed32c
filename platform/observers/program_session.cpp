#include "observers/program_session.h"

#include <filesystem>
#include <utility>

#include "observers/observers.h"
#include "port/parallel_port.h"
#include "profile/ini_file.h"
#include "resources/resources.h"

namespace plat {

std::unique_ptr<Session> makeProgramSession(ProgramSessionParts parts) {
    auto session = std::make_unique<Session>(std::move(parts.options));
    res::serveProgramResources(*session, parts.resources);
    observers::attach(*session);
    std::vector<PortFailure> failures = std::move(parts.portFailures);
    if (!parts.portBackend) {
        const std::filesystem::path systemIni = plat::systemIni(session->root());
        parts.portBackend =
            makeConfiguredPortBackend({systemIni.string(), readIniSection(systemIni, "parallel")},
                                      [&failures](const PortFailure &f) { failures.push_back(f); });
    }
    makeSessionPort(*session, std::move(parts.portBackend), std::move(failures));
    return session;
}

}  // namespace plat
