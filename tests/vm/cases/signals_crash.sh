#!/usr/bin/env bash
# The crash signals and SIGQUIT, during an exposure and during a readout,
# rest the port (camera on ppdev) and die by their signal; after SIGKILL the
# next start rests the port before its window appears.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
for run in SEGV:exposure SEGV:readout BUS:exposure BUS:readout ABRT:exposure ABRT:readout \
           FPE:exposure FPE:readout QUIT:exposure; do
  sig=${run%%:*}; phase=${run#*:}
  noctil_signalled_run "$sig" "$phase" || continue
  noctil_expect_crash_end "$sig during $phase" "$sig"
done

# SIGKILL leaves the camera integrating; the next start rests it before the
# window appears. A long exposure, so that a loaded machine still kills the
# program inside it.
noctil_signalled_run KILL exposure 10000
now=$(noctil_probe read)
[ "$now" = 0x0B ] || fail "KILL: the port holds $now after SIGKILL, expected the exposure level"
QT_QPA_PLATFORM=xcb "$NOCTIL_BUILD_DIR/noctil" >"$NOCTIL_ROOT/program.log" 2>&1 &
noctil_pid=$!
noctil_probe wait 0x00 60 >/dev/null || fail "KILL: the next start did not rest the port"
window=$(xdotool search --name '^Noctil$' 2>/dev/null | head -1)
[ -z "$window" ] || fail "KILL: the window was up before the port was at rest"
noctil_signal TERM
noctil_wait_exit 60
echo "KILL during exposure: port $now; the next start rested it first"
[ $failures -eq 0 ]
GUEST
