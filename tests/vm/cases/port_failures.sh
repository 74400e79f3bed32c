#!/usr/bin/env bash
# A camera port that cannot be used is shown in a message box titled
# "Error" that names the device and the reason; standard error keeps the
# call that failed: a missing device, a port another program holds, no
# permission for ppdev, direct I/O or the serial port.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Starts the program, expects the box with `text` and `detail` on stderr,
# closes the box and ends the program with SIGTERM.
expect_box() {
  local what=$1 text=$2 detail=$3
  noctil_display || return 1
  $runas env -u XDG_RUNTIME_DIR HOME=/tmp QT_QPA_PLATFORM=xcb "$NOCTIL_BUILD_DIR/noctil" >"$NOCTIL_ROOT/program.log" 2>&1 &
  noctil_pid=$!
  box=$(timeout 60 xdotool search --sync --onlyvisible --name '^Error$' | head -1)
  if [ -z "$box" ]; then fail "$what: no message box"; cat "$NOCTIL_ROOT/program.log"
  else
    # Enter answers the box once it has the keyboard.
    for try in 1 2 3 4 5; do
      xdotool windowfocus "$box" 2>/dev/null; xdotool key Return
      xdotool search --onlyvisible --name '^Error$' >/dev/null || break
      sleep 0.5
    done
  fi
  grep -qF "$detail" "$NOCTIL_ROOT/program.log" || { fail "$what: '$detail' not on stderr"; cat "$NOCTIL_ROOT/program.log"; }
  # What the box says (device and reason) goes to stderr with the details.
  grep -qF "$text" "$NOCTIL_ROOT/program.log" || { fail "$what: '$text' not said"; cat "$NOCTIL_ROOT/program.log"; }
  timeout 60 xdotool search --sync --name '^Noctil$' >/dev/null || fail "$what: the program did not go on"
  kill -TERM $noctil_pid; noctil_wait_exit 60 >/dev/null
  echo "$what: box shown; $(grep -m1 'camera port' "$NOCTIL_ROOT/program.log")"
}

runas=
noctil_setup; noctil_port_backend ppdev; sed -i 's|/dev/parport0|/dev/parport7|' "$NOCTIL_ROOT/windows/system.ini"
expect_box "missing device" "/dev/parport7: no such device" "open(/dev/parport7) failed: No such file or directory"

noctil_setup; noctil_port_backend ppdev
rm -f /tmp/holding; mkfifo /tmp/holding
"$NOCTIL_BUILD_DIR/tests/vm/vm_port_probe" hold /dev/parport0 >/tmp/holding & holder=$!
read -r _ </tmp/holding  # the holder has claimed the port
expect_box "port held by another program" "/dev/parport0: busy" "PPCLAIM"
kill $holder; wait $holder 2>/dev/null

# Permission: the program as an ordinary user, the device root's alone.
chmod 600 /dev/parport0 /dev/ttyS0
noctil_setup; noctil_port_backend ppdev; chmod -R a+rwX "$NOCTIL_ROOT"
runas="setpriv --reuid=nobody --regid=nogroup --clear-groups"
expect_box "ppdev without permission" "/dev/parport0: permission denied" "open(/dev/parport0) failed: Permission denied"
noctil_setup; noctil_port_backend direct; chmod -R a+rwX "$NOCTIL_ROOT"
expect_box "direct I/O without privilege" "I/O address 0x378: permission denied" "ioperm(0x378, 3, 1) failed"
noctil_setup; noctil_port_backend serial; chmod -R a+rwX "$NOCTIL_ROOT"
expect_box "serial without permission" "/dev/ttyS0: permission denied" "open(/dev/ttyS0) failed: Permission denied"
runas=

[ $failures -eq 0 ]
GUEST
