#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP, each during an exposure and during a readout,
# SIGUSR1 during an exposure, and the X server going away, end the real
# program (camera on ppdev) as File > Exit does: the port at rest, exit
# status 0, the output file readable with the images it holds, the settings
# saved. Ctrl+Z rests the port before the program stops.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
for run in TERM:exposure TERM:readout INT:exposure INT:readout HUP:exposure HUP:readout USR1:exposure; do
  sig=${run%%:*}; phase=${run#*:}
  noctil_signalled_run "$sig" "$phase" || continue
  noctil_expect_orderly_end "$sig during $phase"
done

# Ctrl+Z (SIGTSTP) during an exposure rests the port before the program
# stops; after SIGCONT the interrupted exposure starts again (after the
# run's delay, here the timers' shortest) and the run reaches its count. A broken pipe (SIGPIPE) is ignored meanwhile. The program runs as a
# job of its own, as from a terminal's shell (noctil_own_group).
noctil_setup
noctil_port_backend ppdev
printf '[Capture]\nExposure=3000\nCount=2\n' | noctil_settings
noctil_launch=noctil_own_group
noctil_start || exit 1
noctil_launch=
noctil_menu c r
noctil_probe wait 0x0B 60 >/dev/null || fail "TSTP: the port never held 0x0B"
noctil_signal PIPE
noctil_signal TSTP
noctil_probe wait 0x00 30 >/dev/null || fail "TSTP: the port was not put to rest"
stopped=
for _ in $(seq 100); do
  [ "$(sed 's/.*) //' /proc/$noctil_pid/stat | cut -d' ' -f1)" = T ] && { stopped=1; break; }
  sleep 0.1
done
[ -n "$stopped" ] || fail "TSTP: the program did not stop"
noctil_port_is 0x00 || fail "TSTP: the port did not stay at rest while stopped"
noctil_signal CONT
noctil_probe wait 0x0B 30 >/dev/null || fail "TSTP: the exposure did not start again after SIGCONT"
noctil_wait_title ' - 2/2$' 120 || fail "TSTP: the run did not reach its count after SIGCONT"
grep -q 'stopped: camera port put to rest' "$NOCTIL_ROOT/program.log" || fail "TSTP: no word of the rest"
noctil_signal TERM
noctil_wait_exit 60; status=$?
noctil_expect_orderly_end "TSTP and CONT during an exposure, SIGPIPE ignored" 2

# The X server going away during an exposure ends the program as Exit does.
noctil_setup
noctil_port_backend ppdev
printf '[Capture]\nExposure=2000\nCount=3\n' | noctil_settings
noctil_start || exit 1
noctil_menu c r
noctil_probe wait 0x0B 60 >/dev/null || fail "display: the port never held 0x0B"
kill "$(tr -d " " </tmp/.X${DISPLAY#:}-lock)"  # the X server, by the pid in its lock file
noctil_wait_exit 60; status=$?
noctil_expect_orderly_end "X server gone during exposure" 0

[ $failures -eq 0 ]
GUEST
