#!/usr/bin/env bash
# Configures and builds Vexora into build/ (and the Windows serial check into
# build-win/ when asked with --windows-check).
set -euo pipefail
cd "$(dirname "$0")/.."

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" >/dev/null
cmake --build build

if [ "${1:-}" = "--windows-check" ]; then
  # The Win32 serial, settings, window and print code cannot run here, but it
  # must always compile.
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
        -DVEXORA_WINDOWS_CHECK=ON >/dev/null
  cmake --build build-win
fi
