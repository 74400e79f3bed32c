#!/usr/bin/env bash
# The real program on a virtual X display, driven by keys as a person drives
# it: a night recorded with numbering off, the program ended and started
# again, Record chosen once more. It asks before replacing the file, naming
# it and its image count; No leaves the file byte for byte and starts no run.
#
#   keeps_earlier_file.sh BUILD_DIR
set -u
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
scratch=$(mktemp -d)
export HOME=$scratch NOCTIL_ROOT=$scratch/noctil NOCTIL_BUILD_DIR=$build_dir XDG_RUNTIME_DIR=$scratch
cleanup() {
  [ -n "${noctil_pid:-}" ] && kill -9 "$noctil_pid" 2>/dev/null
  [ -n "${noctil_xvfb_pid:-}" ] && kill "$noctil_xvfb_pid" 2>/dev/null
  rm -rf "$scratch"
}
trap cleanup EXIT
die() { echo "FAIL: $*"; [ -f "$NOCTIL_ROOT/program.log" ] && cat "$NOCTIL_ROOT/program.log"; exit 1; }

. "$here/../vm/guest/program.sh"
noctil_private_display "$scratch" || die "Xvfb did not start"
avi=$NOCTIL_ROOT/drives/c/night.avi

# The first night: two images, then File > Exit.
noctil_setup
printf '[Filenames]\nImageFile=C:\\night.avi\n[Flags]\nAutoIncrement=0\n[Capture]\nExposure=100\nDelay=100\nCount=2\n' |
  noctil_settings
noctil_start || die "the program did not start"
noctil_menu c r
noctil_wait_title 'night\.avi - 2/2$' 60 || die "the first night did not write its two images"
noctil_menu f x
noctil_wait_exit 60 || die "File > Exit did not end the program"
noctil_expect_images 2 "$avi" || die "the first night's file"
cp "$avi" "$scratch/night.before"

# The next start: Record asks first; No keeps the file.
noctil_start || die "the program did not start again"
noctil_menu c r
box=$(timeout 60 xdotool search --sync --onlyvisible --name '^Record$' | head -1)
[ -n "$box" ] || die "Record replaced the file without asking"
xdotool windowfocus --sync "$box" 2>/dev/null || xdotool windowfocus "$box"
xdotool key --clearmodifiers alt+n
for _ in $(seq 600); do xdotool search --onlyvisible --name '^Record$' >/dev/null 2>&1 || break; sleep 0.1; done
xdotool search --onlyvisible --name '^Record$' >/dev/null 2>&1 && die "the question did not close on No"
cmp -s "$avi" "$scratch/night.before" || die "No changed the file"
noctil_menu f x
noctil_wait_exit 60 || die "File > Exit did not end the program"
cmp -s "$avi" "$scratch/night.before" || die "the file changed after No"
ls "$NOCTIL_ROOT/drives/c" | grep -q '\.previous$' && die "a file was left beside the output file"
echo "PASS: the question came, No kept $avi byte for byte"
