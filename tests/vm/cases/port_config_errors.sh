#!/usr/bin/env bash
# A camera port configuration the program cannot use is shown in a message
# box titled "Error" that says what is wrong; the program goes on without a
# port: a tty that is no serial port, an unknown backend, a malformed
# address, a line bit out of range.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
runas=
noctil_setup; noctil_port_backend serial; sed -i 's|/dev/ttyS0|/dev/parport0|' "$NOCTIL_ROOT/windows/system.ini"
noctil_expect_error_box "serial device that is no serial port" "/dev/parport0: not a serial port" "TIOCMGET"
noctil_setup; noctil_port_backend usb
noctil_expect_error_box "unknown backend" "unknown backend \"usb\"" "unknown backend"
noctil_setup; noctil_port_backend direct; sed -i 's|0x378|0x37G|' "$NOCTIL_ROOT/windows/system.ini"
noctil_expect_error_box "malformed address" "address=0x37G is no I/O address" "address=0x37G"
noctil_setup; noctil_port_backend serial dtr=9
noctil_expect_error_box "bit out of range" "dtr=9 (a data bit from 0 to 7)" "dtr=9"
[ $failures -eq 0 ]
GUEST
