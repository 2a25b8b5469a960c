#!/usr/bin/env bash
# The Windows installer, built with Debian's makensis from the Windows station
# that scripts/build-windows.sh put in build-win/Vexora:
# build-win/vexora-setup-<version>.exe (see scripts/vexora-setup.nsi).
set -euo pipefail
cd "$(dirname "$0")/.."
repo="$PWD"

version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win/CMakeCache.txt)"
[ -n "$version" ] || { echo "build-windows-installer: no version in build-win/CMakeCache.txt" >&2; exit 1; }
out="$repo/build-win/vexora-setup-$version.exe"
makensis -V2 -DVERSION="$version" -DSOURCE="$repo/build-win/Vexora" \
  -DICON="$repo/build-win/app/icon/vexora.ico" -DOUTFILE="$out" scripts/vexora-setup.nsi
echo "build-windows-installer: $out" >&2
