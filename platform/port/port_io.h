// Output instructions to I/O ports, where the processor has them: the direct
// backend drives the port with them, and the crash handler rests it with them.
#ifndef NOCTIL_PORT_PORT_IO_H
#define NOCTIL_PORT_PORT_IO_H

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define NOCTIL_HAS_PORT_IO 1
#else
#define NOCTIL_HAS_PORT_IO 0
#endif

#endif  // NOCTIL_PORT_PORT_IO_H
