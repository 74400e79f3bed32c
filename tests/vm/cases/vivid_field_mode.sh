#!/usr/bin/env bash
# The real program connects the kernel's vivid device by the name it saved,
# with its input, standard and size kept in capture.ini (S-Video, NTSC,
# 640x480 interlaced), and records two images in field mode; the output
# file holds them at the device's size. Prints the device's figures.
. "$(dirname "$0")/../lib.sh"
mark=$(vm_trace_mark)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_load_vivid || exit 1
device=$noctil_vivid
noctil_run_setup 2 1000 "$device"
noctil_capture_ini "$device" <<INI
input=S-Video 0
standard=NTSC-M
format=YUYV 640x480
INI
noctil_start || exit 1
noctil_record_and_exit 2 || exit 1
size=$(noctil_image_size)
[ "$size" = "640,480" ] || { echo "FAIL: images of $size, expected 640,480"; exit 1; }
field=$(v4l2-ctl -d /dev/video0 --get-fmt-video | sed -n 's/^\s*Field\s*: //p')
echo "device field layout: $field"
tr -d '\r' < "$NOCTIL_ROOT/windows/Noctil.ini" | grep -q "^Name=$device\$" || { echo "FAIL: the device's name was not kept"; exit 1; }
echo "nominal: $(v4l2-ctl -d /dev/video0 --get-parm | grep 'Frames per second')"
"$NOCTIL_BUILD_DIR/tests/vm/vm_v4l2_figures" "$device" 30
GUEST
# The camera lines: each exposure as long as set, ended by the first readout
# frame (its excess is the time from the exposure timer to that frame).
vm_check_trace "$mark" --exposure 1000 --images 2
