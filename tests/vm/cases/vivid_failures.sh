#!/usr/bin/env bash
# The kernel's vivid device failing as the devices users own fail, under the
# real program on ppdev:
# 1. a fatal streaming error after the first image: told as an input/output
#    error, and the run goes on;
# 2. the device unplugged after the second image (vivid's disconnect) and its
#    driver loaded again: the program lets the old device go at once, finds
#    the new one by its saved name and the run reaches its count;
# 3. every buffer dropped: the user is told within the first cycle.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_load_vivid || exit 1
device='vivid (platform:vivid-000)'
started=$(date +%s)
noctil_setup
noctil_port_backend ppdev
cat >"$NOCTIL_ROOT/windows/capture.ini" <<INI
[$device]
input=S-Video 0
standard=NTSC-M
format=YUYV 640x480
INI
noctil_settings <<INI
[Capture]
Exposure=1000
Delay=1000
Count=4
[Driver]
Name=$device
INI

# Closes every "Error" box as it comes, noting when, until the file is removed.
answer_boxes() {
  : >"$NOCTIL_ROOT/boxes"
  while [ -e "$NOCTIL_ROOT/answering" ]; do
    for w in $(xdotool search --onlyvisible --name '^Error$' 2>/dev/null); do
      echo "$(date +%s.%N)" >>"$NOCTIL_ROOT/boxes"
      xdotool windowactivate --sync "$w" key Return 2>/dev/null || xdotool key --window "$w" Return
    done
    sleep 0.3
  done
}
# What the windows say when a step does not come.
report_windows() {
  echo "windows:"; for w in $(xdotool search --name . 2>/dev/null); do echo "  $(xdotool getwindowname "$w" 2>/dev/null)"; done
  echo "boxes answered at: $(tr '\n' ' ' <"$NOCTIL_ROOT/boxes")"
  cat "$NOCTIL_ROOT/drives/c/Images.LOG" 2>/dev/null
  echo "program: $(tr '\0' ' ' </proc/$noctil_pid/cmdline 2>/dev/null) state $(awk '{print $3}' /proc/$noctil_pid/stat 2>/dev/null) in $(cat /proc/$noctil_pid/wchan 2>/dev/null)"
  cat /proc/$noctil_pid/stack 2>/dev/null | head -20
  cat "$NOCTIL_ROOT/program.log"
}
touch "$NOCTIL_ROOT/answering"
noctil_start || exit 1
answer_boxes &
noctil_menu c r
noctil_wait_title ' - 1/4$' 120 || { report_windows; exit 1; }
v4l2-ctl -d /dev/video0 -c inject_fatal_streaming_error=1 || { echo "FAIL: no fatal error control"; exit 1; }
noctil_wait_title ' - 2/4$' 120 || { report_windows; exit 1; }
grep -q 'Input/output error' "$NOCTIL_ROOT/program.log" || { echo "FAIL: the error was not told as an input/output error"; cat "$NOCTIL_ROOT/program.log"; exit 1; }
v4l2-ctl -d /dev/video0 -c disconnect=1 || { echo "FAIL: no disconnect control"; exit 1; }
# The module goes only once every handle of the old device is closed: the
# program lets it go at the readout that finds it gone.
i=0
until modprobe -r -d "$NOCTIL_KERNEL_DIR" vivid 2>/dev/null; do
  i=$((i + 1)); [ $i -gt 120 ] && { echo "FAIL: the old device was never let go"; lsof /dev/video0 2>/dev/null; exit 1; }
  sleep 0.5
done
echo "the old device was let go after $((i / 2)) s"
modprobe -d "$NOCTIL_KERNEL_DIR" vivid || exit 1
noctil_wait_title ' - 4/4$' 180 || { report_windows; exit 1; }
grep -q 'is back' "$NOCTIL_ROOT/program.log" || { echo "FAIL: the device was not used again"; exit 1; }
noctil_menu f x
noctil_wait_exit 60 || exit 1
noctil_expect_images 4 || exit 1
echo "failures and return: $(($(date +%s) - started)) s, $(wc -l <"$NOCTIL_ROOT/boxes") box(es)"

# 3. No buffer ever completes: a box within the first cycle (1 s exposure,
#    the readout's 2 s limit, and the emulator's slowness).
started=$(date +%s)
noctil_settings <<INI
[Filenames]
ImageFile=C:\\dark.avi
[Capture]
Exposure=1000
Delay=1000
[Driver]
Name=$device
INI
v4l2-ctl -d /dev/video0 -c percentage_of_dropped_buffers=100 || { echo "FAIL: no drop control"; exit 1; }
rm -f "$NOCTIL_ROOT/answering"
wait
noctil_start || exit 1
noctil_menu c r
recorded=$(date +%s)
if ! timeout 30 xdotool search --sync --onlyvisible --name '^Error$' >/dev/null; then
  echo "FAIL: no box within 30 s of Record"; cat "$NOCTIL_ROOT/program.log"; exit 1
fi
echo "no frame told $(($(date +%s) - recorded)) s after Record"
touch "$NOCTIL_ROOT/answering"
answer_boxes &
sleep 1
rm -f "$NOCTIL_ROOT/answering"
wait
noctil_menu f x
noctil_wait_exit 60 || exit 1
# A fresh device for the cases after this one.
modprobe -r -d "$NOCTIL_KERNEL_DIR" vivid && modprobe -d "$NOCTIL_KERNEL_DIR" vivid
echo "no frame: $(($(date +%s) - started)) s"
GUEST
