// The C runtime's <conio.h>, and the program's port output _outp on every
// Windows target. The 64-bit runtimes have no _outp at all, and on Windows NT
// the 32-bit one faults in user mode; port/outp.cpp defines it over a port
// driver or a serial port instead (the declaration is the runtime's own).
#pragma once
#include_next <conio.h>

#ifdef __cplusplus
extern "C" {
#endif
int __cdecl _outp(unsigned short port, int databyte);
#ifdef __cplusplus
}
#endif
