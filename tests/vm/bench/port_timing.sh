#!/usr/bin/env bash
# Benchmark: how exactly the real program holds the exposure level, measured
# on the emulated port's trace in the virtual machine. For ppdev and direct
# I/O, exposures of 0.5 s and 2 s with the amplifier on and off, COUNT each
# (default 20): prints p50, p99 and max of (time the lines left the exposure
# level - time they entered it - the setting). Beside each length, its
# anchor: a guest program that does nothing but write the port through ppdev
# around an absolute clock_nanosleep (vm_port_probe pulse), measured on the
# same trace - what the emulator itself adds.
#
#   tests/vm/bench/port_timing.sh BUILD [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: port_timing.sh BUILD [COUNT]}" && pwd)
count=${2:-20}
state=$build/vm-bench
export NOCTIL_VM_STATE=$state NOCTIL_SOURCE_DIR=$(cd "$here/../.." && pwd) VM_PORT_TRACE=$build/tests/vm/vm_port_trace
"$here/vm.sh" start "$state" "$build" >/dev/null
trap '"$here/vm.sh" stop "$state" >/dev/null' EXIT
. "$here/lib.sh"
# Exposure:amplifier-off. Up to 2 s the cycle keeps the amplifier on even
# when it is set off, so 2.5 s shows the amplifier-off path itself.
runs="500:0 500:1 2000:0 2000:1 2500:1"
set +e
for exposure in 500 2000; do
  mark=$(vm_trace_mark)
  vm_guest >/dev/null <<GUEST
"\$NOCTIL_BUILD_DIR/tests/vm/vm_port_probe" pulse /dev/parport0 $exposure $count
GUEST
  printf '%-7s ' anchor
  vm_check_trace "$mark" --exposure "$exposure" --quiet --readout-slack 100000 | tail -1
done
for backend in ppdev direct; do
  for run in $runs; do
    exposure=${run%:*} ampoff=${run#*:}
    mark=$(vm_trace_mark)
    vm_guest >/dev/null <<GUEST
. "\$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_setup
noctil_port_backend $backend
printf '[Capture]\nExposure=$exposure\nCount=$count\nDelay=0\n[Flags]\nAmpOff=$ampoff\n' | noctil_settings
noctil_start || exit 1
noctil_menu c r
noctil_wait_title ' - $count/$count\$' $((count * 10 + 60)) || exit 1
noctil_menu f x
noctil_wait_exit 60
GUEST
    flags=(); [ $ampoff = 1 ] && flags=(--ampoff)
    printf '%-7s ' "$backend"
    vm_check_trace "$mark" --exposure "$exposure" "${flags[@]}" --quiet --readout-slack 100000 | tail -1
  done
done
