#!/usr/bin/env bash
# Fresh machine to a running demo station: installs what is needed, builds,
# sets up a demo station (its own folder, config.ini, SQLite database with
# sample labels, sounds) and starts it with the scanner simulator. Type a code
# and Enter in this terminal to scan it; tick "开启对比" in the window first.
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
cd "$repo"

bash scripts/install-deps.sh
bash scripts/build.sh --demo
folder="$(bash scripts/demo-station.sh "${VEXORA_DEMO_DIR:-$repo/demo-station}")"
link="$folder/scanner"
rm -f "$link"

# Labels printed from the demo go to a CUPS of its own, whose one printer
# writes PDFs; the machine's printing is left alone. Where it cannot start
# (not root, say), jobs go to the machine's default printer.
cupsdir="$folder/cups"
pdfs=""
if cupsenv="$(bash scripts/private-cups.sh start "$cupsdir" 2>/dev/null)"; then
  eval "$cupsenv"
  pdfs="$VEXORA_TEST_PDF_DIR"
fi

run=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display found: starting the station on a virtual X server (Xvfb)." >&2
  run=(xvfb-run -a -s "-screen 0 1280x1024x24")
fi

# The station opens the scanner at start-up, so it starts once the simulated
# device exists; the simulator then reads scans from this terminal. The
# station runs in a session of its own so that ending the demo ends all of
# it (xvfb-run's X server included).
setsid bash -c 'while [ ! -e "$1" ]; do sleep 0.1; done; cd "$2" && shift 2 && exec "$@" ./vexora' \
  _ "$link" "$folder" "${run[@]}" &
station=$!
trap 'kill -- -"$station" 2>/dev/null || true; bash scripts/private-cups.sh stop "$cupsdir" >/dev/null 2>&1 || true' EXIT

cat <<MSG

Vexora demo station in $folder
  1. In the window, tick "开启对比" (compare).
  2. Type a code here and press Enter to scan it, e.g. VX000001.
     Sample scans: $folder/try-these-scans.txt
     "!unplug" pulls the scanner, "!replug" plugs it back (then press "保存COM口").
  3. To print: tick "直接BT打印", type a range such as 1-5 into "打印开始数"
     and press Enter. ${pdfs:+The labels land as PDF files in $pdfs.}
     Failed print jobs are listed in $folder/error.log.
  Ctrl-D or Ctrl-C ends the simulator and the demo.

MSG
# Ending the simulator ends the demo: the trap closes the station too.
"$repo/build/bin/vexora-scanner-sim" --link "$link" --suffix cr
