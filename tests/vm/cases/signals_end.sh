#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP, each during an exposure and during a readout,
# and the X server going away, end the real program (camera on ppdev) as
# File > Exit does: the port at rest, exit status 0, the output file
# readable with the images it holds, the settings saved.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
for run in TERM:exposure TERM:readout INT:exposure INT:readout HUP:exposure HUP:readout; do
  sig=${run%%:*}; phase=${run#*:}
  noctil_signalled_run "$sig" "$phase" || continue
  noctil_expect_orderly_end "$sig during $phase"
done

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
