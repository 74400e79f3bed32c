#!/usr/bin/env bash
# One Wine prefix and one virtual X display per suite run (Wine's first start
# of a prefix takes tens of seconds; every later start of a program in it
# about a second):
#   wine.sh start STATE    a fresh prefix in STATE/prefix, Xvfb, a persistent wineserver
#   wine.sh stop STATE     ends the wineserver and Xvfb
set -euo pipefail
cmd=$1 state=$2
export WINEPREFIX=$state/prefix WINEDLLOVERRIDES="mscoree,mshtml=" WINEDEBUG=-all WINEARCH=win64

case $cmd in
start)
  rm -rf "$state"
  mkdir -p "$state"
  t0=$(date +%s%N)
  # Xvfb picks a free display and names it on the descriptor it is given.
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display" </dev/null >"$state/xvfb.log" 2>&1 &
  echo $! >"$state/xvfb.pid"
  for _ in $(seq 300); do [ -s "$state/display" ] && break; sleep 0.1; done
  [ -s "$state/display" ] || { echo "wine.sh: Xvfb did not start"; cat "$state/xvfb.log"; exit 1; }
  export DISPLAY=:$(cat "$state/display")
  # Kept alive between the cases, so that each program start finds it.
  mkdir -p "$WINEPREFIX"
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot -i >"$state/wineboot.log" 2>&1
  # Without a window manager Wine draws the frames itself and activates
  # windows as Windows does, so that a dialog gets the keys when it opens.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  # The user's folders are Wine's links to $HOME: folders of the prefix
  # instead, so that no case writes outside the build directory.
  for link in "$WINEPREFIX/drive_c/users/$(id -un)"/*; do
    [ -L "$link" ] && rm "$link" && mkdir "$link"
  done
  # COM6 is a device that is no serial port.
  ln -sfn /dev/null "$WINEPREFIX/dosdevices/com6"
  ms=$((($(date +%s%N) - t0) / 1000000))
  echo "wine.sh: prefix ready on display $DISPLAY in $((ms / 1000)).$((ms % 1000 / 100)) s ($(wine --version))"
  ;;
stop)
  wineserver -k 2>/dev/null || true
  [ -f "$state/xvfb.pid" ] && kill "$(cat "$state/xvfb.pid")" 2>/dev/null || true
  ;;
esac
