#!/usr/bin/env bash
# Configures and builds Vexora into build/ (and, when asked with
# --windows-check, the Windows build of the Qt-free code with mingw-w64 into
# build-win/, whose programs the Wine tests of build/ then run).
set -euo pipefail
cd "$(dirname "$0")/.."

windows=()
if [ "${1:-}" = "--windows-check" ]; then
  cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
        -DVEXORA_WINDOWS_CHECK=ON >/dev/null
  cmake --build build-win
  windows=(-DVEXORA_WINDOWS_BIN_DIR="$PWD/build-win/bin")
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE="${BUILD_TYPE:-RelWithDebInfo}" "${windows[@]}" >/dev/null
cmake --build build
