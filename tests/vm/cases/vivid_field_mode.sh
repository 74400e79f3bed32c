#!/usr/bin/env bash
# The real program connects the kernel's vivid device by the name it saved,
# with its input, standard and size kept in capture.ini (S-Video, NTSC,
# 640x480 interlaced), and records two images in field mode; the output
# file holds them at the device's size. Prints the device's figures. Then
# twenty images on PAL (720x576): every image written has picture in both
# fields, never the rows of a field that did not come from the readout
# stream; a readout in which a field did not arrive is counted by the status
# line instead, and the camera lines show one exposure for every image and
# every such readout.
. "$(dirname "$0")/../lib.sh"
out=$(mktemp)
trap 'rm -f "$out"' EXIT

# The readouts without an image the guest's run counted, from its output.
without_image() { sed -n 's/^readouts without an image: //p' "$out" | tail -1; }

mark=$(vm_trace_mark)
vm_guest <<'GUEST' | tee "$out"
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_load_vivid || exit 1
device=$noctil_vivid
noctil_readable_screen || exit 1
noctil_run_setup 2 1000 "$device"
noctil_capture_ini "$device" <<INI
input=S-Video 0
standard=NTSC-M
format=YUYV 640x480
INI
noctil_start || exit 1
noctil_menu c r
noctil_wait_title " - 2/2\$" 120 || { echo "FAIL: the run did not reach 2 images"; exit 1; }
echo "readouts without an image: $(noctil_readouts_without_image)"
noctil_close_boxes
noctil_exit_and_expect_run "NTSC" 2
[ $failures -eq 0 ] || exit 1
size=$(noctil_image_size)
[ "$size" = "640,480" ] || { echo "FAIL: images of $size, expected 640,480"; exit 1; }
noctil_expect_both_fields 2 || exit 1
field=$(v4l2-ctl -d /dev/video0 --get-fmt-video | sed -n 's/^\s*Field\s*: //p')
echo "device field layout: $field"
tr -d '\r' < "$NOCTIL_ROOT/windows/Noctil.ini" | grep -q "^Name=$device\$" || { echo "FAIL: the device's name was not kept"; exit 1; }
echo "nominal: $(v4l2-ctl -d /dev/video0 --get-parm | grep 'Frames per second')"
"$NOCTIL_BUILD_DIR/tests/vm/vm_v4l2_figures" "$device" 30
GUEST
# The camera lines: each exposure as long as set, ended by the first readout
# frame (its excess is the time from the exposure timer to that frame).
vm_check_trace "$mark" --exposure 1000 --images 2 --without-image "$(without_image)"

count=20
mark=$(vm_trace_mark)
vm_guest <<GUEST | tee "$out"
. "\$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
device=\$noctil_vivid
noctil_fresh_vivid || exit 1
v4l2-ctl -d /dev/video0 -i 2 -s pal >/dev/null || exit 1
v4l2-ctl -d /dev/video0 --set-fmt-video=width=720,height=576,pixelformat=YUYV || exit 1
noctil_readable_screen || exit 1
noctil_run_setup $count 1000 "\$device"
noctil_start || exit 1
noctil_menu c r
noctil_wait_title " - $count/$count\\\$" 180 || { echo "FAIL: the run did not reach $count images"; exit 1; }
without=\$(noctil_readouts_without_image)
echo "readouts without an image: \$without"
noctil_close_boxes
noctil_exit_and_expect_run "PAL" $count
[ \$failures -eq 0 ] || exit 1
size=\$(noctil_image_size)
[ "\$size" = "720,576" ] || { echo "FAIL: images of \$size, expected 720,576"; exit 1; }
noctil_expect_both_fields $count || exit 1
# Every image's readout took both passes: five frames.
frames=\$(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if (\$i == "readout_frames") c = i; next } { print \$c }' \
  "\$NOCTIL_ROOT/drives/c/Images.LOG" | sort | uniq -c | tr -s ' \n' ' ')
echo "readout frames of the images (count, frames):\$frames"
[ "\$(echo \$frames)" = "$count 5" ] || { echo "FAIL: not every image was read out in five frames"; exit 1; }
noctil_fresh_vivid
GUEST
vm_check_trace "$mark" --exposure 1000 --images "$count" --without-image "$(without_image)"
