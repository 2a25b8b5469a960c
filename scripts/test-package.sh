#!/usr/bin/env bash
# The Debian package, built and installed as a user installs it: cpack makes
# build/package/vexora_<version>_amd64.deb from build/ (scripts/build.sh
# first), apt installs what it declares it depends on, dpkg -i installs it,
# and test_package starts the installed station from its desktop entry in a
# fresh station folder on the display in $DISPLAY and scans a label through
# the installed simulator. The package is removed again at the end, so the
# machine is left as it was. Needs root (or sudo) for apt and dpkg.
set -euo pipefail
cd "$(dirname "$0")/.."

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
if dpkg-query -W -f='${Status}' vexora 2>/dev/null | grep -q 'install ok installed'; then
  echo "test-package: a vexora package is installed already; not touching it" >&2
  exit 1
fi

start=$SECONDS
(cd build && cpack -G DEB >/dev/null)
deb="$(ls build/package/vexora_*_amd64.deb)"
echo "test-package: built $deb in $((SECONDS - start)) s"

removePackage() { $SUDO dpkg --purge vexora >/dev/null 2>&1 || true; }
trap removePackage EXIT

# apt and dpkg wait for each other's lock (another installation) up to ten
# minutes instead of failing.
$SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 satisfy -y -qq \
  --no-install-recommends "$(dpkg-deb -f "$deb" Depends)" >/dev/null
for _ in $(seq 1 60); do
  $SUDO dpkg -i "$deb" >/dev/null 2>"$deb.err" && break
  grep -q 'lock' "$deb.err" || { cat "$deb.err" >&2; exit 1; }
  sleep 10
done
rm -f "$deb.err"
dpkg-query -W -f='${Status}' vexora | grep -q 'install ok installed' 
echo "test-package: installed $(dpkg-query -W -f='${Package} ${Version}' vexora)"
desktop-file-validate /usr/share/applications/vexora.desktop
test "$(vexora --version)" = "vexora $(dpkg-query -W -f='${Version}' vexora)"

(cd build && VEXORA_INSTALLED=/usr ctest --output-on-failure -L package)
removePackage
trap - EXIT
test ! -e /usr/bin/vexora
echo "test-package: built, installed, scanned and removed in $((SECONDS - start)) s"
