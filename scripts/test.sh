#!/usr/bin/env bash
# Fresh machine to green: installs what is needed, builds, compiles the
# Windows serial code with mingw-w64, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh --windows-check

cd build
# GUI tests run offscreen (set per test); the end-to-end test needs a real X
# server, so the whole run goes under Xvfb when it is available.
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1280x1024x24" ctest --output-on-failure -j2
else
  ctest --output-on-failure -j2
fi
