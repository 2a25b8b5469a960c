#!/usr/bin/env bash
# Sets up a demo station in the folder given (default: demo-station/ in the
# repository): the station's executable with its help and sounds, its own
# config.ini naming an embedded SQLite database, the simulated scanner and
# the example label templates (the gLabels one chosen, printed through CUPS
# to the default destination), and a table of sample labels loaded through
# the station's own text import.
# VEXORA_DEMO_TEMPLATE picks another template beside the station (such as
# vexora-label.zpl) and VEXORA_DEMO_PRINTER sets [print] printer (such as
# tcp://127.0.0.1:9100).
# The build must exist (scripts/build.sh).
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
folder="${1:-$repo/demo-station}"
bin="$repo/build/bin"
labels="${VEXORA_DEMO_LABELS:-300}"
template="${VEXORA_DEMO_TEMPLATE:-vexora-label.glabels}"
printer="${VEXORA_DEMO_PRINTER:-}"

mkdir -p "$folder"
folder="$(cd "$folder" && pwd)"
# The station reads config.ini beside its executable, so the demo gets its
# own copy of the executable and never touches another installation's file.
cp -f "$bin/vexora" "$bin/vexora-journal" "$bin/help.txt" "$bin/vexora-label.glabels" "$bin/vexora-label.zpl" "$folder/"
cp -f "$bin"/[0-9].wav "$bin/chong_d.wav" "$folder/" 2>/dev/null || true

cat > "$folder/config.ini" <<INI
[Database]
servername=station.db
dataname=
username=sa
mm=
[com]
num=$folder/scanner
[STR]
strstart=1
strnum=8
[print]
lienum=1
lastnum=0
btfile=$folder/$template
printer=$printer
INI
chmod 600 "$folder/config.ini"

# Sample labels VX000001 … and a few scans to try: good ones, a duplicate,
# a skipped number, a wrong length and an unknown code.
: > "$folder/labels.txt"
for i in $(seq 1 "$labels"); do printf 'VX%06d\r\n' "$i" >> "$folder/labels.txt"; done
rm -f "$folder/station.db" "$folder/station.db-wal" "$folder/station.db-shm"
"$bin/vexora-import" "$folder" "$folder/labels.txt" 1 a15 >/dev/null
printf '%s\n' VX000001 VX000002 VX000003 VX000002 VX000006 VX12 XX000009 > "$folder/try-these-scans.txt"
echo "$folder"
