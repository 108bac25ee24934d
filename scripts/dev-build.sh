#!/usr/bin/env bash
# Incremental developer build: ./scripts/dev-build.sh [build-dir] [extra cmake args...]
# Produces <build-dir>/qel_kernel.abi3.so; run tests with PYTHONPATH=<build-dir>.
# Extra cmake arguments reconfigure an existing directory (cmake keeps them in
# its cache, so later calls without them build the same configuration).
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build/dev}
shift || true
if [ ! -f "$dir/build.ninja" ] || [ $# -gt 0 ]; then
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DPython_EXECUTABLE="$(command -v python3)" "$@" >/dev/null
fi
cmake --build "$dir" -- -j"$(nproc)"
