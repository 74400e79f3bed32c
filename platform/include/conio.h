// Direct port output, as the C runtime offers it: one byte to an I/O address.
#ifndef NOCTIL_PLATFORM_CONIO_H
#define NOCTIL_PLATFORM_CONIO_H

extern "C" int _outp(unsigned short port, int databyte);

#endif  // NOCTIL_PLATFORM_CONIO_H
