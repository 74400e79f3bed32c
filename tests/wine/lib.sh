# Running the Windows program under Wine as a person would: on the suite's
# virtual X display (wine.sh start), each case in a folder of its own with
# noctil.exe and what it should find beside it, its keys typed with xdotool.
# Sourced by the cases.
#
#   case_setup NAME           fresh folder $case with noctil.exe; no Noctil.ini
#   program_start             start it; stderr (Wine's log) in $case/wine.log
#   wait_window TITLE [S]     a window of that exact title is shown
#   wait_gone TITLE [S]       no window of that title is left
#   activate_main             click the main window, so it has the keys
#   answer TITLE KEY          KEY to that window once it has the keys; it goes
#   popup_height LETTER       Alt+LETTER: the height of the pop-up menu shown
#   wait_port LINE N [S]      the fake port driver's log has N lines matching LINE
#   program_wait_exit [S]     wait for the end; the exit status in $status
set -uo pipefail
state=${NOCTIL_WINE_STATE:?}
build=${NOCTIL_WIN_BUILD:?}
export WINEPREFIX=$state/prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
export DISPLAY=:$(cat "$state/display")
# Wine's log keeps what the program tells a debugger (the port's failures).
export WINEDEBUG=-all,+debugstr
settings=$WINEPREFIX/drive_c/windows/Noctil.ini
program_pid=
status=

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

case_setup() {
  case=$state/cases/$1
  rm -rf "$case"; mkdir -p "$case"
  cp "$build/noctil.exe" "$case/"
  rm -f "$settings"
  port_log=$case/port.log
  export NOCTIL_FAKE_INPOUT_LOG="Z:${port_log//\//\\}"
  unset NOCTIL_FAKE_INPOUT_DRIVER
}

program_start() {
  wine "$case/noctil.exe" >"$case/wine.log" 2>&1 &
  program_pid=$!
}

# Polls COMMAND until it succeeds, for at most S seconds (default 60).
poll() {
  local limit=$(($1 * 10)) i=0; shift
  until "$@"; do
    i=$((i + 1)); [ $i -gt $limit ] && return 1
    sleep 0.1
  done
}

window_shown() { xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1; }
window_absent() { ! window_shown "$1"; }
wait_window() { poll "${2:-60}" window_shown "$1" || { fail "no window \"$1\""; return 1; }; }
wait_gone() { poll "${2:-60}" window_absent "$1" || { fail "the window \"$1\" stayed"; return 1; }; }

# Keys go to the window that has the X focus, which Wine gives the window
# it activates, a moment after it is shown or clicked.
# A search can come back empty while another window is being destroyed
# (the X server then refuses a query on it); it is repeated until it finds one.
window_id() {
  local i id
  for i in $(seq 100); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  return 1
}
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }

# A click into the main window's lower right corner, which the snapshot
# window leaves free and no control occupies; returns once it has the keys.
# Clicked again while it has not: a window that is still being shown when
# the click comes (the snapshot window, at start) takes the focus after it.
activate_main() {
  local id try; id=$(window_id Noctil)
  [ -n "$id" ] || { fail "no main window to click"; return 1; }
  eval "$(xdotool getwindowgeometry --shell "$id")"
  for try in 1 2 3 4 5 6 7 8 9 10; do
    # The pointer comes in from elsewhere: Wine takes a click only where it
    # has seen the pointer arrive.
    xdotool mousemove $((X + WIDTH - 12 + try)) $((Y + HEIGHT - 12 + try)) \
      mousemove $((X + WIDTH - 6)) $((Y + HEIGHT - 6)) click 1
    poll 3 has_focus "$id" && return 0
  done
  fail "the main window did not take the keys (clicked at $((X + WIDTH - 6)),$((Y + HEIGHT - 6)) in ${WIDTH}x${HEIGHT}+$X+$Y; the focus is on '$(xdotool getwindowfocus getwindowname 2>/dev/null)'; shown: $(for w in $(xdotool search --onlyvisible --class '^noctil\.exe$'); do printf '"%s" ' "$(xdotool getwindowname "$w")"; done))"
  return 1
}

# Answers the window of that title with KEY once it has the keys, and
# waits until it has gone.
answer() {
  local title=$1 key=$2 id
  id=$(window_id "$title")
  [ -n "$id" ] || { fail "no window \"$title\" to answer"; return 1; }
  # On a loaded machine Wine may not hand a new dialog the X focus at all:
  # then give it the focus directly, once, before calling it a failure.
  poll 30 has_focus "$id" || { xdotool windowfocus "$id" 2>/dev/null; poll 15 has_focus "$id"; } \
    || { fail "the window \"$title\" did not take the keys"; return 1; }
  xdotool key "$key"
  wait_gone "$title"
}

# The pop-up menu is the program's one shown window without a title (the
# input method's window has one).
popup_window() {
  local id
  for id in $(xdotool search --onlyvisible --class '^noctil\.exe$' 2>/dev/null); do
    [ -z "$(xdotool getwindowname "$id" 2>/dev/null)" ] && { echo "$id"; return 0; }
  done
  return 1
}
popup_height() {
  xdotool key "alt+$1"
  poll 30 popup_window >/dev/null || { fail "Alt+$1 opened no pop-up menu"; return 1; }
  eval "$(xdotool getwindowgeometry --shell "$(popup_window)")"
  xdotool key Escape Escape
  poll 30 eval '! popup_window >/dev/null' || fail "the pop-up menu of Alt+$1 stayed"
  echo "$HEIGHT"
}

port_count() { local n=0; [ -f "$port_log" ] && n=$(grep -c -- "$1" "$port_log"); echo "${n:-0}"; }
port_has() { [ "$(port_count "$1")" -ge "$2" ]; }
wait_port() { poll "${3:-60}" port_has "$1" "$2" || { fail "the port log never had $2 lines '$1'"; return 1; }; }

program_wait_exit() {
  local limit=$((${1:-60} * 10)) i=0
  while kill -0 "$program_pid" 2>/dev/null; do
    i=$((i + 1))
    if [ $i -gt $limit ]; then fail "the program did not end"; kill -9 "$program_pid"; status=124; return 1; fi
    sleep 0.1
  done
  wait "$program_pid"; status=$?
}

# File > Exit from the main window; the program must end with status 0.
exit_through_menu() {
  activate_main
  xdotool key alt+f x
  program_wait_exit 60
  [ "$status" = 0 ] || fail "$1: exit status $status, not 0"
}
