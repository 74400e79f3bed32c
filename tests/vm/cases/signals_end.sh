#!/usr/bin/env bash
# SIGTERM, SIGINT and SIGHUP, each during an exposure and during a readout,
# and the X server going away, end the real program (camera on ppdev) as
# File > Exit does: the port at rest, exit status 0, the output file
# readable with the images it holds, the settings saved.
. "$(dirname "$0")/../lib.sh"
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
for run in TERM:exposure TERM:readout INT:exposure INT:readout HUP:exposure HUP:readout; do
  sig=${run%%:*}; phase=${run#*:}
  noctil_signalled_run "$sig" "$phase" || continue
  now=$(noctil_probe read)
  [ "$now" = 0x00 ] || fail "$sig/$phase: the port was left at $now"
  case $sig in
    TERM|INT|HUP)
      [ "$status" = 0 ] || fail "$sig/$phase: exit status $status, not 0"
      n=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames -of csv=p=0 \
          "$NOCTIL_ROOT/drives/c/Images.AVI" 2>&1)
      case $n in [0-9]*) ;; *) fail "$sig/$phase: the output file is not readable: $n" ;; esac
      grep -q '^PreviewMode=' "$NOCTIL_ROOT/windows/Noctil.ini" || fail "$sig/$phase: settings not saved" ;;
    *)
      want=$((128 + $(kill -l "$sig")))
      [ "$status" = "$want" ] || fail "$sig/$phase: exit status $status, not $want"
      grep -q 'camera port put to rest' "$NOCTIL_ROOT/program.log" || fail "$sig/$phase: no word of the rest" ;;
  esac
  echo "$sig during $phase: port $now, exit status $status, images ${n:--}"
  n=
done

# The X server going away during an exposure ends the program as Exit does.
noctil_setup
noctil_port_backend ppdev
printf '[Capture]\nExposure=2000\nCount=3\n' | noctil_settings
noctil_start || exit 1
noctil_menu c r
noctil_probe wait 0x0B 60 >/dev/null || fail "display: the port never held 0x0B"
kill "$(tr -d " " </tmp/.X${DISPLAY#:}-lock)"  # the X server, by the pid in its lock file
noctil_wait_exit 60; status=$?
now=$(noctil_probe read)
[ "$now" = 0x00 ] || fail "display lost: the port was left at $now"
[ "$status" = 0 ] || fail "display lost: exit status $status, not 0"
grep -q '^PreviewMode=' "$NOCTIL_ROOT/windows/Noctil.ini" || fail "display lost: settings not saved"
ffprobe -v error "$NOCTIL_ROOT/drives/c/Images.AVI" || fail "display lost: the output file is not readable"
echo "X server gone during exposure: port $now, exit status $status"

[ $failures -eq 0 ]
GUEST
