#!/usr/bin/env bash
# The one test command: installs what is missing, configures, builds and runs every test.
# Exits non-zero on any failure. QUILLET_PRESET picks the CMake preset (ci, default or asan).
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
preset="${QUILLET_PRESET:-ci}"
jobs="$(nproc 2>/dev/null || echo 2)"

"$root/scripts/install-deps.sh"

cd "$root"
cmake --preset "$preset"
cmake --build --preset "$preset" -j "$jobs"
ctest --preset "$preset" -j "$jobs" --no-tests=error --timeout 300
