#!/usr/bin/env bash
# A camera port that cannot be used is shown in a message box titled
# "Error" that names the device and the reason; standard error keeps the
# call that failed: a missing device, a port another program holds, no
# permission for ppdev, direct I/O or the serial port.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
runas=
noctil_setup; noctil_port_backend ppdev; sed -i 's|/dev/parport0|/dev/parport7|' "$NOCTIL_ROOT/windows/system.ini"
noctil_expect_error_box "missing device" "/dev/parport7: no such device" "open(/dev/parport7) failed: No such file or directory"

noctil_setup; noctil_port_backend ppdev
rm -f /tmp/holding; mkfifo /tmp/holding
"$NOCTIL_BUILD_DIR/tests/vm/vm_port_probe" hold /dev/parport0 >/tmp/holding & holder=$!
read -r _ </tmp/holding  # the holder has claimed the port
noctil_expect_error_box "port held by another program" "/dev/parport0: busy" "PPCLAIM"
kill $holder; wait $holder 2>/dev/null

# Permission: the program as an ordinary user, the device root's alone.
chmod 600 /dev/parport0 /dev/ttyS0
noctil_setup; noctil_port_backend ppdev; chmod -R a+rwX "$NOCTIL_ROOT"
runas="setpriv --reuid=nobody --regid=nogroup --clear-groups"
noctil_expect_error_box "ppdev without permission" "/dev/parport0: permission denied" "open(/dev/parport0) failed: Permission denied"
noctil_setup; noctil_port_backend direct; chmod -R a+rwX "$NOCTIL_ROOT"
noctil_expect_error_box "direct I/O without privilege" "I/O address 0x378: permission denied" "ioperm(0x378, 3, 1) failed"
noctil_setup; noctil_port_backend serial; chmod -R a+rwX "$NOCTIL_ROOT"
noctil_expect_error_box "serial without permission" "/dev/ttyS0: permission denied" "open(/dev/ttyS0) failed: Permission denied"
runas=

[ $failures -eq 0 ]
GUEST
