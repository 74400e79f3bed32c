#!/usr/bin/env bash
# Cross-builds noctil and noctil-convert for arm64 (Debian arm64, Raspberry Pi
# OS 64-bit) without Qt and without the tests, with Debian's cross compiler
# and the arm64 libraries installed beside the machine's own (multiarch); then
# runs both under qemu-user: each prints the project's version, and the arm64
# converter writes the same FITS and SER files as the machine's own build
# (BUILD_DIR, default build) from one AVI file.
#
#   scripts/check-arm64.sh [BUILD_DIR]
#
# Needs what scripts/install-deps.sh installs (the arm64 architecture added to
# dpkg, the cross compiler, the arm64 libraries, qemu-user).
set -euo pipefail
cd "$(dirname "$0")/.."
native=$(cd "${1:-build}" && pwd)
cross=build-arm64

fail() { echo "check-arm64: $*" >&2; exit 1; }

echo "-- arm64 build (no Qt, no tests)"
cmake -S . -B "$cross" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOCTIL_WERROR=ON -DNOCTIL_WITH_QT=OFF \
  -DBUILD_TESTING=OFF --toolchain packaging/toolchains/aarch64-linux-gnu.cmake >/dev/null
cmake --build "$cross" -j "$(nproc 2>/dev/null || echo 2)" --target noctil noctil-convert

for binary in "$cross/noctil" "$cross/convert/noctil-convert"; do
  file -b "$binary" | grep -q 'ARM aarch64' || fail "$binary is no arm64 program"
done

# The arm64 programs run under qemu-user with the arm64 libraries of this
# machine (the dynamic loader and libraries under /).
arm64() { qemu-aarch64 -L / "$@"; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$cross/CMakeCache.txt")
[ "$(arm64 "$cross/noctil" --version)" = "noctil $version" ] || fail "the arm64 noctil --version is wrong"
[ "$(arm64 "$cross/convert/noctil-convert" --version)" = "noctil-convert $version" ] ||
  fail "the arm64 noctil-convert --version is wrong"

echo "-- the arm64 converter against the machine's own"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/native" "$work/arm64"
ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=1 -frames:v 3 -c:v rawvideo -pix_fmt bgr24 "$work/sky.avi"
for kind in --fits --ser; do
  "$native/convert/noctil-convert" "$kind" --no-log -o "$work/native" "$work/sky.avi" >/dev/null 2>&1
  arm64 "$cross/convert/noctil-convert" "$kind" --no-log -o "$work/arm64" "$work/sky.avi" >/dev/null 2>&1
done
# The files must be equal byte for byte, but for FITS's DATE card (when the
# file was written).
python3 - "$work/native" "$work/arm64" <<'EOF'
import re, sys
from pathlib import Path
native, arm64 = Path(sys.argv[1]), Path(sys.argv[2])
names = sorted(p.name for p in native.iterdir())
if sorted(p.name for p in arm64.iterdir()) != names or len(names) != 4:
    sys.exit("check-arm64: the converters wrote different files: %s" % names)
def without_date(data):
    return re.sub(rb"DATE    = '[^']*'", b"DATE", data)
for name in names:
    if without_date((native / name).read_bytes()) != without_date((arm64 / name).read_bytes()):
        sys.exit("check-arm64: %s differs between the arm64 and the machine's own converter" % name)
print("-- the arm64 converter wrote the same files: %s" % ", ".join(names))
EOF
