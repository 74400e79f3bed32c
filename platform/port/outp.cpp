// _outp from <conio.h>: the program's direct port output.
#include <conio.h>

#include <cstdint>

#include "core/session.h"
#include "port/parallel_port.h"

// Returns the byte written, as the C runtime's _outp does. The program's
// port is the one its session was made with (makeSessionPort); without a
// session there is no port and the write has no effect.
extern "C" int _outp(unsigned short port, int databyte) {
    const auto value = static_cast<std::uint8_t>(databyte);
    if (!plat::hasSession()) return value;
    if (plat::ParallelPort *parallel = plat::session().findComponent<plat::ParallelPort>()) parallel->write(port, value);
    return value;
}
