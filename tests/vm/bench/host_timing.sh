#!/usr/bin/env bash
# Benchmark: the same exposures as port_timing.sh, on this machine's own
# clock: the real program on a virtual X display with the simulated port,
# the exposures read from the image log beside the output file (the port's
# log, timed on the platform's monotonic clock). Prints p50, p99 and max of
# (exposure as the port held it - the setting).
#
#   tests/vm/bench/host_timing.sh BUILD [COUNT]
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:?usage: host_timing.sh BUILD [COUNT]}" && pwd)
count=${2:-20}
export NOCTIL_BUILD_DIR=$build NOCTIL_ROOT=$build/bench-root DISPLAY=:57
. "$here/guest/program.sh"
noctil_display
trap 'kill "$(tr -d " " </tmp/.X57-lock)"' EXIT  # the X server started above, by its pid
# Exposure:amplifier-off. Up to 2 s the cycle keeps the amplifier on even
# when it is set off, so 2.5 s shows the amplifier-off path itself.
for run in 500:0 500:1 2000:0 2000:1 2500:1; do
  exposure=${run%:*} ampoff=${run#*:}
  noctil_setup
  printf '[Capture]\nExposure=%s\nCount=%s\nDelay=0\n[Flags]\nAmpOff=%s\n' "$exposure" "$count" "$ampoff" | noctil_settings
  noctil_start
  noctil_menu c r
  noctil_wait_title " - $count/$count\$" $((count * 10 + 60))
  noctil_menu f x
  noctil_wait_exit 60
  log=$(ls "$NOCTIL_ROOT"/drives/c/*.LOG "$NOCTIL_ROOT"/drives/c/*.log 2>/dev/null | head -1 || true)
  # Errors in ms, sorted, then nearest-rank percentiles (plain awk: no asort).
  awk -F'\t' -v set="$exposure" '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == "exposure_s") col = i; next }
    { printf "%.3f\n", $col * 1000 - set }' "$log" | sort -n |
    awk -v set="$exposure" -v amp="$ampoff" '
      { e[++n] = $1 }
      END {
        p50 = e[int(n * 0.50 + 0.999999)]; p99 = e[int(n * 0.99 + 0.999999)]
        printf "host    simulated %d ms%s: %d exposures, error p50 %.3f ms, p99 %.3f ms, max %.3f ms\n",
               set, amp == 1 ? " amplifier off" : "", n, p50, p99, e[n]
      }'
done
