#!/usr/bin/env bash
# The 64-bit noctil.exe under Wine, from a fresh start to File > Exit: both
# windows with their titles, About from Alt+?, the Setup dialog opened and
# closed, a run recorded without a capture device (the camera port switches
# as set, every capture step does nothing and says nothing), the port at
# rest at the end, exit status 0, and Noctil.ini written with its eight keys
# in Windows line ends.
. "$(dirname "$0")/../lib.sh"
case_setup program
cp "$build/fake_inpout/inpoutx64.dll" "$case/"
program_start
wait_window Noctil && wait_window NoctilSnapshot || exit 1
echo "both windows shown: Noctil, NoctilSnapshot"
# The rest level reached the port through the driver before the windows.
wait_port '^IsInpOutDriverOpen 1$' 1 && wait_port '^Out32 0x378 0x00 ' 1

activate_main
xdotool key alt+question
wait_window About && answer About Return && echo "About opened with Alt+? and closed"

activate_main
xdotool key alt+c e
wait_window 'Setup Capture' && answer 'Setup Capture' Escape && echo "Setup Capture opened and closed"

# No capture driver: nothing is added after the Options menu's separator, so
# it is as tall as the Capture menu (four items and a separator each) and
# one item taller than the File menu (three items and a separator).
activate_main
file_h=$(popup_height f); options_h=$(popup_height o); capture_h=$(popup_height c); help_h=$(popup_height h)
echo "pop-up heights: File $file_h, Options $options_h, Capture $capture_h, Help $help_h"
[ -n "$options_h" ] && [ "$options_h" = "$capture_h" ] || fail "the Options menu ($options_h) is not as tall as Capture ($capture_h): it has items added"
[ -n "$options_h" ] && [ "$options_h" -gt "$file_h" ] || fail "the Options menu ($options_h) is not taller than File ($file_h)"

# Record, at the default 2000 ms: the camera integrates, the readout (no
# stream without a device) ends at once at rest, the delay starts the next.
before=$(port_count '^Out32 0x378 0x00 ')
activate_main
xdotool key alt+c r
wait_port '^Out32 0x378 0x0b ' 2 30 && echo "recording: the port went to 0x0B, to rest and to 0x0B again"
[ "$(port_count '^Out32 0x378 0x00 ')" -gt "$before" ] || fail "the exposure did not end at rest"
rests=$(port_count '^Out32 0x378 0x00 ')
activate_main
xdotool key alt+c o
wait_port '^Out32 0x378 0x00 ' $((rests + 1)) 30 && echo "stopped: the port at rest"
window_shown Error && fail "a message box appeared without a capture device"

exit_through_menu "File > Exit"
echo "File > Exit: exit status $status"
last=$(grep '^Out32' "$port_log" | tail -1)
case $last in "Out32 0x378 0x00 "*) echo "the port's last write: $last" ;; *) fail "the port was left with: $last" ;; esac
grep -q -v -e '^loaded$' -e '^IsInpOutDriverOpen 1$' -e '^Out32 0x378 0x0[0b] ' "$port_log" &&
  fail "the port was given something else: $(grep -v -e '^loaded$' -e '^IsInpOutDriverOpen 1$' -e '^Out32 0x378 0x0[0b] ' "$port_log")"

# The settings file: the four sections with their keys, every line ended
# by CR LF.
expected=$(printf '%s\r\n' '[Filenames]' 'ImageFile=C:\Images.AVI' '[Flags]' 'AutoIncrement=0' 'AmpOff=0' \
  '[Capture]' 'Exposure=2000' 'Delay=0' 'Count=0' '[Driver]' 'Name=<none>' 'PreviewMode=0' | od -c)
if [ ! -f "$settings" ]; then fail "no Noctil.ini in C:\\windows"
elif [ "$(od -c <"$settings")" != "$expected" ]; then fail "Noctil.ini is not as expected:"; od -c "$settings"
else echo "C:\\windows\\Noctil.ini: eight keys in four sections, CR LF line ends"; fi
[ $failures -eq 0 ]
