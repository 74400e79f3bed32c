#!/usr/bin/env bash
# A camera port configuration the program cannot use is shown in a message
# box titled "Error" that says what is wrong; the program goes on without a
# port: a tty that is no serial port, an unknown backend, a malformed
# address, a line bit out of range.
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
noctil_setup; noctil_port_backend serial; sed -i 's|/dev/ttyS0|/dev/parport0|' "$NOCTIL_ROOT/windows/system.ini"
expect_box "serial device that is no serial port" "/dev/parport0: not a serial port" "TIOCMGET"
noctil_setup; noctil_port_backend usb
expect_box "unknown backend" "unknown backend \"usb\"" "unknown backend"
noctil_setup; noctil_port_backend direct; sed -i 's|0x378|0x37G|' "$NOCTIL_ROOT/windows/system.ini"
expect_box "malformed address" "address=0x37G is no I/O address" "address=0x37G"
noctil_setup; noctil_port_backend serial dtr=9
expect_box "bit out of range" "dtr=9 (a data bit from 0 to 7)" "dtr=9"
[ $failures -eq 0 ]
GUEST
