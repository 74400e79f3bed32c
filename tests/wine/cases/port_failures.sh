#!/usr/bin/env bash
# A camera port the program cannot use is told once, in a box titled "Error"
# that names what is missing and where to get it, before the windows open;
# the program then goes on without a port and ends with status 0. A port set
# to none is never looked for.
. "$(dirname "$0")/../lib.sh"
fake64=$build/fake_inpout/inpoutx64.dll
fake32=$build/fake_inpout32/inpout32.dll
port_ini() { printf '[parallel]\r\n' >"$case/noctil-port.ini"; printf '%s\r\n' "$@" >>"$case/noctil-port.ini"; }

# Starts the program of the case, expects the box with every given text in
# what it tells (Wine's log has the box's words), answers it, and ends the
# program through File > Exit.
expect_box() {
  local what=$1; shift
  program_start
  if ! wait_window Error; then cat "$case/wine.log"; program_wait_exit 5; return; fi
  answer Error Return
  wait_window Noctil || fail "$what: the program did not go on"
  for text in "$@"; do
    grep -qF "$text" "$case/wine.log" || fail "$what: the box did not say '$text'"
  done
  window_shown Error && fail "$what: a second box"
  exit_through_menu "$what"
  echo "$what: told \"$(grep -o 'noctil: [^"]*' "$case/wine.log" | sed -n 2p | cut -c9- | sed 's/\\n$//')\""
}

case_setup no_dll
expect_box "no port driver" "inpoutx64.dll: not found." "https://www.highrez.co.uk/downloads/inpout32/" \
  "InstallDriver.exe" "The camera is not controlled"

case_setup only_32bit_dll
cp "$fake32" "$case/inpout32.dll"
expect_box "only the 32-bit driver DLL" "inpoutx64.dll: not found; only inpout32.dll is installed, which is for 32-bit programs"
[ -f "$port_log" ] && fail "only the 32-bit driver DLL: it was run: $(cat "$port_log")"

case_setup wrong_bitness
cp "$fake32" "$case/inpoutx64.dll"
expect_box "a 32-bit DLL named inpoutx64.dll" "inpoutx64.dll: is not a 64-bit DLL"
[ -f "$port_log" ] && fail "a 32-bit DLL named inpoutx64.dll: it was run: $(cat "$port_log")"

case_setup driver_not_installed
cp "$fake64" "$case/"
export NOCTIL_FAKE_INPOUT_DRIVER=closed
expect_box "the driver not installed" "inpoutx64.dll: is installed, but its driver is not" "as administrator"
grep -q '^IsInpOutDriverOpen 0$' "$port_log" || fail "the driver not installed: it was not asked"
grep -q '^Out32' "$port_log" && fail "the driver not installed: the port was written anyway"

case_setup no_such_com_port
port_ini backend=serial device=COM9
expect_box "a COM port that does not exist" "COM9: no such port." "Device Manager"

case_setup not_a_serial_port
port_ini backend=serial device=COM6
expect_box "a device that is no serial port" "COM6: not a serial port"

case_setup unknown_backend
port_ini backend=direct
expect_box "an unknown backend" 'noctil-port.ini [parallel]: unknown backend \"direct\" (inpout, serial or none).'

case_setup bad_address
cp "$fake64" "$case/"
port_ini backend=inpout address=0x37G
expect_box "a malformed address" "noctil-port.ini [parallel]: address=0x37G is no I/O address"
[ -f "$port_log" ] && fail "a malformed address: the driver was loaded: $(cat "$port_log")"

case_setup bad_line_bit
port_ini backend=serial dtr=9
expect_box "a line bit out of range" "noctil-port.ini [parallel]: bad line setting dtr=9 (a data bit from 0 to 7)"

# backend=none: no box, and the driver beside the program is never loaded.
case_setup no_port
cp "$fake64" "$case/"
port_ini backend=none
program_start
wait_window Noctil && wait_window NoctilSnapshot
window_shown Error && fail "backend=none: a box"
exit_through_menu "backend=none"
[ -f "$port_log" ] && fail "backend=none: the driver was loaded: $(cat "$port_log")"
echo "backend=none: no box, the driver not loaded, exit status $status"
[ $failures -eq 0 ]
