#!/usr/bin/env bash
# Builds the station for Windows on Debian with mingw-w64, in one command:
#   bash scripts/build-windows.sh
# Qt and SQLite for Windows come from scripts/build-windows-deps.sh (built
# once, then taken from its cache). The result is one folder, build-win/Vexora/:
# vexora.exe, vexora-import.exe, vexora-journal.exe, vexora-btprint.exe,
# vexora-portcheck.exe, the help, the sounds and the label templates, all
# statically linked: nothing else to install; and its installer,
# build-win/vexora-setup-<version>.exe (scripts/build-windows-installer.sh).
# build-win/bin/ also holds the programs the Wine tests run.
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

bash scripts/install-deps.sh
deps="$(bash scripts/build-windows-deps.sh | tail -n1)"
# CMake puts -Wl,-Bdynamic before Qt's system libraries unless the link ends
# static; with it, every program links the C and C++ runtimes in.
"$deps/bin/qt-cmake" -S . -B build-win -G Ninja \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
  -DCMAKE_BUILD_TYPE=MinSizeRel -DCMAKE_LINK_SEARCH_END_STATIC=ON \
  -DVEXORA_BUILD_TESTS=OFF -DVEXORA_BUILD_BENCH=OFF \
  -DJPEG_INCLUDE_DIR="$deps/include/jpeg" -DJPEG_LIBRARY="$deps/lib/libQt6BundledLibjpeg.a" \
  >/dev/null
cmake --build build-win

out=build-win/Vexora
rm -rf "$out"
mkdir -p "$out"
programs=(vexora vexora-import vexora-journal vexora-btprint vexora-portcheck)
for p in "${programs[@]}"; do
  x86_64-w64-mingw32-strip -o "$out/$p.exe" "build-win/bin/$p.exe"
done
cp build-win/bin/help.txt build-win/bin/vexora-label.zpl "$out/"
cp build-win/bin/[0-9].wav build-win/bin/chong_d.wav "$out/" 2>/dev/null || true

# Nothing but Windows' own DLLs may be needed: none of mingw-w64's runtime
# DLLs (libstdc++-6, libgcc_s, libwinpthread-1), no Qt, no SQLite.
for p in "${programs[@]}"; do
  foreign="$(x86_64-w64-mingw32-objdump -p "$out/$p.exe" | sed -n 's/^\s*DLL Name: //p' |
             grep -iE '^(lib|qt|sqlite|zlib|jpeg|png|freetype|pcre)' || true)"
  if [ -n "$foreign" ]; then
    echo "build-windows: $p.exe needs DLLs that Windows does not have: $foreign" >&2
    exit 1
  fi
done
echo "build-windows: the Windows station is in $repo/$out" >&2
# And its installer, build-win/vexora-setup-<version>.exe.
bash scripts/build-windows-installer.sh
