#!/usr/bin/env bash
# The kernel's vivid device set up as the grabbers people own, each started
# with what the user left on it and no choice of Noctil's saved: a PAL camera
# on a grabber set to NTSC, a card left at BGR24 720x576, a planar format
# kept in capture.ini, and an input of alternating fields. Each records at
# the size it calls for, in field mode on 576 and 480 lines.
. "$(dirname "$0")/../lib.sh"

# One run of the program: $1 the vivid set-up (v4l2-ctl lines), $2 the
# capture.ini lines (may be empty), $3 images, $4 the size ffprobe must read,
# $5 what the device's standard must name afterwards (may be empty). Its
# output goes to $out too, for without_image.
out=$(mktemp)
trap 'rm -f "$out"' EXIT
# The readouts without an image the last run counted (in field mode, one
# whose field did not arrive): each took an exposure too.
without_image() { sed -n 's/^readouts without an image: //p' "$out" | tail -1; }
grabber_run() {
  vm_guest <<GUEST | tee "$out"
. "\$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
device=\$noctil_vivid
noctil_fresh_vivid || exit 1
$1
noctil_run_setup $3 1000 "\$device"
if [ -n "$2" ]; then printf '%s\n' "$2" | noctil_capture_ini "\$device"; fi
noctil_readable_screen || exit 1
noctil_start || exit 1
noctil_record_and_exit $3 || exit 1
size=\$(noctil_image_size)
echo "images of \$size; the device: \$(v4l2-ctl -d /dev/video0 --get-fmt-video | sed -n 's/^\s*\(Width\/Height\|Pixel Format\|Field\)\s*: //p' | tr '\n' ' ')"
[ "\$size" = "$4" ] || { echo "FAIL: images of \$size, expected $4"; exit 1; }
if [ -n "${5:-}" ]; then
  standard=\$(v4l2-ctl -d /dev/video0 --get-standard | tr -s '\n\t' '  ')
  echo "\$standard"
  case "\$standard" in *"${5:-}"*) ;; *) echo "FAIL: the device is not on ${5:-}"; exit 1 ;; esac
fi
GUEST
}

started=$(date +%s)
failures=0
field="0B,09,08,00"
whole="0B,08,00"

echo "== PAL signal on a grabber set to NTSC, nothing saved"
mark=$(vm_trace_mark)
grabber_run "v4l2-ctl -d /dev/video0 -i 2 -s ntsc >/dev/null
v4l2-ctl -d /dev/video0 -c standard_signal_mode=4 -c standard=4
v4l2-ctl -d /dev/video0 --get-detected-standard | head -1" "" 2 "720,576" PAL || failures=$((failures + 1))
vm_check_trace "$mark" --exposure 1000 --images 2 --without-image "$(without_image)" --levels "$field" || failures=$((failures + 1))

echo "== a card left at BGR24 720x576 on PAL, nothing saved"
mark=$(vm_trace_mark)
grabber_run "v4l2-ctl -d /dev/video0 -i 2 -s pal >/dev/null
v4l2-ctl -d /dev/video0 --set-fmt-video=width=720,height=576,pixelformat=BGR3" "" 1 "720,576" || failures=$((failures + 1))
vm_check_trace "$mark" --exposure 1000 --images 1 --without-image "$(without_image)" --levels "$field" || failures=$((failures + 1))

echo "== a planar format kept in capture.ini"
mark=$(vm_trace_mark)
grabber_run "" "input=Webcam 0
format=YU12 640x360" 1 "640,360" || failures=$((failures + 1))
vm_check_trace "$mark" --exposure 1000 --images 1 --levels "$whole" || failures=$((failures + 1))

echo "== alternating fields: HDMI on interlaced timings"
# vivid's interlaced timings are 1080i and 1024x768i: the first whose frames
# fit (1024x768 in YUYV, 1,572,864 bytes) is the one a camera decoder would
# send here; 768 lines are read as whole frames.
mark=$(vm_trace_mark)
grabber_run "v4l2-ctl -d /dev/video0 -i 3 >/dev/null
index=\$(v4l2-ctl -d /dev/video0 --list-dv-timings | awk '/Index:/ {i=\$2} /Active width:/ {w=\$3} /Active height:/ {h=\$3} /Frame format: interlaced/ { if (w * h * 2 <= 1769472) { print i; exit } }')
[ -n \"\$index\" ] || { echo 'FAIL: vivid lists no interlaced timings that fit'; exit 1; }
v4l2-ctl -d /dev/video0 --set-dv-bt-timings index=\$index >/dev/null" "" 1 "1024,768" || failures=$((failures + 1))
vm_check_trace "$mark" --exposure 1000 --images 1 --levels "$whole" || failures=$((failures + 1))

vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_fresh_vivid
GUEST
echo "the four set-ups took $(( $(date +%s) - started )) s"
[ "$failures" -eq 0 ]
