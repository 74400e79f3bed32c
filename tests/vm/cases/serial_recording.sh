#!/usr/bin/env bash
# The real program records two images with the amplifier off on the 16550's
# DTR (bit 1, inverted) and RTS (bit 2) lines.
. "$(dirname "$0")/../lib.sh"
mark=$(vm_trace_mark)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_setup
noctil_port_backend serial dtr=1 rts=2 dtr_inverted=1 rts_inverted=0
printf '[Capture]\nExposure=2500\nCount=2\n[Flags]\nAmpOff=1\n' | noctil_settings
noctil_start || exit 1
noctil_record_and_exit 2 || exit 1
# At rest DTR is high (inverted) and RTS low: MCR bit 0 set, bit 1 clear.
mcr=$(noctil_probe --address 0x3FC read)
[ $((mcr & 3)) -eq 1 ] || { echo "FAIL: modem-control register $mcr at rest"; exit 1; }
GUEST
vm_check_trace "$mark" --serial 1 2 1 0 --exposure 2500 --ampoff --images 2
