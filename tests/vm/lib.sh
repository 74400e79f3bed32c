# The host half of a hardware case: sourced by tests/vm/cases/*.sh, which
# ctest runs one at a time inside the one virtual machine of the suite.
#
#   mark=$(vm_trace_mark)          where the port trace stands now
#   vm_guest <<'GUEST' ... GUEST   run a script as root in the guest; fails
#                                  the case when it fails
#   vm_check_trace "$mark" ARGS    check the camera lines written since the
#                                  mark (tests/vm/port_trace_main.cpp: ARGS)
#   vm_trace_find "$mark" VALUE    where the guest's mark VALUE stands in the
#                                  trace after the mark (the guest writes it
#                                  with `noctil_probe --address 0x3FF write`)
set -euo pipefail
: "${NOCTIL_VM_STATE:?run the cases through ctest}" "${VM_PORT_TRACE:?}" "${NOCTIL_SOURCE_DIR:?}"
vm_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

vm_trace_mark() { stat -c %s "$NOCTIL_VM_STATE/qemu.trace"; }

vm_guest() {
  local script
  script=$(mktemp "$NOCTIL_VM_STATE/case.XXXXXX")
  cat >"$script"
  local rc=0
  "$vm_here/vm.sh" run "$NOCTIL_VM_STATE" "$script" "${VM_CASE_TIMEOUT:-540}" || rc=$?
  rm -f "$script"
  if [ $rc -ne 0 ]; then echo "FAIL: the guest half of the case exited with $rc"; return $rc; fi
}

vm_check_trace() {
  local mark=$1; shift
  "$VM_PORT_TRACE" "$NOCTIL_VM_STATE/qemu.trace" --from "$mark" "$@"
}

vm_trace_find() {
  local mark=$1 value at
  value=$(printf '0x%02x' "$2")
  at=$(tail -c +"$((mark + 1))" "$NOCTIL_VM_STATE/qemu.trace" |
       grep -a -b -m1 "serial_write write addr 0x07 val $value\$" | cut -d: -f1) || true
  [ -n "$at" ] || { echo "FAIL: the guest's mark $value is not in the port trace" >&2; return 1; }
  echo $((mark + at))
}
