#!/usr/bin/env bash
# The exposure engine's program holds none of the window system's, the
# display's or Qt's code, and no wrapped file calls; it does hold the engine.
set -u
program=$1
symbols=$(nm -C "$program") || { echo "nm failed on $program"; exit 1; }
status=0
if ! grep -q 'plat::engine::ExposureEngine::expose' <<<"$symbols"; then
  echo "no engine in $program: the check would see nothing"
  status=1
fi
for pattern in 'MessageBoxA' 'CreateWindowExA' 'plat::Display::' 'plat::user::' 'QApplication' 'QWidget' '__wrap_fopen'; do
  if grep -q "$pattern" <<<"$symbols"; then
    echo "$program holds $pattern:"
    grep "$pattern" <<<"$symbols" | head -5
    status=1
  fi
done
exit $status
