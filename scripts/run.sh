#!/usr/bin/env bash
# Builds Noctil and starts it, on the simulated camera unless the platform
# configuration names another capture driver. Installs what it needs first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DNOCTIL_WERROR=ON >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target noctil
exec build/noctil "$@"
