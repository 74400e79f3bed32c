#!/usr/bin/env bash
# A capture device that goes away in the middle of a run and comes back is
# used again. The real program records on the kernel's vivid device:
#
# - a pulled cable: after two images vivid's Disconnect button is pressed
#   and its node taken out of /dev, so the program cannot find it again;
#   `rmmod vivid` succeeds only once the program has closed every handle
#   and unmapped every buffer (a mapping keeps the device file open). vivid
#   is then loaded again with its capture node at another number
#   (/dev/video3, its output node taking /dev/video0, as a grabber plugged
#   into another port comes back), the program finds it there by its
#   description and the run goes on to its count;
# - a fatal streaming error (vivid's injected fatal streaming error): the reason
#   told is an input/output error, not a vanished device, and the run goes
#   on to its count on the same device.
#
# Each run: the user told on stderr, in the posted "Error" box and in the
# status line (both read from the screen as a screen reader reads it; the
# status line's reason dropped once the device is back, its count kept), the
# device's return said ("... is back"), an output file whose index holds
# every image, from before the failure and after it, the port at rest and
# exit status 0.
. "$(dirname "$0")/../lib.sh"
started=$(date +%s)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
device=$noctil_vivid
count=5
log=$NOCTIL_ROOT/program.log

# What of the device the program still holds: open files and mappings.
held_by_program() {
  ls -l /proc/$noctil_pid/fd 2>/dev/null | grep -E '/dev/(video|vbi|radio|swradio|v4l-)' || true
  grep -E '/dev/(video|vbi|radio|swradio|v4l-)' /proc/$noctil_pid/maps 2>/dev/null || true
}

# Starts a run of `count` images of 1 s on vivid and waits for the second.
start_run() {
  noctil_readable_screen || return 1
  noctil_run_setup "$count" 1000 "$device"
  noctil_start || return 1
  noctil_menu c r
  noctil_wait_title " - 2/$count\$" 120
}

# Waits for the run to reach its count, closes the box the failure opened,
# ends the program with File > Exit and checks the outcome: `gone` images
# were written before the device was back at NODE, every image is in the
# file.
finish_run() {
  local label=$1 gone=$2 node=$3 boxes
  noctil_wait_title " - $count/$count\$" 120 || { fail "$label: the run did not reach $count images"; held_by_program; }
  boxes=$(noctil_error_boxes)
  [ "$boxes" = 1 ] || fail "$label: $boxes boxes told of the readouts without an image, not one"
  # Back, the device's reason no longer holds: the status line keeps the count alone.
  noctil_expect_on_screen "$label" '^Noctil$' ' without an image' >/dev/null
  noctil_screen_text '^Noctil$' | grep -q 'without an image: the device' &&
    fail "$label: the device's reason is still in the status line after its return"
  noctil_close_box
  noctil_exit_and_expect_run "$label" "$count"
  [ -n "$gone" ] && [ "$gone" -ge 2 ] && [ "$gone" -lt "$count" ] ||
    fail "$label: $gone images before the failure, so none is known to come after it"
  grep -qF "v4l2: $node: $device is back" "$log" || fail "$label: the device's return at $node was not said"
  echo "$label: $gone images before the failure, $((count - ${gone:-0})) after it"
  grep -E '^(v4l2|capture window):' "$log" | grep -vE 'format|receives|standard' | sed 's/^/  /'
}

noctil_fresh_vivid || exit 1
for control in disconnect inject_fatal_streaming_error; do
  v4l2-ctl -d /dev/video0 --list-ctrls | grep -qw "$control" || { echo "FAIL: vivid has no control $control"; exit 1; }
done

echo "== a pulled cable: vivid disconnected and its node gone, then loaded again at another node"
start_run || exit 1
v4l2-ctl -d /dev/video0 --set-ctrl disconnect=1
rm -f /dev/video0
pulled=$(date +%s%N)
until rmmod vivid 2>/dev/null; do
  if [ $(( $(date +%s%N) - pulled )) -gt 30000000000 ]; then
    echo "FAIL: the program still holds vivid 30 s after the disconnect:"; held_by_program
    kill -9 $noctil_pid; exit 1
  fi
  sleep 0.1
done
echo "vivid could be unloaded $(( ($(date +%s%N) - pulled) / 1000000 )) ms after the disconnect"
gone=$(noctil_images_now "$count")
grep -q 'No such device' "$log" || fail "pulled cable: the vanished device was not told as such"
noctil_expect_on_screen "pulled cable" '^Error$' 'No such device'
noctil_expect_on_screen "pulled cable" '^Noctil$' 'without an image: the device is gone'
modprobe -d "$NOCTIL_KERNEL_DIR" vivid vid_cap_nr=3 || exit 1
v4l2-ctl -d /dev/video3 --info | grep -q 'Video Capture' || fail "vivid's capture node is not /dev/video3"
finish_run "pulled cable" "$gone" /dev/video3

echo "== a fatal streaming error"
noctil_fresh_vivid || exit 1
start_run || exit 1
v4l2-ctl -d /dev/video0 --set-ctrl inject_fatal_streaming_error=1
injected=$(date +%s)
until grep -q 'Input/output error' "$log" || [ $(( $(date +%s) - injected )) -gt 20 ]; do sleep 0.1; done
gone=$(noctil_images_now "$count")
grep -q 'VIDIOC_DQBUF: Input/output error' "$log" || fail "streaming error: not told as an input/output error"
grep -q 'No such device' "$log" && fail "streaming error: told as a vanished device"
noctil_expect_on_screen "streaming error" '^Error$' 'Input/output error'
# The same node is opened again at the very next readout, which clears the
# reason from the status line: the count stays.
noctil_expect_on_screen "streaming error" '^Noctil$' '1 readout without an image'
finish_run "streaming error" "$gone" /dev/video0

# The cases after this one find vivid as freshly loaded.
noctil_fresh_vivid || fail "vivid could not be loaded afresh"
[ $failures -eq 0 ]
GUEST
echo "the two runs took $(( $(date +%s) - started )) s"
