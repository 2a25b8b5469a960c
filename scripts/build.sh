#!/usr/bin/env bash
# Configures and builds Vexora into build/. With --windows, the Windows
# station too (scripts/build-windows.sh, into build-win/), whose programs the
# Wine tests of build/ then run. With --demo, only what the demo station
# needs (the target demo: the station, its sounds, the simulator, the import
# and journal tools); tests and benchmarks are left for the test command.
set -euo pipefail
cd "$(dirname "$0")/.."

windows=()
target=()
if [ "${1:-}" = "--demo" ]; then
  target=(--target demo)
elif [ "${1:-}" = "--windows" ]; then
  bash scripts/build-windows.sh
  windows=(-DVEXORA_WINDOWS_BIN_DIR="$PWD/build-win/bin")
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${windows[@]}" >/dev/null
cmake --build build "${target[@]}"
