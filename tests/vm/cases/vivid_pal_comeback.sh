#!/usr/bin/env bash
# A PAL camera on a grabber that starts at NTSC, unplugged and plugged back
# in the middle of a run. The kernel's vivid device plays the grabber: its
# S-Video input receives PAL (vivid's selected-standard signal mode), and at
# every load it is set to NTSC on its first input, as a USB grabber starts.
# The real program's first start asks
# which standard the input receives, selects PAL and saves it; after two
# images vivid is disconnected, its node taken out of /dev, unloaded and
# loaded again (at NTSC, its capture node at /dev/video3). The program
# finds it there, puts it back on PAL in the format it streamed in, and the
# run goes on in field mode to its count: every image of the file has 576
# rows, and every row carries picture (vivid's colour bars), none of them
# the flat rows of a 480-line picture in a 576-line frame.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
device=$noctil_vivid
count=5
log=$NOCTIL_ROOT/program.log

# The camera on vivid's S-Video input (input 2) sends PAL: QUERYSTD answers
# the standard chosen in vivid's "Standard" menu (PAL-BGH). The grabber
# itself is set to NTSC on that input, as a USB grabber starts; it is left
# on its first input.
grabber_at_ntsc_camera_at_pal() {
  local node=$1 pal
  v4l2-ctl -d "$node" -i 2 >/dev/null || { echo "$node: input 2 not set"; return 1; }
  pal=$(v4l2-ctl -d "$node" --list-ctrls-menus | sed -n '/^ *standard 0x/,/^ *[a-z_]* 0x/p' |
    sed -n 's/^\s*\([0-9]*\): PAL-BGH$/\1/p' | head -1)
  [ -n "$pal" ] || { echo "FAIL: vivid's Standard menu has no PAL-BGH"; return 1; }
  v4l2-ctl -d "$node" --set-ctrl "standard_signal_mode=4,standard=$pal" || { echo "$node: signal not set"; return 1; }
  v4l2-ctl -d "$node" --set-standard ntsc >/dev/null || { echo "$node: NTSC not set"; return 1; }
  v4l2-ctl -d "$node" --get-detected-standard | grep -q 'PAL' || { echo "FAIL: vivid does not answer PAL"; return 1; }
  v4l2-ctl -d "$node" -i 0 >/dev/null
}

noctil_fresh_vivid || exit 1
grabber_at_ntsc_camera_at_pal /dev/video0 || exit 1
noctil_run_setup "$count" 1000 "$device"
noctil_capture_ini "$device" <<INI
input=S-Video 0
INI
noctil_start || exit 1
noctil_menu c r
noctil_wait_title " - 2/$count\$" 120 || { echo "FAIL: no second image"; exit 1; }
grep -q "receives PAL" "$log" || fail "the first start did not select PAL"
grep -q '^standard=PAL' "$NOCTIL_ROOT/windows/capture.ini" || fail "the standard found was not saved"

v4l2-ctl -d /dev/video0 --set-ctrl disconnect=1
rm -f /dev/video0
pulled=$(date +%s)
until modprobe -d "$NOCTIL_KERNEL_DIR" -r vivid 2>/dev/null; do
  if [ $(( $(date +%s) - pulled )) -gt 30 ]; then
    echo "FAIL: the program still holds vivid 30 s after the disconnect"
    # What it holds, and what it said of the device.
    ls -l /proc/$noctil_pid/fd 2>/dev/null | grep -E '/dev/(video|vbi|radio|swradio|v4l-)' | sed 's/^/  held: /'
    grep -E '/dev/(video|vbi|radio|swradio|v4l-)' /proc/$noctil_pid/maps 2>/dev/null | sed 's/^/  mapped: /' | head -5
    grep -E '^(v4l2|capture window):' "$log" | sed 's/^/  /'
    exit 1
  fi
  sleep 0.1
done
# Set up before the program can find it (it looks at every readout, and
# vivid's node is there before modprobe returns): the program is held
# stopped meanwhile.
kill -STOP "$noctil_pid"
modprobe -d "$NOCTIL_KERNEL_DIR" vivid vid_cap_nr=3 || exit 1
grabber_at_ntsc_camera_at_pal /dev/video3 || exit 1
kill -CONT "$noctil_pid"

noctil_wait_title " - $count/$count\$" 180 || fail "the run did not reach $count images"
grep -qF "v4l2: /dev/video3: $device is back" "$log" || fail "the device's return was not said"
# The device's failure, and any readout whose field did not arrive.
noctil_close_boxes
noctil_exit_and_expect_run "PAL kept" "$count"

size=$(noctil_image_size)
[ "${size#*,}" = 576 ] || fail "images of $size, not 576 rows"
# Every row of every image carries picture: colour bars vary along a row; a
# row below a 480-line picture is one flat colour.
flat=$(ffmpeg -v error -i "$NOCTIL_ROOT/drives/c/Images.AVI" -f rawvideo -pix_fmt gray - | python3 -c '
import sys
width, height = map(int, sys.argv[1].split(","))
data = sys.stdin.buffer.read()
frame = width * height
flat = 0
for f in range(len(data) // frame):
    for y in range(height):
        row = data[f * frame + y * width:f * frame + (y + 1) * width]
        if max(row) - min(row) < 16:
            flat += 1
print(flat, len(data) // frame)
' "$size")
echo "flat rows, images: $flat"
[ "${flat%% *}" = 0 ] || fail "$flat: rows of one flat colour in the images"
[ "${flat#* }" = "$count" ] || fail "not $count images read back"
grep -E '^(v4l2|capture window):' "$log" | sed 's/^/  /'
grep -q "v4l2: /dev/video3: the standard it streamed in" "$log" && fail "the standard it streamed in was refused"

noctil_fresh_vivid || fail "vivid could not be loaded afresh"
[ $failures -eq 0 ]
GUEST
