#!/usr/bin/env bash
# The real program records two images through the kernel's ppdev driver; the
# emulated port sees the whole sequence, and the exposures last as set.
. "$(dirname "$0")/../lib.sh"
mark=$(vm_trace_mark)
vm_guest <<'GUEST'
. "$NOCTIL_SOURCE_DIR/tests/vm/guest/program.sh"
noctil_setup
noctil_system_ini <<INI
[parallel]
backend=ppdev
device=/dev/parport0
INI
noctil_settings <<INI
[Capture]
Exposure=1000
Count=2
INI
noctil_start || exit 1
noctil_menu c r
noctil_wait_title ' - 2/2$' 120 || exit 1
noctil_menu f x
noctil_wait_exit 60 || exit 1
noctil_expect_images 2
GUEST
vm_check_trace "$mark" --exposure 1000 --images 2
