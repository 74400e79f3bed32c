#!/usr/bin/env bash
# Builds Noctil and runs every test: once plainly, once under AddressSanitizer
# and UndefinedBehaviorSanitizer. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

run_suite() {
  local dir=$1; shift
  # Optimised without debug information: the two builds must fit a two-core
  # machine's time budget; a failing test is rebuilt with -g by hand.
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DNOCTIL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 300)
}

echo "== plain build and tests"
run_suite build -DCMAKE_CXX_FLAGS_RELEASE=-O2
echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
# The Qt display's tests run here too, on the offscreen platform, with the
# suppressions Qt's own libraries need (tests/qt/lsan.supp). The virtual
# machine's cases stay out of this build (tests/vm/CMakeLists.txt).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite build-asan -DNOCTIL_SANITIZE=ON -DCMAKE_CXX_FLAGS_RELEASE=-O1
