#!/usr/bin/env bash
# A device that streams but delivers no frame (no signal, a dead cable):
# vivid drops every buffer (percentage_of_dropped_buffers=100). The user is
# told within the first cycle, in the posted "Error" box, before any image
# is written; once frames come again the run goes on to its count, and the
# output file holds every image.
. "$(dirname "$0")/../lib.sh"
started=$(date +%s)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_fresh_vivid || exit 1
v4l2-ctl -d /dev/video0 --set-ctrl percentage_of_dropped_buffers=100 || { echo "FAIL: vivid keeps every buffer"; exit 1; }
noctil_run_setup 2 1000 "$noctil_vivid"
noctil_start || exit 1
noctil_menu c r
recorded=$(date +%s)
# One cycle: the exposure (1 s), the readout's time limit (2 s), the box
# posted after it; the emulated machine is given as much again.
box=$(timeout 12 xdotool search --sync --onlyvisible --name '^Error$' | head -1)
told=$(( $(date +%s) - recorded ))
[ -n "$box" ] || fail "no box within 12 s of Record"
xdotool search --name ' - [0-9]+/2$' >/dev/null && fail "an image was written while the device gave no frame"
echo "told in a box ${told} s after Record, no image written"
v4l2-ctl -d /dev/video0 --set-ctrl percentage_of_dropped_buffers=0
noctil_wait_title ' - 2/2$' 120 || fail "the run did not go on once frames came again"
noctil_close_box "$box"
noctil_exit_and_expect_run "frames again" 2
# The cases after this one find vivid as freshly loaded.
noctil_fresh_vivid || fail "vivid could not be loaded afresh"
[ $failures -eq 0 ]
GUEST
echo "the run took $(( $(date +%s) - started )) s"
