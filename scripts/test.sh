#!/usr/bin/env bash
# Builds Noctil and runs every test: once plainly, once under AddressSanitizer
# and UndefinedBehaviorSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

build() {
  local dir=$1; shift
  # Optimised without debug information: the two builds must fit a two-core
  # machine's time budget; a failing test is rebuilt with -g by hand.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOCTIL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
}

tests() {
  local dir=$1; shift
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300 "$@")
}

# The plain build is the README's own build line (Release at CMake's default
# -O3, warnings as errors), so that line is what CI builds.
echo "== plain build and tests"
build build
# The layer picture in docs/architecture.md is the build's own (a few seconds:
# CMake's configure step on the configured build directory).
scripts/layer-graph.py build
tests build -LE vm

# The Debian package of that build: lintian, installed with dpkg, the
# installed programs, desktop entry and man pages checked, then removed.
echo "== Debian package"
scripts/check-package.sh build

# The hardware cases run one at a time in one emulated machine, which keeps
# about one core busy for minutes: they run beside the sanitizer build and its
# tests, and their output is shown once they are done.
vm_log=build/vm-cases.log
(cd build && ctest --output-on-failure --timeout 600 -L vm) >"$vm_log" 2>&1 &
vm_pid=$!
trap 'kill "$vm_pid" 2>/dev/null || true' EXIT

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
# The Qt display's tests run here too, on the offscreen platform, with the
# suppressions Qt's own libraries need (tests/qt/lsan.supp). The virtual
# machine's cases stay out of this build (tests/vm/CMakeLists.txt).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build build-asan -DNOCTIL_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELEASE=-O1
tests build-asan

echo "== Windows builds (64-bit and 32-bit noctil.exe) and the 64-bit one under Wine"
windows_build() {
  local dir=$1 target=$2
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOCTIL_WERROR=ON -DCMAKE_CXX_FLAGS_RELEASE=-O2 \
    --toolchain "windows/toolchains/$target.cmake" >/dev/null
  cmake --build "$dir" -j "$jobs"
}
windows_build build-win64 x86_64-w64-mingw32
windows_build build-win32 i686-w64-mingw32
(cd build-win64 && ctest --output-on-failure --timeout 300)

echo "== arm64 build of noctil and noctil-convert (no Qt), run under qemu-user"
scripts/check-arm64.sh build

echo "== hardware cases in the virtual machine (plain build)"
vm_status=0
wait "$vm_pid" || vm_status=$?
trap - EXIT
cat "$vm_log"
exit "$vm_status"
