#!/usr/bin/env bash
# A capture device that goes away in the middle of a run and comes back is
# used again. The real program records on the kernel's vivid device:
#
# - a pulled cable: after two images vivid's Disconnect button is pressed
#   and its node taken out of /dev, so the program cannot find it again;
#   `rmmod vivid` succeeds only once the program has closed every handle
#   and unmapped every buffer (a mapping keeps the device file open). vivid
#   is then loaded again and the run goes on to its count;
# - a fatal streaming error (vivid's injected fatal streaming error): the reason
#   told is an input/output error, not a vanished device, and the run goes
#   on to its count on the same device.
#
# Each run: the user told on stderr and in the posted "Error" box, the
# device's return said ("... is back"), an output file whose index holds
# every image, from before the failure and after it, the port at rest and
# exit status 0.
. "$(dirname "$0")/../lib.sh"
started=$(date +%s)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
device='vivid (platform:vivid-000)'
count=5
log=$NOCTIL_ROOT/program.log

# The images written so far, read from the snapshot window's title.
images_now() {
  xdotool search --name " - [0-9]+/$count\$" getwindowname 2>/dev/null | sed -n "s|.* - \([0-9]*\)/$count\$|\1|p" | head -1
}

# What of the device the program still holds: open files and mappings.
held_by_program() {
  ls -l /proc/$noctil_pid/fd 2>/dev/null | grep -E '/dev/(video|vbi|radio|swradio|v4l-)' || true
  grep -E '/dev/(video|vbi|radio|swradio|v4l-)' /proc/$noctil_pid/maps 2>/dev/null || true
}

# Starts a run of `count` images of 1 s on vivid and waits for the second.
start_run() {
  noctil_setup
  noctil_port_backend ppdev
  noctil_settings <<INI
[Capture]
Exposure=1000
Count=$count
[Driver]
Name=$device
INI
  noctil_start || return 1
  noctil_menu c r
  noctil_wait_title " - 2/$count\$" 120
}

# Waits for the run to reach its count, closes the box the failure opened,
# ends the program with File > Exit and checks the outcome: `gone` images
# were written before the device was back, every image is in the file.
finish_run() {
  local label=$1 gone=$2 box now n
  noctil_wait_title " - $count/$count\$" 120 || { fail "$label: the run did not reach $count images"; held_by_program; }
  boxes=$(xdotool search --onlyvisible --name '^Error$' | wc -l)
  [ "$boxes" = 1 ] || fail "$label: $boxes boxes told of the readouts without an image, not one"
  box=$(xdotool search --onlyvisible --name '^Error$' | head -1)
  if [ -n "$box" ]; then
    for try in 1 2 3 4 5; do
      xdotool windowfocus "$box" 2>/dev/null; xdotool key Return
      xdotool search --onlyvisible --name '^Error$' >/dev/null || break
      sleep 0.5
    done
  fi
  noctil_menu f x
  noctil_wait_exit 60; status=$?
  [ "$status" = 0 ] || fail "$label: exit status $status, not 0"
  now=$(noctil_probe read)
  [ "$now" = 0x00 ] || fail "$label: the port was left at $now"
  n=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
      "$NOCTIL_ROOT/drives/c/Images.AVI")
  [ "$n" = "$count" ] || fail "$label: ffprobe reads '$n' images, not $count"
  noctil_expect_index "$count" || fail "$label: the index is not whole"
  [ -n "$gone" ] && [ "$gone" -ge 2 ] && [ "$gone" -lt "$count" ] ||
    fail "$label: $gone images before the failure, so none is known to come after it"
  grep -q ' is back$' "$log" || fail "$label: the device's return was not said"
  echo "$label: $gone images before the failure, $((count - ${gone:-0})) after it, $n in the file; port $now, exit $status"
  grep -E '^(v4l2|capture window):' "$log" | grep -vE 'format|receives|standard' | sed 's/^/  /'
}

modprobe -r vivid 2>/dev/null
noctil_load_vivid || exit 1
for control in disconnect inject_fatal_streaming_error; do
  v4l2-ctl -d /dev/video0 --list-ctrls | grep -qw "$control" || { echo "FAIL: vivid has no control $control"; exit 1; }
done

echo "== a pulled cable: vivid disconnected and its node gone, then loaded again"
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
gone=$(images_now)
grep -q 'No such device' "$log" || fail "pulled cable: the vanished device was not told as such"
noctil_load_vivid || exit 1
finish_run "pulled cable" "$gone"

echo "== a fatal streaming error"
start_run || exit 1
v4l2-ctl -d /dev/video0 --set-ctrl inject_fatal_streaming_error=1
injected=$(date +%s)
until grep -q 'Input/output error' "$log" || [ $(( $(date +%s) - injected )) -gt 20 ]; do sleep 0.1; done
gone=$(images_now)
grep -q 'VIDIOC_DQBUF: Input/output error' "$log" || fail "streaming error: not told as an input/output error"
grep -q 'No such device' "$log" && fail "streaming error: told as a vanished device"
finish_run "streaming error" "$gone"

# The cases after this one find vivid as freshly loaded.
rmmod vivid && noctil_load_vivid || fail "vivid could not be loaded afresh"
[ $failures -eq 0 ]
GUEST
echo "the two runs took $(( $(date +%s) - started )) s"
