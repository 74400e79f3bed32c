#!/usr/bin/env bash
# The real program records two images through the kernel's ppdev driver; the
# emulated port sees the whole sequence, and the exposures last as set.
. "$(dirname "$0")/../lib.sh"
mark=$(vm_trace_mark)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_run_setup 2
noctil_start || exit 1
noctil_record_and_exit 2
GUEST
vm_check_trace "$mark" --exposure 1000 --images 2
