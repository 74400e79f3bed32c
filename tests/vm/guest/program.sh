# Running the real program inside the guest, as a person would: on a virtual
# X display, with its settings in Noctil.ini, its port in system.ini, and the
# menus driven by keys. Sourced by the guest half of a case.
#
#   noctil_private_display DIR    a display of its own (tests on the build machine)
#   noctil_setup                  fresh platform root in $NOCTIL_ROOT
#   noctil_system_ini <<EOF       the platform's system.ini (port backend)
#   noctil_settings <<EOF         Noctil.ini (exposure, count, amplifier...)
#   noctil_start                  start the program; waits for its main window
#   noctil_menu c r               Alt+C, then R: Capture > Record
#   noctil_wait_exit SECONDS      wait for the program to end; its status
#   noctil_signal SIG             send the program a signal
#   noctil_expect_index N         the output file's idx1 points at N frames
#   noctil_close_box [WINDOW]     answer an "Error" box with Enter
#   noctil_exit_and_expect_run L N   File > Exit, then exit 0, port at rest,
#                                 N images read and indexed
export NOCTIL_ROOT=${NOCTIL_ROOT:-/tmp/noctil-root}
export DISPLAY=${DISPLAY:-:7}
noctil_pid=

noctil_setup() {
  rm -rf "$NOCTIL_ROOT"
  mkdir -p "$NOCTIL_ROOT/windows" "$NOCTIL_ROOT/drives/c"
}
noctil_system_ini() { cat >"$NOCTIL_ROOT/windows/system.ini"; }
noctil_settings() { cat >"$NOCTIL_ROOT/windows/Noctil.ini"; }

# One X server for the whole boot; a case that ends it finds a new one.
noctil_display() {
  local n=${DISPLAY#:}
  [ -S /tmp/.X11-unix/X$n ] && xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
  Xvfb "$DISPLAY" -screen 0 1280x1024x24 -nolisten tcp >/tmp/xvfb.log 2>&1 &
  local i=0
  until xdotool getdisplaygeometry >/dev/null 2>&1; do
    i=$((i + 1)); [ $i -gt 300 ] && { echo "program.sh: Xvfb did not start"; cat /tmp/xvfb.log; return 1; }
    sleep 0.1
  done
}

# A display of its own for a test on the build machine, whatever else runs
# there: Xvfb picks a free number and says which. Sets DISPLAY and
# noctil_xvfb_pid; the folder SCRATCH keeps its files.
noctil_xvfb_pid=
noctil_private_display() {
  local scratch=$1
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp >"$scratch/xvfb.log" 2>&1 3>"$scratch/display" &
  noctil_xvfb_pid=$!
  for _ in $(seq 600); do
    [ -s "$scratch/display" ] && break
    kill -0 "$noctil_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [ -s "$scratch/display" ] || { echo "program.sh: Xvfb did not start"; cat "$scratch/xvfb.log"; return 1; }
  export DISPLAY=:$(head -1 "$scratch/display")
}

# Runs a command in a process group of its own under this shell, in the same
# session, as a terminal's shell runs a job: the kernel discards stop
# signals (Ctrl+Z) sent to a group that no parent in its session watches,
# which a plain background command of a case is. For `&` only (it execs).
noctil_own_group() { exec perl -e 'setpgrp(0, 0) or die "setpgrp: $!"; exec @ARGV or die "exec: $!"' -- "$@"; }

# noctil_launch=noctil_own_group before noctil_start runs the program so.
noctil_launch=
noctil_start() {
  noctil_display || return 1
  QT_QPA_PLATFORM=xcb $noctil_launch "$NOCTIL_BUILD_DIR/noctil" >"$NOCTIL_ROOT/program.log" 2>&1 &
  noctil_pid=$!
  noctil_window=$(noctil_find_window '^Noctil$' 120 --onlyvisible)
  if [ -z "$noctil_window" ]; then
    echo "program.sh: the main window did not appear"; cat "$NOCTIL_ROOT/program.log"; return 1
  fi
}

# What the program shows, read as a screen reader reads it: Qt's bridge to
# the accessibility bus is switched on for the programs this case starts
# from now on, on a session bus and its accessibility bus. Then
# noctil_screen_text [TITLE] prints the texts of the program's windows whose
# title matches, one per line: "WINDOW<TAB>ROLE<TAB>TEXT"
# (tests/vm/screen_text.cpp).
noctil_screen_bus=
noctil_readable_screen() {
  [ -n "$noctil_screen_bus" ] && return 0
  # One session bus for the whole boot, as one X server: a case that ended
  # it finds a new one.
  local file=/tmp/noctil-session-bus i=0
  if [ ! -s "$file" ] || ! kill -0 "$(sed -n 2p "$file")" 2>/dev/null; then
    dbus-daemon --session --nofork --nopidfile --print-address=1 >"$file.new" 2>/tmp/noctil-session-bus.log &
    echo $! >"$file.pid"
    until [ -s "$file.new" ]; do
      i=$((i + 1)); [ $i -gt 100 ] && { echo "program.sh: no session bus"; cat /tmp/noctil-session-bus.log; return 1; }
      sleep 0.1
    done
    cat "$file.pid" >>"$file.new"; mv "$file.new" "$file"
    DBUS_SESSION_BUS_ADDRESS=$(head -1 "$file") /usr/libexec/at-spi-bus-launcher --launch-immediately \
      >/tmp/noctil-a11y.log 2>&1 &
  fi
  export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$file")
  i=0
  until noctil_screen_bus=$(gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
        --method org.a11y.Bus.GetAddress 2>/dev/null | sed -n "s/^('\(.*\)',)\$/\1/p") && [ -n "$noctil_screen_bus" ]; do
    i=$((i + 1)); [ $i -gt 100 ] && { echo "program.sh: no accessibility bus"; cat /tmp/noctil-a11y.log; return 1; }
    sleep 0.1
  done
  export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}
noctil_screen_text() { "$NOCTIL_BUILD_DIR/tests/vm/vm_screen_text" "$noctil_screen_bus" "$@"; }

# Counts a failure under LABEL unless a window whose title matches TITLE
# shows TEXT within SECONDS (10 unless given); prints the line that does.
noctil_expect_on_screen() {
  local label=$1 title=$2 text=$3 limit=${4:-10} start seen
  start=$(date +%s)
  while :; do
    seen=$(noctil_screen_text "$title")
    printf '%s\n' "$seen" | grep -F -- "$text" && return 0
    [ $(($(date +%s) - start)) -ge "$limit" ] && break
    sleep 0.5
  done
  fail "$label: '$text' is not on the screen"
  printf '%s\n' "$seen" | sed 's/^/  shown: /'
  return 1
}

# Menu keys to the main window: the first with Alt (the menu's mnemonic),
# the rest plain (the item's mnemonic).
noctil_menu() {
  xdotool windowfocus --sync "$noctil_window" 2>/dev/null || xdotool windowfocus "$noctil_window"
  xdotool key --clearmodifiers "alt+$1"
  shift
  for k in "$@"; do xdotool key "$k"; done
}

noctil_signal() { kill -s "$1" "$noctil_pid"; }

noctil_wait_exit() {
  local i=0 limit=$((${1:-60} * 10))
  while kill -0 "$noctil_pid" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt $limit ]; then echo "program.sh: the program did not end"; kill -9 "$noctil_pid"; return 124; fi
    sleep 0.1
  done
  wait "$noctil_pid"
}

# Waits up to SECONDS for a window whose title matches PATTERN and prints
# its id; xdotool search options may follow (--onlyvisible). xdotool ends
# with an X error when a window goes while it looks at it: it is asked again.
noctil_find_window() {
  local pattern=$1 deadline=$(($(date +%s) + $2)) left found
  shift 2
  while :; do
    left=$((deadline - $(date +%s)))
    [ $left -gt 0 ] || return 1
    found=$(timeout "$left" xdotool search --sync "$@" --name "$pattern" 2>/dev/null | head -1)
    [ -n "$found" ] && { echo "$found"; return 0; }
    sleep 0.2
  done
}

# Waits until a window of the program has a title matching the pattern.
noctil_wait_title() {
  if ! noctil_find_window "$1" "${2:-60}" >/dev/null; then
    echo "program.sh: no window title matched '$1'"; cat "$NOCTIL_ROOT/program.log"; return 1
  fi
}

# The output file holds this many images, read through its index.
noctil_expect_images() {
  local file=${2:-$NOCTIL_ROOT/drives/c/Images.AVI} n
  n=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 "$file")
  if [ "$n" != "$1" ]; then echo "FAIL: $file holds '$n' images, expected $1"; return 1; fi
  echo "$file: $n images"
}

# The emulated port as a second program sees it (tests/vm/port_probe.cpp).
noctil_probe() { "$NOCTIL_BUILD_DIR/tests/vm/vm_port_probe" "$@"; }
# Fails unless the data register holds `value` now.
noctil_port_is() {
  local now; now=$(noctil_probe read)
  if [ "$now" != "$1" ]; then echo "FAIL: the port holds $now, expected $1"; return 1; fi
}

# Writes the usual platform configuration for a backend: ppdev, direct, or
# serial with its extra lines given as arguments.
noctil_port_backend() {
  local backend=$1; shift
  case $backend in
    ppdev) printf '[parallel]\nbackend=ppdev\ndevice=/dev/parport0\n' ;;
    direct) printf '[parallel]\nbackend=direct\naddress=0x378\n' ;;
    serial) printf '[parallel]\nbackend=serial\ndevice=/dev/ttyS0\n' ;;
    *) printf '[parallel]\nbackend=%s\n' "$backend" ;;
  esac | noctil_system_ini
  for line in "$@"; do echo "$line" >>"$NOCTIL_ROOT/windows/system.ini"; done
}

# Failures of a case with several checks: each is said, the case fails at the end.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# The program's boxes titled "Error" that are on the screen now.
noctil_error_boxes() { xdotool search --onlyvisible --name '^Error$' 2>/dev/null | wc -l; }

# Answers the box BOX (a window id; none given: the first "Error" box) with
# Enter, once it has the keyboard. Quiet when there is none.
noctil_close_box() {
  local box=${1:-$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -1)} try
  [ -n "$box" ] || return 0
  for try in 1 2 3 4 5; do
    xdotool windowfocus "$box" 2>/dev/null; xdotool key Return
    xdotool search --onlyvisible --name '^Error$' >/dev/null || break
    sleep 0.5
  done
}

# Answers every "Error" box on the screen, one after the other; prints how
# many there were when there were any.
noctil_close_boxes() {
  local n=0 box
  while box=$(xdotool search --onlyvisible --name '^Error$' 2>/dev/null | head -1) && [ -n "$box" ]; do
    noctil_close_box "$box"
    n=$((n + 1))
    [ $n -ge 10 ] && break
  done
  [ $n -eq 0 ] || echo "closed $n error boxes"
}

# The readouts of the run that gave no image, as the status line counts
# them (0 when it names none). Needs noctil_readable_screen before the start.
noctil_readouts_without_image() {
  local n
  n=$(noctil_screen_text '^Noctil$' | sed -n 's/.*, \([0-9][0-9]*\) readouts\{0,1\} without an image.*/\1/p' | head -1)
  echo "${n:-0}"
}

# Every image of the output file (or FILE) has picture in both fields: no
# image whose even or odd rows are all of one flat colour (what a field that
# never came from the readout stream would leave). Prints the images read and
# the flat fields found; fails when there are any, or fewer images than COUNT.
noctil_expect_both_fields() {
  local count=$1 file=${2:-$NOCTIL_ROOT/drives/c/Images.AVI} size
  size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$file")
  ffmpeg -v error -i "$file" -f rawvideo -pix_fmt gray - | python3 -c '
import sys
width, height = map(int, sys.argv[1].split(","))
want = int(sys.argv[2])
data = sys.stdin.buffer.read()
frame = width * height
images = len(data) // frame
flat = []
for f in range(images):
    for parity, name in ((0, "even"), (1, "odd")):
        rows = [data[f * frame + y * width:f * frame + (y + 1) * width] for y in range(parity, height, 2)]
        if max(max(r) for r in rows) - min(min(r) for r in rows) < 16:
            flat.append(f"image {f + 1}: the {name} rows are one flat colour")
print(f"{images} images of {width}x{height} read back, {len(flat)} flat fields")
for line in flat: print("FAIL: " + line)
if images != want: print(f"FAIL: {images} images read back, not {want}")
sys.exit(1 if flat or images != want else 0)
' "$size" "$count"
}

# The images written so far in a run of COUNT, read from the snapshot
# window's title (" - 3/5").
noctil_images_now() {
  xdotool search --name " - [0-9]+/$1\$" getwindowname 2>/dev/null | sed -n "s|.* - \([0-9]*\)/$1\$|\1|p" | head -1
}

# The images of the output file (or FILE) that ffprobe reads, 0 for a file
# it cannot read.
noctil_images_in_file() {
  local n
  n=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
      "${1:-$NOCTIL_ROOT/drives/c/Images.AVI}" 2>/dev/null)
  case $n in [0-9]*) echo "$n" ;; *) echo 0 ;; esac
}

# Ends the program with File > Exit after a run of COUNT images, and checks
# what the user is left with: exit status 0, the port at rest (the data
# register at 0x00, or the bits MASK of register ADDRESS at REST), every
# image readable and indexed. Counts failures under LABEL through `fail`.
noctil_exit_and_expect_run() {
  local label=$1 count=$2 address=${3:-0x378} rest=${4:-0x00} mask=${5:-0xFF} now n
  noctil_menu f x
  noctil_wait_exit 60; status=$?
  [ "$status" = 0 ] || fail "$label: exit status $status, not 0"
  now=$(noctil_probe --address "$address" read)
  [ $((now & mask)) = $((rest)) ] || fail "$label: the port was left at $now, not at rest ($rest)"
  n=$(noctil_images_in_file)
  [ "$n" = "$count" ] || fail "$label: ffprobe reads $n images, not $count"
  noctil_expect_index "$count" >/dev/null || fail "$label: the index is not whole"
  echo "$label: exit status $status, port $now, $n images in the file"
}

# Starts the program (as `$runas`, when set), expects the box titled "Error"
# with `text` and `detail` on stderr, closes the box and ends the program
# with SIGTERM. Counts a failure through `fail`.
noctil_expect_error_box() {
  local what=$1 text=$2 detail=$3
  noctil_display || return 1
  $runas env -u XDG_RUNTIME_DIR HOME=/tmp QT_QPA_PLATFORM=xcb "$NOCTIL_BUILD_DIR/noctil" >"$NOCTIL_ROOT/program.log" 2>&1 &
  noctil_pid=$!
  box=$(noctil_find_window '^Error$' 60 --onlyvisible)
  if [ -z "$box" ]; then fail "$what: no message box"; cat "$NOCTIL_ROOT/program.log"
  else
    # Enter answers the box once it has the keyboard.
    for try in 1 2 3 4 5; do
      xdotool windowfocus "$box" 2>/dev/null; xdotool key Return
      xdotool search --onlyvisible --name '^Error$' >/dev/null || break
      sleep 0.5
    done
  fi
  grep -qF "$detail" "$NOCTIL_ROOT/program.log" || { fail "$what: '$detail' not on stderr"; cat "$NOCTIL_ROOT/program.log"; }
  # What the box says (device and reason) goes to stderr with the details.
  grep -qF "$text" "$NOCTIL_ROOT/program.log" || { fail "$what: '$text' not said"; cat "$NOCTIL_ROOT/program.log"; }
  noctil_find_window '^Noctil$' 60 >/dev/null || fail "$what: the program did not go on"
  kill -TERM $noctil_pid; noctil_wait_exit 60 >/dev/null
  echo "$what: box shown; $(grep -m1 'camera port' "$NOCTIL_ROOT/program.log")"
}

# One run: record with an exposure of EXPOSURE ms (default 2000); once the
# first image is written, wait for the phase's level of the second and send
# the signal.
noctil_signalled_run() {
  local sig=$1 phase=$2 exposure=${3:-2000} levels
  case $phase in exposure) levels=0x0B ;; readout) levels=0x09,0x08 ;; esac
  noctil_run_setup 3 "$exposure"
  noctil_start || return 1
  noctil_menu c r
  noctil_wait_title ' - 1/3$' 120 || { fail "$sig/$phase: no first image"; return 1; }
  noctil_probe wait $levels 60 >/dev/null || { fail "$sig/$phase: the port never held $levels"; return 1; }
  noctil_signal "$sig"
  noctil_wait_exit 60
  status=$?
}

# After a run that ended as File > Exit does (`status` set): the port at rest,
# exit status 0, the output file readable with at least LEAST images (default
# 1), the settings saved. Prints what it found under LABEL.
noctil_expect_orderly_end() {
  local label=$1 least=${2:-1} now n
  now=$(noctil_probe read)
  [ "$now" = 0x00 ] || fail "$label: the port was left at $now"
  [ "$status" = 0 ] || fail "$label: exit status $status, not 0"
  ffprobe -v error "$NOCTIL_ROOT/drives/c/Images.AVI" || fail "$label: the output file is not readable"
  n=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
      "$NOCTIL_ROOT/drives/c/Images.AVI" 2>/dev/null)
  case $n in [0-9]*) ;; *) n=0 ;; esac  # a file without images counts none
  [ "$n" -ge "$least" ] || fail "$label: the output file holds $n images, not at least $least"
  grep -q '^PreviewMode=' "$NOCTIL_ROOT/windows/Noctil.ini" || fail "$label: settings not saved"
  echo "$label: port $now, exit status $status, images $n"
}

# After a run killed by the crash signal SIG (`status` set): the port at
# rest, death by that signal, and the handler's word that it rested the port.
noctil_expect_crash_end() {
  local label=$1 sig=$2 now number
  now=$(noctil_probe read)
  [ "$now" = 0x00 ] || fail "$label: the port was left at $now"
  case $sig in SEGV) number=11 ;; BUS) number=7 ;; ABRT) number=6 ;; FPE) number=8 ;; QUIT) number=3 ;; esac
  [ "$status" = $((128 + number)) ] || fail "$label: exit status $status, not $((128 + number))"
  grep -q 'camera port put to rest' "$NOCTIL_ROOT/program.log" || fail "$label: no word of the rest"
  echo "$label: port $now, exit status $status"
}

# The kernel's vivid device as the program names it: card (bus).
noctil_vivid='vivid (platform:vivid-000)'

# Loads the kernel's vivid driver once per machine.
noctil_load_vivid() {
  lsmod | grep -q '^vivid ' || modprobe -d "$NOCTIL_KERNEL_DIR" vivid
}

# Loads vivid afresh, every earlier set-up gone; module parameters may be
# given (vid_cap_nr=3: the capture node is /dev/video3). The guest's
# modules are not in /lib/modules: modprobe needs -d for unloading too.
noctil_fresh_vivid() {
  modprobe -d "$NOCTIL_KERNEL_DIR" -r vivid 2>/dev/null
  if lsmod | grep -q '^vivid '; then echo "program.sh: vivid could not be unloaded"; return 1; fi
  modprobe -d "$NOCTIL_KERNEL_DIR" vivid "$@"
}

# A fresh platform root for a run of COUNT images of EXPOSURE ms (1000 unless
# given) through ppdev, on the capture device DEVICE when one is named (the
# simulated camera otherwise).
noctil_run_setup() {
  local count=$1 exposure=${2:-1000} device=${3:-}
  noctil_setup
  noctil_port_backend ppdev
  {
    printf '[Capture]\nExposure=%s\nCount=%s\n' "$exposure" "$count"
    if [ -n "$device" ]; then printf '[Driver]\nName=%s\n' "$device"; fi
  } | noctil_settings
}

# What capture.ini keeps for DEVICE (input, standard, format), from stdin.
noctil_capture_ini() { { printf '[%s]\n' "$1"; cat; } >"$NOCTIL_ROOT/windows/capture.ini"; }

# The output file's image size as ffprobe reads it: "640,480".
noctil_image_size() {
  ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0 "$NOCTIL_ROOT/drives/c/Images.AVI"
}

# Records a run of `count` images through Capture > Record, ends the program
# through File > Exit and expects the output file to hold them. With
# noctil_readable_screen before the start it prints "readouts without an
# image: N" as the status line counted them.
noctil_record_and_exit() {
  local count=$1
  noctil_menu c r
  noctil_wait_title " - $count/$count\$" 120 || return 1
  # What the status line counted, where the screen can be read.
  [ -z "$noctil_screen_bus" ] || echo "readouts without an image: $(noctil_readouts_without_image)"
  # A readout without an image (in field mode, a pass whose field did not
  # arrive) told in a box: the menu keys must reach the main window.
  noctil_close_boxes
  noctil_menu f x
  noctil_wait_exit 60 || return 1
  noctil_expect_images "$count"
}

# The output file's idx1 holds `count` video entries, each pointing at a
# frame chunk of its id and size: a reader that goes by the index finds
# every image.
noctil_expect_index() {
  python3 - "${2:-$NOCTIL_ROOT/drives/c/Images.AVI}" "$1" <<'PY'
import struct, sys
path, want = sys.argv[1], int(sys.argv[2])
data = open(path, 'rb').read()
def chunks(start, end):
    at = start
    while at + 8 <= end:
        fourcc, size = data[at:at + 4], struct.unpack_from('<I', data, at + 4)[0]
        yield at, fourcc, size
        at += 8 + size + (size & 1)
movi = index = None
for at, fourcc, size in chunks(12, min(len(data), 8 + struct.unpack_from('<I', data, 4)[0])):
    if fourcc == b'LIST' and data[at + 8:at + 12] == b'movi': movi = at + 8
    if fourcc == b'idx1': index = (at + 8, size)
if movi is None or index is None: sys.exit(f"FAIL: {path} has no movi list or no idx1")
entries, bad = 0, 0
for e in range(index[0], min(index[0] + index[1], len(data)) - 15, 16):
    ckid, flags, offset, size = struct.unpack_from('<4sIII', data, e)
    if ckid[:2] != b'00' or ckid[2:] not in (b'db', b'dc'): continue
    entries += 1
    if not any(data[o:o + 4] == ckid and struct.unpack_from('<I', data, o + 4)[0] == size
               for o in (movi + offset, offset) if o + 8 <= len(data)):
        bad += 1
if entries != want or bad:
    sys.exit(f"FAIL: {path}: idx1 has {entries} video entries ({bad} not at their frame), expected {want}")
print(f"{path}: idx1 holds {entries} images")
PY
}
