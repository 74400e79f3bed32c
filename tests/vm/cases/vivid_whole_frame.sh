#!/usr/bin/env bash
# The real program starts on the simulated camera, the user chooses the
# kernel's vivid device in the Options menu (its webcam input at the
# progressive 640x360 kept in capture.ini) and records two images in
# whole-frame mode; the output file holds them at the device's size.
. "$(dirname "$0")/../lib.sh"
mark=$(vm_trace_mark)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_load_vivid || exit 1
device=$noctil_vivid
noctil_run_setup 2
noctil_capture_ini "$device" <<INI
input=Webcam 0
format=YUYV 640x360
INI
noctil_start || exit 1
noctil_menu o 1                      # Options > 1 vivid (platform:vivid-000)
sleep 2
noctil_record_and_exit 2 || exit 1
size=$(noctil_image_size)
[ "$size" = "640,360" ] || { echo "FAIL: images of $size, expected 640,360"; exit 1; }
# The profile functions end lines in CR LF.
tr -d '\r' < "$NOCTIL_ROOT/windows/Noctil.ini" | grep -q "^Name=$device\$" || { echo "FAIL: the chosen device was not saved"; exit 1; }
GUEST
# The camera lines: each exposure as long as set, ended by the first readout
# frame (its excess is the time from the exposure timer to that frame).
vm_check_trace "$mark" --exposure 1000 --images 2
