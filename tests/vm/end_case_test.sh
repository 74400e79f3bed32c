#!/bin/bash
# The agent's end of a case (end_case.sh) under each shell the guest may run
# it with: a case started as the agent starts it (a session of its own, a
# child of its own in the background) is ended with everything it started.
# The case's processes hold the write end of a pipe; the test reads it to its
# end, which comes only when the last of them has died (no sleeping, no
# polling); a watchdog turns a kill that missed into a failure.
set -u
here=$(cd "$(dirname "$0")" && pwd)
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

# shell to run the agent's function with | how it is called
shells=(
  "dash|dash"
  "bash|bash"
  "busybox|busybox sh"
)

failures=0
for row in "${shells[@]}"; do
  program=${row%%|*} shell=${row#*|}
  if ! command -v "$program" >/dev/null; then
    [ "$program" = dash ] && { echo "FAIL dash: not installed (the guest's /bin/sh)"; failures=$((failures + 1)); }
    continue
  fi
  rm -f "$dir/alive"
  mkfifo "$dir/alive"
  # As the agent starts a case; the case leaves a child running behind it.
  (exec setsid sh -c 'sleep 600 & echo started; exec sleep 600' >"$dir/alive" 2>/dev/null </dev/null) &
  pid=$!
  exec 3<"$dir/alive"
  read -r line <&3
  [ "$line" = started ] || { echo "FAIL $shell: the case never started"; failures=$((failures + 1)); }
  $shell -c ". '$here/end_case.sh'; end_case $pid"
  # EOF on the pipe: every process of the case has died.
  if timeout 20 cat <&3 >/dev/null; then
    echo "ok   $shell: the case and its child ended"
  else
    echo "FAIL $shell: the case's processes still run after end_case"
    kill -9 "-$pid" 2>/dev/null
    failures=$((failures + 1))
  fi
  exec 3<&-
  { wait "$pid"; } 2>/dev/null
done
exit $((failures > 0))
