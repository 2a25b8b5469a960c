#!/usr/bin/env bash
# Installs every Debian 12 package Vexora needs to build, run and test.
# Idempotent: packages already present are skipped by apt; safe to re-run.
set -euo pipefail

PKGS=(
  # build
  cmake ninja-build g++ pkg-config make clang-format
  libsqlite3-dev unixodbc-dev libjpeg62-turbo-dev zlib1g-dev
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6svg6
  libgl-dev
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  sqlite3 libsqliteodbc tdsodbc unixodbc python3
  xvfb xauth x11-utils x11-apps xdotool netpbm libx11-dev
  g++-mingw-w64-x86-64
  # Qt and SQLite for Windows, built from Debian's sources
  # (scripts/build-windows-deps.sh): unpacking them, and SQLite's own build;
  # the Debian package's library dependencies (dpkg-shlibdeps)
  dpkg-dev tcl
  # the Debian package's desktop entry checked; the Windows installer
  # (makensis)
  desktop-file-utils nsis
  # the print chain in tests: a private CUPS with the cups-pdf printer, and
  # the PDFs read back (text and barcodes)
  cups-daemon printer-driver-cups-pdf poppler-utils zbar-tools
  # the shift report's HTML page drawn by a real browser, headless
  chromium
  # the ZPL jobs rendered by an independent renderer (an npm package, below)
  nodejs
  # runtime: label printing on Linux (gLabels renders, CUPS prints)
  glabels cups-client
  # the Windows build's tests under Wine (Debian's wine64 keeps its binary in
  # /usr/lib/wine; the tests find it there)
  wine64
  # runtime: CJK captions, sounds for the demo station, JPEG plugin
  fonts-wqy-microhei qt6-image-formats-plugins libqt6multimedia6
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  espeak-ng sox xdg-utils
)

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Debian's nodejs comes without npm; a nodejs from elsewhere may bring its
# own, which Debian's npm package would conflict with.
command -v npm >/dev/null 2>&1 || missing+=(npm)

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all packages present"
else
  export DEBIAN_FRONTEND=noninteractive
  # Another installation may hold apt's lock for a while: wait for it.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# npm packages the tests use, as package-lock.json pins them; node_modules
# stays out of git. Installed again only when the lock file changed.
root="$(cd "$(dirname "$0")/.." && pwd)"
for dir in tests/zpl-render; do
  if ! cmp -s "$root/$dir/package-lock.json" "$root/$dir/node_modules/.package-lock.json.installed"; then
    (cd "$root/$dir" && npm ci --no-audit --no-fund --loglevel=error)
    cp "$root/$dir/package-lock.json" "$root/$dir/node_modules/.package-lock.json.installed"
  fi
done
