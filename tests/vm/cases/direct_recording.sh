#!/usr/bin/env bash
# The real program records two images with the amplifier off through direct
# I/O at 0x378: the amplifier goes on for the last second of each exposure.
. "$(dirname "$0")/../lib.sh"
mark=$(vm_trace_mark)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_setup
noctil_port_backend direct
printf '[Capture]\nExposure=2500\nCount=2\n[Flags]\nAmpOff=1\n' | noctil_settings
noctil_start || exit 1
noctil_record_and_exit 2 || exit 1
noctil_port_is 0x00
GUEST
vm_check_trace "$mark" --exposure 2500 --ampoff --images 2
