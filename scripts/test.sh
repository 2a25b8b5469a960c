#!/usr/bin/env bash
# Fresh machine to green: installs what is needed, builds the station for
# Linux and for Windows (mingw-w64; Qt for Windows is built once and cached,
# see scripts/build-windows-deps.sh) with its installer, and runs every
# test, the Windows station's and its installer's under Wine among them, the
# Debian package built, installed and tried: once on the optimised
# build, once on the Debug build under AddressSanitizer and
# UndefinedBehaviorSanitizer (build-asan/), which catches what the optimised
# build hides, a use of a returned function's stack say.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
bash scripts/build.sh --windows
# Every source file keeps to .clang-format.
cmake --build build --target format-check

# Print jobs go to a CUPS of the tests' own, whose one printer writes PDFs
# (scripts/private-cups.sh); the machine's printing is left alone.
repo="$(pwd)"
cupsdir="$(mktemp -d /tmp/vexora-cups.XXXXXX)"
cleanup() {
  bash "$repo/scripts/private-cups.sh" stop "$cupsdir" || true
  if [ -n "${xvfb:-}" ]; then kill "$xvfb" 2>/dev/null || true; fi
  rm -f "${displayfile:-}"
}
trap cleanup EXIT
# (An assignment, so that a CUPS that does not start stops the tests here.)
cupsenv="$(bash scripts/private-cups.sh start "$cupsdir")"
eval "$cupsenv"

# GUI tests run offscreen (set per test); the end-to-end, screenshot and
# window tests need a real X server: a private Xvfb on a display it picks
# itself, so a stale display left by anything else cannot get in the way and
# no test window appears on the desktop of whoever runs the tests.
if command -v Xvfb >/dev/null 2>&1; then
  displayfile="$(mktemp)"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$displayfile" >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 1 100); do [ -s "$displayfile" ] && break; sleep 0.1; done
  export DISPLAY=":$(head -n1 "$displayfile")"
  echo "Testing on Xvfb display $DISPLAY"
fi
(cd build && ctest --output-on-failure -j2)
# The Debian package: built, installed with dpkg, its station started from
# its desktop entry in a fresh folder and scanning a label, removed again.
bash scripts/test-package.sh

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVEXORA_SANITIZE=ON \
      -DVEXORA_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan
echo "Testing the Debug build under AddressSanitizer and UndefinedBehaviorSanitizer"
export ASAN_OPTIONS=detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp"
(cd build-asan && ctest --output-on-failure -j2)
