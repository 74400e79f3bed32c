#!/usr/bin/env bash
# A standard user's machine: the Windows directory and the root of C: take
# no files (both mounted read-only for the program, in a mount namespace of
# its own; the user's folders under C:\users stay writable). The settings
# of the Windows directory's Noctil.ini are read and kept in the user's own
# copy, which the next start reads first; Record with the default name
# records into the user's Documents, with the capture's temporary files in
# the user's temporary folder, and says so in one box, at the first Record
# of the start only.
. "$(dirname "$0")/../lib.sh"
# Wine logs the text of each box the program opens.
export WINEDEBUG=$WINEDEBUG,+msgbox
drive_c=$WINEPREFIX/drive_c
user_dir=$drive_c/users/$(id -un)
user_copy=$user_dir/AppData/Roaming/Noctil.ini
documents=$user_dir/Documents
[ -d "$documents" ] && [ ! -L "$documents" ] || { fail "Documents is no folder of the prefix (wine.sh start makes it one)"; exit 1; }

# Starts the program where C:\ and C:\windows are read-only: bind mounts
# in a private mount namespace, with a wineserver of its own there (the
# server opens the files for the program), the suite's server ended first.
# The program is exec'd, so its pid is ours; Wine's log in wine-NAME.log.
program_start_read_only() {
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  unshare -m --propagation private sh -c '
    mount --bind "$1/users" "$1/users" && mount --rbind -o ro "$1" "$1" || exit 99
    wineserver -p </dev/null >/dev/null 2>&1
    shift; exec wine "$@"' sh "$drive_c" "$case/noctil.exe" >"$case/wine-$1.log" 2>&1 &
  program_pid=$!
}
# The suite's own server again, outside the namespace, for the later cases.
server_outside() {
  wineserver -k 2>/dev/null; wineserver -w 2>/dev/null
  wineserver -p </dev/null >/dev/null 2>&1
}
trap server_outside EXIT

windows_copy() { printf '%s\r\n' '[Filenames]' 'ImageFile=C:\Images.AVI' '[Flags]' 'AutoIncrement=0' 'AmpOff=0' \
  '[Capture]' "Exposure=$1" 'Delay=0' 'Count=0' '[Driver]' 'Name=<none>' 'PreviewMode=0' >"$settings"; }
value_of() { grep -a "^$1=" "$2" 2>/dev/null | tr -d '\r' | cut -d= -f2-; }

case_setup standard_user
cp "$build/fake_inpout/inpoutx64.dll" "$case/"
rm -f "$user_copy" "$documents/Images.AVI" "$drive_c/Images.AVI"
windows_copy 1500
windows_before=$(od -c "$settings")

# The first start: no user copy yet.
program_start_read_only first
wait_window Noctil && wait_window NoctilSnapshot || { cat "$case/wine-first.log"; exit 1; }
window_shown Record && fail "a box at start"
activate_main
xdotool key alt+c r
wait_window Record 30 && answer Record Return && echo "the first Record said where the files go, in one box"
wait_port '^Out32 0x378 0x0b ' 2 30 && echo "recording: the port went to 0x0B, to rest and to 0x0B again"
activate_main
xdotool key alt+c o
rests=$(port_count '^Out32 0x378 0x00 ')
# The second Record of the same start: no box, so the run starts at once.
activate_main
xdotool key alt+c r
before=$(port_count '^Out32 0x378 0x0b ')
wait_port '^Out32 0x378 0x0b ' $((before + 1)) 30 && ! window_shown Record &&
  echo "the second Record recorded without a box"
activate_main
xdotool key alt+c o
wait_port '^Out32 0x378 0x00 ' $((rests + 1)) 30
exit_through_menu "the first start"

# The one box of the start, as Wine's log has its text (backslashes and
# line ends escaped).
login=$(id -un)
boxes=$(grep -a -c 'trace:msgbox:MSGBOX_OnInit' "$case/wine-first.log")
[ "$boxes" = 1 ] || fail "the first start opened $boxes boxes, not one"
told='L"C:\\ does not take files for this user, so the images go to\nC:\\users\\'$login'\\Documents\\Images.AVI\nand the capture'"'"'s temporary files to C:\\users\\'$login'\\Temp\\.\n\nSave Images In chooses another file'
grep -aqF "$told" "$case/wine-first.log" && echo "the box named the user's Documents and temporary folder" ||
  fail "the box did not say where the files go: $(grep -a 'MSGBOX_OnInit' "$case/wine-first.log")"
[ -f "$documents/Images.AVI" ] && [ "$(head -c 4 "$documents/Images.AVI")" = RIFF ] &&
  echo "the images went to the user's Documents: C:\\users\\$(id -un)\\Documents\\Images.AVI" ||
  fail "no AVI file Images.AVI in the user's Documents"
[ -e "$drive_c/Images.AVI" ] && fail "C:\\Images.AVI was made on a read-only root"
[ "$(od -c "$settings")" = "$windows_before" ] || fail "the Windows directory's Noctil.ini changed"
if [ ! -f "$user_copy" ]; then fail "no Noctil.ini in the user's AppData\\Roaming"
else
  [ "$(value_of Exposure "$user_copy")" = 1500 ] || fail "the user's copy does not keep Exposure=1500: $(tr -d '\r' <"$user_copy")"
  case $(value_of ImageFile "$user_copy") in
  *'\Documents\Images.AVI') echo "the user's copy keeps the settings (Exposure=1500) and ImageFile=$(value_of ImageFile "$user_copy")" ;;
  *) fail "the user's copy names another image file: $(value_of ImageFile "$user_copy")" ;;
  esac
  grep -q -v $'\r$' "$user_copy" && fail "the user's copy has a line without CR LF"
fi

# The second start reads the user's copy first: the Windows directory's
# copy, now saying 999, is not what is written back.
windows_copy 999
program_start_read_only second
wait_window Noctil || { cat "$case/wine-second.log"; exit 1; }
exit_through_menu "the second start"
grep -aq 'trace:msgbox:MSGBOX_OnInit' "$case/wine-second.log" && fail "a box at the second start without Record"
[ "$(value_of Exposure "$user_copy")" = 1500 ] && echo "the second start read the user's copy first (Exposure=1500 kept)" ||
  fail "the second start did not keep the user's copy: Exposure=$(value_of Exposure "$user_copy")"
[ $failures -eq 0 ]
