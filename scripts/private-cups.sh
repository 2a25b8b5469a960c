#!/usr/bin/env bash
# A CUPS server of the tests' own, so print jobs go through a real CUPS
# without touching the machine's: everything it keeps lives in one folder, it
# listens only on a socket in that folder, and its one queue is Debian's
# cups-pdf virtual printer, which turns every job into a PDF file.
#
#   private-cups.sh start DIR   starts it and prints the environment to use
#                               (eval "$(private-cups.sh start DIR)")
#   private-cups.sh stop DIR    stops it and removes DIR
#
# The environment: CUPS_SERVER (the socket; lp and lpstat talk to this server
# only), CUPS_USER (a user name no account has, so cups-pdf writes the PDFs to
# its anonymous folder instead of a home folder), VEXORA_TEST_CUPS_QUEUE (the
# queue, also the server's default destination) and VEXORA_TEST_PDF_DIR
# (where the PDFs appear; tests remove the ones they made).
set -euo pipefail
cmd="${1:-}"
dir="${2:-}"
queue=VexoraPDF
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

if [ "$cmd" = stop ]; then
  if [ -f "$dir/cupsd.pid" ]; then
    pid="$(cat "$dir/cupsd.pid")"
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  fi
  rm -rf "$dir"
  exit 0
fi
[ "$cmd" = start ] || { echo "usage: $0 start|stop DIR" >&2; exit 2; }

for p in cupsd lpadmin lp; do
  command -v "$p" >/dev/null || { echo "private-cups: $p missing (scripts/install-deps.sh)" >&2; exit 1; }
done
ppd=/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd
[ -f "$ppd" ] || { echo "private-cups: printer-driver-cups-pdf missing" >&2; exit 1; }

mkdir -p "$dir"
dir="$(cd "$dir" && pwd)"
# Filters run as the lp user, who must be able to walk down to the folder.
p="$dir"
while [ "$p" != / ]; do
  p="$(dirname "$p")"
  [ "$(stat -c %A "$p" | cut -c10)" != "-" ] || {
    echo "private-cups: $p is closed to other users; pick a folder under /tmp" >&2; exit 1; }
done
# Filters run as the lp user: they must reach the folder and write temp files.
chmod 755 "$dir"
mkdir -p "$dir"/{conf,cache,state,spool,tmp,log}
chmod 1777 "$dir/tmp"
chmod 710 "$dir/spool"
cat > "$dir/conf/cupsd.conf" <<CONF
LogLevel warn
Listen $dir/cups.sock
Browsing Off
WebInterface No
DefaultAuthType None
<Location />
  Order allow,deny
  Allow all
</Location>
<Location /admin>
  Order allow,deny
  Allow all
</Location>
<Policy default>
  <Limit All>
    Order deny,allow
  </Limit>
</Policy>
CONF
cat > "$dir/conf/cups-files.conf" <<CONF
ServerRoot $dir/conf
CacheDir $dir/cache
StateDir $dir/state
RequestRoot $dir/spool
TempDir $dir/tmp
AccessLog $dir/log/access_log
ErrorLog $dir/log/error_log
PageLog $dir/log/page_log
ServerBin /usr/lib/cups
DataDir /usr/share/cups
CONF

cupsd -f -c "$dir/conf/cupsd.conf" -s "$dir/conf/cups-files.conf" >"$dir/log/cupsd.out" 2>&1 &
echo $! > "$dir/cupsd.pid"
export CUPS_SERVER="$dir/cups.sock"
for _ in $(seq 1 100); do
  lpstat -r >/dev/null 2>&1 && break
  sleep 0.1
done
lpstat -r >/dev/null 2>&1 || { echo "private-cups: cupsd did not start:" >&2; cat "$dir/log/"* >&2; exit 1; }

# Poppler's PDF-to-PostScript keeps the text of the labels in the PDF that
# cups-pdf writes (Ghostscript's would turn it into outlines).
# A cupsd that answers lpstat may still refuse lpadmin for a moment on a busy
# machine: try again for a while, and say why when it never takes it.
for attempt in $(seq 1 20); do
  if lpadmin -p "$queue" -v cups-pdf:/ -P "$ppd" -o pdftops-renderer-default=pdftops -E \
       2>"$dir/log/lpadmin.err" && lpadmin -d "$queue" 2>>"$dir/log/lpadmin.err"; then
    break
  fi
  if [ "$attempt" -eq 20 ]; then
    echo "private-cups: the queue $queue could not be set up:" >&2
    cat "$dir/log/"* >&2
    exit 1
  fi
  sleep 0.5
done

anon="$(sed -n 's/^[[:space:]]*AnonDirName[[:space:]]\+//p' /etc/cups/cups-pdf.conf 2>/dev/null | tail -n1)"
echo "export CUPS_SERVER='$dir/cups.sock'"
echo "export CUPS_USER='vexora-print-test'"
echo "export VEXORA_TEST_CUPS_QUEUE='$queue'"
echo "export VEXORA_TEST_PDF_DIR='${anon:-/var/spool/cups-pdf/ANONYMOUS}'"
