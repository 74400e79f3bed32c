#!/usr/bin/env bash
# Two real programs on one platform root, on a virtual X display, driven by
# keys as people drive them: the first records a night; a second one is
# started meanwhile, says that the first runs (naming its process id), and
# its Record is refused with a box; it is ended. The first's file, its
# image log and its port's timeline (the log's exposure times) come out
# whole: one image after another, each exposure as long as the settings
# say, nothing set aside or deleted.
#
#   two_programs.sh BUILD_DIR
set -u
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
export HOME=$scratch NOCTIL_ROOT=$scratch/noctil NOCTIL_BUILD_DIR=$build_dir XDG_RUNTIME_DIR=$scratch
first_pid= second_pid=
cleanup() {
  [ -n "$first_pid" ] && kill -9 "$first_pid" 2>/dev/null
  [ -n "$second_pid" ] && kill -9 "$second_pid" 2>/dev/null
  [ -n "${noctil_xvfb_pid:-}" ] && kill "$noctil_xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
die() {
  echo "FAIL: $*"
  for f in first second; do [ -f "$scratch/$f.log" ] && { echo "--- $f:"; cat "$scratch/$f.log"; }; done
  exit 1
}

. "$here/../vm/guest/program.sh"
noctil_private_display "$scratch" || die "Xvfb did not start"
avi=$NOCTIL_ROOT/drives/c/night.avi
log=$NOCTIL_ROOT/drives/c/night.log

# Starts a program with its output in $scratch/NAME.log; sets noctil_pid and
# noctil_window to it (the window of that process, not the other's).
start_program() {
  QT_QPA_PLATFORM=xcb "$NOCTIL_BUILD_DIR/noctil" >"$scratch/$1.log" 2>&1 &
  noctil_pid=$!
  noctil_window=$(noctil_find_window '^Noctil$' 120 --all --onlyvisible --pid "$noctil_pid")
  [ -n "$noctil_window" ]
}
# The first window of process PID whose title matches PATTERN, within SECONDS.
window_of() { noctil_find_window "$2" "${3:-60}" --all --onlyvisible --pid "$1"; }
# Answers box BOX with Enter and waits until it is gone.
answer_box() {
  for _ in 1 2 3 4 5 6 7 8 9 10; do
    xdotool windowfocus "$1" 2>/dev/null; xdotool key Return
    sleep 0.3
    xdotool getwindowname "$1" >/dev/null 2>&1 || return 0
  done
  return 1
}
images_of_first() {
  xdotool search --all --pid "$first_pid" --name ' - [0-9]+/1000$' getwindowname 2>/dev/null |
    sed -n 's|.* - \([0-9]*\)/1000$|\1|p' | head -1
}

noctil_setup
printf '[Filenames]\nImageFile=C:\\night.avi\n[Flags]\nAutoIncrement=0\n[Capture]\nExposure=100\nDelay=100\nCount=1000\n' |
  noctil_settings

# The first program records.
start_program first || die "the first program did not start"
first_pid=$noctil_pid first_window=$noctil_window
noctil_menu c r
window_of "$first_pid" 'night\.avi - ([2-9]|[1-9][0-9]+)/1000$' 60 >/dev/null || die "the first program did not record"

# The second one starts, and says that the first runs.
start_program second || die "the second program did not start"
second_pid=$noctil_pid
box=$(window_of "$second_pid" '^Another Noctil$' 60) || die "the second program did not say that another runs"
grep -qF "Noctil is running already on these drives and settings: noctil (process $first_pid)." "$scratch/second.log" ||
  die "the second program did not name the first by its process id"
answer_box "$box" || die "the box about the first program did not close"

# Its Record is refused; nothing starts.
before=$(images_of_first)
noctil_menu c r
box=$(window_of "$second_pid" '^Error$' 60) || die "the second program's Record was not refused"
window_of "$second_pid" '^Record$' 2 >/dev/null && die "the second program asked about replacing the first's file"
answer_box "$box" || die "the refusal did not close"
ls "$NOCTIL_ROOT/drives/c" | grep -q '\.previous$' && die "the first program's file was set aside"
window_of "$second_pid" ' - [0-9]+/1000$' 1 >/dev/null && die "the second program started a run"

# The second one ends; the first goes on counting.
noctil_menu f x
noctil_wait_exit 60 || die "File > Exit did not end the second program"
second_pid=
for _ in $(seq 600); do
  now=$(images_of_first)
  [ -n "$now" ] && [ -n "$before" ] && [ "$now" -ge $((before + 3)) ] && break
  sleep 0.1
done
[ "${now:-0}" -ge $((${before:-0} + 3)) ] || die "the first program stopped counting (at ${now:-?}, was ${before:-?})"

# The first one ends; its night is whole.
noctil_pid=$first_pid noctil_window=$first_window
noctil_menu f x
noctil_wait_exit 60 || die "File > Exit did not end the first program"
first_pid=
n=$(noctil_images_in_file "$avi")
[ "$n" -ge "$now" ] || die "the first program's file holds $n images, its title said $now"
noctil_expect_index "$n" "$avi" >/dev/null || die "the first program's index is not whole"
ls "$NOCTIL_ROOT/drives/c" | grep -q '\.previous$' && die "a file was left beside the output file"
python3 - "$log" "$n" <<'PY' || die "the first program's image log"
import sys
from datetime import datetime
path, images = sys.argv[1], int(sys.argv[2])
lines = open(path).read().split('\n')
assert lines[-1] == '', 'the last line is not ended'
rows = [l.split('\t') for l in lines[1:-1]]
if len(rows) != images: sys.exit(f'FAIL: {len(rows)} lines for {images} images')
t = lambda s: datetime.fromisoformat(s)
last_end = None
for k, r in enumerate(rows, 1):
    if int(r[0]) != k: sys.exit(f'FAIL: line {k} is of image {r[0]}')
    start, end, exposure = t(r[1]), t(r[2]), float(r[3])
    if not 0.09 <= exposure <= 0.5: sys.exit(f'FAIL: image {k} was exposed {exposure} s, not 0.1 s')
    if last_end and start <= last_end: sys.exit(f'FAIL: image {k} started before image {k - 1} ended')
    last_end = end
print(f'{path}: {images} lines, exposures one after another')
PY
echo "PASS: the second program was told and refused; the first's $n images, their log and port timeline are whole"
