#include <cstdio>
#include <string>

#include "port/port_backend.h"
#include "profile/ini_file.h"

namespace plat {

PortFailureSink stderrFailureSink() {
    return [](const std::string &line) { std::fprintf(stderr, "noctil: %s\n", line.c_str()); };
}

std::unique_ptr<PortBackend> makeConfiguredPortBackend(const std::filesystem::path &systemIni,
                                                       std::uint16_t dataRegister, PortFailureSink report) {
    std::string backend = readIniValue(systemIni, "parallel", "backend").value_or("simulated");
    for (char &c : backend)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (backend == "ppdev")
        return makePpdevPortBackend(readIniValue(systemIni, "parallel", "device").value_or("/dev/parport0"),
                                    dataRegister, std::move(report));
    if (backend == "direct") return makeDirectPortBackend(dataRegister, std::move(report));
    if (backend != "simulated" && report)
        report("parallel port: unknown backend \"" + backend + "\" in " + systemIni.string() +
               " (simulated, ppdev or direct); using the simulated port");
    return makeSimulatedPortBackend();
}

}  // namespace plat
