#!/usr/bin/env bash
# A camera port that goes away in the middle of a run and comes back is used
# again, from the rest level on. The real program records on the simulated
# camera while its port is taken from under it, as a USB adapter pulled out
# and plugged back in:
#
# - serial: the 16550 is unbound from its driver (the open tty is hung up,
#   as a USB serial adapter's is) and its node removed, then bound again;
# - ppdev: parport_pc's device is unbound (ppdev goes on taking writes at
#   the open handle and carries them nowhere; the node goes), then bound
#   again once the program has let the removed port go.
#
# Each run: an "Error" box that names the port and the system's reason (read
# from the screen, as a screen reader reads it) and stderr that says so, a
# second that the image of the exposure the port did not carry is not
# written, no image written while the port is away, the port's return said; after it
# the lines go to rest first and follow the cycle again (QEMU's trace from a
# mark the guest writes after the bind), the run reaches its count, every
# image is in the file, exit status 0 and the port at rest.
. "$(dirname "$0")/../lib.sh"
started=$(date +%s)
mark=$(vm_trace_mark)
out=$(vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
count=5
log=$NOCTIL_ROOT/program.log
# A run that fails leaves no program holding the port for the next case.
trap 'kill -9 $noctil_pid 2>/dev/null' EXIT

# What of the port's device the program holds open.
held_by_program() { ls -l /proc/$noctil_pid/fd 2>/dev/null | grep -E "$1" || true; }

# LABEL BACKEND SYSFS-DRIVER DEVICE NODE REASON MARK REST...: one run of
# `count` images of 1 s, the port's device unbound after the first; REST...
# is the register, level and mask at rest (noctil_exit_and_expect_run).
pulled_run() {
  local label=$1 backend=$2 driver=$3 id=$4 node=$5 reason=$6 markValue=$7 gone boxes waited
  shift 7
  [ -n "$noctil_pid" ] && kill -9 $noctil_pid 2>/dev/null  # what a failed run before left
  noctil_readable_screen || return 1
  noctil_setup
  case $backend in
    serial) noctil_port_backend serial dtr=1 rts=2 dtr_inverted=1 rts_inverted=0 ;;
    *) noctil_port_backend "$backend" ;;
  esac
  printf '[Capture]\nExposure=1000\nCount=%s\n' "$count" | noctil_settings
  noctil_start || return 1
  noctil_menu c r
  noctil_wait_title " - 1/$count\$" 120 || { fail "$label: no first image"; noctil_screen_text; return 1; }
  echo "$label: $(date +%T.%N | cut -c1-12) image 1"
  echo "$id" >"$driver/unbind" || { fail "$label: $id could not be unbound from $driver"; return 1; }
  [ "$backend" = serial ] && rm -f "$node"  # gone, as a USB adapter's node is
  # The program lets go of the port at its next write. The removed parallel
  # port stays numbered while a handle of it is open.
  waited=0
  while [ -n "$(held_by_program "$node")" ]; do
    waited=$((waited + 1))
    [ $waited -gt 100 ] && { fail "$label: the program still holds the removed port after 10 s"; break; }
    sleep 0.1
  done
  # Held still while the port comes back, so that the mark stands after
  # the kernel's own writes of the bind and before the program's first; the
  # image log says how many images were written by then.
  kill -STOP $noctil_pid
  gone=$(($(wc -l <"$NOCTIL_ROOT/drives/c/Images.LOG") - 1))
  echo "$label: $(date +%T.%N | cut -c1-12) unbound and let go after $gone images"
  echo "$id" >"$driver/bind" || fail "$label: $id could not be bound again"
  noctil_probe --address 0x3FF write "$markValue"
  kill -CONT $noctil_pid
  noctil_find_window '^Error$' 20 --onlyvisible >/dev/null || fail "$label: no box"
  noctil_expect_on_screen "$label" '^Error$' "$node: $reason"
  grep -qF "camera port $node: $reason" "$log" || fail "$label: '$node: $reason' not on stderr"
  [ -e "$node" ] || fail "$label: $node did not come back"
  noctil_wait_title " - $count/$count\$" 120 || fail "$label: the run did not reach $count images"
  grep -q "camera port $node is back; the lines go to rest first" "$log" || fail "$label: the port's return not said"
  # Two boxes: the port's loss, and the image of the exposure it did not
  # carry, which is not written.
  noctil_expect_on_screen "$label" '^Error$' "No image from this readout: the camera port is gone: $node: $reason"
  boxes=$(noctil_error_boxes)
  [ "$boxes" = 2 ] || fail "$label: $boxes boxes, not two"
  noctil_close_box
  noctil_exit_and_expect_run "$label" "$count" "$@"
  echo "$label: images $gone before the port was back"
  grep 'camera port' "$log" | sed 's/^/  /'
}

# At rest the serial port's DTR is high (inverted) and RTS low: bits 0 and 1
# of the modem-control register.
pulled_run serial serial /sys/bus/pnp/drivers/serial 00:00 /dev/ttyS0 'input/output error' 0xA1 0x3FC 0x01 0x03
pulled_run ppdev ppdev /sys/bus/pnp/drivers/parport_pc 00:01 /dev/parport0 'no such device' 0xA2
[ $failures -eq 0 ]
GUEST
) || { echo "$out"; exit 1; }
echo "$out"
failures=0
# After the mark the lines go to rest first and then follow the cycle: every
# image written after it has its exposure, but the first when the port came
# back during it. On the parallel port only the program writes after the
# mark; a tty's open raises DTR and RTS before the program's first write,
# which the serial wiring here does not read as the rest level.
for run in "serial 0xA1 --serial 1 2 1 0" "ppdev 0xA2 --rest-first"; do
  set -- $run
  label=$1 value=$2; shift 2
  gone=$(sed -n "s/^$label: images \([0-9]*\) before the port was back$/\1/p" <<<"$out")
  from=$(vm_trace_find "$mark" "$value") || { failures=$((failures + 1)); continue; }
  report=$(vm_check_trace "$from" "$@" --exposure 1000) || { echo "$report"; failures=$((failures + 1)); continue; }
  echo "$label after its return: $report"
  found=$(sed -n 's/.*: \([0-9]*\) exposures,.*/\1/p' <<<"$report")
  after=$((5 - ${gone:-5}))
  if [ "$found" -lt $((after - 1)) ] || [ "$found" -gt "$after" ] || [ "$found" -lt 2 ]; then
    echo "FAIL: $label: $found exposures after the port came back, for $after images"; failures=$((failures + 1))
  fi
done
echo "the two runs took $(( $(date +%s) - started )) s"
[ $failures -eq 0 ]
